// A session of the command-line host: the port opened (or the facade
// started), each command run through the driver's exported calls, and what
// came of it printed.
#pragma once

#include <string>

#include "cli/cli.h"
#include "cli/script_stream.h"

namespace tarvo::cli {

// With --json every failure is also a JSON object on standard output.
extern bool jsonFailures;

// Prints a failure ("tarvo: ...") and returns `status`.
int Fail(const std::string& message, int status = 2);

// Runs options.commands (and, with "-f -", the rest of `stream`) in one
// session on `port`; returns the exit status.
int RunCommands(const Options& options, const std::string& port, ScriptStream* stream);

}  // namespace tarvo::cli
