// A fixed table's free slots, claimed by one open at a time. An open takes
// its slot before its slow part (a connection, a negotiation) and gives it
// back on every failure, so that two opens at once never share a slot and
// a failed open never keeps one. Lock-free; no allocation.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tarvo::sys {

template <size_t N>
class Slots {
 public:
  // A free slot, now the caller's alone: its index, or -1 when none is free.
  int Claim() {
    for (size_t i = 0; i < N; ++i) {
      uint8_t expected = kFree;
      if (state_[i].compare_exchange_strong(expected, kOpening)) return static_cast<int>(i);
    }
    return -1;
  }
  // The claimed slot holds an open device from now on.
  void Publish(int i) { state_[i].store(kOpen); }
  void Release(int i) { state_[i].store(kFree); }
  // Whether slot i holds an open device (a slot still opening does not).
  bool IsOpen(size_t i) const { return i < N && state_[i].load() == kOpen; }

 private:
  static constexpr uint8_t kFree = 0;
  static constexpr uint8_t kOpening = 1;
  static constexpr uint8_t kOpen = 2;
  std::atomic<uint8_t> state_[N] = {};
};

}  // namespace tarvo::sys
