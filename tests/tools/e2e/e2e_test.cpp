// The driver library against the emulator program over a pseudo-terminal:
// a whole sale, and the driver's results for each fault the emulator
// injects. Also the two programs' own command-line behaviour.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/driver_calls.h"
#include "e2e/emulator_process.h"
#include "support/temp_dir.h"
#include "tarvo.h"

namespace tarvo::test {
namespace {

// The emulator as printer E2E0001, ECF 3, with its control FIFO, paper and
// state in `dir`.
class Emulator : public EmulatorProcess {
 public:
  explicit Emulator(const std::string& dir)
      : EmulatorProcess(EmulatorOptions{
            .serial = "E2E0001",
            .control = dir + "/control",
            .log = dir + "/emulator.log",
            .args = {"--ecf", "3", "--paper", dir + "/paper.txt", "--state", dir + "/state"}}),
        dir_(dir) {}
  std::string Paper() const { return ReadFile(dir_ + "/paper.txt"); }

 private:
  std::string dir_;
};

class DriverOnEmulator : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(emu.Port().empty()) << emu.Log(); }
  void TearDown() override {
    FC_Finaliza();
    EncerraDriver(1);
  }
  void Open() { ASSERT_EQ(IniciaDriver(emu.Port().c_str()), 1); }
  // A member, since testing::Test's own Run would hide a free one.
  Result Run(const char* command, const Params& params) { return RunCommand(command, params); }
  int Items() {
    Run("LeInteiro", {{"NomeInteiro", "ItensCupom", 0}});
    return std::atoi(Value("ValorInteiro").c_str());
  }
  // Tracing, verbose, into TV_E2E0001_3.txt: the facade start-up reads
  // TARVO.cfg, then the per-printer file.
  void OpenTraced() {
    WriteFile("TARVO.cfg", "Trace=1\n");
    WriteFile("TV_E2E0001_3.cfg", "Trace=1\n");
    ASSERT_EQ(FC_Inicializa(emu.Port().c_str()), 0);
  }
  std::string Trace() { return ReadFile("TV_E2E0001_3.txt"); }

  TempDir dir;
  Emulator emu{dir.Path()};
};

constexpr int kText = 7;

TEST_F(DriverOnEmulator, AWholeSaleAndThePrintedTextReadBack) {
  Open();
  EXPECT_EQ(Run("AbreCupom", {}).code, 0);
  EXPECT_EQ(Run("VendeItem", {{"CodigoProduto", "111", kText},
                              {"Descricao", "Cafe; \"forte\"}", 0},
                              {"PrecoUnitario", "4,50", 0}})
                .code,
            4);  // a plain value with blanks: the printer cannot read the parameters
  Result r = Run("VendeItem", {{"CodigoProduto", "111", kText},
                               {"Descricao", "Cafe; forte {x}", kText},
                               {"Quantidade", "2", 0},
                               {"PrecoUnitario", "4,50", 0}});
  EXPECT_EQ(r.executed, 1);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.name, "OK");
  EXPECT_EQ(Value("TotalCupom"), "9,00");
  EXPECT_EQ(Run("VendeItem", {{"Descricao", "Pao", kText}, {"PrecoUnitario", "3.25", 0}}).code, 0);
  EXPECT_EQ(Run("PagaCupom", {{"MeioPagamento", "Dinheiro", kText}, {"Valor", "20", 0}}).code, 0);
  EXPECT_EQ(Value("Troco"), "7,75");
  r = Run("EncerraCupom", {{"Mensagem", "Fim \"\"; ate logo", 0}});
  EXPECT_EQ(r.code, 4);  // the unquoted message has blanks
  r = Run("EncerraCupom", {{"Mensagem", "Fim; ate logo }", kText}});
  EXPECT_EQ(r.code, 0);
  r = Run("LeImpressao", {});
  ASSERT_EQ(r.code, 0);
  const std::string text = Value("TextoImpressao");
  EXPECT_NE(text.find("Cafe; forte {x}"), std::string::npos) << text;
  EXPECT_NE(text.find("Fim; ate logo }"), std::string::npos) << text;
  // The driver reads back exactly what the emulator printed on its paper.
  const std::string paper = emu.Paper();
  EXPECT_EQ(paper.substr(paper.size() - text.size()), text);
  r = Run("EmiteReducaoZ", {});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(Value("ContadorReducaoZ"), "1");
  EXPECT_EQ(Value("DataMovimento").size(), 10u);
  EXPECT_EQ(Run("Desconhecido", {}).name, "ErroComandoDesconhecido");
  EXPECT_EQ(EncerraDriver(1), 0);
  EXPECT_EQ(emu.Stop(), 0);
}

