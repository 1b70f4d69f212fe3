// A pseudo-terminal pair for tests of the POSIX layer: the test holds the
// master side and plays the printer; the code under test opens the slave.
#pragma once

#include <string>

namespace tarvo::test {

class Pty {
 public:
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  int Master() const { return master_; }
  const std::string& SlavePath() const { return slave_; }
  // Bytes that arrive on the master within timeoutMs (at most max).
  std::string ReadMaster(size_t max, int timeoutMs);
  void WriteMaster(const std::string& bytes);

 private:
  int master_ = -1;
  std::string slave_;
};

}  // namespace tarvo::test
