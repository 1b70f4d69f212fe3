// The technician's tools: the port list on a fake sysfs tree, why a port
// can't be opened, the trace switch, streamed scripts and the wait line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli/cli.h"
#include "cli/port_map.h"
#include "cli/ports.h"
#include "cli/script_stream.h"
#include "cli/trace_switch.h"
#include "cli/wait_notice.h"
#include "cli/why.h"

namespace tarvo::cli {
namespace {

namespace fs = std::filesystem;

// A fresh directory that is the current one for the test's life.
class Here : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/tarvo-cli-test.XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
    previous_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(dir_);
    unsetenv("TARVO_REGISTRY");
    unsetenv("TARVO_TRACE");
  }
  static void Write(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path().empty() ? "."
                                                                : fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string dir_;
  fs::path previous_;
};

// sys/class/tty/NAME -> the device's tty directory, as the kernel lays
// it out: USB adapters under their USB device, a legacy UART on the
// platform bus, a virtual console with no device.
void FakeSysfs(const std::string& root) {
  const std::string usb = root + "/sys/devices/pci0000:00/usb1/1-2";
  fs::create_directories(usb + "/1-2:1.0/ttyUSB0/tty/ttyUSB0");
  fs::create_directories(root + "/sys/bus/usb-serial/drivers/ftdi_sio");
  fs::create_directories(root + "/sys/bus/usb-serial");
  std::ofstream(usb + "/idVendor") << "0403\n";
  std::ofstream(usb + "/idProduct") << "6001\n";
  std::ofstream(usb + "/manufacturer") << "FTDI\n";
  std::ofstream(usb + "/product") << "FT232R USB UART\n";
  std::ofstream(usb + "/serial") << "A10K3ZQ1\n";
  const std::string ttyDev = usb + "/1-2:1.0/ttyUSB0";
  fs::create_directory_symlink("../../../../../../bus/usb-serial/drivers/ftdi_sio",
                               ttyDev + "/driver");
  fs::create_directory_symlink("../../../../../../bus/usb-serial", ttyDev + "/subsystem");
  const std::string uart = root + "/sys/devices/platform/serial8250";
  fs::create_directories(uart + "/tty/ttyS0");
  fs::create_directories(root + "/sys/bus/platform/drivers/serial8250");
  fs::create_directory_symlink("../../../bus/platform/drivers/serial8250", uart + "/driver");
  fs::create_directory_symlink("../../../bus/platform", uart + "/subsystem");
  fs::create_directories(root + "/sys/class/tty/tty0");
  fs::create_directory_symlink(ttyDev + "/tty/ttyUSB0", root + "/sys/class/tty/ttyUSB0");
  fs::create_directory_symlink(uart + "/tty/ttyS0", root + "/sys/class/tty/ttyS0");
  fs::create_directory_symlink(ttyDev, ttyDev + "/tty/ttyUSB0/device");
  fs::create_directory_symlink(uart, uart + "/tty/ttyS0/device");
  // A newer kernel's UART: port and controller devices of the serial core
  // between the tty and the PNP device that has the driver.
  const std::string pnp = root + "/sys/devices/pnp0/00:01";
  const std::string port = pnp + "/00:01:0/00:01:0.0";
  fs::create_directories(port + "/tty/ttyS1");
  fs::create_directories(root + "/sys/bus/serial-base/drivers/port");
  fs::create_directories(root + "/sys/bus/pnp/drivers/serial");
  fs::create_directory_symlink(root + "/sys/bus/serial-base", port + "/subsystem");
  fs::create_directory_symlink(root + "/sys/bus/serial-base/drivers/port", port + "/driver");
  fs::create_directory_symlink(root + "/sys/bus/serial-base", pnp + "/00:01:0/subsystem");
  fs::create_directory_symlink(root + "/sys/bus/pnp", pnp + "/subsystem");
  fs::create_directory_symlink(root + "/sys/bus/pnp/drivers/serial", pnp + "/driver");
  fs::create_directory_symlink(port, port + "/tty/ttyS1/device");
  fs::create_directory_symlink(port + "/tty/ttyS1", root + "/sys/class/tty/ttyS1");
  fs::create_directories(root + "/dev/serial/by-id");
  fs::create_symlink("../../ttyUSB0",
                     root + "/dev/serial/by-id/usb-FTDI_FT232R_A10K3ZQ1-if00-port0");
}

const char kRegistryHeader[] = "Windows Registry Editor Version 5.00\n\n";

TEST_F(Here, PortsListsDevicesWithUsbFactsMappingsAndPasteableLines) {
  FakeSysfs(dir_);
  std::vector<PortInfo> ports = ListPorts({dir_ + "/sys", dir_ + "/dev"});
  ASSERT_EQ(ports.size(), 3u);  // tty0 has no device
  const PortInfo& uart = ports[0];
  const PortInfo& usb = ports[2];
  EXPECT_EQ(ports[1].device, "/dev/ttyS1");
  EXPECT_EQ(ports[1].subsystem + " " + ports[1].driver, "pnp serial");
  EXPECT_EQ(uart.device, "/dev/ttyS0");
  EXPECT_EQ(uart.driver, "serial8250");
  EXPECT_EQ(uart.subsystem, "platform");
  EXPECT_EQ(usb.device, "/dev/ttyUSB0");
  EXPECT_EQ(usb.driver, "ftdi_sio");
  EXPECT_EQ(usb.vid + ":" + usb.pid, "0403:6001");
  EXPECT_EQ(usb.manufacturer, "FTDI");
  EXPECT_EQ(usb.product, "FT232R USB UART");
  EXPECT_EQ(usb.serial, "A10K3ZQ1");
  ASSERT_EQ(usb.byId.size(), 1u);
  EXPECT_EQ(usb.byId[0], "/dev/serial/by-id/usb-FTDI_FT232R_A10K3ZQ1-if00-port0");

  // Nothing maps the adapter yet: the first free name the scan tries.
  RegistryFile none;
  MarkMappings(none, &ports);
  EXPECT_EQ(ports[0].defaultAs, std::vector<std::string>{"COM1"});
  EXPECT_TRUE(ports[2].mappedAs.empty());
  EXPECT_EQ(SuggestedPortsLines(none, ports),
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\Ports]\n"
            "\"COM7\"=\"/dev/serial/by-id/usb-FTDI_FT232R_A10K3ZQ1-if00-port0\"\n");

