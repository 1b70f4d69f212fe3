// `tarvo why PORT`: opens the port the way IniciaDriver does (through the
// driver itself, network ports connected and negotiated), and when it does
// not open, says why: the device the name reached and where that mapping
// came from, and the cause found at the device. One line for a person, one
// JSON object for a program.
#pragma once

#include <functional>
#include <string>

namespace tarvo::cli {

// What the driver made of the port: opened (and closed again), refused
// the name, or failed to open it with `code` (the system's, from the
// driver's own trace line; 0 when it told none).
struct OpenAttempt {
  bool opened = false;
  bool refused = false;
  int code = 0;
};
using PortOpener = std::function<OpenAttempt(const std::string& port)>;

struct OpenDiagnosis {
  std::string port;
  std::string device;        // empty when the name reaches none
  std::string mapping;       // "given", "registry", "default" or "none"
  std::string cause;         // "ok", "held", "missing", "permission", "busy", ...
  std::string message;       // the whole explanation in one line
  std::string registryNote;  // registry file or CommSettings trouble, or empty
  bool opened = false;       // the driver opened it
  int code = 0;              // the open's code, when the driver told it
};

// `procRoot` is "/proc" outside tests; without an opener only the device
// is looked at.
OpenDiagnosis DiagnoseOpen(const std::string& port, const std::string& procRoot = "/proc",
                           const PortOpener& open = nullptr);

// 0 when the port opened and no other process holds it, else 3.
int DiagnosisStatus(const OpenDiagnosis& d);

std::string DiagnosisLine(const OpenDiagnosis& d);
std::string DiagnosisJson(const OpenDiagnosis& d);

// Processes that hold `device` open, as "process PID (name)", from
// procRoot/*/fd: a descriptor that names the device or reaches the same
// character device (a by-id link, another name).
std::string HoldersOf(const std::string& device, const std::string& procRoot);

// What to do about a device the user may not open, from its real owner,
// group and mode.
std::string PermissionAdvice(const std::string& device, const std::string& owner,
                             const std::string& group, unsigned mode);

}  // namespace tarvo::cli
