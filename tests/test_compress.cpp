// Row compressors: colour rows in cell form, 24-bit rows read from
// component planes, and one-bit rows.  Besides the hand-checked examples,
// every compressed row is written as a CELL ARRAY with the mode and
// precision the compressor reported, read back by the small decoder below,
// and compared cell by cell with the packed row it came from.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <array>
#include <climits>
#include <cstdint>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "Quil.h"
#include "testutil.h"

namespace {

// ---- a reader of CELL ARRAY elements -------------------------------------

struct BitReader {
  const Bytes &b;
  size_t pos = 0;  // in bits
  explicit BitReader(const Bytes &bytes) : b(bytes) {}
  uint32_t Bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; i++, pos++) {
      if (pos / 8 >= b.size()) throw std::out_of_range("element too short");
      v = v << 1 | ((b[pos / 8] >> (7 - pos % 8)) & 1u);
    }
    return v;
  }
  void Align() { pos = (pos + 7) / 8 * 8; }
  bool Odd() const { return (pos / 8) & 1; }
};

struct Run {
  int64_t count;
  std::array<int, 3> colour;
};

struct CellArray {
  int nx = 0, ny = 0, lp = 0, mode = 0;
  std::vector<std::vector<Run>> rows;  // packed rows come back as runs of 1
};

// Joins the partitions of the element at `at` and returns its parameters;
// moves `at` past the element and its pad byte.
Bytes ReadElement(const Bytes &file, size_t *at) {
  const unsigned head = static_cast<unsigned>(file.at(*at) << 8 | file.at(*at + 1));
  EXPECT_EQ(head >> 5, 0x209u) << "not a CELL ARRAY (class 4, id 9)";
  *at += 2;
  Bytes params;
  if ((head & 31u) < 31u) {
    params.assign(file.begin() + static_cast<long>(*at),
                  file.begin() + static_cast<long>(*at + (head & 31u)));
    *at += head & 31u;
  } else {
    for (;;) {
      const unsigned word = static_cast<unsigned>(file.at(*at) << 8 | file.at(*at + 1));
      const size_t n = word & 0x7FFFu;
      *at += 2;
      params.insert(params.end(), file.begin() + static_cast<long>(*at),
                    file.begin() + static_cast<long>(*at + n));
      *at += n;
      if (!(word & 0x8000u)) break;
    }
  }
  if (params.size() & 1) *at += 1;
  return params;
}

// Decodes a CELL ARRAY parameter list written with 16-bit VDC integers, the
// given integer precision and 16-bit enumerations; k values per cell; a
// local colour precision of 0 is not used by these tests.
CellArray Decode(const Bytes &params, int intPrecision, int k) {
  CellArray ca;
  BitReader r(params);
  r.pos = 6 * 16;
  ca.nx = static_cast<int>(r.Bits(intPrecision));
  ca.ny = static_cast<int>(r.Bits(intPrecision));
  ca.lp = static_cast<int>(r.Bits(intPrecision));
  ca.mode = static_cast<int>(r.Bits(16));
  const int p = ca.lp;
  for (int row = 0; row < ca.ny; row++) {
    if (r.Odd()) {
      EXPECT_EQ(r.Bits(8), 0u) << "pad byte";
    }
    std::vector<Run> runs;
    if (ca.mode == 1) {
      for (int i = 0; i < ca.nx; i++) {
        Run run{1, {0, 0, 0}};
        for (int j = 0; j < k; j++) run.colour[static_cast<size_t>(j)] = static_cast<int>(r.Bits(p));
        runs.push_back(run);
      }
      r.Align();
    } else {
      int64_t total = 0;
      while (total < ca.nx) {
        Run run{static_cast<int64_t>(r.Bits(intPrecision)), {0, 0, 0}};
        EXPECT_GT(run.count, 0);
        if (run.count <= 0) break;
        for (int j = 0; j < k; j++) run.colour[static_cast<size_t>(j)] = static_cast<int>(r.Bits(p));
        r.Align();
        total += run.count;
        runs.push_back(run);
      }
      EXPECT_EQ(total, ca.nx);
    }
    ca.rows.push_back(runs);
  }
  EXPECT_EQ(r.pos, params.size() * 8) << "bytes left after the last row";
  return ca;
}

// Value j (0..k-1) of cell i of the packed row a compressor was given.
using CellValue = std::function<int(int64_t i, int j)>;

