// The emulator's command line; see options.h.
#include "emulator/options.h"

#include <cstdio>

#include "common/numbers.h"
#include "common/options.h"
#include "platform/platform.h"
#include "tarvo_version.h"

namespace tarvo::emu {

int Usage(const std::string& message) { return tools::UsageError("tarvo-emu", message); }

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

enum Opt { kHelp, kVersion, kQuiet, kValue };

// Every option with a value is told apart by its name (TakeValueOption).
constexpr tools::OptionEntry kOptions[] = {
    {kHelp, "--help", 'h', false},    {kVersion, "--version", 0, false},
    {kQuiet, "--quiet", 0, false},    {kValue, "--device", 0, true},
    {kValue, "--path-file", 0, true}, {kValue, "--serial", 0, true},
    {kValue, "--state", 0, true},     {kValue, "--paper", 0, true},
    {kValue, "--control", 0, true},   {kValue, "--ack", 0, true},
    {kValue, "--fault", 0, true},     {kValue, "--baud", 0, true},
    {kValue, "--ecf", 0, true},       {kValue, "--delay", 0, true},
    {kValue, "--pace", 0, true},      {kValue, "--listen", 0, true},
};

// One option: the status to exit with at once, or -1 to go on.
int TakeOption(const tools::OptionParser::Item& item, Options* options) {
  switch (item.id) {
    case kHelp: std::fputs(kUsage, stdout); return 0;
    case kVersion: std::puts("tarvo-emu " TARVO_VERSION_TEXT); return 0;
    case kQuiet: options->quiet = true; return -1;
    default: return TakeValueOption(item.spelling, item.value, options);
  }
}

}  // namespace

int ParseOptions(const std::vector<std::string>& args, Options* options) {
  tools::OptionParser parser(kOptions, args);
  tools::OptionParser::Item item;
  std::string error;
  for (;;) {
    const tools::OptionParser::Got got = parser.Next(&item, &error);
    if (got == tools::OptionParser::Got::End) break;
    if (got == tools::OptionParser::Got::Error) return Usage(error);
    if (got == tools::OptionParser::Got::Word)
      return Usage("unknown argument '" + item.value + "'");
    if (const int status = TakeOption(item, options); status >= 0) return status;
  }
  if (!options->listen.empty() && !options->device.empty()) {
    return Usage("--listen and --device: one line at a time");
  }
  return -1;
}

}  // namespace tarvo::emu
