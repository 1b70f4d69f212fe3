// The network device against ser2net as the real peer: ser2net runs in the
// foreground with a generated configuration on a loopback port the test
// finds free, serving the emulator's pseudo-terminal (or the test's own),
// and is stopped and reaped by the test. Readiness is awaited by
// connecting, never by sleeping.
//
// Real time is spent on purpose where the driver's own bounds are what is
// proved: the plain TCP port (3 s negotiation bound) and the engine's BREAK
// recovery after ser2net is killed (about 3 s).
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "driver/driver_state.h"
#include "e2e/driver_calls.h"
#include "e2e/emulator_process.h"
#include "e2e/loopback.h"
#include "report/decode.h"
#include "report/render.h"
#include "report/trace_log.h"
#include "support/frames.h"
#include "support/fresh_state.h"
#include "support/pty.h"
#include "support/pty_printer.h"
#include "support/temp_dir.h"
#include "tarvo.h"

namespace tarvo::test {
namespace {

constexpr const char* kRfc2217Accepter = "telnet(rfc2217),tcp(nodelay)";

// ser2net serving `device` on 127.0.0.1 with the given accepter.
class Ser2net {
 public:
  Ser2net(const std::string& dir, const std::string& device, const std::string& accepter,
          uint16_t port = 0)
      : dir_(dir), device_(device), accepter_(accepter) {
    // A port found free may be taken before ser2net binds it: try again.
    for (int attempt = 0; attempt < 3 && pid_ < 0; ++attempt) {
      port_ = port != 0 ? port : FreeLoopbackPort();
      Start();
      if (!AwaitReady()) Stop();
    }
  }
  ~Ser2net() { Stop(); }
  Ser2net(const Ser2net&) = delete;
  Ser2net& operator=(const Ser2net&) = delete;

  bool Running() const { return pid_ > 0; }
  uint16_t Port() const { return port_; }
  std::string Url(const std::string& options = "?ignorects") const {
    return "rfc2217://127.0.0.1:" + std::to_string(port_) + options;
  }
  // Ends ser2net with `sig` and reaps it.
  void Stop(int sig = SIGTERM) {
    if (pid_ <= 0) return;
    kill(pid_, sig);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  void Start() {
    const std::string config = dir_ + "/ser2net.yaml";
    WriteFile(config, "connection: &printer\n    accepter: " + accepter_ + ",127.0.0.1," +
                          std::to_string(port_) + "\n    connector: serialdev," + device_ +
                          ",115200e81,local\n    options:\n      chardelay: false\n"
                          "      max-connections: 1\n");
    const std::string pidFile = dir_ + "/ser2net.pid";
    pid_ = fork();
    if (pid_ == 0) {
      const std::string log = dir_ + "/ser2net.log";
      if (!freopen(log.c_str(), "a", stdout) || !freopen(log.c_str(), "a", stderr)) _exit(126);
      execlp("ser2net", "ser2net", "-n", "-c", config.c_str(), "-P", pidFile.c_str(), nullptr);
      _exit(127);
    }
  }
  // Ready once a connection is accepted and served; the probe then closes
  // and waits for ser2net's end of it, so that the port is free again for
  // the driver (it serves one connection at a time).
  bool AwaitReady() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      const int fd = ConnectLoopback(port_);
      if (fd < 0) {
        // Not listening yet; the poll() is the wait between attempts.
        poll(nullptr, 0, 10);
        continue;
      }
      shutdown(fd, SHUT_WR);
      char buffer[256];
      while (read(fd, buffer, sizeof buffer) > 0) {
      }
      close(fd);
      return true;
    }
    return false;
  }