// Writes the row a compressor produced as a one-row CELL ARRAY with the mode
// and precision it reported, decodes the element and compares its cells
// with the packed row.
void ExpectSameCells(const int *row, int n, int k, int mode, int precision,
                     int countPrecision, const CellValue &expected,
                     const std::string &what) {
  SCOPED_TRACE(what);
  TestWriter w;
  w.d()->Cgm.PictureDescriptor.ColorSelectionMode = k == 3 ? 1 : 0;
  w.d()->Cgm.MetafileDescriptor.IntegerPrecision = countPrecision;
  const qVDC p[2] = {{0, 0.0}, {0, 0.0}}, q[2] = {{1, 1.0}, {1, 1.0}},
             r[2] = {{1, 1.0}, {0, 0.0}};
  ASSERT_EQ(qCellArray(p, q, r, n, 1, precision, mode, row, w.d(),
                       w.msg()),
            1)
      << w.msg();
  const Bytes file = w.Written();
  size_t at = 0;
  const CellArray ca = Decode(ReadElement(file, &at), countPrecision, k);
  EXPECT_EQ(at, file.size());
  EXPECT_EQ(ca.nx, n);
  EXPECT_EQ(ca.ny, 1);
  EXPECT_EQ(ca.lp, precision);
  EXPECT_EQ(ca.mode, mode);
  ASSERT_EQ(ca.rows.size(), 1u);
  int64_t i = 0;
  for (const Run &run : ca.rows[0]) {
    for (int64_t c2 = 0; c2 < run.count; c2++, i++)
      for (int j = 0; j < k; j++)
        if (run.colour[static_cast<size_t>(j)] != expected(i, j)) {
          ADD_FAILURE() << "cell " << i << " value " << j << ": "
                        << run.colour[static_cast<size_t>(j)] << " != "
                        << expected(i, j);
          return;
        }
  }
  EXPECT_EQ(i, n);
}

// Runs of the given lengths, colour t for run t (cycling through `colours`).
std::vector<int> RowOfRuns(const std::vector<int> &lengths, int k,
                           const std::vector<int> &colours) {
  std::vector<int> cells;
  for (size_t t = 0; t < lengths.size(); t++)
    for (int c = 0; c < lengths[t]; c++)
      for (int j = 0; j < k; j++)
        cells.push_back(colours[(t * static_cast<size_t>(k) + static_cast<size_t>(j)) % colours.size()]);
  return cells;
}

std::vector<int> Random(size_t n, int lo, int hi, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> d(lo, hi);
  std::vector<int> v(n);
  for (int &x : v) x = d(gen);
  return v;
}

std::vector<int> Runs(const int *runs, int used) {
  return std::vector<int>(runs, runs + used);
}

// ---- OkToIncrement ---------------------------------------------------------

TEST(OkToIncrement, CountLimits) {
  struct Case {
    int count, precision, ok;
  };
  const Case cases[] = {
      {254, 8, 1},          {255, 8, 0},          // 255, not 127
      {32766, 16, 1},       {32767, 16, 0},       // 32767, not 65535
      {8388606, 24, 1},     {8388607, 24, 0},
      {INT_MAX - 1, 32, 1}, {1000000000, 12, 1},  // no limit otherwise
      {-5, 8, 1},
  };
  for (const Case &c : cases)
    EXPECT_EQ(OkToIncrement(c.count, c.precision), c.ok)
        << c.count << " at " << c.precision;
}

// ---- CellCompress ----------------------------------------------------------

struct Compressed {
  int *row;
  int mode, precision;
};

Compressed Compress(std::vector<int> &cells, std::vector<int> &runs, int n,
                    int direct, int colourPrecision, int countPrecision) {
  Compressed c{nullptr, -1, -1};
  c.row = CellCompress(cells.data(), runs.data(), n, direct, colourPrecision,
                       countPrecision, &c.mode, &c.precision);
  return c;
}

