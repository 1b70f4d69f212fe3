// tarvo report's reading and decoding on logs that the library writes on
// the simulated line: wraps at a small size limit (many lines in the same
// second, so only the cut line tells where the newest lines end), and the
// CTS and write failures that a pseudo-terminal can't produce.
#include "report/report.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "driver/driver_state.h"
#include "facade/fc_state.h"
#include "report/decode.h"
#include "report/format.h"
#include "report/render.h"
#include "report/trace_log.h"
#include "serial/sim/sim_line.h"
#include "support/fresh_state.h"
#include "support/scripted_printer.h"
#include "support/temp_dir.h"
#include "tarvo.h"
#include "trace/trace.h"

namespace tarvo::report {
namespace {

class ReportOnSimLine : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FreshState();
    sim::Reset();
  }
  // Verbose tracing into test.txt with the given size limit.
  static void Trace(int size) {
    test::WriteFile("test.cfg", "Trace=1\nTamanho=" + std::to_string(size));
    traceState.logTag = "2900";
    traceState.nivelLog = static_cast<uint8_t>(TraceConfigRead("test"));
    TraceLogOpen("test.txt");
  }
  static LogFile Load() {
    LogFile log;
    std::string error;
    EXPECT_TRUE(LoadLog("test.txt", 0, &log, &error)) << error;
    return log;
  }
  static int Numbered(std::string_view text) {
    const size_t at = text.find("bufTx={");
    return at == std::string_view::npos ? -1 : std::atoi(std::string(text.substr(at + 7)).c_str());
  }
  test::TempDir dir;
};

TEST_F(ReportOnSimLine, LogWrappedManyTimesInOneSecondComesBackInOrder) {
  Trace(700);
  for (int i = 1; i <= 200; ++i) {
    // Lines of varying length, some with a line end inside the frame.
    LogLine("EnviaComando%s bufTx={%d;LeTexto;%s;0} \n", LogTag(), i,
            i % 7 == 0 ? "Texto=\"a\nb\"" : std::string(static_cast<size_t>(i % 13), 'x').c_str());
  }
  const LogFile log = Load();
  EXPECT_TRUE(log.wrapped);
  EXPECT_GT(log.skippedBytes, 0u);
  ASSERT_GT(log.records.size(), 10u);
  EXPECT_EQ(Numbered(log.records.back().text), 200);
  for (size_t i = 1; i < log.records.size(); ++i) {
    EXPECT_EQ(Numbered(log.records[i].text), Numbered(log.records[i - 1].text) + 1) << i;
  }
  EXPECT_EQ(log.wrapOffset, static_cast<size_t>(traceState.logPos));
}

TEST_F(ReportOnSimLine, LogThatNeverWrappedKeepsItsOrderAndHeader) {
  Trace(5000000);
  for (int i = 1; i <= 20; ++i) LogLine("EnviaComando%s bufTx={%d;A;;0} \n", LogTag(), i);
  const LogFile log = Load();
  EXPECT_TRUE(log.header);
  EXPECT_FALSE(log.wrapped);
  ASSERT_EQ(log.records.size(), 20u);
  EXPECT_EQ(Numbered(log.records.front().text), 1);
}

