// Command staging, frame ids, retransmission, the busy guard and the error
// getters, on the simulated line with a scripted printer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/driver_state.h"
#include "facade/fc_state.h"
#include "serial/sim/sim_line.h"
#include "support/fresh_state.h"
#include "support/scripted_printer.h"
#include "support/temp_dir.h"
#include "tarvo.h"
#include "trace/trace.h"

namespace tarvo {
namespace {

using test::AnswerFrame;
using test::RequestId;
using test::ScriptedPrinter;
using test::TempDir;
using test::TraceLines;

// A request frame has the shape of an answer frame ("{id;x;y;length}"), so
// AnswerFrame(id, command, params) also gives the request expected.

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FreshState();
    sim::Reset();
    test::StartTrace(2);
    printer_ = std::make_unique<ScriptedPrinter>();
  }

  void TearDown() override { driverState.port.Close(); }

  // Opens the session with the id seed calendar % 255.
  void Open(int64_t calendarSeconds = 1000000000) {
    sim::SetCalendarSeconds(calendarSeconds);
    ASSERT_EQ(IniciaDriver("COM1"), 1);
  }

  std::string Staged() const { return driverState.paramText; }

  // The error name and circumstance as a host reads them.
  static void ExpectErrorTexts(const char* wantName, const char* wantCircumstance) {
    char name[TARVO_ERROR_NAME_SIZE];
    char circ[TARVO_CIRCUMSTANCE_SIZE];
    ObtemNomeErro(1, name, 0);
    ObtemCircunstancia(1, circ, 0);
    EXPECT_STREQ(name, wantName);
    EXPECT_STREQ(circ, wantCircumstance);
  }

  TempDir dir_;
  std::unique_ptr<ScriptedPrinter> printer_;  // after sim::Reset(), which drops hooks
};

// ---- Staging ---------------------------------------------------------------

TEST_F(CommandTest, StagesTheThreeFormsJoinedByOneBlank) {
  Open();
  EXPECT_EQ(AdicionaParam(1, "A", "x", 0), 0);
  EXPECT_EQ(AdicionaParam(1, "B", "y z", 7), 0);
  EXPECT_EQ(AdicionaParam(1, "C", "01/02/2026", 3), 0);
  EXPECT_EQ(Staged(), "A=x B=\"y z\" C=#01/02/2026#");
}

TEST_F(CommandTest, OnlyTypeCodesTwoThreeAndSevenWrapTheValue) {
  Open();
  const struct {
    int type;
    const char* staged;
  } cases[] = {
      {0, "N=v"},  {1, "N=v"},   {4, "N=v"},   {5, "N=v"},   {6, "N=v"},
      {8, "N=v"},  {-1, "N=v"},  {2, "N=#v#"}, {3, "N=#v#"}, {7, "N=\"v\""},
      {-7, "N=v"}, {259, "N=v"},  // compared as whole ints, not their low byte
  };
  for (const auto& c : cases) {
    LimpaParams(1);
    EXPECT_EQ(AdicionaParam(1, "N", "v", c.type), 0);
    EXPECT_EQ(Staged(), c.staged) << "type " << c.type;
  }
  LimpaParams(1);
  AdicionaParam(1, "Q", "", 7);
  AdicionaParam(1, "P", "", 0);
  EXPECT_EQ(Staged(), "Q=\"\" P=");
}

TEST_F(CommandTest, WrongHandleOrNullArgumentChangesNothing) {
  Open();
  AdicionaParam(1, "A", "1", 0);
  EXPECT_EQ(AdicionaParam(2, "B", "2", 0), TARVO_BAD_HANDLE);
  EXPECT_EQ(AdicionaParam(-1, "B", "2", 0), TARVO_BAD_HANDLE);
  EXPECT_EQ(LimpaParams(2), TARVO_BAD_HANDLE);
  EXPECT_EQ(AdicionaParam(1, nullptr, "2", 0), TARVO_NULL_ARGUMENT);
  EXPECT_EQ(AdicionaParam(1, "B", nullptr, 7), TARVO_NULL_ARGUMENT);
  EXPECT_EQ(Staged(), "A=1");
  EXPECT_EQ(LimpaParams(1), 0);
  EXPECT_EQ(Staged(), "");
}

