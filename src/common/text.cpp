#include "common/text.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace tarvo {

size_t BoundedLength(const char* s, size_t max) {
  const void* end = std::memchr(s, 0, max);
  return end ? static_cast<size_t>(static_cast<const char*>(end) - s) : max;
}

bool CopyBytes(char* dst, size_t cap, const char* src, size_t n) {
  if (cap == 0) return n == 0;
  const bool fits = n < cap;
  const size_t take = fits ? n : cap - 1;
  std::memmove(dst, src, take);
  dst[take] = '\0';
  return fits;
}

bool CopyText(char* dst, size_t cap, const char* src) {
  return CopyBytes(dst, cap, src, std::strlen(src));
}

bool AppendBytes(char* dst, size_t cap, const char* src, size_t n) {
  if (cap == 0) return n == 0;
  const size_t used = BoundedLength(dst, cap - 1);
  return CopyBytes(dst + used, cap - used, src, n);
}

bool AppendText(char* dst, size_t cap, const char* src) {
  return AppendBytes(dst, cap, src, std::strlen(src));
}

bool AppendChar(char* dst, size_t cap, char c) { return AppendBytes(dst, cap, &c, 1); }

bool FormatTextV(char* dst, size_t cap, size_t* length, const char* format, va_list args) {
  if (cap == 0) {
    if (length) *length = 0;
    return false;
  }
  const int n = std::vsnprintf(dst, cap, format, args);
  if (n < 0) {
    dst[0] = '\0';
    if (length) *length = 0;
    return false;
  }
  const bool fits = static_cast<size_t>(n) < cap;
  if (length) *length = fits ? static_cast<size_t>(n) : cap - 1;
  return fits;
}

bool FormatText(char* dst, size_t cap, size_t* length, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool fits = FormatTextV(dst, cap, length, format, args);
  va_end(args);
  return fits;
}

static bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int ReadDecimal(const char* text, size_t len) {
  size_t i = 0;
  while (i < len && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < len && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long long value = 0;
  for (; i < len && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value <= INT_MAX) value = value * 10 + (text[i] - '0');
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

int ReadDecimal(const char* text) { return ReadDecimal(text, std::strlen(text)); }

bool WriteDecimal(char* dst, size_t cap, int value) {
  return FormatText(dst, cap, nullptr, "%d", value);
}

const char* FindText(const char* text, size_t len, const char* needle) {
  const size_t n = std::strlen(needle);
  if (n == 0) return text;
  if (n > len) return nullptr;
  for (size_t i = 0; i + n <= len; ++i) {
    if (text[i] == needle[0] && std::memcmp(text + i, needle, n) == 0) return text + i;
  }
  return nullptr;
}

}  // namespace tarvo
