// The emulator's end of a network serial port (Telnet with the Com Port
// Control option, RFC 2217): what a client sends is split into data bytes
// for the printer and Telnet commands that the server answers; the
// printer's bytes are escaped for the wire. It reads with the driver's own
// parser (serial/rfc2217.h). No I/O: bytes in, bytes out.
//
// The server behaves as ser2net does where a driver can tell: it speaks
// first (WILL/DO BINARY, WILL/DO SUPPRESS-GO-AHEAD, DO COM-PORT), agrees
// to those options only, acknowledges every line setting with code + 100
// and the value in force, and reports the modem state (CTS, DSR, CD) with
// NOTIFY-MODEMSTATE once the Com Port option is agreed and whenever it
// changes. Faults change that on command (NetFaults).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "serial/rfc2217.h"

namespace tarvo::emu {

// The line settings a client can set, in the order of their command codes
// SET-BAUDRATE (1) to SET-STOPSIZE (4).
enum Setting { kBaud, kDataSize, kParity, kStopSize, kSettingCount };

// Network faults, armed by the control lines of ApplyNetFaultCommand.
struct NetFaults {
  // A refused setting: acknowledged with `value` instead of the one asked
  // for, or (never) not acknowledged at all.
  struct Refusal {
    bool active = false;
    bool never = false;
    uint32_t value = 0;
  };
  Refusal refuse[kSettingCount];
  bool ctsOff = false;  // the modem state reports CTS off
  bool mute = false;    // nothing at all goes out: no Telnet, no answer
  int drops = 0;        // connections to drop at once (the loop counts them down)
};

// Reads a network fault line: "cts on|off", "drop", "mute on|off",
// "refuse baud|datasize|parity|stopsize VALUE|never|off". *known is false
// for a line that is not a network fault (it may be the printer's); false
// with a message for a bad one.
bool ApplyNetFaultCommand(std::string_view line, NetFaults* faults, bool* known,
                          std::string* error);
std::string DescribeNetFaults(const NetFaults& faults);

class PortServer {
 public:
  struct Outcome {
    std::string data;   // bytes for the printer
    std::string reply;  // bytes for the client, already on the wire's terms
    std::string log;    // one line per Com Port command, for the operator
    bool purgeReceive = false;
    bool purgeTransmit = false;
  };

  explicit PortServer(const NetFaults* faults) : faults_(faults) {}

  // What the server says when a client connects.
  std::string Greeting();
  // Bytes from the client.
  Outcome Receive(std::string_view bytes);
  // The modem state when it differs from the one last reported to a client
  // that agreed to the Com Port option (empty otherwise).
  std::string ModemChange();
  // The printer's bytes with every 0xFF doubled.
  static std::string Escape(std::string_view data);

  uint32_t Value(Setting s) const { return settings_[s]; }

 private:
  void Option(const rfc2217::Event& e, Outcome* out);
  void ComPort(const rfc2217::Event& e, Outcome* out);
  void Acknowledge(Setting s, const rfc2217::Event& e, Outcome* out);
  std::string ModemState(uint8_t changed);

  const NetFaults* faults_;
  rfc2217::Parser parser_;
  bool comPortAgreed_ = false;
  bool willSent_[4] = {};  // by option: BINARY 0, SUPPRESS-GO-AHEAD 3
  bool doSent_[45] = {};
  uint8_t modemMask_ = 0xFF;
  int reportedCts_ = -1;  // -1: never reported
  // What a pseudo-terminal would start with: 115200 baud, 8 bits, even
  // parity, 1 stop bit.
  uint32_t settings_[kSettingCount] = {115200, 8, 3, 1};
};

}  // namespace tarvo::emu
