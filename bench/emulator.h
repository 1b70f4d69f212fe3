// The printer emulator as a child process of a benchmark, on a
// pseudo-terminal it names on its first line of output.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct Emulator {
  pid_t pid = -1;
  std::string path;
};

// Starts `program` with `extra` arguments; false when it did not name its
// line.
bool StartEmulator(const std::string& program, const std::vector<std::string>& extra,
                   Emulator* emu);
void StopEmulator(Emulator* emu);
