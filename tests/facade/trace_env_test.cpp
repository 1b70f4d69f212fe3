// TARVO_TRACE: tracing for any host without configuration files, on the
// simulated line.
#include "trace/trace_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "driver/driver_state.h"
#include "serial/sim/sim_line.h"
#include "support/fresh_state.h"
#include "support/scripted_printer.h"
#include "support/temp_dir.h"
#include "tarvo.h"
#include "trace/trace.h"

namespace tarvo {
namespace {

using test::FileExists;
using test::TempDir;
using test::TraceLines;

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool AnyFileEndingWith(const std::string& suffix) {
  for (const auto& e : std::filesystem::directory_iterator(".")) {
    const std::string name = e.path().filename().string();
    if (name.size() >= suffix.size() && name.ends_with(suffix)) return true;
  }
  return false;
}

TEST(TraceEnvGrammar, LevelAndOptionalBaseName) {
  const struct {
    const char* value;
    TraceEnvResult result;
    int level;
    const char* base;
  } cases[] = {
      {nullptr, TraceEnvResult::Unset, 0, ""},
      {"", TraceEnvResult::Unset, 0, ""},
      {"0", TraceEnvResult::Unset, 0, ""},
      {"0:x", TraceEnvResult::Unset, 0, ""},
      {"1", TraceEnvResult::On, 1, "TARVO"},
      {"9", TraceEnvResult::On, 9, "TARVO"},
      {"2:/var/log/pos/ecf", TraceEnvResult::On, 2, "/var/log/pos/ecf"},
      {"12", TraceEnvResult::Malformed, 0, ""},
      {"on", TraceEnvResult::Malformed, 0, ""},
      {" 1", TraceEnvResult::Malformed, 0, ""},
      {"1:", TraceEnvResult::Malformed, 0, ""},
      {"1;x", TraceEnvResult::Malformed, 0, ""},
  };
  for (const auto& c : cases) {
    TraceEnvSetting s;
    s.level = 7;
    EXPECT_EQ(ParseTraceEnv(c.value, &s), c.result) << (c.value ? c.value : "(unset)");
    EXPECT_EQ(s.level, c.level) << (c.value ? c.value : "(unset)");
    EXPECT_STREQ(s.base, c.base) << (c.value ? c.value : "(unset)");
  }
  // The log name must fit the 52-byte path with ".txt": 47 characters.
  TraceEnvSetting s;
  const std::string fits = "1:" + std::string(47, 'a');
  EXPECT_EQ(ParseTraceEnv(fits.c_str(), &s), TraceEnvResult::On);
  EXPECT_EQ(ParseTraceEnv((fits + "a").c_str(), &s), TraceEnvResult::Malformed);
  EXPECT_STREQ(s.base, "");
}

class TraceEnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FreshState();
    sim::Reset();
    printer_ = std::make_unique<test::ScriptedPrinter>();
  }
  void TearDown() override {
    test::SetEnvironment(kTraceEnvName, nullptr);
    driverState.port.Close();
    test::FreshState();
  }
  TempDir dir_;
  std::unique_ptr<test::ScriptedPrinter> printer_;
};

TEST_F(TraceEnvTest, DriverOnlyHostTracesEverySessionIntoTheNamedLog) {
  test::SetEnvironment(kTraceEnvName, "1:drv");
  ASSERT_EQ(IniciaDriver("COM1"), 1);
  printer_->Reply("0", "ValorInteiro=5");
  LimpaParams(1);
  EXPECT_EQ(ExecutaComando(1, "LeInteiro"), 1);
  EXPECT_EQ(EncerraDriver(1), 0);
  // Tracing stopped with the session and starts again with the next one.
  ASSERT_EQ(IniciaDriver("COM2"), 1);
  EncerraDriver(1);

  const auto lines = TraceLines("drv.txt");
  EXPECT_TRUE(HasLine(lines, "IniciaDriver2900 PortaSerial=COM1"));
  EXPECT_TRUE(HasLine(lines, "EncerraDriver2900 Handle=1"));
  EXPECT_TRUE(HasLine(lines, "IniciaDriver2900 PortaSerial=COM2"));
  // Level 1 is verbose: the frames are there.
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("bufTx={") != std::string::npos;
  }));
  EXPECT_FALSE(AnyFileEndingWith(".cfg"));
}

TEST_F(TraceEnvTest, UnsetOrMalformedChangesNothingForADriverOnlyHost) {
  for (const char* value : {static_cast<const char*>(nullptr), "yes", "0"}) {
    if (value != nullptr) test::SetEnvironment(kTraceEnvName, value);
    ASSERT_EQ(IniciaDriver("COM1"), 1);
    EncerraDriver(1);
    EXPECT_FALSE(FileExists("TARVO.txt")) << (value ? value : "(unset)");
    EXPECT_FALSE(AnyFileEndingWith(".cfg")) << (value ? value : "(unset)");
  }
}

TEST_F(TraceEnvTest, FacadeStartUpKeepsOneLogAndWritesNoConfiguration) {
  test::SetEnvironment(kTraceEnvName, "2");
  printer_->Reply("0", "ValorTexto=\"ABC123\"");
  printer_->Reply("0", "ValorInteiro=1");
  ASSERT_EQ(FC_Inicializa("COM1"), 0);
  printer_->Reply("0", "");
  FcCommand cmd{};
  std::snprintf(cmd.command, sizeof cmd.command, "AbreCupom");
  int len = 0;
  char text[TARVO_FC_TEXT_SIZE];
  EXPECT_EQ(FC_Operacao(0, &cmd, &len, text), 0);
  FC_Finaliza();

  const auto lines = TraceLines("TARVO.txt");
  EXPECT_TRUE(HasLine(lines, "FC_Inicializa2900 <INICIO> Porta=COM1 Nivel Log=2"));
  EXPECT_TRUE(HasLine(lines, "FC_Inicializa2900 <FIM> com sucesso"));
  EXPECT_TRUE(HasLine(lines, "FC_Operacao2900 numParam=0 Cmd=AbreCupom"));
  EXPECT_TRUE(HasLine(lines, "EncerraDriver2900 Handle=1"));
  // Level 2 leaves the verbose lines out.
  EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("bufTx={") != std::string::npos;
  }));
  EXPECT_FALSE(AnyFileEndingWith(".cfg"));
  EXPECT_FALSE(FileExists("TV_ABC123_1.txt"));
}

// TARVO_TRACE names a file; the wrap would overwrite the start of anything
// that is not a trace log. Only an empty file, a log's header or a wrapped
// log's stamped line may be written.
TEST_F(TraceEnvTest, WritesOnlyIntoAnEmptyFileOrATraceLog) {
  const std::string notes(6000, 'n');
  test::WriteFile("notes.txt", notes);
  test::SetEnvironment(kTraceEnvName, "1:notes");
  ASSERT_EQ(IniciaDriver("COM1"), 1);
  EncerraDriver(1);
  EXPECT_EQ(test::ReadFile("notes.txt"), notes);

  test::WriteFile("old.txt", "01/02/26 10:00:00 - EncerraDriver2900 Handle=1\n");
  test::SetEnvironment(kTraceEnvName, "1:old");
  ASSERT_EQ(IniciaDriver("COM1"), 1);
  EncerraDriver(1);
  EXPECT_TRUE(HasLine(TraceLines("old.txt"), "IniciaDriver2900 PortaSerial=COM1"));
}

}  // namespace
}  // namespace tarvo
