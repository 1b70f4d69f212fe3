/* A point-of-sale host as the library's users write one: it loads tarvo.dll
   with LoadLibraryA, finds every call with GetProcAddress by its
   undecorated name, and runs a sale through the facade, then one command
   through the driver calls.

   Usage: host_sale DLL PORT [SERIAL]
   SERIAL, when given, is the serial number the printer must report. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "tarvo.h"

typedef int(TARVO_CALL *IniciaDriverFn)(const char *);
typedef int(TARVO_CALL *HandleFn)(int);
typedef void(TARVO_CALL *DefineTimeoutFn)(int, int);
typedef int(TARVO_CALL *DoMessageFn)(void);
typedef int(TARVO_CALL *AdicionaParamFn)(int, const char *, const char *, int);
typedef int(TARVO_CALL *ExecutaComandoFn)(int, const char *);
typedef int(TARVO_CALL *TextFn)(int, char *, int);
typedef int(TARVO_CALL *RetornoFn)(int, int, const char *, int, char *, int);
typedef int(TARVO_CALL *FcOperacaoFn)(int, FcCommand *, int *, char *);
typedef int(TARVO_CALL *FcInicializaFn)(const char *);
typedef int(TARVO_CALL *FcFinalizaFn)(void);

static const char *const kDriverCalls[] = {
    "IniciaDriver",  "EncerraDriver",      "DefineTimeout",  "DoMessage",
    "LimpaParams",   "AdicionaParam",      "ExecutaComando", "ObtemCodErro",
    "ObtemNomeErro", "ObtemCircunstancia", "Retorno",
};

static int failures = 0;

static void Check(int ok, const char *what) {
  printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
  if (!ok) ++failures;
}

/* The generic function pointer type, from which a cast to the call's own
   type is well-formed. */
typedef void (*AnyFn)(void);

static AnyFn Find(HMODULE dll, const char *name) {
  AnyFn f = (AnyFn)GetProcAddress(dll, name);
  if (f == NULL) {
    printf("FAIL: %s is not exported\n", name);
    ++failures;
  }
  return f;
}

/* Every call under its plain name and the TARVO_ alias at the same address;
   the facade calls once. */
static void CheckExports(HMODULE dll) {
  char alias[64];
  size_t i;
  for (i = 0; i < sizeof kDriverCalls / sizeof kDriverCalls[0]; ++i) {
    AnyFn plain = Find(dll, kDriverCalls[i]);
    snprintf(alias, sizeof alias, "TARVO_%s", kDriverCalls[i]);
    AnyFn prefixed = Find(dll, alias);
    if (plain != NULL && prefixed != NULL && plain != prefixed) {
      printf("FAIL: %s and %s differ\n", kDriverCalls[i], alias);
      ++failures;
    }
  }
  Find(dll, "FC_Operacao");
  Find(dll, "FC_Inicializa");
  Find(dll, "FC_Finaliza");
  Check(GetProcAddress(dll, "_IniciaDriver@4") == NULL &&
            GetProcAddress(dll, "IniciaDriver@4") == NULL,
        "no decorated names");
}

/* The version resource carries the project's version. */
static void CheckVersion(const char *path) {
  static char info[4096];
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  VS_FIXEDFILEINFO *fixed = NULL;
  UINT length = 0;
  char version[32] = "";
  if (size > 0 && size <= sizeof info && GetFileVersionInfoA(path, 0, size, info) &&
      VerQueryValueA(info, "\\", (void **)&fixed, &length) && length >= sizeof *fixed) {
    snprintf(version, sizeof version, "%lu.%lu.%lu.%lu",
             (unsigned long)HIWORD(fixed->dwFileVersionMS),
             (unsigned long)LOWORD(fixed->dwFileVersionMS),
             (unsigned long)HIWORD(fixed->dwFileVersionLS),
             (unsigned long)LOWORD(fixed->dwFileVersionLS));
  }
  printf("      file version [%s]\n", version);
  Check(strcmp(version, TARVO_EXPECTED_VERSION) == 0, "the version resource");
}

static void AddParam(FcCommand *cmd, int index, const char *name, const char *value, int type) {
  snprintf(cmd->params[index].name, sizeof cmd->params[index].name, "%s", name);
  snprintf(cmd->params[index].value, sizeof cmd->params[index].value, "%s", value);
  cmd->params[index].type = type;
}

/* One facade operation; prints and returns the values it asked for. */
static int Operation(FcOperacaoFn op, FcCommand *cmd, int numParam, const char *command,
                     const char *returnNames, char *out) {
  int length = 0;
  int result;
  snprintf(cmd->command, sizeof cmd->command, "%s", command);
  snprintf(cmd->returnNames, sizeof cmd->returnNames, "%s", returnNames);
  out[0] = '\0';
  result = op(numParam, cmd, &length, out);
  printf("      %s -> %d [%s] (%d)\n", command, result, out, length);
  return result == 0 && length == (int)strlen(out) && (returnNames[0] == '\0' || length > 2);
}

