// The network device against a fake RFC 2217 server inside the test
// process: a thread on a loopback port (port 0, read back), playing a
// server that misbehaves in one way per test. The driver's results, codes
// and trace lines are checked, as the host would see them.
//
// Some tests wait in real time on purpose: the client's bounds on
// negotiation (3 s) and acknowledgement (2 s), and the engine's BREAK
// recovery (about 3 s) are what they prove.
#ifdef _WIN32
// Winsock's headers come before anything that includes windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/driver_state.h"
#include "serial/rfc2217.h"
#include "serial/serial_port.h"
#ifndef _WIN32
#include "serial/posix/resolver.h"
#endif
#include "support/frames.h"
#include "support/fresh_state.h"
#include "support/temp_dir.h"
#include "tarvo.h"

namespace tarvo {
namespace {

using namespace rfc2217;
using Bytes = std::vector<uint8_t>;

// The same server on both platforms; the codes the driver reports are each
// platform's own.
#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
constexpr int kSendFlags = 0;
int CloseSocket(Socket s) { return closesocket(s); }
int PollSocket(Socket s, int ms) {
  WSAPOLLFD p{s, POLLRDNORM, 0};
  return WSAPoll(&p, 1, ms);
}
bool Writable(Socket s, int ms) {
  WSAPOLLFD p{s, POLLWRNORM, 0};
  return WSAPoll(&p, 1, ms) > 0;
}
constexpr uint32_t kTimedOut = WSAETIMEDOUT;
constexpr uint32_t kNotSupported = WSAEPROTONOSUPPORT;
constexpr uint32_t kBadValue = ERROR_INVALID_PARAMETER;
constexpr uint32_t kGone = WSAECONNRESET;
struct Winsock {
  Winsock() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
} winsock;
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
constexpr int kSendFlags = MSG_NOSIGNAL;
int CloseSocket(Socket s) { return close(s); }
int PollSocket(Socket s, int ms) {
  pollfd p{s, POLLIN, 0};
  return poll(&p, 1, ms);
}
bool Writable(Socket s, int ms) {
  pollfd p{s, POLLOUT, 0};
  return poll(&p, 1, ms) > 0;
}
constexpr uint32_t kTimedOut = ETIMEDOUT;
constexpr uint32_t kNotSupported = EPROTONOSUPPORT;
constexpr uint32_t kBadValue = EINVAL;
constexpr uint32_t kGone = ECONNRESET;
#endif

// One accepted connection, seen from the server.
class Conn {
 public:
  explicit Conn(Socket fd) : fd_(fd) {}
  ~Conn() { Close(); }
  void Send(const Bytes& b) {
    (void)!send(fd_, reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size()),
                kSendFlags);
  }
  void Send(const std::string& s) { Send(Bytes(s.begin(), s.end())); }
  // Sends what the socket takes within 50 ms: the bytes sent (0 when it
  // took none), or -1 once the client has gone.
  int SendSome(const Bytes& b) {
    if (!Writable(fd_, 50)) return 0;
    const int n = static_cast<int>(
        send(fd_, reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size()), kSendFlags));
    return n < 0 ? -1 : n;
  }
  void Close() {
    if (fd_ != kNoSocket) CloseSocket(fd_);
    fd_ = kNoSocket;
  }
  // Ends the connection with a reset instead of an orderly close.
  void Reset() {
    linger l{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    Close();
  }
  // The next event from the client within ms: 1 with *e set, 0 when none
  // came in time, -1 once the client has closed.
  int Next(Event* e, int ms) {
    for (;;) {
      while (pos_ < buf_.size()) {
        const uint8_t b = buf_[pos_++];
        all_.push_back(b);
        *e = parser_.Feed(b);
        if (e->kind != Event::None) return 1;
      }
      buf_.clear();
      pos_ = 0;
      if (PollSocket(fd_, ms) <= 0) return 0;
      char chunk[512];
      const int n = static_cast<int>(recv(fd_, chunk, sizeof chunk, 0));
      if (n <= 0) return -1;
      buf_.assign(chunk, chunk + n);
    }
  }
  const Bytes& Received() const { return all_; }

 private:
  Socket fd_;
  Parser parser_;
  Bytes buf_, all_;
  size_t pos_ = 0;
};

// What a well-behaved server sends first, as ser2net does.
const Bytes kGreeting = {kIac,  kWill, 3,     kIac,  kDo,  3,    kIac,
                         kWill, 1,     kIac,  kDont, 1,    kIac, kDo,
                         0,     kIac,  kWill, 0,     kIac, kDo,  kOptionComPort};

Bytes ComPort(uint8_t command, Bytes value) {
  uint8_t out[32];
  return Bytes(out, out + EncodeComPort(command, value.data(), value.size(), out, sizeof out));
}

// How the fake server departs from a good one.
struct Behaviour {
  bool silent = false;             // accepts and says nothing
  bool refuseComPort = false;      // answers WILL 44 with DONT 44
  std::string banner;              // data before the negotiation
  int baudAnswer = -1;             // answers SET-BAUDRATE with this instead
  int lateAckMs = 0;               // answers the settings only after this long
  int cts = -1;                    // NOTIFY-MODEMSTATE after the negotiation
  bool resetMidFrame = false;      // sends half an answer, then a reset
  bool resetAfterSetup = false;    // resets the first connection once DTR is raised
  bool notifyFirst = false;        // a modem-state notice, then the answer 100 ms later
  int greetDelayMs = 0;            // waits this long before it speaks
  bool noiseAfterRequest = false;  // answers a request with endless bytes and no '{'
  bool floodNeverRead = false;     // answers a request with IAC DO 99 without end, reading nothing
};

Behaviour With(void (*set)(Behaviour&)) {
  Behaviour b;
  set(b);
  return b;
}

class FakeServer {
 public:
  // On a free port, or on `port` (a server back where it was).
  explicit FakeServer(Behaviour b, uint16_t port = 0) : b_(b) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listener_, 4);
    socklen_t len = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    // No reallocation while the test reads what earlier connections left.
    received.reserve(16);
    settings.reserve(16);
    thread_ = std::thread([this] { Run(); });
  }
  ~FakeServer() {
    stop_ = true;
    thread_.join();
    CloseSocket(listener_);
  }
  std::string Url(const std::string& options = "") const {
    return "rfc2217://127.0.0.1:" + std::to_string(port_) + options;
  }
  int Connections() const { return connections_; }
  uint16_t Port() const { return port_; }
  // Bytes the client sent on connection n, and the settings it asked for.
  std::vector<Bytes> received;
  std::vector<std::vector<std::string>> settings;
  std::atomic<int> ctsLater{-1};  // a NOTIFY-MODEMSTATE to send while serving

 private:
  void Run() {
    while (!stop_) {
      if (PollSocket(listener_, 50) <= 0) continue;
      Conn c(accept(listener_, nullptr, nullptr));
      const int n = connections_;
      received.emplace_back();
      settings.emplace_back();
      Serve(c, n);
      received[n] = c.Received();
      ++connections_;
    }
  }

  void Serve(Conn& c, int n) {
    Event e;
    if (b_.silent) {
      while (!stop_ && c.Next(&e, 50) >= 0) {
      }
      return;
    }
    if (b_.greetDelayMs > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(b_.greetDelayMs));
    c.Send(b_.banner);
    // A server without the Com Port option does not offer it.
    c.Send(b_.refuseComPort ? Bytes(kGreeting.begin(), kGreeting.end() - 3) : kGreeting);
    while (!stop_) {
      const int got = c.Next(&e, 50);
      if (got < 0) return;
      if (got == 0) {
        if (ctsLater >= 0) {
          c.Send(ComPort(kNotifyModemState + kServerOffset, {static_cast<uint8_t>(ctsLater)}));
          ctsLater = -1;
        }
        continue;
      }
      if (e.kind == Event::Will && e.option == kOptionComPort) {
        if (b_.refuseComPort) {
          c.Send(Bytes{kIac, kDont, kOptionComPort});
          continue;
        }
        if (b_.cts >= 0) c.Send(ComPort(kNotifyModemState + kServerOffset, {uint8_t(b_.cts)}));
      }
      if (e.kind == Event::ComPort && b_.resetAfterSetup && !resetDone_ &&
          e.command == kSetControl && e.length == 1 && e.value[0] == kControlDtrOn) {
        resetDone_ = true;
        c.Reset();
        return;
      }
      if (e.kind == Event::ComPort) Answer(c, e, n);
      if (e.kind == Event::Data && e.byte == '}') {
        if (!AnswerFrame(c)) return;
      }
      if (e.kind == Event::Data && e.byte != '}') request_ += static_cast<char>(e.byte);
    }
  }

  void Answer(Conn& c, const Event& e, int n) {
    Bytes value(e.value, e.value + e.length);
    if (e.command >= kSetBaudRate && e.command <= kSetStopSize) {
      std::string s = std::to_string(e.command) + ":";
      for (uint8_t v : value) s += std::to_string(v) + ".";
      settings[n].push_back(s);
      bool isQuery = true;
      for (uint8_t v : value) isQuery = isQuery && v == 0;
      if (!isQuery && b_.lateAckMs > 0 && !lateDone_) {
        lateDone_ = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(b_.lateAckMs));
      }
      if (e.command == kSetBaudRate && b_.baudAnswer >= 0 && !isQuery) {
        const uint32_t r = static_cast<uint32_t>(b_.baudAnswer);
        value = {uint8_t(r >> 24), uint8_t(r >> 16), uint8_t(r >> 8), uint8_t(r)};
      }
    }
    if (e.command == kSetControl || e.command == kPurgeData || e.command <= kSetStopSize) {
      c.Send(ComPort(static_cast<uint8_t>(e.command + kServerOffset), value));
    }
  }

  // Until the client goes: IAC DO 99 as fast as the socket takes it, and
  // not one byte read (the client's replies pile up unread).
  void Flood(Conn& c) {
    Bytes flood;
    for (int i = 0; i < 4096; ++i) flood.insert(flood.end(), {kIac, kDo, 99});
    while (!stop_ && c.SendSome(flood) >= 0) {
    }
  }

  // Answers the request received so far; false once the connection is
  // reset on purpose.
  bool AnswerFrame(Conn& c) {
    if (b_.floodNeverRead) {
      Flood(c);
      return false;
    }
    if (b_.noiseAfterRequest) {
      const Bytes noise(4096, 'x');
      while (!stop_ && c.SendSome(noise) >= 0) {
      }
      return false;
    }
    const size_t open = request_.rfind('{');
    const int id = open == std::string::npos ? 0 : std::atoi(request_.c_str() + open + 1);
    request_.clear();
    const std::string frame = test::AnswerFrame(id, "0", "ValorTexto=\"NET0000001\"");
    if (b_.resetMidFrame && !resetDone_) {
      resetDone_ = true;
      c.Send(frame.substr(0, frame.size() / 2));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      c.Reset();
      return false;
    }
    if (b_.notifyFirst) {
      c.Send(ComPort(kNotifyModemState + kServerOffset, {kModemCts | kModemDsr}));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    c.Send(frame);
    return true;
  }

  Behaviour b_;
  Socket listener_ = kNoSocket;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::string request_;
  bool resetDone_ = false;
  bool lateDone_ = false;
};

class NetFakeServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FreshState();
    test::StartTrace(1);
  }
  void TearDown() override {
    EncerraDriver(1);
    test::FreshState();
  }
  static bool HasLine(const std::string& line) {
    for (const auto& l : test::TraceLines("test.txt")) {
      if (l == line) return true;
    }
    return false;
  }
  static int CountPrefix(const std::string& prefix) {
    int n = 0;
    for (const auto& l : test::TraceLines("test.txt")) n += l.rfind(prefix, 0) == 0;
    return n;
  }
  std::string Value() {
    char value[TARVO_VALUE_SIZE] = {};
    Retorno(1, 0, "ValorTexto", 0, value, 0);
    return value;
  }
  std::string Circumstance() {
    char text[TARVO_CIRCUMSTANCE_SIZE] = {};
    ObtemCircunstancia(1, text, 0);
    return text;
  }
  test::TempDir dir;
};

TEST_F(NetFakeServerTest, SilentServerFailsTheOpenInBoundedTimeAndGetsNoByte) {
  FakeServer server(With([](Behaviour& b) { b.silent = true; }));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(IniciaDriver(server.Url().c_str()), -11);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_TRUE(
      HasLine("IniciaDriver2900 Erro [" + std::to_string(kTimedOut) + "] na inicializacao da COM"));
  EncerraDriver(1);
  while (server.Connections() < 1) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(server.received[0].empty()) << "a plain TCP port must receive nothing";
}

