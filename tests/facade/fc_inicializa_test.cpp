// FC_Inicializa and FC_Finaliza on the simulated line: opening the named
// port or scanning COM7..COM22, identifying the printer, and moving the
// trace to files named after it.
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

using test::FileExists;
using test::ReadFile;
using test::ScriptedPrinter;
using test::TempDir;
using test::TraceLines;
using test::WriteFile;

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool Contains(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

std::string CommandOf(const std::string& frame) {
  const size_t first = frame.find(';');
  return frame.substr(first + 1, frame.find(';', first + 1) - first - 1);
}

// Device names opened on the simulated line, in order.
std::vector<std::string> OpenedDevices() {
  std::vector<std::string> names;
  for (size_t i = 0; i < sim::EventCount(); ++i) {
    const sim::Event& e = sim::EventAt(i);
    if (e.kind == sim::Kind::Open) names.push_back(e.text);
  }
  return names;
}

class FcInicializaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Restart();
    WriteFile("TARVO.cfg", "Trace=2\n");
  }

  // A process just loaded, with a new printer on the line; files stay.
  void Restart() {
    printer_.reset();
    test::FreshState();
    sim::Reset();
    printer_ = std::make_unique<ScriptedPrinter>();
  }

  void TearDown() override { driverState.port.Close(); }

  void PrinterIdentifies(const std::string& serial, const std::string& ecf) {
    printer_->Reply("0", "ValorTexto=\"" + serial + "\"");
    printer_->Reply("0", "ValorInteiro=" + ecf);
  }

  TempDir dir_;
  std::unique_ptr<ScriptedPrinter> printer_;  // after sim::Reset(), which drops hooks
};

TEST_F(FcInicializaTest, NamedPortIdentifiesThePrinterAndMovesTheTraceToItsFiles) {
  WriteFile("TV_ABC123_1.cfg", "Trace=2\n");
  PrinterIdentifies("ABC123", "1");
  EXPECT_EQ(FC_Inicializa("COM1"), 0);
  EXPECT_EQ(fcState.fcHandle, 1);
  EXPECT_EQ(driverState.fArq, 1);

  ASSERT_EQ(printer_->Requests().size(), 2u);
  EXPECT_EQ(CommandOf(printer_->Requests()[0]), "LeTexto");
  EXPECT_NE(printer_->Requests()[0].find(";NomeTexto=\"NumeroSerieECF\";"), std::string::npos);
  EXPECT_EQ(CommandOf(printer_->Requests()[1]), "LeInteiro");
  EXPECT_NE(printer_->Requests()[1].find(";NomeInteiro=\"ECF\";"), std::string::npos);

  EXPECT_STREQ(fcState.cfgBaseName, "TV_ABC123_1");
  EXPECT_STREQ(fcState.logBaseName, "TV_ABC123_1.txt");

  // Later work goes to the printer's log only.
  printer_->Reply("0", "");
  FcCommand cmd{};
  std::strcpy(cmd.command, "AbreCupom");
  int len = 0;
  char text[TARVO_FC_TEXT_SIZE];
  EXPECT_EQ(FC_Operacao(0, &cmd, &len, text), 0);

  const auto start = TraceLines("TARVO.txt");
  EXPECT_TRUE(HasLine(start, "FC_Inicializa2900 <INICIO> Porta=COM1 Nivel Log=2"));
  EXPECT_TRUE(HasLine(start, "FC_Operacao2900 numParam=1 Cmd=LeTexto"));
  EXPECT_TRUE(HasLine(start, "FC_Operacao2900 numParam=1 Cmd=LeInteiro"));
  EXPECT_TRUE(HasLine(start, "FC_Inicializa2900 <FIM> com sucesso"));
  EXPECT_FALSE(HasLine(start, "FC_Inicializa2900 Nivel Log=2"));
  EXPECT_FALSE(Contains(start, "AbreCupom"));

  const auto printerLog = TraceLines("TV_ABC123_1.txt");
  EXPECT_TRUE(HasLine(printerLog, "FC_Inicializa2900 Nivel Log=2"));
  EXPECT_TRUE(HasLine(printerLog, "FC_Operacao2900 numParam=0 Cmd=AbreCupom"));
  EXPECT_FALSE(Contains(printerLog, "<FIM>"));
}

