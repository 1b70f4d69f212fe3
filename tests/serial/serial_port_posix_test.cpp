// SerialPort over a real pseudo-terminal: the POSIX layer itself. The test
// holds the master side; the port opens the slave.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "serial/serial_port.h"
#include "support/pty.h"

namespace tarvo {
namespace {

using test::Pty;

termios SlaveSettings(const Pty& pty) {
  // On a pseudo-terminal the master's line settings are the slave's.
  termios t{};
  EXPECT_EQ(tcgetattr(pty.Master(), &t), 0);
  return t;
}

TEST(SerialPortPty, OpenAndCloseCodes) {
  Pty pty;
  SerialPort port;
  ASSERT_EQ(port.Open(pty.SlavePath().c_str(), 8192, 8192, 1), 0u);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.GetEventMask(), 0xC1u);
  EXPECT_EQ(port.Open(pty.SlavePath().c_str(), 8192, 8192, 1), 1247u);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.Close(), 0u);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Close(), 0u);

  EXPECT_EQ(port.Open("/dev/tarvo-no-such-device", 8192, 8192, 1), static_cast<uint32_t>(ENOENT));
  EXPECT_EQ(port.lastError, static_cast<uint32_t>(ENOENT));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.ioEvent, nullptr);
}

TEST(SerialPortPty, LineSettingsReachTheDevice) {
  Pty pty;
  SerialPort port;
  ASSERT_EQ(port.Open(pty.SlavePath().c_str(), 8192, 8192, 1), 0u);
  ASSERT_EQ(port.Configure(115200, 8, 2, 0), 0u);
  // A pseudo-terminal keeps the rate, the stop bits and the parity check,
  // but the kernel forces CS8 and clears PARENB on it.
  termios t = SlaveSettings(pty);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_iflag & INPCK);
  EXPECT_EQ(port.GetBaudRate(), 115200);
  EXPECT_EQ(port.GetByteSize(), 8);
  EXPECT_EQ(port.GetStopBits(), 0);

  ASSERT_EQ(port.SetLine(19200, 8, 0, 2), 0u);
  t = SlaveSettings(pty);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_iflag & INPCK);
  EXPECT_EQ(port.GetStopBits(), 2);
  EXPECT_EQ(port.GetParity(), 0);
}

TEST(SerialPortPty, HandshakeModesRoundTripAndBadModesChangeNothing) {
  Pty pty;
  SerialPort port;
  ASSERT_EQ(port.Open(pty.SlavePath().c_str(), 0, 0, 1), 0u);
  ASSERT_EQ(port.SetHandshake(1), 0u);
  EXPECT_EQ(port.GetHandshake(), 1);
  EXPECT_TRUE(SlaveSettings(pty).c_cflag & CRTSCTS);
  ASSERT_EQ(port.SetHandshake(2), 0u);
  EXPECT_EQ(port.GetHandshake(), 2);
  termios t = SlaveSettings(pty);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_iflag & IXON);
  EXPECT_TRUE(t.c_iflag & IXOFF);
  ASSERT_EQ(port.SetHandshake(0), 0u);
  EXPECT_EQ(port.GetHandshake(), 0);
  t = SlaveSettings(pty);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));

  ASSERT_EQ(port.SetHandshake(1), 0u);
  const termios before = SlaveSettings(pty);
  EXPECT_EQ(port.SetHandshake(3), 0x80070057u);
  EXPECT_EQ(port.SetReadTimeouts(2), 0x80070057u);
  const termios after = SlaveSettings(pty);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  EXPECT_EQ(port.GetHandshake(), 1);
}

TEST(SerialPortPty, ATimedOutReadLeavesNothingPendingAndTheNextByteIsRead) {
  Pty pty;
  SerialPort port;
  ASSERT_EQ(port.Open(pty.SlavePath().c_str(), 8192, 8192, 1), 0u);
  ASSERT_EQ(port.Configure(115200, 8, 2, 0), 0u);
  // The one real wait of the suite: a silent line has nothing to await, so
  // the read runs into its time-out. Kept short.
  char byte = 0;
  uint32_t count = 99;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.Read(&byte, 1, &count, nullptr, 200), 1460u);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
  EXPECT_GE(elapsed, 190);
  EXPECT_LT(elapsed, 2000);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(port.lastError, 1460u);

  // A byte sent after the time-out lands in the next read, not in the
  // buffer of the one that gave up.
  byte = 0;
  pty.WriteMaster("Q");
  EXPECT_EQ(port.Read(&byte, 1, &count, nullptr, 5000), 0u);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(byte, 'Q');
}

