// The Win32 layer's devices: one table of open devices, each of a kind that
// says how it is opened, configured and transferred on, as on POSIX
// (posix/device.h). The serial port (comm.cpp) is one kind, the network
// port (network.cpp) another; adding a kind is one file and one entry in
// devices.cpp's list of kinds. A system.h Handle for a device is its entry
// in the table.
#pragma once

#include <cstdint>

#include "serial/system.h"

namespace tarvo::sys::win32 {

struct Device;

// What a kind of device does; every call returns 0 or the platform's code.
struct DeviceKind {
  // Whether the driver's device name is one of this kind's; *where
  // receives what `open` takes (a device path, a URL).
  bool (*claims)(const char* name, char (&where)[256]);
  // Opens `where` into `device`, whose slot is already the caller's.
  uint32_t (*open)(const char* where, bool overlapped, Device* device);
  void (*close)(Device* device);
  uint32_t (*setupQueues)(Device* device, uint32_t inQueue, uint32_t outQueue);
  uint32_t (*getLineSettings)(Device* device, Dcb* dcb);
  uint32_t (*setLineSettings)(Device* device, const Dcb* dcb);
  uint32_t (*getTimeouts)(Device* device, CommTimeouts* timeouts);
  uint32_t (*setTimeouts)(Device* device, const CommTimeouts* timeouts);
  uint32_t (*setEventMask)(Device* device, uint32_t mask);
  uint32_t (*purge)(Device* device, uint32_t flags);
  uint32_t (*modemStatus)(Device* device, uint32_t* status);
  uint32_t (*escape)(Device* device, Escape code);
  uint32_t (*transferNow)(Device* device, Transfer kind, void* buffer, uint32_t count,
                          uint32_t* done);
  uint32_t (*startTransfer)(Device* device, Transfer kind, void* buffer, uint32_t count,
                            uint32_t* done, IoRecord* record);
  uint32_t (*waitTransfer)(Device* device, IoRecord* record, uint32_t timeoutMs);
  uint32_t (*finishTransfer)(Device* device, IoRecord* record, uint32_t* done);
  void (*cancelTransfer)(Device* device, IoRecord* record);
  // The device heals a lost link by itself (system.h's DeviceHeals).
  bool heals;
};

// One open device: its kind and the kind's own handle (a Win32 HANDLE, a
// network port).
struct Device {
  const DeviceKind* kind;
  void* own;
};

extern const DeviceKind kCommDevice;
// rfc2217://HOST:PORT[?OPTIONS] names, and COM names that the port map
// (HKEY_LOCAL_MACHINE "SOFTWARE\TARVO\Ports") gives such a name.
extern const DeviceKind kNetworkDevice;

// "COM" and digits, without regard to case: a name the port map may hold.
bool IsComName(const char* name);

}  // namespace tarvo::sys::win32
