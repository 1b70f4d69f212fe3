// The Telnet and Com Port Control wire format; see rfc2217.h.
#include "serial/rfc2217.h"

#include <cstring>

namespace tarvo::rfc2217 {

namespace {

Event Make(Event::Kind kind) {
  Event e;
  e.kind = kind;
  return e;
}

Event DataByte(uint8_t byte) {
  Event e = Make(Event::Data);
  e.byte = byte;
  return e;
}

Event::Kind VerbKind(uint8_t verb) {
  switch (verb) {
    case kWill: return Event::Will;
    case kWont: return Event::Wont;
    case kDo: return Event::Do;
    default: return Event::Dont;
  }
}

}  // namespace

Event Parser::Feed(uint8_t byte) {
  switch (state_) {
    case State::Data:
      if (byte == kIac) {
        state_ = State::Iac;
        return Event{};
      }
      return DataByte(byte);
    case State::Iac:
    case State::Verb: return FeedCommand(byte);
    case State::SbOption:
    case State::SbCommand:
    case State::SbValue:
    case State::SbIac: return FeedComPort(byte);
    case State::SbOther:
    case State::SbOtherIac: return FeedOther(byte);
  }
  return Event{};
}

// The byte after an IAC, and the option of a WILL, WONT, DO or DONT.
Event Parser::FeedCommand(uint8_t byte) {
  if (state_ == State::Verb) {
    state_ = State::Data;
    Event e = Make(VerbKind(verb_));
    e.option = byte;
    return e;
  }
  if (byte == kIac) {
    state_ = State::Data;
    return DataByte(kIac);
  }
  if (byte >= kWill && byte <= kDont) {
    verb_ = byte;
    state_ = State::Verb;
    return Event{};
  }
  if (byte == kSb) {
    state_ = State::SbOption;
    return Event{};
  }
  state_ = State::Data;
  return Make(Event::Command);
}

// A subnegotiation: its option, and the Com Port option's command and value.
Event Parser::FeedComPort(uint8_t byte) {
  switch (state_) {
    case State::SbOption:
      // An option other than the Com Port option: its bytes are skipped up
      // to its IAC SE.
      state_ = byte == kOptionComPort ? State::SbCommand : State::SbOther;
      return Event{};
    case State::SbCommand:
      // IAC here is an empty subnegotiation, or an IAC IAC command code;
      // either way the next byte decides.
      sb_ = Make(Event::ComPort);
      sb_.command = byte == kIac ? 0 : byte;
      state_ = byte == kIac ? State::SbIac : State::SbValue;
      return Event{};
    case State::SbValue:
      if (byte == kIac) {
        state_ = State::SbIac;
        return Event{};
      }
      return Value(byte);
    default: break;
  }
  if (byte == kSe) {
    state_ = State::Data;
    return sb_;
  }
  if (byte != kIac) {
    // IAC followed by anything but IAC or SE inside a subnegotiation: the
    // subnegotiation is broken off, and the byte is read as the command
    // that follows the IAC.
    state_ = State::Iac;
    return FeedCommand(byte);
  }
  state_ = State::SbValue;
  return Value(byte);
}

// Another option's subnegotiation, skipped up to its IAC SE.
Event Parser::FeedOther(uint8_t byte) {
  if (state_ == State::SbOther) {
    if (byte == kIac) state_ = State::SbOtherIac;
    return Event{};
  }
  if (byte == kSe) {
    state_ = State::Data;
    return Make(Event::Command);
  }
  if (byte == kIac) {
    state_ = State::SbOther;
    return Event{};
  }
  state_ = State::Iac;
  return FeedCommand(byte);
}

// A value byte of the Com Port subnegotiation (0xFF arrives here undoubled).
Event Parser::Value(uint8_t byte) {
  if (sb_.length < kMaxValue) {
    sb_.value[sb_.length++] = byte;
  } else {
    sb_.truncated = true;
  }
  return Event{};
}

size_t EncodeOption(uint8_t verb, uint8_t option, uint8_t* out, size_t room) {
  if (room < 3) return 0;
  out[0] = kIac;
  out[1] = verb;
  out[2] = option;
  return 3;
}

size_t EncodeComPort(uint8_t command, const uint8_t* value, size_t length, uint8_t* out,
                     size_t room) {
  size_t n = 0;
  auto put = [&](uint8_t b) {
    if (n < room) out[n] = b;
    ++n;
  };
  put(kIac);
  put(kSb);
  put(kOptionComPort);
  put(command);
  if (command == kIac) put(kIac);
  for (size_t i = 0; i < length; ++i) {
    put(value[i]);
    if (value[i] == kIac) put(kIac);
  }
  put(kIac);
  put(kSe);
  return n <= room ? n : 0;
}

size_t EncodeComPort32(uint8_t command, uint32_t value, uint8_t* out, size_t room) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  return EncodeComPort(command, bytes, sizeof bytes, out, room);
}

