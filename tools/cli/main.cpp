// tarvo: runs printer commands through the driver library's exported calls
// (include/tarvo.h) and prints what the printer answered.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/driver_open.h"
#include "cli/script_stream.h"
#include "cli/session_run.h"
#include "cli/subcommands.h"
#include "cli/trace_switch.h"
#include "cli/wait_notice.h"
#include "cli/why.h"
#include "common/escape.h"
#include "platform/host.h"
#include "report/report.h"
#include "tarvo.h"
#include "tarvo_version.h"
#include "trace/trace_env.h"

namespace {

using tarvo::cli::CommandSpec;
using tarvo::cli::Fail;
using tarvo::cli::Options;

bool ReadAll(const std::string& path, std::string* out) {
  if (path == "-") return tarvo::platform::ReadInput(out);
  std::ifstream in(tarvo::platform::FilePath(path), std::ios::binary);
  if (!in) return false;
  std::stringstream s;
  s << in.rdbuf();
  *out = s.str();
  return true;
}

std::vector<std::string> FilesEndingWith(const std::string& dir, const std::string& suffix) {
  std::vector<std::string> names = tarvo::platform::DirectoryNames(dir);
  std::erase_if(names, [&](const std::string& n) {
    return n.size() <= suffix.size() || !n.ends_with(suffix);
  });
  return names;
}

void ShowTrace(const std::string& dir) {
  // The start-up's log first, then the per-printer logs.
  auto names = FilesEndingWith(dir, ".txt");
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return (a == "TARVO.txt") != (b == "TARVO.txt") ? a == "TARVO.txt" : a < b;
  });
  for (const auto& name : names) {
    std::string content;
    std::string path = dir;
    path += '/';
    path += name;
    if (!ReadAll(path, &content)) continue;
    // The log holds the printer's bytes: on a terminal its control
    // characters are escaped, a pipe or a file gets the log unchanged.
    if (tarvo::platform::IsTerminal(stderr)) {
      content = tarvo::tools::Escape(content, tarvo::tools::EscapeStyle::TerminalRaw);
    }
    std::fprintf(stderr, "==> %s/%s <==\n%s", dir.c_str(), name.c_str(), content.c_str());
    if (!content.empty() && content.back() != '\n') std::fputc('\n', stderr);
  }
}

void RemoveTree(const std::string& dir) {
  std::error_code ignored;
  std::filesystem::remove_all(tarvo::platform::FilePath(dir), ignored);
}

std::string Absolute(const std::string& path) {
  std::error_code e;
  const std::filesystem::path whole = std::filesystem::absolute(tarvo::platform::FilePath(path), e);
  return path.empty() || e ? path : tarvo::platform::FileNameText(whole);
}

}  // namespace

namespace {

// Where the trace goes with --trace: a directory that becomes the current
// one, and TARVO_TRACE=1 so that the library traces the user's own commands
// there, verbose, into TARVO.txt; no start-up runs before them.
struct TraceDir {
  std::string path;
  bool remove = false;
};

int EnterTraceDir(const Options& options, std::string* port, TraceDir* t) {
  // Relative paths must survive the change of directory.
  if (const char* reg = std::getenv("TARVO_REGISTRY")) {
    tarvo::platform::SetEnvironment("TARVO_REGISTRY", Absolute(reg));
  }
  if (!port->empty() && port->find('/') != std::string::npos) *port = Absolute(*port);
  std::error_code e;
  if (options.traceDir.empty()) {
    t->path = tarvo::platform::MakeTemporaryDirectory("tarvo-trace.");
    if (t->path.empty()) return Fail("cannot create a temporary directory");
    t->remove = true;
  } else {
    t->path = Absolute(options.traceDir);
    // The logs hold the printer's bytes: a directory made here is the user's own.
    if (std::filesystem::create_directory(t->path, e)) {
      std::filesystem::permissions(t->path, std::filesystem::perms::owner_all, e);
    }
    if (e) return Fail("cannot create " + t->path + ": " + e.message());
  }
  std::filesystem::current_path(t->path, e);
  if (e) return Fail("cannot enter " + t->path + ": " + e.message());
  tarvo::platform::SetEnvironment("TARVO_TRACE", "1");
  return 0;
}

void LeaveTraceDir(const TraceDir& t) {
  if (t.path.empty()) return;
  ShowTrace(t.path);
  if (t.remove) RemoveTree(t.path);
}

// Reads the commands of -f FILE whole, so that a mistake on any line stops
// the script before it starts; "-f -" reads only the first command here and
// the rest as they come.
int LoadCommands(Options* options, tarvo::cli::ScriptStream* stream) {
  std::string error;
  if (options->scriptFile == "-") {
    CommandSpec first;
    switch (stream->Next(&first, &error)) {
      case tarvo::cli::ScriptStream::Got::Command: options->commands.push_back(first); return 0;
      case tarvo::cli::ScriptStream::Got::End: return Fail("-: the script holds no command");
      case tarvo::cli::ScriptStream::Got::Error: return Fail("-: " + error);
    }
  }
  if (!options->scriptFile.empty()) {
    std::string text;
    if (!ReadAll(options->scriptFile, &text)) {
      return Fail("cannot read " + options->scriptFile + ": " + std::strerror(errno));
    }
    if (!tarvo::cli::ParseScript(text, &options->commands, &error)) {
      return Fail(options->scriptFile + ": " + error);
    }
  }
  if (!options->raw && !tarvo::cli::ConvertToCp1252(&options->commands, &error)) {
    return Fail(error);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // "tarvo report LOG..." reads logs and needs no port: its own options.
  const std::vector<std::string> args = tarvo::platform::Arguments(argc, argv);
  if (!args.empty() && args[0] == "report") {
    return tarvo::report::RunReport(std::vector<std::string>(args.begin() + 1, args.end()));
  }
  const int sub = tarvo::cli::RunSubcommand(args, tarvo::cli::OpenThroughDriver);
  if (sub >= 0) return sub;
  Options options;
  std::string error;
  tarvo::cli::jsonFailures = std::find(args.begin(), args.end(), "--json") != args.end();
  const char* envPort = std::getenv("TARVO_PORT");
  switch (tarvo::cli::ParseArguments(args, envPort ? envPort : "", &options, &error)) {
    case tarvo::cli::ParseResult::Help: std::fputs(tarvo::cli::kUsage, stdout); return 0;
    case tarvo::cli::ParseResult::Version: std::puts("tarvo " TARVO_VERSION_TEXT); return 0;
    case tarvo::cli::ParseResult::Error:
      Fail(error);
      std::fputs("Try 'tarvo --help' for more information.\n", stderr);
      return 2;
    case tarvo::cli::ParseResult::Run: break;
  }
  tarvo::TraceEnvSetting env;
  const char* traceEnv = std::getenv(tarvo::kTraceEnvName);
  if (!options.trace && tarvo::ParseTraceEnv(traceEnv, &env) == tarvo::TraceEnvResult::Malformed) {
    std::fprintf(stderr,
                 "tarvo: TARVO_TRACE='%s' is malformed and ignored (LEVEL or LEVEL:BASENAME)\n",
                 traceEnv);
  }
  tarvo::cli::ScriptStream stream(stdin, options.raw);
  if (const int failed = LoadCommands(&options, &stream)) return failed;
  // A port name is a file name: passed as it is, never converted.
  std::string port = options.port;
  TraceDir trace;
  if (options.trace) {
    if (const int failed = EnterTraceDir(options, &port, &trace)) return failed;
  }
  const int status = tarvo::cli::RunCommands(options, port, &stream);
  LeaveTraceDir(trace);
  return status;
}
