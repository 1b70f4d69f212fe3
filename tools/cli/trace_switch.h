// `tarvo trace on|off|status [--level N]`: the one switch for the trace
// configuration files of the current directory (TARVO.cfg for the start-up,
// TV_*.cfg for each printer), and what TARVO_TRACE does to them.
#pragma once

#include <string>
#include <vector>

namespace tarvo::cli {

// What the library makes of a configuration file's text.
struct TraceConfigView {
  int level = 0;        // 0 off
  long size = 5000000;  // where the log wraps
  std::string problem;  // why a text that looks switched on leaves tracing off
};
TraceConfigView ReadTraceConfig(const std::string& text);

// The new text of a configuration file: the level, and the size it had.
std::string SwitchedConfig(const std::string& old, int level);

// argv after "trace"; the current directory holds the files. Returns the
// exit status; the report goes to `out`.
int RunTraceSwitch(const std::vector<std::string>& args, std::string* out);

// The configuration files (*.cfg) of the current directory.
std::vector<std::string> ConfigFilesHere();

// After a start-up that was not asked to trace: removes the configuration
// files that were not in `before` and leave tracing off (the library made
// them), and returns a note that names those left, which trace, and their
// logs ("" when none is left).
std::string RemoveNewConfigFiles(const std::vector<std::string>& before);

}  // namespace tarvo::cli
