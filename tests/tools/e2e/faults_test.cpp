// Line faults that the emulator's own fault switches do not cover, against
// the shared library over pseudo-terminals: the printer vanishing in the
// middle of an answer (the emulator is killed), a storm of noise, and two
// misbehaving printers played by the test itself on a pseudo-terminal of
// its own: one that streams bytes without ever ending its frame, one that
// answers only with stale ids for a while.
//
// A pseudo-terminal has no modem lines: the driver counts CTS as present
// there (see docs/robustness.md), so the CTS gate never fails in these tests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "e2e/driver_calls.h"
#include "e2e/emulator_process.h"
#include "support/temp_dir.h"
#include "tarvo.h"

namespace tarvo::test {
namespace {

using Clock = std::chrono::steady_clock;

// The emulator as printer FLT0001; its control FIFO and its log are
// `name`.control and `name`.log in `dir`.
class Emulator : public EmulatorProcess {
 public:
  Emulator(const std::string& dir, const std::string& name, std::vector<std::string> extra = {})
      : EmulatorProcess(EmulatorOptions{.serial = "FLT0001",
                                        .control = dir + "/" + name + ".control",
                                        .log = dir + "/" + name + ".log",
                                        .args = std::move(extra)}) {}
};

std::string Frame(const std::string& body) {
  return body + ";" + std::to_string(body.size()) + "}";
}

// A printer played by the test on a pseudo-terminal of its own: it reads
// each request frame and hands it to `answer`, which writes to the line.
class OwnPrinter {
 public:
  using Answer = void (*)(OwnPrinter* printer, int id);

  explicit OwnPrinter(Answer answer) : answer_(answer) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master_, 0);
    EXPECT_EQ(grantpt(master_), 0);
    EXPECT_EQ(unlockpt(master_), 0);
    port_ = ptsname(master_);
    termios t{};
    tcgetattr(master_, &t);
    cfmakeraw(&t);
    tcsetattr(master_, TCSANOW, &t);
    thread_ = std::thread([this] { Serve(); });
  }
  ~OwnPrinter() {
    stop_ = true;
    thread_.join();
    close(master_);
  }
  OwnPrinter(const OwnPrinter&) = delete;
  OwnPrinter& operator=(const OwnPrinter&) = delete;

  const std::string& Port() const { return port_; }
  bool Stopping() const { return stop_; }
  // Writes all of bytes unless the test is over; false when it could not.
  bool Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size() && !stop_) {
      const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        return false;
      }
    }
    return done == bytes.size();
  }
  std::atomic<int> requests{0};

 private:
  void Serve() {
    std::string frame;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) continue;
      char c;
      if (read(master_, &c, 1) != 1) continue;
      if (c == '{') frame.clear();
      frame.push_back(c);
      if (c == '}' && frame[0] == '{') {
        ++requests;
        answer_(this, std::atoi(frame.c_str() + 1));
        frame.clear();
      }
    }
  }

  Answer answer_;
  int master_ = -1;
  std::string port_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

constexpr int kText = 7;

class Faults : public ::testing::Test {
 protected:
  void TearDown() override { EncerraDriver(1); }
  TempDir dir;
};

// The printer vanishes while its answer is on the wire: the exchange fails
// with its circumstance once the BREAK recovery and the port's re-opening
// have run, and a new session on another printer works at once.
TEST_F(Faults, PrinterKilledMidAnswerFailsCleanlyAndANewSessionWorks) {
  Emulator first(dir.Path(), "first", {"--pace", "300"});  // about 36 ms a byte
  ASSERT_FALSE(first.Port().empty()) << first.Log();
  // Once the printer is gone, the driver closes the device and opens it
  // again by name. Without this descriptor the pseudo-terminal's number
  // would be free between the two, and a test running beside this one
  // could get it: the driver would then open that test's line. Held here,
  // the number stays this test's, and the re-open simply fails.
  const int holder = open(first.Port().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(IniciaDriver(first.Port().c_str()), 1);

  std::thread killer([&first] {
    // The answer is logged when it starts going out; a few bytes later the
    // printer goes away.
    while (first.Log().find("-> ") == std::string::npos) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    first.Kill(SIGKILL);
  });
  const auto start = Clock::now();
  const Result r = RunCommand("LeTexto", {{"NomeTexto", "NumeroSerieECF", kText}});
  killer.join();
  EXPECT_EQ(r.executed, TARVO_EXCHANGE_FAILED);
  EXPECT_EQ(r.code, TARVO_PROTOCOL_FAILURE);
  EXPECT_EQ(r.circumstance, "Erro de Recepcao");
  char name[TARVO_ERROR_NAME_SIZE] = "";
  ObtemNomeErro(1, name, 0);
  EXPECT_STREQ(name, "ErroProtTimeout");
  // A vanished device ends each read at once: no per-byte time-out is
  // spent, only the BREAK recovery (about four seconds).
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(15));
  char value[TARVO_VALUE_SIZE] = "x";
  EXPECT_EQ(Retorno(1, 0, "ValorTexto", 0, value, 0), TARVO_PROTOCOL_FAILURE);
  EXPECT_STREQ(value, "");

  EXPECT_EQ(EncerraDriver(1), 0);
  close(holder);
  Emulator second(dir.Path(), "second");
  ASSERT_FALSE(second.Port().empty()) << second.Log();
  ASSERT_EQ(IniciaDriver(second.Port().c_str()), 1);
  const Result again = RunCommand("LeTexto", {{"NomeTexto", "NumeroSerieECF", kText}});
  EXPECT_EQ(again.executed, 1);
  EXPECT_EQ(again.code, 0);
  EXPECT_EQ(Value("ValorTexto"), "FLT0001");
}

