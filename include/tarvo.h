/*
 * tarvo.h - public interface of TARVO, the communications driver for a
 * Brazilian fiscal printer (ECF) on a serial line or a USB virtual serial port.
 *
 * Two interfaces share one engine:
 *   - the driver calls, one per step of a printer command (IniciaDriver,
 *     LimpaParams, AdicionaParam, ExecutaComando, ObtemCodErro, Retorno, ...);
 *   - the fiscal facade (FC_Inicializa, FC_Operacao, FC_Finaliza), which takes
 *     one FcCommand record per operation.
 *
 * Calling convention: on 32-bit Windows every call is __stdcall (the callee
 * removes its arguments) and exported by its undecorated name. Each of the
 * eleven driver calls is exported twice, under its plain name and with the
 * prefix TARVO_ (both names reach the same code); the three FC_ calls once.
 *
 * Texts cross the interface as zero-terminated 8-bit strings in the Windows
 * ANSI code page (cp1252). Output buffers are owned by the caller and their
 * size is not passed: each call below says how much room it needs.
 *
 * Threads: every call may be made from any thread, and every call is
 * atomic with respect to every other: none ever sees or changes half of
 * another's work. The library starts no thread; each call runs on the
 * caller's and blocks it for the whole exchange with the printer. While
 * one thread's exchange runs (an ExecutaComando, a whole FC_Operacao, or a
 * whole FC_Inicializa with its identification), another thread's
 * ExecutaComando returns 0 (TARVO_BUSY) at once, its DefineTimeout is
 * refused with its "Ha comando em execucao!" trace line, and its
 * FC_Operacao returns -22 (TARVO_REFUSED_BUSY) with nothing sent; only a
 * running exchange refuses them, never a call that merely holds the lock
 * for a moment. Every other call (staging, the getters and Retorno,
 * IniciaDriver, FC_Inicializa, FC_Finaliza) waits until that exchange has
 * ended, so staging never changes a running exchange and a getter never
 * reads half-written results. EncerraDriver does not wait: it ends the
 * session at once (result 0), the running exchange then fails at the
 * printer's next silence without re-opening the port, and the port is
 * closed as that exchange ends; nothing re-opens behind a closed session.
 * DoMessage takes no lock, so a window procedure it dispatches may call the
 * driver. The trace writes whole lines only. The lock is a plain mutex that
 * allocates nothing after load. A sequence of calls (stage, execute, read)
 * is still one unit only for the host that makes it: two threads that
 * stage for one printer must agree between themselves (the bindings keep a
 * lock of their own for that), or use FC_Operacao, which is one call.
 * All of a printer's state is one session object; the library has one,
 * reached by every call, so one process drives one printer. Several
 * printers in one process would still need: a session per handle (the
 * handle chosen at IniciaDriver and looked up by every call instead of the
 * fixed 1), the facade's fields (its handle, scratch and trace names) moved
 * into the session, a trace log per session, and the process-wide frame-id
 * seed memory kept per device.
 *
 * Frame ids: each session starts its ids from a seed taken from a
 * sub-second clock mixed with the process id, so sessions opened in quick
 * succession, in one process or several, start from different ids. Within
 * one process a session never starts from the previous session's seed nor
 * sends as its first id the id of the last command sent. Between
 * processes (a script that runs one command per process) there remains a
 * chance of 1 in 255 that a new session's first id equals the id of the
 * printer's last command; if the command and its parameters are also the
 * same, the printer takes it for a resend and answers from memory without
 * carrying it out.
 *
 * Tracing: FC_Inicializa reads TARVO.cfg in the current directory (and,
 * after identifying the printer, TV_<serial>_<ecf>.cfg) to switch the trace
 * log on. The environment variable TARVO_TRACE switches it on for any host,
 * one that uses only the driver calls included, with no configuration file:
 *   TARVO_TRACE=LEVEL            e.g. 1: trace into TARVO.txt
 *   TARVO_TRACE=LEVEL:BASENAME   e.g. 2:/var/log/pos/ecf: into ecf.txt there
 * LEVEL is one digit: 1 writes every line, frames and BREAK attempts
 * included; 2 to 9 every line but those; 0 is the same as unset. BASENAME
 * has 1 to 47 characters; the log is BASENAME.txt, in the current directory
 * unless it is a path. While the variable is set, IniciaDriver and
 * FC_Inicializa start the trace (EncerraDriver stops it), the facade keeps
 * the whole session in that one log, and no .cfg file is read or created.
 * A malformed value (two digits, a letter, an empty or longer name) is
 * ignored as if unset. Unset or empty, nothing changes.
 *
 * Errors: every call returns a plain integer (see the result codes below).
 * The printer's own error for a command is read with ObtemCodErro,
 * ObtemNomeErro and ObtemCircunstancia after ExecutaComando returned 1.
 */
