// The network device's cost: the same LeTexto exchanges with the emulator
// paced at 115200, once over a pseudo-terminal directly and once through
// ser2net on loopback (rfc2217://127.0.0.1:PORT?ignorects) to a second,
// identical emulator, in alternating runs within each round. The figure is the median over the
// rounds of the ratio network / direct of the wall time per exchange; the target is at most 1.10.
//
// Usage: tarvo_net_bench [--rounds N] [--exchanges N]
// Needs ser2net on the PATH; prints a note and exits 0 without it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "e2e/loopback.h"
#include "tarvo.h"

namespace {

constexpr const char* kSerial = "EMU0000001";

pid_t Spawn(std::vector<std::string> args, int out) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int null = open("/dev/null", O_WRONLY);
    dup2(out >= 0 ? out : null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

std::string StartEmulator(pid_t* pid) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return "";
  *pid = Spawn({TARVO_EMU_PATH, "--quiet", "--paper", "/dev/null", "--pace", "115200"}, out[1]);
  close(out[1]);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  return line;
}

// Ready once a connection is served; the probe waits for ser2net's end of
// it so that the one connection it serves is free again.
bool AwaitServer(uint16_t port) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int fd = tarvo::test::ConnectLoopback(port);
    if (fd >= 0) {
      shutdown(fd, SHUT_WR);
      char b[256];
      while (read(fd, b, sizeof b) > 0) {
      }
      close(fd);
      return true;
    }
    poll(nullptr, 0, 10);
  }
  return false;
}

double NowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

// Wall time per LeTexto exchange on `port`, after three unmeasured ones;
// negative when an exchange failed.
double Run(const std::string& port, int exchanges) {
  if (IniciaDriver(port.c_str()) != 1) return -1;
  double start = 0;
  for (int i = 0; i < exchanges + 3; ++i) {
    if (i == 3) start = NowUs();
    char value[TARVO_VALUE_SIZE];
    LimpaParams(1);
    AdicionaParam(1, "NomeTexto", "NumeroSerieECF", 7);
    const bool ok = ExecutaComando(1, "LeTexto") == 1 &&
                    Retorno(1, 0, "ValorTexto", 0, value, 0) > 0 &&
                    std::strcmp(value, kSerial) == 0;
    // The emulator may miss the first request after the line changed
    // hands (it notices a re-opened line within 50 ms): warm-ups may fail.
    if (!ok) {
      char circ[TARVO_CIRCUMSTANCE_SIZE] = {};
      ObtemCircunstancia(1, circ, 0);
      std::fprintf(stderr, "exchange %d failed on %s: %s\n", i, port.c_str(), circ);
    }
    if (!ok && i >= 3) {
      EncerraDriver(1);
      return -1;
    }
  }
  const double perExchange = (NowUs() - start) / exchanges;
  EncerraDriver(1);
  return perExchange;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 25;
  int exchanges = 20;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--exchanges") == 0) exchanges = std::max(1, std::atoi(argv[i + 1]));
  }
  if (std::system("command -v ser2net >/dev/null 2>&1") != 0) {
    std::printf("(ser2net is not installed: the network run is skipped)\n");
    return 0;
  }
  // Two emulators alike: ser2net serves the second one only, so that it
  // never reads the line of the direct run (it closes a device some time
  // after its client has gone).
  pid_t emu = -1, served = -1;
  const std::string pty = StartEmulator(&emu);
  const std::string servedPty = StartEmulator(&served);
  if (pty.rfind("/dev/", 0) != 0 || servedPty.rfind("/dev/", 0) != 0) {
    Stop(emu);
    Stop(served);
    return std::fprintf(stderr, "net_bench: no emulator\n"), 1;
  }
  // ser2net's pid file is its own (it removes it at exit): never a shared
  // path such as /dev/null.
  char dir[] = "/tmp/tarvo-net-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return std::fprintf(stderr, "net_bench: no directory\n"), 1;
  const std::string config = std::string(dir) + "/ser2net.yaml";
  const std::string pidFile = std::string(dir) + "/ser2net.pid";
  const int cfd = open(config.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const uint16_t port = tarvo::test::FreeLoopbackPort();
  const std::string yaml =
      "connection: &printer\n    accepter: telnet(rfc2217),tcp(nodelay),"
      "127.0.0.1," +
      std::to_string(port) + "\n    connector: serialdev," + servedPty +
      ",115200e81,local\n    options:\n      chardelay: false\n"
      "      max-connections: 1\n";
  const bool written = write(cfd, yaml.data(), yaml.size()) == static_cast<ssize_t>(yaml.size());
  close(cfd);
  const pid_t server = written ? Spawn({"ser2net", "-n", "-c", config, "-P", pidFile}, -1) : -1;
  const std::string url = "rfc2217://127.0.0.1:" + std::to_string(port) + "?ignorects";
  int status = 0;
  std::vector<double> direct, network, ratio;
  if (server < 0 || !AwaitServer(port)) {
    std::fprintf(stderr, "net_bench: ser2net did not start\n");
    status = 1;
  }
  for (int r = 0; r < rounds && status == 0; ++r) {
    const double d = Run(pty, exchanges);
    const double n = Run(url, exchanges);
    if (d < 0 || n < 0) {
      std::fprintf(stderr, "net_bench: an exchange failed (%s)\n", d < 0 ? "direct" : "network");
      status = 1;
      break;
    }
    direct.push_back(d);
    network.push_back(n);
    ratio.push_back(n / d);
  }
  Stop(server);
  Stop(emu);
  Stop(served);
  unlink(config.c_str());
  unlink(pidFile.c_str());
  rmdir(dir);
  if (status != 0) return status;
  std::printf("| run (LeTexto, emulator paced at 115200) | us per exchange (median of %d) |\n",
              rounds);
  std::printf("|---|---|\n");
  std::printf("| pseudo-terminal directly | %.0f |\n", Median(direct));
  std::printf("| through ser2net on loopback | %.0f |\n", Median(network));
  std::printf("\nnetwork / direct, median of the rounds' ratios: %.3f (target at most 1.10)\n",
              Median(ratio));
  return 0;
}
