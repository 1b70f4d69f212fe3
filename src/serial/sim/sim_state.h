// The simulated line's state, shared by its two halves: sim_line.cpp, the
// controls a test uses (bytes from the printer, CTS changes, failures), and
// sim_system.cpp, the system interface the serial port calls. Private to
// src/serial/sim.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/sim/sim_line.h"

namespace tarvo::sim {

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

extern State state;

// Appends an event to the record; nullptr when the record is full.
Event* Record(Kind kind, uint32_t arg = 0, uint32_t arg2 = 0, const char* text = nullptr);
// The open device behind a handle, or nullptr.
Device* DeviceOf(const void* handle);
// Whether CTS is on at the given time.
bool CtsAt(uint64_t time);
// Bytes that have arrived by now, moved into buffer.
uint32_t TakeArrived(unsigned char* buffer, uint32_t count);

}  // namespace tarvo::sim