TEST(SerialPortPty, FramesCrossTheLineIntactBothWays) {
  Pty pty;
  SerialPort port;
  ASSERT_EQ(port.Open(pty.SlavePath().c_str(), 8192, 8192, 1), 0u);
  ASSERT_EQ(port.Configure(115200, 8, 2, 0), 0u);
  // Bytes that a cooked line would translate or swallow.
  const std::string frame =
      std::string("{7;ImprimeTexto;Texto=\"a\r\nb\x03\x11\x13\xff\";") + std::string(1, '\0') + "}";
  uint32_t written = 0;
  EXPECT_EQ(port.Write(frame.data(), static_cast<uint32_t>(frame.size()), &written, nullptr, 5000),
            0u);
  EXPECT_EQ(written, frame.size());
  EXPECT_EQ(pty.ReadMaster(frame.size(), 5000), frame);

  pty.WriteMaster(frame);
  std::string got;
  while (got.size() < frame.size()) {
    char byte = 0;
    uint32_t count = 0;
    ASSERT_EQ(port.Read(&byte, 1, &count, nullptr, 5000), 0u);
    ASSERT_EQ(count, 1u);
    got.push_back(byte);
  }
  EXPECT_EQ(got, frame);
}

TEST(SerialPortPty, WaitEventReportsAByteThatArrivesDuringTheWait) {
  Pty pty;
  SerialPort port;
  ASSERT_EQ(port.Open(pty.SlavePath().c_str(), 0, 0, 1), 0u);
  // The byte is meant to arrive while the wait is under way; should it come
  // first, the wait completes at once and the result is the same.
  std::thread printer([&pty] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty.WriteMaster("x");
  });
  const uint32_t code = port.WaitEvent(nullptr, 5000);
  printer.join();
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(port.eventsSeen, 0x1u);  // EV_RXCHAR
}

TEST(SerialPortPty, APseudoTerminalActsAsACableWithCtsOnWhileOpen) {
  Pty pty;
  SerialPort port;
  ASSERT_EQ(port.Open(pty.SlavePath().c_str(), 0, 0, 1), 0u);
  EXPECT_TRUE(port.IsCtsOn());
  EXPECT_EQ(port.lastError, 0u);
  EXPECT_EQ(port.Purge(), 0u);
  ASSERT_EQ(port.Close(), 0u);
  EXPECT_FALSE(port.IsCtsOn());
  EXPECT_NE(port.lastError, 0u);
  EXPECT_EQ(port.Purge(), 6u);
}

TEST(SerialPortPty, TheDeviceIsHeldExclusivelyOnlyWhileOpen) {
  Pty pty;
  // A descriptor of our own on the slave, held throughout, as an emulator
  // or a monitor would: the exclusive flag outlives the port's descriptor
  // unless Close gives it back.
  const int watcher = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(watcher, 0);
  SerialPort port;
  ASSERT_EQ(port.Open(pty.SlavePath().c_str(), 0, 0, 1), 0u);
  int exclusive = 0;
  ASSERT_EQ(ioctl(watcher, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
  if (geteuid() != 0) {  // root may open an exclusive terminal anyway
    SerialPort second;
    EXPECT_EQ(second.Open(pty.SlavePath().c_str(), 0, 0, 1), static_cast<uint32_t>(EBUSY));
  }
  ASSERT_EQ(port.Close(), 0u);
  ASSERT_EQ(ioctl(watcher, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  EXPECT_EQ(port.Open(pty.SlavePath().c_str(), 0, 0, 1), 0u);
  port.Close();
  close(watcher);
}

TEST(SerialPortPty, AReadOnADeviceThatWentAwayFailsAtOnceInsteadOfTimingOut) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);
  SerialPort port;
  ASSERT_EQ(port.Open(slave.c_str(), 0, 0, 1), 0u);
  close(master);

  char byte = 0;
  uint32_t count = 99;
  const auto start = std::chrono::steady_clock::now();
  const uint32_t code = port.Read(&byte, 1, &count, nullptr, 5000);
  EXPECT_NE(code, 0u);
  EXPECT_NE(code, 1460u);
  EXPECT_EQ(count, 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
}  // namespace tarvo
