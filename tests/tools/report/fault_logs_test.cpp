// Logs that the shared library itself writes while the emulator injects
// each of its faults, read back and decoded as `tarvo report` does. Set
// TARVO_REPORT_KEEP_LOGS=DIR to keep the logs (FAULT-TARVO.txt and
// FAULT-printer.txt in DIR), as docs/trace.md quotes them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "e2e/emulator_process.h"
#include "report/decode.h"
#include "report/render.h"
#include "report/trace_log.h"
#include "support/temp_dir.h"
#include "tarvo.h"

namespace tarvo::report {
namespace {

using test::EmulatorOptions;
using test::EmulatorProcess;
using test::ReadFile;
using test::WriteFile;

class FaultLogs : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(emu.Port().empty()) << emu.Log(); }
  void TearDown() override {
    FC_Finaliza();
    EncerraDriver(1);
  }

  // Verbose tracing into TARVO.txt and then RPT0001_1's own log.
  void Start(const std::string& size = "5000000") {
    WriteFile("TARVO.cfg", "Trace=1\nTamanho=" + size);
    WriteFile("TV_RPT0001_1.cfg", "Trace=1\nTamanho=" + size);
    ASSERT_EQ(FC_Inicializa(emu.Port().c_str()), 0);
  }

  int Operation(const char* command, const char* name, const char* value, int type = 0) {
    static FcCommand cmd;
    std::memset(&cmd, 0, sizeof cmd);
    std::strcpy(cmd.command, command);
    std::strcpy(cmd.params[0].name, name);
    std::strcpy(cmd.params[0].value, value);
    cmd.params[0].type = type;
    return FC_Operacao(1, &cmd, nullptr, nullptr);
  }
  int ReadSerial() { return Operation("LeTexto", "NomeTexto", "NumeroSerieECF", 7); }

  // Ends the session and decodes both logs, keeping them when asked to.
  Report Finish(const char* fault) {
    FC_Finaliza();
    logs.assign(2, LogFile{});
    std::string error;
    EXPECT_TRUE(LoadLog("TARVO.txt", 0, &logs[0], &error)) << error;
    EXPECT_TRUE(LoadLog("TV_RPT0001_1.txt", 1, &logs[1], &error)) << error;
    if (const char* keep = std::getenv("TARVO_REPORT_KEEP_LOGS")) {
      WriteFile(std::string(keep) + "/" + fault + "-TARVO.txt", logs[0].content);
      WriteFile(std::string(keep) + "/" + fault + "-printer.txt", logs[1].content);
    }
    return Decode(MergeRecords(logs));
  }

  // The exchanges after the start-up's identification.
  static std::vector<Exchange> AfterStartup(const Report& r) {
    std::vector<Exchange> v;
    for (const Exchange& e : r.exchanges) {
      if (e.operation < 0 || !r.operations[e.operation].startup) v.push_back(e);
    }
    return v;
  }

  test::TempDir dir;
  EmulatorProcess emu{EmulatorOptions{.serial = "RPT0001",
                                      .control = dir.Path() + "/control",
                                      .log = dir.Path() + "/emulator.log",
                                      .args = {"--ecf", "1"}}};
  std::vector<LogFile> logs;
};

TEST_F(FaultLogs, StartupPhasesAndIdentificationAreDecoded) {
  Start();
  const Report r = Finish("startup");
  ASSERT_EQ(r.startups.size(), 1u);
  EXPECT_EQ(r.startups[0].result, "ok");
  EXPECT_EQ(r.startups[0].port, emu.Port());
  ASSERT_EQ(r.exchanges.size(), 2u);
  EXPECT_EQ(r.exchanges[0].command, "LeTexto");
  EXPECT_EQ(r.exchanges[1].command, "LeInteiro");
  for (const Exchange& e : r.exchanges) {
    EXPECT_EQ(e.outcome, Outcome::Ok);
    EXPECT_TRUE(r.operations[e.operation].startup);
  }
  EXPECT_EQ(r.unknownLines, 0u);
}

TEST_F(FaultLogs, NoiseIsCountedOnTheExchangeItPreceded) {
  Start();
  emu.Fault("noise 5 1");
  EXPECT_EQ(ReadSerial(), 0);
  const auto after = AfterStartup(Finish("noise"));
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].outcome, Outcome::Ok);
  EXPECT_EQ(after[0].discarded, 5);
  EXPECT_EQ(after[0].discardedBytes.size(), 5u);
}

