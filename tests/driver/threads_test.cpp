// Several host threads on the simulated line, with tracing on at levels 1
// and 2 (`make tsan` runs this suite under ThreadSanitizer): staging never
// reaches another thread's running operation, a getter waits for the end of
// a running exchange, and a session ended by one thread is never left open
// by another thread's open.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "driver/driver_state.h"
#include "facade/fc_state.h"
#include "serial/sim/sim_line.h"
#include "support/frames.h"
#include "support/fresh_state.h"
#include "support/temp_dir.h"
#include "tarvo.h"

namespace tarvo {
namespace {

std::string ParamsOf(const std::string& frame) {
  const size_t first = frame.find(';');
  const size_t second = frame.find(';', first + 1);
  return frame.substr(second + 1, frame.rfind(';') - second - 1);
}

class Threads : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    test::FreshState();
    sim::Reset();
    test::StartTrace(GetParam());
    ASSERT_EQ(IniciaDriver("COM1"), 1);
    fcState.fcHandle = 1;
    sim::SetWriteHook(&Threads::Answer, this);
  }
  void TearDown() override {
    sim::Reset();
    driverState.port.Close();
  }

  // The printer: records each request and answers it 1 ms later. A test
  // may also run `during` on the exchange's thread once, as the request
  // arrives.
  static void Answer(void* self, const char* data, size_t length) {
    auto* test = static_cast<Threads*>(self);
    const std::string frame(data, length);
    test->frames.push_back(frame);
    if (test->during) std::exchange(test->during, nullptr)();
    const std::string answer = test::AnswerFrame(test::RequestId(frame), "0", "ValorTexto=\"ok\"");
    sim::SendBytesAfter(1, answer.data(), answer.size());
  }

  test::TempDir dir;
  std::vector<std::string> frames;  // only ever touched by the exchange's thread
  std::function<void()> during;
};

TEST_P(Threads, StagingFromAnotherThreadNeverReachesARunningFcOperacao) {
  constexpr int kSales = 300;
  std::atomic<bool> selling{true};
  std::thread other([&] {
    while (selling) {
      AdicionaParam(1, "Quantidade", "50", 0);
      LimpaParams(1);
    }
  });
  FcCommand cmd{};
  int failures = 0;
  for (int i = 0; i < kSales; ++i) {
    std::strcpy(cmd.command, "VendeItem");
    std::strcpy(cmd.params[0].name, "Descricao");
    std::snprintf(cmd.params[0].value, sizeof cmd.params[0].value, "item%d", i);
    cmd.params[0].type = TARVO_TYPE_QUOTED;
    std::strcpy(cmd.params[1].name, "PrecoUnitario");
    std::snprintf(cmd.params[1].value, sizeof cmd.params[1].value, "%d,00", i);
    failures += FC_Operacao(2, &cmd, nullptr, nullptr) != 0;
  }
  selling = false;
  other.join();

  EXPECT_EQ(failures, 0);
  ASSERT_EQ(frames.size(), static_cast<size_t>(kSales));
  for (int i = 0; i < kSales; ++i) {
    const std::string sale =
        "Descricao=\"item" + std::to_string(i) + "\" PrecoUnitario=" + std::to_string(i) + ",00";
    EXPECT_EQ(ParamsOf(frames[static_cast<size_t>(i)]), sale);
  }
}

// The getters of another thread, called while the exchange waits for its
// answer, give the answer of that exchange, never the emptied results.
TEST_P(Threads, GettersDuringAnExchangeWaitForItsEnd) {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::string name, value;
  int code = -99;
  std::thread reader;
  during = [&] {
    reader = std::thread([&] {
      char text[TARVO_VALUE_SIZE] = "untouched";
      ObtemNomeErro(1, text, 0);
      name = text;
      code = ObtemCodErro(1);
      Retorno(1, 0, "ValorTexto", 0, text, 0);
      value = text;
      std::lock_guard<std::mutex> g(m);
      done = true;
      cv.notify_all();
    });
    // The reader must not get through while this exchange runs: it is
    // given time to, and the answer comes only afterwards.
    std::unique_lock<std::mutex> l(m);
    EXPECT_FALSE(cv.wait_for(l, std::chrono::milliseconds(300), [&] { return done; }));
  };
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), 1);
  reader.join();
  EXPECT_EQ(name, "OK");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(value, "ok");
}

// IniciaDriver and EncerraDriver racing: whatever the order, a session is
// open exactly when its port is, and nothing stays open behind a closed one.
TEST_P(Threads, EncerraDriverAgainstIniciaDriverLeavesNoPortBehindAClosedSession) {
  for (int round = 0; round < 300; ++round) {
    if (round % 2 == 0) EncerraDriver(1);
    std::atomic<int> ready{0};
    auto start = [&ready] {
      ++ready;
      while (ready < 2) std::this_thread::yield();
    };
    std::thread opener([&] {
      start();
      IniciaDriver("COM1");
    });
    std::thread closer([&] {
      start();
      EncerraDriver(1);
    });
    opener.join();
    closer.join();
    ASSERT_EQ(driverState.fArq == 1, driverState.port.IsOpen()) << round;
    ASSERT_EQ(sim::AnyDeviceOpen(), driverState.port.IsOpen()) << round;
  }
  EncerraDriver(1);
  EXPECT_FALSE(sim::AnyDeviceOpen());
}

INSTANTIATE_TEST_SUITE_P(TraceLevel, Threads, ::testing::Values(1, 2));

}  // namespace
}  // namespace tarvo
