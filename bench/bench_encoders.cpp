// Throughput of the parameter encoders over 1 M values, in bytes of output
// per second.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "Quil.h"

namespace {

constexpr int kValues = 1 << 20;

void BM_EncodeIntBuffer(benchmark::State &state) {
  const int precision = static_cast<int>(state.range(0));
  std::vector<int> values(kValues);
  const int range = precision == 8 ? 256 : precision == 16 ? 65536 : 1 << 23;
  std::srand(1);
  for (int &v : values) v = std::rand() % range;
  std::vector<unsigned char> out(static_cast<size_t>(kValues) * 4);
  char msg[QWCGM_MSG_SIZE];
  int ok = 0;
  for (auto _ : state) {
    int n = EncodeIntBuffer(out.data(), values.data(), kValues, precision, &ok, msg);
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  if (!ok) state.SkipWithError(msg);
  state.SetBytesProcessed(state.iterations() * int64_t{kValues} * (precision / 8));
}
BENCHMARK(BM_EncodeIntBuffer)->Arg(8)->Arg(16)->Arg(24)->Arg(32);

void BM_EncodeRealBuffer(benchmark::State &state) {
  const int code = static_cast<int>(state.range(0));
  std::vector<double> values(kValues);
  std::srand(2);
  for (double &v : values) v = (std::rand() % 2000000) / 100.0 - 10000.0;
  std::vector<unsigned char> out(static_cast<size_t>(kValues) * 8);
  char msg[QWCGM_MSG_SIZE];
  int ok = 0;
  for (auto _ : state) {
    int n = EncodeRealBuffer(out.data(), values.data(), kValues, code, &ok, msg);
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  if (!ok) state.SkipWithError(msg);
  const int bytes = (code == 2 || code == 4) ? 8 : 4;
  state.SetBytesProcessed(state.iterations() * int64_t{kValues} * bytes);
}
BENCHMARK(BM_EncodeRealBuffer)->Arg(1)->Arg(2)->Arg(3)->Arg(4);

}  // namespace
