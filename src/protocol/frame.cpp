#include "protocol/frame.h"

#include <cstring>

#include "common/text.h"
#include "driver/driver_state.h"

namespace tarvo {

namespace {
constexpr size_t kMaxIdOrCode = 9;

const char* FindChar(const char* text, size_t len, char c) {
  return static_cast<const char*>(std::memchr(text, c, len));
}

// The quoted value of `name` in an error answer's values, into out[cap]:
// from the first occurrence of the name, the first '=' after it; when a
// double quote follows, the text up to the next double quote (or the end of
// the values when that quote is missing), cut to the capacity. The field
// keeps what it held when the name, its '=' or the opening quote is missing.
void CopyQuotedItem(const char* values, size_t len, const char* name, char* out, size_t cap) {
  const char* at = FindText(values, len, name);
  if (at == nullptr) return;
  const char* end = values + len;
  const char* equals = FindChar(at, static_cast<size_t>(end - at), '=');
  if (equals == nullptr || equals + 1 >= end || equals[1] != '"') return;
  const char* start = equals + 2;
  const char* close = FindChar(start, static_cast<size_t>(end - start), '"');
  CopyBytes(out, cap, start, static_cast<size_t>((close ? close : end) - start));
}
}  // namespace

void BuildRequest(const char* idText, const char* command, const char* params) {
  DriverState& d = driverState;
  CopyText(d.bufTx, "{");
  AppendText(d.bufTx, idText);
  AppendText(d.bufTx, ";");
  AppendText(d.bufTx, command);
  AppendText(d.bufTx, ";");
  AppendText(d.bufTx, params);
  const int n = static_cast<int>(BoundedLength(d.bufTx, sizeof d.bufTx));
  char tail[16];
  FormatText(tail, sizeof tail, nullptr, ";%d}", n);
  AppendText(d.bufTx, tail);
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
  DriverState& d = driverState;
  DecodeResult result{DecodeResult::Accepted, 0, 0, 0};
  CopyBytes(d.respCopy, sizeof d.respCopy, frame, BoundedLength(frame, length));
  size_t len = BoundedLength(d.respCopy, sizeof d.respCopy);

  // The length field follows the last ';'. A frame without any ';' has none
  // and fails the length check.
  size_t last = len;
  while (last > 0 && d.respCopy[last - 1] != ';') --last;
  if (last == 0) {
    result.kind = DecodeResult::LengthMismatch;
    result.computed = static_cast<int>(len);
    return result;
  }
  result.received = ReadDecimal(d.respCopy + last, len - last);
  len = last - 1;
  d.respCopy[len] = '\0';
  result.computed = static_cast<int>(len);
  if (result.received != result.computed) {
    result.kind = DecodeResult::LengthMismatch;
    return result;
  }

  // The id: from the second character up to the next ';' (or the end).
  const char* body = d.respCopy + 1;
  const size_t bodyLen = len > 0 ? len - 1 : 0;
  const char* idEnd = FindChar(body, bodyLen, ';');
  const size_t idLen = idEnd ? static_cast<size_t>(idEnd - body) : bodyLen;
  result.idReceived = ReadDecimal(body, idLen);
  if (idLen > kMaxIdOrCode) {
    // Not an id this driver can have sent: the answer is not ours.
    result.kind = DecodeResult::IdMismatch;
    return result;
  }
  if (result.idReceived != idSent) {
    result.kind = DecodeResult::IdMismatch;
    return result;
  }
  // An answer with no code field, or one too long to be a code, would read
  // as code 0 or as another code than the printer sent: refused.
  if (idEnd == nullptr) {
    result.kind = DecodeResult::Malformed;
    return result;
  }
  const char* code = idEnd + 1;
  const char* bodyEnd = body + bodyLen;
  const char* codeEnd = FindChar(code, static_cast<size_t>(bodyEnd - code), ';');
  const size_t codeLen = static_cast<size_t>((codeEnd ? codeEnd : bodyEnd) - code);
  if (codeLen > kMaxIdOrCode) {
    result.kind = DecodeResult::Malformed;
    return result;
  }
  const char* values = codeEnd ? codeEnd + 1 : bodyEnd;
  const size_t valuesLen = static_cast<size_t>(bodyEnd - values);

  CopyBytes(d.errCodeText, sizeof d.errCodeText, code, codeLen);
  const bool success = std::strcmp(d.errCodeText, "0") == 0;
  if (success && valuesLen > 0) {
    CopyBytes(d.respFields, sizeof d.respFields, values, valuesLen);
    // When the first value is quoted, one ';' closes the text: it is the end
    // mark of a print text read back by Retorno.
    const char* equals = FindChar(values, valuesLen, '=');
    if (equals != nullptr && equals + 1 < bodyEnd && equals[1] == '"') {
      AppendText(d.respFields, ";");
    }
  } else {
    d.respFields[0] = '\0';
  }
  if (success) {
    CopyText(d.nomeErro, "OK");
    d.circunstancia[0] = '\0';
  } else {
    CopyQuotedItem(values, valuesLen, "NomeErro", d.nomeErro, sizeof d.nomeErro);
    CopyQuotedItem(values, valuesLen, "Circunstancia", d.circunstancia, sizeof d.circunstancia);
  }
  d.CodigoUltimoErro = ReadDecimal(d.errCodeText);
  return result;
}

}  // namespace tarvo
