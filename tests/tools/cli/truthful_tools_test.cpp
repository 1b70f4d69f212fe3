// The technician's tools tell what is true: why a port opens or not, every
// mapping of the port map with its state, permission advice from the
// device's real owner, files handled as the library handles them, and the
// start-up's trace files switched on together with TARVO.cfg.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli/port_map.h"
#include "cli/ports.h"
#include "cli/trace_switch.h"
#include "cli/why.h"

namespace tarvo::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";

class Truthful : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/tarvo-truth.XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
    previous_ = fs::current_path();
    fs::current_path(dir_);
    setenv("TARVO_REGISTRY", "r.reg", 1);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(dir_);
    unsetenv("TARVO_REGISTRY");
  }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string dir_;
  fs::path previous_;
};

TEST_F(Truthful, WhyExitsZeroOnlyWhenTheDriverOpensThePort) {
  int asked = 0;
  const PortOpener opens = [&asked](const std::string&) {
    ++asked;
    return OpenAttempt{.opened = true};
  };
  // A network port that the driver connected to is not "refused".
  OpenDiagnosis d = DiagnoseOpen("rfc2217://127.0.0.1:7000", "/proc", opens);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(DiagnosisStatus(d), 0);
  EXPECT_EQ(d.cause, "ok");
  EXPECT_EQ(DiagnosisLine(d).find("cannot open"), std::string::npos) << DiagnosisLine(d);
  EXPECT_NE(DiagnosisJson(d).find("\"ok\":true"), std::string::npos);
  // A refusal of the server is told with the driver's own code.
  d = DiagnoseOpen("rfc2217://127.0.0.1:7000", "/proc",
                   [](const std::string&) { return OpenAttempt{.code = 111}; });
  EXPECT_EQ(DiagnosisStatus(d), 3);
  EXPECT_NE(d.message.find("Connection refused"), std::string::npos) << d.message;
  // A healthy device never reads as "cannot open ... it may have been busy".
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
  d = DiagnoseOpen(ptsname(master), "/proc", opens);
  close(master);
  EXPECT_EQ(DiagnosisStatus(d), 0);
  EXPECT_EQ(DiagnosisLine(d).find("busy"), std::string::npos) << DiagnosisLine(d);
  EXPECT_EQ(DiagnosisStatus(DiagnoseOpen("COM9", "/proc", opens)), 3);
  // A name full of terminal escapes is shown escaped.
  const std::string line = DiagnosisLine(DiagnoseOpen("/dev/\x1b]0;owned\a", "/proc", opens));
  EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
  EXPECT_EQ(line.find('\a'), std::string::npos) << line;
}

TEST_F(Truthful, PermissionAdviceFollowsTheDevicesOwnerGroupAndMode) {
  const std::string rootOnly = PermissionAdvice("/dev/ttyACM0", "root", "root", 020600);
  EXPECT_EQ(rootOnly.find("dialout group"), std::string::npos) << rootOnly;
  EXPECT_NE(rootOnly.find("root:root 0600"), std::string::npos) << rootOnly;
  const std::string uucp = PermissionAdvice("/dev/ttyUSB0", "root", "uucp", 020660);
  EXPECT_NE(uucp.find("usermod -aG uucp"), std::string::npos) << uucp;
}

TEST_F(Truthful, PortsShowsEveryMappingWithItsStateAndFlagsNamesNeverUsed) {
  Write("r.reg", std::string(kHeader) +
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\Ports]\n"
                     "\"COM7\"=\"/dev/null\"\n"
                     "\"COM8\"=\"/dev/ttyUSB-unplugged\"\n"
                     "\"COM9\"=\"/dev/null\"\n"
                     "\"COMU\"=\"/dev/null\"\n"
                     "\"COM12\"=\"rfc2217://box:7000\"\n");
  const RegistryFile reg = LoadRegistry("r.reg");
  const std::vector<Mapping> maps = RegistryMappings(reg);
  ASSERT_EQ(maps.size(), 5u);
  EXPECT_EQ(maps[0].state, "present");
  EXPECT_EQ(maps[1].state.rfind("missing", 0), 0u) << maps[1].state;
  EXPECT_EQ(maps[2].state.rfind("never used: the fourth character must be a digit 0 to 8", 0), 0u)
      << maps[2].state;
  EXPECT_EQ(maps[3].state.rfind("never used", 0), 0u);
  EXPECT_EQ(maps[4].state.rfind("network port", 0), 0u);
  // The scan reaches what is mapped and there, not only ports in sysfs.
  EXPECT_EQ(ScanReach(reg), "COM7 /dev/null, COM12 rfc2217://box:7000");
  const std::string text = FormatPorts({}, reg);
  EXPECT_NE(text.find("COM8 = /dev/ttyUSB-unplugged: missing"), std::string::npos) << text;
}

