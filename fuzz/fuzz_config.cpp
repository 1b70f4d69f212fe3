// The three readers of configuration text: the trace configuration file
// (read from a real file in a temporary directory), the .reg file parser,
// and the CommSettings value, directly and through IniciaDriver on the
// simulated line.
//
// Input: a selector byte (low 2 bits: 0 trace configuration, 1 .reg text,
// 2 CommSettings), then the selector's own bytes, then the text.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "driver/comm_settings.h"
#include "driver/driver_state.h"
#include "fuzz_support.h"
#include "serial/reg_file.h"
#include "serial/sim/sim_line.h"
#include "tarvo.h"
#include "trace/trace.h"

using namespace tarvo;
using tarvo::fuzz::Input;

namespace {

void WriteFile(const char* path, const uint8_t* bytes, size_t size) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  FUZZ_CHECK(fd >= 0);
  FUZZ_CHECK(write(fd, bytes, size) == static_cast<ssize_t>(size));
  close(fd);
}

size_t ReadFile(const char* path, char* out, size_t cap) {
  const int fd = open(path, O_RDONLY);
  if (fd < 0) return 0;
  const ssize_t n = read(fd, out, cap);
  close(fd);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

// The configuration rules, written out once more: the level is the first
// digit at offset 6 or later of the first 50 bytes, when offset 5 holds '=';
// the size follows the first "Tamanho=" from that digit on, when non-zero.
void ExpectedConfig(const uint8_t* bytes, size_t size, int* level, int* maxSize) {
  const size_t n = size < 50 ? size : 50;
  *level = 0;
  *maxSize = 5000000;
  if (n <= 5 || bytes[5] != '=') return;
  size_t from = 6;
  for (size_t i = 6; i < n; ++i) {
    if (bytes[i] >= '0' && bytes[i] <= '9') {
      *level = bytes[i] - '0';
      from = i;
      break;
    }
  }
  const char* text = reinterpret_cast<const char*>(bytes);
  const char* size_at = FindText(text + from, n - from, "Tamanho=");
  if (size_at == nullptr) return;
  const size_t at = static_cast<size_t>(size_at - text) + 8;
  const int value = ReadDecimal(text + at, n - at);
  if (value != 0) *maxSize = value;
}

void FuzzTraceConfig(Input* in) {
  const fuzz::InTempDir inTempDir;
  // A base name of our own characters, of the fuzzer's length (up to and
  // past the 47 that fit).
  const size_t baseLen = 1 + in->Byte() % 60;
  char base[64];
  for (size_t i = 0; i < baseLen; ++i) base[i] = static_cast<char>('a' + i % 26);
  base[baseLen] = '\0';
  char path[80];
  FormatText(path, sizeof path, nullptr, "%s.cfg", base);
  const bool missing = (in->Byte() & 1) != 0;
  size_t size = 0;
  const uint8_t* bytes = in->Rest(&size);
  unlink(path);
  if (!missing) WriteFile(path, bytes, size);

  traceState = TraceState{};
  const int level = TraceConfigRead(base);
  FUZZ_CHECK(level == traceState.traceLevel && level >= 0 && level <= 9);
  if (baseLen > 47) {
    FUZZ_CHECK(level == 0);
  } else if (missing) {
    char created[64];
    const size_t n = ReadFile(path, created, sizeof created);
    FUZZ_CHECK(level == 0 && n == 23 && std::memcmp(created, "Trace=0\nTamanho=5000000", 23) == 0);
  } else {
    int expectedLevel = 0;
    int expectedSize = 0;
    ExpectedConfig(bytes, size, &expectedLevel, &expectedSize);
    FUZZ_CHECK(level == expectedLevel);
    FUZZ_CHECK(traceState.maxLogSize == expectedSize);
  }
  unlink(path);

  // A log under that configuration, bounded in size: it wraps, and a
  // frame-sized line is cut rather than written past the line buffer.
  if (level != 0 && traceState.maxLogSize > 0 && traceState.maxLogSize < 4096) {
    FUZZ_CHECK(TraceLogOpen("fuzz.txt") != nullptr);
    static char longText[6000];
    std::memset(longText, 'L', sizeof longText - 1);
    longText[sizeof longText - 1] = '\0';
    for (int i = 0; i < 3; ++i) LogLine("Linha%s %s\n", "", i == 1 ? longText : base);
    struct stat st {};
    FUZZ_CHECK(stat("fuzz.txt", &st) == 0);
    FUZZ_CHECK(st.st_size <= traceState.maxLogSize + 2 * 8192 + 80);
    unlink("fuzz.txt");
  }
  traceState = TraceState{};
}

void FuzzRegFile(Input* in) {
  const uint32_t cap = 1 + in->Byte() % 40;
  const uint8_t which = in->Byte();
  size_t size = 0;
  const uint8_t* bytes = in->Rest(&size);
  const char* text = reinterpret_cast<const char*>(bytes);
  const char* section = (which & 1) ? "HKEY_CLASSES_ROOT\\BelmoraPOS\\ImpressoraFiscal"
                                    : "HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\Ports";
  const char* value = (which & 2) ? "CommSettings" : "";

  const regfile::Result valid = regfile::Validate(text, size);
  char* out = static_cast<char*>(std::malloc(cap));
  uint32_t got = 0xDEAD;
  const regfile::Result r = regfile::ReadString(text, size, section, value, out, cap, &got);
  if (valid != regfile::Result::Ok) {
    FUZZ_CHECK(r == regfile::Result::Malformed);
    FUZZ_CHECK(regfile::FindSection(text, size, section) == regfile::Result::Malformed);
  } else {
    FUZZ_CHECK(r != regfile::Result::Malformed);
    const regfile::Result found = regfile::FindSection(text, size, section);
    FUZZ_CHECK(found == regfile::Result::Ok || found == regfile::Result::NoSection);
    if (r == regfile::Result::NoSection) FUZZ_CHECK(found == regfile::Result::NoSection);
    if (r == regfile::Result::Ok || r == regfile::Result::NoValue) {
      FUZZ_CHECK(found == regfile::Result::Ok);
    }
  }
  if (r == regfile::Result::Ok) {
    FUZZ_CHECK(got >= 1 && got <= cap && out[got - 1] == '\0');
  } else if (r == regfile::Result::TooLarge) {
    FUZZ_CHECK(got > cap);
  }
  std::free(out);
}

bool ExpectedRate(const uint8_t* v, size_t len, int* rate) {
  size_t n = 0;
  while (n < len && v[n] != 0) ++n;
  size_t comma = n;
  for (size_t i = 5; i < n; ++i) {
    if (v[i] == ',') {
      comma = i;
      break;
    }
  }
  *rate = n > 5 ? ReadDecimal(reinterpret_cast<const char*>(v) + 5, comma - 5) : 0;
  auto at = [&](size_t i) { return i < n ? v[i] : 0; };
  const bool rateOk = *rate == 19200 || *rate == 38400 || *rate == 57600 || *rate == 115200;
  return rateOk && comma < n && (at(comma + 1) == 'E' || at(comma + 1) == 'e') &&
         at(comma + 3) == '8' && at(comma + 5) == '1';
}

void FuzzCommSettings(Input* in) {
  size_t size = 0;
  const uint8_t* bytes = in->Rest(&size);
  if (size > 64) size = 64;
  // Exactly the bytes, so that a read past them is seen.
  char* value = static_cast<char*>(std::malloc(size ? size : 1));
  std::memcpy(value, bytes, size);
  int rate = 0;
  const bool usable = ExpectedRate(bytes, size, &rate);
  const CommSettingsCheck check = CheckCommSettings(value, size);
  FUZZ_CHECK(check.Usable() == usable);
  FUZZ_CHECK(check.rate == rate);
  std::free(value);

  // Through IniciaDriver: a value that does not fit the 20 bytes asked for
  // is not read at all, and only a usable one changes the rate.
  fuzz::ResetLibrary();
  sim::SetRegistryKey(true);
  sim::SetCommSettings(reinterpret_cast<const char*>(bytes), size);
  FUZZ_CHECK(IniciaDriver("COM1") == 1);
  const uint32_t expected = (size <= 20 && usable) ? static_cast<uint32_t>(rate) : 115200u;
  FUZZ_CHECK(sim::LineSettings().baudRate == expected);
  FUZZ_CHECK(EncerraDriver(1) == 0);
  fuzz::CheckStateBounds();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  switch (in.Byte() & 3) {
    case 0: FuzzTraceConfig(&in); break;
    case 1: FuzzRegFile(&in); break;
    default: FuzzCommSettings(&in); break;
  }
  return 0;
}
