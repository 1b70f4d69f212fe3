// The driver library against the emulator program over a pseudo-terminal:
// a whole sale, and the driver's results for each fault the emulator
// injects. Also the two programs' own command-line behaviour.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tarvo.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A temporary directory that is the current directory while it lives (the
// driver's trace files go to the current directory).
class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/tarvo-e2e.XXXXXX";
    path_ = mkdtemp(templ);
    char cwd[4096];
    previous_ = getcwd(cwd, sizeof cwd);
    EXPECT_EQ(chdir(path_.c_str()), 0);
  }
  ~TempDir() {
    if (chdir(previous_.c_str()) != 0) std::perror("chdir");
    const std::string command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) std::perror("rm");
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_, previous_;
};

// The emulator as a child process. Its first line of output is the slave
// device; reading that line waits exactly until it is ready.
class Emulator {
 public:
  explicit Emulator(const std::string& dir, std::vector<std::string> extra = {}) : dir_(dir) {
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    std::vector<std::string> args = {
        TARVO_EMU_PATH,   "--serial", "E2E0001",          "--ecf",   "3",           "--control",
        dir + "/control", "--paper",  dir + "/paper.txt", "--state", dir + "/state"};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      const int log = open((dir + "/emulator.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      dup2(log, 2);
      close(out[0]);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
    char c;
    while (read(out_, &c, 1) == 1 && c != '\n') port_.push_back(c);
  }
  ~Emulator() {
    if (pid_ > 0) Stop();
    close(out_);
  }
  const std::string& Port() const { return port_; }
  // Arms a fault through the control FIFO; it is applied before any request
  // that is sent after this returns.
  void Fault(const std::string& line) {
    const int fd = open((dir_ + "/control").c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const std::string text = line + "\n";
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
  }
  // SIGTERM; the exit status (0 for a clean stop).
  int Stop() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string Paper() const { return ReadFile(dir_ + "/paper.txt"); }
  std::string Log() const { return ReadFile(dir_ + "/emulator.log"); }

 private:
  std::string dir_, port_;
  pid_t pid_ = -1;
  int out_ = -1;
};

struct Result {
  int executed;
  int code;
  std::string name, circumstance;
};

class DriverOnEmulator : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(emu.Port().empty()) << emu.Log(); }
  void TearDown() override {
    FC_Finaliza();
    EncerraDriver(1);
  }
  void Open() { ASSERT_EQ(IniciaDriver(emu.Port().c_str()), 1); }
  Result Run(const char* command, std::vector<std::tuple<const char*, const char*, int>> params) {
    LimpaParams(1);
    for (auto& [n, v, t] : params) AdicionaParam(1, n, v, t);
    Result r;
    r.executed = ExecutaComando(1, command);
    r.code = ObtemCodErro(1);
    char name[TARVO_ERROR_NAME_SIZE] = "", circumstance[TARVO_CIRCUMSTANCE_SIZE] = "";
    ObtemNomeErro(1, name, 0);
    ObtemCircunstancia(1, circumstance, 0);
    r.name = name;
    r.circumstance = circumstance;
    return r;
  }
  std::string Value(const char* name) {
    static char value[TARVO_VALUE_SIZE];
    const int n = Retorno(1, 0, name, 0, value, 0);
    return n >= 0 ? std::string(value) : "error " + std::to_string(n);
  }
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

}  // namespace
