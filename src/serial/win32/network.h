// The Win32 network device: a port named rfc2217://HOST:PORT[?OPTIONS], or
// a COM name that the registry's port map (the key "SOFTWARE\TARVO\Ports"
// under HKEY_LOCAL_MACHINE) gives such a name, reached with Winsock
// (ws2_32, a system DLL). The protocol is serial/net_client.h's; this file
// gives it sockets and answers the system layer's device calls for network
// handles, which line.cpp hands over after asking IsDevice (or OwnsRecord).
//
// Codes are Winsock's and Win32's: WSAETIMEDOUT, WSAEPROTONOSUPPORT (the
// server refuses the Com Port option), ERROR_INVALID_PARAMETER (a setting
// answered with another value), WSAECONNRESET (the connection was reset or
// ended), ERROR_FILE_NOT_FOUND (a malformed URL), or the code of the
// failing call. Name resolution (getaddrinfo) happens only when a port is
// opened; nothing is allocated per exchange.
#pragma once

#include <cstdint>

#include "serial/system.h"

namespace tarvo::sys::winnet {

// "COM" and digits, without regard to case: a name the port map may hold.
bool IsComName(const char* name);

// Whether the driver's device name is a network port: a URL, or a COM name
// mapped to one. *url receives the URL.
bool Claims(const char* name, char (&url)[256]);

bool IsDevice(Handle device);
uint32_t OpenDevice(const char* url, Handle* device);
void CloseDevice(Handle device);
uint32_t GetLineSettings(Handle device, Dcb* dcb);
uint32_t SetLineSettings(Handle device, const Dcb* dcb);
uint32_t GetTimeouts(Handle device, CommTimeouts* timeouts);
uint32_t SetTimeouts(Handle device, const CommTimeouts* timeouts);
uint32_t SetEventMask(Handle device, uint32_t mask);
uint32_t PurgeQueues(Handle device, uint32_t flags);
uint32_t GetModemStatus(Handle device, uint32_t* status);
uint32_t EscapeFunction(Handle device, Escape code);
uint32_t TransferNow(Handle device, Transfer kind, void* buffer, uint32_t count, uint32_t* done);
uint32_t StartTransfer(Handle device, Transfer kind, void* buffer, uint32_t count, uint32_t* done,
                       IoRecord* record);
// Whether the record holds a transfer that StartTransfer above began.
bool OwnsRecord(const IoRecord* record);
uint32_t WaitTransfer(IoRecord* record, uint32_t timeoutMs);
uint32_t FinishTransfer(Handle device, IoRecord* record, uint32_t* done);

}  // namespace tarvo::sys::winnet
