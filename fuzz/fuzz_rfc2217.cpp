// The network port's wire format and client over arbitrary server bytes.
//
// Input: a mode byte, a cut byte, then the server's byte stream (or a URL).
// - mode bit 0 clear: the parser alone. Fed whole and fed in two reads cut
//   at the cut byte, it gives the same events; its data bytes, escaped and
//   parsed again, come back unchanged; no value is longer than its room.
// - mode bit 0 set: the client, over a socket that hands it the stream in
//   reads of at most cut+1 bytes, on a virtual clock. It opens, configures,
//   reads and purges; it never hands out more data bytes than the stream
//   held, and never more than asked for.
// - mode bit 1 set: the stream is a port name for the URL parser.
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "serial/net_client.h"
#include "serial/rfc2217.h"

using namespace tarvo;
using namespace tarvo::rfc2217;

namespace {

bool SameEvent(const Event& a, const Event& b) {
  return a.kind == b.kind && a.byte == b.byte && a.option == b.option && a.command == b.command &&
         a.length == b.length && a.truncated == b.truncated &&
         std::memcmp(a.value, b.value, a.length) == 0;
}

std::vector<Event> Events(Parser& parser, const uint8_t* data, size_t size) {
  std::vector<Event> out;
  for (size_t i = 0; i < size; ++i) {
    const Event e = parser.Feed(data[i]);
    FUZZ_CHECK(e.length <= kMaxValue);
    if (e.kind != Event::None) out.push_back(e);
  }
  return out;
}

void FuzzParser(uint8_t cut, const uint8_t* data, size_t size) {
  Parser whole;
  const std::vector<Event> once = Events(whole, data, size);
  Parser split;
  const size_t at = size == 0 ? 0 : cut % (size + 1);
  std::vector<Event> twice = Events(split, data, at);
  const std::vector<Event> rest = Events(split, data + at, size - at);
  twice.insert(twice.end(), rest.begin(), rest.end());
  FUZZ_CHECK(once.size() == twice.size());
  for (size_t i = 0; i < once.size(); ++i) FUZZ_CHECK(SameEvent(once[i], twice[i]));

  std::vector<uint8_t> bytes;
  for (const Event& e : once) {
    if (e.kind == Event::Data) bytes.push_back(e.byte);
  }
  std::vector<uint8_t> wire(bytes.size() * 2 + 1);
  size_t consumed = 0;
  const size_t n = EscapeData(bytes.data(), bytes.size(), wire.data(), wire.size(), &consumed);
  FUZZ_CHECK(consumed == bytes.size());
  Parser again;
  std::vector<uint8_t> back;
  for (const Event& e : Events(again, wire.data(), n)) {
    FUZZ_CHECK(e.kind == Event::Data);
    back.push_back(e.byte);
  }
  FUZZ_CHECK(back == bytes);
}

// A server that says what the input says, in reads of at most `chunk`.
class StreamSocket final : public net::NetSocket {
 public:
  StreamSocket(const uint8_t* data, size_t size, size_t chunk)
      : data_(data), size_(size), chunk_(chunk) {}
  uint32_t Connect(const char*, uint16_t, uint32_t) override { return 0; }
  uint32_t Send(const uint8_t*, size_t count, uint32_t, size_t* sent) override {
    *sent = count;
    return 0;
  }
  uint32_t Receive(uint8_t* buffer, size_t room, size_t* got, uint32_t timeoutMs) override {
    *got = 0;
    if (pos_ == size_) {
      // Nothing more will come: the wait runs out on the virtual clock, or
      // the connection ends once the whole stream is out.
      now_ += timeoutMs == 0 ? 1 : timeoutMs;
      return ended_++ > 8 ? Code(net::Failure::Gone) : 0;
    }
    size_t n = size_ - pos_;
    if (n > room) n = room;
    if (n > chunk_) n = chunk_;
    std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    *got = n;
    now_ += 1;
    return 0;
  }
  void Close() override {}
  uint64_t NowMs() override { return now_; }
  uint32_t Code(net::Failure f) override { return 1000 + static_cast<uint32_t>(f); }

 private:
  const uint8_t* data_;
  size_t size_, chunk_, pos_ = 0;
  uint64_t now_ = 0;
  int ended_ = 0;
};

net::Client client;

void FuzzClient(uint8_t cut, const uint8_t* data, size_t size) {
  StreamSocket socket(data, size, static_cast<size_t>(cut) + 1);
  Url url;
  FUZZ_CHECK(ParseUrl("rfc2217://127.0.0.1:7000", &url));
  url.ignoreCts = (cut & 1) != 0;
  if (client.Open(&socket, url) != 0) return;
  net::LineSettings line;
  line.baudRate = 115200;
  line.parity = net::Parity::Even;
  client.SetLine(line);
  client.Escape(sys::Escape::SetDtr);
  uint32_t status = 0;
  FUZZ_CHECK(client.ModemStatus(&status) == 0);
  size_t delivered = 0;
  uint8_t buffer[64];
  for (int i = 0; i < 64; ++i) {
    bool ready = false;
    if (client.WaitData(10, &ready) != 0) break;
    uint32_t got = 0;
    client.Take(buffer, 1 + (i % static_cast<int>(sizeof buffer)), &got);
    FUZZ_CHECK(got <= 1u + static_cast<uint32_t>(i % static_cast<int>(sizeof buffer)));
    delivered += got;
    if (i == 32) client.Purge();
  }
  FUZZ_CHECK(delivered <= size);
  client.Close();
}

void FuzzUrl(const uint8_t* data, size_t size) {
  std::vector<char> name(data, data + size);
  name.push_back('\0');
  Url url;
  if (!ParseUrl(name.data(), &url)) return;
  FUZZ_CHECK(HasScheme(name.data()));
  const size_t host = std::strlen(url.host);
  FUZZ_CHECK(host > 0 && host <= kMaxHost);
  FUZZ_CHECK(url.port != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t mode = data[0];
  const uint8_t cut = data[1];
  data += 2;
  size -= 2;
  if (mode & 2) {
    FuzzUrl(data, size);
  } else if (mode & 1) {
    FuzzClient(cut, data, size);
  } else {
    FuzzParser(cut, data, size);
  }
  return 0;
}
