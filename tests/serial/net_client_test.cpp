// The network client's bounds and healing, on a virtual clock: a scripted
// socket plays a server (up or away, acknowledging or not, flooding, never
// reading), and time passes only when the client waits. A 30-second outage
// takes milliseconds.
#include "serial/net_client.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace tarvo::net {
namespace {

using namespace rfc2217;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kRefused = 111, kTimedOut = 110, kBadValue = 22, kGone = 104;

const Bytes kGreeting = {kIac, kWill, 3, kIac, kDo, 3, kIac, kWill, 0, kIac, kDo, 0, kIac, kDo, 44};

// The server behind the socket, and the virtual clock.
class ScriptedSocket final : public NetSocket {
 public:
  uint64_t now = 0;
  bool up = true;                // accepts connections
  bool acks = true;              // answers the line settings (a query always)
  int baudAnswer = -1;           // answers SET-BAUDRATE with this instead
  bool reads = true;             // takes what the client sends
  size_t dataBeforeAck = 0;      // data bytes sent before answering settings
  bool streamAfterData = false;  // answers each request with endless noise
  std::vector<uint64_t> attempts;
  std::vector<std::string> commands;  // "cmd:value" of each Com Port command, per connection
  std::deque<uint8_t> inbound;
  size_t receives = 0;

  uint32_t Connect(const char*, uint16_t, uint32_t timeoutMs) override {
    attempts.push_back(now);
    if (!up) {
      now += timeoutMs / 10;
      return kRefused;
    }
    connected_ = true;
    commands.clear();
    parser_.Reset();
    inbound.assign(kGreeting.begin(), kGreeting.end());
    return 0;
  }
  uint32_t Send(const uint8_t* data, size_t count, uint32_t stallMs, size_t* sent) override {
    *sent = 0;
    if (!connected_) return kGone;
    if (!reads) {
      now += stallMs;
      return 0;
    }
    for (size_t i = 0; i < count; ++i) Serve(parser_.Feed(data[i]));
    *sent = count;
    return 0;
  }
  uint32_t Receive(uint8_t* buffer, size_t room, size_t* got, uint32_t timeoutMs) override {
    ++receives;
    *got = 0;
    if (!connected_) return kGone;
    if (streaming_ && inbound.size() < room) inbound.insert(inbound.end(), room, 'x');
    if (inbound.empty()) {
      now += timeoutMs;
      return 0;
    }
    while (*got < room && !inbound.empty()) {
      buffer[(*got)++] = inbound.front();
      inbound.pop_front();
    }
    return 0;
  }
  void Close() override { connected_ = false; }
  uint64_t NowMs() override { return now; }
  uint32_t Code(Failure f) override {
    switch (f) {
      case Failure::TimedOut: return kTimedOut;
      case Failure::NotSupported: return 93;
      case Failure::BadValue: return kBadValue;
      case Failure::Gone: return kGone;
    }
    return 5;
  }
  // The server goes away: the connection ends and no new one is accepted.
  void GoAway() {
    connected_ = false;
    up = false;
  }
  void Push(const Bytes& b) { inbound.insert(inbound.end(), b.begin(), b.end()); }

 private:
  void Serve(const Event& e) {
    if (e.kind == Event::Data && streamAfterData) streaming_ = true;
    if (e.kind != Event::ComPort) return;
    std::string c = std::to_string(e.command) + ":";
    for (size_t i = 0; i < e.length; ++i) c += std::to_string(e.value[i]) + ".";
    commands.push_back(c);
    Bytes value(e.value, e.value + e.length);
    const bool setting = e.command >= kSetBaudRate && e.command <= kSetStopSize;
    const bool query = value == Bytes{0, 0, 0, 0};
    if (setting && !acks && !query) return;
    if (setting && dataBeforeAck > 0) {
      inbound.insert(inbound.end(), dataBeforeAck, 'z');
      dataBeforeAck = 0;
    }
    if (e.command == kSetBaudRate && baudAnswer >= 0 && !query) {
      const auto r = static_cast<uint32_t>(baudAnswer);
      value = {uint8_t(r >> 24), uint8_t(r >> 16), uint8_t(r >> 8), uint8_t(r)};
    }
    uint8_t out[32];
    const size_t n = EncodeComPort(static_cast<uint8_t>(e.command + kServerOffset), value.data(),
                                   value.size(), out, sizeof out);
    Push(Bytes(out, out + n));
  }

  bool connected_ = false;
  bool streaming_ = false;
  Parser parser_;
};

const LineSettings k8E1 = {115200, 8, Parity::Even, StopBits::One};
const std::vector<std::string> kSessionSetup = {"1:0.0.0.0.", "1:0.1.194.0.", "2:8.",  "3:3.",
                                                "4:1.",       "5:8.",         "5:11.", "12:3."};

class NetClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ParseUrl("rfc2217://printer-box.lan:7000", &url));
    ASSERT_EQ(client.Open(&socket, url), 0u);
    ASSERT_EQ(client.SetLine(k8E1), 0u);
    client.Escape(sys::Escape::SetDtr);
    client.Escape(sys::Escape::SetRts);
    client.Purge();
  }
  void TearDown() override { client.Close(); }
  bool Cts() {
    uint32_t status = 0;
    EXPECT_EQ(client.ModemStatus(&status), 0u);
    return (status & kModemCts) != 0;
  }
  // A read after the loss reports it, as the exchange in flight sees it.
  void LoseTheServer() {
    socket.GoAway();
    bool ready = true;
    EXPECT_EQ(client.WaitData(100, &ready), kGone);
    EXPECT_FALSE(ready);
  }
  // The engine's view while the server is away: a look at CTS every 100 ms.
  void WatchCtsFor(uint64_t ms) {
    const uint64_t until = socket.now + ms;
    while (socket.now < until) {
      EXPECT_FALSE(Cts()) << "at " << socket.now;
      socket.now += 100;
    }
  }

  ScriptedSocket socket;
  Url url;
  Client client;
};

