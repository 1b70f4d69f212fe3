#include "emulator/protocol.h"

#include <gtest/gtest.h>

namespace tarvo::emu {
namespace {

using namespace std::literals;

std::vector<std::string> Frames(std::string_view bytes, Framer* framer) {
  std::vector<std::string> frames;
  for (char c : bytes) {
    if (auto f = framer->Push(c)) frames.push_back(*f);
  }
  return frames;
}

TEST(Framing, NoiseBeforeTheBraceIsIgnoredAndFramesFollowEachOther) {
  Framer framer;
  const auto frames = Frames("\xff\x00xx}{1;LeTexto;;11}{2;EmiteReducaoZ;;17}"sv, &framer);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], "{1;LeTexto;;11}");
  EXPECT_EQ(frames[1], "{2;EmiteReducaoZ;;17}");
  EXPECT_FALSE(framer.InFrame());
}

TEST(Framing, BraceInsideAQuotedValueDoesNotEndTheFrame) {
  Framer framer;
  const std::string body = "{3;ImprimeTexto;Texto=\"a};9} b\"";
  const std::string frame = body + ";" + std::to_string(body.size()) + "}";
  const auto frames = Frames(frame, &framer);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], frame);
}

TEST(Framing, WrongLengthOutsideQuotesStillEndsTheFrameSoItCanBeRefused) {
  Framer framer;
  const auto frames = Frames("{4;LeTexto;;99}", &framer);
  ASSERT_EQ(frames.size(), 1u);
  Request r;
  EXPECT_EQ(ParseRequest(frames[0], &r), RequestCheck::BadLength);
  EXPECT_EQ(r.id, "4");
}

TEST(Framing, ABraceInNoiseJustBeforeARequestDoesNotSwallowIt) {
  Framer framer;
  const auto frames = Frames("{x;y{1;LeTexto;;11}", &framer);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], "{1;LeTexto;;11}");
}

TEST(Framing, OversizedGarbageIsDroppedAndTheNextFrameIsFound) {
  Framer framer;
  std::string bytes = "{" + std::string(kMaxRequestFrame + 10, 'x');
  bytes += "{5;LeTexto;;11}";
  const auto frames = Frames(bytes, &framer);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], "{5;LeTexto;;11}");
}

TEST(Requests, SplitsIdCommandAndParamsWithSemicolonsInsideValues) {
  Request r;
  const std::string body = "{12;ImprimeTexto;Texto=\"a;b\" X=1";
  const std::string frame = body + ";" + std::to_string(body.size()) + "}";
  ASSERT_EQ(ParseRequest(frame, &r), RequestCheck::Ok);
  EXPECT_EQ(r.id, "12");
  EXPECT_EQ(r.command, "ImprimeTexto");
  EXPECT_EQ(r.params, "Texto=\"a;b\" X=1");
  ASSERT_EQ(ParseRequest("{12;LeTexto;NomeTexto=\"NumeroSerieECF\";38}", &r), RequestCheck::Ok);
  EXPECT_EQ(r.params, "NomeTexto=\"NumeroSerieECF\"");
  EXPECT_EQ(ParseRequest("{255;EmiteReducaoZ;;19}", &r), RequestCheck::Ok);
  EXPECT_EQ(r.params, "");
}

TEST(Requests, RefusesMissingFieldsAndNonNumericLengths) {
  Request r;
  EXPECT_EQ(ParseRequest("{1;LeTexto;9}", &r), RequestCheck::Malformed);  // no params field
  EXPECT_EQ(ParseRequest("{1;LeTexto;;x}", &r), RequestCheck::BadLength);
  EXPECT_EQ(ParseRequest("{1;LeTexto;;14}", &r), RequestCheck::BadLength);
  EXPECT_EQ(ParseRequest("{}", &r), RequestCheck::Malformed);
}

