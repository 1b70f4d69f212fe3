#include "common/clock.h"

#include <chrono>

namespace tarvo::tools {

int64_t MonotonicUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace tarvo::tools
