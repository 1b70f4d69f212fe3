// FC_Operacao on the simulated line: one record in, one quoted text out,
// with the resendings after a protocol failure.
#include <gtest/gtest.h>

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

using test::ScriptedPrinter;
using test::TempDir;

void Fill(FcCommand* cmd, const char* command, const char* returnNames, int timeoutMs = 0) {
  std::memset(cmd, 0, sizeof *cmd);
  std::strcpy(cmd->command, command);
  std::strcpy(cmd->returnNames, returnNames);
  cmd->timeoutMs = timeoutMs;
}

void SetParam(FcCommand* cmd, int k, const char* name, const char* value, int type) {
  std::strcpy(cmd->params[k].name, name);
  std::strcpy(cmd->params[k].value, value);
  cmd->params[k].type = type;
}

// The params field of a request frame: between the second and third ';'.
std::string ParamsOf(const std::string& frame) {
  const size_t first = frame.find(';');
  const size_t second = frame.find(';', first + 1);
  return frame.substr(second + 1, frame.rfind(';') - second - 1);
}

std::string CommandOf(const std::string& frame) {
  const size_t first = frame.find(';');
  return frame.substr(first + 1, frame.find(';', first + 1) - first - 1);
}

class FcOperacaoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FreshState();
    sim::Reset();
    printer_ = std::make_unique<ScriptedPrinter>();
    ASSERT_EQ(IniciaDriver("COM1"), 1);
    fcState.fcHandle = 1;  // as a successful FC_Inicializa leaves it
    text_.assign(TARVO_FC_TEXT_SIZE, 'x');
  }

  void TearDown() override { driverState.port.Close(); }

  // FC_Operacao with a text buffer of exactly TARVO_FC_TEXT_SIZE bytes.
  int Run(int numParam, int* outLen = nullptr) {
    outLen_ = -7;
    return FC_Operacao(numParam, &cmd_, outLen != nullptr ? outLen : &outLen_, text_.data());
  }
  std::string Text() const { return text_.data(); }

  TempDir dir_;
  std::unique_ptr<ScriptedPrinter> printer_;  // after sim::Reset(), which drops hooks
  FcCommand cmd_;
  int outLen_ = -7;
  std::vector<char> text_;
};

TEST_F(FcOperacaoTest, TwoValuesComeBackQuotedOneBlankApartWithTheirLength) {
  printer_->Reply("0", "A=12 B=\"xyz\"");
  Fill(&cmd_, "LeDados", "A B", 8000);
  SetParam(&cmd_, 0, "P", "v", 7);
  EXPECT_EQ(Run(1), 0);
  EXPECT_EQ(Text(), "\"12\" \"xyz\"");
  EXPECT_EQ(outLen_, 10);
  EXPECT_EQ(text_[11], 'x');  // nothing written past the terminator
  ASSERT_EQ(printer_->Requests().size(), 1u);
  EXPECT_EQ(ParamsOf(printer_->Requests()[0]), "P=\"v\"");
  // The record is cleared for reuse, its parameters are kept.
  EXPECT_EQ(cmd_.command[0], '\0');
  EXPECT_EQ(cmd_.returnNames[0], '\0');
  EXPECT_EQ(cmd_.timeoutMs, 0);
  EXPECT_STREQ(cmd_.params[0].name, "P");
}

TEST_F(FcOperacaoTest, ReturnNamesAreSplitAtEveryBlank) {
  const struct {
    const char* names;
    const char* text;
  } cases[] = {
      {"A Falta", "\"12\" \"\""},         // a missing name: two quotes
      {"", "\"12\""},                     // one call with the empty name: the first item
      {"B  A", "\"xyz\" \"12\" \"12\""},  // the empty name between two blanks
      {"B ", "\"xyz\""},                  // a blank at the end adds nothing
  };
  for (const auto& c : cases) {
    printer_->Reply("0", "A=12 B=\"xyz\"");
    Fill(&cmd_, "LeDados", c.names);
    EXPECT_EQ(Run(0), 0) << c.names;
    EXPECT_EQ(Text(), c.text) << c.names;
    EXPECT_EQ(outLen_, static_cast<int>(std::strlen(c.text))) << c.names;
  }
}

TEST_F(FcOperacaoTest, NullOutLenFetchesNothing) {
  printer_->Reply("0", "A=12");
  Fill(&cmd_, "LeDados", "A");
  EXPECT_EQ(FC_Operacao(0, &cmd_, nullptr, text_.data()), 0);
  EXPECT_EQ(text_[0], 'x');
  EXPECT_EQ(cmd_.command[0], '\0');
}

