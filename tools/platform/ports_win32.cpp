// Windows' COM ports (see host.h): SetupAPI's present devices of the
// COM-port interface and the Ports class, with what their USB adapter
// tells; where SetupAPI has none (Wine, some virtual-port drivers), the
// names under HARDWARE\DEVICEMAP\SERIALCOMM.
#include <windows.h>
// windows.h first (SetupAPI's headers need its types), then initguid.h so
// that the class and interface GUIDs are defined here.
#include <initguid.h>
// The GUIDs.
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>

#include "platform/host.h"
#include "platform/registry_win32.h"

namespace tarvo::platform {

namespace {

// GUID_DEVINTERFACE_COMPORT, whose header (ntddser.h) is the kernel's.
DEFINE_GUID(kComPortInterface, 0x86E0D1E0L, 0x8089, 0x11D0, 0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30,
            0x1F, 0x73);

std::string Property(HDEVINFO set, SP_DEVINFO_DATA* info, DWORD property) {
  char value[1024] = {};
  DWORD type = 0;
  if (SetupDiGetDeviceRegistryPropertyA(set, info, property, &type, reinterpret_cast<BYTE*>(value),
                                        sizeof value - 1, nullptr) == 0) {
    return "";
  }
  return value;  // REG_MULTI_SZ: its first string
}

std::string PortName(HDEVINFO set, SP_DEVINFO_DATA* info) {
  HKEY key = SetupDiOpenDevRegKey(set, info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return "";
  char name[64] = {};
  DWORD size = sizeof name - 1;
  DWORD type = 0;
  const LONG code =
      RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
  RegCloseKey(key);
  return code == ERROR_SUCCESS && type == REG_SZ ? name : "";
}

// "USB\VID_0403&PID_6001\A50285BI": the vendor, the product and, for a
// device with a serial number, the instance's last part.
void ReadUsbFacts(const std::string& instance, SystemPort* p) {
  const size_t vid = instance.find("VID_");
  const size_t pid = instance.find("PID_");
  if (vid == std::string::npos || pid == std::string::npos) return;
  p->vid = instance.substr(vid + 4, 4);
  p->pid = instance.substr(pid + 4, 4);
  const size_t last = instance.rfind('\\');
  const std::string serial = last == std::string::npos ? "" : instance.substr(last + 1);
  // Windows makes up an instance with '&' for a device without a number.
  if (!serial.empty() && serial.find('&') == std::string::npos) p->serial = serial;
}

void AddDevices(const GUID* guid, DWORD flags, std::vector<SystemPort>* ports) {
  HDEVINFO set = SetupDiGetClassDevsA(guid, nullptr, nullptr, flags | DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info) != 0; ++i) {
    SystemPort p;
    p.name = PortName(set, &info);
    if (p.name.rfind("COM", 0) != 0) continue;  // a printer port (LPT1) of the class
    const bool seen = std::any_of(ports->begin(), ports->end(),
                                  [&](const SystemPort& q) { return q.name == p.name; });
    if (seen) continue;
    p.device = p.name;
    p.friendlyName = Property(set, &info, SPDRP_FRIENDLYNAME);
    p.manufacturer = Property(set, &info, SPDRP_MFG);
    p.product = Property(set, &info, SPDRP_DEVICEDESC);
    p.driver = Property(set, &info, SPDRP_SERVICE);
    p.subsystem = Property(set, &info, SPDRP_ENUMERATOR_NAME);
    char instance[512] = {};
    if (SetupDiGetDeviceInstanceIdA(set, &info, instance, sizeof instance, nullptr) != 0) {
      ReadUsbFacts(instance, &p);
    }
    ports->push_back(std::move(p));
  }
  SetupDiDestroyDeviceInfoList(set);
}

void AddSerialComm(std::vector<SystemPort>* ports) {
  ForEachRegistryValue(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM",
                       [&](const RegistryValue& v) {
                         if (v.type != REG_SZ) return;
                         SystemPort p;
                         p.name = v.data;
                         p.device = v.data;
                         p.driver = v.name;  // the kernel's device (\Device\Serial0)
                         ports->push_back(std::move(p));
                       });
}

unsigned ComNumberOf(const std::string& name) {
  return static_cast<unsigned>(std::strtoul(name.c_str() + 3, nullptr, 10));
}

}  // namespace

std::vector<SystemPort> ListSystemPorts(const std::string&, const std::string&) {
  std::vector<SystemPort> ports;
  AddDevices(&kComPortInterface, DIGCF_DEVICEINTERFACE, &ports);
  AddDevices(&GUID_DEVCLASS_PORTS, 0, &ports);
  if (ports.empty()) AddSerialComm(&ports);
  std::sort(ports.begin(), ports.end(), [](const SystemPort& a, const SystemPort& b) {
    return ComNumberOf(a.name) < ComNumberOf(b.name);
  });
  return ports;
}

}  // namespace tarvo::platform
