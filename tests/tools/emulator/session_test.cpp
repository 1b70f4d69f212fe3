#include "emulator/session.h"

#include <gtest/gtest.h>

namespace tarvo::emu {
namespace {

const DateTime kNow{8, 12, 2026, 10, 0, 0};

std::string Request(std::string_view id, std::string_view command, std::string_view params) {
  std::string body = "{" + std::string(id) + ";" + std::string(command) + ";" + std::string(params);
  return body + ";" + std::to_string(body.size()) + "}";
}

std::string Sent(const Outcome& o) {
  std::string bytes;
  for (const auto& t : o.out) bytes += t.bytes;
  return bytes;
}

class SessionTest : public ::testing::Test {
 protected:
  Outcome Send(std::string_view id, std::string_view command, std::string_view params = "") {
    return session.Receive(Request(id, command, params), kNow);
  }
  void Arm(std::string_view fault) {
    std::string error;
    ASSERT_TRUE(ApplyFaultCommand(fault, &session.GetFaults(), &error)) << error;
  }
  size_t Items() const { return session.GetPrinter().State().items.size(); }
  Session session;
};

constexpr char kItem[] = "Descricao=\"Cafe\" PrecoUnitario=4,50";

TEST_F(SessionTest, AnswersWithTheRequestsIdEvenWhenTheBytesComeOneByOne) {
  Outcome all;
  const std::string request = "noise" + Request("042", "LeInteiro", "NomeInteiro=ECF");
  for (char c : request) {
    Outcome o = session.Receive(std::string_view(&c, 1), kNow);
    for (auto& t : o.out) all.out.push_back(t);
  }
  EXPECT_EQ(Sent(all), "{042;0;ValorInteiro=1;21}");
}

TEST_F(SessionTest, AResendIsAnsweredFromMemoryWithoutSellingTwice) {
  Send("7", "AbreCupom");
  const Outcome first = Send("8", "VendeItem", kItem);
  const Outcome again = Send("8", "VendeItem", kItem);
  EXPECT_EQ(Sent(again), Sent(first));
  EXPECT_EQ(Items(), 1u);
  EXPECT_TRUE(again.paper.empty());
  // The same id with another command is a new command, not a resend.
  Send("8", "VendeItem", "Descricao=\"Pao\" PrecoUnitario=1");
  EXPECT_EQ(Items(), 2u);
  // So is the same command with the next id.
  Send("9", "VendeItem", "Descricao=\"Pao\" PrecoUnitario=1");
  EXPECT_EQ(Items(), 3u);
}

TEST_F(SessionTest, AWrongLengthIsRefusedAndNotCarriedOutSoTheResendIsHeard) {
  Send("1", "AbreCupom");
  std::string request = Request("2", "VendeItem", kItem);
  request.replace(request.rfind(';') + 1, std::string::npos, "1}");
  const Outcome o = session.Receive(request, kNow);
  EXPECT_EQ(Sent(o), BuildAnswer("2", "2",
                                 "NomeErro=\"ErroQuadroInvalido\" "
                                 "Circunstancia=\"Tamanho do quadro nao confere\""));
  EXPECT_EQ(Items(), 0u);
  Send("2", "VendeItem", kItem);
  EXPECT_EQ(Items(), 1u);
}

TEST_F(SessionTest, SilenceCarriesOutButSendsNothingAndTheResendGetsTheAnswer) {
  Send("1", "AbreCupom");
  Arm("silence 2");
  EXPECT_TRUE(Send("2", "VendeItem", kItem).out.empty());
  EXPECT_TRUE(Send("2", "VendeItem", kItem).out.empty());
  EXPECT_EQ(Items(), 1u);
  EXPECT_EQ(Sent(Send("2", "VendeItem", kItem)),
            "{2;0;NumeroItem=1 TotalItem=4,50 TotalCupom=4,50;48}");
  EXPECT_EQ(Items(), 1u);
}

TEST_F(SessionTest, DeafIgnoresTheRequestEntirely) {
  Send("1", "AbreCupom");
  Arm("deaf 1");
  EXPECT_TRUE(Send("2", "VendeItem", kItem).out.empty());
  EXPECT_EQ(Items(), 0u);
  EXPECT_FALSE(Send("2", "VendeItem", kItem).out.empty());
  EXPECT_EQ(Items(), 1u);
}

TEST_F(SessionTest, BadLengthAddsOneToTheLengthFieldOnly) {
  Arm("badlength 1");
  EXPECT_EQ(Sent(Send("5", "LeInteiro", "NomeInteiro=ECF")), "{5;0;ValorInteiro=1;20}");
  EXPECT_EQ(Sent(Send("6", "LeInteiro", "NomeInteiro=ECF")), "{6;0;ValorInteiro=1;19}");
}

TEST_F(SessionTest, StaleSendsThePreviousAnswerBeforeTheRightOne) {
  Send("5", "LeInteiro", "NomeInteiro=ECF");
  Arm("stale 1");
  EXPECT_EQ(Sent(Send("6", "LeInteiro", "NomeInteiro=COO")),
            "{5;0;ValorInteiro=1;19}{6;0;ValorInteiro=0;19}");
  // With no earlier answer (or one with the same id) another id is made up.
  Session fresh;
  std::string error;
  ASSERT_TRUE(ApplyFaultCommand("stale 1", &fresh.GetFaults(), &error));
  EXPECT_EQ(Sent(fresh.Receive(Request("1", "LeInteiro", "NomeInteiro=ECF"), kNow)),
            "{255;0;;7}{1;0;ValorInteiro=1;19}");
}

TEST_F(SessionTest, CutStopsHalfWayAndNoiseComesBeforeTheFrame) {
  Arm("cut 1");
  const std::string full = "{5;0;ValorInteiro=1;19}";
  EXPECT_EQ(Sent(Send("5", "LeInteiro", "NomeInteiro=ECF")), full.substr(0, full.size() / 2));
  Arm("noise 6 2");
  const std::string noisy = Sent(Send("6", "LeInteiro", "NomeInteiro=ECF"));
  EXPECT_EQ(noisy.size(), 6 + full.size());
  EXPECT_EQ(noisy.find('{'), 6u);
  EXPECT_EQ(Sent(Send("7", "LeInteiro", "NomeInteiro=ECF")).find('{'), 6u);
  EXPECT_EQ(Sent(Send("8", "LeInteiro", "NomeInteiro=ECF")).find('{'), 0u);
}

TEST_F(SessionTest, DelayAndPaceStayUntilChangedAndClearDisarmsEverything) {
  Arm("delay 250");
  Arm("pace 115200");
  Arm("silence 3");
  Arm("silence 0");
  Outcome o = Send("5", "LeInteiro", "NomeInteiro=ECF");
  ASSERT_EQ(o.out.size(), 1u);
  EXPECT_EQ(o.out[0].delayMs, 250);
  EXPECT_EQ(session.GetFaults().paceBaud, 115200);
  Arm("clear");
  o = Send("6", "LeInteiro", "NomeInteiro=ECF");
  EXPECT_EQ(o.out[0].delayMs, 0);
  EXPECT_EQ(session.GetFaults().paceBaud, 0);
}

TEST_F(SessionTest, LineNoiseOfAnyKindNeverStopsAValidRequestFromBeingAnswered) {
  uint32_t seed = 12345;
  for (int round = 0; round < 200; ++round) {
    std::string garbage;
    for (int i = 0; i < 300; ++i) {
      seed = seed * 1103515245 + 12345;
      garbage.push_back(static_cast<char>(seed >> 16));
    }
    session.Receive(garbage, kNow);
    session.ResetFraming();  // what a pause on the line does
    const Outcome o = Send(std::to_string(round % 255 + 1), "LeInteiro", "NomeInteiro=ECF");
    ASSERT_EQ(o.out.size(), 1u) << round;
    EXPECT_NE(o.out[0].bytes.find(";0;ValorInteiro=1;"), std::string::npos);
  }
}

TEST(FaultCommands, BadLinesAreRefusedWithAMessage) {
  Faults f;
  std::string error;
  EXPECT_FALSE(ApplyFaultCommand("explode 1", &f, &error));
  EXPECT_NE(error.find("unknown fault"), std::string::npos);
  EXPECT_FALSE(ApplyFaultCommand("silence -1", &f, &error));
  EXPECT_FALSE(ApplyFaultCommand("silence 1 2", &f, &error));
  EXPECT_FALSE(ApplyFaultCommand("noise", &f, &error));
  EXPECT_FALSE(ApplyFaultCommand("pace 10", &f, &error));
  EXPECT_TRUE(ApplyFaultCommand("", &f, &error));
  EXPECT_TRUE(ApplyFaultCommand("cut", &f, &error));
  EXPECT_EQ(f.cut, 1);
}

TEST(SessionState, AResendAfterARestartIsStillAnsweredFromMemory) {
  Session before;
  before.Receive(Request("1", "AbreCupom", ""), kNow);
  const Outcome sold = before.Receive(Request("2", "VendeItem", kItem), kNow);
  Session after;
  std::string error;
  ASSERT_TRUE(after.Restore(before.Serialize(), &error)) << error;
  const Outcome resent = after.Receive(Request("2", "VendeItem", kItem), kNow);
  EXPECT_EQ(Sent(resent), Sent(sold));
  EXPECT_EQ(after.GetPrinter().State().items.size(), 1u);
  EXPECT_EQ(after.GetPrinter().State().open, Document::Receipt);
}

}  // namespace
}  // namespace tarvo::emu
