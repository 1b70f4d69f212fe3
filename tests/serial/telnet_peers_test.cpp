// The network port's client against Telnet peers that differ from the
// well-behaved server: one that says WONT, one that answers every DO again,
// acknowledgements of the wrong length, and data that races a purge. The
// peer is played in the test process over a socket of its own, on a clock
// of its own, so every byte arrives exactly when the test says.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "serial/net_client.h"
#include "serial/rfc2217.h"

namespace tarvo::net {
namespace {

using namespace rfc2217;
using Bytes = std::vector<uint8_t>;

Bytes ComPort(uint8_t command, const Bytes& value) {
  uint8_t out[32];
  return Bytes(out, out + EncodeComPort(command, value.data(), value.size(), out, sizeof out));
}

// A peer. Its bytes are queued with the time they arrive at the client;
// what the client sends is parsed and answered at once (the answer
// arriving `latencyMs` later).
class Peer final : public NetSocket {
 public:
  struct Options {
    explicit Options(Bytes g, bool answerEvery = true)
        : greeting(std::move(g)), answerEveryOption(answerEvery) {}
    Bytes greeting;                 // sent on connect, unasked
    bool answerEveryOption = true;  // DO -> WILL, WILL -> DO, every time
    Bytes extraAck;                 // appended to SET-DATASIZE's acknowledgement
    bool shortBaudAck = false;      // SET-BAUDRATE acknowledged without its last byte
    uint32_t latencyMs = 1;
  };
  explicit Peer(Options o) : o_(std::move(o)) {}
  explicit Peer(const Bytes& greeting) : Peer(Options(greeting)) {}

  uint32_t Connect(const char*, uint16_t, uint32_t) override {
    Queue(o_.greeting, now_);
    return 0;
  }
  uint32_t Send(const uint8_t* data, size_t count, uint32_t, size_t* sent) override {
    for (size_t i = 0; i < count; ++i) React(parser_.Feed(data[i]));
    *sent = count;
    return 0;
  }
  uint32_t Receive(uint8_t* buffer, size_t room, size_t* got, uint32_t timeoutMs) override {
    *got = 0;
    if (inbox_.empty() || inbox_.front().at > now_ + timeoutMs) {
      now_ += timeoutMs;
      return 0;
    }
    if (inbox_.front().at > now_) now_ = inbox_.front().at;
    while (*got < room && !inbox_.empty() && inbox_.front().at <= now_) {
      buffer[(*got)++] = inbox_.front().byte;
      inbox_.pop_front();
    }
    return 0;
  }
  void Close() override {}
  uint64_t NowMs() override { return now_; }
  uint32_t Code(Failure f) override { return 100 + static_cast<uint32_t>(f); }

  // Bytes that reach the client at the time `at`.
  void Queue(const Bytes& b, uint64_t at) {
    for (uint8_t byte : b) inbox_.push_back({at, byte});
  }
  uint64_t Now() const { return now_; }
  // How often the client said verb about option.
  int Said(uint8_t verb, uint8_t option) const {
    int n = 0;
    for (const auto& [v, o] : said_) n += v == verb && o == option;
    return n;
  }
  // The last value asked for by each Com Port command.
  std::map<uint8_t, Bytes> asked;
  // Data bytes the peer will send the moment the client's purge request
  // is on its way, arriving before the peer's acknowledgement.
  Bytes racingPurge;

 private:
  struct Timed {
    uint64_t at;
    uint8_t byte;
  };
  void React(const Event& e) {
    const uint64_t at = now_ + o_.latencyMs;
    if (e.kind == Event::Will || e.kind == Event::Do) {
      said_.emplace_back(e.kind == Event::Will ? kWill : kDo, e.option);
      // A peer that re-acknowledges: it answers every request, agreed
      // before or not, up to a bound that keeps a looping client finite.
      if (o_.answerEveryOption && answers_++ < 200) {
        Queue({kIac, e.kind == Event::Will ? kDo : kWill, e.option}, at);
      }
      return;
    }
    if (e.kind != Event::ComPort) return;
    Bytes value(e.value, e.value + e.length);
    asked[e.command] = value;
    if (e.command == kSetBaudRate && o_.shortBaudAck && value != Bytes{0, 0, 0, 0}) {
      value.pop_back();
    }
    if (e.command == kSetDataSize)
      value.insert(value.end(), o_.extraAck.begin(), o_.extraAck.end());
    if (e.command == kPurgeData) Queue(racingPurge, at);
    Queue(ComPort(static_cast<uint8_t>(e.command + kServerOffset), value), at + 1);
  }

