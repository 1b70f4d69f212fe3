// The Telnet and Com Port wire format: the server-to-client parser, the
// encoders and the port's URL.
#include "serial/rfc2217.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvo::rfc2217 {
namespace {

using Bytes = std::vector<uint8_t>;

// The data bytes of a stream, and its other events as short words.
struct Parsed {
  Bytes data;
  std::vector<std::string> events;
};

void FeedInto(Parser& parser, const Bytes& bytes, Parsed* out) {
  for (uint8_t b : bytes) {
    const Event e = parser.Feed(b);
    switch (e.kind) {
      case Event::Data: out->data.push_back(e.byte); break;
      case Event::Will: out->events.push_back("WILL " + std::to_string(e.option)); break;
      case Event::Wont: out->events.push_back("WONT " + std::to_string(e.option)); break;
      case Event::Do: out->events.push_back("DO " + std::to_string(e.option)); break;
      case Event::Dont: out->events.push_back("DONT " + std::to_string(e.option)); break;
      case Event::ComPort: {
        std::string s = "SB " + std::to_string(e.command);
        for (int i = 0; i < e.length; ++i) s += " " + std::to_string(e.value[i]);
        if (e.truncated) s += " ...";
        out->events.push_back(s);
        break;
      }
      case Event::Command: out->events.push_back("CMD"); break;
      case Event::None: break;
    }
  }
}

Parsed Parse(const Bytes& bytes) {
  Parser parser;
  Parsed out;
  FeedInto(parser, bytes, &out);
  return out;
}

TEST(Rfc2217Parser, DoubledIacIsOneDataByteAndCommandsAreNotData) {
  const Parsed p = Parse({'{', 255, 255, '}', 255, 253, 44, 255, 241, 'x'});
  EXPECT_EQ(p.data, (Bytes{'{', 255, '}', 'x'}));
  EXPECT_EQ(p.events, (std::vector<std::string>{"DO 44", "CMD"}));
}

TEST(Rfc2217Parser, CommandsSplitAcrossReadsKeepTheirState) {
  const Bytes stream = {'a', 255, 255, 255, 251, 3, 255, 250, 44, 101, 0, 0, 150, 0, 255, 240, 'b'};
  // Every split point of the stream gives the same result as one read.
  const Parsed whole = Parse(stream);
  ASSERT_EQ(whole.data, (Bytes{'a', 255, 'b'}));
  ASSERT_EQ(whole.events, (std::vector<std::string>{"WILL 3", "SB 101 0 0 150 0"}));
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    Parser parser;
    Parsed split;
    FeedInto(parser, Bytes(stream.begin(), stream.begin() + static_cast<long>(cut)), &split);
    FeedInto(parser, Bytes(stream.begin() + static_cast<long>(cut), stream.end()), &split);
    EXPECT_EQ(split.data, whole.data) << "cut at " << cut;
    EXPECT_EQ(split.events, whole.events) << "cut at " << cut;
  }
}

TEST(Rfc2217Parser, EscapedIacInsideASubnegotiationIsOneValueByte) {
  // SET-BAUDRATE's answer with 0xFF bytes in its value, then data.
  const Parsed p = Parse({255, 250, 44, 101, 0, 255, 255, 1, 255, 255, 255, 240, 'z'});
  EXPECT_EQ(p.events, (std::vector<std::string>{"SB 101 0 255 1 255"}));
  EXPECT_EQ(p.data, (Bytes{'z'}));
}

TEST(Rfc2217Parser, OtherOptionsSubnegotiationIsSkippedAndALongValueIsCut) {
  const Parsed p = Parse({255, 250, 24, 1, 255, 255, 'q', 255, 240, 'd', 255, 250, 44,
                          107, 1,   2,  3, 4,   5,   6,   7,   8,   9,   255, 240});
  EXPECT_EQ(p.data, (Bytes{'d'}));
  EXPECT_EQ(p.events, (std::vector<std::string>{"CMD", "SB 107 1 2 3 4 5 6 7 8 ..."}));
}

TEST(Rfc2217Parser, BrokenSubnegotiationEndsAtTheNextCommand) {
  // IAC WILL inside a subnegotiation: the subnegotiation is dropped, the
  // WILL counts, and data flows again.
  const Parsed p = Parse({255, 250, 44, 107, 16, 255, 251, 1, 'k'});
  EXPECT_EQ(p.events, (std::vector<std::string>{"WILL 1"}));
  EXPECT_EQ(p.data, (Bytes{'k'}));
}

TEST(Rfc2217Encode, ValuesAndDataDoubleEveryIac) {
  uint8_t out[32];
  ASSERT_EQ(EncodeComPort32(kSetBaudRate, 0xFF00FF01u, out, sizeof out), 12u);
  EXPECT_EQ(Bytes(out, out + 12), (Bytes{255, 250, 44, 1, 255, 255, 0, 255, 255, 1, 255, 240}));
  EXPECT_EQ(EncodeComPort32(kSetBaudRate, 38400, out, 9), 0u) << "does not fit: nothing";

  const uint8_t data[] = {1, 255, 2, 255};
  size_t consumed = 0;
  // Room for 1, 255 255, 2 but not the last doubled byte: it stays unsent.
  ASSERT_EQ(EscapeData(data, 4, out, 5, &consumed), 4u);
  EXPECT_EQ(consumed, 3u);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{1, 255, 255, 2}));
}

TEST(Rfc2217Url, WellFormedNamesAndTheirOptions) {
  Url url;
  ASSERT_TRUE(ParseUrl("rfc2217://127.0.0.1:7801", &url));
  EXPECT_STREQ(url.host, "127.0.0.1");
  EXPECT_EQ(url.port, 7801);
  EXPECT_FALSE(url.ignoreCts);
  ASSERT_TRUE(ParseUrl("RFC2217://printer-1.shop:65535?ignorects", &url));
  EXPECT_STREQ(url.host, "printer-1.shop");
  EXPECT_EQ(url.port, 65535);
  EXPECT_TRUE(url.ignoreCts);
  ASSERT_TRUE(ParseUrl("rfc2217://[::1]:23", &url));
  EXPECT_STREQ(url.host, "::1");
}

TEST(Rfc2217Url, MalformedNamesAreRefused) {
  Url url;
  for (const char* bad :
       {"rfc2217://", "rfc2217://host", "rfc2217://host:", "rfc2217://:23", "rfc2217://host:0",
        "rfc2217://host:65536", "rfc2217://host:123456", "rfc2217://host:23x", "rfc2217://host:23?",
        "rfc2217://host:23?ignorects&", "rfc2217://host:23?cts=off", "rfc2217://ho st:23",
        "rfc2217://[::1:23", "rfc2217://[zz]:23", "rfc2217:/host:23", "tcp://host:23"}) {
    EXPECT_FALSE(ParseUrl(bad, &url)) << bad;
  }
  EXPECT_FALSE(ParseUrl(("rfc2217://" + std::string(kMaxHost + 1, 'h') + ":1").c_str(), &url));
}

}  // namespace
}  // namespace tarvo::rfc2217
