#include "cli/port_map.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "driver/comm_settings.h"
#include "platform/host.h"
#include "serial/reg_file.h"
#include "serial/rfc2217.h"

namespace tarvo::cli {

// On Windows the library's settings are in the system registry, not in a
// file: its keys are read as the text of one.
constexpr const char* kSystemRegistry = "the Windows registry";

std::string RegistryPath() {
  if (platform::HasComDevices()) return kSystemRegistry;
  const char* path = std::getenv("TARVO_REGISTRY");
  return (path != nullptr && path[0] != '\0') ? path : "/etc/tarvo/registry.reg";
}

RegistryFile LoadRegistry(const std::string& path) {
  RegistryFile reg;
  reg.path = path;
  if (path == kSystemRegistry) {
    reg.present =
        platform::ExportRegistry({kPortsSection, kSettingsSection}, &reg.text, &reg.readError);
    return reg;
  }
  std::ifstream in(platform::FilePath(path), std::ios::binary);
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

// Where COM names are the system's devices, the library sends a name to
// the network port its Ports entry names, and opens the COM port of that
// name otherwise (an entry that is no rfc2217:// URL is ignored).
bool ResolveSystemCom(const RegistryFile& reg, const char* device, Resolved* out) {
  std::string url;
  if (RegistryString(reg, kPortsSection, device, &url) && rfc2217::HasScheme(url.c_str())) {
    out->device = url;
    out->source = MapSource::Registry;
  } else {
    out->device = device;
    out->source = MapSource::Default;
  }
  return true;
}

}  // namespace

bool ResolvePort(const std::string& name, const RegistryFile& reg, Resolved* out,
                 std::string* why) {
  *out = Resolved{};
  char device[kPortNameSize];
  const PortName kind = ChoosePortDevice(name.c_str(), device);
  if (kind == PortName::Refused) {
    // Where COM names are the system's own ports, a /dev/ path means nothing.
    *why = "'" + name + "' is not a port name: " + RefusalReason(name.c_str()) + " (give " +
           (platform::HasComDevices() ? "" : "a device path /dev/..., ") +
           "COMn whose fourth character is a digit 0 to 8, or rfc2217://HOST:PORT)";
    return false;
  }
  out->device = device;
  if (kind != PortName::Com) {
    out->source = MapSource::Given;
    return true;
  }
  unsigned number = 0;
  ComNumber(device, &number);
  out->number = static_cast<int>(number);
  char path[4096];
  const char* text = reg.Usable() ? reg.text.data() : nullptr;
  if (platform::HasComDevices()) return ResolveSystemCom(reg, device, out);
  switch (MapComDevice(text, reg.text.size(), device, path, sizeof path)) {
    case PortMapResult::Mapped: out->source = MapSource::Registry; break;
    case PortMapResult::Default: out->source = MapSource::Default; break;
    case PortMapResult::NoDevice:
    case PortMapResult::TooLong: out->source = MapSource::None; break;
  }
  out->device = path;
  return true;
}

std::string CommSettingsNote(const RegistryFile& reg, int* rate) {
  *rate = 115200;
  if (!reg.present && reg.path == kSystemRegistry) return "no CommSettings in " + reg.path;
  if (!reg.present) return "no registry file " + reg.path + " (" + reg.readError + ")";
  if (reg.badLine != 0) {
    return "the registry file " + reg.path + " is malformed at line " + std::to_string(reg.badLine);
  }
  std::string value;
  if (!RegistryString(reg, kSettingsSection, "CommSettings", &value)) {
    return "no CommSettings string under [" + std::string(kSettingsSection) + "] in " + reg.path;
  }
  if (value.size() + 1 > kCommSettingsRoom) {
    return "CommSettings \"" + value + "\" is longer than " +
           std::to_string(kCommSettingsRoom - 1) + " characters";
  }
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
