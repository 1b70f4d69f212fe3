// tarvo report [--json] [-o FILE] [--] LOG...
//
// Reads trace logs, decodes their exchanges, writes the page and prints a
// summary (or JSON). Kept apart from the command host's own options: the
// host hands its arguments over when the first one is "report".
#pragma once

#include <string>
#include <vector>

namespace tarvo::report {

extern const char kReportUsage[];

// args: the words after "report". Returns the exit status: 0 when the
// report was made, 2 for bad arguments, a log that can't be read or is not a
// trace log, or a page that can't be written.
int RunReport(const std::vector<std::string>& args);

}  // namespace tarvo::report
