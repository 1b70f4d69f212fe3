// The network serial port's client; see net_client.h.
#include "serial/net_client.h"

#include <cstring>

namespace tarvo::net {

using namespace rfc2217;

namespace {

// The options the client accepts, as indexes into sentWill_/sentDo_.
int OptionSlot(uint8_t option) {
  switch (option) {
    case kOptionBinary: return 0;
    case kOptionSuppressGoAhead: return 1;
    case kOptionComPort: return 2;
    default: return -1;
  }
}

}  // namespace

uint32_t Client::Open(NetSocket* socket, const Url& url) {
  Close();
  *this = Client();
  ignoreCts_ = url.ignoreCts;
  if (uint32_t code = socket->Connect(url.host, url.port, kConnectMs)) return code;
  socket_ = socket;
  const uint32_t code = Negotiate(socket->NowMs() + kNegotiateMs);
  if (code != 0) {
    Close();
    return code;
  }
  DropData();
  keepData_ = true;
  return 0;
}

// The server speaks first; the client answers, asks for the Com Port
// option once it knows it talks to Telnet, and ends with a query whose
// answer proves the port is served.
uint32_t Client::Negotiate(uint64_t deadline) {
  if (uint32_t code = WaitFor([this] { return telnetSeen_; }, deadline)) return code;
  // Slots 0 to 2: BINARY, SUPPRESS-GO-AHEAD, the Com Port option.
  const uint8_t accepted[3] = {kOptionBinary, kOptionSuppressGoAhead, kOptionComPort};
  for (int slot = 0; slot < 3; ++slot) {
    if (!sentWill_[slot]) SendOption(kWill, accepted[slot]);
    if (slot < 2 && !sentDo_[slot]) SendOption(kDo, accepted[slot]);
  }
  if (uint32_t code = WaitFor([this] { return comPortAgreed_ || comPortRefused_; }, deadline)) {
    return code;
  }
  if (comPortRefused_) return socket_->Code(Failure::NotSupported);
  expectedCount_ = 0;
  const uint8_t query[4] = {0, 0, 0, 0};
  Expect(kSetBaudRate, query, 4, true);
  uint8_t bytes[16];
  if (uint32_t code = SendRaw(bytes, EncodeComPort(kSetBaudRate, query, 4, bytes, sizeof bytes))) {
    return code;
  }
  const uint32_t code = AwaitAnswers(deadline);
  // A server that takes its agreement back before answering refuses too.
  return comPortRefused_ ? socket_->Code(Failure::NotSupported) : code;
}

void Client::Close() {
  if (socket_ != nullptr) socket_->Close();
  socket_ = nullptr;
}

// Takes what the socket has within timeoutMs and hands it to the parser.
uint32_t Client::Pump(uint32_t timeoutMs) {
  if (lost_ != 0) return lost_;
  if (head_ == tail_) head_ = tail_ = 0;
  // Data bytes never outnumber the bytes they arrive in, so reading no more
  // than the free room can't overflow the data buffer. A full buffer while
  // data is kept waits for the reader.
  size_t room = keepData_ ? sizeof data_ - tail_ : sizeof raw_;
  if (room > sizeof raw_) room = sizeof raw_;
  if (room == 0) return 0;
  size_t got = 0;
  if (uint32_t code = socket_->Receive(raw_, room, &got, timeoutMs)) return lost_ = code;
  for (size_t i = 0; i < got; ++i) Handle(parser_.Feed(raw_[i]));
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
      if (keepData_) data_[tail_++] = e.byte;
      return;
    case Event::Will:
    case Event::Wont:
    case Event::Do:
    case Event::Dont: HandleOption(e); return;
    case Event::ComPort: HandleComPort(e); return;
    case Event::Command: telnetSeen_ = true; return;
    case Event::None: return;
  }
}

// The options BINARY, SUPPRESS-GO-AHEAD and the Com Port option are agreed
// to once each; every other option is refused.
void Client::HandleOption(const Event& e) {
  telnetSeen_ = true;
  const int slot = OptionSlot(e.option);
  switch (e.kind) {
    case Event::Will:
      if (slot < 0 || e.option == kOptionComPort) {
        SendOption(kDont, e.option);
      } else if (!sentDo_[slot]) {
        SendOption(kDo, e.option);
      }
      return;
    case Event::Do:
      if (slot < 0) {
        SendOption(kWont, e.option);
        return;
      }
      if (!sentWill_[slot]) SendOption(kWill, e.option);
      if (e.option == kOptionComPort) comPortAgreed_ = true;
      return;
    case Event::Dont:
      if (e.option == kOptionComPort) comPortRefused_ = true;
      return;
    default: return;
  }
}

void Client::HandleComPort(const Event& e) {
  telnetSeen_ = true;
  if (e.command == kNotifyModemState + kServerOffset && e.length >= 1) {
    modemKnown_ = true;
    modemState_ = e.value[0];
    return;
  }
  for (size_t i = 0; i < expectedCount_; ++i) {
    Expected& x = expected_[i];
    if (x.answered || x.command + kServerOffset != e.command) continue;
    x.answered = true;
    x.matched = x.anyValue || (!e.truncated && e.length == x.length &&
                               std::memcmp(e.value, x.value, x.length) == 0);
    return;
  }
}

uint32_t Client::SendRaw(const uint8_t* bytes, size_t count) {
  if (lost_ != 0) return lost_;
  if (count == 0) return socket_->Code(Failure::BadValue);
  if (uint32_t code = socket_->Send(bytes, count)) lost_ = code;
  return lost_;
}

