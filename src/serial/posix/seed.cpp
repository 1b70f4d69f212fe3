// The session seed's source on POSIX: the nanosecond clock mixed with the
// process id, so that two sessions opened in the same second, by one
// process or by two, start from different frame ids.
#include <time.h>
#include <unistd.h>

#include <cstdint>

#include "serial/system.h"

namespace tarvo::sys {

uint64_t SessionSeedSource() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  uint64_t x = static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
  x ^= static_cast<uint64_t>(getpid()) << 40;
  // The finaliser of splitmix64: every input bit reaches the low bits that
  // the seed keeps.
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
  return x ^ (x >> 31);
}

}  // namespace tarvo::sys
