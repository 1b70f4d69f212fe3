#include "support/temp_dir.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

namespace tarvo::test {

void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value != nullptr ? value : "");  // "" removes it
#else
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

// A directory of a new name under the system's temporary directory (what
// mkdtemp does, on every platform).
TempDir::TempDir() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device seed;
  std::mt19937_64 pick(seed());
  for (int attempt = 0; path_.empty(); ++attempt) {
    if (attempt == 100) std::abort();
    char name[40];
    std::snprintf(name, sizeof name, "tarvo-test-%016llx", static_cast<unsigned long long>(pick()));
    std::error_code error;
    if (std::filesystem::create_directory(base / name, error)) path_ = (base / name).string();
  }
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
  while (std::getline(in, line)) {
#ifdef _WIN32
    // The log is a text file: its lines end in CR LF on Windows.
    if (!line.empty() && line.back() == '\r') line.pop_back();
#endif
    lines.push_back(std::regex_replace(line, stamp, ""));
  }
  return lines;
}

}  // namespace tarvo::test
