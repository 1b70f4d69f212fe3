// The tools' files follow the library's rules: no symbolic link is followed,
// only regular files are read or written, and no open blocks (a FIFO or a
// device in a file's place is refused, not waited on).
#pragma once

#include <string>

namespace tarvo::tools {

// False with *error ("PATH is a symbolic link: not followed", "PATH is not a
// regular file", or the system's reason) when the file can't be read so.
bool ReadRegularFile(const std::string& path, std::string* text, std::string* error);

// Creates the file (mode 0644 less the umask) or replaces its content.
bool WriteRegularFile(const std::string& path, const std::string& content, std::string* error);

// Removes `path` only when it is a regular file; a link, a FIFO or a
// directory in its place is left alone.
bool RemoveRegularFile(const std::string& path);

}  // namespace tarvo::tools
