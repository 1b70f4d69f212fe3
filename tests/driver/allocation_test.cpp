// The whole life of a session allocates nothing: start-up, hundreds of
// exchanges of every kind (answers, printer errors, stale ids, noise, a
// printer woken by BREAK, a silent printer and the port re-opened, a bad
// length, CTS lost at the start and in the middle of an answer), the
// getters, Retorno, the facade, and shut-down, with tracing on.
//
// Counted here: operator new (support/alloc_counter) and, where the C
// library allows it, malloc, calloc and realloc themselves, which also
// catches an allocation inside the C library on the driver's behalf.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "serial/sim/sim_line.h"
#include "support/alloc_counter.h"
#include "support/fresh_state.h"
#include "support/temp_dir.h"
#include "tarvo.h"

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define TARVO_COUNT_MALLOC 1
#else
#define TARVO_COUNT_MALLOC 0
#endif

#if TARVO_COUNT_MALLOC
namespace {
std::atomic<long> mallocCalls{0};
}
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* malloc(size_t size) {
  ++mallocCalls;
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  ++mallocCalls;
  return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
  ++mallocCalls;
  return __libc_realloc(p, size);
}
}
#endif

namespace tarvo {
namespace {

long MallocCalls() {
#if TARVO_COUNT_MALLOC
  return mallocCalls.load();
#else
  return 0;
#endif
}

// How the simulated printer answers the next request; every kind applies
// to one request only, after which it answers normally again.
enum Kind {
  kSuccess,
  kPrinterError,
  kStaleId,
  kNoise,
  kWokenByBreak,
  kSilent,
  kBadLength,
  kCtsLost,
  kKinds
};

Kind next = kSuccess;
int requestsSeen = 0;

// "{id;code;values;length}" into out[cap]; the length field is off by
// `delta`. Fixed buffers only: the printer runs inside the counted window.
size_t Frame(char* out, size_t cap, int id, const char* code, const char* values, int delta) {
  const int head = std::snprintf(out, cap, "{%d;%s;%s", id, code, values);
  const int tail = std::snprintf(out + head, cap - static_cast<size_t>(head), ";%d}", head + delta);
  return static_cast<size_t>(head + tail);
}

void OnRequest(void*, const char* data, size_t length) {
  ++requestsSeen;
  int id = 0;
  size_t i = 1;
  for (; i < length && data[i] >= '0' && data[i] <= '9'; ++i) id = id * 10 + (data[i] - '0');
  const char* command = data + i + 1;
  const char* values = "ValorTexto=\"ABC\" Data=#01/02/2026#";
  if (std::strncmp(command, "LeTexto;", 8) == 0) values = "ValorTexto=\"SERIE42\"";
  if (std::strncmp(command, "LeInteiro;", 10) == 0) values = "ValorInteiro=7";

  static char answer[256];
  static char stale[64];
  const Kind kind = next;
  next = kSuccess;
  size_t n = Frame(answer, sizeof answer, id, "0", values, 0);
  switch (kind) {
    case kSuccess: sim::SendBytesAfter(2, answer, n); break;
    case kPrinterError:
      n = Frame(answer, sizeof answer, id, "8",
                "NomeErro=\"ErroPagamentoIncompleto\" Circunstancia=\"Falta pagar\"", 0);
      sim::SendBytesAfter(2, answer, n);
      break;
    case kStaleId: {
      const size_t s = Frame(stale, sizeof stale, id == 1 ? 255 : id - 1, "0", "", 0);
      sim::SendBytesAfter(1, stale, s);
      sim::SendBytesAfter(3, answer, n);
      break;
    }
    case kNoise:
      sim::SendBytesAfter(1, "x;}\"", 4);
      sim::SendBytesAfter(2, answer, n);
      break;
    case kWokenByBreak:
      // After the 5-second time-out, during the third BREAK attempt.
      sim::SendBytesAfter(5000 + 2 * 165 + 120, answer, n);
      break;
    case kSilent: break;
    case kBadLength:
      n = Frame(answer, sizeof answer, id, "0", values, 1);
      sim::SendBytesAfter(2, answer, n);
      break;
    case kCtsLost:
      // Gone one millisecond into the answer's wait.
      sim::SetCtsAt(sim::NowMs() + 1, false);
      sim::SendBytesAfter(2, answer, n);
      break;
    case kKinds: break;
  }
}

struct Tally {
  int calls = 0;
  int answered = 0;      // ExecutaComando gave 1
  int printerError = 0;  // ... with the printer's code 8
  int failed = 0;        // ExecutaComando gave -1 with code 11010
  int valueRead = 0;     // Retorno read the value
  int resent = 0;        // the resending afterwards was answered
};

class Allocation : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FreshState();
    sim::Reset();
    sim::SetWriteHook(&OnRequest, nullptr);
    next = kSuccess;
    requestsSeen = 0;
    // Verbose tracing for both sessions: the driver's through the test
    // trace, the facade's through its start-up and per-printer files.
    test::WriteFile("TARVO.cfg", "Trace=1\nTamanho=5000000");
    test::WriteFile("TV_SERIE42_7.cfg", "Trace=1\nTamanho=5000000");
    test::StartTrace(1);
  }
  void TearDown() override {
    sim::SetWriteHook(nullptr, nullptr);
    test::FreshState();
  }

  test::TempDir dir_;
};

