#include "support/frames.h"

#include <cstdlib>

namespace tarvo::test {

std::string AnswerFrame(const std::string& id, const std::string& code, const std::string& values) {
  const std::string body = "{" + id + ";" + code + ";" + values;
  return body + ";" + std::to_string(body.size()) + "}";
}

std::string AnswerFrame(int id, const std::string& code, const std::string& values) {
  return AnswerFrame(std::to_string(id), code, values);
}

int RequestId(const std::string& frame) {
  if (frame.size() < 2 || frame[0] != '{') return -1;
  return std::atoi(frame.c_str() + 1);
}

}  // namespace tarvo::test