TEST_F(FaultLogs, StaleAnswerIsAStaleIdNotAFailure) {
  Start();
  emu.Fault("stale 1");
  EXPECT_EQ(ReadSerial(), 0);
  const auto after = AfterStartup(Finish("stale"));
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].outcome, Outcome::Ok);
  ASSERT_EQ(after[0].staleIds.size(), 1u);
  EXPECT_NE(after[0].staleIds[0], after[0].id);
  EXPECT_NE(after[0].answer.find("EMU") == std::string::npos, false);
}

TEST_F(FaultLogs, WrongLengthFailsThenTheResendIsAnswered) {
  Start();
  emu.Fault("badlength 1");
  EXPECT_EQ(ReadSerial(), 0);
  const Report r = Finish("badlength");
  const auto after = AfterStartup(r);
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].outcome, Outcome::BadLength);
  EXPECT_EQ(after[0].lengthReceived, after[0].lengthComputed + 1);
  EXPECT_EQ(after[0].code, 11010);
  EXPECT_FALSE(after[0].resend);
  EXPECT_EQ(after[1].outcome, Outcome::Ok);
  EXPECT_TRUE(after[1].resend);
  EXPECT_EQ(after[1].id, after[0].id);
  EXPECT_EQ(after[1].operation, after[0].operation);
  EXPECT_EQ(Count(r).resends, 1);
}

// A sale whose answer came back damaged: the facade never resends
// VendeItem, and the printer did register it. Repeating it would be a
// double sale, so the report must not call it simply failed.
TEST_F(FaultLogs, DamagedAnswerToASaleMayHaveBeenCarriedOut) {
  Start();
  ASSERT_EQ(Operation("AbreCupom", "CPF", "", 7), 0);
  emu.Fault("badlength 1");
  EXPECT_EQ(Operation("VendeItem", "Descricao", "Pao", 7), 11010);
  emu.Fault("badlength 1");
  EXPECT_EQ(ReadSerial(), 0);  // a reading command: resent, answered, nothing unknown
  const Report r = Finish("unknown");
  const auto after = AfterStartup(r);
  ASSERT_EQ(after.size(), 4u);
  EXPECT_EQ(after[1].command, "VendeItem");
  EXPECT_TRUE(after[1].outcomeUnknown);
  EXPECT_FALSE(after[1].recovered);
  EXPECT_FALSE(after[2].outcomeUnknown);
  EXPECT_TRUE(after[2].recovered);
  const std::string warning = "may have been carried out: check the printer before repeating";
  EXPECT_NE(Verdict(r).find("VendeItem"), std::string::npos) << Verdict(r);
  EXPECT_NE(Verdict(r).find(warning), std::string::npos) << Verdict(r);
  const Figures f = Count(r);
  EXPECT_EQ(f.outcomeUnknown, 1);
  EXPECT_NE(TextSummary(logs, r, f)
                .find("VendeItem id " + std::to_string(after[1].id) + ": damaged answer"),
            std::string::npos);
  EXPECT_NE(Json(logs, r, f)
                .find("\"outcomeUnknown\":true,\"networkLost\":false,\"warning\":\"" + warning),
            std::string::npos);
  EXPECT_NE(Html(logs, r, f).find("data-unknown=\"1\">" + warning), std::string::npos);
}

// A printer that answers only once BREAK woke it is slow every time: about
// six seconds per command. Real time, as that is the fault.
TEST_F(FaultLogs, AnswersOnlyAfterBreakAreNotHealthy) {
  Start();
  emu.Fault("delay 5600");
  EXPECT_EQ(ReadSerial(), 0);
  emu.Fault("delay 0");
  const Report r = Finish("wakeup");
  const auto after = AfterStartup(r);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_TRUE(after[0].wokeByBreak);
  EXPECT_EQ(after[0].outcome, Outcome::Ok);
  EXPECT_NE(Verdict(r).find("answered only after BREAK wake-ups"), std::string::npos) << Verdict(r);
  EXPECT_NE(Verdict(r).find("not healthy"), std::string::npos);
}

