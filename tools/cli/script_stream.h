// Commands read from a stream one line at a time, each run as soon as its
// line is complete, so that `tarvo -f -` can be used interactively.
#pragma once

#include <cstdio>
#include <string>

#include "cli/cli.h"

namespace tarvo::cli {

class ScriptStream {
 public:
  ScriptStream(std::FILE* in, bool raw) : in_(in), raw_(raw) {}

  enum class Got { Command, End, Error };
  // The next command; blank lines and comments are skipped. "identify" is
  // accepted on the first command only.
  Got Next(CommandSpec* out, std::string* error);

 private:
  std::FILE* in_;
  bool raw_;
  int line_ = 0;
  int commands_ = 0;
};

}  // namespace tarvo::cli
