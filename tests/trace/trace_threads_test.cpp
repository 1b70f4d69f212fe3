// The trace written by several threads at once: every line in the log is
// whole and stamped, and none is lost (`make tsan` runs this suite under
// ThreadSanitizer).
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "serial/sim/sim_line.h"
#include "support/fresh_state.h"
#include "support/temp_dir.h"
#include "trace/trace.h"

namespace tarvo {
namespace {

TEST(TraceThreads, TwoThreadsWriteOnlyWholeStampedLines) {
  constexpr int kLines = 2000;
  test::FreshState();
  sim::Reset();
  test::TempDir dir;
  test::StartTrace(1);
  // Each thread's lines are long enough that a line formatted over
  // another thread's half-written one shows.
  const std::string payloadA(60, 'a');
  const std::string payloadB(90, 'b');
  auto write = [](const char* name, const std::string& payload) {
    for (int i = 0; i < kLines; ++i) {
      LogLine("%s%s line=%d %s\n", name, LogTag(), i, payload.c_str());
      if (i % 500 == 0) TraceVerbose();
    }
  };
  std::thread a(write, "ThreadA", payloadA);
  std::thread b(write, "ThreadB", payloadB);
  a.join();
  b.join();
  TraceStop();

  const std::string log = test::ReadFile("test.txt");
  EXPECT_EQ(log.find('\0'), std::string::npos) << "no zero bytes";
  static const std::regex line(
      R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d - Thread([AB])2900 line=(\d+) ([ab]+)\r?)");
  std::istringstream in(log);
  std::string text;
  int seen[2] = {0, 0};
  int bad = 0;
  while (std::getline(in, text)) {
    if (text.rfind("Arquivo de LOG", 0) == 0 || text.empty() || text == "\r") continue;
    std::smatch m;
    const bool ok =
        std::regex_match(text, m, line) && m[3].str() == (m[1].str() == "A" ? payloadA : payloadB);
    if (!ok) {
      if (++bad < 5) ADD_FAILURE() << "torn line: " << text;
      continue;
    }
    ++seen[m[1].str() == "A" ? 0 : 1];
  }
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(seen[0], kLines);
  EXPECT_EQ(seen[1], kLines);
}

}  // namespace
}  // namespace tarvo
