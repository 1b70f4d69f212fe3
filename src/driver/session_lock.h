// How the exported calls share the session between threads.
//
// Every exported call but DoMessage does its work holding the session's
// mutex, so no call sees or changes half of another's. An exchange does not
// hold it while it waits for the printer: it claims the session instead
// (cmdBusy, set and cleared under the mutex), and takes the mutex again
// only to finish. So:
//   - a call that is refused while an exchange runs (ExecutaComando,
//     DefineTimeout, FC_Operacao) takes the mutex as it is and looks at the
//     claim: a call that merely holds the mutex for a moment makes it wait,
//     only an exchange refuses it;
//   - every other call takes the mutex once no exchange runs: it waits on
//     the condition variable `idle`, which the exchange's end notifies.
// The internal calls (driver/internal.h) expect the mutex held by their
// caller; the facade uses them, never the locking exports, so a thread
// never waits for itself.
#pragma once

namespace tarvo {

class SessionLock {
 public:
  enum Mode {
    kAsItIs,    // the mutex now, whether an exchange runs or not
    kOnceIdle,  // the mutex once no exchange runs
  };
  explicit SessionLock(Mode mode);
  ~SessionLock();
  SessionLock(const SessionLock&) = delete;
  SessionLock& operator=(const SessionLock&) = delete;

  // Claims the session for an exchange of this thread; false when another
  // thread's exchange runs.
  bool BeginExchange();
  // Ends this thread's exchange, then carries out a close that another
  // thread asked for meanwhile.
  void EndExchange();
  // Lets the mutex go while this thread's claimed exchange waits for the
  // printer, and takes it back.
  void Release();
  void Retake();

 private:
  const bool locking_;
  bool held_ = false;
};

// Measuring only: with locking off, SessionLock takes nothing and the claim
// is the bare flag, as in a build without threads. Nothing but the
// benchmark sets it; the shared library does not export it.
void SetSessionLockingForBenchmark(bool on);

}  // namespace tarvo
