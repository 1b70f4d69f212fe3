// Retorno and the lookup under it over arbitrary respFields texts and
// names, TextoImpressao included, with output buffers of exactly the size
// the caller is told to give (so that the address sanitizer sees any byte
// written past them).
//
// Input: a selector byte (bits 0-2 pick the name: a few names of the
// printer's language, or a name from the input; bit 3: the last exchange
// ended with an error; bits 4-7: the room of a second, small output), the
// name when it comes from the input, then the text of respFields.
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/text.h"
#include "driver/driver_state.h"
#include "driver/value_lookup.h"
#include "fuzz_support.h"
#include "tarvo.h"

using namespace tarvo;
using tarvo::fuzz::Input;

namespace {

const char* const kNames[] = {
    "TextoImpressao", "ValorTexto", "ValorInteiro", "Data", "Hora", "Texto", ""};

// The value read by Retorno must be what the rules say, checked by form.
void CheckValue(const char* text, size_t textLen, const char* name, const char* out, int n) {
  const size_t outLen = std::strlen(out);
  if (n == 0) {
    FUZZ_CHECK(outLen == 0);
    return;
  }
  const char* at = FindText(text, textLen, name);
  FUZZ_CHECK(at != nullptr);
  const char* equals =
      static_cast<const char*>(std::memchr(at, '=', static_cast<size_t>(text + textLen - at)));
  FUZZ_CHECK(equals != nullptr && equals + 1 < text + textLen);
  const char* end = text + textLen;
  const char form = equals[1];
  if (form == '#') {
    // A time when the third character after the '#' is ':', else a date.
    FUZZ_CHECK(n == ((equals + 4 < end && equals[4] == ':') ? 8 : 10));
    FUZZ_CHECK(outLen <= static_cast<size_t>(n));
    FUZZ_CHECK(std::strncmp(out, equals + 2, outLen) == 0);
    return;
  }
  FUZZ_CHECK(outLen == static_cast<size_t>(n));
  if (form == '"' && std::strcmp(name, "TextoImpressao") == 0) {
    // A print text: a run of backslashes makes the next character literal
    // and never reaches the output; the text ends before '"' ';'.
    std::string expected;
    const char* p = equals + 2;
    if (p < end && *p != '"') {
      while (p < end) {
        while (p < end && *p == '\\') ++p;
        if (p == end) break;
        expected.push_back(*p++);
        if (p + 1 < end && p[0] == '"' && p[1] == ';') break;
      }
    }
    FUZZ_CHECK(expected == out);
    return;
  }
  const char stop = form == '"' ? '"' : ' ';
  const char* from = form == '"' ? equals + 2 : equals + 1;
  FUZZ_CHECK(std::strncmp(out, from, outLen) == 0);
  FUZZ_CHECK(std::memchr(out, stop, outLen) == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DriverState& d = driverState;
  Input in(data, size);
  const uint8_t selector = in.Byte();
  char name[128];
  const size_t pick = selector & 7;
  if (pick < sizeof kNames / sizeof kNames[0]) {
    CopyText(name, kNames[pick]);
  } else {
    in.Text(name, sizeof name, sizeof name - 1);
  }
  size_t textLen = 0;
  const uint8_t* text = in.Rest(&textLen);
  CopyBytes(d.respFields, sizeof d.respFields, reinterpret_cast<const char*>(text), textLen);
  const size_t fieldsLen = std::strlen(d.respFields);
  char fields[sizeof d.respFields];
  std::memcpy(fields, d.respFields, fieldsLen + 1);

  d.fArq = 1;
  const bool failed = (selector & 8) != 0;
  d.CodigoUltimoErro = failed ? TARVO_PROTOCOL_FAILURE : 0;
  char* out = static_cast<char*>(std::malloc(TARVO_VALUE_SIZE));
  std::memset(out, 'x', TARVO_VALUE_SIZE);

  FUZZ_CHECK(Retorno(2, 0, name, 0, out, 0) == TARVO_BAD_HANDLE);
  FUZZ_CHECK(out[0] == 'x');
  const int n = Retorno(1, 0, name, 0, out, 0);
  FUZZ_CHECK(std::memchr(out, 0, TARVO_VALUE_SIZE) != nullptr);
  if (failed) {
    FUZZ_CHECK(n == TARVO_PROTOCOL_FAILURE && out[0] == '\0' && d.respFields[0] == '\0');
  } else {
    FUZZ_CHECK(n >= 0 && n < TARVO_VALUE_SIZE);
    CheckValue(fields, fieldsLen, name, out, n);
    // Retorno reads; it does not change the text.
    FUZZ_CHECK(std::strcmp(d.respFields, fields) == 0);
    FUZZ_CHECK(Retorno(1, 0, name, 0, out, 0) == n);
  }
  std::free(out);

  // The lookup with a small room: always terminated inside it.
  const size_t cap = (selector >> 4) + 1u;
  char* small = static_cast<char*>(std::malloc(cap));
  const int m = LookupValue(fields, fieldsLen, name, small, cap);
  FUZZ_CHECK(std::memchr(small, 0, cap) != nullptr);
  FUZZ_CHECK(m >= 0 && m < TARVO_VALUE_SIZE);
  std::free(small);

  d.CodigoUltimoErro = 0;
  fuzz::CheckStateBounds();
  return 0;
}
