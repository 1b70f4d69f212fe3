// Plain words for what a failure means and what a technician checks.
#include <cstring>
#include <iterator>

#include "report/decode.h"

namespace tarvo::report {

namespace {

constexpr int kPortNotOpen = 6;
constexpr int kAlreadyOpen = 1247;
constexpr int kTimedOut = 1460;

}  // namespace

namespace {

struct CodeWords {
  int code;
  const char* words;
};

// errno on Linux.
constexpr CodeWords kLinuxCodes[] = {
    {1, "operation not permitted"},
    {2, "no such device"},
    {5, "input/output error: the device went away"},
    {13, "permission denied (add the user to the dialout group)"},
    {16, "the device is busy: another program holds it"},
    {19, "no such device"},
    {25, "not a serial port (not a terminal): the library opens terminal devices only"},
    {22, "a setting acknowledged with another value (network port)"},
    {36, "the name is too long"},
    {93, "the network server refuses the Com Port option"},
    {104, "the network connection was reset or ended"},
    {110, "time-out of the system (a network port did not connect or answer)"},
    {111, "the network connection was refused"},
    {113, "the network host was not found"},
};

// GetLastError on Windows.
constexpr CodeWords kWindowsCodes[] = {
    {2, "no such port"},
    {3, "no such port"},
    {5, "access denied: another program holds the port"},
    {22, "the device does not know the command"},
    {31, "the device does not work (USB adapter unplugged?)"},
    {87, "a bad parameter"},
    {121, "time-out of the system"},
    {995, "the transfer was cancelled"},
    {1167, "the device is not connected"},
    {10043, "the network server refuses the Com Port option"},
    {10054, "the network connection was reset or ended"},
    {10060, "the network port did not connect or answer in time"},
    {10061, "the network connection was refused"},
    {11001, "the network host was not found"},
};

std::string Words(int code, const char* words) { return std::to_string(code) + ": " + words; }

}  // namespace

std::string PlatformCodeWords(int code, bool windows) {
  switch (code) {
    case kPortNotOpen:
      // On Linux the trace shows errno as it is, and ENXIO is 6 too.
      return Words(code, windows ? "the port is not open (an earlier re-open failed)"
                                 : "the port is not open (an earlier re-open failed), or no "
                                   "such device or address");
    case kAlreadyOpen: return Words(code, "the port is already open in this process");
    case kTimedOut: return Words(code, "time-out, no byte came");
    default: break;
  }
  const CodeWords* begin = windows ? std::begin(kWindowsCodes) : std::begin(kLinuxCodes);
  const CodeWords* end = windows ? std::end(kWindowsCodes) : std::end(kLinuxCodes);
  for (const CodeWords* c = begin; c != end; ++c) {
    if (c->code == code) return Words(code, c->words);
  }
  return Words(code,
               windows ? "an error of Windows (GetLastError)" : "an error of the system (errno)");
}

namespace {

Advice NoAnswerAdvice(const Exchange& e) {
  if (e.retRead != kTimedOut) {
    return {"The read failed",
            "Reading the answer failed with an error of the port, not a time-out: the "
            "device went away (a USB adapter unplugged, the port closed).",
            "The USB cable and adapter; whether the device still exists. When the "
            "re-open failed too, the next exchanges fail with no CTS (a closed port)."};
  }
  return {"The printer fell silent",
          "No byte came within the time-out; twenty BREAK signals with RTS/DTR pulses "
          "did not wake the printer; the port was closed and re-opened and the exchange "
          "failed (11010, Erro de Recepcao). When the resend is answered, the answer was "
          "lost on the line; when nothing answers, the printer is off or cut off.",
          "Power and paper; the cable and its plugs; the line rate (CommSettings, "
          "the printer's own setting); a printer busy printing a long document."};
}

Advice NoCtsAdvice(const Exchange& e) {
  if (e.ctsStage == '2') {
    return {"CTS dropped during the 20-second hold",
            "After an earlier loss of CTS the driver waits for CTS to stay on for 20 "
            "seconds before it sends; CTS dropped again during that wait.",
            "A loose cable or plug; a printer that is restarting or out of paper."};
  }
  return {"No CTS from the printer",
          "The printer's CTS line was off (before sending, or while the answer was "
          "awaited): the printer is off, busy, out of paper or not connected. The next "
          "exchange waits 20 seconds for CTS to hold before it sends.",
          "Power, cover and paper; the cable (it must carry the handshake lines); the "
          "port is the printer's."};
}

}  // namespace

Advice AdviceForExchange(const Exchange& e) {
  if (e.networkLost) {
    return {"The network link was lost",
            "The port is a network port, and its connection to the server ended or could not "
            "be made again: the driver closed the port, so every exchange after it fails (a "
            "closed port shows no CTS). This is the link, not the printer.",
            "That the server (ser2net or the device server) is running and reachable; the "
            "network between; then open the session again."};
  }
  switch (e.outcome) {
    case Outcome::NoAnswer: return NoAnswerAdvice(e);
    case Outcome::BadLength:
      return {"A damaged answer",
              "An answer frame arrived, but the length it states (CRCREC) is not the number "
              "of characters counted (CRCCALC): characters were lost or changed on the line. "
              "These are lengths, not a checksum. Ret=-1 marks a frame whose id or code "
              "could not be read at all.",
              "Noise on the cable (length, shielding, earth); the line rate and parity on "
              "both sides; a USB adapter dropping bytes."};
    case Outcome::NoCts: return NoCtsAdvice(e);
    case Outcome::WriteError:
      return {"The request could not be sent",
              "Writing the request to the port failed; the code says why (5: the device "
              "went away).",
              "Whether the device still exists (USB adapter); the earlier failures in the "
              "log; restart the session."};
    case Outcome::Overflow:
      return {"An endless answer",
              "More than 4095 bytes came without the end of a frame: not an answer of the "
              "printer, or a line rate that turns bytes into garbage.",
              "The line rate on both sides; that the port is the printer's and not another "
              "device's."};
    case Outcome::PrinterError:
      return {"Refused by the printer",
              "The printer received the command and refused it with its own error code; "
              "the line is fine.",
              "The command's parameters and the state of the document (receipt open or "
              "closed, payment started), as the error name says."};
    case Outcome::Ok:
    case Outcome::Unfinished: break;
  }
  return {"End not traced",
          "The log holds the request but not how it ended: the log ends here, or the trace "
          "level hides the answer frames.",
          "Trace level 1 in the configuration file for every line."};
}

Advice AdviceForNote(const Note& n) {
  if (n.kind == "bad-channel") {
    return {"Bad port name",
            "IniciaDriver refused the port name: without /dev/ or rfc2217:// its fourth "
            "character must be a digit 0 to 8 (COM9 and COMU are refused).",
            "The port name the program passes."};
  }
  if (n.kind == "no-registry") {
    return {"No registry file",
            "There is no registry file (or no key in it), so the line rate is the fallback, "
            "115200 baud, 8 data bits, even parity, 1 stop bit. Harmless when the printer "
            "runs at 115200.",
            "TARVO_REGISTRY or the registry file, if the printer runs at another rate."};
  }
  if (n.kind == "registry-unreadable") {
    return {"No usable CommSettings",
            "The registry holds no CommSettings value, or one longer than 20 bytes: the "
            "line runs at 115200 baud.",
            "The CommSettings line of the registry file (COM1:57600,E,8,1)."};
  }
  if (n.kind == "bad-settings") {
    return {"A bad field in CommSettings",
            "One field of CommSettings is not accepted (rate 19200/38400/57600/115200, "
            "parity E, 8 data bits, 1 stop bit), so the whole value is ignored and the line "
            "runs at 115200 baud.",
            "The field named in brackets, in the registry file."};
  }
  if (n.kind == "open-failed") {
    return {"The port could not be opened",
            "Opening the device failed with the code shown (1247: already open in this "
            "process; otherwise the system's reason).",
            "The device exists; permissions (the dialout group); no other program holds it."};
  }
  if (n.kind == "network-open-failed") {
    return {"The network port could not be reached",
            "Connecting to the network port's server failed with the code shown.",
            "The server's address and port; that the server runs and accepts the connection."};
  }
  if (n.kind == "network-link") {
    return {"The network port's link",
            "The connection to the network serial port's server was lost, a reconnection "
            "failed or succeeded, or the server flooded data: the port reads as CTS off until "
            "it reconnects by itself (at most once a second), with no restart of the host.",
            "The server box, its network and ser2net; the code in brackets (docs/trace.md)."};
  }
  if (n.kind == "wrong-handle") {
    return {"A call with the wrong handle",
            "The host passed a handle that is not the open session's; the call did nothing.",
            "The host's session handling (a session that was closed or never opened)."};
  }
  return {"Time-out change refused",
          "DefineTimeout came while a command was running (from another thread) and was "
          "ignored.",
          "The host's use of threads: one call at a time."};
}

}  // namespace tarvo::report
