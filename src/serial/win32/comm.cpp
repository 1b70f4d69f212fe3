// The Win32 serial port: each operation one Win32 call (or a short fixed
// sequence of them) on the device's HANDLE. Every failure is returned as
// the GetLastError code read right after the failing call, before any
// clean-up call can replace it.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>
#include <cstring>

#include "common/text.h"
#include "serial/system.h"
#include "serial/win32/device.h"

namespace tarvo::sys::win32 {

namespace {

// The portable records are copied byte for byte to and from the Win32 ones.
static_assert(sizeof(DCB) == sizeof(Dcb), "DCB and Dcb have one layout");
static_assert(offsetof(DCB, BaudRate) == offsetof(Dcb, baudRate), "DCB.BaudRate");
static_assert(offsetof(DCB, wReserved) == offsetof(Dcb, reserved), "DCB.wReserved");
static_assert(offsetof(DCB, XonLim) == offsetof(Dcb, xonLim), "DCB.XonLim");
static_assert(offsetof(DCB, ByteSize) == offsetof(Dcb, byteSize), "DCB.ByteSize");
static_assert(offsetof(DCB, Parity) == offsetof(Dcb, parity), "DCB.Parity");
static_assert(offsetof(DCB, StopBits) == offsetof(Dcb, stopBits), "DCB.StopBits");
static_assert(offsetof(DCB, EvtChar) == offsetof(Dcb, evtChar), "DCB.EvtChar");
static_assert(offsetof(DCB, wReserved1) == offsetof(Dcb, reserved1), "DCB.wReserved1");
static_assert(sizeof(COMMTIMEOUTS) == sizeof(CommTimeouts), "COMMTIMEOUTS and CommTimeouts");

// Each overlapped transfer's OVERLAPPED lives in its record.
static_assert(sizeof(OVERLAPPED) <= sizeof(IoRecord::platform), "OVERLAPPED fits the record");
static_assert(alignof(OVERLAPPED) <= 8, "the record's platform bytes are 8-aligned");

HANDLE Win(const Device* d) { return static_cast<HANDLE>(d->own); }

OVERLAPPED* OverlappedOf(IoRecord* record) {
  return reinterpret_cast<OVERLAPPED*>(record->platform);
}

uint32_t Result(BOOL ok) { return ok ? 0 : static_cast<uint32_t>(GetLastError()); }

// COM ports are opened in the device namespace, "\\.\COMn": the plain name
// reaches only COM1 to COM9.
bool Claims(const char* name, char (&path)[256]) {
  if (!IsComName(name)) return CopyText(path, name);
  return CopyText(path, "\\\\.\\") && AppendText(path, name);
}

uint32_t Open(const char* path, bool overlapped, Device* d) {
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return static_cast<uint32_t>(GetLastError());
  d->own = h;
  return 0;
}

void Close(Device* d) { CloseHandle(Win(d)); }

uint32_t SetupQueues(Device* d, uint32_t inQueue, uint32_t outQueue) {
  return Result(SetupComm(Win(d), inQueue, outQueue));
}

uint32_t GetLineSettings(Device* d, Dcb* dcb) {
  DCB win;
  std::memcpy(&win, dcb, sizeof win);
  win.DCBlength = sizeof win;
  if (!GetCommState(Win(d), &win)) return static_cast<uint32_t>(GetLastError());
  std::memcpy(dcb, &win, sizeof win);
  return 0;
}

uint32_t SetLineSettings(Device* d, const Dcb* dcb) {
  DCB win;
  std::memcpy(&win, dcb, sizeof win);
  return Result(SetCommState(Win(d), &win));
}

uint32_t GetTimeouts(Device* d, CommTimeouts* timeouts) {
  COMMTIMEOUTS win{};
  if (!GetCommTimeouts(Win(d), &win)) return static_cast<uint32_t>(GetLastError());
  std::memcpy(timeouts, &win, sizeof win);
  return 0;
}

uint32_t SetTimeouts(Device* d, const CommTimeouts* timeouts) {
  COMMTIMEOUTS win;
  std::memcpy(&win, timeouts, sizeof win);
  return Result(SetCommTimeouts(Win(d), &win));
}

uint32_t SetEventMask(Device* d, uint32_t mask) { return Result(SetCommMask(Win(d), mask)); }

uint32_t Purge(Device* d, uint32_t flags) { return Result(PurgeComm(Win(d), flags)); }

uint32_t ModemStatus(Device* d, uint32_t* status) {
  DWORD bits = 0;
  if (!GetCommModemStatus(Win(d), &bits)) {
    const DWORD code = GetLastError();
    // A port whose driver has no modem lines at all (a virtual port): a
    // cable with CTS and DSR strapped on, as on POSIX.
    if (code == ERROR_NOT_SUPPORTED) {
      *status = kMsCtsOn | kMsDsrOn;
      return 0;
    }
    return static_cast<uint32_t>(code);
  }
  *status = static_cast<uint32_t>(bits);
  return 0;
}

uint32_t EscapeLine(Device* d, Escape code) {
  return Result(EscapeCommFunction(Win(d), static_cast<DWORD>(code)));
}

BOOL Call(Device* d, Transfer kind, void* buffer, uint32_t count, DWORD* moved, OVERLAPPED* ov) {
  switch (kind) {
    case Transfer::Write: return WriteFile(Win(d), buffer, count, moved, ov);
    case Transfer::Read: return ReadFile(Win(d), buffer, count, moved, ov);
    case Transfer::WaitEvent: return WaitCommEvent(Win(d), static_cast<DWORD*>(buffer), ov);
  }
  return FALSE;
}

uint32_t TransferNow(Device* d, Transfer kind, void* buffer, uint32_t count, uint32_t* done) {
  DWORD moved = 0;
  const BOOL ok = Call(d, kind, buffer, count, &moved, nullptr);
  const uint32_t code = ok ? 0 : static_cast<uint32_t>(GetLastError());
  *done = static_cast<uint32_t>(moved);
  return code;
}

uint32_t StartTransfer(Device* d, Transfer kind, void* buffer, uint32_t count, uint32_t* done,
                       IoRecord* record) {
  OVERLAPPED* ov = OverlappedOf(record);
  std::memset(ov, 0, sizeof *ov);
  ov->hEvent = static_cast<HANDLE>(record->event);
  // A completion signalled earlier must not end the wait for this one.
  if (ov->hEvent != nullptr) ResetEvent(ov->hEvent);
  *done = 0;
  DWORD moved = 0;
  if (!Call(d, kind, buffer, count, &moved, ov)) {
    return static_cast<uint32_t>(GetLastError());  // ERROR_IO_PENDING among them
  }
  *done = static_cast<uint32_t>(moved);
  return 0;
}

uint32_t WaitTransfer(Device*, IoRecord* record, uint32_t timeoutMs) {
  const DWORD waited = WaitForSingleObject(static_cast<HANDLE>(record->event), timeoutMs);
  if (waited == WAIT_OBJECT_0) return 0;
  if (waited == WAIT_TIMEOUT) return kWaitTimeout;
  if (waited == WAIT_FAILED) return static_cast<uint32_t>(GetLastError());
  return static_cast<uint32_t>(waited);
}

uint32_t FinishTransfer(Device* d, IoRecord* record, uint32_t* done) {
  DWORD moved = 0;
  const BOOL ok = GetOverlappedResult(Win(d), OverlappedOf(record), &moved, FALSE);
  const uint32_t code = ok ? 0 : static_cast<uint32_t>(GetLastError());
  *done = static_cast<uint32_t>(moved);
  return code;
}

void CancelTransfer(Device* d, IoRecord* record) {
  CancelIo(Win(d));
  // The cancelled transfer still writes its OVERLAPPED (and, for a read,
  // possibly the buffer) when it completes: wait for that before the record
  // may go out of scope.
  DWORD moved = 0;
  GetOverlappedResult(Win(d), OverlappedOf(record), &moved, TRUE);
}

}  // namespace

bool IsComName(const char* name) {
  if ((name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm') return false;
  if (name[3] == '\0') return false;
  for (const char* p = name + 3; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return true;
}

const DeviceKind kCommDevice = {
    Claims,      Open,          Close,        SetupQueues,    GetLineSettings, SetLineSettings,
    GetTimeouts, SetTimeouts,   SetEventMask, Purge,          ModemStatus,     EscapeLine,
    TransferNow, StartTransfer, WaitTransfer, FinishTransfer, CancelTransfer,  false,
};

}  // namespace tarvo::sys::win32
