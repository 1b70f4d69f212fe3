// Request building, the framing rule and answer decoding, as pure functions.
#include "protocol/frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/text.h"
#include "driver/driver_state.h"
#include "protocol/engine.h"

namespace tarvo {
namespace {

// Each test decodes into its own state, as the engine stores an answer;
// the process-wide one is never touched.
class FrameTest : public ::testing::Test {
 protected:
  // Feeds bytes through the framing rule the way the engine stores them.
  // Returns the complete frame, or "" when the bytes did not complete one.
  static std::string Frame(const std::string& bytes, bool followQuotes) {
    FrameReceiver receiver;
    receiver.Begin(followQuotes);
    std::string buffer(bytes.size() + 2, '\0');
    int count = 0;
    for (char c : bytes) {
      buffer[static_cast<size_t>(count)] = c;
      if (receiver.Take(buffer.data(), &count) == FrameReceiver::Step::Complete) {
        return buffer.substr(0, static_cast<size_t>(count));
      }
    }
    return "";
  }

  DecodeResult Decode(const std::string& frame, int id) {
    const DecodeResult r = DecodeResponse(frame.c_str(), frame.size(), id);
    StoreAnswer(state, frame.c_str(), r);
    return r;
  }

  static std::string Request(const char* id, const char* command, const char* params) {
    char frame[sizeof DriverState::bufTx];
    const size_t length = BuildRequest(frame, sizeof frame, id, command, params);
    EXPECT_EQ(length, std::strlen(frame));
    return frame;
  }

