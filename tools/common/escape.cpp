#include "common/escape.h"

namespace tarvo::tools {

namespace {

void AppendHex(std::string* out, const char* prefix, unsigned char u, const char* digits) {
  *out += prefix;
  out->push_back(digits[u >> 4]);
  out->push_back(digits[u & 15]);
}

void AppendFrameByte(std::string* out, char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u < 0x7f) {
    out->push_back(c);
  } else if (c == '\n') {
    *out += "\\n";
  } else {
    AppendHex(out, "\\x", u, "0123456789ABCDEF");
  }
}

void AppendLineByte(std::string* out, char c, bool keepBackslash) {
  const auto u = static_cast<unsigned char>(c);
  switch (c) {
    case '\\': *out += keepBackslash ? "\\" : "\\\\"; break;
    case '\n': *out += "\\n"; break;
    case '\t': *out += "\\t"; break;
    case '\r': *out += "\\r"; break;
    default:
      if (u < 0x20 || u == 0x7f) {
        AppendHex(out, "\\x", u, "0123456789abcdef");
      } else {
        out->push_back(c);
      }
  }
}

void AppendTerminalByte(std::string* out, char c, bool raw) {
  const auto u = static_cast<unsigned char>(c);
  const bool control = (u < 0x20 && c != '\n' && c != '\t') || u == 0x7f;
  if (control || (raw && u >= 0x80 && u <= 0x9f)) {
    AppendHex(out, "\\x", u, "0123456789abcdef");
  } else {
    out->push_back(c);
  }
}

}  // namespace

std::string Escape(std::string_view text, EscapeStyle style) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (style == EscapeStyle::Frame) {
      AppendFrameByte(&out, c);
    } else if (style == EscapeStyle::Terminal || style == EscapeStyle::TerminalRaw) {
      AppendTerminalByte(&out, c, style == EscapeStyle::TerminalRaw);
    } else {
      AppendLineByte(&out, c, style == EscapeStyle::Message);
    }
  }
  return out;
}

}  // namespace tarvo::tools
