// The one clock of the tools: monotonic time, for pacing, time-outs and
// measured waits; never the calendar.
#pragma once

#include <cstdint>

namespace tarvo::tools {

int64_t MonotonicUs();
inline int64_t MonotonicMs() { return MonotonicUs() / 1000; }

}  // namespace tarvo::tools
