#include "driver/comm_settings.h"

#include "common/text.h"

namespace tarvo {

CommSettingsCheck CheckCommSettings(const char* value, size_t length) {
  const size_t len = BoundedLength(value, length);
  size_t comma = len;
  for (size_t i = 5; i < len; ++i) {
    if (value[i] == ',') {
      comma = i;
      break;
    }
  }
  auto at = [&](size_t position) { return position < len ? value[position] : '\0'; };
  CommSettingsCheck check{};
  check.rate = len > 5 ? ReadDecimal(value + 5, comma - 5) : 0;
  check.rateOk =
      check.rate == 19200 || check.rate == 38400 || check.rate == 57600 || check.rate == 115200;
  const bool hasComma = comma < len;
  check.parityOk = hasComma && (at(comma + 1) == 'E' || at(comma + 1) == 'e');
  check.sizeOk = hasComma && at(comma + 3) == '8';
  check.stopOk = hasComma && at(comma + 5) == '1';
  return check;
}

}  // namespace tarvo
