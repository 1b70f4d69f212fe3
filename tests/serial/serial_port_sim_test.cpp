// SerialPort over the simulated line: what a pseudo-terminal cannot show
// (modem lines, BREAK, CTS over time, queue set-up) and timing asserted on
// the virtual clock.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "serial/serial_port.h"
#include "serial/sim/sim_line.h"

namespace tarvo {
namespace {

using sim::Kind;

class SerialPortSim : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }

  // The kinds of the events recorded from index `from` on.
  static std::vector<Kind> KindsFrom(size_t from) {
    std::vector<Kind> kinds;
    for (size_t i = from; i < sim::EventCount(); ++i) kinds.push_back(sim::EventAt(i).kind);
    return kinds;
  }
};

TEST_F(SerialPortSim, EveryOperationOnAClosedPortReportsInvalidHandle) {
  SerialPort port;
  char buffer[4] = {};
  sys::IoRecord record{};
  const std::pair<const char*, std::function<uint32_t()>> operations[] = {
      {"Configure", [&] { return port.Configure(9600, 8, 2, 0); }},
      {"SetLine", [&] { return port.SetLine(9600, 8, 2, 0); }},
      {"SetEventChar", [&] { return port.SetEventChar('\n', 1); }},
      {"SetEventMask", [&] { return port.SetEventMask(0xC1); }},
      {"WaitEvent", [&] { return port.WaitEvent(nullptr, 100); }},
      {"SetHandshake", [&] { return port.SetHandshake(1); }},
      {"SetHandshake(3)", [&] { return port.SetHandshake(3); }},
      {"SetReadTimeouts", [&] { return port.SetReadTimeouts(1); }},
      {"SetReadTimeouts(2)", [&] { return port.SetReadTimeouts(2); }},
      {"WriteString", [&] { return port.WriteString("x", nullptr, nullptr, 100); }},
      {"Write", [&] { return port.Write("x", 1, nullptr, &record, 100); }},
      {"Read", [&] { return port.Read(buffer, 1, nullptr, nullptr, sys::kInfinite); }},
      {"Purge", [&] { return port.Purge(); }},
      {"SetRts", [&] { return port.SetRts(); }},
      {"SetDtr", [&] { return port.SetDtr(); }},
      {"SetBreak", [&] { return port.SetBreak(); }},
      {"ClearRts", [&] { return port.ClearRts(); }},
      {"ClearDtr", [&] { return port.ClearDtr(); }},
      {"ClearBreak", [&] { return port.ClearBreak(); }},
  };
  for (const auto& [name, operation] : operations) {
    port.lastError = 12345;
    EXPECT_EQ(operation(), 6u) << name;
    EXPECT_EQ(port.lastError, 6u) << name;
  }

  const std::pair<const char*, std::function<int()>> getters[] = {
      {"GetBaudRate", [&] { return port.GetBaudRate(); }},
      {"GetByteSize", [&] { return port.GetByteSize(); }},
      {"GetParity", [&] { return port.GetParity(); }},
      {"GetStopBits", [&] { return port.GetStopBits(); }},
      {"GetHandshake", [&] { return port.GetHandshake(); }},
  };
  for (const auto& [name, getter] : getters) {
    port.lastError = 0;
    EXPECT_EQ(getter(), -1) << name;
    EXPECT_EQ(port.lastError, 6u) << name;
  }
  port.lastError = 0;
  EXPECT_EQ(port.GetEventMask(), 0u);
  EXPECT_EQ(port.lastError, 6u);
  port.lastError = 0;
  EXPECT_EQ(port.GetEventChar(), 0);
  EXPECT_EQ(port.lastError, 6u);
  port.lastError = 0;
  EXPECT_FALSE(port.IsCtsOn());
  EXPECT_NE(port.lastError, 0u);

  // The counts are cleared even though the port is closed.
  uint32_t count = 99;
  EXPECT_EQ(port.Read(buffer, 1, &count, nullptr, 100), 6u);
  EXPECT_EQ(count, 0u);
  count = 99;
  EXPECT_EQ(port.Write("x", 1, &count, nullptr, 100), 6u);
  EXPECT_EQ(count, 0u);

  port.lastError = 7;
  EXPECT_EQ(port.Close(), 0u);
  EXPECT_EQ(port.lastError, 0u);
  EXPECT_EQ(sim::EventCount(), 0u) << "a closed port touched the line";
}

