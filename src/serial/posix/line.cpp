// The POSIX system layer: serial devices through termios, poll and ioctl;
// the registry as a .reg text file; no window messages.
//
// Overlapped I/O is imitated without any background work: a transfer that
// cannot complete at once is left "pending" with nothing started; waiting
// on it is a poll() for readiness, and finishing it makes the read or write
// then. So a time-out leaves nothing behind that could later land in a
// buffer that no longer exists.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "serial/posix/posix_util.h"
#include "serial/reg_file.h"
#include "serial/system.h"

namespace tarvo::sys {

namespace {

// What the Win32 DCB holds but termios does not (DTR control, DSR flow,
// the event character, ...), kept per device so that it reads back as set.
struct Device {
  bool used;
  int fd;
  Dcb shadow;
  CommTimeouts timeouts;
  uint32_t eventMask;
  bool inputWaiting;  // the last read found its byte already there
};

struct Event {
  bool used;
  bool signalled;
};

struct Key {
  bool used;
  char section[128];
};

constexpr int kMaxDevices = 8;
Device devices[kMaxDevices];
Event events[kMaxDevices];
Key keys[2];

// The pending transfer, kept in IoRecord::platform.
struct Pending {
  Transfer kind;
  int fd;
  unsigned char* buffer;
  uint32_t count;
  uint32_t moved;  // bytes of a write already written
  uint32_t mask;   // the events watched, for a WaitEvent
  bool slept;      // a read's wait had to sleep for its byte
};
static_assert(sizeof(Pending) <= sizeof(IoRecord::platform), "Pending fits the record");

Pending* PendingOf(IoRecord* record) { return reinterpret_cast<Pending*>(record->platform); }

Device* DeviceOf(Handle handle) {
  auto* d = static_cast<Device*>(handle);
  for (auto& candidate : devices) {
    if (&candidate == d && candidate.used) return d;
  }
  return nullptr;
}

uint32_t LastErrno() { return errno == 0 ? EIO : static_cast<uint32_t>(errno); }

// ---- Rates ---------------------------------------------------------------

struct RateCode {
  uint32_t rate;
  speed_t code;
};
constexpr RateCode kRates[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool RateToCode(uint32_t rate, speed_t* code) {
  for (const auto& r : kRates) {
    if (r.rate == rate) {
      *code = r.code;
      return true;
    }
  }
  return false;
}

uint32_t CodeToRate(speed_t code) {
  for (const auto& r : kRates) {
    if (r.code == code) return r.rate;
  }
  return 0;
}

// ---- Names ---------------------------------------------------------------

const char* RegistryPath() {
  const char* path = std::getenv("TARVO_REGISTRY");
  return (path != nullptr && path[0] != '\0') ? path : "/etc/tarvo/registry.reg";
}

// The registry file, read whole into one buffer; a larger file is treated
// as malformed.
char regText[65536];
size_t regLength = 0;

uint32_t LoadRegistryFile() {
  if (!posix::ReadWholeFile(RegistryPath(), regText, sizeof regText, &regLength)) {
    return LastErrno();
  }
  if (regfile::Validate(regText, regLength) != regfile::Result::Ok) return EINVAL;
  return 0;
}

bool IsComName(const char* name, unsigned* number) {
  if (std::strncmp(name, "COM", 3) != 0 || name[3] == '\0') return false;
  unsigned n = 0;
  for (const char* p = name + 3; *p; ++p) {
    if (*p < '0' || *p > '9' || n > 100000) return false;
    n = n * 10 + static_cast<unsigned>(*p - '0');
  }
  *number = n;
  return true;
}

// "/dev/..." names are used as given; COMn goes through the port map of the
// registry file, else to /dev/ttyS(n-1). COM0 has no device.
uint32_t ResolveDeviceName(const char* name, char* path, size_t cap) {
  if (std::strstr(name, "/dev/") != nullptr) {
    return CopyText(path, cap, name) ? 0 : ENAMETOOLONG;
  }
  unsigned number = 0;
  if (!IsComName(name, &number)) return ENOENT;
  if (LoadRegistryFile() == 0) {
    char canonical[16];
    FormatText(canonical, sizeof canonical, nullptr, "COM%u", number);
    uint32_t size = 0;
    const char* section = "HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\Ports";
    if (regfile::ReadString(regText, regLength, section, canonical, path,
                            static_cast<uint32_t>(cap), &size) == regfile::Result::Ok ||
        regfile::ReadString(regText, regLength, section, name, path, static_cast<uint32_t>(cap),
                            &size) == regfile::Result::Ok) {
      return 0;
    }
  }
  if (number == 0) return ENOENT;
  FormatText(path, cap, nullptr, "/dev/ttyS%u", number - 1);
  return 0;
}

// ---- termios <-> DCB -----------------------------------------------------

void TermiosToDcb(const termios& t, Dcb* dcb) {
  dcb->baudRate = CodeToRate(cfgetospeed(&t));
  switch (t.c_cflag & CSIZE) {
    case CS5: dcb->byteSize = 5; break;
    case CS6: dcb->byteSize = 6; break;
    case CS7: dcb->byteSize = 7; break;
    default: dcb->byteSize = 8; break;
  }
  if ((t.c_cflag & PARENB) == 0) {
    dcb->parity = 0;
  } else if (t.c_cflag & CMSPAR) {
    dcb->parity = (t.c_cflag & PARODD) ? 3 : 4;
  } else {
    dcb->parity = (t.c_cflag & PARODD) ? 1 : 2;
  }
  dcb->stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;

  uint32_t flags =
      dcb->flags & ~(kFlagParity | kFlagOutxCtsFlow | kFlagRtsControlMask | kFlagOutX | kFlagInX);
  flags |= kFlagBinary;
  if (t.c_iflag & INPCK) flags |= kFlagParity;
  if (t.c_cflag & CRTSCTS) {
    flags |= kFlagOutxCtsFlow | kFlagRtsControlHandshake;
  } else {
    flags |= dcb->flags & kFlagRtsControlMask;
    if ((flags & kFlagRtsControlMask) == kFlagRtsControlHandshake) flags &= ~kFlagRtsControlMask;
  }
  if (t.c_iflag & IXON) flags |= kFlagOutX;
  if (t.c_iflag & IXOFF) flags |= kFlagInX;
  dcb->flags = flags;
  dcb->xonChar = static_cast<char>(t.c_cc[VSTART]);
  dcb->xoffChar = static_cast<char>(t.c_cc[VSTOP]);
}

uint32_t DcbToTermios(const Dcb& dcb, termios* t) {
  speed_t code;
  if (!RateToCode(dcb.baudRate, &code)) return EINVAL;
  cfsetispeed(t, code);
  cfsetospeed(t, code);
  t->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  switch (dcb.byteSize) {
    case 5: t->c_cflag |= CS5; break;
    case 6: t->c_cflag |= CS6; break;
    case 7: t->c_cflag |= CS7; break;
    case 8: t->c_cflag |= CS8; break;
    default: return EINVAL;
  }
  switch (dcb.parity) {
    case 0: break;
    case 1: t->c_cflag |= PARENB | PARODD; break;
    case 2: t->c_cflag |= PARENB; break;
    case 3: t->c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: t->c_cflag |= PARENB | CMSPAR; break;
    default: return EINVAL;
  }
  if (dcb.stopBits != 0) t->c_cflag |= CSTOPB;
  if ((dcb.flags & kFlagOutxCtsFlow) ||
      (dcb.flags & kFlagRtsControlMask) == kFlagRtsControlHandshake) {
    t->c_cflag |= CRTSCTS;
  }
  t->c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF);
  if (dcb.flags & kFlagParity) t->c_iflag |= INPCK;
  if (dcb.flags & kFlagOutX) t->c_iflag |= IXON;
  if (dcb.flags & kFlagInX) t->c_iflag |= IXOFF;
  t->c_cc[VSTART] = static_cast<cc_t>(dcb.xonChar);
  t->c_cc[VSTOP] = static_cast<cc_t>(dcb.xoffChar);
  return 0;
}

// A raw 8-bit line with the receiver on, modem lines ignored for open and
// read, and no flow control, so that RTS and DTR obey the escape functions.
void MakeRawLine(int fd) {
  termios t;
  if (tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  // VMIN 1: with VMIN and VTIME both 0 a non-blocking read of an empty
  // line returns 0, which reads as a device that went away, not EAGAIN.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &t);
}

// ---- Waiting -------------------------------------------------------------

int64_t MonotonicUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// A poll() that returns later than this has slept: its byte was not there
// yet. One that finds its byte waiting returns within a microsecond or two.
constexpr int64_t kSleptUs = 20;

int64_t MonotonicMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// poll() for one event on fd, resuming after signals. 1 ready, 0 timed out,
// -1 failed (errno set).
int PollFor(int fd, short what, uint32_t timeoutMs) {
  const int64_t deadline = timeoutMs == kInfinite ? -1 : MonotonicMs() + timeoutMs;
  for (;;) {
    int wait = -1;
    if (deadline >= 0) {
      const int64_t left = deadline - MonotonicMs();
      wait = left <= 0 ? 0 : (left > INT_MAX ? INT_MAX : static_cast<int>(left));
    }
    pollfd p{fd, what, 0};
    const int r = poll(&p, 1, wait);
    if (r > 0) return 1;
    if (r == 0) {
      if (deadline < 0 || MonotonicMs() >= deadline) return 0;
      continue;
    }
    if (errno != EINTR) return -1;
  }
}

// One read of what is there. 0 with *got set, or a code. A read that finds
// the end of the file means the device went away.
uint32_t ReadSome(int fd, void* buffer, uint32_t count, uint32_t* got) {
  for (;;) {
    const ssize_t n = read(fd, buffer, count);
    if (n > 0) {
      *got = static_cast<uint32_t>(n);
      return 0;
    }
    if (n == 0) return count == 0 ? 0 : EIO;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      *got = 0;
      return kErrorIoPending;
    }
    return LastErrno();
  }
}

// Writes what the device takes now; kErrorIoPending while bytes remain.
uint32_t WriteSome(int fd, const unsigned char* buffer, uint32_t count, uint32_t* moved) {
  while (*moved < count) {
    const ssize_t n = write(fd, buffer + *moved, count - *moved);
    if (n > 0) {
      *moved += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return kErrorIoPending;
    return LastErrno();
  }
  return 0;
}

uint32_t EventsNow(uint32_t mask, int fd) {
  int available = 0;
  if (ioctl(fd, FIONREAD, &available) == 0 && available > 0) return kEvRxChar & mask;
  return 0;
}

}  // namespace

// ---- Devices -------------------------------------------------------------

uint32_t OpenDevice(const char* name, bool /*overlapped*/, Handle* device) {
  *device = nullptr;
  char path[256];
  if (uint32_t code = ResolveDeviceName(name, path, sizeof path)) return code;
  Device* slot = nullptr;
  for (auto& d : devices) {
    if (!d.used) {
      slot = &d;
      break;
    }
  }
  if (slot == nullptr) return EMFILE;
  const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return LastErrno();
  // Exclusive like a Windows share mode of 0. A device that refuses the
  // request (not a terminal) is still opened, as CreateFileA would.
  ioctl(fd, TIOCEXCL);
  MakeRawLine(fd);
  std::memset(slot, 0, sizeof *slot);
  slot->used = true;
  slot->fd = fd;
  slot->shadow.length = sizeof(Dcb);
  slot->shadow.flags = kFlagBinary | kFlagDtrControlEnable | kFlagRtsControlEnable;
  *device = slot;
  return 0;
}

void CloseDevice(Handle device) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return;
  // The exclusive flag outlives our descriptor while anyone else still
  // holds the device; give it back, or our own re-open would be refused.
  ioctl(d->fd, TIOCNXCL);
  close(d->fd);
  d->used = false;
}

uint32_t SetupQueues(Handle device, uint32_t, uint32_t) {
  // The kernel sizes its own queues; accepted for any open device.
  return DeviceOf(device) ? 0 : EBADF;
}

uint32_t GetLineSettings(Handle device, Dcb* dcb) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  termios t;
  if (tcgetattr(d->fd, &t) != 0) return LastErrno();
  *dcb = d->shadow;
  TermiosToDcb(t, dcb);
  return 0;
}

