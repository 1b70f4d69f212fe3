// The driver's calls for a caller that already holds the session lock
// (driver/session_lock.h). The exports take the lock and call these; the
// facade calls these inside its own lock, never the exports.
#pragma once

#include "driver/session_lock.h"

namespace tarvo {

int IniciaDriverLocked(const char* PortaSerial);
// Ends the session. ownExchange: the caller's own claimed exchange is the
// one running (the facade's start-up), so the port is closed now; otherwise
// a running exchange belongs to another thread and closes it as it ends.
int EncerraDriverLocked(int handle, bool ownExchange);
// DefineTimeout for the caller that has claimed the exchange itself.
void DefineTimeoutClaimed(int handle, int iTimeout);
// Timeout back to 5000 ms, as after every facade operation.
void RestoreDefaultTimeout();
bool SessionOpenLocked();

int LimpaParamsLocked(int handle);
int AdicionaParamLocked(int handle, const char* Nome, const char* Valor, int Tipo);
// ExecutaComando's work for a caller that has claimed the exchange; the
// lock is let go while the printer is waited for.
int ExecuteClaimed(SessionLock& lock, int handle, const char* Comando);
int ObtemCodErroLocked(int handle);
int RetornoLocked(int handle, const char* Nome, char* Saida);

}  // namespace tarvo
