#include "serial/sim/sim_line.h"

#include <cstring>

#include "common/text.h"
#include "serial/sim/sim_state.h"

namespace tarvo::sim {

State state;

Event* Record(Kind kind, uint32_t arg, uint32_t arg2, const char* text) {
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

Device* DeviceOf(const void* handle) {
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

uint32_t TakeArrived(unsigned char* buffer, uint32_t count) {
  uint32_t n = 0;
  while (n < count && state.inboundHead < state.inboundTail &&
         state.inbound[state.inboundHead].timeMs <= state.now) {
    buffer[n++] = static_cast<unsigned char>(state.inbound[state.inboundHead++].byte);
  }
  return n;
}

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
