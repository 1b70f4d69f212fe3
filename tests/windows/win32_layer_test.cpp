// The Win32 system layer under Wine, on COM ports that are Linux
// pseudo-terminals with the scripted printer of printer.py on the far side:
// COM5 and COM15. The printer echoes any byte outside a frame and answers
// request frames by their command name.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "driver/driver_state.h"
#include "serial/serial_port.h"
#include "serial/system.h"
#include "support/temp_dir.h"
#include "tarvo.h"
#include "trace/trace.h"

namespace tarvo {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Reads until `count` bytes came or `budgetMs` passed, a byte-sized read at
// a time as the exchange engine reads.
std::string ReadBytes(SerialPort& port, size_t count, int budgetMs) {
  std::string got;
  const auto start = Clock::now();
  while (got.size() < count && MsSince(start) < budgetMs) {
    char c = 0;
    uint32_t n = 0;
    if (port.Read(&c, 1, &n, nullptr, 200) == 0 && n == 1) got.push_back(c);
  }
  return got;
}

void ExpectEcho(SerialPort& port, const std::string& text) {
  uint32_t written = 0;
  ASSERT_EQ(port.Write(text.data(), static_cast<uint32_t>(text.size()), &written, nullptr, 2000),
            0u);
  EXPECT_EQ(written, text.size());
  EXPECT_EQ(ReadBytes(port, text.size(), 3000), text);
}

// Runs reg.exe with these arguments and returns its exit code.
DWORD Reg(const std::string& arguments) {
  std::string line = "reg.exe " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return GetLastError();
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

constexpr const char* kKey = "HKCR\\BelmoraPOS\\ImpressoraFiscal";

void SetCommSettings(const std::string& value) {
  ASSERT_EQ(Reg(std::string("add ") + kKey + " /v CommSettings /t REG_SZ /d " + value + " /f"), 0u);
}

void DeleteSettingsKey() { Reg("delete HKCR\\BelmoraPOS /f"); }

// ---- SerialPort over the Win32 layer ----------------------------------------

class Win32Port : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(port_.Open("COM5", 8192, 8192, 1), 0u); }
  void TearDown() override { port_.Close(); }
  SerialPort port_;
};

TEST_F(Win32Port, OpensOverlappedAndRefusesASecondOpen) {
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_NE(port_.ioEvent, nullptr);
  EXPECT_EQ(port_.GetEventMask(), 0xC1u);
  sys::CommTimeouts timeouts{};
  ASSERT_EQ(sys::GetTimeouts(port_.device, &timeouts), 0u);
  EXPECT_EQ(timeouts.readIntervalTimeout, 30u);
  EXPECT_EQ(timeouts.readTotalTimeoutMultiplier, 3600000u);
  EXPECT_EQ(timeouts.readTotalTimeoutConstant, 100u);

  sys::Handle device = port_.device;
  EXPECT_EQ(port_.Open("COM5", 8192, 8192, 1), 1247u);
  EXPECT_EQ(port_.device, device);
  ExpectEcho(port_, "still open");

  EXPECT_EQ(port_.Close(), 0u);
  EXPECT_EQ(port_.Close(), 0u);
  char c;
  uint32_t n = 7;
  EXPECT_EQ(port_.Read(&c, 1, &n, nullptr, 100), 6u);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(port_.Configure(19200, 8, 2, 0), 6u);
  EXPECT_EQ(port_.GetBaudRate(), -1);
  EXPECT_EQ(port_.lastError, 6u);
  // A closed port reports CTS off with the invalid-handle code.
  EXPECT_FALSE(port_.IsCtsOn());
  EXPECT_EQ(port_.lastError, 6u);
}

TEST_F(Win32Port, LineSettingsGoThroughTheDcbAndComeBack) {
  ASSERT_EQ(port_.Configure(38400, 8, 2, 0), 0u);
  EXPECT_EQ(port_.GetBaudRate(), 38400);
  EXPECT_EQ(port_.GetByteSize(), 8);
  EXPECT_EQ(port_.GetStopBits(), 0);
  // (A pseudo-terminal keeps 8 data bits and no parity whatever is asked.)
  ASSERT_EQ(port_.Configure(115200, 8, 0, 2), 0u);
  EXPECT_EQ(port_.GetBaudRate(), 115200);
  EXPECT_EQ(port_.GetParity(), 0);
  EXPECT_EQ(port_.GetStopBits(), 2);

  ASSERT_EQ(port_.SetHandshake(2), 0u);
  EXPECT_EQ(port_.GetHandshake(), 2);
  ASSERT_EQ(port_.SetHandshake(0), 0u);
  EXPECT_EQ(port_.GetHandshake(), 0);
  EXPECT_EQ(port_.SetHandshake(3), 0x80070057u);
  EXPECT_EQ(port_.SetReadTimeouts(2), 0x80070057u);

  // (Wine keeps no event character; the mask is the port's own.)
  ASSERT_EQ(port_.SetEventChar('}', 1), 0u);
  EXPECT_EQ(port_.GetEventMask(), 0xC3u);
}

