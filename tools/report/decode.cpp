#include "report/decode.h"

#include <array>
#include <climits>
#include <cstring>

#include "common/numbers.h"

namespace tarvo::report {

namespace {

constexpr int kProtocolFailure = 11010;
constexpr int kTimedOut = 1460;
constexpr size_t kShownDiscards = 16;

const std::array<const char*, 11> kCalls = {"EnviaComando",       "IniciaDriver",   "EncerraDriver",
                                            "DefineTimeout",      "ExecutaComando", "ObtemNomeErro",
                                            "ObtemCircunstancia", "Retorno",        "FC_Inicializa",
                                            "FC_Operacao",        "FC_Finaliza"};

struct Parsed {
  std::string_view call;     // "EnviaComando", or empty for an unknown line
  std::string_view message;  // after the call's name, its tag and one blank
};

Parsed ParseText(std::string_view text) {
  for (const char* call : kCalls) {
    const size_t n = std::strlen(call);
    if (text.substr(0, n) != call) continue;
    const size_t blank = text.find(' ', n);
    return {text.substr(0, n), blank == std::string_view::npos ? "" : text.substr(blank + 1)};
  }
  return {"", text};
}

bool Starts(std::string_view s, std::string_view head) { return s.substr(0, head.size()) == head; }

// The decimal number after `key` in `s` (an optional sign, then the digits
// up to the first non-digit), or `fallback`.
int IntAfter(std::string_view s, std::string_view key, int fallback = 0) {
  const size_t at = s.find(key);
  if (at == std::string_view::npos) return fallback;
  size_t end = at + key.size();
  if (end < s.size() && (s[end] == '-' || s[end] == '+')) ++end;
  while (end < s.size() && s[end] >= '0' && s[end] <= '9') ++end;
  long long v = 0;
  const std::string_view number = s.substr(at + key.size(), end - at - key.size());
  if (!tools::ParseInteger(number, INT_MIN, INT_MAX, &v)) return fallback;
  return static_cast<int>(v);
}

// The fields of a frame "{a;b;...;len}": split at ';' outside quotes.
std::vector<std::string_view> FrameFields(std::string_view frame) {
  std::vector<std::string_view> fields;
  if (frame.size() < 2 || frame.front() != '{') return fields;
  frame = frame.substr(1);
  if (!frame.empty() && frame.back() == '}') frame.remove_suffix(1);
  bool quoted = false;
  size_t begin = 0;
  for (size_t i = 0; i < frame.size(); ++i) {
    if (frame[i] == '"') quoted = !quoted;
    if (frame[i] == ';' && !quoted) {
      fields.push_back(frame.substr(begin, i - begin));
      begin = i + 1;
    }
  }
  fields.push_back(frame.substr(begin));
  return fields;
}

// The quoted value NAME="..." inside an answer's values.
std::string QuotedValue(std::string_view values, std::string_view name) {
  const std::string key = std::string(name) + "=\"";
  const size_t at = values.find(key);
  if (at == std::string_view::npos) return "";
  const size_t begin = at + key.size();
  const size_t end = values.find('"', begin);
  return std::string(values.substr(begin, end == std::string_view::npos ? end : end - begin));
}

bool NeverResent(std::string_view command) {
  return command == "VendeItem" || command == "AbreCreditoDebito" || command == "EmiteReducaoZ";
}

class Decoder {
 public:
  Report Run(const std::vector<Record>& records);

 private:
  void Take(const Record& r);
  void Engine(const Record& r, std::string_view m);
  void Session(const Record& r, std::string_view call, std::string_view m);
  void Facade(const Record& r, std::string_view call, std::string_view m);
  void StartupLine(const Record& r, std::string_view m);

  Exchange& Current(const Record& r);
  void NewExchange(const Record& r, std::string_view frame);
  void AcceptPending();
  void EndUnfinished();
  void Fail(const Record& r, Outcome o, const char* circumstance, std::string_view detail);
  void AddNote(const Record& r, const char* kind);
  void Phase(const Record& r, const std::string& words);