  Options o_;
  Parser parser_;
  std::deque<Timed> inbox_;
  std::vector<std::pair<uint8_t, uint8_t>> said_;
  uint64_t now_ = 1000;
  int answers_ = 0;
};

// What ser2net sends on connect.
const Bytes kGreeting = {kIac,  kWill, 3,     kIac,  kDo,  3,    kIac,
                         kWill, 1,     kIac,  kDont, 1,    kIac, kDo,
                         0,     kIac,  kWill, 0,     kIac, kDo,  kOptionComPort};

Url Address() {
  Url url;
  ParseUrl("rfc2217://peer:2217", &url);
  return url;
}

// The line settings in the Win32 DCB's codes (parity 0..4, stop bits 0..2),
// as the device asks the client for them.
uint32_t SetLine(Client& client, uint32_t baudRate, uint8_t byteSize, uint8_t parity,
                 uint8_t stopBits) {
  sys::Dcb dcb{};
  dcb.baudRate = baudRate;
  dcb.byteSize = byteSize;
  dcb.parity = parity;
  dcb.stopBits = stopBits;
  LineSettings settings;
  if (!SettingsFromDcb(dcb, &settings)) return 0xBAD;
  return client.SetLine(settings);
}

std::string Drain(Client& client, Peer& peer, uint32_t ms) {
  std::string got;
  const uint64_t until = peer.Now() + ms;
  while (peer.Now() < until) {
    bool ready = false;
    if (client.WaitData(static_cast<uint32_t>(until - peer.Now()), &ready) != 0) break;
    uint8_t b[64];
    uint32_t n = 0;
    client.Take(b, sizeof b, &n);
    got.append(reinterpret_cast<char*>(b), n);
  }
  return got;
}

// A peer that answers every DO with WILL and every WILL with DO, agreed or
// not: a client that answered each of them again would never stop.
TEST(TelnetPeers, ReacknowledgingPeerGetsEachOptionAgreedOnce) {
  Peer peer(kGreeting);
  static Client client;
  ASSERT_EQ(client.Open(&peer, Address()), 0u);
  Drain(client, peer, 500);
  for (uint8_t option : {kOptionBinary, kOptionSuppressGoAhead}) {
    EXPECT_EQ(peer.Said(kDo, option), 1) << int(option);
    EXPECT_EQ(peer.Said(kWill, option), 1) << int(option);
  }
  EXPECT_EQ(peer.Said(kWill, kOptionComPort), 1);
  client.Close();
}

// WONT is the peer's refusal of an option on its own side: a server that
// will not itself act as a Com Port client (WONT 44), nor suppress go-ahead,
// still serves the port.
TEST(TelnetPeers, PeerSayingWontForItselfStillServesThePort) {
  Peer peer(Peer::Options(
      {kIac, kWont, kOptionComPort, kIac, kWont, kOptionSuppressGoAhead, kIac, kDo, kOptionComPort},
      false));
  static Client client;
  EXPECT_EQ(client.Open(&peer, Address()), 0u);
  client.Close();
}

// An acknowledgement must carry the value asked for, whole: one cut short
// or padded with a byte more is another value, even when its first bytes
// match.
TEST(TelnetPeers, AcknowledgementOfTheWrongLengthFailsTheSettings) {
  {
    Peer peer(kGreeting);
    static Client client;
    ASSERT_EQ(client.Open(&peer, Address()), 0u);
    EXPECT_EQ(SetLine(client, 115200, 8, 2, 0), 0u);  // the well-behaved answer
    client.Close();
  }
  {
    Peer::Options o(kGreeting);
    o.shortBaudAck = true;  // 00 01 C2 for 00 01 C2 00
    Peer peer(o);
    static Client client;
    ASSERT_EQ(client.Open(&peer, Address()), 0u);
    EXPECT_EQ(SetLine(client, 115200, 8, 2, 0), peer.Code(Failure::BadValue));
    client.Close();
  }
  {
    Peer::Options o(kGreeting);
    o.extraAck = {0};  // 08 00 for 08
    Peer peer(o);
    static Client client;
    ASSERT_EQ(client.Open(&peer, Address()), 0u);
    EXPECT_EQ(SetLine(client, 115200, 8, 2, 0), peer.Code(Failure::BadValue));
    client.Close();
  }
}

// The Win32-style parity (0 none, 1 odd, 2 even, 3 mark, 4 space) and stop
// bits (0 one, 1 one and a half, 2 two) reach the server in the wire's own
// codes, which a peer that acknowledges whatever it is asked can't check.
TEST(TelnetPeers, EveryParityAndStopSizeReachesThePeerInTheWiresCodes) {
  Peer peer(kGreeting);
  static Client client;
  ASSERT_EQ(client.Open(&peer, Address()), 0u);
  const uint8_t wireStop[] = {1, 3, 2};
  for (uint8_t parity = 0; parity <= 4; ++parity) {
    for (uint8_t stop = 0; stop <= 2; ++stop) {
      ASSERT_EQ(SetLine(client, 9600, 7, parity, stop), 0u);
      EXPECT_EQ(peer.asked[kSetParity], Bytes{static_cast<uint8_t>(parity + 1)});
      EXPECT_EQ(peer.asked[kSetStopSize], Bytes{wireStop[stop]});
      EXPECT_EQ(peer.asked[kSetDataSize], Bytes{7});
      EXPECT_EQ(peer.asked[kSetBaudRate], (Bytes{0, 0, 0x25, 0x80}));
    }
  }
  client.Close();
}

// Data the device held when the purge was asked for is gone after it, also
// the bytes still on their way (they come before the purge's
// acknowledgement); data sent after the purge is kept.
TEST(TelnetPeers, DataArrivingJustBeforeThePurgeIsGoneAfterIt) {
  Peer peer(kGreeting);
  static Client client;
  ASSERT_EQ(client.Open(&peer, Address()), 0u);
  peer.Queue({'{', 'o', 'l', 'd'}, peer.Now());  // already there, not yet read
  peer.racingPurge = {'}', 's', 't', 'a', 'l', 'e'};
  EXPECT_EQ(client.Purge(), 0u);
  peer.Queue({'n', 'e', 'w'}, peer.Now() + 5);
  EXPECT_EQ(Drain(client, peer, 50), "new");
  client.Close();
}

}  // namespace
}  // namespace tarvo::net
