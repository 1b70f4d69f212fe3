// The emulator's command line; see options.h.
#include "emulator/options.h"

#include <cstdio>

#include "common/numbers.h"
#include "platform/platform.h"
#include "tarvo_version.h"

namespace tarvo::emu {

int Usage(const std::string& message) {
  std::fprintf(stderr, "tarvo-emu: %s\nTry 'tarvo-emu --help' for more information.\n",
               message.c_str());
  return 2;
}

bool SplitHostPort(const std::string& text, std::string* host, unsigned* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  *host = text.substr(0, colon);
  if (host->front() == '[') {
    if (host->size() < 3 || host->back() != ']') return false;
    *host = host->substr(1, host->size() - 2);
  } else if (host->find(':') != std::string::npos) {
    return false;
  }
  long long n = 0;
  if (!tools::ParseInteger(text.substr(colon + 1), 0, 65535, &n)) return false;
  *port = static_cast<unsigned>(n);
  return true;
}

namespace {

int TakeNumbers(const std::string& a, const std::string& v, Options* options) {
  long long n = 0;
  if (a == "--ecf") {
    if (!tools::ParseInteger(v, 0, 999999, &n)) return Usage("--ecf: a number 0 to 999999");
    options->ecf = static_cast<long>(n);
  }
  if (a == "--baud") {
    if (!tools::ParseInteger(v, 1, 4000000, &n) || !platform::ValidBaud(static_cast<long>(n))) {
      return Usage("--baud: one of 1200 2400 4800 9600 19200 38400 57600 115200 230400");
    }
    options->baud = static_cast<long>(n);
  }
  if (a == "--listen") {
    if (!SplitHostPort(v, &options->listenHost, &options->listenPort)) {
      return Usage("--listen: HOST:PORT, e.g. 127.0.0.1:0 (0: a free port)");
    }
    options->listen = v;
  }
  return -1;
}

// Takes one option that has a value: the status to exit with when it is
// refused, or -1.
int TakeValueOption(const std::string& a, const std::string& v, Options* options) {
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
  return TakeNumbers(a, v, options);
}

bool HasValue(const std::string& a) {
  for (const char* name :
       {"--device", "--path-file", "--serial", "--state", "--paper", "--control", "--ack",
        "--fault", "--baud", "--ecf", "--delay", "--pace", "--listen"}) {
    if (a == name) return true;
  }
  return false;
}

}  // namespace

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
  if (!options->listen.empty() && !options->device.empty()) {
    return Usage("--listen and --device: one line at a time");
  }
  return -1;
}

}  // namespace tarvo::emu
