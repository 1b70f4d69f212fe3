#include "cli/subcommands.h"

#include <cstdio>

#include "cli/ports.h"
#include "cli/trace_switch.h"
#include "cli/why.h"
#include "common/options.h"
#include "platform/host.h"

namespace tarvo::cli {

namespace {

// `tarvo why PORT [--json]`: whether IniciaDriver opens PORT now, and why
// not (the explanation the bindings give with their exception). Exit
// status 0 when it opens and no other process holds it, 3 when it does not
// open or another process holds it, 2 for bad arguments.
int ExplainPort(const std::vector<std::string>& args, const PortOpener& open) {
  constexpr tools::OptionEntry kOptions[] = {{0, "--json", 0, false}};
  const char* const usage = "usage: tarvo why PORT [--json]\n";
  tools::OptionParser parser(kOptions, args);
  tools::OptionParser::Item item;
  std::string port;
  std::string error;
  bool json = false;
  for (tools::OptionParser::Got got;
       (got = parser.Next(&item, &error)) != tools::OptionParser::Got::End;) {
    if (got == tools::OptionParser::Got::Option) {
      json = true;
    } else if (got == tools::OptionParser::Got::Word && port.empty() && !item.value.empty()) {
      port = item.value;
    } else {
      if (error.empty()) {
        error = port.empty() ? "an empty PORT" : "one PORT only, not also '" + item.value + "'";
      }
      std::fprintf(stderr, "tarvo why: %s\n%s", error.c_str(), usage);
      return 2;
    }
  }
  if (port.empty()) {
    std::fputs(usage, stderr);
    return 2;
  }
  const OpenDiagnosis d = DiagnoseOpen(port, "/proc", open);
  platform::Print(stdout, json ? DiagnosisJson(d) : DiagnosisLine(d) + "\n");
  return DiagnosisStatus(d);
}

}  // namespace

int RunSubcommand(const std::vector<std::string>& args, const PortOpener& open) {
  if (args.empty()) return -1;
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "ports") return RunPorts(rest);
  if (args[0] == "why") return ExplainPort(rest, open);
  if (args[0] != "trace") return -1;
  std::string out;
  const int status = RunTraceSwitch(rest, &out);
  platform::Print(status == 2 ? stderr : stdout, out);
  return status;
}

}  // namespace tarvo::cli
