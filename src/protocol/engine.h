// The exchange engine: one request sent, one valid answer obtained.
#pragma once

#include "protocol/exchange.h"
#include "protocol/frame.h"

namespace tarvo {

// Sends the request built from idText, command and params over x.port, then
// reads the answer one byte per read with the per-byte time-out until it
// holds a complete answer to this request. The outcome's result is 1 when
// an answer was accepted (whatever error code it carries), -1 when the
// exchange failed: then the results are code TARVO_PROTOCOL_FAILURE,
// "ErroProtTimeout" and the failure's circumstance. It is the one place
// that stores an exchange's results into x.
ExchangeOutcome RunExchange(ExchangeContext& x, const char* idText, const char* command,
                            const char* params);

// RunExchange's result alone.
int EnviaComando(ExchangeContext& x, const char* idText, const char* command, const char* params);

// What the engine stores of a decoded answer `frame`: respCopy always;
// for an accepted answer the code text and number, the named values, the
// error name and the circumstance (each text the answer does not carry
// left as it was). Exposed for the tests of decoding.
void StoreAnswer(ExchangeContext& x, const char* frame, const DecodeResult& r);

}  // namespace tarvo