  // COM12 names it by its by-id link, inside the scan; COM7 is taken by
  // something else, so nothing more is suggested.
  Write("r.reg", std::string(kRegistryHeader) +
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\Ports]\n"
                     "\"COM7\"=\"/dev/ttyACM0\"\n"
                     "\"COM12\"=\"/dev/serial/by-id/usb-FTDI_FT232R_A10K3ZQ1-if00-port0\"\n");
  const RegistryFile reg = LoadRegistry("r.reg");
  ports = ListPorts({dir_ + "/sys", dir_ + "/dev"});
  MarkMappings(reg, &ports);
  EXPECT_EQ(ports[2].mappedAs, std::vector<std::string>{"COM12"});
  EXPECT_EQ(ports[2].scannedAs, std::vector<std::string>{"COM12"});
  EXPECT_EQ(SuggestedPortsLines(reg, ports), "");
  const std::string json = FormatPortsJson(ports, reg);
  EXPECT_NE(json.find("\"vid\":\"0403\",\"pid\":\"6001\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"registry\":[\"COM12\"],\"default\":[],\"scan\":[\"COM12\"]"),
            std::string::npos)
      << json;
  EXPECT_NE(FormatPorts(ports, reg).find("tried by the start-up scan as: COM12"),
            std::string::npos);
}

