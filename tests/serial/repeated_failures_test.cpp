// One process, many failures: what a failed open leaves behind adds up in a
// till that runs for days. And the read path of a port opened without
// overlapped I/O, which the driver itself does not take.
#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "serial/serial_port.h"
#include "serial/system.h"
#include "support/fresh_state.h"
#include "support/pty.h"
#include "support/temp_dir.h"
#include "tarvo.h"

namespace tarvo {
namespace {

int OpenDescriptors() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (d != nullptr && readdir(d) != nullptr) ++n;
  if (d != nullptr) closedir(d);
  return n;
}

// /dev/null opens but is no terminal: the open fails after the device was
// found. Many more such failures than the layer has device slots, each
// leaving neither a slot nor a descriptor behind; then a real port opens,
// through the port object and through a session.
TEST(RepeatedFailures, FailedOpensLeakNeitherDeviceSlotsNorDescriptors) {
  test::TempDir dir;
  test::FreshState();
  test::Pty pty;
  SerialPort port;
  const int before = OpenDescriptors();
  for (int i = 0; i < 40; ++i) {
    EXPECT_NE(port.Open("/dev/null", 8192, 8192, 1), 0u);
    EXPECT_NE(port.Open("/dev/null", 0, 0, 0), 0u);
    EXPECT_EQ(IniciaDriver("/dev/null"), TARVO_BAD_CHANNEL);
  }
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_EQ(port.Open(pty.SlavePath().c_str(), 8192, 8192, 1), 0u);
  port.Close();
  EXPECT_EQ(IniciaDriver(pty.SlavePath().c_str()), 1);
  EncerraDriver(1);
  test::FreshState();
}

// A loopback socket bound to a port of its own: connecting to it is refused
// while it does not listen, and nobody else can take the port meanwhile.
class LoopbackPort {
 public:
  LoopbackPort() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~LoopbackPort() { close(fd_); }
  std::string Url(const std::string& options = "") const {
    return "rfc2217://127.0.0.1:" + std::to_string(port_) + options;
  }
  void Listen() { listen(fd_, 4); }
  // Whether a connection is waiting to be accepted.
  bool Knocked() const {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
  }

 private:
  int fd_ = socket(AF_INET, SOCK_STREAM, 0);
  uint16_t port_ = 0;
};

// A network port whose server is down: every open fails the same way, for
// as long as it is down, however often the till retries; none takes a
// network port's slot with it.
TEST(RepeatedFailures, OpensOfANetworkPortWhoseServerIsDownKeepNoSlot) {
  LoopbackPort down;
  for (int i = 0; i < 12; ++i) {
    sys::Handle device = nullptr;
    EXPECT_EQ(sys::OpenDevice(down.Url().c_str(), true, &device),
              static_cast<uint32_t>(ECONNREFUSED))
        << "open " << i;
    EXPECT_EQ(device, nullptr);
  }
}

// A network port given a COM name in the port map with a mistyped option
// (the option decides whether the printer's CTS is believed) is a bad
// channel, and nothing is connected to.
TEST(RepeatedFailures, MappedNetworkPortWithAMistypedOptionConnectsNowhere) {
  test::TempDir dir;
  test::FreshState();
  LoopbackPort server;
  server.Listen();
  test::WriteFile("registry.reg",
                  "Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\Ports]\r\n\"COM15\"=\"" +
                      server.Url("?ignorecst") + "\"\r\n");
  setenv("TARVO_REGISTRY", (dir.Path() + "/registry.reg").c_str(), 1);
  EXPECT_EQ(IniciaDriver("COM15"), TARVO_BAD_CHANNEL);
  EXPECT_FALSE(server.Knocked());
  unsetenv("TARVO_REGISTRY");
  test::FreshState();
}

// A port opened without overlapped I/O reads synchronously, bounded by the
// device's time-outs: in mode 1 a burst is returned once the line falls
// silent after it; in mode 0 a read of an empty line returns at once with
// nothing. A guard writes a byte after three seconds, so a read that would
// wait longer ends with the wrong bytes.
TEST(NonOverlappedPort, ReadsEndAtTheDevicesTimeoutsNotAtTheCount) {
  test::Pty pty;
  SerialPort port;
  ASSERT_EQ(port.Open(pty.SlavePath().c_str(), 0, 0, 0), 0u);
  char buf[16] = {};
  uint32_t got = 99;
  EXPECT_EQ(port.Read(buf, 1, &got, nullptr, 5000), 1u);  // a finite time-out needs overlapped
  EXPECT_EQ(got, 0u);

  std::thread guard([&] {
    std::this_thread::sleep_for(std::chrono::seconds(3));
    pty.WriteMaster("Z");
  });
  ASSERT_EQ(port.SetReadTimeouts(0), 0u);
  EXPECT_EQ(port.Read(buf, sizeof buf, &got, nullptr, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(got, 0u);

  ASSERT_EQ(port.SetReadTimeouts(1), 0u);
  pty.WriteMaster("abc");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.Read(buf, sizeof buf, &got, nullptr, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(std::string(buf, got), "abc");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  EXPECT_EQ(port.Read(buf, sizeof buf, &got, nullptr, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(std::string(buf, got), "Z");
  guard.join();
}

}  // namespace
}  // namespace tarvo
