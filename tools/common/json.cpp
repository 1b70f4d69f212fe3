#include "common/json.h"

#include "common/cp1252.h"

namespace tarvo::tools {

Json JsonText(std::string_view cp1252) { return Cp1252ToUtf8(cp1252); }

Json JsonTexts(const std::vector<std::string>& cp1252) {
  Json list = Json::array();
  for (const auto& text : cp1252) list.push_back(JsonText(text));
  return list;
}

std::string DumpJson(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace tarvo::tools