TEST_F(Here, WhyNamesTheDeviceItsMappingAndTheCause) {
  Write("plain-file", "x");
  Write("r.reg", std::string(kRegistryHeader) +
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\Ports]\n"
                     "\"COM3\"=\"" +
                     dir_ +
                     "/plain-file\"\n"
                     "[HKEY_CLASSES_ROOT\\BelmoraPOS\\ImpressoraFiscal]\n"
                     "\"CommSettings\"=\"COM1:9600,E,8,1\"\n");
  setenv("TARVO_REGISTRY", "r.reg", 1);
  OpenDiagnosis d = DiagnoseOpen("COM3");
  EXPECT_EQ(d.device, dir_ + "/plain-file");
  EXPECT_EQ(d.mapping, "registry");
  EXPECT_EQ(d.cause, "not-a-terminal");
  EXPECT_NE(d.registryNote.find("rate 9600"), std::string::npos) << d.registryNote;
  EXPECT_NE(d.registryNote.find("runs at 115200"), std::string::npos) << d.registryNote;
  const std::string line = DiagnosisLine(d);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_NE(line.find("mapped in the registry file"), std::string::npos) << line;

  // A malformed file: its line, and COMn falls back to the default device.
  Write("r.reg", std::string(kRegistryHeader) + "[A]\n\"x\"=1\n");
  d = DiagnoseOpen("COM4");
  EXPECT_EQ(d.device, "/dev/ttyS3");
  EXPECT_EQ(d.mapping, "default");
  EXPECT_NE(d.registryNote.find("malformed at line 4"), std::string::npos) << d.registryNote;

  d = DiagnoseOpen(dir_ + "/dev/ttyUSB9");
  EXPECT_EQ(d.cause, "missing");
  EXPECT_EQ(d.mapping, "given");
  EXPECT_EQ(DiagnoseOpen("/dev/" + std::string(40, 'x')).cause, "name-too-long");
  EXPECT_EQ(DiagnoseOpen("COM9").cause, "bad-name");
  // Network ports: the URL is checked, and the server is what to look at.
  EXPECT_EQ(DiagnoseOpen("rfc2217://printer-box").cause, "bad-name");
  d = DiagnoseOpen("rfc2217://127.0.0.1:7000");
  EXPECT_EQ(d.cause + " " + d.mapping, "network given");
  EXPECT_EQ(DiagnoseOpen("rfc2217://192.168.100.200:7000?ignorects").cause, "name-too-long");
  Write("r.reg", std::string(kRegistryHeader) +
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\Ports]\n"
                     "\"COM5\"=\"rfc2217://box:7000\"\n");
  d = DiagnoseOpen("COM5");
  EXPECT_EQ(d.cause + " " + d.mapping + " " + d.device, "network registry rfc2217://box:7000");
  const std::string json = DiagnosisJson(DiagnoseOpen("COM9"));
  EXPECT_EQ(json.rfind("{\"command\":\"open\",\"ok\":false,", 0), 0u) << json;
}

TEST_F(Here, WhyNamesTheProcessThatHoldsTheDevice) {
  // A fake /proc: process 4242 ("pos-app") holds the device on fd 5.
  fs::create_directories("proc/4242/fd");
  fs::create_directories("proc/77/fd");
  fs::create_symlink("/dev/ttyUSB0", "proc/4242/fd/5");
  fs::create_symlink("/dev/null", "proc/77/fd/0");
  Write("proc/4242/comm", "pos-app\n");
  EXPECT_EQ(HoldersOf("/dev/ttyUSB0", dir_ + "/proc"), "process 4242 (pos-app)");
  EXPECT_EQ(HoldersOf("/dev/ttyUSB1", dir_ + "/proc"), "");
}

TEST_F(Here, TraceSwitchWritesEveryConfigurationAndExplainsBlanks) {
  Write("TARVO.cfg", "Trace = 1\nTamanho=900");
  Write("TV_ABC_1.cfg", "Trace=0\nTamanho=7000");
  std::string out;
  EXPECT_NE(RunTraceSwitch({"status"}, &out), 2);
  EXPECT_NE(out.find("\"Trace = 1\" with blanks leaves tracing off"), std::string::npos) << out;

  out.clear();
  ASSERT_EQ(RunTraceSwitch({"on", "--level", "2"}, &out), 0) << out;
  EXPECT_EQ(Read("TARVO.cfg"), "Trace=2\nTamanho=5000000");  // the blank one had no size
  EXPECT_EQ(Read("TV_ABC_1.cfg"), "Trace=2\nTamanho=7000");  // keeps its size
  EXPECT_NE(out.find("TV_ABC_1.txt"), std::string::npos) << out;

  out.clear();
  ASSERT_EQ(RunTraceSwitch({"off"}, &out), 0);
  EXPECT_EQ(ReadTraceConfig(Read("TARVO.cfg")).level, 0);
  EXPECT_EQ(ReadTraceConfig(Read("TV_ABC_1.cfg")).level, 0);
  EXPECT_EQ(RunTraceSwitch({"on", "--level", "10"}, &out), 2);
  EXPECT_EQ(RunTraceSwitch({"off", "--level", "1"}, &out), 2);

  // A missing digit takes the size's first one, as the library reads it.
  const TraceConfigView v = ReadTraceConfig("Trace=\nTamanho=4000000");
  EXPECT_EQ(v.level, 4);
  EXPECT_EQ(v.size, 5000000);
  EXPECT_FALSE(v.problem.empty());

  setenv("TARVO_TRACE", "3:shop", 1);
  out.clear();
  RunTraceSwitch({"status"}, &out);
  EXPECT_NE(out.find("into shop.txt"), std::string::npos) << out;
}