// Thousands of noise bytes before every answer are thrown away, however
// many, and each command still gets its answer.
TEST_F(Faults, NoiseStormBeforeEveryAnswerIsDiscarded) {
  Emulator emu(dir.Path(), "emu");
  ASSERT_FALSE(emu.Port().empty()) << emu.Log();
  ASSERT_EQ(IniciaDriver(emu.Port().c_str()), 1);
  emu.Fault("noise 4096 3");  // the most the emulator sends at once
  for (int i = 0; i < 3; ++i) {
    const Result r = RunCommand("LeTexto", {{"NomeTexto", "NumeroSerieECF", kText}});
    EXPECT_EQ(r.executed, 1) << i;
    EXPECT_EQ(r.code, 0) << i;
    EXPECT_EQ(Value("ValorTexto"), "FLT0001") << i;
  }
  EXPECT_EQ(RunCommand("LeInteiro", {{"NomeInteiro", "ECF", kText}}).code, 0);
  // The storm really went out: 3 x 4096 bytes, whose pattern repeats every
  // 8 bytes.
  const std::string log = emu.Log();
  size_t storms = 0;
  for (size_t at = 0; (at = log.find("~#@", at)) != std::string::npos; ++at) ++storms;
  EXPECT_GE(storms, 3u * 4096 / 8) << log.substr(0, 2000);
}

// A printer that starts a frame and never ends it: the driver stops once
// the receive buffer is full, without waiting for a silence, and fails the
// exchange; the line is usable again for the next command.
TEST_F(Faults, EndlessFrameFailsWhenTheReceiveBufferIsFull) {
  OwnPrinter printer([](OwnPrinter* p, int id) {
    if (p->requests == 1) {
      // More than the 4096 bytes the driver can hold, and no end.
      p->Send("{" + std::to_string(id) + ";0;ValorTexto=\"" + std::string(6000, 'x'));
      return;
    }
    p->Send(Frame("{" + std::to_string(id) + ";0;ValorTexto=\"depois\""));
  });
  ASSERT_EQ(IniciaDriver(printer.Port().c_str()), 1);
  const auto start = Clock::now();
  const Result r = RunCommand("LeTexto", {{"NomeTexto", "NumeroSerieECF", kText}});
  EXPECT_EQ(r.executed, TARVO_EXCHANGE_FAILED);
  EXPECT_EQ(r.code, TARVO_PROTOCOL_FAILURE);
  EXPECT_EQ(r.circumstance, "Erro de Recepcao");
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
  // The rest of the endless stream is noise before the next answer.
  const Result next = RunCommand("LeTexto", {{"NomeTexto", "Modelo", kText}});
  EXPECT_EQ(next.executed, 1);
  EXPECT_EQ(Value("ValorTexto"), "depois");
}

// A printer that answers only with stale ids for a while (here for about a
// second, longer than no single byte takes): every stale answer is
// discarded, the request is not sent again, and the right answer is taken.
TEST_F(Faults, StaleAnswersForAWhileAreDiscardedUntilTheRightOne) {
  OwnPrinter printer([](OwnPrinter* p, int id) {
    for (int i = 0; i < 20 && !p->Stopping(); ++i) {
      const int stale = (id + i % 3) % 255 + 1;  // never the request's id
      p->Send(Frame("{" + std::to_string(stale) + ";0;ValorTexto=\"velho\""));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    p->Send(Frame("{" + std::to_string(id) + ";0;ValorTexto=\"novo\""));
  });
  ASSERT_EQ(IniciaDriver(printer.Port().c_str()), 1);
  const Result r = RunCommand("LeTexto", {{"NomeTexto", "NumeroSerieECF", kText}});
  EXPECT_EQ(r.executed, 1);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(Value("ValorTexto"), "novo");
  EXPECT_EQ(printer.requests, 1);
}

}  // namespace
}  // namespace tarvo::test
