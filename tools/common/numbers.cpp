#include "common/numbers.h"

#include <limits>

namespace tarvo::tools {

bool ParseInteger(std::string_view text, long long min, long long max, long long* out) {
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
  if (i == text.size()) return false;
  // Accumulated as a negative number, whose range holds every long long.
  constexpr long long kLowest = std::numeric_limits<long long>::min();
  long long value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    const int digit = c - '0';
    if (value < (kLowest + digit) / 10) return false;
    value = value * 10 - digit;
  }
  if (!negative) {
    if (value == kLowest) return false;
    value = -value;
  }
  if (value < min || value > max) return false;
  *out = value;
  return true;
}

}  // namespace tarvo::tools