TEST_F(NetClientTest, ServerAwayFor5Or30SecondsHealsWithPacedAttemptsAndEverySettingAgain) {
  for (uint64_t away : {5000u, 30000u}) {
    LoseTheServer();
    socket.attempts.clear();
    const uint64_t lost = socket.now;
    WatchCtsFor(away);
    // At most one attempt a second, and one at least every second or so.
    ASSERT_GE(socket.attempts.size(), away / 1000 - 1);
    ASSERT_LE(socket.attempts.size(), away / 1000 + 1);
    for (size_t i = 1; i < socket.attempts.size(); ++i) {
      EXPECT_GE(socket.attempts[i] - socket.attempts[i - 1], kReconnectPaceMs);
    }
    socket.up = true;
    while (!Cts()) {
      socket.now += 100;
      ASSERT_LE(socket.now - lost, away + kReconnectPaceMs + 100) << "did not heal";
    }
    // The restarted server is back at its defaults: it gets 115200 8E1,
    // DTR and RTS on, and a purge, as the session had them.
    EXPECT_EQ(socket.commands, kSessionSetup);
  }
}

TEST_F(NetClientTest, ReconnectionWhoseSettingsAreRefusedOrUnansweredStaysDown) {
  for (int refusal = 0; refusal < 2; ++refusal) {
    LoseTheServer();
    socket.up = true;
    socket.baudAnswer = refusal == 0 ? 9600 : -1;
    socket.acks = refusal == 0;
    const uint64_t start = socket.now;
    EXPECT_FALSE(Cts()) << "settings not acknowledged must not bring CTS back";
    EXPECT_LE(socket.now - start, kReconnectMs) << "one attempt is bounded";
    socket.baudAnswer = -1;
    socket.acks = true;
    socket.now += kReconnectPaceMs;
    EXPECT_TRUE(Cts());
  }
}

TEST_F(NetClientTest, LineSettingsAnsweredWithAnotherValueOrNotAtAllFailInTime) {
  socket.baudAnswer = 9600;
  EXPECT_EQ(client.SetLine(k8E1), kBadValue);
  socket.baudAnswer = -1;
  socket.acks = false;
  const uint64_t start = socket.now;
  EXPECT_EQ(client.SetLine(k8E1), kTimedOut);
  EXPECT_EQ(socket.now - start, kAckMs);
}

TEST_F(NetClientTest, SixtyFourKilobytesBeforeTheAcknowledgementNeitherSpinsNorHideIt) {
  socket.dataBeforeAck = 65536;
  socket.receives = 0;
  const uint64_t start = socket.now;
  EXPECT_EQ(client.SetLine(k8E1), 0u);
  EXPECT_EQ(socket.now, start) << "the acknowledgement was there all along";
  // Each receive takes a full buffer: no empty turns while the data waits.
  EXPECT_LE(socket.receives, 65536u / 2048 + 4);
}

TEST_F(NetClientTest, EndlessDataAfterARequestDropsTheConnectionAfterTheBudget) {
  socket.streamAfterData = true;
  const uint8_t request[] = "{12;LeTexto;;18}";
  client.Write(request, sizeof request - 1);
  size_t taken = 0;
  uint32_t code = 0;
  for (;;) {
    bool ready = false;
    code = client.WaitData(5000, &ready);
    if (code != 0) break;
    uint8_t b[1];
    uint32_t got = 0;
    code = client.Take(b, 1, &got);
    if (code != 0) break;
    taken += got;
    ASSERT_LE(taken, kDataPerRequest + 1);
  }
  EXPECT_EQ(code, kGone);
  EXPECT_EQ(taken, kDataPerRequest);
}

// Replies the server does not take are dropped, not waited for; a server
// that reads nothing has gone once a request stalls.
TEST_F(NetClientTest, OptionRepliesAServerDoesNotReadAreDroppedAndAStalledWriteLosesIt) {
  socket.reads = false;
  for (uint8_t option = 90; option < 100; ++option) socket.Push({kIac, kDo, option});
  const uint64_t start = socket.now;
  bool ready = true;
  EXPECT_EQ(client.WaitData(5000, &ready), 0u);
  EXPECT_FALSE(ready);
  EXPECT_EQ(socket.now - start, 5000u) << "replies that can't be sent are dropped";
  const uint8_t request[] = "{12;LeTexto;;18}";
  EXPECT_EQ(client.Write(request, sizeof request - 1), 0u);
  EXPECT_EQ(socket.now - start, 5000u + kSendStallMs);
  EXPECT_EQ(client.WaitData(5000, &ready), kGone) << "a peer that reads nothing has gone";
  EXPECT_EQ(socket.now - start, 5000u + kSendStallMs);
}

TEST_F(NetClientTest, AFloodOfOptionCommandsDropsTheConnectionAtOnce) {
  Bytes flood;
  for (int i = 0; i < 20000; ++i) flood.insert(flood.end(), {kIac, kDo, 99});
  socket.Push(flood);
  const uint64_t start = socket.now;
  bool ready = true;
  EXPECT_EQ(client.WaitData(5000, &ready), kGone);
  EXPECT_EQ(socket.now, start) << "the read must not wait out its time-out";
}

}  // namespace
}  // namespace tarvo::net