  Report out_;
  int open_ = -1;  // the exchange whose end is still to come
  bool pending_ = false;
  std::string pendingFrame_;
  int64_t pendingTime_ = 0;
  int op_ = -1;  // the facade operation whose exchanges may still come
  int startup_ = -1;
  bool startupActive_ = false;
  bool ctsLost_ = false;  // the next exchange that gets through held CTS
};

void Decoder::Phase(const Record& r, const std::string& words) {
  if (startup_ >= 0) out_.startups[startup_].phases.emplace_back(std::string(r.stamp), words);
}

void Decoder::AddNote(const Record& r, const char* kind) {
  out_.notes.push_back({std::string(r.stamp), kind, std::string(r.text), ""});
}

void Decoder::AcceptPending() {
  if (!pending_) return;
  pending_ = false;
  if (open_ < 0) return;
  Exchange& e = out_.exchanges[open_];
  e.answer = pendingFrame_;
  e.end = pendingTime_;
  const auto fields = FrameFields(pendingFrame_);
  e.code = fields.size() > 1 ? IntAfter(fields[1], "") : 0;
  e.outcome = e.code == 0 ? Outcome::Ok : Outcome::PrinterError;
  if (fields.size() > 2) {
    e.errorName = QuotedValue(fields[2], "NomeErro");
    e.circumstance = QuotedValue(fields[2], "Circunstancia");
  }
  if (e.code == 0) e.errorName = "OK";
  open_ = -1;
}

void Decoder::EndUnfinished() {
  AcceptPending();
  open_ = -1;
}

void Decoder::NewExchange(const Record& r, std::string_view frame) {
  Exchange e;
  e.start = e.end = r.time;
  e.stamp = std::string(r.stamp);
  if (!frame.empty()) {
    e.request = std::string(frame);
    const auto fields = FrameFields(frame);
    if (fields.size() >= 3) {
      e.id = IntAfter(fields[0], "", -1);
      e.command = std::string(fields[1]);
      e.params = std::string(fields[2]);
    }
  }
  if (op_ >= 0) {
    Operation& op = out_.operations[op_];
    const bool first = op.exchanges.empty();
    const bool resendable = !first && op.exchanges.size() < 3 && !NeverResent(op.command) &&
                            IsProtocolFailure(out_.exchanges[op.exchanges.back()].outcome);
    if (first || resendable) {
      e.operation = op_;
      e.resend = !first;
      if (e.command.empty()) e.command = op.command;
    } else {
      op_ = -1;
    }
  }
  if (!e.resend && !out_.exchanges.empty() && !e.request.empty()) {
    const Exchange& before = out_.exchanges.back();
    e.resend = before.request == e.request && IsProtocolFailure(before.outcome);
  }
  if (ctsLost_ && !frame.empty()) {
    e.ctsHeld = true;
    ctsLost_ = false;
  }
  out_.exchanges.push_back(e);
  if (e.operation >= 0) {
    out_.operations[e.operation].exchanges.push_back(static_cast<int>(out_.exchanges.size() - 1));
  }
  open_ = static_cast<int>(out_.exchanges.size() - 1);
}

Exchange& Decoder::Current(const Record& r) {
  if (open_ < 0) NewExchange(r, "");
  return out_.exchanges[open_];
}

void Decoder::Fail(const Record& r, Outcome o, const char* circumstance, std::string_view detail) {
  Exchange& e = Current(r);
  e.outcome = o;
  e.end = r.time;
  e.code = kProtocolFailure;
  e.errorName = "ErroProtTimeout";
  e.circumstance = circumstance;
  e.detail = std::string(detail);
  if (IntAfter(detail, "bRetrans=") == 1) e.resend = true;
  open_ = -1;
}

void Decoder::Engine(const Record& r, std::string_view m) {
  if (Starts(m, "bufTx=")) {
    EndUnfinished();
    std::string_view frame = m.substr(6);
    if (!frame.empty() && frame.back() == ' ') frame.remove_suffix(1);
    NewExchange(r, frame);
  } else if (Starts(m, "Descartando bufRx[")) {
    Exchange& e = Current(r);
    ++e.discarded;
    const size_t eq = m.find("]=");
    if (eq != std::string_view::npos && e.discardedBytes.size() < kShownDiscards) {
      const std::string_view byte = m.substr(eq + 2, 1);
      e.discardedBytes += byte.empty() ? std::string_view("\n") : byte;
    }
  } else if (Starts(m, "BRK-")) {
    Exchange& e = Current(r);
    e.breakAttempts = IntAfter(m, "BRK-") + 1;
  } else if (m == "<RESPOK>") {
    Current(r).wokeByBreak = true;
  } else if (Starts(m, "bufRx=")) {
    Current(r);
    pending_ = true;
    pendingFrame_ = std::string(m.substr(6));
    pendingTime_ = r.time;
  } else if (Starts(m, "IdCmdRecebido=")) {
    pending_ = false;
    Current(r).staleIds.push_back(IntAfter(m, "IdCmdRecebido="));
  } else if (Starts(m, "Ret=")) {
    pending_ = false;
    Exchange& e = Current(r);
    e.lengthReceived = IntAfter(m, "CRCREC=");
    e.lengthComputed = IntAfter(m, "CRCCALC=");
    Fail(r, Outcome::BadLength, "Erro de Secao ou CRC", m);
  } else if (Starts(m, "retRead=")) {
    Exchange& e = Current(r);
    e.retRead = IntAfter(m, "retRead=");
    e.reopened = true;
    if (e.retRead != kTimedOut) e.codeWords = PlatformCodeWords(e.retRead, r.crlf);
    Fail(r, Outcome::NoAnswer, "Erro de Recepcao", m);
  } else if (Starts(m, "retWrite=")) {
    Exchange& e = Current(r);
    e.retWrite = IntAfter(m, "retWrite=");
    e.codeWords = PlatformCodeWords(e.retWrite, r.crlf);
    Fail(r, Outcome::WriteError, "Erro de Transmissao", m);
  } else if (Starts(m, "CTS_") && m.size() >= 5) {
    if (m[4] != '3') EndUnfinished();
    Exchange& e = Current(r);
    e.ctsLost = true;
    e.ctsStage = m[4];
    ctsLost_ = true;
    Fail(r, Outcome::NoCts, "Sem sinal de CTS", m);
  } else if (Starts(m, "Estouro de bufRx")) {
    Fail(r, Outcome::Overflow, "Erro de Recepcao", m);
  } else {
    ++out_.unknownLines;
  }
}

void Decoder::StartupLine(const Record& r, std::string_view m) {
  if (Starts(m, "<INICIO>")) {
    Startup s;
    s.time = r.time;
    s.stamp = std::string(r.stamp);
    const size_t p = m.find("Porta=");
    const size_t n = m.rfind(" Nivel Log=");
    if (p != std::string_view::npos && n != std::string_view::npos && n >= p + 6) {
      s.port = std::string(m.substr(p + 6, n - p - 6));
    }
    s.level = IntAfter(m, "Nivel Log=");
    out_.startups.push_back(s);
    startup_ = static_cast<int>(out_.startups.size() - 1);
    startupActive_ = true;
    Phase(r, "start-up on " + s.port + ", trace level " + std::to_string(s.level));
    return;
  }
  if (startup_ < 0) {
    // A log that starts after its start-up: only the printer's log line.
    if (!Starts(m, "Nivel Log=")) ++out_.unknownLines;
    return;
  }
  Startup& s = out_.startups[startup_];
  const bool scan = s.port.size() >= 4 && (s.port[3] == 'U' || s.port[3] == 'u');
  if (Starts(m, "Erro apos IniciaDriver")) {
    s.result = "port not opened";
    startupActive_ = false;
    Phase(r, "the port could not be opened (IniciaDriver gave " +
                 std::to_string(IntAfter(m, "HVesko[")) + ")");
  } else if (Starts(m, "Abrindo comunicacao com a porta USB")) {
    const int n = IntAfter(m, "porta USB");
    Phase(r, "scan: USB" + std::to_string(n) + " is COM" + std::to_string(n + 7));
  } else if (Starts(m, "Erro na inicializacao da USB")) {
    const int n = IntAfter(m, "da USB");
    Phase(r, "scan: no printer on USB" + std::to_string(n));
    if (n >= 15) {
      s.result = "no port answered";
      startupActive_ = false;
    }
  } else if (Starts(m, "Erro[")) {
    const int code = IntAfter(m, "Erro[");
    const int tries = IntAfter(m, "retry[");
    s.result = "identification failed (" + std::to_string(code) + ")";
    Phase(r, "identification failed with code " + std::to_string(code) + " after " +
                 std::to_string(tries) + (tries == 1 ? " try" : " tries"));
    if (!scan) startupActive_ = false;
  } else if (Starts(m, "<FIM>")) {
    s.result = "ok";
    startupActive_ = false;
    Phase(r, "printer identified; the trace moves to the printer's own log");
  } else if (Starts(m, "Nivel Log=")) {
    Phase(r, "printer's log opened, trace level " + std::to_string(IntAfter(m, "Nivel Log=")));
  } else {
    ++out_.unknownLines;
  }
}

// An exchange ends by its own lines: a facade or session line from another
// thread may come in the middle of one (a refused FC_Operacao, an
// EncerraDriver that closes the port under it). Only a start-up or a new
// session ends an exchange whose end the log does not tell.
void Decoder::Facade(const Record& r, std::string_view call, std::string_view m) {
  if (call == "FC_Operacao") {
    Operation op;
    op.time = r.time;
    op.stamp = std::string(r.stamp);
    const size_t c = m.find("Cmd=");
    if (c != std::string_view::npos) op.command = std::string(m.substr(c + 4));
    op.startup = startupActive_;
    out_.operations.push_back(op);
    op_ = static_cast<int>(out_.operations.size() - 1);
  } else if (call == "FC_Inicializa") {
    EndUnfinished();
    op_ = -1;
    StartupLine(r, m);
  } else {  // FC_Finaliza
    op_ = -1;
    startupActive_ = false;
  }
}

void Decoder::Session(const Record& r, std::string_view call, std::string_view m) {
  if (call == "IniciaDriver") {
    EndUnfinished();
    op_ = -1;
    if (Starts(m, "PortaSerial=")) {
      Phase(r, "IniciaDriver on " + std::string(m.substr(12)));
    } else if (m == "Erro[canal]") {
      AddNote(r, "bad-channel");
      Phase(r, "the port name is not COM0..COM8 nor a /dev/ path");
    } else if (Starts(m, "Erro na abertura do Register")) {
      AddNote(r, "no-registry");
      Phase(r, "no registry file: 115200 baud");
    } else if (Starts(m, "Erro na leitura do Register")) {
      AddNote(r, "registry-unreadable");
      Phase(r, "no usable CommSettings: 115200 baud");
    } else if (Starts(m, "Erro de configuracao[")) {
      AddNote(r, "bad-settings");
      Phase(r, "a bad field in CommSettings: 115200 baud");
    } else if (Starts(m, "Erro [")) {
      AddNote(r, "open-failed");
      out_.notes.back().codeWords = PlatformCodeWords(IntAfter(m, "Erro ["), r.crlf);
      Phase(r, "open failed: " + out_.notes.back().codeWords);
    } else {
      Phase(r, "device " + std::string(m));
    }
  } else if (call == "EncerraDriver") {
    op_ = -1;
  } else if (call == "DefineTimeout") {
    if (m.find("diferente de fArq") != std::string_view::npos) AddNote(r, "wrong-handle");
    if (Starts(m, "Ha comando em execucao")) AddNote(r, "timeout-while-busy");
  }
  // ExecutaComando retCom=, Retorno, ObtemNomeErro and ObtemCircunstancia
  // repeat what the exchange already told.
}

void Decoder::Take(const Record& r) {
  const Parsed p = ParseText(r.text);
  const bool answerCheck = p.call == "EnviaComando" &&
                           (Starts(p.message, "IdCmdRecebido=") || Starts(p.message, "Ret="));
  if (!answerCheck) AcceptPending();
  if (p.call.empty()) {
    ++out_.unknownLines;
  } else if (p.call == "EnviaComando") {
    Engine(r, p.message);
  } else if (Starts(p.call, "FC_")) {
    Facade(r, p.call, p.message);
  } else {
    Session(r, p.call, p.message);
  }
}

Report Decoder::Run(const std::vector<Record>& records) {
  out_.records = records.size();
  if (!records.empty()) {
    out_.first = records.front().time;
    out_.last = records.back().time;
    out_.firstStamp = std::string(records.front().stamp);
    out_.lastStamp = std::string(records.back().stamp);
  }
  for (const Record& r : records) Take(r);
  AcceptPending();
  for (const Exchange& e : out_.exchanges) out_.verbose = out_.verbose || !e.request.empty();
  return std::move(out_);
}

}  // namespace

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

Report Decode(const std::vector<Record>& records) { return Decoder().Run(records); }

}  // namespace tarvo::report
