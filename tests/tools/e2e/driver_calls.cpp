#include "e2e/driver_calls.h"

#include "tarvo.h"

namespace tarvo::test {

Result RunCommand(const char* command, const Params& params) {
  LimpaParams(1);
  for (const auto& [n, v, t] : params) AdicionaParam(1, n, v, t);
  Result r;
  r.executed = ExecutaComando(1, command);
  r.code = ObtemCodErro(1);
  char name[TARVO_ERROR_NAME_SIZE] = "", circumstance[TARVO_CIRCUMSTANCE_SIZE] = "";
  ObtemNomeErro(1, name, 0);
  ObtemCircunstancia(1, circumstance, 0);
  r.name = name;
  r.circumstance = circumstance;
  return r;
}

std::string Value(const char* name) {
  static char value[TARVO_VALUE_SIZE];
  const int n = Retorno(1, 0, name, 0, value, 0);
  return n >= 0 ? std::string(value) : "error " + std::to_string(n);
}

}  // namespace tarvo::test