uint32_t SetLineSettings(Handle device, const Dcb* dcb) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  termios t;
  if (tcgetattr(d->fd, &t) != 0) return LastErrno();
  if (uint32_t code = DcbToTermios(*dcb, &t)) return code;
  if (tcsetattr(d->fd, TCSANOW, &t) != 0) return LastErrno();
  d->shadow = *dcb;
  return 0;
}

uint32_t GetTimeouts(Handle device, CommTimeouts* timeouts) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  *timeouts = d->timeouts;
  return 0;
}

uint32_t SetTimeouts(Handle device, const CommTimeouts* timeouts) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  d->timeouts = *timeouts;
  return 0;
}

uint32_t SetEventMask(Handle device, uint32_t mask) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  d->eventMask = mask;
  return 0;
}

uint32_t PurgeQueues(Handle device, uint32_t flags) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  const bool tx = flags & kPurgeTxClear;
  const bool rx = flags & kPurgeRxClear;
  if (!tx && !rx) return 0;
  if (tcflush(d->fd, tx && rx ? TCIOFLUSH : (tx ? TCOFLUSH : TCIFLUSH)) != 0) return LastErrno();
  return 0;
}

uint32_t GetModemStatus(Handle device, uint32_t* status) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  int bits = 0;
  if (ioctl(d->fd, TIOCMGET, &bits) != 0) {
    // No modem lines at all (a pseudo-terminal): a cable with CTS and DSR
    // strapped on.
    if (errno == ENOTTY || errno == EINVAL) {
      *status = kMsCtsOn | kMsDsrOn;
      return 0;
    }
    return LastErrno();
  }
  uint32_t s = 0;
  if (bits & TIOCM_CTS) s |= kMsCtsOn;
  if (bits & TIOCM_DSR) s |= kMsDsrOn;
  if (bits & TIOCM_RNG) s |= 0x40;
  if (bits & TIOCM_CAR) s |= 0x80;
  *status = s;
  return 0;
}

