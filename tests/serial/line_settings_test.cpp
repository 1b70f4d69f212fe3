// The line settings as a real cable gets them. A pseudo-terminal forces 8
// bits and no parity, so what the terminal device asks of the kernel is
// seen where it asks: this program is linked with tcsetattr and tcgetattr
// wrapped (-Wl,--wrap), the wrappers record every termios handed to
// tcsetattr (and can keep it from the pseudo-terminal, which refuses some
// framings it can't have anyway), and can make tcgetattr report one of the
// test's choosing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "serial/system.h"
#include "support/pty.h"

extern "C" int __real_tcsetattr(int fd, int action, const termios* t);
extern "C" int __real_tcgetattr(int fd, termios* t);

namespace {
std::vector<termios> handedToKernel;
bool keepFromKernel = false;
bool reportOwn = false;
termios reported{};
}  // namespace

extern "C" int __wrap_tcsetattr(int fd, int action, const termios* t) {
  handedToKernel.push_back(*t);
  return keepFromKernel ? 0 : __real_tcsetattr(fd, action, t);
}

extern "C" int __wrap_tcgetattr(int fd, termios* t) {
  const int r = __real_tcgetattr(fd, t);
  if (r == 0 && reportOwn) *t = reported;
  return r;
}

namespace tarvo::sys {
namespace {

struct Framing {
  uint8_t byteSize, parity, stopBits;
  tcflag_t cflag;  // CSIZE, PARENB, PARODD, CMSPAR and CSTOPB as a cable needs them
};

// Every data size, parity and stop size of the Win32-style settings, and the
// termios bits each means. One and a half stop bits has no termios form:
// the nearest, two, is asked for.
std::vector<Framing> EveryFraming() {
  const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  const tcflag_t parities[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                               PARENB | CMSPAR};
  const tcflag_t stops[] = {0, CSTOPB, CSTOPB};
  std::vector<Framing> all;
  for (uint8_t size = 5; size <= 8; ++size) {
    for (uint8_t parity = 0; parity <= 4; ++parity) {
      for (uint8_t stop = 0; stop <= 2; ++stop) {
        all.push_back({size, parity, stop, sizes[size - 5] | parities[parity] | stops[stop]});
      }
    }
  }
  return all;
}

constexpr tcflag_t kFramingBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

class LineSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    handedToKernel.clear();
    keepFromKernel = false;
    reportOwn = false;
    ASSERT_EQ(OpenDevice(pty.SlavePath().c_str(), true, &device), 0u);
  }
  void TearDown() override {
    keepFromKernel = false;
    reportOwn = false;
    CloseDevice(device);
  }
  test::Pty pty;
  Handle device = nullptr;
};

// The device is opened raw: 8 bits, receiver on, modem lines ignored for
// open and read (a cable without carrier must not hang up the port), no
// flow control of either kind (RTS and DTR obey the driver), a read that
// waits for one byte.
TEST_F(LineSettings, OpenHandsTheKernelARawLineWithoutFlowControl) {
  ASSERT_FALSE(handedToKernel.empty());
  const termios& t = handedToKernel.back();
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_cflag & (CRTSCTS | PARENB), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP | INPCK), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

// Win32-style settings -> termios: every data size, parity and stop size
// reaches tcsetattr as a cable needs it, with the parity check on exactly
// when parity is, the rate in both directions, and the raw line kept.
TEST_F(LineSettings, EveryFramingReachesTcsetattrAsTheCableNeedsIt) {
  keepFromKernel = true;
  for (const Framing& f : EveryFraming()) {
    SCOPED_TRACE(std::to_string(f.byteSize) + "/" + std::to_string(f.parity) + "/" +
                 std::to_string(f.stopBits));
    Dcb dcb{};
    ASSERT_EQ(GetLineSettings(device, &dcb), 0u);
    dcb.baudRate = 9600;
    dcb.byteSize = f.byteSize;
    dcb.parity = f.parity;
    dcb.stopBits = f.stopBits;
    dcb.flags = f.parity != 0 ? dcb.flags | kFlagParity : dcb.flags & ~kFlagParity;
    handedToKernel.clear();
    ASSERT_EQ(SetLineSettings(device, &dcb), 0u);
    ASSERT_EQ(handedToKernel.size(), 1u);
    const termios& t = handedToKernel[0];
    EXPECT_EQ(t.c_cflag & kFramingBits, f.cflag);
    EXPECT_EQ((t.c_iflag & INPCK) != 0, f.parity != 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  }
}

// termios -> Win32-style settings: a device set up by someone else (or by
// the kernel's defaults) reads back with the framing it has.
TEST_F(LineSettings, EveryFramingOfTheDeviceReadsBackAsItIs) {
  for (const Framing& f : EveryFraming()) {
    if (f.stopBits == 1) continue;  // termios has one or two
    SCOPED_TRACE(std::to_string(f.byteSize) + "/" + std::to_string(f.parity) + "/" +
                 std::to_string(f.stopBits));
    ASSERT_EQ(__real_tcgetattr(pty.Master(), &reported), 0);
    reported.c_cflag = (reported.c_cflag & ~kFramingBits) | f.cflag;
    reported.c_iflag = f.parity != 0 ? reported.c_iflag | INPCK : reported.c_iflag & ~INPCK;
    cfsetispeed(&reported, B19200);
    cfsetospeed(&reported, B19200);
    reportOwn = true;
    Dcb dcb{};
    ASSERT_EQ(GetLineSettings(device, &dcb), 0u);
    reportOwn = false;
    EXPECT_EQ(dcb.byteSize, f.byteSize);
    EXPECT_EQ(dcb.parity, f.parity);
    EXPECT_EQ(dcb.stopBits, f.stopBits);
    EXPECT_EQ((dcb.flags & kFlagParity) != 0, f.parity != 0);
    EXPECT_EQ(dcb.baudRate, 19200u);
  }
}

}  // namespace
}  // namespace tarvo::sys
