// What the session lock costs a single-threaded host: the driver against
// the emulator answering at once, with the lock and without it, measured
// in one process run. The library is linked statically so that the
// benchmark can switch locking off (tarvo::SetSessionLockingForBenchmark,
// which the shared library does not export).
//
// Each round runs N LeTexto exchanges with the lock and N without, in
// alternating blocks of 25; the table shows the medians, and the target
// (within 2 %) is judged on the median of the per-round ratios.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/session_lock.h"
#include "emulator.h"
#include "tarvo.h"

namespace {

constexpr int kWarmUp = 20;
constexpr int kBlock = 25;
constexpr const char* kSerial = "EMU0000001";

struct Sample {
  double wallUs = 0;  // per exchange
  double cpuUs = 0;   // CPU time of this thread, per exchange
};

// Nanosecond clocks: the thread's CPU time from getrusage comes in
// scheduler ticks, too coarse for a difference of a fraction of a percent.
double Microseconds(clockid_t clock) {
  timespec t;
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

bool Exchange() {
  char value[TARVO_VALUE_SIZE];
  LimpaParams(1);
  AdicionaParam(1, "NomeTexto", "NumeroSerieECF", TARVO_TYPE_QUOTED);
  if (ExecutaComando(1, "LeTexto") != 1 || ObtemCodErro(1) != 0) return false;
  return Retorno(1, 0, "ValorTexto", 0, value, 0) > 0 && std::strcmp(value, kSerial) == 0;
}

// One block of exchanges, its times added to *s.
bool RunBlock(bool locking, int exchanges, Sample* s) {
  tarvo::SetSessionLockingForBenchmark(locking);
  const double wall0 = Microseconds(CLOCK_MONOTONIC);
  const double cpu0 = Microseconds(CLOCK_THREAD_CPUTIME_ID);
  bool ok = true;
  for (int i = 0; i < exchanges && ok; ++i) ok = Exchange();
  s->cpuUs += Microseconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
  s->wallUs += Microseconds(CLOCK_MONOTONIC) - wall0;
  tarvo::SetSessionLockingForBenchmark(true);
  return ok;
}

// One round: blocks of kBlock exchanges, with the lock and without it in
// turn, so that a load coming and going on a shared machine falls on both
// sides alike; per exchange in the end.
bool RunRound(int exchanges, Sample* on, Sample* off) {
  bool ok = true;
  for (int done = 0; done < exchanges && ok; done += kBlock) {
    const bool lockedFirst = (done / kBlock) % 2 == 0;
    ok = RunBlock(lockedFirst, kBlock, lockedFirst ? on : off) &&
         RunBlock(!lockedFirst, kBlock, lockedFirst ? off : on);
  }
  const int blocks = (exchanges + kBlock - 1) / kBlock;
  for (Sample* s : {on, off}) {
    s->wallUs /= blocks * kBlock;
    s->cpuUs /= blocks * kBlock;
  }
  return ok;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void Report(const std::vector<Sample>& on, const std::vector<Sample>& off, int exchanges) {
  std::vector<double> rateOn, rateOff, cpuOn, cpuOff, rateRatio, cpuRatio;
  for (size_t i = 0; i < on.size(); ++i) {
    rateOn.push_back(1e6 / on[i].wallUs);
    rateOff.push_back(1e6 / off[i].wallUs);
    cpuOn.push_back(on[i].cpuUs);
    cpuOff.push_back(off[i].cpuUs);
    rateRatio.push_back(off[i].wallUs / on[i].wallUs);
    cpuRatio.push_back(on[i].cpuUs / off[i].cpuUs);
  }
  std::printf("\nMedians of %zu rounds, %d exchanges per run, instant printer.\n\n", on.size(),
              exchanges);
  std::printf("| Run | exchanges/s | CPU µs per exchange |\n|---|---|---|\n");
  std::printf("| with the session lock | %.0f | %.2f |\n", Median(rateOn), Median(cpuOn));
  std::printf("| without it | %.0f | %.2f |\n", Median(rateOff), Median(cpuOff));
  const double rate = Median(rateRatio);
  const double cpu = Median(cpuRatio);
  std::printf("\n| Target | value | limit | |\n|---|---|---|---|\n");
  std::printf("| exchanges/s with the lock ÷ without | %.3f | >= 0.98 | %s |\n", rate,
              rate >= 0.98 ? "met" : "MISS");
  std::printf("| CPU per exchange with the lock ÷ without | %.3f | <= 1.02 | %s |\n", cpu,
              cpu <= 1.02 ? "met" : "MISS");
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 11;
  int exchanges = 2000;
  std::string emulator = TARVO_EMU_PATH;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
    if (a == "--exchanges") exchanges = std::max(1, std::atoi(argv[i + 1]));
    if (a == "--emulator") emulator = argv[i + 1];
  }
  Emulator emu;
  if (!StartEmulator(emulator, {}, &emu) || IniciaDriver(emu.path.c_str()) != 1) {
    std::fprintf(stderr, "lock_bench: cannot start the emulator or open its line\n");
    StopEmulator(&emu);
    return 1;
  }
  bool ok = true;
  for (int i = 0; i < kWarmUp && ok; ++i) ok = Exchange();
  std::vector<Sample> on, off;
  for (int round = 0; round < rounds && ok; ++round) {
    Sample a, b;
    ok = RunRound(exchanges, &a, &b);
    on.push_back(a);
    off.push_back(b);
  }
  EncerraDriver(1);
  StopEmulator(&emu);
  if (!ok) {
    std::fprintf(stderr, "lock_bench: an exchange failed\n");
    return 1;
  }
  Report(on, off, exchanges);
  return 0;
}
