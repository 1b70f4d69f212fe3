// The tools' shared integer parser and escaper.
#include <gtest/gtest.h>

#include <climits>

#include "common/escape.h"
#include "common/numbers.h"

namespace tarvo::tools {
namespace {

TEST(ParseInteger, TakesASignedWholeNumberWithinItsRangeOnly) {
  long long v = 7;
  EXPECT_TRUE(ParseInteger("-9223372036854775808", LLONG_MIN, LLONG_MAX, &v));
  EXPECT_EQ(v, LLONG_MIN);
  EXPECT_TRUE(ParseInteger("+9223372036854775807", LLONG_MIN, LLONG_MAX, &v));
  EXPECT_EQ(v, LLONG_MAX);
  EXPECT_TRUE(ParseInteger("0012", 0, 12, &v));
  EXPECT_EQ(v, 12);
  v = 7;
  for (const char* bad : {"", "+", "-", " 5", "5 ", "5x", "0x10", "13", "-1"}) {
    EXPECT_FALSE(ParseInteger(bad, 0, 12, &v)) << bad;
  }
  for (const char* beyond :
       {"9223372036854775808", "-9223372036854775809", "99999999999999999999"}) {
    EXPECT_FALSE(ParseInteger(beyond, LLONG_MIN, LLONG_MAX, &v)) << beyond;
  }
  EXPECT_EQ(v, 7) << "a refused text leaves the output alone";
}

TEST(Escape, EachStyleKeepsItsOutputOnOneLine) {
  const std::string text = "a\\b\n\"\x01\x7f\xe3";
  EXPECT_EQ(Escape(text, EscapeStyle::Line), "a\\\\b\\n\"\\x01\\x7f\xe3");
  EXPECT_EQ(Escape(text, EscapeStyle::Json), "a\\\\b\\n\\\"\\u0001\\u007f\xe3");
  EXPECT_EQ(Escape(text, EscapeStyle::Frame), "a\\b\\n\"\\x01\\x7F\\xE3");
}

}  // namespace
}  // namespace tarvo::tools
