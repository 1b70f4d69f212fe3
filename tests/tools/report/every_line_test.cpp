// Every trace line of the library's catalogue is written by the library
// through it, known to tarvo report and explained in docs/trace.md: a line
// added to the catalogue without either fails here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "report/decode.h"
#include "report/trace_log.h"
#include "support/temp_dir.h"
#include "trace/trace_lines.h"

namespace tarvo::report {
namespace {

// A format filled in as the library would: the tag, then sample values.
std::string Filled(const char* format) {
  std::string s;
  bool tag = true;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p == '\n' && p[1] == '\0') break;
    if (*p != '%') {
      s.push_back(*p);
      continue;
    }
    while (p[1] >= '0' && p[1] <= '9') ++p;
    ++p;
    s += tag ? "2900" : (*p == 'd' ? "1" : "x");
    tag = false;
  }
  return s;
}

// The fixed words of a format after the call's name and tag, as far as the
// first conversion: what docs/trace.md must show.
std::string FixedWords(const char* format) {
  std::string rest = std::string(format).substr(std::string(format).find('%') + 2);
  if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
  return rest.substr(0, rest.find_first_of("%\n"));
}

TEST(EveryTraceLine, IsReadBackAsItselfDecodedAndExplained) {
  size_t count = 0;
  const TraceLineInfo* lines = TraceLines(&count);
  ASSERT_GT(count, 35u);
  const std::string doc = test::ReadFile(TARVO_SOURCE_DIR "/docs/trace.md");
  for (size_t i = 0; i < count; ++i) {
    const std::string text = Filled(lines[i].format);
    EXPECT_EQ(MatchTraceLine(text).line, lines[i].line) << text;
    LogFile log;
    // A start-up first, so that its own lines have one to belong to.
    log.content =
        "01/02/26 10:00:00 - FC_Inicializa2900 <INICIO> Porta=COM1 Nivel Log=1\n"
        "01/02/26 10:00:00 - " +
        text + "\n";
    ReadRecords(&log, 0);
    ASSERT_EQ(log.records.size(), 2u) << text;
    EXPECT_EQ(Decode(log.records).unknownLines, 0u) << text;
    const std::string words = FixedWords(lines[i].format);
    EXPECT_NE(doc.find(words), std::string::npos) << "docs/trace.md lacks: " << words;
  }
}

// The library writes no line outside the catalogue.
TEST(EveryTraceLine, NoLiteralFormatLeftInTheLibrary) {
  const std::string command = "python3 " TARVO_SOURCE_DIR "/scripts/trace-lines.py check";
  EXPECT_EQ(std::system(command.c_str()), 0);
}

}  // namespace
}  // namespace tarvo::report
