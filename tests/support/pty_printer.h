// A printer played by a thread on the master side of a pseudo-terminal:
// it reads each request frame and writes what `answer` makes of it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/pty.h"

namespace tarvo::test {

class PtyPrinter {
 public:
  using Answer = std::function<std::string(const std::string& request)>;

  // Serves `count` requests, then stops; it also stops when no byte comes
  // for two seconds.
  PtyPrinter(Pty& pty, size_t count, Answer answer);
  ~PtyPrinter() { Join(); }
  PtyPrinter(const PtyPrinter&) = delete;
  PtyPrinter& operator=(const PtyPrinter&) = delete;

  void Join();
  // Read only after Join().
  const std::vector<std::string>& Requests() const { return requests_; }

 private:
  void Serve();

  Pty& pty_;
  size_t count_;
  Answer answer_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// The command field of a request frame.
std::string CommandOf(const std::string& frame);

}  // namespace tarvo::test
