#include "cli/port_map.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "driver/comm_settings.h"
#include "serial/reg_file.h"
#include "serial/rfc2217.h"

namespace tarvo::cli {

std::string RegistryPath() {
  const char* path = std::getenv("TARVO_REGISTRY");
  return (path != nullptr && path[0] != '\0') ? path : "/etc/tarvo/registry.reg";
}

RegistryFile LoadRegistry(const std::string& path) {
  RegistryFile reg;
  reg.path = path;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    reg.readError = std::strerror(errno);
    return reg;
  }
  std::stringstream s;
  s << in.rdbuf();
  reg.text = s.str();
  reg.present = true;
  reg.badLine = regfile::FirstBadLine(reg.text.data(), reg.text.size());
  return reg;
}

bool RegistryString(const RegistryFile& reg, const char* section, const std::string& name,
                    std::string* value) {
  if (!reg.Usable()) return false;
  char out[4096];
  uint32_t size = 0;
  if (regfile::ReadString(reg.text.data(), reg.text.size(), section, name.c_str(), out, sizeof out,
                          &size) != regfile::Result::Ok) {
    return false;
  }
  *value = out;
  return true;
}

namespace {

// The COM number after the first three characters, as IniciaDriver reads
// it: a first digit 0 to 8, then every digit that follows.
bool ComNumber(const std::string& name, int* number, std::string* why) {
  if (name.size() < 4 || name[3] < '0' || name[3] > '8') {
    *why = "'" + name +
           "' is not a port name: give a device path (/dev/...) or COMn, whose fourth "
           "character is a digit 0 to 8";
    return false;
  }
  size_t end = 3;
  long n = 0;
  while (end < name.size() && name[end] >= '0' && name[end] <= '9' && n < 100000) {
    n = n * 10 + (name[end++] - '0');
  }
  *number = static_cast<int>(n);
  return true;
}

}  // namespace

bool ResolvePort(const std::string& name, const RegistryFile& reg, Resolved* out,
                 std::string* why) {
  *out = Resolved{};
  if (rfc2217::HasScheme(name.c_str())) {
    rfc2217::Url url;
    if (!rfc2217::ParseUrl(name.c_str(), &url)) {
      *why = "'" + name + "' is not a network port's URL: rfc2217://HOST:PORT[?ignorects]";
      return false;
    }
  }
  if (rfc2217::HasScheme(name.c_str()) || name.find("/dev/") != std::string::npos) {
    if (name.size() > kMaxDeviceName) {
      *why = "the name " + name + " is " + std::to_string(name.size()) +
             " characters long; the driver takes at most " + std::to_string(kMaxDeviceName) +
             " (use a shorter link, or map it to a COMn name in the registry file)";
      return false;
    }
    out->device = name;
    out->source = MapSource::Given;
    return true;
  }
  if (!ComNumber(name, &out->number, why)) return false;
  const std::string canonical = "COM" + std::to_string(out->number);
  if (RegistryString(reg, kPortsSection, canonical, &out->device) ||
      RegistryString(reg, kPortsSection, name, &out->device)) {
    out->source = MapSource::Registry;
    return true;
  }
  if (out->number == 0) {
    out->source = MapSource::None;
    return true;
  }
  out->device = "/dev/ttyS" + std::to_string(out->number - 1);
  out->source = MapSource::Default;
  return true;
}

std::string CommSettingsNote(const RegistryFile& reg, int* rate) {
  *rate = 115200;
  if (!reg.present) return "no registry file " + reg.path + " (" + reg.readError + ")";
  if (reg.badLine != 0) {
    return "the registry file " + reg.path + " is malformed at line " + std::to_string(reg.badLine);
  }
  std::string value;
  if (!RegistryString(reg, kSettingsSection, "CommSettings", &value)) {
    return "no CommSettings string under [" + std::string(kSettingsSection) + "] in " + reg.path;
  }
  // The driver reads at most 20 bytes, the terminator included.
  if (value.size() + 1 > 20) return "CommSettings \"" + value + "\" is longer than 19 characters";
  const CommSettingsCheck check = CheckCommSettings(value.c_str(), value.size() + 1);
  if (check.Usable()) {
    *rate = check.rate;
    return "";
  }
  std::string bad;
  if (!check.rateOk) bad += " rate " + std::to_string(check.rate);
  if (!check.sizeOk) bad += " data bits";
  if (!check.parityOk) bad += " parity";
  if (!check.stopOk) bad += " stop bits";
  return "CommSettings \"" + value + "\" ignored (bad" + bad +
         "; it must read like COM1:57600,E,8,1 with 19200, 38400, 57600 or 115200)";
}

}  // namespace tarvo::cli
