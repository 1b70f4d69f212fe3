// Logs that end differently from a whole session: copied in the middle of
// an exchange, with a line carrying markup and cp1252 text, written below
// trace level 1 with the last operation failed. Read as a technician reads
// them: the page tarvo report writes and the JSON it prints.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/json.h"
#include "driver/driver_state.h"
#include "facade/fc_state.h"
#include "report/report.h"
#include "serial/sim/sim_line.h"
#include "support/fresh_state.h"
#include "support/scripted_printer.h"
#include "support/temp_dir.h"
#include "tarvo.h"
#include "trace/trace.h"

namespace tarvo::report {
namespace {

// The JSON tarvo report prints for one log, and its page in page.html.
std::string ReportJson(const std::string& log) {
  testing::internal::CaptureStdout();
  const int status = RunReport({"--json", "-o", "page.html", log});
  const std::string json = testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, 0);
  return json;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A log copied while the printer was still answering ends with a request
// and no answer (here only a stale one, discarded): that exchange has no
// traced end, and it is no failure.
TEST(LogEnds, LogCopiedMidExchangeCountsNoTracedEndNotAFailure) {
  test::TempDir dir;
  test::WriteFile("t.txt",
                  "Arquivo de LOG t.txt:\n\n"
                  "01/02/26 10:00:00 - EnviaComando2900 bufTx={5;LeTexto;N=\"a\";20} \n"
                  "01/02/26 10:00:01 - EnviaComando2900 bufRx={5;0;V=\"b\";11}\n"
                  "01/02/26 10:00:02 - EnviaComando2900 bufTx={6;LeTexto;N=\"a\";20} \n"
                  "01/02/26 10:00:03 - EnviaComando2900 bufRx={5;0;V=\"b\";11}\n"
                  "01/02/26 10:00:03 - EnviaComando2900 IdCmdRecebido=5 IdCmdEnviado=6 "
                  "bDescartaResp=1\n");
  const std::string json = ReportJson("t.txt");
  EXPECT_TRUE(Has(json, "\"exchanges\":2,")) << json;
  EXPECT_TRUE(Has(json, "\"answered\":1,")) << json;
  EXPECT_TRUE(Has(json, "\"failed\":0,")) << json;
  EXPECT_TRUE(Has(json, "\"unfinished\":1,")) << json;
  EXPECT_FALSE(Has(json, "stopped answering")) << json;
  EXPECT_TRUE(Has(json, "\"failures\":[]")) << json;
  // Nor is it timed among the failures.
  const size_t times = json.find("\"failureSeconds\":[");
  ASSERT_NE(times, std::string::npos);
  const std::string buckets = json.substr(times + 18, json.find(']', times) - times - 18);
  EXPECT_EQ(buckets.find_first_not_of("0,"), std::string::npos) << buckets;
}

// When failures came and went, the verdict counts each kind of failure,
// and only failures: where a technician should look first.
TEST(LogEnds, VerdictAfterFailuresThatCameAndWentCountsEachKindOfFailure) {
  test::TempDir dir;
  test::WriteFile("t.txt",
                  "Arquivo de LOG t.txt:\n\n"
                  "01/02/26 10:00:00 - EnviaComando2900 bufTx={1;LeTexto;;14} \n"
                  "01/02/26 10:00:05 - EnviaComando2900 retRead=1460 bRetrans=0 dwRead=0\n"
                  "01/02/26 10:00:06 - EnviaComando2900 bufTx={2;LeTexto;;14} \n"
                  "01/02/26 10:00:06 - EnviaComando2900 Ret=0 CRCREC=20 CRCCALC=21 bRetrans=0\n"
                  "01/02/26 10:00:07 - EnviaComando2900 bufTx={3;LeTexto;;14} \n"
                  "01/02/26 10:00:07 - EnviaComando2900 Ret=0 CRCREC=20 CRCCALC=21 bRetrans=0\n"
                  "01/02/26 10:00:08 - EnviaComando2900 bufTx={4;LeTexto;;14} \n"
                  "01/02/26 10:00:08 - EnviaComando2900 bufRx={4;0;;8}\n");
  const std::string json = ReportJson("t.txt");
  EXPECT_TRUE(Has(json, "Failures came and went")) << json;
  EXPECT_TRUE(Has(json, "answered after them: 1 no answer, 2 damaged answer;")) << json;
}

// Whatever a line carries reaches the page as text: markup is escaped and
// cp1252 letters become UTF-8, in a start-up's port name as in a line the
// report shows as it stands.
TEST(LogEnds, MarkupAndCp1252InTheLogAreEscapedOnThePage) {
  test::TempDir dir;
  test::WriteFile("t.txt",
                  "Arquivo de LOG t.txt:\n\n"
                  "01/02/26 10:00:00 - FC_Inicializa2900 <INICIO> Porta=<u>&\xe7 Nivel Log=1\n"
                  "01/02/26 10:00:00 - IniciaDriver2900 PortaSerial=<u>&\xe7\n"
                  "01/02/26 10:00:00 - IniciaDriver2900 Erro [2] na inicializacao da COM "
                  "<i>&\xe9\n");
  const std::string json = ReportJson("t.txt");
  const std::string page = test::ReadFile("page.html");
  EXPECT_FALSE(Has(page, "<i>"));
  EXPECT_FALSE(Has(page, "<u>"));
  EXPECT_FALSE(Has(page, "\xe9"));
  EXPECT_FALSE(Has(page, "\xe7<"));
  EXPECT_TRUE(Has(page, "&lt;i&gt;&amp;\xc3\xa9"));
  EXPECT_TRUE(Has(page, "&lt;u&gt;&amp;\xc3\xa7"));
  EXPECT_TRUE(Has(json, "<i>&\xc3\xa9")) << json;
}

// A frame is the printer's bytes: a quote, a backslash, control bytes and
// cp1252 letters in it must leave the JSON valid, and come back from it as
// the text they are.
TEST(LogEnds, ControlBytesQuotesAndCp1252InAFrameLeaveTheJsonValid) {
  test::TempDir dir;
  test::WriteFile("t.txt",
                  "Arquivo de LOG t.txt:\n\n"
                  "01/02/26 10:00:00 - EnviaComando2900 "
                  "bufTx={1;LeTexto;N=\"\\\x01\x1b\x7f\xe7\x80\x81\";14} \n"
                  "01/02/26 10:00:00 - EnviaComando2900 bufRx={1;0;;8}\n");
  const tools::Json json = tools::Json::parse(ReportJson("t.txt"));
  ASSERT_EQ(json["exchanges"].size(), 1u);
  EXPECT_EQ(json["exchanges"][0]["request"],
            "{1;LeTexto;N=\"\\\x01\x1b\x7f\xc3\xa7\xe2\x82\xac\xef\xbf\xbd\";14}");
}

// Below trace level 1 an answered operation leaves no exchange in the log.
// When the last operation is the one that failed, the printer stopped
// answering; the verdict must say so, not that failures came and went.
TEST(LogEnds, LevelTwoLogWhoseLastOperationFailedSaysThePrinterStopped) {
  test::TempDir dir;
  test::FreshState();
  sim::Reset();
  test::ScriptedPrinter printer;
  test::WriteFile("test.cfg", "Trace=2\n");
  traceState.logTag = "2900";
  traceState.nivelLog = static_cast<uint8_t>(TraceConfigRead("test"));
  TraceLogOpen("test.txt");
  ASSERT_EQ(IniciaDriver("COM1"), 1);
  fcState.fcHandle = 1;
  static FcCommand cmd;
  printer.Reply("0", "");
  std::strcpy(cmd.command, "AbreCupom");
  EXPECT_EQ(FC_Operacao(0, &cmd, nullptr, nullptr), 0);
  for (int i = 0; i < 3; ++i) printer.Ignore();
  std::strcpy(cmd.command, "LeMoeda");
  EXPECT_EQ(FC_Operacao(0, &cmd, nullptr, nullptr), 11010);
  EncerraDriver(1);

  const std::string json = ReportJson("test.txt");
  EXPECT_TRUE(Has(json, "\"framesTraced\":false")) << json;
  EXPECT_TRUE(Has(json, "The printer stopped answering at ")) << json;
  EXPECT_TRUE(Has(json, " no answer). ")) << json;
  EXPECT_FALSE(Has(json, "came and went")) << json;
  test::FreshState();
}

// One failed exchange at the very end is enough: the printer has stopped
// answering until a later exchange shows otherwise.
TEST(LogEnds, ALogWhoseVeryLastExchangeFailedSaysThePrinterStopped) {
  test::TempDir dir;
  test::WriteFile("t.txt",
                  "Arquivo de LOG t.txt:\n\n"
                  "01/02/26 10:00:00 - EnviaComando2900 bufTx={1;LeTexto;;14} \n"
                  "01/02/26 10:00:00 - EnviaComando2900 bufRx={1;0;;8}\n"
                  "01/02/26 10:00:01 - EnviaComando2900 bufTx={2;LeTexto;;14} \n"
                  "01/02/26 10:00:06 - EnviaComando2900 retRead=1460 bRetrans=0 dwRead=0\n");
  const std::string json = ReportJson("t.txt");
  EXPECT_TRUE(Has(json, "stopped answering")) << json;
}

}  // namespace
}  // namespace tarvo::report
