// Two real threads on the simulated line: while one thread's exchange
// runs, the other thread's calls are refused without disturbing it, and a
// session ended from the other thread stays ended. Also the seed of a
// session's frame ids.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "driver/driver_state.h"
#include "facade/fc_state.h"
#include "serial/sim/sim_line.h"
#include "support/fresh_state.h"
#include "tarvo.h"

namespace tarvo {
namespace {

// Runs `other` on a second thread while the first thread's exchange has
// sent its request and not yet had an answer, and waits for it there.
class Overlap : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FreshState();
    sim::Reset();
    ASSERT_EQ(IniciaDriver("COM1"), 1);
    fcState.fcHandle = 1;
    sim::ClearRecords();
  }
  void TearDown() override {
    sim::Reset();
    driverState.port.Close();
  }

  // ExecutaComando(1, command) on this thread, with `other` run on another
  // thread from inside the exchange. The printer stays silent.
  int ExecuteWhile(const char* command, std::function<void()> other) {
    other_ = std::move(other);
    sim::SetWriteHook(&Overlap::DuringExchange, this);
    const int result = ExecutaComando(1, command);
    sim::SetWriteHook(nullptr, nullptr);
    return result;
  }

 private:
  static void DuringExchange(void* self, const char*, size_t) {
    auto* test = static_cast<Overlap*>(self);
    if (!test->other_) return;
    std::thread thread(std::move(test->other_));
    test->other_ = nullptr;
    thread.join();
  }
  std::function<void()> other_;
};

TEST_F(Overlap, CallsFromAnotherThreadAreRefusedAndFcOperacaoNeverReportsSuccess) {
  int executed = -99;
  int operated = -99;
  int outLen = -7;
  char outText[TARVO_FC_TEXT_SIZE];
  std::memset(outText, 'x', sizeof outText);
  FcCommand cmd{};
  std::strcpy(cmd.command, "LeTexto");
  std::strcpy(cmd.returnNames, "ValorTexto");
  cmd.timeoutMs = 9000;

  const int result = ExecuteWhile("LeInteiro", [&] {
    executed = ExecutaComando(1, "LeTexto");
    DefineTimeout(1, 9000);
    operated = FC_Operacao(0, &cmd, &outLen, outText);
  });

  EXPECT_EQ(executed, TARVO_BUSY);
  EXPECT_EQ(operated, TARVO_REFUSED_BUSY);
  EXPECT_EQ(outLen, -7);
  EXPECT_EQ(outText[0], 'x');
  EXPECT_STREQ(cmd.command, "LeTexto") << "the record can be passed again";
  EXPECT_EQ(cmd.timeoutMs, 9000);
  EXPECT_EQ(sim::CountEvents(sim::Kind::Write), 1u) << "only the running exchange sent";
  EXPECT_EQ(result, TARVO_EXCHANGE_FAILED);
  EXPECT_EQ(driverState.Timeout, 5000) << "DefineTimeout was ignored";
  EXPECT_EQ(driverState.cmdBusy, 0);
}

TEST_F(Overlap, EncerraDriverDuringASilentExchangeEndsTheSessionForGood) {
  int closed = -99;
  const int result = ExecuteWhile("LeInteiro", [&] { closed = EncerraDriver(1); });

  EXPECT_EQ(closed, 0);
  EXPECT_EQ(result, TARVO_EXCHANGE_FAILED);
  EXPECT_EQ(driverState.fArq, -1);
  EXPECT_EQ(sim::CountEvents(sim::Kind::Open), 0u) << "the port was not re-opened";
  EXPECT_FALSE(sim::AnyDeviceOpen());
  EXPECT_LT(sim::CountEvents(sim::Kind::SetBreak), 20u) << "nobody waits for the answer";
  EXPECT_EQ(IniciaDriver("COM1"), 1) << "the next session opens";
}

// The seed never repeats the previous session's, and never gives as first
// id the id of the last command sent: with the same command and parameters,
// the printer would take it for a resend and answer from memory.
TEST(SessionSeed, SessionsOpenedInTheSameSecondStartFromDifferentIds) {
  test::FreshState();
  sim::Reset();
  const auto openSession = [](int64_t seconds, int commands) {
    sim::SetCalendarSeconds(seconds);
    EXPECT_EQ(IniciaDriver("COM1"), 1);
    const int seed = driverState.cmdId;
    for (int i = 0; i < commands; ++i) ExecutaComando(1, "LeInteiro");
    EXPECT_EQ(EncerraDriver(1), 0);
    return seed;
  };
  EXPECT_EQ(openSession(254, 0), 254);
  EXPECT_EQ(openSession(254, 0), 0) << "not the previous seed, and never past 254";
  EXPECT_EQ(openSession(254, 0), 254);
  EXPECT_EQ(openSession(20, 3), 20);  // sends the ids 21, 22, 23
  EXPECT_EQ(openSession(22, 0), 23) << "a first id of 23 would repeat the last one sent";
}

}  // namespace
}  // namespace tarvo