TEST_F(NetFakeServerTest, RefusedComPortOptionFailsTheOpen) {
  FakeServer server(With([](Behaviour& b) { b.refuseComPort = true; }));
  EXPECT_EQ(IniciaDriver(server.Url().c_str()), -11);
  EXPECT_TRUE(HasLine("IniciaDriver2900 Erro [" + std::to_string(kNotSupported) +
                      "] na inicializacao da COM"));
}

TEST_F(NetFakeServerTest, SettingsAnsweredWithAnotherValueOrLateFailConfigure) {
  {
    FakeServer server(With([](Behaviour& b) { b.baudAnswer = 9600; }));
    SerialPort& port = driverState.port;
    ASSERT_EQ(port.Open(server.Url().c_str(), 8192, 8192, 1), 0u);
    EXPECT_EQ(port.Configure(38400, 8, 2, 0), kBadValue);
    EXPECT_EQ(port.lastError, kBadValue);
    port.Close();
  }
  {
    FakeServer server(With([](Behaviour& b) { b.lateAckMs = 2500; }));
    SerialPort& port = driverState.port;
    ASSERT_EQ(port.Open(server.Url().c_str(), 8192, 8192, 1), 0u);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Configure(38400, 8, 2, 0), kTimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2400));
    port.Close();
  }
}

