// Every trace line the library's code can write is known to tarvo report
// and explained in docs/trace.md: a line added to the library without
// either fails here.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "report/decode.h"
#include "report/trace_log.h"
#include "support/temp_dir.h"

namespace tarvo::report {
namespace {

// The format of every LogLine call under src/.
std::set<std::string> TraceFormats() {
  std::set<std::string> formats;
  const std::regex call(R"re(LogLine\(\s*"((?:[^"\\]|\\.)*)")re");
  for (const auto& entry : std::filesystem::recursive_directory_iterator(TARVO_SOURCE_DIR "/src")) {
    if (entry.path().extension() != ".cpp") continue;
    const std::string text = test::ReadFile(entry.path().string());
    for (auto m = std::sregex_iterator(text.begin(), text.end(), call); m != std::sregex_iterator();
         ++m) {
      formats.insert((*m)[1].str());
    }
  }
  return formats;
}

// A format filled in as the library would: the tag, then sample values.
std::string Filled(std::string format) {
  format = std::regex_replace(format, std::regex(R"(\\n$)"), "");
  format = std::regex_replace(format, std::regex("^([A-Za-z_]+)%s"), "$012900");
  format = std::regex_replace(format, std::regex("%0?2?d"), "1");
  format = std::regex_replace(format, std::regex("%[sc]"), "x");
  return format;
}

// The fixed words of a format after the call's name and tag, as far as the
// first conversion: what docs/trace.md must show.
std::string FixedWords(const std::string& format) {
  std::smatch m;
  const std::string rest = std::regex_replace(format, std::regex("^[A-Za-z_]+%s ?"), "");
  std::regex_search(rest, m, std::regex("^[^%\\\\]*"));
  return m.str();
}

TEST(EveryTraceLine, IsDecodedAndExplained) {
  const std::set<std::string> formats = TraceFormats();
  ASSERT_GT(formats.size(), 35u);
  const std::string doc = test::ReadFile(TARVO_SOURCE_DIR "/docs/trace.md");
  for (const std::string& format : formats) {
    LogFile log;
    // A start-up first, so that its own lines have one to belong to.
    log.content =
        "01/02/26 10:00:00 - FC_Inicializa2900 <INICIO> Porta=COM1 Nivel Log=1\n"
        "01/02/26 10:00:00 - " +
        Filled(format) + "\n";
    ReadRecords(&log, 0);
    ASSERT_EQ(log.records.size(), 2u) << format;
    EXPECT_EQ(Decode(log.records).unknownLines, 0u) << format;
    const std::string words = FixedWords(format);
    EXPECT_NE(doc.find(words), std::string::npos) << "docs/trace.md lacks: " << words;
  }
}

}  // namespace
}  // namespace tarvo::report