TEST_F(DriverOnEmulator, FacadeStartupIdentifiesThePrinter) {
  WriteFile("TARVO.cfg", "Trace=1\n");
  ASSERT_EQ(FC_Inicializa(emu.Port().c_str()), 0);
  FcCommand cmd{};
  std::snprintf(cmd.command, sizeof cmd.command, "LeTexto");
  std::snprintf(cmd.returnNames, sizeof cmd.returnNames, "ValorTexto");
  std::snprintf(cmd.params[0].name, sizeof cmd.params[0].name, "NomeTexto");
  std::snprintf(cmd.params[0].value, sizeof cmd.params[0].value, "Marca");
  cmd.params[0].type = kText;
  char out[TARVO_FC_TEXT_SIZE];
  int length = 0;
  EXPECT_EQ(FC_Operacao(1, &cmd, &length, out), 0);
  EXPECT_EQ(std::string(out, length), "\"TARVO\"");
  EXPECT_EQ(FC_Finaliza(), 0);
  // The start-up found the serial and ECF numbers and named the trace after them.
  EXPECT_NE(ReadFile("TARVO.txt").find("ValorTexto=\"E2E0001\""), std::string::npos);
  EXPECT_TRUE(std::ifstream("TV_E2E0001_3.cfg").good());
}

TEST_F(DriverOnEmulator, NoiseBeforeTheAnswerIsDiscarded) {
  OpenTraced();
  emu.Fault("noise 3");
  const Result r = Run("LeInteiro", {{"NomeInteiro", "ECF", 0}});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(Value("ValorInteiro"), "3");
  const std::string trace = Trace();
  size_t discards = 0;
  for (size_t at = 0; (at = trace.find("Descartando bufRx[0]=", at)) != std::string::npos; ++at) {
    ++discards;
  }
  EXPECT_EQ(discards, 3u) << trace;
}

TEST_F(DriverOnEmulator, AStaleAnswerWithAnotherIdIsSkipped) {
  OpenTraced();
  emu.Fault("stale 1");
  const Result r = Run("LeTexto", {{"NomeTexto", "NumeroSerieECF", kText}});
  EXPECT_EQ(r.executed, 1);
  EXPECT_EQ(Value("ValorTexto"), "E2E0001");
  EXPECT_NE(Trace().find("bDescartaResp=1"), std::string::npos) << Trace();
}

TEST_F(DriverOnEmulator, AWrongLengthFailsAndTheResendIsAnsweredWithoutSellingTwice) {
  Open();
  Run("AbreCupom", {});
  emu.Fault("badlength 1");
  Result r = Run("VendeItem", {{"Descricao", "Pao", kText}, {"PrecoUnitario", "1", 0}});
  EXPECT_EQ(r.executed, -1);
  EXPECT_EQ(r.code, TARVO_PROTOCOL_FAILURE);
  EXPECT_EQ(r.name, "ErroProtTimeout");
  EXPECT_EQ(r.circumstance, "Erro de Secao ou CRC");
  r = Run("", {});  // the driver's resend: same id, command and parameters
  EXPECT_EQ(r.executed, 1);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(Value("NumeroItem"), "1");
  EXPECT_EQ(Items(), 1);
}

