// How the library reaches a device from a port name on Linux, read with
// the library's own registry-file parser: "/dev/..." names are used as
// given; COMn goes through the registry file's Ports map, else to
// /dev/ttyS(n-1). For the tools that explain and list ports.
#pragma once

#include <string>

namespace tarvo::cli {

constexpr const char* kPortsSection = "HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\Ports";
constexpr const char* kSettingsSection = "HKEY_CLASSES_ROOT\\BelmoraPOS\\ImpressoraFiscal";
constexpr int kFirstScanPort = 7;  // the facade's scan tries COM7 .. COM22
constexpr int kLastScanPort = 22;
constexpr size_t kMaxDeviceName = 39;  // the longest "/dev/..." name IniciaDriver takes

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
