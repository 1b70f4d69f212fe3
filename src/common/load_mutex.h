// A mutex that is ready at load. Some thread libraries (winpthreads, which
// the MinGW build uses) allocate a mutex's record on its first lock; nothing
// may allocate after load, so the constructor takes it once.
#pragma once

#include <mutex>

namespace tarvo {

class LoadMutex : public std::mutex {
 public:
  LoadMutex() {
    lock();
    unlock();
  }
};

}  // namespace tarvo
