// The table of open devices and the device and transfer calls of system.h,
// each passed to the kind of the device it is made on. A device name picks
// its kind; the serial port takes every name no other kind claims.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "serial/slots.h"
#include "serial/system.h"
#include "serial/win32/device.h"

namespace tarvo::sys {

namespace {

using win32::Device;
using win32::DeviceKind;

constexpr int kMaxDevices = 8;
Device devices[kMaxDevices];
Slots<kMaxDevices> slots;

// Searched in order; the last one takes any name.
const DeviceKind* const kKinds[] = {&win32::kNetworkDevice, &win32::kCommDevice};

Device* DeviceOf(Handle handle) {
  for (size_t i = 0; i < kMaxDevices; ++i) {
    if (&devices[i] == handle && slots.IsOpen(i)) return &devices[i];
  }
  return nullptr;
}

}  // namespace

uint32_t OpenDevice(const char* name, bool overlapped, Handle* device) {
  *device = nullptr;
  char where[256];
  const DeviceKind* kind = &win32::kCommDevice;
  for (const DeviceKind* k : kKinds) {
    if (k->claims(name, where)) {
      kind = k;
      break;
    }
  }
  // The slot is claimed before the open, which may take time: no other
  // open may take it meanwhile, and a failed one gives it back.
  const int i = slots.Claim();
  if (i < 0) return ERROR_TOO_MANY_OPEN_FILES;
  devices[i] = Device{kind, nullptr};
  if (uint32_t code = kind->open(where, overlapped, &devices[i])) {
    slots.Release(i);
    return code;
  }
  slots.Publish(i);
  *device = &devices[i];
  return 0;
}

void CloseDevice(Handle device) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return;
  d->kind->close(d);
  slots.Release(static_cast<int>(d - devices));
}

bool DeviceHeals(Handle device) {
  Device* d = DeviceOf(device);
  return d != nullptr && d->kind->heals;
}

// Each call on a handle that is no open device fails as Win32 fails it.
#define TARVO_ON_DEVICE(call)                    \
  Device* d = DeviceOf(device);                  \
  if (d == nullptr) return ERROR_INVALID_HANDLE; \
  return d->kind->call

uint32_t SetupQueues(Handle device, uint32_t inQueue, uint32_t outQueue) {
  TARVO_ON_DEVICE(setupQueues(d, inQueue, outQueue));
}
uint32_t GetLineSettings(Handle device, Dcb* dcb) { TARVO_ON_DEVICE(getLineSettings(d, dcb)); }
uint32_t SetLineSettings(Handle device, const Dcb* dcb) {
  TARVO_ON_DEVICE(setLineSettings(d, dcb));
}
uint32_t GetTimeouts(Handle device, CommTimeouts* timeouts) {
  TARVO_ON_DEVICE(getTimeouts(d, timeouts));
}
uint32_t SetTimeouts(Handle device, const CommTimeouts* timeouts) {
  TARVO_ON_DEVICE(setTimeouts(d, timeouts));
}
uint32_t SetEventMask(Handle device, uint32_t mask) { TARVO_ON_DEVICE(setEventMask(d, mask)); }
uint32_t PurgeQueues(Handle device, uint32_t flags) { TARVO_ON_DEVICE(purge(d, flags)); }
uint32_t GetModemStatus(Handle device, uint32_t* status) {
  TARVO_ON_DEVICE(modemStatus(d, status));
}
uint32_t EscapeFunction(Handle device, Escape code) { TARVO_ON_DEVICE(escape(d, code)); }
uint32_t TransferNow(Handle device, Transfer kind, void* buffer, uint32_t count, uint32_t* done) {
  TARVO_ON_DEVICE(transferNow(d, kind, buffer, count, done));
}
uint32_t StartTransfer(Handle device, Transfer kind, void* buffer, uint32_t count, uint32_t* done,
                       IoRecord* record) {
  TARVO_ON_DEVICE(startTransfer(d, kind, buffer, count, done, record));
}
// Win32 reads through its overlapped transfers.
uint32_t ReadWithin(Handle, void*, uint32_t, uint32_t*, uint32_t) { return kErrorIoPending; }
uint32_t WaitTransfer(Handle device, IoRecord* record, uint32_t timeoutMs) {
  TARVO_ON_DEVICE(waitTransfer(d, record, timeoutMs));
}
uint32_t FinishTransfer(Handle device, IoRecord* record, uint32_t* done) {
  TARVO_ON_DEVICE(finishTransfer(d, record, done));
}

#undef TARVO_ON_DEVICE

void CancelTransfer(Handle device, IoRecord* record) {
  Device* d = DeviceOf(device);
  if (d != nullptr) d->kind->cancelTransfer(d, record);
}

}  // namespace tarvo::sys
