#include "report/trace_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/host.h"

namespace tarvo::report {

namespace {

constexpr size_t kStampLength = 17;  // "dd/mm/yy HH:MM:SS"
constexpr std::string_view kStampEnd = " - ";
constexpr std::string_view kHeader = "Arquivo de LOG ";

bool TwoDigits(std::string_view s, size_t at, int* value) {
  const char a = s[at];
  const char b = s[at + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return false;
  *value = (a - '0') * 10 + (b - '0');
  return true;
}

// Days since 1 January 1970 of a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// A physical line: [begin, end) without its '\n' (nor the '\r' of a
// Windows line end).
struct Line {
  size_t begin;
  size_t end;
  size_t next;  // just after the '\n', or the end of the text
  bool crlf;
};

Line LineAt(std::string_view text, size_t at) {
  const size_t nl = text.find('\n', at);
  Line l{at, nl == std::string_view::npos ? text.size() : nl, 0, false};
  l.next = nl == std::string_view::npos ? text.size() : nl + 1;
  l.crlf = l.end > l.begin && text[l.end - 1] == '\r';
  if (l.crlf) --l.end;
  return l;
}

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// What kind of line may run over a line end: only a frame that is not yet
// complete, or a discarded byte that was a line end. Anything else is
// followed by the remain of an older line cut by a wrap. Told once from
// the line's first part, so that each continuation costs the same whatever
// the length of the line so far.
enum class Runs { No, Answer, Request, Discard };

Runs RunsOver(std::string_view first) {
  if (first.find(" Descartando bufRx[") != std::string_view::npos) return Runs::Discard;
  if (first.find(" bufRx=") != std::string_view::npos) return Runs::Answer;
  if (first.find(" bufTx=") != std::string_view::npos) return Runs::Request;
  return Runs::No;
}

bool Continues(Runs runs, std::string_view text, std::string_view line) {
  switch (runs) {
    case Runs::Answer: return !EndsWith(text, "}");
    case Runs::Request: return !EndsWith(text, "} ");
    case Runs::Discard: return line.empty() && EndsWith(text, "]=");
    case Runs::No: break;
  }
  return false;
}

struct Segment {
  std::vector<Record> records;
};

size_t SkipHeader(std::string_view text, bool* header) {
  *header = text.substr(0, kHeader.size()) == kHeader;
  if (!*header) return 0;
  Line first = LineAt(text, 0);
  Line second = LineAt(text, first.next);
  return second.begin < text.size() && second.end == second.begin ? second.next : first.next;
}

}  // namespace

bool ParseStamp(std::string_view line, int64_t* seconds) {
  if (line.size() < kStampLength + kStampEnd.size()) return false;
  if (line[2] != '/' || line[5] != '/' || line[8] != ' ' || line[11] != ':' || line[14] != ':') {
    return false;
  }
  if (line.substr(kStampLength, kStampEnd.size()) != kStampEnd) return false;
  int day, month, year, hour, minute, second;
  if (!TwoDigits(line, 0, &day) || !TwoDigits(line, 3, &month) || !TwoDigits(line, 6, &year) ||
      !TwoDigits(line, 9, &hour) || !TwoDigits(line, 12, &minute) ||
      !TwoDigits(line, 15, &second)) {
    return false;
  }
  if (day < 1 || day > 31 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 60) {
    return false;
  }
  *seconds = DaysFromCivil(2000 + year, month, day) * 86400 + int64_t{hour} * 3600 +
             int64_t{minute} * 60 + second;
  return true;
}

void ReadRecords(LogFile* log, int fileIndex) {
  const std::string_view text = log->content;
  std::vector<Segment> segments(1);
  size_t pos = SkipHeader(text, &log->header);
  Record* current = nullptr;
  Runs runs = Runs::No;
  bool cut = false;  // the next stamped line begins a new segment
  size_t firstCut = std::string_view::npos;
  while (pos < text.size()) {
    const Line l = LineAt(text, pos);
    const std::string_view line = text.substr(l.begin, l.end - l.begin);
    int64_t time = 0;
    if (ParseStamp(line, &time)) {
      const bool back = current != nullptr && time < current->time;
      if ((cut || back) && !segments.back().records.empty()) {
        if (!log->header) {
          if (firstCut == std::string_view::npos) firstCut = l.begin;
          segments.emplace_back();
        } else if (back) {
          ++log->clockSteps;
        }
      }
      cut = false;
      Record r;
      r.time = time;
      r.stamp = line.substr(0, kStampLength);
      r.text = line.substr(kStampLength + kStampEnd.size());
      r.file = fileIndex;
      r.offset = l.begin;
      r.crlf = l.crlf;
      segments.back().records.push_back(r);
      current = &segments.back().records.back();
      runs = RunsOver(r.text);
    } else if (current != nullptr && !cut && Continues(runs, current->text, line)) {
      const size_t begin = static_cast<size_t>(current->text.data() - text.data());
      current->text = text.substr(begin, l.end - begin);
    } else {
      // The remain of an overwritten line: the newest lines end here.
      if (!cut && firstCut == std::string_view::npos && current != nullptr) firstCut = l.begin;
      log->skippedBytes += l.next - l.begin;
      cut = true;
    }
    pos = l.next;
  }
  // Each later segment is older than the one before it in the file.
  log->wrapped = segments.size() > 1;
  log->wrapOffset = log->wrapped ? firstCut : 0;
  log->records.clear();
  for (auto s = segments.rbegin(); s != segments.rend(); ++s) {
    log->records.insert(log->records.end(), s->records.begin(), s->records.end());
  }
}

bool LoadLog(const std::string& path, int fileIndex, LogFile* log, std::string* error) {
  log->path = path;
  std::FILE* f = path == "-" ? stdin : platform::OpenFile(path, "rb");
  if (f == nullptr) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  char buffer[1 << 16];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) log->content.append(buffer, n);
  const bool failed = std::ferror(f) != 0;
  const int err = errno;
  if (f != stdin) (void)std::fclose(f);
  if (failed) {
    *error = "cannot read " + path + ": " + std::strerror(err);
    return false;
  }
  ReadRecords(log, fileIndex);
  return true;
}

std::vector<Record> MergeRecords(const std::vector<LogFile>& logs) {
  std::vector<Record> all;
  std::vector<size_t> next(logs.size(), 0);
  size_t total = 0;
  for (const auto& l : logs) total += l.records.size();
  all.reserve(total);
  size_t last = 0;
  while (all.size() < total) {
    size_t pick = logs.size();
    for (size_t i = 0; i < logs.size(); ++i) {
      if (next[i] >= logs[i].records.size()) continue;
      const int64_t t = logs[i].records[next[i]].time;
      if (pick == logs.size() || t < logs[pick].records[next[pick]].time ||
          (t == logs[pick].records[next[pick]].time && i == last)) {
        pick = i;
      }
    }
    all.push_back(logs[pick].records[next[pick]++]);
    last = pick;
  }
  return all;
}

}  // namespace tarvo::report
