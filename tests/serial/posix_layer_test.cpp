// The POSIX layer's own services: the registry file, the COM port map, and
// the session over a real pseudo-terminal.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "driver/driver_state.h"
#include "serial/posix/posix_util.h"
#include "serial/system.h"
#include "support/pty.h"
#include "support/temp_dir.h"
#include "tarvo.h"
#include "trace/trace.h"

namespace tarvo {
namespace {

using test::FileExists;
using test::Pty;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class PosixLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    driverState.port.Close();
    driverState.fArq = -1;
    traceState = TraceState{};
    registry_ = dir_.Path() + "/registry.reg";
    setenv("TARVO_REGISTRY", registry_.c_str(), 1);
  }
  void TearDown() override {
    driverState.port.Close();
    driverState.fArq = -1;
    unsetenv("TARVO_REGISTRY");
  }
  void WriteRegistry(const std::string& body) {
    WriteFile(registry_, "Windows Registry Editor Version 5.00\r\n\r\n" + body);
  }

  // Opens the line-settings key and reads CommSettings into 20 bytes.
  struct Query {
    uint32_t open;
    uint32_t query;
    uint32_t size;
    std::string value;
  };
  static Query ReadCommSettings() {
    Query q{};
    sys::Handle key = nullptr;
    q.open = sys::RegistryOpenKey("BelmoraPOS\\ImpressoraFiscal", &key);
    if (q.open != 0) {
      EXPECT_EQ(key, nullptr);
      return q;
    }
    char data[20];
    q.size = sizeof data;
    q.query = sys::RegistryQueryValue(key, "CommSettings", data, &q.size);
    if (q.query == 0) q.value.assign(data, q.size);
    sys::RegistryCloseKey(key);
    return q;
  }

  TempDir dir_;
  std::string registry_;
};

constexpr const char* kSettings = "[HKEY_CLASSES_ROOT\\BelmoraPOS\\ImpressoraFiscal]\r\n";

TEST_F(PosixLayer, RegistryFileCasesMatchTheRegistryOnes) {
  unsetenv("TARVO_REGISTRY");
  setenv("TARVO_REGISTRY", (dir_.Path() + "/missing.reg").c_str(), 1);
  EXPECT_EQ(ReadCommSettings().open, static_cast<uint32_t>(ENOENT));
  setenv("TARVO_REGISTRY", registry_.c_str(), 1);

  WriteRegistry(
      "[HKEY_CLASSES_ROOT\\BelmoraPOS\\Other]\r\n\"CommSettings\"=\"COM1:57600,E,8,1\"\r\n");
  EXPECT_NE(ReadCommSettings().open, 0u) << "missing section";

  WriteFile(registry_, "not a registry file\n");
  EXPECT_NE(ReadCommSettings().open, 0u) << "malformed file";

  WriteRegistry(std::string(kSettings) + "\"Other\"=\"x\"\r\n");
  Query q = ReadCommSettings();
  EXPECT_EQ(q.open, 0u);
  EXPECT_NE(q.query, 0u) << "missing value";

  WriteRegistry(std::string(kSettings) + "\"CommSettings\"=dword:0000e100\r\n");
  q = ReadCommSettings();
  EXPECT_EQ(q.open, 0u);
  EXPECT_NE(q.query, 0u) << "value of another type";

  WriteRegistry(std::string(kSettings) + "\"CommSettings\"=\"COM1:57600,E,8,1wxyz\"\r\n");
  q = ReadCommSettings();
  EXPECT_EQ(q.query, 234u) << "20 characters and the zero do not fit 20 bytes";
  EXPECT_EQ(q.size, 21u);

  WriteRegistry(std::string(kSettings) + "\"CommSettings\"=\"COM1:57600,E,8,1xyz\"\r\n");
  q = ReadCommSettings();
  EXPECT_EQ(q.query, 0u);
  EXPECT_EQ(q.size, 20u);
  EXPECT_EQ(q.value, std::string("COM1:57600,E,8,1xyz\0", 20));
}

// A FIFO in place of the registry file once held IniciaDriver in open()
// forever; it is a key that can't be opened.
TEST_F(PosixLayer, AFifoInPlaceOfTheRegistryFileIsAKeyThatCannotBeOpened) {
  ASSERT_EQ(mkfifo(registry_.c_str(), 0600), 0);
  EXPECT_NE(ReadCommSettings().open, 0u);
}

// Only a terminal is a serial port: a file reached by a name holding
// "/dev/", or by the port map, once had the request frames written into it.
TEST_F(PosixLayer, WhatIsNotATerminalIsRefusedAndLeftAsItWas) {
  ASSERT_EQ(mkdir((dir_.Path() + "/dev").c_str(), 0700), 0);
  const std::string notes = dir_.Path() + "/notes.txt";
  WriteFile(notes, "keep me");
  const std::string fifo = dir_.Path() + "/dev/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  WriteRegistry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\Ports]\r\n\"COM15\"=\"" + notes + "\"\r\n");

  const std::string viaDev = dir_.Path() + "/dev/../notes.txt";
  for (const std::string& name : {viaDev, std::string("COM15"), fifo, std::string("/dev/null")}) {
    EXPECT_EQ(driverState.port.Open(name.c_str(), 8192, 8192, 1), sys::posix::CodeOfErrno(ENOTTY))
        << name;
    EXPECT_FALSE(driverState.port.IsOpen()) << name;
    EXPECT_EQ(IniciaDriver(name.c_str()), TARVO_BAD_CHANNEL) << name;
  }
  const std::string missing = dir_.Path() + "/dev/absent";
  EXPECT_EQ(IniciaDriver(missing.c_str()), TARVO_BAD_CHANNEL);
  EXPECT_EQ(ReadFile(notes), "keep me");
  EXPECT_FALSE(FileExists(missing)) << "never created";
}

