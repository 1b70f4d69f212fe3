#include "support/pty_printer.h"

#include <utility>

namespace tarvo::test {

PtyPrinter::PtyPrinter(Pty& pty, size_t count, Answer answer)
    : pty_(pty), count_(count), answer_(std::move(answer)), thread_([this] { Serve(); }) {}

void PtyPrinter::Join() {
  if (thread_.joinable()) thread_.join();
}

void PtyPrinter::Serve() {
  while (requests_.size() < count_) {
    std::string request;
    while (request.empty() || request.back() != '}') {
      const std::string got = pty_.ReadMaster(1, 2000);
      if (got.empty()) return;
      request += got;
    }
    requests_.push_back(request);
    pty_.WriteMaster(answer_(request));
  }
}

std::string CommandOf(const std::string& frame) {
  const size_t first = frame.find(';');
  if (first == std::string::npos) return "";
  return frame.substr(first + 1, frame.find(';', first + 1) - first - 1);
}

}  // namespace tarvo::test
