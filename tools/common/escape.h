// The one escaper of the tools: it makes 8-bit text safe to show on one
// line (a frame in the emulator's log, a value in the host's plain output)
// or on a terminal. Each use names its style. (JSON is written by
// common/json.h.)
#pragma once

#include <string>
#include <string_view>

namespace tarvo::tools {

enum class EscapeStyle {
  // The host's plain output: '\' '\n' '\t' '\r' as \\ \n \t \r, other
  // control characters (and DEL) as \xhh; bytes from 0x80 kept (UTF-8).
  Line,
  // A name or a path inside a message for people (why, ports, a failure
  // line): as Line, but '\' kept, since Windows paths and device names
  // (C:\pos\TARVO.txt, \Device\Serial0) are made of them and must read
  // as typed.
  Message,
  // A frame in a log: printable ASCII kept ('\' included), '\n' as \n,
  // every other byte as \xHH.
  Frame,
  // Text for a terminal that must still read as the printer's text (the
  // host's -q values, the --trace log): line ends and tabs kept, every
  // other control character (ESC, BEL, CR, ... and DEL) as \xhh, so that
  // no value can retitle, clear or move the terminal; bytes from 0x80 kept.
  Terminal,
  // The same for 8-bit text that is not UTF-8 (cp1252, --raw): the bytes
  // 0x80 to 0x9F, which some terminals take as control characters, as \xhh
  // too.
  TerminalRaw,
};

std::string Escape(std::string_view text, EscapeStyle style);

}  // namespace tarvo::tools
