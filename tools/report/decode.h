// The exchanges, facade operations and start-ups that a trace tells of,
// decoded from its lines in time order (trace_log.h).
//
// An exchange is one request and what came of it. At trace level 1 it
// begins with the request frame ("bufTx=") and ends with the accepted
// answer frame ("bufRx=" that no discard line follows) or with a failure
// line. At other levels the frames are not written: only failures, the
// facade's operations and the start-ups can be told.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report/trace_log.h"

namespace tarvo::report {

enum class Outcome {
  Ok,            // answer accepted, error code 0
  PrinterError,  // answer accepted, the printer refused the command
  NoAnswer,      // silent after the BREAK recovery; port re-opened
  BadLength,     // the answer's length field did not match
  NoCts,         // CTS off before sending, during the hold, or while reading
  WriteError,    // the request could not be written
  Overflow,      // an answer that filled the receive buffer without ending
  Unfinished,    // the log tells no end (it ends, or the level hides it)
};
constexpr int kOutcomeCount = 8;

// Short name ("ok", "no-answer", ...) used in JSON and CSS classes.
const char* OutcomeKey(Outcome o);
// Words for a person ("no answer").
const char* OutcomeWords(Outcome o);
bool IsProtocolFailure(Outcome o);

struct Exchange {
  int64_t start = 0;
  int64_t end = 0;
  std::string stamp;  // of its first line
  int id = -1;        // the request's id; -1 when no request frame was traced
  std::string command;
  std::string params;
  std::string request;  // the request frame, when traced
  std::string answer;   // the accepted answer frame
  bool resend = false;  // the facade's (or host's) resending of the last command
  int operation = -1;   // index into Report::operations, -1 for a driver call
  Outcome outcome = Outcome::Unfinished;
  int code = 0;  // the printer's error code, or 11010 for a protocol failure
  std::string errorName;
  std::string circumstance;
  std::string detail;          // the failure line's figures ("retRead=1460 ...")
  std::string codeWords;       // what the code in it means, when it is the system's
  int discarded = 0;           // bytes thrown away while waiting for '{'
  std::string discardedBytes;  // the first few of them
  std::vector<int> staleIds;   // answers with another id, discarded
  int breakAttempts = 0;       // BRK-nn lines
  bool wokeByBreak = false;    // <RESPOK>: a BREAK attempt brought a byte
  bool reopened = false;       // the port was closed and re-opened
  bool ctsLost = false;
  bool ctsHeld = false;  // waited the 20-second CTS hold after an earlier loss
  int lengthReceived = 0, lengthComputed = 0;
  int retRead = 0, retWrite = 0;
  char ctsStage = 0;  // '1', '2' or '3' for CTS_1/2/3
  // What the decoding makes of it afterwards (diagnose.cpp).
  bool recovered = false;       // a failure whose resend was answered
  bool outcomeUnknown = false;  // a state-changing request sent whole, its answer lost
  bool networkLost = false;     // the network link to the port's server went down
  // Seconds from the request to the end, never negative (the stamps of a
  // log may go back, or be years apart).
  int64_t Seconds() const { return end > start ? end - start : 0; }
};

struct Operation {  // one FC_Operacao
  int64_t time = 0;
  std::string stamp;
  std::string command;
  bool startup = false;  // part of a start-up's identification
  std::vector<int> exchanges;
};

struct Startup {  // one FC_Inicializa
  int64_t time = 0;
  std::string stamp;
  std::string port;
  int level = 0;
  std::string result = "unfinished";                        // "ok", "port not opened", ...
  std::vector<std::pair<std::string, std::string>> phases;  // stamp, words
};

// A line that tells of a problem outside an exchange (opening the port,
// the registry file, a refused call).
struct Note {
  std::string stamp;
  std::string kind;       // a stable key ("open-failed", "no-registry", ...)
  std::string line;       // the trace text
  std::string codeWords;  // for an open failure: what its code means
};

struct Report {
  std::vector<Exchange> exchanges;
  std::vector<Operation> operations;
  std::vector<Startup> startups;
  std::vector<Note> notes;
  size_t records = 0;
  size_t unknownLines = 0;        // lines this report does not know
  bool verbose = false;           // request frames were traced (level 1)
  bool network = false;           // a session ran on a network port (rfc2217://)
  int level = 0;                  // the trace level the log names (start-up lines), 0 unknown
  bool levelHidesFrames = false;  // exchanges ran but their frames are not traced
  int64_t first = 0, last = 0;
  std::string firstStamp, lastStamp;
};

Report Decode(const std::vector<Record>& records);

// Plain words for a failure kind or note kind: what it means, what to check.
struct Advice {
  const char* title;
  const char* meaning;
  const char* check;
};
Advice AdviceForExchange(const Exchange& e);
// What is written for a state-changing command whose outcome is unknown.
extern const char kOutcomeUnknownWords[];
Advice AdviceForNote(const Note& n);

// What a code in "Erro [N] na inicializacao da COM" or "retRead=N" /
// "retWrite=N" stands for, in a few words: the driver's own codes (6 port
// not open, 1247 already open, 1460 time-out), else the system's number,
// errno on Linux and GetLastError on Windows (a log with CR LF line ends).
std::string PlatformCodeWords(int code, bool windows);

}  // namespace tarvo::report