TEST_F(FcOperacaoTest, NumParamChoosesHowManyEntriesAreStaged) {
  Fill(&cmd_, "Cmd", "");
  for (int k = 0; k < 17; ++k) {
    SetParam(&cmd_, k, ("P" + std::to_string(k)).c_str(), "v", 0);
  }
  std::string all;
  for (int k = 0; k < 17; ++k) all += (k ? " P" : "P") + std::to_string(k) + "=v";

  const struct {
    int numParam;
    std::string params;
  } cases[] = {
      {0, ""}, {-3, ""}, {2, "P0=v P1=v"}, {17, all}, {40, all},  // never past the 17 entries
  };
  for (const auto& c : cases) {
    printer_->Reply("0", "");
    std::strcpy(cmd_.command, "Cmd");
    EXPECT_EQ(Run(c.numParam), 0);
    EXPECT_EQ(ParamsOf(printer_->Requests().back()), c.params) << c.numParam;
  }
}

TEST_F(FcOperacaoTest, ParametersThatDoNotFitTogetherAreRefusedAndNothingIsSent) {
  // Each entry fits its record field, but two of them pass the 511
  // characters of the parameter text: sending the first alone would run
  // the command without the second.
  const std::string value(300, 'v');
  Fill(&cmd_, "VendeItem", "", 8000);
  SetParam(&cmd_, 0, "Descricao", value.c_str(), 7);
  SetParam(&cmd_, 1, "Complemento", value.c_str(), 7);
  EXPECT_EQ(Run(2), TARVO_TOO_LONG);
  EXPECT_EQ(printer_->Requests().size(), 0u);
  EXPECT_STREQ(driverState.paramText, "");
  EXPECT_EQ(driverState.Timeout, 5000);
  EXPECT_EQ(outLen_, -7);
  EXPECT_EQ(cmd_.command[0], '\0');

  // The next operation is not disturbed by what was refused.
  printer_->Reply("0", "");
  std::strcpy(cmd_.command, "VendeItem");  // the entries were kept
  EXPECT_EQ(Run(1), 0);
  ASSERT_EQ(printer_->Requests().size(), 1u);
  EXPECT_EQ(ParamsOf(printer_->Requests()[0]), "Descricao=\"" + value + "\"");
}

TEST_F(FcOperacaoTest, ProtocolFailureIsResentTwiceWithTheSameIdExceptForThreeCommands) {
  for (int i = 0; i < 3; ++i) printer_->Ignore();
  Fill(&cmd_, "LeTexto", "ValorTexto");
  SetParam(&cmd_, 0, "NomeTexto", "NumeroSerieECF", 7);
  EXPECT_EQ(Run(1), TARVO_PROTOCOL_FAILURE);
  ASSERT_EQ(printer_->Requests().size(), 3u);
  // The resendings are retransmissions: the same id, name and parameters.
  EXPECT_EQ(printer_->Requests()[1], printer_->Requests()[0]);
  EXPECT_EQ(printer_->Requests()[2], printer_->Requests()[0]);
  EXPECT_EQ(driverState.bRetrans, 1);
  EXPECT_EQ(outLen_, -7);
  EXPECT_EQ(text_[0], 'x');
  EXPECT_EQ(cmd_.command[0], '\0');

  for (const char* once : {"VendeItem", "AbreCreditoDebito", "EmiteReducaoZ"}) {
    const size_t before = printer_->Requests().size();
    printer_->Ignore();
    Fill(&cmd_, once, "");
    EXPECT_EQ(Run(0), TARVO_PROTOCOL_FAILURE) << once;
    ASSERT_EQ(printer_->Requests().size(), before + 1) << once;
    EXPECT_EQ(CommandOf(printer_->Requests().back()), once);
  }
}

TEST_F(FcOperacaoTest, AnAnswerToAResendingEndsTheOperation) {
  printer_->Ignore();
  printer_->Reply("0", "ValorTexto=\"ABC\"");
  Fill(&cmd_, "LeTexto", "ValorTexto");
  EXPECT_EQ(Run(0), 0);
  EXPECT_EQ(printer_->Requests().size(), 2u);
  EXPECT_EQ(Text(), "\"ABC\"");

  // A name that is only similar is resent like any other command.
  printer_->Ignore();
  printer_->Reply("0", "");
  Fill(&cmd_, "VendeItemX", "");
  EXPECT_EQ(Run(0), 0);
  EXPECT_EQ(printer_->Requests().size(), 4u);
}

TEST_F(FcOperacaoTest, PrinterErrorIsReturnedWithoutFetchingValues) {
  printer_->Reply("8", "NomeErro=\"E\" Circunstancia=\"C\"");
  Fill(&cmd_, "LeTexto", "ValorTexto");
  EXPECT_EQ(Run(0), 8);
  EXPECT_EQ(printer_->Requests().size(), 1u);
  EXPECT_EQ(outLen_, -7);
  EXPECT_EQ(text_[0], 'x');
  EXPECT_EQ(cmd_.command[0], '\0');
}

struct TimeoutSeen {
  int value = -1;
};

void NoteTimeout(void* context) { static_cast<TimeoutSeen*>(context)->value = driverState.Timeout; }

