// What a trace configuration file's text means: the one reading that the
// library's start-up and the tools share.
//
// Only the first 50 bytes count. The sixth byte must be '=' (as in
// "Trace="), else tracing is off. The level is the first decimal digit at
// offset 6 or later, one digit only; the size is the number after the first
// "Tamanho=" found from that digit on (from offset 6 when there is none),
// read as every number in a frame is read; a size that reads as 0 leaves
// the default.
#pragma once

#include <cstddef>

namespace tarvo {

constexpr size_t kTraceConfigBytes = 50;
constexpr int kDefaultLogSize = 5000000;

struct TraceConfigText {
  int level = 0;               // 0 off, else 1 to 9
  int size = kDefaultLogSize;  // where the log wraps
  bool sixthIsEquals = false;  // false: off, whatever follows
  bool levelFromSize = false;  // no digit after "Trace=": the level is the size's first digit
};

TraceConfigText ParseTraceConfig(const char* text, size_t length);

}  // namespace tarvo
