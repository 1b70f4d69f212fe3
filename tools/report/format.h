// Small text helpers shared by the summary, the JSON and the page.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "report/decode.h"

namespace tarvo::report {

// The colours of the outcomes, in the order of Outcome.
constexpr std::array<const char*, kOutcomeCount> kOutcomeColours = {
    "#2e7d32", "#f9a825", "#c62828", "#6a1b9a", "#1565c0", "#4e342e", "#ad1457", "#9e9e9e"};

// Trace text (cp1252, may hold control bytes) as UTF-8 for the page, with
// control bytes shown as \xHH and the HTML characters escaped.
std::string HtmlText(std::string_view cp1252);
// The same for a terminal line (escapes as the tarvo command prints them).
std::string PlainText(std::string_view cp1252);

std::string Num(int64_t v);
std::string Plural(int64_t n, const char* one, const char* many);

// "LeTexto id 12"
std::string ExchangeName(const Exchange& e);
// "no answer (retRead=1460 bRetrans=0 dwRead=0)", "refused by the printer: 8 ..."
std::string WhatHappened(const Exchange& e);
// A protocol failure or a printer's refusal.
bool IsFailure(const Exchange& e);

}  // namespace tarvo::report
