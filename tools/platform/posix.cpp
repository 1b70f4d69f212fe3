// The tools' platform layer on POSIX (Linux): file descriptors, poll,
// pseudo-terminals, termios, FIFOs and signals. See platform.h.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/platform.h"

namespace tarvo::platform {

namespace {

volatile sig_atomic_t dumpAsked = 0;
int stopPipe[2] = {-1, -1};

void OnSignal(int sig) {
  if (sig == SIGUSR1) dumpAsked = 1;
  const char b = static_cast<char>(sig);
  const int saved = errno;
  if (write(stopPipe[1], &b, 1) < 0) {
  }
  errno = saved;
}

speed_t BaudCode(long baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
  }
}

std::string Failed(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

bool Start(std::string* error) {
  if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = Failed("pipe");
    return false;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGUSR1, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return true;
}

Handle StopHandle() { return stopPipe[0]; }

bool TakeStop(bool* dump) {
  char sig[16];
  const ssize_t n = read(stopPipe[0], sig, sizeof sig);
  bool stop = false;
  for (ssize_t i = 0; i < n; ++i) stop = stop || sig[i] == SIGINT || sig[i] == SIGTERM;
  *dump = dumpAsked != 0;
  dumpAsked = 0;
  return stop;
}

bool Wait(Watch* watches, size_t count, int64_t timeoutUs) {
  std::vector<pollfd> fds(count);
  for (size_t i = 0; i < count; ++i) {
    fds[i].fd = static_cast<int>(watches[i].handle);
    fds[i].events =
        static_cast<short>((watches[i].read ? POLLIN : 0) | (watches[i].write ? POLLOUT : 0));
  }
  const timespec wait{static_cast<time_t>(timeoutUs / 1000000),
                      static_cast<long>(timeoutUs % 1000000) * 1000};
  const int r = ppoll(fds.data(), fds.size(), timeoutUs < 0 ? nullptr : &wait, nullptr);
  if (r < 0 && errno != EINTR) return false;
  for (size_t i = 0; i < count; ++i) {
    const int ev = r > 0 ? fds[i].revents : 0;
    watches[i].readable = (ev & POLLIN) != 0;
    watches[i].writable = (ev & POLLOUT) != 0;
    watches[i].hangup = (ev & (POLLHUP | POLLERR)) != 0;
  }
  return true;
}

long Read(Handle h, char* buffer, size_t size) {
  const ssize_t n = read(static_cast<int>(h), buffer, size);
  if (n > 0) return static_cast<long>(n);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  return -1;
}

long Write(Handle h, const char* bytes, size_t count) {
  const ssize_t n = write(static_cast<int>(h), bytes, count);
  if (n >= 0) return static_cast<long>(n);
  return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

void Close(Handle h) {
  if (h >= 0) close(static_cast<int>(h));
}

Handle OpenPseudoTerminal(std::string* path, std::string* error) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  const char* name = nullptr;
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      (name = ptsname(master)) == nullptr) {
    *error = Failed("cannot open a pseudo-terminal");
    if (master >= 0) close(master);
    return kNoHandle;
  }
  *path = name;
  termios t;
  if (tcgetattr(master, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
  }
  return master;
}

bool ValidBaud(long baud) { return BaudCode(baud) != B0; }

Handle OpenSerialDevice(const std::string& path, long baud, std::string* error) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios t;
  if (fd < 0 || tcgetattr(fd, &t) != 0) {
    *error = Failed("cannot open " + path);
    if (fd >= 0) close(fd);
    return kNoHandle;
  }
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | PARENB | CLOCAL | CREAD;
  cfsetispeed(&t, BaudCode(baud));
  cfsetospeed(&t, BaudCode(baud));
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    *error = Failed("cannot set up " + path);
    close(fd);
    return kNoHandle;
  }
  return fd;
}

Handle Listen(const std::string& host, uint16_t port, uint16_t* bound, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  if (const int r = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list)) {
    *error = "cannot resolve " + host + ": " + gai_strerror(r);
    return kNoHandle;
  }
  int fd = socket(list->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const int on = 1;
  if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  if (fd < 0 || bind(fd, list->ai_addr, list->ai_addrlen) != 0 || listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    *error = Failed("cannot listen on " + host + ":" + std::to_string(port));
    if (fd >= 0) close(fd);
    fd = -1;
  }
  freeaddrinfo(list);
  if (fd >= 0) {
    *bound = ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                                           : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
  }
  return fd;
}

Handle Accept(Handle listener) {
  const int fd =
      accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return kNoHandle;
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

namespace {

// The FIFO at `path`, created when it does not exist. Opened for reading
// and writing, so that it never reports end-of-file when a writer closes.
Handle OpenFifo(const std::string& path, bool* created, std::string* error) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISFIFO(st.st_mode)) {
      *error = path + " exists and is not a FIFO";
      return kNoHandle;
    }
  } else if (mkfifo(path.c_str(), 0600) != 0) {
    *error = Failed("cannot create the FIFO " + path);
    return kNoHandle;
  } else {
    *created = true;
  }
  const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) *error = Failed("cannot open the FIFO " + path);
  return fd;
}

}  // namespace

Handle OpenControlInput(const std::string& path, bool* created, std::string* error) {
  if (path != "-") return OpenFifo(path, created, error);
  fcntl(0, F_SETFL, fcntl(0, F_GETFL) | O_NONBLOCK);
  return 0;
}

Handle OpenControlOutput(const std::string& path, bool* created, std::string* error) {
  return path == "-" ? 1 : OpenFifo(path, created, error);
}

void WriteControlLine(Handle h, const std::string& line) {
  if (h == 1) std::fflush(stdout);
  const ssize_t written = write(static_cast<int>(h), line.data(), line.size());
  (void)written;
}

void RemoveFifo(const std::string& path) { unlink(path.c_str()); }

bool WriteFileAtomically(const std::string& path, const std::string& content) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << content;
    if (!out.flush()) return false;
  }
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

std::string LastErrorText() { return std::strerror(errno); }

LocalTime Now() {
  const time_t t = time(nullptr);
  tm local{};
  localtime_r(&t, &local);
  return {local.tm_mday, local.tm_mon + 1, local.tm_year + 1900,
          local.tm_hour, local.tm_min,     local.tm_sec};
}

void WakeOnTime() { prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); }

}  // namespace tarvo::platform
