#include "cli/why.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "cli/cli.h"
#include "cli/port_map.h"
#include "common/numbers.h"
#include "serial/rfc2217.h"

namespace tarvo::cli {

namespace {

const char* MappingName(MapSource s) {
  switch (s) {
    case MapSource::Given: return "given";
    case MapSource::Registry: return "registry";
    case MapSource::Default: return "default";
    case MapSource::None: break;
  }
  return "none";
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// The cause found at the device itself, by the steps of the driver's open.
void DiagnoseDevice(const std::string& procRoot, OpenDiagnosis* d) {
  struct stat st {};
  if (stat(d->device.c_str(), &st) != 0) {
    d->cause = errno == EACCES ? "permission" : "missing";
    d->message = errno == EACCES ? d->device + " can't be reached: permission denied"
                                 : d->device +
                                       " does not exist (is the printer plugged in and "
                                       "switched on? 'tarvo ports' lists the ports)";
    return;
  }
  if (!S_ISCHR(st.st_mode)) {
    d->cause = "not-a-terminal";
    d->message = d->device + " is not a serial device (not a character device)";
    return;
  }
  const int fd = open(d->device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    if (e == EACCES || e == EPERM) {
      d->cause = "permission";
      d->message = "permission denied on " + d->device +
                   ": add the user to the dialout group (sudo usermod -aG dialout $USER, "
                   "then log in again)";
    } else if (e == EBUSY) {
      const std::string holders = HoldersOf(d->device, procRoot);
      d->cause = "busy";
      d->message = d->device + " is held by another process" +
                   (holders.empty() ? std::string(" (not visible in /proc)") : ": " + holders);
    } else {
      d->cause = "open-failed";
      d->message = d->device + " can't be opened: " + std::strerror(e);
    }
    return;
  }
  const bool terminal = isatty(fd) != 0;
  close(fd);
  if (!terminal) {
    d->cause = "not-a-terminal";
    d->message = d->device + " is not a terminal (not a serial port)";
    return;
  }
  const std::string holders = HoldersOf(d->device, procRoot);
  d->cause = holders.empty() ? "unknown" : "busy";
  d->message = holders.empty() ? d->device + " opens now; it may have been busy a moment ago"
                               : d->device + " is held by another process: " + holders;
}

}  // namespace

std::string HoldersOf(const std::string& device, const std::string& procRoot) {
  char target[4096];
  std::string found;
  DIR* proc = opendir(procRoot.c_str());
  if (proc == nullptr) return found;
  const pid_t self = getpid();
  while (dirent* p = readdir(proc)) {
    long long pid = 0;
    if (!tools::ParseInteger(p->d_name, 1, 1LL << 31, &pid) || pid == self) continue;
    const std::string fdDir = procRoot + "/" + p->d_name + "/fd";
    DIR* fds = opendir(fdDir.c_str());
    if (fds == nullptr) continue;
    bool holds = false;
    while (dirent* f = readdir(fds)) {
      const ssize_t n = readlink((fdDir + "/" + f->d_name).c_str(), target, sizeof target - 1);
      if (n > 0 && device == std::string(target, static_cast<size_t>(n))) holds = true;
    }
    closedir(fds);
    if (!holds) continue;
    std::ifstream comm(procRoot + "/" + p->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    found += (found.empty() ? "" : ", ") + std::string("process ") + p->d_name +
             (name.empty() ? "" : " (" + Trimmed(name) + ")");
  }
  closedir(proc);
  return found;
}

OpenDiagnosis DiagnoseOpen(const std::string& port, const std::string& procRoot) {
  OpenDiagnosis d;
  d.port = port;
  const RegistryFile reg = LoadRegistry(RegistryPath());
  int rate = 0;
  d.registryNote = CommSettingsNote(reg, &rate);
  if (!d.registryNote.empty()) d.registryNote += "; the line runs at " + std::to_string(rate);
  Resolved r;
  std::string why;
  if (!ResolvePort(port, reg, &r, &why)) {
    d.cause = why.find("characters long") != std::string::npos ? "name-too-long" : "bad-name";
    d.message = why;
    return d;
  }
  d.device = r.device;
  d.mapping = MappingName(r.source);
  if (r.source == MapSource::None) {
    d.cause = "no-device";
    d.message = "COM0 has no device: map it in [" + std::string(kPortsSection) + "] of " + reg.path;
    return d;
  }
  if (rfc2217::HasScheme(d.device.c_str())) {
    d.cause = "network";
    d.message = d.device +
                " is a network port: its server refused the connection or did not answer "
                "(is ser2net running there, and is the address right? docs/network.md)";
    return d;
  }
  DiagnoseDevice(procRoot, &d);
  return d;
}

std::string DiagnosisLine(const OpenDiagnosis& d) {
  std::string line = "cannot open the port " + d.port;
  if (d.mapping == "registry" || d.mapping == "default") {
    line += " (" + d.device + ", " +
            (d.mapping == "registry" ? "mapped in the registry file"
                                     : "the default for this name: no mapping in the registry "
                                       "file") +
            ")";
  }
  line += ": " + d.message;
  // The registry file only matters to COMn names.
  const bool com = d.mapping == "registry" || d.mapping == "default" || d.mapping == "none";
  if (!d.registryNote.empty() && com) line += "; also: " + d.registryNote;
  return line;
}

std::string DiagnosisJson(const OpenDiagnosis& d) {
  return "{\"command\":\"open\",\"ok\":false,\"port\":" + JsonString(d.port) +
         ",\"device\":" + JsonString(d.device) + ",\"mapping\":" + JsonString(d.mapping) +
         ",\"cause\":" + JsonString(d.cause) + ",\"message\":" + JsonString(d.message) +
         ",\"registry\":" + JsonString(d.registryNote) +
         ",\"explanation\":" + JsonString(DiagnosisLine(d)) + "}\n";
}

}  // namespace tarvo::cli
