// The decoder's inner workings, shared by its parts: the exchange engine's
// lines (decode.cpp), the session's and the facade's (decode_session.cpp),
// and what is concluded once every line is read (diagnose.cpp). Each line is
// recognised through the library's catalogue of trace lines.
#pragma once

#include <string>
#include <string_view>

#include "report/decode.h"
#include "trace/trace_lines.h"

namespace tarvo::report {

// The number a field holds (as every number in a frame is read), or `fallback`.
int FieldNumber(std::string_view field, int fallback = 0);

class Decoder {
 public:
  Report Run(const std::vector<Record>& records);

 private:
  void Take(const Record& r);
  void Engine(const Record& r, const TraceLineMatch& m);
  void PortFailure(const Record& r, const TraceLineMatch& m);
  void Session(const Record& r, const TraceLineMatch& m);
  void Facade(const Record& r, const TraceLineMatch& m);
  void StartupLine(const Record& r, const TraceLineMatch& m);

  Exchange& Current(const Record& r);
  void NewExchange(const Record& r, std::string_view frame);
  void AcceptPending();
  void EndUnfinished();
  void Fail(const Record& r, Outcome o, const char* circumstance);
  void AddNote(const Record& r, const char* kind);
  void Phase(const Record& r, const std::string& words);

  Report out_;
  int open_ = -1;  // the exchange whose end is still to come
  bool pending_ = false;
  std::string pendingFrame_;
  int64_t pendingTime_ = 0;
  int op_ = -1;  // the facade operation whose exchanges may still come
  int startup_ = -1;
  bool startupActive_ = false;
  bool ctsLost_ = false;      // the next exchange that gets through held CTS
  bool networkPort_ = false;  // the session's port is a network URL
  bool networkDown_ = false;  // its link was lost, the port not open again
};

// After decoding: recovered failures, unknown outcomes, lost network links.
void Diagnose(Report* r);

// Whether a read or write code is a network link that went down (Linux
// errno or Windows' code).
bool IsLinkLoss(int code);

}  // namespace tarvo::report
