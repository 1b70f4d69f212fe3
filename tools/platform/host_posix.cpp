// The command-line host's platform layer on POSIX (see host.h).
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/numbers.h"
#include "platform/host.h"

namespace tarvo::platform {

std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) == 1; }

bool CanRedrawLine(FILE* stream) { return IsTerminal(stream); }

void WriteError(const std::string& bytes) { (void)!write(2, bytes.data(), bytes.size()); }

void Print(FILE* stream, const std::string& utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), stream);
}

bool ReadLine(FILE* in, std::string* line) {
  line->clear();
  int c = 0;
  while ((c = std::fgetc(in)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
  return c != EOF || !line->empty();
}

bool ReadInput(std::string* text) {
  char buffer[1 << 16];
  size_t n = 0;
  text->clear();
  while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) text->append(buffer, n);
  return std::ferror(stdin) == 0;
}

bool SetEnvironment(const char* name, const std::string& value) {
  return setenv(name, value.c_str(), 1) == 0;
}

void UnsetEnvironment(const char* name) { unsetenv(name); }

std::string MakeTemporaryDirectory(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + prefix;
  templ += "XXXXXX";
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  return mkdtemp(buffer.data()) != nullptr ? buffer.data() : "";
}

int OpenRegularFile(const std::string& path, bool write, std::string* error) {
  const int flags = write ? O_WRONLY | O_CREAT : O_RDONLY;
  const int fd = open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = path + (errno == ELOOP ? std::string(" is a symbolic link: not followed")
                                    : ": " + std::string(std::strerror(errno)));
    return -1;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    *error = path + " is not a regular file";
    return -1;
  }
  return fd;
}

bool RemoveRegularFile(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && unlink(path.c_str()) == 0;
}

std::filesystem::path FilePath(const std::string& utf8) { return utf8; }

std::string FileNameText(const std::filesystem::path& name) { return name.native(); }

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

bool HasComDevices() { return false; }

bool ExportRegistry(const std::vector<std::string>&, std::string*, std::string* error) {
  *error = "no system registry here";
  return false;
}

std::string CodeText(int code) { return std::strerror(code); }

namespace {

std::string OwnerName(uid_t uid) {
  const passwd* p = getpwuid(uid);
  return p != nullptr ? p->pw_name : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  const group* g = getgrgid(gid);
  return g != nullptr ? g->gr_name : std::to_string(gid);
}

DeviceFailure FailureOf(int e, bool opened, bool terminal, bool held) {
  if (e == EACCES || e == EPERM) return DeviceFailure::Denied;
  if (e == EBUSY || held) return DeviceFailure::Busy;
  if (opened && !terminal) return DeviceFailure::NotSerial;
  return DeviceFailure::Other;
}

}  // namespace

DeviceProbe ProbeDevice(const std::string& device, int code, const std::string& procRoot) {
  DeviceProbe p;
  struct stat st {};
  if (stat(device.c_str(), &st) != 0) {
    p.code = errno;
    p.failure = p.code == EACCES ? DeviceFailure::Unreachable : DeviceFailure::Missing;
    p.codeText = CodeText(p.code);
    return p;
  }
  p.owner = OwnerName(st.st_uid);
  p.group = GroupName(st.st_gid);
  p.mode = static_cast<unsigned>(st.st_mode & 07777);
  if (!S_ISCHR(st.st_mode)) {
    p.failure = DeviceFailure::NotSerial;
    return p;
  }
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  p.code = fd < 0 ? errno : code;
  const bool terminal = fd >= 0 && isatty(fd) != 0;
  if (fd >= 0) close(fd);
  p.holders = HoldersOf(device, procRoot);
  p.failure = FailureOf(p.code, fd >= 0, terminal, !p.holders.empty());
  if (p.code != 0) p.codeText = CodeText(p.code);
  return p;
}

// ---- Holders (/proc) -------------------------------------------------------

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
  const std::vector<std::string> fds = DirectoryNames(fdDir);
  return std::any_of(fds.begin(), fds.end(), [&](const std::string& fd) {
    return IsDevice(fdDir + "/" + fd, device, wanted);
  });
}

// The processes of /proc (its numeric entries, with their names) in the
// order of their ids.
std::vector<std::pair<long long, std::string>> Processes(const std::string& procRoot) {
  std::vector<std::pair<long long, std::string>> pids;
  for (const auto& name : DirectoryNames(procRoot)) {
    long long pid = 0;
    if (tarvo::tools::ParseInteger(name, 1, 1LL << 31, &pid)) pids.emplace_back(pid, name);
  }
  std::sort(pids.begin(), pids.end());
  return pids;
}

}  // namespace

