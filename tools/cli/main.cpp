// tarvo: runs printer commands through the driver library's exported calls
// (include/tarvo.h) and prints what the printer answered.
#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/script_stream.h"
#include "cli/subcommands.h"
#include "cli/trace_switch.h"
#include "cli/wait_notice.h"
#include "cli/why.h"
#include "common/escape.h"
#include "report/report.h"
#include "tarvo.h"
#include "tarvo_version.h"
#include "trace/trace_env.h"

namespace {

using tarvo::cli::CommandSpec;
using tarvo::cli::Options;
using tarvo::cli::Outcome;

// With --json every failure is also a JSON object on standard output.
bool jsonFailures = false;

int Fail(const std::string& message, int status = 2) {
  std::fprintf(stderr, "tarvo: %s\n", message.c_str());
  if (jsonFailures) {
    std::printf("{\"ok\":false,\"status\":%d,\"error\":%s}\n", status,
                tarvo::cli::JsonString(message).c_str());
  }
  return status;
}

// Why IniciaDriver refused the port, in one line (and one JSON object).
int ExplainOpenFailure(const std::string& port) {
  const tarvo::cli::OpenDiagnosis d = tarvo::cli::DiagnoseOpen(port);
  std::fprintf(stderr, "tarvo: %s\n", tarvo::cli::DiagnosisLine(d).c_str());
  if (jsonFailures) std::fputs(tarvo::cli::DiagnosisJson(d).c_str(), stdout);
  return 3;
}

bool ReadAll(const std::string& path, std::string* out) {
  if (path == "-") {
    std::stringstream s;
    s << std::cin.rdbuf();
    *out = s.str();
    return !std::cin.bad();
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream s;
  s << in.rdbuf();
  *out = s.str();
  return true;
}

std::vector<std::string> FilesEndingWith(const std::string& dir, const std::string& suffix) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n.size() > suffix.size() &&
          n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0) {
        names.push_back(n);
      }
    }
    closedir(d);
  }
  return names;
}

void ReadError(int handle, Outcome* o) {
  char name[TARVO_ERROR_NAME_SIZE] = "";
  char circumstance[TARVO_CIRCUMSTANCE_SIZE] = "";
  ObtemNomeErro(handle, name, 0);
  ObtemCircunstancia(handle, circumstance, 0);
  o->name = name;
  o->circumstance = circumstance;
}

// Reads one value of the facade's answer text "\"value\"".
std::string Unquote(const char* text, int length) {
  if (length < 2) return "";
  return std::string(text + 1, static_cast<size_t>(length - 2));
}

Outcome Identify(int startResult) {
  Outcome o;
  o.command = "identify";
  o.result = startResult;
  o.code = startResult;
  if (startResult != 0) {
    // The failed start-up closed the session again; with no session open
    // the handle -1 is the driver's, and reads what it left.
    ReadError(-1, &o);
    if (startResult == TARVO_BAD_CHANNEL) {
      o.name.clear();
      o.circumstance = "the port could not be opened, or no printer answered";
    }
    return o;
  }
  o.name = "OK";
  const struct Read {
    const char* command;
    const char* param;
    const char* value;
    const char* shown;
  } reads[] = {{"LeTexto", "NomeTexto", "NumeroSerieECF", "NumeroSerieECF"},
               {"LeInteiro", "NomeInteiro", "ECF", "ECF"}};
  for (const auto& r : reads) {
    static FcCommand cmd;
    std::memset(&cmd, 0, sizeof cmd);
    std::snprintf(cmd.command, sizeof cmd.command, "%s", r.command);
    std::snprintf(cmd.returnNames, sizeof cmd.returnNames, "%s",
                  std::strcmp(r.command, "LeTexto") == 0 ? "ValorTexto" : "ValorInteiro");
    std::snprintf(cmd.params[0].name, sizeof cmd.params[0].name, "%s", r.param);
    std::snprintf(cmd.params[0].value, sizeof cmd.params[0].value, "%s", r.value);
    cmd.params[0].type = TARVO_TYPE_QUOTED;
    static char text[TARVO_FC_TEXT_SIZE];
    int length = 0;
    const int code = FC_Operacao(1, &cmd, &length, text);
    if (code != 0) {
      o.code = code;
      ReadError(1, &o);
      return o;
    }
    o.values.emplace_back(r.shown, Unquote(text, length));
  }
  return o;
}