  DriverState state;
};

TEST_F(FrameTest, RequestLengthCountsEverythingBeforeTheThirdSeparator) {
  EXPECT_EQ(Request("12", "LeTexto", "NomeTexto=\"NumeroSerieECF\""),
            "{12;LeTexto;NomeTexto=\"NumeroSerieECF\";38}");
  EXPECT_EQ(Request("255", "EmiteReducaoZ", ""), "{255;EmiteReducaoZ;;19}");
}

TEST_F(FrameTest, LongestRequestFitsItsBuffer) {
  const std::string command(59, 'C');
  const std::string params(511, 'p');
  const std::string frame = Request("255", command.c_str(), params.c_str());
  EXPECT_EQ(frame.size(), 581u);
  EXPECT_EQ(frame.substr(frame.size() - 5), ";576}");
}

TEST_F(FrameTest, AcceptedAnswersStoreTheirFields) {
  struct Case {
    std::string frame;
    int id;
    const char* fields;
  } cases[] = {
      {"{12;0;ValorTexto=\"ABC\";22}", 12, "ValorTexto=\"ABC\";"},
      {"{7;0;ValorInteiro=42;20}", 7, "ValorInteiro=42"},
      {"{12;0;;6}", 12, ""},
      {"{012;0;ValorTexto=\"ABC\";23}", 12, "ValorTexto=\"ABC\";"},
      {"{5;0;semigual;13}", 5, "semigual"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.frame);
    ASSERT_EQ(Decode(c.frame, c.id).kind, DecodeResult::Accepted);
    EXPECT_STREQ(state.errCodeText, "0");
    EXPECT_STREQ(state.respFields, c.fields);
    EXPECT_STREQ(state.nomeErro, "OK");
    EXPECT_STREQ(state.circunstancia, "");
    EXPECT_EQ(state.CodigoUltimoErro, 0);
  }
}

TEST_F(FrameTest, ErrorAnswerKeepsNameAndCircumstance) {
  const std::string frame = "{12;8;NomeErro=\"ErroExemplo\" Circunstancia=\"Texto de exemplo\";61}";
  ASSERT_EQ(Decode(frame, 12).kind, DecodeResult::Accepted);
  EXPECT_STREQ(state.errCodeText, "8");
  EXPECT_EQ(state.CodigoUltimoErro, 8);
  EXPECT_STREQ(state.respFields, "");
  EXPECT_STREQ(state.nomeErro, "ErroExemplo");
  EXPECT_STREQ(state.circunstancia, "Texto de exemplo");
  EXPECT_STREQ(state.respCopy, "{12;8;NomeErro=\"ErroExemplo\" Circunstancia=\"Texto de exemplo\"");
}

TEST_F(FrameTest, LengthAndIdMismatchesAreReportedWithTheirNumbers) {
  DecodeResult r =
      Decode("{12;8;NomeErro=\"ErroExemplo\" Circunstancia=\"Texto de exemplo\";62}", 12);
  EXPECT_EQ(r.kind, DecodeResult::LengthMismatch);
  EXPECT_EQ(r.received, 62);
  EXPECT_EQ(r.computed, 61);
  r = Decode("{11;8;NomeErro=\"ErroExemplo\" Circunstancia=\"Texto de exemplo\";61}", 12);
  EXPECT_EQ(r.kind, DecodeResult::IdMismatch);
  EXPECT_EQ(r.idReceived, 11);
  EXPECT_STREQ(state.nomeErro, "") << "a refused answer changes no result";
}

TEST_F(FrameTest, CodeIsTestedAsTextAndReadAsNumber) {
  ASSERT_EQ(Decode("{4;00;X=1;9}", 4).kind, DecodeResult::Accepted);
  EXPECT_STREQ(state.respFields, "");
  EXPECT_STRNE(state.nomeErro, "OK");
  EXPECT_EQ(state.CodigoUltimoErro, 0);
}

TEST_F(FrameTest, UnquotedCircumstanceKeepsThePreviousOne) {
  CopyText(state.circunstancia, "anterior");
  ASSERT_EQ(Decode("{3;9;NomeErro=\"E\" Circunstancia=sem;35}", 3).kind, DecodeResult::Accepted);
  EXPECT_STREQ(state.nomeErro, "E");
  EXPECT_STREQ(state.circunstancia, "anterior");
}

TEST_F(FrameTest, PrintTextFramingFollowsQuotesOnlyForLeImpressao) {
  const std::string bytes = "{3;0;TextoImpressao=\"linha {1}; fim\";36}";
  EXPECT_EQ(Frame(bytes, true), bytes);
  ASSERT_EQ(Decode(bytes, 3).kind, DecodeResult::Accepted);
  EXPECT_STREQ(state.respFields, "TextoImpressao=\"linha {1}; fim\";");

  const std::string cut = Frame(bytes, false);
  EXPECT_EQ(cut, "{3;0;TextoImpressao=\"linha {1}");
  const DecodeResult r = Decode(cut, 3);
  EXPECT_EQ(r.kind, DecodeResult::LengthMismatch);
  EXPECT_EQ(r.received, 0);
  EXPECT_EQ(r.computed, 4);
}

TEST_F(FrameTest, QuotedTextNotFollowedBySeparatorKeepsTheFrameOpen) {
  EXPECT_EQ(Frame("{3;0;TextoImpressao=\"x\" Outro=1;30}", true), "");
  EXPECT_EQ(Frame("{3;0;TextoImpressao=\"x\" Outro=1;30}", false),
            "{3;0;TextoImpressao=\"x\" Outro=1;30}");
}

TEST_F(FrameTest, NoiseBeforeTheStartIsDiscardedAndASecondBraceDoesNotRestart) {
  FrameReceiver receiver;
  receiver.Begin(false);
  char buffer[16] = {};
  int count = 0;
  buffer[0] = 'x';
  EXPECT_EQ(receiver.Take(buffer, &count), FrameReceiver::Step::Discarded);
  EXPECT_EQ(count, 0);
  buffer[0] = '{';
  EXPECT_EQ(receiver.Take(buffer, &count), FrameReceiver::Step::Stored);
  buffer[1] = '{';
  EXPECT_EQ(receiver.Take(buffer, &count), FrameReceiver::Step::Stored);
  EXPECT_EQ(count, 2);
}

// Frames that pass or fail the length check but cannot be read safely.
TEST_F(FrameTest, MalformedFramesAreRefusedWithoutReadingPastThem) {
  EXPECT_EQ(Decode("{}", 1).kind, DecodeResult::LengthMismatch) << "no ';' at all";
  EXPECT_EQ(Decode("{12;3}", 12).kind, DecodeResult::Malformed) << "no code field";
  EXPECT_EQ(Decode("{12;1234567890;;15}", 12).kind, DecodeResult::Malformed) << "code of 10";
  const DecodeResult longId = Decode("{0000000012;0;;14}", 12);
  EXPECT_EQ(longId.kind, DecodeResult::IdMismatch) << "id of 10 characters";
  EXPECT_STREQ(state.errCodeText, "");
}

TEST_F(FrameTest, ZeroByteCutsTheFrameAndFailsTheLengthCheck) {
  const std::string frame("{5;0;A=\0B;9}", 12);
  const DecodeResult r = Decode(frame, 5);
  EXPECT_EQ(r.kind, DecodeResult::LengthMismatch);
  EXPECT_STREQ(state.respCopy, "{5;0");
}

TEST_F(FrameTest, OversizedErrorTextsAreCutToTheirCapacity) {
  const std::string name(150, 'N');
  const std::string circ(300, 'c');
  const std::string body = "{2;77;NomeErro=\"" + name + "\" Circunstancia=\"" + circ + "\"";
  const std::string frame = body + ";" + std::to_string(body.size()) + "}";
  ASSERT_EQ(Decode(frame, 2).kind, DecodeResult::Accepted);
  EXPECT_EQ(std::string(state.nomeErro), name.substr(0, 100));
  EXPECT_EQ(std::string(state.circunstancia), circ.substr(0, 202));
  EXPECT_EQ(state.CodigoUltimoErro, 77);
}

TEST_F(FrameTest, ErrorTextsWithoutTheirItemsOrClosingQuoteStayInside) {
  ASSERT_EQ(Decode("{2;5;Circunstancia;18}", 2).kind, DecodeResult::Accepted);
  EXPECT_STREQ(state.nomeErro, "");
  EXPECT_STREQ(state.circunstancia, "");
  ASSERT_EQ(Decode("{2;5;NomeErro=\"aberto;21}", 2).kind, DecodeResult::Accepted);
  EXPECT_STREQ(state.nomeErro, "aberto");
}

std::string Text(const TextSpan& span) { return std::string(span.text, span.length); }

// An answer frame with its length field.
std::string Answer(const std::string& body) {
  return body + ";" + std::to_string(body.size()) + "}";
}

// The record itself, read with no state at all: each piece points into the
// frame, and the process-wide state is left exactly as it was.
TEST(DecodeRecord, SaysWhatTheAnswerHoldsAndWritesNothing) {
  std::memset(driverState.respCopy, 'x', sizeof driverState.respCopy - 1);
  const std::string before(driverState.respCopy);

  const std::string error = Answer("{4;8;NomeErro=\"E1\" Circunstancia=\"sem papel");
  DecodeResult r = DecodeResponse(error.c_str(), error.size(), 4);
  ASSERT_EQ(r.kind, DecodeResult::Accepted);
  EXPECT_EQ(r.keptLength, error.rfind(';'));
  EXPECT_EQ(Text(r.codeText), "8");
  EXPECT_EQ(r.code, 8);
  EXPECT_FALSE(r.success);
  EXPECT_FALSE(r.values.Present());
  EXPECT_EQ(Text(r.errorName), "E1");
  EXPECT_EQ(Text(r.circumstance), "sem papel") << "no closing quote: up to the end of the values";
  EXPECT_GE(r.errorName.text, error.c_str());
  EXPECT_LT(r.errorName.text, error.c_str() + error.size());

  const std::string quoted = Answer("{4;0;ValorTexto=\"A;B\"");
  r = DecodeResponse(quoted.c_str(), quoted.size(), 4);
  ASSERT_EQ(r.kind, DecodeResult::Accepted);
  EXPECT_TRUE(r.success);
  EXPECT_EQ(Text(r.values), "ValorTexto=\"A;B\"");
  EXPECT_TRUE(r.valuesEndMark);
  EXPECT_FALSE(r.errorName.Present());

  const std::string plain = Answer("{4;00;NomeErro=E");
  r = DecodeResponse(plain.c_str(), plain.size(), 4);
  ASSERT_EQ(r.kind, DecodeResult::Accepted);
  EXPECT_FALSE(r.success) << "only the text \"0\" is success";
  EXPECT_EQ(r.code, 0);
  EXPECT_FALSE(r.errorName.Present()) << "an unquoted name is no name";

  const std::string longer(kMaxAnswerLength + 10, 'a');
  r = DecodeResponse(longer.c_str(), longer.size(), 4);
  EXPECT_EQ(r.kind, DecodeResult::LengthMismatch);
  EXPECT_EQ(r.keptLength, kMaxAnswerLength) << "read no further than an answer can be";

  EXPECT_EQ(std::string(driverState.respCopy), before);
}

}  // namespace
}  // namespace tarvo