TEST_F(SerialPortSim, OpenSetsQueuesEventMaskAndReadModeOneAndRefusesASecondOpen) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM3", 8192, 4096, 1), 0u);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_NE(port.ioEvent, nullptr);
  ASSERT_EQ(sim::CountEvents(Kind::SetQueues), 1u);
  EXPECT_EQ(sim::EventAt(1).arg, 8192u);
  EXPECT_EQ(sim::EventAt(1).arg2, 4096u);
  EXPECT_EQ(port.GetEventMask(), 0xC1u);
  sys::CommTimeouts timeouts{};
  ASSERT_EQ(sys::GetTimeouts(port.device, &timeouts), 0u);
  EXPECT_EQ(timeouts.readIntervalTimeout, 30u);
  EXPECT_EQ(timeouts.readTotalTimeoutMultiplier, 3600000u);
  EXPECT_EQ(timeouts.readTotalTimeoutConstant, 100u);

  const sys::Handle device = port.device;
  EXPECT_EQ(port.Open("COM4", 8192, 8192, 1), 1247u);
  EXPECT_EQ(port.lastError, 1247u);
  EXPECT_EQ(port.device, device);
  EXPECT_EQ(sim::CountEvents(Kind::Open), 1u);

  EXPECT_EQ(port.Close(), 0u);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.ioEvent, nullptr);
  EXPECT_FALSE(sim::AnyDeviceOpen());
  EXPECT_EQ(port.Close(), 0u);
  EXPECT_EQ(sim::CountEvents(Kind::Close), 1u);
}

TEST_F(SerialPortSim, OpenWithNoQueueSizesLeavesTheQueuesButStillPreparesTheLine) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM3", 0, 0, 1), 0u);
  EXPECT_EQ(sim::CountEvents(Kind::SetQueues), 0u);
  EXPECT_EQ(port.GetEventMask(), 0xC1u);
  sys::CommTimeouts timeouts{};
  ASSERT_EQ(sys::GetTimeouts(port.device, &timeouts), 0u);
  EXPECT_EQ(timeouts.readIntervalTimeout, 30u);
}

TEST_F(SerialPortSim, AFailedOpenReturnsThePlatformCodeAndLeavesThePortClosed) {
  SerialPort port;
  sim::FailOpen("COM4", 2);
  EXPECT_EQ(port.Open("COM4", 8192, 8192, 1), 2u);
  EXPECT_EQ(port.lastError, 2u);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.ioEvent, nullptr);
  sim::FailOpen("COM4", 0);
  EXPECT_EQ(port.Open("COM4", 8192, 8192, 1), 0u);
}

TEST_F(SerialPortSim, DestroyingAnOpenPortClosesTheDevice) {
  {
    SerialPort port;
    ASSERT_EQ(port.Open("COM3", 0, 0, 1), 0u);
  }
  EXPECT_FALSE(sim::AnyDeviceOpen());
  EXPECT_EQ(sim::CountEvents(Kind::Close), 1u);
}

TEST_F(SerialPortSim, SetEventCharAddsRxFlagOnlyWhenWatching) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM3", 0, 0, 1), 0u);
  EXPECT_EQ(port.SetEventChar('}', 0), 0u);
  EXPECT_EQ(port.GetEventChar(), '}');
  EXPECT_EQ(port.GetEventMask(), 0xC1u);
  EXPECT_EQ(port.SetEventChar('\n', 1), 0u);
  EXPECT_EQ(port.GetEventChar(), '\n');
  EXPECT_EQ(port.GetEventMask(), 0xC3u);
  // Turning the watch off again does not take EV_RXFLAG away.
  EXPECT_EQ(port.SetEventChar('x', 0), 0u);
  EXPECT_EQ(port.GetEventMask(), 0xC3u);
}

