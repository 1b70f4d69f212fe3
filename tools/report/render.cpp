#include "report/render.h"

#include <algorithm>
#include <cstdio>

#include "common/json.h"
#include "report/format.h"

namespace tarvo::report {

namespace {

constexpr size_t kMaxTextFailures = 10;

int Bucket(int64_t seconds) {
  return static_cast<int>(std::clamp<int64_t>(seconds, 0, kTimeBuckets - 1));
}

}  // namespace

Figures Count(const Report& r) {
  Figures f;
  for (const Exchange& e : r.exchanges) {
    ++f.exchanges;
    ++f.outcomes[static_cast<size_t>(e.outcome)];
    f.failed += IsProtocolFailure(e.outcome);
    f.resends += e.resend;
    f.discardedBytes += e.discarded;
    f.staleAnswers += static_cast<int>(e.staleIds.size());
    f.breakRecoveries += e.breakAttempts > 0 || e.outcome == Outcome::NoAnswer;
    f.wokeByBreak += e.wokeByBreak;
    f.reopens += e.reopened;
    f.ctsLost += e.ctsLost;
    f.ctsHeld += e.ctsHeld;
    f.recovered += e.recovered;
    f.outcomeUnknown += e.outcomeUnknown;
    f.networkLost += e.networkLost;
    if (e.outcome == Outcome::Ok || e.outcome == Outcome::PrinterError) {
      ++f.answerSeconds[Bucket(e.Seconds())];
    } else if (e.outcome != Outcome::Unfinished) {
      ++f.failureSeconds[Bucket(e.Seconds())];
    }
    CommandCounts& c = f.commands[e.command];
    ++c.exchanges;
    c.ok += e.outcome == Outcome::Ok;
    c.refused += e.outcome == Outcome::PrinterError;
    c.failed += IsProtocolFailure(e.outcome);
    c.resends += e.resend;
    c.longest = std::max(c.longest, e.Seconds());
  }
  for (const Operation& op : r.operations) ++f.commands[op.command].operations;
  f.operations = static_cast<int>(r.operations.size());
  f.startups = static_cast<int>(r.startups.size());
  for (const Startup& s : r.startups) f.startupsOk += s.result == "ok";
  return f;
}

std::vector<std::pair<std::string, int>> NamedFigures(const Figures& f) {
  std::vector<std::pair<std::string, int>> v = {{"exchanges", f.exchanges},
                                                {"answered", f.outcomes[0]},
                                                {"refused", f.outcomes[1]},
                                                {"failed", f.failed},
                                                {"no-answer", f.outcomes[2]},
                                                {"bad-length", f.outcomes[3]},
                                                {"no-cts", f.outcomes[4]},
                                                {"write-error", f.outcomes[5]},
                                                {"overflow", f.outcomes[6]},
                                                {"unfinished", f.outcomes[7]},
                                                {"resends", f.resends},
                                                {"discarded-bytes", f.discardedBytes},
                                                {"stale-answers", f.staleAnswers},
                                                {"break-recoveries", f.breakRecoveries},
                                                {"woke-by-break", f.wokeByBreak},
                                                {"reopens", f.reopens},
                                                {"cts-lost", f.ctsLost},
                                                {"cts-held", f.ctsHeld},
                                                {"recovered", f.recovered},
                                                {"outcome-unknown", f.outcomeUnknown},
                                                {"network-lost", f.networkLost},
                                                {"operations", f.operations},
                                                {"startups", f.startups},
                                                {"startups-ok", f.startupsOk}};
  return v;
}

// ---- text ---------------------------------------------------------------

namespace {

std::string LogsLine(const std::vector<LogFile>& logs) {
  std::string s;
  for (const LogFile& l : logs) {
    s += s.empty() ? "Logs: " : "      ";
    s += l.path + " (" + Plural(static_cast<int64_t>(l.records.size()), "line", "lines");
    if (l.wrapped) {
      s += ", wrapped: newest lines end at byte " + Num(static_cast<int64_t>(l.wrapOffset));
    }
    if (l.skippedBytes > 0) {
      s +=
          ", " + Num(static_cast<int64_t>(l.skippedBytes)) + " bytes of overwritten lines left out";
    }
    s += ")\n";
  }
  return s;
}

std::string Marks(const Exchange& e) {
  std::string s;
  if (e.networkLost) s += " (the network link was lost)";
  if (e.recovered) s += " (recovered: the resend was answered)";
  if (e.outcomeUnknown) s += std::string(": ") + kOutcomeUnknownWords;
  return s;
}

std::string FailureKinds(const Figures& f) {
  std::string s;
  for (int o = 2; o < kOutcomeCount - 1; ++o) {
    if (f.outcomes[o] == 0) continue;
    s += (s.empty() ? "" : ", ") + Num(f.outcomes[o]) + " " + OutcomeWords(static_cast<Outcome>(o));
  }
  return s;
}

}  // namespace

std::string TextSummary(const std::vector<LogFile>& logs, const Report& r, const Figures& f) {
  std::string s = LogsLine(logs);
  s += "Verdict: " + Verdict(r) + "\n";
  if (r.records > 0) s += "Period: " + r.firstStamp + " to " + r.lastStamp + "\n";
  s += "Exchanges: " + Num(f.exchanges) + ": " + Num(f.outcomes[0]) + " answered, " +
       Num(f.outcomes[1]) + " refused by the printer, " + Num(f.failed) + " failed";
  if (f.failed > 0) {
    s += " (" + FailureKinds(f) + "; " + Num(f.recovered) + " recovered by a resend)";
  }
  if (f.outcomes[7] > 0) s += ", " + Num(f.outcomes[7]) + " with no traced end";
  s += "\n";
  s += "Facade: " + Plural(f.operations, "operation", "operations") + ", " +
       Plural(f.resends, "resend", "resends") + "; start-ups: " + Num(f.startups) + " (" +
       Num(f.startupsOk) + " ok)\n";
  s += "Line: " + Plural(f.discardedBytes, "byte", "bytes") + " of noise discarded, " +
       Plural(f.staleAnswers, "stale answer", "stale answers") + " discarded, " +
       Plural(f.breakRecoveries, "BREAK recovery", "BREAK recoveries") + " (" + Num(f.wokeByBreak) +
       " woke the printer), " + Plural(f.reopens, "re-open", "re-opens") + ", CTS lost " +
       Plural(f.ctsLost, "time", "times") + "\n";
  s += "Answer times:";
  for (int b = 0; b < kTimeBuckets; ++b) {
    if (f.answerSeconds[b] > 0) {
      s += " " + Num(b) + (b == kTimeBuckets - 1 ? "+ s: " : " s: ") + Num(f.answerSeconds[b]);
    }
  }
  s += "\n";
  size_t shown = 0;
  for (const Exchange& e : r.exchanges) {
    if (!IsFailure(e)) continue;
    if (shown++ == 0) s += "Failures:\n";
    if (shown > kMaxTextFailures) continue;
    s += "  " + e.stamp + " " + PlainText(ExchangeName(e)) + ": " + PlainText(WhatHappened(e)) +
         " - " + AdviceForExchange(e).title + Marks(e) + "\n";
  }
  if (shown > kMaxTextFailures)
    s += "  ... " + Num(static_cast<int64_t>(shown - kMaxTextFailures)) + " more in the page\n";
  // Notes repeat at every start-up: one line per kind, with its count.
  std::map<std::string, std::pair<const Note*, int>> kinds;
  for (const Note& n : r.notes) {
    auto& k = kinds[n.kind];
    if (k.first == nullptr) k.first = &n;
    ++k.second;
  }
  for (const auto& [kind, k] : kinds) {
    s += "Note: " + k.first->stamp + " " + PlainText(k.first->line) +
         (k.first->codeWords.empty() ? "" : " (" + k.first->codeWords + ")") + " - " +
         AdviceForNote(*k.first).title +
         (k.second > 1 ? " (" + Plural(k.second, "time", "times") + ")" : "") + "\n";
  }
  return s;
}

// ---- JSON ---------------------------------------------------------------

namespace {

using tools::Json;
using tools::JsonText;

void AddFlags(const Exchange& e, Json* j) {
  (*j)["recovered"] = e.recovered;
  (*j)["outcomeUnknown"] = e.outcomeUnknown;
  (*j)["networkLost"] = e.networkLost;
  if (e.outcomeUnknown) (*j)["warning"] = JsonText(kOutcomeUnknownWords);
}

Json ExchangeJson(const Exchange& e) {
  Json j = {{"time", JsonText(e.stamp)},
            {"id", e.id},
            {"command", JsonText(e.command)},
            {"outcome", OutcomeKey(e.outcome)},
            {"seconds", e.Seconds()},
            {"code", e.code},
            {"errorName", JsonText(e.errorName)},
            {"circumstance", JsonText(e.circumstance)},
            {"resend", e.resend},
            {"operation", e.operation},
            {"discarded", e.discarded},
            {"staleIds", Json::array()},
            {"breakAttempts", e.breakAttempts},
            {"wokeByBreak", e.wokeByBreak},
            {"reopened", e.reopened},
            {"ctsLost", e.ctsLost},
            {"ctsHeld", e.ctsHeld},
            {"detail", JsonText(e.detail)},
            {"request", JsonText(e.request)},
            {"answer", JsonText(e.answer)}};
  for (const auto id : e.staleIds) j["staleIds"].push_back(id);
  AddFlags(e, &j);
  return j;
}

Json LogsJson(const std::vector<LogFile>& logs) {
  Json list = Json::array();
  for (const LogFile& l : logs) {
    list.push_back({{"path", JsonText(l.path)},
                    {"lines", l.records.size()},
                    {"header", l.header},
                    {"wrapped", l.wrapped},
                    {"wrapOffset", l.wrapOffset},
                    {"skippedBytes", l.skippedBytes}});
  }
  return list;
}

Json CommandsJson(const Figures& f) {
  Json list = Json::array();
  for (const auto& [name, c] : f.commands) {
    list.push_back({{"command", JsonText(name)},
                    {"operations", c.operations},
                    {"exchanges", c.exchanges},
                    {"answered", c.ok},
                    {"refused", c.refused},
                    {"failed", c.failed},
                    {"resends", c.resends},
                    {"longestSeconds", c.longest}});
  }
  return list;
}

Json StartupsJson(const Report& r) {
  Json list = Json::array();
  for (const Startup& st : r.startups) {
    Json phases = Json::array();
    for (const auto& [time, what] : st.phases) {
      phases.push_back({{"time", JsonText(time)}, {"what", JsonText(what)}});
    }
    list.push_back({{"time", JsonText(st.stamp)},
                    {"port", JsonText(st.port)},
                    {"level", st.level},
                    {"result", JsonText(st.result)},
                    {"phases", phases}});
  }
  return list;
}

Json FailuresJson(const Report& r) {
  Json list = Json::array();
  for (const Exchange& e : r.exchanges) {
    if (!IsFailure(e)) continue;
    const Advice a = AdviceForExchange(e);
    Json j = {{"time", JsonText(e.stamp)},
              {"command", JsonText(e.command)},
              {"id", e.id},
              {"outcome", OutcomeKey(e.outcome)},
              {"what", JsonText(WhatHappened(e))},
              {"title", JsonText(a.title)},
              {"meaning", JsonText(a.meaning)},
              {"check", JsonText(a.check)}};
    AddFlags(e, &j);
    list.push_back(j);
  }
  return list;
}

Json NotesJson(const Report& r) {
  Json list = Json::array();
  for (const Note& n : r.notes) {
    const Advice a = AdviceForNote(n);
    list.push_back({{"time", JsonText(n.stamp)},
                    {"kind", JsonText(n.kind)},
                    {"line", JsonText(n.line)},
                    {"codeWords", JsonText(n.codeWords)},
                    {"title", JsonText(a.title)},
                    {"meaning", JsonText(a.meaning)},
                    {"check", JsonText(a.check)}});
  }
  return list;
}

}  // namespace

std::string Json(const std::vector<LogFile>& logs, const Report& r, const Figures& f) {
  tools::Json j = {{"logs", LogsJson(logs)},          {"first", JsonText(r.firstStamp)},
                   {"last", JsonText(r.lastStamp)},   {"lines", r.records},
                   {"unknownLines", r.unknownLines},  {"framesTraced", r.verbose},
                   {"verdict", JsonText(Verdict(r))}, {"figures", tools::Json::object()}};
  for (const auto& [name, value] : NamedFigures(f)) j["figures"][name] = value;
  j["answerSeconds"] = f.answerSeconds;
  j["failureSeconds"] = f.failureSeconds;
  j["commands"] = CommandsJson(f);
  j["startups"] = StartupsJson(r);
  j["failures"] = FailuresJson(r);
  j["notes"] = NotesJson(r);
  j["levelHidesFrames"] = r.levelHidesFrames;
  j["network"] = r.network;
  j["exchanges"] = tools::Json::array();
  for (const Exchange& e : r.exchanges) j["exchanges"].push_back(ExchangeJson(e));
  return tools::DumpJson(j);
}

}  // namespace tarvo::report
