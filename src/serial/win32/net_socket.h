// Winsock (ws2_32, a system DLL) for the network client: a non-blocking
// TCP socket with TCP_NODELAY and keepalive tuned as on POSIX, and name
// resolution with a deadline. Codes are Winsock's: WSAETIMEDOUT,
// WSAEPROTONOSUPPORT, WSAECONNRESET, WSAHOST_NOT_FOUND, or the code of the
// failing call; ERROR_INVALID_PARAMETER for a setting answered with
// another value.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>

#include "serial/net_client.h"

namespace tarvo::sys::win32 {

class WinsockSocket final : public net::NetSocket {
 public:
  uint32_t Connect(const char* host, uint16_t port, uint32_t timeoutMs) override;
  uint32_t Send(const uint8_t* data, size_t count, uint32_t stallMs, size_t* sent) override;
  uint32_t Receive(uint8_t* buffer, size_t room, size_t* got, uint32_t timeoutMs) override;
  void Close() override;
  uint64_t NowMs() override;
  uint32_t Code(net::Failure failure) override;

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

}  // namespace tarvo::sys::win32
