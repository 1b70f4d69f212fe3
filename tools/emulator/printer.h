// The fiscal printer's state and its small command language, as a state
// machine that does no I/O: a command with its parameters and the time of day in, an
// answer (code and named values) and printed paper out.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/protocol.h"

namespace tarvo::emu {

struct DateTime {
  int day = 1, month = 1, year = 2000;
  int hour = 0, minute = 0, second = 0;
};

// The printer's error codes; each answer that is not "0" carries the name
// and a circumstance text.
enum ErrorCode {
  kOk = 0,
  kUnknownCommand = 1,     // ErroComandoDesconhecido
  kBadFrame = 2,           // ErroQuadroInvalido (length field does not match)
  kMissingParam = 3,       // ErroParametroAusente
  kBadParam = 4,           // ErroParametroInvalido
  kDocumentOpen = 5,       // ErroDocumentoAberto
  kReceiptClosed = 6,      // ErroCupomFechado
  kPaymentStarted = 7,     // ErroPagamentoIniciado
  kPaymentIncomplete = 8,  // ErroPagamentoIncompleto
  kNoItems = 9,            // ErroCupomSemItens
  kUnknownName = 10,       // ErroNomeDesconhecido
  kVoucherClosed = 11,     // ErroComprovanteFechado
  kReceiptFull = 12,       // ErroCupomCheio
};

const char* ErrorName(int code);

struct Answer {
  std::string code = "0";
  std::string values;  // named values, "name=value" items joined by blanks
};

// An error answer: NomeErro="..." Circunstancia="...".
Answer ErrorAnswer(int code, std::string_view circumstance);

struct Item {
  std::string code;
  std::string description;
  long long quantityMilli = 0;  // thousandths of a unit
  long long priceCents = 0;
  long long totalCents = 0;
};

struct Payment {
  std::string method;
  long long cents = 0;
};

enum class Document { None, Receipt, Voucher };

struct PrinterState {
  std::string serial = "EMU0000001";
  int ecf = 1;
  int coo = 0;  // number of the last document opened
  int crz = 0;  // the day counter: Z reductions issued
  long long grandTotalCents = 0;
  long long daySalesCents = 0;
  int dayReceipts = 0;
  Document open = Document::None;
  std::vector<Item> items;
  std::vector<Payment> payments;
  std::string lastPrinted;  // the text of the last (or current) document
};

class Printer {
 public:
  explicit Printer(PrinterState initial = {}) : state_(std::move(initial)) {}

  Answer Execute(std::string_view command, const std::vector<Param>& params, const DateTime& now);

  // The lines printed by the last Execute (empty when it printed nothing).
  const std::string& NewPaper() const { return newPaper_; }
  const PrinterState& State() const { return state_; }
  void SetIdentity(const std::string& serial, long ecf) {
    if (!serial.empty()) state_.serial = serial;
    if (ecf >= 0) state_.ecf = static_cast<int>(ecf);
  }

  // Line width of the paper.
  static constexpr size_t kWidth = 48;
  // Most items on one receipt.
  static constexpr size_t kMaxItems = 500;
  // The largest item or receipt total: 999.999.999,99.
  static constexpr long long kMaxTotalCents = 99999999999LL;
  // Most characters of printed text one LeImpressao answer carries; a longer
  // text is read in parts with Inicio=n.
  static constexpr size_t kMaxPrintChunk = 3000;

 private:
  struct Command;
  static const Command kCommands[];

  // The commands, one member each; every one takes the request's
  // parameters and the time of day, whether it needs them or not.
  Answer ReadText(const std::vector<Param>& params, const DateTime& now);
  Answer ReadInteger(const std::vector<Param>& params, const DateTime& now);
  Answer ReadMoney(const std::vector<Param>& params, const DateTime& now);
  Answer ReadDateTime(const std::vector<Param>& params, const DateTime& now);
  Answer ReadPrint(const std::vector<Param>& params, const DateTime& now);
  Answer OpenReceipt(const std::vector<Param>& params, const DateTime& now);
  Answer Sell(const std::vector<Param>& params, const DateTime& now);
  Answer Pay(const std::vector<Param>& params, const DateTime& now);
  Answer Close(const std::vector<Param>& params, const DateTime& now);
  Answer CancelReceipt(const std::vector<Param>& params, const DateTime& now);
  Answer OpenVoucher(const std::vector<Param>& params, const DateTime& now);
  Answer PrintVoucherText(const std::vector<Param>& params, const DateTime& now);
  Answer CloseVoucher(const std::vector<Param>& params, const DateTime& now);
  Answer ReduceZ(const std::vector<Param>& params, const DateTime& now);
  void StartDocument(std::string_view title, const DateTime& now);
  void Print(std::string_view line);
  void PrintColumns(std::string_view left, std::string_view right);
  long long TotalCents() const;
  long long PaidCents() const;

  PrinterState state_;
  std::string newPaper_;
};

// Money as "12,50"; reads "12,50", "12.50", "12" (false when malformed or
// negative, or with more decimals than allowed).
std::string FormatMoney(long long cents);
bool ParseDecimal(std::string_view text, int decimals, long long* out);

// The state as "key=value" lines, and back. Text values are percent-encoded.
std::string SerializeState(const PrinterState& state);
bool ParseState(std::string_view text, PrinterState* state, std::string* error);
std::string PercentEncode(std::string_view text);
std::string PercentDecode(std::string_view text);

}  // namespace tarvo::emu
