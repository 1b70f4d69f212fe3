#include "emulator/printer.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

#include "common/numbers.h"
#include "emulator/printer_internal.h"

namespace tarvo::emu {

namespace {

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

}  // namespace

using detail::Find;
using detail::Invalid;
using detail::Missing;

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

}  // namespace tarvo::emu
