// The client side of a network serial port (Telnet with the Com Port
// Control option, RFC 2217), written once for every platform over a tiny
// socket interface. The platform gives it a NetSocket (POSIX sockets,
// Winsock); the client does the negotiation, the line settings with their
// acknowledgements, the control lines, the modem state, purging and the
// escaping of data.
//
// Timing: connecting is bounded by kConnectMs, the whole negotiation by
// kNegotiateMs, the acknowledgement of the line settings by kAckMs. Reads
// wait exactly as long as their caller asks, per byte, as on a terminal.
//
// Allocation: none. Every buffer is a member of the client, and the
// clients live in a fixed table of the system layer. The platform's socket
// may use the system resolver (which allocates) when a port is opened, and
// only then.
//
// Threads: one thread at a time per client, like SerialPort.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/rfc2217.h"

namespace tarvo::net {

// Why an operation failed, in words the platform turns into its own code.
enum class Failure {
  TimedOut,      // no connection, negotiation or acknowledgement in time
  NotSupported,  // the server refuses the Com Port option
  BadValue,      // a setting acknowledged with another value, or not valid
  Gone,          // the connection was reset or ended
};

// What the client needs of the platform. Every operation returns 0 on
// success or the platform's code.
class NetSocket {
 public:
  // Resolves `host` (the only place the system resolver may be used) and
  // connects, all within timeoutMs; sets TCP_NODELAY and keepalive.
  virtual uint32_t Connect(const char* host, uint16_t port, uint32_t timeoutMs) = 0;
  // Sends every byte, or fails.
  virtual uint32_t Send(const uint8_t* data, size_t count) = 0;
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
  // acknowledged with the value asked for within kAckMs. Parity and stop
  // bits are in the Win32 DCB's codes.
  uint32_t SetLine(uint32_t baudRate, uint8_t byteSize, uint8_t parity, uint8_t stopBits);
  // SET-CONTROL. The reply is not awaited: it is taken whenever it comes,
  // and a missing or odd one is no failure (ser2net sends none for DTR and
  // RTS on a device without modem lines, and answers BREAK off with the
  // value of BREAK on).
  uint32_t Control(uint8_t value);
  // PURGE-DATA for both directions, and drops the data already received.
  uint32_t Purge();
  // The modem status bits (CTS 0x10, DSR 0x20, ...) as the server last
  // reported them; CTS and DSR on while it never did, or when the URL says
  // "ignorects". A lost connection keeps the last state: it shows in the
  // next read.
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

  uint32_t Negotiate(uint64_t deadline);
  uint32_t Pump(uint32_t timeoutMs);
  template <typename Done>
  uint32_t WaitFor(Done done, uint64_t deadline);
  void Handle(const rfc2217::Event& e);
  void HandleOption(const rfc2217::Event& e);
  void HandleComPort(const rfc2217::Event& e);
  uint32_t SendRaw(const uint8_t* bytes, size_t count);
  void SendOption(uint8_t verb, uint8_t option);
  void Expect(uint8_t command, const uint8_t* value, uint8_t length, bool anyValue);
  uint32_t AwaitAnswers(uint64_t deadline);
  void DropData() { head_ = tail_ = 0; }

  NetSocket* socket_ = nullptr;
  rfc2217::Parser parser_;
  uint32_t lost_ = 0;  // the code of a failed or ended connection; sticky
  bool keepData_ = false;
  bool telnetSeen_ = false;
  bool comPortAgreed_ = false;
  bool comPortRefused_ = false;
  bool ignoreCts_ = false;
  bool modemKnown_ = false;
  uint8_t modemState_ = 0;
  // What the client has said of the options it accepts (BINARY, SGA and
  // the Com Port option), so that it never answers its own agreement again.
  bool sentWill_[3] = {};
  bool sentDo_[3] = {};
  Expected expected_[4] = {};
  size_t expectedCount_ = 0;
  size_t head_ = 0;
  size_t tail_ = 0;
  uint8_t data_[8192] = {};
  uint8_t raw_[2048] = {};
  uint8_t tx_[2048] = {};
};

}  // namespace tarvo::net
