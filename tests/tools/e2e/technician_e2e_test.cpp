// The command-line host against the emulator, as a technician uses it:
// --trace traces only what was asked, identify leaves the directory clean,
// a value missing from the answer is an error, open failures say why.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e/emulator_process.h"
#include "support/temp_dir.h"

namespace tarvo::test {
namespace {

struct Ran {
  int status;
  std::string out, err;
};

Ran Shell(const std::string& command) {
  const int raw = std::system((command + " </dev/null >out.txt 2>err.txt").c_str());
  Ran r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile("out.txt"), ReadFile("err.txt")};
  std::filesystem::remove("out.txt");
  std::filesystem::remove("err.txt");
  return r;
}

std::vector<std::string> FilesHere() {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(".")) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Technician : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(emu_.Port().empty()) << emu_.Log(); }
  std::string Cli() const { return std::string(TARVO_CLI_PATH) + " -p " + emu_.Port(); }
  TempDir emuDir_;  // the emulator's files, out of the directory under test
  TempDir dir_;     // the current directory from here on
  EmulatorProcess emu_{EmulatorOptions{.serial = "TEC0001",
                                       .control = emuDir_.Path() + "/control",
                                       .log = emuDir_.Path() + "/emulator.log",
                                       .args = {"--ecf", "2"}}};
};

TEST_F(Technician, TraceShowsOnlyTheUsersCommandAndItsFailure) {
  // The emulator stays silent for the first request: with hidden start-ups
  // before it, that silence would hit them instead of the user's command.
  // Real time: the driver's whole recovery from a silent printer, about 9 s.
  emu_.Fault("silence 1");
  const Ran r = Shell(Cli() + " --trace LeInteiro NomeInteiro=COO");
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_NE(r.out.find("code=11010"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("FC_Inicializa"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("ExecutaComando2900"), std::string::npos) << r.err;
  EXPECT_EQ(FilesHere(), std::vector<std::string>{});
  // Standard error is a file here: the wait is told in one whole line, and
  // the failure says what to try next.
  EXPECT_NE(r.err.find("tarvo: LeInteiro: no answer for 5 s; the driver is trying to wake the "
                       "printer"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("\r"), std::string::npos);
  EXPECT_NE(r.err.find("try 'tarvo why " + emu_.Port() + "'"), std::string::npos) << r.err;
}

TEST_F(Technician, IdentifyLeavesNoConfigurationFilesBehind) {
  const Ran r = Shell(Cli() + " identify");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("value.NumeroSerieECF=TEC0001"), std::string::npos) << r.out;
  // result= means what it means for a command: an answer came.
  EXPECT_NE(r.out.find("result=1\ncode=0\n"), std::string::npos) << r.out;
  EXPECT_EQ(FilesHere(), std::vector<std::string>{});
  EXPECT_EQ(r.err, "");

  // Through TARVO_TRACE: one log, no configuration file, and its name.
  const Ran env = Shell("TARVO_TRACE=2:shop " + Cli() + " identify");
  EXPECT_EQ(env.status, 0);
  EXPECT_NE(env.err.find("trace file: shop.txt"), std::string::npos) << env.err;
  EXPECT_EQ(FilesHere(), std::vector<std::string>{"shop.txt"});
  std::filesystem::remove("shop.txt");

  // Asked for through TARVO.cfg (tarvo trace on), the trace stays, the
  // printer's new file is switched on at the same level so that its own
  // log is written from the next start-up on, and the tool says where.
  WriteFile("TARVO.cfg", "Trace=2\n");
  const Ran traced = Shell(Cli() + " identify");
  EXPECT_EQ(traced.status, 0);
  EXPECT_NE(traced.err.find("TARVO.txt"), std::string::npos) << traced.err;
  EXPECT_NE(traced.err.find("TV_TEC0001_2.cfg switched on at level 2"), std::string::npos)
      << traced.err;
  EXPECT_EQ(FilesHere(), (std::vector<std::string>{"TARVO.cfg", "TARVO.txt", "TV_TEC0001_2.cfg"}));
  EXPECT_EQ(ReadFile("TV_TEC0001_2.cfg").rfind("Trace=2\n", 0), 0u);
}

// Root passes the driver's exclusive lock: tarvo looks for another holder
// first, whoever runs it, and names it instead of sharing the printer.
TEST_F(Technician, APortAnotherProcessHoldsIsRefusedAndNamed) {
  const int held = open(emu_.Port().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(held, 0);
  const Ran r = Shell(Cli() + " LeInteiro NomeInteiro=COO");
  const Ran why = Shell(std::string(TARVO_CLI_PATH) + " why " + emu_.Port());
  close(held);
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("is held by process " + std::to_string(getpid())), std::string::npos)
      << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(why.status, 3) << why.out;
  EXPECT_EQ(Shell(std::string(TARVO_CLI_PATH) + " why " + emu_.Port()).status, 0);
}

TEST_F(Technician, AValueMissingFromTheAnswerIsAnError) {
  const Ran r = Shell(Cli() + " LeInteiro NomeInteiro=COO -r ValorInteiro -r Nada");
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_NE(r.out.find("value.ValorInteiro="), std::string::npos);
  EXPECT_NE(r.err.find("the answer has no value Nada"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("ValorInteiro"), std::string::npos) << r.err;
}

TEST_F(Technician, AnOpenFailureSaysWhyInOneLineAndInJson) {
  Ran r = Shell(std::string(TARVO_CLI_PATH) + " -p ./dev/ttyUSB7 LeTexto");
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("/dev/ttyUSB7 does not exist"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  r = Shell(std::string(TARVO_CLI_PATH) + " --json -p COM9 LeTexto");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out.rfind("{\"command\":\"open\",\"ok\":false,\"port\":\"COM9\"", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\"cause\":\"bad-name\""), std::string::npos) << r.out;
  r = Shell(std::string(TARVO_CLI_PATH) + " --json -p COM1 -f missing-script");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out.rfind("{\"ok\":false,\"status\":2,\"error\":\"cannot read missing-script", 0), 0u)
      << r.out;
}

}  // namespace
}  // namespace tarvo::test
