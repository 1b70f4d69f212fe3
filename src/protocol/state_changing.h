// The printer's commands that change what the printer holds: a receipt or
// voucher opened, an item sold, a payment, a cancellation, printed text, a
// Z reduction. When such a command's request went out whole but its answer
// was lost or damaged, the printer may have carried it out; repeating it
// blindly can register a sale twice. The outcome is then unknown, and the
// host (or the technician reading a trace) must check the printer (a reading
// command, or the receipt) before repeating it.
//
// This list is the one definition of that set: the trace report reads it,
// and the bindings' copies (Python, C#, Java) are tested against it. The
// facade's own rule of never resending VendeItem, AbreCreditoDebito and
// EmiteReducaoZ after a protocol failure is narrower, and stays as it is.
#pragma once

#include <cstring>

namespace tarvo {

inline constexpr const char* kStateChangingCommands[] = {
    "AbreCupom",     "VendeItem",         "PagaCupom",    "EncerraCupom",
    "CancelaCupom",  "AbreCreditoDebito", "ImprimeTexto", "EncerraCreditoDebito",
    "EmiteReducaoZ",
};

// Whether the command, named exactly as the printer's language spells it,
// is in the list. Reading commands (LeTexto, LeInteiro, ...) are not.
inline bool ChangesPrinterState(const char* command) {
  if (command == nullptr) return false;
  for (const char* name : kStateChangingCommands) {
    if (std::strcmp(name, command) == 0) return true;
  }
  return false;
}

}  // namespace tarvo
