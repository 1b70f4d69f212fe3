#include "cli/session_run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/port_map.h"
#include "cli/trace_switch.h"
#include "cli/wait_notice.h"
#include "cli/why.h"
#include "common/cp1252.h"
#include "common/json.h"
#include "platform/host.h"
#include "tarvo.h"
#include "trace/trace_env.h"

namespace tarvo::cli {

bool jsonFailures = false;

// With --json every failure is also a JSON object on standard output.

int Fail(const std::string& message, int status) {
  platform::Print(stderr, "tarvo: " + message + "\n");
  if (jsonFailures) {
    const tools::Json failure = {
        {"ok", false}, {"status", status}, {"error", tools::JsonText(message)}};
    std::fputs(tools::DumpJson(failure).c_str(), stdout);
  }
  return status;
}

namespace {

// Why IniciaDriver refused the port, in one line (and one JSON object).
int ExplainOpenFailure(const std::string& port) {
  const OpenDiagnosis d = DiagnoseOpen(port);
  platform::Print(stderr, "tarvo: " + DiagnosisLine(d) + "\n");
  if (jsonFailures) std::fputs(DiagnosisJson(d).c_str(), stdout);
  return 3;
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
  // result= means what it means for a command: 1 an answer came (the
  // printer identified, or refused with its own code), -1 the exchange
  // failed, and -11 when the port did not open. code= is FC_Inicializa's.
  o.result = startResult == TARVO_PROTOCOL_FAILURE ? -1 : (startResult >= 0 ? 1 : startResult);
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
      o.result = code == TARVO_PROTOCOL_FAILURE ? -1 : 1;
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

// The failure line of --quiet. The printer's name and circumstance are
// cp1252: shown as UTF-8 (unless --raw), escaped as the plain output is, and
// in a console's own code page, as the answers are.
void PrintQuietFailure(const Outcome& o, bool raw) {
  const auto shown = [raw](const std::string& cp1252) {
    return EscapeLine(raw ? cp1252 : tools::Cp1252ToUtf8(cp1252));
  };
  platform::Print(stderr, "tarvo: " + shown(o.command) + ": " + std::to_string(o.code) + " " +
                              shown(o.name) +
                              (o.circumstance.empty() ? "" : ": " + shown(o.circumstance)) + "\n");
}

void Print(const Options& options, const Outcome& o, bool first) {
  std::string text;
  if (options.json) {
    text = FormatJson(o);
  } else if (options.quiet) {
    text = FormatQuiet(o, options.raw, platform::IsTerminal(stdout));
    if (ExitStatusOf(o) != 0 && o.missing.empty()) PrintQuietFailure(o, options.raw);
  } else {
    text = (first ? "" : "\n") + FormatPlain(o, options.raw);
  }
  platform::Print(stdout, text);
  std::fflush(stdout);
  for (const auto& name : o.missing) {
    std::fprintf(stderr, "tarvo: %s: the answer has no value %s (or it is empty)\n",
                 o.command.c_str(), name.c_str());
  }
}

// After the first command with no valid answer: what to try next, once.
void NoAnswerHint(const std::string& port) {
  static bool given = false;
  if (given) return;
  given = true;
  const RegistryFile reg = LoadRegistry(RegistryPath());
  int rate = 0;
  CommSettingsNote(reg, &rate);
  std::fprintf(stderr,
               "tarvo: no valid answer on %s: is the printer on, and is this its port? try "
               "'tarvo why %s', check the line rate (%d baud here, CommSettings in %s; the "
               "printer's own setting), and 'tarvo ports' for the other ports\n",
               EscapeMessage(port).c_str(), EscapeMessage(port).c_str(), rate, reg.path.c_str());
}

// The facade start-up for "identify". It leaves no configuration files
// behind unless the trace was asked for, or says which it kept.
int StartIdentified(const Options& options, const std::string& port, int* status) {
  tarvo::TraceEnvSetting env;
  const bool traceEnv =
      tarvo::ParseTraceEnv(std::getenv(tarvo::kTraceEnvName), &env) == tarvo::TraceEnvResult::On;
  const bool cleanUp = !options.trace && !traceEnv;
  const std::vector<std::string> before = ConfigFilesHere();
  int r = 0;
  {
    WaitNotice notice("identify " + port);
    r = FC_Inicializa(port.c_str());
  }
  Outcome o = Identify(r);
  const bool scan = port.size() >= 4 && (port[3] == 'U' || port[3] == 'u');
  if (r == TARVO_BAD_CHANNEL && !scan) {
    o.circumstance = DiagnosisLine(DiagnoseOpen(port));
  }
  Print(options, o, true);
  if (o.code == TARVO_PROTOCOL_FAILURE) NoAnswerHint(port);
  *status = ExitStatusOf(o);
  if (r != 0) FC_Finaliza();
  if (traceEnv && !options.trace) {
    std::fprintf(stderr, "tarvo: trace file: %s.txt (TARVO_TRACE)\n", env.base);
  }
  if (cleanUp) {
    const std::string note = RemoveNewConfigFiles(before);
    if (!note.empty()) std::fprintf(stderr, "tarvo: %s\n", note.c_str());
  }
  return r;
}

// Another process on the printer's port mixes its frames with ours; root
// passes the exclusive lock that keeps others out, so look first.
bool HeldByAnother(const std::string& port) {
  const RegistryFile reg = LoadRegistry(RegistryPath());
  Resolved r;
  std::string why;
  if (!ResolvePort(port, reg, &r, &why) || r.device.rfind("/dev/", 0) != 0) return false;
  const std::string holders = platform::HoldersOf(r.device, "/proc");
  if (holders.empty()) return false;
  Fail("the port " + EscapeMessage(port) + " (" + EscapeMessage(r.device) + ") is held by " +
           EscapeMessage(holders) + ": two programs on one printer mix their frames; stop it first",
       3);
  return true;
}

// Runs one command; false when the script must stop.
bool RunStep(const Options& options, int handle, const CommandSpec& step, bool* first,
             int* status) {
  if (step.command == "identify") return true;
  std::string problem;
  Outcome o;
  {
    WaitNotice notice(step.command);
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
  if (o.code == TARVO_PROTOCOL_FAILURE) NoAnswerHint(options.port);
  const int s = ExitStatusOf(o);
  if (s > *status) *status = s;
  return s == 0 || options.keepGoing;
}

}  // namespace

int RunCommands(const Options& options, const std::string& port, ScriptStream* stream) {
  const bool facade = options.commands.front().command == "identify";
  const bool scan = port.size() >= 4 && (port[3] == 'U' || port[3] == 'u');
  if ((!facade || !scan) && HeldByAnother(port)) return 3;
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
    if (got == ScriptStream::Got::End) break;
    if (got == ScriptStream::Got::Error) {
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

}  // namespace tarvo::cli
