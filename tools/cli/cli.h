// The command-line host's pure part: arguments, script lines and output.
// main.cpp makes the driver calls.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvo::cli {

// One typed parameter: NAME[:TYPE]=VALUE, the type code as AdicionaParam
// takes it (2 and 3 dates and times, 7 quoted text, anything else plain).
struct ParamArg {
  std::string name;
  std::string value;
  int type = 0;
};

// One command to run: a printer command with parameters and the names of
// the values to read back, or the facade start-up ("identify").
struct CommandSpec {
  std::string command;
  std::vector<ParamArg> params;
  std::vector<std::string> returns;
  int line = 0;  // script line, 0 for the command line
};

struct Options {
  std::string port;
  std::string scriptFile;  // "-" for standard input
  bool json = false;
  bool quiet = false;
  bool trace = false;
  std::string traceDir;
  bool keepGoing = false;
  bool raw = false;  // no UTF-8 / cp1252 conversion
  int timeoutMs = 0;
  std::vector<CommandSpec> commands;  // from the command line (at most one)
};

enum class ParseResult { Run, Help, Version, Error };

// Parses argv[1..]. envPort is the value of TARVO_PORT (may be empty).
ParseResult ParseArguments(const std::vector<std::string>& args, std::string_view envPort,
                           Options* out, std::string* error);

bool ParseParam(std::string_view arg, ParamArg* out, std::string* error);

// Splits a script line into words: blanks separate, "..." groups (with \"
// and \\ inside), '...' groups literally, # starts a comment.
bool SplitWords(std::string_view line, std::vector<std::string>* words, std::string* error);

// COMMAND [NAME[:TYPE]=VALUE]... [-r NAME]...
bool ParseCommandWords(const std::vector<std::string>& words, CommandSpec* out, std::string* error);

// A whole script: one command per line; blank lines and # comments skipped.
// "identify" may only be the first command.
bool ParseScript(std::string_view text, std::vector<CommandSpec>* out, std::string* error);

// Converts every text of the commands from UTF-8 to cp1252.
bool ConvertToCp1252(std::vector<CommandSpec>* commands, std::string* error);

// What one command gave.
struct Outcome {
  std::string command;
  int result = 0;  // ExecutaComando's (or FC_Inicializa's) result
  int code = 0;    // ObtemCodErro
  std::string name;
  std::string circumstance;
  std::vector<std::pair<std::string, std::string>> values;
  std::vector<std::string> missing;  // -r names Retorno gave nothing for
};

// 0 when the printer answered with code 0; 1 for a printer error code; 3
// when no valid answer came (or the session could not be opened); 4 when
// the answer lacks a value asked for with -r.
int ExitStatusOf(const Outcome& o);

// name=value lines ("value.NAME=..." for the values); texts escaped so that
// each item is one line. cp1252 shown as UTF-8 unless raw.
std::string FormatPlain(const Outcome& o, bool raw);
// One JSON object on one line.
std::string FormatJson(const Outcome& o);
// Just the values, unescaped, each on its own line.
// The values alone, one per line. For a terminal, control characters but
// line ends and tabs are escaped (\xhh); a pipe or a file gets them as the
// printer sent them.
std::string FormatQuiet(const Outcome& o, bool raw, bool terminal = false);

// The plain output's escape: every item on one line, '\' doubled.
std::string EscapeLine(std::string_view text);
// Names, paths and reasons inside a message for people: control
// characters escaped as in EscapeLine, '\' kept (Windows paths).
std::string EscapeMessage(std::string_view text);

extern const char kUsage[];

}  // namespace tarvo::cli
