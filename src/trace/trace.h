// The trace: a configuration file that switches tracing on, and a log file
// bounded in size that wraps and overwrites its oldest lines in place. Both
// sit in the current directory and are opened only for the length of one
// call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trace/cfg_parse.h"

namespace tarvo {

// A trace file's name: a base name of at most kMaxTraceBaseName characters,
// ".cfg" or ".txt", and the zero.
constexpr size_t kMaxTraceBaseName = 47;
constexpr size_t kTraceFileNameSize = kMaxTraceBaseName + 4 + 1;  // 52

struct TraceState {
  int traceLevel = 0;                     // 0 off; 1..9 on
  int maxLogSize = kDefaultLogSize;       // bytes after which the log wraps
  char logPath[kTraceFileNameSize] = {};  // the log file
  int logWrapped = 0;                     // 1 once the log has wrapped
  int logPos = 0;                         // just after the last line written
  const char* logTag = nullptr;           // printed right after each call's name
  uint8_t nivelLog = 0;                   // verbose lines only when this is 1
};

extern TraceState traceState;

// A log handle is only ever compared with null.
using LogHandle = const void*;

// Reads base + ".cfg" (creating it with tracing off when missing) and
// returns the new level. A base name over kMaxTraceBaseName characters is
// refused:
// tracing is switched off and nothing is read or created.
int TraceConfigRead(const char* base);

// Makes path the log file, creating it with its header when missing. A path
// over kTraceFileNameSize - 1 characters is refused like a file that can't be created (null).
LogHandle TraceLogOpen(const char* path);

void TraceStop();

// One trace line: the time stamp, then the formatted text. Does nothing
// while tracing is off.
void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// When TARVO_TRACE switches tracing on (trace/trace_env.h), starts it: the
// level, nivelLog and the log BASENAME.txt, the configuration files left
// alone, logTag set to the version tag when nothing set it yet. Tracing
// already running into that log is left as it is (its wrap position kept).
// False when the variable is unset, 0 or malformed: the caller goes on as
// without it. Called at the start of IniciaDriver and FC_Inicializa.
bool TraceStartFromEnvironment();

// Whether verbose lines are wanted (tracing on and nivelLog 1).
bool TraceVerbose();

// logTag, or "" before anything pointed it somewhere.
const char* LogTag();
void TraceSetTag(const char* tag);

// nivelLog, and setting it to the low 8 bits of a level.
int TraceNivelLog();
void TraceSetNivelLog(int level);

// Every function here may be called from any thread: the trace state is
// read and changed under the trace's own lock, and each line is formatted
// and written whole under it, so lines of two threads never mix.

}  // namespace tarvo
