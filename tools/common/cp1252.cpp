#include "common/cp1252.h"

#include <cstdint>

namespace tarvo::tools {

namespace {

// Code points of the bytes 0x80 to 0x9F; 0 where cp1252 assigns none.
constexpr uint16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80 || u >= 0xA0) {
      AppendUtf8(u, &out);
    } else {
      const uint16_t cp = kHigh[u - 0x80];
      AppendUtf8(cp ? cp : 0xFFFD, &out);
    }
  }
  return out;
}

bool Utf8ToCp1252(std::string_view text, std::string* out, size_t* badOffset) {
  out->clear();
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    uint32_t cp = 0;
    size_t len = 0;
    if (b < 0x80) {
      cp = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      len = 4;
    } else {
      *badOffset = i;
      return false;
    }
    if (i + len > text.size()) {
      *badOffset = i;
      return false;
    }
    for (size_t k = 1; k < len; ++k) {
      const auto cont = static_cast<unsigned char>(text[i + k]);
      if ((cont & 0xC0) != 0x80) {
        *badOffset = i;
        return false;
      }
      cp = (cp << 6) | (cont & 0x3F);
    }
    char byte = 0;
    bool found = false;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      byte = static_cast<char>(cp);
      found = true;
    } else {
      for (int k = 0; k < 32; ++k) {
        if (kHigh[k] != 0 && kHigh[k] == cp) {
          byte = static_cast<char>(0x80 + k);
          found = true;
        }
      }
    }
    // Overlong forms are refused with everything else that is not text.
    const bool overlong =
        (len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    if (!found || overlong) {
      *badOffset = i;
      return false;
    }
    out->push_back(byte);
    i += len;
  }
  return true;
}

}  // namespace tarvo::tools
