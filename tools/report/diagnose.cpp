// What the decoded exchanges mean together: which failures the resend made
// good, which state-changing commands may have been carried out although
// they failed, and whether the frames were traced at all.
#include "protocol/state_changing.h"
#include "report/decoder.h"

namespace tarvo::report {

const char kOutcomeUnknownWords[] = "may have been carried out: check the printer before repeating";

bool IsLinkLoss(int code) {
  switch (code) {
    case 32:     // EPIPE
    case 104:    // ECONNRESET: the server ended or reset the connection
    case 110:    // ETIMEDOUT
    case 111:    // ECONNREFUSED (re-opening)
    case 113:    // EHOSTUNREACH
    case 10053:  // WSAECONNABORTED
    case 10054:  // WSAECONNRESET
    case 10060:  // WSAETIMEDOUT
    case 10061:  // WSAECONNREFUSED
      return true;
    default: return false;
  }
}

namespace {

// The request went out whole and what came back was lost or damaged: the
// printer may have acted on it. A failure before or during the write (no
// CTS before sending, a failed write) sent nothing the printer could act on.
bool RequestWentOut(const Exchange& e) {
  switch (e.outcome) {
    case Outcome::NoAnswer:
    case Outcome::BadLength:
    case Outcome::Overflow: return true;
    case Outcome::NoCts: return e.ctsStage == '3';
    default: return false;
  }
}

bool Answered(const Exchange& e) {
  return e.outcome == Outcome::Ok || e.outcome == Outcome::PrinterError;
}

}  // namespace

void Diagnose(Report* r) {
  auto& x = r->exchanges;
  // From the end, so that a failed resend passes on whether a later one of
  // the same command was answered.
  for (size_t i = x.size(); i-- > 0;) {
    Exchange& e = x[i];
    if (!IsProtocolFailure(e.outcome)) continue;
    if (i + 1 < x.size() && x[i + 1].resend) {
      e.recovered = Answered(x[i + 1]) || x[i + 1].recovered;
    }
    e.outcomeUnknown = !e.recovered && RequestWentOut(e) && ChangesPrinterState(e.command.c_str());
  }
  // At a level other than 1 the frames are not written: an answered
  // command leaves no line of its own, and a log that did talk to a printer
  // reads as if nothing happened.
  r->levelHidesFrames = !r->verbose && (!r->operations.empty() || !x.empty() ||
                                        (!r->startups.empty() && r->level != 1));
}

}  // namespace tarvo::report
