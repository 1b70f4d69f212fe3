#include "cli/cli.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "common/cp1252.h"
#include "common/escape.h"
#include "common/numbers.h"
#include "common/options.h"
#include "common/param_rules.h"
#include "tarvo.h"

namespace tarvo::cli {

const char kUsage[] =
    R"(Usage: tarvo [OPTION]... -p PORT COMMAND [NAME[:TYPE]=VALUE]... [-r NAME]...
  or:  tarvo [OPTION]... -p PORT identify
  or:  tarvo [OPTION]... -p PORT -f FILE
  or:  tarvo trace on [--level N] | off | status
  or:  tarvo ports [--json]
  or:  tarvo why PORT [--json]
  or:  tarvo report [-o FILE] [--json] LOG...

Runs fiscal-printer commands through the TARVO driver library and prints the
printer's answer: result, error code, error name, circumstance and the values
asked for with -r. "tarvo report" reads the driver's trace logs into a page
and a summary (see "tarvo report --help").

  COMMAND            a command of the printer's language, e.g. LeTexto
  NAME[:TYPE]=VALUE  a parameter, staged with AdicionaParam. TYPE is the type
                     code (default 0): 2 or 3 send NAME=#VALUE# (dates,
                     times), 7 sends NAME="VALUE" (text), any other NAME=VALUE
  identify           the facade start-up (FC_Inicializa): opens the port,
                     reads the serial and ECF numbers, and shows them

Options:
  -p, --port PORT    the printer's port: a device path such as /dev/ttyS0 or
                     /dev/pts/3, or COMn (default: $TARVO_PORT)
  -r, --return NAME  read the value NAME of the answer (Retorno); repeatable
  -f, --file FILE    run the commands in FILE, one per line, in one session
                     ("-" reads standard input). A line is a COMMAND with its
                     parameters and -r options, as on the command line; words
                     may be quoted with "..." or '...'; # starts a comment;
                     "identify" may be the first line only. With "-" each
                     line runs as soon as it is read (interactive use)
  -k, --keep-going   with -f, go on after a command that failed
  -t, --timeout MS   per-byte answer time-out (DefineTimeout; at least 5000)
      --json         one JSON object per command, one per line
  -q, --quiet        print only the values asked for with -r, unescaped
      --trace        trace the commands (TARVO_TRACE=1, in a temporary
                     directory) and print the trace log to standard error
                     afterwards
      --trace-dir DIR  keep the trace files in DIR (implies --trace)
      --raw          pass texts through as bytes (no UTF-8 / cp1252
                     conversion)
  -h, --help         show this text
      --version      show the version

Subcommands:
  trace on|off|status  switch the trace of TARVO.cfg and every TV_*.cfg here
                     on (--level N, 1 to 9; 1 adds frames and BREAK
                     attempts) or off, or say what they and TARVO_TRACE do
  ports              list the serial ports, the COMn names that reach them,
                     every Ports mapping and its state, and Ports lines
                     for the registry file
  why PORT           open PORT as IniciaDriver does and say what was found:
                     the device it reaches, from where, and the cause;
                     exit 0 when it opens and nobody else holds it, 3 when
                     not, 2 for bad arguments

Output (plain): one name=value line per item, a blank line between commands:
  command=LeTexto
  result=1            ExecutaComando: 1 answered, -1 exchange failed
  code=0              ObtemCodErro: 0 success, 11010 no valid answer
  name=OK             ObtemNomeErro
  circumstance=       ObtemCircunstancia
  value.ValorTexto=EMU0000001
Texts are shown in UTF-8 with \n, \t, \r, \\ and \xHH escapes.

Exit status: 0 when every command was answered with code 0; 1 when the
printer answered with an error code; 2 for bad arguments; 3 when no valid
answer came, the port could not be opened (the reason is given) or another
process holds it; 4 when
a value asked for with -r is not in the answer (or is empty).

Environment: TARVO_PORT (the default port), TARVO_REGISTRY (the registry
file), TARVO_TRACE (LEVEL or LEVEL:BASENAME: trace into BASENAME.txt).
A silent printer holds one command for about 9 s and identify for about
27 s; on a terminal a status line shows the wait, elsewhere one line
after 5 s.

