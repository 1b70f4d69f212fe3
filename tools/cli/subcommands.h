// The tool's subcommands, which need no session: `tarvo trace ...`,
// `tarvo ports ...` and `tarvo why PORT`.
#pragma once

#include <string>
#include <vector>

#include "cli/why.h"

namespace tarvo::cli {

// Runs the subcommand that args[0] names and returns its exit status; -1
// when args[0] names none (the arguments are a printer command's). `open`
// opens a port through the driver (for `why`).
int RunSubcommand(const std::vector<std::string>& args, const PortOpener& open = nullptr);

}  // namespace tarvo::cli
