#include "common/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvo::tools {

namespace {

// Opens without following a link nor blocking, and keeps the descriptor
// only for a regular file.
int OpenRegular(const std::string& path, int flags, std::string* error) {
  const int fd = open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = path + (errno == ELOOP ? std::string(" is a symbolic link: not followed")
                                    : ": " + std::string(std::strerror(errno)));
    return -1;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    *error = path + " is not a regular file";
    return -1;
  }
  return fd;
}

}  // namespace

bool ReadRegularFile(const std::string& path, std::string* text, std::string* error) {
  const int fd = OpenRegular(path, O_RDONLY, error);
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
  const int fd = OpenRegular(path, O_WRONLY | O_CREAT, error);
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

bool RemoveRegularFile(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && unlink(path.c_str()) == 0;
}

}  // namespace tarvo::tools
