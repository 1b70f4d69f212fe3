// FC_Operacao: one whole printer command described by an FcCommand record.
#include <cstring>

#include "common/text.h"
#include "driver/internal.h"
#include "facade/fc_state.h"
#include "trace/trace_lines.h"

namespace tarvo {

FcState& fcState = driverState.facade;

namespace {

constexpr int kMaxEntries = TARVO_FC_PARAM_COUNT;
constexpr int kResendings = 2;

// Commands that are never sent twice: a resending could sell an item, open
// a credit slip or close the fiscal day a second time.
bool NeverResent(const char* command) {
  return std::strcmp(command, "VendeItem") == 0 || std::strcmp(command, "AbreCreditoDebito") == 0 ||
         std::strcmp(command, "EmiteReducaoZ") == 0;
}

// The record's texts need not be terminated inside their fields: every one
// is read through a terminated copy.
template <size_t N>
void CopyField(char (&dst)[N], const char* field, size_t fieldSize) {
  CopyBytes(dst, N, field, BoundedLength(field, fieldSize));
}

void FcCommandReset(FcCommand* cmd) {
  cmd->command[0] = '\0';
  cmd->returnNames[0] = '\0';
  cmd->timeoutMs = 0;
}

// False when the parameters together do not fit the staged text: the
// command must then not be sent with some of them left out.
bool StageParameters(int handle, int numParam, const FcCommand& cmd) {
  LimpaParamsLocked(handle);
  const int count = numParam < kMaxEntries ? numParam : kMaxEntries;
  for (int k = 0; k < count; ++k) {
    char name[sizeof cmd.params[k].name + 1];
    char value[sizeof cmd.params[k].value + 1];
    CopyField(name, cmd.params[k].name, sizeof cmd.params[k].name);
    CopyField(value, cmd.params[k].value, sizeof cmd.params[k].value);
    if (AdicionaParamLocked(handle, name, value, cmd.params[k].type) == TARVO_TOO_LONG) {
      LimpaParamsLocked(handle);
      return false;
    }
  }
  return true;
}

// Appends `"value"` (after a blank for every item but the first) when it
// fits outText[cap] with its terminator.
bool AppendItem(char* out, size_t cap, size_t* pos, const char* value, size_t valueLen) {
  const size_t blank = *pos > 0 ? 1 : 0;
  if (*pos + blank + valueLen + 2 + 1 > cap) return false;
  if (blank) out[(*pos)++] = ' ';
  out[(*pos)++] = '"';
  std::memcpy(out + *pos, value, valueLen);
  *pos += valueLen;
  out[(*pos)++] = '"';
  out[*pos] = '\0';
  return true;
}

// The requested values, each between double quotes, one blank apart.
int GatherValues(int handle, const FcCommand& cmd, int* outLen, char* outText, size_t outCap) {
  FcState& f = fcState;
  char names[sizeof cmd.returnNames + 1];
  CopyField(names, cmd.returnNames, sizeof cmd.returnNames);
  const size_t total = std::strlen(names);
  size_t i = 0;
  size_t pos = 0;
  outText[0] = '\0';
  do {
    const char* blank = static_cast<const char*>(std::memchr(names + i, ' ', total - i));
    const size_t nameLen = static_cast<size_t>((blank ? blank : names + total) - (names + i));
    CopyBytes(f.fcName, sizeof f.fcName, names + i, nameLen);
    i += nameLen + 1;
    // Values are fetched only after ObtemCodErro gave 0 for this handle, so
    // Retorno gives a count here, never a negative code or a protocol
    // failure; what it stored is what is gathered.
    RetornoLocked(handle, f.fcName, f.fcValue);
    // A date or time cut short by the end of the answer counts 8 or 10
    // while fewer characters were stored: the text holds what was stored,
    // and *outLen counts what the text holds.
    const size_t stored = BoundedLength(f.fcValue, sizeof f.fcValue);
    if (!AppendItem(outText, outCap, &pos, f.fcValue, stored)) return TARVO_TOO_LONG;
  } while (i < total);
  *outLen = static_cast<int>(pos);
  return 0;
}

int RunClaimed(SessionLock& lock, int handle, int numParam, const FcCommand* cmd,
               const char* command, int* outLen, char* outText, size_t outCap) {
  DefineTimeoutClaimed(handle, cmd->timeoutMs);
  if (!StageParameters(handle, numParam, *cmd)) {
    RestoreDefaultTimeout();
    return TARVO_TOO_LONG;
  }
  ExecuteClaimed(lock, handle, command);
  int code = ObtemCodErroLocked(handle);
  if (!NeverResent(command)) {
    for (int i = 0; i < kResendings && code == TARVO_PROTOCOL_FAILURE; ++i) {
      ExecuteClaimed(lock, handle, "");
      code = ObtemCodErroLocked(handle);
    }
  }
  RestoreDefaultTimeout();

  if (code == 0 && outLen != nullptr) code = GatherValues(handle, *cmd, outLen, outText, outCap);
  return code;
}

// The command name as the trace line shows it; -14 or -21 when the
// operation is refused before anything else.
int CheckOperation(int numParam, const FcCommand* cmd, const int* outLen, const char* outText,
                   char (&command)[sizeof FcCommand::command + 1]) {
  if (cmd != nullptr) CopyField(command, cmd->command, sizeof cmd->command);
  LogLine(TRACE_FC_OPERACAO, LogTag(), numParam, command);
  if (fcState.fcHandle == -1) return TARVO_BAD_HANDLE;
  if (cmd == nullptr || (outLen != nullptr && outText == nullptr)) return TARVO_NULL_ARGUMENT;
  return 0;
}

}  // namespace

int RunFcOperationClaimed(SessionLock& lock, int numParam, FcCommand* cmd, int* outLen,
                          char* outText, size_t outCap) {
  char command[sizeof cmd->command + 1] = {};
  if (const int refused = CheckOperation(numParam, cmd, outLen, outText, command)) return refused;
  const int code =
      RunClaimed(lock, fcState.fcHandle, numParam, cmd, command, outLen, outText, outCap);
  FcCommandReset(cmd);
  return code;
}

int RunFcOperation(int numParam, FcCommand* cmd, int* outLen, char* outText, size_t outCap) {
  SessionLock lock(SessionLock::kAsItIs);
  char command[sizeof cmd->command + 1] = {};
  if (const int refused = CheckOperation(numParam, cmd, outLen, outText, command)) return refused;
  // The whole operation holds the exchange: another thread's command could
  // otherwise clear the staged parameters before they are sent, or replace
  // the answer before its values are read.
  if (!lock.BeginExchange()) return TARVO_REFUSED_BUSY;
  const int code =
      RunClaimed(lock, fcState.fcHandle, numParam, cmd, command, outLen, outText, outCap);
  lock.EndExchange();
  FcCommandReset(cmd);
  return code;
}

}  // namespace tarvo

extern "C" TARVO_API int TARVO_CALL FC_Operacao(int numParam, FcCommand* Cmd, int* outLen,
                                                char* outText) {
  return tarvo::RunFcOperation(numParam, Cmd, outLen, outText, TARVO_FC_TEXT_SIZE);
}