TEST_F(FcOperacaoTest, RecordTimeoutAppliesToItsCommandOnlyAndNeverBelow5000) {
  const struct {
    int timeoutMs;
    int during;
  } cases[] = {{0, 5000}, {1000, 5000}, {-1, 5000}, {8000, 8000}};
  for (const auto& c : cases) {
    DefineTimeout(1, 7000);
    printer_->Reply("0", "");
    TimeoutSeen seen;
    sim::SetReadHook(&NoteTimeout, &seen);
    Fill(&cmd_, "Cmd", "", c.timeoutMs);
    EXPECT_EQ(Run(0), 0);
    sim::SetReadHook(nullptr, nullptr);
    EXPECT_EQ(seen.value, c.during) << c.timeoutMs;
    EXPECT_EQ(driverState.Timeout, 5000) << c.timeoutMs;
  }
  // Also after a failure.
  printer_->Ignore();
  Fill(&cmd_, "VendeItem", "", 8000);
  EXPECT_EQ(Run(0), TARVO_PROTOCOL_FAILURE);
  EXPECT_EQ(driverState.Timeout, 5000);
}

TEST_F(FcOperacaoTest, WithoutAFacadeSessionNothingIsSentAndTheRecordIsUntouched) {
  fcState.fcHandle = -1;
  Fill(&cmd_, "LeTexto", "ValorTexto", 8000);
  SetParam(&cmd_, 0, "NomeTexto", "X", 7);
  const FcCommand before = cmd_;
  EXPECT_EQ(Run(1), TARVO_BAD_HANDLE);
  EXPECT_EQ(std::memcmp(&before, &cmd_, sizeof cmd_), 0);
  EXPECT_EQ(printer_->Requests().size(), 0u);
  EXPECT_EQ(outLen_, -7);
}

TEST_F(FcOperacaoTest, StaleHandleAfterTheDriverWasClosedIsRefusedAndTheRecordReset) {
  ASSERT_EQ(EncerraDriver(1), 0);
  Fill(&cmd_, "LeTexto", "ValorTexto", 8000);
  EXPECT_EQ(Run(0), TARVO_BAD_HANDLE);
  EXPECT_EQ(printer_->Requests().size(), 0u);
  EXPECT_EQ(cmd_.command[0], '\0');
  EXPECT_EQ(cmd_.timeoutMs, 0);
  EXPECT_EQ(driverState.Timeout, 5000);
  EXPECT_EQ(outLen_, -7);
}

TEST_F(FcOperacaoTest, TextThatWouldNotFitTheDocumentedRoomIsRefused) {
  // Two items of n characters make 2n + 5 characters and the terminator.
  const int fits = (TARVO_FC_TEXT_SIZE - 1 - 5) / 2;
  printer_->Reply("0", "A=" + std::string(static_cast<size_t>(fits), 'v'));
  Fill(&cmd_, "Cmd", "A A");
  EXPECT_EQ(Run(0), 0);
  EXPECT_EQ(outLen_, TARVO_FC_TEXT_SIZE - 1);
  EXPECT_EQ(Text().size(), static_cast<size_t>(TARVO_FC_TEXT_SIZE - 1));

  text_.assign(TARVO_FC_TEXT_SIZE, 'x');
  printer_->Reply("0", "A=" + std::string(static_cast<size_t>(fits + 1), 'v'));
  Fill(&cmd_, "Cmd", "A A");
  EXPECT_EQ(Run(0), TARVO_TOO_LONG);
  EXPECT_EQ(outLen_, -7);
  EXPECT_EQ(Text(), "\"" + std::string(static_cast<size_t>(fits + 1), 'v') + "\"");
  EXPECT_EQ(cmd_.command[0], '\0');
}

TEST_F(FcOperacaoTest, DateCutShortByTheEndOfTheAnswerCountsWhatWasWritten) {
  printer_->Reply("0", "X=1 D=#12/0");
  Fill(&cmd_, "Cmd", "D X");
  EXPECT_EQ(Run(0), 0);
  EXPECT_EQ(Text(), "\"12/0\" \"1\"");
  EXPECT_EQ(outLen_, 10);
}

TEST_F(FcOperacaoTest, NullRecordOrTextIsRefusedBeforeAnythingIsSent) {
  EXPECT_EQ(FC_Operacao(0, nullptr, &outLen_, text_.data()), TARVO_NULL_ARGUMENT);
  Fill(&cmd_, "Cmd", "A");
  EXPECT_EQ(FC_Operacao(0, &cmd_, &outLen_, nullptr), TARVO_NULL_ARGUMENT);
  EXPECT_EQ(printer_->Requests().size(), 0u);
}

// -15 (a requested value could not be read) is not tested: FC_Operacao
// fetches values only after ObtemCodErro gave 0 for the same handle, and
// then Retorno can give neither a negative result nor 11010.

}  // namespace
}  // namespace tarvo
