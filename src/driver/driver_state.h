// DriverState: the session object. It holds all of a printer's state: the
// exchange context (port, time-outs, buffers, results), the session handle,
// the frame ids, the staged parameters, the memory of the last command for a
// retransmission, the busy flag and the lock. The exports reach it through
// the one process-wide instance, driverState, which exists from load to
// unload; capacities include the terminating zero and come from tarvo.h.
#pragma once

#include "common/load_mutex.h"
#include "protocol/exchange.h"
#include "tarvo.h"

namespace tarvo {

struct DriverState : ExchangeContext {
  int fArq = -1;  // session handle: 1 while open, -1 otherwise
  // 1 while an exchange (ExecutaComando, a whole FC_Operacao or a whole
  // FC_Inicializa) runs; `running` is held by its thread for as long.
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

  // Guards every field above outside a running exchange, and cmdBusy and
  // closePending always (driver/session_lock.h says how they are taken).
  LoadMutex lock;
  LoadMutex running;
};

extern DriverState driverState;

}  // namespace tarvo
