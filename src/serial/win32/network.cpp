// The Win32 network device; see network.h.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include "serial/win32/network.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "common/text.h"
#include "serial/net_client.h"
#include "serial/rfc2217.h"

namespace tarvo::sys::winnet {

namespace {

using net::Failure;

uint64_t NowMs() { return GetTickCount64(); }

uint32_t LastWsaError() {
  const int code = WSAGetLastError();
  return code == 0 ? static_cast<uint32_t>(WSAECONNRESET) : static_cast<uint32_t>(code);
}

// Winsock is started once, by the first open of a network port.
uint32_t StartWinsock() {
  static bool started = false;
  if (started) return 0;
  WSADATA data;
  if (const int code = WSAStartup(MAKEWORD(2, 2), &data)) return static_cast<uint32_t>(code);
  started = true;
  return 0;
}

// select() on one socket until the deadline: 1 ready, 0 timed out, -1
// failed. (A Windows fd_set is a counted array: no descriptor limit.)
int WaitSocket(SOCKET s, bool forWrite, uint64_t deadline) {
  const uint64_t now = NowMs();
  const uint64_t left = deadline > now ? deadline - now : 0;
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  fd_set errors;
  FD_ZERO(&errors);
  FD_SET(s, &errors);
  timeval tv;
  tv.tv_sec = static_cast<long>(left / 1000);
  tv.tv_usec = static_cast<long>((left % 1000) * 1000);
  const int r = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, &errors, &tv);
  if (r < 0) return -1;
  if (r == 0) return 0;
  return FD_ISSET(s, &errors) && !FD_ISSET(s, &set) ? -1 : 1;
}

void TuneSocket(SOCKET s) {
  const BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
}

uint32_t ConnectOne(const addrinfo* a, uint64_t deadline, SOCKET* out) {
  SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
  if (s == INVALID_SOCKET) return LastWsaError();
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0 &&
      WSAGetLastError() != WSAEWOULDBLOCK) {
    const uint32_t code = LastWsaError();
    closesocket(s);
    return code;
  }
  const int r = WaitSocket(s, true, deadline);
  int error = 0;
  int len = sizeof error;
  if (r <= 0 || getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0 ||
      error != 0) {
    const uint32_t code = r == 0 ? static_cast<uint32_t>(WSAETIMEDOUT)
                                 : (error != 0 ? static_cast<uint32_t>(error)
                                               : static_cast<uint32_t>(WSAECONNREFUSED));
    closesocket(s);
    return code;
  }
  TuneSocket(s);
  *out = s;
  return 0;
}

class WinsockSocket final : public net::NetSocket {
 public:
  uint32_t Connect(const char* host, uint16_t port, uint32_t timeoutMs) override {
    if (uint32_t code = StartWinsock()) return code;
    const uint64_t deadline = NowMs() + timeoutMs;
    char service[8];
    FormatText(service, sizeof service, nullptr, "%u", static_cast<unsigned>(port));
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    // The system resolver, only while a port is opened.
    if (getaddrinfo(host, service, &hints, &found) != 0 || found == nullptr) {
      return static_cast<uint32_t>(WSAHOST_NOT_FOUND);
    }
    uint32_t code = static_cast<uint32_t>(WSAHOST_NOT_FOUND);
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
      code = ConnectOne(a, deadline, &socket_);
      if (code == 0 || code == static_cast<uint32_t>(WSAETIMEDOUT)) break;
    }
    freeaddrinfo(found);
    return code;
  }

  uint32_t Send(const uint8_t* data, size_t count) override {
    size_t sent = 0;
    while (sent < count) {
      const int n = send(socket_, reinterpret_cast<const char*>(data) + sent,
                         static_cast<int>(count - sent), 0);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
        // The peer reads nothing for this long: the network has gone.
        if (WaitSocket(socket_, true, NowMs() + kSendStallMs) <= 0) return WSAECONNRESET;
        continue;
      }
      return LastWsaError();
    }
    return 0;
  }

  uint32_t Receive(uint8_t* buffer, size_t room, size_t* got, uint32_t timeoutMs) override {
    *got = 0;
    for (;;) {
      const int n = recv(socket_, reinterpret_cast<char*>(buffer), static_cast<int>(room), 0);
      if (n > 0) {
        *got = static_cast<size_t>(n);
        return 0;
      }
      if (n == 0) return WSAECONNRESET;
      if (WSAGetLastError() != WSAEWOULDBLOCK) return LastWsaError();
      if (timeoutMs == 0) return 0;
      const uint64_t deadline = timeoutMs == kInfinite ? UINT64_MAX / 2 : NowMs() + timeoutMs;
      const int r = WaitSocket(socket_, false, deadline);
      if (r < 0) return LastWsaError();
      if (r == 0) return 0;
      timeoutMs = 0;
    }
  }

  void Close() override {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }

  uint64_t NowMs() override { return winnet::NowMs(); }

  uint32_t Code(Failure failure) override {
    switch (failure) {
      case Failure::TimedOut: return WSAETIMEDOUT;
      case Failure::NotSupported: return WSAEPROTONOSUPPORT;
      case Failure::BadValue: return ERROR_INVALID_PARAMETER;
      case Failure::Gone: return WSAECONNRESET;
    }
    return ERROR_INVALID_FUNCTION;
  }

 private:
  static constexpr uint32_t kSendStallMs = 10000;
  SOCKET socket_ = INVALID_SOCKET;
};

