// The session calls on the simulated line, with their trace lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/driver_state.h"
#include "serial/sim/sim_line.h"
#include "support/temp_dir.h"
#include "tarvo.h"
#include "trace/trace.h"

namespace tarvo {
namespace {

using sim::Kind;
using Lines = std::vector<std::string>;

class Session : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    driverState.port.Close();
    driverState.fArq = -1;
    driverState.Timeout = 0;
    driverState.cmdBusy = 0;
    driverState.cmdId = 0;
    driverState.lastSeed = -1;
    driverState.portName[0] = '\0';
    traceState = TraceState{};
    test::StartTrace(2);
    sim::ClearRecords();
  }
  void TearDown() override {
    driverState.port.Close();
    driverState.fArq = -1;
    driverState.cmdBusy = 0;
    traceState = TraceState{};
  }

  // The trace lines written since the last call (stamps removed).
  Lines NewLines() {
    const Lines all = test::TraceLines("test.txt");
    Lines fresh(all.begin() + static_cast<long>(std::min(seen_, all.size())), all.end());
    seen_ = all.size();
    return fresh;
  }

  static std::vector<Kind> Kinds() {
    std::vector<Kind> kinds;
    for (size_t i = 0; i < sim::EventCount(); ++i) kinds.push_back(sim::EventAt(i).kind);
    return kinds;
  }
  static std::string OpenedDevice() {
    for (size_t i = sim::EventCount(); i-- > 0;) {
      if (sim::EventAt(i).kind == Kind::Open) return sim::EventAt(i).text;
    }
    return "(none)";
  }

  test::TempDir dir_;
  size_t seen_ = 2;  // the header line and the blank line after it
};

const std::string kNoKey = "IniciaDriver2900 Erro na abertura do Register";
const std::string kNoValue = "IniciaDriver2900 Erro na leitura do Register";

