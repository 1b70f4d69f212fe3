// The printer and the driver speak 8-bit text in the Windows ANSI code page
// (cp1252); terminals and JSON speak UTF-8. These convert between the two.
#pragma once

#include <string>
#include <string_view>

namespace tarvo::tools {

// Every cp1252 byte has a UTF-8 form (the five unassigned bytes become
// U+FFFD).
std::string Cp1252ToUtf8(std::string_view text);

// False (with the offending position in *badOffset) when the text is not
// valid UTF-8 or holds a character that cp1252 cannot write.
bool Utf8ToCp1252(std::string_view text, std::string* out, size_t* badOffset);

}  // namespace tarvo::tools