TEST(CellCompress, Examples) {
  struct Case {
    const char *what;
    std::vector<int> cells;
    int direct, colourPrecision, countPrecision;
    int mode, precision;
    std::vector<int> runs;  // expected runs when mode is 0
  };
  std::vector<int> ones(80, 0);
  for (size_t i = 40; i < 80; i++) ones[i] = 1;
  const Case cases[] = {
      {"ten cells of 5: 3 bytes against 10", std::vector<int>(10, 5), 0, 8,
       16, 0, 8, {10, 5}},
      {"300 cells at 8-bit counts", std::vector<int>(300, 5), 0, 8, 8, 0, 8,
       {255, 5, 45, 5}},
      {"equal sizes keep the packed row", {1, 1, 2, 2, 3, 3}, 0, 8, 8, 1, 8,
       {}},
      {"4 bytes against 6", {1, 1, 1, 2, 2, 2}, 0, 8, 8, 0, 8,
       {3, 1, 3, 2}},
      {"1-bit cells: runs go out at 8 bits", ones, 0, 1, 8, 0, 8,
       {40, 0, 40, 1}},
      {"gives up when the third run would pass 4 ints", {1, 2, 3, 3}, 0, 8,
       16, 1, 8, {}},
      {"direct", {7, 8, 9, 7, 8, 9, 7, 8, 9, 1, 2, 3}, 1, 8, 16, 0, 8,
       {3, 7, 8, 9, 1, 1, 2, 3}},
      {"direct, one component differs", {7, 8, 9, 7, 8, 8, 7, 8, 9}, 1, 8,
       16, 1, 8, {}},
      {"a single cell", {4}, 0, 8, 16, 1, 8, {}},
  };
  for (const Case &c : cases) {
    std::vector<int> cells = c.cells;
    std::vector<int> runs(cells.size() + 4, -77);
    const int k = c.direct ? 3 : 1;
    const int n = static_cast<int>(cells.size()) / k;
    Compressed got = Compress(cells, runs, n, c.direct, c.colourPrecision,
                              c.countPrecision);
    EXPECT_EQ(got.mode, c.mode) << c.what;
    EXPECT_EQ(got.precision, c.mode ? c.colourPrecision : c.precision)
        << c.what;
    EXPECT_EQ(got.row, c.mode ? cells.data() : runs.data()) << c.what;
    if (c.mode == 0) {
      EXPECT_EQ(Runs(runs.data(), static_cast<int>(c.runs.size())), c.runs)
          << c.what;
    }
    // Never more than n * k ints of the runs array.
    for (size_t i = cells.size(); i < runs.size(); i++)
      EXPECT_EQ(runs[i], -77) << c.what;
  }
}

TEST(CellCompress, EmptyRow) {
  int cells[1] = {9}, runs[1] = {-77};
  int mode = -1, precision = -1;
  EXPECT_EQ(CellCompress(cells, runs, 0, 0, 8, 16, &mode, &precision), cells);
  EXPECT_EQ(mode, 1);
  EXPECT_EQ(precision, 8);
  EXPECT_EQ(runs[0], -77);
}

// Regression: cells x values x precision was an int product; for 22369622
// direct cells at 32 bits it passed 2^31 and the packed size came out
// negative, so a row of one colour was left packed.  The cells are a
// mapping of zero pages, which costs no memory.
TEST(CellCompress, SizesIn64Bits) {
  const int n = 22369622;
  const size_t bytes = static_cast<size_t>(n) * 3 * sizeof(int);
  void *map = mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  int *cells = static_cast<int *>(map);
  int runs[8];
  int mode = -1, precision = -1;
  EXPECT_EQ(CellCompress(cells, runs, n, 1, 32, 32, &mode, &precision), runs);
  EXPECT_EQ(mode, 0);
  EXPECT_EQ(precision, 32);
  EXPECT_EQ(Runs(runs, 4), (std::vector<int>{n, 0, 0, 0}));
  munmap(map, bytes);
}