// One command through the driver calls, as a host sends it, then what a
// host reads afterwards, and a resending after a failure.
void Exchange(int handle, Kind kind, Tally* t) {
  static char text[TARVO_VALUE_SIZE];
  sim::ClearRecords();  // the simulation's record of events is bounded
  next = kind;
  if (kind == kCtsLost && t->calls % 2 == 0) {
    sim::SetCts(false);  // lost before sending: the printer hears nothing
    next = kSuccess;
  }
  ++t->calls;
  LimpaParams(handle);
  AdicionaParam(handle, "NomeTexto", "NumeroSerieECF", 7);
  AdicionaParam(handle, "Data", "01/02/2026", 2);
  const int result = ExecutaComando(handle, "LeTexto");
  const int code = ObtemCodErro(handle);
  ObtemNomeErro(handle, text, sizeof text);
  ObtemCircunstancia(handle, text, sizeof text);
  const int value = Retorno(handle, 0, "ValorTexto", 0, text, 0);
  if (result == 1 && code == 0) ++t->answered;
  if (result == 1 && code == 8 && value == 8) ++t->printerError;
  if (result == -1 && code == TARVO_PROTOCOL_FAILURE) ++t->failed;
  if (value == 7 && std::strcmp(text, "SERIE42") == 0) ++t->valueRead;
  if (kind == kCtsLost) sim::SetCts(true);
  if (result == -1 && ExecutaComando(handle, "") == 1 && ObtemCodErro(handle) == 0) ++t->resent;
}

TEST_F(Allocation, AWholeSessionOfEveryKindOfExchangeAllocatesNothing) {
  constexpr int kRounds = 100;
  static Tally tally[kKinds];
  static Tally facade[3];
  static char out[TARVO_FC_TEXT_SIZE];
  static FcCommand cmd;
  int started = 0, ended = 0, facadeStarted = 0, facadeEnded = 0;

  const long newBefore = test::Allocations();
  const long mallocBefore = MallocCalls();

  const int handle = IniciaDriver("COM1");
  started = handle;
  DefineTimeout(handle, 5000);
  for (int round = 0; round < kRounds; ++round) {
    for (int k = 0; k < kKinds; ++k) Exchange(handle, static_cast<Kind>(k), &tally[k]);
  }
  ended = EncerraDriver(handle);

  facadeStarted = FC_Inicializa("COM1");
  const Kind facadeKinds[3] = {kSuccess, kPrinterError, kSilent};
  for (int round = 0; round < kRounds; ++round) {
    for (int k = 0; k < 3; ++k) {
      sim::ClearRecords();
      next = facadeKinds[k];
      std::strcpy(cmd.command, "LeTexto");
      std::strcpy(cmd.returnNames, "ValorTexto");
      cmd.timeoutMs = 5000;
      std::strcpy(cmd.params[0].name, "NomeTexto");
      std::strcpy(cmd.params[0].value, "NumeroSerieECF");
      cmd.params[0].type = 7;
      int length = 0;
      const int r = FC_Operacao(1, &cmd, &length, out);
      ++facade[k].calls;
      if (r == 0 && std::strcmp(out, "\"SERIE42\"") == 0) ++facade[k].answered;
      if (r == 8) ++facade[k].printerError;
    }
  }
  facadeEnded = FC_Finaliza();

  const long newDuring = test::Allocations() - newBefore;
  const long mallocDuring = MallocCalls() - mallocBefore;

  EXPECT_EQ(newDuring, 0);
  EXPECT_EQ(mallocDuring, 0);

  // Every kind happened as intended, so the window covered each path.
  EXPECT_EQ(started, 1);
  EXPECT_EQ(ended, 0);
  for (Kind k : {kSuccess, kStaleId, kNoise, kWokenByBreak}) {
    EXPECT_EQ(tally[k].answered, kRounds) << "kind " << k;
    EXPECT_EQ(tally[k].valueRead, kRounds) << "kind " << k;
  }
  EXPECT_EQ(tally[kPrinterError].printerError, kRounds);
  for (Kind k : {kSilent, kBadLength, kCtsLost}) {
    EXPECT_EQ(tally[k].failed, kRounds) << "kind " << k;
    EXPECT_EQ(tally[k].resent, kRounds) << "kind " << k;
  }
  EXPECT_EQ(facadeStarted, 0);
  EXPECT_EQ(facade[0].answered, kRounds);
  EXPECT_EQ(facade[1].printerError, kRounds);
  EXPECT_EQ(facade[2].answered, kRounds);  // resent by the facade after the silence
  EXPECT_EQ(facadeEnded, 0);
  EXPECT_TRUE(test::FileExists("TV_SERIE42_7.txt"));
}

// The trace switched on by TARVO_TRACE, read at every session start, for
// the driver calls and the facade alike.
TEST_F(Allocation, TracingFromTheEnvironmentAllocatesNothing) {
  static Tally tally;
  test::SetEnvironment("TARVO_TRACE", "1:envlog");  // before counting: setenv allocates
  const long newBefore = test::Allocations();
  const long mallocBefore = MallocCalls();
  for (int round = 0; round < 20; ++round) {
    const int handle = IniciaDriver("COM1");
    Exchange(handle, kSuccess, &tally);
    Exchange(handle, kSilent, &tally);
    EncerraDriver(handle);
  }
  const int facadeStarted = FC_Inicializa("COM1");
  FC_Finaliza();
  const long newDuring = test::Allocations() - newBefore;
  const long mallocDuring = MallocCalls() - mallocBefore;
  test::SetEnvironment("TARVO_TRACE", nullptr);

  EXPECT_EQ(newDuring, 0);
  EXPECT_EQ(mallocDuring, 0);
  EXPECT_EQ(tally.answered, 20);
  EXPECT_EQ(facadeStarted, 0);
  EXPECT_NE(test::ReadFile("envlog.txt").find("FC_Inicializa2900 <FIM>"), std::string::npos);
}

}  // namespace
}  // namespace tarvo
