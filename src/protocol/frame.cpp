#include "protocol/frame.h"

#include <cstring>

#include "common/text.h"

namespace tarvo {

namespace {
constexpr size_t kMaxIdOrCode = 9;

const char* FindChar(const char* text, size_t len, char c) {
  return static_cast<const char*>(std::memchr(text, c, len));
}

TextSpan Span(const char* begin, const char* end) {
  return TextSpan{begin, static_cast<size_t>(end - begin)};
}

// The quoted value of `name` in an error answer's values (see errorName).
TextSpan QuotedItem(const char* values, size_t len, const char* name) {
  const char* at = FindText(values, len, name);
  if (at == nullptr) return TextSpan{};
  const char* end = values + len;
  const char* equals = FindChar(at, static_cast<size_t>(end - at), '=');
  if (equals == nullptr || equals + 1 >= end || equals[1] != '"') return TextSpan{};
  const char* start = equals + 2;
  const char* close = FindChar(start, static_cast<size_t>(end - start), '"');
  return Span(start, close ? close : end);
}

// The code and what follows it, once the length and the id were accepted.
// body: the frame after its '{' and up to its last ';'.
void ReadAnswer(const char* body, size_t bodyLen, const char* idEnd, DecodeResult* result) {
  const char* code = idEnd + 1;
  const char* bodyEnd = body + bodyLen;
  const char* codeEnd = FindChar(code, static_cast<size_t>(bodyEnd - code), ';');
  result->codeText = Span(code, codeEnd ? codeEnd : bodyEnd);
  // A code too long to be one would read as another code than the printer
  // sent: refused.
  if (result->codeText.length > kMaxIdOrCode) {
    result->kind = DecodeResult::Malformed;
    return;
  }
  const char* values = codeEnd ? codeEnd + 1 : bodyEnd;
  const size_t valuesLen = static_cast<size_t>(bodyEnd - values);
  result->code = ReadDecimal(code, result->codeText.length);
  result->success = result->codeText.length == 1 && code[0] == '0';
  if (result->success) {
    if (valuesLen > 0) {
      result->values = Span(values, bodyEnd);
      const char* equals = FindChar(values, valuesLen, '=');
      result->valuesEndMark = equals != nullptr && equals + 1 < bodyEnd && equals[1] == '"';
    }
    return;
  }
  result->errorName = QuotedItem(values, valuesLen, "NomeErro");
  result->circumstance = QuotedItem(values, valuesLen, "Circunstancia");
}

}  // namespace

size_t BuildRequest(char* frame, size_t cap, const char* idText, const char* command,
                    const char* params) {
  CopyText(frame, cap, "{");
  AppendText(frame, cap, idText);
  AppendText(frame, cap, ";");
  AppendText(frame, cap, command);
  AppendText(frame, cap, ";");
  AppendText(frame, cap, params);
  const int n = static_cast<int>(BoundedLength(frame, cap));
  char tail[16];
  FormatText(tail, sizeof tail, nullptr, ";%d}", n);
  AppendText(frame, cap, tail);
  return BoundedLength(frame, cap);
}

bool FollowsQuotes(const char* command) { return std::strcmp(command, "LeImpressao") == 0; }

void FrameReceiver::Begin(bool followQuotes) {
  awaitingStart_ = true;
  insideQuote_ = false;
  followQuotes_ = followQuotes;
}

FrameReceiver::Step FrameReceiver::Take(const char* frame, int* count) {
  if (awaitingStart_) {
    if (frame[*count] != '{') return Step::Discarded;
    awaitingStart_ = false;
    *count = 1;
  } else {
    ++*count;
  }
  const int n = *count;
  if (followQuotes_ && n >= 3) {
    const char p = frame[n - 2];
    const char c = frame[n - 1];
    if (!insideQuote_) {
      insideQuote_ = p == '=' && c == '"';
    } else {
      insideQuote_ = !(p == '"' && c == ';');
    }
  }
  return (frame[n - 1] == '}' && !insideQuote_) ? Step::Complete : Step::Stored;
}

DecodeResult DecodeResponse(const char* frame, size_t length, int idSent) {
  DecodeResult result{};
  result.kind = DecodeResult::Accepted;
  size_t len = BoundedLength(frame, length < kMaxAnswerLength ? length : kMaxAnswerLength);
  result.keptLength = len;

  // The length field follows the last ';'. A frame without any ';' has none
  // and fails the length check.
  size_t last = len;
  while (last > 0 && frame[last - 1] != ';') --last;
  if (last == 0) {
    result.kind = DecodeResult::LengthMismatch;
    result.computed = static_cast<int>(len);
    return result;
  }
  result.received = ReadDecimal(frame + last, len - last);
  len = last - 1;
  result.keptLength = len;
  result.computed = static_cast<int>(len);
  if (result.received != result.computed) {
    result.kind = DecodeResult::LengthMismatch;
    return result;
  }

  // The id: from the second character up to the next ';' (or the end).
  const char* body = frame + 1;
  const size_t bodyLen = len > 0 ? len - 1 : 0;
  const char* idEnd = FindChar(body, bodyLen, ';');
  const size_t idLen = idEnd ? static_cast<size_t>(idEnd - body) : bodyLen;
  result.idReceived = ReadDecimal(body, idLen);
  // An id too long to be one this driver sent: the answer is not ours.
  if (idLen > kMaxIdOrCode || result.idReceived != idSent) {
    result.kind = DecodeResult::IdMismatch;
    return result;
  }
  // An answer with no code field would read as code 0: refused.
  if (idEnd == nullptr) {
    result.kind = DecodeResult::Malformed;
    return result;
  }
  ReadAnswer(body, bodyLen, idEnd, &result);
  return result;
}

}  // namespace tarvo
