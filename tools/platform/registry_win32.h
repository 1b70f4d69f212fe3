// The registry's values on Windows, for the host layer: the driver's keys
// read as .reg text (host_win32.cpp) and the names under SERIALCOMM
// (ports_win32.cpp) come through the one loop here.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace tarvo::platform {

struct RegistryValue {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;  // REG_SZ: the string without its terminating NUL
};

// Calls `visit` with every value of ROOT\PATH, in the registry's order. The
// buffers are as large as the key's largest name and value, so a long value
// neither is cut nor ends the walk early. False when the key can't be opened.
bool ForEachRegistryValue(HKEY root, const char* path,
                          const std::function<void(const RegistryValue&)>& visit);

}  // namespace tarvo::platform
