// The transfers of every kind of device: the driver's reads, made with a
// deadline directly; and the imitation of Win32 overlapped transfers (the
// I/O events, transfers that complete before returning, and the start,
// wait, finish and cancel of an overlapped one) for the rest.
//
// It is done without any background work: a transfer that cannot complete
// at once is left "pending" with nothing started; waiting on it is a poll()
// for readiness, and finishing it makes the read or write then. So a
// time-out leaves nothing behind that could later land in a buffer that no
// longer exists.
#include <errno.h>
#include <poll.h>

#include <climits>
#include <cstring>

#include "serial/posix/device.h"
#include "serial/posix/posix_util.h"
#include "serial/system.h"

namespace tarvo::sys {

using posix::Device;
using posix::DeviceOf;
using posix::LastErrno;
using posix::MonotonicMs;

namespace {

// An I/O event. The transfers are waited on through their device's
// readiness, never through the event, so it holds no state of its own.
struct Event {
  bool used;
};

constexpr int kMaxEvents = 8;
Event events[kMaxEvents];

// The pending transfer, kept in IoRecord::platform.
struct Pending {
  Transfer kind;
  Device* device;
  unsigned char* buffer;
  uint32_t count;
  uint32_t moved;  // bytes of a write already written
  uint32_t mask;   // the events watched, for a WaitEvent
  bool slept;      // a read's wait had to sleep for its byte
};
static_assert(sizeof(Pending) <= sizeof(IoRecord::platform), "Pending fits the record");

Pending* PendingOf(IoRecord* record) { return reinterpret_cast<Pending*>(record->platform); }

// A poll() that returns later than this has slept: its byte was not there
// yet. One that finds its byte waiting returns within a microsecond or two.
constexpr int64_t kSleptUs = 20;

// poll() for one event on fd, resuming after signals. 1 ready, 0 timed out,
// -1 failed (errno set).
int PollFor(int fd, short what, uint32_t timeoutMs) {
  const int64_t deadline = timeoutMs == kInfinite ? -1 : MonotonicMs() + timeoutMs;
  for (;;) {
    int wait = -1;
    if (deadline >= 0) {
      const int64_t left = deadline - MonotonicMs();
      wait = left <= 0 ? 0 : (left > INT_MAX ? INT_MAX : static_cast<int>(left));
    }
    pollfd p{fd, what, 0};
    const int r = poll(&p, 1, wait);
    if (r > 0) return 1;
    if (r == 0) {
      if (deadline < 0 || MonotonicMs() >= deadline) return 0;
      continue;
    }
    if (errno != EINTR) return -1;
  }
}

uint32_t ReadSome(Device* d, void* buffer, uint32_t count, uint32_t* got) {
  return d->kind->readSome(d, buffer, count, got);
}

uint32_t WriteSome(Device* d, const unsigned char* buffer, uint32_t count, uint32_t* moved) {
  return d->kind->writeSome(d, buffer, count, moved);
}

uint32_t EventsNow(Device* d, uint32_t mask) { return d->kind->eventsNow(d, mask); }

// Waits for input: 0 when there is some, kWaitTimeout, or a code.
uint32_t WaitInput(Device* d, uint32_t timeoutMs) {
  if (d->kind->waitInput != nullptr) return d->kind->waitInput(d, timeoutMs);
  const int r = PollFor(d->fd, POLLIN, timeoutMs);
  return r < 0 ? LastErrno() : (r == 0 ? kWaitTimeout : 0);
}

uint32_t WriteNow(Device* d, const unsigned char* bytes, uint32_t count, uint32_t* done) {
  uint32_t moved = 0;
  for (;;) {
    const uint32_t code = WriteSome(d, bytes, count, &moved);
    *done = moved;
    if (code != kErrorIoPending) return code;
    if (PollFor(d->fd, POLLOUT, kInfinite) < 0) return LastErrno();
  }
}

uint32_t WaitEventNow(Device* d, void* buffer) {
  for (;;) {
    const uint32_t seen = EventsNow(d, d->eventMask);
    if (seen != 0) {
      std::memcpy(buffer, &seen, sizeof seen);
      return 0;
    }
    if (uint32_t code = WaitInput(d, kInfinite)) return code;
  }
}

// A read bounded by the device's time-outs, as the Win32 rules give them.
uint32_t ReadNow(Device* d, unsigned char* bytes, uint32_t count, uint32_t* done) {
  const CommTimeouts& t = d->timeouts;
  const bool returnAtOnce = t.readIntervalTimeout == 0xFFFFFFFFu &&
                            t.readTotalTimeoutMultiplier == 0 && t.readTotalTimeoutConstant == 0;
  const uint64_t total =
      static_cast<uint64_t>(t.readTotalTimeoutMultiplier) * count + t.readTotalTimeoutConstant;
  const int64_t deadline = total == 0 ? -1 : MonotonicMs() + static_cast<int64_t>(total);
  while (*done < count) {
    uint32_t got = 0;
    const uint32_t code = ReadSome(d, bytes + *done, count - *done, &got);
    if (code == 0) {
      *done += got;
      continue;
    }
    if (code != kErrorIoPending) return code;
    if (returnAtOnce) return 0;
    int64_t wait = deadline < 0 ? -1 : deadline - MonotonicMs();
    if (*done > 0 && t.readIntervalTimeout != 0 && t.readIntervalTimeout != 0xFFFFFFFFu) {
      if (wait < 0 || wait > t.readIntervalTimeout) wait = t.readIntervalTimeout;
    }
    if (deadline >= 0 && wait <= 0) return 0;
    const uint32_t waited = WaitInput(d, wait < 0 ? kInfinite : static_cast<uint32_t>(wait));
    if (waited == kWaitTimeout) return 0;
    if (waited != 0) return waited;
  }
  return 0;
}

// Waiting on a pending write is writing what the device takes as it frees
// room, until all is written or the time is up.
uint32_t WaitWrite(Pending* p, uint32_t timeoutMs) {
  const int64_t deadline = timeoutMs == kInfinite ? -1 : MonotonicMs() + timeoutMs;
  for (;;) {
    const uint32_t code = WriteSome(p->device, p->buffer, p->count, &p->moved);
    if (code != kErrorIoPending) return 0;  // done, or failed: Finish tells which
    uint32_t wait = kInfinite;
    if (deadline >= 0) {
      const int64_t left = deadline - MonotonicMs();
      if (left <= 0) return kWaitTimeout;
      wait = static_cast<uint32_t>(left);
    }
    const int r = PollFor(p->device->fd, POLLOUT, wait);
    if (r < 0) return LastErrno();
    if (r == 0) return kWaitTimeout;
  }
}

}  // namespace

uint32_t CreateIoEvent(Handle* event) {
  for (auto& e : events) {
    if (!e.used) {
      e.used = true;
      *event = &e;
      return 0;
    }
  }
  *event = nullptr;
  return EMFILE;
}

void CloseIoEvent(Handle event) {
  if (event != nullptr) static_cast<Event*>(event)->used = false;
}

void SignalIoEvent(Handle) {}

uint32_t TransferNow(Handle device, Transfer kind, void* buffer, uint32_t count, uint32_t* done) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  *done = 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  if (kind == Transfer::Write) return WriteNow(d, bytes, count, done);
  if (kind == Transfer::WaitEvent) return WaitEventNow(d, buffer);
  return ReadNow(d, bytes, count, done);
}