Outcome Run(int handle, const CommandSpec& step, int timeoutMs, std::string* problem) {
  Outcome o;
  o.command = step.command;
  if (timeoutMs > 0) DefineTimeout(handle, timeoutMs);
  LimpaParams(handle);
  for (const auto& p : step.params) {
    const int r = AdicionaParam(handle, p.name.c_str(), p.value.c_str(), p.type);
    if (r == TARVO_TOO_LONG) {
      *problem = step.command + ": the parameters are longer than " +
                 std::to_string(TARVO_MAX_PARAMS) + " characters";
      return o;
    }
  }
  o.result = ExecutaComando(handle, step.command.c_str());
  if (o.result == TARVO_TOO_LONG) {
    *problem = "command name longer than " + std::to_string(TARVO_MAX_COMMAND) + " characters";
    return o;
  }
  o.code = ObtemCodErro(handle);
  ReadError(handle, &o);
  if (o.result == 1 && o.code == 0) {
    static char value[TARVO_VALUE_SIZE];
    for (const auto& name : step.returns) {
      value[0] = '\0';
      const int n = Retorno(handle, 0, name.c_str(), 0, value, 0);
      // A short date leaves zero bytes inside the count: keep the text.
      const size_t length = n > 0 ? strnlen(value, static_cast<size_t>(n)) : 0;
      o.values.emplace_back(name, std::string(value, length));
      // Retorno gives 0 for a name it can't find and for an empty value alike.
      if (n == 0) o.missing.push_back(name);
    }
  }
  return o;
}

void Print(const Options& options, const Outcome& o, bool first) {
  std::string text;
  if (options.json) {
    text = tarvo::cli::FormatJson(o);
  } else if (options.quiet) {
    text = tarvo::cli::FormatQuiet(o, options.raw, isatty(STDOUT_FILENO) == 1);
    if (tarvo::cli::ExitStatusOf(o) != 0 && o.missing.empty()) {
      std::fprintf(stderr, "tarvo: %s: %d %s%s%s\n", o.command.c_str(), o.code, o.name.c_str(),
                   o.circumstance.empty() ? "" : ": ", o.circumstance.c_str());
    }
  } else {
    text = (first ? "" : "\n") + tarvo::cli::FormatPlain(o, options.raw);
  }
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  for (const auto& name : o.missing) {
    std::fprintf(stderr, "tarvo: %s: the answer has no value %s (or it is empty)\n",
                 o.command.c_str(), name.c_str());
  }
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
    if (isatty(STDERR_FILENO) == 1) {
      content = tarvo::tools::Escape(content, tarvo::tools::EscapeStyle::TerminalRaw);
    }
    std::fprintf(stderr, "==> %s/%s <==\n%s", dir.c_str(), name.c_str(), content.c_str());
    if (!content.empty() && content.back() != '\n') std::fputc('\n', stderr);
  }
}

void RemoveTree(const std::string& dir) {
  for (const auto& name : FilesEndingWith(dir, "")) {
    if (name == "." || name == "..") continue;
    std::string path = dir;
    path += '/';
    path += name;
    unlink(path.c_str());
  }
  rmdir(dir.c_str());
}

std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return path;
  return std::string(cwd) + "/" + path;
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
    setenv("TARVO_REGISTRY", Absolute(reg).c_str(), 1);
  }
  if (!port->empty() && port->find('/') != std::string::npos) *port = Absolute(*port);
  if (options.traceDir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarvo-trace.XXXXXX";
    std::vector<char> buffer(templ.begin(), templ.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
      return Fail(std::string("cannot create a temporary directory: ") + std::strerror(errno));
    }
    t->path = buffer.data();
    t->remove = true;
  } else {
    t->path = Absolute(options.traceDir);
    if (mkdir(t->path.c_str(), 0700) != 0 && errno != EEXIST) {
      return Fail("cannot create " + t->path + ": " + std::strerror(errno));
    }
  }
  if (chdir(t->path.c_str()) != 0)
    return Fail("cannot enter " + t->path + ": " + std::strerror(errno));
  setenv("TARVO_TRACE", "1", 1);
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

