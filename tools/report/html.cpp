// The page: one HTML file with its CSS and SVG inline. It runs no script and
// fetches nothing, so it opens anywhere, also on a shop's machine offline.
// Tooltips are SVG <title> elements, which browsers show without script.
#include <algorithm>

#include "report/format.h"
#include "report/render.h"

namespace tarvo::report {

namespace {

constexpr int kWidth = 960;
constexpr int kTimelineHeight = 150;
constexpr int kMaxBars = 600;  // above this, consecutive exchanges share a bar
constexpr int kHistogramHeight = 160;
constexpr size_t kMaxDetailRows = 200;

const char kStyle[] = R"(<style>
body{font:14px/1.45 system-ui,sans-serif;margin:24px;color:#212121;max-width:1000px}
h1{font-size:22px;margin:0 0 4px}h2{font-size:17px;margin:28px 0 8px;border-bottom:1px solid #ddd}
.sub{color:#616161}.verdict{background:#fff8e1;border-left:4px solid #f9a825;padding:8px 12px}.tiles{display:flex;flex-wrap:wrap;gap:8px;margin:14px 0}
.tile{border:1px solid #ddd;border-radius:6px;padding:6px 10px;min-width:96px}
.tile b{display:block;font-size:20px}.tile.bad b{color:#c62828}
table{border-collapse:collapse;width:100%}th,td{text-align:left;padding:4px 6px;border-bottom:1px solid #eee;vertical-align:top}
th{background:#f5f5f5}td.n,th.n{text-align:right;font-variant-numeric:tabular-nums}
code{font:12px ui-monospace,monospace;word-break:break-all}td:nth-child(2){min-width:220px}
.key{display:inline-block;width:11px;height:11px;border-radius:2px;margin:0 4px 0 12px;vertical-align:-1px}
svg text{font:11px system-ui,sans-serif;fill:#424242}.ok{color:#2e7d32}.fail{color:#c62828}
</style>
)";

std::string Tile(const char* figure, int value, const char* words, bool bad) {
  return std::string("<div class=\"tile") + (bad && value > 0 ? " bad" : "") +
         "\"><b data-figure=\"" + figure + "\">" + Num(value) + "</b>" + words + "</div>\n";
}

std::string Tiles(const Figures& f) {
  std::string s = "<div class=\"tiles\">\n";
  s += Tile("exchanges", f.exchanges, "exchanges", false);
  s += Tile("answered", f.outcomes[0], "answered", false);
  s += Tile("refused", f.outcomes[1], "refused by the printer", true);
  s += Tile("failed", f.failed, "failed (11010)", true);
  s += Tile("resends", f.resends, "resends", true);
  s += Tile("discarded-bytes", f.discardedBytes, "noise bytes discarded", true);
  s += Tile("stale-answers", f.staleAnswers, "stale answers", true);
  s += Tile("break-recoveries", f.breakRecoveries, "BREAK recoveries", true);
  s += Tile("reopens", f.reopens, "port re-opens", true);
  s += Tile("outcome-unknown", f.outcomeUnknown, "may have been carried out", true);
  s += Tile("recovered", f.recovered, "recovered by a resend", false);
  s += Tile("network-lost", f.networkLost, "network link lost", true);
  s += Tile("cts-lost", f.ctsLost, "CTS lost", true);
  s += Tile("operations", f.operations, "facade operations", false);
  s += Tile("startups", f.startups, "start-ups", false);
  return s + "</div>\n";
}

std::string Legend(const Figures& f) {
  std::string s = "<p>";
  for (int o = 0; o < kOutcomeCount; ++o) {
    if (f.outcomes[o] == 0) continue;
    s += "<span class=\"key\" style=\"background:" + std::string(kOutcomeColours[o]) +
         "\"></span>" + OutcomeWords(static_cast<Outcome>(o)) + " (" + Num(f.outcomes[o]) + ")";
  }
  return s + "</p>\n";
}

// The tooltip: what happened, and the frames themselves.
std::string ExchangeTitle(const Exchange& e) {
  std::string s = e.stamp + " " + ExchangeName(e) + (e.resend ? " (resend)" : "") + ": " +
                  WhatHappened(e) + ", " + Num(e.Seconds()) + " s";
  if (e.outcomeUnknown) s += std::string("; ") + kOutcomeUnknownWords;
  if (!e.request.empty()) s += "\nrequest " + e.request;
  if (!e.answer.empty()) s += "\nanswer " + e.answer;
  return HtmlText(s);
}

// One bar per exchange: colour by outcome, height by seconds to the end.
std::string ExchangeBars(const Report& r) {
  const double step = static_cast<double>(kWidth) / static_cast<double>(r.exchanges.size());
  std::string s;
  char buf[200];
  for (size_t i = 0; i < r.exchanges.size(); ++i) {
    const Exchange& e = r.exchanges[i];
    const int h = 30 + static_cast<int>(std::min<int64_t>(e.Seconds(), 10)) * 10;
    (void)std::snprintf(
        buf, sizeof buf,
        "<rect data-outcome=\"%s\" x=\"%.2f\" y=\"%d\" width=\"%.2f\" height=\"%d\" "
        "fill=\"%s\">",
        OutcomeKey(e.outcome), step * static_cast<double>(i), kTimelineHeight - h,
        std::max(step - 1.0, 0.6), h, kOutcomeColours[static_cast<size_t>(e.outcome)]);
    s += buf;
    s += "<title>" + ExchangeTitle(e) + "</title></rect>\n";
  }
  return s;
}

// Many exchanges: each bar stacks the outcomes of a run of them.
std::string GroupedBars(const Report& r) {
  const size_t per = (r.exchanges.size() + kMaxBars - 1) / kMaxBars;
  const size_t bars = (r.exchanges.size() + per - 1) / per;
  const double step = static_cast<double>(kWidth) / static_cast<double>(bars);
  std::string s;
  char buf[160];
  for (size_t b = 0; b < bars; ++b) {
    std::array<int, kOutcomeCount> n{};
    const size_t end = std::min(r.exchanges.size(), (b + 1) * per);
    for (size_t i = b * per; i < end; ++i) ++n[static_cast<size_t>(r.exchanges[i].outcome)];
    double y = kTimelineHeight;
    for (int o = kOutcomeCount - 1; o >= 0; --o) {
      if (n[o] == 0) continue;
      const double h = kTimelineHeight * static_cast<double>(n[o]) / static_cast<double>(per);
      y -= h;
      (void)std::snprintf(buf, sizeof buf,
                          "<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"%s\">",
                          step * static_cast<double>(b), y, std::max(step - 0.5, 0.5), h,
                          kOutcomeColours[o]);
      s += buf;
      s += "<title>" + HtmlText(r.exchanges[b * per].stamp) + ": " + Num(n[o]) + " " +
           OutcomeWords(static_cast<Outcome>(o)) + "</title></rect>\n";
    }
  }
  return s;
}

std::string TimeLabels(const Report& r) {
  std::string s;
  const size_t n = r.exchanges.size();
  const size_t labels = std::min<size_t>(n, 6);
  for (size_t k = 0; k < labels; ++k) {
    const size_t i = labels == 1 ? 0 : k * (n - 1) / (labels - 1);
    const double x =
        static_cast<double>(kWidth) * (static_cast<double>(i) + 0.5) / static_cast<double>(n);
    const char* anchor = k == 0 ? "start" : (k + 1 == labels ? "end" : "middle");
    char buf[96];
    (void)std::snprintf(buf, sizeof buf, "<text x=\"%.1f\" y=\"%d\" text-anchor=\"%s\">", x,
                        kTimelineHeight + 16, anchor);
    s += buf + HtmlText(r.exchanges[i].stamp.substr(9)) + "</text>\n";
  }
  return s;
}

std::string Timeline(const Report& r, const Figures& f) {
  std::string s = "<h2 id=\"timeline\">Timeline of exchanges</h2>\n";
  if (r.exchanges.empty()) return s + "<p>No exchange in the log.</p>\n";
  s += "<p class=\"sub\">Each bar is one exchange in time order";
  if (r.exchanges.size() > static_cast<size_t>(kMaxBars)) {
    s += " (here each bar stacks a run of exchanges)";
  }
  s += "; the taller the bar, the longer it took (up to 10 s). Hover a bar for its details.</p>\n";
  s += Legend(f);
  s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(kWidth) + "\" height=\"" +
       Num(kTimelineHeight + 22) + "\" role=\"img\" aria-label=\"timeline\">\n";
  s += r.exchanges.size() > static_cast<size_t>(kMaxBars) ? GroupedBars(r) : ExchangeBars(r);
  s += "<line x1=\"0\" x2=\"" + Num(kWidth) + "\" y1=\"" + Num(kTimelineHeight) + "\" y2=\"" +
       Num(kTimelineHeight) + "\" stroke=\"#9e9e9e\"/>\n";
  return s + TimeLabels(r) + "</svg>\n";
}

std::string Histogram(const Figures& f) {
  std::string s = "<h2 id=\"answer-times\">Answer times</h2>\n";
  s += "<p class=\"sub\">Seconds from the request to the answer (green) or to the failure "
       "(red). The log's time stamps count whole seconds: 0 s means within the same second.</p>\n";
  int top = 1;
  for (int b = 0; b < kTimeBuckets; ++b)
    top = std::max(top, f.answerSeconds[b] + f.failureSeconds[b]);
  const int slot = kWidth / kTimeBuckets;
  s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(kWidth) + "\" height=\"" +
       Num(kHistogramHeight + 40) + "\" role=\"img\" aria-label=\"answer times\">\n";
  char buf[200];
  for (int b = 0; b < kTimeBuckets; ++b) {
    const int ok = f.answerSeconds[b];
    const int bad = f.failureSeconds[b];
    const int hOk = kHistogramHeight * ok / top;
    const int hBad = kHistogramHeight * bad / top;
    const int x = b * slot + 8;
    (void)std::snprintf(buf, sizeof buf,
                        "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"#2e7d32\"/>"
                        "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"#c62828\"/>\n",
                        x, 16 + kHistogramHeight - hOk, slot - 16, hOk, x,
                        16 + kHistogramHeight - hOk - hBad, slot - 16, hBad);
    s += buf;
    (void)std::snprintf(
        buf, sizeof buf,
        "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\" data-bucket=\"%d\">%d</text>"
        "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">%d%s s</text>\n",
        x + (slot - 16) / 2, 12 + kHistogramHeight - hOk - hBad, b, ok + bad, x + (slot - 16) / 2,
        kHistogramHeight + 34, b, b == kTimeBuckets - 1 ? "+" : "");
    s += buf;
  }
  return s + "</svg>\n";
}

// Each explanation is written once: a later row of the same kind points
// back to it.
std::string FailureRow(const std::string& stamp, const std::string& what, const Advice& a,
                       const char* kind, std::vector<std::string>* explained,
                       const char* attribute = "data-kind") {
  const bool first = std::find(explained->begin(), explained->end(), a.title) == explained->end();
  if (first) explained->push_back(a.title);
  const std::string meaning = first ? std::string("<br>") + a.meaning : " (explained above)";
  return "<tr " + std::string(attribute) + "=\"" + kind + "\"><td>" + HtmlText(stamp) +
         "</td><td>" + what + "</td><td><b>" + a.title + "</b>" + meaning + "</td><td>" +
         (first ? a.check : "") + "</td></tr>\n";
}

std::string FailureWhat(const Exchange& e) {
  std::string s = HtmlText(ExchangeName(e)) + (e.resend ? " (resend)" : "") + "<br><code>" +
                  HtmlText(WhatHappened(e)) + "</code>";
  if (e.networkLost) s += "<br>the network link was lost";
  if (e.recovered)
    s += "<br><span class=\"ok\" data-recovered=\"1\">recovered: the resend was answered</span>";
  if (e.outcomeUnknown) {
    s += std::string("<br><b class=\"fail\" data-unknown=\"1\">") + kOutcomeUnknownWords + "</b>";
  }
  return s;
}

std::string Failures(const Report& r) {
  std::string s = "<h2 id=\"failures\">Failures and what to check</h2>\n";
  std::string rows;
  std::vector<std::string> explained;
  size_t n = 0;
  for (const Exchange& e : r.exchanges) {
    if (!IsFailure(e) || n++ >= kMaxDetailRows) continue;
    rows += FailureRow(e.stamp, FailureWhat(e), AdviceForExchange(e), OutcomeKey(e.outcome),
                       &explained);
  }
  if (n == 0) return s + "<p class=\"ok\">No failure traced.</p>\n";
  s += "<table><tr><th>Time</th><th>What happened</th><th>What it means</th><th>What to "
       "check</th></tr>\n";
  s += rows + "</table>\n";
  if (n > kMaxDetailRows) {
    s += "<p>" + Num(static_cast<int64_t>(n - kMaxDetailRows)) +
         " more not shown (see --json).</p>\n";
  }
  return s;
}

// Notes tell of the session, not of a failed exchange: the registry file,
// a port that did not open. One row per kind, with its count.
std::string Notes(const Report& r) {
  std::vector<std::string> kinds, explained;
  std::vector<int> counts;
  std::string rows;
  for (const Note& note : r.notes) {
    const auto at = std::find(kinds.begin(), kinds.end(), note.kind);
    if (at != kinds.end()) {
      ++counts[static_cast<size_t>(at - kinds.begin())];
      continue;
    }
    kinds.push_back(note.kind);
    counts.push_back(1);
  }
  for (size_t k = 0; k < kinds.size(); ++k) {
    for (const Note& note : r.notes) {
      if (note.kind != kinds[k]) continue;
      std::string what = "<code>" + HtmlText(note.line) + "</code>";
      if (!note.codeWords.empty()) what += "<br>" + HtmlText(note.codeWords);
      if (counts[k] > 1) what += " (" + Plural(counts[k], "time", "times") + ")";
      rows += FailureRow(note.stamp, what, AdviceForNote(note), note.kind.c_str(), &explained,
                         "data-note");
      break;
    }
  }
  if (rows.empty()) return "";
  return "<h2 id=\"notes\">Notes on the sessions</h2>\n<table><tr><th>First seen</th><th>Line"
         "</th><th>What it means</th><th>What to check</th></tr>\n" +
         rows + "</table>\n";
}

// Noise is shown byte by byte in hexadecimal: it is rarely text.
std::string HexBytes(std::string_view bytes) {
  static const char* hex = "0123456789abcdef";
  std::string s;
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (!s.empty()) s.push_back(' ');
    s.push_back(hex[u >> 4]);
    s.push_back(hex[u & 15]);
  }
  return s;
}

// What went wrong on the line in exchanges that still ended well.
std::string TroubleWords(const Exchange& e) {
  std::string s;
  if (e.discarded > 0) {
    s += Plural(e.discarded, "byte", "bytes") + " of noise before the answer (<code>" +
         HexBytes(e.discardedBytes) + "</code>): check the cable and the line rate. ";
  }
  for (int id : e.staleIds) {
    s += "a late answer to request " + Num(id) +
         " discarded: an earlier answer came after its "
         "time-out. ";
  }
  if (e.wokeByBreak) {
    s += "silent until BREAK attempt " + Num(e.breakAttempts - 1) +
         " woke it: a slow or dozing printer. ";
  }
  if (e.ctsHeld) s += "waited 20 s for CTS to hold after an earlier loss. ";
  return s;
}

std::string Trouble(const Report& r) {
  std::string rows;
  size_t n = 0;
  for (const Exchange& e : r.exchanges) {
    if (IsFailure(e)) continue;
    const std::string words = TroubleWords(e);
    if (words.empty() || n++ >= kMaxDetailRows) continue;
    rows += "<tr data-trouble=\"1\"><td>" + HtmlText(e.stamp) + "</td><td>" +
            HtmlText(ExchangeName(e)) + "</td><td>" + words + "</td></tr>\n";
  }
  if (n == 0) return "";
  return "<h2 id=\"trouble\">Answered, with trouble on the line</h2>\n<table><tr><th>Time</th>"
         "<th>Exchange</th><th>What happened</th></tr>\n" +
         rows + "</table>\n";
}

std::string Commands(const Figures& f) {
  std::string s =
      "<h2 id=\"commands\">Per command</h2>\n<table><tr><th>Command</th>"
      "<th class=\"n\">Operations</th><th class=\"n\">Exchanges</th><th class=\"n\">Answered"
      "</th><th class=\"n\">Refused</th><th class=\"n\">Failed</th><th class=\"n\">Resends"
      "</th><th class=\"n\">Longest</th></tr>\n";
  for (const auto& [name, c] : f.commands) {
    s += "<tr data-command=\"" + HtmlText(name) + "\"><td>" +
         (name.empty() ? std::string("(not traced)") : HtmlText(name)) + "</td><td class=\"n\">" +
         Num(c.operations) + "</td><td class=\"n\">" + Num(c.exchanges) + "</td><td class=\"n\">" +
         Num(c.ok) + "</td><td class=\"n\">" + Num(c.refused) + "</td><td class=\"n\">" +
         Num(c.failed) + "</td><td class=\"n\">" + Num(c.resends) + "</td><td class=\"n\">" +
         Num(c.longest) + " s</td></tr>\n";
  }
  return s + "</table>\n";
}

std::string Startups(const Report& r) {
  if (r.startups.empty()) return "";
  std::string s =
      "<h2 id=\"startups\">Start-ups</h2>\n<table><tr><th>Time</th><th>Port</th>"
      "<th>Result</th><th>Phases</th></tr>\n";
  for (const Startup& st : r.startups) {
    s += "<tr><td>" + HtmlText(st.stamp) + "</td><td><code>" + HtmlText(st.port) +
         "</code></td><td class=\"" + (st.result == "ok" ? "ok" : "fail") + "\">" +
         HtmlText(st.result) + "</td><td>";
    for (const auto& [stamp, words] : st.phases) {
      s += HtmlText(stamp.substr(9)) + " " + HtmlText(words) + "<br>";
    }
    s += "</td></tr>\n";
  }
  return s + "</table>\n";
}

std::string Header(const std::vector<LogFile>& logs, const Report& r) {
  std::string s = "<h1>Trace report</h1>\n<p class=\"sub\">";
  for (const LogFile& l : logs) {
    s += "<code>" + HtmlText(l.path) +
         "</code>: " + Plural(static_cast<int64_t>(l.records.size()), "line", "lines");
    if (l.wrapped)
      s += ", wrapped (newest lines end at byte " + Num(static_cast<int64_t>(l.wrapOffset)) +
           "; put back in time order)";
    s += "<br>\n";
  }
  if (r.records > 0) s += "From " + HtmlText(r.firstStamp) + " to " + HtmlText(r.lastStamp) + ".";
  return s + "</p>\n";
}

}  // namespace

std::string Html(const std::vector<LogFile>& logs, const Report& r, const Figures& f) {
  std::string s =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      "<title>TARVO trace report</title>\n";
  s += kStyle;
  s += "</head><body>\n";
  s += Header(logs, r) + "<p class=\"verdict\" id=\"verdict\">" + HtmlText(Verdict(r)) + "</p>\n" +
       Tiles(f) + Timeline(r, f) + Histogram(f) + Failures(r) + Notes(r) + Trouble(r) +
       Commands(f) + Startups(r);
  return s + "</body></html>\n";
}

}  // namespace tarvo::report
