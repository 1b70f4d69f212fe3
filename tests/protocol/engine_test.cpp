// The exchange engine on the simulated line: every wait is virtual time, so
// a 20-second CTS hold or a 4-second BREAK recovery takes microseconds and
// its timing is asserted to the millisecond.
#include "protocol/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/driver_state.h"
#include "serial/sim/sim_line.h"
#include "support/alloc_counter.h"
#include "support/fresh_state.h"
#include "support/scripted_printer.h"
#include "support/temp_dir.h"
#include "tarvo.h"
#include "trace/trace.h"

namespace tarvo {
namespace {

using sim::Kind;

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FreshState();
    sim::Reset();
    printer = std::make_unique<test::ScriptedPrinter>();
    test::StartTrace(1);
    ASSERT_EQ(IniciaDriver("COM1"), 1);
    sim::ClearRecords();
  }

  static std::vector<std::string> Trace() { return test::TraceLines("test.txt"); }

  static bool Traced(const std::string& line) {
    const auto lines = Trace();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  static size_t CountTraced(const std::string& prefix) {
    size_t n = 0;
    for (const auto& line : Trace()) n += line.rfind(prefix, 0) == 0;
    return n;
  }

  // The virtual time of the n-th (from 0) event of a kind, or -1.
  static long long TimeOf(Kind kind, size_t nth = 0) {
    for (size_t i = 0; i < sim::EventCount(); ++i) {
      if (sim::EventAt(i).kind == kind && nth-- == 0)
        return static_cast<long long>(sim::EventAt(i).timeMs);
    }
    return -1;
  }

  static void ExpectFailure(const char* circumstance) {
    EXPECT_EQ(driverState.CodigoUltimoErro, 11010);
    EXPECT_STREQ(driverState.nomeErro, "ErroProtTimeout");
    EXPECT_STREQ(driverState.circunstancia, circumstance);
    EXPECT_STREQ(driverState.errCodeText, "11010");
  }

  test::TempDir dir;
  std::unique_ptr<test::ScriptedPrinter> printer;
};

TEST_F(EngineTest, AcceptedAnswerIsReadOneByteAtATime) {
  printer->Reply("0", "ValorTexto=\"ABC\"", 30);
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", "NomeTexto=\"NumeroSerieECF\""), 1);
  ASSERT_EQ(printer->Requests().size(), 1u);
  EXPECT_EQ(printer->Requests()[0], "{12;LeTexto;NomeTexto=\"NumeroSerieECF\";38}");
  EXPECT_EQ(driverState.txLength, 42);
  EXPECT_STREQ(driverState.respFields, "ValorTexto=\"ABC\";");
  EXPECT_EQ(sim::CountEvents(Kind::ReadStart), std::string("{12;0;ValorTexto=\"ABC\";22}").size());
  EXPECT_EQ(sim::PendingInbound(), 0u);
  EXPECT_TRUE(Traced("EnviaComando2900 bufTx={12;LeTexto;NomeTexto=\"NumeroSerieECF\";38} "));
  EXPECT_TRUE(Traced("EnviaComando2900 bufRx={12;0;ValorTexto=\"ABC\";22}"));
}

TEST_F(EngineTest, NoByteIsReadPastTheClosingBrace) {
  sim::SendAfter(5, "{12;0;;6}{extra");
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", ""), 1);
  EXPECT_EQ(sim::PendingInbound(), 6u);
}

TEST_F(EngineTest, PrinterErrorIsAnAnswerNotAFailure) {
  printer->Reply("8", "NomeErro=\"ErroExemplo\" Circunstancia=\"Texto\"");
  EXPECT_EQ(EnviaComando(driverState, "12", "VendeItem", ""), 1);
  EXPECT_EQ(driverState.CodigoUltimoErro, 8);
  EXPECT_STREQ(driverState.circunstancia, "Texto");
}

TEST_F(EngineTest, VerboseLinesOnlyAtLevelOne) {
  traceState.nivelLog = 2;
  printer->Reply("0", "");
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", ""), 1);
  EXPECT_EQ(CountTraced("EnviaComando2900 buf"), 0u);
}

TEST_F(EngineTest, MissingCtsFailsBeforeAnythingIsSent) {
  sim::SetCts(false);
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", ""), -1);
  ExpectFailure("Sem sinal de CTS");
  EXPECT_EQ(driverState.ctsReady, 0);
  EXPECT_EQ(sim::CountEvents(Kind::Write), 0u);
  EXPECT_TRUE(Traced("EnviaComando2900 CTS_1 OUT"));
}

TEST_F(EngineTest, CtsMustHoldTwentySecondsAfterALoss) {
  driverState.ctsReady = 0;
  printer->Reply("0", "");
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", ""), 1);
  // One check at the gate, then 200 checks 100 ms apart.
  for (size_t i = 1; i <= 200; ++i)
    EXPECT_EQ(TimeOf(Kind::ModemStatus, i), 100 * (long long)(i - 1));
  EXPECT_EQ(TimeOf(Kind::Write), 20000);
  EXPECT_EQ(driverState.ctsReady, 1);

  // Once CTS was seen through the hold, the next exchange sends at once.
  sim::ClearRecords();
  const long long before = static_cast<long long>(sim::NowMs());
  printer->Reply("0", "");
  EXPECT_EQ(EnviaComando(driverState, "13", "LeTexto", ""), 1);
  EXPECT_EQ(TimeOf(Kind::Write), before);
}

