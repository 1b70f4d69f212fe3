// A mutex and a condition variable that are ready at load. Some thread
// libraries (winpthreads, which the MinGW build uses) allocate the record
// of a mutex on its first lock and that of a condition variable on its
// first wait; nothing may allocate after load, so the constructors make
// that first use.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tarvo {

class LoadMutex : public std::mutex {
 public:
  LoadMutex() {
    lock();
    unlock();
  }
};

class LoadConditionVariable : public std::condition_variable {
 public:
  LoadConditionVariable() {
    // The mutex guards nothing: the wait is there only to be the first.
    LoadMutex mutex;
    // cppcheck-suppress localMutex
    std::unique_lock<std::mutex> lock(mutex);
    wait_for(lock, std::chrono::nanoseconds(0));
  }
};

}  // namespace tarvo