uint32_t EscapeFunction(Handle device, Escape code) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  int bits = 0;
  int result = 0;
  switch (code) {
    case Escape::SetRts:
      bits = TIOCM_RTS;
      result = ioctl(d->fd, TIOCMBIS, &bits);
      break;
    case Escape::ClrRts:
      bits = TIOCM_RTS;
      result = ioctl(d->fd, TIOCMBIC, &bits);
      break;
    case Escape::SetDtr:
      bits = TIOCM_DTR;
      result = ioctl(d->fd, TIOCMBIS, &bits);
      break;
    case Escape::ClrDtr:
      bits = TIOCM_DTR;
      result = ioctl(d->fd, TIOCMBIC, &bits);
      break;
    case Escape::SetBreak: result = ioctl(d->fd, TIOCSBRK); break;
    case Escape::ClrBreak: result = ioctl(d->fd, TIOCCBRK); break;
    default: return EINVAL;
  }
  return result == 0 ? 0 : LastErrno();
}

// ---- Events and transfers -----------------------------------------------

uint32_t CreateIoEvent(Handle* event) {
  for (auto& e : events) {
    if (!e.used) {
      e.used = true;
      e.signalled = false;
      *event = &e;
      return 0;
    }
  }
  *event = nullptr;
  return EMFILE;
}

