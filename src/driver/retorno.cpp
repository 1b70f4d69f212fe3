// Retorno: a named value of the last answer, or the last exchange's error.
#include "common/text.h"
#include "driver/driver_state.h"
#include "driver/export.h"
#include "driver/internal.h"
#include "driver/value_lookup.h"
#include "trace/trace.h"
#include "trace/trace_lines.h"

namespace tarvo {

int RetornoLocked(int handle, const char* Nome, char* Saida) {
  DriverState& d = driverState;
  if (handle != d.fArq) return TARVO_BAD_HANDLE;
  if (Nome == nullptr || Saida == nullptr) return TARVO_NULL_ARGUMENT;
  if (d.CodigoUltimoErro != 0) {
    d.respFields[0] = '\0';
    Saida[0] = '\0';
    LogLine(TRACE_RETORNO, LogTag(), d.CodigoUltimoErro);
    return d.CodigoUltimoErro;
  }
  return LookupValue(d.respFields, sizeof d.respFields, Nome, Saida, TARVO_VALUE_SIZE);
}

}  // namespace tarvo

using namespace tarvo;

extern "C" TARVO_API int TARVO_CALL Retorno(int Handle, int, const char* Nome, int, char* Saida,
                                            int) {
  SessionLock lock(SessionLock::kOnceIdle);
  return RetornoLocked(Handle, Nome, Saida);
}
TARVO_EXPORT_ALIAS(int, Retorno, (int, int, const char*, int, char*, int))
