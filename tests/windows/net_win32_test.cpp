// The Win32 network device under Wine, with ser2net on the Linux side as
// the real peer (ser2net_peer.py starts it): TARVO_NET_URL names a ser2net
// with the Com Port option in front of the printer emulator,
// TARVO_NET_TCP_URL one with a plain TCP accepter.
// Winsock's headers come before anything that includes windows.h.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/driver_state.h"
#include "serial/serial_port.h"
#include "support/fresh_state.h"
#include "tarvo.h"

namespace tarvo {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// LeTexto, or another command without parameters; the printer's code.
int Command(const char* command, const char* name = nullptr, const char* value = nullptr) {
  LimpaParams(1);
  if (name != nullptr) AdicionaParam(1, name, value, 7);
  if (ExecutaComando(1, command) != 1) return -1;
  return ObtemCodErro(1);
}

class NetWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FreshState();
    url = Env("TARVO_NET_URL");
    ASSERT_FALSE(url.empty()) << "run through ser2net_peer.py";
  }
  void TearDown() override {
    EncerraDriver(1);
    test::FreshState();
  }
  std::string url;
};

TEST_F(NetWin32, ASaleThroughSer2netWithTheSettingsAcknowledged) {
  ASSERT_EQ(IniciaDriver(url.c_str()), 1);
  EXPECT_EQ(Command("AbreCupom"), 0);
  LimpaParams(1);
  AdicionaParam(1, "Descricao", "Pao", 7);
  AdicionaParam(1, "PrecoUnitario", "3.25", 0);
  EXPECT_EQ(ExecutaComando(1, "VendeItem"), 1);
  EXPECT_EQ(ObtemCodErro(1), 0);
  LimpaParams(1);
  AdicionaParam(1, "MeioPagamento", "Dinheiro", 7);
  AdicionaParam(1, "Valor", "5", 0);
  EXPECT_EQ(ExecutaComando(1, "PagaCupom"), 1);
  EXPECT_EQ(Command("EncerraCupom"), 0);
  SerialPort& port = driverState.port;
  EXPECT_EQ(port.Configure(38400, 8, 2, 0), 0u);
  EXPECT_EQ(port.GetBaudRate(), 38400);
  EXPECT_EQ(port.GetParity(), 2);
  EXPECT_EQ(Command("LeTexto", "NomeTexto", "NumeroSerieECF"), 0);
}

TEST_F(NetWin32, AComNameInThePortMapReachesTheNetworkPort) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\TARVO\\Ports", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "COM17", 0, REG_SZ, reinterpret_cast<const BYTE*>(url.c_str()),
                           static_cast<DWORD>(url.size() + 1)),
            ERROR_SUCCESS);
  EXPECT_EQ(IniciaDriver("COM17"), 1);
  EXPECT_EQ(Command("LeTexto", "NomeTexto", "NumeroSerieECF"), 0);
  EncerraDriver(1);
  RegDeleteValueA(key, "COM17");
  RegCloseKey(key);
}

TEST_F(NetWin32, APlainTcpPortAndABusyPortAreRefused) {
  EXPECT_EQ(IniciaDriver(Env("TARVO_NET_TCP_URL").c_str()), -11);
  EXPECT_EQ(driverState.port.lastError, static_cast<uint32_t>(WSAETIMEDOUT));

  // A first client holds the port: ser2net tells the driver it is in use.
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  const size_t colon = url.rfind(':');
  const int portNumber = std::atoi(url.c_str() + colon + 1);
  SOCKET holder = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<u_short>(portNumber));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  char greeting[21];
  ASSERT_GT(recv(holder, greeting, sizeof greeting, 0), 0);
  EXPECT_EQ(IniciaDriver(url.c_str()), -11);
  EXPECT_EQ(driverState.port.lastError, static_cast<uint32_t>(WSAECONNRESET));
  closesocket(holder);
  WSACleanup();
}

}  // namespace
}  // namespace tarvo