void CloseIoEvent(Handle event) {
  if (event != nullptr) static_cast<Event*>(event)->used = false;
}

void SignalIoEvent(Handle event) {
  if (event != nullptr) static_cast<Event*>(event)->signalled = true;
}

uint32_t TransferNow(Handle device, Transfer kind, void* buffer, uint32_t count, uint32_t* done) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  *done = 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  if (kind == Transfer::Write) {
    uint32_t moved = 0;
    for (;;) {
      const uint32_t code = WriteSome(d->fd, bytes, count, &moved);
      *done = moved;
      if (code != kErrorIoPending) return code;
      if (PollFor(d->fd, POLLOUT, kInfinite) < 0) return LastErrno();
    }
  }
  if (kind == Transfer::WaitEvent) {
    for (;;) {
      const uint32_t seen = EventsNow(d->eventMask, d->fd);
      if (seen != 0) {
        std::memcpy(buffer, &seen, sizeof seen);
        return 0;
      }
      if (PollFor(d->fd, POLLIN, kInfinite) < 0) return LastErrno();
    }
  }
  // A read bounded by the device's time-outs, as the Win32 rules give them.
  const CommTimeouts& t = d->timeouts;
  const bool returnAtOnce = t.readIntervalTimeout == 0xFFFFFFFFu &&
                            t.readTotalTimeoutMultiplier == 0 && t.readTotalTimeoutConstant == 0;
  const uint64_t total =
      static_cast<uint64_t>(t.readTotalTimeoutMultiplier) * count + t.readTotalTimeoutConstant;
  const int64_t deadline = total == 0 ? -1 : MonotonicMs() + static_cast<int64_t>(total);
  while (*done < count) {
    uint32_t got = 0;
    const uint32_t code = ReadSome(d->fd, bytes + *done, count - *done, &got);
    if (code == 0) {
      *done += got;
      continue;
    }
    if (code != kErrorIoPending) return code;
    if (returnAtOnce) return 0;
    int64_t wait = deadline < 0 ? -1 : deadline - MonotonicMs();
    if (*done > 0 && t.readIntervalTimeout != 0 && t.readIntervalTimeout != 0xFFFFFFFFu) {
      if (wait < 0 || wait > t.readIntervalTimeout) wait = t.readIntervalTimeout;
    }
    if (deadline >= 0 && wait <= 0) return 0;
    const int r = PollFor(d->fd, POLLIN, wait < 0 ? kInfinite : static_cast<uint32_t>(wait));
    if (r < 0) return LastErrno();
    if (r == 0) return 0;
  }
  return 0;
}

