// The text frames exchanged with the printer.
//
//   request: "{" id ";" command ";" params ";" length "}"
//   answer:  "{" id ";" code ";" values ";" length "}"
//
// The length field counts every character before the frame's last ';', the
// '{' included. These functions are pure: they read their arguments and
// write only into what they are given; storing what an answer says into
// the driver's state is the exchange engine's business.
#pragma once

#include <cstddef>

namespace tarvo {

// The longest answer frame the engine keeps (its receive buffer less the
// terminating zero); DecodeResponse reads no further.
constexpr size_t kMaxAnswerLength = 4095;

// frame[cap] = the request frame; returns its length. With a command of at
// most 59 characters and parameters of at most 511 (what the command calls
// accept) the frame has at most 581 characters.
size_t BuildRequest(char* frame, size_t cap, const char* idText, const char* command,
                    const char* params);

// The framing rule, applied to each byte the engine receives.
class FrameReceiver {
 public:
  enum class Step {
    Discarded,  // noise before the frame's '{'
    Stored,     // part of the frame, which goes on
    Complete,   // the frame's closing '}'
  };

  // A new frame: the '{' is awaited. In an answer to LeImpressao quoted text
  // may hold '}', '"' and ';' and ends only at '"' followed by ';'.
  void Begin(bool followQuotes);

  // The byte just read lies at frame[*count]; *count grows when it is kept.
  Step Take(const char* frame, int* count);

 private:
  bool awaitingStart_ = true;
  bool insideQuote_ = false;
  bool followQuotes_ = false;
};

// Whether the command's answers follow the quote state (exact, case-sensitive).
bool FollowsQuotes(const char* command);

// A piece of the decoded frame; `text` null when the piece is absent. It
// points into the frame and lives as long as the frame does.
struct TextSpan {
  const char* text = nullptr;
  size_t length = 0;
  bool Present() const { return text != nullptr; }
};

// What DecodeResponse found in an answer.
struct DecodeResult {
  enum Kind {
    Accepted,
    LengthMismatch,  // received vs computed length
    IdMismatch,      // idReceived differs from the request's id
    Malformed,       // no code field, or an id or code over 9 characters
  } kind;
  int received;
  int computed;
  int idReceived;
  // The answer as the driver keeps it: the frame up to its last ';' (the
  // whole frame when it has none). Set in every case.
  size_t keptLength;
  // Accepted only, from here on.
  TextSpan codeText;  // the code field, at most 9 characters
  int code;           // the code field read as a number
  bool success;       // the code field is exactly "0"
  // success: the named values (absent when there are none), and whether a
  // ';' closes them, which it does when the first value is quoted: the end
  // mark of a print text read back by Retorno.
  TextSpan values;
  bool valuesEndMark;
  // Not success: the quoted texts of NomeErro and Circunstancia, from the
  // first occurrence of the name, the first '=' after it, when a double
  // quote follows, up to the next double quote (or the end of the values).
  // Absent when the name, its '=' or the opening quote is missing.
  TextSpan errorName;
  TextSpan circumstance;
};

// Checks a complete answer to the request with id idSent. The frame is read
// up to `length` bytes, its first zero byte or kMaxAnswerLength bytes,
// whichever comes first: a zero byte is not expected in a frame and cuts it
// there, which the length check then refuses.
DecodeResult DecodeResponse(const char* frame, size_t length, int idSent);

}  // namespace tarvo
