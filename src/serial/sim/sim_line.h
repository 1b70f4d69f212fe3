// The simulated line: a system layer for tests, linked in place of the
// POSIX one. It keeps a virtual clock (sleeps and read time-outs advance it
// at once), plays a scriptable printer on the far end (bytes and when they
// arrive, CTS over time, silence), records everything the driver does to the
// line with virtual time stamps, and holds an in-memory registry. Files and
// the time of day are the real platform's.
//
// Everything lives in fixed arrays, so that the simulation itself allocates
// nothing while a test counts allocations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/system.h"

namespace tarvo::sim {

enum class Kind {
  Open,         // text: the device name; arg: the result code
  Close,        // text: the device name
  SetLine,      // arg: baud rate; arg2: byteSize<<16 | parity<<8 | stopBits
  SetQueues,    // arg: in queue; arg2: out queue
  Write,        // data: the bytes written
  ReadStart,    // arg: bytes asked for
  ModemStatus,  // arg: 1 when CTS was reported on
  Purge,        // arg: purge flags
  SetRts,
  ClearRts,
  SetDtr,
  ClearDtr,
  SetBreak,
  ClearBreak,
  Sleep,  // arg: milliseconds
};

struct Event {
  uint64_t timeMs;
  Kind kind;
  uint32_t arg;
  uint32_t arg2;
  uint32_t dataOffset;  // into WrittenBytes() for Write
  uint32_t dataLength;
  char text[64];
};

using WriteHook = void (*)(void* context, const char* data, size_t length);
using ReadHook = void (*)(void* context);

// Back to a quiet line at virtual time 0: no bytes pending, CTS on, every
// device name opens, writes succeed, empty registry (no key), no hooks, no
// records, calendar time 1,000,000,000 s.
void Reset();

uint64_t NowMs();

// ---- The printer's side ------------------------------------------------------
// Bytes that arrive at the given virtual time (never earlier than bytes
// queued before them).
void SendAt(uint64_t timeMs, const char* bytes, size_t length);
void Send(const char* text);  // arrives now
void SendAfter(uint64_t delayMs, const char* text);
void SendBytesAfter(uint64_t delayMs, const char* bytes, size_t length);
size_t PendingInbound();  // bytes queued and not yet read or purged
// CTS from the given virtual time on (until a later change).
void SetCtsAt(uint64_t timeMs, bool on);
void SetCts(bool on);
// GetModemStatus fails with this code (0: works).
void FailModemStatus(uint32_t code);
// The device heals its link by itself, as a network port does.
void SetHeals(bool heals);

void SetWriteHook(WriteHook hook, void* context);
void SetReadHook(ReadHook hook, void* context);

// ---- Devices ---------------------------------------------------------------
// Opening `name` fails with `code` (0 to let it open again).
void FailOpen(const char* name, uint32_t code);
// Every write fails with this code (0: writes succeed).
void FailWrites(uint32_t code);
bool AnyDeviceOpen();
sys::Dcb LineSettings();  // of the device opened last
bool Rts();
bool Dtr();
bool BreakOn();

// ---- Records -------------------------------------------------------------
size_t EventCount();
const Event& EventAt(size_t index);
size_t CountEvents(Kind kind);
const char* WrittenBytes(size_t* length);
void ClearRecords();

// ---- Platform services -------------------------------------------------------
// The registry key of the line settings: whether it opens, and the raw
// bytes of its CommSettings value (nullptr: no such value).
void SetRegistryKey(bool exists);
void SetCommSettings(const char* bytes, size_t length);
void SetCommSettingsText(const char* text);  // with its terminator
void SetCalendarSeconds(int64_t seconds);
void QueueWindowMessage(intptr_t dispatchResult);

}  // namespace tarvo::sim
