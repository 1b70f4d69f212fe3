// The one integer parser of the tools: command-line options, fault commands,
// parameter types and the emulator's state file all read whole numbers with
// it, so that they all accept the same texts.
#pragma once

#include <string_view>

namespace tarvo::tools {

// Whether `text` is a whole decimal number (an optional '+' or '-', then at
// least one digit, nothing else: no blank) from min to max; *out receives it
// only then. Numbers beyond what a long long holds are refused, not wrapped.
bool ParseInteger(std::string_view text, long long min, long long max, long long* out);

}  // namespace tarvo::tools
