/* A host linked against tarvo.dll's import library through tarvo.h: it
   builds only if every call of the header resolves to the DLL, under its
   plain and its TARVO_ name. Run, it makes the calls that need no printer. */
#include <stdio.h>

#include "tarvo.h"

int main(void) {
  char text[TARVO_CIRCUMSTANCE_SIZE] = "";
  FcCommand cmd = {0};
  int length = 0;
  int failures = 0;
  /* No session is open: every handle but -1 is refused. */
  failures += EncerraDriver(7) != TARVO_BAD_HANDLE;
  failures += TARVO_EncerraDriver(7) != TARVO_BAD_HANDLE;
  DefineTimeout(7, 6000);
  TARVO_DefineTimeout(7, 6000);
  failures += DoMessage() != 0;
  failures += TARVO_DoMessage() != 0;
  failures += LimpaParams(7) != TARVO_BAD_HANDLE;
  failures += TARVO_LimpaParams(7) != TARVO_BAD_HANDLE;
  failures += AdicionaParam(7, "A", "1", 0) != TARVO_BAD_HANDLE;
  failures += TARVO_AdicionaParam(7, "A", "1", 0) != TARVO_BAD_HANDLE;
  failures += ExecutaComando(7, "LeTexto") != TARVO_BAD_HANDLE;
  failures += TARVO_ExecutaComando(7, "LeTexto") != TARVO_BAD_HANDLE;
  failures += ObtemCodErro(7) != TARVO_BAD_HANDLE;
  failures += TARVO_ObtemCodErro(7) != TARVO_BAD_HANDLE;
  ObtemNomeErro(7, text, 0);
  TARVO_ObtemNomeErro(7, text, 0);
  ObtemCircunstancia(7, text, 0);
  TARVO_ObtemCircunstancia(7, text, 0);
  failures += Retorno(7, 0, "Valor", 0, text, 0) != TARVO_BAD_HANDLE;
  failures += TARVO_Retorno(7, 0, "Valor", 0, text, 0) != TARVO_BAD_HANDLE;
  failures += FC_Operacao(0, &cmd, &length, text) != TARVO_BAD_HANDLE;
  failures += FC_Finaliza() != TARVO_BAD_HANDLE;
  failures += IniciaDriver("COM9") != TARVO_BAD_CHANNEL;
  failures += TARVO_IniciaDriver("COM9") != TARVO_BAD_CHANNEL;
  if (0) failures += FC_Inicializa("COM1"); /* referenced, not run: it would touch a port */
  printf("%d unexpected results\n", failures);
  return failures == 0 ? 0 : 1;
}
