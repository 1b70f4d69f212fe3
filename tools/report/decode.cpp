#include "report/decode.h"

#include <climits>

#include "common/numbers.h"
#include "report/decoder.h"

namespace tarvo::report {

namespace {

constexpr int kProtocolFailure = 11010;
constexpr int kTimedOut = 1460;
constexpr size_t kShownDiscards = 16;

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

}  // namespace

int FieldNumber(std::string_view field, int fallback) {
  size_t end = 0;
  if (end < field.size() && (field[end] == '-' || field[end] == '+')) ++end;
  while (end < field.size() && field[end] >= '0' && field[end] <= '9') ++end;
  long long v = 0;
  if (!tools::ParseInteger(field.substr(0, end), INT_MIN, INT_MAX, &v)) return fallback;
  return static_cast<int>(v);
}

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
  e.code = fields.size() > 1 ? FieldNumber(fields[1]) : 0;
  e.outcome = e.code == 0 ? Outcome::Ok : Outcome::PrinterError;
  if (fields.size() > 2) {
    e.errorName = QuotedValue(fields[2], "NomeErro");
    e.circumstance = QuotedValue(fields[2], "Circunstancia");
  }
  if (e.code == 0) e.errorName = "OK";
  networkDown_ = false;
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
      e.id = FieldNumber(fields[0], -1);
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

void Decoder::Fail(const Record& r, Outcome o, const char* circumstance) {
  Exchange& e = Current(r);
  e.outcome = o;
  e.end = r.time;
  e.code = kProtocolFailure;
  e.errorName = "ErroProtTimeout";
  e.circumstance = circumstance;
  e.detail = std::string(r.text.substr(r.text.find(' ') + 1));
  // A port whose link went down is closed: until a session opens it again,
  // every exchange fails for want of CTS, and that is the link, not the
  // printer.
  const int code = e.retRead != 0 ? e.retRead : e.retWrite;
  if (networkPort_ && (IsLinkLoss(code) || (o == Outcome::NoCts && networkDown_))) {
    e.networkLost = true;
    networkDown_ = true;
  }
  open_ = -1;
}

// The failures of the port: no answer, a failed write, CTS lost.
void Decoder::PortFailure(const Record& r, const TraceLineMatch& m) {
  const int first = FieldNumber(m.count > 0 ? m.fields[0] : "");
  if (m.line == TraceLine::RetRead) {
    Exchange& e = Current(r);
    e.retRead = first;
    e.reopened = true;
    if (e.retRead != kTimedOut) e.codeWords = PlatformCodeWords(e.retRead, r.crlf);
    if (FieldNumber(m.fields[1]) == 1) e.resend = true;
    Fail(r, Outcome::NoAnswer, "Erro de Recepcao");
  } else if (m.line == TraceLine::RetWrite) {
    Exchange& e = Current(r);
    e.retWrite = first;
    e.codeWords = PlatformCodeWords(e.retWrite, r.crlf);
    Fail(r, Outcome::WriteError, "Erro de Transmissao");
  } else {
    if (m.line != TraceLine::Cts3) EndUnfinished();
    Exchange& e = Current(r);
    e.ctsLost = true;
    e.ctsStage = m.line == TraceLine::Cts1 ? '1' : (m.line == TraceLine::Cts2 ? '2' : '3');
    ctsLost_ = true;
    Fail(r, Outcome::NoCts, "Sem sinal de CTS");
  }
}

void Decoder::Engine(const Record& r, const TraceLineMatch& m) {
  const auto field = [&m](size_t i) { return FieldNumber(i < m.count ? m.fields[i] : ""); };
  switch (m.line) {
    case TraceLine::BufTx:
      EndUnfinished();
      NewExchange(r, m.fields[0]);
      break;
    case TraceLine::Discard: {
      Exchange& e = Current(r);
      ++e.discarded;
      if (e.discardedBytes.size() < kShownDiscards) {
        e.discardedBytes += m.fields[1].empty() ? std::string_view("\n") : m.fields[1];
      }
      break;
    }
    case TraceLine::Brk: Current(r).breakAttempts = field(0) + 1; break;
    case TraceLine::RespOk: Current(r).wokeByBreak = true; break;
    case TraceLine::BufRx:
      Current(r);
      pending_ = true;
      pendingFrame_ = std::string(m.fields[0]);
      pendingTime_ = r.time;
      break;
    case TraceLine::Stale:
      pending_ = false;
      Current(r).staleIds.push_back(field(0));
      break;
    case TraceLine::BadLength: {
      pending_ = false;
      Exchange& e = Current(r);
      e.lengthReceived = field(1);
      e.lengthComputed = field(2);
      Fail(r, Outcome::BadLength, "Erro de Secao ou CRC");
      if (field(3) == 1) e.resend = true;
      break;
    }
    case TraceLine::RetRead:
    case TraceLine::RetWrite:
    case TraceLine::Cts1:
    case TraceLine::Cts2:
    case TraceLine::Cts3: PortFailure(r, m); break;
    case TraceLine::Overflow: Fail(r, Outcome::Overflow, "Erro de Recepcao"); break;
    default: ++out_.unknownLines; break;
  }
}

void Decoder::Take(const Record& r) {
  const TraceLineMatch m = MatchTraceLine(r.text);
  const bool answerCheck = m.line == TraceLine::Stale || m.line == TraceLine::BadLength;
  if (!answerCheck) AcceptPending();
  const std::string_view call(TraceLineOf(m.line).format);
  if (m.line == TraceLine::Unknown) {
    ++out_.unknownLines;
  } else if (call.starts_with("EnviaComando")) {
    Engine(r, m);
  } else if (call.starts_with("FC_")) {
    Facade(r, m);
  } else {
    Session(r, m);
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
  Diagnose(&out_);
  return std::move(out_);
}

Report Decode(const std::vector<Record>& records) { return Decoder().Run(records); }

}  // namespace tarvo::report
