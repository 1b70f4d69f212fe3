#include "cli/subcommands.h"

#include <cstdio>

#include "cli/ports.h"
#include "cli/trace_switch.h"
#include "cli/why.h"

namespace tarvo::cli {

namespace {

// `tarvo why PORT [--json]`: why IniciaDriver would refuse PORT now (the
// explanation the bindings give with their exception).
int ExplainPort(const std::vector<std::string>& args) {
  std::string port;
  bool json = false;
  for (const auto& a : args) {
    if (a == "--json") {
      json = true;
    } else if (port.empty() && !a.empty() && a[0] != '-') {
      port = a;
    } else {
      std::fputs("usage: tarvo why PORT [--json]\n", stderr);
      return 2;
    }
  }
  if (port.empty()) {
    std::fputs("usage: tarvo why PORT [--json]\n", stderr);
    return 2;
  }
  const OpenDiagnosis d = DiagnoseOpen(port);
  std::fputs(json ? DiagnosisJson(d).c_str() : (DiagnosisLine(d) + "\n").c_str(), stdout);
  return 0;
}

}  // namespace

int RunSubcommand(const std::vector<std::string>& args) {
  if (args.empty()) return -1;
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "ports") return RunPorts(rest);
  if (args[0] == "why") return ExplainPort(rest);
  if (args[0] != "trace") return -1;
  std::string out;
  const int status = RunTraceSwitch(rest, &out);
  std::fputs(out.c_str(), status == 2 ? stderr : stdout);
  return status;
}

}  // namespace tarvo::cli
