#include "common/safe_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/host.h"

namespace tarvo::tools {

namespace {

int OpenRegular(const std::string& path, bool write, std::string* error) {
  return platform::OpenRegularFile(path, write, error);
}

}  // namespace

bool ReadRegularFile(const std::string& path, std::string* text, std::string* error) {
  const int fd = OpenRegular(path, false, error);
  if (fd < 0) return false;
  text->clear();
  char buffer[1 << 16];
  ssize_t n = 0;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text->append(buffer, static_cast<size_t>(n));
  const int e = errno;
  close(fd);
  if (n < 0) *error = path + ": " + std::strerror(e);
  return n == 0;
}

bool WriteRegularFile(const std::string& path, const std::string& content, std::string* error) {
  const int fd = OpenRegular(path, true, error);
  if (fd < 0) return false;
  bool ok = ftruncate(fd, 0) == 0;
  for (size_t done = 0; ok && done < content.size();) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    ok = n > 0;
    done += ok ? static_cast<size_t>(n) : 0;
  }
  const int e = errno;
  ok = close(fd) == 0 && ok;
  if (!ok) *error = "cannot write " + path + ": " + std::strerror(e);
  return ok;
}

bool RemoveRegularFile(const std::string& path) { return platform::RemoveRegularFile(path); }

}  // namespace tarvo::tools