TEST_F(NetFakeServerTest, BannerBeforeTheNegotiationNeverReachesTheEngine) {
  FakeServer server({.banner = "Welcome {to} the port\r\n"});
  ASSERT_EQ(IniciaDriver(server.Url().c_str()), 1);
  ASSERT_EQ(ExecutaComando(1, "LeTexto"), 1);
  EXPECT_EQ(Value(), "NET0000001");
  EXPECT_EQ(CountPrefix("EnviaComando2900 Descartando"), 0);
  // The session's settings were asked for and acknowledged.
  ASSERT_FALSE(server.settings.empty());
  EXPECT_EQ(server.settings[0],
            (std::vector<std::string>{"1:0.0.0.0.", "1:0.1.194.0.", "2:8.", "3:3.", "4:1."}));
}

TEST_F(NetFakeServerTest, ResetMidFrameFailsTheExchangeAndTheReopenSendsEverySettingAgain) {
  FakeServer server(With([](Behaviour& b) { b.resetMidFrame = true; }));
  ASSERT_EQ(IniciaDriver(server.Url().c_str()), 1);
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), -1);
  EXPECT_EQ(ObtemCodErro(1), 11010);
  EXPECT_EQ(Circumstance(), "Erro de Recepcao");
  EXPECT_EQ(CountPrefix("EnviaComando2900 retRead=" + std::to_string(kGone)), 1);
  // The engine's re-open connected again and sent 115200 8E1 again.
  ASSERT_EQ(ExecutaComando(1, "LeTexto"), 1);
  EXPECT_EQ(Value(), "NET0000001");
  EncerraDriver(1);
  while (server.Connections() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_GE(server.settings.size(), 2u);
  EXPECT_EQ(server.settings[1],
            (std::vector<std::string>{"1:0.0.0.0.", "1:0.1.194.0.", "2:8.", "3:3.", "4:1."}));
}

TEST_F(NetFakeServerTest, ConnectionLostBetweenCommandsIsAReceptionFailureThatReconnects) {
  FakeServer server(With([](Behaviour& b) { b.resetAfterSetup = true; }));
  ASSERT_EQ(IniciaDriver(server.Url().c_str()), 1);
  // The request goes nowhere; the read reports the loss, so the engine
  // opens the port again instead of failing the write for ever.
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), -1);
  EXPECT_EQ(Circumstance(), "Erro de Recepcao");
  EXPECT_EQ(CountPrefix("EnviaComando2900 retWrite"), 0);
  ASSERT_EQ(ExecutaComando(1, "LeTexto"), 1);
  EXPECT_EQ(Value(), "NET0000001");
}

