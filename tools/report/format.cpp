#include "report/format.h"

#include "cli/cli.h"
#include "common/cp1252.h"

namespace tarvo::report {

std::string HtmlText(std::string_view cp1252) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (char c : tools::Cp1252ToUtf8(cp1252)) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        if (u < 0x20 || u == 0x7f) {
          out += "\\x";
          out.push_back(hex[u >> 4]);
          out.push_back(hex[u & 15]);
        } else {
          out.push_back(c);
        }
    }
  }
  return out;
}

std::string PlainText(std::string_view cp1252) {
  return cli::EscapeLine(tools::Cp1252ToUtf8(cp1252));
}

std::string JsonText(std::string_view cp1252) { return cli::JsonString(cp1252); }

std::string Num(int64_t v) { return std::to_string(v); }

std::string Plural(int64_t n, const char* one, const char* many) {
  return Num(n) + " " + (n == 1 ? one : many);
}

std::string ExchangeName(const Exchange& e) {
  std::string s = e.command.empty() ? "(command not traced)" : e.command;
  if (e.id >= 0) s += " id " + Num(e.id);
  return s;
}

std::string WhatHappened(const Exchange& e) {
  std::string s = OutcomeWords(e.outcome);
  if (!e.detail.empty()) s += " (" + e.detail + ")";
  if (e.outcome == Outcome::PrinterError) {
    s += ": " + Num(e.code) + " " + e.errorName;
    if (!e.circumstance.empty()) s += ", " + e.circumstance;
  }
  return s;
}

bool IsFailure(const Exchange& e) {
  return IsProtocolFailure(e.outcome) || e.outcome == Outcome::PrinterError;
}

}  // namespace tarvo::report
