// The system layer: the only code that knows the operating system.
//
// It gives SerialPort, the session and the trace what the Win32 calls give
// them on Windows, shaped closely on those calls so that the Win32 layer is a
// thin wrapper and the POSIX and simulated layers imitate it. It translates;
// it decides nothing. Every function that can fail returns 0 on success and
// otherwise an error code captured at the point of failure, which never
// reads as one of the codes with a fixed meaning below unless it has that
// meaning:
//   - win32/: GetLastError's value as it is (the fixed codes are Win32's).
//   - posix/: errno as it is, except an errno equal to a fixed code of
//     another meaning (EPERM is 1, ENXIO is 6: a vanished USB adapter must
//     not read as "port not open"), which comes as kPlatformCodeBase +
//     errno; besides, kErrorIoPending, kErrorMoreData and kWaitTimeout
//     where a Win32 call would give them.
//   - sim/: the Win32 codes, by the names below.
// ErrorNumber gives back the platform's own number for the trace.
//
// Exactly one implementation is linked into a program: posix/ for the Linux
// library, win32/ for the DLL, sim/ for the tests (sim/ forwards the file and
// clock-of-day functions to the real platform).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo::sys {

// A device, event, registry key or file; null means none.
using Handle = void*;

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Codes with a fixed meaning across platforms (Win32 numbering).
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorTooManyOpenFiles = 4;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kErrorIoPending = 997;
constexpr uint32_t kErrorAlreadyInitialized = 1247;
constexpr uint32_t kErrorTimeout = 1460;
constexpr uint32_t kInvalidArg = 0x80070057u;
constexpr uint32_t kWaitTimeout = 258;

// Win32 sets this bit only in codes that applications define, so no system
// error code has it: a platform number that would collide with a fixed code
// is carried above it.
constexpr uint32_t kPlatformCodeBase = 0x20000000u;
constexpr uint32_t kPlatformCodeLimit = kPlatformCodeBase + 0x10000u;

// The platform's own number behind a code (errno on POSIX, GetLastError on
// Windows), for the trace.
constexpr uint32_t ErrorNumber(uint32_t code) {
  return code >= kPlatformCodeBase && code < kPlatformCodeLimit ? code - kPlatformCodeBase : code;
}

// Line settings, laid out like the Win32 DCB (28 bytes).
struct Dcb {
  uint32_t length;
  uint32_t baudRate;
  uint32_t flags;  // the DCB's flags word; see the kFlag constants
  uint16_t reserved;
  uint16_t xonLim;
  uint16_t xoffLim;
  uint8_t byteSize;
  uint8_t parity;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t stopBits;  // 0 one, 1 one and a half, 2 two
  char xonChar;
  char xoffChar;
  char errorChar;
  char eofChar;
  char evtChar;
  uint16_t reserved1;
};
static_assert(sizeof(Dcb) == 28, "Dcb must match the Win32 DCB");

constexpr uint32_t kFlagBinary = 0x1;
constexpr uint32_t kFlagParity = 0x2;
constexpr uint32_t kFlagOutxCtsFlow = 0x4;
constexpr uint32_t kFlagOutxDsrFlow = 0x8;
constexpr uint32_t kFlagDtrControlMask = 0x30;
constexpr uint32_t kFlagDtrControlEnable = 0x10;
constexpr uint32_t kFlagDtrControlHandshake = 0x20;
constexpr uint32_t kFlagOutX = 0x100;
constexpr uint32_t kFlagInX = 0x200;
constexpr uint32_t kFlagRtsControlMask = 0x3000;
constexpr uint32_t kFlagRtsControlEnable = 0x1000;
constexpr uint32_t kFlagRtsControlHandshake = 0x2000;

// Read and write time-outs, laid out like COMMTIMEOUTS.
struct CommTimeouts {
  uint32_t readIntervalTimeout;
  uint32_t readTotalTimeoutMultiplier;
  uint32_t readTotalTimeoutConstant;
  uint32_t writeTotalTimeoutMultiplier;
  uint32_t writeTotalTimeoutConstant;
};

// Line events (EV_ bits).
constexpr uint32_t kEvRxChar = 0x1;
constexpr uint32_t kEvRxFlag = 0x2;
constexpr uint32_t kEvBreak = 0x40;
constexpr uint32_t kEvErr = 0x80;

// Modem-line status bits (MS_ bits).
constexpr uint32_t kMsCtsOn = 0x10;
constexpr uint32_t kMsDsrOn = 0x20;
constexpr uint32_t kMsRingOn = 0x40;
constexpr uint32_t kMsRlsdOn = 0x80;

// EscapeCommFunction codes.
enum class Escape : uint32_t {
  SetRts = 3,
  ClrRts = 4,
  SetDtr = 5,
  ClrDtr = 6,
  SetBreak = 8,
  ClrBreak = 9,
};

constexpr uint32_t kPurgeTxClear = 0x4;
constexpr uint32_t kPurgeRxClear = 0x8;

// An overlapped I/O record. `event` is the manual-reset event that the
// transfer signals on completion; the rest belongs to the platform (an
// OVERLAPPED on Windows, the pending transfer on POSIX and in the
// simulation). A record set to all zeros is a fresh one.
struct IoRecord {
  Handle event;
  alignas(8) unsigned char platform[48];
};

enum class Transfer { Write, Read, WaitEvent };

// ---- Devices (CreateFileA, CloseHandle, SetupComm, ...) ------------------

