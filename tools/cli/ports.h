// `tarvo ports`: the serial ports of this machine, what is plugged into
// them, and how the driver's port names reach them.
#pragma once

#include <string>
#include <vector>

#include "cli/port_map.h"
#include "platform/host.h"

namespace tarvo::cli {

struct PortRoots {
  std::string sys = "/sys";  // $TARVO_SYS_ROOT in tests
  std::string dev = "/dev";  // $TARVO_DEV_ROOT in tests
};

// What the system tells of the port (name, device, by-id links, driver,
// bus, USB facts), and the COMn names that reach it.
struct PortInfo : platform::SystemPort {
  std::vector<std::string> mappedAs;   // COMn names the registry's Ports map gives it
  std::vector<std::string> defaultAs;  // COMn names that reach it by default (ttyS)
  std::vector<std::string> scannedAs;  // COMn names of the facade's scan that reach it
};

// The tty entries of sys/class/tty that have a device behind them.
std::vector<PortInfo> ListPorts(const PortRoots& roots);

// One entry of the registry file's Ports map, and what is at its device
// now: "missing: ...", "pseudo-terminal", "present", "network port ...",
// or "never used: ..." for a name the driver refuses (COM9, COMU).
struct Mapping {
  std::string name;
  std::string device;
  std::string state;
};
std::vector<Mapping> RegistryMappings(const RegistryFile& reg);

// COM7 to COM22 that reach a device that is there: what the start-up's
// scan can find ("no port" when none).
std::string ScanReach(const RegistryFile& reg);

// Marks each port with the COMn names that reach it: through the registry's
// Ports map, and among COM7..COM22 that the facade's scan tries.
void MarkMappings(const RegistryFile& reg, std::vector<PortInfo>* ports);

// Registry lines a technician can paste: one COMn per port that no COMn
// reaches yet, numbered from COM7 so that the facade's scan finds it, with
// the stable /dev/serial/by-id name when there is one.
std::string SuggestedPortsLines(const RegistryFile& reg, const std::vector<PortInfo>& ports);

std::string FormatPorts(const std::vector<PortInfo>& ports, const RegistryFile& reg);
std::string FormatPortsJson(const std::vector<PortInfo>& ports, const RegistryFile& reg);

// The whole command: argv after "ports". Returns the exit status.
int RunPorts(const std::vector<std::string>& args);

}  // namespace tarvo::cli
