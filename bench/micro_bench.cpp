// Micro-benchmarks of the pure parts of an exchange: building the request,
// the framing rule applied to each received byte, decoding the answer, and
// reading a named value (LookupValue, and Retorno around it), on a typical
// short answer and on answers of about 4 KB; and one trace line.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "driver/driver_state.h"
#include "driver/value_lookup.h"
#include "protocol/engine.h"
#include "protocol/frame.h"
#include "tarvo.h"
#include "trace/trace.h"

namespace {

using tarvo::driverState;

// "{id;code;values;length}": the length counts every character before the
// last ';', the '{' included.
std::string Answer(int id, const std::string& code, const std::string& values) {
  std::string frame = "{";
  frame.append(std::to_string(id)).append(";").append(code).append(";").append(values);
  const std::string length = std::to_string(frame.size());
  return frame.append(";").append(length).append("}");
}

const char kShortValues[] = "ValorTexto=\"EMU0000001\"";

// A LeImpressao answer of about 4 KB: a print text with escaped quotes and
// semicolons, as the printer sends it.
std::string PrintText() {
  std::string text;
  for (int line = 0; text.size() < 3900; ++line) {
    char row[64];
    std::snprintf(row, sizeof row, "%03d ITEM \\\"CAFE\\\" 1 UN x 4,50\\; TOTAL 4,50\n", line);
    text += row;
  }
  return "TextoImpressao=\"" + text + "\"";
}

// About 4 KB of named values of every form; the one looked up comes last.
std::string ManyValues() {
  std::string values;
  for (int i = 0; values.size() < 3900; ++i) {
    char item[96];
    std::snprintf(item, sizeof item, "Texto%03d=\"VALOR DE TEXTO %03d\" Data%03d=#01/02/2026# ", i,
                  i, i);
    values += item;
  }
  return values + "ValorMoeda=12,50";
}

// ---- BuildRequest --------------------------------------------------------------

void BM_BuildRequest_LeTexto(benchmark::State& state) {
  for (auto _ : state) {
    tarvo::BuildRequest(driverState.bufTx, sizeof driverState.bufTx, "123", "LeTexto",
                        "NomeTexto=\"NumeroSerieECF\"");
    benchmark::DoNotOptimize(driverState.bufTx);
  }
}
BENCHMARK(BM_BuildRequest_LeTexto);

void BM_BuildRequest_LongParams(benchmark::State& state) {
  std::string params = "Descricao=\"" + std::string(440, 'X') +
                       "\" PrecoUnitario=4,50 Quantidade=2 CodigoProduto=\"7891234567890\"";
  params.resize(511);
  for (auto _ : state) {
    tarvo::BuildRequest(driverState.bufTx, sizeof driverState.bufTx, "123", "VendeItem",
                        params.c_str());
    benchmark::DoNotOptimize(driverState.bufTx);
  }
}
BENCHMARK(BM_BuildRequest_LongParams);

// ---- The framing rule, per byte --------------------------------------------------

// As the engine uses it: each byte lands at frame[count], then Take decides.
void Framing(benchmark::State& state, const std::string& frame, bool followQuotes) {
  static char buffer[4096];
  for (auto _ : state) {
    tarvo::FrameReceiver receiver;
    receiver.Begin(followQuotes);
    int count = 0;
    for (char c : frame) {
      buffer[count] = c;
      benchmark::DoNotOptimize(receiver.Take(buffer, &count));
    }
    benchmark::DoNotOptimize(count);
  }
  state.counters["bytes"] = static_cast<double>(frame.size());
  state.counters["per_byte"] = benchmark::Counter(
      static_cast<double>(frame.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_FramingPerByte_LeTexto(benchmark::State& state) {
  Framing(state, Answer(123, "0", kShortValues), false);
}
BENCHMARK(BM_FramingPerByte_LeTexto);

void BM_FramingPerByte_LeImpressao4K(benchmark::State& state) {
  Framing(state, Answer(123, "0", PrintText()), true);
}
BENCHMARK(BM_FramingPerByte_LeImpressao4K);

// ---- DecodeResponse ------------------------------------------------------------

// Decoding and storing the result, as the engine does with every answer.
void Decode(benchmark::State& state, const std::string& frame, int id) {
  for (auto _ : state) {
    const tarvo::DecodeResult r = tarvo::DecodeResponse(frame.data(), frame.size(), id);
    tarvo::StoreAnswer(driverState, frame.data(), r);
    benchmark::DoNotOptimize(r);
  }
  state.counters["bytes"] = static_cast<double>(frame.size());
}

void BM_DecodeResponse_LeTexto(benchmark::State& state) {
  Decode(state, Answer(123, "0", kShortValues), 123);
}
BENCHMARK(BM_DecodeResponse_LeTexto);

void BM_DecodeResponse_PrinterError(benchmark::State& state) {
  Decode(
      state,
      Answer(123, "8", "NomeErro=\"ErroPagamentoIncompleto\" Circunstancia=\"Falta pagar 4,50\""),
      123);
}
BENCHMARK(BM_DecodeResponse_PrinterError);

void BM_DecodeResponse_LeImpressao4K(benchmark::State& state) {
  Decode(state, Answer(123, "0", PrintText()), 123);
}
BENCHMARK(BM_DecodeResponse_LeImpressao4K);

void BM_DecodeResponse_Values4K(benchmark::State& state) {
  Decode(state, Answer(123, "0", ManyValues()), 123);
}
BENCHMARK(BM_DecodeResponse_Values4K);

// ---- Reading a value -----------------------------------------------------------

void Lookup(benchmark::State& state, const std::string& values, const char* name) {
  static char out[TARVO_VALUE_SIZE];
  int stored = 0;
  for (auto _ : state) {
    stored = tarvo::LookupValue(values.data(), values.size(), name, out, sizeof out);
    benchmark::DoNotOptimize(out);
  }
  if (stored <= 0) state.SkipWithError("value not found");
}

void BM_LookupValue_LeTexto(benchmark::State& state) { Lookup(state, kShortValues, "ValorTexto"); }
BENCHMARK(BM_LookupValue_LeTexto);

void BM_LookupValue_LastOf4K(benchmark::State& state) { Lookup(state, ManyValues(), "ValorMoeda"); }
BENCHMARK(BM_LookupValue_LastOf4K);

void BM_LookupValue_PrintText4K(benchmark::State& state) {
  Lookup(state, PrintText(), "TextoImpressao");
}
BENCHMARK(BM_LookupValue_PrintText4K);

// Retorno as a host calls it, on the answer DecodeResponse stored.
void RetornoOn(benchmark::State& state, const std::string& values, const char* name) {
  const std::string frame = Answer(123, "0", values);
  tarvo::StoreAnswer(driverState, frame.data(),
                     tarvo::DecodeResponse(frame.data(), frame.size(), 123));
  driverState.fArq = 1;
  static char out[TARVO_VALUE_SIZE];
  int stored = 0;
  for (auto _ : state) {
    stored = Retorno(1, 0, name, 0, out, 0);
    benchmark::DoNotOptimize(out);
  }
  if (stored <= 0) state.SkipWithError("value not found");
}

void BM_Retorno_LeTexto(benchmark::State& state) { RetornoOn(state, kShortValues, "ValorTexto"); }
BENCHMARK(BM_Retorno_LeTexto);

void BM_Retorno_LastOf4K(benchmark::State& state) { RetornoOn(state, ManyValues(), "ValorMoeda"); }
BENCHMARK(BM_Retorno_LastOf4K);

void BM_Retorno_PrintText4K(benchmark::State& state) {
  RetornoOn(state, PrintText(), "TextoImpressao");
}
BENCHMARK(BM_Retorno_PrintText4K);

// ---- A trace line -----------------------------------------------------------------

// The line FC_Operacao writes at every level: the log file is opened,
// positioned, written and closed for each line, in a temporary directory.
void BM_LogLine_Level2(benchmark::State& state) {
  char dir[] = "/tmp/tarvo-micro-XXXXXX";
  char previous[4096];
  if (mkdtemp(dir) == nullptr || getcwd(previous, sizeof previous) == nullptr || chdir(dir) != 0) {
    state.SkipWithError("no temporary directory");
    return;
  }
  tarvo::traceState = tarvo::TraceState{};
  tarvo::traceState.traceLevel = 2;
  tarvo::traceState.logTag = "2900";
  std::strcpy(tarvo::traceState.logPath, "bench.txt");
  for (auto _ : state) {
    tarvo::LogLine("FC_Operacao%s numParam=%d Cmd=%s\n", tarvo::LogTag(), 1, "LeTexto");
  }
  tarvo::traceState = tarvo::TraceState{};
  unlink("bench.txt");
  if (chdir(previous) == 0) rmdir(dir);
}
BENCHMARK(BM_LogLine_Level2);

void BM_LogLine_Off(benchmark::State& state) {
  tarvo::traceState = tarvo::TraceState{};
  for (auto _ : state) {
    tarvo::LogLine("FC_Operacao%s numParam=%d Cmd=%s\n", tarvo::LogTag(), 1, "LeTexto");
  }
}
BENCHMARK(BM_LogLine_Off);

}  // namespace

BENCHMARK_MAIN();
