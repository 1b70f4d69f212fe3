// The emulator's network serial port; see port_server.h.
#include "emulator/port_server.h"

#include <sstream>

#include "common/numbers.h"

namespace tarvo::emu {

using namespace rfc2217;

namespace {

constexpr const char* kSettingNames[kSettingCount] = {"baud", "datasize", "parity", "stopsize"};

std::string OptionBytes(uint8_t verb, uint8_t option) {
  uint8_t bytes[3];
  const size_t n = EncodeOption(verb, option, bytes, sizeof bytes);
  return std::string(reinterpret_cast<const char*>(bytes), n);
}

std::string ComPortBytes(uint8_t command, const uint8_t* value, size_t length) {
  uint8_t bytes[32];
  const size_t n = EncodeComPort(command, value, length, bytes, sizeof bytes);
  return std::string(reinterpret_cast<const char*>(bytes), n);
}

// The value of a setting command: 4 bytes big-endian for the rate, one
// byte for the others.
uint32_t SettingValue(const Event& e) {
  uint32_t v = 0;
  for (size_t i = 0; i < e.length; ++i) v = (v << 8) | e.value[i];
  return v;
}

bool AcceptedOption(uint8_t option) {
  return option == kOptionBinary || option == kOptionSuppressGoAhead || option == kOptionComPort;
}

}  // namespace

bool ApplyNetFaultCommand(std::string_view line, NetFaults* f, bool* known, std::string* error) {
  std::istringstream in{std::string(line)};
  std::string word, a, b, extra;
  in >> word >> a >> b >> extra;
  *known = true;
  if ((word == "cts" || word == "mute") && (a == "on" || a == "off") && b.empty()) {
    (word == "cts" ? f->ctsOff : f->mute) = (word == "cts") == (a == "off");
    return true;
  }
  if (word == "drop" && a.empty()) {
    ++f->drops;
    return true;
  }
  if (word == "refuse") {
    for (int s = 0; s < kSettingCount; ++s) {
      if (a != kSettingNames[s] || b.empty() || !extra.empty()) continue;
      NetFaults::Refusal r;
      long long v = 0;
      r.active = b != "off";
      r.never = b == "never";
      if (r.active && !r.never && !tools::ParseInteger(b, 0, 0xFFFFFFFFLL, &v)) break;
      r.value = static_cast<uint32_t>(v);
      f->refuse[s] = r;
      return true;
    }
    *error = "usage: refuse baud|datasize|parity|stopsize VALUE|never|off";
    return false;
  }
  if (word == "cts" || word == "mute" || word == "drop") {
    *error = "usage: cts on|off, mute on|off, drop";
    return false;
  }
  *known = false;
  return false;
}

std::string DescribeNetFaults(const NetFaults& f) {
  std::ostringstream out;
  out << "cts " << (f.ctsOff ? "off" : "on") << ", mute " << (f.mute ? "on" : "off");
  for (int s = 0; s < kSettingCount; ++s) {
    const auto& r = f.refuse[s];
    if (!r.active) continue;
    out << ", refuse " << kSettingNames[s] << " ";
    if (r.never) {
      out << "never";
    } else {
      out << r.value;
    }
  }
  return out.str();
}

std::string PortServer::Greeting() {
  willSent_[kOptionBinary] = willSent_[kOptionSuppressGoAhead] = true;
  doSent_[kOptionBinary] = doSent_[kOptionSuppressGoAhead] = doSent_[kOptionComPort] = true;
  return OptionBytes(kWill, kOptionBinary) + OptionBytes(kDo, kOptionBinary) +
         OptionBytes(kWill, kOptionSuppressGoAhead) + OptionBytes(kDo, kOptionSuppressGoAhead) +
         OptionBytes(kDo, kOptionComPort);
}

PortServer::Outcome PortServer::Receive(std::string_view bytes) {
  Outcome out;
  for (char c : bytes) {
    const Event e = parser_.Feed(static_cast<uint8_t>(c));
    switch (e.kind) {
      case Event::Data: out.data.push_back(static_cast<char>(e.byte)); break;
      case Event::Will:
      case Event::Wont:
      case Event::Do:
      case Event::Dont: Option(e, &out); break;
      case Event::ComPort: ComPort(e, &out); break;
      default: break;
    }
  }
  return out;
}

// Each option is answered once: an answer to an option already agreed
// would start a negotiation loop with a client that answers answers.
void PortServer::Option(const Event& e, Outcome* out) {
  const uint8_t o = e.option;
  const bool accepted = AcceptedOption(o);
  if (e.kind == Event::Will) {
    if (!accepted) {
      out->reply += OptionBytes(kDont, o);
    } else if (!doSent_[o]) {
      doSent_[o] = true;
      out->reply += OptionBytes(kDo, o);
    }
    if (o == kOptionComPort && !comPortAgreed_) {
      comPortAgreed_ = true;
      out->reply += ModemChange();
    }
  } else if (e.kind == Event::Do) {
    // The server offers BINARY and SUPPRESS-GO-AHEAD; the Com Port option
    // is the client's to offer, and ECHO and the rest are refused.
    if (o != kOptionBinary && o != kOptionSuppressGoAhead) {
      out->reply += OptionBytes(kWont, o);
    } else if (!willSent_[o]) {
      willSent_[o] = true;
      out->reply += OptionBytes(kWill, o);
    }
  } else if (e.kind == Event::Wont && o == kOptionComPort) {
    comPortAgreed_ = false;
  }
}

void PortServer::ComPort(const Event& e, Outcome* out) {
  const uint8_t c = e.command;
  if (c >= kSetBaudRate && c <= kSetStopSize) {
    Acknowledge(static_cast<Setting>(c - kSetBaudRate), e, out);
    return;
  }
  const uint8_t v = e.length > 0 ? e.value[0] : 0;
  out->log += "   net: command " + std::to_string(c) + " value " + std::to_string(v) + "\n";
  if (c == kSetModemStateMask) {
    modemMask_ = v;
    out->reply += ComPortBytes(c + kServerOffset, &v, 1);
    reportedCts_ = -1;
    out->reply += ModemChange();
  } else if (c == kSetControl || c == kPurgeData || c == 10) {
    // SET-CONTROL (flow control, BREAK, DTR, RTS) and SET-LINESTATE-MASK
    // (10) are taken as asked; a pseudo-terminal line has nothing to set.
    out->reply += ComPortBytes(c + kServerOffset, &v, 1);
    out->purgeReceive = c == kPurgeData && (v == 1 || v == 3);
    out->purgeTransmit = c == kPurgeData && (v == 2 || v == 3);
  }
}

// Value 0 asks for the setting in force; any other sets it. A refusal
// acknowledges another value, or nothing.
void PortServer::Acknowledge(Setting s, const Event& e, Outcome* out) {
  const uint32_t asked = SettingValue(e);
  const NetFaults::Refusal& r = faults_->refuse[s];
  out->log += "   net: set " + std::string(kSettingNames[s]) + " " + std::to_string(asked);
  if (asked != 0 && r.active) {
    out->log += r.never ? " (refused: no acknowledgement)\n" : " (refused)\n";
    if (r.never) return;
  } else {
    out->log += "\n";
    if (asked != 0) settings_[s] = asked;
  }
  const uint32_t v = asked != 0 && r.active ? r.value : settings_[s];
  const uint8_t bytes[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                            static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  if (s == kBaud) {
    out->reply += ComPortBytes(kSetBaudRate + kServerOffset, bytes, 4);
  } else {
    out->reply +=
        ComPortBytes(static_cast<uint8_t>(kSetBaudRate + s + kServerOffset), bytes + 3, 1);
  }
}

std::string PortServer::ModemState(uint8_t changed) {
  const uint8_t state = (faults_->ctsOff ? 0 : kModemCts) | kModemDsr | 0x80;
  const uint8_t v = static_cast<uint8_t>((state | changed) & modemMask_);
  return ComPortBytes(kNotifyModemState + kServerOffset, &v, 1);
}

std::string PortServer::ModemChange() {
  const int cts = faults_->ctsOff ? 0 : 1;
  if (!comPortAgreed_ || cts == reportedCts_) return "";
  // The low bit says that CTS changed; the first report says it too.
  reportedCts_ = cts;
  return ModemState(0x01);
}

std::string PortServer::Escape(std::string_view data) {
  std::string out;
  out.reserve(data.size());
  for (char c : data) {
    out.push_back(c);
    if (static_cast<uint8_t>(c) == kIac) out.push_back(c);
  }
  return out;
}

}  // namespace tarvo::emu
