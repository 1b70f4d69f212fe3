#include "emulator.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

bool StartEmulator(const std::string& program, const std::vector<std::string>& extra,
                   Emulator* emu) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return false;
  std::vector<std::string> args = {program, "--quiet", "--paper", "/dev/null"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    // An emulator never outlives the benchmark, even one that is killed.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    dup2(out[1], STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDERR_FILENO);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  emu->pid = pid;
  if (line.rfind("/dev/", 0) != 0) return false;
  emu->path = line;
  return true;
}

void StopEmulator(Emulator* emu) {
  if (emu->pid <= 0) return;
  kill(emu->pid, SIGTERM);
  waitpid(emu->pid, nullptr, 0);
  emu->pid = -1;
}
