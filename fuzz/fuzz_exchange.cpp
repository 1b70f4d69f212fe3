// A whole ExecutaComando and a whole FC_Operacao on the simulated line,
// whose printer sends the fuzzer's bytes: noise, frames, overlong frames,
// with fuzzer-chosen silences (which start the BREAK recovery and the
// re-opening of the port) and CTS drops.
//
// Input: a flags byte (bits 0-1: the calls made; bits 2-3: the command;
// bit 4: CTS was lost before, so the 20-second hold runs; bit 5: verbose
// tracing to a file; bit 6: FC_Inicializa instead, which identifies the
// printer from its answers and names trace files after it; bit 7 with bit
// 6: the port scan), a time-out byte, a byte choosing the requested value
// names, then the printer's script: one segment per request written, each a
// list of steps (low 2 bits of the step byte: 0 bytes, 1 a silence, 2 a CTS
// drop, 3 the end of the segment). A byte 0x01 among the printer's bytes
// stands for the id of the request it answers.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/text.h"
#include "driver/driver_state.h"
#include "facade/fc_state.h"
#include "fuzz_support.h"
#include "serial/sim/sim_line.h"
#include "tarvo.h"
#include "trace/trace.h"

using namespace tarvo;
using tarvo::fuzz::Input;

namespace {

const char* const kCommands[] = {"LeImpressao", "LeTexto", "VendeItem", "LeDataHora"};
const char* const kReturnNames[] = {"TextoImpressao", "ValorTexto ValorInteiro", "Data Hora", "",
                                    "ValorTexto  Hora "};
const char* const kCircumstances[] = {"Sem sinal de CTS", "Erro de Transmissao", "Erro de Recepcao",
                                      "Erro de Secao ou CRC"};

Input* script = nullptr;
// The printer's bytes per input: enough to overflow bufRx, and bounded so
// that an input stays fast (with tracing on, every discarded byte opens the
// log file once).
size_t byteBudget = 0;

// Schedules the printer's next segment, relative to the request just
// written.
void OnWrite(void*, const char* data, size_t length) {
  const std::string id = std::to_string(ReadDecimal(data + 1, length - 1));
  uint64_t cursor = 0;
  int steps = 0;
  while (!script->Empty() && steps++ < 32) {
    const uint8_t step = script->Byte();
    if ((step & 3) == 3) break;
    if ((step & 3) == 1) {
      cursor += script->Byte() * 50u;
    } else if ((step & 3) == 2) {
      const uint64_t now = sim::NowMs();
      sim::SetCtsAt(now + cursor, false);
      sim::SetCtsAt(now + cursor + script->Byte() * 100u + 1, true);
    } else {
      char chunk[256];
      const size_t n = script->Text(chunk, sizeof chunk, 255);
      // Bit 2: the chunk repeated, for answers longer than bufRx.
      const size_t times = (step & 4) ? 1 + script->Byte() * 4u : 1;
      std::string bytes;
      for (size_t i = 0; i < n; ++i) {
        if (chunk[i] == '\x01')
          bytes += id;
        else
          bytes += chunk[i];
      }
      for (size_t t = 0; t < times && bytes.size() <= byteBudget; ++t) {
        sim::SendBytesAfter(cursor, bytes.data(), bytes.size());
        byteBudget -= bytes.size();
      }
    }
  }
}

size_t Writes() { return sim::CountEvents(sim::Kind::Write); }

// What every failed exchange leaves.
void CheckFailure() {
  const DriverState& d = driverState;
  FUZZ_CHECK(d.CodigoUltimoErro == TARVO_PROTOCOL_FAILURE);
  FUZZ_CHECK(std::strcmp(d.errCodeText, "11010") == 0);
  FUZZ_CHECK(std::strcmp(d.nomeErro, "ErroProtTimeout") == 0);
  bool known = false;
  for (const char* c : kCircumstances) known = known || std::strcmp(d.circunstancia, c) == 0;
  FUZZ_CHECK(known);
  FUZZ_CHECK(d.respFields[0] == '\0');
}

void RunCommand(const char* command) {
  DriverState& d = driverState;
  const int timeout = d.Timeout;
  const size_t writesBefore = Writes();
  const int r = ExecutaComando(1, command);
  FUZZ_CHECK(r == 1 || r == TARVO_EXCHANGE_FAILED);
  FUZZ_CHECK(d.Timeout == timeout);
  FUZZ_CHECK(Writes() - writesBefore <= 1);
  if (r == TARVO_EXCHANGE_FAILED) {
    CheckFailure();
    FUZZ_CHECK(ObtemCodErro(1) == TARVO_PROTOCOL_FAILURE);
  } else {
    FUZZ_CHECK(std::strlen(d.errCodeText) <= 9);
    FUZZ_CHECK(ObtemCodErro(1) == ReadDecimal(d.errCodeText));
    char value[TARVO_VALUE_SIZE];
    const int n = Retorno(1, 0, "TextoImpressao", 0, value, 0);
    FUZZ_CHECK(n == d.CodigoUltimoErro || d.CodigoUltimoErro == 0);
    FUZZ_CHECK(n >= 0 || d.CodigoUltimoErro < 0);
  }
}

void RunOperation(const char* command, int timeoutMs, const char* returnNames) {
  DriverState& d = driverState;
  FcCommand* cmd = static_cast<FcCommand*>(std::calloc(1, sizeof(FcCommand)));
  CopyText(cmd->command, command);
  CopyText(cmd->returnNames, returnNames);
  cmd->timeoutMs = timeoutMs;
  CopyText(cmd->params[0].name, "NomeTexto");
  CopyText(cmd->params[0].value, "NumeroSerieECF");
  cmd->params[0].type = 7;
  // Exactly the room the header asks the host to give.
  char* outText = static_cast<char*>(std::malloc(TARVO_FC_TEXT_SIZE));
  int outLen = -7;
  const size_t writesBefore = Writes();
  const int r = FC_Operacao(1, cmd, &outLen, outText);
  const size_t sent = Writes() - writesBefore;

  FUZZ_CHECK(d.Timeout == 5000);
  FUZZ_CHECK(cmd->command[0] == '\0' && cmd->returnNames[0] == '\0' && cmd->timeoutMs == 0);
  // Sent at most three times; the commands that must never be repeated
  // once. (Nothing is sent when CTS is missing.)
  FUZZ_CHECK(sent <= 3);
  if (std::strcmp(command, "VendeItem") == 0) FUZZ_CHECK(sent <= 1);
  if (r == 0) {
    FUZZ_CHECK(outLen >= 0 && outLen < TARVO_FC_TEXT_SIZE);
    FUZZ_CHECK(static_cast<size_t>(outLen) == std::strlen(outText));
    FUZZ_CHECK(outText[0] == '"' && outText[outLen - 1] == '"');
  } else if (r == TARVO_PROTOCOL_FAILURE) {
    FUZZ_CHECK(ObtemCodErro(1) == TARVO_PROTOCOL_FAILURE);
    FUZZ_CHECK(outLen == -7);
  } else if (!fuzz::IsDriverCode(r)) {
    // Otherwise the printer's own code, exactly as its answer gave it.
    FUZZ_CHECK(std::strcmp(d.errCodeText, "0") != 0);
    FUZZ_CHECK(r == ReadDecimal(d.errCodeText));
    FUZZ_CHECK(outLen == -7);
  }
  std::free(outText);
  std::free(cmd);
}

// The facade's start-up: the printer's serial and ECF numbers become file
// names, which must stay names in the current directory.
void RunStartUp(bool traced, bool scan) {
  const fuzz::InTempDir inTempDir;
  if (traced) {
    const int fd = open("TARVO.cfg", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    FUZZ_CHECK(fd >= 0);
    const char config[] = "Trace=1\nTamanho=100000";
    FUZZ_CHECK(write(fd, config, sizeof config - 1) == static_cast<ssize_t>(sizeof config - 1));
    close(fd);
  }
  const int r = FC_Inicializa(scan ? "COMu" : "COM1");
  const DriverState& d = driverState;
  const FcState& f = fcState;
  FUZZ_CHECK(r == 0 || r == TARVO_BAD_CHANNEL || (r > 0 && r <= 0xFFFF));
  if (r != 0) {
    FUZZ_CHECK(d.fArq == -1);
    return;
  }
  FUZZ_CHECK(d.fArq == 1 && f.fcHandle == 1 && d.Timeout == 5000);
  const size_t baseLen = std::strlen(f.cfgBaseName);
  FUZZ_CHECK(baseLen <= 47);
  FUZZ_CHECK(std::strpbrk(f.cfgBaseName, "/\\:*?\"<>|") == nullptr);
  FUZZ_CHECK(std::strncmp(f.logBaseName, f.cfgBaseName, baseLen) == 0);
  FUZZ_CHECK(std::strcmp(f.logBaseName + baseLen, ".txt") == 0);
  FUZZ_CHECK(std::strncmp(f.cfgBaseName, "TV_", 3) == 0 ||
             std::strcmp(f.cfgBaseName, "TARVO") == 0);
  FUZZ_CHECK(FC_Finaliza() == 0 && d.fArq == -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetLibrary();
  DriverState& d = driverState;
  Input in(data, size);
  const uint8_t flags = in.Byte();
  const int timeoutMs = in.Byte() * 100;
  const char* returnNames = kReturnNames[in.Byte() % 5];
  const char* command = kCommands[(flags >> 2) & 3];
  if (flags & 64) {
    script = &in;
    byteBudget = (flags & 32) ? 6000 : 20000;
    sim::SetWriteHook(OnWrite, nullptr);
    RunStartUp((flags & 32) != 0, (flags & 128) != 0);
    fuzz::CheckStateBounds();
    sim::SetWriteHook(nullptr, nullptr);
    traceState = TraceState{};
    return 0;
  }
  std::unique_ptr<fuzz::InTempDir> inTempDir;
  if (flags & 32) {
    inTempDir = std::make_unique<fuzz::InTempDir>();
    traceState.traceLevel = 1;
    traceState.nivelLog = 1;
    traceState.maxLogSize = 100000;
    CopyText(traceState.logPath, "fuzz_exchange.txt");
    traceState.logTag = "2900";
  }
  FUZZ_CHECK(IniciaDriver("COM1") == 1);
  fcState.fcHandle = 1;
  if (flags & 16) d.ctsReady = 0;
  script = &in;
  byteBudget = (flags & 32) ? 6000 : 20000;
  sim::SetWriteHook(OnWrite, nullptr);

  switch (flags & 3) {
    case 0: RunCommand(command); break;
    case 1: RunOperation(command, timeoutMs, returnNames); break;
    case 2:
      DefineTimeout(1, timeoutMs);
      RunCommand(command);
      RunCommand("");
      break;
    default:
      RunOperation(command, timeoutMs, returnNames);
      RunOperation("LeTexto", timeoutMs, returnNames);
      break;
  }
  fuzz::CheckStateBounds();
  sim::SetWriteHook(nullptr, nullptr);
  EncerraDriver(1);
  traceState = TraceState{};
  return 0;
}
