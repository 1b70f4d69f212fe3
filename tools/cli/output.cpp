// What a command gave, as plain lines, JSON or bare values, and the exit
// status it means.
#include "cli/cli.h"
#include "common/cp1252.h"
#include "common/escape.h"
#include "common/json.h"
#include "tarvo.h"

namespace tarvo::cli {

int ExitStatusOf(const Outcome& o) {
  // identify's code is what FC_Inicializa returned (or the code of the
  // reading that failed after it).
  if (o.command == "identify") {
    const int start = o.result == 1 || o.result == -1 ? o.code : o.result;
    if (start == 0) return 0;
    return (start < 0 || start == TARVO_PROTOCOL_FAILURE) ? 3 : 1;
  }
  if (o.result != 1 || o.code == TARVO_PROTOCOL_FAILURE) return 3;
  if (o.code != 0) return 1;
  return o.missing.empty() ? 0 : 4;
}

std::string EscapeLine(std::string_view text) {
  return tools::Escape(text, tools::EscapeStyle::Line);
}

std::string EscapeMessage(std::string_view text) {
  return tools::Escape(text, tools::EscapeStyle::Message);
}

namespace {
std::string Shown(std::string_view text, bool raw) {
  return raw ? std::string(text) : tools::Cp1252ToUtf8(text);
}
}  // namespace

std::string FormatPlain(const Outcome& o, bool raw) {
  std::string out;
  out += "command=" + EscapeLine(Shown(o.command, raw)) + "\n";
  out += "result=" + std::to_string(o.result) + "\n";
  out += "code=" + std::to_string(o.code) + "\n";
  out += "name=" + EscapeLine(Shown(o.name, raw)) + "\n";
  out += "circumstance=" + EscapeLine(Shown(o.circumstance, raw)) + "\n";
  for (const auto& [name, value] : o.values) {
    out += "value." + EscapeLine(Shown(name, raw)) + "=" + EscapeLine(Shown(value, raw)) + "\n";
  }
  return out;
}

std::string FormatQuiet(const Outcome& o, bool raw, bool terminal) {
  std::string out;
  for (const auto& v : o.values) {
    const std::string shown = Shown(v.second, raw);
    if (!terminal) {
      out += shown + "\n";
    } else {
      out += tools::Escape(shown,
                           raw ? tools::EscapeStyle::TerminalRaw : tools::EscapeStyle::Terminal) +
             "\n";
    }
  }
  return out;
}

std::string FormatJson(const Outcome& o) {
  tools::Json j = {{"command", tools::JsonText(o.command)},
                   {"ok", ExitStatusOf(o) == 0},
                   {"result", o.result},
                   {"code", o.code},
                   {"name", tools::JsonText(o.name)},
                   {"circumstance", tools::JsonText(o.circumstance)},
                   {"values", tools::Json::object()}};
  for (const auto& [name, value] : o.values) {
    j["values"][tools::Cp1252ToUtf8(name)] = tools::JsonText(value);
  }
  if (!o.missing.empty()) j["missing"] = tools::JsonTexts(o.missing);
  return tools::DumpJson(j);
}

}  // namespace tarvo::cli