TEST_F(ReportOnSimLine, CtsLossThenTheHoldAndAWriteFailureAreDecoded) {
  test::ScriptedPrinter printer;
  Trace(5000000);
  ASSERT_EQ(IniciaDriver("COM1"), 1);
  sim::SetCts(false);
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), -1);  // CTS_1
  sim::SetCts(true);
  printer.Reply("0", "ValorTexto=\"A\"");
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), 1);  // after the 20-second hold
  sim::FailWrites(31);
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), -1);
  sim::FailWrites(0);
  sim::SetCtsAt(sim::NowMs() + 10, false);
  printer.ReplyRaw("{%ID%;0;", 10);
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), -1);  // CTS_3
  EncerraDriver(1);

  const LogFile log = Load();
  if (const char* keep = std::getenv("TARVO_REPORT_KEEP_LOGS")) {
    test::WriteFile(std::string(keep) + "/cts.txt", log.content);
  }
  const Report r = Decode(log.records);
  ASSERT_EQ(r.exchanges.size(), 4u);
  EXPECT_EQ(r.exchanges[0].outcome, Outcome::NoCts);
  EXPECT_EQ(r.exchanges[0].ctsStage, '1');
  EXPECT_EQ(r.exchanges[0].id, -1);  // nothing was sent
  EXPECT_EQ(r.exchanges[1].outcome, Outcome::Ok);
  EXPECT_TRUE(r.exchanges[1].ctsHeld);
  EXPECT_EQ(r.exchanges[2].outcome, Outcome::WriteError);
  EXPECT_EQ(r.exchanges[2].retWrite, 31);
  EXPECT_EQ(r.exchanges[3].outcome, Outcome::NoCts);
  EXPECT_EQ(r.exchanges[3].ctsStage, '3');
  EXPECT_EQ(r.exchanges[3].command, "LeTexto");
  const Figures f = Count(r);
  EXPECT_EQ(f.ctsLost, 2);
  EXPECT_EQ(f.ctsHeld, 1);
  EXPECT_EQ(f.failed, 3);
  EXPECT_EQ(Verdict(r).rfind("The printer stopped answering at ", 0), 0u) << Verdict(r);
  EXPECT_NE(Verdict(r).find("the last 2 exchanges failed (1 no CTS, 1 write failed)"),
            std::string::npos);
}

// Below level 1 the frames are not written: a failure still counts, under
// the command of the facade operation it belongs to, and so do its resends.
TEST_F(ReportOnSimLine, WithoutFramesFailuresBelongToTheirOperation) {
  test::ScriptedPrinter printer;
  test::WriteFile("test.cfg", "Trace=2\n");
  traceState.logTag = "2900";
  traceState.nivelLog = static_cast<uint8_t>(TraceConfigRead("test"));
  TraceLogOpen("test.txt");
  ASSERT_EQ(IniciaDriver("COM1"), 1);
  fcState.fcHandle = 1;
  for (int i = 0; i < 3; ++i) printer.Ignore();
  static FcCommand cmd;
  std::strcpy(cmd.command, "LeMoeda");
  EXPECT_EQ(FC_Operacao(0, &cmd, nullptr, nullptr), 11010);
  printer.Reply("0", "");
  std::strcpy(cmd.command, "AbreCupom");
  EXPECT_EQ(FC_Operacao(0, &cmd, nullptr, nullptr), 0);

  const Report r = Decode(Load().records);
  EXPECT_FALSE(r.verbose);
  ASSERT_EQ(r.exchanges.size(), 3u);
  for (const Exchange& e : r.exchanges) {
    EXPECT_EQ(e.command, "LeMoeda");
    EXPECT_EQ(e.outcome, Outcome::NoAnswer);
    EXPECT_EQ(e.operation, 0);
  }
  EXPECT_FALSE(r.exchanges[0].resend);
  EXPECT_TRUE(r.exchanges[2].resend);
  ASSERT_EQ(r.operations.size(), 2u);
  EXPECT_TRUE(r.operations[1].exchanges.empty());
  EXPECT_EQ(Count(r).commands.at("AbreCupom").operations, 1);
  // The level is named first: a level-2 log hides every answered exchange.
  EXPECT_EQ(Verdict(r).rfind("Frames are not traced (trace level 2)", 0), 0u) << Verdict(r);
  EXPECT_NE(Verdict(r).find("Failures came and went"), std::string::npos) << Verdict(r);
}

// A scan of COM7 to COM22 that finds no port: sixteen tries, each with the
// reason its port did not open, and the start-up's end.
TEST_F(ReportOnSimLine, FailedPortScanShowsEveryPortAndItsReason) {
  test::WriteFile("TARVO.cfg", "Trace=1\n");
  for (int n = 7; n <= 22; ++n) sim::FailOpen(("COM" + std::to_string(n)).c_str(), 2);
  EXPECT_EQ(FC_Inicializa("COMU"), TARVO_BAD_CHANNEL);
  LogFile log;
  std::string error;
  ASSERT_TRUE(LoadLog("TARVO.txt", 0, &log, &error)) << error;
  const Report r = Decode(log.records);
  ASSERT_EQ(r.startups.size(), 1u);
  EXPECT_EQ(r.startups[0].port, "COMU");
  EXPECT_EQ(r.startups[0].result, "no port answered");
  int tried = 0;
  int refused = 0;
  int badName = 0;
  for (const auto& [stamp, words] : r.startups[0].phases) {
    tried += words.rfind("scan: USB", 0) == 0;
    refused += words == "open failed: 2: no such device";
    badName += words.rfind("the port name is not", 0) == 0;
  }
  EXPECT_EQ(tried, 16);
  // COM9 is refused by its name (its fourth character is 9) and never opened.
  EXPECT_EQ(refused, 15);
  EXPECT_EQ(badName, 1);
  EXPECT_EQ(r.notes.size(), 15u + 15u + 1u);  // per port: no registry key, the open
  EXPECT_EQ(r.unknownLines, 0u);
}

