#include "serial/sim/sim_line.h"

#include <cstring>

#include "common/text.h"

namespace tarvo::sim {

namespace {

constexpr size_t kMaxInbound = 1 << 17;
constexpr size_t kMaxWritten = 1 << 17;
constexpr size_t kMaxEvents = 1 << 15;
constexpr size_t kMaxCtsChanges = 256;
constexpr size_t kMaxDevices = 4;
constexpr size_t kMaxOpenFailures = 16;

struct Inbound {
  uint64_t timeMs;
  char byte;
};

struct CtsChange {
  uint64_t timeMs;
  bool on;
};

struct Device {
  bool used;
  char name[64];
  sys::Dcb dcb;
  sys::CommTimeouts timeouts;
  uint32_t mask;
};

struct OpenFailure {
  char name[64];
  uint32_t code;
};

struct Pending {
  sys::Transfer kind;
  unsigned char* buffer;
  uint32_t count;
};

struct State {
  uint64_t now;
  Inbound inbound[kMaxInbound];
  size_t inboundHead;  // first unread
  size_t inboundTail;
  CtsChange cts[kMaxCtsChanges];
  size_t ctsCount;
  bool ctsInitial;
  uint32_t modemFailure;
  bool heals;
  WriteHook writeHook;
  void* writeContext;
  ReadHook readHook;
  void* readContext;
  Device devices[kMaxDevices];
  Device* lastOpened;
  OpenFailure openFailures[kMaxOpenFailures];
  size_t openFailureCount;
  uint32_t writeFailure;
  bool rts, dtr, brk;
  Event events[kMaxEvents];
  size_t eventCount;
  char written[kMaxWritten];
  size_t writtenLength;
  bool keyExists;
  bool hasValue;
  char value[256];
  size_t valueLength;
  int64_t calendar;
  intptr_t messages[16];
  size_t messageCount;
  // cppcheck-suppress unusedStructMember ; used by CreateIoEvent's range loop
  bool ioEvents[8];
};

State state;

Event* Record(Kind kind, uint32_t arg = 0, uint32_t arg2 = 0, const char* text = nullptr) {
  if (state.eventCount == kMaxEvents) return nullptr;
  Event& e = state.events[state.eventCount++];
  std::memset(&e, 0, sizeof e);
  e.timeMs = state.now;
  e.kind = kind;
  e.arg = arg;
  e.arg2 = arg2;
  if (text != nullptr) CopyText(e.text, text);
  return &e;
}

Device* DeviceOf(sys::Handle handle) {
  for (auto& d : state.devices) {
    if (&d == handle && d.used) return &d;
  }
  return nullptr;
}

bool CtsAt(uint64_t time) {
  bool on = state.ctsInitial;
  for (size_t i = 0; i < state.ctsCount; ++i) {
    if (state.cts[i].timeMs <= time) on = state.cts[i].on;
  }
  return on;
}

// Bytes that have arrived by now, moved into buffer.
uint32_t TakeArrived(unsigned char* buffer, uint32_t count) {
  uint32_t n = 0;
  while (n < count && state.inboundHead < state.inboundTail &&
         state.inbound[state.inboundHead].timeMs <= state.now) {
    buffer[n++] = static_cast<unsigned char>(state.inbound[state.inboundHead++].byte);
  }
  return n;
}

}  // namespace

void Reset() {
  std::memset(&state, 0, sizeof state);
  state.ctsInitial = true;
  state.calendar = 1000000000;
}

uint64_t NowMs() { return state.now; }

void SendAt(uint64_t timeMs, const char* bytes, size_t length) {
  if (state.inboundTail > state.inboundHead) {
    const uint64_t last = state.inbound[state.inboundTail - 1].timeMs;
    if (timeMs < last) timeMs = last;
  }
  for (size_t i = 0; i < length && state.inboundTail < kMaxInbound; ++i) {
    state.inbound[state.inboundTail++] = Inbound{timeMs, bytes[i]};
  }
}

void Send(const char* text) { SendAt(state.now, text, std::strlen(text)); }
void SendAfter(uint64_t delayMs, const char* text) {
  SendAt(state.now + delayMs, text, std::strlen(text));
}
void SendBytesAfter(uint64_t delayMs, const char* bytes, size_t length) {
  SendAt(state.now + delayMs, bytes, length);
}
size_t PendingInbound() { return state.inboundTail - state.inboundHead; }

void SetCtsAt(uint64_t timeMs, bool on) {
  if (state.ctsCount < kMaxCtsChanges) state.cts[state.ctsCount++] = CtsChange{timeMs, on};
}
void SetCts(bool on) { SetCtsAt(state.now, on); }
void FailModemStatus(uint32_t code) { state.modemFailure = code; }
void SetHeals(bool heals) { state.heals = heals; }

void SetWriteHook(WriteHook hook, void* context) {
  state.writeHook = hook;
  state.writeContext = context;
}
void SetReadHook(ReadHook hook, void* context) {
  state.readHook = hook;
  state.readContext = context;
}

void FailOpen(const char* name, uint32_t code) {
  for (size_t i = 0; i < state.openFailureCount; ++i) {
    if (std::strcmp(state.openFailures[i].name, name) == 0) {
      state.openFailures[i].code = code;
      return;
    }
  }
  if (state.openFailureCount == kMaxOpenFailures) return;
  OpenFailure& f = state.openFailures[state.openFailureCount++];
  CopyText(f.name, name);
  f.code = code;
}

void FailWrites(uint32_t code) { state.writeFailure = code; }

bool AnyDeviceOpen() {
  for (const auto& d : state.devices) {
    if (d.used) return true;
  }
  return false;
}

sys::Dcb LineSettings() { return state.lastOpened ? state.lastOpened->dcb : sys::Dcb{}; }
bool Rts() { return state.rts; }
bool Dtr() { return state.dtr; }
bool BreakOn() { return state.brk; }

size_t EventCount() { return state.eventCount; }
const Event& EventAt(size_t index) { return state.events[index]; }
size_t CountEvents(Kind kind) {
  size_t n = 0;
  for (size_t i = 0; i < state.eventCount; ++i) n += state.events[i].kind == kind;
  return n;
}
const char* WrittenBytes(size_t* length) {
  *length = state.writtenLength;
  return state.written;
}
void ClearRecords() {
  state.eventCount = 0;
  state.writtenLength = 0;
}

void SetRegistryKey(bool exists) { state.keyExists = exists; }
void SetCommSettings(const char* bytes, size_t length) {
  state.hasValue = bytes != nullptr;
  state.valueLength = 0;
  if (bytes != nullptr) {
    state.valueLength = length < sizeof state.value ? length : sizeof state.value;
    std::memcpy(state.value, bytes, state.valueLength);
  }
}
void SetCommSettingsText(const char* text) {
  SetCommSettings(text, text == nullptr ? 0 : std::strlen(text) + 1);
}
void SetCalendarSeconds(int64_t seconds) { state.calendar = seconds; }
void QueueWindowMessage(intptr_t dispatchResult) {
  if (state.messageCount < 16) state.messages[state.messageCount++] = dispatchResult;
}

}  // namespace tarvo::sim

// ---- The system interface over the simulated line ------------------------------

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