#ifndef TARVO_H
#define TARVO_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define TARVO_CALL __stdcall
#else
#define TARVO_CALL
#endif

#if defined(_WIN32)
/* The DLL's module-definition file is the one list of its exports (each
   name undecorated, the driver calls also under TARVO_); hosts link
   through the import library or look the names up at run time. */
#define TARVO_API
#elif defined(__GNUC__) && defined(TARVO_BUILDING)
#define TARVO_API __attribute__((visibility("default")))
#else
#define TARVO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------ */

/* IniciaDriver's session handle; ExecutaComando: a valid answer came back. */
#define TARVO_OK_HANDLE 1
#define TARVO_ANSWERED 1
/* EncerraDriver and the FC_ calls succeeded; ExecutaComando: another
   ExecutaComando is still running and this one was refused. */
#define TARVO_OK 0
#define TARVO_BUSY 0
/* ExecutaComando: the exchange failed (no answer, no CTS, bad length). */
#define TARVO_EXCHANGE_FAILED (-1)
/* IniciaDriver, FC_Inicializa: bad channel name or the port can't be opened. */
#define TARVO_BAD_CHANNEL (-11)
/* A handle that is not the open session's. */
#define TARVO_BAD_HANDLE (-14)
/* FC_Operacao: a requested value could not be read. */
#define TARVO_VALUE_UNREADABLE (-15)
/* A text argument, or a text the call would build, is longer than its
   documented bound; nothing was changed or written. */
#define TARVO_TOO_LONG (-20)
/* A required pointer argument is null; nothing was changed or written. */
#define TARVO_NULL_ARGUMENT (-21)
/* FC_Operacao: another thread's exchange (ExecutaComando, FC_Operacao or
   FC_Inicializa) was running. Nothing was sent; Cmd, outText and *outLen are untouched,
   so the same record can be passed again once that exchange has ended. */
#define TARVO_REFUSED_BUSY (-22)
/* Protocol failure: no valid answer was obtained (error name
   "ErroProtTimeout"). Any other positive code is the printer's own. */
#define TARVO_PROTOCOL_FAILURE 11010

/* ---- Bounds a host must respect ---------------------------------------- */

/* Room for ObtemNomeErro's output: up to 100 characters and the zero. */
#define TARVO_ERROR_NAME_SIZE 101
/* Room for ObtemCircunstancia's output: up to 202 characters and the zero. */
#define TARVO_CIRCUMSTANCE_SIZE 203
/* Room for Retorno's output: a value has at most 4095 characters. */
#define TARVO_VALUE_SIZE 4096
/* Room for FC_Operacao's outText: the whole quoted text and its zero. */
#define TARVO_FC_TEXT_SIZE 4096
/* Longest command name ExecutaComando accepts. */
#define TARVO_MAX_COMMAND 59
/* Longest staged parameter text (all AdicionaParam items joined). */
#define TARVO_MAX_PARAMS 511
/* Longest device name ("/dev/...") IniciaDriver accepts. */
#define TARVO_MAX_PORT_NAME 39
/* Entries of FcCommand.params. */
#define TARVO_FC_PARAM_COUNT 17

/* ---- Parameter type codes (AdicionaParam's Tipo, FcParam.type) --------- */

/* Written bare: Nome=Valor. Every code not named below is written so too. */
#define TARVO_TYPE_PLAIN 0
/* A date, written between '#': Nome=#dd/mm/yyyy#. */
#define TARVO_TYPE_DATE 2
/* A time of day, written between '#': Nome=#hh:mm:ss#. */
#define TARVO_TYPE_TIME 3
/* Text, written between double quotes: Nome="Valor". */
#define TARVO_TYPE_QUOTED 7

/* ---- Driver calls: session --------------------------------------------- */

/*
 * Opens the session on a serial port and returns its handle, 1, or -11.
 *
 * PortaSerial: "COMn" (any three characters, then the port number: the
 * fourth character must be a digit 0 to 8, and every digit that follows it
 * belongs to the number, so COM15 is port 15), or a device path containing
 * "/dev/" that is used as given (at most 39 characters, else -11).
 * On Linux COMn reaches the device mapped to it in the registry file's
 * [HKEY_LOCAL_MACHINE\SOFTWARE\TARVO\Ports] section, else /dev/ttyS(n-1).
 * The line rate comes from the registry value CommSettings (see README);
 * the line always runs with 8 data bits, even parity and 1 stop bit.
 * A null PortaSerial is a bad channel (-11).
 * On Linux only a terminal device is a port: anything else (a regular file,
 * a FIFO, /dev/null) is refused with ENOTTY in the trace line and -11,
 * before a byte is written; a name is never created.
 * A second IniciaDriver while a session is open returns -11 and leaves the
 * open session, its device name included, as it was.
 */