TEST_F(CommandTest, ParameterTextOver511CharactersIsRefusedWhole) {
  Open();
  // "N=" and 509 characters: exactly 511.
  const std::string fill(509, 'x');
  EXPECT_EQ(AdicionaParam(1, "N", fill.c_str(), 0), 0);
  EXPECT_EQ(Staged().size(), 511u);
  EXPECT_EQ(AdicionaParam(1, "M", "", 0), TARVO_TOO_LONG);  // " M=" would make 514
  EXPECT_EQ(Staged(), "N=" + fill);

  // The marks count: 507 characters quoted make 511, 508 would make 512.
  LimpaParams(1);
  EXPECT_EQ(AdicionaParam(1, "N", std::string(508, 'q').c_str(), 7), TARVO_TOO_LONG);
  EXPECT_EQ(Staged(), "");
  EXPECT_EQ(AdicionaParam(1, "N", std::string(507, 'q').c_str(), 7), 0);
  EXPECT_EQ(Staged().size(), 511u);

  // The blank between items counts too.
  LimpaParams(1);
  AdicionaParam(1, "A", "1", 0);  // 3 characters
  EXPECT_EQ(AdicionaParam(1, "N", std::string(506, 'y').c_str(), 0), TARVO_TOO_LONG);
  EXPECT_EQ(AdicionaParam(1, "N", std::string(505, 'y').c_str(), 0), 0);
  EXPECT_EQ(Staged().size(), 511u);

  // A name far longer than the whole buffer is refused, not cut.
  LimpaParams(1);
  EXPECT_EQ(AdicionaParam(1, std::string(5000, 'n').c_str(), "v", 0), TARVO_TOO_LONG);
  EXPECT_EQ(Staged(), "");
}

// ---- Frame ids and retransmission ------------------------------------------

TEST_F(CommandTest, IdsAfterSeed254AreThen255And1) {
  Open(254);
  printer_->Reply("0", "");
  printer_->Reply("0", "");
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), 1);
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), 1);
  ASSERT_EQ(printer_->Requests().size(), 2u);
  EXPECT_EQ(RequestId(printer_->Requests()[0]), 255);
  EXPECT_EQ(RequestId(printer_->Requests()[1]), 1);
}

TEST_F(CommandTest, RetransmissionsResendTheLastNewCommandWithItsIdAndParameters) {
  Open(253);  // ids 254, 255, 255, 255, then the wrap to 1
  for (int i = 0; i < 5; ++i) printer_->Reply("0", "");
  AdicionaParam(1, "A", "1", 0);
  ASSERT_EQ(ExecutaComando(1, "Primeiro"), 1);
  AdicionaParam(1, "B", "2", 7);
  ASSERT_EQ(ExecutaComando(1, "Segundo"), 1);
  AdicionaParam(1, "Ignorado", "3", 0);  // staged before a retransmission: not sent, then gone
  ASSERT_EQ(ExecutaComando(1, ""), 1);
  EXPECT_EQ(Staged(), "");
  ASSERT_EQ(ExecutaComando(1, ""), 1);
  ASSERT_EQ(ExecutaComando(1, "Terceiro"), 1);

  const std::string second = AnswerFrame(255, "Segundo", "B=\"2\"");
  const std::vector<std::string> expected = {
      AnswerFrame(254, "Primeiro", "A=1"), second, second, second, AnswerFrame(1, "Terceiro", ""),
  };
  EXPECT_EQ(printer_->Requests(), expected);
}

TEST_F(CommandTest, RetransmissionBeforeAnyNewCommandSendsIdZeroAndNothingElse) {
  Open();
  printer_->Reply("0", "");
  AdicionaParam(1, "A", "1", 0);
  EXPECT_EQ(ExecutaComando(1, ""), 1);
  ASSERT_EQ(printer_->Requests().size(), 1u);
  // Four characters before the length field: "{", "0", ";", ";".
  EXPECT_EQ(printer_->Requests()[0], "{0;;;4}");
  EXPECT_EQ(Staged(), "");
}

TEST_F(CommandTest, StagedParametersAreGoneAfterEveryExchangeAndBusyIsCleared) {
  Open();
  printer_->Reply("0", "");
  AdicionaParam(1, "A", "1", 0);
  EXPECT_EQ(ExecutaComando(1, "Ok"), 1);
  EXPECT_EQ(Staged(), "");
  EXPECT_EQ(driverState.cmdBusy, 0);

  // A printer error answer is still an exchange that came back.
  printer_->Reply("8", "NomeErro=\"E\" Circunstancia=\"C\"");
  AdicionaParam(1, "A", "1", 0);
  EXPECT_EQ(ExecutaComando(1, "Erro"), 1);
  EXPECT_EQ(Staged(), "");
  EXPECT_EQ(driverState.cmdBusy, 0);

  // No CTS: the exchange fails before anything is written.
  sim::SetCts(false);
  AdicionaParam(1, "A", "1", 0);
  EXPECT_EQ(ExecutaComando(1, "SemCts"), TARVO_EXCHANGE_FAILED);
  EXPECT_EQ(Staged(), "");
  EXPECT_EQ(driverState.cmdBusy, 0);
  EXPECT_EQ(printer_->Requests().size(), 2u);
}

