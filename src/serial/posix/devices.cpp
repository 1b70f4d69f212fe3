// The table of open devices and the device calls of system.h, each passed
// to the kind of the device it is made on. A device name picks its kind;
// the terminal device takes every name no other kind claims.
#include <errno.h>

#include <cstring>

#include "serial/posix/device.h"
#include "serial/posix/posix_util.h"
#include "serial/slots.h"
#include "serial/system.h"

namespace tarvo::sys {

namespace posix {
namespace {

constexpr int kMaxDevices = 8;
Device devices[kMaxDevices];
Slots<kMaxDevices> slots;

// Searched in order; the last one takes any name.
const DeviceKind* const kKinds[] = {&kNetworkDevice, &kTerminalDevice};

const DeviceKind& KindFor(const char* name) {
  for (const DeviceKind* kind : kKinds) {
    if (kind->claims(name)) return *kind;
  }
  return kTerminalDevice;
}

}  // namespace

Device* DeviceOf(Handle handle) {
  auto* d = static_cast<Device*>(handle);
  for (size_t i = 0; i < kMaxDevices; ++i) {
    if (&devices[i] == d && slots.IsOpen(i)) return d;
  }
  return nullptr;
}

}  // namespace posix

using posix::Device;
using posix::DeviceOf;

uint32_t OpenDevice(const char* name, bool /*overlapped*/, Handle* device) {
  *device = nullptr;
  const posix::DeviceKind& kind = posix::KindFor(name);
  char where[256];
  if (uint32_t code = kind.resolve(name, where, sizeof where)) return code;
  const int i = posix::slots.Claim();
  if (i < 0) return EMFILE;
  Device* slot = &posix::devices[i];
  std::memset(slot, 0, sizeof *slot);
  slot->kind = &kind;
  if (uint32_t code = kind.open(where, slot)) {
    posix::slots.Release(i);
    return code;
  }
  posix::slots.Publish(i);
  *device = slot;
  return 0;
}

void CloseDevice(Handle device) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return;
  d->kind->close(d);
  posix::slots.Release(static_cast<int>(d - posix::devices));
}

uint32_t SetupQueues(Handle device, uint32_t, uint32_t) {
  // The kernel sizes its own queues; accepted for any open device.
  return DeviceOf(device) ? 0 : EBADF;
}

uint32_t GetLineSettings(Handle device, Dcb* dcb) {
  Device* d = DeviceOf(device);
  return d == nullptr ? EBADF : d->kind->getLineSettings(d, dcb);
}

uint32_t SetLineSettings(Handle device, const Dcb* dcb) {
  Device* d = DeviceOf(device);
  return d == nullptr ? EBADF : d->kind->setLineSettings(d, dcb);
}

uint32_t GetTimeouts(Handle device, CommTimeouts* timeouts) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  *timeouts = d->timeouts;
  return 0;
}

uint32_t SetTimeouts(Handle device, const CommTimeouts* timeouts) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  d->timeouts = *timeouts;
  return 0;
}

uint32_t SetEventMask(Handle device, uint32_t mask) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  d->eventMask = mask;
  return 0;
}

uint32_t PurgeQueues(Handle device, uint32_t flags) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  const bool tx = flags & kPurgeTxClear;
  const bool rx = flags & kPurgeRxClear;
  if (!tx && !rx) return 0;
  return d->kind->purge(d, tx, rx);
}

uint32_t GetModemStatus(Handle device, uint32_t* status) {
  Device* d = DeviceOf(device);
  return d == nullptr ? EBADF : d->kind->modemStatus(d, status);
}

bool DeviceHeals(Handle device) {
  Device* d = DeviceOf(device);
  return d != nullptr && d->kind->heals;
}

uint32_t EscapeFunction(Handle device, Escape code) {
  Device* d = DeviceOf(device);
  return d == nullptr ? EBADF : d->kind->escape(d, code);
}

}  // namespace tarvo::sys
