// The emulator (tarvo-emu) as a child process for the tests that drive the
// library against it. Its first line of output is the slave device; reading
// that line waits exactly until it is ready.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tarvo::test {

struct EmulatorOptions {
  std::string serial;             // --serial
  std::string control;            // the control FIFO (--control)
  std::string log;                // where the emulator's standard error goes
  std::vector<std::string> args;  // any further options (--ecf, --paper, --pace ...)
};

class EmulatorProcess {
 public:
  explicit EmulatorProcess(const EmulatorOptions& options);
  // Stops the emulator with SIGTERM if it still runs.
  ~EmulatorProcess();
  EmulatorProcess(const EmulatorProcess&) = delete;
  EmulatorProcess& operator=(const EmulatorProcess&) = delete;

  // The slave device; empty when the emulator did not start.
  const std::string& Port() const { return port_; }
  std::string Log() const;
  // Arms a fault through the control FIFO and returns once the emulator
  // has acknowledged it (a failed assertion otherwise): it applies to every
  // request sent after this returns.
  void Fault(const std::string& line);
  // SIGTERM; the exit status (0 for a clean stop).
  int Stop();
  // Sends `sig` and waits for the process; its exit status, or 128 plus
  // the signal that ended it.
  int Kill(int sig);

 private:
  std::string control_, ack_, log_, port_;
  pid_t pid_ = -1;
  int out_ = -1;
};

}  // namespace tarvo::test
