#include "common/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace tarvo {
namespace {

// A buffer with guard bytes on both sides, so that a write past the
// capacity the helper was given shows up.
struct Guarded {
  static constexpr size_t kCap = 8;
  char before[4];
  char buffer[kCap];
  char after[4];
  Guarded() {
    std::memset(before, '#', sizeof before);
    std::memset(buffer, '#', sizeof buffer);
    std::memset(after, '#', sizeof after);
  }
  bool GuardsIntact() const {
    for (int i = 0; i < 4; ++i) {
      if (before[i] != '#' || after[i] != '#') return false;
    }
    return true;
  }
};

TEST(BoundedText, CopyReportsTruncationAndAlwaysTerminatesInsideCapacity) {
  Guarded g;
  EXPECT_TRUE(CopyText(g.buffer, Guarded::kCap, "1234567"));  // 7 + zero fit exactly
  EXPECT_STREQ(g.buffer, "1234567");
  EXPECT_FALSE(CopyText(g.buffer, Guarded::kCap, "12345678"));
  EXPECT_STREQ(g.buffer, "1234567");
  EXPECT_FALSE(CopyText(g.buffer, Guarded::kCap, "a much longer text than eight"));
  EXPECT_STREQ(g.buffer, "a much ");
  EXPECT_TRUE(g.GuardsIntact());

  // Zero capacity: nothing may be touched at all.
  EXPECT_FALSE(CopyText(g.buffer, 0, "x"));
  EXPECT_TRUE(CopyBytes(g.buffer, 0, "", 0));
  EXPECT_EQ(g.buffer[0], 'a');
}

TEST(BoundedText, CopyBytesTakesEmbeddedBytesAndOverlappingSources) {
  char buffer[8];
  EXPECT_TRUE(CopyBytes(buffer, sizeof buffer, "ab\0cd", 5));
  EXPECT_EQ(std::memcmp(buffer, "ab\0cd\0", 6), 0);
  std::memcpy(buffer, "abcdef", 7);
  EXPECT_TRUE(CopyBytes(buffer, sizeof buffer, buffer + 2, 4));
  EXPECT_STREQ(buffer, "cdef");
}

TEST(BoundedText, AppendStopsAtCapacityAndKeepsTheTerminator) {
  Guarded g;
  EXPECT_TRUE(CopyText(g.buffer, Guarded::kCap, "abc"));
  EXPECT_TRUE(AppendText(g.buffer, Guarded::kCap, "de"));
  EXPECT_TRUE(AppendChar(g.buffer, Guarded::kCap, 'f'));
  EXPECT_TRUE(AppendChar(g.buffer, Guarded::kCap, 'g'));
  EXPECT_STREQ(g.buffer, "abcdefg");
  EXPECT_FALSE(AppendChar(g.buffer, Guarded::kCap, 'h'));
  EXPECT_FALSE(AppendText(g.buffer, Guarded::kCap, "ijk"));
  EXPECT_STREQ(g.buffer, "abcdefg");
  EXPECT_TRUE(g.GuardsIntact());

  // A destination that has lost its terminator is cut, not overrun.
  std::memset(g.buffer, 'z', Guarded::kCap);
  EXPECT_FALSE(AppendText(g.buffer, Guarded::kCap, "q"));
  EXPECT_EQ(g.buffer[Guarded::kCap - 1], '\0');
  EXPECT_TRUE(g.GuardsIntact());
}

TEST(BoundedText, FormatReportsTruncationAndStoredLength) {
  Guarded g;
  size_t length = 99;
  EXPECT_TRUE(FormatText(g.buffer, Guarded::kCap, &length, "%d-%s", 42, "ab"));
  EXPECT_STREQ(g.buffer, "42-ab");
  EXPECT_EQ(length, 5u);
  EXPECT_FALSE(FormatText(g.buffer, Guarded::kCap, &length, "%s", "0123456789"));
  EXPECT_STREQ(g.buffer, "0123456");
  EXPECT_EQ(length, 7u);
  // "%c" with a zero byte counts in the length.
  EXPECT_TRUE(FormatText(g.buffer, Guarded::kCap, &length, "a%cb", 0));
  EXPECT_EQ(length, 3u);
  EXPECT_FALSE(FormatText(g.buffer, 0, &length, "x"));
  EXPECT_EQ(length, 0u);
  EXPECT_TRUE(g.GuardsIntact());

  char small[4];
  EXPECT_FALSE(WriteDecimal(small, sizeof small, -1234));
  EXPECT_STREQ(small, "-12");
  EXPECT_TRUE(WriteDecimal(small, sizeof small, 255));
  EXPECT_STREQ(small, "255");
}

TEST(ReadDecimal, SkipsWhiteSpaceTakesOneSignAndStopsAtTheFirstNonDigit) {
  struct Case {
    const char* text;
    int value;
  } const cases[] = {
      {"123", 123},  {"  \t\r\n42x", 42}, {"+7", 7},   {"-15;", -15}, {"0012", 12},
      {"", 0},       {"abc", 0},          {"-", 0},    {"+-5", 0},    {" - 5", 0},
      {"12 34", 12}, {"1.5", 1},          {"#12#", 0}, {"\v\f9", 9},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadDecimal(c.text), c.value) << '"' << c.text << '"';
    EXPECT_EQ(ReadDecimal(c.text, std::strlen(c.text)), c.value) << '"' << c.text << '"';
  }
}

TEST(ReadDecimal, SaturatesInsteadOfOverflowing) {
  EXPECT_EQ(ReadDecimal("2147483647"), INT_MAX);
  EXPECT_EQ(ReadDecimal("2147483648"), INT_MAX);
  EXPECT_EQ(ReadDecimal("99999999999999999999999999"), INT_MAX);
  EXPECT_EQ(ReadDecimal("-2147483648"), INT_MIN);
  EXPECT_EQ(ReadDecimal("-99999999999999999999999999"), INT_MIN);
}

TEST(ReadDecimal, ReadsNoFurtherThanItsLengthOrAZeroByte) {
  EXPECT_EQ(ReadDecimal("12345", 3), 123);
  EXPECT_EQ(ReadDecimal("   7", 3), 0);
  EXPECT_EQ(ReadDecimal("-9", 1), 0);
  EXPECT_EQ(ReadDecimal("12\0"
                        "34",
                        5),
            12);
  // Digits right up to the end of an unterminated buffer: nothing past it
  // is read (the sanitizer build would report it).
  const char unterminated[3] = {'9', '8', '7'};
  EXPECT_EQ(ReadDecimal(unterminated, sizeof unterminated), 987);
}

TEST(FindText, SearchesOnlyInsideTheGivenLength) {
  const char text[] = "abc\0Tamanho=5";
  EXPECT_EQ(FindText(text, sizeof text - 1, "Tamanho="), text + 4);
  EXPECT_EQ(FindText(text, 11, "Tamanho="), nullptr);
  EXPECT_EQ(FindText(text, 2, "abc"), nullptr);
  EXPECT_EQ(FindText(text, 3, ""), text);
}

}  // namespace
}  // namespace tarvo
