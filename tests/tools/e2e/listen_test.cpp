// The emulator's own network serial port (tarvo-emu --listen) as the peer
// of the driver's network device: a whole sale with the command-line host
// and with the driver calls, and each network fault shown to have effect.
// The emulator takes a free port and announces it; nothing here uses a
// fixed port or sleeps.
#include <errno.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "driver/driver_state.h"
#include "e2e/driver_calls.h"
#include "e2e/emulator_process.h"
#include "support/fresh_state.h"
#include "support/temp_dir.h"
#include "tarvo.h"

namespace tarvo::test {
namespace {

class Listen : public ::testing::Test {
 protected:
  void SetUp() override {
    FreshState();
    setenv("TARVO_REGISTRY", (dir.Path() + "/registry.reg").c_str(), 1);
    ASSERT_EQ(emu.Port().rfind("rfc2217://127.0.0.1:", 0), 0u) << emu.Port() << emu.Log();
  }
  void TearDown() override {
    FC_Finaliza();
    EncerraDriver(1);
    unsetenv("TARVO_REGISTRY");
    FreshState();
  }
  // The shell's exit status of the command-line host on the emulator.
  int Cli(const std::string& args) {
    const std::string command = std::string(TARVO_CLI_PATH) + " -p " + emu.Port() + " " + args +
                                " </dev/null >>" + dir.Path() + "/cli.txt 2>&1";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  TempDir dir;
  EmulatorProcess emu{
      EmulatorOptions{.serial = "LST0001",
                      .control = dir.Path() + "/control",
                      .log = dir.Path() + "/emulator.log",
                      .args = {"--listen", "127.0.0.1:0", "--paper", dir.Path() + "/paper.txt",
                               "--path-file", dir.Path() + "/url.txt"}}};
};

TEST_F(Listen, AnnouncesTheFreePortItTookAndServesACliSaleInOneSession) {
  EXPECT_EQ(ReadFile(dir.Path() + "/url.txt"), emu.Port() + "\n");
  EXPECT_NE(emu.Port(), "rfc2217://127.0.0.1:0");
  WriteFile(dir.Path() + "/sale.txt",
            "AbreCupom\nVendeItem Descricao:7=Cafe PrecoUnitario=4,50 Quantidade=2\n"
            "PagaCupom MeioPagamento:7=Dinheiro Valor=10\nEncerraCupom\n");
  EXPECT_EQ(Cli("-f " + dir.Path() + "/sale.txt"), 0) << ReadFile(dir.Path() + "/cli.txt");
  const std::string paper = ReadFile(dir.Path() + "/paper.txt");
  EXPECT_NE(paper.find("Cafe"), std::string::npos) << paper;
  EXPECT_NE(paper.find("9,00"), std::string::npos) << paper;
  // A second session on the same server: the first one's end was noticed.
  EXPECT_EQ(Cli("LeInteiro NomeInteiro=COO -r ValorInteiro"), 0);
  EXPECT_NE(ReadFile(dir.Path() + "/cli.txt").find("ValorInteiro=1"), std::string::npos);
}

TEST_F(Listen, DriverCallsAndTheFacadesScanReachItThroughThePortMap) {
  ASSERT_EQ(IniciaDriver(emu.Port().c_str()), 1);
  EXPECT_EQ(RunCommand("AbreCupom", {}).code, 0);
  EXPECT_EQ(RunCommand("VendeItem", {{"Descricao", "Pao", 7}, {"PrecoUnitario", "3.25", 0}}).code,
            0);
  EXPECT_EQ(RunCommand("PagaCupom", {{"MeioPagamento", "Dinheiro", 7}, {"Valor", "5", 0}}).code, 0);
  EXPECT_EQ(Value("Troco"), "1,75");
  EXPECT_EQ(RunCommand("EncerraCupom", {}).code, 0);
  ASSERT_EQ(EncerraDriver(1), 0);
  WriteFile(dir.Path() + "/registry.reg",
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\"
            "Ports]\r\n\"COM7\"=\"" +
                emu.Port() + "\"\r\n");
  ASSERT_EQ(FC_Inicializa("COMU"), 0);
  EXPECT_STREQ(driverState.portName, "COM7");
}

TEST_F(Listen, CtsOffOnCommandStopsTheExchangeBeforeAByteIsSent) {
  ASSERT_EQ(IniciaDriver(emu.Port().c_str()), 1);
  EXPECT_TRUE(driverState.port.IsCtsOn());
  emu.Fault("cts off");
  EXPECT_FALSE(driverState.port.IsCtsOn());
  const Result r = RunCommand("AbreCupom", {});
  EXPECT_EQ(r.executed, -1);
  EXPECT_EQ(r.circumstance, "Sem sinal de CTS");
  EXPECT_EQ(emu.Log().find("AbreCupom"), std::string::npos) << "no request reached the printer";
  emu.Fault("cts on");
  EXPECT_TRUE(driverState.port.IsCtsOn());
}

TEST_F(Listen, ARefusedRateFailsTheSettingWithEinvalAndAMissingAckTimesOut) {
  ASSERT_EQ(IniciaDriver(emu.Port().c_str()), 1);
  SerialPort& port = driverState.port;
  emu.Fault("refuse baud 9600");
  EXPECT_EQ(port.Configure(115200, 8, 2, 0), static_cast<uint32_t>(EINVAL));
  emu.Fault("refuse baud off");
  EXPECT_EQ(port.Configure(115200, 8, 2, 0), 0u);
  // Real time: the driver's own 2 s bound for an acknowledgement.
  emu.Fault("refuse parity never");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.Configure(115200, 8, 2, 0), static_cast<uint32_t>(ETIMEDOUT));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(Listen, ADroppedConnectionFailsTheExchangeInFlight) {
  ASSERT_EQ(IniciaDriver(emu.Port().c_str()), 1);
  ASSERT_EQ(RunCommand("LeTexto", {{"NomeTexto", "NumeroSerieECF", 7}}).code, 0);
  emu.Fault("drop");
  // Real time: the engine's recovery from a line that went away.
  const Result r = RunCommand("LeTexto", {{"NomeTexto", "NumeroSerieECF", 7}});
  EXPECT_EQ(r.executed, -1);
  EXPECT_EQ(r.code, 11010);
  EXPECT_NE(emu.Log().find("dropped on command"), std::string::npos);
}

TEST_F(Listen, AMuteServerIsNotTakenForAPort) {
  emu.Fault("mute on");
  // Real time: the driver's negotiation bound (3 s).
  EXPECT_EQ(IniciaDriver(emu.Port().c_str()), -11);
  EXPECT_EQ(driverState.port.lastError, static_cast<uint32_t>(ETIMEDOUT));
  emu.Fault("mute off");
  EXPECT_EQ(IniciaDriver(emu.Port().c_str()), 1);
}

}  // namespace
}  // namespace tarvo::test
