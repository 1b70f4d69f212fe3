// The emulator's loop: it waits on the line, the control channel and the
// stop request, hands the host's bytes to the session, applies fault lines,
// and sends the answers on time (delay and byte pacing).
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "emulator/lines.h"
#include "emulator/options.h"
#include "emulator/port_server.h"
#include "emulator/session.h"
#include "platform/platform.h"

namespace tarvo::emu {

// Applies one control line to the printer's faults or the network's;
// "clear" disarms both. False with a message for a bad line.
bool ApplyControlLine(std::string_view line, Faults* faults, NetFaults* net, std::string* error);

class Emulator {
 public:
  Emulator(const Options& options, Session* session, NetFaults* net, Line* line)
      : options_(options), session_(session), net_(net), line_(line) {}

  // Serves until asked to stop: the exit status.
  int Run(platform::Handle control, platform::Handle ack);

 private:
  // Bytes waiting to go out: each piece starts no earlier than its time,
  // and with pacing its bytes leave one per byte time.
  struct Outgoing {
    std::string bytes;
    int64_t startUs = 0;
    size_t sent = 0;
  };

  void Log(const std::string& text) const;
  void Dump() const;
  void ReadLine();
  void ShowPaper(const std::string& paper);
  void SaveState();
  bool Control(platform::Handle control, platform::Handle ack);
  void ControlLine(const std::string& line, platform::Handle ack);
  void Flush();
  int64_t PollTimeoutUs() const;

  const Options& options_;
  Session* session_;
  NetFaults* net_;
  Line* line_;
  std::deque<Outgoing> queue_;
  int64_t lastByteMs_ = 0;
  std::string controlLine_;
};

}  // namespace tarvo::emu