TEST_F(PosixLayer, ComNamesGoThroughThePortMapElseToTtyS) {
  Pty pty;
  WriteRegistry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\Ports]\r\n\"COM15\"=\"" + pty.SlavePath() +
                "\"\r\n");
  sys::Handle device = nullptr;
  ASSERT_EQ(sys::OpenDevice("COM15", true, &device), 0u);
  sys::CloseDevice(device);
  // Not in the map: COMn is /dev/ttyS(n-1), and there is no COM0.
  EXPECT_EQ(sys::OpenDevice("COM250", true, &device), static_cast<uint32_t>(ENOENT));
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(sys::OpenDevice("COM0", true, &device), static_cast<uint32_t>(ENOENT));
  EXPECT_EQ(sys::OpenDevice("COMX", true, &device), static_cast<uint32_t>(ENOENT));
}

TEST_F(PosixLayer, IniciaDriverReachesAMappedPortAtTheRegistryRate) {
  Pty pty;
  WriteRegistry(std::string(kSettings) + "\"CommSettings\"=\"COM1:38400,E,8,1\"\r\n\r\n" +
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\Ports]\r\n\"COM15\"=\"" + pty.SlavePath() +
                "\"\r\n");
  ASSERT_EQ(IniciaDriver("COM15"), 1);
  EXPECT_STREQ(driverState.portName, "COM15");
  termios t{};
  ASSERT_EQ(tcgetattr(pty.Master(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
  EXPECT_TRUE(t.c_iflag & INPCK);  // parity checked; a pty has no parity bit
  EXPECT_FALSE(t.c_cflag & CSTOPB);

  uint32_t written = 0;
  EXPECT_EQ(driverState.port.WriteString("{1;LeTexto;;12}", &written, nullptr, 5000), 0u);
  EXPECT_EQ(pty.ReadMaster(15, 5000), "{1;LeTexto;;12}");
  EXPECT_EQ(EncerraDriver(1), 0);

  // The same device named by its path.
  ASSERT_EQ(IniciaDriver(pty.SlavePath().c_str()), 1);
  EXPECT_EQ(EncerraDriver(1), 0);
  EXPECT_EQ(IniciaDriver("/dev/tarvo-no-such-device"), -11);
}

TEST_F(PosixLayer, NoWindowMessagesSoDoMessageReturnsZero) {
  intptr_t result = 7;
  EXPECT_FALSE(sys::DispatchOneMessage(&result));
  EXPECT_EQ(DoMessage(), 0);
}

// An errno that equals one of the driver's own codes (ENXIO is 6, "port not
// open") must not read as that code; the trace still gets the errno.
TEST(PosixCodes, NoErrnoReadsAsTheDriversOwnCodes) {
  for (int number = 1; number < 4096; ++number) {
    const uint32_t code = sys::posix::CodeOfErrno(number);
    EXPECT_NE(code, sys::kErrorInvalidHandle) << number;
    EXPECT_NE(code, sys::kErrorAlreadyInitialized) << number;
    EXPECT_NE(code, sys::kErrorTimeout) << number;
    EXPECT_NE(code, sys::kErrorInvalidFunction) << number;
    EXPECT_EQ(sys::ErrorNumber(code), static_cast<uint32_t>(number));
  }
  EXPECT_EQ(sys::posix::CodeOfErrno(EIO), static_cast<uint32_t>(EIO));
  EXPECT_EQ(sys::posix::CodeOfErrno(ENOENT), sys::kErrorFileNotFound) << "the same meaning";
  EXPECT_EQ(sys::ErrorNumber(sys::kInvalidArg), sys::kInvalidArg);
}

// Calendar seconds were the seed once: two sessions in the same second, in
// one process or in two, then sent the same first frame id.
TEST_F(PosixLayer, TheSessionSeedSourceDiffersBetweenCallsAndBetweenProcesses) {
  int channel[2];
  ASSERT_EQ(pipe(channel), 0);
  const pid_t child = fork();
  if (child == 0) {
    const uint64_t value = sys::SessionSeedSource();
    _exit(write(channel[1], &value, sizeof value) == sizeof value ? 0 : 1);
  }
  const uint64_t first = sys::SessionSeedSource();
  const uint64_t second = sys::SessionSeedSource();
  uint64_t fromChild = 0;
  ASSERT_EQ(read(channel[0], &fromChild, sizeof fromChild), static_cast<ssize_t>(sizeof fromChild));
  int status = 0;
  waitpid(child, &status, 0);
  close(channel[0]);
  close(channel[1]);
  EXPECT_NE(first, second);
  EXPECT_NE(first, fromChild);
  EXPECT_NE(second, fromChild);
}

}  // namespace
}  // namespace tarvo
