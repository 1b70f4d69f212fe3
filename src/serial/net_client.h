// The client side of a network serial port (Telnet with the Com Port
// Control option, RFC 2217), written once for every platform over a tiny
// socket interface. The platform gives it a NetSocket (POSIX sockets,
// Winsock); the client does the negotiation, the line settings with their
// acknowledgements, the control lines, the modem state, purging, the
// escaping of data, and the healing of a lost connection.
//
// Timing, every bound fixed here:
//   - opening: name resolution and connecting within kConnectMs, then the
//     negotiation within kNegotiateMs: 6 s in all;
//   - line settings: acknowledged within kAckMs;
//   - sending: a peer that takes no byte for kSendStallMs has gone;
//   - option replies are sent only when the socket takes them at once, and
//     dropped otherwise;
//   - reads wait exactly as long as their caller asks, per byte, as on a
//     terminal; after more than kDataPerRequest data bytes read since the
//     last write, the peer is no printer and the connection is dropped.
//
// Healing: a connection that is lost (reset, ended, stalled, flooding)
// first fails the read that notices it, as a terminal unplugged does; from
// then on the port reads as a cable with CTS down, and each look at the
// modem state may try one reconnection, at most one every kReconnectPaceMs,
// each within kReconnectMs (resolution, connection, negotiation, the line
// settings last acknowledged, DTR and RTS as last set, a purge). The
// exchange engine's own CTS hold then brings the session back.
//
// Allocation: none. Every buffer is a member of the client, and the
// clients live in a fixed table of the system layer. The platform's socket
// may use the system resolver (which allocates) when it connects, and only
// then.
//
// Threads: one thread at a time per client, like SerialPort.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/rfc2217.h"
#include "serial/system.h"

namespace tarvo::net {

// Why an operation failed, in words the platform turns into its own code.
enum class Failure {
  TimedOut,      // no name, connection, negotiation or acknowledgement in time
  NotSupported,  // the server refuses the Com Port option
  BadValue,      // a setting acknowledged with another value, or not valid
  Gone,          // the connection was reset, ended or stalled
};

// What the client needs of the platform. Every operation returns 0 on
// success or the platform's code.
class NetSocket {
 public:
  // Resolves `host` (the only place the system resolver may be used) and
  // connects, the two together within timeoutMs; sets TCP_NODELAY and
  // keepalive.
  virtual uint32_t Connect(const char* host, uint16_t port, uint32_t timeoutMs) = 0;
  // Sends what the peer takes, waiting at most stallMs (0: not at all) for
  // room while it takes nothing: 0 with *sent (below count after such a
  // stall), or the code of a failed connection.
  virtual uint32_t Send(const uint8_t* data, size_t count, uint32_t stallMs, size_t* sent) = 0;
  // Waits at most timeoutMs (0: not at all) for bytes and takes what is
  // there, up to room. *got 0 means nothing came in time. The end of the
  // connection is Code(Failure::Gone).
  virtual uint32_t Receive(uint8_t* buffer, size_t room, size_t* got, uint32_t timeoutMs) = 0;
  virtual void Close() = 0;
  // A monotonic clock in milliseconds.
  virtual uint64_t NowMs() = 0;
  virtual uint32_t Code(Failure failure) = 0;

 protected:
  ~NetSocket() = default;
};

constexpr uint32_t kConnectMs = 3000;
constexpr uint32_t kNegotiateMs = 3000;
constexpr uint32_t kAckMs = 2000;
// A silent printer on a terminal ends its exchange Timeout + 4015 ms after
// the request; over the network a stall of this long, then the recovery's
// failed reads (2860 ms), stays within that.
constexpr uint32_t kSendStallMs = 1000;
constexpr uint32_t kReconnectPaceMs = 1000;
constexpr uint32_t kReconnectConnectMs = 1000;
constexpr uint32_t kReconnectMs = 2000;
constexpr size_t kDataPerRequest = 12288;  // three answers of the largest size
// Option commands (WILL, WONT, DO, DONT) one connection may bring: a server
// sends a handful; one that sends more floods, and is dropped.
constexpr uint32_t kMaxOptionCommands = 64;

// Line settings in the protocol's own values.
enum class Parity : uint8_t { None = 1, Odd = 2, Even = 3, Mark = 4, Space = 5 };
enum class StopBits : uint8_t { One = 1, Two = 2, OneAndAHalf = 3 };
struct LineSettings {
  uint32_t baudRate = 0;
  uint8_t dataBits = 8;
  Parity parity = Parity::None;
  StopBits stopBits = StopBits::One;
};
// The settings a Win32-style DCB asks for; false when one is not valid.
bool SettingsFromDcb(const sys::Dcb& dcb, LineSettings* settings);

class Client {
 public:
  // Connects and negotiates. Nothing is sent before the server has shown
  // that it speaks Telnet (a plain TCP port receives no byte at all), and
  // the client is usable only once the server has agreed to the Com Port
  // option and answered one query. Everything the server sent before that
  // answer (a banner, "Port already in use") is discarded.
  uint32_t Open(NetSocket* socket, const rfc2217::Url& url);
  void Close();
  bool IsOpen() const { return socket_ != nullptr; }

