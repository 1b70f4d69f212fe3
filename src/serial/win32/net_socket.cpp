// Winsock for the network client; see net_socket.h.
#include "serial/win32/net_socket.h"

#include <mstcpip.h>
#include <windows.h>
#include <ws2tcpip.h>

#include "common/text.h"
#include "serial/rfc2217.h"

namespace tarvo::sys::win32 {

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
  // Keepalive as on POSIX: a peer that vanished without a word is noticed
  // within a minute even while nothing is sent (30 s idle, then probes
  // 10 s apart; Windows makes 10 probes, so at most 130 s). Without this
  // the system's two hours apply.
  tcp_keepalive k{};
  k.onoff = 1;
  k.keepalivetime = 30000;
  k.keepaliveinterval = 10000;
  DWORD returned = 0;
  WSAIoctl(s, SIO_KEEPALIVE_VALS, &k, sizeof k, nullptr, 0, &returned, nullptr, nullptr);
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

// Name resolution with a deadline. getaddrinfo has no time-out of its own
// (a DNS server that never answers holds it for its whole retry schedule),
// so each lookup runs on a short-lived thread, and the caller waits for it
// no longer than its deadline. A lookup given up on finishes alone and
// frees what it found. At most kMaxLookups are outstanding at once.
struct Lookup {
  enum State { Free, Busy, Done, Abandoned } state;
  char host[rfc2217::kMaxHost + 1];
  char service[8];
  int error;
  addrinfo* found;
};
constexpr int kMaxLookups = 4;
Lookup lookups[kMaxLookups];
SRWLOCK lock = SRWLOCK_INIT;
CONDITION_VARIABLE done = CONDITION_VARIABLE_INIT;

DWORD WINAPI RunLookup(void* arg) {
  auto* lookup = static_cast<Lookup*>(arg);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const int error = getaddrinfo(lookup->host, lookup->service, &hints, &found);
  AcquireSRWLockExclusive(&lock);
  if (lookup->state == Lookup::Abandoned) {
    if (found != nullptr) freeaddrinfo(found);
    lookup->state = Lookup::Free;
  } else {
    lookup->error = error;
    lookup->found = found;
    lookup->state = Lookup::Done;
    WakeAllConditionVariable(&done);
  }
  ReleaseSRWLockExclusive(&lock);
  return 0;
}

Lookup* Claim(const char* host, const char* service) {
  for (auto& l : lookups) {
    if (l.state != Lookup::Free) continue;
    l = Lookup{};
    l.state = Lookup::Busy;
    CopyText(l.host, host);
    CopyText(l.service, service);
    return &l;
  }
  return nullptr;
}

uint32_t ResolveBy(const char* host, const char* service, uint64_t deadline, addrinfo** found) {
  AcquireSRWLockExclusive(&lock);
  Lookup* lookup = Claim(host, service);
  HANDLE thread =
      lookup == nullptr ? nullptr : CreateThread(nullptr, 0, RunLookup, lookup, 0, nullptr);
  if (thread == nullptr) {
    if (lookup != nullptr) lookup->state = Lookup::Free;
    ReleaseSRWLockExclusive(&lock);
    return lookup == nullptr ? WSAETIMEDOUT : static_cast<uint32_t>(GetLastError());
  }
  CloseHandle(thread);
  while (lookup->state == Lookup::Busy) {
    const uint64_t now = NowMs();
    if (now >= deadline) break;
    SleepConditionVariableSRW(&done, &lock, static_cast<DWORD>(deadline - now), 0);
  }
  uint32_t code = WSAETIMEDOUT;
  if (lookup->state == Lookup::Done) {
    code = lookup->error == 0 && lookup->found != nullptr ? 0 : WSAHOST_NOT_FOUND;
    if (code == 0) *found = lookup->found;
    if (code != 0 && lookup->found != nullptr) freeaddrinfo(lookup->found);
    lookup->state = Lookup::Free;
  } else {
    lookup->state = Lookup::Abandoned;
  }
  ReleaseSRWLockExclusive(&lock);
  return code;
}

// An address needs no lookup, and no thread.
bool Numeric(const char* host, const char* service, addrinfo** found) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICHOST;
  if (getaddrinfo(host, service, &hints, found) == 0 && *found != nullptr) return true;
  *found = nullptr;
  return false;
}

}  // namespace

uint32_t WinsockSocket::Connect(const char* host, uint16_t port, uint32_t timeoutMs) {
  if (uint32_t code = StartWinsock()) return code;
  const uint64_t deadline = NowMs() + timeoutMs;
  char service[8];
  FormatText(service, sizeof service, nullptr, "%u", static_cast<unsigned>(port));
  addrinfo* found = nullptr;
  // The system resolver, only while a port is connected, bounded with the
  // connection.
  if (!Numeric(host, service, &found)) {
    if (uint32_t code = ResolveBy(host, service, deadline, &found)) return code;
  }
  uint32_t code = static_cast<uint32_t>(WSAHOST_NOT_FOUND);
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    code = ConnectOne(a, deadline, &socket_);
    if (code == 0 || code == static_cast<uint32_t>(WSAETIMEDOUT)) break;
  }
  freeaddrinfo(found);
  return code;
}

uint32_t WinsockSocket::Send(const uint8_t* data, size_t count, uint32_t stallMs, size_t* sent) {
  *sent = 0;
  while (*sent < count) {
    const int n = send(socket_, reinterpret_cast<const char*>(data) + *sent,
                       static_cast<int>(count - *sent), 0);
    if (n > 0) {
      *sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
      if (stallMs == 0) return 0;
      const int r = WaitSocket(socket_, true, NowMs() + stallMs);
      if (r < 0) return LastWsaError();
      if (r == 0) return 0;  // the peer took nothing for stallMs
      continue;
    }
    return LastWsaError();
  }
  return 0;
}

uint32_t WinsockSocket::Receive(uint8_t* buffer, size_t room, size_t* got, uint32_t timeoutMs) {
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

void WinsockSocket::Close() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  socket_ = INVALID_SOCKET;
}

uint64_t WinsockSocket::NowMs() { return win32::NowMs(); }

uint32_t WinsockSocket::Code(Failure failure) {
  switch (failure) {
    case Failure::TimedOut: return WSAETIMEDOUT;
    case Failure::NotSupported: return WSAEPROTONOSUPPORT;
    case Failure::BadValue: return ERROR_INVALID_PARAMETER;
    case Failure::Gone: return WSAECONNRESET;
  }
  return ERROR_INVALID_FUNCTION;
}

}  // namespace tarvo::sys::win32