  std::string dir_, device_, accepter_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

class NetOverSer2net : public ::testing::Test {
 protected:
  void SetUp() override {
    FreshState();
    setenv("TARVO_REGISTRY", (dir.Path() + "/registry.reg").c_str(), 1);
  }
  void TearDown() override {
    FC_Finaliza();
    EncerraDriver(1);
    unsetenv("TARVO_REGISTRY");
    FreshState();
  }
  void WriteRegistry(const std::string& body) {
    WriteFile(dir.Path() + "/registry.reg", "Windows Registry Editor Version 5.00\r\n\r\n" + body);
  }
  TempDir dir;
};

class SaleOverSer2net : public NetOverSer2net {
 protected:
  void SetUp() override {
    NetOverSer2net::SetUp();
    ASSERT_FALSE(emu.Port().empty()) << emu.Log();
    ASSERT_TRUE(server.Running()) << ReadFile(dir.Path() + "/ser2net.log");
  }
  EmulatorProcess emu{EmulatorOptions{.serial = "NET0001",
                                      .control = dir.Path() + "/control",
                                      .log = dir.Path() + "/emulator.log",
                                      .args = {"--paper", dir.Path() + "/paper.txt"}}};
  Ser2net server{dir.Path(), emu.Port(), kRfc2217Accepter};
};

TEST_F(SaleOverSer2net, AWholeSaleThroughTheDriverCallsAndTheFacade) {
  ASSERT_EQ(IniciaDriver(server.Url().c_str()), 1);
  EXPECT_EQ(RunCommand("AbreCupom", {}).code, 0);
  EXPECT_EQ(RunCommand("VendeItem", {{"Descricao", "Pao", 7}, {"PrecoUnitario", "3.25", 0}}).code,
            0);
  EXPECT_EQ(RunCommand("PagaCupom", {{"MeioPagamento", "Dinheiro", 7}, {"Valor", "5", 0}}).code, 0);
  EXPECT_EQ(RunCommand("EncerraCupom", {}).code, 0);
  ASSERT_EQ(EncerraDriver(1), 0);
  EXPECT_NE(ReadFile(dir.Path() + "/paper.txt").find("Pao"), std::string::npos);

  // The facade's scan of COM7 to COM22 finds the printer behind a COM name
  // that the port map gives the network port.
  WriteRegistry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\Ports]\r\n\"COM7\"=\"" + server.Url() +
                "\"\r\n");
  ASSERT_EQ(FC_Inicializa("COMU"), 0);
  EXPECT_STREQ(driverState.portName, "COM7");
  EXPECT_EQ(RunCommand("LeTexto", {{"NomeTexto", "NumeroSerieECF", 7}}).code, 0);
  EXPECT_EQ(Value("ValorTexto"), "NET0001");
}

