#include "trace/trace_env.h"

#include "common/text.h"

namespace tarvo {

TraceEnvResult ParseTraceEnv(const char* value, TraceEnvSetting* out) {
  *out = TraceEnvSetting{};
  if (value == nullptr || value[0] == '\0') return TraceEnvResult::Unset;
  if (value[0] < '0' || value[0] > '9') return TraceEnvResult::Malformed;
  const char* base = "TARVO";
  if (value[1] == ':') {
    base = value + 2;
    const size_t length = BoundedLength(base, kTraceEnvMaxBase + 1);
    if (length == 0 || length > kTraceEnvMaxBase) return TraceEnvResult::Malformed;
  } else if (value[1] != '\0') {
    return TraceEnvResult::Malformed;
  }
  if (value[0] == '0') return TraceEnvResult::Unset;
  out->level = value[0] - '0';
  CopyText(out->base, base);
  return TraceEnvResult::On;
}

}  // namespace tarvo
