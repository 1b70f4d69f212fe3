// The verdict: the one paragraph a technician reads first. It names what
// needs acting on before anything else (a command that may have been carried
// out), then whether the printer or the link stopped at the end of the log,
// each kind of failure counted apart, and what the log cannot tell.
#include <algorithm>
#include <array>

#include "report/format.h"
#include "report/render.h"

namespace tarvo::report {

namespace {

std::string KindCounts(const Report& r, size_t from) {
  std::array<int, kOutcomeCount> kinds{};
  for (size_t i = from; i < r.exchanges.size(); ++i) {
    if (IsProtocolFailure(r.exchanges[i].outcome))
      ++kinds[static_cast<size_t>(r.exchanges[i].outcome)];
  }
  std::string s;
  for (int o = 0; o < kOutcomeCount; ++o) {
    if (kinds[o] == 0) continue;
    s += (s.empty() ? "" : ", ") + Num(kinds[o]) + " " + OutcomeWords(static_cast<Outcome>(o));
  }
  return s;
}

std::string UnknownOutcomes(const Report& r) {
  std::string which;
  int n = 0;
  for (const Exchange& e : r.exchanges) {
    if (!e.outcomeUnknown) continue;
    if (n++ < 3) which += (which.empty() ? "" : ", ") + ExchangeName(e) + " at " + e.stamp;
  }
  if (n == 0) return "";
  return Plural(n, "command", "commands") + " that change" + (n == 1 ? "s" : "") +
         " the printer's state (" + which + (n > 3 ? ", ..." : "") + ") " + kOutcomeUnknownWords +
         ". ";
}

// The failures that end the log: the printer (or the link) stopped.
size_t FailedRun(const Report& r) {
  size_t run = 0;
  while (run < r.exchanges.size() &&
         IsProtocolFailure(r.exchanges[r.exchanges.size() - 1 - run].outcome)) {
    ++run;
  }
  // Without frames in the log an answered operation leaves no exchange: one
  // after the failures means the printer answered again.
  const int lastOperation = r.exchanges.empty() ? -1 : r.exchanges.back().operation;
  if (!r.verbose && lastOperation >= 0 &&
      static_cast<size_t>(lastOperation) + 1 < r.operations.size()) {
    run = 0;
  }
  return run;
}

std::string Stopped(const Report& r, size_t run) {
  const Exchange& first = r.exchanges[r.exchanges.size() - run];
  const Exchange& last = r.exchanges.back();
  const std::string counts = "the last " +
                             Plural(static_cast<int64_t>(run), "exchange", "exchanges") +
                             " failed (" + KindCounts(r, r.exchanges.size() - run) + "). ";
  if (last.networkLost) {
    return "The network link to the port's server was lost at " + first.stamp + ": " + counts +
           "Check: that the server (ser2net or the device server) is running and reachable, "
           "the network between, then open the session again. The printer itself may be fine.";
  }
  const Advice a = AdviceForExchange(last);
  return "The printer stopped answering at " + first.stamp + ": " + counts + a.title +
         ". Check: " + a.check;
}

std::string BreakWakeUps(const Report& r) {
  int woke = 0;
  int64_t longest = 0;
  for (const Exchange& e : r.exchanges) {
    if (!e.wokeByBreak) continue;
    ++woke;
    longest = std::max(longest, e.Seconds());
  }
  if (woke == 0) return "";
  return " The printer answered only after BREAK wake-ups in " +
         Plural(woke, "exchange", "exchanges") + " (up to " + Num(longest) +
         " s each): it is not healthy. Check: the printer's power-saving setting, its "
         "firmware, the line rate, and whether it is busy printing.";
}

}  // namespace

std::string Verdict(const Report& r) {
  std::string s = UnknownOutcomes(r);
  if (r.levelHidesFrames) {
    s += "Frames are not traced (trace level " + (r.level > 0 ? Num(r.level) : std::string("2")) +
         "): answered commands leave no line, so only failures show; use level 1 (Trace=1) to "
         "see every exchange. ";
  }
  if (r.exchanges.empty()) {
    return s + (r.levelHidesFrames ? "No failure is traced."
                                   : "No exchange with the printer in the log.");
  }
  const size_t run = FailedRun(r);
  if (run > 0) return s + Stopped(r, run) + BreakWakeUps(r);
  int recovered = 0;
  for (const Exchange& e : r.exchanges) recovered += e.recovered;
  const std::string kinds = KindCounts(r, 0);
  if (!kinds.empty()) {
    s += "Failures came and went, and the printer answered after them: " + kinds + "; " +
         Num(recovered) + " made good by a resend.";
  } else {
    s += "Every exchange was answered";
    bool refused = false;
    for (const Exchange& e : r.exchanges) refused = refused || e.outcome == Outcome::PrinterError;
    s += refused ? "; the printer refused some commands (see the failures)." : ".";
  }
  return s + BreakWakeUps(r);
}

}  // namespace tarvo::report
