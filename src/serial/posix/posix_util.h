// Small POSIX helpers shared by the POSIX layer's files.
#pragma once

#include <cstddef>

namespace tarvo::sys::posix {

// Reads the whole file into buffer[cap]; false (errno set) when it can't be
// read or does not fit.
bool ReadWholeFile(const char* path, char* buffer, size_t cap, size_t* length);

}  // namespace tarvo::sys::posix
