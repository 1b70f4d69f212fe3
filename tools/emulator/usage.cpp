// The emulator's --help text: the whole reference, as in docs/emulator.md.
#include "emulator/options.h"

namespace tarvo::emu {

extern const char kUsage[] =
    R"(Usage: tarvo-emu [OPTION]...
A fiscal printer (ECF) emulator for the TARVO driver. It creates a pseudo-
terminal and prints the path of its slave side (for the driver:
IniciaDriver("/dev/pts/N") or tarvo -p /dev/pts/N) on the first line of
standard output, then serves until SIGINT or SIGTERM (Ctrl-C). With
--listen it serves a network serial port instead and prints its URL
(rfc2217://HOST:PORT) on that line. The paper it prints follows on
standard output; a log of the frames goes to standard error.

Line:
  --device PATH      serve a serial device (a null-modem cable to the host)
                     instead of a pseudo-terminal
  --baud N           line rate of --device (default 115200; 8 data bits,
                     even parity, 1 stop bit)
  --listen HOST:PORT serve RFC 2217 (Telnet with the Com Port option) on
                     TCP instead; port 0 takes a free port, announced on the
                     first line as rfc2217://HOST:PORT
  --path-file FILE   also write the device path (or URL) to FILE (written
                     once the emulator is ready)
Printer:
  --serial TEXT      serial number (NumeroSerieECF; default EMU0000001)
  --ecf N            ECF number (default 1)
  --state FILE       keep the printer's state in FILE, read at start and
                     rewritten after every command (survives a restart)
Output:
  --paper FILE       append the paper to FILE instead of standard output
  --quiet            no frame log on standard error
Faults (each FAULT is described at the end):
  --fault FAULT       arm a fault at start, e.g. --fault "silence 2"; repeatable
  --delay MS         wait MS milliseconds before every answer
  --pace BAUD        send answers one byte at a time at the wire time of BAUD
                     (11 bits per byte: 8 data bits, parity, start and stop)
  --control PATH     create a FIFO at PATH; each line written to it is a fault
                     FAULT applied at once, e.g.  echo "cut 1" > PATH;
                     "-" reads the lines from standard input (the only
                     choice on Windows)
  --ack PATH         create a FIFO at PATH; for each control line the
                     emulator writes "ok LINE" or "error LINE: why" to it once
                     the line has been handled, before it reads another
                     request; "-" writes them to standard output
  --help             show this text
  --version          show the version

Commands (request "{id;Comando;params;length}", answer
"{id;code;values;length}", code 0 for success):
  LeTexto NomeTexto=NumeroSerieECF|Marca|Modelo|Versao   -> ValorTexto="..."
  LeInteiro NomeInteiro=ECF|COO|ContadorReducaoZ|CupomAberto|ItensCupom|
            TamanhoImpressao                              -> ValorInteiro=n
  LeMoeda NomeMoeda=TotalCupom|TotalPago|GrandeTotal|VendaBrutaDiaria
                                                          -> ValorMoeda=12,50
  LeDataHora                            -> Data=#dd/mm/yyyy# Hora=#hh:mm:ss#
  LeImpressao [Inicio=n]                -> TextoImpressao="..." (last document,
            at most 3000 characters from Inicio; '\' makes the next character
            literal; '"' and ';' are always escaped)
  AbreCupom [Consumidor="..."]                            -> COO=n
  VendeItem Descricao="..." PrecoUnitario=4,50 [Quantidade=2] [CodigoProduto=
            "..."]                      -> NumeroItem=n TotalItem=.. TotalCupom=..
  PagaCupom MeioPagamento="Dinheiro" Valor=20,00          -> Restante=.. Troco=..
  EncerraCupom [Mensagem="..."]                           -> COO=n TotalCupom=..
  CancelaCupom                                            -> COO=n
  AbreCreditoDebito MeioPagamento="..." Valor=10,00       -> COO=n
  ImprimeTexto Texto="..."   (inside a credit/debit voucher)
  EncerraCreditoDebito                                    -> COO=n
  EmiteReducaoZ              -> ContadorReducaoZ=n DataMovimento=#dd/mm/yyyy#
Amounts take ',' or '.' before the decimals. Values may be plain, "quoted" or
#marked#.

Error codes (each with its NomeErro and Circunstancia texts):
   1 ErroComandoDesconhecido   unknown (or empty) command
   2 ErroQuadroInvalido        length field does not match; not carried out
   3 ErroParametroAusente      a required parameter is missing
   4 ErroParametroInvalido     bad value, or parameters not name=value
   5 ErroDocumentoAberto       a receipt or voucher is open
   6 ErroCupomFechado          no receipt open
   7 ErroPagamentoIniciado     VendeItem after the first payment
   8 ErroPagamentoIncompleto   EncerraCupom before the total is paid
   9 ErroCupomSemItens         payment or closing without items
  10 ErroNomeDesconhecido      LeTexto/LeInteiro/LeMoeda: unknown name
  11 ErroComprovanteFechado    no credit/debit voucher open
  12 ErroCupomCheio            500 items on one receipt

A request repeated with the same id, command and parameters as the last one
(the driver's resend) is answered again from memory, not carried out twice.

Faults (FAULT for --fault and --control; counters apply to the next N):
  silence N      carry out the next N requests but send no answer
  deaf N         ignore the next N requests completely
  badlength N    next N answers have a length field one too large
  stale N        next N answers are preceded by an answer with another id
  cut N          next N answers stop after their first half
  noise B [N]    B bytes of noise before each of the next N (default 1) answers
  delay MS       wait MS before every answer (0: no wait)
  pace BAUD      byte pacing at the wire time of BAUD (0: off)
  clear          disarm everything (the network faults too)
Network faults (with --listen):
  cts on|off     the modem state reports CTS on or off (NOTIFY-MODEMSTATE)
  drop           close the client's connection now
  refuse SETTING VALUE|never|off
                 SETTING baud, datasize, parity or stopsize: acknowledge
                 VALUE instead of the value asked for, or never acknowledge
  mute on|off    send nothing at all (no Telnet, no acknowledgement, no
                 answer) while on; a new client gets no greeting
SIGUSR1 writes the armed faults and the printer's state to the log.
)";

}  // namespace tarvo::emu
