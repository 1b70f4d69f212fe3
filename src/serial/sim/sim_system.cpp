// The system interface over the simulated line: what the serial port
// calls, answered from the state that the test's controls (sim_line.cpp)
// set up, on the simulated clock.
#include <cstring>

#include "common/text.h"
#include "serial/sim/sim_state.h"
#include "serial/system.h"

namespace tarvo::sys {

using sim::Kind;
using sim::state;

uint32_t OpenDevice(const char* name, bool, Handle* device) {
  *device = nullptr;
  for (size_t i = 0; i < state.openFailureCount; ++i) {
    if (std::strcmp(state.openFailures[i].name, name) == 0 && state.openFailures[i].code != 0) {
      sim::Record(Kind::Open, state.openFailures[i].code, 0, name);
      return state.openFailures[i].code;
    }
  }
  for (const auto& d : state.devices) {
    if (d.used && std::strcmp(d.name, name) == 0) {
      sim::Record(Kind::Open, 5, 0, name);
      return kErrorAccessDenied;  // held already
    }
  }
  for (auto& d : state.devices) {
    if (d.used) continue;
    std::memset(&d, 0, sizeof d);
    d.used = true;
    CopyText(d.name, name);
    d.dcb.length = sizeof(Dcb);
    d.dcb.baudRate = 9600;
    d.dcb.byteSize = 8;
    d.dcb.flags = kFlagBinary | kFlagDtrControlEnable | kFlagRtsControlEnable;
    state.lastOpened = &d;
    sim::Record(Kind::Open, 0, 0, name);
    *device = &d;
    return 0;
  }
  return kErrorTooManyOpenFiles;
}

void CloseDevice(Handle device) {
  sim::Device* d = sim::DeviceOf(device);
  if (d == nullptr) return;
  sim::Record(Kind::Close, 0, 0, d->name);
  d->used = false;
}

uint32_t SetupQueues(Handle device, uint32_t inQueue, uint32_t outQueue) {
  if (!sim::DeviceOf(device)) return kErrorInvalidHandle;
  sim::Record(Kind::SetQueues, inQueue, outQueue);
  return 0;
}

uint32_t GetLineSettings(Handle device, Dcb* dcb) {
  sim::Device* d = sim::DeviceOf(device);
  if (d == nullptr) return kErrorInvalidHandle;
  *dcb = d->dcb;
  return 0;
}

uint32_t SetLineSettings(Handle device, const Dcb* dcb) {
  sim::Device* d = sim::DeviceOf(device);
  if (d == nullptr) return kErrorInvalidHandle;
  d->dcb = *dcb;
  sim::Record(Kind::SetLine, dcb->baudRate,
              (uint32_t{dcb->byteSize} << 16) | (uint32_t{dcb->parity} << 8) | dcb->stopBits);
  return 0;
}

uint32_t GetTimeouts(Handle device, CommTimeouts* timeouts) {
  sim::Device* d = sim::DeviceOf(device);
  if (d == nullptr) return kErrorInvalidHandle;
  *timeouts = d->timeouts;
  return 0;
}

uint32_t SetTimeouts(Handle device, const CommTimeouts* timeouts) {
  sim::Device* d = sim::DeviceOf(device);
  if (d == nullptr) return kErrorInvalidHandle;
  d->timeouts = *timeouts;
  return 0;
}

uint32_t SetEventMask(Handle device, uint32_t mask) {
  sim::Device* d = sim::DeviceOf(device);
  if (d == nullptr) return kErrorInvalidHandle;
  d->mask = mask;
  return 0;
}

uint32_t PurgeQueues(Handle device, uint32_t flags) {
  if (!sim::DeviceOf(device)) return kErrorInvalidHandle;
  sim::Record(Kind::Purge, flags);
  if (flags & kPurgeRxClear) {
    while (state.inboundHead < state.inboundTail &&
           state.inbound[state.inboundHead].timeMs <= state.now) {
      ++state.inboundHead;
    }
  }
  return 0;
}

uint32_t GetModemStatus(Handle device, uint32_t* status) {
  if (!sim::DeviceOf(device)) return kErrorInvalidHandle;
  if (state.modemFailure != 0) return state.modemFailure;
  const bool on = sim::CtsAt(state.now);
  sim::Record(Kind::ModemStatus, on ? 1 : 0);
  *status = on ? (kMsCtsOn | kMsDsrOn) : 0;
  return 0;
}

bool DeviceHeals(Handle device) { return sim::DeviceOf(device) && state.heals; }

uint32_t EscapeFunction(Handle device, Escape code) {
  if (!sim::DeviceOf(device)) return kErrorInvalidHandle;
  switch (code) {
    case Escape::SetRts:
      state.rts = true;
      sim::Record(Kind::SetRts);
      break;
    case Escape::ClrRts:
      state.rts = false;
      sim::Record(Kind::ClearRts);
      break;
    case Escape::SetDtr:
      state.dtr = true;
      sim::Record(Kind::SetDtr);
      break;
    case Escape::ClrDtr:
      state.dtr = false;
      sim::Record(Kind::ClearDtr);
      break;
    case Escape::SetBreak:
      state.brk = true;
      sim::Record(Kind::SetBreak);
      break;
    case Escape::ClrBreak:
      state.brk = false;
      sim::Record(Kind::ClearBreak);
      break;
    default: return kErrorInvalidParameter;
  }
  return 0;
}

uint32_t CreateIoEvent(Handle* event) {
  for (auto& e : state.ioEvents) {
    if (!e) {
      e = true;
      *event = &e;
      return 0;
    }
  }
  *event = nullptr;
  return kErrorTooManyOpenFiles;
}

void CloseIoEvent(Handle event) {
  if (event != nullptr) *static_cast<bool*>(event) = false;
}

void SignalIoEvent(Handle) {}

namespace {
sim::Pending* PendingOf(IoRecord* record) {
  return reinterpret_cast<sim::Pending*>(record->platform);
}

uint32_t WriteNow(const void* buffer, uint32_t count, uint32_t* done) {
  if (state.writeFailure != 0) return state.writeFailure;
  sim::Event* e = sim::Record(Kind::Write, count);
  if (e != nullptr) e->dataOffset = static_cast<uint32_t>(state.writtenLength);
  const size_t room = sim::kMaxWritten - state.writtenLength;
  const size_t keep = count < room ? count : room;
  std::memcpy(state.written + state.writtenLength, buffer, keep);
  state.writtenLength += keep;
  if (e != nullptr) e->dataLength = static_cast<uint32_t>(keep);
  *done = count;
  if (state.writeHook) state.writeHook(state.writeContext, static_cast<const char*>(buffer), count);
  return 0;
}

// The virtual time at which the next byte arrives, or false when none will.
bool NextArrival(uint64_t* time) {
  if (state.inboundHead == state.inboundTail) return false;
  *time = state.inbound[state.inboundHead].timeMs;
  return true;
}
}  // namespace

uint32_t TransferNow(Handle device, Transfer kind, void* buffer, uint32_t count, uint32_t* done) {
  if (!sim::DeviceOf(device)) return kErrorInvalidHandle;
  *done = 0;
  if (kind == Transfer::Write) return WriteNow(buffer, count, done);
  if (kind == Transfer::Read) {
    if (state.readHook) state.readHook(state.readContext);
    *done = sim::TakeArrived(static_cast<unsigned char*>(buffer), count);
    return 0;
  }
  const uint32_t none = 0;
  std::memcpy(buffer, &none, sizeof none);
  return 0;
}

uint32_t StartTransfer(Handle device, Transfer kind, void* buffer, uint32_t count, uint32_t* done,
                       IoRecord* record) {
  sim::Device* d = sim::DeviceOf(device);
  if (d == nullptr) return kErrorInvalidHandle;
  *done = 0;
  sim::Pending* p = PendingOf(record);
  p->kind = kind;
  p->buffer = static_cast<unsigned char*>(buffer);
  p->count = count;
  if (kind == Transfer::Write) return WriteNow(buffer, count, done);
  if (kind == Transfer::Read) {
    sim::Record(Kind::ReadStart, count);
    if (state.readHook) state.readHook(state.readContext);
    *done = sim::TakeArrived(p->buffer, count);
    return *done > 0 || count == 0 ? 0 : kErrorIoPending;
  }
  uint64_t next = 0;
  if (NextArrival(&next) && next <= state.now && (d->mask & kEvRxChar)) {
    const uint32_t seen = kEvRxChar;
    std::memcpy(buffer, &seen, sizeof seen);
    return 0;
  }
  return kErrorIoPending;
}

uint32_t ReadWithin(Handle, void*, uint32_t, uint32_t*, uint32_t) { return kErrorIoPending; }

uint32_t WaitTransfer(Handle, IoRecord* record, uint32_t timeoutMs) {
  uint64_t next = 0;
  const bool arrives = NextArrival(&next);
  if (arrives && (next <= state.now || timeoutMs == kInfinite || next <= state.now + timeoutMs)) {
    if (next > state.now) state.now = next;
    // A completed event wait has written its events, as WaitCommEvent does.
    sim::Pending* p = PendingOf(record);
    if (p->kind == Transfer::WaitEvent) {
      const uint32_t seen = kEvRxChar;
      std::memcpy(p->buffer, &seen, sizeof seen);
    }
    return 0;
  }
  // Nothing will come: an infinite wait on a silent simulated line ends
  // after an hour of virtual time rather than never.
  state.now += timeoutMs == kInfinite ? 3600000 : timeoutMs;
  return kWaitTimeout;
}

uint32_t FinishTransfer(Handle device, IoRecord* record, uint32_t* done) {
  if (!sim::DeviceOf(device)) return kErrorInvalidHandle;
  sim::Pending* p = PendingOf(record);
  *done = 0;
  if (p->kind == Transfer::Read) {
    *done = sim::TakeArrived(p->buffer, p->count);
  } else if (p->kind == Transfer::WaitEvent) {
    const uint32_t seen = kEvRxChar;
    std::memcpy(p->buffer, &seen, sizeof seen);
  }
  return 0;
}

void CancelTransfer(Handle, IoRecord*) {}

void SleepMs(uint32_t ms) {
  sim::Record(Kind::Sleep, ms);
  state.now += ms;
}

int64_t CalendarSeconds() { return state.calendar; }

uint64_t SessionSeedSource() { return static_cast<uint64_t>(state.calendar); }

uint32_t RegistryOpenKey(const char*, Handle* key) {
  *key = nullptr;
  if (!state.keyExists) return kErrorFileNotFound;
  *key = &state.keyExists;
  return 0;
}

// cppcheck-suppress constParameter ; Handle is the interface's type
uint32_t RegistryQueryValue(Handle key, const char* valueName, char* data, uint32_t* size) {
  if (key != &state.keyExists) return kErrorInvalidHandle;
  if (!state.hasValue || std::strcmp(valueName, "CommSettings") != 0) return kErrorFileNotFound;
  if (state.valueLength > *size) {
    *size = static_cast<uint32_t>(state.valueLength);
    return kErrorMoreData;
  }
  std::memcpy(data, state.value, state.valueLength);
  *size = static_cast<uint32_t>(state.valueLength);
  return 0;
}

void RegistryCloseKey(Handle) {}

bool DispatchOneMessage(intptr_t* result) {
  *result = 0;
  if (state.messageCount == 0) return false;
  *result = state.messages[0];
  std::memmove(state.messages, state.messages + 1, (state.messageCount - 1) * sizeof(intptr_t));
  --state.messageCount;
  return true;
}

}  // namespace tarvo::sys
