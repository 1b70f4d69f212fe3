// FC_Inicializa and FC_Finaliza: the facade's start-up, with the printer's
// identification and per-printer trace files, and its shut-down.
#include <cstring>

#include "common/text.h"
#include "driver/internal.h"
#include "facade/fc_state.h"
#include "tarvo_version.h"
#include "trace/trace_lines.h"

namespace tarvo {

namespace {

constexpr const char* kVersionTag = TARVO_VERSION_TAG;
constexpr int kFirstScanPort = 7;
constexpr int kPastLastScanPort = 23;  // COM7 .. COM22 are USB0 .. USB15
constexpr int kBusyCode = 11015;       // the printer is busy: ask again
constexpr int kMaxIdentifyTries = 10;
constexpr size_t kAnswerSize = 50;

struct Identification {
  FcCommand record;
  char serial[kAnswerSize];
  char ecf[kAnswerSize];
  int length;
  bool traceFromEnvironment;  // TARVO_TRACE rules: one log, no .cfg files
  SessionLock* lock;          // held, with the exchange claimed, for the whole start-up
};

void FillRecord(FcCommand* r, const char* command, const char* returnName, const char* paramName,
                const char* value) {
  CopyText(r->command, command);
  CopyText(r->returnNames, returnName);
  CopyText(r->params[0].name, paramName);
  CopyText(r->params[0].value, value);
}

int LowSixteenBits(int code) { return static_cast<int>(static_cast<unsigned>(code) & 0xFFFFu); }

// Reads the serial number, asking again while the printer says it is busy.
// Returns the code of the last try; *tries receives how many were made.
int ReadSerialNumber(Identification* id, int* tries) {
  int code = 0;
  *tries = 0;
  do {
    ++*tries;
    FillRecord(&id->record, "LeTexto", "ValorTexto", "NomeTexto", "NumeroSerieECF");
    id->record.params[0].type = TARVO_TYPE_QUOTED;
    code = LowSixteenBits(RunFcOperationClaimed(*id->lock, 1, &id->record, &id->length, id->serial,
                                                sizeof id->serial));
  } while (code == kBusyCode && *tries < kMaxIdentifyTries);
  return code;
}

// A printer's number goes into a file name: characters that could leave
// the current directory or are not allowed in a file name become '_'.
void AppendFileNamePart(char (&base)[kTraceFileNameSize], const char* part, size_t length) {
  for (size_t i = 0; i < length && BoundedLength(base, sizeof base) < kMaxTraceBaseName; ++i) {
    const char c = part[i];
    const bool unsafe = static_cast<unsigned char>(c) < 0x20 || std::strchr("/\\:*?\"<>|", c);
    AppendChar(base, sizeof base, unsafe ? '_' : c);
  }
}

// The answer without its enclosing quotes.
bool Unquoted(const char* answer, const char** text, size_t* length) {
  const size_t n = BoundedLength(answer, kAnswerSize);
  if (n < 2) return false;
  *text = answer + 1;
  *length = n - 2;
  return true;
}

// logBaseName = "TV_" serial ["_" ecf], cut so that it stays a usable
// configuration name (47 characters); the ECF number is added only whole.
void BuildBaseName(Identification* id) {
  FcState& f = fcState;
  const char* serial = nullptr;
  size_t serialLen = 0;
  if (!Unquoted(id->serial, &serial, &serialLen)) {
    CopyText(f.logBaseName, "TARVO");
    return;
  }
  CopyText(f.logBaseName, "TV_");
  AppendFileNamePart(f.logBaseName, serial, serialLen);

  FillRecord(&id->record, "LeInteiro", "ValorInteiro", "NomeInteiro", "ECF");
  const int code = LowSixteenBits(
      RunFcOperationClaimed(*id->lock, 1, &id->record, &id->length, id->ecf, sizeof id->ecf));
  const char* ecf = nullptr;
  size_t ecfLen = 0;
  if (code != 0 || !Unquoted(id->ecf, &ecf, &ecfLen) || id->ecf[0] == '\0') return;
  if (BoundedLength(f.logBaseName, sizeof f.logBaseName) + 1 + ecfLen > kMaxTraceBaseName) return;
  AppendChar(f.logBaseName, sizeof f.logBaseName, '_');
  AppendFileNamePart(f.logBaseName, ecf, ecfLen);
}

void MoveTraceToPrinter(Identification* id) {
  FcState& f = fcState;
  BuildBaseName(id);
  LogLine(TRACE_FC_FIM, LogTag());
  if (id->traceFromEnvironment) {
    // The per-printer names are kept for a later start-up without the
    // variable; the trace itself stays in the one log it names.
    CopyText(f.cfgBaseName, f.logBaseName);
    AppendText(f.logBaseName, ".txt");
    return;
  }
  TraceStop();
  CopyText(f.cfgBaseName, f.logBaseName);
  TraceSetNivelLog(TraceConfigRead(f.cfgBaseName));
  AppendText(f.logBaseName, ".txt");
  f.logHandle = TraceLogOpen(f.logBaseName);
  LogLine(TRACE_FC_NIVEL, LogTag(), TraceNivelLog());
}

// Identifies the printer on the open session. 0 on success; otherwise the
// failing code, already traced, with the session closed again.
int IdentifyOrClose(Identification* id) {
  int tries = 0;
  const int code = ReadSerialNumber(id, &tries);
  if (code == 0) {
    MoveTraceToPrinter(id);
    return 0;
  }
  LogLine(TRACE_FC_IDENTIFY_FAILED, LogTag(), code, tries);
  EncerraDriverLocked(fcState.fcHandle, true);
  return code;
}

// Whether the facade holds the driver's open session. A start-up that fails
// while it does must leave it alone: overwriting the handle would leave the
// port open with nothing able to close it, and FC_Finaliza reporting success.
bool FacadeSessionOpen() { return fcState.fcHandle == 1 && SessionOpenLocked(); }

// fcHandle = the result of IniciaDriver, unless that failed while the
// facade's session stays open.
void KeepHandle(int result, bool sessionOpen) {
  if (result == 1 || !sessionOpen) fcState.fcHandle = result;
}

int DirectStart(const char* porta, Identification* id) {
  const bool sessionOpen = FacadeSessionOpen();
  const int result = IniciaDriverLocked(porta);
  KeepHandle(result, sessionOpen);
  if (result != 1) {
    LogLine(TRACE_FC_INICIA_FAILED, LogTag(), result);
    if (!sessionOpen) EncerraDriverLocked(fcState.fcHandle, true);
    return TARVO_BAD_CHANNEL;
  }
  return IdentifyOrClose(id);
}

int ScanStart(Identification* id) {
  FcState& f = fcState;
  const bool sessionOpen = FacadeSessionOpen();
  for (f.usbPortNo = kFirstScanPort; f.usbPortNo < kPastLastScanPort; ++f.usbPortNo) {
    char name[16];
    FormatText(name, sizeof name, nullptr, "COM%d", f.usbPortNo);
    const int result = IniciaDriverLocked(name);
    LogLine(TRACE_FC_SCAN_OPEN, LogTag(), f.usbPortNo - kFirstScanPort);
    KeepHandle(result, sessionOpen);
    if (result == 1 && IdentifyOrClose(id) == 0) return 0;
    LogLine(TRACE_FC_SCAN_FAILED, LogTag(), f.usbPortNo - kFirstScanPort);
  }
  if (!sessionOpen) EncerraDriverLocked(f.fcHandle, true);
  return TARVO_BAD_CHANNEL;
}

}  // namespace

}  // namespace tarvo

