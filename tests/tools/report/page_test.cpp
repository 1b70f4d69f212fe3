// The report on odd input and as a page: linear time on an adversarial
// log, times clamped, the page written only into a regular file, notes
// apart from failures and each explanation written once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include "report/decode.h"
#include "report/render.h"
#include "report/report.h"
#include "report/trace_log.h"
#include "support/temp_dir.h"

namespace tarvo::report {
namespace {

// Any 5 MB log reads in linear time: an answer frame that never ends,
// followed by continuation lines, once made every line rescan the frame so
// far (211 s for 2.4 MB). CPU time, so that a loaded machine does not fail
// it; the sanitizers' builds are given their usual slowdown.
TEST(ReportSpeed, AdversarialFiveMegabyteLogInUnderASecond) {
  std::string log =
      "01/02/26 10:00:00 - EnviaComando2900 bufTx={5;LeTexto;;13} \n"
      "01/02/26 10:00:00 - EnviaComando2900 bufRx={5;0;V=\"";
  while (log.size() < 5'000'000) log += " bufTx= Descartando bufRx[0]= IdCmdRecebido=1\n";
  LogFile file;
  file.content = log;
  const std::clock_t start = std::clock();
  ReadRecords(&file, 0);
  const Report r = Decode(file.records);
  const std::string page = Html({file}, r, Count(r));
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
#if defined(__SANITIZE_ADDRESS__)
  constexpr double kLimit = 8.0;
#else
  constexpr double kLimit = 1.0;
#endif
  EXPECT_LT(seconds, kLimit);
  EXPECT_EQ(file.records.size(), 2u);
}

// Stamps 99 years apart, or going back, give no negative nor overflowing
// height on the page.
TEST(ReportPage, TimesAreClamped) {
  LogFile log;
  log.content =
      "Arquivo de LOG t.txt:\n\n"
      "31/12/99 23:59:59 - EnviaComando2900 bufTx={5;LeTexto;;13} \n"
      "01/01/00 00:00:00 - EnviaComando2900 bufRx={5;0;V=\"a\";11}\n";
  ReadRecords(&log, 0);
  const Report r = Decode(log.records);
  ASSERT_EQ(r.exchanges.size(), 1u);
  EXPECT_EQ(r.exchanges[0].Seconds(), 0);
  const std::string page = Html({log}, r, Count(r));
  EXPECT_EQ(page.find("height=\"-"), std::string::npos);
  // The tooltip shows the frames, as the page promises.
  EXPECT_NE(page.find("request {5;LeTexto;;13}"), std::string::npos);
}

// The page goes into a regular file only: a link in its place is refused
// and its target left as it was.
TEST(ReportCommand, PageIsNeverWrittenThroughALink) {
  test::TempDir dir;
  test::WriteFile("t.txt", "01/02/26 10:00:00 - FC_Finaliza2900\n");
  test::WriteFile("victim", "keep");
  ASSERT_EQ(symlink("victim", "tarvo-report.html"), 0);
  EXPECT_EQ(RunReport({"t.txt"}), 2);
  EXPECT_EQ(test::ReadFile("victim"), "keep");
}

// Notes of the session (no registry file) stay out of the failures, once
// per kind, and every explanation is written once.
TEST(ReportPage, NotesApartAndEachExplanationOnce) {
  LogFile log;
  std::string text;
  for (int i = 0; i < 3; ++i) {
    text += "01/02/26 10:00:0" + std::to_string(i) +
            " - IniciaDriver2900 Erro na abertura do Register\n"
            "01/02/26 10:00:0" +
            std::to_string(i) + " - EnviaComando2900 retRead=1460 bRetrans=0 dwRead=0\n";
  }
  log.content = text;
  ReadRecords(&log, 0);
  const Report r = Decode(log.records);
  const std::string page = Html({log}, r, Count(r));
  size_t rows = 0, explained = 0;
  for (size_t at = page.find("data-kind="); at != std::string::npos;
       at = page.find("data-kind=", at + 1)) {
    ++rows;
  }
  const std::string meaning = AdviceForExchange(r.exchanges[0]).meaning;
  for (size_t at = page.find(meaning); at != std::string::npos; at = page.find(meaning, at + 1)) {
    ++explained;
  }
  EXPECT_EQ(rows, 3u);  // the three failures, not the notes
  EXPECT_EQ(explained, 1u);
  EXPECT_NE(page.find("data-note=\"no-registry\""), std::string::npos);
  EXPECT_NE(page.find("(3 times)"), std::string::npos);
}

}  // namespace
}  // namespace tarvo::report
