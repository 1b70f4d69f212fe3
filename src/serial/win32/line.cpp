// The Win32 system layer: serial devices, overlapped transfers, the
// registry, window messages, sleep and calendar time, each one Win32 call
// (or a short fixed sequence of them) behind the interface of system.h.
//
// Every failure is returned as the GetLastError (or registry) code read
// right after the failing call, before any clean-up call can replace it.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>
#include <cstring>

#include "common/text.h"
#include "serial/system.h"
#include "serial/win32/network.h"

namespace tarvo::sys {

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

static_assert(MS_CTS_ON == kMsCtsOn && MS_DSR_ON == kMsDsrOn, "modem status bits");
static_assert(EV_RXCHAR == kEvRxChar && EV_RXFLAG == kEvRxFlag && EV_BREAK == kEvBreak &&
                  EV_ERR == kEvErr,
              "event bits");
static_assert(PURGE_TXCLEAR == kPurgeTxClear && PURGE_RXCLEAR == kPurgeRxClear, "purge flags");
static_assert(SETRTS == static_cast<int>(Escape::SetRts) &&
                  CLRRTS == static_cast<int>(Escape::ClrRts) &&
                  SETDTR == static_cast<int>(Escape::SetDtr) &&
                  CLRDTR == static_cast<int>(Escape::ClrDtr) &&
                  SETBREAK == static_cast<int>(Escape::SetBreak) &&
                  CLRBREAK == static_cast<int>(Escape::ClrBreak),
              "escape codes");
static_assert(WAIT_TIMEOUT == kWaitTimeout && ERROR_IO_PENDING == kErrorIoPending &&
                  ERROR_MORE_DATA == kErrorMoreData && ERROR_INVALID_HANDLE == kErrorInvalidHandle,
              "error codes");

HANDLE Win(Handle h) { return static_cast<HANDLE>(h); }

OVERLAPPED* OverlappedOf(IoRecord* record) {
  return reinterpret_cast<OVERLAPPED*>(record->platform);
}

uint32_t Result(BOOL ok) { return ok ? 0 : static_cast<uint32_t>(GetLastError()); }

// COM ports are opened in the device namespace, "\\.\COMn": the plain name
// reaches only COM1 to COM9.
bool DevicePath(const char* name, char (&path)[64]) {
  if (!winnet::IsComName(name)) return CopyText(path, name);
  return CopyText(path, "\\\\.\\") && AppendText(path, name);
}

}  // namespace

// ---- Devices -------------------------------------------------------------

uint32_t OpenDevice(const char* name, bool overlapped, Handle* device) {
  *device = nullptr;
  char url[256];
  if (winnet::Claims(name, url)) return winnet::OpenDevice(url, device);
  char path[64];
  if (!DevicePath(name, path)) return ERROR_FILENAME_EXCED_RANGE;
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return static_cast<uint32_t>(GetLastError());
  *device = h;
  return 0;
}

void CloseDevice(Handle device) {
  if (winnet::IsDevice(device)) return winnet::CloseDevice(device);
  if (device != nullptr) CloseHandle(Win(device));
}

uint32_t SetupQueues(Handle device, uint32_t inQueue, uint32_t outQueue) {
  if (winnet::IsDevice(device)) return 0;
  return Result(SetupComm(Win(device), inQueue, outQueue));
}

uint32_t GetLineSettings(Handle device, Dcb* dcb) {
  if (winnet::IsDevice(device)) return winnet::GetLineSettings(device, dcb);
  DCB win;
  std::memcpy(&win, dcb, sizeof win);
  win.DCBlength = sizeof win;
  if (!GetCommState(Win(device), &win)) return static_cast<uint32_t>(GetLastError());
  std::memcpy(dcb, &win, sizeof win);
  return 0;
}

uint32_t SetLineSettings(Handle device, const Dcb* dcb) {
  if (winnet::IsDevice(device)) return winnet::SetLineSettings(device, dcb);
  DCB win;
  std::memcpy(&win, dcb, sizeof win);
  return Result(SetCommState(Win(device), &win));
}