struct Device {
  bool used;
  net::Client client;
  Dcb shadow;
  sys::CommTimeouts timeouts;
  uint32_t eventMask;
};

constexpr int kMaxDevices = 4;
Device devices[kMaxDevices];
WinsockSocket sockets[kMaxDevices];

Device* DeviceOf(Handle handle) {
  for (auto& d : devices) {
    if (&d == handle && d.used) return &d;
  }
  return nullptr;
}

int SlotOf(const Device* d) { return static_cast<int>(d - devices); }

// A pending transfer, kept in IoRecord::platform. The tag tells it from the
// platform's own records.
constexpr uint32_t kRecordTag = 0x32323137;  // "7122"
struct Pending {
  uint32_t tag;
  Transfer kind;
  Device* device;
  void* buffer;
  uint32_t count;
};
static_assert(sizeof(Pending) <= sizeof(IoRecord::platform), "Pending fits the record");

Pending* PendingOf(IoRecord* record) { return reinterpret_cast<Pending*>(record->platform); }

// A WaitEvent completes with EV_RXCHAR once a data byte is there.
void StoreEvents(const Device* d, void* buffer) {
  const uint32_t seen = d->eventMask & sys::kEvRxChar;
  std::memcpy(buffer, &seen, sizeof seen);
}

uint32_t Escape(Device* d, sys::Escape code) {
  switch (code) {
    case sys::Escape::SetRts: return d->client.Control(rfc2217::kControlRtsOn);
    case sys::Escape::ClrRts: return d->client.Control(rfc2217::kControlRtsOff);
    case sys::Escape::SetDtr: return d->client.Control(rfc2217::kControlDtrOn);
    case sys::Escape::ClrDtr: return d->client.Control(rfc2217::kControlDtrOff);
    case sys::Escape::SetBreak: return d->client.Control(rfc2217::kControlBreakOn);
    case sys::Escape::ClrBreak: return d->client.Control(rfc2217::kControlBreakOff);
  }
  return ERROR_INVALID_PARAMETER;
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

bool Claims(const char* name, char (&url)[256]) {
  if (rfc2217::HasScheme(name)) return CopyText(url, name);
  if (!IsComName(name)) return false;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\TARVO\\Ports", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
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

bool IsDevice(Handle device) { return DeviceOf(device) != nullptr; }

uint32_t OpenDevice(const char* name, Handle* device) {
  *device = nullptr;
  rfc2217::Url url;
  if (!rfc2217::ParseUrl(name, &url)) return ERROR_FILE_NOT_FOUND;
  Device* slot = nullptr;
  for (auto& d : devices) {
    if (!d.used) {
      slot = &d;
      break;
    }
  }
  if (slot == nullptr) return ERROR_TOO_MANY_OPEN_FILES;
  if (uint32_t code = slot->client.Open(&sockets[SlotOf(slot)], url)) return code;
  slot->used = true;
  // Until the first SetLineSettings the line reads back as the common
  // default of a serial port.
  slot->shadow = Dcb{};
  slot->shadow.length = sizeof(Dcb);
  slot->shadow.baudRate = 9600;
  slot->shadow.byteSize = 8;
  slot->shadow.flags = sys::kFlagBinary | sys::kFlagDtrControlEnable | sys::kFlagRtsControlEnable;
  slot->timeouts = sys::CommTimeouts{};
  slot->eventMask = 0;
  *device = slot;
  return 0;
}

void CloseDevice(Handle device) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return;
  d->client.Close();
  d->used = false;
}

uint32_t GetLineSettings(Handle device, Dcb* dcb) {
  *dcb = DeviceOf(device)->shadow;
  return 0;
}

uint32_t SetLineSettings(Handle device, const Dcb* dcb) {
  Device* d = DeviceOf(device);
  // Every setting goes to the server each time, so that a port opened
  // again after its server restarted gets all of them back. The flags
  // (handshake, event character) stay on this side.
  if (uint32_t code = d->client.SetLine(dcb->baudRate, dcb->byteSize, dcb->parity, dcb->stopBits)) {
    return code;
  }
  d->shadow = *dcb;
  return 0;
}

uint32_t GetTimeouts(Handle device, sys::CommTimeouts* timeouts) {
  *timeouts = DeviceOf(device)->timeouts;
  return 0;
}

uint32_t SetTimeouts(Handle device, const sys::CommTimeouts* timeouts) {
  DeviceOf(device)->timeouts = *timeouts;
  return 0;
}

uint32_t SetEventMask(Handle device, uint32_t mask) {
  DeviceOf(device)->eventMask = mask;
  return 0;
}

uint32_t PurgeQueues(Handle device, uint32_t flags) {
  if ((flags & (sys::kPurgeRxClear | sys::kPurgeTxClear)) == 0) return 0;
  return DeviceOf(device)->client.Purge();
}

uint32_t GetModemStatus(Handle device, uint32_t* status) {
  return DeviceOf(device)->client.ModemStatus(status);
}

uint32_t EscapeFunction(Handle device, sys::Escape code) { return Escape(DeviceOf(device), code); }

uint32_t TransferNow(Handle device, Transfer kind, void* buffer, uint32_t count, uint32_t* done) {
  Device* d = DeviceOf(device);
  *done = 0;
  if (kind == Transfer::Write) {
    const uint32_t code = d->client.Write(static_cast<const uint8_t*>(buffer), count);
    if (code == 0) *done = count;
    return code;
  }
  // Without overlapped I/O the read waits as the read time-outs say: at
  // once for mode 0, up to the total time-out otherwise.
  const sys::CommTimeouts& t = d->timeouts;
  const bool atOnce = t.readIntervalTimeout == 0xFFFFFFFFu && t.readTotalTimeoutMultiplier == 0 &&
                      t.readTotalTimeoutConstant == 0;
  const uint64_t total =
      static_cast<uint64_t>(t.readTotalTimeoutMultiplier) * count + t.readTotalTimeoutConstant;
  const uint32_t wait =
      atOnce ? 0
             : (total == 0 || total > 0xFFFFFFFEu ? sys::kInfinite : static_cast<uint32_t>(total));
  bool ready = false;
  if (uint32_t code = d->client.WaitData(wait, &ready)) return code;
  if (kind == Transfer::WaitEvent) {
    StoreEvents(d, buffer);
    return 0;
  }
  return d->client.Take(static_cast<uint8_t*>(buffer), count, done);
}

uint32_t StartTransfer(Handle device, Transfer kind, void* buffer, uint32_t count, uint32_t* done,
                       IoRecord* record) {
  Device* d = DeviceOf(device);
  *done = 0;
  Pending* p = PendingOf(record);
  *p = Pending{kRecordTag, kind, d, buffer, count};
  switch (kind) {
    case Transfer::Write: {
      const uint32_t code = d->client.Write(static_cast<const uint8_t*>(buffer), count);
      if (code == 0) *done = count;
      return code;
    }
    case Transfer::Read:
      if (count == 0) return 0;
      if (!d->client.HasData()) return sys::kErrorIoPending;
      return d->client.Take(static_cast<uint8_t*>(buffer), count, done);
    case Transfer::WaitEvent:
      if (!d->client.HasData()) return sys::kErrorIoPending;
      StoreEvents(d, buffer);
      return 0;
  }
  return sys::kErrorIoPending;
}

bool OwnsRecord(const IoRecord* record) {
  const auto* p = reinterpret_cast<const Pending*>(record->platform);
  return p->tag == kRecordTag && DeviceOf(p->device) != nullptr;
}

uint32_t WaitTransfer(IoRecord* record, uint32_t timeoutMs) {
  Pending* p = PendingOf(record);
  bool ready = false;
  if (uint32_t code = p->device->client.WaitData(timeoutMs, &ready)) return code;
  if (!ready) return sys::kWaitTimeout;
  if (p->kind == Transfer::WaitEvent) StoreEvents(p->device, p->buffer);
  return 0;
}

uint32_t FinishTransfer(Handle device, IoRecord* record, uint32_t* done) {
  Pending* p = PendingOf(record);
  *done = 0;
  if (p->kind != Transfer::Read) return 0;
  return DeviceOf(device)->client.Take(static_cast<uint8_t*>(p->buffer), p->count, done);
}

}  // namespace tarvo::sys::winnet
