// The one escaper of the tools: it makes 8-bit text safe to show on one
// line (a frame in the emulator's log, a value in the host's plain output)
// or inside a JSON string. Each use names its style.
#pragma once

#include <string>
#include <string_view>

namespace tarvo::tools {

enum class EscapeStyle {
  // The host's plain output: '\' '\n' '\t' '\r' as \\ \n \t \r, other
  // control characters (and DEL) as \xhh; bytes from 0x80 kept (UTF-8).
  Line,
  // A JSON string's contents: as Line, the double quote as \", and the
  // other control characters as \u00hh.
  Json,
  // A frame in a log: printable ASCII kept ('\' included), '\n' as \n,
  // every other byte as \xHH.
  Frame,
};

std::string Escape(std::string_view text, EscapeStyle style);

}  // namespace tarvo::tools