uint32_t GetTimeouts(Handle device, CommTimeouts* timeouts) {
  if (winnet::IsDevice(device)) return winnet::GetTimeouts(device, timeouts);
  COMMTIMEOUTS win{};
  if (!GetCommTimeouts(Win(device), &win)) return static_cast<uint32_t>(GetLastError());
  std::memcpy(timeouts, &win, sizeof win);
  return 0;
}

uint32_t SetTimeouts(Handle device, const CommTimeouts* timeouts) {
  if (winnet::IsDevice(device)) return winnet::SetTimeouts(device, timeouts);
  COMMTIMEOUTS win;
  std::memcpy(&win, timeouts, sizeof win);
  return Result(SetCommTimeouts(Win(device), &win));
}

uint32_t SetEventMask(Handle device, uint32_t mask) {
  if (winnet::IsDevice(device)) return winnet::SetEventMask(device, mask);
  return Result(SetCommMask(Win(device), mask));
}

uint32_t PurgeQueues(Handle device, uint32_t flags) {
  if (winnet::IsDevice(device)) return winnet::PurgeQueues(device, flags);
  return Result(PurgeComm(Win(device), flags));
}

uint32_t GetModemStatus(Handle device, uint32_t* status) {
  if (winnet::IsDevice(device)) return winnet::GetModemStatus(device, status);
  // A closed port has no device to ask.
  if (device == nullptr) return ERROR_INVALID_HANDLE;
  DWORD bits = 0;
  if (!GetCommModemStatus(Win(device), &bits)) {
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

uint32_t EscapeFunction(Handle device, Escape code) {
  if (winnet::IsDevice(device)) return winnet::EscapeFunction(device, code);
  return Result(EscapeCommFunction(Win(device), static_cast<DWORD>(code)));
}

// ---- Events and transfers -----------------------------------------------

uint32_t CreateIoEvent(Handle* event) {
  HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // manual reset, not signalled
  if (h == nullptr) {
    *event = nullptr;
    return static_cast<uint32_t>(GetLastError());
  }
  *event = h;
  return 0;
}

void CloseIoEvent(Handle event) {
  if (event != nullptr) CloseHandle(Win(event));
}

void SignalIoEvent(Handle event) {
  if (event != nullptr) SetEvent(Win(event));
}

uint32_t TransferNow(Handle device, Transfer kind, void* buffer, uint32_t count, uint32_t* done) {
  if (winnet::IsDevice(device)) return winnet::TransferNow(device, kind, buffer, count, done);
  DWORD moved = 0;
  BOOL ok = FALSE;
  switch (kind) {
    case Transfer::Write: ok = WriteFile(Win(device), buffer, count, &moved, nullptr); break;
    case Transfer::Read: ok = ReadFile(Win(device), buffer, count, &moved, nullptr); break;
    case Transfer::WaitEvent:
      ok = WaitCommEvent(Win(device), static_cast<DWORD*>(buffer), nullptr);
      break;
  }
  if (!ok) {
    const uint32_t code = static_cast<uint32_t>(GetLastError());
    *done = static_cast<uint32_t>(moved);
    return code;
  }
  *done = static_cast<uint32_t>(moved);
  return 0;
}

uint32_t StartTransfer(Handle device, Transfer kind, void* buffer, uint32_t count, uint32_t* done,
                       IoRecord* record) {
  if (winnet::IsDevice(device)) {
    return winnet::StartTransfer(device, kind, buffer, count, done, record);
  }
  OVERLAPPED* ov = OverlappedOf(record);
  std::memset(ov, 0, sizeof *ov);
  ov->hEvent = Win(record->event);
  // A completion signalled earlier must not end the wait for this one.
  if (ov->hEvent != nullptr) ResetEvent(ov->hEvent);
  *done = 0;
  DWORD moved = 0;
  BOOL ok = FALSE;
  switch (kind) {
    case Transfer::Write: ok = WriteFile(Win(device), buffer, count, &moved, ov); break;
    case Transfer::Read: ok = ReadFile(Win(device), buffer, count, &moved, ov); break;
    case Transfer::WaitEvent:
      ok = WaitCommEvent(Win(device), static_cast<DWORD*>(buffer), ov);
      break;
  }
  if (!ok) return static_cast<uint32_t>(GetLastError());  // ERROR_IO_PENDING among them
  *done = static_cast<uint32_t>(moved);
  return 0;
}

uint32_t WaitTransfer(IoRecord* record, uint32_t timeoutMs) {
  if (winnet::OwnsRecord(record)) return winnet::WaitTransfer(record, timeoutMs);
  const DWORD waited = WaitForSingleObject(Win(record->event), timeoutMs);
  if (waited == WAIT_OBJECT_0) return 0;
  if (waited == WAIT_TIMEOUT) return kWaitTimeout;
  if (waited == WAIT_FAILED) return static_cast<uint32_t>(GetLastError());
  return static_cast<uint32_t>(waited);
}

uint32_t FinishTransfer(Handle device, IoRecord* record, uint32_t* done) {
  if (winnet::IsDevice(device)) return winnet::FinishTransfer(device, record, done);
  DWORD moved = 0;
  const BOOL ok = GetOverlappedResult(Win(device), OverlappedOf(record), &moved, FALSE);
  const uint32_t code = ok ? 0 : static_cast<uint32_t>(GetLastError());
  *done = static_cast<uint32_t>(moved);
  return code;
}

void CancelTransfer(Handle device, IoRecord* record) {
  // A network transfer leaves nothing pending behind.
  if (winnet::IsDevice(device)) return;
  CancelIo(Win(device));
  // The cancelled transfer still writes its OVERLAPPED (and, for a read,
  // possibly the buffer) when it completes: wait for that before the record
  // may go out of scope.
  DWORD moved = 0;
  GetOverlappedResult(Win(device), OverlappedOf(record), &moved, TRUE);
}

// ---- Time -----------------------------------------------------------------

void SleepMs(uint32_t ms) { Sleep(ms); }

int64_t CalendarSeconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  // 100-ns intervals since 1601-01-01; 11644473600 s lie between that and 1970.
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000u) - INT64_C(11644473600);
}

