// Reading named values out of an answer: Retorno over the driver's state,
// and LookupValue directly on texts that end where they should not.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/driver_state.h"
#include "driver/value_lookup.h"
#include "serial/sim/sim_line.h"
#include "support/fresh_state.h"
#include "support/temp_dir.h"
#include "tarvo.h"
#include "trace/trace.h"

namespace tarvo {
namespace {

using test::TempDir;
using test::TraceLines;

// Retorno needs only the handle to match and the last answer's values, so
// the values are set here as the engine would have left them.
class RetornoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FreshState();
    sim::Reset();
    test::StartTrace(2);
    driverState.fArq = 1;
  }

  void Answer(const std::string& values) {
    driverState.CodigoUltimoErro = 0;
    ASSERT_LT(values.size(), sizeof driverState.respFields);
    std::memcpy(driverState.respFields, values.c_str(), values.size() + 1);
  }

  // Retorno into a buffer of exactly TARVO_VALUE_SIZE bytes.
  int Read(const char* name, std::string* value) {
    std::vector<char> out(TARVO_VALUE_SIZE, 'x');
    const int n = Retorno(1, 0, name, 0, out.data(), 0);
    *value = out.data();
    return n;
  }

  TempDir dir_;
};

TEST_F(RetornoTest, ExamplesOfEachForm) {
  const struct {
    const char* values;
    const char* name;
    const char* out;
    int result;
  } cases[] = {
      {"ValorInteiro=25 ValorTexto=\"ECF\"", "ValorInteiro", "25", 2},
      {"ValorInteiro=25 ValorTexto=\"ECF\"", "ValorTexto", "ECF", 3},
      {"ValorInteiro=25 ValorTexto=\"ECF\"", "Valor", "25", 2},   // start of ValorInteiro
      {"ValorInteiro=25 ValorTexto=\"ECF\"", "Texto", "ECF", 3},  // inside ValorTexto
      {"ValorInteiro=25 ValorTexto=\"ECF\"", "NomeTexto", "", 0},
      {"ValorTexto=#12:30:45# ValorInteiro=7", "ValorTexto", "12:30:45", 8},
      {"ValorTexto=#1:2:3# ValorInteiro=7", "ValorTexto", "1:2:3# Val", 10},
      {"ValorTexto=\"\";", "ValorTexto", "", 0},
      {"ValorTexto=#01/02/2026# X=1", "ValorTexto", "01/02/2026", 10},
      // The engine's ';' after a quoted first value ends up in a plain last value.
      {"ValorTexto=\"ECF\" ValorInteiro=7;", "ValorInteiro", "7;", 2},
      // An empty name matches at the start: the first item's value.
      {"A=1 B=2", "", "1", 1},
      // A name inside an earlier quoted value: the value after the next '='.
      {"A=\"x Nome=5 y\" Nome=7", "Nome", "5", 1},
      // A name with no '=' after it.
      {"A=1 Nome", "Nome", "", 0},
      // A tab is an ordinary character of a plain value.
      {"A=1\t2 B=3", "A", "1\t2", 3},
      // A quoted value may hold blanks; a backslash protects nothing.
      {"A=\"x \\\" y\"", "A", "x \\", 3},
  };
  for (const auto& c : cases) {
    Answer(c.values);
    std::string value;
    EXPECT_EQ(Read(c.name, &value), c.result) << c.values << " / " << c.name;
    EXPECT_EQ(value, c.out) << c.values << " / " << c.name;
  }
}

TEST_F(RetornoTest, PrintTextRuleAppliesOnlyToTheExactName) {
  const struct {
    const char* values;
    const char* name;
    const char* out;
  } cases[] = {
      {"TextoImpressao=\"a\\\"b\";", "TextoImpressao", "a\"b"},
      {"TextoImpressao=\"a\\\"b\";", "Impressao", "a\\"},
      {"TextoImpressao=\"a\\\"b\";", "textoImpressao", ""},  // case-sensitive: not found
      // Blanks, ';', '}' and a quote not followed by ';' are copied.
      {"TextoImpressao=\"x; {y} \"z\" w\";", "TextoImpressao", "x; {y} \"z\" w"},
      // Two backslashes both vanish; the character after them is literal.
      {"TextoImpressao=\"p\\\\q\";", "TextoImpressao", "pq"},
      {"TextoImpressao=\"a\\\\\\\";b\";", "TextoImpressao", "a\";b"},
      {"TextoImpressao=\"\";", "TextoImpressao", ""},
      {"TextoImpressao=\"linha {1}; fim\";", "TextoImpressao", "linha {1}; fim"},
  };
  for (const auto& c : cases) {
    Answer(c.values);
    std::string value;
    EXPECT_EQ(Read(c.name, &value), static_cast<int>(std::strlen(c.out)))
        << c.values << " / " << c.name;
    EXPECT_EQ(value, c.out) << c.values << " / " << c.name;
  }
}

