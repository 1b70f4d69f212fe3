// The tools' command-line parser; see options.h.
#include "common/options.h"

#include <cstdio>

namespace tarvo::tools {

const OptionEntry* OptionParser::Find(const std::string& spelling) const {
  for (const OptionEntry& o : table_) {
    const bool isShort = spelling.size() == 2 && o.letter != 0 && spelling[1] == o.letter;
    if (isShort || (o.name != nullptr && spelling == o.name)) return &o;
  }
  return nullptr;
}

OptionParser::Got OptionParser::Next(Item* item, std::string* error) {
  *item = Item{};
  while (next_ < args_.size()) {
    const std::string& a = args_[next_++];
    // "/?" is how Windows' own tools are asked for help: --help where the
    // tool has one, a word where it has none.
    const OptionEntry* help = !optionsEnded_ && a == "/?" ? Find("--help") : nullptr;
    if (help != nullptr) {
      item->id = help->id;
      item->spelling = a;
      return Got::Option;
    }
    if (optionsEnded_ || a.size() < 2 || a[0] != '-') {
      item->value = a;
      return Got::Word;
    }
    if (a == "--") {
      optionsEnded_ = true;
      continue;
    }
    // "--name=value": only long options carry their value after '='.
    const size_t eq = a[1] == '-' ? a.find('=') : std::string::npos;
    item->spelling = a.substr(0, eq);
    const OptionEntry* entry = Find(item->spelling);
    if (entry == nullptr) {
      *error = "unknown option '" + a + "'";
      return Got::Error;
    }
    item->id = entry->id;
    if (!entry->takesValue && eq != std::string::npos) {
      *error = "option " + item->spelling + " takes no value";
      return Got::Error;
    }
    if (entry->takesValue && eq != std::string::npos) {
      item->value = a.substr(eq + 1);
    } else if (entry->takesValue) {
      if (next_ >= args_.size()) {
        *error = "option " + item->spelling + " needs a value";
        return Got::Error;
      }
      item->value = args_[next_++];
    }
    return Got::Option;
  }
  return Got::End;
}

int UsageError(const std::string& tool, const std::string& message) {
  (void)std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", tool.c_str(),
                     message.c_str(), tool.c_str());
  return 2;
}

}  // namespace tarvo::tools