TEST_F(SerialPortSim, HandshakeModesRoundTripAndBadModesChangeNothing) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM3", 0, 0, 1), 0u);
  const uint32_t other = sim::LineSettings().flags & ~0x333Cu;  // bits no mode touches

  struct Step {
    uint32_t mode;
    uint32_t flags;  // of the handshake bits after the mode is set
  } const steps[] = {
      {1, 0x202C},  // CTS and DSR watched, DTR and RTS handshake
      {2, 0x0300},  // XON/XOFF both ways
      {1, 0x202C},
      {0, 0x0000},
  };
  for (const Step& s : steps) {
    ASSERT_EQ(port.SetHandshake(s.mode), 0u);
    EXPECT_EQ(port.GetHandshake(), static_cast<int>(s.mode));
    EXPECT_EQ(sim::LineSettings().flags & 0x333Cu, s.flags) << "mode " << s.mode;
    EXPECT_EQ(sim::LineSettings().flags & ~0x333Cu, other) << "mode " << s.mode;
  }

  ASSERT_EQ(port.SetHandshake(2), 0u);
  const sys::Dcb before = sim::LineSettings();
  sys::CommTimeouts timeoutsBefore{};
  sys::GetTimeouts(port.device, &timeoutsBefore);
  EXPECT_EQ(port.SetHandshake(3), 0x80070057u);
  EXPECT_EQ(port.lastError, 0x80070057u);
  EXPECT_EQ(port.SetReadTimeouts(2), 0x80070057u);
  EXPECT_EQ(port.lastError, 0x80070057u);
  const sys::Dcb after = sim::LineSettings();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  sys::CommTimeouts timeoutsAfter{};
  sys::GetTimeouts(port.device, &timeoutsAfter);
  EXPECT_EQ(std::memcmp(&timeoutsBefore, &timeoutsAfter, sizeof timeoutsBefore), 0);
  EXPECT_EQ(port.GetHandshake(), 2);

  ASSERT_EQ(port.SetReadTimeouts(0), 0u);
  sys::GetTimeouts(port.device, &timeoutsAfter);
  EXPECT_EQ(timeoutsAfter.readIntervalTimeout, 0xFFFFFFFFu);
  EXPECT_EQ(timeoutsAfter.readTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(timeoutsAfter.readTotalTimeoutConstant, 0u);
}

TEST_F(SerialPortSim, SetLineWritesTheFourFieldsAndParityZeroClearsParityEnable) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM3", 0, 0, 1), 0u);
  ASSERT_EQ(port.Configure(38400, 7, 1, 2), 0u);
  EXPECT_EQ(port.GetBaudRate(), 38400);
  EXPECT_EQ(port.GetByteSize(), 7);
  EXPECT_EQ(port.GetParity(), 1);
  EXPECT_EQ(port.GetStopBits(), 2);
  EXPECT_TRUE(sim::LineSettings().flags & sys::kFlagParity);

  ASSERT_EQ(port.SetLine(115200, 8, 0, 0), 0u);
  EXPECT_FALSE(sim::LineSettings().flags & sys::kFlagParity);
  EXPECT_EQ(port.GetParity(), 0);

  // Parity enable off: GetParity is 0 whatever the Parity field holds.
  sys::Dcb dcb = sim::LineSettings();
  dcb.parity = 2;
  ASSERT_EQ(sys::SetLineSettings(port.device, &dcb), 0u);
  EXPECT_EQ(port.GetParity(), 0);
}

TEST_F(SerialPortSim, ModemLineAndBreakOperationsReachTheLineInOrder) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM3", 0, 0, 1), 0u);
  const size_t from = sim::EventCount();
  EXPECT_EQ(port.SetRts(), 0u);
  EXPECT_EQ(port.SetDtr(), 0u);
  EXPECT_TRUE(sim::Rts());
  EXPECT_TRUE(sim::Dtr());
  EXPECT_EQ(port.SetBreak(), 0u);
  EXPECT_TRUE(sim::BreakOn());
  EXPECT_EQ(port.ClearBreak(), 0u);
  EXPECT_EQ(port.ClearRts(), 0u);
  EXPECT_EQ(port.ClearDtr(), 0u);
  EXPECT_EQ(port.Purge(), 0u);
  EXPECT_FALSE(sim::Rts());
  EXPECT_FALSE(sim::Dtr());
  EXPECT_FALSE(sim::BreakOn());
  EXPECT_EQ(KindsFrom(from),
            (std::vector<Kind>{Kind::SetRts, Kind::SetDtr, Kind::SetBreak, Kind::ClearBreak,
                               Kind::ClearRts, Kind::ClearDtr, Kind::Purge}));
  EXPECT_EQ(sim::EventAt(sim::EventCount() - 1).arg, 12u);  // both queues
}

