// The line the emulated printer serves: a pseudo-terminal or serial device
// (TermLine), or a network serial port with one client at a time (NetLine).
// The loop in emulator.cpp sees only this interface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/port_server.h"
#include "platform/platform.h"

namespace tarvo::emu {

class Line {
 public:
  virtual ~Line() = default;
  // The handles to wait on this turn; wantWrite: the printer has bytes due.
  virtual void Watches(std::vector<platform::Watch>* watches, bool wantWrite) = 0;
  // Work of its own, each turn and after each control line: new
  // connections, dropped ones, the modem state, bytes still to go out.
  virtual void Turn(std::string* log) { (void)log; }
  // Appends what arrived for the printer to *data. False when the line went
  // down (a partial request dies with it).
  virtual bool Receive(std::string* data, std::string* log) = 0;
  // Sends the printer's bytes: the bytes taken (0: none fit now), or -1
  // when nobody is at the other end (they are lost).
  virtual long Send(const char* bytes, size_t count) = 0;
  // The longest wait before looking at a line that is down (µs), or -1.
  virtual int64_t RetryUs() const { return -1; }
  // Purges the client asked for since the last call.
  virtual void TakePurges(bool* receive, bool* transmit) { *receive = *transmit = false; }
};

class TermLine : public Line {
 public:
  explicit TermLine(platform::Handle handle) : handle_(handle) {}
  ~TermLine() override { platform::Close(handle_); }
  void Watches(std::vector<platform::Watch>* watches, bool wantWrite) override;
  bool Receive(std::string* data, std::string* log) override;
  long Send(const char* bytes, size_t count) override;
  int64_t RetryUs() const override { return down_ ? 50000 : -1; }

 private:
  platform::Handle handle_;
  bool down_ = false;
};

class NetLine : public Line {
 public:
  NetLine(platform::Handle listener, NetFaults* faults) : listener_(listener), faults_(faults) {}
  ~NetLine() override;
  void Watches(std::vector<platform::Watch>* watches, bool wantWrite) override;
  void Turn(std::string* log) override;
  bool Receive(std::string* data, std::string* log) override;
  long Send(const char* bytes, size_t count) override;
  void TakePurges(bool* receive, bool* transmit) override;

 private:
  void AcceptClients(std::string* log);
  void Drop(const char* why, std::string* log);
  void FlushWire(std::string* log);

  platform::Handle listener_;
  platform::Handle client_ = platform::kNoHandle;
  NetFaults* faults_;
  PortServer server_{faults_};
  std::string wire_;  // bytes for the client, on the wire's terms, in order
  bool purgeReceive_ = false, purgeTransmit_ = false;
  bool lost_ = false;  // a connection ended since Receive last said so
};

}  // namespace tarvo::emu
