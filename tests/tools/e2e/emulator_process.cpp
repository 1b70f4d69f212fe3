#include "e2e/emulator_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace tarvo::test {

EmulatorProcess::EmulatorProcess(const EmulatorOptions& options)
    : control_(options.control), ack_(options.control + ".ack"), log_(options.log) {
  int out[2];
  EXPECT_EQ(pipe(out), 0);
  std::vector<std::string> args = {
      TARVO_EMU_PATH, "--serial", options.serial, "--control", control_, "--ack", ack_};
  args.insert(args.end(), options.args.begin(), options.args.end());
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], 1);
    const int log = open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    dup2(log, 2);
    close(out[0]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  out_ = out[0];
  char c;
  while (read(out_, &c, 1) == 1 && c != '\n') port_.push_back(c);
}

EmulatorProcess::~EmulatorProcess() {
  if (pid_ > 0) Stop();
  close(out_);
}

std::string EmulatorProcess::Log() const { return ReadFile(log_); }

namespace {

// Reads the acknowledgement FIFO until a whole line has come, waiting at
// most timeoutMs for each piece; empty when none came in time.
std::string ReadAckLine(int fd, int timeoutMs) {
  std::string line;
  char c = 0;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return "";
    const ssize_t n = read(fd, &c, 1);
    if (n == 1 && c == '\n') return line;
    if (n == 1) line.push_back(c);
  }
}

}  // namespace

void EmulatorProcess::Fault(const std::string& line) {
  const int ack = open(ack_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(ack, 0) << ack_;
  // Acknowledgements left over from before are not this line's.
  char stale[256];
  while (read(ack, stale, sizeof stale) > 0) {
  }
  const int fd = open(control_.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const std::string text = line + "\n";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  // A generous bound: the emulator answers at its next turn, but a loaded
  // machine may not run it for a while.
  const std::string answer = ReadAckLine(ack, 30000);
  close(ack);
  EXPECT_EQ(answer, "ok " + line) << Log();
}

int EmulatorProcess::Stop() { return Kill(SIGTERM); }

int EmulatorProcess::Kill(int sig) {
  kill(pid_, sig);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace tarvo::test