uint32_t StartTransfer(Handle device, Transfer kind, void* buffer, uint32_t count, uint32_t* done,
                       IoRecord* record) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  Pending* p = PendingOf(record);
  p->kind = kind;
  p->fd = d->fd;
  p->buffer = static_cast<unsigned char*>(buffer);
  p->count = count;
  p->moved = 0;
  p->slept = true;
  p->mask = d->eventMask;
  *done = 0;
  if (record->event) static_cast<Event*>(record->event)->signalled = false;
  switch (kind) {
    case Transfer::Read: {
      // A byte is read at once only while bytes have been found waiting.
      // Where they arrive one by one at the line's pace, a read tried first
      // would fail for every byte, and the poll() of the wait followed by
      // one read() is the least a byte costs; where they arrive in bursts,
      // a read tried first saves that poll() for all but the burst's first.
      if (count == 0) return 0;
      if (!d->inputWaiting) return kErrorIoPending;
      const uint32_t code = ReadSome(d->fd, buffer, count, done);
      if (code == kErrorIoPending) d->inputWaiting = false;
      return code;
    }
    case Transfer::Write: {
      const uint32_t code = WriteSome(d->fd, p->buffer, count, &p->moved);
      if (code == 0) *done = p->moved;
      return code;
    }
    case Transfer::WaitEvent: {
      const uint32_t seen = EventsNow(d->eventMask, d->fd);
      if (seen == 0) return kErrorIoPending;
      std::memcpy(buffer, &seen, sizeof seen);
      return 0;
    }
  }
  return EINVAL;
}

