// A fresh temporary directory that becomes the current directory for the
// life of the object (the trace files live in the current directory).
#pragma once

#include <string>
#include <vector>

namespace tarvo::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
};

std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// The trace lines of a log, without their "dd/mm/yy hh:mm:ss - " stamps
// (the header lines are kept as they are).
std::vector<std::string> TraceLines(const std::string& path);

// Sets the environment variable `name` to `value`, or removes it when
// `value` is null, on every platform.
void SetEnvironment(const char* name, const char* value);

// Switches tracing on at `level` into "test.txt" in the current directory,
// with logTag "2900" and nivelLog `level`, as the facade start-up would.
void StartTrace(int level);

}  // namespace tarvo::test