TEST_F(NetFakeServerTest, ATelnetCommandBeforeTheAnswerIsNoByteAndNoSilence) {
  FakeServer server(With([](Behaviour& b) { b.notifyFirst = true; }));
  ASSERT_EQ(IniciaDriver(server.Url().c_str()), 1);
  // The read waits for a data byte: the notice alone must not end it as
  // an empty read, which the engine would take for a silent printer.
  ASSERT_EQ(ExecutaComando(1, "LeTexto"), 1);
  EXPECT_EQ(Value(), "NET0000001");
  EXPECT_EQ(CountPrefix("EnviaComando2900 BRK-"), 0);
}

TEST_F(NetFakeServerTest, CtsOffFromTheServerStopsTheExchangeUntilItComesBack) {
  FakeServer server(With([](Behaviour& b) { b.cts = 0; }));
  ASSERT_EQ(IniciaDriver(server.Url().c_str()), 1);
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), -1);
  EXPECT_EQ(Circumstance(), "Sem sinal de CTS");
  EXPECT_TRUE(HasLine("EnviaComando2900 CTS_1 OUT"));
  server.ctsLater = kModemCts | kModemDsr;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!driverState.port.IsCtsOn() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(driverState.port.IsCtsOn());
}

TEST_F(NetFakeServerTest, IgnoreCtsOptionKeepsCtsOnWhateverTheServerSays) {
  FakeServer server(With([](Behaviour& b) { b.cts = 0; }));
  ASSERT_EQ(IniciaDriver(server.Url("?ignorects").c_str()), 1);
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), 1);
  EXPECT_EQ(Value(), "NET0000001");
}

TEST_F(NetFakeServerTest, MalformedOrOverlongUrlIsABadChannel) {
  EXPECT_EQ(IniciaDriver("rfc2217://127.0.0.1:"), -11);
  EXPECT_EQ(IniciaDriver("rfc2217://a-very-long-host-name.example:7801"), -11);
  EXPECT_EQ(CountPrefix("IniciaDriver2900 Erro[canal]"), 2);
  EXPECT_EQ(CountPrefix("IniciaDriver2900 COM"), 0) << "the URL must not be read as COM2";
}

TEST_F(NetFakeServerTest, AnotherRateAcknowledgedFailsIniciaDriverAndClosesThePort) {
  FakeServer server(With([](Behaviour& b) { b.baudAnswer = 9600; }));
  EXPECT_EQ(IniciaDriver(server.Url().c_str()), -11);
  EXPECT_TRUE(
      HasLine("IniciaDriver2900 Erro [" + std::to_string(kBadValue) + "] na inicializacao da COM"));
  EXPECT_FALSE(driverState.port.IsOpen());
}

// More failed opens than the device table and the network ports have
// slots, then one that succeeds: no failure keeps a slot.
TEST_F(NetFakeServerTest, FailedOpensBeyondEverySlotLeaveEverySlotFree) {
  FakeServer refusing(With([](Behaviour& b) { b.refuseComPort = true; }));
  for (int i = 0; i < 10; ++i) ASSERT_EQ(IniciaDriver(refusing.Url().c_str()), -11) << i;
  FakeServer good({});
  EXPECT_EQ(IniciaDriver(good.Url().c_str()), 1);
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), 1);
}

// Two opens at once, each still negotiating while the other starts: each
// gets a slot and a client of its own.
TEST_F(NetFakeServerTest, TwoOpensAtOnceNeverShareASlotOrAClient) {
  FakeServer a(With([](Behaviour& x) { x.greetDelayMs = 300; }));
  FakeServer b(With([](Behaviour& x) { x.greetDelayMs = 300; }));
  SerialPort portA, portB;
  uint32_t codeA = 99, codeB = 99;
  std::thread other([&] { codeB = portB.Open(b.Url().c_str(), 8192, 8192, 1); });
  codeA = portA.Open(a.Url().c_str(), 8192, 8192, 1);
  other.join();
  ASSERT_EQ(codeA, 0u);
  ASSERT_EQ(codeB, 0u);
  EXPECT_NE(portA.device, portB.device);
  EXPECT_EQ(portA.Configure(38400, 8, 2, 0), 0u);
  EXPECT_EQ(portB.Configure(57600, 8, 2, 0), 0u);
  portA.Close();
  portB.Close();
  while (a.Connections() < 1 || b.Connections() < 1) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(a.settings[0][1], "1:0.0.150.0.");
  EXPECT_EQ(b.settings[0][1], "1:0.0.225.0.");
}

