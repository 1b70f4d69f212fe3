// The facade's process-wide fields.
#pragma once

#include "driver/session_lock.h"
#include "tarvo.h"
#include "trace/trace.h"

namespace tarvo {

struct FcState {
  int fcHandle = -1;                               // the facade's session; -1 when none
  char fcName[100] = {};                           // one requested name
  char fcValue[4096] = {};                         // one value read by Retorno
  char logBaseName[kTraceFileNameSize] = "TARVO";  // per-printer trace name being built
  char cfgBaseName[kTraceFileNameSize] = "TARVO";  // trace configuration read at start-up
  int usbPortNo = 0;                               // COM number tried by the port scan
  LogHandle logHandle = nullptr;
};

extern FcState fcState;

// FC_Operacao with the room of outText given: a text that would need more
// than outCap bytes is refused with TARVO_TOO_LONG before anything beyond
// the items that fit is written.
int RunFcOperation(int numParam, FcCommand* cmd, int* outLen, char* outText, size_t outCap);
// The same inside an exchange that the caller has claimed (the start-up).
int RunFcOperationClaimed(SessionLock& lock, int numParam, FcCommand* cmd, int* outLen,
                          char* outText, size_t outCap);

}  // namespace tarvo
