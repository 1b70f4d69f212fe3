// Apart from temp_dir.cpp: this one needs the trace's internals, which the
// shared library does not export, and the end-to-end tests use the
// temporary directory with the shared library alone.
#include <cstdint>
#include <string>

#include "support/temp_dir.h"
#include "trace/trace.h"

namespace tarvo::test {

void StartTrace(int level) {
  WriteFile("test.cfg", "Trace=" + std::to_string(level) + "\n");
  traceState.logTag = "2900";
  traceState.nivelLog = static_cast<uint8_t>(TraceConfigRead("test"));
  TraceLogOpen("test.txt");
}

}  // namespace tarvo::test
