// DriverState: the session object. It holds all of a printer's state: the
// exchange context (port, time-outs, buffers, results), the session handle,
// the frame ids, the staged parameters, the memory of the last command for a
// retransmission, the facade's fields, the busy flag and the lock. The exports reach it through
// the one process-wide instance, driverState, which exists from load to
// unload; capacities include the terminating zero and come from tarvo.h.
#pragma once

#include "common/load_mutex.h"
#include "protocol/exchange.h"
#include "tarvo.h"
#include "trace/trace.h"

namespace tarvo {

// The facade's fields (FC_Inicializa, FC_Operacao, FC_Finaliza).
struct FcState {
  int fcHandle = -1;                               // the facade's session; -1 when none
  char fcName[100] = {};                           // one requested name
  char fcValue[TARVO_VALUE_SIZE] = {};             // one value read by Retorno
  char logBaseName[kTraceFileNameSize] = "TARVO";  // per-printer trace name being built
  char cfgBaseName[kTraceFileNameSize] = "TARVO";  // trace configuration read at start-up
  int usbPortNo = 0;                               // COM number tried by the port scan
  LogHandle logHandle = nullptr;
};

struct DriverState : ExchangeContext {
  int fArq = -1;  // session handle: 1 while open, -1 otherwise
  // 1 while an exchange (ExecutaComando, a whole FC_Operacao or a whole
  // FC_Inicializa) runs; `idle` is notified when it ends.
  int cmdBusy = 0;
  // 1 when EncerraDriver ended the session during another thread's
  // exchange: the port is closed when that exchange ends.
  int closePending = 0;
  int cmdId = 0;      // id of the current frame
  int lastSeed = -1;  // the last session's seed; the next one differs

  char paramText[TARVO_MAX_PARAMS + 1] = {};  // parameters staged for the next command
  char idText[5] = {};                        // decimal text of the current frame id
  char lastIdText[5] = {};                    // id text of the last new command
  char lastCommand[TARVO_MAX_COMMAND + 1] = {};
  char lastParams[TARVO_MAX_PARAMS + 1] = {};
  FcState facade;

  // Guards every field above outside a running exchange, and cmdBusy and
  // closePending always (driver/session_lock.h says how they are taken).
  LoadMutex lock;
  LoadConditionVariable idle;
};

extern DriverState driverState;

}  // namespace tarvo