TEST(CellCompress, RoundTrip) {
  struct Case {
    std::string what;
    std::vector<int> cells;
    int direct, colourPrecision, countPrecision;
  };
  std::vector<Case> cases;
  const std::vector<int> palette = {0, 255, 17, 128, 3, 99, 200, 1};
  std::vector<int> lengths = Random(60, 1, 300, 1);
  for (int direct : {0, 1})
    for (int cp : {8, 16, 24, 32}) {
      const int k = direct ? 3 : 1;
      cases.push_back({"long runs", RowOfRuns(lengths, k, palette), direct, cp, 16});
      cases.push_back({"no runs", Random(static_cast<size_t>(997 * k), 0, 255, 2), direct, cp, 16});
      cases.push_back({"short runs", RowOfRuns(Random(400, 1, 4, 3), k, palette), direct, cp, 16});
    }
  for (int cp : {1, 2, 4}) {
    const int top = (1 << cp) - 1;
    const std::vector<int> small = {0, top, top / 2 + 0, 1 % (top + 1)};
    for (int n : {13, 77, 1001}) {  // not multiples of 8
      const std::string w = " at " + std::to_string(cp) + " bits, width " + std::to_string(n);
      cases.push_back({"no runs" + w, Random(static_cast<size_t>(n), 0, top, 4), 0, cp, 16});
      std::vector<int> row = RowOfRuns(Random(static_cast<size_t>(n), 10, 40, 5), 1, small);
      row.resize(static_cast<size_t>(n));
      cases.push_back({"long runs" + w, row, 0, cp, 16});
      std::vector<int> drow = RowOfRuns(Random(static_cast<size_t>(n), 10, 40, 6), 3, small);
      drow.resize(static_cast<size_t>(n) * 3);
      cases.push_back({"direct long runs" + w, drow, 1, cp, 16});
    }
  }
  // Count limits.  nx itself is written at the count precision, so at 8 bits
  // a row is at most 255 cells: one run of exactly the limit.
  cases.push_back({"255 cells at 8-bit counts", std::vector<int>(255, 6), 0, 8, 8});
  cases.push_back({"254 + 1 at 8-bit counts", RowOfRuns({254, 1}, 1, palette), 0, 8, 8});
  cases.push_back({"direct 255 at 8-bit counts", std::vector<int>(765, 6), 1, 8, 8});
  for (int n : {32767, 32768, 65535})
    cases.push_back({std::to_string(n) + " cells at 16-bit counts", std::vector<int>(static_cast<size_t>(n), 6), 0, 8, 16});
  cases.push_back({"direct 40000 at 16-bit counts", std::vector<int>(120000, 250), 1, 8, 16});
  cases.push_back({"8388609 cells at 24-bit counts", std::vector<int>(8388609, 6), 0, 8, 24});
  cases.push_back({"100000 cells at 32-bit counts", std::vector<int>(100000, 6), 0, 8, 32});

  for (Case &c : cases) {
    const int k = c.direct ? 3 : 1;
    const int n = static_cast<int>(c.cells.size()) / k;
    std::vector<int> runs(c.cells.size());
    Compressed got = Compress(c.cells, runs, n, c.direct, c.colourPrecision, c.countPrecision);
    const std::vector<int> &cells = c.cells;
    ExpectSameCells(got.row, n, k, got.mode, got.precision, c.countPrecision,
                    [&cells, k](int64_t i, int j) { return cells[static_cast<size_t>(i * k + j)]; },
                    c.what + " (mode " + std::to_string(got.mode) + ")");
  }
}

TEST(CellCompress, CountLimitsSplitRuns) {
  struct Case {
    int n, countPrecision;
    std::vector<int> runs;
  };
  const Case cases[] = {
      {65535, 16, {32767, 6, 32767, 6, 1, 6}},
      {8388609, 24, {8388607, 6, 2, 6}},
      {100000, 32, {100000, 6}},
  };
  for (const Case &c : cases) {
    std::vector<int> cells(static_cast<size_t>(c.n), 6), runs(static_cast<size_t>(c.n));
    Compressed got = Compress(cells, runs, c.n, 0, 8, c.countPrecision);
    EXPECT_EQ(got.mode, 0);
    EXPECT_EQ(Runs(runs.data(), static_cast<int>(c.runs.size())), c.runs);
  }
}

// ---- 24-bit rows -----------------------------------------------------------

// Pixels as interleaved RGB bytes.
Bytes Rgb(const std::vector<std::array<int, 3>> &pixels) {
  Bytes b;
  for (const auto &p : pixels)
    for (int v : p) b.push_back(static_cast<uint8_t>(v));
  return b;
}

