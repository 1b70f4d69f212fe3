#include "common/param_rules.h"

#include "tarvo.h"

namespace tarvo::tools {

const char* ParamValueProblem(int type, std::string_view value) {
  const auto holds = [value](char c) { return value.find(c) != std::string_view::npos; };
  if (type == TARVO_TYPE_QUOTED) {
    return holds('"') ? "a quoted value (type 7) cannot hold '\"'" : nullptr;
  }
  if (type == TARVO_TYPE_DATE || type == TARVO_TYPE_TIME) {
    return holds('#') ? "a date or time value (type 2 or 3) cannot hold '#'" : nullptr;
  }
  if (holds(' ')) return "a plain value cannot hold a blank; use type 7 (NAME:7=VALUE) for text";
  // A bare value that opens with a double quote reads as a quoted text
  // that runs on into the parameters after it.
  if (!value.empty() && value[0] == '"') {
    return "a plain value cannot start with '\"'; use type 7 (NAME:7=VALUE) for text";
  }
  return nullptr;
}

}  // namespace tarvo::tools
