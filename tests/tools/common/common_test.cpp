// The tools' shared integer parser and escaper.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <string>

#include "common/escape.h"
#include "common/json.h"
#include "common/numbers.h"
#include "common/param_rules.h"

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
  EXPECT_EQ(Escape(text, EscapeStyle::Message), "a\\b\\n\"\\x01\\x7f\xe3");
  EXPECT_EQ(DumpJson(JsonText(text)), "\"a\\\\b\\n\\\"\\u0001\x7f\xc3\xa3\"\n");
  EXPECT_EQ(Escape(text, EscapeStyle::Frame), "a\\b\\n\"\\x01\\x7F\\xE3");
}

// The cases the Python module's own copy of the rules is tested against too.
TEST(ParamValueProblem, AgreesWithTheSharedCases) {
  std::ifstream in(TARVO_PARAM_CASES);
  ASSERT_TRUE(in) << TARVO_PARAM_CASES;
  std::string line;
  int cases = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab1 = line.find('\t');
    const size_t tab2 = line.find('\t', tab1 + 1);
    ASSERT_NE(tab2, std::string::npos) << line;
    const int type = std::stoi(line.substr(0, tab1));
    const bool ok = line.substr(tab1 + 1, tab2 - tab1 - 1) == "ok";
    const std::string value = line.substr(tab2 + 1);
    EXPECT_EQ(ParamValueProblem(type, value) == nullptr, ok) << line;
    ++cases;
  }
  EXPECT_GT(cases, 10);
}

}  // namespace
}  // namespace tarvo::tools
