// The tools' platform layer on Windows: Winsock, COM ports, the console.
// See platform.h. Every Handle is a socket, so that one WSAPoll waits on
// everything: a COM port, standard input and the stop request reach the
// loop through a loopback socket pair that a thread of their own feeds.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "platform/host.h"
#include "platform/platform.h"

namespace tarvo::platform {

namespace {

// OpenControlOutput's handle for standard output (sockets are never
// negative, kNoHandle is -1).
constexpr Handle kStandardOutput = -2;

SOCKET stopReader = INVALID_SOCKET;
SOCKET stopWriter = INVALID_SOCKET;

SOCKET AsSocket(Handle h) { return static_cast<SOCKET>(h); }
Handle AsHandle(SOCKET s) { return s == INVALID_SOCKET ? kNoHandle : static_cast<Handle>(s); }

void NonBlocking(SOCKET s) {
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
}

// Two connected loopback sockets: [0] for the loop, [1] for a thread.
bool SocketPair(SOCKET pair[2]) {
  pair[0] = pair[1] = INVALID_SOCKET;
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  if (listener == INVALID_SOCKET ||
      bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    closesocket(listener);
    return false;
  }
  pair[1] = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (pair[1] != INVALID_SOCKET &&
      connect(pair[1], reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    pair[0] = accept(listener, nullptr, nullptr);
  }
  closesocket(listener);
  if (pair[0] == INVALID_SOCKET) {
    closesocket(pair[1]);
    return false;
  }
  const BOOL on = TRUE;
  setsockopt(pair[0], IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  setsockopt(pair[1], IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  NonBlocking(pair[0]);
  return true;
}

BOOL WINAPI OnConsoleEvent(DWORD) {
  const char b = 1;
  send(stopWriter, &b, 1, 0);
  return TRUE;
}

// Sends all of it from a thread's end of a pair: false when the loop's end
// is gone.
bool SendAll(SOCKET s, const char* bytes, DWORD count) {
  while (count > 0) {
    const int n = send(s, bytes, static_cast<int>(count), 0);
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<DWORD>(n);
  }
  return true;
}

// A bridge between a file handle (standard input, a COM port) and the
// thread's end of a socket pair.
struct Bridge {
  HANDLE file;
  SOCKET end;
  bool overlapped;
};

// One transfer on the bridge's file, waited for when it is overlapped.
bool Transfer(const Bridge& b, bool reading, char* buffer, DWORD size, DWORD* done) {
  OVERLAPPED o{};
  o.hEvent = b.overlapped ? CreateEventA(nullptr, TRUE, FALSE, nullptr) : nullptr;
  OVERLAPPED* po = b.overlapped ? &o : nullptr;
  BOOL ok = reading ? ReadFile(b.file, buffer, size, done, po)
                    : WriteFile(b.file, buffer, size, done, po);
  if (!ok && b.overlapped && GetLastError() == ERROR_IO_PENDING) {
    ok = GetOverlappedResult(b.file, &o, done, TRUE);
  }
  if (o.hEvent != nullptr) CloseHandle(o.hEvent);
  return ok != FALSE;
}

// File to socket, until either ends. A COM port's read returns after its
// time-out with nothing, which is not an end; it is read a byte at a time.
DWORD WINAPI FileToSocket(void* arg) {
  const Bridge b = *static_cast<Bridge*>(arg);
  char buffer[512];
  const DWORD size = b.overlapped ? 1 : sizeof buffer;
  for (;;) {
    DWORD n = 0;
    if (!Transfer(b, true, buffer, size, &n)) break;
    if (n == 0 && !b.overlapped) break;
    if (n > 0 && !SendAll(b.end, buffer, n)) break;
  }
  shutdown(b.end, SD_SEND);
  return 0;
}

// Socket to file: what the loop writes to a COM port.
DWORD WINAPI SocketToFile(void* arg) {
  const Bridge b = *static_cast<Bridge*>(arg);
  char buffer[512];
  for (;;) {
    const int n = recv(b.end, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    DWORD done = 0;
    if (!Transfer(b, false, buffer, static_cast<DWORD>(n), &done)) break;
  }
  closesocket(b.end);
  return 0;
}

// The loop's end of a bridge to `file`; `write` adds the way back.
Handle StartBridge(HANDLE file, bool overlapped, bool write, std::string* error) {
  SOCKET pair[2];
  if (!SocketPair(pair)) {
    *error = "cannot make a loopback socket pair: " + LastErrorText();
    return kNoHandle;
  }
  // The bridges live as long as the program: they are leaked on purpose.
  Bridge* reading = new Bridge{file, pair[1], overlapped};
  CloseHandle(CreateThread(nullptr, 0, FileToSocket, reading, 0, nullptr));
  if (write) {
    Bridge* writing = new Bridge{file, pair[1], overlapped};
    CloseHandle(CreateThread(nullptr, 0, SocketToFile, writing, 0, nullptr));
  }
  return AsHandle(pair[0]);
}

// 8 data bits, even parity, 1 stop bit, no flow control. A read of one
// byte returns as soon as it is there, or after a second with none: the
// bridge reads a byte at a time (the interval time-outs that would return a
// burst at once are not honoured by every serial driver, Wine's among them).
bool SetUpLine(HANDLE file, long baud) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(file, &dcb)) return false;
  dcb.BaudRate = static_cast<DWORD>(baud);
  dcb.ByteSize = 8;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  COMMTIMEOUTS t{0, 0, 1000, 0, 0};
  return SetCommState(file, &dcb) && SetCommTimeouts(file, &t);
}

bool BaudKnown(long baud) {
  for (long b : {1200L, 2400L, 4800L, 9600L, 19200L, 38400L, 57600L, 115200L, 230400L}) {
    if (b == baud) return true;
  }
  return false;
}

}  // namespace

bool Start(std::string* error) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    *error = "cannot start Winsock";
    return false;
  }
  SOCKET pair[2];
  if (!SocketPair(pair)) {
    *error = "cannot make a loopback socket pair: " + LastErrorText();
    return false;
  }
  stopReader = pair[0];
  stopWriter = pair[1];
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  return true;
}

Handle StopHandle() { return AsHandle(stopReader); }

bool TakeStop(bool* dump) {
  *dump = false;
  char b[16];
  return recv(stopReader, b, sizeof b, 0) > 0;
}

bool Wait(Watch* watches, size_t count, int64_t timeoutUs) {
  std::vector<WSAPOLLFD> fds(count);
  for (size_t i = 0; i < count; ++i) {
    fds[i].fd = AsSocket(watches[i].handle);
    fds[i].events = static_cast<SHORT>((watches[i].read ? POLLRDNORM : 0) |
                                       (watches[i].write ? POLLWRNORM : 0));
  }
  // Milliseconds, rounded up: a paced byte is never sent early.
  const INT timeout = timeoutUs < 0 ? -1 : static_cast<INT>((timeoutUs + 999) / 1000);
  const int r = WSAPoll(fds.data(), static_cast<ULONG>(count), timeout);
  if (r == SOCKET_ERROR) return false;
  for (size_t i = 0; i < count; ++i) {
    const SHORT ev = fds[i].revents;
    watches[i].readable = (ev & (POLLRDNORM | POLLHUP)) != 0;
    watches[i].writable = (ev & POLLWRNORM) != 0;
    watches[i].hangup = (ev & (POLLHUP | POLLERR)) != 0;
  }
  return true;
}

long Read(Handle h, char* buffer, size_t size) {
  const int n = recv(AsSocket(h), buffer, static_cast<int>(size), 0);
  if (n > 0) return n;
  if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return 0;
  return -1;
}

long Write(Handle h, const char* bytes, size_t count) {
  const int n = send(AsSocket(h), bytes, static_cast<int>(count), 0);
  if (n >= 0) return n;
  return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

void Close(Handle h) {
  if (h >= 0) closesocket(AsSocket(h));
}

Handle OpenPseudoTerminal(std::string*, std::string* error) {
  *error = "Windows has no pseudo-terminals: use --listen HOST:PORT or --device COMn";
  return kNoHandle;
}

bool ValidBaud(long baud) { return BaudKnown(baud); }

Handle OpenSerialDevice(const std::string& path, long baud, std::string* error) {
  // COM10 and above open only by their device name; every COMn takes it.
  const std::string name = path.rfind("\\\\.\\", 0) == 0 ? path : "\\\\.\\" + path;
  const HANDLE file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = "cannot open " + path + ": " + LastErrorText();
    return kNoHandle;
  }
  if (!SetUpLine(file, baud)) {
    *error = "cannot set up " + path + ": " + LastErrorText();
    CloseHandle(file);
    return kNoHandle;
  }
  return StartBridge(file, true, true, error);
}

Handle Listen(const std::string& host, uint16_t port, uint16_t* bound, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0) {
    *error = "cannot resolve " + host + ": " + LastErrorText();
    return kNoHandle;
  }
  SOCKET s = socket(list->ai_family, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_storage a{};
  int len = sizeof a;
  // Exclusive: another program must not bind the same port beside us.
  const BOOL on = TRUE;
  if (s != INVALID_SOCKET) {
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  }
  if (s == INVALID_SOCKET || bind(s, list->ai_addr, static_cast<int>(list->ai_addrlen)) != 0 ||
      listen(s, 4) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    *error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + LastErrorText();
    if (s != INVALID_SOCKET) closesocket(s);
    s = INVALID_SOCKET;
  }
  freeaddrinfo(list);
  if (s == INVALID_SOCKET) return kNoHandle;
  NonBlocking(s);
  *bound = ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                                         : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
  return AsHandle(s);
}

Handle Accept(Handle listener) {
  const SOCKET s = accept(AsSocket(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kNoHandle;
  NonBlocking(s);
  const BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  return AsHandle(s);
}

Handle OpenControlInput(const std::string& path, bool*, std::string* error) {
  if (path != "-") {
    *error = "--control: on Windows the control lines come from standard input (--control -)";
    return kNoHandle;
  }
  return StartBridge(GetStdHandle(STD_INPUT_HANDLE), false, false, error);
}

Handle OpenControlOutput(const std::string& path, bool*, std::string* error) {
  if (path == "-") return kStandardOutput;
  *error = "--ack: on Windows the acknowledgements go to standard output (--ack -)";
  return kNoHandle;
}

void WriteControlLine(Handle h, const std::string& line) {
  if (h != kStandardOutput) return;
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
}

void RemoveFifo(const std::string&) {}

bool WriteFileAtomically(const std::string& path, const std::string& content) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(FilePath(temp), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << content;
    if (!out.flush()) return false;
  }
  return MoveFileExW(FilePath(temp).c_str(), FilePath(path).c_str(), MOVEFILE_REPLACE_EXISTING) !=
         FALSE;
}

std::string LastErrorText() {
  const DWORD code =
      WSAGetLastError() != 0 ? static_cast<DWORD>(WSAGetLastError()) : GetLastError();
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                 sizeof text, nullptr);
  std::string s = text;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return "error " + std::to_string(code) + (s.empty() ? "" : " (" + s + ")");
}

LocalTime Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wDay, t.wMonth, t.wYear, t.wHour, t.wMinute, t.wSecond};
}

void WakeOnTime() {}

}  // namespace tarvo::platform
