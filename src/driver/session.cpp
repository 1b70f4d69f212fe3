// The session calls: IniciaDriver, EncerraDriver, DefineTimeout, DoMessage.
#include <cstring>

#include "common/text.h"
#include "driver/comm_settings.h"
#include "driver/driver_state.h"
#include "driver/export.h"
#include "driver/internal.h"
#include "serial/port_names.h"
#include "trace/trace.h"
#include "trace/trace_lines.h"

namespace tarvo {

DriverState driverState;

namespace {

constexpr uint32_t kSettingsRoom = kCommSettingsRoom;

// The device for a port name (serial/port_names.h), with its trace line.
// False for a bad channel.
bool ChooseDevice(const char* name, char (&device)[kPortNameSize]) {
  switch (ChoosePortDevice(name, device)) {
    case PortName::Refused: return false;
    case PortName::Com: LogLine(TRACE_INICIA_COM, LogTag(), name + 3); return true;
    default: LogLine(TRACE_INICIA_DEVICE, LogTag(), device); return true;
  }
}

// The line rate from the registry, or the fallback with a line for each
// reason it could not be used.
int ReadLineRate() {
  sys::Handle key = nullptr;
  if (sys::RegistryOpenKey(kSettingsKey, &key) != 0) {
    LogLine(TRACE_INICIA_REG_OPEN, LogTag());
    return kFallbackRate;
  }
  char value[kSettingsRoom];
  uint32_t size = kSettingsRoom;
  if (sys::RegistryQueryValue(key, "CommSettings", value, &size) != 0) {
    LogLine(TRACE_INICIA_REG_READ, LogTag());
    sys::RegistryCloseKey(key);
    return kFallbackRate;
  }
  const CommSettingsCheck check =
      CheckCommSettings(value, size < kSettingsRoom ? size : kSettingsRoom);
  sys::RegistryCloseKey(key);
  if (!check.rateOk) LogLine(TRACE_INICIA_RATE, LogTag());
  if (!check.sizeOk) LogLine(TRACE_INICIA_SIZE, LogTag());
  if (!check.parityOk) LogLine(TRACE_INICIA_PARITY, LogTag());
  if (!check.stopOk) LogLine(TRACE_INICIA_STOP, LogTag());
  return check.Usable() ? check.rate : kFallbackRate;
}

// The seed of a session's frame ids, 0 to 254; the first new command takes
// the seed plus 1. Its source differs between sessions opened in quick
// succession. Within the process a session never takes the previous one's
// seed, nor one whose first id is the id of the last command sent: sent
// with that command's name and parameters, it would be taken by the
// printer for a resend and answered from memory, not carried out.
int NextSessionSeed(DriverState& d) {
  const int lastIdSent = ReadDecimal(d.lastIdText, sizeof d.lastIdText);
  int seed = static_cast<int>(sys::SessionSeedSource() % 255);
  while (seed == d.lastSeed || seed + 1 == lastIdSent) seed = (seed + 1) % 255;
  d.lastSeed = seed;
  return seed;
}

void SetTimeout(int iTimeout) {
  DriverState& d = driverState;
  d.Timeout = iTimeout < kDefaultTimeoutMs ? kDefaultTimeoutMs : iTimeout;
  if (TraceNivelLog() == 1) {
    LogLine(TRACE_TIMEOUT_SET, LogTag(), iTimeout, d.Timeout);
  }
}

// DefineTimeout's handle test, with its trace line when it fails.
bool TimeoutHandleMatches(int handle) {
  if (handle == driverState.fArq) return true;
  LogLine(TRACE_TIMEOUT_HANDLE, LogTag(), handle, driverState.fArq);
  return false;
}

// Closes the port now and stops tracing.
void ClosePort() {
  driverState.port.Close();
  TraceStop();
}

}  // namespace

void DefineTimeoutClaimed(int handle, int iTimeout) {
  if (TimeoutHandleMatches(handle)) SetTimeout(iTimeout);
}

void RestoreDefaultTimeout() { driverState.Timeout = kDefaultTimeoutMs; }

bool SessionOpenLocked() { return driverState.fArq == 1; }

int IniciaDriverLocked(const char* PortaSerial) {
  DriverState& d = driverState;
  // A close asked for while the caller's own start-up ran is carried out
  // before anything is opened.
  if (d.closePending != 0) {
    d.closePending = 0;
    ClosePort();
  }
  TraceStartFromEnvironment();
  LogLine(TRACE_INICIA_PORTA, LogTag(), PortaSerial ? PortaSerial : "");
  d.cmdId = NextSessionSeed(d);

  char device[sizeof d.portName];
  if (PortaSerial == nullptr || !ChooseDevice(PortaSerial, device)) {
    LogLine(TRACE_INICIA_CANAL, LogTag());
    return TARVO_BAD_CHANNEL;
  }
  const int rate = ReadLineRate();
  // While a port is open its session keeps its device: the Open below is
  // refused, and a later re-open after a reception failure must still reach
  // the printer of the open session.
  if (!d.port.IsOpen()) CopyText(d.portName, device);
  if (uint32_t code = d.port.Open(device, kQueueSize, kQueueSize, 1)) {
    LogLine(TRACE_INICIA_OPEN_FAILED, LogTag(), static_cast<int>(sys::ErrorNumber(code)));
    return TARVO_BAD_CHANNEL;
  }
  // A network port's settings are acknowledged by its server: one refused,
  // answered with another value or not answered in time fails the open. A
  // terminal's result is not examined, as ever.
  if (uint32_t code = d.port.Configure(rate, kByteSize, kParityEven, kOneStopBit);
      code != 0 && d.port.Heals()) {
    d.port.Close();
    LogLine(TRACE_INICIA_OPEN_FAILED, LogTag(), static_cast<int>(sys::ErrorNumber(code)));
    return TARVO_BAD_CHANNEL;
  }
  d.port.Purge();
  d.port.SetRts();
  d.port.SetDtr();
  d.lineRate = rate;
  d.Timeout = kDefaultTimeoutMs;
  d.abandoned = 0;
  d.fArq = 1;
  return 1;
}

int EncerraDriverLocked(int handle, bool ownExchange) {
  DriverState& d = driverState;
  LogLine(TRACE_ENCERRA, LogTag(), handle);
  if (handle != d.fArq) return TARVO_BAD_HANDLE;
  d.fArq = -1;
  if (d.cmdBusy != 0 && !ownExchange) {
    // Another thread's exchange keeps the port until it ends (it no longer
    // re-opens it); the port is closed then.
    d.abandoned = 1;
    d.closePending = 1;
    return 0;
  }
  ClosePort();
  return 0;
}

}  // namespace tarvo

