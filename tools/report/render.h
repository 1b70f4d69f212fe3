// What `tarvo report` writes: the figures of a decoded trace as a short
// text summary, as JSON, and as one self-contained HTML page (inline CSS
// and SVG; no script, nothing fetched).
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "report/decode.h"
#include "report/trace_log.h"

namespace tarvo::report {

constexpr int kTimeBuckets = 11;  // 0 .. 9 seconds, then 10 or more

struct CommandCounts {
  int exchanges = 0, ok = 0, refused = 0, failed = 0, resends = 0, operations = 0;
  int64_t longest = 0;  // seconds
};

struct Figures {
  int exchanges = 0;
  std::array<int, kOutcomeCount> outcomes{};
  int failed = 0;  // protocol failures (11010)
  int resends = 0;
  int discardedBytes = 0;
  int staleAnswers = 0;
  int breakRecoveries = 0;  // exchanges that went into the BREAK recovery
  int wokeByBreak = 0;
  int reopens = 0;
  int ctsLost = 0;
  int ctsHeld = 0;
  int recovered = 0;       // failures made good by a resend
  int outcomeUnknown = 0;  // state-changing commands that may have been carried out
  int networkLost = 0;     // failures of a lost network link
  int operations = 0;
  int startups = 0;
  int startupsOk = 0;
  std::array<int, kTimeBuckets> answerSeconds{};   // answered exchanges
  std::array<int, kTimeBuckets> failureSeconds{};  // failed ones, to the failure
  std::map<std::string, CommandCounts> commands;
};

Figures Count(const Report& r);

// One sentence for the technician: whether the printer stopped answering at
// the end of the log and why, whether failures came and went, or that all
// was answered.
std::string Verdict(const Report& r);

std::string TextSummary(const std::vector<LogFile>& logs, const Report& r, const Figures& f);
std::string Json(const std::vector<LogFile>& logs, const Report& r, const Figures& f);
std::string Html(const std::vector<LogFile>& logs, const Report& r, const Figures& f);

// Each figure with the name under which JSON ("figures") and the page
// (data-figure="NAME") show it.
std::vector<std::pair<std::string, int>> NamedFigures(const Figures& f);

}  // namespace tarvo::report
