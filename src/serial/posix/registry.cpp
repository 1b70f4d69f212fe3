// The registry as a .reg text file ($TARVO_REGISTRY, else
// /etc/tarvo/registry.reg): loading it, the registry calls of system.h, and
// the port map that gives COM names their devices.
#include <errno.h>

#include <cstdlib>
#include <cstring>

#include "common/text.h"
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

bool IsComName(const char* name, unsigned* number) {
  if (std::strncmp(name, "COM", 3) != 0 || name[3] == '\0') return false;
  unsigned n = 0;
  for (const char* p = name + 3; *p; ++p) {
    if (*p < '0' || *p > '9' || n > 100000) return false;
    n = n * 10 + static_cast<unsigned>(*p - '0');
  }
  *number = n;
  return true;
}

}  // namespace

namespace posix {

// COM0 has no device of its own, but the port map may give it one.
uint32_t ResolveDeviceName(const char* name, char* path, size_t cap) {
  if (std::strstr(name, "/dev/") != nullptr) {
    return CopyText(path, cap, name) ? 0 : ENAMETOOLONG;
  }
  unsigned number = 0;
  if (!IsComName(name, &number)) return ENOENT;
  if (LoadRegistryFile() == 0) {
    char canonical[16];
    FormatText(canonical, sizeof canonical, nullptr, "COM%u", number);
    uint32_t size = 0;
    const char* section = "HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\Ports";
    if (regfile::ReadString(regText, regLength, section, canonical, path,
                            static_cast<uint32_t>(cap), &size) == regfile::Result::Ok ||
        regfile::ReadString(regText, regLength, section, name, path, static_cast<uint32_t>(cap),
                            &size) == regfile::Result::Ok) {
      return 0;
    }
  }
  if (number == 0) return ENOENT;
  FormatText(path, cap, nullptr, "/dev/ttyS%u", number - 1);
  return 0;
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
