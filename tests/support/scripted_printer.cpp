#include "support/scripted_printer.h"

#include "serial/sim/sim_line.h"

namespace tarvo::test {

ScriptedPrinter::ScriptedPrinter() { sim::SetWriteHook(&ScriptedPrinter::OnWrite, this); }

ScriptedPrinter::~ScriptedPrinter() { sim::SetWriteHook(nullptr, nullptr); }

void ScriptedPrinter::Reply(const std::string& code, const std::string& values, uint64_t delayMs) {
  scripts_.push_back(Script{false, false, code, values, delayMs});
}

void ScriptedPrinter::ReplyRaw(const std::string& bytes, uint64_t delayMs) {
  scripts_.push_back(Script{true, false, "", bytes, delayMs});
}

void ScriptedPrinter::Ignore() { scripts_.push_back(Script{false, true, "", "", 0}); }

void ScriptedPrinter::OnWrite(void* self, const char* data, size_t length) {
  static_cast<ScriptedPrinter*>(self)->Received(std::string(data, length));
}

void ScriptedPrinter::Received(const std::string& frame) {
  requests_.push_back(frame);
  if (scripts_.empty()) return;
  Script s = scripts_.front();
  scripts_.pop_front();
  if (s.silent) return;
  const std::string id = std::to_string(RequestId(frame));
  std::string answer;
  if (s.raw) {
    answer = s.bytes;
    for (size_t at = answer.find("%ID%"); at != std::string::npos; at = answer.find("%ID%")) {
      answer.replace(at, 4, id);
    }
  } else {
    answer = AnswerFrame(id, s.code, s.bytes);
  }
  sim::SendBytesAfter(s.delayMs, answer.data(), answer.size());
}

}  // namespace tarvo::test
