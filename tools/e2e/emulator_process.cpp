#include "e2e/emulator_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace tarvo::test {

EmulatorProcess::EmulatorProcess(const EmulatorOptions& options)
    : control_(options.control), log_(options.log) {
  int out[2];
  EXPECT_EQ(pipe(out), 0);
  std::vector<std::string> args = {TARVO_EMU_PATH, "--serial", options.serial, "--control",
                                   options.control};
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

void EmulatorProcess::Fault(const std::string& line) {
  const int fd = open(control_.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const std::string text = line + "\n";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
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
