// Reading one named value out of an answer's values text.
#pragma once

#include <cstddef>

namespace tarvo {

// The value of the first item whose text contains `name` (a plain
// substring match, first occurrence wins), read after the first '=' that
// follows the occurrence, into out[cap], always terminated. Returns the
// characters stored, or 8 / 10 for a "#" time or date value, 0 when the name
// or its '=' is missing.
//
// The forms: a quoted text ends at the next double quote, except for the
// name "TextoImpressao", whose text ends at a double quote followed by ';'
// and in which a backslash makes the next character literal; a '#' value is
// the 8 (time) or 10 (date) characters after the '#', padded with zeros
// where the text ends first; a plain value ends at the next blank.
//
// Choices where the text is not well formed, none of which reads past the
// text: a quoted value without its closing quote runs to the end of the
// text; an '=' at the end or followed by a blank is an empty value; a print
// text whose opening quote is directly followed by a double quote is empty.
int LookupValue(const char* text, size_t length, const char* name, char* out, size_t cap);

}  // namespace tarvo
