#include "emulator/session.h"

#include <climits>
#include <cstdlib>
#include <sstream>

#include "common/escape.h"
#include "common/numbers.h"

namespace tarvo::emu {

namespace {

bool ReadCount(const std::string& word, int max, int* out) {
  long long v = 0;
  if (!tools::ParseInteger(word, 0, max, &v)) return false;
  *out = static_cast<int>(v);
  return true;
}

// Shows a frame on one line: bytes outside printable ASCII as \xHH.
std::string Visible(std::string_view bytes) {
  return tools::Escape(bytes, tools::EscapeStyle::Frame);
}

// The leading digits of text as a number (0 when there are none).
long long LeadingNumber(std::string_view text) {
  long long n = 0;
  tools::ParseInteger(text.substr(0, text.find_first_not_of("0123456789")), 0, LLONG_MAX, &n);
  return n;
}

std::string OtherId(std::string_view id) {
  const long long n = LeadingNumber(id);
  return std::to_string(n <= 1 ? 255 : n - 1);
}

}  // namespace

std::string NoiseBytes(int count) {
  static const char kNoise[] = "\xff\x00~#@\x13\x11*";
  std::string out;
  for (int i = 0; i < count; ++i) out.push_back(kNoise[i % (sizeof kNoise - 1)]);
  return out;
}

bool ApplyFaultCommand(std::string_view line, Faults* f, std::string* error) {
  std::istringstream in{std::string(line)};
  std::string word, a, b, extra;
  in >> word >> a >> b >> extra;
  if (word.empty() || word[0] == '#') return true;
  if (word == "clear") {
    *f = Faults{};
    return true;
  }
  const struct Counter {
    const char* name;
    int* field;
    int max;
  } counters[] = {
      {"silence", &f->silence, 1000},  {"deaf", &f->deaf, 1000}, {"badlength", &f->badLength, 1000},
      {"stale", &f->stale, 1000},      {"cut", &f->cut, 1000},   {"delay", &f->delayMs, 600000},
      {"pace", &f->paceBaud, 4000000},
  };
  int n = 0;
  for (const auto& c : counters) {
    if (word != c.name) continue;
    if (a.empty()) a.assign(1, '1');
    if (!b.empty() || !ReadCount(a, c.max, &n)) {
      *error = "usage: " + std::string(c.name) + " N (0 to " + std::to_string(c.max) + ")";
      return false;
    }
    if (word == "pace" && n != 0 && n < 50) {
      *error = "pace: a line rate of at least 50 baud, or 0 for none";
      return false;
    }
    *c.field = n;
    return true;
  }
  if (word == "noise") {
    int count = 1;
    if (!extra.empty() || !ReadCount(a, 4096, &n) || (!b.empty() && !ReadCount(b, 1000, &count))) {
      *error = "usage: noise BYTES [ANSWERS]";
      return false;
    }
    f->noiseBytes = n;
    f->noiseCount = n == 0 ? 0 : count;
    return true;
  }
  *error = "unknown fault '" + word + "' (silence, deaf, badlength, stale, cut, noise, delay, " +
           "pace, clear)";
  return false;
}

std::string DescribeFaults(const Faults& f) {
  std::ostringstream out;
  out << "noise " << f.noiseBytes << " x" << f.noiseCount << ", silence " << f.silence << ", deaf "
      << f.deaf << ", badlength " << f.badLength << ", stale " << f.stale << ", cut " << f.cut
      << ", delay " << f.delayMs << " ms, pace "
      << (f.paceBaud ? std::to_string(f.paceBaud) + " baud" : std::string("off"));
  return out.str();
}

Outcome Session::Receive(std::string_view bytes, const DateTime& now) {
  Outcome outcome;
  for (char c : bytes) {
    if (auto frame = framer_.Push(c)) Answer(*frame, now, &outcome);
  }
  return outcome;
}

void Session::Answer(std::string_view frame, const DateTime& now, Outcome* outcome) {
  outcome->log += "<- " + Visible(frame) + "\n";
  if (faults_.deaf > 0) {
    --faults_.deaf;
    outcome->log += "   (deaf: request not heard)\n";
    return;
  }
  Request request;
  const RequestCheck check = ParseRequest(frame, &request);
  if (check != RequestCheck::Ok) {
    // Not carried out and not remembered: the host's resend must be heard.
    const auto answer =
        ErrorAnswer(kBadFrame, check == RequestCheck::BadLength ? "Tamanho do quadro nao confere"
                                                                : "Quadro malformado");
    Send(BuildAnswer(request.id, answer.code, answer.values), request.id, outcome);
    return;
  }
  const std::string key = request.id + ";" + request.command + ";" + request.params;
  if (!lastRequest_.empty() && key == lastRequest_) {
    outcome->log += "   (resend: answered from memory, not carried out again)\n";
    Send(lastAnswer_, request.id, outcome);
    return;
  }
  std::vector<Param> params;
  emu::Answer answer;
  if (!ParseParams(request.params, &params)) {
    answer = ErrorAnswer(kBadParam, "Parametros malformados");
  } else {
    answer = printer_.Execute(request.command, params, now);
    outcome->paper += printer_.NewPaper();
  }
  previousAnswer_ = lastAnswer_;
  lastRequest_ = key;
  lastAnswer_ = BuildAnswer(request.id, answer.code, answer.values);
  outcome->stateChanged = true;
  Send(lastAnswer_, request.id, outcome);
}

void Session::Send(const std::string& answer, std::string_view id, Outcome* outcome) {
  if (faults_.silence > 0) {
    --faults_.silence;
    outcome->log += "   (silence: answer " + Visible(answer) + " not sent)\n";
    return;
  }
  std::string bytes;
  if (faults_.noiseCount > 0) {
    --faults_.noiseCount;
    bytes += NoiseBytes(faults_.noiseBytes);
  }
  if (faults_.stale > 0) {
    --faults_.stale;
    std::string stale = previousAnswer_;
    if (stale.empty() || stale.compare(1, id.size() + 1, std::string(id) + ";") == 0) {
      stale = BuildAnswer(OtherId(id), "0", "");
    }
    bytes += stale;
  }
  std::string frame = answer;
  if (faults_.badLength > 0) {
    --faults_.badLength;
    const size_t semi = frame.rfind(';');
    const long long length = LeadingNumber(std::string_view(frame).substr(semi + 1));
    frame.replace(semi + 1, std::string::npos, std::to_string(length + 1) + "}");
  }
  if (faults_.cut > 0) {
    --faults_.cut;
    frame.resize(frame.size() / 2);
  }
  bytes += frame;
  outcome->log += "-> " + Visible(bytes) + "\n";
  outcome->out.push_back({faults_.delayMs, bytes});
}

std::string Session::Serialize() const {
  std::string out = SerializeState(printer_.State());
  out += "lastRequest=" + PercentEncode(lastRequest_) + "\n";
  out += "lastAnswer=" + PercentEncode(lastAnswer_) + "\n";
  out += "previousAnswer=" + PercentEncode(previousAnswer_) + "\n";
  return out;
}

bool Session::Restore(std::string_view text, std::string* error) {
  PrinterState state;
  if (!ParseState(text, &state, error)) return false;
  printer_ = Printer(std::move(state));
  lastRequest_.clear();
  lastAnswer_.clear();
  previousAnswer_.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    auto take = [&line](std::string_view key, std::string* field) {
      if (line.substr(0, key.size()) == key && line.size() > key.size() &&
          line[key.size()] == '=') {
        *field = PercentDecode(line.substr(key.size() + 1));
      }
    };
    take("lastRequest", &lastRequest_);
    take("lastAnswer", &lastAnswer_);
    take("previousAnswer", &previousAnswer_);
    start = end + 1;
  }
  return true;
}

}  // namespace tarvo::emu