// ---- The busy guard -----------------------------------------------------------

struct Reentry {
  bool done = false;
  int nestedResult = -99;
  int timeoutSeen = 0;
  std::string stagedSeen;
};

void ReenterFromRead(void* context) {
  auto* r = static_cast<Reentry*>(context);
  if (r->done) return;
  r->done = true;
  r->nestedResult = ExecutaComando(1, "Intruso");
  DefineTimeout(1, 9000);
  r->timeoutSeen = driverState.Timeout;
  r->stagedSeen = driverState.paramText;
}

TEST_F(CommandTest, ExecutaComandoReenteredDuringAnExchangeIsRefusedAndDisturbsNothing) {
  Open();
  DefineTimeout(1, 6000);
  printer_->Reply("0", "ValorTexto=\"ABC\"");
  Reentry reentry;
  sim::SetReadHook(&ReenterFromRead, &reentry);
  AdicionaParam(1, "NomeTexto", "NumeroSerieECF", 7);
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), 1);
  sim::SetReadHook(nullptr, nullptr);

  ASSERT_TRUE(reentry.done);
  EXPECT_EQ(reentry.nestedResult, TARVO_BUSY);
  EXPECT_EQ(reentry.timeoutSeen, 6000);
  EXPECT_EQ(reentry.stagedSeen, "NomeTexto=\"NumeroSerieECF\"");  // the nested call kept them
  EXPECT_EQ(driverState.Timeout, 6000);
  ASSERT_EQ(printer_->Requests().size(), 1u);
  EXPECT_EQ(printer_->Requests()[0], AnswerFrame(161, "LeTexto", "NomeTexto=\"NumeroSerieECF\""));
  EXPECT_STREQ(driverState.lastCommand, "LeTexto");
  EXPECT_EQ(driverState.cmdId, 161);
  EXPECT_EQ(driverState.cmdBusy, 0);
  char value[TARVO_VALUE_SIZE];
  EXPECT_EQ(Retorno(1, 0, "ValorTexto", 0, value, 0), 3);
  EXPECT_STREQ(value, "ABC");
}

// ---- Command names ------------------------------------------------------------

TEST_F(CommandTest, CommandNameOver59OrNullIsRefusedBeforeAnythingChanges) {
  Open();
  AdicionaParam(1, "A", "1", 0);
  const int idBefore = driverState.cmdId;
  EXPECT_EQ(ExecutaComando(1, std::string(60, 'C').c_str()), TARVO_TOO_LONG);
  EXPECT_EQ(ExecutaComando(1, nullptr), TARVO_NULL_ARGUMENT);
  EXPECT_EQ(driverState.cmdId, idBefore);
  EXPECT_EQ(Staged(), "A=1");
  EXPECT_EQ(printer_->Requests().size(), 0u);

  printer_->Reply("0", "");
  const std::string longest(59, 'C');
  EXPECT_EQ(ExecutaComando(1, longest.c_str()), 1);
  ASSERT_EQ(printer_->Requests().size(), 1u);
  EXPECT_EQ(printer_->Requests()[0], AnswerFrame(161, longest, "A=1"));
  EXPECT_EQ(std::string(driverState.lastCommand), longest);
}

// ---- Error getters --------------------------------------------------------------

TEST_F(CommandTest, GettersRefuseAWrongHandleAndLeaveTheBufferAlone) {
  Open();
  EXPECT_EQ(ObtemCodErro(1), 0);  // nothing run yet: the empty text reads as 0
  printer_->Reply("0", "");
  ASSERT_EQ(ExecutaComando(1, "Ok"), 1);

  char name[TARVO_ERROR_NAME_SIZE];
  char circ[TARVO_CIRCUMSTANCE_SIZE];
  std::memset(name, 'x', sizeof name);
  std::memset(circ, 'x', sizeof circ);
  EXPECT_EQ(ObtemCodErro(2), TARVO_BAD_HANDLE);
  EXPECT_EQ(ObtemNomeErro(2, name, 0), 0);
  EXPECT_EQ(ObtemCircunstancia(2, circ, 0), 0);
  EXPECT_EQ(name[0], 'x');
  EXPECT_EQ(circ[0], 'x');
  EXPECT_EQ(ObtemNomeErro(1, nullptr, 0), 0);
  EXPECT_EQ(ObtemCircunstancia(1, nullptr, 0), 0);

  EXPECT_EQ(ObtemNomeErro(1, name, 0), 0);
  EXPECT_STREQ(name, "OK");
  EXPECT_EQ(ObtemCircunstancia(1, circ, 0), 0);
  EXPECT_STREQ(circ, "");

  // A wrong handle to ExecutaComando leaves the last results readable.
  EXPECT_EQ(ExecutaComando(2, "Outro"), TARVO_BAD_HANDLE);
  EXPECT_EQ(ObtemNomeErro(1, name, 0), 0);
  EXPECT_STREQ(name, "OK");

  const auto lines = TraceLines("test.txt");
  EXPECT_TRUE(HasLine(lines, "ObtemNomeErro2900 Handle=2"));
  EXPECT_TRUE(HasLine(lines, "ObtemCircunstancia2900 Handle=2"));
  EXPECT_TRUE(HasLine(lines, "ObtemNomeErro2900 Handle=1"));
}

