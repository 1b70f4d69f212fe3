// The Win32 system layer's calls that are no device's: I/O events, the
// registry, window messages, sleep and calendar time, each one Win32 call
// (or a short fixed sequence of them) behind the interface of system.h. The
// devices are in devices.cpp, with one file per kind (comm.cpp,
// network.cpp).
//
// Every failure is returned as the GetLastError (or registry) code read
// right after the failing call, before any clean-up call can replace it.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>

#include "serial/system.h"

namespace tarvo::sys {

namespace {

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

}  // namespace

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