TEST_F(DriverOnEmulator, DelayAndByteTimeAreSpentOnTheWire) {
  Open();
  emu.Fault("delay 200");
  emu.Fault("pace 9600");
  const auto start = std::chrono::steady_clock::now();
  const Result r = Run("LeTexto", {{"NomeTexto", "NumeroSerieECF", kText}});
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  EXPECT_EQ(r.code, 0);
  // About 30 bytes at 11 bits each at 9600 baud: 34 ms after the delay.
  EXPECT_GE(ms, 200 + 30);
  EXPECT_LT(ms, 5000);
}

// The three tests below wait for real: a silent printer costs the driver its
// per-byte time-out (5000 ms) and about four seconds of BREAK recovery
// before it gives up and re-opens the port; nothing can be awaited sooner.
// A deaf printer looks to the driver exactly like a silent one, so "deaf" is
// left to the session tests.
TEST_F(DriverOnEmulator, ALateAnswerArrivesDuringBreakRecoveryAndIsAccepted) {
  OpenTraced();
  emu.Fault("delay 5600");  // past the 5000 ms per-byte time-out
  const Result r = Run("LeTexto", {{"NomeTexto", "NumeroSerieECF", kText}});
  EXPECT_EQ(r.executed, 1);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(Value("ValorTexto"), "E2E0001");
  const std::string trace = Trace();
  EXPECT_NE(trace.find("BRK-00"), std::string::npos) << trace;
  EXPECT_NE(trace.find("<RESPOK>"), std::string::npos) << trace;
}

TEST_F(DriverOnEmulator, ALostAnswerFailsWithErroDeRecepcaoAndTheResendDoesNotSellTwice) {
  Open();
  Run("AbreCupom", {});
  emu.Fault("silence 1");
  Result r = Run("VendeItem", {{"Descricao", "Pao", kText}, {"PrecoUnitario", "1", 0}});
  EXPECT_EQ(r.executed, -1);
  EXPECT_EQ(r.code, TARVO_PROTOCOL_FAILURE);
  EXPECT_EQ(r.name, "ErroProtTimeout");
  EXPECT_EQ(r.circumstance, "Erro de Recepcao");
  // The driver closed and re-opened the port; the printer is reachable again.
  r = Run("", {});
  EXPECT_EQ(r.executed, 1);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(Items(), 1);
}

TEST_F(DriverOnEmulator, AnAnswerCutMidFrameFailsAndTheNextCommandRecovers) {
  OpenTraced();
  emu.Fault("cut 1");
  Result r = Run("LeTexto", {{"NomeTexto", "NumeroSerieECF", kText}});
  EXPECT_EQ(r.executed, -1);
  EXPECT_EQ(r.circumstance, "Erro de Recepcao");
  EXPECT_NE(Trace().find("BRK-19"), std::string::npos);
  r = Run("LeTexto", {{"NomeTexto", "Modelo", kText}});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(Value("ValorTexto"), "EMULADOR");
}

// ---- The programs themselves ---------------------------------------------------

struct Ran {
  int status;
  std::string out, err;
};

Ran Shell(const std::string& command, const std::string& input = "") {
  WriteFile("in.txt", input);
  const int raw = std::system((command + " <in.txt >out.txt 2>err.txt").c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile("out.txt"), ReadFile("err.txt")};
}

