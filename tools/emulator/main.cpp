// tarvo-emu: a fiscal printer on a pseudo-terminal (or a serial device) for
// trying the driver without a printer. The protocol and the printer live in
// session.cpp and printer.cpp; this file only moves bytes and signals.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/cp1252.h"
#include "common/numbers.h"
#include "emulator/session.h"
#include "tarvo_version.h"

namespace {

using tarvo::emu::Session;

const char kUsage[] =
    R"(Usage: tarvo-emu [OPTION]...
A fiscal printer (ECF) emulator for the TARVO driver. It creates a pseudo-
terminal and prints the path of its slave side (for the driver:
IniciaDriver("/dev/pts/N") or tarvo -p /dev/pts/N) on the first line of
standard output, then serves until SIGINT or SIGTERM. The paper it prints
follows on standard output; a log of the frames goes to standard error.

Line:
  --device PATH      serve a serial device (a null-modem cable to the host)
                     instead of a pseudo-terminal
  --baud N           line rate of --device (default 115200; 8 data bits,
                     even parity, 1 stop bit)
  --path-file FILE   also write the device path to FILE (written once the
                     emulator is ready)
Printer:
  --serial TEXT      serial number (NumeroSerieECF; default EMU0000001)
  --ecf N            ECF number (default 1)
  --state FILE       keep the printer's state in FILE, read at start and
                     rewritten after every command (survives a restart)
Output:
  --paper FILE       append the paper to FILE instead of standard output
  --quiet            no frame log on standard error
Faults (each FAULT is described at the end):
  --fault FAULT       arm a fault at start, e.g. --fault "silence 2"; repeatable
  --delay MS         wait MS milliseconds before every answer
  --pace BAUD        send answers one byte at a time at the wire time of BAUD
                     (11 bits per byte: 8 data bits, parity, start and stop)
  --control PATH     create a FIFO at PATH; each line written to it is a fault
                     FAULT applied at once, e.g.  echo "cut 1" > PATH
  --ack PATH         create a FIFO at PATH; for each control line the
                     emulator writes "ok LINE" or "error LINE: why" to it once
                     the line has been handled, before it reads another request
  --help             show this text
  --version          show the version

Commands (request "{id;Comando;params;length}", answer
"{id;code;values;length}", code 0 for success):
  LeTexto NomeTexto=NumeroSerieECF|Marca|Modelo|Versao   -> ValorTexto="..."
  LeInteiro NomeInteiro=ECF|COO|ContadorReducaoZ|CupomAberto|ItensCupom|
            TamanhoImpressao                              -> ValorInteiro=n
  LeMoeda NomeMoeda=TotalCupom|TotalPago|GrandeTotal|VendaBrutaDiaria
                                                          -> ValorMoeda=12,50
  LeDataHora                            -> Data=#dd/mm/yyyy# Hora=#hh:mm:ss#
  LeImpressao [Inicio=n]                -> TextoImpressao="..." (last document,
            at most 3000 characters from Inicio; '\' makes the next character
            literal; '"' and ';' are always escaped)
  AbreCupom [Consumidor="..."]                            -> COO=n
  VendeItem Descricao="..." PrecoUnitario=4,50 [Quantidade=2] [CodigoProduto=
            "..."]                      -> NumeroItem=n TotalItem=.. TotalCupom=..
  PagaCupom MeioPagamento="Dinheiro" Valor=20,00          -> Restante=.. Troco=..
  EncerraCupom [Mensagem="..."]                           -> COO=n TotalCupom=..
  CancelaCupom                                            -> COO=n
  AbreCreditoDebito MeioPagamento="..." Valor=10,00       -> COO=n
  ImprimeTexto Texto="..."   (inside a credit/debit voucher)
  EncerraCreditoDebito                                    -> COO=n
  EmiteReducaoZ              -> ContadorReducaoZ=n DataMovimento=#dd/mm/yyyy#
Amounts take ',' or '.' before the decimals. Values may be plain, "quoted" or
#marked#.

Error codes (each with its NomeErro and Circunstancia texts):
   1 ErroComandoDesconhecido   unknown (or empty) command
   2 ErroQuadroInvalido        length field does not match; not carried out
   3 ErroParametroAusente      a required parameter is missing
   4 ErroParametroInvalido     bad value, or parameters not name=value
   5 ErroDocumentoAberto       a receipt or voucher is open
   6 ErroCupomFechado          no receipt open
   7 ErroPagamentoIniciado     VendeItem after the first payment
   8 ErroPagamentoIncompleto   EncerraCupom before the total is paid
   9 ErroCupomSemItens         payment or closing without items
  10 ErroNomeDesconhecido      LeTexto/LeInteiro/LeMoeda: unknown name
  11 ErroComprovanteFechado    no credit/debit voucher open
  12 ErroCupomCheio            500 items on one receipt

A request repeated with the same id, command and parameters as the last one
(the driver's resend) is answered again from memory, not carried out twice.

Faults (FAULT for --fault and --control; counters apply to the next N):
  silence N      carry out the next N requests but send no answer
  deaf N         ignore the next N requests completely
  badlength N    next N answers have a length field one too large
  stale N        next N answers are preceded by an answer with another id
  cut N          next N answers stop after their first half
  noise B [N]    B bytes of noise before each of the next N (default 1) answers
  delay MS       wait MS before every answer (0: no wait)
  pace BAUD      byte pacing at the wire time of BAUD (0: off)
  clear          disarm everything
SIGUSR1 writes the armed faults and the printer's state to the log.
)";

volatile sig_atomic_t signalledUsr1 = 0;
int signalPipe[2] = {-1, -1};

void OnSignal(int sig) {
  if (sig == SIGUSR1) {
    signalledUsr1 = 1;
  }
  const char b = static_cast<char>(sig);
  const int saved = errno;
  if (write(signalPipe[1], &b, 1) < 0) {
  }
  errno = saved;
}

tarvo::emu::DateTime LocalNow() {
  const time_t t = time(nullptr);
  tm local{};
  localtime_r(&t, &local);
  tarvo::emu::DateTime d;
  d.day = local.tm_mday;
  d.month = local.tm_mon + 1;
  d.year = local.tm_year + 1900;
  d.hour = local.tm_hour;
  d.minute = local.tm_min;
  d.second = local.tm_sec;
  return d;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "tarvo-emu: %s\nTry 'tarvo-emu --help' for more information.\n",
               message.c_str());
  return 2;
}

