// Arbitrary sequences of the driver's calls (LimpaParams, AdicionaParam,
// ExecutaComando, the getters, Retorno, DefineTimeout, EncerraDriver and
// IniciaDriver) with arbitrary handles, names and values, on the simulated
// line with a printer that answers, refuses, stays silent or first sends a
// stale answer. A model of the staged text, the frame ids and the memory of
// the last command predicts every request frame the driver writes.
//
// Input: a sequence of operations, each an operation byte (low 3 bits: the
// call; bits 3-4: the printer's behaviour; bits 5-7: a wrong handle) and
// its arguments.
#include <cstring>
#include <string>

#include "common/text.h"
#include "driver/driver_state.h"
#include "fuzz_support.h"
#include "serial/sim/sim_line.h"
#include "serial/system.h"
#include "tarvo.h"

using namespace tarvo;
using tarvo::fuzz::Input;

namespace {

enum class Printer { Answers, Refuses, Silent, Stale };

struct Model {
  int fArq = -1;
  int cmdId = 0;
  int lastSeed = -1;
  int timeout = 0;
  std::string params;
  std::string lastId;
  std::string lastCommand;
  std::string lastParams;
};

Printer printer = Printer::Answers;
std::string lastCommandSent;

// The command name as the printer echoes it: without the characters that
// would end its answer or its quoted text early.
std::string Echo(const std::string& name) {
  std::string echo = name;
  for (char& c : echo) {
    if (c == '}' || c == '"') c = '_';
  }
  return echo;
}

std::string Frame(const std::string& body) {
  return body + ";" + std::to_string(body.size()) + "}";
}

// The printer: answers the request it has just been written.
void OnWrite(void*, const char* data, size_t length) {
  const std::string request(data, length);
  const int id = ReadDecimal(request.c_str() + 1);
  const std::string idText = std::to_string(id);
  std::string answer;
  switch (printer) {
    case Printer::Silent: return;
    case Printer::Stale:
      answer = Frame("{" + std::to_string(id % 255 + 1) + ";0;Eco=\"velho\"");
      [[fallthrough]];
    case Printer::Answers:
      answer += Frame("{" + idText + ";0;Id=" + idText + " Eco=\"" + Echo(lastCommandSent) + "\"");
      break;
    case Printer::Refuses:
      answer = Frame("{" + idText + ";8;NomeErro=\"ErroExemplo\" Circunstancia=\"Recusado\"");
      break;
  }
  sim::SendBytesAfter(1, answer.data(), answer.size());
}

size_t written = 0;

// The bytes written to the line since the last call.
std::string NewlyWritten() {
  size_t length = 0;
  const char* bytes = sim::WrittenBytes(&length);
  std::string fresh(bytes + written, length - written);
  written = length;
  return fresh;
}

const char* Mark(int type) {
  if (type == 2 || type == 3) return "#";
  if (type == 7) return "\"";
  return "";
}

void Execute(Model* m, int handle, const char* command) {
  DriverState& d = driverState;
  const int timeoutBefore = d.Timeout;
  const bool mine = handle == m->fArq;
  const bool tooLong = std::strlen(command) > TARVO_MAX_COMMAND;
  std::string id, name, params;
  if (mine && !tooLong && command[0] != '\0') {
    m->cmdId = m->cmdId < 255 ? m->cmdId + 1 : 1;
    id = std::to_string(m->cmdId);
    m->lastId = id;
    m->lastCommand = command;
    m->lastParams = m->params;
    name = command;
    params = m->params;
  } else if (mine && !tooLong) {
    m->cmdId = ReadDecimal(m->lastId.c_str());
    id = std::to_string(m->cmdId);
    name = m->lastCommand;
    params = m->lastParams;
  }
  lastCommandSent = name;
  const int result = ExecutaComando(handle, command);
  const std::string frame = NewlyWritten();
  if (!mine) {
    FUZZ_CHECK(result == TARVO_BAD_HANDLE && frame.empty());
    return;
  }
  if (tooLong) {
    FUZZ_CHECK(result == TARVO_TOO_LONG && frame.empty());
    return;
  }
  m->params.clear();
  FUZZ_CHECK(d.paramText[0] == '\0');
  FUZZ_CHECK(d.Timeout == timeoutBefore);
  if (m->fArq == -1) {
    // No session: the closed port has no CTS, nothing is sent.
    FUZZ_CHECK(result == TARVO_EXCHANGE_FAILED && frame.empty());
    FUZZ_CHECK(ObtemCodErro(handle) == TARVO_PROTOCOL_FAILURE);
    return;
  }
  FUZZ_CHECK(frame == Frame("{" + id + ";" + name + ";" + params));
  switch (printer) {
    case Printer::Silent: {
      FUZZ_CHECK(result == TARVO_EXCHANGE_FAILED);
      FUZZ_CHECK(ObtemCodErro(handle) == TARVO_PROTOCOL_FAILURE);
      char circumstance[TARVO_CIRCUMSTANCE_SIZE];
      ObtemCircunstancia(handle, circumstance, 0);
      FUZZ_CHECK(std::strcmp(circumstance, "Erro de Recepcao") == 0);
      break;
    }
    case Printer::Refuses: {
      FUZZ_CHECK(result == 1 && ObtemCodErro(handle) == 8);
      char value[TARVO_VALUE_SIZE];
      FUZZ_CHECK(Retorno(handle, 0, "Eco", 0, value, 0) == 8 && value[0] == '\0');
      break;
    }
    case Printer::Answers:
    case Printer::Stale: {
      FUZZ_CHECK(result == 1 && ObtemCodErro(handle) == 0);
      char value[TARVO_VALUE_SIZE];
      const int n = Retorno(handle, 0, "Eco", 0, value, 0);
      FUZZ_CHECK(n == static_cast<int>(name.size()) && Echo(name) == value);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetLibrary();
  DriverState& d = driverState;
  sim::SetWriteHook(OnWrite, nullptr);
  written = 0;
  Model m;
  FUZZ_CHECK(IniciaDriver("COM1") == 1);
  m.fArq = 1;
  m.cmdId = d.cmdId;
  m.lastSeed = d.lastSeed;
  m.timeout = 5000;

  Input in(data, size);
  int ops = 0;
  while (!in.Empty() && ops++ < 64) {
    const uint8_t op = in.Byte();
    printer = static_cast<Printer>((op >> 3) & 3);
    const int handle = (op & 0xE0) == 0xE0 ? static_cast<int8_t>(in.Byte()) : m.fArq == -1 ? -1 : 1;
    const bool mine = handle == m.fArq;
    switch (op & 7) {
      case 0: {
        FUZZ_CHECK(LimpaParams(handle) == (mine ? 0 : TARVO_BAD_HANDLE));
        if (mine) m.params.clear();
        break;
      }
      case 1: {
        static char name[700];
        static char value[700];
        in.Text(name, sizeof name, 255);
        const size_t extra = in.Byte();
        in.Text(value, sizeof value, 255);
        // Long values without spending the input on them.
        const size_t valueLen = std::strlen(value);
        for (size_t i = 0; i < extra * 2 && valueLen + i + 1 < sizeof value; ++i) {
          value[valueLen + i] = 'v';
          value[valueLen + i + 1] = '\0';
        }
        const int type = static_cast<int8_t>(in.Byte());
        const int r = AdicionaParam(handle, name, value, type);
        if (!mine) {
          FUZZ_CHECK(r == TARVO_BAD_HANDLE);
          break;
        }
        std::string item = (m.params.empty() ? "" : " ") + std::string(name) + "=" + Mark(type) +
                           value + Mark(type);
        if (m.params.size() + item.size() > TARVO_MAX_PARAMS) {
          FUZZ_CHECK(r == TARVO_TOO_LONG);
        } else {
          FUZZ_CHECK(r == 0);
          m.params += item;
        }
        break;
      }
      case 2: {
        char command[80];
        in.Text(command, sizeof command, 70);
        Execute(&m, handle, command);
        break;
      }
      case 3: {
        char name[TARVO_ERROR_NAME_SIZE];
        char circumstance[TARVO_CIRCUMSTANCE_SIZE];
        std::memset(name, 'n', sizeof name);
        std::memset(circumstance, 'c', sizeof circumstance);
        FUZZ_CHECK(ObtemNomeErro(handle, name, 0) == 0);
        FUZZ_CHECK(ObtemCircunstancia(handle, circumstance, 0) == 0);
        if (mine) {
          FUZZ_CHECK(std::memchr(name, 0, sizeof name) &&
                     std::memchr(circumstance, 0, sizeof circumstance));
        } else {
          FUZZ_CHECK(name[0] == 'n' && circumstance[0] == 'c');
        }
        const int code = ObtemCodErro(handle);
        FUZZ_CHECK(mine ? code >= 0 : code == TARVO_BAD_HANDLE);
        break;
      }
      case 4: {
        char name[64];
        in.Text(name, sizeof name, 63);
        char value[TARVO_VALUE_SIZE];
        const int r = Retorno(handle, 0, name, 0, value, 0);
        if (!mine)
          FUZZ_CHECK(r == TARVO_BAD_HANDLE);
        else
          FUZZ_CHECK(r >= 0 && std::memchr(value, 0, sizeof value) != nullptr);
        break;
      }
      case 5: {
        const int t = static_cast<int16_t>(in.Word()) * 4;
        DefineTimeout(handle, t);
        if (mine) m.timeout = t < 5000 ? 5000 : t;
        FUZZ_CHECK(d.Timeout == m.timeout || !mine);
        break;
      }
      case 6: {
        FUZZ_CHECK(AdicionaParam(handle, nullptr, "v", 0) ==
                   (mine ? TARVO_NULL_ARGUMENT : TARVO_BAD_HANDLE));
        FUZZ_CHECK(ExecutaComando(handle, nullptr) ==
                   (mine ? TARVO_NULL_ARGUMENT : TARVO_BAD_HANDLE));
        break;
      }
      case 7: {
        const int r = EncerraDriver(handle);
        FUZZ_CHECK(r == (mine ? 0 : TARVO_BAD_HANDLE));
        if (mine) m.fArq = -1;
        const int opened = IniciaDriver("COM1");
        // The seed repeats neither the previous session's nor, as first
        // id, the last id sent (the simulated line's seed source is its
        // calendar time).
        m.cmdId = static_cast<int>(sys::SessionSeedSource() % 255);
        while (m.cmdId == m.lastSeed || m.cmdId + 1 == ReadDecimal(m.lastId.c_str())) {
          m.cmdId = (m.cmdId + 1) % 255;
        }
        m.lastSeed = m.cmdId;
        if (m.fArq == -1) {
          FUZZ_CHECK(opened == 1);
          m.fArq = 1;
          m.timeout = 5000;
        } else {
          FUZZ_CHECK(opened == TARVO_BAD_CHANNEL);
        }
        break;
      }
    }
    FUZZ_CHECK(std::string(d.paramText) == m.params);
    FUZZ_CHECK(d.cmdId == m.cmdId);
    fuzz::CheckStateBounds();
  }
  sim::SetWriteHook(nullptr, nullptr);
  EncerraDriver(m.fArq);
  return 0;
}
