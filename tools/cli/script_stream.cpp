#include "cli/script_stream.h"

#include <vector>

#include "platform/host.h"

namespace tarvo::cli {

ScriptStream::Got ScriptStream::Next(CommandSpec* out, std::string* error) {
  std::string text;
  while (platform::ReadLine(in_, &text)) {
    ++line_;
    const std::string where = "line " + std::to_string(line_) + ": ";
    std::vector<std::string> words;
    if (!SplitWords(text, &words, error)) {
      *error = where + *error;
      return Got::Error;
    }
    if (words.empty()) continue;
    if (!ParseCommandWords(words, out, error)) {
      *error = where + *error;
      return Got::Error;
    }
    if (out->command == "identify" && commands_ > 0) {
      *error = where + "identify may only be the first command";
      return Got::Error;
    }
    out->line = line_;
    std::vector<CommandSpec> one{*out};
    if (!raw_ && !ConvertToCp1252(&one, error)) return Got::Error;
    *out = one.front();
    ++commands_;
    return Got::Command;
  }
  return Got::End;
}

}  // namespace tarvo::cli