TEST_F(Here, NewConfigurationFilesThatTraceNothingAreRemoved) {
  Write("mine.cfg", "Trace=0\n");
  const std::vector<std::string> before = ConfigFilesHere();
  Write("TARVO.cfg", "Trace=0\nTamanho=5000000");
  Write("TV_X_1.cfg", "Trace=0\nTamanho=5000000");
  EXPECT_EQ(RemoveNewConfigFiles(before), "");
  EXPECT_EQ(ConfigFilesHere(), std::vector<std::string>{"mine.cfg"});
  Write("TV_Y_1.cfg", "Trace=1\n");
  EXPECT_NE(RemoveNewConfigFiles(before).find("TV_Y_1.cfg (tracing into TV_Y_1.txt)"),
            std::string::npos);
  EXPECT_TRUE(fs::exists("TV_Y_1.cfg"));
}

TEST(ScriptStreamTest, EachCommandIsReadyBeforeTheNextLineIsWritten) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::FILE* in = fdopen(fds[0], "r");
  ScriptStream stream(in, false);
  ASSERT_EQ(write(fds[1], "# comment\n\nAbreCupom\n", 21), 21);
  CommandSpec c;
  std::string error;
  // The writer is still open: a reader that waited for the end would hang.
  ASSERT_EQ(stream.Next(&c, &error), ScriptStream::Got::Command) << error;
  EXPECT_EQ(c.command, "AbreCupom");
  EXPECT_EQ(c.line, 3);
  ASSERT_EQ(write(fds[1], "identify\n", 9), 9);
  EXPECT_EQ(stream.Next(&c, &error), ScriptStream::Got::Error);
  EXPECT_NE(error.find("line 4: identify may only be the first"), std::string::npos) << error;
  ASSERT_EQ(write(fds[1], "VendeItem Descricao:7=P\xC3\xA3o", 26), 26);
  close(fds[1]);
  ASSERT_EQ(stream.Next(&c, &error), ScriptStream::Got::Command) << error;
  EXPECT_EQ(c.params[0].value, "P\xE3o");  // converted to cp1252
  EXPECT_EQ(stream.Next(&c, &error), ScriptStream::Got::End);
  std::fclose(in);
}

TEST(MissingValues, MakeTheExitStatusFourAndAreListedInJson) {
  Outcome o;
  o.command = "LeTexto";
  o.result = 1;
  o.values = {{"ValorTexto", ""}};
  o.missing = {"ValorTexto"};
  EXPECT_EQ(ExitStatusOf(o), 4);
  EXPECT_NE(FormatJson(o).find(",\"missing\":[\"ValorTexto\"]}"), std::string::npos);
  o.code = 8;
  EXPECT_EQ(ExitStatusOf(o), 1);  // the printer's error comes first
}

TEST(WaitLineText, SaysThePrinterIsBeingWokenAfterFiveSeconds) {
  EXPECT_EQ(WaitLine("LeTexto", 4), "tarvo: LeTexto: waiting for the printer, 4 s");
  EXPECT_EQ(WaitLine("LeTexto", 5),
            "tarvo: LeTexto: 5 s: printer has not answered; driver is trying to wake it");
  EXPECT_EQ(WaitLine(std::string(100, 'X'), 9).size(), 79u);
}

}  // namespace
}  // namespace tarvo::cli
