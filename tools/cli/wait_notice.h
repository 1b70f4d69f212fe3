// A status line on a terminal while a driver call blocks: how long the tool
// has been waiting, and after 5 s that the printer has not answered and the
// driver is trying to wake it. A thread of the tool: the library starts
// none. When standard error is not a terminal, one line (WaitNote) is
// written once, after 5 s, instead.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tarvo::cli {

// The status line after `seconds` of waiting for `what` (no line end).
std::string WaitLine(const std::string& what, int seconds);
// The one line for a log or a pipe (with its line end).
std::string WaitNote(const std::string& what);

class WaitNotice {
 public:
  // Starts showing the line for `what` on fd 2 if it is a terminal.
  explicit WaitNotice(std::string what);
  // Stops and wipes the line.
  ~WaitNotice();
  WaitNotice(const WaitNotice&) = delete;
  WaitNotice& operator=(const WaitNotice&) = delete;

 private:
  void Show();
  void Note();

  std::string what_;
  bool terminal_;
  std::mutex mutex_;
  std::condition_variable done_;
  bool stop_ = false;
  bool shown_ = false;
  std::thread thread_;
};

}  // namespace tarvo::cli
