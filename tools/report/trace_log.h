// Reading the driver's trace logs back: lines with their time stamps, in
// time order, also when a log has wrapped and holds its newest lines before
// its oldest ones.
//
// A log is a text file. It starts with the header "Arquivo de LOG NAME:"
// and an empty line, unless it wrapped or was re-created while tracing was
// on. Each line starts with a "dd/mm/yy HH:MM:SS - " stamp in local time.
// A line may hold line ends of its own (a printed text in a received frame,
// a discarded line-end byte); those continue the line before. Once a log
// has grown past its size limit, writing starts again at offset 0 over the
// oldest lines and the file is not cut: after the last line written, the
// rest of a half-overwritten older line follows, then the older lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::report {

// One trace line: its stamp and the text after "stamp - ", line ends that
// belong to it included, the last one left out.
struct Record {
  int64_t time = 0;        // seconds, from the stamp (local time, no zone)
  std::string_view stamp;  // "dd/mm/yy HH:MM:SS"
  std::string_view text;
  int file = 0;       // index of the log it came from
  size_t offset = 0;  // of its stamp in that log
  bool crlf = false;  // ended with CR LF: written on Windows
};

struct LogFile {
  std::string path;
  std::string content;
  bool header = false;          // starts with the "Arquivo de LOG" header
  bool wrapped = false;         // holds its newest lines before older ones
  size_t wrapOffset = 0;        // where the newest line ends, when wrapped
  size_t skippedBytes = 0;      // remains of overwritten lines, left out
  size_t clockSteps = 0;        // stamps earlier than the line before (unwrapped)
  std::vector<Record> records;  // in time order
};

// Seconds for a "dd/mm/yy HH:MM:SS" stamp at the start of `line`; false when
// the line does not start with one followed by " - ".
bool ParseStamp(std::string_view line, int64_t* seconds);

// Splits `log.content` into records and puts them in time order.
void ReadRecords(LogFile* log, int fileIndex);

// Loads and reads one log file; false with a message when it can't be read.
bool LoadLog(const std::string& path, int fileIndex, LogFile* log, std::string* error);

// Every log's records in one time order: a log's own order is kept, and
// lines of equal stamps from different logs stay in runs.
std::vector<Record> MergeRecords(const std::vector<LogFile>& logs);

}  // namespace tarvo::report