TEST_F(FcInicializaTest, MissingPrinterConfigurationIsCreatedWithTracingOff) {
  PrinterIdentifies("ABC123", "1");
  EXPECT_EQ(FC_Inicializa("COM1"), 0);
  EXPECT_EQ(ReadFile("TV_ABC123_1.cfg").rfind("Trace=0", 0), 0u);
  EXPECT_FALSE(FileExists("TV_ABC123_1.txt"));
  EXPECT_EQ(traceState.traceLevel, 0);
}

TEST_F(FcInicializaTest, TraceOffInTarvoCfgWritesNoStartLines) {
  WriteFile("TARVO.cfg", "Trace=0\n");
  PrinterIdentifies("ABC123", "1");
  EXPECT_EQ(FC_Inicializa("COM1"), 0);
  EXPECT_FALSE(FileExists("TARVO.txt"));
}

TEST_F(FcInicializaTest, BaseNameFollowsWhatThePrinterAnswered) {
  const struct {
    const char* serial;
    const char* ecfCode;
    const char* ecf;
    const char* base;
  } cases[] = {
      {"", "0", "1", "TV__1"},            // an empty serial number
      {"AB/CD", "0", "1", "TV_AB_CD_1"},  // a path separator stays out of the file name
      {"..\\X:Y", "0", "2", "TV_.._X_Y_2"},
      {"ABC", "8", "1", "TV_ABC"},  // LeInteiro failed: no ECF number
      {"ABC", "0", "", "TV_ABC_"},  // an empty ECF number between its quotes
  };
  for (const auto& c : cases) {
    Restart();
    printer_->Reply("0", std::string("ValorTexto=\"") + c.serial + "\"");
    printer_->Reply(c.ecfCode, std::string("ValorInteiro=") + c.ecf);
    EXPECT_EQ(FC_Inicializa("COM1"), 0) << c.serial;
    EXPECT_STREQ(fcState.cfgBaseName, c.base) << c.serial;
    EXPECT_TRUE(FileExists(std::string(c.base) + ".cfg")) << c.serial;
  }
}

TEST_F(FcInicializaTest, LongNumbersAreBoundedToAUsableFileName) {
  // The longest serial whose quoted answer fits the 50-byte buffer: the
  // base name is cut to 47 characters and the ECF number left out.
  const std::string serial(47, 'S');
  PrinterIdentifies(serial, "1");
  EXPECT_EQ(FC_Inicializa("COM1"), 0);
  EXPECT_EQ(std::string(fcState.cfgBaseName), "TV_" + serial.substr(0, 44));
  EXPECT_TRUE(FileExists("TV_" + serial.substr(0, 44) + ".cfg"));
  FC_Finaliza();

  // One character more does not fit the answer buffer: FC_Operacao refuses
  // it (-20, returned as its low 16 bits) and the start-up fails.
  Restart();
  PrinterIdentifies(std::string(48, 'S'), "1");
  EXPECT_EQ(FC_Inicializa("COM1"), TARVO_TOO_LONG & 0xFFFF);
  EXPECT_EQ(driverState.fArq, -1);
  EXPECT_EQ(printer_->Requests().size(), 1u);
}

TEST_F(FcInicializaTest, BusyPrinterIsAskedAgainUpToTenTimes) {
  printer_->Reply("11015", "");
  printer_->Reply("11015", "");
  PrinterIdentifies("ABC", "1");
  EXPECT_EQ(FC_Inicializa("COM1"), 0);
  EXPECT_EQ(printer_->Requests().size(), 4u);  // three LeTexto, one LeInteiro
  EXPECT_EQ(CommandOf(printer_->Requests()[2]), "LeTexto");

  FC_Finaliza();
  Restart();
  for (int i = 0; i < 11; ++i) printer_->Reply("11015", "");
  EXPECT_EQ(FC_Inicializa("COM1"), 11015);
  EXPECT_EQ(printer_->Requests().size(), 10u);
  EXPECT_EQ(driverState.fArq, -1);
  EXPECT_EQ(fcState.fcHandle, 1);
  EXPECT_TRUE(
      HasLine(TraceLines("TARVO.txt"), "FC_Inicializa2900 Erro[11015] retry[10] apos FC_Operacao"));
}