TEST(Params, ReadsThePlainQuotedAndDateForms) {
  std::vector<Param> p;
  ASSERT_TRUE(ParseParams("A=1 B=\"x y; z\" C=#12/03/2026# D=", &p));
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p[0].value, "1");
  EXPECT_EQ(p[1].value, "x y; z");
  EXPECT_EQ(p[1].form, '"');
  EXPECT_EQ(p[2].value, "12/03/2026");
  EXPECT_EQ(p[2].form, '#');
  EXPECT_EQ(p[3].value, "");
  EXPECT_TRUE(ParseParams("", &p));
  EXPECT_TRUE(p.empty());
}

TEST(Params, RefusesTextThatIsNotNameValueItems) {
  std::vector<Param> p;
  EXPECT_FALSE(ParseParams("A=1  B=2", &p));    // two blanks
  EXPECT_FALSE(ParseParams("A=1 ", &p));        // blank after the last
  EXPECT_FALSE(ParseParams("A=\"open", &p));    // quote not closed
  EXPECT_FALSE(ParseParams("=1", &p));          // no name
  EXPECT_FALSE(ParseParams("justaword", &p));   // no '='
  EXPECT_FALSE(ParseParams("A=\"x\"B=1", &p));  // no blank between items
}

TEST(Answers, LengthCountsEverythingBeforeTheLastSemicolon) {
  EXPECT_EQ(BuildAnswer("12", "0", "ValorTexto=\"ABC\""), "{12;0;ValorTexto=\"ABC\";22}");
  EXPECT_EQ(BuildAnswer("12", "8", "NomeErro=\"ErroExemplo\" Circunstancia=\"Texto de exemplo\""),
            "{12;8;NomeErro=\"ErroExemplo\" Circunstancia=\"Texto de exemplo\";61}");
  EXPECT_EQ(BuildAnswer("12", "0", ""), "{12;0;;6}");
  EXPECT_EQ(DateValue("D", 1, 2, 2026), "D=#01/02/2026#");
  EXPECT_EQ(TimeValue("H", 9, 5, 0), "H=#09:05:00#");
}

// The host's side, written out from its rules: in an answer to LeImpressao
// the frame ends at the first '}' met outside quoted text (quoted text
// starts at '="' and ends at '";'), and the TextoImpressao value ends at the
// first '"' followed by ';', a backslash run making the next character
// literal.
size_t HostFrameEnd(std::string_view bytes) {
  bool inside = false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i >= 2) {
      const char p = bytes[i - 1], c = bytes[i];
      if (!inside && p == '=' && c == '"')
        inside = true;
      else if (inside && p == '"' && c == ';')
        inside = false;
    }
    if (bytes[i] == '}' && !inside) return i + 1;
  }
  return std::string_view::npos;
}

std::string HostPrintText(std::string_view values) {
  size_t i = values.find("=\"") + 2;
  std::string out;
  if (values.substr(i, 2) == "\";") return out;
  while (i < values.size()) {
    while (i < values.size() && values[i] == '\\') ++i;
    out.push_back(values[i++]);
    if (values.substr(i, 2) == "\";") break;
  }
  return out;
}

TEST(PrintText, SurvivesTheHostsFramingAndReadingWhateverItHolds) {
  const std::string texts[] = {
      "plain\nlines\n", "quote \" inside", "ends with quote\"",  "\";", "a\";b}c;\"", "\"", ";",
      "} at start",     "x=\"y\";z",       "tab\tand }}} braces"};
  for (const std::string& text : texts) {
    const std::string values = "TextoImpressao=\"" + EncodePrintText(text) + "\"";
    const std::string frame = BuildAnswer("3", "0", values);
    EXPECT_EQ(HostFrameEnd(frame), frame.size()) << text;
    EXPECT_EQ(HostPrintText(values + ";"), text) << text;
    EXPECT_EQ(DecodePrintText(EncodePrintText(text)), text) << text;
    EXPECT_EQ(EncodePrintText(text).find("\";"), std::string::npos) << text;
  }
}

TEST(PrintText, BackslashBecomesSlashBecauseTheHostCannotReadOne) {
  EXPECT_EQ(EncodePrintText("C:\\dir\\"), "C:/dir/");
  EXPECT_EQ(SafeQuotedText("a\"b}c"), "a'b)c");
}

}  // namespace
}  // namespace tarvo::emu