TEST(CellCompress24, Examples) {
  struct Case {
    const char *what;
    std::vector<std::array<int, 3>> pixels;
    int countPrecision;
    int mode;
    std::vector<int> out;
  };
  const Case cases[] = {
      {"four equal pixels", {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}}, 16,
       0, {4, 1, 2, 3}},
      {"two equal pixels at 24-bit counts: 6 bytes either way",
       {{1, 2, 3}, {1, 2, 3}}, 24, 1, {1, 2, 3, 1, 2, 3}},
      {"three equal pixels: 6 bytes against 9", {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}},
       24, 0, {3, 1, 2, 3}},
      {"five different pixels", {{1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}},
       16, 1, {1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0, 5, 0, 0}},
      {"samples are unsigned bytes", {{255, 128, 0}, {255, 128, 0}, {255, 128, 0}},
       8, 0, {3, 255, 128, 0}},
  };
  for (const Case &c : cases) {
    const Bytes rgb = Rgb(c.pixels);
    const int n = static_cast<int>(c.pixels.size());
    // Interleaved (stride 3) and as separate planes (stride 1) alike.
    Bytes planes(rgb.size());
    for (int j = 0; j < n; j++)
      for (int s = 0; s < 3; s++)
        planes[static_cast<size_t>(s * n + j)] = rgb[static_cast<size_t>(3 * j + s)];
    std::vector<int> out1((3 * static_cast<size_t>(n) + 3) / 4 * 4, -77), out3 = out1;
    int mode1 = -1, mode3 = -1;
    CellCompress24(rgb.data(), rgb.data() + 1, rgb.data() + 2, 3, out3.data(), n,
                   c.countPrecision, &mode3);
    CellCompress24(planes.data(), planes.data() + n, planes.data() + 2 * n, 1,
                   out1.data(), n, c.countPrecision, &mode1);
    EXPECT_EQ(mode3, c.mode) << c.what;
    EXPECT_EQ(mode1, c.mode) << c.what;
    EXPECT_EQ(Runs(out3.data(), static_cast<int>(c.out.size())), c.out) << c.what;
    EXPECT_EQ(Runs(out1.data(), static_cast<int>(c.out.size())), c.out) << c.what;
  }
}

TEST(CellCompress24, EmptyRow) {
  const unsigned char px[3] = {1, 2, 3};
  int out[4] = {-77, -77, -77, -77};
  int mode = -1;
  CellCompress24(px, px + 1, px + 2, 3, out, 0, 16, &mode);
  EXPECT_EQ(mode, 1);
  EXPECT_EQ(out[0], -77);
}

TEST(RunLengthEncode24, GiveUpAndCountLimit) {
  // Five different pixels: four runs fill 16 ints (3 * 5 rounded up to 4)
  // and the fifth gives up.
  const Bytes five = Rgb({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}});
  std::vector<int> runs(17, -77);
  int used = -1;
  EXPECT_EQ(RunLengthEncode24(five.data(), five.data() + 1, five.data() + 2, 3,
                              runs.data(), 5, 16, &used), 0);
  EXPECT_EQ(used, 0);
  EXPECT_EQ(runs[15], 0);
  EXPECT_EQ(runs[16], -77);

  // 300 equal pixels at 8-bit counts.
  const Bytes flat(900, 7);
  used = -1;
  EXPECT_EQ(RunLengthEncode24(flat.data(), flat.data() + 1, flat.data() + 2, 3,
                              runs.data(), 300, 8, &used), 1);
  EXPECT_EQ(used, 8);
  EXPECT_EQ(Runs(runs.data(), 8), (std::vector<int>{255, 7, 7, 7, 45, 7, 7, 7}));

  used = -1;
  EXPECT_EQ(RunLengthEncode24(flat.data(), flat.data(), flat.data(), 3,
                              runs.data(), 0, 8, &used), 1);
  EXPECT_EQ(used, 0);
}

TEST(PackedEncode24, TriplesInPlaneOrder) {
  const Bytes rgb = Rgb({{1, 2, 3}, {250, 251, 252}});
  int out[6];
  // The third plane first: the pointers say which value goes first.
  PackedEncode24(rgb.data() + 2, rgb.data() + 1, rgb.data(), 3, out, 2);
  EXPECT_EQ(Runs(out, 6), (std::vector<int>{3, 2, 1, 252, 251, 250}));
}

