// The trace configuration and the wrapping log, on real files in a fresh
// temporary directory.
#include "trace/trace.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <ctime>
#include <filesystem>
#include <regex>
#include <string>

#include "serial/sim/sim_line.h"
#include "support/temp_dir.h"

namespace tarvo {
namespace {

using test::FileExists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class Trace : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    traceState = TraceState{};
  }
  void TearDown() override { traceState = TraceState{}; }

  // Tracing on at level 1 into log.txt with the given wrap size.
  static void StartLog(int size) {
    WriteFile("log.cfg", "Trace=1\nTamanho=" + std::to_string(size));
    ASSERT_EQ(TraceConfigRead("log"), 1);
    ASSERT_NE(TraceLogOpen("log.txt"), nullptr);
  }

  TempDir dir_;
};

// The log and the configuration file are text files: on Windows their
// line ends are CR LF.
#ifdef _WIN32
const std::string kEol = "\r\n";
#else
const std::string kEol = "\n";
#endif
const std::string kLogHeader = "Arquivo de LOG log.txt:" + kEol + kEol;
const size_t kHeader = kLogHeader.size();

// A trace line of known length: the 20-byte stamp, 19 markers, the line end.
std::string Body(char marker) { return std::string(19, marker) + kEol; }
const size_t kLine = 20 + Body('x').size();
void Line(char marker) { LogLine("%s\n", std::string(19, marker).c_str()); }

TEST_F(Trace, AMissingConfigurationIsCreatedWithTracingOff) {
  EXPECT_EQ(TraceConfigRead("TARVO"), 0);
  EXPECT_EQ(ReadFile("TARVO.cfg"), "Trace=0" + kEol + "Tamanho=5000000");
  EXPECT_EQ(traceState.traceLevel, 0);
  EXPECT_EQ(traceState.maxLogSize, 5000000);
  EXPECT_EQ(TraceLogOpen("TARVO.txt"), nullptr);
  LogLine("IniciaDriver%s PortaSerial=%s\n", "2900", "COM1");
  EXPECT_FALSE(FileExists("TARVO.txt"));

  // Read again, the default content still means off.
  EXPECT_EQ(TraceConfigRead("TARVO"), 0);
}

TEST_F(Trace, ConfigurationLevelDigitAndSize) {
  struct Case {
    std::string text;
    int level;
    int size;
  } const cases[] = {
      {"Trace=1\nTamanho=900", 1, 900},
      {"Trace=2\r\n", 2, 5000000},
      {"Xyzzy=3\nTamanho=1200\n", 3, 1200},     // the word before "=" is not examined
      {"Trace=\nTamanho=5000000", 5, 5000000},  // the level is the size's first digit
      {"Trace=\nTamanho=4000000", 4, 5000000},
      {"Trace = 1\nTamanho=900", 0, 5000000},  // offset 5 is a blank
      {"Trace=1\nTamanho=0", 1, 5000000},
      {"Trace=1\nTamanho=abc", 1, 5000000},
      {"Trace=1\nTamanho= 700", 1, 700},
      {"Trace=17 Tamanho=800", 1, 800},  // one digit only
      {"Trace=0\nTamanho=900", 0, 900},
      {"Trace=1\n" + std::string(40, ' ') + "Tamanho=900", 1, 5000000},  // past 50 bytes
      {"Trace", 0, 5000000},
      {"", 0, 5000000},
  };
  for (const Case& c : cases) {
    traceState.maxLogSize = 123;  // every read starts again from the default
    WriteFile("c.cfg", c.text);
    EXPECT_EQ(TraceConfigRead("c"), c.level) << c.text;
    EXPECT_EQ(traceState.traceLevel, c.level) << c.text;
    EXPECT_EQ(traceState.maxLogSize, c.size) << c.text;
  }
}

