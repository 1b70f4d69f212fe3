// The exchange engine over a port that heals its own link (a network
// port), on the simulated line's virtual clock: a 30-second outage takes
// milliseconds.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "driver/driver_state.h"
#include "serial/sim/sim_line.h"
#include "support/fresh_state.h"
#include "support/scripted_printer.h"
#include "support/temp_dir.h"
#include "tarvo.h"

namespace tarvo {
namespace {

using sim::Kind;

class HealSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FreshState();
    sim::Reset();
    sim::SetHeals(true);
    printer = std::make_unique<test::ScriptedPrinter>();
    test::StartTrace(1);
    ASSERT_EQ(IniciaDriver("COM1"), 1);
    sim::ClearRecords();
  }
  void TearDown() override {
    EncerraDriver(1);
    test::FreshState();
  }
  std::string Circumstance() {
    char text[TARVO_CIRCUMSTANCE_SIZE] = {};
    ObtemCircunstancia(1, text, 0);
    return text;
  }
  test::TempDir dir;
  std::unique_ptr<test::ScriptedPrinter> printer;
};

// A re-open would fail while the server is away and end the session for
// good; a healing port stays open and comes back by itself.
TEST_F(HealSimTest, SilenceOnAHealingPortLeavesItOpenInsteadOfOpeningItAgain) {
  printer->Ignore();
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), -1);
  EXPECT_EQ(Circumstance(), "Erro de Recepcao");
  EXPECT_EQ(sim::CountEvents(Kind::Close), 0u);
  EXPECT_EQ(sim::CountEvents(Kind::Open), 0u);
  EXPECT_TRUE(driverState.port.IsOpen());
}

TEST_F(HealSimTest, ThirtySecondsAwayThenBackHealsWithTheHostsCommandsAlone) {
  const uint64_t away = sim::NowMs();
  sim::SetCtsAt(away, false);
  sim::SetCtsAt(away + 30000, true);
  int failures = 0;
  while (sim::NowMs() < away + 30000) {
    EXPECT_EQ(ExecutaComando(1, "LeTexto"), -1);
    EXPECT_EQ(Circumstance(), "Sem sinal de CTS");
    ++failures;
    sys::SleepMs(1000);  // the host tries again a second later
  }
  EXPECT_EQ(failures, 30);
  printer->Reply("0", "ValorTexto=\"HEALED\"");
  const uint64_t back = sim::NowMs();
  ASSERT_EQ(ExecutaComando(1, "LeTexto"), 1);
  // The engine's own CTS hold, and no new session.
  EXPECT_GE(sim::NowMs() - back, 20000u);
  EXPECT_EQ(sim::CountEvents(Kind::Open), 0u);
  char value[TARVO_VALUE_SIZE] = {};
  Retorno(1, 0, "ValorTexto", 0, value, 0);
  EXPECT_STREQ(value, "HEALED");
}

}  // namespace
}  // namespace tarvo
