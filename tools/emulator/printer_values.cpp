// The printer's error answers, its money format and the parameter helpers
// that every command shares.
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "common/numbers.h"
#include "emulator/printer.h"
#include "emulator/printer_internal.h"

namespace tarvo::emu {

namespace detail {

const Param* Find(const std::vector<Param>& params, std::string_view name) {
  for (const auto& p : params) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

Answer Missing(std::string_view name) {
  return ErrorAnswer(kMissingParam, "Falta o parametro " + std::string(name));
}

Answer Invalid(std::string_view name) {
  return ErrorAnswer(kBadParam, "Valor invalido para " + std::string(name));
}

}  // namespace detail

const char* ErrorName(int code) {
  switch (code) {
    case kOk: return "OK";
    case kUnknownCommand: return "ErroComandoDesconhecido";
    case kBadFrame: return "ErroQuadroInvalido";
    case kMissingParam: return "ErroParametroAusente";
    case kBadParam: return "ErroParametroInvalido";
    case kDocumentOpen: return "ErroDocumentoAberto";
    case kReceiptClosed: return "ErroCupomFechado";
    case kPaymentStarted: return "ErroPagamentoIniciado";
    case kPaymentIncomplete: return "ErroPagamentoIncompleto";
    case kNoItems: return "ErroCupomSemItens";
    case kUnknownName: return "ErroNomeDesconhecido";
    case kVoucherClosed: return "ErroComprovanteFechado";
    case kReceiptFull: return "ErroCupomCheio";
  }
  return "ErroDesconhecido";
}

Answer ErrorAnswer(int code, std::string_view circumstance) {
  Answer a;
  a.code = std::to_string(code);
  a.values = QuotedValue("NomeErro", ErrorName(code)) + " " +
             QuotedValue("Circunstancia", SafeQuotedText(circumstance));
  return a;
}

std::string FormatMoney(long long cents) {
  char text[40];
  const char* sign = cents < 0 ? "-" : "";
  const long long a = std::llabs(cents);
  std::snprintf(text, sizeof text, "%s%lld,%02lld", sign, a / 100, a % 100);
  return text;
}

bool ParseDecimal(std::string_view text, int decimals, long long* out) {
  long long whole = 0, frac = 0;
  int fracDigits = 0;
  bool seenSeparator = false, seenDigit = false;
  for (char c : text) {
    if (c == ',' || c == '.') {
      if (seenSeparator) return false;
      seenSeparator = true;
    } else if (c >= '0' && c <= '9') {
      seenDigit = true;
      if (seenSeparator) {
        if (++fracDigits > decimals) return false;
        frac = frac * 10 + (c - '0');
      } else {
        if (whole > 1000000000LL) return false;
        whole = whole * 10 + (c - '0');
      }
    } else {
      return false;
    }
  }
  if (!seenDigit) return false;
  long long scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  for (int i = fracDigits; i < decimals; ++i) frac *= 10;
  *out = whole * scale + frac;
  return true;
}

}  // namespace tarvo::emu
