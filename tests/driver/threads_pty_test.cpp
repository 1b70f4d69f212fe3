// Several host threads over the real POSIX layer, with tracing on at
// levels 1 and 2 (`make tsan` runs this suite under ThreadSanitizer):
// two opens at once on a pseudo-terminal and on a network port give one
// session and leave no descriptor behind, and a stress run of random calls
// from several threads sends the printer only frames staged whole.
//
// The stress run lasts TARVO_STRESS_SECONDS seconds (2 when unset; make
// tsan runs it for 30).
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "facade/fc_state.h"
#include "support/frames.h"
#include "support/fresh_state.h"
#include "support/net_slow_server.h"
#include "support/pty.h"
#include "support/pty_printer.h"
#include "support/temp_dir.h"
#include "tarvo.h"

namespace tarvo {
namespace {

int OpenDescriptors() {
  int n = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++n;
    closedir(dir);
  }
  return n;
}

// Runs `call` on two threads released together; returns both results.
template <typename Call>
std::pair<int, int> Together(Call call) {
  std::atomic<int> ready{0};
  int results[2] = {0, 0};
  auto run = [&](int k) {
    ++ready;
    while (ready < 2) std::this_thread::yield();
    results[k] = call();
  };
  std::thread a(run, 0), b(run, 1);
  a.join();
  b.join();
  return {results[0], results[1]};
}

class ThreadsPty : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    test::FreshState();
    test::StartTrace(GetParam());
  }
  void TearDown() override {
    EncerraDriver(1);
    test::FreshState();
  }
  test::TempDir dir;
};

TEST_P(ThreadsPty, TwoOpensAtOnceOnAPseudoTerminalGiveOneSessionAndLeaveNoDescriptor) {
  test::Pty pty;
  const int before = OpenDescriptors();
  for (int round = 0; round < 20; ++round) {
    const auto [a, b] = Together([&] { return IniciaDriver(pty.SlavePath().c_str()); });
    EXPECT_EQ(a + b, 1 + TARVO_BAD_CHANNEL) << "one session, one refusal: " << a << " " << b;
    EXPECT_EQ(EncerraDriver(1), 0);
    EXPECT_EQ(OpenDescriptors(), before) << round;
  }
}

TEST_P(ThreadsPty, TwoOpensAtOnceOnANetworkPortGiveOneSessionAndLeaveNoConnection) {
  test::SlowNegotiationServer server;
  for (int round = 0; round < 3; ++round) {
    const auto [a, b] = Together([&] { return IniciaDriver(server.Url().c_str()); });
    EXPECT_EQ(a + b, 1 + TARVO_BAD_CHANNEL) << "one session, one refusal: " << a << " " << b;
    EXPECT_EQ(EncerraDriver(1), 0);
    EXPECT_TRUE(server.AllClosed()) << "every connection ended with the session";
  }
  EXPECT_EQ(server.Accepted(), 3) << "the second open never connected";
}

// ---- Stress ---------------------------------------------------------------

int StressSeconds() {
  const char* value = std::getenv("TARVO_STRESS_SECONDS");
  const int seconds = value != nullptr ? std::atoi(value) : 0;
  return seconds > 0 ? seconds : 2;
}

// One host thread: random calls until the deadline. Its facade operations
// stage NomeTexto and Marca with one mark, thread-iteration; its staging
// noise is whole Quantidade=50 items, which only its plain ExecutaComando
// may send.
void RandomCalls(int thread, std::chrono::steady_clock::time_point deadline,
                 std::atomic<int>* unexpected) {
  std::mt19937 random(static_cast<unsigned>(thread));
  FcCommand cmd{};
  char text[TARVO_VALUE_SIZE];
  int outLen = 0;
  for (int i = 0; std::chrono::steady_clock::now() < deadline; ++i) {
    const std::string mark = std::to_string(thread) + "-" + std::to_string(i);
    switch (random() % 6) {
      case 0: {
        std::strcpy(cmd.command, "LeTexto");
        std::strcpy(cmd.returnNames, "ValorTexto");
        std::strcpy(cmd.params[0].name, "NomeTexto");
        std::strcpy(cmd.params[0].value, mark.c_str());
        cmd.params[0].type = TARVO_TYPE_QUOTED;
        std::strcpy(cmd.params[1].name, "Marca");
        std::strcpy(cmd.params[1].value, mark.c_str());
        const int r = FC_Operacao(2, &cmd, &outLen, text);
        if (r != 0 && r != TARVO_REFUSED_BUSY) ++*unexpected;
        if (r == 0 && std::strcmp(text, "\"ok\"") != 0) ++*unexpected;
        break;
      }
      case 1: AdicionaParam(1, "Quantidade", "50", 0); break;
      case 2: LimpaParams(1); break;
      case 3: {
        const int r = ExecutaComando(1, "LeInteiro");
        if (r != 1 && r != TARVO_BUSY) ++*unexpected;
        break;
      }
      case 4:
        ObtemCodErro(1);
        ObtemNomeErro(1, text, 0);
        ObtemCircunstancia(1, text, 0);
        Retorno(1, 0, "ValorTexto", 0, text, 0);
        break;
      default: DefineTimeout(1, 6000); break;
    }
  }
}

TEST_P(ThreadsPty, RandomCallsFromFourThreadsSendOnlyFramesStagedWhole) {
  test::Pty pty;
  ASSERT_EQ(IniciaDriver(pty.SlavePath().c_str()), 1);
  fcState.fcHandle = 1;
  test::PtyPrinter printer(pty, 1u << 30, [](const std::string& request) {
    return test::AnswerFrame(test::RequestId(request), "0", "ValorTexto=\"ok\"");
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(StressSeconds());
  std::atomic<int> unexpected{0};
  std::vector<std::thread> hosts;
  for (int t = 0; t < 4; ++t) hosts.emplace_back(RandomCalls, t, deadline, &unexpected);
  for (auto& h : hosts) h.join();
  EXPECT_EQ(EncerraDriver(1), 0);
  printer.Join();  // the line is closed: it stops at once

  EXPECT_EQ(unexpected, 0);
  static const std::regex sale(R"re(\{\d+;LeTexto;NomeTexto="(\d+-\d+)" Marca=\1;\d+\})re");
  static const std::regex noise(R"(\{\d+;LeInteiro;(Quantidade=50( Quantidade=50)*)?;\d+\})");
  int torn = 0;
  for (const std::string& frame : printer.Requests()) {
    if (!std::regex_match(frame, sale) && !std::regex_match(frame, noise) && ++torn < 5) {
      ADD_FAILURE() << "not staged whole: " << frame;
    }
  }
  EXPECT_EQ(torn, 0);
  EXPECT_GT(printer.Requests().size(), 10u);
}

INSTANTIATE_TEST_SUITE_P(TraceLevel, ThreadsPty, ::testing::Values(1, 2));

}  // namespace
}  // namespace tarvo
