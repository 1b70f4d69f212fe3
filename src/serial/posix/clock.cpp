// Time for the POSIX layer: the monotonic clock its waits are measured on,
// sleeping, the calendar; and the window-message pump of a Win32 wait,
// which has nothing to pump here.
#include <errno.h>
#include <time.h>

#include <cstdint>

#include "serial/posix/posix_util.h"
#include "serial/system.h"

namespace tarvo::sys {

namespace posix {

int64_t MonotonicMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int64_t MonotonicUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

uint32_t CodeOfErrno(int number) {
  const auto code = static_cast<uint32_t>(number);
  switch (code) {
    case kErrorInvalidFunction:
    case kErrorInvalidHandle:
    case kErrorAlreadyInitialized:
    case kErrorTimeout: return kPlatformCodeBase + code;
    default: return code;
  }
}

uint32_t LastErrno() { return errno == 0 ? EIO : CodeOfErrno(errno); }

}  // namespace posix

void SleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

int64_t CalendarSeconds() { return static_cast<int64_t>(time(nullptr)); }

bool DispatchOneMessage(intptr_t* result) {
  *result = 0;
  return false;
}

}  // namespace tarvo::sys