// ---- End to end ---------------------------------------------------------------

TEST_F(CommandTest, SuccessAnswerValuesAreReadBack) {
  Open();
  printer_->Reply("0", "ValorTexto=\"ABC123\" ValorInteiro=7");
  LimpaParams(1);
  AdicionaParam(1, "NomeTexto", "NumeroSerieECF", 7);
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), 1);
  EXPECT_EQ(printer_->Requests().at(0),
            AnswerFrame(161, "LeTexto", "NomeTexto=\"NumeroSerieECF\""));
  EXPECT_EQ(ObtemCodErro(1), 0);
  char value[TARVO_VALUE_SIZE];
  EXPECT_EQ(Retorno(1, 0, "ValorTexto", 0, value, 0), 6);
  EXPECT_STREQ(value, "ABC123");
  // The engine added ';' after the quoted first value, so the last plain
  // value carries it.
  EXPECT_EQ(Retorno(1, 0, "ValorInteiro", 0, value, 0), 2);
  EXPECT_STREQ(value, "7;");
  EXPECT_EQ(Retorno(1, 0, "ValorTexto", 0, value, 0), 6);  // reads are repeatable
}

TEST_F(CommandTest, ErrorAnswerGivesCodeNameAndCircumstanceAndNoValues) {
  Open();
  printer_->Reply("8", "NomeErro=\"ErroExemplo\" Circunstancia=\"Texto de exemplo\"");
  EXPECT_EQ(ExecutaComando(1, "VendeItem"), 1);
  EXPECT_EQ(ObtemCodErro(1), 8);
  ExpectErrorTexts("ErroExemplo", "Texto de exemplo");
  char value[TARVO_VALUE_SIZE] = "old";
  EXPECT_EQ(Retorno(1, 0, "NomeErro", 0, value, 0), 8);
  EXPECT_STREQ(value, "");
  EXPECT_TRUE(HasLine(TraceLines("test.txt"), "Retorno2900 CodigoUltimoErro=8"));
}

TEST_F(CommandTest, SilentPrinterIsAProtocolFailureThatStillClearsTheStagedParameters) {
  Open();
  printer_->Ignore();
  AdicionaParam(1, "A", "1", 0);
  const uint64_t start = sim::NowMs();
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), TARVO_EXCHANGE_FAILED);
  EXPECT_GT(sim::NowMs() - start, 5000u);  // the per-byte time-out, then the recovery
  EXPECT_EQ(Staged(), "");
  EXPECT_EQ(driverState.cmdBusy, 0);
  EXPECT_EQ(ObtemCodErro(1), TARVO_PROTOCOL_FAILURE);
  ExpectErrorTexts("ErroProtTimeout", "Erro de Recepcao");
  char value[TARVO_VALUE_SIZE];
  EXPECT_EQ(Retorno(1, 0, "ValorTexto", 0, value, 0), TARVO_PROTOCOL_FAILURE);
  const auto lines = TraceLines("test.txt");
  EXPECT_TRUE(HasLine(lines, "ExecutaComando2900 retCom=-1"));
  EXPECT_TRUE(HasLine(lines, "Retorno2900 CodigoUltimoErro=11010"));

  // The failed command can still be repeated with its id and parameters.
  printer_->Reply("0", "");
  EXPECT_EQ(ExecutaComando(1, ""), 1);
  ASSERT_EQ(printer_->Requests().size(), 2u);
  EXPECT_EQ(printer_->Requests()[1], printer_->Requests()[0]);
  EXPECT_EQ(printer_->Requests()[0], AnswerFrame(161, "LeTexto", "A=1"));
}

}  // namespace
}  // namespace tarvo
