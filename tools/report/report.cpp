#include "report/report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/options.h"
#include "common/safe_file.h"
#include "platform/host.h"
#include "report/decode.h"
#include "report/render.h"
#include "report/trace_log.h"

namespace tarvo::report {

const char kReportUsage[] =
    R"(Usage: tarvo report [-o FILE] [--json] [--] LOG...
Reads the driver's trace logs (TARVO.txt, TV_<serial>_<ecf>.txt), puts a
wrapped log back in time order, decodes every exchange with the printer, and
writes a self-contained HTML page (no script, nothing fetched): a timeline of
the exchanges coloured by outcome, the answer times, the failures with what
they mean and what to check, the counts per command and the start-ups. A
short summary goes to standard output.

  LOG                a trace log; several are merged in time order ("-"
                     reads standard input)
  -o, --output FILE  write the page to FILE (default: tarvo-report.html in
                     the current directory; "-" writes it to standard
                     output, and the summary then goes to standard error)
      --json         print the same facts as one JSON object instead of the
                     summary
  -h, --help         show this text

Exit status: 0 when the report was made (whatever the log tells); 2 for bad
arguments, a log that can't be read or is not a trace log, or a page that
can't be written.
)";

namespace {

struct ReportOptions {
  std::string output = "tarvo-report.html";
  bool json = false;
  bool help = false;
  std::vector<std::string> logs;
};

enum Opt { kHelp, kJson, kOutput };

constexpr tools::OptionEntry kOptions[] = {
    {kHelp, "--help", 'h', false},
    {kJson, "--json", 0, false},
    {kOutput, "--output", 'o', true},
};

bool ParseReportArguments(const std::vector<std::string>& args, ReportOptions* o,
                          std::string* error) {
  tools::OptionParser parser(kOptions, args);
  tools::OptionParser::Item item;
  for (;;) {
    const tools::OptionParser::Got got = parser.Next(&item, error);
    if (got == tools::OptionParser::Got::Error) return false;
    if (got == tools::OptionParser::Got::End) break;
    if (got == tools::OptionParser::Got::Word) o->logs.push_back(item.value);
    if (got != tools::OptionParser::Got::Option) continue;
    if (item.id == kHelp) o->help = true;
    if (item.id == kJson) o->json = true;
    if (item.id == kOutput && item.value.empty()) {
      *error = "option " + item.spelling + " needs a file name";
      return false;
    }
    if (item.id == kOutput) o->output = item.value;
  }
  if (!o->help && o->logs.empty()) {
    *error = "no log given";
    return false;
  }
  if (o->json && o->output == "-") {
    *error = "the page (-o -) and --json can't both go to standard output";
    return false;
  }
  return true;
}

// The page goes only into a regular file, never through a link.
bool WriteFile(const std::string& path, const std::string& content, std::string* error) {
  if (path != "-") return tools::WriteRegularFile(path, content, error);
  std::FILE* f = stdout;
  const bool wrote = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  const bool flushed = std::fflush(f) == 0;
  const int err = errno;
  if (!wrote || !flushed) {
    *error = "cannot write " + path + ": " + std::strerror(err);
    return false;
  }
  return true;
}

}  // namespace

int RunReport(const std::vector<std::string>& args) {
  ReportOptions o;
  std::string error;
  if (!ParseReportArguments(args, &o, &error)) return tools::UsageError("tarvo report", error);
  if (o.help) {
    (void)std::fputs(kReportUsage, stdout);
    return 0;
  }
  std::vector<LogFile> logs(o.logs.size());
  for (size_t i = 0; i < o.logs.size(); ++i) {
    if (!LoadLog(o.logs[i], static_cast<int>(i), &logs[i], &error)) {
      (void)std::fprintf(stderr, "tarvo report: %s\n", error.c_str());
      return 2;
    }
    // A log with its header and no line yet is an empty trace, not an error.
    if (logs[i].records.empty() && !logs[i].header) {
      (void)std::fprintf(stderr, "tarvo report: %s: no trace line in it (not a trace log?)\n",
                         o.logs[i].c_str());
      return 2;
    }
  }
  const Report report = Decode(MergeRecords(logs));
  const Figures figures = Count(report);
  if (!WriteFile(o.output, Html(logs, report, figures), &error)) {
    (void)std::fprintf(stderr, "tarvo report: %s\n", error.c_str());
    return 2;
  }
  if (o.json) {
    (void)std::fputs(Json(logs, report, figures).c_str(), stdout);
  } else {
    // The summary quotes the logs' cp1252 text as UTF-8: a console shows it
    // in its own code page (the page written with -o stays UTF-8).
    std::FILE* out = o.output == "-" ? stderr : stdout;
    platform::Print(out, TextSummary(logs, report, figures) +
                             (o.output != "-" ? "Page: " + o.output + "\n" : ""));
  }
  return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 2;
}

}  // namespace tarvo::report