void Client::SendOption(uint8_t verb, uint8_t option) {
  const int slot = OptionSlot(option);
  if (slot >= 0 && verb == kWill) sentWill_[slot] = true;
  if (slot >= 0 && verb == kDo) sentDo_[slot] = true;
  uint8_t bytes[3];
  SendRaw(bytes, EncodeOption(verb, option, bytes, sizeof bytes));
}

void Client::Expect(uint8_t command, const uint8_t* value, uint8_t length, bool anyValue) {
  Expected& x = expected_[expectedCount_++];
  x = Expected{};
  x.command = command;
  x.length = length;
  std::memcpy(x.value, value, length);
  x.anyValue = anyValue;
}

uint32_t Client::AwaitAnswers(uint64_t deadline) {
  auto allAnswered = [this] {
    for (size_t i = 0; i < expectedCount_; ++i) {
      if (!expected_[i].answered) return false;
    }
    return true;
  };
  if (uint32_t code = WaitFor(allAnswered, deadline)) return code;
  for (size_t i = 0; i < expectedCount_; ++i) {
    if (!expected_[i].matched) return socket_->Code(Failure::BadValue);
  }
  return 0;
}

uint32_t Client::SetLine(uint32_t baudRate, uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
  if (lost_ != 0) return lost_;
  // The DCB's parity 0..4 (none, odd, even, mark, space) is 1..5 on the
  // wire; its stop bits 0, 1, 2 (one, one and a half, two) are 1, 3, 2.
  static constexpr uint8_t kStopSizes[] = {1, 3, 2};
  if (byteSize < 5 || byteSize > 8 || parity > 4 || stopBits > 2 || baudRate == 0) {
    return socket_->Code(Failure::BadValue);
  }
  // Replies still on their way to earlier requests are taken first, so
  // that none of them is read as an answer to these.
  if (uint32_t code = Pump(0)) return code;
  expectedCount_ = 0;
  const uint8_t rate[4] = {static_cast<uint8_t>(baudRate >> 24),
                           static_cast<uint8_t>(baudRate >> 16),
                           static_cast<uint8_t>(baudRate >> 8), static_cast<uint8_t>(baudRate)};
  const uint8_t size = byteSize;
  const uint8_t wireParity = static_cast<uint8_t>(parity + 1);
  const uint8_t stop = kStopSizes[stopBits];
  Expect(kSetBaudRate, rate, 4, false);
  Expect(kSetDataSize, &size, 1, false);
  Expect(kSetParity, &wireParity, 1, false);
  Expect(kSetStopSize, &stop, 1, false);
  size_t n = 0;
  for (size_t i = 0; i < expectedCount_; ++i) {
    const Expected& x = expected_[i];
    n += EncodeComPort(x.command, x.value, x.length, tx_ + n, sizeof tx_ - n);
  }
  if (uint32_t code = SendRaw(tx_, n)) return code;
  return AwaitAnswers(socket_->NowMs() + kAckMs);
}

uint32_t Client::Control(uint8_t value) {
  uint8_t bytes[16];
  return SendRaw(bytes, EncodeComPort(kSetControl, &value, 1, bytes, sizeof bytes));
}

uint32_t Client::Purge() {
  const uint8_t both = kPurgeBoth;
  uint8_t bytes[16];
  if (uint32_t code = SendRaw(bytes, EncodeComPort(kPurgeData, &both, 1, bytes, sizeof bytes))) {
    return code;
  }
  const uint32_t code = Pump(0);
  DropData();
  return code;
}

uint32_t Client::ModemStatus(uint32_t* status) {
  // Only an empty buffer is topped up: what is buffered came before any
  // notice still on its way.
  if (head_ == tail_ && lost_ == 0) Pump(0);
  if (ignoreCts_ || !modemKnown_) {
    *status = kModemCts | kModemDsr;
  } else {
    *status = modemState_ & 0xF0;
  }
  return 0;
}

// Data written after the connection was lost is dropped, as on a line
// whose far end is unplugged: the loss is reported by the reads, whose
// failure makes the exchange engine open the port again (a failed write
// would end the exchange without that re-open).
uint32_t Client::Write(const uint8_t* data, uint32_t count) {
  size_t done = 0;
  while (done < count && lost_ == 0) {
    size_t consumed = 0;
    const size_t n = EscapeData(data + done, count - done, tx_, sizeof tx_, &consumed);
    SendRaw(tx_, n);
    done += consumed;
  }
  return 0;
}

uint32_t Client::Take(uint8_t* buffer, uint32_t count, uint32_t* got) {
  size_t n = tail_ - head_;
  if (n > count) n = count;
  std::memcpy(buffer, data_ + head_, n);
  head_ += n;
  *got = static_cast<uint32_t>(n);
  return 0;
}

uint32_t Client::WaitData(uint32_t timeoutMs, bool* ready) {
  *ready = HasData();
  if (*ready) return 0;
  if (lost_ != 0) return lost_;
  const uint64_t deadline = socket_->NowMs() + timeoutMs;
  for (;;) {
    const uint64_t now = socket_->NowMs();
    const uint32_t left = now >= deadline ? 0 : static_cast<uint32_t>(deadline - now);
    if (uint32_t code = Pump(left)) return code;
    *ready = HasData();
    if (*ready || left == 0) return 0;
  }
}

}  // namespace tarvo::net