speed_t BaudCode(long baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
  }
}

bool WriteFileAtomically(const std::string& path, const std::string& content) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << content;
    if (!out.flush()) return false;
  }
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

struct Options {
  std::string device;
  long baud = 115200;
  std::string pathFile;
  std::string serial;
  long ecf = -1;
  std::string stateFile;
  std::string paperFile;
  std::string controlPath;
  std::string ackPath;
  bool quiet = false;
  std::vector<std::string> faults;
};

// Bytes waiting to go out: each piece starts no earlier than its time, and
// with pacing its bytes leave one per byte time.
struct Outgoing {
  std::string bytes;
  int64_t startUs = 0;
  size_t sent = 0;
};

class Emulator {
 public:
  Emulator(const Options& options, Session* session) : options_(options), session_(session) {}

  int Run(int lineFd, int controlFd, int ackFd);

 private:
  void Log(const std::string& text) {
    if (!options_.quiet && !text.empty()) std::fputs(text.c_str(), stderr);
  }
  bool TakeSignals();
  bool ReadLine(int lineFd);
  void ShowPaper(const std::string& paper);
  void SaveState();
  void Control(int fd, int ackFd);
  void Flush(int lineFd);
  int64_t PollTimeoutUs() const;

  const Options& options_;
  Session* session_;
  std::deque<Outgoing> queue_;
  int64_t lastByteMs_ = 0;
  std::string controlLine_;
};

void Emulator::ShowPaper(const std::string& paper) {
  if (paper.empty()) return;
  const std::string text = tarvo::tools::Cp1252ToUtf8(paper);
  if (options_.paperFile.empty()) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    return;
  }
  std::ofstream out(options_.paperFile, std::ios::binary | std::ios::app);
  out << text;
}

void Emulator::SaveState() {
  if (options_.stateFile.empty()) return;
  if (!WriteFileAtomically(options_.stateFile, session_->Serialize())) {
    std::fprintf(stderr, "tarvo-emu: cannot write the state file %s: %s\n",
                 options_.stateFile.c_str(), std::strerror(errno));
  }
}