TEST_F(RetornoTest, ShortDateOrTimeIsPaddedWithZeroBytesAndStillCountsInFull) {
  char out[16];
  Answer("X=1 D=#12/0");
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(Retorno(1, 0, "D", 0, out, 0), 10);
  EXPECT_EQ(std::memcmp(out, "12/0\0\0\0\0\0\0\0", 11), 0);
  EXPECT_EQ(out[11], 'x');  // nothing after the terminator

  Answer("X=1 T=#12:3");
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(Retorno(1, 0, "T", 0, out, 0), 8);
  EXPECT_EQ(std::memcmp(out, "12:3\0\0\0\0\0", 9), 0);
  EXPECT_EQ(out[9], 'x');
}

TEST_F(RetornoTest, AfterAnErrorEveryNameGivesTheCodeAndEmptiesTheValues) {
  Answer("A=1");
  driverState.CodigoUltimoErro = 8;
  std::string value;
  EXPECT_EQ(Read("A", &value), 8);
  EXPECT_EQ(value, "");
  EXPECT_STREQ(driverState.respFields, "");
  EXPECT_EQ(Read("B", &value), 8);
  const auto lines = TraceLines("test.txt");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Retorno2900 CodigoUltimoErro=8"), 2);
}

TEST_F(RetornoTest, WrongHandleOrNullArgumentLeavesTheOutputAlone) {
  Answer("A=1");
  char out[8] = "keep";
  EXPECT_EQ(Retorno(2, 0, "A", 0, out, 0), TARVO_BAD_HANDLE);
  EXPECT_STREQ(out, "keep");
  EXPECT_EQ(Retorno(1, 0, nullptr, 0, out, 0), TARVO_NULL_ARGUMENT);
  EXPECT_STREQ(out, "keep");
  EXPECT_EQ(Retorno(1, 0, "A", 0, nullptr, 0), TARVO_NULL_ARGUMENT);
  EXPECT_STREQ(driverState.respFields, "A=1");
}

// ---- Texts that end early --------------------------------------------------------
//
// Each text sits in a heap block of exactly its length, with no terminator,
// so that the address sanitizer reports any read past its end.

struct Lookup {
  int result;
  std::string out;
};

Lookup LookUp(const std::string& text, const char* name, size_t cap = TARVO_VALUE_SIZE) {
  std::unique_ptr<char[]> exact(new char[text.size()]);
  std::memcpy(exact.get(), text.data(), text.size());
  std::unique_ptr<char[]> out(new char[cap]);
  std::memset(out.get(), 'x', cap);
  const int n = LookupValue(exact.get(), text.size(), name, out.get(), cap);
  return Lookup{n, std::string(out.get(), strnlen(out.get(), cap))};
}

TEST(LookupValueTest, MalformedTextsAreReadOnlyUpToTheirEnd) {
  const struct {
    const char* text;
    const char* name;
    int result;
    const char* out;
  } cases[] = {
      {"A=\"abc", "A", 3, "abc"},                              // no closing quote
      {"A=\"", "A", 0, ""},                                    // quote at the very end
      {"TextoImpressao=\"abc", "TextoImpressao", 3, "abc"},    // no end mark
      {"TextoImpressao=\"ab\"", "TextoImpressao", 3, "ab\""},  // quote, then the end
      {"TextoImpressao=\"ab\\", "TextoImpressao", 2, "ab"},    // backslash at the end
      {"TextoImpressao=\"", "TextoImpressao", 0, ""},
      {"TextoImpressao=\"\"\" B=1", "TextoImpressao", 0, ""},  // empty, then another item
      {"D=#", "D", 10, ""},                                    // '#' at the very end
      {"D=#1", "D", 10, "1"},
      {"T=#12", "T", 10, "12"},  // too short to show the ':' of a time
      {"A=", "A", 0, ""},        // '=' at the end: an empty value
      {"A= B=1", "A", 0, ""},    // '=' then a blank: an empty value
      {"A=1 B", "B", 0, ""},     // the name without its '='
      {"A", "AB", 0, ""},        // a name longer than the text
      {"", "", 0, ""},
  };
  for (const auto& c : cases) {
    const Lookup got = LookUp(c.text, c.name);
    EXPECT_EQ(got.result, c.result) << c.text;
    EXPECT_EQ(got.out, c.out) << c.text;
  }
}

TEST(LookupValueTest, TextLengthBoundsTheSearchEvenWithoutATerminator) {
  // Only the first 5 bytes belong to the text: "A=123"; the rest must not
  // be read as part of the value.
  const char text[] = "A=1234567";
  char out[16];
  EXPECT_EQ(LookupValue(text, 5, "A", out, sizeof out), 3);
  EXPECT_STREQ(out, "123");
  EXPECT_EQ(LookupValue(text, 5, "4", out, sizeof out), 0);
}

TEST(LookupValueTest, SmallOutputIsNeverOverrun) {
  EXPECT_EQ(LookUp("A=\"abcdef\"", "A", 4).out, "abc");
  EXPECT_EQ(LookUp("TextoImpressao=\"abcdef\";", "TextoImpressao", 4).out, "abc");
  EXPECT_EQ(LookUp("A=abcdef", "A", 4).out, "abc");
  // A date needs 11 bytes: with less room nothing is stored.
  const Lookup date = LookUp("D=#01/02/2026#", "D", 10);
  EXPECT_EQ(date.result, 0);
  EXPECT_EQ(date.out, "");
}

}  // namespace
}  // namespace tarvo