TEST_F(FcInicializaTest, ErrorCodesAreComparedAndReturnedThroughTheirLow16Bits) {
  // 65536 + 11015: busy once its high bits are dropped, so asked again.
  printer_->Reply("76551", "");
  PrinterIdentifies("ABC", "1");
  EXPECT_EQ(FC_Inicializa("COM1"), 0);
  EXPECT_EQ(printer_->Requests().size(), 3u);
  FC_Finaliza();

  printer_->Reply("65544", "");  // 65536 + 8
  EXPECT_EQ(FC_Inicializa("COM1"), 8);
  EXPECT_EQ(driverState.fArq, -1);
}

TEST_F(FcInicializaTest, ProtocolFailureEndsTheStartUpOnANamedPort) {
  for (int i = 0; i < 3; ++i) printer_->Ignore();
  EXPECT_EQ(FC_Inicializa("COM1"), TARVO_PROTOCOL_FAILURE);
  EXPECT_EQ(printer_->Requests().size(), 3u);  // one LeTexto, sent three times
  EXPECT_EQ(driverState.fArq, -1);
  EXPECT_FALSE(sim::AnyDeviceOpen());
  EXPECT_EQ(fcState.fcHandle, 1);
  EXPECT_TRUE(
      HasLine(TraceLines("TARVO.txt"), "FC_Inicializa2900 Erro[11010] retry[1] apos FC_Operacao"));
  EXPECT_EQ(FC_Finaliza(), 0);  // the handle is not -1, though the session is closed
}

TEST_F(FcInicializaTest, NamedPortThatDoesNotOpenGivesBadChannel) {
  sim::FailOpen("COM3", 2);
  EXPECT_EQ(FC_Inicializa("COM3"), TARVO_BAD_CHANNEL);
  EXPECT_EQ(fcState.fcHandle, TARVO_BAD_CHANNEL);
  EXPECT_TRUE(
      HasLine(TraceLines("TARVO.txt"), "FC_Inicializa2900 Erro apos IniciaDriver HVesko[-11]"));
  EXPECT_EQ(FC_Inicializa(nullptr), TARVO_BAD_CHANNEL);
  EXPECT_EQ(FC_Inicializa("CO"), TARVO_BAD_CHANNEL);  // too short to be a scan
  EXPECT_EQ(printer_->Requests().size(), 0u);
}

TEST_F(FcInicializaTest, ScanSkipsPortsThatFailAndFindsThePrinterBehindThem) {
  sim::FailOpen("COM7", 2);
  sim::FailOpen("COM8", 5);
  PrinterIdentifies("ABC", "1");
  EXPECT_EQ(FC_Inicializa("COMu"), 0);
  EXPECT_EQ(fcState.usbPortNo, 10);
  EXPECT_EQ(fcState.fcHandle, 1);
  // COM9 never reaches the line: IniciaDriver refuses a fourth character 9.
  const std::vector<std::string> opened = {"COM7", "COM8", "COM10"};
  EXPECT_EQ(OpenedDevices(), opened);

  const std::vector<std::string> expected = {
      "FC_Inicializa2900 Abrindo comunicacao com a porta USB0",
      "FC_Inicializa2900 Erro na inicializacao da USB0",
      "FC_Inicializa2900 Abrindo comunicacao com a porta USB1",
      "FC_Inicializa2900 Erro na inicializacao da USB1",
      "FC_Inicializa2900 Abrindo comunicacao com a porta USB2",
      "FC_Inicializa2900 Erro na inicializacao da USB2",
      "FC_Inicializa2900 Abrindo comunicacao com a porta USB3",
  };
  std::vector<std::string> scanLines;
  for (const auto& l : TraceLines("TARVO.txt")) {
    if (l.find("USB") != std::string::npos) scanLines.push_back(l);
  }
  EXPECT_EQ(scanLines, expected);
}

