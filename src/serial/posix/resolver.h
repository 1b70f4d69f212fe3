// Name resolution with a deadline. The system resolver has no time-out of
// its own that a caller can set (a DNS server that never answers holds
// getaddrinfo for its full retry schedule, 10 s and more), so each lookup
// runs on a short-lived thread of its own, and the caller waits for it no
// longer than its deadline. A lookup given up on finishes in the
// background and frees what it found; it never writes to the caller.
#pragma once

#include <netdb.h>
#include <netinet/in.h>

#include <cstdint>

namespace tarvo::sys::posix {

// Resolves host and port for a TCP connection by deadlineMs (the monotonic
// clock of MonotonicMs): 0 with *found (freed with freeaddrinfo),
// ETIMEDOUT when no answer came in time, EHOSTUNREACH when the name is
// unknown, or the code of a call that failed. At most kMaxLookups lookups
// may be outstanding at once, those given up on included; beyond that
// ETIMEDOUT comes at once.
uint32_t ResolveBy(const char* host, uint16_t port, int64_t deadlineMs, addrinfo** found);

constexpr int kMaxLookups = 4;

// For tests: the DNS server (IPv4, any port) that lookups ask instead of
// the system's; null gives the system's back.
void SetNameServerForTests(const sockaddr_in* server);

}  // namespace tarvo::sys::posix
