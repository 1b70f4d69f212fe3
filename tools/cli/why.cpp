#include "cli/why.h"

#include <cstdio>

#include "cli/cli.h"
#include "cli/port_map.h"
#include "common/json.h"
#include "platform/host.h"
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

void Permission(const platform::DeviceProbe& p, OpenDiagnosis* d) {
  d->cause = "permission";
  d->message = "permission denied on " + d->device + ": " +
               (p.owner.empty() ? p.codeText +
                                      " (another user's program, or a policy, keeps it "
                                      "from this user: try as the user the host runs as)"
                                : PermissionAdvice(d->device, p.owner, p.group, p.mode));
}

std::string SystemReason(const platform::DeviceProbe& p) {
  return p.codeText.empty() ? "" : " (" + p.codeText + ")";
}

// The cause found at the device itself, by the steps of the driver's open.
void DiagnoseDevice(const std::string& procRoot, OpenDiagnosis* d) {
  const platform::DeviceProbe p = platform::ProbeDevice(d->device, d->code, procRoot);
  switch (p.failure) {
    case platform::DeviceFailure::Unreachable:
      d->cause = "permission";
      d->message = d->device + " can't be reached: permission denied on a directory on its way";
      return;
    case platform::DeviceFailure::Missing:
      d->cause = "missing";
      d->message = d->device + " does not exist" + SystemReason(p) +
                   " (is the printer plugged in and switched on? 'tarvo ports' lists the ports)";
      return;
    case platform::DeviceFailure::Denied: return Permission(p, d);
    case platform::DeviceFailure::Busy:
      d->cause = "busy";
      d->message = d->device + " is in use by another program" +
                   (p.holders.empty() ? " (the system does not tell which)" + SystemReason(p)
                                      : ": " + p.holders);
      return;
    case platform::DeviceFailure::NotSerial:
      d->cause = "not-a-terminal";
      d->message = d->device + " is not a serial device";
      return;
    case platform::DeviceFailure::None:
    case platform::DeviceFailure::Other: break;
  }
  d->cause = "open-failed";
  d->message = d->device + " can't be opened: " +
               (p.code != 0 ? p.codeText : "the driver's open failed; the device opens now");
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
               (a.code != 0 ? ": " + platform::CodeText(a.code) : std::string()) +
               " (is the server (ser2net) running there, and is the address right? "
               "docs/network.md)";
}

}  // namespace

std::string PermissionAdvice(const std::string& device, const std::string& owner,
                             const std::string& group, unsigned mode) {
  char octal[8];
  std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode & 07777U));
  const std::string facts = device + " is " + owner + ":" + group + " " + octal;
  if ((mode & 040U) != 0 && (mode & 020U) != 0 && group != "root") {
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

std::string HoldersOf(const std::string& device, const std::string& procRoot) {
  return platform::HoldersOf(device, procRoot);
}

int DiagnosisStatus(const OpenDiagnosis& d) { return d.opened && d.cause == "ok" ? 0 : 3; }

std::string DiagnosisLine(const OpenDiagnosis& d) {
  std::string line = (d.opened ? "the port " : "cannot open the port ") + EscapeMessage(d.port);
  if (d.mapping == "registry" || d.mapping == "default") {
    line += " (" + EscapeMessage(d.device) + ", " +
            (d.mapping == "registry" ? "mapped in the registry file"
             : platform::HasComDevices()
                 ? "Windows' own port: the Ports map sends it nowhere else"
                 : "the default for this name: no mapping in the registry file") +
            ")";
  }
  line += ": " + EscapeMessage(d.message);
  // The registry file only matters to COMn names.
  const bool com = d.mapping == "registry" || d.mapping == "default" || d.mapping == "none";
  if (!d.registryNote.empty() && com) line += "; also: " + EscapeMessage(d.registryNote);
  return line;
}

std::string DiagnosisJson(const OpenDiagnosis& d) {
  return tools::DumpJson({{"command", "open"},
                          {"ok", d.opened},
                          {"port", tools::JsonText(d.port)},
                          {"status", DiagnosisStatus(d)},
                          {"device", tools::JsonText(d.device)},
                          {"mapping", tools::JsonText(d.mapping)},
                          {"cause", tools::JsonText(d.cause)},
                          {"code", d.code},
                          {"message", tools::JsonText(d.message)},
                          {"registry", tools::JsonText(d.registryNote)},
                          {"explanation", tools::JsonText(DiagnosisLine(d))}});
}

}  // namespace tarvo::cli
