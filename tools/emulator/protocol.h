// The printer's side of the wire protocol, as pure functions over bytes:
// cutting request frames out of the incoming stream, checking and splitting
// them, reading their parameters, and building answer frames.
//
// Request: "{" id ";" command ";" params ";" length "}"
// Answer:  "{" id ";" code ";" values ";" length "}"
// In both, the length counts every character before the last ';', the '{'
// included.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::emu {

// Longest request frame the framer keeps. The driver's longest request is
// far shorter; anything longer is line noise and is dropped.
constexpr size_t kMaxRequestFrame = 2048;

// Cuts request frames out of a byte stream. Bytes before '{' are ignored.
// A '}' ends the frame only when it follows ";digits" (a length field): a
// '}' inside a quoted parameter value does not end the frame. A '{' that
// arrives inside a frame is kept as an ordinary byte, unless the length
// field shows that the frame really started there (noise with a '{' in it
// just before a request).
class Framer {
 public:
  // Feeds one byte; returns the complete frame it ends, if any.
  std::optional<std::string> Push(char byte);
  // Drops a partial frame (after a long pause in the middle of one).
  void Reset() { buffer_.clear(); }
  bool InFrame() const { return !buffer_.empty(); }

 private:
  std::string buffer_;
};

struct Request {
  std::string id;       // the id field exactly as received
  std::string command;  // may be empty
  std::string params;   // the parameter text, unchanged
};

enum class RequestCheck { Ok, BadLength, Malformed };

// Checks a complete frame ("{...;n}") and splits it. On BadLength the id
// (if one could be read) is still filled in so that an error can be
// answered with it.
RequestCheck ParseRequest(std::string_view frame, Request* out);

// Number of characters before the last ';' of a frame body, i.e. the value
// the length field must carry.
size_t LengthBeforeLastSemicolon(std::string_view frameWithoutLength);

struct Param {
  std::string name;
  std::string value;  // without its quotes or '#' marks
  char form;          // '"' quoted, '#' date/time, 0 plain
};

// Reads "name=value name=\"text\" name=#dd/mm/yyyy#" items separated by
// single blanks. False when the text does not follow that form.
bool ParseParams(std::string_view text, std::vector<Param>* out);

// Builds an answer frame with its length field.
std::string BuildAnswer(std::string_view id, std::string_view code, std::string_view values);

// Helpers for the values of an answer.
std::string QuotedValue(std::string_view name, std::string_view text);  // name="text"
std::string PlainValue(std::string_view name, long long n);             // name=n
std::string DateValue(std::string_view name, int day, int month, int year);
std::string TimeValue(std::string_view name, int hour, int minute, int second);

// The driver reads a quoted value up to the next '"', and, when the answer
// is not to LeImpressao, takes the first '}' as the end of the frame. So an
// ordinary quoted value must carry neither: they are replaced by "'" and
// ')' respectively.
std::string SafeQuotedText(std::string_view text);

// Encodes a printed text for the TextoImpressao value of a LeImpressao
// answer. The host ends that value at the first '"' directly followed by
// ';', and turns a backslash into "the next character is literal", dropping
// every backslash of a run. So '"' and ';' are written as \" and \; (the
// encoded text never holds a raw '";'). A backslash cannot be carried at
// all (the host drops it, and one at the end would escape the closing
// quote): it becomes '/', as the printer prints it.
std::string EncodePrintText(std::string_view text);

// The inverse, as the host reads it: a backslash (and any run of them) is
// dropped and the character after it is kept.
std::string DecodePrintText(std::string_view encoded);

}  // namespace tarvo::emu