// Opens a serial device for reading and writing, exclusively, only if it
// exists. `name` is the driver's device name ("COM7", "/dev/ttyUSB0"); the
// layer maps COM names to its own devices.
uint32_t OpenDevice(const char* name, bool overlapped, Handle* device);
void CloseDevice(Handle device);
uint32_t SetupQueues(Handle device, uint32_t inQueue, uint32_t outQueue);
uint32_t GetLineSettings(Handle device, Dcb* dcb);
uint32_t SetLineSettings(Handle device, const Dcb* dcb);
uint32_t GetTimeouts(Handle device, CommTimeouts* timeouts);
uint32_t SetTimeouts(Handle device, const CommTimeouts* timeouts);
uint32_t SetEventMask(Handle device, uint32_t mask);
uint32_t PurgeQueues(Handle device, uint32_t flags);
uint32_t GetModemStatus(Handle device, uint32_t* status);
uint32_t EscapeFunction(Handle device, Escape code);
// Whether the device heals a lost link by itself, reading as CTS down
// until it has (a network port): it is not opened again after a silence,
// and its line settings must be acknowledged for an open to succeed.
bool DeviceHeals(Handle device);

// ---- Events and transfers (CreateEventA, ReadFile, WaitForSingleObject,
// GetOverlappedResult, CancelIo) -------------------------------------------

uint32_t CreateIoEvent(Handle* event);
void CloseIoEvent(Handle event);
void SignalIoEvent(Handle event);

// A transfer on a device opened without overlapped I/O: it completes before
// returning, bounded by the device's time-outs.
uint32_t TransferNow(Handle device, Transfer kind, void* buffer, uint32_t count, uint32_t* done);

// A read on an overlapped device, made directly within timeoutMs where the
// layer can (POSIX, where overlapped transfers are only imitated): 0 with
// *done set (possibly 0, as a signalled read that found nothing),
// kWaitTimeout when nothing came (nothing is left pending), or a code.
// kErrorIoPending from a layer that reads only through StartTransfer and
// WaitTransfer (Win32, the simulation), which then leaves all as it was.
uint32_t ReadWithin(Handle device, void* buffer, uint32_t count, uint32_t* done,
                    uint32_t timeoutMs);

// Starts an overlapped transfer on `record`. 0: completed at once, with
// *done set (for WaitEvent, buffer receives the events, a uint32_t).
// kErrorIoPending: it goes on and signals record->event when it completes.
// Any other code: it failed.
uint32_t StartTransfer(Handle device, Transfer kind, void* buffer, uint32_t count, uint32_t* done,
                       IoRecord* record);
// Waits at most timeoutMs for the transfer that StartTransfer began on the
// device's record: 0 when it signalled, kWaitTimeout when not, any other
// code on failure.
uint32_t WaitTransfer(Handle device, IoRecord* record, uint32_t timeoutMs);
// The result of a signalled transfer, without waiting; *done receives the
// bytes moved.
uint32_t FinishTransfer(Handle device, IoRecord* record, uint32_t* done);
// Cancels the device's outstanding transfer and returns only once it has
// completed, so that the record may go out of scope.
void CancelTransfer(Handle device, IoRecord* record);

// ---- Time ---------------------------------------------------------------

void SleepMs(uint32_t ms);
// Calendar time, whole seconds since 1 January 1970 UTC.
int64_t CalendarSeconds();
// A number for the session's first frame id that differs between sessions
// opened in quick succession, by one process or by several: a sub-second
// clock mixed with the process id (the simulated line gives its calendar
// time, so that tests choose it).
uint64_t SessionSeedSource();
// The current local time of day.
struct LocalTime {
  int year;   // e.g. 2026
  int month;  // 1..12
  int day;
  int hour;
  int minute;
  int second;
};
void CurrentLocalTime(LocalTime* now);

// ---- Registry (RegOpenKeyExA, RegQueryValueExA, RegCloseKey) -------------

// Opens a key under HKEY_CLASSES_ROOT with full access.
uint32_t RegistryOpenKey(const char* subKey, Handle* key);
// Reads a value of any type into data; *size is the room on entry and the
// bytes stored on return. kErrorMoreData when it does not fit.
uint32_t RegistryQueryValue(Handle key, const char* valueName, char* data, uint32_t* size);
void RegistryCloseKey(Handle key);

// ---- Window messages (PeekMessageA, TranslateMessage, DispatchMessageA) ---

// Takes one waiting message of the calling thread, if any, and dispatches
// it. Returns whether one was taken; *result is what its dispatch returned.
bool DispatchOneMessage(intptr_t* result);

// ---- Files by name, for the trace (fopen modes "r", "r+", "w+") ----------

enum class FileMode { Read, Update, Create };
// Opens in text mode: on Windows "\n" is written as CR LF. Only a regular
// file is opened, never through a symbolic link (a reparse point on
// Windows), and the open never blocks; anything else gives null, like a
// file that can't be opened. A new file is created 0640 on POSIX.
Handle FileOpen(const char* path, FileMode mode);
void FileClose(Handle file);
// Reads up to count bytes; the bytes read, 0 at the end or on failure.
uint32_t FileRead(Handle file, void* buffer, uint32_t count);
// Writes all count bytes; returns the bytes stored in the file (more than
// count on Windows, where each "\n" is stored as CR LF), or -1.
int64_t FileWrite(Handle file, const void* buffer, uint32_t count);
// Both seeks return the new position from the start of the file, or -1.
int64_t FileSeek(Handle file, int64_t offset);
int64_t FileSeekEnd(Handle file);
int64_t FileTell(Handle file);

}  // namespace tarvo::sys
