#include "trace/trace.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "common/load_mutex.h"
#include "common/text.h"
#include "serial/system.h"
#include "tarvo_version.h"
#include "trace/trace_env.h"

namespace tarvo {

TraceState traceState;

namespace {

// Held while the trace state is read or changed, and while one line is
// formatted into lineBuffer and written.
LoadMutex traceLock;
using TraceGuard = std::lock_guard<std::mutex>;

// A trace line: the time stamp and the longest formatted text (a whole
// received frame) fit with room to spare; longer text is cut.
char lineBuffer[8192];

// The log handle returned to the facade; only its non-null value matters.
const char logHandleToken = 0;
LogHandle lastLogHandle = nullptr;

}  // namespace

const char* LogTag() {
  TraceGuard guard(traceLock);
  return traceState.logTag != nullptr ? traceState.logTag : "";
}

void TraceSetTag(const char* tag) {
  TraceGuard guard(traceLock);
  traceState.logTag = tag;
}

int TraceNivelLog() {
  TraceGuard guard(traceLock);
  return traceState.nivelLog;
}

void TraceSetNivelLog(int level) {
  TraceGuard guard(traceLock);
  traceState.nivelLog = static_cast<uint8_t>(level);
}

bool TraceVerbose() {
  TraceGuard guard(traceLock);
  return traceState.traceLevel != 0 && traceState.nivelLog == 1;
}

int TraceConfigRead(const char* base) {
  TraceGuard guard(traceLock);
  traceState.maxLogSize = kDefaultLogSize;
  char name[kTraceFileNameSize];
  if (std::strlen(base) > kMaxTraceBaseName) {
    traceState.traceLevel = 0;
    return 0;
  }
  FormatText(name, sizeof name, nullptr, "%s.cfg", base);

  sys::Handle file = sys::FileOpen(name, sys::FileMode::Read);
  if (file == nullptr) {
    traceState.traceLevel = 0;
    file = sys::FileOpen(name, sys::FileMode::Create);
    if (file == nullptr) return 0;
    char config[32];
    size_t length = 0;
    FormatText(config, sizeof config, &length, "Trace=0\nTamanho=%d", kDefaultLogSize);
    sys::FileWrite(file, config, static_cast<uint32_t>(length));
    sys::FileClose(file);
    return 0;
  }

  char text[kTraceConfigBytes] = {};
  const uint32_t got = sys::FileRead(file, text, kTraceConfigBytes);
  sys::FileClose(file);
  const TraceConfigText config = ParseTraceConfig(text, got);
  traceState.traceLevel = config.level;
  traceState.maxLogSize = config.size;
  return traceState.traceLevel;
}

namespace {

LogHandle LogOpenLocked(const char* path) {
  if (traceState.traceLevel == 0) return lastLogHandle;
  if (!CopyText(traceState.logPath, path)) {
    traceState.logPath[0] = '\0';
    return lastLogHandle = nullptr;
  }
  sys::Handle file = sys::FileOpen(traceState.logPath, sys::FileMode::Update);
  if (file == nullptr) {
    file = sys::FileOpen(traceState.logPath, sys::FileMode::Create);
    if (file == nullptr) return lastLogHandle = nullptr;
    size_t length = 0;
    FormatText(lineBuffer, sizeof lineBuffer, &length, "Arquivo de LOG %s:\n\n",
               traceState.logPath);
    sys::FileWrite(file, lineBuffer, static_cast<uint32_t>(length));
  }
  sys::FileSeekEnd(file);
  traceState.logPos = static_cast<int>(sys::FileTell(file));
  sys::FileClose(file);
  return lastLogHandle = &logHandleToken;
}

}  // namespace

LogHandle TraceLogOpen(const char* path) {
  TraceGuard guard(traceLock);
  return LogOpenLocked(path);
}

bool TraceStartFromEnvironment() {
  TraceEnvSetting setting;
  if (ParseTraceEnv(std::getenv(kTraceEnvName), &setting) != TraceEnvResult::On) return false;
  char path[sizeof traceState.logPath];
  FormatText(path, sizeof path, nullptr, "%s.txt", setting.base);
  TraceGuard guard(traceLock);
  if (traceState.logTag == nullptr) traceState.logTag = TARVO_VERSION_TAG;
  if (traceState.traceLevel == setting.level && std::strcmp(traceState.logPath, path) == 0) {
    traceState.nivelLog = static_cast<uint8_t>(setting.level);
    return true;
  }
  if (sys::Handle existing = sys::FileOpen(path, sys::FileMode::Read)) {
    char head[kTraceEnvHeadBytes];
    const uint32_t got = sys::FileRead(existing, head, sizeof head);
    sys::FileClose(existing);
    if (!TraceEnvLogAcceptable(head, got)) return false;
  }
  traceState.nivelLog = static_cast<uint8_t>(setting.level);
  traceState.traceLevel = setting.level;
  traceState.maxLogSize = kDefaultLogSize;
  LogOpenLocked(path);
  return true;
}

void TraceStop() {
  TraceGuard guard(traceLock);
  if (traceState.maxLogSize != 0 && traceState.traceLevel != 0) traceState.traceLevel = 0;
}

void LogLine(const char* format, ...) {
  TraceGuard guard(traceLock);
  if (traceState.traceLevel == 0 || traceState.logPath[0] == '\0') return;
  sys::Handle file = sys::FileOpen(traceState.logPath, sys::FileMode::Update);
  if (file == nullptr) {
    file = sys::FileOpen(traceState.logPath, sys::FileMode::Create);
    traceState.logWrapped = 0;
    traceState.logPos = 0;
    if (file == nullptr) return;
  }
  if (traceState.maxLogSize == 0) {
    sys::FileClose(file);
    return;
  }
  int64_t position =
      traceState.logWrapped == 0 ? sys::FileSeekEnd(file) : sys::FileSeek(file, traceState.logPos);
  if (traceState.logPos > traceState.maxLogSize) {
    traceState.logWrapped = 1;
    position = sys::FileSeek(file, 0);
  }
  sys::LocalTime now;
  sys::CurrentLocalTime(&now);
  size_t stamp = 0;
  FormatText(lineBuffer, sizeof lineBuffer, &stamp, "%02d/%02d/%02d %02d:%02d:%02d - ", now.day,
             now.month, now.year % 100, now.hour, now.minute, now.second);
  size_t length = 0;
  va_list args;
  va_start(args, format);
  FormatTextV(lineBuffer + stamp, sizeof lineBuffer - stamp, &length, format, args);
  va_end(args);
  // The position after the line follows from where it went and what was
  // stored, which saves asking the file for it on every line.
  const int64_t stored = sys::FileWrite(file, lineBuffer, static_cast<uint32_t>(stamp + length));
  const int64_t after = position >= 0 && stored >= 0 ? position + stored : sys::FileTell(file);
  traceState.logPos = static_cast<int>(after);
  sys::FileClose(file);
}

}  // namespace tarvo