Example:
  tarvo -p /dev/pts/3 LeTexto NomeTexto:7=NumeroSerieECF -r ValorTexto
)";

namespace {

// Nothing is escaped on the way to the printer, so a value that holds its
// own delimiter would change the meaning of the whole parameter text. Run
// on the bytes that go on the wire: once as given, and again after the
// conversion to cp1252.
bool CheckValue(const ParamArg& p, std::string* error) {
  const char* clash = tools::ParamValueProblem(p.type, p.value);
  if (clash == nullptr) return true;
  *error = "parameter " + p.name + ": " + clash;
  return false;
}

bool ValidName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (c == ' ' || c == '=' || c == '"' || c == ';' || c == '{' || c == '}' ||
        static_cast<unsigned char>(c) < 0x20) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseParam(std::string_view arg, ParamArg* out, std::string* error) {
  const size_t eq = arg.find('=');
  if (eq == std::string_view::npos) {
    *error = "parameter '" + std::string(arg) + "' is not NAME[:TYPE]=VALUE";
    return false;
  }
  std::string_view name = arg.substr(0, eq);
  out->type = 0;
  const size_t colon = name.rfind(':');
  if (colon != std::string_view::npos) {
    long long type = 0;
    if (!tools::ParseInteger(name.substr(colon + 1), INT_MIN, INT_MAX, &type)) {
      *error = "parameter '" + std::string(arg) + "': the type after ':' must be a number";
      return false;
    }
    out->type = static_cast<int>(type);
    name = name.substr(0, colon);
  }
  if (!ValidName(name)) {
    *error = "parameter '" + std::string(arg) + "': bad name";
    return false;
  }
  out->name = std::string(name);
  out->value = std::string(arg.substr(eq + 1));
  return CheckValue(*out, error);
}

namespace {

enum Opt {
  kHelp,
  kVersion,
  kPort,
  kReturn,
  kFile,
  kTimeout,
  kTraceDir,
  kJson,
  kQuiet,
  kTrace,
  kKeepGoing,
  kRaw
};

constexpr tools::OptionEntry kOptions[] = {
    {kHelp, "--help", 'h', false},
    {kVersion, "--version", 0, false},
    {kPort, "--port", 'p', true},
    {kReturn, "--return", 'r', true},
    {kFile, "--file", 'f', true},
    {kTimeout, "--timeout", 't', true},
    {kTraceDir, "--trace-dir", 0, true},
    {kJson, "--json", 0, false},
    {kQuiet, "--quiet", 'q', false},
    {kTrace, "--trace", 0, false},
    {kKeepGoing, "--keep-going", 'k', false},
    {kRaw, "--raw", 0, false},
};

// One option of the command line. Run when it was taken, Help or Version
// when it asks for them, Error when its value is refused.
ParseResult TakeOption(const tools::OptionParser::Item& o, Options* out,
                       std::vector<std::string>* returns, std::string* error) {
  const std::string& v = o.value;
  long long ms = 0;
  switch (o.id) {
    case kHelp: return ParseResult::Help;
    case kVersion: return ParseResult::Version;
    case kPort: out->port = v; break;
    case kFile: out->scriptFile = v; break;
    case kTraceDir:
      out->traceDir = v;
      out->trace = true;
      break;
    case kJson: out->json = true; break;
    case kQuiet: out->quiet = true; break;
    case kTrace: out->trace = true; break;
    case kKeepGoing: out->keepGoing = true; break;
    case kRaw: out->raw = true; break;
    case kReturn:
      if (!ValidName(v)) {
        *error = "-r: bad value name '" + v + "'";
        return ParseResult::Error;
      }
      returns->push_back(v);
      break;
    case kTimeout:
      if (!tools::ParseInteger(v, 0, INT_MAX, &ms)) {
        *error = "--timeout: milliseconds, a number from 0 up";
        return ParseResult::Error;
      }
      out->timeoutMs = static_cast<int>(ms);
      break;
    default: break;
  }
  return ParseResult::Run;
}

// What the options and words make together, once all are read.
ParseResult FinishArguments(std::vector<std::string> words, const std::vector<std::string>& returns,
                            Options* out, std::string* error) {
  if (out->port.empty()) {
    *error = "no port: give -p PORT (or set TARVO_PORT)";
    return ParseResult::Error;
  }
  if (out->json && out->quiet) {
    *error = "--json and --quiet exclude each other";
    return ParseResult::Error;
  }
  if (!out->scriptFile.empty()) {
    if (!words.empty() || !returns.empty()) {
      *error = "with -f the commands come from the file; no COMMAND or -r on the command line";
      return ParseResult::Error;
    }
    return ParseResult::Run;
  }
  if (words.empty()) {
    *error = "no command given (try 'tarvo --help')";
    return ParseResult::Error;
  }
  if (out->keepGoing) {
    *error = "--keep-going is for scripts (-f)";
    return ParseResult::Error;
  }
  for (const auto& r : returns) {
    words.push_back("-r");
    words.push_back(r);
  }
  CommandSpec arg;
  if (!ParseCommandWords(words, &arg, error)) return ParseResult::Error;
  out->commands.push_back(std::move(arg));
  return ParseResult::Run;
}

}  // namespace

ParseResult ParseArguments(const std::vector<std::string>& args, std::string_view envPort,
                           Options* out, std::string* error) {
  *out = Options{};
  out->port = std::string(envPort);
  std::vector<std::string> words;    // the command and its parameters
  std::vector<std::string> returns;  // -r names
  tools::OptionParser parser(kOptions, args);
  tools::OptionParser::Item item;
  for (;;) {
    switch (parser.Next(&item, error)) {
      case tools::OptionParser::Got::Error: return ParseResult::Error;
      case tools::OptionParser::Got::End:
        return FinishArguments(std::move(words), returns, out, error);
      case tools::OptionParser::Got::Word: words.push_back(item.value); break;
      case tools::OptionParser::Got::Option:
        if (const ParseResult taken = TakeOption(item, out, &returns, error);
            taken != ParseResult::Run) {
          return taken;
        }
        break;
    }
  }
}

bool ParseCommandWords(const std::vector<std::string>& words, CommandSpec* out,
                       std::string* error) {
  *out = CommandSpec{};
  if (words.empty()) {
    *error = "empty command";
    return false;
  }
  out->command = words[0];
  if (out->command.find('=') != std::string::npos || !ValidName(out->command) ||
      out->command[0] == '-') {
    *error = "'" + out->command + "' is not a command name";
    return false;
  }
  for (size_t i = 1; i < words.size(); ++i) {
    if (words[i] == "-r" || words[i] == "--return") {
      if (i + 1 >= words.size() || !ValidName(words[i + 1])) {
        *error = "-r needs a value name";
        return false;
      }
      out->returns.push_back(words[++i]);
      continue;
    }
    ParamArg p;
    if (!ParseParam(words[i], &p, error)) return false;
    out->params.push_back(std::move(p));
  }
  if (out->command == "identify" && (!out->params.empty() || !out->returns.empty())) {
    *error = "identify takes no parameters and no -r";
    return false;
  }
  return true;
}

bool ConvertToCp1252(std::vector<CommandSpec>* commands, std::string* error) {
  for (auto& c : *commands) {
    auto convert = [&](std::string* text) {
      std::string converted;
      size_t bad = 0;
      if (!tools::Utf8ToCp1252(*text, &converted, &bad)) {
        // Shown escaped: the bytes are not text, and not for a terminal.
        *error = (c.line ? "line " + std::to_string(c.line) + ": " : std::string()) + "'" +
                 tools::Escape(*text, tools::EscapeStyle::Frame) + "' has a character at byte " +
                 std::to_string(bad) +
                 " that is not UTF-8 (malformed or overlong) or not in cp1252 (use --raw to " +
                 "send bytes unchanged)";
        return false;
      }
      *text = converted;
      return true;
    };
    if (!convert(&c.command)) return false;
    for (auto& p : c.params) {
      if (!convert(&p.name) || !convert(&p.value)) return false;
      if (!ValidName(p.name)) {
        *error = "parameter " + p.name + ": bad name";
        return false;
      }
      if (!CheckValue(p, error)) return false;
    }
    for (auto& r : c.returns) {
      if (!convert(&r)) return false;
    }
  }
  return true;
}

}  // namespace tarvo::cli
