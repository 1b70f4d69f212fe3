// A status line on a terminal while a driver call blocks: how long the tool
// has been waiting, and after 5 s that the printer has not answered and the
// driver is trying to wake it. A thread of the tool: the library starts
// none. Nothing is shown when standard error is not a terminal.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tarvo::cli {

// The status line after `seconds` of waiting for `what` (no line end).
std::string WaitLine(const std::string& what, int seconds);

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

  std::string what_;
  std::mutex mutex_;
  std::condition_variable done_;
  bool stop_ = false;
  bool shown_ = false;
  std::thread thread_;
};

}  // namespace tarvo::cli
