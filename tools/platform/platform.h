// The tools' own platform layer, one interface in two headers: this one
// has handles, waiting, lines and the control channel (what the emulator
// needs); host.h has the console, files and serial devices (what the
// command-line host needs). One file per platform (posix.cpp, win32.cpp
// here; host_posix.cpp, host_win32.cpp ... there). It translates and does not
// decide: what a tool does with a stream, a fault line or a port is written
// once, above it.
//
// Everything the emulator waits on is a Handle. On POSIX a Handle is a
// file descriptor. On Windows it is always a socket: a COM port, standard
// input and the stop request are bridged to a loopback socket by a thread
// of their own, so that one wait (WSAPoll) covers them all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvo::platform {

using Handle = intptr_t;
constexpr Handle kNoHandle = -1;

// Sockets, the stop request (SIGINT and SIGTERM; Ctrl-C or closing the
// console on Windows), SIGPIPE ignored. False with a message.
bool Start(std::string* error);

// Readable when the user asked the program to stop (or, on POSIX, to dump
// its state with SIGUSR1).
Handle StopHandle();
// Drains the stop handle: true when a stop was asked for; *dump when the
// state should be written to the log.
bool TakeStop(bool* dump);

// One thing to wait for; `readable`, `writable` and `hangup` are set by
// Wait.
struct Watch {
  Handle handle = kNoHandle;
  bool read = true;
  bool write = false;
  bool readable = false;
  bool writable = false;
  bool hangup = false;
};
// Waits until one of `count` watches is ready or timeoutUs passed (-1: no
// limit). False on an error of the wait itself.
bool Wait(Watch* watches, size_t count, int64_t timeoutUs);

// Reads what is there without waiting: bytes read, 0 when nothing is
// there now, -1 when the other end is gone (end of file, EIO of a
// pseudo-terminal whose slave side was closed, a reset connection).
long Read(Handle h, char* buffer, size_t size);
// Writes without waiting: bytes taken (0 when none fit now), -1 when the
// other end is gone.
long Write(Handle h, const char* bytes, size_t count);
void Close(Handle h);

// ---- Lines ----------------------------------------------------------------

// A pseudo-terminal's master side; *path receives the slave's name.
// Windows has none: kNoHandle with a message.
Handle OpenPseudoTerminal(std::string* path, std::string* error);
// A serial device (/dev/ttyUSB1, COM3) raw at `baud`, 8 data bits, even
// parity, 1 stop bit.
Handle OpenSerialDevice(const std::string& path, long baud, std::string* error);
// Whether OpenSerialDevice takes this rate.
bool ValidBaud(long baud);

// ---- Network --------------------------------------------------------------

// A TCP listener on host:port (port 0: a free port); *bound receives the
// port in use. The listener does not block.
Handle Listen(const std::string& host, uint16_t port, uint16_t* bound, std::string* error);
// A connection waiting on the listener (kNoHandle when none is), made
// non-blocking, with TCP_NODELAY: an answer byte must not wait for Nagle.
Handle Accept(Handle listener);

// ---- The control channel --------------------------------------------------

// Where fault lines come from: "-" is standard input on every platform; on
// POSIX any other path is a FIFO, created when missing (*created then says
// so, and RemoveFifo removes it at the end). Windows takes "-" only.
Handle OpenControlInput(const std::string& path, bool* created, std::string* error);
// Where acknowledgements go: "-" is standard output; on POSIX another path
// is a FIFO, written without waiting (nobody reading drops them).
Handle OpenControlOutput(const std::string& path, bool* created, std::string* error);
// Writes one whole acknowledgement line to OpenControlOutput's handle.
void WriteControlLine(Handle h, const std::string& line);
void RemoveFifo(const std::string& path);

// ---- Files and time -------------------------------------------------------

// Writes `content` beside `path` and renames it over `path`, so that a
// reader sees the old or the new content, never a part.
bool WriteFileAtomically(const std::string& path, const std::string& content);
// The last error of the system as text.
std::string LastErrorText();

struct LocalTime {
  int day, month, year, hour, minute, second;
};
LocalTime Now();

// Asks the system to wake the program on time for byte pacing (tens of
// microseconds); does nothing where there is no such setting.
void WakeOnTime();

}  // namespace tarvo::platform
