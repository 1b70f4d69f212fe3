// Which processes hold a device open, read from /proc.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "cli/why.h"
#include "common/numbers.h"

namespace tarvo::cli {

namespace {

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// Whether descriptor `fd` of a process is the device: by the name it was
// opened under, or by the character device it reaches.
bool IsDevice(const std::string& fd, const std::string& device, const struct stat* wanted) {
  char target[4096];
  const ssize_t n = readlink(fd.c_str(), target, sizeof target - 1);
  if (n > 0 && device == std::string(target, static_cast<size_t>(n))) return true;
  struct stat st {};
  return wanted != nullptr && stat(fd.c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
         st.st_rdev == wanted->st_rdev;
}

bool Holds(const std::string& fdDir, const std::string& device, const struct stat* wanted) {
  DIR* fds = opendir(fdDir.c_str());
  if (fds == nullptr) return false;
  bool holds = false;
  while (dirent* f = readdir(fds)) {
    if (f->d_name[0] != '.' && IsDevice(fdDir + "/" + f->d_name, device, wanted)) holds = true;
  }
  closedir(fds);
  return holds;
}

}  // namespace

std::string HoldersOf(const std::string& device, const std::string& procRoot) {
  struct stat st {};
  const bool chr = stat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
  std::string found;
  DIR* proc = opendir(procRoot.c_str());
  if (proc == nullptr) return found;
  const pid_t self = getpid();
  while (dirent* p = readdir(proc)) {
    long long pid = 0;
    if (!tools::ParseInteger(p->d_name, 1, 1LL << 31, &pid) || pid == self) continue;
    if (!Holds(procRoot + "/" + p->d_name + "/fd", device, chr ? &st : nullptr)) continue;
    std::ifstream comm(procRoot + "/" + p->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    found += (found.empty() ? "" : ", ") + std::string("process ") + p->d_name +
             (name.empty() ? "" : " (" + Trimmed(name) + ")");
  }
  closedir(proc);
  return found;
}

}  // namespace tarvo::cli