  // SET-BAUDRATE, SET-DATASIZE, SET-PARITY and SET-STOPSIZE, each to be
  // acknowledged with the value asked for within kAckMs. Settings
  // acknowledged are the ones a reconnection sends again.
  uint32_t SetLine(const LineSettings& settings);
  // An escape function as SET-CONTROL. The reply is not awaited: it is
  // taken whenever it comes, and a missing or odd one is no failure
  // (ser2net sends none for DTR and RTS on a device without modem lines,
  // and answers BREAK off with the value of BREAK on).
  uint32_t Escape(sys::Escape code);
  // PURGE-DATA for both directions; drops the data received before the
  // server's acknowledgement (awaited for at most kAckMs).
  uint32_t Purge();
  // The modem status bits (CTS 0x10, DSR 0x20, ...) as the server last
  // reported them; CTS and DSR on while it never did, or when the URL says
  // "ignorects". A loss not yet reported by a read keeps the last state;
  // after it, none (CTS down), and a reconnection may be tried first.
  uint32_t ModemStatus(uint32_t* status);
  // Escapes and sends data bytes. Always 0: after the connection was lost
  // the bytes are dropped and the next read reports the loss.
  uint32_t Write(const uint8_t* data, uint32_t count);
  // Copies up to count data bytes already received; never waits.
  uint32_t Take(uint8_t* buffer, uint32_t count, uint32_t* got);
  bool HasData() const { return head_ != tail_; }
  // Waits at most timeoutMs for a data byte: 0 with *ready telling whether
  // one is there, or the code of a failed or lost connection.
  uint32_t WaitData(uint32_t timeoutMs, bool* ready);

 private:
  struct Expected {
    uint8_t command;
    uint8_t length;
    uint8_t value[4];
    bool anyValue;
    bool answered;
    bool matched;
  };
  // What one connection has agreed; a reconnection starts it afresh.
  struct Telnet {
    rfc2217::Parser parser;
    bool seen = false;
    bool comPortAgreed = false;
    bool comPortRefused = false;
    bool modemKnown = false;
    uint8_t modemState = 0;
    // What the client has said of the options it accepts (BINARY, SGA and
    // the Com Port option), so that it never answers its own agreement.
    bool sentWill[3] = {};
    bool sentDo[3] = {};
    uint32_t optionCommands = 0;
    Expected expected[4] = {};
    size_t expectedCount = 0;
  };
  enum class Link : uint8_t { Up, Lost, Down };

  uint32_t Connect(uint32_t connectMs, uint64_t negotiateDeadline);
  uint32_t Negotiate(uint64_t deadline);
  uint32_t Pump(uint32_t timeoutMs);
  template <typename Done>
  uint32_t WaitFor(Done done, uint64_t deadline);
  void Handle(const rfc2217::Event& e);
  void HandleOption(const rfc2217::Event& e);
  void HandleComPort(const rfc2217::Event& e);
  uint32_t SendRaw(const uint8_t* bytes, size_t count);
  void SendReply(uint8_t verb, uint8_t option);
  uint32_t Control(uint8_t value);
  void Expect(uint8_t command, const uint8_t* value, uint8_t length, bool anyValue);
  uint32_t AwaitAnswers(uint64_t deadline);
  uint32_t SendLine(const LineSettings& settings, uint64_t deadline);
  void DropData() { head_ = tail_ = 0; }
  // Healing (net_heal.cpp).
  void MarkLost(uint32_t code);
  void DropFlood(const char* what, size_t limit);
  void Heal();
  uint32_t Reconnect(uint64_t start);

  NetSocket* socket_ = nullptr;
  rfc2217::Url url_;
  Telnet telnet_;
  Link link_ = Link::Up;
  uint32_t lost_ = 0;  // the code of a failed or ended connection
  bool keepData_ = false;
  LineSettings line_;
  bool lineSet_ = false;
  uint8_t dtr_ = 0;  // the last SET-CONTROL value for DTR, 0 before any
  uint8_t rts_ = 0;  // and for RTS
  uint64_t nextAttemptMs_ = 0;
  size_t dataTaken_ = 0;  // data bytes read since the last write
  size_t head_ = 0;
  size_t tail_ = 0;
  uint8_t data_[8192] = {};
  uint8_t raw_[2048] = {};
  uint8_t tx_[2048] = {};
};

}  // namespace tarvo::net