TEST_F(EngineTest, CtsLostDuringTheHoldFailsAndHoldsAgainNextTime) {
  driverState.ctsReady = 0;
  sim::SetCtsAt(5050, false);
  sim::SetCtsAt(6000, true);
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", ""), -1);
  ExpectFailure("Sem sinal de CTS");
  EXPECT_EQ(sim::NowMs(), 5100u);
  EXPECT_EQ(driverState.ctsReady, 0);
  EXPECT_EQ(sim::CountEvents(Kind::Write), 0u);
  EXPECT_TRUE(Traced("EnviaComando2900 CTS_2 OUT"));
}

TEST_F(EngineTest, CtsLostWhileTheAnswerArrives) {
  sim::SendAfter(10, "{12;0;");
  sim::SetCtsAt(10, false);
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", ""), -1);
  ExpectFailure("Sem sinal de CTS");
  EXPECT_EQ(driverState.ctsReady, 0);
  EXPECT_TRUE(Traced("EnviaComando2900 CTS_3 OUT"));
}

TEST_F(EngineTest, WriteFailureIsATransmissionError) {
  sim::FailWrites(31);
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", ""), -1);
  ExpectFailure("Erro de Transmissao");
  EXPECT_TRUE(Traced("EnviaComando2900 retWrite=31"));
}

TEST_F(EngineTest, NoiseBeforeTheFrameIsDiscardedByteByByte) {
  printer->ReplyRaw("abc{%ID%;0;;6}");
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", ""), 1);
  EXPECT_TRUE(Traced("EnviaComando2900 Descartando bufRx[0]=a"));
  EXPECT_TRUE(Traced("EnviaComando2900 Descartando bufRx[0]=b"));
  EXPECT_TRUE(Traced("EnviaComando2900 Descartando bufRx[0]=c"));
  EXPECT_EQ(CountTraced("EnviaComando2900 Descartando"), 3u);
}

TEST_F(EngineTest, StaleAnswerIsDiscardedAndTheEngineKeepsListening) {
  printer->ReplyRaw(test::AnswerFrame(11, "0", "ValorTexto=\"velho\"") +
                    test::AnswerFrame(12, "0", "ValorTexto=\"novo\""));
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", ""), 1);
  EXPECT_STREQ(driverState.respFields, "ValorTexto=\"novo\";");
  EXPECT_EQ(sim::CountEvents(Kind::Write), 1u);
  EXPECT_EQ(CountTraced("EnviaComando2900 IdCmdRecebido=11 IdCmdEnviado=12 bDescartaResp=1"), 1u);
}

TEST_F(EngineTest, LengthOffByOneIsASectionError) {
  driverState.bRetrans = 1;
  printer->ReplyRaw("{12;0;ValorTexto=\"ABC\";23}");
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", ""), -1);
  ExpectFailure("Erro de Secao ou CRC");
  EXPECT_TRUE(Traced("EnviaComando2900 Ret=0 CRCREC=23 CRCCALC=22 bRetrans=1"));
}

TEST_F(EngineTest, AnswerWithoutCodeFieldIsRefusedNotTakenForSuccess) {
  printer->ReplyRaw("{12;3}");
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", ""), -1);
  ExpectFailure("Erro de Secao ou CRC");
  EXPECT_TRUE(Traced("EnviaComando2900 Ret=-1 CRCREC=3 CRCCALC=3 bRetrans=0"));
}

// 5000 ms for the first read, 20 attempts of 55 ms BREAK + 55 ms pulse +
// 55 ms read, ten pulses, 110 ms, a last 55 ms read: 9015 ms in all.
TEST_F(EngineTest, SilentPrinterIsWokenTwentyTimesThenThePortIsReopened) {
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", ""), -1);
  ExpectFailure("Erro de Recepcao");
  EXPECT_EQ(sim::NowMs(), 9015u);
  EXPECT_EQ(driverState.Timeout, 5000);
  ASSERT_EQ(sim::CountEvents(Kind::SetBreak), 20u);
  for (size_t k = 0; k < 20; ++k) {
    EXPECT_EQ(TimeOf(Kind::SetBreak, k), 5000 + 165 * (long long)k);
    EXPECT_EQ(TimeOf(Kind::ClearBreak, k), 5055 + 165 * (long long)k);
    EXPECT_EQ(TimeOf(Kind::SetRts, k), 5110 + 165 * (long long)k);
  }
  EXPECT_EQ(sim::CountEvents(Kind::ClearDtr), 30u);
  EXPECT_EQ(TimeOf(Kind::Close), 9015);
  EXPECT_EQ(TimeOf(Kind::Open), 9015);
  EXPECT_TRUE(sim::AnyDeviceOpen());
  const sys::Dcb line = sim::LineSettings();
  EXPECT_EQ(line.baudRate, 115200u);
  EXPECT_EQ(line.byteSize, 8);
  EXPECT_EQ(line.parity, 2);
  EXPECT_EQ(line.stopBits, 0);
  for (int k = 0; k < 20; ++k) {
    char brk[32];
    std::snprintf(brk, sizeof brk, "EnviaComando2900 BRK-%02d", k);
    EXPECT_TRUE(Traced(brk)) << brk;
  }
  EXPECT_TRUE(Traced("EnviaComando2900 retRead=1460 bRetrans=0 dwRead=0"));
}

