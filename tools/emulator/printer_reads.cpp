// The printer's reading commands: texts, counters, amounts, the clock and
// the printed text. They change nothing.
#include <string>

#include "emulator/printer.h"
#include "emulator/printer_internal.h"

namespace tarvo::emu {

using detail::Find;
using detail::Invalid;
using detail::Missing;

Answer Printer::ReadText(const std::vector<Param>& params, const DateTime&) {
  const Param* name = Find(params, "NomeTexto");
  if (name == nullptr) return Missing("NomeTexto");
  std::string value;
  if (name->value == "NumeroSerieECF") {
    value = state_.serial;
  } else if (name->value == "Marca") {
    value = "TARVO";
  } else if (name->value == "Modelo") {
    value = "EMULADOR";
  } else if (name->value == "Versao") {
    value = "1.0";
  } else {
    return ErrorAnswer(kUnknownName, "Texto desconhecido: " + name->value);
  }
  Answer ok;
  ok.values = QuotedValue("ValorTexto", SafeQuotedText(value));
  return ok;
}

Answer Printer::ReadInteger(const std::vector<Param>& params, const DateTime&) {
  const Param* name = Find(params, "NomeInteiro");
  if (name == nullptr) return Missing("NomeInteiro");
  long long value = 0;
  if (name->value == "ECF") {
    value = state_.ecf;
  } else if (name->value == "COO") {
    value = state_.coo;
  } else if (name->value == "ContadorReducaoZ") {
    value = state_.crz;
  } else if (name->value == "CupomAberto") {
    value = state_.open == Document::Receipt;
  } else if (name->value == "ItensCupom") {
    value = static_cast<long long>(state_.items.size());
  } else if (name->value == "TamanhoImpressao") {
    value = static_cast<long long>(state_.lastPrinted.size());
  } else {
    return ErrorAnswer(kUnknownName, "Inteiro desconhecido: " + name->value);
  }
  Answer ok;
  ok.values = PlainValue("ValorInteiro", value);
  return ok;
}

Answer Printer::ReadMoney(const std::vector<Param>& params, const DateTime&) {
  const Param* name = Find(params, "NomeMoeda");
  if (name == nullptr) return Missing("NomeMoeda");
  long long value = 0;
  if (name->value == "TotalCupom") {
    value = TotalCents();
  } else if (name->value == "TotalPago") {
    value = PaidCents();
  } else if (name->value == "GrandeTotal") {
    value = state_.grandTotalCents;
  } else if (name->value == "VendaBrutaDiaria") {
    value = state_.daySalesCents;
  } else {
    return ErrorAnswer(kUnknownName, "Moeda desconhecida: " + name->value);
  }
  Answer ok;
  ok.values = "ValorMoeda=" + FormatMoney(value);
  return ok;
}

Answer Printer::ReadDateTime(const std::vector<Param>&, const DateTime& now) {
  Answer ok;
  ok.values = DateValue("Data", now.day, now.month, now.year) + " " +
              TimeValue("Hora", now.hour, now.minute, now.second);
  return ok;
}

Answer Printer::ReadPrint(const std::vector<Param>& params, const DateTime&) {
  long long start = 0;
  if (const Param* s = Find(params, "Inicio")) {
    if (!ParseDecimal(s->value, 0, &start)) return Invalid("Inicio");
  }
  const std::string& text = state_.lastPrinted;
  std::string_view part;
  if (static_cast<size_t>(start) < text.size()) {
    part = std::string_view(text).substr(static_cast<size_t>(start), kMaxPrintChunk);
  }
  Answer ok;
  ok.values = "TextoImpressao=\"" + EncodePrintText(part) + "\"";
  return ok;
}

}  // namespace tarvo::emu
