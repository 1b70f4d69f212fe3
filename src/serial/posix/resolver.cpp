// Name resolution with a deadline; see resolver.h.
#include "serial/posix/resolver.h"

#include <arpa/inet.h>
#include <errno.h>
#include <pthread.h>
#include <resolv.h>
#include <time.h>

#include <cstring>

#include "common/text.h"
#include "serial/posix/posix_util.h"
#include "serial/rfc2217.h"

namespace tarvo::sys::posix {

namespace {

// One lookup. Free -> Busy (a caller waits) -> Done (the caller takes the
// result) or Abandoned (the caller gave up; the thread frees the result
// and the slot).
struct Lookup {
  enum State { Free, Busy, Done, Abandoned } state;
  char host[rfc2217::kMaxHost + 1];
  char service[8];
  int error;
  addrinfo* found;
};

Lookup lookups[kMaxLookups];
pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t done;
pthread_once_t doneOnce = PTHREAD_ONCE_INIT;
bool haveNameServer = false;
sockaddr_in nameServer;

void InitDone() {
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&done, &attr);
  pthread_condattr_destroy(&attr);
}

void* Run(void* arg) {
  auto* lookup = static_cast<Lookup*>(arg);
  pthread_mutex_lock(&mutex);
  const bool redirect = haveNameServer;
  const sockaddr_in server = nameServer;
  pthread_mutex_unlock(&mutex);
  if (redirect) {
    // This thread's own resolver state, which the system resolver keeps as
    // it is once changed.
    res_init();
    _res.nscount = 1;
    _res.nsaddr_list[0] = server;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int error = getaddrinfo(lookup->host, lookup->service, &hints, &found);
  pthread_mutex_lock(&mutex);
  if (lookup->state == Lookup::Abandoned) {
    if (found != nullptr) freeaddrinfo(found);
    lookup->state = Lookup::Free;
  } else {
    lookup->error = error;
    lookup->found = found;
    lookup->state = Lookup::Done;
    pthread_cond_broadcast(&done);
  }
  pthread_mutex_unlock(&mutex);
  return nullptr;
}

Lookup* Claim(const char* host, uint16_t port) {
  for (auto& l : lookups) {
    if (l.state != Lookup::Free) continue;
    l = Lookup{};
    l.state = Lookup::Busy;
    CopyText(l.host, host);
    FormatText(l.service, sizeof l.service, nullptr, "%u", static_cast<unsigned>(port));
    return &l;
  }
  return nullptr;
}

bool Start(Lookup* lookup) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const bool ok = pthread_create(&thread, &attr, Run, lookup) == 0;
  pthread_attr_destroy(&attr);
  return ok;
}

// Waits, with the mutex held, until the lookup is done or the deadline.
void Await(Lookup* lookup, int64_t deadlineMs) {
  const timespec until{static_cast<time_t>(deadlineMs / 1000),
                       static_cast<long>((deadlineMs % 1000) * 1000000)};
  while (lookup->state == Lookup::Busy) {
    if (pthread_cond_timedwait(&done, &mutex, &until) == ETIMEDOUT) return;
  }
}

}  // namespace

uint32_t ResolveBy(const char* host, uint16_t port, int64_t deadlineMs, addrinfo** found) {
  *found = nullptr;
  // An address needs no lookup, and no thread.
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
  char service[8];
  FormatText(service, sizeof service, nullptr, "%u", static_cast<unsigned>(port));
  if (getaddrinfo(host, service, &hints, found) == 0 && *found != nullptr) return 0;
  *found = nullptr;
  pthread_once(&doneOnce, InitDone);
  pthread_mutex_lock(&mutex);
  Lookup* lookup = Claim(host, port);
  if (lookup == nullptr || !Start(lookup)) {
    if (lookup != nullptr) lookup->state = Lookup::Free;
    pthread_mutex_unlock(&mutex);
    return lookup == nullptr ? ETIMEDOUT : EAGAIN;
  }
  Await(lookup, deadlineMs);
  uint32_t code = ETIMEDOUT;
  if (lookup->state == Lookup::Done) {
    code = lookup->error == 0 && lookup->found != nullptr ? 0 : EHOSTUNREACH;
    if (code == 0) *found = lookup->found;
    if (code != 0 && lookup->found != nullptr) freeaddrinfo(lookup->found);
    lookup->state = Lookup::Free;
  } else {
    lookup->state = Lookup::Abandoned;
  }
  pthread_mutex_unlock(&mutex);
  return code;
}

void SetNameServerForTests(const sockaddr_in* server) {
  pthread_mutex_lock(&mutex);
  haveNameServer = server != nullptr;
  if (server != nullptr) nameServer = *server;
  pthread_mutex_unlock(&mutex);
}

}  // namespace tarvo::sys::posix
