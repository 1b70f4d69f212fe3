#include "driver/value_lookup.h"

#include <cstring>

#include "common/text.h"

namespace tarvo {

namespace {

int Stored(char* out, size_t cap, const char* from, const char* to) {
  CopyBytes(out, cap, from, static_cast<size_t>(to - from));
  return static_cast<int>(BoundedLength(out, cap));
}

int ReadQuoted(const char* v, const char* end, char* out, size_t cap) {
  const char* start = v + 1;
  const char* close =
      static_cast<const char*>(std::memchr(start, '"', static_cast<size_t>(end - start)));
  return Stored(out, cap, start, close ? close : end);
}

bool EndMarkAt(const char* p, const char* end) { return p + 1 < end && p[0] == '"' && p[1] == ';'; }

int ReadPrintText(const char* v, const char* end, char* out, size_t cap) {
  const char* p = v + 1;
  size_t n = 0;
  out[0] = '\0';
  if (p < end && *p == '"') return 0;
  while (p < end) {
    if (*p == '\\') {
      while (p < end && *p == '\\') ++p;
      if (p == end) break;
    }
    if (n + 1 < cap) out[n++] = *p;
    ++p;
    if (EndMarkAt(p, end)) break;
  }
  out[n] = '\0';
  return static_cast<int>(n);
}

int ReadDateOrTime(const char* v, const char* end, char* out, size_t cap) {
  const size_t count = (v + 3 < end && v[3] == ':') ? 8 : 10;
  if (cap < count + 1) {
    out[0] = '\0';
    return 0;
  }
  std::memset(out, 0, count + 1);
  const size_t available = static_cast<size_t>(end - (v + 1));
  std::memcpy(out, v + 1, available < count ? available : count);
  return static_cast<int>(count);
}

}  // namespace

int LookupValue(const char* text, size_t length, const char* name, char* out, size_t cap) {
  if (cap == 0) return 0;
  out[0] = '\0';
  const size_t len = BoundedLength(text, length);
  const char* end = text + len;
  const char* at = FindText(text, len, name);
  if (at == nullptr) return 0;
  const char* equals =
      static_cast<const char*>(std::memchr(at, '=', static_cast<size_t>(end - at)));
  if (equals == nullptr) return 0;
  const char* v = equals + 1;
  if (v == end || *v == ' ') return 0;
  if (*v == '"') {
    return std::strcmp(name, "TextoImpressao") == 0 ? ReadPrintText(v, end, out, cap)
                                                    : ReadQuoted(v, end, out, cap);
  }
  if (*v == '#') return ReadDateOrTime(v, end, out, cap);
  const char* blank = static_cast<const char*>(std::memchr(v, ' ', static_cast<size_t>(end - v)));
  return Stored(out, cap, v, blank ? blank : end);
}

}  // namespace tarvo