size_t EscapeData(const uint8_t* data, size_t count, uint8_t* out, size_t room, size_t* consumed) {
  size_t n = 0;
  size_t i = 0;
  for (; i < count; ++i) {
    const size_t need = data[i] == kIac ? 2 : 1;
    if (n + need > room) break;
    out[n++] = data[i];
    if (data[i] == kIac) out[n++] = kIac;
  }
  *consumed = i;
  return n;
}

// ---- The port's name ------------------------------------------------------

namespace {

bool HostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

bool Ipv6Char(char c) {
  return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' ||
         c == '.';
}

// HOST at *p; advances *p past it.
bool ParseHost(const char** p, Url* url) {
  const char* s = *p;
  size_t n = 0;
  if (*s == '[') {
    ++s;
    while (s[n] != '\0' && s[n] != ']') {
      if (!Ipv6Char(s[n])) return false;
      ++n;
    }
    if (s[n] != ']') return false;
    *p = s + n + 1;
  } else {
    while (HostChar(s[n])) ++n;
    *p = s + n;
  }
  if (n == 0 || n > kMaxHost) return false;
  std::memcpy(url->host, s, n);
  url->host[n] = '\0';
  return true;
}

bool ParsePort(const char** p, Url* url) {
  const char* s = *p;
  uint32_t port = 0;
  size_t digits = 0;
  while (s[digits] >= '0' && s[digits] <= '9') {
    port = port * 10 + static_cast<uint32_t>(s[digits] - '0');
    if (++digits > 5) return false;
  }
  if (digits == 0 || port == 0 || port > 65535) return false;
  url->port = static_cast<uint16_t>(port);
  *p = s + digits;
  return true;
}

bool ParseOptions(const char* s, Url* url) {
  while (*s != '\0') {
    const char* end = std::strchr(s, '&');
    const size_t n = end ? static_cast<size_t>(end - s) : std::strlen(s);
    if (n == 9 && std::strncmp(s, "ignorects", 9) == 0) {
      url->ignoreCts = true;
    } else {
      return false;
    }
    if (end == nullptr) break;
    s = end + 1;
    if (*s == '\0') return false;
  }
  return true;
}

}  // namespace

bool HasScheme(const char* name) {
  for (size_t i = 0; kScheme[i] != '\0'; ++i) {
    const char c = name[i];
    if (c == '\0') return false;
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    if (lower != kScheme[i]) return false;
  }
  return true;
}

bool ParseUrl(const char* name, Url* url) {
  *url = Url{};
  if (!HasScheme(name)) return false;
  const char* p = name + std::strlen(kScheme);
  if (!ParseHost(&p, url) || *p++ != ':' || !ParsePort(&p, url)) return false;
  if (*p == '\0') return true;
  if (*p != '?' || p[1] == '\0') return false;
  return ParseOptions(p + 1, url);
}

}  // namespace tarvo::rfc2217
