// The catalogue of trace lines: every line the library writes, its printf
// format (used as is by the code that writes it), whether only level 1
// writes it, and what it means. The report reads logs through the same
// table, and the documentation is checked against it.
//
// Each format is the name of the call or engine step, "%s" for the version
// tag, then the message, ending in a line feed. A new line is added here,
// to kTraceLines in trace_lines.cpp, and to docs/trace.md.
#pragma once

#include <cstddef>
#include <string_view>

// Session (IniciaDriver, EncerraDriver, DefineTimeout).
#define TRACE_INICIA_PORTA "IniciaDriver%s PortaSerial=%s\n"
#define TRACE_INICIA_CANAL "IniciaDriver%s Erro[canal]\n"
#define TRACE_INICIA_COM "IniciaDriver%s COM%s\n"
#define TRACE_INICIA_REG_OPEN "IniciaDriver%s Erro na abertura do Register\n"
#define TRACE_INICIA_REG_READ "IniciaDriver%s Erro na leitura do Register\n"
#define TRACE_INICIA_RATE "IniciaDriver%s Erro de configuracao[velocidade]\n"
#define TRACE_INICIA_SIZE "IniciaDriver%s Erro de configuracao[tamanho]\n"
#define TRACE_INICIA_PARITY "IniciaDriver%s Erro de configuracao[paridade]\n"
#define TRACE_INICIA_STOP "IniciaDriver%s Erro de configuracao[stop bit]\n"
#define TRACE_INICIA_OPEN_FAILED "IniciaDriver%s Erro [%d] na inicializacao da COM\n"
#define TRACE_INICIA_DEVICE "IniciaDriver%s %s\n"
#define TRACE_ENCERRA "EncerraDriver%s Handle=%d\n"
#define TRACE_TIMEOUT_SET "DefineTimeout%s iTimeout=%d => Timeout=%d\n"
#define TRACE_TIMEOUT_HANDLE "DefineTimeout%s Handle=%d diferente de fArq=%d\n"
#define TRACE_TIMEOUT_BUSY "DefineTimeout%s Ha comando em execucao!\n"
// Commands.
#define TRACE_EXECUTA "ExecutaComando%s retCom=%d\n"
#define TRACE_NOME_ERRO "ObtemNomeErro%s Handle=%d\n"
#define TRACE_CIRCUNSTANCIA "ObtemCircunstancia%s Handle=%d\n"
#define TRACE_RETORNO "Retorno%s CodigoUltimoErro=%d\n"
// The exchange engine.
#define TRACE_BUF_TX "EnviaComando%s bufTx=%s \n"
#define TRACE_BUF_RX "EnviaComando%s bufRx=%s\n"
#define TRACE_DISCARD "EnviaComando%s Descartando bufRx[%d]=%c\n"
#define TRACE_STALE "EnviaComando%s IdCmdRecebido=%d IdCmdEnviado=%d bDescartaResp=%d\n"
#define TRACE_BRK "EnviaComando%s BRK-%02d\n"
#define TRACE_RESPOK "EnviaComando%s <RESPOK>\n"
#define TRACE_RET_READ "EnviaComando%s retRead=%d bRetrans=%d dwRead=%d\n"
#define TRACE_BAD_LENGTH "EnviaComando%s Ret=%d CRCREC=%d CRCCALC=%d bRetrans=%d\n"
#define TRACE_CTS1 "EnviaComando%s CTS_1 OUT\n"
#define TRACE_CTS2 "EnviaComando%s CTS_2 OUT\n"
#define TRACE_CTS3 "EnviaComando%s CTS_3 OUT\n"
#define TRACE_RET_WRITE "EnviaComando%s retWrite=%d\n"
#define TRACE_OVERFLOW "EnviaComando%s Estouro de bufRx rxCount=%d\n"
// The network port's link (serial/net_heal.cpp).
#define TRACE_NET_LOST "PortaRede%s Conexao com %s:%d perdida [%d]; CTS desligado ate reconectar\n"
#define TRACE_NET_RETRY_FAILED \
  "PortaRede%s Reconexao a %s:%d falhou [%d]; nova tentativa em %d ms\n"
#define TRACE_NET_BACK "PortaRede%s Reconectado a %s:%d\n"
#define TRACE_NET_FLOOD "PortaRede%s %s:%d enviou mais de %d %s; conexao encerrada\n"
// The facade.
#define TRACE_FC_INICIO "FC_Inicializa%s <INICIO> Porta=%s Nivel Log=%d\n"
#define TRACE_FC_INICIA_FAILED "FC_Inicializa%s Erro apos IniciaDriver HVesko[%d]\n"
#define TRACE_FC_SCAN_OPEN "FC_Inicializa%s Abrindo comunicacao com a porta USB%d\n"
#define TRACE_FC_SCAN_FAILED "FC_Inicializa%s Erro na inicializacao da USB%d\n"
#define TRACE_FC_IDENTIFY_FAILED "FC_Inicializa%s Erro[%d] retry[%d] apos FC_Operacao\n"
#define TRACE_FC_FIM "FC_Inicializa%s <FIM> com sucesso\n"
#define TRACE_FC_NIVEL "FC_Inicializa%s Nivel Log=%d\n"
#define TRACE_FC_OPERACAO "FC_Operacao%s numParam=%d Cmd=%s\n"
#define TRACE_FC_FINALIZA "FC_Finaliza%s\n"

namespace tarvo {

enum class TraceLine {
  IniciaPorta,
  IniciaCanal,
  IniciaCom,
  IniciaRegOpen,
  IniciaRegRead,
  IniciaRate,
  IniciaSize,
  IniciaParity,
  IniciaStop,
  IniciaOpenFailed,
  IniciaDevice,
  Encerra,
  TimeoutSet,
  TimeoutHandle,
  TimeoutBusy,
  Executa,
  NomeErro,
  Circunstancia,
  Retorno,
  BufTx,
  BufRx,
  Discard,
  Stale,
  Brk,
  RespOk,
  RetRead,
  BadLength,
  Cts1,
  Cts2,
  Cts3,
  RetWrite,
  Overflow,
  NetLost,
  NetRetryFailed,
  NetBack,
  NetFlood,
  FcInicio,
  FcIniciaFailed,
  FcScanOpen,
  FcScanFailed,
  FcIdentifyFailed,
  FcFim,
  FcNivel,
  FcOperacao,
  FcFinaliza,
  Unknown,
};

struct TraceLineInfo {
  TraceLine line;
  const char* format;
  bool verbose;         // written only at level 1
  const char* meaning;  // in a technician's words
};

// The catalogue, in matching order: a line is the first entry it matches.
const TraceLineInfo* TraceLines(size_t* count);
const TraceLineInfo& TraceLineOf(TraceLine line);

// A logged text (the part after the time stamp, without its line end) read
// back through the catalogue: which line it is and the text of each
// conversion after the tag (numbers as written, "%c" as one byte or none
// when that byte broke the line). Time linear in the text's length.
constexpr size_t kMaxTraceFields = 4;
struct TraceLineMatch {
  TraceLine line = TraceLine::Unknown;
  std::string_view tag;
  std::string_view fields[kMaxTraceFields];
  size_t count = 0;
};
TraceLineMatch MatchTraceLine(std::string_view text);

// Whether `text` is `format` filled in (the same reading as above).
bool MatchTraceFormat(const char* format, std::string_view text, TraceLineMatch* out);

}  // namespace tarvo