// Reads whatever the control FIFO holds (it never blocks) and applies each
// whole line; with an acknowledgement FIFO, says so for each line, so that
// a test knows the fault is armed before it sends its request.
void Emulator::Control(int fd, int ackFd) {
  char buffer[512];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    controlLine_.append(buffer, static_cast<size_t>(n));
  }
  size_t end;
  while ((end = controlLine_.find('\n')) != std::string::npos) {
    const std::string line = controlLine_.substr(0, end);
    controlLine_.erase(0, end + 1);
    std::string error;
    std::string ack;
    if (tarvo::emu::ApplyFaultCommand(line, &session_->GetFaults(), &error)) {
      Log("   fault: " + line + " -> " + tarvo::emu::DescribeFaults(session_->GetFaults()) + "\n");
      ack = "ok " + line + "\n";
    } else {
      std::fprintf(stderr, "tarvo-emu: control: %s\n", error.c_str());
      ack = "error " + line;
      ack.append(": ").append(error).append("\n");
    }
    // Nobody reading the acknowledgements must not stop the emulator: a
    // full FIFO drops them.
    if (ackFd >= 0) {
      const ssize_t written = write(ackFd, ack.data(), ack.size());
      (void)written;
    }
  }
  if (controlLine_.size() > 4096) controlLine_.clear();
}

int64_t ByteTimeUs(int baud) { return baud > 0 ? (11LL * 1000000 + baud - 1) / baud : 0; }

void Emulator::Flush(int lineFd) {
  while (!queue_.empty()) {
    Outgoing& o = queue_.front();
    const int64_t now = tarvo::tools::MonotonicUs();
    if (now < o.startUs) return;
    const int64_t byteUs = ByteTimeUs(session_->GetFaults().paceBaud);
    size_t due = o.bytes.size();
    if (byteUs > 0) {
      due = static_cast<size_t>((now - o.startUs) / byteUs) + 1;
      if (due > o.bytes.size()) due = o.bytes.size();
    }
    if (due > o.sent) {
      const ssize_t n = write(lineFd, o.bytes.data() + o.sent, due - o.sent);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
      if (n < 0) {
        // Nobody holds the other end: what the printer sends is lost.
        Log("   (line closed: " + std::to_string(o.bytes.size() - o.sent) +
            " bytes not delivered)\n");
        queue_.pop_front();
        continue;
      }
      o.sent += static_cast<size_t>(n);
    }
    if (o.sent < o.bytes.size()) return;
    const int64_t end =
        byteUs > 0 ? o.startUs + byteUs * static_cast<int64_t>(o.bytes.size()) : now;
    queue_.pop_front();
    if (!queue_.empty() && queue_.front().startUs < end) queue_.front().startUs = end;
  }
}

// Microseconds until the next byte is due (-1: nothing to send), so that
// paced bytes leave one at a time rather than in a burst per millisecond.
int64_t Emulator::PollTimeoutUs() const {
  if (queue_.empty()) return session_->InFrame() ? 1000000 : -1;
  const Outgoing& o = queue_.front();
  const int64_t byteUs = ByteTimeUs(session_->GetFaults().paceBaud);
  const int64_t next = o.startUs + byteUs * static_cast<int64_t>(o.sent);
  const int64_t wait = next - tarvo::tools::MonotonicUs();
  return wait <= 0 ? 0 : wait;
}

// Reads what the signal pipe holds: false when asked to stop.
bool Emulator::TakeSignals() {
  char sig[16];
  const ssize_t n = read(signalPipe[0], sig, sizeof sig);
  for (ssize_t i = 0; i < n; ++i) {
    if (sig[i] == SIGINT || sig[i] == SIGTERM) return false;
  }
  if (signalledUsr1) {
    signalledUsr1 = 0;
    std::fprintf(stderr, "tarvo-emu: faults: %s\n%s",
                 tarvo::emu::DescribeFaults(session_->GetFaults()).c_str(),
                 session_->Serialize().c_str());
  }
  return true;
}

// Reads what the host sent and queues the answers. False when the line is
// down: EIO, the slave side is closed (the driver closes and re-opens after
// a silent printer), and a partial request dies with it.
bool Emulator::ReadLine(int lineFd) {
  char buffer[512];
  const ssize_t n = read(lineFd, buffer, sizeof buffer);
  if (n > 0) {
    lastByteMs_ = tarvo::tools::MonotonicMs();
    auto outcome = session_->Receive(std::string_view(buffer, static_cast<size_t>(n)), LocalNow());
    Log(outcome.log);
    ShowPaper(outcome.paper);
    if (outcome.stateChanged) SaveState();
    for (auto& t : outcome.out) {
      const int64_t now = tarvo::tools::MonotonicUs();
      int64_t start = now + static_cast<int64_t>(t.delayMs) * 1000;
      queue_.push_back({std::move(t.bytes), start, 0});
    }
  } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
    session_->ResetFraming();
    return false;
  }
  return true;
}