TARVO_API int TARVO_CALL IniciaDriver(const char *PortaSerial);
TARVO_API int TARVO_CALL TARVO_IniciaDriver(const char *PortaSerial);

/* Closes the session: 0, or -14 when Handle is not the open session's
   handle (with no session open, -1 matches and closes nothing). Stops
   tracing. It never waits for another thread's running exchange: the
   session ends at once and its port is closed as that exchange ends. */
TARVO_API int TARVO_CALL EncerraDriver(int Handle);
TARVO_API int TARVO_CALL TARVO_EncerraDriver(int Handle);

/* Sets the time-out for each byte of the printer's answer, in milliseconds;
   values below 5000 (negative ones too) give 5000. Ignored when Handle is
   not the session's or while a command runs. */
TARVO_API void TARVO_CALL DefineTimeout(int Handle, int iTimeout);
TARVO_API void TARVO_CALL TARVO_DefineTimeout(int Handle, int iTimeout);

/* Dispatches one waiting window message of the calling thread; returns 0
   when none was waiting, else what its dispatch returned. On Linux there is
   no message queue and it always returns 0. */
TARVO_API int TARVO_CALL DoMessage(void);
TARVO_API int TARVO_CALL TARVO_DoMessage(void);

/* ---- Driver calls: one command ----------------------------------------- */

/* Empties the staged parameter text: 0, or -14 for a wrong handle. */
TARVO_API int TARVO_CALL LimpaParams(int Handle);
TARVO_API int TARVO_CALL TARVO_LimpaParams(int Handle);

/*
 * Appends one parameter to the staged text, joined to the previous one by a
 * blank: Nome=#Valor# for TARVO_TYPE_DATE and TARVO_TYPE_TIME, Nome="Valor"
 * for TARVO_TYPE_QUOTED, Nome=Valor for every other code (TARVO_TYPE_PLAIN).
 * Nothing is escaped.
 * Returns 0 after appending; -14 for a wrong handle; -21 for a null name or
 * value; -20 when the staged text would pass 511 characters (the item is
 * refused whole and the text stays as it was).
 */
TARVO_API int TARVO_CALL AdicionaParam(int Handle, const char *Nome, const char *Valor, int Tipo);
TARVO_API int TARVO_CALL TARVO_AdicionaParam(int Handle, const char *Nome, const char *Valor,
                                             int Tipo);

/*
 * Runs one printer command with the staged parameters and a new frame id
 * (1 to 255, then 1 again). An empty command name sends the last new
 * command again with its id and parameters (a retransmission).
 * Returns 1 when a valid answer came back (read ObtemCodErro: 0 means the
 * printer carried it out), -1 when the exchange failed (ObtemCodErro then
 * gives 11010), 0 when another thread's exchange is still running, -14 for a
 * wrong handle, -21 for a null command, -20 for a command name over 59
 * characters. The staged parameters are cleared after every exchange.
 */
TARVO_API int TARVO_CALL ExecutaComando(int Handle, const char *Comando);
TARVO_API int TARVO_CALL TARVO_ExecutaComando(int Handle, const char *Comando);

/* The error code of the last answer (0 = success, 11010 = protocol
   failure), or -14 for a wrong handle. */
TARVO_API int TARVO_CALL ObtemCodErro(int Handle);
TARVO_API int TARVO_CALL TARVO_ObtemCodErro(int Handle);

/* Copies the last answer's error name ("OK" after success) into Saida,
   which must hold TARVO_ERROR_NAME_SIZE bytes. Always returns 0; with a
   wrong handle or a null Saida nothing is copied. Tamanho is not read. */
TARVO_API int TARVO_CALL ObtemNomeErro(int Handle, char *Saida, int Tamanho);
TARVO_API int TARVO_CALL TARVO_ObtemNomeErro(int Handle, char *Saida, int Tamanho);

/* The same for the circumstance text; Saida must hold
   TARVO_CIRCUMSTANCE_SIZE bytes. */
TARVO_API int TARVO_CALL ObtemCircunstancia(int Handle, char *Saida, int Tamanho);
TARVO_API int TARVO_CALL TARVO_ObtemCircunstancia(int Handle, char *Saida, int Tamanho);

/*
 * Reads the named value Nome of the last answer into Saida, which must hold
 * TARVO_VALUE_SIZE bytes (a value never has more than 4095 characters).
 * Returns the number of characters stored (8 or 10 for a "#" time or date
 * value), 0 with an empty Saida when the name is not found; the last
 * exchange's error code, with an empty Saida, when it was not 0; -14 for a
 * wrong handle (Saida untouched); -21 for a null Nome or Saida.
 * The name is matched as a plain substring of the answer's values, first
 * occurrence wins. Reserved1..3 are not read.
 */