TEST_F(ReportOnSimLine, OpenFailureAndRegistryLinesBecomeNotes) {
  Trace(5000000);
  sim::SetRegistryKey(true);
  sim::SetCommSettingsText("COM1:9600,N,8,1");
  sim::FailOpen("COM2", 13);
  EXPECT_EQ(IniciaDriver("COM2"), TARVO_BAD_CHANNEL);
  EXPECT_EQ(IniciaDriver("COM9"), TARVO_BAD_CHANNEL);
  const Report r = Decode(Load().records);
  std::string kinds;
  for (const Note& n : r.notes) kinds += n.kind + " ";
  EXPECT_EQ(kinds, "bad-settings bad-settings open-failed bad-channel ");
  EXPECT_EQ(r.unknownLines, 0u);
}

// A discarded line-end byte and a printed text break a line; a log from a
// Windows host ends its lines with CR LF. Neither is a wrap.
TEST(ReportReading, LineEndsInsideLinesAndWindowsLineEnds) {
  for (const std::string eol : {"\n", "\r\n"}) {
    LogFile log;
    log.content = "Arquivo de LOG t.txt:" + eol + eol +
                  "01/02/26 10:00:00 - EnviaComando2900 bufTx={5;LeImpressao;;16} " + eol +
                  "01/02/26 10:00:00 - EnviaComando2900 Descartando bufRx[0]=\n" + eol +
                  "01/02/26 10:00:01 - EnviaComando2900 bufRx={5;0;TextoImpressao=\"a" + eol +
                  "b\";30}" + eol + "01/02/26 10:00:01 - FC_Finaliza2900" + eol;
    ReadRecords(&log, 0);
    EXPECT_FALSE(log.wrapped);
    EXPECT_EQ(log.skippedBytes, 0u);
    ASSERT_EQ(log.records.size(), 4u);
    EXPECT_EQ(log.records[3].text, "FC_Finaliza2900");
    const Report r = Decode(log.records);
    ASSERT_EQ(r.exchanges.size(), 1u);
    EXPECT_EQ(r.exchanges[0].outcome, Outcome::Ok);
    EXPECT_EQ(r.exchanges[0].discarded, 1);
    EXPECT_EQ(r.exchanges[0].discardedBytes, "\n");
    EXPECT_EQ(r.exchanges[0].Seconds(), 1);
    EXPECT_EQ(r.unknownLines, 0u);
  }
}

// A code in a trace line is the system's own number: errno in a Linux log,
// GetLastError in a Windows one (told by its CR LF line ends).
TEST(ReportReading, SystemCodesAreReadForTheSystemThatWroteTheLog) {
  for (const bool windows : {false, true}) {
    const std::string eol = windows ? "\r\n" : "\n";
    LogFile log;
    log.content = "01/02/26 10:00:00 - IniciaDriver2900 Erro [5] na inicializacao da COM" + eol +
                  "01/02/26 10:00:01 - EnviaComando2900 bufTx={5;LeTexto;;13} " + eol +
                  "01/02/26 10:00:09 - EnviaComando2900 retRead=6 bRetrans=0 dwRead=0" + eol;
    ReadRecords(&log, 0);
    const Report r = Decode(log.records);
    ASSERT_EQ(r.notes.size(), 1u);
    EXPECT_EQ(r.notes[0].codeWords, windows ? "5: access denied: another program holds the port"
                                            : "5: input/output error: the device went away");
    ASSERT_EQ(r.exchanges.size(), 1u);
    EXPECT_EQ(r.exchanges[0].codeWords.find("or no such device") != std::string::npos, !windows);
    EXPECT_NE(WhatHappened(r.exchanges[0]).find("the port is not open"), std::string::npos);
  }
}

