// The POSIX network device: a serial port reached over TCP with Telnet and
// the Com Port option (serial/net_client.h does the protocol), as a kind of
// device beside the terminal one. Its sockets are non-blocking TCP over
// poll(), with TCP_NODELAY and keepalive.
//
// Codes are errno values: ETIMEDOUT (no connection, negotiation or
// acknowledgement in time), EPROTONOSUPPORT (the server refuses the Com
// Port option), EINVAL (a setting answered with another value),
// ECONNRESET (the connection was reset or ended), ENOENT (a malformed
// URL), or the errno of the failing call.
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <climits>

#include "common/text.h"
#include "serial/net_client.h"
#include "serial/posix/device.h"
#include "serial/posix/posix_util.h"
#include "serial/posix/resolver.h"
#include "serial/rfc2217.h"
#include "serial/slots.h"

namespace tarvo::sys::posix {

using net::Failure;

namespace {

uint64_t Now() { return static_cast<uint64_t>(MonotonicMs()); }

// poll() for `what`, resuming after signals, until the deadline. 1 ready,
// 0 timed out, -1 failed.
int PollUntil(int fd, short what, uint64_t deadline) {
  for (;;) {
    const uint64_t now = Now();
    const uint64_t left = deadline > now ? deadline - now : 0;
    pollfd p{fd, what, 0};
    const int r = poll(&p, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
    if (r > 0) return 1;
    if (r == 0 && Now() >= deadline) return 0;
    if (r < 0 && errno != EINTR) return -1;
  }
}

void TuneSocket(int fd) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  // A peer that vanished without a word is noticed within a minute even
  // while nothing is sent: 30 s idle, then three probes 10 s apart.
  const int idle = 30, interval = 10, count = 3;
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

// One non-blocking connect to one address, bounded by the deadline.
uint32_t ConnectOne(const addrinfo* a, uint64_t deadline, int* out) {
  const int fd =
      socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
  if (fd < 0) return LastErrno();
  if (connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
    const uint32_t code = LastErrno();
    close(fd);
    return code;
  }
  const int r = PollUntil(fd, POLLOUT, deadline);
  int error = 0;
  socklen_t len = sizeof error;
  if (r <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
    const uint32_t code = r == 0 ? ETIMEDOUT : (r < 0 ? LastErrno() : static_cast<uint32_t>(error));
    close(fd);
    return code == 0 ? EIO : code;
  }
  TuneSocket(fd);
  *out = fd;
  return 0;
}

class PosixSocket final : public net::NetSocket {
 public:
  uint32_t Connect(const char* host, uint16_t port, uint32_t timeoutMs) override {
    const uint64_t deadline = Now() + timeoutMs;
    addrinfo* found = nullptr;
    // The system resolver; the only call of the driver that may allocate,
    // made only while a port is connected, and bounded with the connect.
    if (uint32_t code = ResolveBy(host, port, static_cast<int64_t>(deadline), &found)) return code;
    uint32_t code = EHOSTUNREACH;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
      code = ConnectOne(a, deadline, &fd_);
      if (code == 0 || code == ETIMEDOUT) break;
    }
    freeaddrinfo(found);
    return code;
  }

  uint32_t Send(const uint8_t* data, size_t count, uint32_t stallMs, size_t* sent) override {
    *sent = 0;
    while (*sent < count) {
      const ssize_t n = send(fd_, data + *sent, count - *sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        *sent += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (stallMs == 0) return 0;
        const int r = PollUntil(fd_, POLLOUT, Now() + stallMs);
        if (r < 0) return LastErrno();
        if (r == 0) return 0;  // the peer took nothing for stallMs
        continue;
      }
      return n < 0 && errno != EPIPE ? LastErrno() : ECONNRESET;
    }
    return 0;
  }

  uint32_t Receive(uint8_t* buffer, size_t room, size_t* got, uint32_t timeoutMs) override {
    *got = 0;
    for (;;) {
      const ssize_t n = recv(fd_, buffer, room, MSG_DONTWAIT);
      if (n > 0) {
        *got = static_cast<size_t>(n);
        return 0;
      }
      if (n == 0) return ECONNRESET;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return errno == EPIPE ? ECONNRESET : LastErrno();
      if (timeoutMs == 0) return 0;
      const uint64_t deadline = timeoutMs == sys::kInfinite ? UINT64_MAX / 2 : Now() + timeoutMs;
      const int r = PollUntil(fd_, POLLIN, deadline);
      if (r < 0) return LastErrno();
      if (r == 0) return 0;
      timeoutMs = 0;
    }
  }

  void Close() override {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  uint64_t NowMs() override { return Now(); }

  uint32_t Code(Failure failure) override {
    switch (failure) {
      case Failure::TimedOut: return ETIMEDOUT;
      case Failure::NotSupported: return EPROTONOSUPPORT;
      case Failure::BadValue: return EINVAL;
      case Failure::Gone: return ECONNRESET;
    }
    return EIO;
  }

  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// One client per open network device, with its socket.
struct Port {
  PosixSocket socket;
  net::Client client;
};
constexpr int kMaxPorts = 4;
Port ports[kMaxPorts];
Slots<kMaxPorts> portSlots;

net::Client& ClientOf(Device* d) { return static_cast<Port*>(d->context)->client; }

bool Claims(const char* name) {
  if (rfc2217::HasScheme(name)) return true;
  char where[256];
  return ResolveDeviceName(name, where, sizeof where) == 0 && rfc2217::HasScheme(where);
}

uint32_t Resolve(const char* name, char* where, size_t cap) {
  if (rfc2217::HasScheme(name)) return CopyText(where, cap, name) ? 0 : ENAMETOOLONG;
  return ResolveDeviceName(name, where, cap);
}

uint32_t Open(const char* where, Device* device) {
  rfc2217::Url url;
  if (!rfc2217::ParseUrl(where, &url)) return ENOENT;
  // The port is claimed before the connection, which takes time: no other
  // open may take it meanwhile, and a failed one gives it back.
  const int i = portSlots.Claim();
  if (i < 0) return EMFILE;
  Port* port = &ports[i];
  if (uint32_t code = port->client.Open(&port->socket, url)) {
    portSlots.Release(i);
    return code;
  }
  portSlots.Publish(i);
  device->context = port;
  // The client waits on its socket itself, which a reconnection replaces.
  device->fd = -1;
  // Until the first SetLineSettings the line reads back as a serial port's
  // common default.
  device->shadow.length = sizeof(Dcb);
  device->shadow.baudRate = 9600;
  device->shadow.byteSize = 8;
  device->shadow.flags = kFlagBinary | kFlagDtrControlEnable | kFlagRtsControlEnable;
  return 0;
}

void Close(Device* device) {
  auto* port = static_cast<Port*>(device->context);
  port->client.Close();
  portSlots.Release(static_cast<int>(port - ports));
}

uint32_t GetLineSettings(Device* device, Dcb* dcb) {
  *dcb = device->shadow;
  return 0;
}

// Every setting goes to the server each time, so that a server that
// restarted gets all of them back; the flags (handshake, event character)
// stay on this side.
uint32_t SetLineSettings(Device* device, const Dcb* dcb) {
  net::LineSettings settings;
  if (!net::SettingsFromDcb(*dcb, &settings)) return EINVAL;
  const uint32_t code = ClientOf(device).SetLine(settings);
  if (code == 0) device->shadow = *dcb;
  return code;
}

uint32_t Purge(Device* device, bool, bool) { return ClientOf(device).Purge(); }

uint32_t ModemStatus(Device* device, uint32_t* status) {
  return ClientOf(device).ModemStatus(status);
}

uint32_t Escape(Device* device, sys::Escape code) { return ClientOf(device).Escape(code); }

uint32_t ReadSome(Device* device, void* buffer, uint32_t count, uint32_t* got) {
  net::Client& client = ClientOf(device);
  *got = 0;
  bool ready = false;
  if (uint32_t code = client.WaitData(0, &ready)) return code;
  if (!ready) return kErrorIoPending;
  return client.Take(static_cast<uint8_t*>(buffer), count, got);
}

uint32_t WriteSome(Device* device, const unsigned char* buffer, uint32_t count, uint32_t* moved) {
  const uint32_t code = ClientOf(device).Write(buffer + *moved, count - *moved);
  if (code == 0) *moved = count;
  return code;
}

uint32_t EventsNow(Device* device, uint32_t mask) {
  bool ready = false;
  ClientOf(device).WaitData(0, &ready);
  return ready ? (kEvRxChar & mask) : 0;
}

uint32_t WaitInput(Device* device, uint32_t timeoutMs) {
  bool ready = false;
  if (uint32_t code = ClientOf(device).WaitData(timeoutMs, &ready)) return code;
  return ready ? 0 : kWaitTimeout;
}

}  // namespace

const DeviceKind kNetworkDevice = {
    Claims,      Resolve, Open,     Close,     GetLineSettings, SetLineSettings, Purge,
    ModemStatus, Escape,  ReadSome, WriteSome, EventsNow,       WaitInput,       true,
};

}  // namespace tarvo::sys::posix