// The driver's reads: a read with a deadline, no record. A byte is read
// at once only while bytes have been found waiting (see StartTransfer).
uint32_t ReadWithin(Handle device, void* buffer, uint32_t count, uint32_t* done,
                    uint32_t timeoutMs) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  *done = 0;
  if (count == 0) return 0;
  if (d->inputWaiting) {
    const uint32_t code = ReadSome(d, buffer, count, done);
    if (code != kErrorIoPending) return code;
    d->inputWaiting = false;
  }
  const int64_t start = posix::MonotonicUs();
  if (uint32_t waited = WaitInput(d, timeoutMs)) return waited;
  const bool slept = posix::MonotonicUs() - start >= kSleptUs;
  const uint32_t code = ReadSome(d, buffer, count, done);
  d->inputWaiting = code == 0 && !slept;
  return code == kErrorIoPending ? 0 : code;
}

uint32_t StartTransfer(Handle device, Transfer kind, void* buffer, uint32_t count, uint32_t* done,
                       IoRecord* record) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  Pending* p = PendingOf(record);
  *p = Pending{kind, d, static_cast<unsigned char*>(buffer), count, 0, d->eventMask, true};
  *done = 0;
  switch (kind) {
    case Transfer::Read: {
      // A byte is read at once only while bytes have been found waiting.
      // Where they arrive one by one at the line's pace, a read tried first
      // would fail for every byte, and the poll() of the wait followed by
      // one read() is the least a byte costs; where they arrive in bursts,
      // a read tried first saves that poll() for all but the burst's first.
      if (count == 0) return 0;
      if (!d->inputWaiting) return kErrorIoPending;
      const uint32_t code = ReadSome(d, buffer, count, done);
      if (code == kErrorIoPending) d->inputWaiting = false;
      return code;
    }
    case Transfer::Write: {
      const uint32_t code = WriteSome(d, p->buffer, count, &p->moved);
      if (code == 0) *done = p->moved;
      return code;
    }
    case Transfer::WaitEvent: {
      const uint32_t seen = EventsNow(d, d->eventMask);
      if (seen == 0) return kErrorIoPending;
      std::memcpy(buffer, &seen, sizeof seen);
      return 0;
    }
  }
  return EINVAL;
}

uint32_t WaitTransfer(Handle, IoRecord* record, uint32_t timeoutMs) {
  Pending* p = PendingOf(record);
  if (p->kind == Transfer::Write) return WaitWrite(p, timeoutMs);
  const int64_t start = posix::MonotonicUs();
  const uint32_t waited = WaitInput(p->device, timeoutMs);
  p->slept = posix::MonotonicUs() - start >= kSleptUs;
  if (waited != 0) return waited;
  // A completed event wait has written its events, as WaitCommEvent does.
  if (p->kind == Transfer::WaitEvent) {
    const uint32_t seen = EventsNow(p->device, p->mask);
    std::memcpy(p->buffer, &seen, sizeof seen);
  }
  return 0;
}

uint32_t FinishTransfer(Handle device, IoRecord* record, uint32_t* done) {
  Device* d = DeviceOf(device);
  if (d == nullptr) return EBADF;
  Pending* p = PendingOf(record);
  *done = 0;
  switch (p->kind) {
    case Transfer::Read: {
      const uint32_t code = ReadSome(d, p->buffer, p->count, done);
      d->inputWaiting = code == 0 && !p->slept;
      return code == kErrorIoPending ? 0 : code;
    }
    case Transfer::Write: {
      const uint32_t code = WriteSome(d, p->buffer, p->count, &p->moved);
      *done = p->moved;
      return code == kErrorIoPending ? 0 : code;
    }
    case Transfer::WaitEvent: {
      const uint32_t seen = EventsNow(d, d->eventMask);
      std::memcpy(p->buffer, &seen, sizeof seen);
      return 0;
    }
  }
  return EINVAL;
}

void CancelTransfer(Handle, IoRecord*) {
  // Nothing was started while the transfer was pending; nothing to undo.
}

}  // namespace tarvo::sys
