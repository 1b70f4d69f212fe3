// The directory walk of the tools' platform layer (host.h), the same on
// every platform through std::filesystem; the names are converted by the
// platform's FilePath and FileNameText.
#include <algorithm>
#include <filesystem>

#include "platform/host.h"

namespace tarvo::platform {

std::vector<std::string> DirectoryNames(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code e;
  // increment(e), not ++: the operator throws when the walk fails.
  for (std::filesystem::directory_iterator it(FilePath(dir), e), end; !e && it != end;
       it.increment(e)) {
    names.push_back(FileNameText(it->path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace tarvo::platform
