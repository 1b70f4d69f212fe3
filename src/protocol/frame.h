// The text frames exchanged with the printer.
//
//   request: "{" id ";" command ";" params ";" length "}"
//   answer:  "{" id ";" code ";" values ";" length "}"
//
// The length field counts every character before the frame's last ';', the
// '{' included. These functions are pure: they read their arguments and write
// only the DriverState fields named on each.
#pragma once

#include <cstddef>

namespace tarvo {

// bufTx = the request frame. With a command of at most 59 characters and
// parameters of at most 511 (what the command calls accept) the frame has at
// most 581 characters and always fits.
void BuildRequest(const char* idText, const char* command, const char* params);

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

  bool AwaitingStart() const { return awaitingStart_; }

 private:
  bool awaitingStart_ = true;
  bool insideQuote_ = false;
  bool followQuotes_ = false;
};

// Whether the command's answers follow the quote state (exact, case-sensitive).
bool FollowsQuotes(const char* command);

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
};

// Checks a complete answer and, when it is accepted, stores its results in
// errCodeText, respFields, nomeErro, circunstancia and CodigoUltimoErro.
// respCopy is written in every case. The frame is read up to `length` bytes
// or its first zero byte, whichever comes first: a zero byte is not expected
// in a frame and cuts it there, which the length check then refuses.
DecodeResult DecodeResponse(const char* frame, size_t length, int idSent);

}  // namespace tarvo
