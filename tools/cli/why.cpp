#include "cli/why.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/cli.h"
#include "cli/port_map.h"
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

std::string OwnerName(uid_t uid) {
  const passwd* p = getpwuid(uid);
  return p != nullptr ? p->pw_name : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  const group* g = getgrgid(gid);
  return g != nullptr ? g->gr_name : std::to_string(gid);
}

void Permission(const struct stat& st, OpenDiagnosis* d) {
  d->cause = "permission";
  d->message = "permission denied on " + d->device + ": " +
               PermissionAdvice(d->device, OwnerName(st.st_uid), GroupName(st.st_gid), st.st_mode);
}

// The cause found at the device itself, by the steps of the driver's open.
void DiagnoseDevice(const std::string& procRoot, OpenDiagnosis* d) {
  struct stat st {};
  if (stat(d->device.c_str(), &st) != 0) {
    d->cause = errno == EACCES ? "permission" : "missing";
    d->message = errno == EACCES ? d->device +
                                       " can't be reached: permission denied on a "
                                       "directory on its way"
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
  const int e = fd < 0 ? errno : (d->code != 0 ? d->code : 0);
  const bool terminal = fd >= 0 && isatty(fd) != 0;
  if (fd >= 0) close(fd);
  const std::string holders = HoldersOf(d->device, procRoot);
  if (e == EACCES || e == EPERM) return Permission(st, d);
  if (e == EBUSY || !holders.empty()) {
    d->cause = "busy";
    d->message = d->device + " is held by another process" +
                 (holders.empty() ? std::string(" (not visible in /proc)") : ": " + holders);
  } else if (fd >= 0 && !terminal) {
    d->cause = "not-a-terminal";
    d->message = d->device + " is not a terminal (not a serial port)";
  } else {
    d->cause = "open-failed";
    d->message = d->device + " can't be opened: " +
                 (e != 0 ? std::strerror(e) : "the driver's open failed; the device opens now");
  }
}

// The driver opened the port: free, or held by a process that the
// exclusive lock did not keep out (root passes it).
void Opened(const std::string& procRoot, OpenDiagnosis* d) {
  d->opened = true;
  const bool network = rfc2217::HasScheme(d->device.c_str());
  const std::string holders = network ? "" : HoldersOf(d->device, procRoot);
  if (!holders.empty()) {
    d->cause = "held";
    d->message = d->device + " opens, but another process holds it: " + holders +
                 " (two programs on one printer mix their frames: stop the other first)";
    return;
  }
  d->cause = "ok";
  d->message = d->device + (network ? " connects, and its server agreed the line settings"
                                    : " opens: the driver can use it");
}

void Unopened(const OpenAttempt& a, const std::string& procRoot, OpenDiagnosis* d) {
  d->code = a.code;
  if (!rfc2217::HasScheme(d->device.c_str())) return DiagnoseDevice(procRoot, d);
  d->cause = "network";
  d->message = d->device + " does not open" +
               (a.code != 0 ? ": " + std::string(std::strerror(a.code)) : std::string()) +
               " (is the server (ser2net) running there, and is the address right? "
               "docs/network.md)";
}

}  // namespace

std::string PermissionAdvice(const std::string& device, const std::string& owner,
                             const std::string& group, mode_t mode) {
  char octal[8];
  std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode & 07777));
  const std::string facts = device + " is " + owner + ":" + group + " " + octal;
  if ((mode & S_IRGRP) != 0 && (mode & S_IWGRP) != 0 && group != "root") {
    return facts + ": add the user to the " + group + " group (sudo usermod -aG " + group +
           " $USER, then log in again)";
  }
  return facts + ": only " + owner +
         " may open it; give it a group that may read and write it (a udev rule with "
         "GROUP=\"dialout\", MODE=\"0660\"), then add the user to that group";
}

OpenDiagnosis DiagnoseOpen(const std::string& port, const std::string& procRoot,
                           const PortOpener& open) {
  OpenDiagnosis d;
  d.port = port;
  const RegistryFile reg = LoadRegistry(RegistryPath());
  int rate = 0;
  d.registryNote = CommSettingsNote(reg, &rate);
  if (!d.registryNote.empty()) d.registryNote += "; the line runs at " + std::to_string(rate);
  Resolved r;
  std::string why;
  if (!ResolvePort(port, reg, &r, &why)) {
    d.cause = why.find("39 characters") != std::string::npos ? "name-too-long" : "bad-name";
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
  if (!open) {
    if (rfc2217::HasScheme(d.device.c_str())) return Unopened({}, procRoot, &d), d;
    DiagnoseDevice(procRoot, &d);
    return d;
  }
  const OpenAttempt a = open(port);
  if (a.opened) {
    Opened(procRoot, &d);
  } else {
    Unopened(a, procRoot, &d);
  }
  return d;
}

int DiagnosisStatus(const OpenDiagnosis& d) { return d.opened && d.cause == "ok" ? 0 : 3; }

std::string DiagnosisLine(const OpenDiagnosis& d) {
  std::string line = (d.opened ? "the port " : "cannot open the port ") + EscapeLine(d.port);
  if (d.mapping == "registry" || d.mapping == "default") {
    line += " (" + EscapeLine(d.device) + ", " +
            (d.mapping == "registry" ? "mapped in the registry file"
                                     : "the default for this name: no mapping in the registry "
                                       "file") +
            ")";
  }
  line += ": " + EscapeLine(d.message);
  // The registry file only matters to COMn names.
  const bool com = d.mapping == "registry" || d.mapping == "default" || d.mapping == "none";
  if (!d.registryNote.empty() && com) line += "; also: " + EscapeLine(d.registryNote);
  return line;
}

std::string DiagnosisJson(const OpenDiagnosis& d) {
  return "{\"command\":\"open\",\"ok\":" + std::string(d.opened ? "true" : "false") +
         ",\"port\":" + JsonString(d.port) + ",\"status\":" + std::to_string(DiagnosisStatus(d)) +
         ",\"device\":" + JsonString(d.device) + ",\"mapping\":" + JsonString(d.mapping) +
         ",\"cause\":" + JsonString(d.cause) + ",\"code\":" + std::to_string(d.code) +
         ",\"message\":" + JsonString(d.message) + ",\"registry\":" + JsonString(d.registryNote) +
         ",\"explanation\":" + JsonString(DiagnosisLine(d)) + "}\n";
}

}  // namespace tarvo::cli
