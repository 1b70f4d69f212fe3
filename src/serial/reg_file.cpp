#include "serial/reg_file.h"

#include <cstring>

namespace tarvo::regfile {

namespace {

struct Line {
  const char* text;
  size_t len;
};

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(const char* a, size_t alen, const char* b) {
  const size_t blen = std::strlen(b);
  if (alen != blen) return false;
  for (size_t i = 0; i < alen; ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool Equals(const Line& line, const char* literal) {
  const size_t n = std::strlen(literal);
  return line.len == n && std::memcmp(line.text, literal, n) == 0;
}

// Walks the text line by line, without the line ends.
class LineReader {
 public:
  LineReader(const char* text, size_t len) : text_(text), len_(len) {
    if (len_ >= 3 && std::memcmp(text_, "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
  }
  bool Next(Line* line) {
    if (pos_ >= len_) return false;
    const size_t start = pos_;
    while (pos_ < len_ && text_[pos_] != '\n') ++pos_;
    size_t end = pos_;
    if (pos_ < len_) ++pos_;  // the LF
    if (end > start && text_[end - 1] == '\r') --end;
    line->text = text_ + start;
    line->len = end - start;
    return true;
  }

 private:
  const char* text_;
  size_t len_;
  size_t pos_ = 0;
};

bool IsBlank(const Line& line) {
  for (size_t i = 0; i < line.len; ++i) {
    if (line.text[i] != ' ' && line.text[i] != '\t') return false;
  }
  return true;
}

// A quoted string starting at text[*pos] (the opening quote). Decodes into
// out (when given) and stops past the closing quote.
bool ParseQuoted(const char* text, size_t len, size_t* pos, char* out, size_t cap, size_t* outLen) {
  size_t i = *pos;
  if (i >= len || text[i] != '"') return false;
  ++i;
  size_t n = 0;
  while (i < len && text[i] != '"') {
    char c = text[i];
    if (c == '\\') {
      if (i + 1 >= len || (text[i + 1] != '\\' && text[i + 1] != '"')) return false;
      c = text[++i];
    }
    if (out != nullptr && n < cap) out[n] = c;
    ++n;
    ++i;
  }
  if (i >= len) return false;
  *pos = i + 1;
  *outLen = n;
  return true;
}

enum class Kind { Bad, Section, Value };

struct Parsed {
  Kind kind = Kind::Bad;
  const char* name = nullptr;  // section path or raw value name (quoted)
  size_t nameLen = 0;
  bool isDefault = false;
  size_t dataStart = 0;  // offset in the line of the data after '='
};

bool IsOtherType(const char* data, size_t len) {
  static const char* const kPrefixes[] = {"dword:", "hex:", "hex(", "-"};
  for (const char* prefix : kPrefixes) {
    const size_t n = std::strlen(prefix);
    if (len >= n && std::memcmp(data, prefix, n) == 0) return true;
  }
  return false;
}

bool ValidData(const Line& line, size_t start) {
  const char* data = line.text + start;
  const size_t len = line.len - start;
  if (len > 0 && data[0] == '"') {
    size_t pos = 0;
    size_t n = 0;
    if (!ParseQuoted(data, len, &pos, nullptr, 0, &n)) return false;
    return pos == len;
  }
  return IsOtherType(data, len);
}

Parsed ParseLine(const Line& line) {
  Parsed p;
  if (line.len >= 2 && line.text[0] == '[') {
    if (line.text[line.len - 1] != ']') return p;
    p.kind = Kind::Section;
    p.name = line.text + 1;
    p.nameLen = line.len - 2;
    return p;
  }
  size_t pos = 0;
  if (line.len > 0 && line.text[0] == '@') {
    p.isDefault = true;
    pos = 1;
  } else {
    size_t n = 0;
    if (!ParseQuoted(line.text, line.len, &pos, nullptr, 0, &n)) return p;
    p.name = line.text + 1;
    p.nameLen = pos - 2;
  }
  if (pos >= line.len || line.text[pos] != '=') return p;
  p.dataStart = pos + 1;
  if (!ValidData(line, p.dataStart)) return p;
  p.kind = Kind::Value;
  return p;
}

bool ValueNameMatches(const Parsed& p, const char* wanted) {
  if (p.isDefault) return wanted[0] == '\0';
  char decoded[256];
  size_t pos = 0;
  size_t n = 0;
  const char* quoted = p.name - 1;
  if (!ParseQuoted(quoted, p.nameLen + 2, &pos, decoded, sizeof decoded, &n)) return false;
  if (n > sizeof decoded) return false;
  return EqualsNoCase(decoded, n, wanted);
}

}  // namespace

size_t FirstBadLine(const char* text, size_t len) {
  LineReader reader(text, len);
  Line line;
  bool header = false;
  size_t number = 0;
  while (reader.Next(&line)) {
    ++number;
    if (!header) {
      if (IsBlank(line)) continue;
      if (!Equals(line, "Windows Registry Editor Version 5.00") && !Equals(line, "REGEDIT4")) {
        return number;
      }
      header = true;
      continue;
    }
    if (IsBlank(line) || line.text[0] == ';') continue;
    if (ParseLine(line).kind == Kind::Bad) return number;
  }
  return header ? 0 : (number == 0 ? 1 : number);
}

Result Validate(const char* text, size_t len) {
  return FirstBadLine(text, len) == 0 ? Result::Ok : Result::Malformed;
}

Result FindSection(const char* text, size_t len, const char* section) {
  if (Validate(text, len) != Result::Ok) return Result::Malformed;
  LineReader reader(text, len);
  Line line;
  while (reader.Next(&line)) {
    if (IsBlank(line) || line.text[0] == ';') continue;
    const Parsed p = ParseLine(line);
    if (p.kind == Kind::Section && EqualsNoCase(p.name, p.nameLen, section)) return Result::Ok;
  }
  return Result::NoSection;
}

Result ReadString(const char* text, size_t len, const char* section, const char* valueName,
                  char* out, uint32_t cap, uint32_t* size) {
  if (Validate(text, len) != Result::Ok) return Result::Malformed;
  LineReader reader(text, len);
  Line line;
  bool inSection = false;
  bool sectionSeen = false;
  while (reader.Next(&line)) {
    if (IsBlank(line) || line.text[0] == ';') continue;
    const Parsed p = ParseLine(line);
    if (p.kind == Kind::Section) {
      inSection = EqualsNoCase(p.name, p.nameLen, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection || p.kind != Kind::Value || !ValueNameMatches(p, valueName)) continue;
    const char* data = line.text + p.dataStart;
    const size_t dataLen = line.len - p.dataStart;
    if (data[0] != '"') return Result::NotText;
    size_t pos = 0;
    size_t n = 0;
    ParseQuoted(data, dataLen, &pos, out, cap, &n);
    const uint64_t needed = static_cast<uint64_t>(n) + 1;
    if (needed > cap) {
      *size = needed > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(needed);
      return Result::TooLarge;
    }
    out[n] = '\0';
    *size = static_cast<uint32_t>(needed);
    return Result::Ok;
  }
  return sectionSeen ? Result::NoValue : Result::NoSection;
}

}  // namespace tarvo::regfile

namespace tarvo::regfile {

size_t ValueNames(const char* text, size_t len, const char* section, char (*names)[256],
                  size_t room) {
  if (Validate(text, len) != Result::Ok) return 0;
  LineReader reader(text, len);
  Line line;
  bool inSection = false;
  size_t count = 0;
  while (reader.Next(&line) && count < room) {
    if (IsBlank(line) || line.text[0] == ';') continue;
    const Parsed p = ParseLine(line);
    if (p.kind == Kind::Section) inSection = EqualsNoCase(p.name, p.nameLen, section);
    if (!inSection || p.kind != Kind::Value || p.isDefault) continue;
    size_t pos = 0;
    size_t n = 0;
    if (ParseQuoted(p.name - 1, p.nameLen + 2, &pos, names[count], 256, &n) && n < 256) {
      names[count++][n] = '\0';
    }
  }
  return count;
}

}  // namespace tarvo::regfile
