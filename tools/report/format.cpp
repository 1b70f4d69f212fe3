#include "report/format.h"

#include "common/cp1252.h"
#include "common/escape.h"

namespace tarvo::report {

std::string HtmlText(std::string_view cp1252) {
  std::string out;
  for (char c : tools::Escape(tools::Cp1252ToUtf8(cp1252), tools::EscapeStyle::Line)) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string PlainText(std::string_view cp1252) {
  return tools::Escape(tools::Cp1252ToUtf8(cp1252), tools::EscapeStyle::Line);
}

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
  if (!e.codeWords.empty()) s += ": " + e.codeWords;
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