// Waits in real time for the driver's time-out and BREAK recovery (about
// nine seconds): that is the fault.
TEST_F(FaultLogs, SilenceShowsTwentyBreaksTheReopenAndTheAnsweredResend) {
  Start();
  emu.Fault("silence 1");
  EXPECT_EQ(ReadSerial(), 0);
  const auto after = AfterStartup(Finish("silence"));
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].outcome, Outcome::NoAnswer);
  EXPECT_EQ(after[0].breakAttempts, 20);
  EXPECT_FALSE(after[0].wokeByBreak);
  EXPECT_TRUE(after[0].reopened);
  EXPECT_EQ(after[0].retRead, 1460);
  EXPECT_GE(after[0].Seconds(), 8);
  EXPECT_EQ(after[1].outcome, Outcome::Ok);
  EXPECT_TRUE(after[1].resend);
}

// A cut answer leaves the driver waiting for the rest: real time again.
TEST_F(FaultLogs, CutAnswerIsNoAnswerNotADamagedOne) {
  Start();
  emu.Fault("cut 1");
  EXPECT_EQ(Operation("LeInteiro", "NomeInteiro", "COO"), 0);
  const auto after = AfterStartup(Finish("cut"));
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].outcome, Outcome::NoAnswer);
  EXPECT_EQ(after[0].command, "LeInteiro");
  EXPECT_EQ(after[1].outcome, Outcome::Ok);
}

TEST_F(FaultLogs, WrappedLogIsPutBackInTimeOrder) {
  Start("2500");
  for (int i = 0; i < 40; ++i) ASSERT_EQ(Operation("LeInteiro", "NomeInteiro", "COO"), 0);
  const Report r = Finish("wrapped");
  const LogFile& printer = logs[1];
  EXPECT_TRUE(printer.wrapped);
  EXPECT_FALSE(printer.header);
  ASSERT_FALSE(printer.records.empty());
  // The last line written is the session's end, wherever it sits in the file.
  EXPECT_NE(printer.records.back().text.find("EncerraDriver"), std::string_view::npos);
  EXPECT_LT(printer.records.back().offset, printer.wrapOffset);
  for (size_t i = 1; i < printer.records.size(); ++i) {
    EXPECT_LE(printer.records[i - 1].time, printer.records[i].time);
  }
  // The ids of the surviving exchanges run on without a gap or a step back.
  const auto after = AfterStartup(r);
  ASSERT_GT(after.size(), 5u);
  for (size_t i = 1; i < after.size(); ++i) {
    if (after[i - 1].id < 0 || after[i].id < 0) continue;
    EXPECT_EQ(after[i].id, after[i - 1].id % 255 + 1);
  }
  EXPECT_EQ(after.back().outcome, Outcome::Ok);
}

// Every fault in one session, as a shop would see it in one log; its
// figures are those the page and --json show (and the browser test reads
// this session's logs, kept in report/tests/logs). Real time: one silence.
TEST_F(FaultLogs, EveryFaultInOneSessionAddsUp) {
  Start();
  for (const char* fault : {"noise 4 1", "stale 1", "badlength 1", "silence 1", "clear"}) {
    emu.Fault(fault);
    EXPECT_EQ(ReadSerial(), 0) << fault;
  }
  EXPECT_EQ(Operation("VendeItem", "Descricao", "x", 7), 6);  // no receipt open
  const Report r = Finish("session");
  const Figures f = Count(r);
  EXPECT_EQ(f.exchanges, 2 + 5 + 2 + 1);
  EXPECT_EQ(f.outcomes[static_cast<int>(Outcome::Ok)], 2 + 5);
  EXPECT_EQ(f.outcomes[static_cast<int>(Outcome::PrinterError)], 1);
  EXPECT_EQ(f.outcomes[static_cast<int>(Outcome::BadLength)], 1);
  EXPECT_EQ(f.outcomes[static_cast<int>(Outcome::NoAnswer)], 1);
  EXPECT_EQ(f.failed, 2);
  EXPECT_EQ(f.resends, 2);
  EXPECT_EQ(f.discardedBytes, 4);
  EXPECT_EQ(f.staleAnswers, 1);
  EXPECT_EQ(f.breakRecoveries, 1);
  EXPECT_EQ(f.reopens, 1);
  EXPECT_EQ(f.operations, 2 + 6);
  EXPECT_EQ(f.startups, 1);
  EXPECT_EQ(f.startupsOk, 1);
  EXPECT_EQ(f.commands.at("LeTexto").resends, 2);
  EXPECT_EQ(r.exchanges.back().errorName, "ErroCupomFechado");
}

}  // namespace
}  // namespace tarvo::report
