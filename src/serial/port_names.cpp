#include "serial/port_names.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "common/text.h"
#include "serial/reg_file.h"
#include "serial/rfc2217.h"

namespace tarvo {

PortName ChoosePortDevice(const char* name, char (&device)[kPortNameSize]) {
  device[0] = '\0';
  if (rfc2217::HasScheme(name)) {
    rfc2217::Url url;
    if (!rfc2217::ParseUrl(name, &url) || !CopyText(device, name)) return PortName::Refused;
    return PortName::Network;
  }
  if (std::strstr(name, "/dev/") != nullptr) {
    return CopyText(device, name) ? PortName::Device : PortName::Refused;
  }
  if (BoundedLength(name, 4) < 4 || name[3] < '0' || name[3] > '8') return PortName::Refused;
  size_t digits = 0;
  while (name[3 + digits] >= '0' && name[3 + digits] <= '9') ++digits;
  CopyText(device, "COM");
  if (!AppendBytes(device, sizeof device, name + 3, digits)) return PortName::Refused;
  return PortName::Com;
}

const char* RefusalReason(const char* name) {
  if (rfc2217::HasScheme(name)) {
    rfc2217::Url url;
    if (!rfc2217::ParseUrl(name, &url)) return "not a network URL rfc2217://HOST:PORT[?ignorects]";
  }
  char device[kPortNameSize];
  if (ChoosePortDevice(name, device) != PortName::Refused) return "";
  if (rfc2217::HasScheme(name) || std::strstr(name, "/dev/") != nullptr) {
    return "longer than the 39 characters the driver takes";
  }
  if (BoundedLength(name, 4) < 4 || name[3] < '0' || name[3] > '8') {
    return "the fourth character must be a digit 0 to 8";
  }
  return "longer than the 39 characters the driver takes";
}

bool ComNumber(const char* device, unsigned* number) {
  if (std::strncmp(device, "COM", 3) != 0 || device[3] == '\0') return false;
  unsigned n = 0;
  for (const char* p = device + 3; *p; ++p) {
    if (*p < '0' || *p > '9' || n > 100000) return false;
    n = n * 10 + static_cast<unsigned>(*p - '0');
  }
  *number = n;
  return true;
}

PortMapResult MapComDevice(const char* regText, size_t regLength, const char* device, char* path,
                           size_t cap) {
  path[0] = '\0';
  unsigned number = 0;
  if (!ComNumber(device, &number)) return PortMapResult::NoDevice;
  if (regText != nullptr && regfile::Validate(regText, regLength) == regfile::Result::Ok) {
    char canonical[16];
    FormatText(canonical, sizeof canonical, nullptr, "COM%u", number);
    const auto room = static_cast<uint32_t>(cap);
    uint32_t size = 0;
    for (const char* key : {static_cast<const char*>(canonical), device}) {
      switch (regfile::ReadString(regText, regLength, kPortsSection, key, path, room, &size)) {
        case regfile::Result::Ok: return PortMapResult::Mapped;
        case regfile::Result::TooLarge: return PortMapResult::TooLong;
        default: break;
      }
    }
  }
  if (number == 0) return PortMapResult::NoDevice;
  return FormatText(path, cap, nullptr, "/dev/ttyS%u", number - 1) ? PortMapResult::Default
                                                                   : PortMapResult::TooLong;
}

}  // namespace tarvo
