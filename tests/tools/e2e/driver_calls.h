// A command run through the shared library's calls on handle 1, and what
// it left behind: the tests' view of the driver as a host sees it.
#pragma once

#include <string>
#include <tuple>
#include <vector>

namespace tarvo::test {

struct Result {
  int executed;  // ExecutaComando's result
  int code;      // ObtemCodErro
  std::string name, circumstance;
};

// Each parameter: name, value, type (as AdicionaParam takes them).
using Params = std::vector<std::tuple<const char*, const char*, int>>;

// Clears the staged parameters, stages `params`, runs `command`.
Result RunCommand(const char* command, const Params& params);

// The value `name` of the last answer, or "error N" with Retorno's result.
std::string Value(const char* name);

}  // namespace tarvo::test
