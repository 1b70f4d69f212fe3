// The POSIX layer's devices: one table of open devices, each of a kind that
// says how it is opened, configured and read. The terminal device is one
// kind; another (a network port, say) is added as a second DeviceKind and an
// entry in devices.cpp's list of kinds, without touching the transfers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/system.h"

namespace tarvo::sys::posix {

struct DeviceKind;

// One open device. What the Win32 DCB holds but the device does not (DTR
// control, DSR flow, the event character, ...) is kept in `shadow`, so that
// it reads back as set.
struct Device {
  const DeviceKind* kind;
  int fd;  // what poll() waits on for this device
  Dcb shadow;
  CommTimeouts timeouts;
  uint32_t eventMask;
  bool inputWaiting;  // the last read found its byte already there
  void* context;      // the kind's own per-device state, if it has any
};

// What a kind of device does. Every call returns 0 or a code.
struct DeviceKind {
  // Whether a driver's device name is one of this kind's.
  bool (*claims)(const char* name);
  // Where the named device is (a path, an address): 0, or a code when the
  // name names no device. Checked before a free slot is looked for.
  uint32_t (*resolve)(const char* name, char* where, size_t cap);
  // Opens the device at `where` into `device` (whose fd, shadow and context
  // it sets); the rest of `device` is already zeroed.
  uint32_t (*open)(const char* where, Device* device);
  void (*close)(Device* device);
  uint32_t (*getLineSettings)(Device* device, Dcb* dcb);
  uint32_t (*setLineSettings)(Device* device, const Dcb* dcb);
  uint32_t (*purge)(Device* device, bool tx, bool rx);
  uint32_t (*modemStatus)(Device* device, uint32_t* status);
  uint32_t (*escape)(Device* device, Escape code);
  // One read of what is there: 0 with *got set; kErrorIoPending when
  // nothing is; any other code when the device failed or went away.
  uint32_t (*readSome)(Device* device, void* buffer, uint32_t count, uint32_t* got);
  // Writes what the device takes now, advancing *moved; kErrorIoPending
  // while bytes remain.
  uint32_t (*writeSome)(Device* device, const unsigned char* buffer, uint32_t count,
                        uint32_t* moved);
  // The watched line events (of `mask`) that hold now.
  uint32_t (*eventsNow)(Device* device, uint32_t mask);
  // Waits at most timeoutMs for input to read: 0 when there is some,
  // kWaitTimeout when none came, any other code on failure. Null for a
  // device whose fd's readiness is its input; a device whose byte stream
  // also carries other things (a network port's Telnet commands) waits
  // until a data byte is there.
  uint32_t (*waitInput)(Device* device, uint32_t timeoutMs);
  // Whether the device heals a lost link by itself (a network port): the
  // exchange engine then leaves it open instead of opening it again, and
  // its line settings must be acknowledged for an open to succeed.
  bool heals;
};

extern const DeviceKind kTerminalDevice;
// rfc2217://HOST:PORT[?OPTIONS] names, and COMn names that the port map
// gives such a name (network.cpp).
extern const DeviceKind kNetworkDevice;

// The open device behind a handle, or null.
Device* DeviceOf(Handle handle);

}  // namespace tarvo::sys::posix
