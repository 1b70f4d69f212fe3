// Bounded text helpers: every copy into a fixed buffer in the library goes
// through these. Each one always leaves the destination zero-terminated
// inside its capacity and reports whether the whole source fit.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace tarvo {

// Length of s, looking at no more than max bytes.
size_t BoundedLength(const char* s, size_t max);

// dst[cap] = the n bytes at src. False (and dst cut at cap-1) when they do
// not fit.
bool CopyBytes(char* dst, size_t cap, const char* src, size_t n);
bool CopyText(char* dst, size_t cap, const char* src);
bool AppendBytes(char* dst, size_t cap, const char* src, size_t n);
bool AppendText(char* dst, size_t cap, const char* src);
bool AppendChar(char* dst, size_t cap, char c);

// printf into dst[cap]; *length (optional) receives the bytes stored before
// the terminator, which may include zero bytes written by "%c".
bool FormatText(char* dst, size_t cap, size_t* length, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
bool FormatTextV(char* dst, size_t cap, size_t* length, const char* format, va_list args)
    __attribute__((format(printf, 4, 0)));

template <size_t N>
bool CopyText(char (&dst)[N], const char* src) {
  return CopyText(dst, N, src);
}
template <size_t N>
bool AppendText(char (&dst)[N], const char* src) {
  return AppendText(dst, N, src);
}

// Reads a number the way every number in a frame or setting is read: skip
// white space, take one optional sign, then decimal digits up to the first
// non-digit; no digit gives 0. Reads at most len bytes and stops at a zero
// byte. Saturates at the int range instead of overflowing.
int ReadDecimal(const char* text, size_t len);
int ReadDecimal(const char* text);

// Writes value as decimal text (no leading zeros) into dst[cap].
bool WriteDecimal(char* dst, size_t cap, int value);

// First occurrence of needle in the first len bytes of text, or nullptr.
const char* FindText(const char* text, size_t len, const char* needle);

}  // namespace tarvo
