// The session's and the facade's lines: start-ups and their phases, facade
// operations, and the notes of a session (the registry, the port's open).
#include "report/decoder.h"
#include "serial/rfc2217.h"

namespace tarvo::report {

void Decoder::StartupLine(const Record& r, const TraceLineMatch& m) {
  const auto field = [&m](size_t i) { return FieldNumber(i < m.count ? m.fields[i] : ""); };
  if (m.line == TraceLine::FcInicio) {
    Startup s;
    s.time = r.time;
    s.stamp = std::string(r.stamp);
    s.port = std::string(m.fields[0]);
    s.level = field(1);
    out_.level = s.level;
    out_.startups.push_back(s);
    startup_ = static_cast<int>(out_.startups.size() - 1);
    startupActive_ = true;
    Phase(r, "start-up on " + s.port + ", trace level " + std::to_string(s.level));
    return;
  }
  if (m.line == TraceLine::FcNivel) out_.level = field(0);
  if (startup_ < 0) return;  // a log that starts after its start-up
  Startup& s = out_.startups[startup_];
  const bool scan = s.port.size() >= 4 && (s.port[3] == 'U' || s.port[3] == 'u');
  switch (m.line) {
    case TraceLine::FcIniciaFailed:
      s.result = "port not opened";
      startupActive_ = false;
      Phase(r, "the port could not be opened (IniciaDriver gave " + std::to_string(field(0)) + ")");
      break;
    case TraceLine::FcScanOpen:
      Phase(r, "scan: USB" + std::to_string(field(0)) + " is COM" + std::to_string(field(0) + 7));
      break;
    case TraceLine::FcScanFailed:
      Phase(r, "scan: no printer on USB" + std::to_string(field(0)));
      if (field(0) >= 15) {
        s.result = "no port answered";
        startupActive_ = false;
      }
      break;
    case TraceLine::FcIdentifyFailed:
      s.result = "identification failed (" + std::to_string(field(0)) + ")";
      Phase(r, "identification failed with code " + std::to_string(field(0)) + " after " +
                   std::to_string(field(1)) + (field(1) == 1 ? " try" : " tries"));
      if (!scan) startupActive_ = false;
      break;
    case TraceLine::FcFim:
      s.result = "ok";
      startupActive_ = false;
      Phase(r, "printer identified; the trace moves to the printer's own log");
      break;
    case TraceLine::FcNivel:
      Phase(r, "printer's log opened, trace level " + std::to_string(field(0)));
      break;
    default: break;
  }
}

// An exchange ends by its own lines: a facade or session line from another
// thread may come in the middle of one (a refused FC_Operacao, an
// EncerraDriver that closes the port under it). Only a start-up or a new
// session ends an exchange whose end the log does not tell.
void Decoder::Facade(const Record& r, const TraceLineMatch& m) {
  if (m.line == TraceLine::FcOperacao) {
    Operation op;
    op.time = r.time;
    op.stamp = std::string(r.stamp);
    op.command = std::string(m.fields[1]);
    op.startup = startupActive_;
    out_.operations.push_back(op);
    op_ = static_cast<int>(out_.operations.size() - 1);
  } else if (m.line == TraceLine::FcFinaliza) {
    op_ = -1;
    startupActive_ = false;
  } else {
    if (m.line == TraceLine::FcInicio) EndUnfinished();
    if (m.line == TraceLine::FcInicio) op_ = -1;
    StartupLine(r, m);
  }
}

void Decoder::Session(const Record& r, const TraceLineMatch& m) {
  switch (m.line) {
    case TraceLine::IniciaPorta:
      EndUnfinished();
      op_ = -1;
      networkPort_ = rfc2217::HasScheme(std::string(m.fields[0]).c_str());
      networkDown_ = false;
      out_.network = out_.network || networkPort_;
      Phase(r, "IniciaDriver on " + std::string(m.fields[0]));
      break;
    case TraceLine::IniciaCanal:
      AddNote(r, "bad-channel");
      Phase(r, "the port name is not one the driver takes (its fourth character must be 0 to 8)");
      break;
    case TraceLine::IniciaRegOpen:
      AddNote(r, "no-registry");
      Phase(r, "no registry file: 115200 baud");
      break;
    case TraceLine::IniciaRegRead:
      AddNote(r, "registry-unreadable");
      Phase(r, "no usable CommSettings: 115200 baud");
      break;
    case TraceLine::IniciaRate:
    case TraceLine::IniciaSize:
    case TraceLine::IniciaParity:
    case TraceLine::IniciaStop:
      AddNote(r, "bad-settings");
      Phase(r, "a bad field in CommSettings: 115200 baud");
      break;
    case TraceLine::IniciaOpenFailed: {
      const int code = FieldNumber(m.fields[0]);
      AddNote(r, networkPort_ && IsLinkLoss(code) ? "network-open-failed" : "open-failed");
      out_.notes.back().codeWords = PlatformCodeWords(code, r.crlf);
      Phase(r, "open failed: " + out_.notes.back().codeWords);
      break;
    }
    case TraceLine::IniciaCom:
    case TraceLine::IniciaDevice:
      Phase(r, "device " + std::string(r.text.substr(r.text.find(' ') + 1)));
      break;
    case TraceLine::Encerra: op_ = -1; break;
    case TraceLine::TimeoutHandle: AddNote(r, "wrong-handle"); break;
    case TraceLine::TimeoutBusy: AddNote(r, "timeout-while-busy"); break;
    case TraceLine::NetLost:
    case TraceLine::NetRetryFailed:
    case TraceLine::NetBack:
    case TraceLine::NetFlood: AddNote(r, "network-link"); break;
    default: break;
  }
  // ExecutaComando retCom=, Retorno, ObtemNomeErro and ObtemCircunstancia
  // repeat what the exchange already told.
}

const char* OutcomeKey(Outcome o) {
  switch (o) {
    case Outcome::Ok: return "ok";
    case Outcome::PrinterError: return "printer-error";
    case Outcome::NoAnswer: return "no-answer";
    case Outcome::BadLength: return "bad-length";
    case Outcome::NoCts: return "no-cts";
    case Outcome::WriteError: return "write-error";
    case Outcome::Overflow: return "overflow";
    case Outcome::Unfinished: break;
  }
  return "unfinished";
}

const char* OutcomeWords(Outcome o) {
  switch (o) {
    case Outcome::Ok: return "answered";
    case Outcome::PrinterError: return "refused by the printer";
    case Outcome::NoAnswer: return "no answer";
    case Outcome::BadLength: return "damaged answer";
    case Outcome::NoCts: return "no CTS";
    case Outcome::WriteError: return "write failed";
    case Outcome::Overflow: return "endless answer";
    case Outcome::Unfinished: break;
  }
  return "end not traced";
}

bool IsProtocolFailure(Outcome o) {
  return o != Outcome::Ok && o != Outcome::PrinterError && o != Outcome::Unfinished;
}

}  // namespace tarvo::report
