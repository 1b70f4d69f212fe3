// The tools' one JSON writer: nlohmann's ordered_json, so that keys come
// out in the order the code adds them, and what hosts and scripts parse
// keeps its shape. The printer's and the driver's texts are cp1252; they
// enter a JSON value only through JsonText, which makes them UTF-8.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::tools {

using Json = nlohmann::ordered_json;

// A cp1252 text as a JSON string (UTF-8; every byte has a form there).
Json JsonText(std::string_view cp1252);
// A list of cp1252 texts as a JSON array (empty: []).
Json JsonTexts(const std::vector<std::string>& cp1252);

// One compact line with its '\n'. Text that is not UTF-8 (a value that
// bypassed JsonText) is written with U+FFFD for the bad bytes instead of
// throwing: a strange log must not stop a tool.
std::string DumpJson(const Json& value);

}  // namespace tarvo::tools