TEST_F(SaleOverSer2net, TheRegistryRateIsAskedForAndAcknowledgedAt8E1) {
  WriteRegistry(
      "[HKEY_CLASSES_ROOT\\BelmoraPOS\\ImpressoraFiscal]\r\n\"CommSettings\"=\"COM1:38400,E,8,1\""
      "\r\n");
  ASSERT_EQ(IniciaDriver(server.Url().c_str()), 1);
  // The network device keeps a setting only once the server acknowledged
  // it with the value asked for.
  SerialPort& port = driverState.port;
  EXPECT_EQ(port.GetBaudRate(), 38400);
  EXPECT_EQ(port.GetByteSize(), 8);
  EXPECT_EQ(port.GetParity(), 2);
  EXPECT_EQ(port.GetStopBits(), 0);
  // ser2net set the pseudo-terminal to that rate.
  const int slave = open(emu.Port().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (slave >= 0) {
    termios t{};
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
    close(slave);
  }
  EXPECT_EQ(RunCommand("LeTexto", {{"NomeTexto", "NumeroSerieECF", 7}}).code, 0);
}

TEST_F(SaleOverSer2net, KilledServerFailsTheExchangeAndTheReopenReachesItsSuccessor) {
  ASSERT_EQ(IniciaDriver(server.Url().c_str()), 1);
  ASSERT_EQ(RunCommand("LeTexto", {{"NomeTexto", "NumeroSerieECF", 7}}).code, 0);
  const uint16_t port = server.Port();
  server.Stop(SIGKILL);
  Ser2net successor(dir.Path(), emu.Port(), kRfc2217Accepter, port);
  ASSERT_TRUE(successor.Running()) << ReadFile(dir.Path() + "/ser2net.log");

  const Result failed = RunCommand("LeTexto", {{"NomeTexto", "NumeroSerieECF", 7}});
  EXPECT_EQ(failed.executed, -1);
  EXPECT_EQ(failed.code, 11010);
  EXPECT_EQ(failed.circumstance, "Erro de Recepcao");
  const Result next = RunCommand("LeTexto", {{"NomeTexto", "NumeroSerieECF", 7}});
  EXPECT_EQ(next.executed, 1);
  EXPECT_EQ(Value("ValorTexto"), "NET0001");
}

TEST_F(SaleOverSer2net, ABusyPortIsRefusedAtOnce) {
  const int holder = ConnectLoopback(server.Port());
  ASSERT_GE(holder, 0);
  char greeting[21];
  ASSERT_GT(read(holder, greeting, sizeof greeting), 0) << "the first client is served";
  EXPECT_EQ(IniciaDriver(server.Url().c_str()), -11);
  EXPECT_EQ(driverState.port.lastError, static_cast<uint32_t>(ECONNRESET));
  close(holder);
}

// The device's own pseudo-terminal, for what the emulator can't show.
class LineOverSer2net : public NetOverSer2net {
 protected:
  Pty pty;
};

TEST_F(LineOverSer2net, EveryByteValueAFrameAllowsTravelsBothWays) {
  Ser2net server(dir.Path(), pty.SlavePath(), kRfc2217Accepter);
  ASSERT_TRUE(server.Running());
  // Every byte but the zero, the quote that ends the value and the brace
  // that ends the frame; 0xFF comes before each Telnet command code, so a
  // missing escape would be read as a command.
  std::string value;
  for (int b = 1; b < 0xF0; ++b) {
    if (b != '"' && b != '}') value += static_cast<char>(b);
  }
  for (int b = 0xF0; b < 0xFF; ++b) {
    value += '\xFF';
    value += static_cast<char>(b);
  }
  ASSERT_EQ(IniciaDriver(server.Url().c_str()), 1);
  {
    PtyPrinter printer(pty, 1, [&](const std::string& request) {
      return AnswerFrame(RequestId(request), "0", "ValorTexto=\"" + value + "\"");
    });
    LimpaParams(1);
    AdicionaParam(1, "Texto", value.c_str(), 7);
    EXPECT_EQ(ExecutaComando(1, "LeTexto"), 1);
    printer.Join();
    ASSERT_EQ(printer.Requests().size(), 1u);
    EXPECT_NE(printer.Requests()[0].find("Texto=\"" + value + "\""), std::string::npos);
  }
  EXPECT_EQ(Value("ValorTexto"), value);
}

TEST_F(LineOverSer2net, APlainTcpPortIsRefusedAndItsDeviceGetsNoByte) {
  Ser2net server(dir.Path(), pty.SlavePath(), "tcp");
  ASSERT_TRUE(server.Running());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(IniciaDriver(server.Url().c_str()), -11);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(driverState.port.lastError, static_cast<uint32_t>(ETIMEDOUT));
  EXPECT_EQ(pty.ReadMaster(64, 200), "");
}

// The report reads a lost link as the link, not as a printer that lost
// its CTS: the library's own log of a session whose server went away.
TEST_F(SaleOverSer2net, ReportNamesALostLinkNotThePrinter) {
  const std::string base = dir.Path() + "/net";
  setenv("TARVO_TRACE", ("1:" + base).c_str(), 1);
  ASSERT_EQ(IniciaDriver(server.Url().c_str()), 1);
  ASSERT_EQ(RunCommand("LeTexto", {{"NomeTexto", "NumeroSerieECF", 7}}).code, 0);
  server.Stop(SIGKILL);
  EXPECT_EQ(RunCommand("LeTexto", {{"NomeTexto", "NumeroSerieECF", 7}}).code, 11010);
  EXPECT_EQ(RunCommand("LeTexto", {{"NomeTexto", "NumeroSerieECF", 7}}).code, 11010);
  EncerraDriver(1);
  unsetenv("TARVO_TRACE");
  std::vector<report::LogFile> logs(1);
  std::string error;
  ASSERT_TRUE(report::LoadLog(base + ".txt", 0, &logs[0], &error)) << error;
  const report::Report r = report::Decode(logs[0].records);
  ASSERT_GE(r.exchanges.size(), 3u) << logs[0].content;
  EXPECT_TRUE(r.network);
  EXPECT_TRUE(r.exchanges.back().networkLost) << logs[0].content;
  const std::string verdict = report::Verdict(r);
  EXPECT_EQ(verdict.rfind("The network link to the port's server was lost", 0), 0u) << verdict;
  EXPECT_EQ(verdict.find("No CTS from the printer"), std::string::npos) << verdict;
}

}  // namespace
}  // namespace tarvo::test
