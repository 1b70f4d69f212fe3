// Why IniciaDriver refused a port: the device the name reached and where
// that mapping came from, and the cause, found by looking at the device the
// way the driver's open does. One line for a person, one JSON object for a
// program.
#pragma once

#include <string>

namespace tarvo::cli {

struct OpenDiagnosis {
  std::string port;
  std::string device;        // empty when the name reaches none
  std::string mapping;       // "given", "registry", "default" or "none"
  std::string cause;         // a short key: "missing", "not-a-terminal", "permission", ...
  std::string message;       // the whole explanation in one line
  std::string registryNote;  // registry file or CommSettings trouble, or empty
};

// `procRoot` is "/proc" outside tests.
OpenDiagnosis DiagnoseOpen(const std::string& port, const std::string& procRoot = "/proc");

std::string DiagnosisLine(const OpenDiagnosis& d);
std::string DiagnosisJson(const OpenDiagnosis& d);

// Processes that hold `device` open, as "PID (name)", from procRoot/*/fd.
std::string HoldersOf(const std::string& device, const std::string& procRoot);

}  // namespace tarvo::cli
