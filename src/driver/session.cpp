// The session calls: IniciaDriver, EncerraDriver, DefineTimeout, DoMessage.
#include <cstring>

#include "common/text.h"
#include "driver/comm_settings.h"
#include "driver/driver_state.h"
#include "driver/exchange_guard.h"
#include "driver/export.h"
#include "serial/rfc2217.h"
#include "trace/trace.h"

namespace tarvo {

DriverState driverState;

namespace {

constexpr const char* kSettingsKey = "BelmoraPOS\\ImpressoraFiscal";
constexpr uint32_t kSettingsRoom = 20;

// The device for a port name, into device[40]. A name holding "/dev/" is
// used whole; otherwise the characters from the fourth on must be a port
// number whose first digit is 0 to 8, and every digit that follows belongs
// to it, so that COM15 reaches port 15 (the first three characters are not
// examined). False for a bad channel.
bool ChooseDevice(const char* name, char (&device)[40]) {
  // A network port's URL is used whole too; a malformed one, or one longer
  // than the device name's 39 characters, is a bad channel.
  if (rfc2217::HasScheme(name)) {
    rfc2217::Url url;
    if (!rfc2217::ParseUrl(name, &url) || !CopyText(device, name)) return false;
    LogLine("IniciaDriver%s %s\n", LogTag(), device);
    return true;
  }
  if (std::strstr(name, "/dev/") != nullptr) {
    if (!CopyText(device, name)) return false;
    LogLine("IniciaDriver%s %s\n", LogTag(), device);
    return true;
  }
  if (BoundedLength(name, 4) < 4 || name[3] < '0' || name[3] > '8') return false;
  size_t digits = 0;
  while (name[3 + digits] >= '0' && name[3 + digits] <= '9') ++digits;
  CopyText(device, "COM");
  if (!AppendBytes(device, sizeof device, name + 3, digits)) return false;
  LogLine("IniciaDriver%s COM%s\n", LogTag(), name + 3);
  return true;
}

// The line rate from the registry, or the fallback with a line for each
// reason it could not be used.
int ReadLineRate() {
  sys::Handle key = nullptr;
  if (sys::RegistryOpenKey(kSettingsKey, &key) != 0) {
    LogLine("IniciaDriver%s Erro na abertura do Register\n", LogTag());
    return kFallbackRate;
  }
  char value[kSettingsRoom];
  uint32_t size = kSettingsRoom;
  if (sys::RegistryQueryValue(key, "CommSettings", value, &size) != 0) {
    LogLine("IniciaDriver%s Erro na leitura do Register\n", LogTag());
    sys::RegistryCloseKey(key);
    return kFallbackRate;
  }
  const CommSettingsCheck check =
      CheckCommSettings(value, size < kSettingsRoom ? size : kSettingsRoom);
  sys::RegistryCloseKey(key);
  if (!check.rateOk) LogLine("IniciaDriver%s Erro de configuracao[velocidade]\n", LogTag());
  if (!check.sizeOk) LogLine("IniciaDriver%s Erro de configuracao[tamanho]\n", LogTag());
  if (!check.parityOk) LogLine("IniciaDriver%s Erro de configuracao[paridade]\n", LogTag());
  if (!check.stopOk) LogLine("IniciaDriver%s Erro de configuracao[stop bit]\n", LogTag());
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
  if (traceState.nivelLog == 1) {
    LogLine("DefineTimeout%s iTimeout=%d => Timeout=%d\n", LogTag(), iTimeout, d.Timeout);
  }
}

// DefineTimeout's handle test, with its trace line when it fails.
bool TimeoutHandleMatches(int handle) {
  if (handle == driverState.fArq) return true;
  LogLine("DefineTimeout%s Handle=%d diferente de fArq=%d\n", LogTag(), handle,
          driverState.fArq.load());
  return false;
}

}  // namespace

void DefineTimeoutClaimed(int handle, int iTimeout) {
  if (TimeoutHandleMatches(handle)) SetTimeout(iTimeout);
}

}  // namespace tarvo

using namespace tarvo;

extern "C" TARVO_API int TARVO_CALL IniciaDriver(const char* PortaSerial) {
  DriverState& d = driverState;
  TraceStartFromEnvironment();
  LogLine("IniciaDriver%s PortaSerial=%s\n", LogTag(), PortaSerial ? PortaSerial : "");
  d.cmdId = NextSessionSeed(d);

  char device[40];
  if (PortaSerial == nullptr || !ChooseDevice(PortaSerial, device)) {
    LogLine("IniciaDriver%s Erro[canal]\n", LogTag());
    return TARVO_BAD_CHANNEL;
  }
  const int rate = ReadLineRate();
  // While a port is open its session keeps its device: the Open below is
  // refused, and a later re-open after a reception failure must still reach
  // the printer of the open session.
  if (!d.port.IsOpen()) CopyText(d.portName, device);
  if (uint32_t code = d.port.Open(device, kQueueSize, kQueueSize, 1)) {
    LogLine("IniciaDriver%s Erro [%d] na inicializacao da COM\n", LogTag(),
            static_cast<int>(sys::ErrorNumber(code)));
    return TARVO_BAD_CHANNEL;
  }
  d.port.Configure(rate, kByteSize, kParityEven, kOneStopBit);
  d.port.Purge();
  d.port.SetRts();
  d.port.SetDtr();
  d.lineRate = rate;
  d.Timeout = kDefaultTimeoutMs;
  d.fArq = 1;
  return 1;
}
TARVO_EXPORT_ALIAS(int, IniciaDriver, (const char*))

extern "C" TARVO_API int TARVO_CALL EncerraDriver(int Handle) {
  DriverState& d = driverState;
  LogLine("EncerraDriver%s Handle=%d\n", LogTag(), Handle);
  // One atomic step, so that two threads ending the session both see it
  // open only once. An exchange that another thread runs meanwhile keeps
  // the port until it ends (it no longer re-opens it); the port is closed
  // then, and right now when none runs.
  int expected = Handle;
  if (!d.fArq.compare_exchange_strong(expected, -1)) return TARVO_BAD_HANDLE;
  ClosePortWhenIdle();
  return 0;
}
TARVO_EXPORT_ALIAS(int, EncerraDriver, (int))

extern "C" TARVO_API void TARVO_CALL DefineTimeout(int Handle, int iTimeout) {
  if (!TimeoutHandleMatches(Handle)) return;
  // Holding the flag while setting keeps an exchange that another thread
  // starts meanwhile from reading a half-made change.
  if (!ClaimExchange()) {
    LogLine("DefineTimeout%s Ha comando em execucao!\n", LogTag());
    return;
  }
  SetTimeout(iTimeout);
  ReleaseExchange();
}
TARVO_EXPORT_ALIAS(void, DefineTimeout, (int, int))

extern "C" TARVO_API int TARVO_CALL DoMessage(void) {
  intptr_t result = 0;
  if (!sys::DispatchOneMessage(&result)) return 0;
  return static_cast<int>(result);
}
TARVO_EXPORT_ALIAS(int, DoMessage, (void))