std::string HoldersOf(const std::string& device, const std::string& procRoot) {
  struct stat st {};
  const bool chr = stat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
  std::string found;
  for (const auto& [pid, entry] : Processes(procRoot)) {
    if (pid == getpid()) continue;
    std::string dir = procRoot;
    dir.append("/").append(entry);
    if (!Holds(dir + "/fd", device, chr ? &st : nullptr)) continue;
    std::ifstream comm(dir + "/comm");
    std::string name;
    std::getline(comm, name);
    found += found.empty() ? "process " : ", process ";
    found += entry;
    if (!name.empty()) found.append(" (").append(Trimmed(name)).append(")");
  }
  return found;
}

// ---- Ports (sysfs) ---------------------------------------------------------

namespace {

// The names in `dir` but hidden ones.
std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names = DirectoryNames(dir);
  std::erase_if(names, [](const std::string& n) { return n[0] == '.'; });
  return names;
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

// The last part of where a symbolic link points (sysfs and by-id links are
// relative; their targets need not be resolved).
std::string LinkBase(const std::string& link) {
  char buffer[PATH_MAX];
  const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  const std::string target(buffer, static_cast<size_t>(n));
  const size_t slash = target.rfind('/');
  return slash == std::string::npos ? target : target.substr(slash + 1);
}

// Walks up from the tty's device to the USB device that carries it (the
// directory with idVendor), no higher than the sysfs root.
void ReadUsbFacts(const std::string& sysRoot, const std::string& deviceDir, SystemPort* p) {
  const std::string root = RealPath(sysRoot);
  for (std::string dir = RealPath(deviceDir); dir.size() > root.size();
       dir.resize(dir.rfind('/') == std::string::npos ? 0 : dir.rfind('/'))) {
    if (access((dir + "/idVendor").c_str(), R_OK) != 0) continue;
    p->vid = FirstLine(dir + "/idVendor");
    p->pid = FirstLine(dir + "/idProduct");
    p->manufacturer = FirstLine(dir + "/manufacturer");
    p->product = FirstLine(dir + "/product");
    p->serial = FirstLine(dir + "/serial");
    return;
  }
}

}  // namespace

std::vector<SystemPort> ListSystemPorts(const std::string& sysRoot, const std::string& devRoot) {
  std::vector<SystemPort> ports;
  const std::string byIdDir = devRoot + "/serial/by-id";
  const std::vector<std::string> byId = Entries(byIdDir);
  for (const auto& name : Entries(sysRoot + "/class/tty")) {
    std::string entry = sysRoot;
    entry += "/class/tty/";
    entry += name;
    if (access((entry + "/device").c_str(), F_OK) != 0) continue;  // virtual console, pty
    SystemPort p;
    p.name = name;
    p.device = "/dev/" + name;
    // Newer kernels put a port and a controller device of the serial core
    // ("serial-base") between the tty and the hardware: look past them.
    std::string device = entry + "/device";
    for (int up = 0; up < 2 && LinkBase(device + "/subsystem") == "serial-base"; ++up) {
      device += "/..";
    }
    p.driver = LinkBase(device + "/driver");
    p.subsystem = LinkBase(device + "/subsystem");
    if (p.subsystem == "usb" || p.subsystem == "usb-serial")
      ReadUsbFacts(sysRoot, entry + "/device", &p);
    for (const auto& link : byId) {
      std::string path = byIdDir;
      path += '/';
      path += link;
      if (LinkBase(path) == name) p.byId.push_back(std::string("/dev/serial/by-id/").append(link));
    }
    ports.push_back(std::move(p));
  }
  return ports;
}

std::string DeviceState(const std::string& device) {
  struct stat st {};
  if (lstat(device.c_str(), &st) != 0) return "missing: nothing there (adapter unplugged?)";
  const bool link = S_ISLNK(st.st_mode);
  if (stat(device.c_str(), &st) != 0) return "missing: a link to nothing (adapter unplugged?)";
  if (!S_ISCHR(st.st_mode)) return "not a serial device";
  const bool pty = device.rfind("/dev/pts/", 0) == 0;
  return std::string(pty ? "pseudo-terminal" : "present") + (link ? " (through a link)" : "");
}

}  // namespace tarvo::platform
