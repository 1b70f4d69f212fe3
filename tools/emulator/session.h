// The printer's end of the line: request frames in, answer frames out,
// with the memory of the last answer (a resend is answered again without
// being carried out twice) and the faults that an operator or a test asks
// for. No I/O: bytes and the time of day in, bytes to send out, the state
// kept in the object.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "emulator/printer.h"
#include "emulator/protocol.h"

namespace tarvo::emu {

// Faults to inject. The counters apply to the next N answers (or requests)
// and count down; delay and pace stay until changed.
struct Faults {
  int noiseBytes = 0;  // bytes of noise sent before each of the next noiseCount answers
  int noiseCount = 0;
  int silence = 0;    // requests carried out whose answer is not sent
  int deaf = 0;       // requests not heard at all (not carried out)
  int badLength = 0;  // answers whose length field is one too many
  int stale = 0;      // answers preceded by a stale answer with another id
  int cut = 0;        // answers cut off after their first half
  int delayMs = 0;    // wait before every answer
  int paceBaud = 0;   // 0: bytes go out as fast as the line takes them
};

// Reads one fault command ("silence 2", "noise 5", "noise 5 3", "delay 300",
// "pace 115200", "clear", ...). False with a message for a bad line.
bool ApplyFaultCommand(std::string_view line, Faults* faults, std::string* error);
std::string DescribeFaults(const Faults& faults);

// One piece of output: wait delayMs, then send bytes.
struct Transmission {
  int delayMs = 0;
  std::string bytes;
};

struct Outcome {
  std::vector<Transmission> out;
  std::string log;    // what happened, one line per event, for the operator
  std::string paper;  // text printed by the commands carried out
  bool stateChanged = false;
};

class Session {
 public:
  explicit Session(PrinterState initial = {}) : printer_(std::move(initial)) {}

  // Feeds received bytes; frames completed by them are answered.
  Outcome Receive(std::string_view bytes, const DateTime& now);
  // Drops a partial request (after a long pause inside one).
  void ResetFraming() { framer_.Reset(); }
  bool InFrame() const { return framer_.InFrame(); }

  // Sets the serial number (unless empty) and the ECF number (unless
  // negative).
  void SetIdentity(const std::string& serial, long ecf) { printer_.SetIdentity(serial, ecf); }

  Faults& GetFaults() { return faults_; }
  const Faults& GetFaults() const { return faults_; }
  const Printer& GetPrinter() const { return printer_; }

  // The state file: the printer's state and the memory of the last answer.
  std::string Serialize() const;
  bool Restore(std::string_view text, std::string* error);

 private:
  void Answer(std::string_view frame, const DateTime& now, Outcome* outcome);
  void Send(const std::string& answer, std::string_view id, Outcome* outcome);

  Framer framer_;
  Printer printer_;
  Faults faults_;
  std::string lastRequest_;  // id;command;params of the last request carried out
  std::string lastAnswer_;   // its answer frame, as built
  std::string previousAnswer_;
};

// Noise bytes: anything but '{'.
std::string NoiseBytes(int count);

}  // namespace tarvo::emu
