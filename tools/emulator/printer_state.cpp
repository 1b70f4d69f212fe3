// The printer's state file: "key=value" lines, texts percent-encoded.
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "common/numbers.h"
#include "emulator/printer.h"

namespace tarvo::emu {

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
