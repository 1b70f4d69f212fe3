#include "protocol/engine.h"

#include <cstring>

#include "common/text.h"
#include "driver/driver_state.h"
#include "protocol/frame.h"
#include "trace/trace.h"

namespace tarvo {

namespace {

constexpr int kCtsHoldChecks = 200;
constexpr uint32_t kCtsHoldIntervalMs = 100;
constexpr int kBreakAttempts = 20;
constexpr uint32_t kBreakMs = 55;
constexpr int kRecoveryTimeoutMs = 55;
constexpr int kFinalPulses = 10;
constexpr uint32_t kFinalWaitMs = 110;
constexpr int kProtocolFailure = 11010;

constexpr const char* kNoCts = "Sem sinal de CTS";
constexpr const char* kTransmitError = "Erro de Transmissao";
constexpr const char* kReceiveError = "Erro de Recepcao";
constexpr const char* kSectionError = "Erro de Secao ou CRC";

// The most bytes one frame may hold: each stored byte is followed by a zero.
constexpr int kMaxFrame = static_cast<int>(sizeof DriverState::bufRx) - 1;

int Fail(const char* circumstance) {
  DriverState& d = driverState;
  d.CodigoUltimoErro = kProtocolFailure;
  CopyText(d.nomeErro, "ErroProtTimeout");
  CopyText(d.circunstancia, circumstance);
  CopyText(d.errCodeText, "11010");
  return -1;
}

struct ReadResult {
  uint32_t retRead;
  uint32_t dwRead;
  bool GotByte() const { return retRead == 0 && dwRead != 0; }
};

// One byte into bufRx at rxCount, which the caller keeps below kMaxFrame so
// that the zero after it stays inside the buffer.
ReadResult ReadOneByte(uint32_t timeoutMs) {
  DriverState& d = driverState;
  ReadResult r{0, 0};
  r.retRead = d.port.Read(d.bufRx + d.rxCount, 1, &r.dwRead, nullptr, timeoutMs);
  d.bufRx[d.rxCount + 1] = '\0';
  return r;
}

void PulseControlLines() {
  DriverState& d = driverState;
  d.port.ClearRts();
  d.port.ClearDtr();
  sys::SleepMs(kBreakMs);
  d.port.SetRts();
  d.port.SetDtr();
}

// The printer fell silent: wake it with BREAK and control-line pulses. A
// byte it then sends takes the place of the missing one. When none comes,
// the port is closed and opened again and the exchange fails.
bool RecoverFromSilence(ReadResult* last) {
  DriverState& d = driverState;
  d.savedTimeout = d.Timeout;
  for (int attempt = 0; attempt < kBreakAttempts; ++attempt) {
    if (TraceVerbose()) LogLine("EnviaComando%s BRK-%02d\n", LogTag(), attempt);
    d.port.SetBreak();
    sys::SleepMs(kBreakMs);
    d.port.ClearBreak();
    PulseControlLines();
    d.Timeout = kRecoveryTimeoutMs;
    *last = ReadOneByte(kRecoveryTimeoutMs);
    if (last->GotByte()) {
      d.Timeout = d.savedTimeout;
      if (TraceVerbose()) LogLine("EnviaComando%s <RESPOK>\n", LogTag());
      return true;
    }
  }
  for (int i = 0; i < kFinalPulses; ++i) PulseControlLines();
  sys::SleepMs(kFinalWaitMs);
  *last = ReadOneByte(static_cast<uint32_t>(d.Timeout));
  d.Timeout = d.savedTimeout;
  if (last->GotByte()) return true;

  // Re-opened at the session's own rate: a printer set to another rate in
  // the line settings must stay reachable after one silent moment.
  d.port.Close();
  d.port.Open(d.portName, kQueueSize, kQueueSize, 1);
  d.port.Configure(d.lineRate != 0 ? d.lineRate : kFallbackRate, kByteSize, kParityEven,
                   kOneStopBit);
  return false;
}

bool WaitForCts() {
  DriverState& d = driverState;
  if (!d.port.IsCtsOn()) {
    d.ctsReady = 0;
    LogLine("EnviaComando%s CTS_1 OUT\n", LogTag());
    return false;
  }
  if (d.ctsReady == 0) {
    // After a loss, CTS must hold for 20 seconds before anything is sent.
    for (int i = 0; i < kCtsHoldChecks; ++i) {
      if (!d.port.IsCtsOn()) {
        LogLine("EnviaComando%s CTS_2 OUT\n", LogTag());
        return false;
      }
      sys::SleepMs(kCtsHoldIntervalMs);
    }
    d.ctsReady = 1;
  }
  return true;
}

void BeginFrame(FrameReceiver* receiver, const char* command) {
  DriverState& d = driverState;
  d.bufRx[0] = '\0';
  d.rxCount = 0;
  receiver->Begin(FollowsQuotes(command));
}

}  // namespace

int EnviaComando(const char* idText, const char* command, const char* params) {
  DriverState& d = driverState;
  const int idSent = ReadDecimal(idText);
  d.bufRx[0] = '\0';
  d.CodigoUltimoErro = 0;
  BuildRequest(idText, command, params);

  if (!WaitForCts()) return Fail(kNoCts);

  if (TraceVerbose()) LogLine("EnviaComando%s bufTx=%s \n", LogTag(), d.bufTx);
  d.txLength = static_cast<int>(BoundedLength(d.bufTx, sizeof d.bufTx));
  const uint32_t retWrite =
      d.port.Write(d.bufTx, static_cast<uint32_t>(d.txLength), nullptr, nullptr, sys::kInfinite);
  if (retWrite != 0) {
    LogLine("EnviaComando%s retWrite=%d\n", LogTag(), static_cast<int>(retWrite));
    return Fail(kTransmitError);
  }

  FrameReceiver receiver;
  BeginFrame(&receiver, command);
  for (;;) {
    if (d.rxCount >= kMaxFrame) {
      // A frame that has filled bufRx without ending is not an answer.
      LogLine("EnviaComando%s Estouro de bufRx rxCount=%d\n", LogTag(), d.rxCount);
      return Fail(kReceiveError);
    }
    if (!d.port.IsCtsOn()) {
      d.ctsReady = 0;
      LogLine("EnviaComando%s CTS_3 OUT\n", LogTag());
      return Fail(kNoCts);
    }
    ReadResult read = ReadOneByte(static_cast<uint32_t>(d.Timeout));
    if (!read.GotByte() && !RecoverFromSilence(&read)) {
      LogLine("EnviaComando%s retRead=%d bRetrans=%d dwRead=%d\n", LogTag(),
              static_cast<int>(read.retRead), d.bRetrans, static_cast<int>(read.dwRead));
      return Fail(kReceiveError);
    }
    const char byte = d.bufRx[d.rxCount];
    const FrameReceiver::Step step = receiver.Take(d.bufRx, &d.rxCount);
    if (step == FrameReceiver::Step::Discarded) {
      LogLine("EnviaComando%s Descartando bufRx[%d]=%c\n", LogTag(), d.rxCount, byte);
      continue;
    }
    if (step != FrameReceiver::Step::Complete) continue;

    if (TraceVerbose()) LogLine("EnviaComando%s bufRx=%s\n", LogTag(), d.bufRx);
    const DecodeResult decoded = DecodeResponse(d.bufRx, static_cast<size_t>(d.rxCount), idSent);
    switch (decoded.kind) {
      case DecodeResult::Accepted: return 1;
      case DecodeResult::IdMismatch:
        LogLine("EnviaComando%s IdCmdRecebido=%d IdCmdEnviado=%d bDescartaResp=%d\n", LogTag(),
                decoded.idReceived, idSent, 1);
        BeginFrame(&receiver, command);
        continue;
      case DecodeResult::LengthMismatch:
      case DecodeResult::Malformed:
        // Ret=-1 marks an intact frame whose id or code field can't be read.
        LogLine("EnviaComando%s Ret=%d CRCREC=%d CRCCALC=%d bRetrans=%d\n", LogTag(),
                decoded.kind == DecodeResult::Malformed ? -1 : 0, decoded.received,
                decoded.computed, d.bRetrans);
        return Fail(kSectionError);
    }
  }
}

}  // namespace tarvo
