// The Win32 network device: a port named rfc2217://HOST:PORT[?OPTIONS], or
// a COM name that the registry's port map (the key "SOFTWARE\TARVO\Ports"
// under HKEY_LOCAL_MACHINE) gives such a name. The protocol is
// serial/net_client.h's, over net_socket.h's Winsock; this file answers the
// device calls, imitating overlapped transfers with the client's buffered
// data: a transfer is pending while no data byte is there, and waiting on
// it waits for one.
#include <cstring>

#include "common/text.h"
#include "serial/net_client.h"
#include "serial/port_names.h"
#include "serial/rfc2217.h"
#include "serial/slots.h"
#include "serial/win32/device.h"
#include "serial/win32/net_socket.h"  // Winsock, and windows.h after it

namespace tarvo::sys::win32 {

namespace {

struct Port {
  net::Client client;
  WinsockSocket socket;
  Dcb shadow;
  CommTimeouts timeouts;
  uint32_t eventMask;
};

constexpr int kMaxPorts = 4;
Port ports[kMaxPorts];
Slots<kMaxPorts> portSlots;

Port& PortOf(Device* d) { return *static_cast<Port*>(d->own); }

// The pending transfer, kept in IoRecord::platform.
struct Pending {
  Transfer kind;
  void* buffer;
  uint32_t count;
};
static_assert(sizeof(Pending) <= sizeof(IoRecord::platform), "Pending fits the record");

Pending* PendingOf(IoRecord* record) { return reinterpret_cast<Pending*>(record->platform); }

// A WaitEvent completes with EV_RXCHAR once a data byte is there.
void StoreEvents(const Port& p, void* buffer) {
  const uint32_t seen = p.eventMask & kEvRxChar;
  std::memcpy(buffer, &seen, sizeof seen);
}

bool Claims(const char* name, char (&url)[256]) {
  if (rfc2217::HasScheme(name)) return CopyText(url, name);
  if (!IsComName(name)) return false;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  DWORD type = 0;
  DWORD size = sizeof url - 1;
  const LONG code =
      RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(url), &size);
  RegCloseKey(key);
  if (code != ERROR_SUCCESS || type != REG_SZ) return false;
  url[size < sizeof url ? size : sizeof url - 1] = '\0';
  return rfc2217::HasScheme(url);
}

uint32_t Open(const char* where, bool, Device* d) {
  rfc2217::Url url;
  if (!rfc2217::ParseUrl(where, &url)) return ERROR_FILE_NOT_FOUND;
  // Claimed before the connection, which takes time; given back on failure.
  const int i = portSlots.Claim();
  if (i < 0) return ERROR_TOO_MANY_OPEN_FILES;
  Port& p = ports[i];
  if (uint32_t code = p.client.Open(&p.socket, url)) {
    portSlots.Release(i);
    return code;
  }
  portSlots.Publish(i);
  // Until the first SetLineSettings the line reads back as the common
  // default of a serial port.
  p.shadow = Dcb{};
  p.shadow.length = sizeof(Dcb);
  p.shadow.baudRate = 9600;
  p.shadow.byteSize = 8;
  p.shadow.flags = kFlagBinary | kFlagDtrControlEnable | kFlagRtsControlEnable;
  p.timeouts = CommTimeouts{};
  p.eventMask = 0;
  d->own = &p;
  return 0;
}

void Close(Device* d) {
  Port& p = PortOf(d);
  p.client.Close();
  portSlots.Release(static_cast<int>(&p - ports));
}

uint32_t SetupQueues(Device*, uint32_t, uint32_t) { return 0; }

uint32_t GetLineSettings(Device* d, Dcb* dcb) {
  *dcb = PortOf(d).shadow;
  return 0;
}

// Every setting goes to the server each time, so that a server that
// restarted gets all of them back. The flags (handshake, event character)
// stay on this side.
uint32_t SetLineSettings(Device* d, const Dcb* dcb) {
  net::LineSettings settings;
  if (!net::SettingsFromDcb(*dcb, &settings)) return ERROR_INVALID_PARAMETER;
  if (uint32_t code = PortOf(d).client.SetLine(settings)) return code;
  PortOf(d).shadow = *dcb;
  return 0;
}

uint32_t GetTimeouts(Device* d, CommTimeouts* timeouts) {
  *timeouts = PortOf(d).timeouts;
  return 0;
}

uint32_t SetTimeouts(Device* d, const CommTimeouts* timeouts) {
  PortOf(d).timeouts = *timeouts;
  return 0;
}

uint32_t SetEventMask(Device* d, uint32_t mask) {
  PortOf(d).eventMask = mask;
  return 0;
}

uint32_t Purge(Device* d, uint32_t flags) {
  if ((flags & (kPurgeRxClear | kPurgeTxClear)) == 0) return 0;
  return PortOf(d).client.Purge();
}

uint32_t ModemStatus(Device* d, uint32_t* status) { return PortOf(d).client.ModemStatus(status); }

uint32_t EscapeLine(Device* d, Escape code) { return PortOf(d).client.Escape(code); }

uint32_t TransferNow(Device* d, Transfer kind, void* buffer, uint32_t count, uint32_t* done) {
  Port& p = PortOf(d);
  *done = 0;
  if (kind == Transfer::Write) {
    const uint32_t code = p.client.Write(static_cast<const uint8_t*>(buffer), count);
    if (code == 0) *done = count;
    return code;
  }
  // Without overlapped I/O the read waits as the read time-outs say: at
  // once for mode 0, up to the total time-out otherwise.
  const CommTimeouts& t = p.timeouts;
  const bool atOnce = t.readIntervalTimeout == 0xFFFFFFFFu && t.readTotalTimeoutMultiplier == 0 &&
                      t.readTotalTimeoutConstant == 0;
  const uint64_t total =
      static_cast<uint64_t>(t.readTotalTimeoutMultiplier) * count + t.readTotalTimeoutConstant;
  const uint32_t wait =
      atOnce ? 0 : (total == 0 || total > 0xFFFFFFFEu ? kInfinite : static_cast<uint32_t>(total));
  bool ready = false;
  if (uint32_t code = p.client.WaitData(wait, &ready)) return code;
  if (kind == Transfer::WaitEvent) {
    StoreEvents(p, buffer);
    return 0;
  }
  return p.client.Take(static_cast<uint8_t*>(buffer), count, done);
}

uint32_t StartTransfer(Device* d, Transfer kind, void* buffer, uint32_t count, uint32_t* done,
                       IoRecord* record) {
  Port& p = PortOf(d);
  *done = 0;
  *PendingOf(record) = Pending{kind, buffer, count};
  switch (kind) {
    case Transfer::Write: {
      const uint32_t code = p.client.Write(static_cast<const uint8_t*>(buffer), count);
      if (code == 0) *done = count;
      return code;
    }
    case Transfer::Read:
      if (count == 0) return 0;
      if (!p.client.HasData()) return kErrorIoPending;
      return p.client.Take(static_cast<uint8_t*>(buffer), count, done);
    case Transfer::WaitEvent:
      if (!p.client.HasData()) return kErrorIoPending;
      StoreEvents(p, buffer);
      return 0;
  }
  return kErrorIoPending;
}

uint32_t WaitTransfer(Device* d, IoRecord* record, uint32_t timeoutMs) {
  Port& p = PortOf(d);
  bool ready = false;
  if (uint32_t code = p.client.WaitData(timeoutMs, &ready)) return code;
  if (!ready) return kWaitTimeout;
  Pending* pending = PendingOf(record);
  if (pending->kind == Transfer::WaitEvent) StoreEvents(p, pending->buffer);
  return 0;
}

uint32_t FinishTransfer(Device* d, IoRecord* record, uint32_t* done) {
  Pending* pending = PendingOf(record);
  *done = 0;
  if (pending->kind != Transfer::Read) return 0;
  return PortOf(d).client.Take(static_cast<uint8_t*>(pending->buffer), pending->count, done);
}

// A network transfer leaves nothing pending behind.
void CancelTransfer(Device*, IoRecord*) {}

}  // namespace

const DeviceKind kNetworkDevice = {
    Claims,      Open,          Close,        SetupQueues,    GetLineSettings, SetLineSettings,
    GetTimeouts, SetTimeouts,   SetEventMask, Purge,          ModemStatus,     EscapeLine,
    TransferNow, StartTransfer, WaitTransfer, FinishTransfer, CancelTransfer,  true,
};

}  // namespace tarvo::sys::win32
