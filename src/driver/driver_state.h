// DriverState: the one process-wide record of the session. It exists from
// load to unload; capacities include the terminating zero.
#pragma once

#include <atomic>

#include "serial/serial_port.h"

namespace tarvo {

struct DriverState {
  // Session handle: 1 while open, -1 otherwise. Atomic, because
  // EncerraDriver on one thread may end the session while another thread's
  // exchange runs and looks at it.
  std::atomic<int> fArq{-1};
  SerialPort port;         // the one serial port, closed at load
  char portName[40] = {};  // device name given to Open
  int lineRate = 0;        // the rate IniciaDriver chose; re-opens use it
  int Timeout = 0;         // ms allowed for each byte of an answer
  int savedTimeout = 0;    // Timeout before a BREAK recovery
  // 1 while an exchange (ExecutaComando, or a whole FC_Operacao) runs; taken
  // with one atomic exchange, so that two threads never both pass it.
  std::atomic<int> cmdBusy{0};
  // 1 when EncerraDriver ended the session during another thread's
  // exchange: the port is closed when that exchange ends.
  std::atomic<int> closePending{0};
  int cmdId = 0;             // id of the current frame
  int lastSeed = -1;         // the last session's seed; the next one differs
  int bRetrans = 0;          // 1 while the exchange repeats the last command
  int CodigoUltimoErro = 0;  // numeric error of the last exchange
  char paramText[512] = {};  // parameters staged for the next command
  char idText[5] = {};       // decimal text of the current frame id
  char lastIdText[5] = {};   // id text of the last new command
  char lastCommand[60] = {};
  char lastParams[512] = {};
  char bufTx[812] = {};  // the request frame
  int txLength = 0;
  char bufRx[4096] = {};  // the answer received so far, zero-terminated
  int rxCount = 0;
  char respCopy[4096] = {};  // the answer cut before its last ';'
  char errCodeText[10] = {};
  char respFields[4096] = {};  // named values of the last answer
  char nomeErro[101] = {};
  char circunstancia[203] = {};
  int ctsReady = 1;  // 1 while CTS has been seen since it was lost
};

extern DriverState driverState;

// The line settings every session runs with, whatever the registry says.
constexpr int kByteSize = 8;
constexpr int kParityEven = 2;
constexpr int kOneStopBit = 0;
constexpr int kFallbackRate = 115200;
constexpr int kDefaultTimeoutMs = 5000;
constexpr int kQueueSize = 8192;

}  // namespace tarvo
