#include "emulator/printer.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

#include "common/numbers.h"

namespace tarvo::emu {

namespace {

const Param* Find(const std::vector<Param>& params, std::string_view name) {
  for (const auto& p : params) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

std::string Padded(int n, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*d", width, n);
  return text;
}

std::string FormatQuantity(long long milli) {
  std::string text = std::to_string(milli / 1000);
  if (milli % 1000 != 0) {
    char frac[8];
    std::snprintf(frac, sizeof frac, ",%03lld", milli % 1000);
    std::string f = frac;
    while (f.back() == '0') f.pop_back();
    text += f;
  }
  return text;
}

// What the paper can show: printable 8-bit text, one line. A backslash is
// printed as '/' because no backslash survives the trip back to the host.
std::string Printable(std::string_view text) {
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\') {
      out.push_back('/');
    } else if (u < 0x20 || u == 0x7f) {
      out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

Answer Missing(std::string_view name) {
  return ErrorAnswer(kMissingParam, "Falta o parametro " + std::string(name));
}

Answer Invalid(std::string_view name) {
  return ErrorAnswer(kBadParam, "Valor invalido para " + std::string(name));
}

}  // namespace

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

long long Printer::TotalCents() const {
  long long t = 0;
  for (const auto& i : state_.items) t += i.totalCents;
  return t;
}

long long Printer::PaidCents() const {
  long long t = 0;
  for (const auto& p : state_.payments) t += p.cents;
  return t;
}

void Printer::Print(std::string_view line) {
  std::string text = Printable(line);
  if (text.size() > kWidth) text.resize(kWidth);
  text.push_back('\n');
  newPaper_ += text;
  state_.lastPrinted += text;
}

void Printer::PrintColumns(std::string_view left, std::string_view right) {
  std::string l = Printable(left);
  const std::string r = Printable(right);
  const size_t room = kWidth > r.size() + 1 ? kWidth - r.size() - 1 : 0;
  if (l.size() > room) l.resize(room);
  Print(l + std::string(kWidth - l.size() - r.size(), ' ') + r);
}

void Printer::StartDocument(std::string_view title, const DateTime& now) {
  state_.lastPrinted.clear();
  ++state_.coo;
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%02d/%02d/%04d %02d:%02d:%02d", now.day, now.month, now.year,
                now.hour, now.minute, now.second);
  Print(std::string(kWidth, '='));
  Print("TARVO EMULADOR DE ECF");
  PrintColumns("NS: " + state_.serial, "ECF: " + Padded(state_.ecf, 3));
  PrintColumns(stamp, "COO: " + Padded(state_.coo, 6));
  const std::string t(title);
  Print(std::string((kWidth - t.size()) / 2, ' ') + t);
  Print(std::string(kWidth, '-'));
}

// One entry per printer command, with the member that carries it out.
struct Printer::Command {
  std::string_view name;
  Answer (Printer::*handler)(const std::vector<Param>& params, const DateTime& now);
};

const Printer::Command Printer::kCommands[] = {
    {"LeTexto", &Printer::ReadText},
    {"LeInteiro", &Printer::ReadInteger},
    {"LeMoeda", &Printer::ReadMoney},
    {"LeDataHora", &Printer::ReadDateTime},
    {"LeImpressao", &Printer::ReadPrint},
    {"AbreCupom", &Printer::OpenReceipt},
    {"VendeItem", &Printer::Sell},
    {"PagaCupom", &Printer::Pay},
    {"EncerraCupom", &Printer::Close},
    {"CancelaCupom", &Printer::CancelReceipt},
    {"AbreCreditoDebito", &Printer::OpenVoucher},
    {"ImprimeTexto", &Printer::PrintVoucherText},
    {"EncerraCreditoDebito", &Printer::CloseVoucher},
    {"EmiteReducaoZ", &Printer::ReduceZ},
};

Answer Printer::Execute(std::string_view command, const std::vector<Param>& params,
                        const DateTime& now) {
  newPaper_.clear();
  for (const Command& c : kCommands) {
    if (c.name == command) return (this->*c.handler)(params, now);
  }
  if (command.empty()) return ErrorAnswer(kUnknownCommand, "Comando vazio");
  return ErrorAnswer(kUnknownCommand, "Comando " + SafeQuotedText(command) + " nao existe");
}

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

Answer Printer::OpenReceipt(const std::vector<Param>& params, const DateTime& now) {
  if (state_.open != Document::None) return ErrorAnswer(kDocumentOpen, "Ha documento aberto");
  state_.items.clear();
  state_.payments.clear();
  state_.open = Document::Receipt;
  StartDocument("CUPOM FISCAL", now);
  if (const Param* c = Find(params, "Consumidor")) Print("CONSUMIDOR: " + c->value);
  Print("ITEM CODIGO DESCRICAO");
  Print("     QTD x UNITARIO                       VALOR");
  Answer ok;
  ok.values = PlainValue("COO", state_.coo);
  return ok;
}

Answer Printer::CancelReceipt(const std::vector<Param>&, const DateTime&) {
  if (state_.open != Document::Receipt) return ErrorAnswer(kReceiptClosed, "Nao ha cupom aberto");
  PrintColumns("CUPOM CANCELADO", FormatMoney(TotalCents()));
  Print(std::string(kWidth, '='));
  state_.open = Document::None;
  state_.items.clear();
  state_.payments.clear();
  Answer ok;
  ok.values = PlainValue("COO", state_.coo);
  return ok;
}

Answer Printer::OpenVoucher(const std::vector<Param>& params, const DateTime& now) {
  if (state_.open != Document::None) return ErrorAnswer(kDocumentOpen, "Ha documento aberto");
  const Param* method = Find(params, "MeioPagamento");
  if (method == nullptr) return Missing("MeioPagamento");
  const Param* amount = Find(params, "Valor");
  if (amount == nullptr) return Missing("Valor");
  long long cents = 0;
  if (!ParseDecimal(amount->value, 2, &cents) || cents == 0) return Invalid("Valor");
  state_.open = Document::Voucher;
  StartDocument("COMPROVANTE CREDITO OU DEBITO", now);
  PrintColumns(method->value, FormatMoney(cents));
  Answer ok;
  ok.values = PlainValue("COO", state_.coo);
  return ok;
}

Answer Printer::PrintVoucherText(const std::vector<Param>& params, const DateTime&) {
  if (state_.open != Document::Voucher) {
    return ErrorAnswer(kVoucherClosed, "Nao ha comprovante aberto");
  }
  const Param* text = Find(params, "Texto");
  if (text == nullptr) return Missing("Texto");
  Print(text->value);
  return Answer{};
}

Answer Printer::CloseVoucher(const std::vector<Param>&, const DateTime&) {
  if (state_.open != Document::Voucher) {
    return ErrorAnswer(kVoucherClosed, "Nao ha comprovante aberto");
  }
  Print(std::string(kWidth, '='));
  state_.open = Document::None;
  Answer ok;
  ok.values = PlainValue("COO", state_.coo);
  return ok;
}

Answer Printer::ReduceZ(const std::vector<Param>&, const DateTime& now) {
  if (state_.open != Document::None) return ErrorAnswer(kDocumentOpen, "Ha documento aberto");
  StartDocument("REDUCAO Z", now);
  PrintColumns("CONTADOR DE REDUCAO Z", Padded(state_.crz + 1, 4));
  PrintColumns("CUPONS NO DIA", std::to_string(state_.dayReceipts));
  PrintColumns("VENDA BRUTA DIARIA", FormatMoney(state_.daySalesCents));
  PrintColumns("GRANDE TOTAL", FormatMoney(state_.grandTotalCents));
  Print(std::string(kWidth, '='));
  ++state_.crz;
  state_.daySalesCents = 0;
  state_.dayReceipts = 0;
  Answer ok;
  ok.values = PlainValue("ContadorReducaoZ", state_.crz) + " " +
              DateValue("DataMovimento", now.day, now.month, now.year);
  return ok;
}

Answer Printer::Sell(const std::vector<Param>& params, const DateTime&) {
  if (state_.open != Document::Receipt) return ErrorAnswer(kReceiptClosed, "Nao ha cupom aberto");
  if (!state_.payments.empty()) {
    return ErrorAnswer(kPaymentStarted, "Pagamento ja iniciado");
  }
  if (state_.items.size() >= kMaxItems) return ErrorAnswer(kReceiptFull, "Limite de itens");
  Item item;
  const Param* description = Find(params, "Descricao");
  if (description == nullptr) return Missing("Descricao");
  if (description->value.empty()) return Invalid("Descricao");
  item.description = description->value;
  if (const Param* code = Find(params, "CodigoProduto")) item.code = code->value;
  item.quantityMilli = 1000;
  if (const Param* q = Find(params, "Quantidade")) {
    if (!ParseDecimal(q->value, 3, &item.quantityMilli) || item.quantityMilli == 0) {
      return Invalid("Quantidade");
    }
  }
  const Param* price = Find(params, "PrecoUnitario");
  if (price == nullptr) return Missing("PrecoUnitario");
  if (!ParseDecimal(price->value, 2, &item.priceCents)) return Invalid("PrecoUnitario");
  // A printer's money fields have room for 11 digits: an item or a receipt
  // total beyond them is refused, checked before the multiplication so that
  // it can neither overflow nor wrap.
  if (item.priceCents > 0 && item.quantityMilli > kMaxTotalCents * 1000 / item.priceCents) {
    return ErrorAnswer(kBadParam, "Valor fora da faixa: Quantidade x PrecoUnitario");
  }
  // Rounded to the nearest cent, half up.
  item.totalCents = (item.quantityMilli * item.priceCents + 500) / 1000;
  if (item.totalCents > kMaxTotalCents - TotalCents()) {
    return ErrorAnswer(kBadParam, "Valor fora da faixa: TotalCupom");
  }
  state_.items.push_back(item);
  const int number = static_cast<int>(state_.items.size());
  Print(Padded(number, 3) + " " + (item.code.empty() ? "" : item.code + " ") + item.description);
  PrintColumns("     " + FormatQuantity(item.quantityMilli) + " x " + FormatMoney(item.priceCents),
               FormatMoney(item.totalCents));
  Answer ok;
  ok.values = PlainValue("NumeroItem", number) + " TotalItem=" + FormatMoney(item.totalCents) +
              " TotalCupom=" + FormatMoney(TotalCents());
  return ok;
}

Answer Printer::Pay(const std::vector<Param>& params, const DateTime&) {
  if (state_.open != Document::Receipt) return ErrorAnswer(kReceiptClosed, "Nao ha cupom aberto");
  if (state_.items.empty()) return ErrorAnswer(kNoItems, "Cupom sem itens");
  const Param* method = Find(params, "MeioPagamento");
  if (method == nullptr) return Missing("MeioPagamento");
  if (method->value.empty()) return Invalid("MeioPagamento");
  const Param* amount = Find(params, "Valor");
  if (amount == nullptr) return Missing("Valor");
  long long cents = 0;
  if (!ParseDecimal(amount->value, 2, &cents) || cents == 0) return Invalid("Valor");
  if (PaidCents() >= TotalCents()) {
    return ErrorAnswer(kPaymentIncomplete, "Cupom ja pago; encerre o cupom");
  }
  if (state_.payments.empty()) {
    Print(std::string(kWidth, '-'));
    PrintColumns("TOTAL R$", FormatMoney(TotalCents()));
  }
  state_.payments.push_back({method->value, cents});
  PrintColumns(method->value, FormatMoney(cents));
  const long long rest = TotalCents() - PaidCents();
  Answer ok;
  ok.values = "Restante=" + FormatMoney(rest > 0 ? rest : 0) +
              " Troco=" + FormatMoney(rest < 0 ? -rest : 0);
  return ok;
}

Answer Printer::Close(const std::vector<Param>& params, const DateTime&) {
  if (state_.open != Document::Receipt) return ErrorAnswer(kReceiptClosed, "Nao ha cupom aberto");
  if (state_.items.empty()) return ErrorAnswer(kNoItems, "Cupom sem itens");
  const long long total = TotalCents();
  const long long paid = PaidCents();
  if (paid < total) {
    return ErrorAnswer(kPaymentIncomplete, "Faltam " + FormatMoney(total - paid));
  }
  if (paid > total) PrintColumns("TROCO R$", FormatMoney(paid - total));
  if (const Param* message = Find(params, "Mensagem")) {
    Print(std::string(kWidth, '-'));
    std::string_view rest = message->value;
    while (!rest.empty()) {
      Print(rest.substr(0, kWidth));
      rest.remove_prefix(rest.size() < kWidth ? rest.size() : kWidth);
    }
  }
  Print(std::string(kWidth, '='));
  state_.open = Document::None;
  state_.grandTotalCents += total;
  state_.daySalesCents += total;
  ++state_.dayReceipts;
  Answer ok;
  ok.values = PlainValue("COO", state_.coo) + " TotalCupom=" + FormatMoney(total);
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

// ---- State file -------------------------------------------------------------

std::string PercentEncode(std::string_view text) {
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || c == '%' || c == '|' || c == '=' || u == 0x7f) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", u);
      out += hex;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const std::string hex(text.substr(i + 1, 2));
      char* end = nullptr;
      const long v = std::strtol(hex.c_str(), &end, 16);
      if (end == hex.c_str() + 2) {
        out.push_back(static_cast<char>(v));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::string SerializeState(const PrinterState& s) {
  std::string out;
  auto line = [&out](std::string_view key, std::string_view value) {
    out.append(key).append("=").append(value).append("\n");
  };
  line("serial", PercentEncode(s.serial));
  line("ecf", std::to_string(s.ecf));
  line("coo", std::to_string(s.coo));
  line("crz", std::to_string(s.crz));
  line("grandTotal", std::to_string(s.grandTotalCents));
  line("daySales", std::to_string(s.daySalesCents));
  line("dayReceipts", std::to_string(s.dayReceipts));
  line("open", s.open == Document::Receipt   ? "receipt"
               : s.open == Document::Voucher ? "voucher"
                                             : "none");
  for (const auto& i : s.items) {
    line("item", PercentEncode(i.code) + "|" + PercentEncode(i.description) + "|" +
                     std::to_string(i.quantityMilli) + "|" + std::to_string(i.priceCents) + "|" +
                     std::to_string(i.totalCents));
  }
  for (const auto& p : s.payments) {
    line("payment", PercentEncode(p.method) + "|" + std::to_string(p.cents));
  }
  line("lastPrinted", PercentEncode(s.lastPrinted));
  return out;
}

namespace {

bool ToNumber(std::string_view text, long long* out) {
  return tools::ParseInteger(text, std::numeric_limits<long long>::min(),
                             std::numeric_limits<long long>::max(), out);
}

std::vector<std::string_view> Split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(sep, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

}  // namespace

namespace {

const char* ParseDocument(std::string_view value, Document* open) {
  if (value == "receipt") {
    *open = Document::Receipt;
  } else if (value == "voucher") {
    *open = Document::Voucher;
  } else if (value == "none") {
    *open = Document::None;
  } else {
    return "bad document state";
  }
  return nullptr;
}

const char* ParseItem(std::string_view value, std::vector<Item>* items) {
  const auto f = Split(value, '|');
  Item i;
  if (f.size() != 5 || !ToNumber(f[2], &i.quantityMilli) || !ToNumber(f[3], &i.priceCents) ||
      !ToNumber(f[4], &i.totalCents)) {
    return "bad item";
  }
  i.code = PercentDecode(f[0]);
  i.description = PercentDecode(f[1]);
  items->push_back(i);
  return nullptr;
}

const char* ParsePayment(std::string_view value, std::vector<Payment>* payments) {
  const auto f = Split(value, '|');
  Payment p;
  if (f.size() != 2 || !ToNumber(f[1], &p.cents)) return "bad payment";
  p.method = PercentDecode(f[0]);
  payments->push_back(p);
  return nullptr;
}

// Numeric keys other than these belong to the session memory or to a later
// version; they are skipped.
void SetNumber(std::string_view key, long long n, PrinterState* s) {
  if (key == "ecf") {
    s->ecf = static_cast<int>(n);
  } else if (key == "coo") {
    s->coo = static_cast<int>(n);
  } else if (key == "crz") {
    s->crz = static_cast<int>(n);
  } else if (key == "grandTotal") {
    s->grandTotalCents = n;
  } else if (key == "daySales") {
    s->daySalesCents = n;
  } else if (key == "dayReceipts") {
    s->dayReceipts = static_cast<int>(n);
  }
}

// One "key=value" line into the state: null, or what is wrong with it.
const char* ParseStateLine(std::string_view key, std::string_view value, PrinterState* s) {
  long long n = 0;
  if (key == "serial") {
    s->serial = PercentDecode(value);
  } else if (key == "lastPrinted") {
    s->lastPrinted = PercentDecode(value);
  } else if (key == "open") {
    return ParseDocument(value, &s->open);
  } else if (key == "item") {
    return ParseItem(value, &s->items);
  } else if (key == "payment") {
    return ParsePayment(value, &s->payments);
  } else if (ToNumber(value, &n)) {
    SetNumber(key, n, s);
  }
  return nullptr;
}

}  // namespace

bool ParseState(std::string_view text, PrinterState* state, std::string* error) {
  PrinterState s;
  int lineNo = 0;
  for (std::string_view line : Split(text, '\n')) {
    ++lineNo;
    if (line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    const char* wrong = eq == std::string_view::npos
                            ? "no '='"
                            : ParseStateLine(line.substr(0, eq), line.substr(eq + 1), &s);
    if (wrong != nullptr) {
      *error = "line " + std::to_string(lineNo) + ": " + wrong;
      return false;
    }
  }
  *state = std::move(s);
  return true;
}

}  // namespace tarvo::emu
