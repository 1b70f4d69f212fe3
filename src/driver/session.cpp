// The session calls: IniciaDriver, EncerraDriver, DefineTimeout, DoMessage.
#include <cstring>

#include "common/text.h"
#include "driver/comm_settings.h"
#include "driver/driver_state.h"
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

}  // namespace

}  // namespace tarvo

using namespace tarvo;

extern "C" TARVO_API int TARVO_CALL IniciaDriver(const char* PortaSerial) {
  DriverState& d = driverState;
  LogLine("IniciaDriver%s PortaSerial=%s\n", LogTag(), PortaSerial ? PortaSerial : "");
  d.cmdId = static_cast<int>(sys::CalendarSeconds() % 255);

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
  if (Handle != d.fArq) return TARVO_BAD_HANDLE;
  d.port.Close();
  d.fArq = -1;
  TraceStop();
  return 0;
}
TARVO_EXPORT_ALIAS(int, EncerraDriver, (int))

extern "C" TARVO_API void TARVO_CALL DefineTimeout(int Handle, int iTimeout) {
  DriverState& d = driverState;
  if (Handle != d.fArq) {
    LogLine("DefineTimeout%s Handle=%d diferente de fArq=%d\n", LogTag(), Handle, d.fArq);
    return;
  }
  if (d.cmdBusy != 0) {
    LogLine("DefineTimeout%s Ha comando em execucao!\n", LogTag());
    return;
  }
  d.Timeout = iTimeout < kDefaultTimeoutMs ? kDefaultTimeoutMs : iTimeout;
  if (traceState.nivelLog == 1) {
    LogLine("DefineTimeout%s iTimeout=%d => Timeout=%d\n", LogTag(), iTimeout, d.Timeout);
  }
}
TARVO_EXPORT_ALIAS(void, DefineTimeout, (int, int))

extern "C" TARVO_API int TARVO_CALL DoMessage(void) {
  intptr_t result = 0;
  if (!sys::DispatchOneMessage(&result)) return 0;
  return static_cast<int>(result);
}
TARVO_EXPORT_ALIAS(int, DoMessage, (void))
