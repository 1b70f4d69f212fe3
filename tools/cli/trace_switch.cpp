#include "cli/trace_switch.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "common/options.h"
#include "common/safe_file.h"
#include "platform/host.h"
#include "trace/cfg_parse.h"
#include "trace/trace_env.h"

namespace tarvo::cli {

namespace {

std::vector<std::string> ConfigFiles() {
  std::vector<std::string> names = {"TARVO.cfg"};
  for (const auto& n : platform::DirectoryNames(".")) {
    if (n.size() > 7 && n.rfind("TV_", 0) == 0 && n.ends_with(".cfg")) names.push_back(n);
  }
  return names;
}

bool ReadFileText(const std::string& path, std::string* text) {
  std::string error;
  return tools::ReadRegularFile(path, text, &error);
}

std::string LogOf(const std::string& cfg) { return cfg.substr(0, cfg.size() - 4) + ".txt"; }

std::string LogState(const std::string& log) {
  std::error_code e;
  const auto size = std::filesystem::file_size(platform::FilePath(log), e);
  if (e) return log + " (not written yet)";
  return log + " (" + std::to_string(size) + " bytes)";
}

// Anything in the name's place, a link to nothing included.
bool Present(const std::string& path) {
  std::error_code e;
  return std::filesystem::symlink_status(platform::FilePath(path), e).type() !=
             std::filesystem::file_type::not_found &&
         !e;
}

}  // namespace

TraceConfigView ReadTraceConfig(const std::string& whole) {
  const TraceConfigText c = ParseTraceConfig(whole.data(), whole.size());
  TraceConfigView v;
  v.level = c.level;
  v.size = c.size;
  if (!c.sixthIsEquals) {
    const std::string text = whole.substr(0, std::min(whole.size(), kTraceConfigBytes));
    if (text.find('=') != std::string::npos) {
      v.problem =
          "the sixth character is not '=' (\"Trace = 1\" with blanks leaves tracing "
          "off): write Trace=1 with no blanks";
    }
  } else if (c.levelFromSize) {
    v.problem = "no digit after 'Trace=': the level is taken from the size's first digit, " +
                std::to_string(v.level);
  }
  return v;
}

std::string SwitchedConfig(const std::string& old, int level) {
  const long size = ReadTraceConfig(old).size;
  return "Trace=" + std::to_string(level) + "\nTamanho=" + std::to_string(size);
}

namespace {

std::string EnvironmentReport() {
  const char* value = std::getenv(kTraceEnvName);
  TraceEnvSetting setting;
  switch (ParseTraceEnv(value, &setting)) {
    case TraceEnvResult::On:
      return std::string("TARVO_TRACE=") + value + " overrides these files: every host traces at " +
             "level " + std::to_string(setting.level) + " into " + setting.base +
             ".txt, and the files are neither read nor created\n";
    case TraceEnvResult::Malformed:
      return std::string("TARVO_TRACE='") + value +
             "' is malformed and ignored (LEVEL or LEVEL:BASENAME, LEVEL one digit, BASENAME "
             "up to 47 characters)\n";
    case TraceEnvResult::Unset: break;
  }
  return "TARVO_TRACE is not set: hosts that use only the driver calls (not FC_Inicializa) "
         "trace only with it\n";
}

std::string FileReport(const std::string& cfg) {
  std::string text;
  const std::string role = cfg == "TARVO.cfg" ? "start-up" : "printer";
  std::string error;
  if (!tools::ReadRegularFile(cfg, &text, &error)) {
    if (!Present(cfg)) return cfg + ": missing (the start-up creates it with tracing off)\n";
    return cfg + ": " + error + " (the library refuses it too: tracing stays off)\n";
  }
  const TraceConfigView v = ReadTraceConfig(text);
  std::string line =
      cfg + " (" + role + "): " +
      (v.level == 0
           ? std::string("off")
           : "on, level " + std::to_string(v.level) + (v.level == 1 ? " (verbose)" : "") +
                 ", wraps at " + std::to_string(v.size) + " bytes, log " + LogState(LogOf(cfg))) +
      "\n";
  if (!v.problem.empty()) line += "  " + v.problem + "\n";
  return line;
}

int Switch(int level, std::string* out) {
  const std::vector<std::string> files = ConfigFiles();
  for (const auto& cfg : files) {
    std::string old;
    const bool exists = ReadFileText(cfg, &old);
    if (!exists && level == 0 && !Present(cfg)) continue;
    std::string error;
    if (!tools::WriteRegularFile(cfg, SwitchedConfig(old, level), &error)) {
      *out += "tarvo trace: " + error + "\n";
      return 1;
    }
  }
  if (level == 0) {
    *out += "tracing off in every configuration file here\n";
    return 0;
  }
  *out += "tracing on at level " + std::to_string(level) + "; the logs:\n";
  *out += "  TARVO.txt: the start-up (FC_Inicializa) until the printer is identified\n";
  for (size_t i = 1; i < files.size(); ++i) {
    *out += "  " + LogOf(files[i]) + ": everything after the start-up on that printer\n";
  }
  if (files.size() == 1) {
    *out +=
        "  no printer file yet: the first start-up creates TV_<serial>_<ecf>.cfg with "
        "tracing off; run 'tarvo trace on' again after it\n";
  }
  return 0;
}

}  // namespace

std::vector<std::string> ConfigFilesHere() {
  std::vector<std::string> names = platform::DirectoryNames(".");
  std::erase_if(names, [](const std::string& n) { return n.size() <= 4 || !n.ends_with(".cfg"); });
  return names;
}

// A start-up creates the printer's configuration file with tracing off.
// When `tarvo trace on` switched TARVO.cfg on, the printer's new file takes
// the same level, so that its log is written from the next start-up on;
// otherwise the file goes again.
std::string RemoveNewConfigFiles(const std::vector<std::string>& before) {
  std::string note;
  std::string startUp;
  const int level = ReadFileText("TARVO.cfg", &startUp) ? ReadTraceConfig(startUp).level : 0;
  for (const auto& cfg : ConfigFilesHere()) {
    if (std::find(before.begin(), before.end(), cfg) != before.end()) continue;
    std::string text;
    std::string error;
    if (!ReadFileText(cfg, &text)) continue;
    if (ReadTraceConfig(text).level == 0 && level == 0) {
      tools::RemoveRegularFile(cfg);
    } else if (ReadTraceConfig(text).level == 0 &&
               tools::WriteRegularFile(cfg, SwitchedConfig(text, level), &error)) {
      note += (note.empty() ? "" : "; ") + cfg + " switched on at level " + std::to_string(level) +
              " like TARVO.cfg (its log " + LogOf(cfg) + " starts at the next start-up)";
    } else {
      note += (note.empty() ? "" : "; ") + cfg + " (tracing into " + LogOf(cfg) + ")";
    }
  }
  if (level != 0) {
    note += (note.empty() ? "" : "; ") + std::string("TARVO.txt (TARVO.cfg switches the trace on)");
  }
  return note.empty() ? note : "trace files: " + note;
}

namespace {

constexpr char kTraceUsage[] = "usage: tarvo trace on [--level N] | off | status\n";

// `tarvo trace on [--level N] | off | status`: the word and the level (1
// unless --level says otherwise), or false with the message in `out`.
bool ParseTraceArguments(const std::vector<std::string>& args, std::string* word, int* level,
                         std::string* out) {
  constexpr tools::OptionEntry kOptions[] = {{0, "--level", 0, true}};
  tools::OptionParser parser(kOptions, args);
  tools::OptionParser::Item item;
  std::string error;
  std::string levelText;
  bool levelGiven = false;
  for (tools::OptionParser::Got got;
       (got = parser.Next(&item, &error)) != tools::OptionParser::Got::End;) {
    if (got == tools::OptionParser::Got::Option) {
      levelText = item.value;
      levelGiven = true;
    } else if (got == tools::OptionParser::Got::Word && word->empty()) {
      *word = item.value;
    } else {
      if (error.empty()) error = "unknown argument '" + item.value + "'";
      *out = "tarvo trace: " + error + "\n" + kTraceUsage;
      return false;
    }
  }
  if (levelGiven) {
    const std::string& v = levelText;
    if (*word != "on" || v.size() != 1 || v[0] < '1' || v[0] > '9') {
      *out =
          "tarvo trace: --level takes one digit 1 to 9 (1 adds frames and BREAK attempts), "
          "with 'on' only\n" +
          std::string(kTraceUsage);
      return false;
    }
    *level = v[0] - '0';
  }
  return true;
}

}  // namespace

int RunTraceSwitch(const std::vector<std::string>& args, std::string* out) {
  std::string word;
  int level = 1;
  if (!ParseTraceArguments(args, &word, &level, out)) return 2;
  if (word.empty()) {
    *out = kTraceUsage;
    return 2;
  }
  int status = 0;
  if (word == "on" || word == "off") {
    status = Switch(word == "on" ? level : 0, out);
  } else if (word != "status") {
    *out = kTraceUsage;
    return 2;
  } else {
    for (const auto& cfg : ConfigFiles()) *out += FileReport(cfg);
  }
  *out += EnvironmentReport();
  return status;
}

}  // namespace tarvo::cli