TEST(Programs, CliRunsCommandsScriptsAndReportsStatus) {
  TempDir dir;
  Emulator emu(dir.Path());
  const std::string cli = std::string(TARVO_CLI_PATH) + " -p " + emu.Port();
  Ran r = Shell(cli + " LeTexto NomeTexto:7=NumeroSerieECF -r ValorTexto --json");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"command\":\"LeTexto\",\"ok\":true,\"result\":1,\"code\":0,\"name\":\"OK\","
            "\"circumstance\":\"\",\"values\":{\"ValorTexto\":\"E2E0001\"}}\n");
  r = Shell(cli + " VendeItem Descricao:7=X PrecoUnitario=1");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("code=6\nname=ErroCupomFechado\n"), std::string::npos) << r.out;
  r = Shell(cli + " -f - -q",
            "identify\nAbreCupom\nVendeItem Descricao:7=\"P\xC3\xA3o doce\" PrecoUnitario=2 -r "
            "TotalCupom\nCancelaCupom -r COO\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "E2E0001\n3\n2,00\n1\n");
  EXPECT_NE(emu.Paper().find("P\xC3\xA3o doce"), std::string::npos);
  r = Shell(cli + " --trace LeInteiro NomeInteiro=COO");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("bufTx={"), std::string::npos) << r.err;
  r = Shell(cli + " LeTexto Nome=two words");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("tarvo: "), std::string::npos);
  EXPECT_TRUE(r.out.empty());
  r = Shell(std::string(TARVO_CLI_PATH) + " -p /dev/does-not-exist LeTexto");
  EXPECT_EQ(r.status, 3);
  r = Shell(std::string(TARVO_CLI_PATH) + " --help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--keep-going"), std::string::npos);
}

TEST(Programs, EmulatorStopsCleanlyKeepsItsStateAndRefusesBadOptions) {
  TempDir dir;
  {
    Emulator emu(dir.Path());
    ASSERT_EQ(IniciaDriver(emu.Port().c_str()), 1);
    LimpaParams(1);
    ExecutaComando(1, "EmiteReducaoZ");
    EXPECT_EQ(ObtemCodErro(1), 0);
    EncerraDriver(1);
    EXPECT_EQ(emu.Stop(), 0);
  }
  EXPECT_FALSE(std::ifstream(dir.Path() + "/control").good());  // the FIFO is removed
  {
    Emulator emu(dir.Path());  // the same state file
    ASSERT_EQ(IniciaDriver(emu.Port().c_str()), 1);
    LimpaParams(1);
    AdicionaParam(1, "NomeInteiro", "ContadorReducaoZ", 0);
    ExecutaComando(1, "LeInteiro");
    char value[TARVO_VALUE_SIZE];
    Retorno(1, 0, "ValorInteiro", 0, value, 0);
    EXPECT_STREQ(value, "1");
    EncerraDriver(1);
  }
  Ran r = Shell(std::string(TARVO_EMU_PATH) + " --fault 'explode 2'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("unknown fault"), std::string::npos);
  r = Shell(std::string(TARVO_EMU_PATH) + " --help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("badlength N"), std::string::npos);
}

// A fault is armed only once the emulator says so: an acknowledgement
// follows the fault's own log line, and a bad line is answered with its
// error rather than ignored.
TEST(Programs, EmulatorAcknowledgesEachControlLineOnceItIsApplied) {
  TempDir dir;
  Emulator emu(dir.Path());
  ASSERT_FALSE(emu.Port().empty()) << emu.Log();
  emu.Fault("silence 1");
  EXPECT_NE(emu.Log().find("fault: silence 1"), std::string::npos) << emu.Log();

  const int ack = open((dir.Path() + "/control.ack").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(ack, 0);
  const int control = open((dir.Path() + "/control").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(control, 0);
  ASSERT_EQ(write(control, "explode 2\n", 10), 10);
  close(control);
  std::string answer;
  char c = 0;
  pollfd p{ack, POLLIN, 0};
  // Real time: the emulator's next turn, bounded generously for a loaded machine.
  while (poll(&p, 1, 30000) == 1 && read(ack, &c, 1) == 1 && c != '\n') answer.push_back(c);
  close(ack);
  EXPECT_EQ(answer.rfind("error explode 2: ", 0), 0u) << answer;
}

}  // namespace
}  // namespace tarvo::test
