// The registry as a .reg text file ($TARVO_REGISTRY, else
// /etc/tarvo/registry.reg): loading it, the registry calls of system.h, and
// the port map that gives COM names their devices.
#include <errno.h>

#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "serial/port_names.h"
#include "serial/posix/posix_util.h"
#include "serial/reg_file.h"
#include "serial/system.h"

namespace tarvo::sys {

namespace {

struct Key {
  bool used;
  char section[128];
};
Key keys[2];

const char* RegistryPath() {
  const char* path = std::getenv("TARVO_REGISTRY");
  return (path != nullptr && path[0] != '\0') ? path : "/etc/tarvo/registry.reg";
}

// The registry file, read whole into one buffer; a larger file is treated
// as malformed.
char regText[65536];
size_t regLength = 0;

uint32_t LoadRegistryFile() {
  if (!posix::ReadWholeFile(RegistryPath(), regText, sizeof regText, &regLength)) {
    return posix::LastErrno();
  }
  if (regfile::Validate(regText, regLength) != regfile::Result::Ok) return EINVAL;
  return 0;
}

}  // namespace

namespace posix {

// COM0 has no device of its own, but the port map may give it one.
uint32_t ResolveDeviceName(const char* name, char* path, size_t cap) {
  if (std::strstr(name, "/dev/") != nullptr) {
    return CopyText(path, cap, name) ? 0 : ENAMETOOLONG;
  }
  const bool haveMap = LoadRegistryFile() == 0;
  switch (MapComDevice(haveMap ? regText : nullptr, regLength, name, path, cap)) {
    case PortMapResult::Mapped:
    case PortMapResult::Default: return 0;
    case PortMapResult::TooLong: return ENAMETOOLONG;
    case PortMapResult::NoDevice: break;
  }
  return ENOENT;
}

}  // namespace posix

uint32_t RegistryOpenKey(const char* subKey, Handle* key) {
  *key = nullptr;
  if (uint32_t code = LoadRegistryFile()) return code;
  Key* slot = nullptr;
  for (auto& k : keys) {
    if (!k.used) {
      slot = &k;
      break;
    }
  }
  if (slot == nullptr) return EMFILE;
  if (!FormatText(slot->section, sizeof slot->section, nullptr, "HKEY_CLASSES_ROOT\\%s", subKey)) {
    return ENAMETOOLONG;
  }
  if (regfile::FindSection(regText, regLength, slot->section) != regfile::Result::Ok) return ENOENT;
  slot->used = true;
  *key = slot;
  return 0;
}

uint32_t RegistryQueryValue(Handle key, const char* valueName, char* data, uint32_t* size) {
  auto* k = static_cast<Key*>(key);
  if (k == nullptr || !k->used) return EBADF;
  switch (regfile::ReadString(regText, regLength, k->section, valueName, data, *size, size)) {
    case regfile::Result::Ok: return 0;
    case regfile::Result::TooLarge: return kErrorMoreData;
    case regfile::Result::NotText: return EINVAL;
    default: return ENOENT;
  }
}

void RegistryCloseKey(Handle key) {
  if (key != nullptr) static_cast<Key*>(key)->used = false;
}

}  // namespace tarvo::sys