TEST_F(Win32Port, OverlappedWritesAndReadsCarryTheBytesBothWays) {
  ASSERT_EQ(port_.Configure(115200, 8, 2, 0), 0u);
  ExpectEcho(port_, "hello");
  // A longer block, read back one byte at a time.
  std::string block;
  for (int i = 0; i < 300; ++i) block.push_back(static_cast<char>('a' + i % 26));
  ExpectEcho(port_, block);
  // Bytes 0x80..0xFF pass unchanged (the host's code page is not ours).
  ExpectEcho(port_, "\xE7\xE3o \xC9");
}

TEST_F(Win32Port, ASilentReadTimesOutAndIsCancelledBeforeReturning) {
  ASSERT_EQ(port_.Purge(), 0u);
  char c = 0;
  uint32_t n = 9;
  const auto start = Clock::now();
  EXPECT_EQ(port_.Read(&c, 1, &n, nullptr, 300), 1460u);
  const int64_t took = MsSince(start);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(port_.lastError, 1460u);
  EXPECT_GE(took, 280);
  EXPECT_LT(took, 3000);
  // Nothing was left pending: the next byte goes to the next read, not to
  // the cancelled one.
  ExpectEcho(port_, "x");
}

TEST_F(Win32Port, ControlLinesAndPurgeOnAPortWithoutModemLines) {
  // The pseudo-terminal's driver has no modem status: CTS reads as on.
  EXPECT_TRUE(port_.IsCtsOn());
  EXPECT_EQ(port_.lastError, 0u);
  EXPECT_EQ(port_.SetBreak(), 0u);
  EXPECT_EQ(port_.ClearBreak(), 0u);
  EXPECT_EQ(port_.Purge(), 0u);
  ExpectEcho(port_, "after break");
}

TEST(Win32PortOpen, PortsAboveNineOpenThroughTheDeviceNamespace) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM15", 8192, 8192, 1), 0u);
  ExpectEcho(port, "fifteen");
}

TEST(Win32PortOpen, AMissingPortGivesThePlatformCodeAndStaysClosed) {
  SerialPort port;
  EXPECT_EQ(port.Open("COM7", 8192, 8192, 1), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.ioEvent, nullptr);
}

TEST(Win32PortOpen, APortOpenedWithoutOverlappedIoTransfersSynchronously) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM5", 0, 0, 0), 0u);
  EXPECT_EQ(port.ioEvent, nullptr);
  uint32_t written = 5;
  EXPECT_EQ(port.Write("x", 1, &written, nullptr, 1000), 1u);
  EXPECT_EQ(written, 0u);
  ASSERT_EQ(port.Write("sync", 4, &written, nullptr, sys::kInfinite), 0u);
  EXPECT_EQ(written, 4u);
  // Mode 1: the read returns when the count has come, or 30 ms after the
  // last byte.
  char back[8] = {};
  uint32_t got = 0;
  ASSERT_EQ(port.Read(back, 4, &got, nullptr, sys::kInfinite), 0u);
  EXPECT_EQ(std::string(back, got), "sync");
}

// ---- The session, the registry and the trace ------------------------------

class Win32Session : public ::testing::Test {
 protected:
  void SetUp() override {
    driverState.port.Close();
    driverState.fArq = -1;
    traceState = TraceState{};
    test::StartTrace(1);
  }
  void TearDown() override {
    EncerraDriver(driverState.fArq);
    driverState.port.Close();
    traceState = TraceState{};
    DeleteSettingsKey();
  }
  bool TraceHas(const std::string& line) {
    for (const std::string& l : test::TraceLines("test.txt")) {
      if (l == line) return true;
    }
    return false;
  }
  test::TempDir dir_;
};

