// Small POSIX helpers shared by the POSIX layer's files: whole-file reads,
// the monotonic clock, the errno of a failure and the registry's port map.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo::sys::posix {

// Reads the whole file into buffer[cap]; false (errno set) when it can't be
// read or does not fit.
bool ReadWholeFile(const char* path, char* buffer, size_t cap, size_t* length);

// The monotonic clock, in milliseconds and in microseconds.
int64_t MonotonicMs();
int64_t MonotonicUs();

// The layer's code for an errno (see system.h): the errno itself, or
// kPlatformCodeBase + errno when it equals a fixed code of another meaning.
uint32_t CodeOfErrno(int number);
// The code of the call that just failed; EIO when it failed without errno.
uint32_t LastErrno();

// The device path for a driver's device name: "/dev/..." names as given,
// COMn through the registry file's port map, else /dev/ttyS(n-1). 0, or a
// code (ENOENT for a name that names no device).
uint32_t ResolveDeviceName(const char* name, char* path, size_t cap);

}  // namespace tarvo::sys::posix
