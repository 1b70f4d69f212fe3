// The command-line host's platform layer on Windows (see host.h): files,
// the environment, Win32 codes, and what Windows tells of COM ports. The
// console is in console_win32.cpp.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/host.h"
#include "platform/registry_win32.h"
#include "platform/text_win32.h"

namespace tarvo::platform {

// Through the wide environment: the C runtime gives the library (getenv)
// the value in the ANSI code page.
bool SetEnvironment(const char* name, const std::string& value) {
  return _wputenv_s(Wide(name).c_str(), Wide(value).c_str()) == 0;
}

// An empty value removes the variable.
void UnsetEnvironment(const char* name) { _wputenv_s(Wide(name).c_str(), L""); }

std::string MakeTemporaryDirectory(const std::string& prefix) {
  wchar_t tmp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, tmp);
  if (n == 0 || n > MAX_PATH) return "";
  const std::string base = Utf8(tmp) + prefix + std::to_string(GetCurrentProcessId());
  for (unsigned i = 0; i < 100; ++i) {
    const std::string dir = base + "." + std::to_string(GetTickCount() + i);
    if (CreateDirectoryW(Wide(dir).c_str(), nullptr) != 0) return dir;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return "";
  }
  return "";
}

int OpenRegularFile(const std::string& path, bool write, std::string* error) {
  const std::wstring wide = Wide(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    *error = path + " is a symbolic link: not followed";
    return -1;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *error = path + " is not a regular file";
    return -1;
  }
  const int flags = (write ? _O_WRONLY | _O_CREAT : _O_RDONLY) | _O_BINARY | _O_NOINHERIT;
  const int fd = _wopen(wide.c_str(), flags, _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    *error = path + ": " + CodeText(static_cast<int>(GetLastError()));
    return -1;
  }
  // A device name (COM1, NUL, CON) opens like a file: refused.
  if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != FILE_TYPE_DISK) {
    _close(fd);
    *error = path + " is not a regular file";
    return -1;
  }
  return fd;
}

bool RemoveRegularFile(const std::string& path) {
  const std::wstring wide = Wide(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  const DWORD notRegular = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & notRegular) == 0 &&
         DeleteFileW(wide.c_str()) != 0;
}

namespace {

struct CodeName {
  DWORD code;
  const char* name;
};
constexpr CodeName kCodeNames[] = {
    {ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND"},
    {ERROR_PATH_NOT_FOUND, "ERROR_PATH_NOT_FOUND"},
    {ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED"},
    {ERROR_SHARING_VIOLATION, "ERROR_SHARING_VIOLATION"},
    {ERROR_INVALID_NAME, "ERROR_INVALID_NAME"},
    {ERROR_GEN_FAILURE, "ERROR_GEN_FAILURE"},
    {ERROR_SEM_TIMEOUT, "ERROR_SEM_TIMEOUT"},
    {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
    {ERROR_NOT_READY, "ERROR_NOT_READY"},
    {ERROR_DEVICE_NOT_CONNECTED, "ERROR_DEVICE_NOT_CONNECTED"},
    {ERROR_TOO_MANY_OPEN_FILES, "ERROR_TOO_MANY_OPEN_FILES"},
    {WSAECONNREFUSED, "WSAECONNREFUSED"},
    {WSAETIMEDOUT, "WSAETIMEDOUT"},
    {WSAEHOSTUNREACH, "WSAEHOSTUNREACH"},
    {WSAENETUNREACH, "WSAENETUNREACH"},
    {WSAECONNRESET, "WSAECONNRESET"},
    {WSAHOST_NOT_FOUND, "WSAHOST_NOT_FOUND"},
};

}  // namespace

std::string CodeText(int code) {
  std::string text;
  for (const auto& c : kCodeNames) {
    if (c.code == static_cast<DWORD>(code)) text = c.name;
  }
  text += (text.empty() ? "Win32 code " : " (") + std::to_string(code) + (text.empty() ? "" : ")");
  char message[512] = {};
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  const DWORD n =
      FormatMessageA(flags, nullptr, static_cast<DWORD>(code), 0, message, sizeof message, nullptr);
  std::string said(message, n);
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == ' ')) {
    said.pop_back();
  }
  return said.empty() ? text : text + ": " + said;
}

bool HasComDevices() { return true; }

bool ForEachRegistryValue(HKEY root, const char* path,
                          const std::function<void(const RegistryValue&)>& visit) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD count = 0, longestName = 0, longestData = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longestName,
                   &longestData, nullptr, nullptr);
  std::string name(longestName + 1, '\0');
  std::string data(longestData + 1, '\0');
  for (DWORD i = 0; i < count; ++i) {
    DWORD nameSize = longestName + 1;
    DWORD dataSize = longestData;
    RegistryValue v;
    if (RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &v.type,
                      reinterpret_cast<BYTE*>(data.data()), &dataSize) != ERROR_SUCCESS) {
      continue;  // changed under us since the sizes were read: the others still count
    }
    v.name.assign(name.data(), nameSize);
    v.data.assign(data.data(), dataSize);
    if (v.type == REG_SZ) v.data.resize(std::strlen(v.data.c_str()));
    visit(v);
  }
  RegCloseKey(key);
  return true;
}