// The facade start-up for "identify". It leaves no configuration files
// behind unless the trace was asked for, or says which it kept.
int StartIdentified(const Options& options, const std::string& port, int* status) {
  tarvo::TraceEnvSetting env;
  const bool traceEnv =
      tarvo::ParseTraceEnv(std::getenv(tarvo::kTraceEnvName), &env) == tarvo::TraceEnvResult::On;
  const bool cleanUp = !options.trace && !traceEnv;
  const std::vector<std::string> before = tarvo::cli::ConfigFilesHere();
  int r = 0;
  {
    tarvo::cli::WaitNotice notice("identify " + port);
    r = FC_Inicializa(port.c_str());
  }
  Outcome o = Identify(r);
  const bool scan = port.size() >= 4 && (port[3] == 'U' || port[3] == 'u');
  if (r == TARVO_BAD_CHANNEL && !scan) {
    o.circumstance = tarvo::cli::DiagnosisLine(tarvo::cli::DiagnoseOpen(port));
  }
  Print(options, o, true);
  *status = tarvo::cli::ExitStatusOf(o);
  if (r != 0) FC_Finaliza();
  if (traceEnv && !options.trace) {
    std::fprintf(stderr, "tarvo: trace file: %s.txt (TARVO_TRACE)\n", env.base);
  }
  if (cleanUp) {
    const std::string note = tarvo::cli::RemoveNewConfigFiles(before);
    if (!note.empty()) std::fprintf(stderr, "tarvo: %s\n", note.c_str());
  }
  return r;
}

// Runs one command; false when the script must stop.
bool RunStep(const Options& options, int handle, const CommandSpec& step, bool* first,
             int* status) {
  if (step.command == "identify") return true;
  std::string problem;
  Outcome o;
  {
    tarvo::cli::WaitNotice notice(step.command);
    o = Run(handle, step, options.timeoutMs, &problem);
  }
  // cppcheck does not follow Run's writing through the pointer.
  // cppcheck-suppress knownConditionTrueFalse
  if (!problem.empty()) {
    Fail((step.line ? "line " + std::to_string(step.line) + ": " : std::string()) + problem);
    *status = 2;
    return false;
  }
  Print(options, o, *first);
  *first = false;
  const int s = tarvo::cli::ExitStatusOf(o);
  if (s > *status) *status = s;
  return s == 0 || options.keepGoing;
}

int RunCommands(const Options& options, const std::string& port, tarvo::cli::ScriptStream* stream) {
  const bool facade = options.commands.front().command == "identify";
  int status = 0;
  bool first = true;
  int handle = 1;
  if (facade) {
    if (StartIdentified(options, port, &status) != 0) return status;
    first = false;
  } else {
    handle = IniciaDriver(port.c_str());
    if (handle != TARVO_OK_HANDLE) return ExplainOpenFailure(port);
  }
  bool going = true;
  for (const auto& step : options.commands) {
    if (!(going = RunStep(options, handle, step, &first, &status))) break;
  }
  CommandSpec next;
  std::string error;
  while (going && options.scriptFile == "-") {
    const auto got = stream->Next(&next, &error);
    if (got == tarvo::cli::ScriptStream::Got::End) break;
    if (got == tarvo::cli::ScriptStream::Got::Error) {
      status = Fail("-: " + error);
      break;
    }
    going = RunStep(options, handle, next, &first, &status);
  }
  if (facade) {
    FC_Finaliza();
  } else {
    EncerraDriver(handle);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // "tarvo report LOG..." reads logs and needs no port: its own options.
  if (argc > 1 && std::strcmp(argv[1], "report") == 0) {
    return tarvo::report::RunReport(std::vector<std::string>(argv + 2, argv + argc));
  }
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int sub = tarvo::cli::RunSubcommand(args);
  if (sub >= 0) return sub;
  Options options;
  std::string error;
  jsonFailures = std::find(args.begin(), args.end(), "--json") != args.end();
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
  const int status = RunCommands(options, port, &stream);
  LeaveTraceDir(trace);
  return status;
}
