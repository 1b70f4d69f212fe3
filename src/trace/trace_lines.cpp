#include "trace/trace_lines.h"

#include <cstring>

namespace tarvo {

namespace {

// Specific lines before the general ones that would also match them: the
// device line ("IniciaDriver%s %s") comes last of its call.
constexpr TraceLineInfo kTraceLines[] = {
    {TraceLine::IniciaPorta, TRACE_INICIA_PORTA, false,
     "a session starts: the port name the host gave"},
    {TraceLine::IniciaCanal, TRACE_INICIA_CANAL, false,
     "the port name is refused: neither a device path, a network URL, nor a name whose fourth "
     "character is a digit 0 to 8"},
    {TraceLine::IniciaCom, TRACE_INICIA_COM, false, "the COM port chosen"},
    {TraceLine::IniciaRegOpen, TRACE_INICIA_REG_OPEN, false,
     "no registry file or no line-settings key: the line runs at 115200 baud"},
    {TraceLine::IniciaRegRead, TRACE_INICIA_REG_READ, false,
     "no usable CommSettings value: the line runs at 115200 baud"},
    {TraceLine::IniciaRate, TRACE_INICIA_RATE, false,
     "CommSettings names a rate other than 19200, 38400, 57600 or 115200: 115200 baud"},
    {TraceLine::IniciaSize, TRACE_INICIA_SIZE, false, "CommSettings data bits not 8: 115200 baud"},
    {TraceLine::IniciaParity, TRACE_INICIA_PARITY, false, "CommSettings parity not E: 115200 baud"},
    {TraceLine::IniciaStop, TRACE_INICIA_STOP, false, "CommSettings stop bits not 1: 115200 baud"},
    {TraceLine::IniciaOpenFailed, TRACE_INICIA_OPEN_FAILED, false,
     "the port could not be opened; the number is the system's reason"},
    {TraceLine::IniciaDevice, TRACE_INICIA_DEVICE, false, "the device path or network URL chosen"},
    {TraceLine::Encerra, TRACE_ENCERRA, false, "the host ends the session"},
    {TraceLine::TimeoutSet, TRACE_TIMEOUT_SET, true, "a new per-byte answer time-out"},
    {TraceLine::TimeoutHandle, TRACE_TIMEOUT_HANDLE, false,
     "DefineTimeout with a handle that is not the open session's: ignored"},
    {TraceLine::TimeoutBusy, TRACE_TIMEOUT_BUSY, false,
     "DefineTimeout while a command runs: ignored"},
    {TraceLine::Executa, TRACE_EXECUTA, false, "the exchange failed: the host got -1"},
    {TraceLine::NomeErro, TRACE_NOME_ERRO, false, "the host read the error name"},
    {TraceLine::Circunstancia, TRACE_CIRCUNSTANCIA, false, "the host read the circumstance"},
    {TraceLine::Retorno, TRACE_RETORNO, false,
     "the host asked for a value after a command that failed"},
    {TraceLine::BufTx, TRACE_BUF_TX, true, "the request frame sent"},
    {TraceLine::BufRx, TRACE_BUF_RX, true, "an answer frame received"},
    {TraceLine::Discard, TRACE_DISCARD, false, "a byte before the answer's '{', thrown away"},
    {TraceLine::Stale, TRACE_STALE, false,
     "an answer with another id than the request's: discarded, the driver keeps listening"},
    {TraceLine::Brk, TRACE_BRK, true, "no byte within the time-out: a BREAK attempt"},
    {TraceLine::RespOk, TRACE_RESPOK, true, "a BREAK attempt brought a byte"},
    {TraceLine::RetRead, TRACE_RET_READ, false,
     "no answer after the BREAK attempts (1460), or a read error: the port is re-opened and the "
     "exchange fails"},
    {TraceLine::BadLength, TRACE_BAD_LENGTH, false,
     "an answer whose length field does not match: damaged on the line, the exchange fails"},
    {TraceLine::Cts1, TRACE_CTS1, false, "CTS off before sending: nothing was sent"},
    {TraceLine::Cts2, TRACE_CTS2, false, "CTS dropped again during the 20-second hold"},
    {TraceLine::Cts3, TRACE_CTS3, false, "CTS dropped while the answer was awaited"},
    {TraceLine::RetWrite, TRACE_RET_WRITE, false, "the request could not be written"},
    {TraceLine::Overflow, TRACE_OVERFLOW, false, "more than 4095 bytes without the end of a frame"},
    {TraceLine::NetLost, TRACE_NET_LOST, false,
     "the network port's connection was lost: CTS reads off until it reconnects by itself"},
    {TraceLine::NetRetryFailed, TRACE_NET_RETRY_FAILED, false,
     "one reconnection of the network port failed; the next one comes a second later at most"},
    {TraceLine::NetBack, TRACE_NET_BACK, false,
     "the network port reconnected, with its line settings sent again"},
    {TraceLine::NetFlood, TRACE_NET_FLOOD, false,
     "the network port's server sent more than any printer would; the connection was dropped"},
    {TraceLine::FcInicio, TRACE_FC_INICIO, false, "the facade's start-up begins"},
    {TraceLine::FcIniciaFailed, TRACE_FC_INICIA_FAILED, false,
     "the start-up could not open the named port"},
    {TraceLine::FcScanOpen, TRACE_FC_SCAN_OPEN, false, "the start-up's scan tries COM7 + n"},
    {TraceLine::FcScanFailed, TRACE_FC_SCAN_FAILED, false, "the scan found no printer on COM7 + n"},
    {TraceLine::FcIdentifyFailed, TRACE_FC_IDENTIFY_FAILED, false,
     "the printer could not be identified: the code and the tries"},
    {TraceLine::FcFim, TRACE_FC_FIM, false,
     "the printer is identified; the trace moves to its own log"},
    {TraceLine::FcNivel, TRACE_FC_NIVEL, false, "the printer's own log opened, at this level"},
    {TraceLine::FcOperacao, TRACE_FC_OPERACAO, false, "the facade runs one command"},
    {TraceLine::FcFinaliza, TRACE_FC_FINALIZA, false, "the facade's session ends"},
};

constexpr TraceLineInfo kUnknown = {TraceLine::Unknown, "", false,
                                    "a line this program does not know"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The literal text of `format` from `at` to the next conversion or the end
// (the final line feed left out).
std::string_view LiteralAt(const char* format, size_t at) {
  size_t end = at;
  while (format[end] != '\0' && format[end] != '%') ++end;
  if (format[end] == '\0' && end > at && format[end - 1] == '\n') --end;
  return std::string_view(format + at, end - at);
}

// One conversion of `format` at `i` (after its '%') against text from `*j`.
bool TakeConversion(const char* format, size_t* i, std::string_view text, size_t* j,
                    std::string_view* field) {
  while (IsDigit(format[*i])) ++*i;  // "%02d"
  const char type = format[(*i)++];
  const size_t begin = *j;
  if (type == 'd') {
    if (*j < text.size() && text[*j] == '-') ++*j;
    const size_t digits = *j;
    while (*j < text.size() && IsDigit(text[*j])) ++*j;
    if (*j == digits) return false;
  } else if (type == 'c') {
    if (*j < text.size()) ++*j;
  } else {
    const std::string_view literal = LiteralAt(format, *i);
    const bool last = std::strchr(format + *i, '%') == nullptr;
    if (literal.empty()) {
      *j = text.size();
    } else if (last) {
      if (text.size() < begin + literal.size() || !text.ends_with(literal)) return false;
      *j = text.size() - literal.size();
    } else {
      const size_t at = text.find(literal, begin);
      if (at == std::string_view::npos) return false;
      *j = at;
    }
  }
  *field = text.substr(begin, *j - begin);
  return true;
}

}  // namespace

const TraceLineInfo* TraceLines(size_t* count) {
  *count = sizeof kTraceLines / sizeof kTraceLines[0];
  return kTraceLines;
}

const TraceLineInfo& TraceLineOf(TraceLine line) {
  for (const TraceLineInfo& info : kTraceLines) {
    if (info.line == line) return info;
  }
  return kUnknown;
}

bool MatchTraceFormat(const char* format, std::string_view text, TraceLineMatch* out) {
  *out = TraceLineMatch{};
  size_t i = 0, j = 0;
  bool tag = true;
  while (format[i] != '\0') {
    if (format[i] == '%') {
      ++i;
      std::string_view field;
      if (!TakeConversion(format, &i, text, &j, &field)) return false;
      if (tag) {
        // The version tag holds no blank: this keeps a frame's own text
        // from being read as the start of another line's message.
        if (field.find(' ') != std::string_view::npos) return false;
        out->tag = field;
        tag = false;
      } else if (out->count < kMaxTraceFields) {
        out->fields[out->count++] = field;
      }
      continue;
    }
    if (format[i] == '\n' && format[i + 1] == '\0') break;
    if (j >= text.size() || text[j] != format[i]) return false;
    ++i;
    ++j;
  }
  return j == text.size();
}

TraceLineMatch MatchTraceLine(std::string_view text) {
  TraceLineMatch m;
  for (const TraceLineInfo& info : kTraceLines) {
    // The call's name first: a cheap test that rules out most entries.
    const size_t name = std::strcspn(info.format, "%");
    if (text.substr(0, name) != std::string_view(info.format, name)) continue;
    if (MatchTraceFormat(info.format, text, &m)) {
      m.line = info.line;
      return m;
    }
  }
  m = TraceLineMatch{};
  return m;
}

}  // namespace tarvo
