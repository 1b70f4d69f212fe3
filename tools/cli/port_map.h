// How the library reaches a device from a port name on Linux, through the
// library's own rule (serial/port_names.h) and registry-file parser. For
// the tools that explain and list ports.
#pragma once

#include <string>

#include "serial/port_names.h"

namespace tarvo::cli {

using tarvo::kFirstScanPort;
using tarvo::kLastScanPort;
using tarvo::kPortsSection;
using tarvo::kSettingsSection;

struct RegistryFile {
  std::string path;
  bool present = false;   // read successfully
  std::string readError;  // why it could not be read
  size_t badLine = 0;     // first line outside the grammar, 0 when well formed
  std::string text;
  bool Usable() const { return present && badLine == 0; }
};

// $TARVO_REGISTRY, or /etc/tarvo/registry.reg.
std::string RegistryPath();
RegistryFile LoadRegistry(const std::string& path);

// The string value of a section, or false.
bool RegistryString(const RegistryFile& reg, const char* section, const std::string& name,
                    std::string* value);

enum class MapSource { Given, Registry, Default, None };

struct Resolved {
  std::string device;
  MapSource source = MapSource::None;
  int number = -1;  // the COM number, -1 for a "/dev/" name
};

// The device a port name reaches, as the library chooses it. False with
// *why set when IniciaDriver refuses the name itself.
bool ResolvePort(const std::string& name, const RegistryFile& reg, Resolved* out, std::string* why);

// What the registry file's CommSettings means for the line rate: empty when
// it is used as it stands, else why it is ignored (the line then runs at
// 115200).
std::string CommSettingsNote(const RegistryFile& reg, int* rate);

}  // namespace tarvo::cli
