// Throughput of POLYLINE into a real file, in points per second: 100,000
// points per element at 16-bit integer VDC, and at real VDC with precision
// code 3 (32-bit fixed point) 64,000 points, the most whose 8 bytes each fit
// the 512000-byte work buffer.  EncodeVdc alone, over the same points, is
// measured too, to tell encoding from framing and output.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Quil.h"

namespace {

struct Setup {
  int vdcType;
  int points;
  const char *label;
};

const Setup kSetups[] = {{0, 100000, "16-bit integer VDC, 100000 points"},
                         {1, 64000, "real VDC code 3, 64000 points"}};

std::vector<qVDC> MakePoints(int n) {
  std::vector<qVDC> points(2 * static_cast<size_t>(n));
  std::srand(1);
  for (qVDC &v : points) {
    v.Int = std::rand() % 65536 - 32768;
    v.Double = (std::rand() % 2000000 - 1000000) / 1000.0;
  }
  return points;
}

void BM_Polyline(benchmark::State &state) {
  const Setup &setup = kSetups[state.range(0)];
  state.SetLabel(setup.label);
  const std::vector<qVDC> points = MakePoints(setup.points);

  char path[] = "/tmp/bench_polyline_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    state.SkipWithError("cannot create a temporary file");
    return;
  }
  close(fd);
  static qWCGM_DATA data;  // large: keep it off the stack
  char msg[QWCGM_MSG_SIZE];
  if (!qCgmInit(path, &data, msg)) {
    state.SkipWithError(msg);
    return;
  }
  data.Cgm.MetafileDescriptor.VdcType = setup.vdcType;
  data.Cgm.Control.VdcIntegerPrecision = 16;
  data.Cgm.Control.VdcRealPrecision = 3;

  for (auto _ : state) {
    if (!qPolyline(points.data(), setup.points, &data, msg)) {
      state.SkipWithError(msg);
      break;
    }
    // Start the file over each time, so it stays one element long; the
    // seek also hands the stream's buffered bytes to the file.
    std::fseek(data.Outfile, 0, SEEK_SET);
  }
  state.SetItemsProcessed(state.iterations() * int64_t{setup.points});
  qCgmEnd(&data, msg);
  std::remove(path);
}
BENCHMARK(BM_Polyline)->DenseRange(0, 1)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_EncodeVdcOnly(benchmark::State &state) {
  const Setup &setup = kSetups[state.range(0)];
  state.SetLabel(setup.label);
  const std::vector<qVDC> points = MakePoints(setup.points);
  std::vector<unsigned char> out(QWCGM_WORK_BUFFER_SIZE);
  char msg[QWCGM_MSG_SIZE];
  int ok = 0;
  for (auto _ : state) {
    int n = EncodeVdc(points.data(), 2 * setup.points, out.data(), setup.vdcType, 16, 3, &ok, msg);
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  if (!ok) state.SkipWithError(msg);
  state.SetItemsProcessed(state.iterations() * int64_t{setup.points});
}
BENCHMARK(BM_EncodeVdcOnly)->DenseRange(0, 1)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