using namespace tarvo;

// The start-up runs as one exchange: another thread's command is refused
// while it identifies the printer, and every other call waits for it.
extern "C" TARVO_API int TARVO_CALL FC_Inicializa(const char* Porta) {
  const char* porta = Porta != nullptr ? Porta : "";
  SessionLock lock(SessionLock::kOnceIdle);
  Identification id;
  std::memset(&id, 0, sizeof id);
  id.lock = &lock;

  TraceSetTag(kVersionTag);
  id.traceFromEnvironment = TraceStartFromEnvironment();
  if (!id.traceFromEnvironment) {
    FcState& f = fcState;
    TraceSetNivelLog(TraceConfigRead(f.cfgBaseName));
    f.logHandle = TraceLogOpen("TARVO.txt");
  }
  LogLine(TRACE_FC_INICIO, LogTag(), porta, TraceNivelLog());

  const bool scan = BoundedLength(porta, 4) == 4 && (porta[3] == 'U' || porta[3] == 'u');
  lock.BeginExchange();
  const int result = scan ? ScanStart(&id) : DirectStart(porta, &id);
  lock.EndExchange();
  return result;
}

extern "C" TARVO_API int TARVO_CALL FC_Finaliza(void) {
  SessionLock lock(SessionLock::kOnceIdle);
  FcState& f = fcState;
  LogLine(TRACE_FC_FINALIZA, LogTag());
  if (f.fcHandle == -1) return TARVO_BAD_HANDLE;
  EncerraDriverLocked(f.fcHandle, false);
  f.fcHandle = -1;
  return 0;
}
