// A host thread blocked on a silent printer sleeps in the kernel: it uses
// no CPU and is not woken while it waits for the first byte of the answer
// (per-byte time-out 5 s), so a wait never turns into a polling loop.
//
// This is one of the few tests that waits in real time: what it measures
// is the thread's behaviour over real time, which the simulated line's
// virtual clock cannot show. It watches 1.5 s of the 5-second wait, long
// enough for a loop waking every 100 ms or faster to show 15 wake-ups,
// then lets the printer answer so that the exchange ends at once.
#include <gtest/gtest.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "support/frames.h"
#include "support/fresh_state.h"
#include "support/pty.h"
#include "tarvo.h"

namespace tarvo {
namespace {

struct ThreadUse {
  double cpuMs;  // user + system CPU time
  long wakeUps;  // voluntary context switches: each sleep of the thread
  char state;    // 'S' while it sleeps
};

ThreadUse Sample(pthread_t thread, pid_t tid) {
  ThreadUse use{0, -1, '?'};
  clockid_t clock;
  timespec t{};
  if (pthread_getcpuclockid(thread, &clock) == 0 && clock_gettime(clock, &t) == 0) {
    use.cpuMs = static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
  }
  std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    std::istringstream fields(line);
    std::string key;
    fields >> key;
    if (key == "voluntary_ctxt_switches:") fields >> use.wakeUps;
    if (key == "State:") fields >> use.state;
  }
  return use;
}

TEST(IdleWait, ThreadBlockedOnASilentPrinterUsesNoCpuAndIsNotWoken) {
  test::FreshState();
  test::Pty pty;
  ASSERT_EQ(IniciaDriver(pty.SlavePath().c_str()), 1);

  std::atomic<pid_t> tid{0};
  std::atomic<int> result{0};
  std::thread host([&] {
    tid = gettid();
    AdicionaParam(1, "NomeTexto", "NumeroSerieECF", 7);
    result = ExecutaComando(1, "LeTexto");
  });

  // Once the request is out, the host thread is in its first read.
  std::string request;
  while (request.find('}') == std::string::npos) {
    const std::string got = pty.ReadMaster(1, 2000);
    if (got.empty()) break;
    request += got;
  }
  ASSERT_NE(request.find(";LeTexto;"), std::string::npos);

  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const ThreadUse before = Sample(host.native_handle(), tid);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const ThreadUse after = Sample(host.native_handle(), tid);

  pty.WriteMaster(test::AnswerFrame(test::RequestId(request), "0", "ValorTexto=\"X\""));
  host.join();
  EncerraDriver(1);

  EXPECT_EQ(result, 1);  // it was waiting for this very answer
  EXPECT_EQ(after.state, 'S');
  EXPECT_LT(after.cpuMs - before.cpuMs, 5.0) << "CPU used while waiting";
  ASSERT_GE(before.wakeUps, 0);
  EXPECT_LE(after.wakeUps - before.wakeUps, 2) << "times the thread slept again while waiting";
}

}  // namespace
}  // namespace tarvo
