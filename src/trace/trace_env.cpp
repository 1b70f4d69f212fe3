#include "trace/trace_env.h"

#include <cstring>

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

bool TraceEnvLogAcceptable(const char* head, size_t length) {
  constexpr char kHeader[] = "Arquivo de LOG ";
  if (length == 0) return true;
  if (length >= sizeof kHeader - 1 && std::memcmp(head, kHeader, sizeof kHeader - 1) == 0) {
    return true;
  }
  // "dd/mm/yy HH:MM:SS - "
  constexpr char kStamp[] = "00/00/00 00:00:00 - ";
  if (length < sizeof kStamp - 1) return false;
  for (size_t i = 0; i < sizeof kStamp - 1; ++i) {
    const bool digit = head[i] >= '0' && head[i] <= '9';
    if (kStamp[i] == '0' ? !digit : head[i] != kStamp[i]) return false;
  }
  return true;
}

}  // namespace tarvo