int Emulator::Run(int lineFd, int controlFd, int ackFd) {
  bool lineDown = false;
  for (;;) {
    pollfd fds[3] = {{signalPipe[0], POLLIN, 0}, {controlFd, POLLIN, 0}, {lineFd, POLLIN, 0}};
    short lineEvents = POLLIN;
    if (!queue_.empty() && PollTimeoutUs() == 0) lineEvents |= POLLOUT;
    fds[2].events = lineEvents;
    // While the driver has the line closed the master reports POLLHUP on
    // every poll; leave it out and look again in a moment.
    const nfds_t count = lineDown ? 2 : 3;
    int64_t timeout = PollTimeoutUs();
    if (lineDown && (timeout < 0 || timeout > 50000)) timeout = 50000;
    const timespec wait{static_cast<time_t>(timeout / 1000000),
                        static_cast<long>(timeout % 1000000) * 1000};
    const int r = ppoll(fds, count, timeout < 0 ? nullptr : &wait, nullptr);
    if (r < 0 && errno != EINTR) {
      std::perror("tarvo-emu: poll");
      return 1;
    }
    if (r > 0 && (fds[0].revents & POLLIN) && !TakeSignals()) return 0;
    // Fault commands first, on every turn and not only when the poll saw
    // them, so that a fault armed before a request was sent applies to that
    // request even when both arrived since the last poll.
    if (controlFd >= 0) Control(controlFd, ackFd);
    // A line that was down is tried again each time round.
    lineDown = !ReadLine(lineFd);
    if (session_->InFrame() && tarvo::tools::MonotonicMs() - lastByteMs_ > 1000) {
      session_->ResetFraming();
    }
    Flush(lineFd);
  }
}

int OpenPseudoTerminal(std::string* slavePath) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  const char* name = ptsname(master);
  if (name == nullptr) return -1;
  *slavePath = name;
  termios t;
  if (tcgetattr(master, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
  }
  return master;
}

int OpenDevice(const std::string& path, long baud) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  termios t;
  if (tcgetattr(fd, &t) != 0) {
    close(fd);
    return -1;
  }
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | PARENB | CLOCAL | CREAD;
  cfsetispeed(&t, BaudCode(baud));
  cfsetospeed(&t, BaudCode(baud));
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Takes one option that has a value: the status to exit with when it is
// refused, or -1.
int TakeValueOption(const std::string& a, const std::string& v, Options* options) {
  long long n = 0;
  if (a == "--device") options->device = v;
  if (a == "--path-file") options->pathFile = v;
  if (a == "--state") options->stateFile = v;
  if (a == "--paper") options->paperFile = v;
  if (a == "--control") options->controlPath = v;
  if (a == "--ack") options->ackPath = v;
  if (a == "--fault") options->faults.push_back(v);
  if (a == "--delay") options->faults.push_back("delay " + v);
  if (a == "--pace") options->faults.push_back("pace " + v);
  if (a == "--serial") {
    if (v.empty() || v.size() > 20 || v.find_first_of(" \"}\\;") != std::string::npos) {
      return Usage("--serial: 1 to 20 characters, no blank, quote, '}', '\\' or ';'");
    }
    options->serial = v;
  }
  if (a == "--ecf") {
    if (!tarvo::tools::ParseInteger(v, 0, 999999, &n)) return Usage("--ecf: a number 0 to 999999");
    options->ecf = n;
  }
  if (a == "--baud") {
    if (!tarvo::tools::ParseInteger(v, 1, 4000000, &n) || BaudCode(n) == B0) {
      return Usage("--baud: one of 1200 2400 4800 9600 19200 38400 57600 115200 230400");
    }
    options->baud = n;
  }
  return -1;
}

bool HasValue(const std::string& a) {
  return a == "--device" || a == "--path-file" || a == "--serial" || a == "--state" ||
         a == "--paper" || a == "--control" || a == "--ack" || a == "--fault" || a == "--baud" ||
         a == "--ecf" || a == "--delay" || a == "--pace";
}

// The options of the command line: the status to exit with at once (help
// shown, or an option refused), or -1 to go on.
int ParseOptions(const std::vector<std::string>& args, Options* options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--version") {
      std::puts("tarvo-emu " TARVO_VERSION_TEXT);
      return 0;
    } else if (a == "--quiet") {
      options->quiet = true;
    } else if (HasValue(a)) {
      if (i + 1 >= args.size()) return Usage("option " + a + " needs a value");
      if (const int status = TakeValueOption(a, args[++i], options); status >= 0) return status;
    } else {
      return Usage("unknown argument '" + a + "'");
    }
  }
  return -1;
}

