// The terminal device: a serial port (or pseudo-terminal) driven through
// termios and ioctl. It owns the rate table, the translation of termios to
// and from the line settings (DCB), the modem lines and BREAK, and the
// reads and writes of what the device holds now.
#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "common/text.h"
#include "serial/posix/device.h"
#include "serial/posix/posix_util.h"
#include "serial/system.h"

namespace tarvo::sys::posix {

namespace {

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

// ---- termios <-> DCB -----------------------------------------------------

void FramingToDcb(const termios& t, Dcb* dcb) {
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
}

void TermiosToDcb(const termios& t, Dcb* dcb) {
  dcb->baudRate = CodeToRate(cfgetospeed(&t));
  FramingToDcb(t, dcb);
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

uint32_t FramingToTermios(const Dcb& dcb, termios* t) {
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
  return 0;
}

uint32_t DcbToTermios(const Dcb& dcb, termios* t) {
  speed_t code;
  if (!RateToCode(dcb.baudRate, &code)) return EINVAL;
  cfsetispeed(t, code);
  cfsetospeed(t, code);
  if (uint32_t failed = FramingToTermios(dcb, t)) return failed;
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

// ---- The kind's calls ----------------------------------------------------

bool ClaimsAnyName(const char*) { return true; }

// Only a terminal character device is a serial port. Anything else that
// open() accepts (a regular file, a FIFO, /dev/null) would take the request
// frames as "the port", and a file's content would be destroyed: it is
// refused with ENOTTY before a byte is written, as Windows refuses to set
// up such a handle. 0, or the code.
uint32_t CheckTerminal(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return LastErrno();
  if (!S_ISCHR(st.st_mode)) return CodeOfErrno(ENOTTY);
  termios t;
  if (tcgetattr(fd, &t) != 0) return LastErrno();
  // Exclusive like a Windows share mode of 0. A device that can't be made
  // exclusive for another reason is still used.
  if (ioctl(fd, TIOCEXCL) != 0 && errno == ENOTTY) return CodeOfErrno(ENOTTY);
  return 0;
}

uint32_t Open(const char* path, Device* device) {
  // Never O_CREAT or O_TRUNC: a name is only ever opened as it exists.
  const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return LastErrno();
  if (uint32_t code = CheckTerminal(fd)) {
    close(fd);
    return code;
  }
  MakeRawLine(fd);
  device->fd = fd;
  device->shadow.length = sizeof(Dcb);
  device->shadow.flags = kFlagBinary | kFlagDtrControlEnable | kFlagRtsControlEnable;
  return 0;
}

void Close(Device* device) {
  // The exclusive flag outlives our descriptor while anyone else still
  // holds the device; give it back, or our own re-open would be refused.
  ioctl(device->fd, TIOCNXCL);
  close(device->fd);
}

uint32_t GetLineSettings(Device* device, Dcb* dcb) {
  termios t;
  if (tcgetattr(device->fd, &t) != 0) return LastErrno();
  *dcb = device->shadow;
  TermiosToDcb(t, dcb);
  return 0;
}

uint32_t SetLineSettings(Device* device, const Dcb* dcb) {
  termios t;
  if (tcgetattr(device->fd, &t) != 0) return LastErrno();
  if (uint32_t code = DcbToTermios(*dcb, &t)) return code;
  if (tcsetattr(device->fd, TCSANOW, &t) != 0) return LastErrno();
  device->shadow = *dcb;
  return 0;
}

uint32_t Purge(Device* device, bool tx, bool rx) {
  if (tcflush(device->fd, tx && rx ? TCIOFLUSH : (tx ? TCOFLUSH : TCIFLUSH)) != 0) {
    return LastErrno();
  }
  return 0;
}

uint32_t ModemStatus(Device* device, uint32_t* status) {
  int bits = 0;
  if (ioctl(device->fd, TIOCMGET, &bits) != 0) {
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
  if (bits & TIOCM_RNG) s |= kMsRingOn;
  if (bits & TIOCM_CAR) s |= kMsRlsdOn;
  *status = s;
  return 0;
}

uint32_t EscapeLine(Device* device, Escape code) {
  int bits = 0;
  int result = 0;
  switch (code) {
    case Escape::SetRts:
      bits = TIOCM_RTS;
      result = ioctl(device->fd, TIOCMBIS, &bits);
      break;
    case Escape::ClrRts:
      bits = TIOCM_RTS;
      result = ioctl(device->fd, TIOCMBIC, &bits);
      break;
    case Escape::SetDtr:
      bits = TIOCM_DTR;
      result = ioctl(device->fd, TIOCMBIS, &bits);
      break;
    case Escape::ClrDtr:
      bits = TIOCM_DTR;
      result = ioctl(device->fd, TIOCMBIC, &bits);
      break;
    case Escape::SetBreak: result = ioctl(device->fd, TIOCSBRK); break;
    case Escape::ClrBreak: result = ioctl(device->fd, TIOCCBRK); break;
    default: return EINVAL;
  }
  return result == 0 ? 0 : LastErrno();
}

// A read that finds the end of the file means the device went away.
uint32_t ReadSome(Device* device, void* buffer, uint32_t count, uint32_t* got) {
  for (;;) {
    const ssize_t n = read(device->fd, buffer, count);
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

uint32_t WriteSome(Device* device, const unsigned char* buffer, uint32_t count, uint32_t* moved) {
  while (*moved < count) {
    const ssize_t n = write(device->fd, buffer + *moved, count - *moved);
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

uint32_t EventsNow(Device* device, uint32_t mask) {
  int available = 0;
  if (ioctl(device->fd, FIONREAD, &available) == 0 && available > 0) return kEvRxChar & mask;
  return 0;
}

}  // namespace

const DeviceKind kTerminalDevice = {
    ClaimsAnyName, ResolveDeviceName, Open,     Close,     GetLineSettings, SetLineSettings, Purge,
    ModemStatus,   EscapeLine,        ReadSome, WriteSome, EventsNow,       nullptr,         false,
};

}  // namespace tarvo::sys::posix
