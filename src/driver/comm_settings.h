// The registry value CommSettings, such as "COM1:57600,E,8,1": five
// characters that are not examined, the line rate, then at the first comma
// at position 5 or later (c) the parity letter at c+1, the data bits at c+3
// and the stop bits at c+5. Only the rate ever changes the line.
#pragma once

#include <cstddef>

namespace tarvo {

struct CommSettingsCheck {
  int rate;
  bool rateOk;    // 19200, 38400, 57600 or 115200
  bool sizeOk;    // "8"
  bool parityOk;  // "E" or "e"
  bool stopOk;    // "1"
  bool Usable() const { return rateOk && sizeOk && parityOk && stopOk; }
};

// Checks the bytes read from the registry, which need not be terminated.
// Only the bytes before the first zero (and within length) are looked at: a
// value with no comma reads its rate up to the end, and each position that
// lies past the end counts as a bad field.
CommSettingsCheck CheckCommSettings(const char* value, size_t length);

}  // namespace tarvo
