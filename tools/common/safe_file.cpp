#include "common/safe_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/host.h"

namespace tarvo::tools {

namespace {

int OpenRegular(const std::string& path, bool write, std::string* error) {
  return platform::OpenRegularFile(path, write, error);
}

// A name as it is on POSIX.
[[maybe_unused]] std::string NameText(const std::string& native) { return native; }

// A UTF-16 name (Windows) in UTF-8, without the conversions of
// std::filesystem, which throw on an unpaired surrogate (here U+FFFD).
[[maybe_unused]] std::string NameText(const std::wstring& native) {
  std::string out;
  for (size_t i = 0; i < native.size(); ++i) {
    unsigned long c = static_cast<unsigned long>(native[i]);
    const bool high = c >= 0xD800 && c < 0xDC00;
    if (high && i + 1 < native.size() && (native[i + 1] & 0xFC00) == 0xDC00) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<unsigned long>(native[++i]) - 0xDC00);
    } else if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) {
      c = 0xFFFD;
    }
    const int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    static constexpr unsigned char kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(kLead[extra] | (c >> (6 * extra)));
    for (int k = extra - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
  }
  return out;
}

}  // namespace

std::vector<std::string> DirectoryNames(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code e;
  // increment(e), not ++: the operator throws when the walk fails.
  for (std::filesystem::directory_iterator it(dir, e), end; !e && it != end; it.increment(e)) {
    names.push_back(NameText(it->path().filename().native()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

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