TEST_F(FcInicializaTest, ScanMovesOnAfterAProtocolFailure) {
  for (int i = 0; i < 3; ++i) printer_->Ignore();  // COM7 opens but nothing answers
  PrinterIdentifies("ABC", "1");
  EXPECT_EQ(FC_Inicializa("COMU"), 0);
  EXPECT_EQ(fcState.usbPortNo, 8);
  EXPECT_EQ(OpenedDevices().front(), "COM7");
  EXPECT_EQ(OpenedDevices().back(), "COM8");
  EXPECT_STREQ(driverState.portName, "COM8");
}

TEST_F(FcInicializaTest, ScanWithNoPortLeftGivesBadChannel) {
  for (int n = 7; n <= 22; ++n) sim::FailOpen(("COM" + std::to_string(n)).c_str(), 2);
  EXPECT_EQ(FC_Inicializa("COMu"), TARVO_BAD_CHANNEL);
  EXPECT_EQ(fcState.usbPortNo, 23);
  EXPECT_EQ(fcState.fcHandle, TARVO_BAD_CHANNEL);
  EXPECT_EQ(OpenedDevices().size(), 15u);
  EXPECT_TRUE(HasLine(TraceLines("TARVO.txt"), "FC_Inicializa2900 Erro na inicializacao da USB15"));
}

// A failed second start-up must not take the open session away from the
// facade: FC_Finaliza still closes it.
TEST_F(FcInicializaTest, SecondStartUpWhileASessionIsOpenKeepsItClosable) {
  PrinterIdentifies("ABC", "1");
  ASSERT_EQ(FC_Inicializa("COM1"), 0);
  EXPECT_EQ(FC_Inicializa("COM2"), TARVO_BAD_CHANNEL);
  EXPECT_EQ(fcState.fcHandle, 1);
  EXPECT_EQ(driverState.fArq, 1);
  EXPECT_STREQ(driverState.portName, "COM1");
  EXPECT_TRUE(sim::AnyDeviceOpen());
  EXPECT_EQ(FC_Inicializa("COMu"), TARVO_BAD_CHANNEL) << "a scan fails the same way";
  EXPECT_EQ(fcState.fcHandle, 1);
  EXPECT_TRUE(sim::AnyDeviceOpen());
  EXPECT_EQ(FC_Finaliza(), 0);
  EXPECT_EQ(driverState.fArq, -1);
  EXPECT_FALSE(sim::AnyDeviceOpen());
  EXPECT_EQ(FC_Finaliza(), TARVO_BAD_HANDLE);
}

TEST_F(FcInicializaTest, FinalizaClosesTheSessionOnce) {
  EXPECT_EQ(FC_Finaliza(), TARVO_BAD_HANDLE);
  PrinterIdentifies("ABC", "1");
  ASSERT_EQ(FC_Inicializa("COM1"), 0);
  EXPECT_EQ(FC_Finaliza(), 0);
  EXPECT_EQ(driverState.fArq, -1);
  EXPECT_EQ(fcState.fcHandle, -1);
  EXPECT_FALSE(sim::AnyDeviceOpen());
  EXPECT_EQ(FC_Finaliza(), TARVO_BAD_HANDLE);
}

TEST_F(FcInicializaTest, SecondStartUpReadsThePrinterConfigurationFirst) {
  WriteFile("TV_ABC_1.cfg", "Trace=0\n");
  PrinterIdentifies("ABC", "1");
  ASSERT_EQ(FC_Inicializa("COM1"), 0);
  ASSERT_EQ(FC_Finaliza(), 0);
  const size_t startLines = TraceLines("TARVO.txt").size();

  // TARVO.cfg still says Trace=2, but the printer's file now decides: off.
  PrinterIdentifies("ABC", "1");
  ASSERT_EQ(FC_Inicializa("COM1"), 0);
  EXPECT_EQ(TraceLines("TARVO.txt").size(), startLines);
}

}  // namespace
}  // namespace tarvo