namespace {

// A string the .reg grammar takes: only \\ and \" are escaped.
std::string RegQuoted(const char* text) {
  std::string out = "\"";
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '\\' || *c == '"') out += '\\';
    out += *c;
  }
  return out + "\"";
}

// The key's string values as a .reg section; false when the key is not there.
bool ExportKey(HKEY root, const char* path, const char* section, std::string* text) {
  std::string values;
  const bool found = ForEachRegistryValue(root, path, [&](const RegistryValue& v) {
    values += RegQuoted(v.name.c_str()) + "=" +
              (v.type == REG_SZ ? RegQuoted(v.data.c_str()) : "dword:00000000") + "\r\n";
  });
  if (found) *text += "\r\n[" + std::string(section) + "]\r\n" + values;
  return found;
}

}  // namespace

bool ExportRegistry(const std::vector<std::string>& keys, std::string* text, std::string* error) {
  *text = "Windows Registry Editor Version 5.00\r\n";
  bool found = false;
  for (const auto& whole : keys) {
    const size_t slash = whole.find('\\');
    const std::string root = whole.substr(0, slash);
    const HKEY hive = root == "HKEY_CLASSES_ROOT"   ? HKEY_CLASSES_ROOT
                      : root == "HKEY_CURRENT_USER" ? HKEY_CURRENT_USER
                                                    : HKEY_LOCAL_MACHINE;
    if (slash != std::string::npos &&
        ExportKey(hive, whole.c_str() + slash + 1, whole.c_str(), text)) {
      found = true;
    }
  }
  if (!found) *error = "none of its keys is in the registry";
  return found;
}

namespace {

// COM10 and above open only as \\.\COM10; the prefix works for every port.
std::string DevicePath(const std::string& device) {
  return device.rfind("\\\\.\\", 0) == 0 ? device : "\\\\.\\" + device;
}

DeviceFailure FailureOf(DWORD code) {
  switch (code) {
    case ERROR_SUCCESS: return DeviceFailure::None;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return DeviceFailure::Missing;
    // Windows opens a COM port for one program at a time; the next one is
    // told access denied (or, by some drivers, a sharing violation).
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return DeviceFailure::Busy;
    default: return DeviceFailure::Other;
  }
}

}  // namespace

DeviceProbe ProbeDevice(const std::string& device, int code, const std::string&) {
  DeviceProbe p;
  HANDLE h = CreateFileA(DevicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  const DWORD opened = h == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  const bool serial = h != INVALID_HANDLE_VALUE && GetCommState(h, &dcb) != 0;
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  // The driver's own failure counts when this open succeeds (a port that
  // was busy a moment ago).
  const DWORD e = opened != ERROR_SUCCESS ? opened : static_cast<DWORD>(code);
  p.code = static_cast<int>(e);
  p.failure = FailureOf(e);
  if (opened == ERROR_SUCCESS && !serial) p.failure = DeviceFailure::NotSerial;
  if (p.failure == DeviceFailure::None) p.failure = DeviceFailure::Other;
  if (e != ERROR_SUCCESS) p.codeText = CodeText(p.code);
  return p;
}

// Windows tells which program holds a file through the Restart Manager,
// but not which holds a COM port: the holder is not named.
std::string HoldersOf(const std::string&, const std::string&) { return ""; }

std::string DeviceState(const std::string& device) {
  const DeviceProbe p = ProbeDevice(device, 0, "");
  switch (p.failure) {
    case DeviceFailure::Missing: return "missing: no such COM port (adapter unplugged?)";
    case DeviceFailure::NotSerial: return "not a serial device";
    case DeviceFailure::Busy: return "present (in use by a program)";
    default: return "present";
  }
}

// UTF-8 to UTF-16 and back: the tools' text and Windows' wide file calls.
std::filesystem::path FilePath(const std::string& utf8) { return Wide(utf8); }

std::string FileNameText(const std::filesystem::path& name) { return Utf8(name.native()); }

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

}  // namespace tarvo::platform