static void Sale(HMODULE dll, const char *port) {
  FcInicializaFn start = (FcInicializaFn)Find(dll, "FC_Inicializa");
  FcOperacaoFn op = (FcOperacaoFn)Find(dll, "FC_Operacao");
  FcFinalizaFn finish = (FcFinalizaFn)Find(dll, "FC_Finaliza");
  static FcCommand cmd; /* 9060 bytes: not on the stack */
  static char out[TARVO_FC_TEXT_SIZE];
  if (start == NULL || op == NULL || finish == NULL) return;

  Check(start(port) == 0, "FC_Inicializa opens the port and identifies the printer");
  memset(&cmd, 0, sizeof cmd);
  Check(Operation(op, &cmd, 0, "AbreCupom", "COO", out), "AbreCupom");
  AddParam(&cmd, 0, "CodigoProduto", "7891000100103", 7);
  AddParam(&cmd, 1, "Descricao", "Cafe expresso", 7);
  AddParam(&cmd, 2, "Quantidade", "2", 0);
  AddParam(&cmd, 3, "PrecoUnitario", "4,50", 0);
  Check(Operation(op, &cmd, 4, "VendeItem", "TotalCupom", out), "VendeItem");
  AddParam(&cmd, 0, "MeioPagamento", "Dinheiro", 7);
  AddParam(&cmd, 1, "Valor", "20,00", 0);
  Check(Operation(op, &cmd, 2, "PagaCupom", "Troco", out), "PagaCupom");
  AddParam(&cmd, 0, "Mensagem", "Obrigado pela preferencia", 7);
  Check(Operation(op, &cmd, 1, "EncerraCupom", "COO", out), "EncerraCupom");
  Check(finish() == 0, "FC_Finaliza");
  Check(finish() == TARVO_BAD_HANDLE, "a second FC_Finaliza has no session");
}

static void DriverCalls(HMODULE dll, const char *port, const char *serial) {
  IniciaDriverFn inicia = (IniciaDriverFn)Find(dll, "TARVO_IniciaDriver");
  HandleFn encerra = (HandleFn)Find(dll, "EncerraDriver");
  DefineTimeoutFn timeout = (DefineTimeoutFn)Find(dll, "DefineTimeout");
  DoMessageFn doMessage = (DoMessageFn)Find(dll, "DoMessage");
  HandleFn limpa = (HandleFn)Find(dll, "LimpaParams");
  AdicionaParamFn adiciona = (AdicionaParamFn)Find(dll, "AdicionaParam");
  ExecutaComandoFn executa = (ExecutaComandoFn)Find(dll, "ExecutaComando");
  HandleFn codErro = (HandleFn)Find(dll, "ObtemCodErro");
  TextFn nomeErro = (TextFn)Find(dll, "ObtemNomeErro");
  RetornoFn retorno = (RetornoFn)Find(dll, "TARVO_Retorno");
  char name[TARVO_ERROR_NAME_SIZE] = "";
  char value[TARVO_VALUE_SIZE] = "";
  int handle;
  if (!inicia || !encerra || !timeout || !doMessage || !limpa || !adiciona || !executa ||
      !codErro || !nomeErro || !retorno) {
    return;
  }
  handle = inicia(port);
  Check(handle == 1, "IniciaDriver returns the session handle 1");
  timeout(handle, 8000);
  Check(doMessage() == 0, "DoMessage with no message waiting");
  Check(limpa(handle) == 0, "LimpaParams");
  Check(adiciona(handle, "NomeTexto", "NumeroSerieECF", 7) == 0, "AdicionaParam");
  Check(executa(handle, "LeTexto") == 1, "ExecutaComando LeTexto gets an answer");
  Check(codErro(handle) == 0, "ObtemCodErro is 0");
  nomeErro(handle, name, 0);
  Check(strcmp(name, "OK") == 0, "ObtemNomeErro is OK");
  Check(retorno(handle, 0, "ValorTexto", 0, value, 0) > 0, "Retorno ValorTexto");
  printf("      serial number [%s]\n", value);
  if (serial != NULL) Check(strcmp(value, serial) == 0, "the serial number is the printer's");
  Check(encerra(handle) == 0, "EncerraDriver");
  Check(encerra(handle) == TARVO_BAD_HANDLE, "a second EncerraDriver is refused");
}

int main(int argc, char **argv) {
  HMODULE dll;
  if (argc < 3) {
    fprintf(stderr, "usage: %s DLL PORT [SERIAL]\n", argv[0]);
    return 2;
  }
  dll = LoadLibraryA(argv[1]);
  if (dll == NULL) {
    printf("FAIL: LoadLibraryA(%s): error %lu\n", argv[1], GetLastError());
    return 1;
  }
  CheckExports(dll);
  CheckVersion(argv[1]);
  Sale(dll, argv[2]);
  DriverCalls(dll, argv[2], argc > 3 ? argv[3] : NULL);
  Check(FreeLibrary(dll) != 0, "FreeLibrary");
  printf("%d failures\n", failures);
  return failures == 0 ? 0 : 1;
}
