#include "support/temp_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "trace/trace.h"

namespace tarvo::test {

TempDir::TempDir() {
  char pattern[] = "/tmp/tarvo-test-XXXXXX";
  char* made = mkdtemp(pattern);
  if (made == nullptr) std::abort();
  path_ = made;
  previous_ = std::filesystem::current_path().string();
  std::filesystem::current_path(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::vector<std::string> TraceLines(const std::string& path) {
  static const std::regex stamp(R"(^\d\d/\d\d/\d\d \d\d:\d\d:\d\d - )");
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) lines.push_back(std::regex_replace(line, stamp, ""));
  return lines;
}

void StartTrace(int level) {
  WriteFile("test.cfg", "Trace=" + std::to_string(level) + "\n");
  traceState.logTag = "2900";
  traceState.nivelLog = static_cast<uint8_t>(TraceConfigRead("test"));
  TraceLogOpen("test.txt");
}

}  // namespace tarvo::test