TEST_F(EngineTest, ReopenAfterSilenceKeepsTheSessionsRate) {
  ASSERT_EQ(EncerraDriver(1), 0);
  test::StartTrace(1);
  sim::SetRegistryKey(true);
  sim::SetCommSettingsText("COM1:38400,E,8,1");
  ASSERT_EQ(IniciaDriver("COM1"), 1);
  EXPECT_EQ(sim::LineSettings().baudRate, 38400u);
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", ""), -1);
  EXPECT_EQ(sim::LineSettings().baudRate, 38400u);
  EXPECT_EQ(sim::LineSettings().parity, 2);
}

TEST_F(EngineTest, AnswerDuringBreakAttemptThreeCompletesTheFrame) {
  // Attempt 3 starts at 5495 and reads from 5605 to 5660.
  sim::SendAfter(5620, "{12;0;;6}");
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", ""), 1);
  EXPECT_EQ(sim::CountEvents(Kind::SetBreak), 4u);
  EXPECT_EQ(driverState.Timeout, 5000);
  EXPECT_STREQ(driverState.bufRx, "{12;0;;6}");
  EXPECT_TRUE(Traced("EnviaComando2900 BRK-03"));
  EXPECT_TRUE(Traced("EnviaComando2900 <RESPOK>"));
}

TEST_F(EngineTest, PauseMidFrameResumesAtTheSamePosition) {
  sim::SendAfter(10, "{12;0;");
  sim::SendAfter(6010, ";6}");  // arrives within one per-byte time-out plus recovery
  const std::string whole = "{12;0;;6}";
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", ""), 1);
  EXPECT_EQ(std::string(driverState.bufRx), whole);
  EXPECT_GT(sim::CountEvents(Kind::SetBreak), 0u);
  EXPECT_EQ(driverState.Timeout, 5000);
}

TEST_F(EngineTest, AnswerLongerThanTheBufferEndsTheExchangeInsideIt) {
  std::string flood = "{12;0;" + std::string(6000, 'x');
  sim::SendBytesAfter(1, flood.data(), flood.size());
  EXPECT_EQ(EnviaComando(driverState, "12", "LeTexto", ""), -1);
  ExpectFailure("Erro de Recepcao");
  EXPECT_EQ(driverState.rxCount, 4095);
  EXPECT_EQ(driverState.bufRx[4095], '\0');
  EXPECT_TRUE(Traced("EnviaComando2900 Estouro de bufRx rxCount=4095"));
}

TEST_F(EngineTest, GarbageStreamsNeverOverrunAndEndWithADocumentedResult) {
  std::srand(7);
  for (int round = 0; round < 40; ++round) {
    sim::Reset();
    driverState.port.Close();
    ASSERT_EQ(driverState.port.Open("COM1", 8192, 8192, 1), 0u);
    std::string noise(static_cast<size_t>(std::rand() % 6000), '\0');
    for (char& c : noise) c = "{};=\"#\\ 0x"[std::rand() % 10];
    sim::SendBytesAfter(1, noise.data(), noise.size());
    const int r = EnviaComando(driverState, "12", std::rand() % 2 ? "LeImpressao" : "LeTexto", "");
    EXPECT_TRUE(r == 1 || r == -1);
    EXPECT_LE(driverState.rxCount, 4095);
    EXPECT_LT(std::strlen(driverState.nomeErro), sizeof driverState.nomeErro);
    EXPECT_LT(std::strlen(driverState.circunstancia), sizeof driverState.circunstancia);
    EXPECT_LT(std::strlen(driverState.errCodeText), sizeof driverState.errCodeText);
    EXPECT_EQ(driverState.Timeout, 5000);
  }
}

TEST_F(EngineTest, AFullExchangeAllocatesNothing) {
  // Bytes queued in advance: the scripted printer's own strings would count.
  sim::SetWriteHook(nullptr, nullptr);
  const std::string stale = test::AnswerFrame(6, "0", "");
  const std::string answer = test::AnswerFrame(7, "0", "ValorTexto=\"ABC\" Data=#01/02/2026#");
  sim::SendBytesAfter(3, stale.data(), stale.size());
  sim::SendBytesAfter(8000, answer.data(), answer.size());
  const long before = test::Allocations();
  const int result = EnviaComando(driverState, "7", "LeTexto", "NomeTexto=\"x\"");
  const long during = test::Allocations() - before;
  EXPECT_EQ(result, 1);
  EXPECT_EQ(during, 0);
}

}  // namespace
}  // namespace tarvo
