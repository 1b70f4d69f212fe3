// The TARVO_ names of the driver calls for tests linked statically on
// Windows. There the aliases exist only in the DLL's export table (the
// module-definition file puts each at its plain call's address, which
// check_dll.py verifies); a test program that calls them directly reaches
// the plain calls through these forwarders.
#include "tarvo.h"

extern "C" {

int TARVO_CALL TARVO_IniciaDriver(const char* PortaSerial) { return IniciaDriver(PortaSerial); }
int TARVO_CALL TARVO_EncerraDriver(int Handle) { return EncerraDriver(Handle); }
void TARVO_CALL TARVO_DefineTimeout(int Handle, int iTimeout) { DefineTimeout(Handle, iTimeout); }
int TARVO_CALL TARVO_DoMessage(void) { return DoMessage(); }
int TARVO_CALL TARVO_LimpaParams(int Handle) { return LimpaParams(Handle); }
int TARVO_CALL TARVO_AdicionaParam(int Handle, const char* Nome, const char* Valor, int Tipo) {
  return AdicionaParam(Handle, Nome, Valor, Tipo);
}
int TARVO_CALL TARVO_ExecutaComando(int Handle, const char* Comando) {
  return ExecutaComando(Handle, Comando);
}
int TARVO_CALL TARVO_ObtemCodErro(int Handle) { return ObtemCodErro(Handle); }
int TARVO_CALL TARVO_ObtemNomeErro(int Handle, char* Saida, int Tamanho) {
  return ObtemNomeErro(Handle, Saida, Tamanho);
}
int TARVO_CALL TARVO_ObtemCircunstancia(int Handle, char* Saida, int Tamanho) {
  return ObtemCircunstancia(Handle, Saida, Tamanho);
}
int TARVO_CALL TARVO_Retorno(int Handle, int Reservado1, const char* Nome, int Reservado2,
                             char* Saida, int Reservado3) {
  return Retorno(Handle, Reservado1, Nome, Reservado2, Saida, Reservado3);
}

}  // extern "C"
