// The emulator's loop; see emulator.h.
#include "emulator/emulator.h"

#include <cstdio>
#include <fstream>
#include <vector>

#include "common/clock.h"
#include "common/cp1252.h"
#include "platform/host.h"

namespace tarvo::emu {

namespace {

int64_t ByteTimeUs(int baud) { return baud > 0 ? (11LL * 1000000 + baud - 1) / baud : 0; }

DateTime LocalNow() {
  const platform::LocalTime t = platform::Now();
  DateTime d;
  d.day = t.day;
  d.month = t.month;
  d.year = t.year;
  d.hour = t.hour;
  d.minute = t.minute;
  d.second = t.second;
  return d;
}

}  // namespace

bool ApplyControlLine(std::string_view line, Faults* faults, NetFaults* net, std::string* error) {
  bool known = false;
  if (ApplyNetFaultCommand(line, net, &known, error)) return true;
  if (known) return false;
  if (!ApplyFaultCommand(line, faults, error)) {
    if (error->rfind("unknown fault", 0) == 0) *error += " or cts, drop, refuse, mute";
    return false;
  }
  if (line.substr(0, line.find(' ')) == "clear") *net = NetFaults{};
  return true;
}

void Emulator::Log(const std::string& text) const {
  if (!options_.quiet && !text.empty()) std::fputs(text.c_str(), stderr);
}

void Emulator::Dump() const {
  std::fprintf(stderr, "tarvo-emu: faults: %s; %s\n%s",
               DescribeFaults(session_->GetFaults()).c_str(), DescribeNetFaults(*net_).c_str(),
               session_->Serialize().c_str());
}

void Emulator::ShowPaper(const std::string& paper) {
  if (paper.empty()) return;
  const std::string text = tools::Cp1252ToUtf8(paper);
  if (options_.paperFile.empty()) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    return;
  }
  std::ofstream out(platform::FilePath(options_.paperFile), std::ios::binary | std::ios::app);
  out << text;
}

void Emulator::SaveState() {
  if (options_.stateFile.empty()) return;
  if (!platform::WriteFileAtomically(options_.stateFile, session_->Serialize())) {
    std::fprintf(stderr, "tarvo-emu: cannot write the state file %s: %s\n",
                 options_.stateFile.c_str(), platform::LastErrorText().c_str());
  }
}

void Emulator::ControlLine(const std::string& line, platform::Handle ack) {
  std::string error;
  std::string answer;
  if (ApplyControlLine(line, &session_->GetFaults(), net_, &error)) {
    Log("   fault: " + line + " -> " + DescribeFaults(session_->GetFaults()) + "; " +
        DescribeNetFaults(*net_) + "\n");
    answer = "ok " + line + "\n";
  } else {
    std::fprintf(stderr, "tarvo-emu: control: %s\n", error.c_str());
    answer = "error " + line + ": " + error + "\n";
  }
  // What the line asks of the network (a drop, a new modem state) is done
  // before the acknowledgement, so that it has happened when a test reads it.
  std::string log;
  line_->Turn(&log);
  Log(log);
  if (ack != platform::kNoHandle) platform::WriteControlLine(ack, answer);
}

// Reads whatever the control channel holds (it never blocks) and applies
// each whole line. False when the channel has ended (standard input closed).
bool Emulator::Control(platform::Handle control, platform::Handle ack) {
  char buffer[512];
  bool open = true;
  for (;;) {
    const long n = platform::Read(control, buffer, sizeof buffer);
    if (n < 0) open = false;
    if (n <= 0) break;
    controlLine_.append(buffer, static_cast<size_t>(n));
  }
  size_t end;
  while ((end = controlLine_.find('\n')) != std::string::npos) {
    std::string line = controlLine_.substr(0, end);
    controlLine_.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ControlLine(line, ack);
  }
  if (controlLine_.size() > 4096) controlLine_.clear();
  return open;
}

