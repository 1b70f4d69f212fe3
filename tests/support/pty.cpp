#include "support/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

namespace tarvo::test {

Pty::Pty() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) std::abort();
  slave_ = ptsname(master_);
  termios t;
  tcgetattr(master_, &t);
  cfmakeraw(&t);
  tcsetattr(master_, TCSANOW, &t);
}

Pty::~Pty() {
  if (master_ >= 0) close(master_);
}

std::string Pty::ReadMaster(size_t max, int timeoutMs) {
  std::string out;
  while (out.size() < max) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) break;
    char buffer[512];
    const ssize_t n = read(master_, buffer, std::min(sizeof buffer, max - out.size()));
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

void Pty::WriteMaster(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) std::abort();
    done += static_cast<size_t>(n);
  }
}

}  // namespace tarvo::test
