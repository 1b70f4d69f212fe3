#include "support/fresh_state.h"

#include <cstring>
#include <initializer_list>

#include "driver/driver_state.h"
#include "facade/fc_state.h"
#include "trace/trace.h"

namespace tarvo::test {

void FreshState() {
  DriverState& d = driverState;
  d.port.Close();
  d.fArq = -1;
  d.portName[0] = '\0';
  d.lineRate = 0;
  d.Timeout = 0;
  d.savedTimeout = 0;
  d.cmdBusy = 0;
  d.cmdId = 0;
  d.lastSeed = -1;
  d.closePending = 0;
  d.abandoned = 0;
  d.bRetrans = 0;
  d.CodigoUltimoErro = 0;
  d.txLength = 0;
  d.rxCount = 0;
  d.ctsReady = 1;
  for (char* text :
       {d.paramText, d.idText, d.lastIdText, d.lastCommand, d.lastParams, d.bufTx, d.bufRx,
        d.respCopy, d.errCodeText, d.respFields, d.nomeErro, d.circunstancia}) {
    text[0] = '\0';
  }
  traceState = TraceState{};
  fcState = FcState{};
}

}  // namespace tarvo::test
