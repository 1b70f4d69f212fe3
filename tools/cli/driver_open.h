// Opening a port through the driver itself, for `tarvo why` and for the
// check before a session: the same IniciaDriver a host calls.
#pragma once

#include <string>

#include "cli/why.h"

namespace tarvo::cli {

// IniciaDriver(port), then EncerraDriver. The driver's own trace line (read
// back through the library's catalogue) gives the open's code; the trace
// goes to a private temporary log for that one call, whatever TARVO_TRACE
// says, and the variable is restored afterwards.
OpenAttempt OpenThroughDriver(const std::string& port);

}  // namespace tarvo::cli