uint32_t WaitTransfer(IoRecord* record, uint32_t timeoutMs) {
  Pending* p = PendingOf(record);
  if (p->kind != Transfer::Write) {
    const int64_t start = MonotonicUs();
    const int r = PollFor(p->fd, POLLIN, timeoutMs);
    p->slept = MonotonicUs() - start >= kSleptUs;
    if (r < 0) return LastErrno();
    if (r == 0) return kWaitTimeout;
    // A completed event wait has written its events, as WaitCommEvent does.
    if (p->kind == Transfer::WaitEvent) {
      const uint32_t seen = EventsNow(p->mask, p->fd);
      std::memcpy(p->buffer, &seen, sizeof seen);
    }
    return 0;
  }
  const int64_t deadline = timeoutMs == kInfinite ? -1 : MonotonicMs() + timeoutMs;
  for (;;) {
    const uint32_t code = WriteSome(p->fd, p->buffer, p->count, &p->moved);
    if (code != kErrorIoPending) return 0;  // done, or failed: Finish tells which
    uint32_t wait = kInfinite;
    if (deadline >= 0) {
      const int64_t left = deadline - MonotonicMs();
      if (left <= 0) return kWaitTimeout;
      wait = static_cast<uint32_t>(left);
    }
    const int r = PollFor(p->fd, POLLOUT, wait);
    if (r < 0) return LastErrno();
    if (r == 0) return kWaitTimeout;
  }
}

uint32_t FinishTransfer(Handle device, IoRecord* record, uint32_t* done) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  Pending* p = PendingOf(record);
  *done = 0;
  switch (p->kind) {
    case Transfer::Read: {
      const uint32_t code = ReadSome(d->fd, p->buffer, p->count, done);
      d->inputWaiting = code == 0 && !p->slept;
      return code == kErrorIoPending ? 0 : code;
    }
    case Transfer::Write: {
      const uint32_t code = WriteSome(d->fd, p->buffer, p->count, &p->moved);
      *done = p->moved;
      return code == kErrorIoPending ? 0 : code;
    }
    case Transfer::WaitEvent: {
      const uint32_t seen = EventsNow(d->eventMask, d->fd);
      std::memcpy(p->buffer, &seen, sizeof seen);
      return 0;
    }
  }
  return EINVAL;
}

void CancelTransfer(Handle, IoRecord*) {
  // Nothing was started while the transfer was pending; nothing to undo.
}

// ---- Time -----------------------------------------------------------------

void SleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

int64_t CalendarSeconds() { return static_cast<int64_t>(time(nullptr)); }

// ---- Registry --------------------------------------------------------------

uint32_t RegistryOpenKey(const char* subKey, Handle* key) {
  *key = nullptr;
  if (uint32_t code = LoadRegistryFile()) return code;
  Key* slot = nullptr;
  for (auto& k : keys) {
    if (!k.used) {
      slot = &k;
      break;
    }
  }
  if (slot == nullptr) return EMFILE;
  if (!FormatText(slot->section, sizeof slot->section, nullptr, "HKEY_CLASSES_ROOT\\%s", subKey)) {
    return ENAMETOOLONG;
  }
  if (regfile::FindSection(regText, regLength, slot->section) != regfile::Result::Ok) return ENOENT;
  slot->used = true;
  *key = slot;
  return 0;
}

uint32_t RegistryQueryValue(Handle key, const char* valueName, char* data, uint32_t* size) {
  auto* k = static_cast<Key*>(key);
  if (k == nullptr || !k->used) return EBADF;
  switch (regfile::ReadString(regText, regLength, k->section, valueName, data, *size, size)) {
    case regfile::Result::Ok: return 0;
    case regfile::Result::TooLarge: return kErrorMoreData;
    case regfile::Result::NotText: return EINVAL;
    default: return ENOENT;
  }
}

void RegistryCloseKey(Handle key) {
  if (key != nullptr) static_cast<Key*>(key)->used = false;
}

// ---- Window messages -------------------------------------------------------

bool DispatchOneMessage(intptr_t* result) {
  *result = 0;
  return false;
}

}  // namespace tarvo::sys