uint64_t SessionSeedSource() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  uint64_t x = ((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) ^
               static_cast<uint64_t>(counter.QuadPart) ^
               (static_cast<uint64_t>(GetCurrentProcessId()) << 40);
  // The finaliser of splitmix64: every input bit reaches the low bits that
  // the seed keeps.
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
  return x ^ (x >> 31);
}

// ---- Registry --------------------------------------------------------------

uint32_t RegistryOpenKey(const char* subKey, Handle* key) {
  HKEY opened = nullptr;
  const LONG code = RegOpenKeyExA(HKEY_CLASSES_ROOT, subKey, 0, KEY_ALL_ACCESS, &opened);
  if (code != ERROR_SUCCESS) {
    *key = nullptr;
    return static_cast<uint32_t>(code);
  }
  *key = opened;
  return 0;
}

uint32_t RegistryQueryValue(Handle key, const char* valueName, char* data, uint32_t* size) {
  DWORD room = *size;
  const LONG code = RegQueryValueExA(static_cast<HKEY>(key), valueName, nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(data), &room);
  // On ERROR_MORE_DATA room holds the size needed, which the caller has not.
  if (code == ERROR_SUCCESS) *size = static_cast<uint32_t>(room);
  return static_cast<uint32_t>(code);
}

void RegistryCloseKey(Handle key) {
  if (key != nullptr) RegCloseKey(static_cast<HKEY>(key));
}

// ---- Window messages -------------------------------------------------------

bool DispatchOneMessage(intptr_t* result) {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    *result = 0;
    return false;
  }
  TranslateMessage(&msg);
  *result = static_cast<intptr_t>(DispatchMessageA(&msg));
  return true;
}

}  // namespace tarvo::sys
