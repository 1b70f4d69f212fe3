// The emulator's network serial port against the driver's own parser: what
// a client of the driver's kind sees, byte for byte, and what each network
// fault changes.
#include "emulator/port_server.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarvo::emu {
namespace {

using namespace rfc2217;

std::string Bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

std::string ComPort(int command, std::initializer_list<int> value) {
  std::string s = Bytes({kIac, kSb, kOptionComPort, command});
  for (int b : value) {
    s.push_back(static_cast<char>(b));
    if (b == kIac) s.push_back(static_cast<char>(b));
  }
  return s + Bytes({kIac, kSe});
}

// What the server said, read back with the driver's parser.
std::vector<Event> Parse(const std::string& wire) {
  Parser p;
  std::vector<Event> events;
  for (char c : wire) {
    const Event e = p.Feed(static_cast<uint8_t>(c));
    if (e.kind != Event::None) events.push_back(e);
  }
  return events;
}

class PortServerTest : public ::testing::Test {
 protected:
  // The driver's opening: WILL/DO BINARY and SGA, WILL COM-PORT.
  std::string Agree() {
    return server
        .Receive(Bytes({kIac, kWill, 0, kIac, kDo, 0, kIac, kWill, 3, kIac, kDo, 3, kIac, kWill,
                        kOptionComPort}))
        .reply;
  }
  NetFaults faults;
  PortServer server{&faults};
};

TEST_F(PortServerTest, SpeaksFirstAndAnswersAnAgreementOnlyWithTheModemState) {
  const auto greeting = Parse(server.Greeting());
  ASSERT_EQ(greeting.size(), 5u);
  EXPECT_EQ(greeting[4].kind, Event::Do);
  EXPECT_EQ(greeting[4].option, kOptionComPort);
  // Options already offered are not offered again (a client that answers
  // answers would loop), and the agreement brings the first modem state.
  const auto reply = Parse(Agree());
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_EQ(reply[0].kind, Event::ComPort);
  EXPECT_EQ(reply[0].command, kNotifyModemState + kServerOffset);
  EXPECT_EQ(reply[0].value[0] & kModemCts, kModemCts);
  // ECHO and unknown options are refused.
  const auto refused = Parse(server.Receive(Bytes({kIac, kDo, 1, kIac, kWill, 99})).reply);
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_EQ(refused[0].kind, Event::Wont);
  EXPECT_EQ(refused[1].kind, Event::Dont);
}

TEST_F(PortServerTest, AcknowledgesTheRateBigEndianAndAQueryWithTheRateInForce) {
  Agree();
  const auto set = Parse(server.Receive(ComPort(kSetBaudRate, {0, 0, 0x96, 0})).reply);
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[0].command, kSetBaudRate + kServerOffset);
  EXPECT_EQ(Bytes({set[0].value[0], set[0].value[1], set[0].value[2], set[0].value[3]}),
            Bytes({0, 0, 0x96, 0}));
  const auto query = Parse(server.Receive(ComPort(kSetBaudRate, {0, 0, 0, 0})).reply);
  ASSERT_EQ(query.size(), 1u);
  EXPECT_EQ(query[0].value[2], 0x96) << "a query answers the rate set before, not 0";
  const auto parity = Parse(server.Receive(ComPort(kSetParity, {2})).reply);
  ASSERT_EQ(parity.size(), 1u);
  EXPECT_EQ(parity[0].command, kSetParity + kServerOffset);
  EXPECT_EQ(parity[0].length, 1);
  EXPECT_EQ(parity[0].value[0], 2);
}

TEST_F(PortServerTest, ARefusedSettingIsAcknowledgedWithAnotherValueOrNotAtAll) {
  Agree();
  std::string error;
  bool known = false;
  ASSERT_TRUE(ApplyNetFaultCommand("refuse baud 9600", &faults, &known, &error)) << error;
  const auto other = Parse(server.Receive(ComPort(kSetBaudRate, {0, 1, 0xC2, 0})).reply);
  ASSERT_EQ(other.size(), 1u);
  EXPECT_EQ(other[0].value[2] * 256 + other[0].value[3], 9600);
  EXPECT_EQ(server.Value(kBaud), 115200u) << "a refused rate is not taken";
  ASSERT_TRUE(ApplyNetFaultCommand("refuse parity never", &faults, &known, &error));
  EXPECT_EQ(server.Receive(ComPort(kSetParity, {3})).reply, "");
  ASSERT_TRUE(ApplyNetFaultCommand("refuse parity off", &faults, &known, &error));
  EXPECT_EQ(Parse(server.Receive(ComPort(kSetParity, {3})).reply).size(), 1u);
  EXPECT_FALSE(ApplyNetFaultCommand("refuse speed 1", &faults, &known, &error));
  EXPECT_TRUE(known);
  EXPECT_FALSE(ApplyNetFaultCommand("silence 1", &faults, &known, &error));
  EXPECT_FALSE(known) << "the printer's faults are not the network's";
}

TEST_F(PortServerTest, CtsUnderFaultControlIsReportedOncePerChange) {
  EXPECT_EQ(server.ModemChange(), "") << "nothing before the Com Port option is agreed";
  Agree();
  EXPECT_EQ(server.ModemChange(), "");
  faults.ctsOff = true;
  const auto off = Parse(server.ModemChange());
  ASSERT_EQ(off.size(), 1u);
  EXPECT_EQ(off[0].value[0] & kModemCts, 0);
  EXPECT_EQ(off[0].value[0] & 0x01, 0x01) << "the delta bit says CTS changed";
  EXPECT_EQ(server.ModemChange(), "");
}

TEST_F(PortServerTest, DataBytesPassBothWaysWith0xFFDoubledOnTheWireOnly) {
  Agree();
  const std::string data = Bytes({'{', 0xFF, 0x00, 'A', 0xF0, '}'});
  EXPECT_EQ(server.Receive(PortServer::Escape(data)).data, data);
  EXPECT_EQ(PortServer::Escape(Bytes({0xFF, 'x'})), Bytes({0xFF, 0xFF, 'x'}));
  const auto purge = server.Receive(ComPort(kPurgeData, {kPurgeBoth}));
  EXPECT_TRUE(purge.purgeReceive);
  EXPECT_TRUE(purge.purgeTransmit);
}

}  // namespace
}  // namespace tarvo::emu
