// Staging and running one command: LimpaParams, AdicionaParam,
// ExecutaComando, and the three getters of the answer's error.
#include <cstring>

#include "common/text.h"
#include "driver/driver_state.h"
#include "driver/export.h"
#include "driver/internal.h"
#include "protocol/engine.h"
#include "trace/trace.h"
#include "trace/trace_lines.h"

using namespace tarvo;

namespace {

constexpr size_t kMaxParamText = TARVO_MAX_PARAMS;
constexpr size_t kMaxCommand = TARVO_MAX_COMMAND;
constexpr int kLastId = 255;

// How the type code wraps a value: dates and times between '#', quoted text
// between double quotes, everything else bare.
const char* ValueMark(int type) {
  if (type == TARVO_TYPE_DATE || type == TARVO_TYPE_TIME) return "#";
  if (type == TARVO_TYPE_QUOTED) return "\"";
  return "";
}

}  // namespace

namespace tarvo {

int LimpaParamsLocked(int handle) {
  DriverState& d = driverState;
  if (handle != d.fArq) return TARVO_BAD_HANDLE;
  d.paramText[0] = '\0';
  return 0;
}

int AdicionaParamLocked(int handle, const char* Nome, const char* Valor, int Tipo) {
  DriverState& d = driverState;
  if (handle != d.fArq) return TARVO_BAD_HANDLE;
  if (Nome == nullptr || Valor == nullptr) return TARVO_NULL_ARGUMENT;
  // The item is added whole or not at all: a cut parameter would send the
  // printer a different value than the host gave.
  const size_t used = BoundedLength(d.paramText, sizeof d.paramText);
  const char* mark = ValueMark(Tipo);
  const size_t need = (used > 0 ? 1 : 0) + BoundedLength(Nome, sizeof d.paramText) + 1 +
                      2 * std::strlen(mark) + BoundedLength(Valor, sizeof d.paramText);
  if (used + need > kMaxParamText) return TARVO_TOO_LONG;
  if (used > 0) AppendText(d.paramText, " ");
  AppendText(d.paramText, Nome);
  AppendText(d.paramText, "=");
  AppendText(d.paramText, mark);
  AppendText(d.paramText, Valor);
  AppendText(d.paramText, mark);
  return 0;
}

int ObtemCodErroLocked(int handle) {
  DriverState& d = driverState;
  if (handle != d.fArq) return TARVO_BAD_HANDLE;
  return ReadDecimal(d.errCodeText, sizeof d.errCodeText);
}

int ExecuteClaimed(SessionLock& lock, int handle, const char* Comando) {
  DriverState& d = driverState;
  if (handle != d.fArq) return TARVO_BAD_HANDLE;
  if (Comando == nullptr) return TARVO_NULL_ARGUMENT;
  if (BoundedLength(Comando, kMaxCommand + 1) > kMaxCommand) return TARVO_TOO_LONG;

  d.nomeErro[0] = '\0';
  d.respFields[0] = '\0';
  d.errCodeText[0] = '\0';

  const char* command;
  const char* params;
  if (Comando[0] != '\0') {
    d.bRetrans = 0;
    d.cmdId = d.cmdId < kLastId ? d.cmdId + 1 : 1;
    WriteDecimal(d.idText, sizeof d.idText, d.cmdId);
    CopyText(d.lastIdText, d.idText);
    CopyText(d.lastCommand, Comando);
    CopyText(d.lastParams, d.paramText);
    command = Comando;
    params = d.paramText;
  } else {
    // A retransmission: the last new command again, with its id.
    d.bRetrans = 1;
    d.cmdId = ReadDecimal(d.lastIdText);
    WriteDecimal(d.idText, sizeof d.idText, d.cmdId);
    command = d.lastCommand;
    params = d.lastParams;
  }

  // The other threads wait for the claim, not for the mutex, meanwhile.
  lock.Release();
  const int result = RunExchange(d, d.idText, command, params).result;
  lock.Retake();
  LimpaParamsLocked(handle);
  if (result > 0) return 1;
  LogLine(TRACE_EXECUTA, LogTag(), result);
  return TARVO_EXCHANGE_FAILED;
}

}  // namespace tarvo

extern "C" TARVO_API int TARVO_CALL LimpaParams(int Handle) {
  SessionLock lock(SessionLock::kOnceIdle);
  return LimpaParamsLocked(Handle);
}
TARVO_EXPORT_ALIAS(int, LimpaParams, (int))

extern "C" TARVO_API int TARVO_CALL AdicionaParam(int Handle, const char* Nome, const char* Valor,
                                                  int Tipo) {
  SessionLock lock(SessionLock::kOnceIdle);
  return AdicionaParamLocked(Handle, Nome, Valor, Tipo);
}
TARVO_EXPORT_ALIAS(int, AdicionaParam, (int, const char*, const char*, int))

extern "C" TARVO_API int TARVO_CALL ExecutaComando(int Handle, const char* Comando) {
  SessionLock lock(SessionLock::kAsItIs);
  if (Handle != driverState.fArq) return TARVO_BAD_HANDLE;
  if (!lock.BeginExchange()) return TARVO_BUSY;
  const int result = ExecuteClaimed(lock, Handle, Comando);
  lock.EndExchange();
  return result;
}
TARVO_EXPORT_ALIAS(int, ExecutaComando, (int, const char*))

extern "C" TARVO_API int TARVO_CALL ObtemCodErro(int Handle) {
  SessionLock lock(SessionLock::kOnceIdle);
  return ObtemCodErroLocked(Handle);
}
TARVO_EXPORT_ALIAS(int, ObtemCodErro, (int))

extern "C" TARVO_API int TARVO_CALL ObtemNomeErro(int Handle, char* Saida, int) {
  SessionLock lock(SessionLock::kOnceIdle);
  DriverState& d = driverState;
  LogLine(TRACE_NOME_ERRO, LogTag(), Handle);
  if (Handle == d.fArq && Saida != nullptr) CopyText(Saida, sizeof d.nomeErro, d.nomeErro);
  return 0;
}
TARVO_EXPORT_ALIAS(int, ObtemNomeErro, (int, char*, int))

extern "C" TARVO_API int TARVO_CALL ObtemCircunstancia(int Handle, char* Saida, int) {
  SessionLock lock(SessionLock::kOnceIdle);
  DriverState& d = driverState;
  LogLine(TRACE_CIRCUNSTANCIA, LogTag(), Handle);
  if (Handle == d.fArq && Saida != nullptr) {
    CopyText(Saida, sizeof d.circunstancia, d.circunstancia);
  }
  return 0;
}
TARVO_EXPORT_ALIAS(int, ObtemCircunstancia, (int, char*, int))
