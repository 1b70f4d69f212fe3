// A printer on the simulated line that answers each request frame written
// to it from a queue of scripted replies.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "support/frames.h"

namespace tarvo::test {

class ScriptedPrinter {
 public:
  ScriptedPrinter();
  ~ScriptedPrinter();
  ScriptedPrinter(const ScriptedPrinter&) = delete;
  ScriptedPrinter& operator=(const ScriptedPrinter&) = delete;

  // Answer the next request with code and values, after delayMs.
  void Reply(const std::string& code, const std::string& values, uint64_t delayMs = 0);
  // Answer the next request with exactly these bytes ("%ID%" becomes the
  // request's id), after delayMs.
  void ReplyRaw(const std::string& bytes, uint64_t delayMs = 0);
  // Do not answer the next request.
  void Ignore();

  // Every frame written to the printer, in order.
  const std::vector<std::string>& Requests() const { return requests_; }

 private:
  struct Script {
    bool raw;
    bool silent;
    std::string code;
    std::string bytes;
    uint64_t delayMs;
  };
  static void OnWrite(void* self, const char* data, size_t length);
  void Received(const std::string& frame);

  std::deque<Script> scripts_;
  std::vector<std::string> requests_;
};

}  // namespace tarvo::test
