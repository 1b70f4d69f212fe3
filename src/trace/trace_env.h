// The TARVO_TRACE environment variable: tracing for any host, including
// one that uses only the driver calls, without configuration files.
//
// Grammar: LEVEL or LEVEL:BASENAME.
//   LEVEL     one digit. 0 is the same as not setting the variable; 1 traces
//             every line, the verbose ones (frames, BREAK attempts, new
//             time-outs) included; 2 to 9 trace every line but those, as
//             the level of a configuration file does.
//   BASENAME  1 to 47 characters; the log is BASENAME + ".txt", relative to
//             the current directory unless it is a path. Default "TARVO".
// An empty value is the same as an unset one. Anything else (two digits, a
// letter, "1:" with no name, a name over 47 characters) is malformed and
// ignored as if unset: a typo never changes what a host does, and `tarvo
// trace status` names the fault.
#pragma once

#include <cstddef>

namespace tarvo {

constexpr const char* kTraceEnvName = "TARVO_TRACE";
constexpr size_t kTraceEnvMaxBase = 47;  // + ".txt" and the zero fit 52 bytes

enum class TraceEnvResult { Unset, On, Malformed };

struct TraceEnvSetting {
  int level = 0;
  char base[kTraceEnvMaxBase + 1] = {};
};

// Reads the variable's value (null when it is not set). On On, *out holds
// the level (1..9) and the base name; otherwise *out is left empty.
TraceEnvResult ParseTraceEnv(const char* value, TraceEnvSetting* out);

// Whether the log that TARVO_TRACE names may be written: it is empty, or
// begins with the log's header ("Arquivo de LOG "), or with a stamped trace
// line (a log that wrapped over its header). Any other file (notes, a
// configuration, someone's data) is left alone and tracing stays off, since
// the wrap would overwrite its start. `head` is the file's first bytes.
constexpr size_t kTraceEnvHeadBytes = 20;
bool TraceEnvLogAcceptable(const char* head, size_t length);

}  // namespace tarvo
