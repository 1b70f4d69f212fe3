#include "report/report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/safe_file.h"
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

int Usage(const std::string& message) {
  (void)std::fprintf(stderr, "tarvo report: %s\nTry 'tarvo report --help' for more information.\n",
                     message.c_str());
  return 2;
}

bool ParseReportArguments(const std::vector<std::string>& args, ReportOptions* o,
                          std::string* error) {
  bool options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options && a == "--") {
      options = false;
    } else if (options && (a == "-h" || a == "--help")) {
      o->help = true;
    } else if (options && a == "--json") {
      o->json = true;
    } else if (options && (a == "-o" || a == "--output")) {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        *error = "option " + a + " needs a file name";
        return false;
      }
      o->output = args[++i];
    } else if (options && a.rfind("--output=", 0) == 0 && a.size() > 9) {
      o->output = a.substr(9);
    } else if (options && a.size() > 1 && a[0] == '-') {
      *error = "unknown option " + a;
      return false;
    } else {
      o->logs.push_back(a);
    }
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
  if (!ParseReportArguments(args, &o, &error)) return Usage(error);
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
    std::FILE* out = o.output == "-" ? stderr : stdout;
    (void)std::fputs(TextSummary(logs, report, figures).c_str(), out);
    if (o.output != "-") (void)std::fprintf(out, "Page: %s\n", o.output.c_str());
  }
  return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 2;
}

}  // namespace tarvo::report
