#include "fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>

#include "driver/driver_state.h"
#include "facade/fc_state.h"
#include "serial/sim/sim_line.h"
#include "support/fresh_state.h"
#include "tarvo.h"
#include "trace/trace.h"

namespace tarvo::fuzz {

namespace {

template <size_t N>
bool Terminated(const char (&field)[N]) {
  return std::memchr(field, 0, N) != nullptr;
}

}  // namespace

void ResetLibrary() {
  test::FreshState();
  sim::Reset();
}

void CheckStateBounds() { CheckStateBounds(driverState); }

void CheckStateBounds(const DriverState& d) {
  FUZZ_CHECK(Terminated(d.portName));
  FUZZ_CHECK(Terminated(d.paramText));
  FUZZ_CHECK(Terminated(d.idText));
  FUZZ_CHECK(Terminated(d.lastIdText));
  FUZZ_CHECK(Terminated(d.lastCommand));
  FUZZ_CHECK(Terminated(d.lastParams));
  FUZZ_CHECK(Terminated(d.bufTx));
  FUZZ_CHECK(Terminated(d.bufRx));
  FUZZ_CHECK(Terminated(d.respCopy));
  FUZZ_CHECK(Terminated(d.errCodeText));
  FUZZ_CHECK(Terminated(d.respFields));
  FUZZ_CHECK(Terminated(d.nomeErro));
  FUZZ_CHECK(Terminated(d.circunstancia));
  FUZZ_CHECK(d.rxCount >= 0 && d.rxCount < static_cast<int>(sizeof d.bufRx));
  FUZZ_CHECK(d.txLength >= 0 && d.txLength < static_cast<int>(sizeof d.bufTx));
  FUZZ_CHECK(d.cmdBusy == 0);
  FUZZ_CHECK(d.cmdId >= 0 && d.cmdId <= 255);

  const FcState& f = fcState;
  FUZZ_CHECK(Terminated(f.fcName));
  FUZZ_CHECK(Terminated(f.fcValue));
  FUZZ_CHECK(Terminated(f.logBaseName));
  FUZZ_CHECK(Terminated(f.cfgBaseName));
  FUZZ_CHECK(Terminated(traceState.logPath));
  FUZZ_CHECK(traceState.traceLevel >= 0 && traceState.traceLevel <= 9);
}

bool IsDriverCode(int code) {
  switch (code) {
    case 1:
    case 0:
    case TARVO_EXCHANGE_FAILED:
    case TARVO_BAD_CHANNEL:
    case TARVO_BAD_HANDLE:
    case TARVO_VALUE_UNREADABLE:
    case TARVO_TOO_LONG:
    case TARVO_NULL_ARGUMENT:
    case TARVO_PROTOCOL_FAILURE: return true;
    default: return false;
  }
}

size_t Input::Text(char* out, size_t cap, size_t maxLen) {
  size_t n = Byte();
  if (n > maxLen) n = maxLen;
  if (n > size_ - (pos_ < size_ ? pos_ : size_)) n = size_ - (pos_ < size_ ? pos_ : size_);
  if (n + 1 > cap) n = cap - 1;
  std::memcpy(out, data_ + pos_, n);
  out[n] = '\0';
  pos_ += n;
  return n;
}

namespace {

char tempDir[] = "/tmp/tarvo-fuzz-XXXXXX";

// Removes every file the library left in the current directory.
void EmptyCurrentDir() {
  DIR* dir = opendir(".");
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_type == DT_REG) unlink(entry->d_name);
  }
  closedir(dir);
}

void RemoveTempDir() { rmdir(tempDir); }

}  // namespace

InTempDir::InTempDir() : previous_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  static bool made = false;
  if (!made) {
    made = mkdtemp(tempDir) != nullptr;
    std::atexit(RemoveTempDir);
  }
  if (!made || previous_ < 0 || chdir(tempDir) != 0) {
    std::perror("temporary directory");
    std::abort();
  }
}

InTempDir::~InTempDir() {
  EmptyCurrentDir();
  if (fchdir(previous_) != 0) std::abort();
  close(previous_);
}

}  // namespace tarvo::fuzz
