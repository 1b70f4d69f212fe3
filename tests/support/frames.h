// Frames as a printer writes them, for tests.
#pragma once

#include <string>

namespace tarvo::test {

// "{id;code;values;length}" with the length counted as the printer must.
std::string AnswerFrame(const std::string& id, const std::string& code, const std::string& values);
std::string AnswerFrame(int id, const std::string& code, const std::string& values);

// The id field of a request frame, as a number (-1 when it has none).
int RequestId(const std::string& frame);

}  // namespace tarvo::test
