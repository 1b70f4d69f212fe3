#include "protocol/engine.h"

#include <cstring>

#include "common/text.h"
#include "protocol/frame.h"
#include "tarvo.h"
#include "trace/trace.h"
#include "trace/trace_lines.h"

namespace tarvo {

namespace {

constexpr int kCtsHoldChecks = 200;
constexpr uint32_t kCtsHoldIntervalMs = 100;
constexpr int kBreakAttempts = 20;
constexpr uint32_t kBreakMs = 55;
constexpr int kRecoveryTimeoutMs = 55;
constexpr int kFinalPulses = 10;
constexpr uint32_t kFinalWaitMs = 110;

constexpr const char* kNoCts = "Sem sinal de CTS";
constexpr const char* kTransmitError = "Erro de Transmissao";
constexpr const char* kReceiveError = "Erro de Recepcao";
constexpr const char* kSectionError = "Erro de Secao ou CRC";

// The most bytes one frame may hold: each stored byte is followed by a zero.
constexpr int kMaxFrame = static_cast<int>(sizeof ExchangeContext::bufRx) - 1;
static_assert(kMaxFrame == kMaxAnswerLength, "the decoder reads what the engine can hold");
static_assert(sizeof ExchangeContext::respCopy == kMaxAnswerLength + 1,
              "respCopy holds any answer");

const char* CircumstanceOf(ExchangeOutcome::Failure failure) {
  switch (failure) {
    case ExchangeOutcome::NoCts: return kNoCts;
    case ExchangeOutcome::Transmit: return kTransmitError;
    case ExchangeOutcome::Receive: return kReceiveError;
    case ExchangeOutcome::Section: return kSectionError;
    case ExchangeOutcome::None: break;
  }
  return "";
}

ExchangeOutcome Fail(ExchangeContext& d, ExchangeOutcome::Failure failure) {
  d.CodigoUltimoErro = TARVO_PROTOCOL_FAILURE;
  CopyText(d.nomeErro, "ErroProtTimeout");
  CopyText(d.circunstancia, CircumstanceOf(failure));
  WriteDecimal(d.errCodeText, sizeof d.errCodeText, TARVO_PROTOCOL_FAILURE);
  return ExchangeOutcome{-1, failure, TARVO_PROTOCOL_FAILURE};
}

struct ReadResult {
  uint32_t retRead;
  uint32_t dwRead;
  bool GotByte() const { return retRead == 0 && dwRead != 0; }
};

// One byte into bufRx at rxCount, which the caller keeps below kMaxFrame so
// that the zero after it stays inside the buffer.
ReadResult ReadOneByte(ExchangeContext& d, uint32_t timeoutMs) {
  ReadResult r{0, 0};
  r.retRead = d.port.Read(d.bufRx + d.rxCount, 1, &r.dwRead, nullptr, timeoutMs);
  d.bufRx[d.rxCount + 1] = '\0';
  return r;
}

bool Abandoned(const ExchangeContext& d) { return d.abandoned.load() != 0; }

void PulseControlLines(ExchangeContext& d) {
  d.port.ClearRts();
  d.port.ClearDtr();
  sys::SleepMs(kBreakMs);
  d.port.SetRts();
  d.port.SetDtr();
}

// The printer fell silent: wake it with BREAK and control-line pulses. A
// byte it then sends takes the place of the missing one. When none comes,
// the port is closed and opened again and the exchange fails.
bool RecoverFromSilence(ExchangeContext& d, ReadResult* last) {
  d.savedTimeout = d.Timeout;
  for (int attempt = 0; attempt < kBreakAttempts; ++attempt) {
    // The session was ended from another thread: nobody waits for this
    // answer any more, and the port is to be closed, not woken.
    if (Abandoned(d)) return false;
    if (TraceVerbose()) LogLine(TRACE_BRK, LogTag(), attempt);
    d.port.SetBreak();
    sys::SleepMs(kBreakMs);
    d.port.ClearBreak();
    PulseControlLines(d);
    d.Timeout = kRecoveryTimeoutMs;
    *last = ReadOneByte(d, kRecoveryTimeoutMs);
    if (last->GotByte()) {
      d.Timeout = d.savedTimeout;
      if (TraceVerbose()) LogLine(TRACE_RESPOK, LogTag());
      return true;
    }
  }
  for (int i = 0; i < kFinalPulses; ++i) PulseControlLines(d);
  sys::SleepMs(kFinalWaitMs);
  *last = ReadOneByte(d, static_cast<uint32_t>(d.Timeout));
  d.Timeout = d.savedTimeout;
  if (last->GotByte()) return true;
  if (Abandoned(d)) return false;

  // A network port is left open: it heals its link by itself, reading as
  // CTS down meanwhile, where a failed re-open would end the session.
  if (d.port.Heals()) return false;
  // Re-opened at the session's own rate: a printer set to another rate in
  // the line settings must stay reachable after one silent moment.
  d.port.Close();
  d.port.Open(d.portName, kQueueSize, kQueueSize, 1);
  d.port.Configure(d.lineRate != 0 ? d.lineRate : kFallbackRate, kByteSize, kParityEven,
                   kOneStopBit);
  return false;
}

bool WaitForCts(ExchangeContext& d) {
  if (!d.port.IsCtsOn()) {
    d.ctsReady = 0;
    LogLine(TRACE_CTS1, LogTag());
    return false;
  }
  if (d.ctsReady == 0) {
    // After a loss, CTS must hold for 20 seconds before anything is sent.
    for (int i = 0; i < kCtsHoldChecks; ++i) {
      if (!d.port.IsCtsOn()) {
        LogLine(TRACE_CTS2, LogTag());
        return false;
      }
      sys::SleepMs(kCtsHoldIntervalMs);
    }
    d.ctsReady = 1;
  }
  return true;
}

void BeginFrame(ExchangeContext& d, FrameReceiver* receiver, const char* command) {
  d.bufRx[0] = '\0';
  d.rxCount = 0;
  receiver->Begin(FollowsQuotes(command));
}

// Writes bufTx whole, without limit of time.
bool SendRequest(ExchangeContext& d) {
  if (TraceVerbose()) LogLine(TRACE_BUF_TX, LogTag(), d.bufTx);
  d.txLength = static_cast<int>(BoundedLength(d.bufTx, sizeof d.bufTx));
  const uint32_t retWrite =
      d.port.Write(d.bufTx, static_cast<uint32_t>(d.txLength), nullptr, nullptr, sys::kInfinite);
  if (retWrite == 0) return true;
  LogLine(TRACE_RET_WRITE, LogTag(), static_cast<int>(sys::ErrorNumber(retWrite)));
  return false;
}

}  // namespace

void StoreAnswer(ExchangeContext& d, const char* frame, const DecodeResult& r) {
  CopyBytes(d.respCopy, sizeof d.respCopy, frame, r.keptLength);
  if (r.kind != DecodeResult::Accepted) return;
  CopyBytes(d.errCodeText, sizeof d.errCodeText, r.codeText.text, r.codeText.length);
  d.respFields[0] = '\0';
  if (r.values.Present()) {
    CopyBytes(d.respFields, sizeof d.respFields, r.values.text, r.values.length);
    if (r.valuesEndMark) AppendText(d.respFields, ";");
  }
  if (r.success) {
    CopyText(d.nomeErro, "OK");
    d.circunstancia[0] = '\0';
  } else {
    // A text the answer does not carry leaves the field as it was.
    const TextSpan& name = r.errorName;
    const TextSpan& circumstance = r.circumstance;
    if (name.Present()) CopyBytes(d.nomeErro, sizeof d.nomeErro, name.text, name.length);
    if (circumstance.Present()) {
      CopyBytes(d.circunstancia, sizeof d.circunstancia, circumstance.text, circumstance.length);
    }
  }
  d.CodigoUltimoErro = r.code;
}

ExchangeOutcome RunExchange(ExchangeContext& d, const char* idText, const char* command,
                            const char* params) {
  const int idSent = ReadDecimal(idText);
  d.bufRx[0] = '\0';
  d.CodigoUltimoErro = 0;
  BuildRequest(d.bufTx, sizeof d.bufTx, idText, command, params);

  if (!WaitForCts(d)) return Fail(d, ExchangeOutcome::NoCts);
  if (!SendRequest(d)) return Fail(d, ExchangeOutcome::Transmit);

  FrameReceiver receiver;
  BeginFrame(d, &receiver, command);
  for (;;) {
    if (d.rxCount >= kMaxFrame) {
      // A frame that has filled bufRx without ending is not an answer.
      LogLine(TRACE_OVERFLOW, LogTag(), d.rxCount);
      return Fail(d, ExchangeOutcome::Receive);
    }
    if (!d.port.IsCtsOn()) {
      d.ctsReady = 0;
      LogLine(TRACE_CTS3, LogTag());
      return Fail(d, ExchangeOutcome::NoCts);
    }
    ReadResult read = ReadOneByte(d, static_cast<uint32_t>(d.Timeout));
    if (!read.GotByte() && !RecoverFromSilence(d, &read)) {
      LogLine(TRACE_RET_READ, LogTag(), static_cast<int>(sys::ErrorNumber(read.retRead)),
              d.bRetrans, static_cast<int>(read.dwRead));
      return Fail(d, ExchangeOutcome::Receive);
    }
    const char byte = d.bufRx[d.rxCount];
    const FrameReceiver::Step step = receiver.Take(d.bufRx, &d.rxCount);
    if (step == FrameReceiver::Step::Discarded) {
      LogLine(TRACE_DISCARD, LogTag(), d.rxCount, byte);
      continue;
    }
    if (step != FrameReceiver::Step::Complete) continue;

    if (TraceVerbose()) LogLine(TRACE_BUF_RX, LogTag(), d.bufRx);
    const DecodeResult decoded = DecodeResponse(d.bufRx, static_cast<size_t>(d.rxCount), idSent);
    StoreAnswer(d, d.bufRx, decoded);
    switch (decoded.kind) {
      case DecodeResult::Accepted:
        return ExchangeOutcome{1, ExchangeOutcome::None, d.CodigoUltimoErro};
      case DecodeResult::IdMismatch:
        LogLine(TRACE_STALE, LogTag(), decoded.idReceived, idSent, 1);
        BeginFrame(d, &receiver, command);
        continue;
      case DecodeResult::LengthMismatch:
      case DecodeResult::Malformed:
        // Ret=-1 marks an intact frame whose id or code field can't be read.
        LogLine(TRACE_BAD_LENGTH, LogTag(), decoded.kind == DecodeResult::Malformed ? -1 : 0,
                decoded.received, decoded.computed, d.bRetrans);
        return Fail(d, ExchangeOutcome::Section);
    }
  }
}

int EnviaComando(ExchangeContext& d, const char* idText, const char* command, const char* params) {
  return RunExchange(d, idText, command, params).result;
}

}  // namespace tarvo