// A DNS server that takes every query and answers none, in the test (the
// resolver's server can be redirected on POSIX only).
#ifndef _WIN32
TEST_F(NetFakeServerTest, ANameThatNeverResolvesFailsTheOpenWithinTheConnectBound) {
  const int dns = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(dns, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  getsockname(dns, reinterpret_cast<sockaddr*>(&a), &len);
  sys::posix::SetNameServerForTests(&a);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(IniciaDriver("rfc2217://printer-box.lan:7000"), -11);
  const auto took = std::chrono::steady_clock::now() - start;
  sys::posix::SetNameServerForTests(nullptr);
  EXPECT_GE(took, std::chrono::milliseconds(2900));
  EXPECT_LT(took, std::chrono::milliseconds(3900)) << "resolution is bounded with the connect";
  EXPECT_TRUE(
      HasLine("IniciaDriver2900 Erro [" + std::to_string(kTimedOut) + "] na inicializacao da COM"));
  char query[512];
  EXPECT_GT(recv(dns, query, sizeof query, MSG_DONTWAIT), 0)
      << "the query reached the test's server";
  close(dns);
}
#endif

// The terminal's worst case for one exchange: the per-byte time-out, then
// the BREAK recovery (9015 ms on the simulated line).
constexpr auto kTerminalWorstCase = std::chrono::milliseconds(9015);
// The recovery's 31 real sleeps may each overrun a little on a busy machine.
constexpr auto kSleepSlack = std::chrono::milliseconds(500);

TEST_F(NetFakeServerTest, EndlessBytesWithoutAFrameEndTheExchangeWithinTheTerminalsWorstCase) {
  FakeServer server(With([](Behaviour& b) { b.noiseAfterRequest = true; }));
  ASSERT_EQ(IniciaDriver(server.Url().c_str()), 1);
  test::StartTrace(0);  // the discarded bytes are not what this test reads
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, kTerminalWorstCase + kSleepSlack);
  EXPECT_EQ(Circumstance(), "Erro de Recepcao");
}

TEST_F(NetFakeServerTest, AServerThatFloodsOptionsAndNeverReadsHoldsNoExchange) {
  FakeServer server(With([](Behaviour& b) { b.floodNeverRead = true; }));
  ASSERT_EQ(IniciaDriver(server.Url().c_str()), 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, kTerminalWorstCase + kSleepSlack);
  EXPECT_EQ(Circumstance(), "Erro de Recepcao");
}

// The server goes away and comes back on its port: the port reads as CTS
// down meanwhile, tries again at most once a second, and heals with every
// setting sent again, without any call but the host's commands.
TEST_F(NetFakeServerTest, ServerAwayThenBackHealsThePortWithoutANewSession) {
  auto server = std::make_unique<FakeServer>(Behaviour{});
  const uint16_t tcpPort = server->Port();
  const std::string url = server->Url();
  ASSERT_EQ(IniciaDriver(url.c_str()), 1);
  ASSERT_EQ(ExecutaComando(1, "LeTexto"), 1);
  server.reset();
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), -1);
  EXPECT_EQ(Circumstance(), "Erro de Recepcao");
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), -1);
  EXPECT_EQ(Circumstance(), "Sem sinal de CTS");
  const std::string where = "127.0.0.1:" + std::to_string(tcpPort);
  EXPECT_EQ(CountPrefix("PortaRede2900 Conexao com " + where + " perdida ["), 1);
  EXPECT_GE(CountPrefix("PortaRede2900 Reconexao a " + where + " falhou ["), 1);
  EXPECT_EQ(CountPrefix("EnviaComando2900 CTS_1 OUT"), 1);
  server = std::make_unique<FakeServer>(Behaviour{}, tcpPort);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!driverState.port.IsCtsOn() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(driverState.port.IsCtsOn());
  EXPECT_TRUE(HasLine("PortaRede2900 Reconectado a " + where));
  EncerraDriver(1);
  while (server->Connections() < 1) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(server->settings[0],
            (std::vector<std::string>{"1:0.0.0.0.", "1:0.1.194.0.", "2:8.", "3:3.", "4:1."}));
}

}  // namespace
}  // namespace tarvo
