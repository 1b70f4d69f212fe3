// The exchange engine: one request sent, one valid answer obtained.
#pragma once

namespace tarvo {

// Sends the request built from idText, command and params, then reads the
// answer one byte per read with the per-byte time-out until it holds a
// complete answer to this request. 1 when an answer was accepted (whatever
// error code it carries), -1 when the exchange failed: then the results are
// code 11010, "ErroProtTimeout" and the failure's circumstance.
int EnviaComando(const char* idText, const char* command, const char* params);

}  // namespace tarvo