// Regression: pixel x stride was an int product.  With a stride of 1 MiB,
// pixel 2048 sits 2^31 bytes into each plane; the planes are a mapping of
// zero pages, of which only the pages read cost memory.
TEST(CellCompress24, StrideOffsetsIn64Bits) {
  const int stride = 1 << 20, n = 2049;
  const size_t bytes = static_cast<size_t>(n) * stride;
  // Read-only, so that even strict overcommit accounting charges nothing
  // but the one page made writable for the last pixel.
  void *map = mmap(nullptr, bytes, PROT_READ,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  unsigned char *px = static_cast<unsigned char *>(map);
  unsigned char *last = px + static_cast<size_t>(n - 1) * stride;
  ASSERT_EQ(mprotect(last, 4096, PROT_READ | PROT_WRITE), 0);
  last[0] = 9;
  last[1] = 8;
  last[2] = 7;
  std::vector<int> out(3 * static_cast<size_t>(n) + 3, -77);
  int mode = -1;
  CellCompress24(px, px + 1, px + 2, stride, out.data(), n, 16, &mode);
  EXPECT_EQ(mode, 0);
  EXPECT_EQ(Runs(out.data(), 8), (std::vector<int>{2048, 0, 0, 0, 1, 9, 8, 7}));
  PackedEncode24(px, px + 1, px + 2, stride, out.data(), n);
  EXPECT_EQ(out[3 * 2048], 9);
  EXPECT_EQ(out[3 * 2048 + 1], 8);
  EXPECT_EQ(out[3 * 2048 + 2], 7);
  munmap(map, bytes);
}

TEST(CellCompress24, RoundTrip) {
  struct Case {
    std::string what;
    Bytes rgb;  // interleaved
    int countPrecision;
  };
  std::vector<Case> cases;
  std::mt19937 gen(7);
  {
    Bytes photo(3 * 1706);
    for (uint8_t &b : photo) b = static_cast<uint8_t>(gen());
    cases.push_back({"photographic", photo, 16});
  }
  {
    Bytes runs;
    for (int len : Random(50, 1, 120, 8)) {
      const uint8_t r = static_cast<uint8_t>(gen()), g = static_cast<uint8_t>(gen()),
                    b = static_cast<uint8_t>(gen());
      for (int i = 0; i < len; i++) runs.insert(runs.end(), {r, g, b});
    }
    cases.push_back({"long runs", runs, 16});
  }
  cases.push_back({"flat", Bytes(3 * 1706, 200), 16});
  cases.push_back({"255 at 8-bit counts", Bytes(3 * 255, 1), 8});
  cases.push_back({"40000 at 16-bit counts", Bytes(3 * 40000, 1), 16});
  {
    Bytes b(3 * 32768, 1);
    b[3 * 32767] = 2;  // one run of exactly the limit, then one cell
    cases.push_back({"32767 + 1 at 16-bit counts", b, 16});
  }
  for (Case &c : cases) {
    const int n = static_cast<int>(c.rgb.size() / 3);
    std::vector<int> out((3 * static_cast<size_t>(n) + 3) / 4 * 4);
    int mode = -1;
    CellCompress24(c.rgb.data(), c.rgb.data() + 1, c.rgb.data() + 2, 3, out.data(), n,
                   c.countPrecision, &mode);
    const Bytes &rgb = c.rgb;
    ExpectSameCells(out.data(), n, 3, mode, 8, c.countPrecision,
                    [&rgb](int64_t i, int j) { return rgb[static_cast<size_t>(3 * i + j)]; },
                    c.what + " (mode " + std::to_string(mode) + ")");
  }
  // 24-bit counts need a row longer than 8388607 pixels: all pixels read
  // the same three bytes (stride 0).
  const unsigned char px[3] = {10, 20, 30};
  const int n = 8388609;
  std::vector<int> out((3 * static_cast<size_t>(n) + 3) / 4 * 4);
  int mode = -1;
  CellCompress24(px, px + 1, px + 2, 0, out.data(), n, 24, &mode);
  ASSERT_EQ(mode, 0);
  EXPECT_EQ(Runs(out.data(), 8), (std::vector<int>{8388607, 10, 20, 30, 2, 10, 20, 30}));
  ExpectSameCells(out.data(), n, 3, mode, 8, 24,
                  [&px](int64_t, int j) { return px[j]; }, "8388609 at 24-bit counts");
}

// ---- one-bit rows ----------------------------------------------------------

TEST(MonoTables, BitMasksAndTransitions) {
  EXPECT_EQ(ToHex(BitMasks, 8), "80 40 20 10 08 04 02 01");
  struct Named {
    int byte, transitions;
  };
  const Named named[] = {{0x00, 0}, {0xFF, 0}, {0x01, 1}, {0x0F, 1}, {0xF0, 1},
                         {0x80, 1}, {0x02, 2}, {0x05, 3}, {0x55, 7}, {0xAA, 7}};
  for (const Named &e : named) EXPECT_EQ(BitTransitions[e.byte], e.transitions) << e.byte;
  // Every entry: the differing pairs among the seven pairs of neighbouring
  // bits, counted bit by bit.
  for (int b = 0; b < 256; b++) {
    int pairs = 0;
    for (int i = 0; i < 7; i++) pairs += ((b >> i) & 1) != ((b >> (i + 1)) & 1);
    EXPECT_EQ(BitTransitions[b], pairs) << b;
  }
}

// A row of `count` bytes: the given bytes, then `fill`.
std::vector<unsigned char> Row(const char *head, unsigned char fill, int count) {
  const Bytes h = Hex(head);
  std::vector<unsigned char> row(h.begin(), h.end());
  row.resize(static_cast<size_t>(count), fill);
  return row;
}

TEST(MonoScanCompresses, Costs) {
  struct Case {
    const char *what;
    std::vector<unsigned char> row;
    int result;
  };
  const Case cases[] = {
      {"five zero bytes: one run, cost 5", Row("", 0x00, 5), 1},
      {"0x55 is eight runs, cost 40; FF bytes go on with its last run",
       Row("55", 0xFF, 40), 1},
      {"... more than a count of 39", Row("55", 0xFF, 39), 0},
      {"a 0 byte after 0x55 starts a ninth run: 45", Row("55", 0x00, 44), 0},
      {"... which a count of 45 pays for", Row("55", 0x00, 45), 1},
      {"00 then FF: two runs, cost 10", Row("00", 0xFF, 10), 1},
      {"... more than a count of 9", Row("00", 0xFF, 9), 0},
      {"a run across byte boundaries is one run: 0s, 1s, 0s cost 15",
       Row("0F FF FF FF F0", 0x00, 15), 1},
      {"... more than a count of 14", Row("0F FF FF FF F0", 0x00, 14), 0},
  };
  for (const Case &c : cases)
    EXPECT_EQ(MonoScanCompresses(c.row.data(), static_cast<int>(c.row.size())),
              c.result)
        << c.what;
}

// Regression: a count below 5 can never pay for a run, and the scan read the
// row before finding that out; it must not touch the row at all.
TEST(MonoScanCompresses, ShortCountsReadNothing) {
  for (int count : {-1, 0, 1, 4}) EXPECT_EQ(MonoScanCompresses(nullptr, count), 0) << count;
  const unsigned char four[4] = {0, 0, 0, 0};
  EXPECT_EQ(MonoScanCompresses(four, 4), 0);
}

TEST(RunLengthEncodeMono, Pairs) {
  struct Case {
    Bytes row;
    int n;
    std::vector<int> pairs;
  };
  const Case cases[] = {
      {Hex("E0"), 5, {3, 1, 2, 0}},  // the last three bits are not pixels
      {Hex("E0 FF"), 12, {3, 1, 5, 0, 4, 1}},
      {Hex("E7"), 3, {3, 1}},
      {Hex("55 55"), 16, {1, 0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1,
                          1, 0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1}},
  };
  for (const Case &c : cases) {
    std::vector<int> out(2 * static_cast<size_t>(c.n) + 2, -77);
    RunLengthEncodeMono(c.row.data(), c.n, out.data());
    EXPECT_EQ(Runs(out.data(), static_cast<int>(c.pairs.size())), c.pairs) << ToHex(c.row);
    EXPECT_EQ(out[c.pairs.size()], -77);
  }
}

// Regression: a row of no pixels read pixel 0 for the value of its pair; it
// now writes (0, 0) without reading the row.
TEST(RunLengthEncodeMono, EmptyRowWritesZeroPair) {
  for (int n : {0, -3}) {
    int out[3] = {-77, -77, -77};
    RunLengthEncodeMono(nullptr, n, out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], -77);
  }
}

