// The framing rule, DecodeResponse and the storing of its result over
// arbitrary byte streams, as the exchange engine applies them: bytes are stored in bufRx one by
// one, the receiver says when a frame is complete, and each complete frame is decoded against the
// request's id.
//
// Input: a flags byte (bit 0: the answer of a LeImpressao request, whose
// quoted text may hold '}'; bit 1: a well-formed frame built from the input
// instead of a raw stream), the id of the request, then the stream (or the
// code and values of the built frame).
#include <cstring>
#include <string>

#include "common/text.h"
#include "driver/driver_state.h"
#include "fuzz_support.h"
#include "protocol/engine.h"
#include "protocol/frame.h"

using namespace tarvo;
using tarvo::fuzz::Input;

namespace {

// The state the frames are decoded into: the fuzzer's own, as the engine
// stores into the state it is given; the process-wide one is not used.
DriverState state;

constexpr int kMaxFrame = static_cast<int>(sizeof DriverState::bufRx) - 1;

// What the frame says of itself, read independently of DecodeResponse: the
// length field after the last ';' and the count of characters before it.
struct Lengths {
  bool hasSemicolon;
  int received;
  int computed;
};

Lengths MeasureFrame(const char* frame, size_t length) {
  const size_t len = BoundedLength(frame, length);
  for (size_t i = len; i > 0; --i) {
    if (frame[i - 1] == ';') {
      return Lengths{true, ReadDecimal(frame + i, len - i), static_cast<int>(i - 1)};
    }
  }
  return Lengths{false, 0, static_cast<int>(len)};
}

// The invariants of one decoded frame.
void CheckDecoded(const char* frame, size_t length, int idSent, const DecodeResult& r) {
  const DriverState& d = state;
  const Lengths lengths = MeasureFrame(frame, length);
  FUZZ_CHECK(std::memchr(d.respCopy, 0, sizeof d.respCopy) != nullptr);
  if (r.kind == DecodeResult::LengthMismatch) {
    FUZZ_CHECK(!lengths.hasSemicolon || lengths.received != lengths.computed);
    return;
  }
  FUZZ_CHECK(lengths.hasSemicolon && lengths.received == lengths.computed);
  if (r.kind == DecodeResult::IdMismatch) {
    FUZZ_CHECK(r.idReceived != idSent || std::strchr(d.respCopy, ';') == nullptr ||
               std::strchr(d.respCopy, ';') - d.respCopy > 10);
    return;
  }
  if (r.kind == DecodeResult::Malformed) return;

  FUZZ_CHECK(r.kind == DecodeResult::Accepted);
  FUZZ_CHECK(r.idReceived == idSent);
  const size_t codeLen = std::strlen(d.errCodeText);
  FUZZ_CHECK(codeLen <= 9 && std::strchr(d.errCodeText, ';') == nullptr);
  FUZZ_CHECK(d.CodigoUltimoErro == ReadDecimal(d.errCodeText));
  // The code field stands in the frame right after the id and its ';'.
  const char* codeAt = std::strchr(frame, ';');
  FUZZ_CHECK(codeAt != nullptr && std::strncmp(codeAt + 1, d.errCodeText, codeLen) == 0);
  if (std::strcmp(d.errCodeText, "0") == 0) {
    FUZZ_CHECK(std::strcmp(d.nomeErro, "OK") == 0);
    FUZZ_CHECK(d.circunstancia[0] == '\0');
    // respFields is the values field, with at most one ';' added.
    const char* values = codeAt + 1 + codeLen;
    const size_t fieldsLen = std::strlen(d.respFields);
    if (fieldsLen > 0) {
      FUZZ_CHECK(*values == ';');
      const size_t valuesLen =
          static_cast<size_t>(lengths.computed) - static_cast<size_t>(values + 1 - frame);
      FUZZ_CHECK(fieldsLen == valuesLen || fieldsLen == valuesLen + 1);
      FUZZ_CHECK(std::strncmp(d.respFields, values + 1, valuesLen) == 0);
      if (fieldsLen == valuesLen + 1) FUZZ_CHECK(d.respFields[valuesLen] == ';');
    }
  } else {
    FUZZ_CHECK(d.respFields[0] == '\0');
  }
}

// The engine's receiving loop over a byte stream; every complete frame is
// decoded and checked.
void Receive(const uint8_t* bytes, size_t size, bool leImpressao, int idSent) {
  DriverState& d = state;
  FrameReceiver receiver;
  receiver.Begin(leImpressao);
  d.rxCount = 0;
  d.bufRx[0] = '\0';
  // The quote state written out once more: inside after '=' '"', outside
  // again after '"' ';', looked at once three bytes are stored.
  bool inside = false;
  for (size_t i = 0; i < size; ++i) {
    if (d.rxCount >= kMaxFrame) {
      // The engine fails the exchange here; the stream starts afresh.
      receiver.Begin(leImpressao);
      d.rxCount = 0;
      inside = false;
    }
    const int before = d.rxCount;
    d.bufRx[d.rxCount] = static_cast<char>(bytes[i]);
    d.bufRx[d.rxCount + 1] = '\0';
    const FrameReceiver::Step step = receiver.Take(d.bufRx, &d.rxCount);
    if (step == FrameReceiver::Step::Discarded) {
      FUZZ_CHECK(before == 0 && bytes[i] != '{' && d.rxCount == 0);
      continue;
    }
    FUZZ_CHECK(d.rxCount == before + 1 && d.rxCount <= kMaxFrame);
    FUZZ_CHECK(d.bufRx[0] == '{');
    const int stored = d.rxCount;
    if (leImpressao && stored >= 3) {
      const char p = d.bufRx[stored - 2];
      const char c = d.bufRx[stored - 1];
      inside = inside ? !(p == '"' && c == ';') : (p == '=' && c == '"');
    }
    FUZZ_CHECK((step == FrameReceiver::Step::Complete) == (d.bufRx[stored - 1] == '}' && !inside));
    if (step == FrameReceiver::Step::Stored) continue;

    const size_t n = static_cast<size_t>(d.rxCount);
    FUZZ_CHECK(d.bufRx[n - 1] == '}');
    // Outside LeImpressao the first '}' after the '{' ends the frame.
    if (!leImpressao) FUZZ_CHECK(std::memchr(d.bufRx, '}', n - 1) == nullptr);
    const DecodeResult r = DecodeResponse(d.bufRx, n, idSent);
    StoreAnswer(d, d.bufRx, r);
    CheckDecoded(d.bufRx, n, idSent, r);
    receiver.Begin(leImpressao);
    d.rxCount = 0;
    d.bufRx[0] = '\0';
    inside = false;
  }
}

// A frame as a printer must build it from a code and values: always
// accepted, with the code and values stored as they were sent.
void RoundTrip(Input* in, bool leImpressao, int idSent) {
  char code[16];
  const size_t codeLen = in->Text(code, sizeof code, 9);
  size_t valuesLen = 0;
  const uint8_t* values = in->Rest(&valuesLen);
  if (valuesLen > 3900) valuesLen = 3900;
  if (std::memchr(code, ';', codeLen) || std::memchr(code, 0, codeLen) ||
      std::memchr(values, 0, valuesLen)) {
    return;
  }
  std::string frame = "{" + std::to_string(idSent) + ";" + std::string(code, codeLen) + ";" +
                      std::string(reinterpret_cast<const char*>(values), valuesLen);
  frame += ";" + std::to_string(frame.size()) + "}";

  DriverState& d = state;
  const DecodeResult r = DecodeResponse(frame.c_str(), frame.size(), idSent);
  StoreAnswer(d, frame.c_str(), r);
  FUZZ_CHECK(r.kind == DecodeResult::Accepted);
  CheckDecoded(frame.c_str(), frame.size(), idSent, r);
  FUZZ_CHECK(std::strcmp(d.errCodeText, code) == 0);
  if (codeLen == 1 && code[0] == '0' && valuesLen > 0) {
    FUZZ_CHECK(std::strncmp(d.respFields, reinterpret_cast<const char*>(values), valuesLen) == 0);
  }

  // The framing rule completes it at its last byte when nothing inside
  // could end it earlier.
  if (!leImpressao && std::memchr(values, '}', valuesLen) == nullptr &&
      std::memchr(code, '}', codeLen) == nullptr) {
    FrameReceiver receiver;
    receiver.Begin(false);
    d.rxCount = 0;
    for (size_t i = 0; i < frame.size(); ++i) {
      d.bufRx[d.rxCount] = frame[i];
      d.bufRx[d.rxCount + 1] = '\0';
      const FrameReceiver::Step step = receiver.Take(d.bufRx, &d.rxCount);
      FUZZ_CHECK((step == FrameReceiver::Step::Complete) == (i + 1 == frame.size()));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const uint8_t flags = in.Byte();
  const bool leImpressao = (flags & 1) != 0;
  const int idSent = in.Byte();
  // Results of an earlier exchange that an error answer may leave in place.
  CopyText(state.nomeErro, "Anterior");
  CopyText(state.circunstancia, "Circunstancia anterior");
  if (flags & 2) {
    RoundTrip(&in, leImpressao, idSent);
  } else {
    size_t n = 0;
    const uint8_t* stream = in.Rest(&n);
    Receive(stream, n, leImpressao, idSent);
  }
  fuzz::CheckStateBounds(state);
  return 0;
}