// The printer as the state file left it, with the options' identity and
// faults on top: the status to exit with when that fails, or -1.
int PrepareSession(const Options& options, Session* session) {
  if (!options.stateFile.empty()) {
    std::ifstream in(options.stateFile, std::ios::binary);
    if (in) {
      std::stringstream text;
      text << in.rdbuf();
      std::string error;
      if (!session->Restore(text.str(), &error)) {
        std::fprintf(stderr, "tarvo-emu: %s: %s\n", options.stateFile.c_str(), error.c_str());
        return 1;
      }
    }
  }
  // Options override what the state file says.
  session->SetIdentity(options.serial, options.ecf);
  for (const auto& faultText : options.faults) {
    std::string error;
    if (!tarvo::emu::ApplyFaultCommand(faultText, &session->GetFaults(), &error)) {
      std::string message = "fault '";
      message += faultText;
      message += "': ";
      message += error;
      return Usage(message);
    }
  }
  return -1;
}

bool CatchSignals() {
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("tarvo-emu: pipe");
    return false;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGUSR1, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return true;
}

// The FIFO of --control or --ack (`option`), created when it does not exist
// (*created then says so). -1 and a message on failure.
int OpenFifo(const char* option, const std::string& path, bool* created) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISFIFO(st.st_mode)) {
      std::fprintf(stderr, "tarvo-emu: %s %s exists and is not a FIFO\n", option, path.c_str());
      return -1;
    }
  } else if (mkfifo(path.c_str(), 0600) != 0) {
    std::fprintf(stderr, "tarvo-emu: cannot create the FIFO %s: %s\n", path.c_str(),
                 std::strerror(errno));
    return -1;
  } else {
    *created = true;
  }
  // Read and write, so that the FIFO never reports end-of-file when a
  // writer closes it.
  const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "tarvo-emu: cannot open the FIFO %s: %s\n", path.c_str(),
                 std::strerror(errno));
  }
  return fd;
}

// The line the printer serves, its path announced once it is ready; -1 and
// a message on failure.
int OpenLine(const Options& options, Session& session) {
  std::string path = options.device;
  const int lineFd =
      options.device.empty() ? OpenPseudoTerminal(&path) : OpenDevice(options.device, options.baud);
  if (lineFd < 0) {
    std::fprintf(stderr, "tarvo-emu: cannot open %s: %s\n",
                 options.device.empty() ? "a pseudo-terminal" : options.device.c_str(),
                 std::strerror(errno));
    return -1;
  }
  if (!options.pathFile.empty() && !WriteFileAtomically(options.pathFile, path + "\n")) {
    std::fprintf(stderr, "tarvo-emu: cannot write %s: %s\n", options.pathFile.c_str(),
                 std::strerror(errno));
    return -1;
  }
  std::printf("%s\n", path.c_str());
  std::fflush(stdout);
  if (!options.quiet) {
    std::fprintf(stderr, "tarvo-emu: serving %s (NS %s, ECF %d); faults: %s\n", path.c_str(),
                 session.GetPrinter().State().serial.c_str(), session.GetPrinter().State().ecf,
                 tarvo::emu::DescribeFaults(session.GetFaults()).c_str());
  }
  return lineFd;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int status = ParseOptions({argv + 1, argv + argc}, &options); status >= 0) {
    return status;
  }
  Session session;
  if (const int status = PrepareSession(options, &session); status >= 0) return status;
  if (!CatchSignals()) return 1;

  int controlFd = -1;
  int ackFd = -1;
  bool createdFifo = false;
  bool createdAck = false;
  if (!options.controlPath.empty()) {
    controlFd = OpenFifo("--control", options.controlPath, &createdFifo);
    if (controlFd < 0) return 1;
  }
  if (!options.ackPath.empty()) {
    ackFd = OpenFifo("--ack", options.ackPath, &createdAck);
    if (ackFd < 0) return 1;
  }
  const int lineFd = OpenLine(options, session);
  if (lineFd < 0) return 1;

  // Paced bytes are due every few tens of microseconds: wake on time, not
  // up to the default 50 µs late.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  Emulator emulator(options, &session);
  const int status = emulator.Run(lineFd, controlFd, ackFd);
  close(lineFd);
  if (controlFd >= 0) close(controlFd);
  if (ackFd >= 0) close(ackFd);
  if (createdFifo) unlink(options.controlPath.c_str());
  if (createdAck) unlink(options.ackPath.c_str());
  if (!options.quiet) std::fprintf(stderr, "tarvo-emu: stopped\n");
  return status;
}