TEST_F(Trace, ANewLogStartsWithItsHeaderAndLinesCarryALocalTimeStamp) {
  WriteFile("t.cfg", "Trace=2\n");
  ASSERT_EQ(TraceConfigRead("t"), 2);
  ASSERT_NE(TraceLogOpen("t.txt"), nullptr);
  const std::string header = "Arquivo de LOG t.txt:" + kEol + kEol;
  EXPECT_EQ(ReadFile("t.txt"), header);
  EXPECT_EQ(traceState.logPos, static_cast<int>(header.size()));

  auto stampNow = [] {
    const std::time_t now = std::time(nullptr);
    char text[32];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"  // the log's stamp has a two-digit year
    std::strftime(text, sizeof text, "%d/%m/%y %H:%M:%S - ", std::localtime(&now));
#pragma GCC diagnostic pop
    return std::string(text);
  };
  const std::string before = stampNow();
  LogLine("IniciaDriver%s PortaSerial=%s\n", "2900", "COM1");
  const std::string after = stampNow();

  const std::string content = ReadFile("t.txt");
  ASSERT_GT(content.size(), header.size());
  const std::string line = content.substr(header.size());
  ASSERT_GT(line.size(), 20u);
  const std::string stamp = line.substr(0, 20);
  EXPECT_TRUE(stamp == before || stamp == after) << stamp;
  EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d - )")));
  EXPECT_EQ(line.substr(20), "IniciaDriver2900 PortaSerial=COM1" + kEol);
  EXPECT_EQ(traceState.logPos, static_cast<int>(content.size()));

  // Opening an existing log adds no header and continues at its end.
  ASSERT_NE(TraceLogOpen("t.txt"), nullptr);
  EXPECT_EQ(traceState.logPos, static_cast<int>(content.size()));
  EXPECT_EQ(ReadFile("t.txt"), content);
}

TEST_F(Trace, ALogPastItsSizeWrapsOverTheHeaderAndKeepsItsSize) {
  StartLog(static_cast<int>(kHeader + 2 * kLine - 5));
  Line('1');
  Line('2');  // now past the size
  const std::string full = ReadFile("log.txt");
  ASSERT_EQ(full.size(), kHeader + 2 * kLine);
  EXPECT_EQ(full.substr(0, kHeader), kLogHeader);

  Line('3');
  EXPECT_EQ(traceState.logWrapped, 1);
  EXPECT_EQ(traceState.logPos, static_cast<int>(kLine));
  Line('4');
  EXPECT_EQ(traceState.logPos, static_cast<int>(2 * kLine));

  const std::string wrapped = ReadFile("log.txt");
  ASSERT_EQ(wrapped.size(), full.size());
  EXPECT_EQ(wrapped.substr(20, kLine - 20), Body('3'));
  EXPECT_EQ(wrapped.substr(kLine + 20, kLine - 20), Body('4'));
  // The oldest line's tail is still there.
  EXPECT_EQ(wrapped.substr(2 * kLine), full.substr(2 * kLine));
}

TEST_F(Trace, ALogExactlyAtItsSizeDoesNotWrapYet) {
  StartLog(static_cast<int>(kHeader + 2 * kLine));
  Line('1');
  Line('2');
  Line('3');  // at the size, not past it: appended
  EXPECT_EQ(traceState.logWrapped, 0);
  EXPECT_EQ(ReadFile("log.txt").size(), kHeader + 3 * kLine);
  Line('4');
  EXPECT_EQ(traceState.logWrapped, 1);
  EXPECT_EQ(ReadFile("log.txt").size(), kHeader + 3 * kLine);
}

TEST_F(Trace, ALogDeletedWhileTracingIsRecreatedWithoutHeader) {
  StartLog(static_cast<int>(kHeader + kLine));
  Line('1');
  Line('2');
  Line('3');
  ASSERT_EQ(traceState.logWrapped, 1);
  std::filesystem::remove("log.txt");

  Line('5');
  EXPECT_EQ(traceState.logWrapped, 0);
  EXPECT_EQ(traceState.logPos, static_cast<int>(kLine));
  Line('6');
  const std::string content = ReadFile("log.txt");
  ASSERT_EQ(content.size(), 2 * kLine);
  EXPECT_EQ(content.substr(20, kLine - 20), Body('5'));
  EXPECT_EQ(content.substr(kLine + 20, kLine - 20), Body('6'));
}

