#include "trace/cfg_parse.h"

#include "common/text.h"

namespace tarvo {

TraceConfigText ParseTraceConfig(const char* text, size_t length) {
  TraceConfigText c;
  if (length > kTraceConfigBytes) length = kTraceConfigBytes;
  if (length <= 5 || text[5] != '=') return c;
  c.sixthIsEquals = true;
  // The text may hold zero bytes; every search stops at `length`.
  size_t position = 6;
  for (size_t i = 6; i < length; ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      position = i;
      c.level = text[i] - '0';
      break;
    }
  }
  const char* earliest = FindText(text + 6, length - 6, "Tamanho=");
  c.levelFromSize = c.level != 0 && earliest != nullptr && earliest < text + position;
  const char* size = FindText(text + position, length - position, "Tamanho=");
  if (size != nullptr) {
    const size_t offset = static_cast<size_t>(size - text) + 8;
    const int value = ReadDecimal(text + offset, length - offset);
    if (value != 0) c.size = value;
  }
  return c;
}

}  // namespace tarvo
