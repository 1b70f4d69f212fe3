// The Telnet and Com Port Control (RFC 2217) wire format of a network
// serial port: a byte-at-a-time parser of what the server sends, the
// encoders of what the client sends, and the port's URL. Pure functions and
// a plain state machine over fixed buffers: no system call, no allocation,
// shared by every platform and fuzzed (fuzz/fuzz_rfc2217.cpp).
//
// On the wire, 0xFF (IAC) starts a command; a data byte 0xFF travels
// doubled, both ways and inside a subnegotiation too. IAC SB 44 <cmd>
// <value...> IAC SE carries one Com Port command; the server answers a
// client command with the code plus 100 and the value in force.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo::rfc2217 {

constexpr uint8_t kIac = 255;
constexpr uint8_t kDont = 254;
constexpr uint8_t kDo = 253;
constexpr uint8_t kWont = 252;
constexpr uint8_t kWill = 251;
constexpr uint8_t kSb = 250;
constexpr uint8_t kSe = 240;

constexpr uint8_t kOptionBinary = 0;
constexpr uint8_t kOptionSuppressGoAhead = 3;
constexpr uint8_t kOptionComPort = 44;

// Client-to-server Com Port commands; the server's answer is the code + 100.
constexpr uint8_t kSetBaudRate = 1;
constexpr uint8_t kSetDataSize = 2;
constexpr uint8_t kSetParity = 3;
constexpr uint8_t kSetStopSize = 4;
constexpr uint8_t kSetControl = 5;
constexpr uint8_t kNotifyModemState = 7;
constexpr uint8_t kSetModemStateMask = 11;
constexpr uint8_t kPurgeData = 12;
constexpr uint8_t kServerOffset = 100;

// SET-CONTROL values used by the driver.
constexpr uint8_t kControlBreakOn = 5;
constexpr uint8_t kControlBreakOff = 6;
constexpr uint8_t kControlDtrOn = 8;
constexpr uint8_t kControlDtrOff = 9;
constexpr uint8_t kControlRtsOn = 11;
constexpr uint8_t kControlRtsOff = 12;

constexpr uint8_t kPurgeBoth = 3;

// NOTIFY-MODEMSTATE bits (the same as the Win32 modem status bits).
constexpr uint8_t kModemCts = 0x10;
constexpr uint8_t kModemDsr = 0x20;

// The longest Com Port value kept; a longer one is cut and marked.
constexpr size_t kMaxValue = 8;

// What one byte from the server amounts to.
struct Event {
  enum Kind : uint8_t {
    None,  // the byte belongs to a sequence not yet complete
    Data,  // `byte` is a data byte for the device's reader
    Will,  // the server's WILL/WONT/DO/DONT `option`
    Wont,
    Do,
    Dont,
    ComPort,  // a complete Com Port subnegotiation: `command`, `value`
    Command,  // any other Telnet command (NOP, GA, ...), or another option's
              // subnegotiation, which the client ignores
  };
  Kind kind = None;
  uint8_t byte = 0;     // Data
  uint8_t option = 0;   // Will, Wont, Do, Dont
  uint8_t command = 0;  // ComPort
  uint8_t length = 0;   // ComPort: bytes of value (at most kMaxValue)
  bool truncated = false;
  uint8_t value[kMaxValue] = {};
};

// The server-to-client parser. Its state carries over from one read to the
// next, so a command may begin at the end of one read and end in the next.
class Parser {
 public:
  Event Feed(uint8_t byte);
  void Reset() { *this = Parser(); }

 private:
  enum class State : uint8_t {
    Data,
    Iac,
    Verb,
    SbOption,
    SbCommand,
    SbValue,
    SbIac,
    SbOther,
    SbOtherIac
  };
  // One function per group of states, so that each stays short.
  Event FeedCommand(uint8_t byte);
  Event FeedComPort(uint8_t byte);
  Event FeedOther(uint8_t byte);
  Event Value(uint8_t byte);

  State state_ = State::Data;
  uint8_t verb_ = 0;
  Event sb_;
};

// Each encoder writes into out[room] and returns the bytes written, or 0
// when they do not fit (nothing is then sent).

// IAC verb option.
size_t EncodeOption(uint8_t verb, uint8_t option, uint8_t* out, size_t room);
// IAC SB 44 command value... IAC SE, with 0xFF in the value doubled.
size_t EncodeComPort(uint8_t command, const uint8_t* value, size_t length, uint8_t* out,
                     size_t room);
// A 32-bit value big-endian, as SET-BAUDRATE carries it.
size_t EncodeComPort32(uint8_t command, uint32_t value, uint8_t* out, size_t room);
// Data bytes with each 0xFF doubled. Stops before a byte that would not fit
// whole; *consumed receives the input bytes taken.
size_t EscapeData(const uint8_t* data, size_t count, uint8_t* out, size_t room, size_t* consumed);

// ---- The port's name ------------------------------------------------------

// rfc2217://HOST:PORT[?OPTION[&OPTION...]]
//   HOST    a name or dotted address of letters, digits, '.', '-' and '_',
//           or an IPv6 address in brackets; at most kMaxHost characters.
//   PORT    1 to 65535, decimal.
//   OPTION  "ignorects": the server's modem state is not used, CTS reads
//           on (ser2net on a pseudo-terminal reports CTS off).
// The scheme is matched without regard to case. Anything else is malformed.
constexpr const char* kScheme = "rfc2217://";
constexpr size_t kMaxHost = 63;

struct Url {
  char host[kMaxHost + 1] = {};
  uint16_t port = 0;
  bool ignoreCts = false;
};

// Whether the name has the scheme at all (a name that has it is a network
// port, well-formed or not).
bool HasScheme(const char* name);
// False for a malformed name; `url` is then unspecified.
bool ParseUrl(const char* name, Url* url);

}  // namespace tarvo::rfc2217
