#include "cli/driver_open.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/safe_file.h"
#include "common/text.h"
#include "platform/host.h"
#include "tarvo.h"
#include "trace/trace_env.h"
#include "trace/trace_lines.h"

namespace tarvo::cli {

namespace {

constexpr size_t kStamp = 20;  // "dd/mm/yy HH:MM:SS - "

// The open's outcome as the driver's trace tells it.
void ReadTrace(const std::string& log, OpenAttempt* a) {
  std::string text;
  std::string error;
  if (!tools::ReadRegularFile(log, &text, &error)) return;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + at, end - at);
    if (line.size() > kStamp) {
      const TraceLineMatch m = MatchTraceLine(line.substr(kStamp));
      if (m.line == TraceLine::IniciaCanal) a->refused = true;
      if (m.line == TraceLine::IniciaOpenFailed) {
        a->code = ReadDecimal(m.fields[0].data(), m.fields[0].size());
      }
    }
    at = end + 1;
  }
}

}  // namespace

OpenAttempt OpenThroughDriver(const std::string& port) {
  OpenAttempt a;
  // TARVO_TRACE takes a base name of 47 characters: without a short enough
  // directory the open is not traced, and its code is not known.
  const std::string dir = platform::MakeTemporaryDirectory("tarvo-open.");
  const bool traced = !dir.empty() && dir.size() + 5 <= kTraceEnvMaxBase;
  const char* before = std::getenv(kTraceEnvName);
  const std::string saved = before != nullptr ? before : "";
  const std::string base = dir + "/open";
  if (traced) platform::SetEnvironment(kTraceEnvName, "1:" + base);
  const int handle = IniciaDriver(port.c_str());
  a.opened = handle == TARVO_OK_HANDLE;
  if (a.opened) EncerraDriver(handle);
  if (before != nullptr) {
    platform::SetEnvironment(kTraceEnvName, saved);
  } else {
    platform::UnsetEnvironment(kTraceEnvName);
  }
  std::error_code ignored;
  if (!traced) {
    if (!dir.empty()) std::filesystem::remove(platform::FilePath(dir), ignored);
    return a;
  }
  ReadTrace(base + ".txt", &a);
  tools::RemoveRegularFile(base + ".txt");
  std::filesystem::remove(platform::FilePath(dir), ignored);
  return a;
}

}  // namespace tarvo::cli
