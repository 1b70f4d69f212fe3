#include "cli/wait_notice.h"

#include <chrono>

#include "platform/host.h"

namespace tarvo::cli {

namespace {
constexpr int kSilentAfter = 5;  // the driver's per-byte time-out, in seconds
constexpr size_t kMaxWidth = 79;
}  // namespace

std::string WaitLine(const std::string& what, int seconds) {
  std::string line = "tarvo: " + what + ": ";
  line += seconds < kSilentAfter ? "waiting for the printer, " + std::to_string(seconds) + " s"
                                 : std::to_string(seconds) +
                                       " s: printer has not answered; driver is trying to wake it";
  // One terminal line, so that a carriage return can wipe it.
  if (line.size() > kMaxWidth) line.resize(kMaxWidth);
  return line;
}

std::string WaitNote(const std::string& what) {
  return "tarvo: " + what + ": no answer for " + std::to_string(kSilentAfter) +
         " s; the driver is trying to wake the printer (about 9 s per command, 27 s for "
         "identify, before it gives up)\n";
}

WaitNotice::WaitNotice(std::string what)
    : what_(std::move(what)), terminal_(platform::CanRedrawLine(stderr)) {
  thread_ = std::thread([this] { terminal_ ? Show() : Note(); });
}

// A log or a pipe gets one whole line, once, when the printer is late.
void WaitNotice::Note() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (done_.wait_for(lock, std::chrono::seconds(kSilentAfter), [this] { return stop_; })) return;
  const std::string line = WaitNote(what_);
  platform::WriteError(line);
}

WaitNotice::~WaitNotice() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  done_.notify_all();
  thread_.join();
}

// Redraws the line once a second; the first after one second, so that
// quick answers show nothing.
void WaitNotice::Show() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (int seconds = 1;; ++seconds) {
    if (done_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; })) break;
    const std::string line = "\r\033[K" + WaitLine(what_, seconds);
    platform::WriteError(line);
    shown_ = true;
  }
  if (shown_) {
    platform::WriteError("\r\033[K");
  }
}

}  // namespace tarvo::cli