TEST_F(Trace, NamesThatDoNotFitTheirBuffersAreRefused) {
  const std::string base47(47, 'b');
  EXPECT_EQ(TraceConfigRead(base47.c_str()), 0);
  EXPECT_TRUE(FileExists(base47 + ".cfg"));

  // Tracing on, then a base name one character too long switches it off
  // and creates nothing, not even a shortened name.
  WriteFile("on.cfg", "Trace=1\n");
  ASSERT_EQ(TraceConfigRead("on"), 1);
  const std::string base48(48, 'c');
  EXPECT_EQ(TraceConfigRead(base48.c_str()), 0);
  EXPECT_EQ(traceState.traceLevel, 0);

  ASSERT_EQ(TraceConfigRead("on"), 1);
  const std::string path51 = std::string(47, 'p') + ".txt";
  EXPECT_NE(TraceLogOpen(path51.c_str()), nullptr);
  EXPECT_TRUE(FileExists(path51));
  const std::string path52 = std::string(48, 'q') + ".txt";
  EXPECT_EQ(TraceLogOpen(path52.c_str()), nullptr);
  LogLine("IniciaDriver%s Erro[canal]\n", "2900");
  EXPECT_EQ(TraceLogOpen("no-such-dir/x.txt"), nullptr);
  LogLine("IniciaDriver%s Erro[canal]\n", "2900");

  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == base47 + ".cfg" || name == "on.cfg" || name == path51) << name;
    ++files;
  }
  EXPECT_EQ(files, 3u);
  EXPECT_EQ(ReadFile(path51), "Arquivo de LOG " + path51 + ":" + kEol + kEol);
}

TEST_F(Trace, ALineLongerThanTheLineBufferIsCut) {
  StartLog(5000000);
  const size_t header = ReadFile("log.txt").size();
  LogLine("%s\n", std::string(20000, 'x').c_str());
  const std::string content = ReadFile("log.txt");
  EXPECT_GT(content.size(), header + 4000);
  EXPECT_LT(content.size(), header + 20000);
}

TEST_F(Trace, StopSwitchesTracingOffUntilTheNextConfigurationRead) {
  StartLog(5000000);
  TraceStop();
  EXPECT_EQ(traceState.traceLevel, 0);
  const std::string content = ReadFile("log.txt");
  LogLine("EncerraDriver%s Handle=%d\n", "2900", 1);
  EXPECT_EQ(ReadFile("log.txt"), content);

  // With tracing off, opening another log only gives back the last handle.
  EXPECT_NE(TraceLogOpen("other.txt"), nullptr);
  EXPECT_FALSE(FileExists("other.txt"));

  ASSERT_EQ(TraceConfigRead("log"), 1);
  LogLine("IniciaDriver%s Erro[canal]\n", "2900");
  EXPECT_NE(ReadFile("log.txt"), content);
}

#ifndef _WIN32
// A FIFO named like a trace file once held FC_Inicializa in open() forever;
// now it is a file that can't be opened, and tracing stays off.
TEST_F(Trace, AFifoNamedLikeATraceFileNeitherBlocksNorIsUsed) {
  ASSERT_EQ(mkfifo("TARVO.cfg", 0600), 0);
  EXPECT_EQ(TraceConfigRead("TARVO"), 0);
  EXPECT_EQ(traceState.traceLevel, 0);

  WriteFile("log.cfg", "Trace=1\n");
  ASSERT_EQ(TraceConfigRead("log"), 1);
  ASSERT_EQ(mkfifo("log.txt", 0600), 0);
  EXPECT_EQ(TraceLogOpen("log.txt"), nullptr);
  Line('a');  // returns: the line disappears
}

// A link named like a trace file would send the trace, whole frames of
// sales, into whatever file it points at; it acts as a file that can't be
// opened.
TEST_F(Trace, SymbolicLinksAreNotFollowed) {
  WriteFile("elsewhere.cfg", "Trace=1\n");
  ASSERT_EQ(symlink("elsewhere.cfg", "link.cfg"), 0);
  EXPECT_EQ(TraceConfigRead("link"), 0);
  EXPECT_EQ(ReadFile("elsewhere.cfg"), "Trace=1\n") << "not replaced by the default either";

  WriteFile("log.cfg", "Trace=1\n");
  ASSERT_EQ(TraceConfigRead("log"), 1);
  WriteFile("precious.txt", "keep");
  ASSERT_EQ(symlink("precious.txt", "log.txt"), 0);
  EXPECT_EQ(TraceLogOpen("log.txt"), nullptr);
  Line('a');
  EXPECT_EQ(ReadFile("precious.txt"), "keep");
}

TEST_F(Trace, ANewLogIsReadableByTheOwnersGroupAtMost) {
  const mode_t saved = umask(022);
  StartLog(1000);
  umask(saved);
  struct stat st {};
  ASSERT_EQ(stat("log.txt", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}
#endif

}  // namespace
}  // namespace tarvo