TEST(PackedEncodeMono, OneIntPerPixel) {
  const Bytes row = Hex("B0 01");
  std::vector<int> out(17, -77);
  PackedEncodeMono(row.data(), 12, out.data());
  EXPECT_EQ(Runs(out.data(), 13), (std::vector<int>{1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, -77}));
  PackedEncodeMono(row.data(), 16, out.data());
  EXPECT_EQ(out[15], 1);
  EXPECT_EQ(out[16], -77);
  PackedEncodeMono(nullptr, 0, out.data());
  EXPECT_EQ(out[0], 1);
}

TEST(CellCompressMono, Examples) {
  {
    const Bytes zeros(8, 0);
    std::vector<int> out(64, -77);
    int mode = -1, precision = -1;
    CellCompressMono(zeros.data(), out.data(), 64, 0, &mode, &precision);
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(precision, 8);
    EXPECT_EQ(Runs(out.data(), 3), (std::vector<int>{64, 0, -77}));
  }
  {
    const Bytes alternating(8, 0xAA);
    std::vector<int> out(65, -77);
    int mode = -1, precision = -1;
    CellCompressMono(alternating.data(), out.data(), 64, 12345, &mode, &precision);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(precision, 1);
    for (int i = 0; i < 64; i++) EXPECT_EQ(out[static_cast<size_t>(i)], (i & 1) ? 0 : 1) << i;
    EXPECT_EQ(out[64], -77);
  }
  for (int n : {0, -1}) {
    int out[1] = {-77};
    int mode = -1, precision = -1;
    CellCompressMono(nullptr, out, n, 0, &mode, &precision);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(precision, 1);
    EXPECT_EQ(out[0], -77);
  }
}

