// Shared by the fuzz targets: putting the library back to its state at
// load, and the invariants every target checks after each input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// An invariant that does not hold is a finding: abort, so that libFuzzer
// keeps the input that broke it.
#define FUZZ_CHECK(cond)                                                                \
  do {                                                                                  \
    if (!(cond)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                     \
    }                                                                                   \
  } while (0)

namespace tarvo {
struct DriverState;
}

namespace tarvo::fuzz {

// DriverState, the trace and the facade as they are at load (port closed),
// and a quiet simulated line.
void ResetLibrary();

// Every text field of DriverState, FcState and the trace state is
// terminated inside its capacity; rxCount and txLength lie within their
// buffers; no command is running.
void CheckStateBounds();
// The same bounds on a state of the caller's own.
void CheckStateBounds(const DriverState& d);

// A result the public header documents for a call that reaches the printer:
// 1, 0, -1, -11, -14, -15, -20, -21 or 11010.
bool IsDriverCode(int code);

// Reads the fuzzer's bytes front to back; past the end every read gives 0
// or an empty text.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  // A text of at most maxLen bytes: a length byte, then the bytes (which
  // may hold zero bytes; the copy into out is terminated after them).
  size_t Text(char* out, size_t cap, size_t maxLen);
  // The bytes left, as they are.
  const uint8_t* Rest(size_t* size) {
    *size = pos_ < size_ ? size_ - pos_ : 0;
    const uint8_t* rest = data_ + (pos_ < size_ ? pos_ : size_);
    pos_ = size_;
    return rest;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// While it lives, a private temporary directory (made once per process) is
// the current directory, so that trace files stay out of the tree; the
// previous one is restored after (libFuzzer reads its corpus by relative
// paths).
class InTempDir {
 public:
  InTempDir();
  ~InTempDir();
  InTempDir(const InTempDir&) = delete;
  InTempDir& operator=(const InTempDir&) = delete;

 private:
  int previous_;
};

}  // namespace tarvo::fuzz
