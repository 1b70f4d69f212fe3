// The facade's fields and its operation for the start-up.
#pragma once

#include "driver/driver_state.h"
#include "driver/session_lock.h"
#include "tarvo.h"

namespace tarvo {

// The facade's fields are part of the session (driver/driver_state.h);
// this is the name the facade knows them by.
extern FcState& fcState;

// FC_Operacao with the room of outText given: a text that would need more
// than outCap bytes is refused with TARVO_TOO_LONG before anything beyond
// the items that fit is written.
int RunFcOperation(int numParam, FcCommand* cmd, int* outLen, char* outText, size_t outCap);
// The same inside an exchange that the caller has claimed (the start-up).
int RunFcOperationClaimed(SessionLock& lock, int numParam, FcCommand* cmd, int* outLen,
                          char* outText, size_t outCap);

}  // namespace tarvo