// Lines of another thread inside an exchange (a refused FC_Operacao, an
// EncerraDriver that closes the port under it) do not end it.
TEST(ReportReading, AnotherThreadsLinesInsideAnExchangeDoNotEndIt) {
  LogFile log;
  log.content =
      "01/02/26 10:00:00 - FC_Operacao2900 numParam=0 Cmd=LeMoeda\n"
      "01/02/26 10:00:00 - EnviaComando2900 bufTx={5;LeMoeda;;13} \n"
      "01/02/26 10:00:01 - FC_Operacao2900 numParam=0 Cmd=AbreCupom\n"
      "01/02/26 10:00:02 - EncerraDriver2900 Handle=1\n"
      "01/02/26 10:00:02 - EnviaComando2900 CTS_3 OUT\n"
      "01/02/26 10:00:02 - ExecutaComando2900 retCom=-1\n";
  ReadRecords(&log, 0);
  const Report r = Decode(log.records);
  ASSERT_EQ(r.exchanges.size(), 1u);
  EXPECT_EQ(r.exchanges[0].command, "LeMoeda");
  EXPECT_EQ(r.exchanges[0].outcome, Outcome::NoCts);
  EXPECT_EQ(r.exchanges[0].operation, 0);
  EXPECT_EQ(r.exchanges[0].Seconds(), 2);
}

// The page carries every figure under the name JSON gives it, holds no
// script and refers to nothing outside itself.
TEST(ReportPage, SelfContainedAndCarriesEveryFigure) {
  test::TempDir dir;
  test::WriteFile("t.txt",
                  "Arquivo de LOG t.txt:\n\n"
                  "01/02/26 10:00:00 - EnviaComando2900 bufTx={5;LeTexto;N=\"<b>\";20} \n"
                  "01/02/26 10:00:00 - EnviaComando2900 Descartando bufRx[0]=<\n"
                  "01/02/26 10:00:01 - EnviaComando2900 bufRx={5;0;V=\"&\";11}\n");
  std::vector<LogFile> logs(1);
  std::string error;
  ASSERT_TRUE(LoadLog("t.txt", 0, &logs[0], &error));
  const Report r = Decode(logs[0].records);
  const Figures f = Count(r);
  const std::string page = Html(logs, r, f);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("src="), std::string::npos);
  EXPECT_EQ(page.find("href="), std::string::npos);
  EXPECT_EQ(page.find("@import"), std::string::npos);
  EXPECT_EQ(page.find("\"<b>\""), std::string::npos);  // trace text is escaped
  EXPECT_NE(page.find("data-figure=\"exchanges\">1<"), std::string::npos);
  EXPECT_NE(page.find("data-figure=\"discarded-bytes\">1<"), std::string::npos);
  EXPECT_EQ(f.answerSeconds[1], 1);
}

TEST(ReportCommand, BadArgumentsAndUnreadableLogsExitWithTwo) {
  test::TempDir dir;
  EXPECT_EQ(RunReport({}), 2);
  EXPECT_EQ(RunReport({"--bogus", "x"}), 2);
  EXPECT_EQ(RunReport({"-o"}), 2);
  EXPECT_EQ(RunReport({"missing.txt"}), 2);
  test::WriteFile("empty.txt", "not a trace\n");
  EXPECT_EQ(RunReport({"empty.txt"}), 2);
  EXPECT_EQ(RunReport({"--json", "-o", "-", "empty.txt"}), 2);
  test::WriteFile("t.txt", "01/02/26 10:00:00 - FC_Finaliza2900\n");
  EXPECT_EQ(RunReport({"-o", "no/such/dir/page.html", "t.txt"}), 2);
  EXPECT_EQ(RunReport({"-o", "page.html", "--", "t.txt"}), 0);
  test::WriteFile("new.txt", "Arquivo de LOG new.txt:\n\n");
  EXPECT_EQ(RunReport({"-o", "page.html", "new.txt"}), 0);
  EXPECT_TRUE(test::FileExists("page.html"));
}

}  // namespace
}  // namespace tarvo::report