TEST_F(SerialPortSim, CtsFollowsTheLineAndAFailedStatusReadIsOff) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM3", 0, 0, 1), 0u);
  EXPECT_TRUE(port.IsCtsOn());
  sim::SetCts(false);
  sim::SetCtsAt(250, true);
  EXPECT_FALSE(port.IsCtsOn());
  sys::SleepMs(249);
  EXPECT_FALSE(port.IsCtsOn());
  sys::SleepMs(1);
  EXPECT_TRUE(port.IsCtsOn());
  EXPECT_EQ(port.lastError, 0u);
  sim::FailModemStatus(31);
  EXPECT_FALSE(port.IsCtsOn());
  EXPECT_EQ(port.lastError, 31u);
}

TEST_F(SerialPortSim, ATimedReadEndsExactlyAtItsTimeOutAndLosesNothingThatComesLater) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM3", 8192, 8192, 1), 0u);
  char byte = 0;
  uint32_t count = 99;
  sim::SendAfter(6000, "A");
  const uint64_t start = sim::NowMs();
  EXPECT_EQ(port.Read(&byte, 1, &count, nullptr, 5000), 1460u);
  EXPECT_EQ(port.lastError, 1460u);
  EXPECT_EQ(sim::NowMs() - start, 5000u);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(sim::PendingInbound(), 1u);

  EXPECT_EQ(port.Read(&byte, 1, &count, nullptr, 5000), 0u);
  EXPECT_EQ(sim::NowMs() - start, 6000u);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(byte, 'A');

  sim::Send("BC");
  char two[2] = {};
  EXPECT_EQ(port.Read(two, 2, &count, nullptr, 5000), 0u);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(std::string(two, 2), "BC");
  EXPECT_EQ(sim::NowMs() - start, 6000u);
}

TEST_F(SerialPortSim, AWrittenFrameReachesTheLineWhole) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM3", 8192, 8192, 1), 0u);
  uint32_t written = 0;
  const char frame[] = "{1;LeTexto;NomeTexto=\"Marca\";29}";
  EXPECT_EQ(port.WriteString(frame, &written, nullptr, 1000), 0u);
  EXPECT_EQ(written, sizeof frame - 1);
  size_t length = 0;
  const char* bytes = sim::WrittenBytes(&length);
  EXPECT_EQ(std::string(bytes, length), frame);
}

TEST_F(SerialPortSim, WaitEventReportsArrivingBytesOrTimesOut) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM3", 0, 0, 1), 0u);
  EXPECT_EQ(port.WaitEvent(nullptr, 100), 1460u);
  EXPECT_EQ(sim::NowMs(), 100u);
  sim::SendAfter(20, "x");
  EXPECT_EQ(port.WaitEvent(nullptr, 100), 0u);
  EXPECT_EQ(port.eventsSeen, sys::kEvRxChar);
  EXPECT_EQ(sim::NowMs(), 120u);
}

TEST_F(SerialPortSim, APortWithoutOverlappedIoRefusesRecordsAndFiniteTimeOuts) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM3", 0, 0, 0), 0u);
  EXPECT_EQ(port.ioEvent, nullptr);
  char byte = 0;
  uint32_t count = 99;
  sys::IoRecord record{};
  EXPECT_EQ(port.Read(&byte, 1, &count, nullptr, 5000), 1u);
  EXPECT_EQ(count, 0u);
  count = 99;
  EXPECT_EQ(port.Write("x", 1, &count, &record, sys::kInfinite), 1u);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(port.WaitEvent(nullptr, 10), 1u);
  EXPECT_EQ(sim::CountEvents(Kind::Write), 0u);
  EXPECT_EQ(sim::NowMs(), 0u);

  // With neither, the transfer is made at once.
  EXPECT_EQ(port.Write("xy", 2, &count, nullptr, sys::kInfinite), 0u);
  EXPECT_EQ(count, 2u);
  sim::Send("z");
  EXPECT_EQ(port.Read(&byte, 1, &count, nullptr, sys::kInfinite), 0u);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(byte, 'z');
}

}  // namespace
}  // namespace tarvo