TEST_F(Session, PortNamesChooseTheDevice) {
  struct Case {
    const char* name;
    const char* device;
    const char* line;  // after "IniciaDriver2900 "
  } const cases[] = {
      {"COM3", "COM3", "COM3"},
      {"COM0", "COM0", "COM0"},
      {"XYZ5", "COM5", "COM5"},
      {"com8", "COM8", "COM8"},
      {"COM15", "COM15", "COM15"},  // two digits reach the port of that number
      {"COM22", "COM22", "COM22"},
      {"COM1:", "COM1", "COM1:"},
      {"/dev/ttyUSB0", "/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"serial/dev/x", "serial/dev/x", "serial/dev/x"},
      {"/dev/0123456789012345678901234567890123", "/dev/0123456789012345678901234567890123",
       "/dev/0123456789012345678901234567890123"},  // 39 characters: the longest that fits
  };
  for (const Case& c : cases) {
    test::StartTrace(2);
    NewLines();
    sim::ClearRecords();
    ASSERT_EQ(IniciaDriver(c.name), 1) << c.name;
    EXPECT_EQ(OpenedDevice(), c.device) << c.name;
    EXPECT_STREQ(driverState.portName, c.device) << c.name;
    EXPECT_EQ(NewLines(), (Lines{std::string("IniciaDriver2900 PortaSerial=") + c.name,
                                 std::string("IniciaDriver2900 ") + c.line, kNoKey}))
        << c.name;
    ASSERT_EQ(EncerraDriver(1), 0);
  }
}

TEST_F(Session, BadChannelsAreRefusedBeforeRegistryAndPort) {
  const std::string tooLong = "/dev/" + std::string(35, 'x');  // 40 characters
  const char* const names[] = {"COM9", "COMA", "COM", "", "CO", "COM-1", tooLong.c_str()};
  for (const char* name : names) {
    driverState.cmdId = -1;
    driverState.lastSeed = -1;  // each name as the process's first session
    sim::SetCalendarSeconds(1000);
    EXPECT_EQ(IniciaDriver(name), -11) << name;
    EXPECT_EQ(NewLines(), (Lines{std::string("IniciaDriver2900 PortaSerial=") + name,
                                 "IniciaDriver2900 Erro[canal]"}))
        << name;
    EXPECT_EQ(sim::EventCount(), 0u) << name;
    EXPECT_EQ(driverState.fArq, -1);
    EXPECT_STREQ(driverState.portName, "");
    EXPECT_EQ(driverState.cmdId, 1000 % 255);  // the one field that changes
  }
  EXPECT_EQ(IniciaDriver(nullptr), -11);
}

TEST_F(Session, ASessionOpensConfiguredWithLinesRaisedAndQueuesPurged) {
  sim::SendAfter(0, "stale bytes");
  ASSERT_EQ(TARVO_IniciaDriver("COM3"), 1);
  EXPECT_EQ(Kinds(), (std::vector<Kind>{Kind::Open, Kind::SetQueues, Kind::SetLine, Kind::Purge,
                                        Kind::SetRts, Kind::SetDtr}));
  EXPECT_EQ(sim::EventAt(1).arg, 8192u);
  EXPECT_EQ(sim::EventAt(1).arg2, 8192u);
  const sys::Dcb dcb = sim::LineSettings();
  EXPECT_EQ(dcb.baudRate, 115200u);
  EXPECT_EQ(dcb.byteSize, 8);
  EXPECT_EQ(dcb.parity, 2);
  EXPECT_EQ(dcb.stopBits, 0);
  EXPECT_TRUE(dcb.flags & sys::kFlagParity);
  EXPECT_EQ(sim::EventAt(3).arg, 12u);
  EXPECT_EQ(sim::PendingInbound(), 0u);
  EXPECT_TRUE(sim::Rts());
  EXPECT_TRUE(sim::Dtr());
  EXPECT_NE(driverState.port.ioEvent, nullptr);  // overlapped
  EXPECT_EQ(driverState.Timeout, 5000);
  EXPECT_EQ(driverState.fArq, 1);
  EXPECT_EQ(TARVO_EncerraDriver(1), 0);
  EXPECT_FALSE(sim::AnyDeviceOpen());
}

TEST_F(Session, RegistryCasesGiveTheirTraceLinesAndTheRate) {
  const std::string velocidade = "IniciaDriver2900 Erro de configuracao[velocidade]";
  const std::string tamanho = "IniciaDriver2900 Erro de configuracao[tamanho]";
  const std::string paridade = "IniciaDriver2900 Erro de configuracao[paridade]";
  const std::string stopBit = "IniciaDriver2900 Erro de configuracao[stop bit]";
  struct Case {
    const char* label;
    bool key;
    std::string value;  // raw bytes; "-" for no value
    uint32_t rate;
    Lines lines;
  } const cases[] = {
      {"no key", false, "-", 115200, {kNoKey}},
      {"no value", true, "-", 115200, {kNoValue}},
      {"21 bytes", true, std::string("COM1:38400,E,8,1abcd\0", 21), 115200, {kNoValue}},
      {"lower-case e", true, std::string("COM1:38400,e,8,1\0", 17), 38400, {}},
      {"57600", true, std::string("COM1:57600,E,8,1\0", 17), 57600, {}},
      {"19200", true, std::string("COM1:19200,E,8,1\0", 17), 19200, {}},
      {"115200", true, std::string("COM1:115200,E,8,1\0", 18), 115200, {}},
      {"blanks and sign", true, std::string("COM1: +38400,E,8,1\0", 19), 38400, {}},
      {"first five unexamined", true, std::string("xxxxx57600,E,8,1\0", 17), 57600, {}},
      {"9600", true, std::string("COM1:9600,E,8,1\0", 16), 115200, {velocidade}},
      {"N,7,2", true, std::string("COM1:38400,N,7,2\0", 17), 115200, {tamanho, paridade, stopBit}},
      {"all four",
       true,
       std::string("COM1:1200,O,5,2\0", 16),
       115200,
       {velocidade, tamanho, paridade, stopBit}},
      {"comma at 5", true, std::string("COM1:,E,8,1\0", 12), 115200, {velocidade}},
      {"comma in first five", true, std::string("C,M1:57600,E,8,1\0", 17), 57600, {}},
      {"no comma", true, std::string("COM1:38400\0", 11), 115200, {tamanho, paridade, stopBit}},
      {"cut short", true, std::string("COM1:38400,E,8\0", 15), 115200, {stopBit}},
      {"empty", true, std::string("\0", 1), 115200, {velocidade, tamanho, paridade, stopBit}},
      {"no terminator", true, "COM1:57600,E,8,1", 57600, {}},
      {"20 bytes, no terminator", true, "COM1:57600,E,8,1wxyz", 57600, {}},
      {"zero before the end",
       true,
       std::string("COM1:57600\0,E,8,1", 17),
       115200,
       {tamanho, paridade, stopBit}},
  };
  for (const Case& c : cases) {
    sim::Reset();
    test::StartTrace(2);
    NewLines();
    sim::SetRegistryKey(c.key);
    if (c.value != "-") sim::SetCommSettings(c.value.data(), c.value.size());
    ASSERT_EQ(IniciaDriver("COM1"), 1) << c.label;
    Lines expected{"IniciaDriver2900 PortaSerial=COM1", "IniciaDriver2900 COM1"};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(NewLines(), expected) << c.label;
    EXPECT_EQ(sim::LineSettings().baudRate, c.rate) << c.label;
    EXPECT_EQ(sim::LineSettings().byteSize, 8) << c.label;
    EXPECT_EQ(sim::LineSettings().parity, 2) << c.label;
    EXPECT_EQ(sim::LineSettings().stopBits, 0) << c.label;
    ASSERT_EQ(EncerraDriver(1), 0);
  }
}

TEST_F(Session, DefineTimeoutKeepsItsBoundsAndRefusals) {
  ASSERT_EQ(IniciaDriver("COM3"), 1);
  NewLines();
  const std::pair<int, int> cases[] = {{100, 5000},  {8000, 8000}, {-1, 5000},
                                       {4999, 5000}, {5000, 5000}, {2147483647, 2147483647}};
  for (const auto& [asked, set] : cases) {
    driverState.Timeout = 1;
    DefineTimeout(1, asked);
    EXPECT_EQ(driverState.Timeout, set) << asked;
  }
  EXPECT_EQ(NewLines(), Lines{}) << "the new time-out is a verbose line";

  DefineTimeout(2, 9000);
  EXPECT_EQ(driverState.Timeout, 2147483647);
  EXPECT_EQ(NewLines(), Lines{"DefineTimeout2900 Handle=2 diferente de fArq=1"});

  driverState.cmdBusy = 1;
  TARVO_DefineTimeout(1, 9000);
  EXPECT_EQ(driverState.Timeout, 2147483647);
  EXPECT_EQ(NewLines(), Lines{"DefineTimeout2900 Ha comando em execucao!"});
  driverState.cmdBusy = 0;

  traceState.nivelLog = 1;
  DefineTimeout(1, 100);
  EXPECT_EQ(NewLines(), Lines{"DefineTimeout2900 iTimeout=100 => Timeout=5000"});

  ASSERT_EQ(EncerraDriver(1), 0);
  DefineTimeout(-1, 6000);  // no session: -1 is fArq
  EXPECT_EQ(driverState.Timeout, 6000);
}

TEST_F(Session, EncerraDriverClosesOnceAndTheNextIniciaDriverOpensAgain) {
  ASSERT_EQ(IniciaDriver("COM3"), 1);
  NewLines();
  EXPECT_EQ(EncerraDriver(5), -14);
  EXPECT_TRUE(driverState.port.IsOpen());
  EXPECT_EQ(driverState.fArq, 1);
  EXPECT_EQ(NewLines(), Lines{"EncerraDriver2900 Handle=5"});

  EXPECT_EQ(EncerraDriver(1), 0);
  EXPECT_EQ(NewLines(), Lines{"EncerraDriver2900 Handle=1"});
  EXPECT_FALSE(driverState.port.IsOpen());
  EXPECT_EQ(driverState.fArq, -1);
  EXPECT_EQ(traceState.traceLevel, 0) << "tracing stops with the session";
  EXPECT_EQ(sim::CountEvents(Kind::Close), 1u);

  EXPECT_EQ(EncerraDriver(1), -14);
  EXPECT_EQ(NewLines(), Lines{});
  EXPECT_EQ(IniciaDriver("COM3"), 1);
  EXPECT_EQ(sim::CountEvents(Kind::Open), 2u);
  EXPECT_EQ(EncerraDriver(1), 0);

  // No session: -1 matches fArq and there is nothing to close.
  EXPECT_EQ(EncerraDriver(-1), 0);
  EXPECT_EQ(sim::CountEvents(Kind::Close), 2u);
}

TEST_F(Session, ASecondIniciaDriverFailsAndLeavesTheOpenSessionOnItsDevice) {
  sim::SetCalendarSeconds(1000);
  ASSERT_EQ(IniciaDriver("COM3"), 1);
  NewLines();
  sim::ClearRecords();
  sim::SetCalendarSeconds(2000);

  EXPECT_EQ(IniciaDriver("COM5"), -11);
  EXPECT_EQ(NewLines(), (Lines{"IniciaDriver2900 PortaSerial=COM5", "IniciaDriver2900 COM5", kNoKey,
                               "IniciaDriver2900 Erro [1247] na inicializacao da COM"}));
  EXPECT_EQ(driverState.cmdId, 2000 % 255);
  EXPECT_EQ(driverState.fArq, 1);
  EXPECT_STREQ(driverState.portName, "COM3");
  EXPECT_EQ(sim::EventCount(), 0u) << "the open port was not touched";

  // A re-open after a reception failure still reaches the session's printer.
  driverState.port.Close();
  ASSERT_EQ(driverState.port.Open(driverState.portName, 8192, 8192, 1), 0u);
  EXPECT_EQ(OpenedDevice(), "COM3");
}

TEST_F(Session, APortThatCannotBeOpenedGivesItsCodeInTheTrace) {
  sim::FailOpen("COM4", 2);
  EXPECT_EQ(IniciaDriver("COM4"), -11);
  EXPECT_EQ(NewLines(), (Lines{"IniciaDriver2900 PortaSerial=COM4", "IniciaDriver2900 COM4", kNoKey,
                               "IniciaDriver2900 Erro [2] na inicializacao da COM"}));
  EXPECT_EQ(driverState.fArq, -1);
  EXPECT_FALSE(driverState.port.IsOpen());
  EXPECT_EQ(sim::CountEvents(Kind::SetLine), 0u);
}

TEST_F(Session, CmdIdIsSeededFromCalendarSecondsModulo255) {
  const std::pair<int64_t, int> cases[] = {
      {0, 0}, {254, 254}, {255, 0}, {1000000000, 1000000000 % 255}, {255LL * 7000000 + 254, 254}};
  for (const auto& [seconds, id] : cases) {
    sim::SetCalendarSeconds(seconds);
    ASSERT_EQ(IniciaDriver("COM3"), 1);
    EXPECT_EQ(driverState.cmdId, id) << seconds;
    ASSERT_EQ(EncerraDriver(1), 0);
  }
}

TEST_F(Session, DoMessageReturnsTheDispatchResultOrZero) {
  EXPECT_EQ(DoMessage(), 0);
  sim::QueueWindowMessage(42);
  sim::QueueWindowMessage(-3);
  EXPECT_EQ(DoMessage(), 42);
  EXPECT_EQ(TARVO_DoMessage(), -3);
  EXPECT_EQ(DoMessage(), 0);
  EXPECT_EQ(driverState.fArq, -1);
  EXPECT_EQ(sim::EventCount(), 0u);
}

}  // namespace
}  // namespace tarvo
