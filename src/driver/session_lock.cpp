#include "driver/session_lock.h"

#include <atomic>
#include <mutex>

#include "driver/driver_state.h"
#include "trace/trace.h"

namespace tarvo {

namespace {

// Relaxed: the benchmark sets it before any call runs.
std::atomic<bool> lockingOn{true};

bool LockingOn() { return lockingOn.load(std::memory_order_relaxed); }

}  // namespace

void SetSessionLockingForBenchmark(bool on) { lockingOn.store(on, std::memory_order_relaxed); }

SessionLock::SessionLock(Mode mode) : locking_(LockingOn()) {
  DriverState& d = driverState;
  if (!locking_) return;
  d.lock.lock();
  held_ = true;
  if (mode != kOnceIdle) return;
  std::unique_lock<std::mutex> lock(d.lock, std::adopt_lock);
  d.idle.wait(lock, [] { return driverState.cmdBusy == 0; });
  lock.release();
}

SessionLock::~SessionLock() {
  if (held_) driverState.lock.unlock();
}

bool SessionLock::BeginExchange() {
  DriverState& d = driverState;
  if (d.cmdBusy != 0) return false;
  d.cmdBusy = 1;
  return true;
}

void SessionLock::EndExchange() {
  DriverState& d = driverState;
  d.cmdBusy = 0;
  if (locking_) d.idle.notify_all();
  if (d.closePending != 0) {
    d.closePending = 0;
    d.port.Close();
    TraceStop();
  }
}

void SessionLock::Release() {
  if (!held_) return;
  driverState.lock.unlock();
  held_ = false;
}

void SessionLock::Retake() {
  if (!locking_) return;
  driverState.lock.lock();
  held_ = true;
}

}  // namespace tarvo
