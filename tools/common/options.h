// The tools' one command-line parser: every tool (tarvo, its subcommands,
// tarvo report, tarvo-emu) describes its options in a table and reads its
// arguments through it, so that they all take the same forms:
//
//   -x VALUE, --name VALUE, --name=VALUE  an option with a value; the value
//                                         is the next argument whatever it
//                                         is ("-f -", "--fault -x")
//   -x, --name                            a switch ("--name=..." refused)
//   --                                    ends the options: every later
//                                         argument is a word
//   /?                                    --help, as Windows' tools take
//                                         it (a word where there is none)
//   anything else not starting with '-', and "-" itself, is a word (a
//   command, a parameter, a file name), in its place among the options.
//
// Short options are never bundled or glued to their value ("-kq", "-pCOM1"
// are unknown options), and long names are never abbreviated: a printer
// parameter or a file name that starts with '-' goes after "--".
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace tarvo::tools {

struct OptionEntry {
  int id;            // the caller's tag for the option
  const char* name;  // the long spelling, "--port"; null when there is none
  char letter;       // the short spelling's letter ('p' for -p), 0 for none
  bool takesValue;
};

class OptionParser {
 public:
  enum class Got { Option, Word, End, Error };

  struct Item {
    int id = 0;            // the option's tag (Option)
    std::string spelling;  // the option as written, without "=value"
    std::string value;     // the option's value, or the word
  };

  OptionParser(std::span<const OptionEntry> table, const std::vector<std::string>& args)
      : table_(table), args_(args) {}

  // The next option or word, End after the last argument, or Error with a
  // one-line message that names the argument: an unknown option, an option
  // without its value at the end, a switch given a value.
  Got Next(Item* item, std::string* error);

 private:
  const OptionEntry* Find(const std::string& spelling) const;

  std::span<const OptionEntry> table_;
  const std::vector<std::string>& args_;
  size_t next_ = 0;
  bool optionsEnded_ = false;
};

// "TOOL: MESSAGE" and the hint "Try 'TOOL --help' for more information." on
// standard error; returns 2, the exit status of a usage error.
int UsageError(const std::string& tool, const std::string& message);

}  // namespace tarvo::tools
