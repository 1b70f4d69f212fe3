// The command-line host's Windows platform layer under Wine: the console's
// code pages, Win32 codes explained, files that are devices, the registry
// read as the library's .reg text, and how a COM name resolves there.
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/port_map.h"
#include "platform/host.h"
#include "serial/reg_file.h"

namespace tarvo::platform {
namespace {

TEST(Console, TextIsConvertedThroughTheConsoleCodePageNotTakenAsCp1252) {
  // "Pão" typed in a console set to 850 (usual in Brazil) is 'P' 0xC6 'o';
  // taken as cp1252 it would print "PÆo".
  EXPECT_EQ(ConvertCodePage("P\xC6o", 850, CP_UTF8), "P\xC3\xA3o");
  EXPECT_EQ(ConvertCodePage("P\xC3\xA3o", CP_UTF8, 850), "P\xC6o");
  EXPECT_EQ(ConvertCodePage("P\xC3\xA3o \xE2\x82\xAC", CP_UTF8, 1252), "P\xE3o \x80");
  // A character the console lacks shows as its default character.
  EXPECT_EQ(ConvertCodePage("\xE2\x82\xAC", CP_UTF8, 437), "?");
}

TEST(Codes, Win32CodesAreNamedAndExplained) {
  EXPECT_EQ(CodeText(ERROR_FILE_NOT_FOUND).rfind("ERROR_FILE_NOT_FOUND (2)", 0), 0U);
  EXPECT_EQ(CodeText(ERROR_ACCESS_DENIED).rfind("ERROR_ACCESS_DENIED (5)", 0), 0U);
  EXPECT_EQ(CodeText(ERROR_SHARING_VIOLATION).rfind("ERROR_SHARING_VIOLATION (32)", 0), 0U);
  EXPECT_EQ(CodeText(123456).rfind("Win32 code 123456", 0), 0U);
}

TEST(Devices, AMissingComPortIsMissingWithItsCode) {
  const DeviceProbe p = ProbeDevice("COM88", 0, "");
  EXPECT_EQ(p.failure, DeviceFailure::Missing);
  EXPECT_EQ(p.code, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DeviceState("COM88").rfind("missing", 0), 0U);
}

TEST(Files, ADeviceNameInAFilesPlaceIsRefusedNotOpened) {
  std::string error;
  EXPECT_EQ(OpenRegularFile("NUL", false, &error), -1);
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

TEST(Files, LogsAreReadInBinarySoTheirCrLfStays) {
  const std::string path = MakeTemporaryDirectory("tarvo-host.") + "\\log.txt";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("a\r\nb\r\n", f);
  std::fclose(f);
  std::string error;
  const int fd = OpenRegularFile(path, false, &error);
  ASSERT_GE(fd, 0) << error;
  char buffer[16];
  EXPECT_EQ(_read(fd, buffer, sizeof buffer), 6);
  _close(fd);
  EXPECT_TRUE(RemoveRegularFile(path));
}

// A technician's log in "Relatórios", on a user's desktop "João": the name
// comes in as UTF-8 (from the wide command line, or listed from the
// directory) and must reach the same file, not the one its UTF-8 bytes
// name when taken as ANSI ("RelatÃ³rios").
TEST(Files, AUtf8NameReachesTheFileOfThatNameEvenOutsideTheAnsiCodePage) {
  const std::string dir = MakeTemporaryDirectory("tarvo-host.");
  ASSERT_FALSE(dir.empty());
  const std::string name = "Relat\xC3\xB3rio \xCE\xA9.txt";  // "Relatório Ω.txt"
  const std::wstring wide = FilePath(dir).wstring() + L"\\Relat\u00F3rio \u03A9.txt";
  FILE* made = _wfopen(wide.c_str(), L"wb");
  ASSERT_NE(made, nullptr);
  std::fputs("x", made);
  std::fclose(made);

  const std::vector<std::string> names = DirectoryNames(dir);
  ASSERT_EQ(names.size(), 1U);
  EXPECT_EQ(names[0], name);
  const std::string path = dir + "\\" + names[0];
  std::string error;
  const int fd = OpenRegularFile(path, false, &error);
  ASSERT_GE(fd, 0) << error;
  _close(fd);
  FILE* f = OpenFile(path, "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fgetc(f), 'x');
  std::fclose(f);
  EXPECT_TRUE(RemoveRegularFile(path));
  EXPECT_NE(_waccess(wide.c_str(), 0), 0);
  RemoveDirectoryW(FilePath(dir).c_str());
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\TARVO\\Ports", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegDeleteValueA(key_, "COM31");
    RegDeleteValueA(key_, "COM32");
    RegCloseKey(key_);
  }
  void Set(const char* name, const char* value) {
    RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(strlen(value) + 1));
  }
  HKEY key_ = nullptr;
};

TEST_F(Registry, TheLiveKeysReadAsRegTextWithQuotesAndBackslashesEscaped) {
  Set("COM31", "rfc2217://10.0.0.5:4001");
  Set("COM32", "odd \"name\" \\ here");
  std::string text, error;
  ASSERT_TRUE(ExportRegistry({kPortsSection}, &text, &error)) << error;
  ASSERT_EQ(regfile::Validate(text.data(), text.size()), regfile::Result::Ok) << text;
  char out[256];
  uint32_t size = 0;
  ASSERT_EQ(
      regfile::ReadString(text.data(), text.size(), kPortsSection, "COM32", out, sizeof out, &size),
      regfile::Result::Ok);
  EXPECT_STREQ(out, "odd \"name\" \\ here");
}

TEST_F(Registry, AValueLongerThanAFixedBufferNeitherIsCutNorHidesTheValuesAfterIt) {
  const std::string longValue = "rfc2217://" + std::string(1500, 'h') + ":4001";
  Set("COM31", longValue.c_str());
  Set("COM32", "rfc2217://10.0.0.6:4001");
  std::string text, error;
  ASSERT_TRUE(ExportRegistry({kPortsSection}, &text, &error)) << error;
  EXPECT_NE(text.find("\"COM31\"=\"" + longValue + "\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"COM32\"=\"rfc2217://10.0.0.6:4001\""), std::string::npos) << text;
}

TEST_F(Registry, AComNameIsTheSystemsPortUnlessMappedToANetworkPort) {
  Set("COM31", "rfc2217://10.0.0.5:4001");
  Set("COM32", "/dev/ttyUSB0");  // ignored on Windows: no URL
  const cli::RegistryFile reg = cli::LoadRegistry(cli::RegistryPath());
  cli::Resolved r;
  std::string why;
  ASSERT_TRUE(cli::ResolvePort("COM31", reg, &r, &why));
  EXPECT_EQ(r.device, "rfc2217://10.0.0.5:4001");
  EXPECT_EQ(r.source, cli::MapSource::Registry);
  ASSERT_TRUE(cli::ResolvePort("COM32", reg, &r, &why));
  EXPECT_EQ(r.device, "COM32");
  ASSERT_TRUE(cli::ResolvePort("COM5", reg, &r, &why));
  EXPECT_EQ(r.device, "COM5");  // not the /dev/ttyS4 of a platform without COM ports
  EXPECT_EQ(r.source, cli::MapSource::Default);
}

}  // namespace
}  // namespace tarvo::platform
