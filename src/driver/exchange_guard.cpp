#include "driver/exchange_guard.h"

#include "driver/driver_state.h"
#include "trace/trace.h"

namespace tarvo {

bool ClaimExchange() { return driverState.cmdBusy.exchange(1) == 0; }

namespace {

// Whoever holds the flag when a close is pending carries it out; the loop
// covers a close requested between the release and the look at the
// request (both are sequentially consistent, so one side always sees the
// other).
void SettlePendingClose() {
  DriverState& d = driverState;
  while (d.closePending.load() != 0) {
    if (!ClaimExchange()) return;  // the holder settles it when it releases
    if (d.closePending.exchange(0) != 0) {
      d.port.Close();
      TraceStop();
    }
    d.cmdBusy.store(0);
  }
}

}  // namespace

void ReleaseExchange() {
  driverState.cmdBusy.store(0);
  SettlePendingClose();
}

void ClosePortWhenIdle() {
  driverState.closePending.store(1);
  SettlePendingClose();
}

}  // namespace tarvo
