// How the report reads an answer's fields, counts resends and times a
// refusal: logs written by hand in the library's own line formats, read as
// a technician reads them, through the JSON tarvo report prints.
#include <gtest/gtest.h>

#include <string>

#include "report/report.h"
#include "support/temp_dir.h"

namespace tarvo::report {
namespace {

const char kHeader[] = "Arquivo de LOG t.txt:\n\n";

std::string ReportJsonOf(const std::string& lines) {
  test::WriteFile("t.txt", kHeader + lines);
  testing::internal::CaptureStdout();
  const int status = RunReport({"--json", "-o", "page.html", "t.txt"});
  const std::string json = testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, 0);
  return json;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The numbers of one array of buckets in the JSON, as text.
std::string Buckets(const std::string& json, const std::string& key) {
  const size_t at = json.find("\"" + key + "\":[");
  if (at == std::string::npos) return "missing";
  const size_t begin = at + key.size() + 4;
  return json.substr(begin, json.find(']', begin) - begin);
}

// A ';' inside a quoted value is text, not a field separator: the page
// must show the printer's whole circumstance.
TEST(ReportAnswers, ASemicolonInsideQuotesStaysInTheValue) {
  test::TempDir dir;
  const std::string json = ReportJsonOf(
      "01/02/26 10:00:00 - EnviaComando2900 bufTx={1;AbreCupom;;14} \n"
      "01/02/26 10:00:01 - EnviaComando2900 bufRx={1;6;NomeErro=\"ErroCupomFechado\" "
      "Circunstancia=\"Nao ha cupom; abra um\";70}\n");
  EXPECT_EQ(Count(json, "\"circumstance\":\"Nao ha cupom; abra um\""), 1u) << json;
  EXPECT_EQ(Count(json, "\"errorName\":\"ErroCupomFechado\""), 1u) << json;
}

// An operation is sent at most three times: the exchange after the third
// failed send belongs to the next command, not to the failed one.
TEST(ReportAnswers, TheExchangeAfterThreeFailedSendsIsNoResend) {
  test::TempDir dir;
  const std::string json = ReportJsonOf(
      "01/02/26 10:00:00 - FC_Operacao2900 numParam=0 Cmd=LeTexto\n"
      "01/02/26 10:00:00 - EnviaComando2900 bufTx={1;LeTexto;;14} \n"
      "01/02/26 10:00:05 - EnviaComando2900 retRead=1460 bRetrans=0 dwRead=0\n"
      "01/02/26 10:00:05 - EnviaComando2900 bufTx={2;LeTexto;;14} \n"
      "01/02/26 10:00:10 - EnviaComando2900 retRead=1460 bRetrans=1 dwRead=0\n"
      "01/02/26 10:00:10 - EnviaComando2900 bufTx={3;LeTexto;;14} \n"
      "01/02/26 10:00:15 - EnviaComando2900 retRead=1460 bRetrans=1 dwRead=0\n"
      "01/02/26 10:00:16 - EnviaComando2900 bufTx={4;LeMoeda;;14} \n"
      "01/02/26 10:00:16 - EnviaComando2900 bufRx={4;0;;8}\n");
  EXPECT_EQ(Count(json, "\"resend\":true"), 2u) << json;
  EXPECT_EQ(Count(json, "\"resend\":false"), 2u) << json;
}

// A refusal is an answer: its time counts among the answers, and the
// failures' times stay empty.
TEST(ReportAnswers, ARefusalIsTimedAmongTheAnswers) {
  test::TempDir dir;
  const std::string json = ReportJsonOf(
      "01/02/26 10:00:00 - EnviaComando2900 bufTx={1;AbreCupom;;14} \n"
      "01/02/26 10:00:03 - EnviaComando2900 bufRx={1;6;NomeErro=\"ErroCupomFechado\";40}\n");
  const std::string failures = Buckets(json, "failureSeconds");
  EXPECT_EQ(failures.find_first_not_of("0,"), std::string::npos) << failures;
  EXPECT_NE(Buckets(json, "answerSeconds").find_first_not_of("0,"), std::string::npos) << json;
}

}  // namespace
}  // namespace tarvo::report