TEST_F(Truthful, SuggestedPortsLinesQuoteTheDeviceAndTextIsEscaped) {
  Write("r.reg", std::string(kHeader));
  PortInfo p;
  p.device = "/dev/ttyUSB0";
  p.byId = {"/dev/serial/by-id/usb-\"odd\\name"};
  const std::string lines = SuggestedPortsLines(LoadRegistry("r.reg"), {p});
  EXPECT_NE(lines.find("\"COM7\"=\"/dev/serial/by-id/usb-\\\"odd\\\\name\"\n"), std::string::npos)
      << lines;
  p.byId = {"/dev/serial/by-id/usb-\x1b]0;x\a"};
  const std::string shown = FormatPorts({p}, LoadRegistry("r.reg"));
  EXPECT_EQ(shown.find('\x1b'), std::string::npos);
  EXPECT_EQ(shown.find('\a'), std::string::npos);
}

TEST_F(Truthful, TraceSwitchFollowsNoLinkAndNeverBlocksOnAFifo) {
  Write("victim.conf", "keep me");
  fs::create_symlink("victim.conf", "TARVO.cfg");
  std::string out;
  EXPECT_EQ(RunTraceSwitch({"on"}, &out), 1);
  EXPECT_EQ(Read("victim.conf"), "keep me");
  EXPECT_NE(out.find("symbolic link"), std::string::npos) << out;
  fs::remove("TARVO.cfg");
  ASSERT_EQ(mkfifo("TARVO.cfg", 0600), 0);
  out.clear();
  const auto start = std::chrono::steady_clock::now();
  RunTraceSwitch({"status"}, &out);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_NE(out.find("not a regular file"), std::string::npos) << out;
}

TEST_F(Truthful, ANewPrinterFileTakesTheLevelOfTarvoCfg) {
  Write("TARVO.cfg", "Trace=1\nTamanho=900");
  const std::vector<std::string> before = ConfigFilesHere();
  Write("TV_X_1.cfg", "Trace=0\nTamanho=5000000");
  const std::string note = RemoveNewConfigFiles(before);
  EXPECT_EQ(Read("TV_X_1.cfg"), "Trace=1\nTamanho=5000000");
  EXPECT_NE(note.find("TV_X_1.cfg switched on at level 1"), std::string::npos) << note;
  // The tool reads sizes as the library does: saturated, not widened.
  EXPECT_EQ(ReadTraceConfig("Trace=1\nTamanho=99999999999").size, 2147483647);
}

// The tools read the registry and trace files exactly as far as the driver
// does; a tool that read further would call a setting used that the driver
// ignores.
TEST_F(Truthful, SettingsAndTraceFilesAreReadOnlyAsFarAsTheDriverReads) {
  const std::string section = "[" + std::string(kSettingsSection) + "]\n";
  int rate = 0;
  Write("r.reg", kHeader + section + "\"CommSettings\"=\"COM1:57600,E,8,1abc\"\n");
  EXPECT_EQ(CommSettingsNote(LoadRegistry("r.reg"), &rate), "");
  EXPECT_EQ(rate, 57600);
  // One character more no longer fits the driver's read with its terminator.
  Write("r.reg", kHeader + section + "\"CommSettings\"=\"COM1:57600,E,8,1abcd\"\n");
  EXPECT_NE(CommSettingsNote(LoadRegistry("r.reg"), &rate), "");
  EXPECT_EQ(rate, 115200);
  // A file malformed at its very first line is malformed all the same.
  Write("r.reg", "not a registry file\n" + section + "\"CommSettings\"=\"COM1:57600,E,8,1\"\n");
  EXPECT_NE(CommSettingsNote(LoadRegistry("r.reg"), &rate).find("malformed at line 1"),
            std::string::npos);
  // Only a trace configuration's first 50 bytes count.
  EXPECT_EQ(ReadTraceConfig("Trace=1\n" + std::string(40, ' ') + "Tamanho=900").size, 5000000);
}

}  // namespace
}  // namespace tarvo::cli
