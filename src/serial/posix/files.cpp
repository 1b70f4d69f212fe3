// Files by name and the local time of day, for the trace. Plain POSIX
// descriptors, so that no call allocates memory.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

#include "serial/posix/posix_util.h"
#include "serial/system.h"

namespace tarvo::sys {

namespace {
int FdOf(Handle file) { return static_cast<int>(reinterpret_cast<intptr_t>(file)) - 1; }
// A descriptor travels as the layer's opaque handle; it is never dereferenced.
Handle HandleOf(int fd) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  return reinterpret_cast<Handle>(static_cast<intptr_t>(fd) + 1);
}

// Loads the time-zone rules once at load, so that the first trace line
// does not allocate.
struct TimeZoneLoader {
  TimeZoneLoader() { tzset(); }
} timeZoneLoader;
// Opens a regular file without ever blocking in open(): a FIFO or a device
// under the name would otherwise hold the call until someone opened its
// other end. Anything but a regular file is refused (errno EINVAL); the
// descriptor returned blocks as usual.
int OpenRegularFile(const char* path, int flags, mode_t mode) {
  const int fd = open(path, flags | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  // The status flags are those just opened with, so one F_SETFL without
  // asking F_GETFL first: every trace line opens its log (one call less per
  // line).
  if (fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
    const int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}
}  // namespace

namespace posix {
bool ReadWholeFile(const char* path, char* buffer, size_t cap, size_t* length) {
  *length = 0;
  const int fd = OpenRegularFile(path, O_RDONLY, 0);
  if (fd < 0) return false;
  for (;;) {
    if (*length == cap) {
      char extra;
      const ssize_t more = read(fd, &extra, 1);
      close(fd);
      if (more > 0) errno = EFBIG;
      return more == 0;
    }
    const ssize_t n = read(fd, buffer + *length, cap - *length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int saved = errno;
      close(fd);
      errno = saved;
      return false;
    }
    if (n == 0) break;
    *length += static_cast<size_t>(n);
  }
  close(fd);
  return true;
}
}  // namespace posix

// The trace's files follow no symbolic link (a link named like the log
// would send frames of sales into whatever file it points at), and a new
// log is readable by the owner's group at most, as the umask allows.
Handle FileOpen(const char* path, FileMode mode) {
  int flags = O_NOFOLLOW;
  switch (mode) {
    case FileMode::Read: flags |= O_RDONLY; break;
    case FileMode::Update: flags |= O_RDWR; break;
    case FileMode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
  }
  const int fd = OpenRegularFile(path, flags, 0640);
  return fd < 0 ? nullptr : HandleOf(fd);
}

void FileClose(Handle file) {
  if (file != nullptr) close(FdOf(file));
}

uint32_t FileRead(Handle file, void* buffer, uint32_t count) {
  uint32_t total = 0;
  while (total < count) {
    const ssize_t n = read(FdOf(file), static_cast<char*>(buffer) + total, count - total);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += static_cast<uint32_t>(n);
  }
  return total;
}

int64_t FileWrite(Handle file, const void* buffer, uint32_t count) {
  uint32_t total = 0;
  while (total < count) {
    const ssize_t n = write(FdOf(file), static_cast<const char*>(buffer) + total, count - total);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    total += static_cast<uint32_t>(n);
  }
  return total;
}

int64_t FileSeek(Handle file, int64_t offset) {
  return static_cast<int64_t>(lseek(FdOf(file), static_cast<off_t>(offset), SEEK_SET));
}

int64_t FileSeekEnd(Handle file) { return static_cast<int64_t>(lseek(FdOf(file), 0, SEEK_END)); }

int64_t FileTell(Handle file) { return static_cast<int64_t>(lseek(FdOf(file), 0, SEEK_CUR)); }

void CurrentLocalTime(LocalTime* now) {
  const time_t seconds = time(nullptr);
  tm local{};
  localtime_r(&seconds, &local);
  *now = LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                   local.tm_hour,        local.tm_min,     local.tm_sec};
}

}  // namespace tarvo::sys