TARVO_API int TARVO_CALL Retorno(int Handle, int Reservado1, const char *Nome, int Reservado2,
                                 char *Saida, int Reservado3);
TARVO_API int TARVO_CALL TARVO_Retorno(int Handle, int Reservado1, const char *Nome, int Reservado2,
                                       char *Saida, int Reservado3);

/* ---- Fiscal facade ----------------------------------------------------- */

/* One parameter entry: 528 bytes, no gaps. */
typedef struct FcParam {
  char name[30];   /* parameter name, at most 29 characters */
  char value[494]; /* value as text, at most 493 characters */
  int32_t type;    /* type code, as for AdicionaParam */
} FcParam;

/* One facade operation: 9060 bytes, no gaps; this layout is binary
   interface. */
typedef struct FcCommand {
  char command[30];                     /* printer command, at most 29 characters */
  char returnNames[50];                 /* value names wanted, separated by single blanks */
  int32_t timeoutMs;                    /* per-byte time-out; below 5000 acts as 5000 */
  FcParam params[TARVO_FC_PARAM_COUNT]; /* only the first numParam entries are read */
} FcCommand;

#ifdef __cplusplus
#define TARVO_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define TARVO_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
TARVO_STATIC_ASSERT(sizeof(FcParam) == 528, "FcParam is 528 bytes");
TARVO_STATIC_ASSERT(offsetof(FcParam, name) == 0, "FcParam.name at 0");
TARVO_STATIC_ASSERT(offsetof(FcParam, value) == 30, "FcParam.value at 30");
TARVO_STATIC_ASSERT(offsetof(FcParam, type) == 524, "FcParam.type at 524");
TARVO_STATIC_ASSERT(sizeof(FcCommand) == 9060, "FcCommand is 9060 bytes");
TARVO_STATIC_ASSERT(offsetof(FcCommand, command) == 0, "FcCommand.command at 0");
TARVO_STATIC_ASSERT(offsetof(FcCommand, returnNames) == 30, "FcCommand.returnNames at 30");
TARVO_STATIC_ASSERT(offsetof(FcCommand, timeoutMs) == 80, "FcCommand.timeoutMs at 80");
TARVO_STATIC_ASSERT(offsetof(FcCommand, params) == 84, "FcCommand.params at 84");

/*
 * Runs one whole command: time-out, the first numParam parameters,
 * execution, up to two resendings after a protocol failure (never for
 * VendeItem, AbreCreditoDebito and EmiteReducaoZ), then the values named in
 * returnNames, each between double quotes and separated by one blank, into
 * outText, with their length in *outLen.
 * outText must hold TARVO_FC_TEXT_SIZE bytes; a text that would not fit is
 * refused with -20 before the item that would overflow (*outLen unwritten).
 * Parameters that together would pass TARVO_MAX_PARAMS characters are
 * refused with -20 too, and then nothing is sent.
 * With a null outLen no values are fetched and outText is untouched.
 * Returns 0, the printer's error code, 11010, -14 (no facade session; the
 * record is then left untouched), -15 (a value could not be read), -20,
 * -21 for a null Cmd or a null outText with outLen given, or -22 when
 * another thread's ExecutaComando or FC_Operacao was running (nothing was
 * sent; Cmd, outText and *outLen are untouched). Afterwards command,
 * returnNames and timeoutMs of Cmd are cleared, except after -14 and -22.
 */
TARVO_API int TARVO_CALL FC_Operacao(int numParam, FcCommand *Cmd, int *outLen, char *outText);

/*
 * Starts the facade: reads TARVO.cfg (tracing), opens Porta (or, when its
 * fourth character is 'U' or 'u', scans COM7..COM22), reads the printer's
 * serial and ECF numbers and moves tracing to TV_<serial>_<ecf>.cfg/.txt.
 * Returns 0, -11 (port not opened / no printer found), or the identifying
 * command's error code as an unsigned 16-bit number (a serial number of 48
 * characters or more, which does not fit the start-up's 50-byte answer,
 * gives -20 as 16 bits: 65516).
 * The trace files are used only when they are regular files, never through
 * a symbolic link (on Windows, a reparse point), and never by an open that
 * could block; anything else counts as a file that can't be opened (tracing
 * stays off, or the line is lost). New logs are created readable and
 * writable by their owner and readable by the group only (0640, as the
 * umask allows).
 * The trace file name is made from the printer's numbers: characters that
 * are not allowed in a file name (or would leave the current directory)
 * become '_', and the name is cut to 47 characters, the ECF number being
 * left out when it does not fit whole.
 */
TARVO_API int TARVO_CALL FC_Inicializa(const char *Porta);

/* Ends the facade's session: 0, or -14 when there is none. */
TARVO_API int TARVO_CALL FC_Finaliza(void);

#ifdef __cplusplus
}
#endif

#endif /* TARVO_H */
