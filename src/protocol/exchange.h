// The exchange context: what one exchange with the printer needs (the port,
// its device name and rate for a re-open, the time-outs, the buffers) and
// what it reports (the answer's code, texts and named values). The driver's
// session holds one; the engine works on nothing else.
#pragma once

#include <atomic>

#include "protocol/frame.h"
#include "serial/serial_port.h"
#include "tarvo.h"

namespace tarvo {

// The line settings every session runs with, whatever the registry says.
constexpr int kByteSize = 8;
constexpr int kParityEven = 2;
constexpr int kOneStopBit = 0;
constexpr int kFallbackRate = 115200;
constexpr int kDefaultTimeoutMs = 5000;
constexpr int kQueueSize = 8192;

// The request frame's room: a command of TARVO_MAX_COMMAND characters and
// parameters of TARVO_MAX_PARAMS give at most 581 characters.
constexpr size_t kRequestSize = 812;

struct ExchangeContext {
  SerialPort port;                              // the one serial port, closed at load
  char portName[TARVO_MAX_PORT_NAME + 1] = {};  // device name given to Open
  int lineRate = 0;                             // the session's rate; re-opens use it
  int Timeout = 0;                              // ms allowed for each byte of an answer
  int savedTimeout = 0;                         // Timeout before a BREAK recovery
  int ctsReady = 1;                             // 1 while CTS has been seen since it was lost
  int bRetrans = 0;                             // 1 while the exchange repeats the last command
  // Set when the session was ended from another thread while this exchange
  // ran: nobody waits for its answer, and the port is not to be re-opened.
  std::atomic<int> abandoned{0};

  char bufTx[kRequestSize] = {};  // the request frame
  int txLength = 0;
  char bufRx[kMaxAnswerLength + 1] = {};  // the answer received so far, zero-terminated
  int rxCount = 0;
  char respCopy[kMaxAnswerLength + 1] = {};  // the answer cut before its last ';'

  // What the last exchange reports.
  int CodigoUltimoErro = 0;  // numeric error of the last exchange
  char errCodeText[10] = {};
  char respFields[TARVO_VALUE_SIZE] = {};  // named values of the last answer
  char nomeErro[TARVO_ERROR_NAME_SIZE] = {};
  char circunstancia[TARVO_CIRCUMSTANCE_SIZE] = {};
};

// How one exchange ended.
struct ExchangeOutcome {
  enum Failure { None, NoCts, Transmit, Receive, Section };
  int result;       // 1 an answer was accepted (whatever its code), -1 failed
  Failure failure;  // None when an answer was accepted
  int code;         // CodigoUltimoErro as the exchange left it
};

}  // namespace tarvo
