#include "emulator/protocol.h"

#include <cstdio>

namespace tarvo::emu {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Position of the ';' that opens a trailing ";digits" in text, or npos.
size_t TrailingLengthField(std::string_view text) {
  size_t i = text.size();
  while (i > 0 && IsDigit(text[i - 1])) --i;
  if (i == text.size() || i == 0 || text[i - 1] != ';') return std::string_view::npos;
  return i - 1;
}

// Whether the bytes after the second ';' leave a double quote open.
bool QuoteOpen(std::string_view body) {
  size_t separators = 0;
  size_t start = std::string_view::npos;
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] == ';' && ++separators == 2) {
      start = i + 1;
      break;
    }
  }
  if (start == std::string_view::npos) return false;
  size_t quotes = 0;
  for (size_t i = start; i < body.size(); ++i) quotes += body[i] == '"';
  return quotes % 2 == 1;
}

}  // namespace

std::optional<std::string> Framer::Push(char byte) {
  if (buffer_.empty()) {
    if (byte == '{') buffer_.push_back(byte);
    return std::nullopt;
  }
  buffer_.push_back(byte);
  if (byte == '}') {
    const std::string_view body(buffer_.data(), buffer_.size() - 1);
    const size_t semi = TrailingLengthField(body);
    if (semi != std::string_view::npos) {
      const std::string_view digits = body.substr(semi + 1);
      const bool lengthMatches = digits.size() < 7 && std::to_string(semi) == std::string(digits);
      if (!lengthMatches && digits.size() < 7) {
        // Noise that held a '{' just before the request: a later '{' from
        // which the length fits is the real start.
        for (size_t start = buffer_.find('{', 1); start < semi;
             start = buffer_.find('{', start + 1)) {
          if (std::to_string(semi - start) == std::string(digits)) {
            std::string frame = buffer_.substr(start);
            buffer_.clear();
            return frame;
          }
        }
      }
      // A mismatch inside an open quote is a '}' that belongs to a value.
      if (lengthMatches || !QuoteOpen(body.substr(0, semi))) {
        std::string frame;
        frame.swap(buffer_);
        return frame;
      }
    }
  }
  if (buffer_.size() > kMaxRequestFrame) buffer_.clear();
  return std::nullopt;
}

size_t LengthBeforeLastSemicolon(std::string_view text) {
  const size_t semi = text.rfind(';');
  return semi == std::string_view::npos ? 0 : semi;
}

RequestCheck ParseRequest(std::string_view frame, Request* out) {
  *out = Request{};
  if (frame.size() < 2 || frame.front() != '{' || frame.back() != '}') {
    return RequestCheck::Malformed;
  }
  const std::string_view body = frame.substr(0, frame.size() - 1);
  const size_t last = body.rfind(';');
  if (last == std::string_view::npos || last == 0) return RequestCheck::Malformed;
  const size_t firstSemi = body.find(';');
  out->id = std::string(body.substr(1, firstSemi - 1));
  const size_t second = body.find(';', firstSemi + 1);
  // Three separators are needed: id, command, params.
  if (firstSemi >= last || second >= last) return RequestCheck::Malformed;
  const std::string_view digits = body.substr(last + 1);
  bool numeric = !digits.empty() && digits.size() < 7;
  for (char c : digits) numeric = numeric && IsDigit(c);
  if (!numeric || std::to_string(last) != std::string(digits)) return RequestCheck::BadLength;
  out->command = std::string(body.substr(firstSemi + 1, second - firstSemi - 1));
  out->params = std::string(body.substr(second + 1, last - second - 1));
  return RequestCheck::Ok;
}

bool ParseParams(std::string_view text, std::vector<Param>* out) {
  out->clear();
  size_t i = 0;
  while (i < text.size()) {
    const size_t eq = text.find('=', i);
    if (eq == std::string_view::npos || eq == i) return false;
    Param p;
    p.name = std::string(text.substr(i, eq - i));
    if (p.name.find(' ') != std::string::npos) return false;
    size_t v = eq + 1;
    if (v < text.size() && (text[v] == '"' || text[v] == '#')) {
      const char mark = text[v];
      const size_t close = text.find(mark, v + 1);
      if (close == std::string_view::npos) return false;
      p.form = mark;
      p.value = std::string(text.substr(v + 1, close - v - 1));
      i = close + 1;
    } else {
      size_t end = text.find(' ', v);
      if (end == std::string_view::npos) end = text.size();
      p.form = 0;
      p.value = std::string(text.substr(v, end - v));
      i = end;
    }
    out->push_back(std::move(p));
    if (i == text.size()) break;
    // Items are separated by exactly one blank, with nothing after the last.
    if (text[i] != ' ' || i + 1 == text.size()) return false;
    ++i;
  }
  return true;
}

std::string BuildAnswer(std::string_view id, std::string_view code, std::string_view values) {
  std::string frame = "{";
  frame.append(id).append(";").append(code).append(";").append(values);
  const size_t length = frame.size();
  frame.append(";").append(std::to_string(length)).append("}");
  return frame;
}

std::string QuotedValue(std::string_view name, std::string_view text) {
  std::string item(name);
  item.append("=\"").append(text).append("\"");
  return item;
}

std::string PlainValue(std::string_view name, long long n) {
  return std::string(name) + "=" + std::to_string(n);
}

std::string DateValue(std::string_view name, int day, int month, int year) {
  char text[32];
  std::snprintf(text, sizeof text, "=#%02d/%02d/%04d#", day, month, year);
  return std::string(name) + text;
}

std::string TimeValue(std::string_view name, int hour, int minute, int second) {
  char text[32];
  std::snprintf(text, sizeof text, "=#%02d:%02d:%02d#", hour, minute, second);
  return std::string(name) + text;
}

std::string SafeQuotedText(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '"') c = '\'';
    if (c == '}') c = ')';
  }
  return out;
}

std::string EncodePrintText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    if (c == '\\') {
      out.push_back('/');
      continue;
    }
    if (c == '"' || c == ';') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::string DecodePrintText(std::string_view encoded) {
  std::string out;
  size_t i = 0;
  while (i < encoded.size()) {
    if (encoded[i] == '\\') {
      while (i < encoded.size() && encoded[i] == '\\') ++i;
      if (i == encoded.size()) break;
    }
    out.push_back(encoded[i++]);
  }
  return out;
}

}  // namespace tarvo::emu