// Regression: the scan was given the pixel count, so it read n bytes of a
// row of (n + 7) / 8.  Exactly sized heap rows let the address sanitizer
// see any read past them.
TEST(CellCompressMono, ScanReadsOnlyTheRowsBytes) {
  struct Case {
    int n, mode;
  };
  // 33..40 pixels are 5 bytes: one run costs 5, which pays; 32 pixels are 4
  // bytes, which never pay.
  const Case cases[] = {{33, 0}, {40, 0}, {32, 1}, {41, 0}, {7, 1}};
  for (const Case &c : cases) {
    const size_t bytes = (static_cast<size_t>(c.n) + 7) / 8;
    std::vector<unsigned char> row(bytes, 0xFF);
    std::vector<int> out(static_cast<size_t>(c.n));
    int mode = -1, precision = -1;
    CellCompressMono(row.data(), out.data(), c.n, 0, &mode, &precision);
    EXPECT_EQ(mode, c.mode) << c.n;
    if (mode == 0) {
      EXPECT_EQ(Runs(out.data(), 2), (std::vector<int>{c.n, 1}));
    }
  }
}

TEST(CellCompressMono, RoundTrip) {
  struct Case {
    std::string what;
    std::vector<unsigned char> row;
    int n;
  };
  std::vector<Case> cases;
  std::mt19937 gen(11);
  for (int n : {13, 61, 64, 1001, 4099}) {
    const size_t bytes = (static_cast<size_t>(n) + 7) / 8;
    const std::string w = ", width " + std::to_string(n);
    cases.push_back({"zeros" + w, std::vector<unsigned char>(bytes, 0), n});
    cases.push_back({"ones" + w, std::vector<unsigned char>(bytes, 0xFF), n});
    cases.push_back({"alternating" + w, std::vector<unsigned char>(bytes, 0xAA), n});
    std::vector<unsigned char> noise(bytes);
    for (auto &b : noise) b = static_cast<unsigned char>(gen());
    cases.push_back({"noise" + w, noise, n});
    // Long runs of random length, with bits past the last pixel set, which
    // are no pixels.
    std::vector<unsigned char> runs(bytes, 0);
    int bit = 1, left = 0;
    for (int i = 0; i < static_cast<int>(bytes) * 8; i++) {
      if (left-- <= 0) {
        bit ^= 1;
        left = 30 + static_cast<int>(gen() % 200);
      }
      if (bit || i >= n) runs[static_cast<size_t>(i / 8)] |= BitMasks[i % 8];
    }
    cases.push_back({"long runs" + w, runs, n});
  }
  for (Case &c : cases) {
    std::vector<int> out(static_cast<size_t>(c.n));
    int mode = -1, precision = -1;
    CellCompressMono(c.row.data(), out.data(), c.n, 0, &mode, &precision);
    const std::vector<unsigned char> &row = c.row;
    ExpectSameCells(out.data(), c.n, 1, mode, precision, 16,
                    [&row](int64_t i, int) {
                      return (row[static_cast<size_t>(i / 8)] >> (7 - i % 8)) & 1;
                    },
                    c.what + " (mode " + std::to_string(mode) + ")");
  }
}

}  // namespace
