// CELL ARRAY throughput as the converter uses it (packed 8-bit direct colour
// strips of 1706 x 100 cells written to a real file), and the 24-bit row
// compressor on a photographic and on a flat row.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "Quil.h"

namespace {

const int kWidth = 1706;  // the widest strip that fits the work buffer
const int kRows = 100;

std::string TempFile() {
  char path[] = "/tmp/bench_cellarray_XXXXXX";
  int fd = mkstemp(path);
  if (fd >= 0) close(fd);
  return path;
}

// Channel values of a noisy photograph-like image: a smooth gradient with
// noise, 8 bits per component.
std::vector<int> PhotoCells(int width, int rows) {
  std::mt19937 gen(1);
  std::vector<int> cells(static_cast<size_t>(width) * static_cast<size_t>(rows) * 3);
  for (size_t i = 0; i < cells.size(); i++)
    cells[i] = static_cast<int>((i / 3 % static_cast<size_t>(width) / 8 + gen() % 32) & 255);
  return cells;
}

void BM_CellArrayPackedStrip(benchmark::State &state) {
  const std::string path = TempFile();
  static qWCGM_DATA writer;
  char msg[QWCGM_MSG_SIZE];
  if (!qCgmInit(path.c_str(), &writer, msg)) {
    state.SkipWithError(msg);
    return;
  }
  // The converter's set-up: real VDC (16 + 16 bit fixed point) in inches,
  // direct colour, 8 bits per component.
  writer.Cgm.MetafileDescriptor.VdcType = 1;
  writer.Cgm.Control.VdcRealPrecision = 3;
  writer.Cgm.PictureDescriptor.ColorSelectionMode = 1;
  const std::vector<int> cells = PhotoCells(kWidth, kRows);
  qVDC p[2] = {{0, 0.0}, {0, 0.0}};
  qVDC q[2] = {{0, kWidth / 90.0}, {0, kRows / 90.0}};
  qVDC r[2] = {{0, kWidth / 90.0}, {0, 0.0}};
  long elementBytes = 0;
  for (auto _ : state) {
    // Every strip overwrites the previous one, so the file stays small
    // while each strip still goes through the stream to the file.
    std::fseek(writer.Outfile, 0, SEEK_SET);
    if (!qCellArray(p, q, r, kWidth, kRows, 8, 1, cells.data(), &writer,
                    msg)) {
      state.SkipWithError(msg);
      break;
    }
    elementBytes = std::ftell(writer.Outfile);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * elementBytes);
  state.counters["element_bytes"] = static_cast<double>(elementBytes);
  qCgmEnd(&writer, msg);
  std::remove(path.c_str());
}
BENCHMARK(BM_CellArrayPackedStrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

// One interleaved RGB row of the converter's width.
std::vector<unsigned char> Row(bool photographic) {
  std::mt19937 gen(2);
  std::vector<unsigned char> rgb(3 * static_cast<size_t>(kWidth), 128);
  if (photographic)
    for (size_t i = 0; i < rgb.size(); i++)
      rgb[i] = static_cast<unsigned char>(i / 3 / 8 + gen() % 16);
  return rgb;
}

void CellCompress24Row(benchmark::State &state, bool photographic) {
  const std::vector<unsigned char> rgb = Row(photographic);
  std::vector<int> out((3 * static_cast<size_t>(kWidth) + 3) / 4 * 4);
  int mode = -1;
  for (auto _ : state) {
    CellCompress24(rgb.data(), rgb.data() + 1, rgb.data() + 2, 3, out.data(),
                   kWidth, 16, &mode);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 3 * kWidth);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kWidth);
  state.counters["mode"] = mode;
}

void BM_CellCompress24_Photographic(benchmark::State &state) {
  CellCompress24Row(state, true);
}
BENCHMARK(BM_CellCompress24_Photographic);

void BM_CellCompress24_Flat(benchmark::State &state) {
  CellCompress24Row(state, false);
}
BENCHMARK(BM_CellCompress24_Flat);

}  // namespace
