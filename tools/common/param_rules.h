// What a parameter value may hold so that it cannot change the meaning of
// the staged parameter text: nothing is escaped on the way to the printer,
// so a value holding its own delimiter would end early and let the rest be
// read as further parameters. The Python module keeps the same rules in
// its own words; both are checked against tests/tools/common/param_cases.txt.
#pragma once

#include <string_view>

namespace tarvo::tools {

// Null when a value of this type code (TARVO_TYPE_...) is safe, else what is
// wrong with it, as a sentence for the user.
const char* ParamValueProblem(int type, std::string_view value);

}  // namespace tarvo::tools
