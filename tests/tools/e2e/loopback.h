// TCP on 127.0.0.1 for the programs that start ser2net: a port to give it
// and a connection to it. Shared by the ser2net tests and the network
// benchmark.
#pragma once

#include <cstdint>

namespace tarvo::test {

// A port that was free on 127.0.0.1 a moment ago (bound to port 0 and read
// back); another process may still take it before the server binds it.
uint16_t FreeLoopbackPort();

// A connected socket to 127.0.0.1:port, or -1.
int ConnectLoopback(uint16_t port);

}  // namespace tarvo::test
