// The network serial port's client; see net_client.h. The healing of a
// lost connection is in net_heal.cpp.
#include "serial/net_client.h"

#include <cstring>

namespace tarvo::net {

using namespace rfc2217;

namespace {

// The options the client accepts, as indexes into sentWill/sentDo.
int OptionSlot(uint8_t option) {
  switch (option) {
    case kOptionBinary: return 0;
    case kOptionSuppressGoAhead: return 1;
    case kOptionComPort: return 2;
    default: return -1;
  }
}

}  // namespace

bool SettingsFromDcb(const sys::Dcb& dcb, LineSettings* settings) {
  // The DCB's parity 0..4 (none, odd, even, mark, space) is 1..5 on the
  // wire; its stop bits 0, 1, 2 (one, one and a half, two) are 1, 3, 2.
  static constexpr StopBits kStopBits[] = {StopBits::One, StopBits::OneAndAHalf, StopBits::Two};
  if (dcb.byteSize < 5 || dcb.byteSize > 8 || dcb.parity > 4 || dcb.stopBits > 2 ||
      dcb.baudRate == 0) {
    return false;
  }
  settings->baudRate = dcb.baudRate;
  settings->dataBits = dcb.byteSize;
  settings->parity = static_cast<Parity>(dcb.parity + 1);
  settings->stopBits = kStopBits[dcb.stopBits];
  return true;
}

uint32_t Client::Open(NetSocket* socket, const Url& url) {
  Close();
  *this = Client();
  url_ = url;
  socket_ = socket;
  // Down until connected: a failed open is no lost connection.
  link_ = Link::Down;
  const uint32_t code = Connect(kConnectMs, 0);
  if (code != 0) {
    socket_ = nullptr;
    return code;
  }
  link_ = Link::Up;
  return 0;
}

// One connection and its negotiation: resolution and connecting within
// connectMs, the negotiation until negotiateDeadline (0: kNegotiateMs
// after connecting). Failure leaves the socket closed.
uint32_t Client::Connect(uint32_t connectMs, uint64_t negotiateDeadline) {
  telnet_ = Telnet{};
  lost_ = 0;
  keepData_ = false;
  DropData();
  uint32_t code = socket_->Connect(url_.host, url_.port, connectMs);
  if (code == 0) {
    if (negotiateDeadline == 0) negotiateDeadline = socket_->NowMs() + kNegotiateMs;
    code = Negotiate(negotiateDeadline);
  }
  if (code != 0) {
    socket_->Close();
    lost_ = code;
    return code;
  }
  DropData();
  keepData_ = true;
  dataTaken_ = 0;
  return 0;
}

// The server speaks first; the client answers, asks for the Com Port
// option once it knows it talks to Telnet, and ends with a query whose
// answer proves the port is served.
uint32_t Client::Negotiate(uint64_t deadline) {
  if (uint32_t code = WaitFor([this] { return telnet_.seen; }, deadline)) return code;
  // Slots 0 to 2: BINARY, SUPPRESS-GO-AHEAD, the Com Port option.
  const uint8_t accepted[3] = {kOptionBinary, kOptionSuppressGoAhead, kOptionComPort};
  for (int slot = 0; slot < 3; ++slot) {
    if (!telnet_.sentWill[slot]) SendReply(kWill, accepted[slot]);
    if (slot < 2 && !telnet_.sentDo[slot]) SendReply(kDo, accepted[slot]);
  }
  if (uint32_t code =
          WaitFor([this] { return telnet_.comPortAgreed || telnet_.comPortRefused; }, deadline)) {
    return code;
  }
  if (telnet_.comPortRefused) return socket_->Code(Failure::NotSupported);
  telnet_.expectedCount = 0;
  const uint8_t query[4] = {0, 0, 0, 0};
  Expect(kSetBaudRate, query, 4, true);
  uint8_t bytes[16];
  if (uint32_t code = SendRaw(bytes, EncodeComPort(kSetBaudRate, query, 4, bytes, sizeof bytes))) {
    return code;
  }
  const uint32_t code = AwaitAnswers(deadline);
  // A server that takes its agreement back before answering refuses too.
  return telnet_.comPortRefused ? socket_->Code(Failure::NotSupported) : code;
}

void Client::Close() {
  if (socket_ != nullptr) socket_->Close();
  socket_ = nullptr;
}

// Takes what the socket has within timeoutMs and hands it to the parser.
// Data that finds the buffer full is dropped, as a terminal's full input
// queue drops it: the bytes behind it (an acknowledgement) still count.
uint32_t Client::Pump(uint32_t timeoutMs) {
  if (lost_ != 0) return lost_;
  if (head_ == tail_) head_ = tail_ = 0;
  if (tail_ == sizeof data_ && head_ > 0) {
    std::memmove(data_, data_ + head_, tail_ - head_);
    tail_ -= head_;
    head_ = 0;
  }
  size_t got = 0;
  if (uint32_t code = socket_->Receive(raw_, sizeof raw_, &got, timeoutMs)) {
    MarkLost(code);
    return lost_;
  }
  for (size_t i = 0; i < got && lost_ == 0; ++i) Handle(telnet_.parser.Feed(raw_[i]));
  return lost_;
}

template <typename Done>
uint32_t Client::WaitFor(Done done, uint64_t deadline) {
  while (!done()) {
    const uint64_t now = socket_->NowMs();
    if (now >= deadline) return socket_->Code(Failure::TimedOut);
    if (uint32_t code = Pump(static_cast<uint32_t>(deadline - now))) return code;
  }
  return 0;
}

void Client::Handle(const Event& e) {
  switch (e.kind) {
    case Event::Data:
      if (keepData_ && tail_ < sizeof data_) data_[tail_++] = e.byte;
      return;
    case Event::Will:
    case Event::Wont:
    case Event::Do:
    case Event::Dont: HandleOption(e); return;
    case Event::ComPort: HandleComPort(e); return;
    case Event::Command: telnet_.seen = true; return;
    case Event::None: return;
  }
}

// The options BINARY, SUPPRESS-GO-AHEAD and the Com Port option are agreed
// to once each; every other option is refused.
void Client::HandleOption(const Event& e) {
  telnet_.seen = true;
  if (++telnet_.optionCommands > kMaxOptionCommands) {
    DropFlood("comandos Telnet", kMaxOptionCommands);
    return;
  }
  const int slot = OptionSlot(e.option);
  switch (e.kind) {
    case Event::Will:
      if (slot < 0 || e.option == kOptionComPort) {
        SendReply(kDont, e.option);
      } else if (!telnet_.sentDo[slot]) {
        SendReply(kDo, e.option);
      }
      return;
    case Event::Do:
      if (slot < 0) {
        SendReply(kWont, e.option);
        return;
      }
      if (!telnet_.sentWill[slot]) SendReply(kWill, e.option);
      if (e.option == kOptionComPort) telnet_.comPortAgreed = true;
      return;
    case Event::Dont:
      if (e.option == kOptionComPort) telnet_.comPortRefused = true;
      return;
    default: return;
  }
}

void Client::HandleComPort(const Event& e) {
  telnet_.seen = true;
  if (e.command == kNotifyModemState + kServerOffset && e.length >= 1) {
    telnet_.modemKnown = true;
    telnet_.modemState = e.value[0];
    return;
  }
  for (size_t i = 0; i < telnet_.expectedCount; ++i) {
    Expected& x = telnet_.expected[i];
    if (x.answered || x.command + kServerOffset != e.command) continue;
    x.answered = true;
    if (x.command == kPurgeData) DropData();
    x.matched = x.anyValue || (!e.truncated && e.length == x.length &&
                               std::memcmp(e.value, x.value, x.length) == 0);
    return;
  }
}

// Requests and data: a peer that takes none of them for kSendStallMs has
// gone, whatever it still sends.
uint32_t Client::SendRaw(const uint8_t* bytes, size_t count) {
  if (lost_ != 0) return lost_;
  if (count == 0) return socket_->Code(Failure::BadValue);
  size_t sent = 0;
  uint32_t code = socket_->Send(bytes, count, kSendStallMs, &sent);
  if (code == 0 && sent < count) code = socket_->Code(Failure::Gone);
  if (code != 0) MarkLost(code);
  return lost_;
}

// An option reply is sent only when the socket takes it at once: a server
// that floods options and reads nothing must not hold the reader.
void Client::SendReply(uint8_t verb, uint8_t option) {
  if (lost_ != 0) return;
  const int slot = OptionSlot(option);
  if (slot >= 0 && verb == kWill) telnet_.sentWill[slot] = true;
  if (slot >= 0 && verb == kDo) telnet_.sentDo[slot] = true;
  uint8_t bytes[3];
  const size_t n = EncodeOption(verb, option, bytes, sizeof bytes);
  size_t sent = 0;
  if (uint32_t code = socket_->Send(bytes, n, 0, &sent)) {
    MarkLost(code);
    return;
  }
  // A reply begun is finished, so that the stream stays well formed.
  if (sent > 0 && sent < n) SendRaw(bytes + sent, n - sent);
}

void Client::Expect(uint8_t command, const uint8_t* value, uint8_t length, bool anyValue) {
  Expected& x = telnet_.expected[telnet_.expectedCount++];
  x = Expected{};
  x.command = command;
  x.length = length;
  std::memcpy(x.value, value, length);
  x.anyValue = anyValue;
}

uint32_t Client::AwaitAnswers(uint64_t deadline) {
  auto allAnswered = [this] {
    for (size_t i = 0; i < telnet_.expectedCount; ++i) {
      if (!telnet_.expected[i].answered) return false;
    }
    return true;
  };
  if (uint32_t code = WaitFor(allAnswered, deadline)) return code;
  for (size_t i = 0; i < telnet_.expectedCount; ++i) {
    if (!telnet_.expected[i].matched) return socket_->Code(Failure::BadValue);
  }
  return 0;
}

uint32_t Client::SetLine(const LineSettings& settings) {
  if (lost_ != 0) return lost_;
  const uint32_t code = SendLine(settings, socket_->NowMs() + kAckMs);
  if (code == 0) {
    line_ = settings;
    lineSet_ = true;
  }
  return code;
}

uint32_t Client::SendLine(const LineSettings& s, uint64_t deadline) {
  // Replies still on their way to earlier requests are taken first, so
  // that none of them is read as an answer to these.
  if (uint32_t code = Pump(0)) return code;
  telnet_.expectedCount = 0;
  const uint32_t r = s.baudRate;
  const uint8_t rate[4] = {static_cast<uint8_t>(r >> 24), static_cast<uint8_t>(r >> 16),
                           static_cast<uint8_t>(r >> 8), static_cast<uint8_t>(r)};
  const uint8_t size = s.dataBits;
  const uint8_t parity = static_cast<uint8_t>(s.parity);
  const uint8_t stop = static_cast<uint8_t>(s.stopBits);
  Expect(kSetBaudRate, rate, 4, false);
  Expect(kSetDataSize, &size, 1, false);
  Expect(kSetParity, &parity, 1, false);
  Expect(kSetStopSize, &stop, 1, false);
  size_t n = 0;
  for (size_t i = 0; i < telnet_.expectedCount; ++i) {
    const Expected& x = telnet_.expected[i];
    n += EncodeComPort(x.command, x.value, x.length, tx_ + n, sizeof tx_ - n);
  }
  if (uint32_t code = SendRaw(tx_, n)) return code;
  return AwaitAnswers(deadline);
}

uint32_t Client::Control(uint8_t value) {
  uint8_t bytes[16];
  return SendRaw(bytes, EncodeComPort(kSetControl, &value, 1, bytes, sizeof bytes));
}

uint32_t Client::Escape(sys::Escape code) {
  switch (code) {
    case sys::Escape::SetRts: return Control(rts_ = kControlRtsOn);
    case sys::Escape::ClrRts: return Control(rts_ = kControlRtsOff);
    case sys::Escape::SetDtr: return Control(dtr_ = kControlDtrOn);
    case sys::Escape::ClrDtr: return Control(dtr_ = kControlDtrOff);
    case sys::Escape::SetBreak: return Control(kControlBreakOn);
    case sys::Escape::ClrBreak: return Control(kControlBreakOff);
  }
  return socket_->Code(Failure::BadValue);
}

// Data the device sent before the server purged it may still be on its way
// when the request leaves: it arrives before the acknowledgement, which
// drops it (HandleComPort). Without an acknowledgement in kAckMs, what came
// meanwhile is dropped all the same and the purge counts as done.
uint32_t Client::Purge() {
  if (uint32_t code = Pump(0)) return code;
  const uint8_t both = kPurgeBoth;
  telnet_.expectedCount = 0;
  Expect(kPurgeData, &both, 1, true);
  uint8_t bytes[16];
  if (uint32_t code = SendRaw(bytes, EncodeComPort(kPurgeData, &both, 1, bytes, sizeof bytes))) {
    return code;
  }
  DropData();
  const uint32_t code = AwaitAnswers(socket_->NowMs() + kAckMs);
  if (code == socket_->Code(Failure::TimedOut)) {
    DropData();
    return 0;
  }
  return code;
}

// Data written after the connection was lost is dropped, as on a line
// whose far end is unplugged: the loss is reported by the reads.
uint32_t Client::Write(const uint8_t* data, uint32_t count) {
  dataTaken_ = 0;
  size_t done = 0;
  while (done < count && lost_ == 0) {
    size_t consumed = 0;
    const size_t n = EscapeData(data + done, count - done, tx_, sizeof tx_, &consumed);
    SendRaw(tx_, n);
    done += consumed;
  }
  return 0;
}

uint32_t Client::WaitData(uint32_t timeoutMs, bool* ready) {
  *ready = HasData();
  if (*ready) return 0;
  if (lost_ != 0) {
    // The read that reports a loss ends its first stage: from now on the
    // port reads as CTS down.
    link_ = Link::Down;
    return lost_;
  }
  const uint64_t deadline = socket_->NowMs() + timeoutMs;
  for (;;) {
    const uint64_t now = socket_->NowMs();
    const uint32_t left = now >= deadline ? 0 : static_cast<uint32_t>(deadline - now);
    if (uint32_t code = Pump(left)) {
      link_ = Link::Down;
      return code;
    }
    *ready = HasData();
    if (*ready || left == 0) return 0;
  }
}

}  // namespace tarvo::net