TEST_F(Win32Session, IniciaDriverOpensCom5AtTheRateOfTheRegistry) {
  SetCommSettings("COM1:38400,e,8,1");
  ASSERT_EQ(IniciaDriver("COM5"), 1);
  EXPECT_EQ(driverState.port.GetBaudRate(), 38400);
  EXPECT_EQ(driverState.port.GetByteSize(), 8);
  EXPECT_TRUE(TraceHas("IniciaDriver2900 COM5"));
  EXPECT_FALSE(TraceHas("IniciaDriver2900 Erro na leitura do Register"));
  EXPECT_EQ(EncerraDriver(1), 0);
  EXPECT_FALSE(driverState.port.IsOpen());
}

TEST_F(Win32Session, AValueThatDoesNotFitItsTwentyBytesIsAReadError) {
  // Twenty characters and the terminator: 21 bytes for a 20-byte buffer.
  SetCommSettings("COM1:38400,E,8,1,ABC");
  sys::Handle key = nullptr;
  ASSERT_EQ(sys::RegistryOpenKey("BelmoraPOS\\ImpressoraFiscal", &key), 0u);
  char value[20];
  uint32_t size = sizeof value;
  EXPECT_EQ(sys::RegistryQueryValue(key, "CommSettings", value, &size), 234u);
  sys::RegistryCloseKey(key);

  ASSERT_EQ(IniciaDriver("COM5"), 1);
  EXPECT_TRUE(TraceHas("IniciaDriver2900 Erro na leitura do Register"));
  EXPECT_EQ(driverState.port.GetBaudRate(), 115200);
}

TEST_F(Win32Session, AMissingKeyOrABadFieldFallsBackTo115200) {
  DeleteSettingsKey();
  ASSERT_EQ(IniciaDriver("COM5"), 1);
  EXPECT_TRUE(TraceHas("IniciaDriver2900 Erro na abertura do Register"));
  EXPECT_EQ(driverState.port.GetBaudRate(), 115200);
  ASSERT_EQ(EncerraDriver(1), 0);

  test::StartTrace(1);
  SetCommSettings("COM1:9600,E,8,1");
  ASSERT_EQ(IniciaDriver("COM5"), 1);
  EXPECT_TRUE(TraceHas("IniciaDriver2900 Erro de configuracao[velocidade]"));
  EXPECT_EQ(driverState.port.GetBaudRate(), 115200);
}

TEST_F(Win32Session, AMissingPortFailsWithThePlatformCodeInTheTrace) {
  EXPECT_EQ(IniciaDriver("COM7"), -11);
  EXPECT_EQ(driverState.fArq, -1);
  EXPECT_TRUE(TraceHas("IniciaDriver2900 Erro [2] na inicializacao da COM"));
}

TEST_F(Win32Session, TraceLinesEndInCrLf) {
  EXPECT_EQ(IniciaDriver("COM9"), -11);
  const std::string log = test::ReadFile("test.txt");
  ASSERT_NE(log.find("Erro[canal]\r\n"), std::string::npos) << log;
  for (size_t at = log.find('\n'); at != std::string::npos; at = log.find('\n', at + 1)) {
    ASSERT_GT(at, 0u);
    EXPECT_EQ(log[at - 1], '\r') << "a bare line feed at " << at;
  }
  EXPECT_EQ(log.rfind("Arquivo de LOG test.txt:\r\n\r\n", 0), 0u);
  EXPECT_EQ(traceState.logPos, static_cast<int>(log.size()));
}

TEST_F(Win32Session, AWholeExchangeOnCom5) {
  ASSERT_EQ(IniciaDriver("COM5"), 1);
  ASSERT_EQ(AdicionaParam(1, "NomeTexto", "NumeroSerieECF", 7), 0);
  ASSERT_EQ(ExecutaComando(1, "LeTexto"), 1);
  EXPECT_EQ(ObtemCodErro(1), 0);
  char value[TARVO_VALUE_SIZE] = {};
  EXPECT_EQ(Retorno(1, 0, "ValorTexto", 0, value, 0), 12);
  EXPECT_STREQ(value, "BR0123456789");

  // An answer that comes late, and one preceded by noise and a stale id.
  ASSERT_EQ(ExecutaComando(1, "Atrasa"), 1);
  EXPECT_EQ(ObtemCodErro(1), 0);
  ASSERT_EQ(ExecutaComando(1, "Ruido"), 1);
  EXPECT_EQ(ObtemCodErro(1), 0);

  // The printer's own error.
  ASSERT_EQ(ExecutaComando(1, "ErroTeste"), 1);
  EXPECT_EQ(ObtemCodErro(1), 8);
  char name[TARVO_ERROR_NAME_SIZE] = {};
  char circumstance[TARVO_CIRCUMSTANCE_SIZE] = {};
  ObtemNomeErro(1, name, 0);
  ObtemCircunstancia(1, circumstance, 0);
  EXPECT_STREQ(name, "ErroExemplo");
  EXPECT_STREQ(circumstance, "Texto de exemplo");
  EXPECT_EQ(EncerraDriver(1), 0);
}