using namespace tarvo;

extern "C" TARVO_API int TARVO_CALL IniciaDriver(const char* PortaSerial) {
  SessionLock lock(SessionLock::kOnceIdle);
  return IniciaDriverLocked(PortaSerial);
}
TARVO_EXPORT_ALIAS(int, IniciaDriver, (const char*))

// Ends the session at once, also while another thread's exchange runs.
extern "C" TARVO_API int TARVO_CALL EncerraDriver(int Handle) {
  SessionLock lock(SessionLock::kAsItIs);
  return EncerraDriverLocked(Handle, false);
}
TARVO_EXPORT_ALIAS(int, EncerraDriver, (int))

extern "C" TARVO_API void TARVO_CALL DefineTimeout(int Handle, int iTimeout) {
  SessionLock lock(SessionLock::kAsItIs);
  if (!TimeoutHandleMatches(Handle)) return;
  if (driverState.cmdBusy != 0) {
    LogLine(TRACE_TIMEOUT_BUSY, LogTag());
    return;
  }
  SetTimeout(iTimeout);
}
TARVO_EXPORT_ALIAS(void, DefineTimeout, (int, int))

// Takes no lock: a window procedure it dispatches may call the driver.
extern "C" TARVO_API int TARVO_CALL DoMessage(void) {
  intptr_t result = 0;
  if (!sys::DispatchOneMessage(&result)) return 0;
  return static_cast<int>(result);
}
TARVO_EXPORT_ALIAS(int, DoMessage, (void))
