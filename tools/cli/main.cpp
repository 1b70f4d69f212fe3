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
#include "common/escape.h"
#include "tarvo.h"

namespace {

using tarvo::cli::CommandSpec;
using tarvo::cli::Options;
using tarvo::cli::Outcome;

int Fail(const std::string& message) {
  std::fprintf(stderr, "tarvo: %s\n", message.c_str());
  return 2;
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

bool WriteAll(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out.flush());
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

const char kTraceOn[] = "Trace=1\nTamanho=5000000";

// The library's trace is switched on only by the facade start-up reading
// TARVO.cfg in the current directory; after identifying the printer it
// moves to TV_<serial>_<ecf>.cfg, which it creates with tracing off. So the
// first start-up creates that file, we switch it on, and a second start-up
// traces everything that follows into TV_<serial>_<ecf>.txt.
int StartTracedSession(const std::string& port) {
  if (!WriteAll("TARVO.cfg", kTraceOn)) return TARVO_BAD_CHANNEL;
  int r = FC_Inicializa(port.c_str());
  if (r != 0) return r;
  bool switched = false;
  for (const auto& cfg : FilesEndingWith(".", ".cfg")) {
    if (cfg == "TARVO.cfg") continue;
    std::string content;
    ReadAll(cfg, &content);
    if (content.rfind("Trace=0", 0) == 0 && WriteAll(cfg, kTraceOn)) switched = true;
  }
  if (!switched) return 0;
  FC_Finaliza();
  return FC_Inicializa(port.c_str());
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
    if (tarvo::cli::ExitStatusOf(o) != 0) {
      std::fprintf(stderr, "tarvo: %s: %d %s%s%s\n", o.command.c_str(), o.code, o.name.c_str(),
                   o.circumstance.empty() ? "" : ": ", o.circumstance.c_str());
    }
  } else {
    text = (first ? "" : "\n") + tarvo::cli::FormatPlain(o, options.raw);
  }
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
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

// The commands to run, from the command line or the script: the status to
// exit with at once (help, version, a refused argument), or -1.
int ReadCommandLine(int argc, char** argv, Options* options) {
  std::string error;
  const char* envPort = std::getenv("TARVO_PORT");
  switch (tarvo::cli::ParseArguments(std::vector<std::string>(argv + 1, argv + argc),
                                     envPort ? envPort : "", options, &error)) {
    case tarvo::cli::ParseResult::Help: std::fputs(tarvo::cli::kUsage, stdout); return 0;
    case tarvo::cli::ParseResult::Version: std::puts("tarvo " TARVO_VERSION_TEXT); return 0;
    case tarvo::cli::ParseResult::Error:
      std::fprintf(stderr, "tarvo: %s\nTry 'tarvo --help' for more information.\n", error.c_str());
      return 2;
    case tarvo::cli::ParseResult::Run: break;
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
  return -1;
}

// Where the trace files go: the process's current directory, so it moves
// into a new temporary one or --trace-dir.
struct TraceDir {
  std::string path;
  bool remove = false;  // a temporary one, removed at the end
};

// Enters the trace directory, with relative paths made absolute first so
// that they survive the move: the status to exit with on failure, or -1.
int EnterTraceDir(const Options& options, std::string* port, TraceDir* dir) {
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
    dir->path = buffer.data();
    dir->remove = true;
  } else {
    dir->path = Absolute(options.traceDir);
    if (mkdir(dir->path.c_str(), 0700) != 0 && errno != EEXIST) {
      return Fail("cannot create " + dir->path + ": " + std::strerror(errno));
    }
  }
  if (chdir(dir->path.c_str()) != 0) {
    return Fail("cannot enter " + dir->path + ": " + std::strerror(errno));
  }
  return -1;
}

void LeaveTraceDir(const TraceDir& dir) {
  if (dir.path.empty()) return;
  ShowTrace(dir.path);
  if (dir.remove) RemoveTree(dir.path);
}

// Runs the printer commands in order, printing each outcome: the worst
// exit status, from the start-up's `status` on, or 2 when a command could
// not be staged. *first says whether nothing was printed yet.
int RunCommands(const Options& options, int handle, bool* first, int status) {
  for (const auto& step : options.commands) {
    if (step.command == "identify") continue;
    std::string problem;
    const Outcome o = Run(handle, step, options.timeoutMs, &problem);
    // cppcheck does not follow Run's writing through the pointer.
    // cppcheck-suppress knownConditionTrueFalse
    if (!problem.empty()) {
      std::fprintf(stderr, "tarvo: %s%s\n",
                   step.line ? ("line " + std::to_string(step.line) + ": ").c_str() : "",
                   problem.c_str());
      return 2;
    }
    Print(options, o, *first);
    *first = false;
    const int s = tarvo::cli::ExitStatusOf(o);
    if (s > status) status = s;
    if (s != 0 && !options.keepGoing) break;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int status = ReadCommandLine(argc, argv, &options); status >= 0) return status;
  // A port name is a file name: passed as it is, never converted.
  std::string port = options.port;
  TraceDir traceDir;
  if (options.trace) {
    if (const int status = EnterTraceDir(options, &port, &traceDir); status >= 0) return status;
  }

  const bool facade = options.trace || options.commands.front().command == "identify";
  int status = 0;
  bool first = true;
  int handle = 1;
  if (facade) {
    const int r = options.trace ? StartTracedSession(port) : FC_Inicializa(port.c_str());
    if (options.commands.front().command == "identify" || r != 0) {
      const Outcome o = Identify(r);
      Print(options, o, first);
      first = false;
      status = tarvo::cli::ExitStatusOf(o);
    }
    if (r != 0) {
      LeaveTraceDir(traceDir);
      return status;
    }
  } else {
    handle = IniciaDriver(port.c_str());
    if (handle != TARVO_OK_HANDLE) {
      std::fprintf(stderr, "tarvo: cannot open the port %s (IniciaDriver gave %d)\n", port.c_str(),
                   handle);
      return 3;
    }
  }
  status = RunCommands(options, handle, &first, status);
  if (facade) {
    FC_Finaliza();
  } else {
    EncerraDriver(handle);
  }
  LeaveTraceDir(traceDir);
  return status;
}