void Emulator::Flush() {
  while (!queue_.empty()) {
    Outgoing& o = queue_.front();
    const int64_t now = tools::MonotonicUs();
    if (now < o.startUs) return;
    const int64_t byteUs = ByteTimeUs(session_->GetFaults().paceBaud);
    size_t due = o.bytes.size();
    if (byteUs > 0) {
      due = static_cast<size_t>((now - o.startUs) / byteUs) + 1;
      if (due > o.bytes.size()) due = o.bytes.size();
    }
    if (due > o.sent) {
      const long n = line_->Send(o.bytes.data() + o.sent, due - o.sent);
      if (n == 0) return;
      if (n < 0) {
        // Nobody holds the other end: what the printer sends is lost.
        Log("   (line closed: " + std::to_string(o.bytes.size() - o.sent) +
            " bytes not delivered)\n");
        queue_.pop_front();
        continue;
      }
      o.sent += static_cast<size_t>(n);
    }
    if (o.sent < o.bytes.size()) return;
    const int64_t end =
        byteUs > 0 ? o.startUs + byteUs * static_cast<int64_t>(o.bytes.size()) : now;
    queue_.pop_front();
    if (!queue_.empty() && queue_.front().startUs < end) queue_.front().startUs = end;
  }
}

// Microseconds until the next byte is due (-1: nothing to send), so that
// paced bytes leave one at a time rather than in a burst per millisecond.
int64_t Emulator::PollTimeoutUs() const {
  if (queue_.empty()) return session_->InFrame() ? 1000000 : -1;
  const Outgoing& o = queue_.front();
  const int64_t byteUs = ByteTimeUs(session_->GetFaults().paceBaud);
  const int64_t next = o.startUs + byteUs * static_cast<int64_t>(o.sent);
  const int64_t wait = next - tools::MonotonicUs();
  return wait <= 0 ? 0 : wait;
}

// Reads what the host sent and queues the answers. A line that went down
// takes a partial request with it.
void Emulator::ReadLine() {
  std::string data, log;
  const bool up = line_->Receive(&data, &log);
  Log(log);
  bool purgeReceive = false, purgeTransmit = false;
  line_->TakePurges(&purgeReceive, &purgeTransmit);
  if (!up || purgeReceive) session_->ResetFraming();
  if (purgeTransmit) queue_.clear();
  if (data.empty()) return;
  lastByteMs_ = tools::MonotonicMs();
  auto outcome = session_->Receive(data, LocalNow());
  Log(outcome.log);
  ShowPaper(outcome.paper);
  if (outcome.stateChanged) SaveState();
  for (auto& t : outcome.out) {
    const int64_t start = tools::MonotonicUs() + static_cast<int64_t>(t.delayMs) * 1000;
    queue_.push_back({std::move(t.bytes), start, 0});
  }
}

int Emulator::Run(platform::Handle control, platform::Handle ack) {
  std::vector<platform::Watch> watches;
  for (;;) {
    watches.assign(1, platform::Watch{});
    watches[0].handle = platform::StopHandle();
    if (control != platform::kNoHandle) watches.push_back(platform::Watch{control});
    line_->Watches(&watches, !queue_.empty() && PollTimeoutUs() == 0);
    int64_t timeout = PollTimeoutUs();
    const int64_t retry = line_->RetryUs();
    if (retry >= 0 && (timeout < 0 || timeout > retry)) timeout = retry;
    if (!platform::Wait(watches.data(), watches.size(), timeout)) {
      std::fprintf(stderr, "tarvo-emu: wait: %s\n", platform::LastErrorText().c_str());
      return 1;
    }
    bool dump = false;
    if (watches[0].readable && platform::TakeStop(&dump)) return 0;
    if (dump) Dump();
    // Fault lines first, on every turn and not only when the wait saw
    // them, so that a fault armed before a request was sent applies to
    // that request even when both arrived since the last wait.
    if (control != platform::kNoHandle && !Control(control, ack)) control = platform::kNoHandle;
    // Reading comes before accepting: a client that closed and connected
    // again at once must find its old connection noticed as ended, not be
    // refused as a second client.
    ReadLine();
    std::string log;
    line_->Turn(&log);
    Log(log);
    if (session_->InFrame() && tools::MonotonicMs() - lastByteMs_ > 1000) {
      session_->ResetFraming();
    }
    Flush();
  }
}

}  // namespace tarvo::emu