TEST_F(Win32Session, ASilentPrinterFailsTheExchangeAndThePortIsOpenedAgain) {
  ASSERT_EQ(IniciaDriver("COM5"), 1);
  const auto start = Clock::now();
  EXPECT_EQ(ExecutaComando(1, "Silencio"), -1);
  EXPECT_EQ(ObtemCodErro(1), 11010);
  std::printf("silent printer: %lld ms\n", static_cast<long long>(MsSince(start)));
  // Every transfer was cancelled and completed; the port, opened again,
  // carries the next command.
  EXPECT_TRUE(driverState.port.IsOpen());
  ASSERT_EQ(ExecutaComando(1, "LeInteiro"), 1);
  EXPECT_EQ(ObtemCodErro(1), 0);
}

TEST_F(Win32Session, IniciaDriverReachesCom15) {
  ASSERT_EQ(IniciaDriver("COM15"), 1);
  EXPECT_TRUE(TraceHas("IniciaDriver2900 COM15"));
  ASSERT_EQ(ExecutaComando(1, "LeInteiro"), 1);
  char value[TARVO_VALUE_SIZE] = {};
  EXPECT_EQ(Retorno(1, 0, "ValorInteiro", 0, value, 0), 1);
  EXPECT_STREQ(value, "3");
}

// ---- Text files --------------------------------------------------------------

TEST(Win32Files, TextModeWritesCrLfAndReadsItBackAsLf) {
  test::TempDir dir;
  sys::Handle file = sys::FileOpen("t.txt", sys::FileMode::Create);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(sys::FileWrite(file, "a\nb\r\n\n", 6), 9);
  EXPECT_EQ(sys::FileTell(file), 9);  // positions count the stored bytes
  sys::FileClose(file);
  EXPECT_EQ(test::ReadFile("t.txt"), "a\r\nb\r\r\n\r\n");

  // Read back in pieces: a CR that ends one read still pairs with the LF
  // that begins the next; a Ctrl-Z ends the text.
  test::WriteFile("r.cfg", "Trace=1\r\nTamanho=900\r\n\x1Ajunk");
  file = sys::FileOpen("r.cfg", sys::FileMode::Read);
  ASSERT_NE(file, nullptr);
  char text[64] = {};
  EXPECT_EQ(sys::FileRead(file, text, 8), 8u);
  EXPECT_EQ(std::string(text, 8), "Trace=1\n");
  EXPECT_EQ(sys::FileRead(file, text, sizeof text), 12u);
  EXPECT_EQ(std::string(text, 12), "Tamanho=900\n");
  sys::FileClose(file);

  EXPECT_EQ(sys::FileOpen("missing.txt", sys::FileMode::Read), nullptr);
  EXPECT_EQ(sys::FileOpen("missing.txt", sys::FileMode::Update), nullptr);
}

// ---- Window messages ---------------------------------------------------------

LRESULT CALLBACK AnswerWindow(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_USER + 7) return 4321;
  return DefWindowProcA(window, message, w, l);
}

TEST(Win32Messages, DoMessageDispatchesOneWaitingMessage) {
  MSG drain;
  while (PeekMessageA(&drain, nullptr, 0, 0, PM_REMOVE)) {
  }
  EXPECT_EQ(DoMessage(), 0);

  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = AnswerWindow;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "TarvoTestWindow";
  ASSERT_NE(RegisterClassA(&windowClass), 0);
  HWND window = CreateWindowA("TarvoTestWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(PostMessageA(window, WM_USER + 7, 0, 0));
  EXPECT_EQ(DoMessage(), 4321);
  EXPECT_EQ(DoMessage(), 0);
  DestroyWindow(window);
}

}  // namespace
}  // namespace tarvo
