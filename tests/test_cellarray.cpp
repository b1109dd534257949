// CELL ARRAY: the element bytes for every layout, local colour precision and
// row alignment, the argument and row checks, the work buffer limit, and
// streams that refuse the element.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Quil.h"
#include "testutil.h"

namespace {

// The corners of most cases: P (0, 0), Q (10, 10), R (10, 0); at 16-bit VDC
// integers they are 00 00 00 00 00 0A 00 0A 00 0A 00 00.
struct Corners {
  qVDC p[2] = {V(0), V(0)};
  qVDC q[2] = {V(10), V(10)};
  qVDC r[2] = {V(10), V(0)};
};

int Write(TestWriter &w, int nx, int ny, int lp, int mode,
          const std::vector<int> &cells) {
  Corners c;
  return qCellArray(c.p, c.q, c.r, nx, ny, lp, mode, cells.data(), w.d(),
                    w.msg());
}

std::vector<int> Count(int from, int n) {
  std::vector<int> v;
  for (int i = 0; i < n; i++) v.push_back(from + i);
  return v;
}

// Writer record settings a case starts from, applied on top of the
// defaults (16-bit VDC integers, 16-bit integers and enumerations, 8-bit
// colours and colour indexes, indexed colour).
struct Precisions {
  int direct = 0;
  int intPrecision = 16;
  int enumPrecision = 16;
  int colorPrecision = 8;
  int colorIndexPrecision = 8;
};

void Apply(TestWriter &w, const Precisions &s) {
  qWCGM_CGM &cgm = w.d()->Cgm;
  cgm.PictureDescriptor.ColorSelectionMode = s.direct;
  cgm.MetafileDescriptor.IntegerPrecision = s.intPrecision;
  cgm.MetafileDescriptor.EnumPrecision = s.enumPrecision;
  cgm.MetafileDescriptor.ColorPrecision = s.colorPrecision;
  cgm.MetafileDescriptor.ColorIndexPrecision = s.colorIndexPrecision;
}

#define CORNERS "00 00 00 00 00 0A 00 0A 00 0A 00 00 "

TEST(CellArray, ElementBytes) {
  struct Case {
    const char *what;
    Precisions setup;
    int nx, ny, lp, mode;
    std::vector<int> cells;
    const char *element;  // the whole element, header words and pad byte
  };
  Precisions direct;
  direct.direct = 1;
  Precisions enum8 = direct;
  enum8.enumPrecision = 8;
  Precisions direct16 = direct;
  direct16.colorPrecision = 16;
  Precisions index32;
  index32.colorIndexPrecision = 32;
  Precisions int8;
  int8.intPrecision = 8;
  Precisions int24;
  int24.intPrecision = 24;
  const Case cases[] = {
      {"packed direct, 8 bits", direct, 2, 2, 8, 1, Count(1, 12),
       "41 3F 00 20 " CORNERS "00 02 00 02 00 08 00 01 "
       "01 02 03 04 05 06 07 08 09 0A 0B 0C"},
      {"19-byte header: a zero byte before each row at an odd offset", enum8,
       3, 2, 8, 1, Count(1, 18),
       "41 3F 00 27 " CORNERS "00 03 00 02 00 08 01 "
       "00 01 02 03 04 05 06 07 08 09 "
       "00 0A 0B 0C 0D 0E 0F 10 11 12 "
       "00"},
      {"run-length direct, cursor carried into the second row", direct, 4, 2,
       8, 0, {3, 1, 2, 3, 1, 4, 5, 6, 4, 9, 9, 9},
       "41 3F 00 23 " CORNERS "00 04 00 02 00 08 00 00 "
       "00 03 01 02 03 00 01 04 05 06 "
       "00 04 09 09 09 "
       "00"},
      {"local precision 0 takes the colour precision, writes 0", direct16, 1,
       1, 0, 1, {1, 2, 0x1234},
       "41 3A " CORNERS "00 01 00 01 00 00 00 01 00 01 00 02 12 34"},
      {"local precision 0 takes the colour index precision", index32, 2, 1,
       0, 1, {1, 0x01020304},
       "41 3C " CORNERS "00 02 00 01 00 00 00 01 "
       "00 00 00 01 01 02 03 04"},
      {"1-bit indexed rows, each on an even offset", Precisions(), 3, 2, 1, 1,
       {1, 0, 1, 0, 1, 1},
       "41 37 " CORNERS "00 03 00 02 00 01 00 01 A0 00 60 00"},
      {"2-bit indexed row", Precisions(), 5, 1, 2, 1, {3, 1, 2, 0, 1},
       "41 36 " CORNERS "00 05 00 01 00 02 00 01 D8 40"},
      {"4-bit direct rows pack across cells; 31 bytes take the long form",
       direct, 3, 2, 4, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 8, 7, 6, 5, 4, 3,
                            2, 1},
       "41 3F 00 1F " CORNERS "00 03 00 02 00 04 00 01 "
       "12 34 56 78 90 00 98 76 54 32 10 00"},
      {"4-bit direct runs: each run's colours on their own two bytes", direct,
       3, 1, 4, 0, {2, 10, 5, 15, 1, 1, 2, 3},
       "41 3C " CORNERS "00 03 00 01 00 04 00 00 "
       "00 02 A5 F0 00 01 12 30"},
      {"1-bit indexed runs: one byte per colour", Precisions(), 3, 1, 1, 0,
       {2, 1, 1, 0},
       "41 3A " CORNERS "00 03 00 01 00 01 00 00 00 02 80 00 01 00"},
      {"16-bit direct", direct, 1, 1, 16, 1, {65535, 0, 258},
       "41 3A " CORNERS "00 01 00 01 00 10 00 01 FF FF 00 00 01 02"},
      {"24-bit direct", direct, 1, 1, 24, 1, {1, 0x123456, 16777215},
       "41 3D " CORNERS "00 01 00 01 00 18 00 01 "
       "00 00 01 12 34 56 FF FF FF 00"},
      {"32-bit indexed", Precisions(), 2, 1, 32, 1, {-2, 7},
       "41 3C " CORNERS "00 02 00 01 00 20 00 01 FF FF FF FE 00 00 00 07"},
      {"8-bit counts; the 17-byte header puts a zero byte first", int8, 5, 1,
       8, 0, {5, 200},
       "41 34 " CORNERS "05 01 08 00 00 00 05 C8"},
      {"24-bit counts", int24, 70000, 1, 8, 0, {70000, 9},
       "41 3C " CORNERS "01 11 70 00 00 01 00 00 08 00 00 00 01 11 70 09"},
  };
  for (const Case &c : cases) {
    TestWriter w;
    Apply(w, c.setup);
    ASSERT_EQ(Write(w, c.nx, c.ny, c.lp, c.mode, c.cells), 1)
        << c.what << ": " << w.msg();
    EXPECT_EQ(ToHex(w.Written()), ToHex(Hex(c.element))) << c.what;
  }
}

TEST(CellArray, RealCorners) {
  TestWriter w;
  w.d()->Cgm.MetafileDescriptor.VdcType = 1;  // fixed point 16 + 16 bits
  qVDC p[2] = {R(0), R(0)}, q[2] = {R(1.5), R(2)}, r[2] = {R(1.5), R(0)};
  const int cells[] = {42};
  ASSERT_EQ(qCellArray(p, q, r, 1, 1, 8, 1, cells, w.d(), w.msg()), 1)
      << w.msg();
  EXPECT_EQ(ToHex(w.Written()),
            ToHex(Hex("41 3F 00 21 "
                      "00 00 00 00 00 00 00 00 "
                      "00 01 80 00 00 02 00 00 "
                      "00 01 80 00 00 00 00 00 "
                      "00 01 00 01 00 08 00 01 2A 00")));
}

TEST(CellArray, Refused) {
  struct Case {
    const char *what;
    Precisions setup;
    int nx, ny, lp, mode;
    std::vector<int> cells;
    const char *message;
  };
  Precisions int8;
  int8.intPrecision = 8;
  Precisions badColour;
  badColour.direct = 1;
  badColour.colorPrecision = 12;
  const std::vector<int> none = {0};
  const Case cases[] = {
      // The argument checks run in order; the first failing one decides.
      {"precision 3", Precisions(), 0, 0, 3, 2, none,
       "Invalid Local Color Precision: 3\n"},
      {"precision 33", Precisions(), -1, 0, 33, 2, none,
       "Invalid Local Color Precision: 33\n"},
      {"precision 64", Precisions(), 1, 1, 64, 1, none,
       "Invalid Local Color Precision: 64\n"},
      {"precision -1", Precisions(), 0, 0, -1, 7, none,
       "Invalid Local Color Precision: -1\n"},
      {"nx 0", Precisions(), 0, 0, 8, 2, none, "Invalid Value For Nx: 0\n"},
      {"nx -5", Precisions(), -5, 1, 8, 1, none, "Invalid Value For Nx: -5\n"},
      {"ny 0", Precisions(), 1, 0, 8, 2, none, "Invalid Value For Ny: 0\n"},
      {"mode 2", Precisions(), 1, 1, 8, 2, none,
       "Invalid Cell Representation Mode: 2\n"},
      {"mode -1", Precisions(), 1, 1, 8, -1, none,
       "Invalid Cell Representation Mode: -1\n"},
      {"run count 0", Precisions(), 4, 1, 8, 0, {0, 1},
       "Run Length Value Less Than or Equal to Zero: 0\n"},
      {"run count -3 in the second row", Precisions(), 2, 2, 8, 0,
       {2, 1, -3, 1}, "Run Length Value Less Than or Equal to Zero: -3\n"},
      {"runs past the row's end", Precisions(), 4, 1, 8, 0, {3, 1, 2, 1},
       "Sum Of Run Lengths Is Not Nx"},
      {"colour 256 at 8 bits", Precisions(), 2, 1, 8, 1, {1, 256},
       "Value: 256 is too large for 8 bit precision"},
      {"colour -129 in a run", Precisions(), 2, 1, 8, 0, {2, -129},
       "Value: -129 is too large for 8 bit precision"},
      {"run count beyond 8-bit integers", int8, 4, 1, 8, 0, {300, 1},
       "Value: 300 is too large for 8 bit precision"},
      {"nx beyond 8-bit integers", int8, 256, 1, 8, 0, {256, 1},
       "Value: 256 is too large for 8 bit precision"},
      {"a colour precision the writer cannot encode", badColour, 1, 1, 0, 1,
       {1, 2, 3}, "Illegal integer precision: 12\n"},
  };
  for (const Case &c : cases) {
    TestWriter w;
    Apply(w, c.setup);
    EXPECT_EQ(Write(w, c.nx, c.ny, c.lp, c.mode, c.cells), 0) << c.what;
    EXPECT_STREQ(w.msg(), c.message) << c.what;
    EXPECT_TRUE(w.Written().empty()) << c.what;
  }
}

TEST(CellArray, CornerOutOfRangeWritesNothing) {
  TestWriter w;
  qVDC p[2] = {V(70000), V(0)}, q[2] = {V(1), V(1)}, r[2] = {V(1), V(0)};
  const int cells[] = {1};
  EXPECT_EQ(qCellArray(p, q, r, 1, 1, 8, 1, cells, w.d(), w.msg()), 0);
  EXPECT_STREQ(w.msg(), "Value: 70000 is too large for 16 bit precision");
  EXPECT_TRUE(w.Written().empty());
}

TEST(CellArray, RefusedElementLeavesTheNextOneIntact) {
  TestWriter w;
  EXPECT_EQ(Write(w, 2, 1, 8, 1, {7, 300}), 0);
  ASSERT_EQ(Write(w, 1, 1, 8, 1, {7}), 1) << w.msg();
  EXPECT_EQ(ToHex(w.Written()),
            ToHex(Hex("41 35 " CORNERS "00 01 00 01 00 08 00 01 07 00")));
}

// Regression: the running cell total was an int, so at 32-bit counts
// 2 + INT_MAX wrapped below nx and the loop read past the caller's runs.
TEST(CellArray, HugeRunCountAt32BitsEndsTheRow) {
  TestWriter w;
  w.d()->Cgm.MetafileDescriptor.IntegerPrecision = 32;
  EXPECT_EQ(Write(w, 4, 1, 8, 0, {2, 1, INT_MAX, 1}), 0);
  EXPECT_STREQ(w.msg(), "Sum Of Run Lengths Is Not Nx");
  EXPECT_TRUE(w.Written().empty());
}

TEST(CellArray, EncodeCellDataAdvancesTheCursor) {
  char msg[QWCGM_MSG_SIZE] = "";
  unsigned char out[64];
  int ok = 0;
  // A packed direct row of two cells, then a run-length row of two runs
  // read from the same array.
  const int cells[] = {1, 2, 3, 4, 5, 6, 1, 7, 8, 9, 2, 10, 11, 12};
  int cursor = 0;
  EXPECT_EQ(EncodeCellData(out, 2, cells, &cursor, 1, 1, 8, 16, &ok, msg),
            6);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(cursor, 6);
  EXPECT_EQ(ToHex(out, 6), "01 02 03 04 05 06");
  EXPECT_EQ(EncodeCellData(out, 3, cells, &cursor, 0, 1, 8, 16, &ok, msg),
            10);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(cursor, 14);
  EXPECT_EQ(ToHex(out, 10), "00 01 07 08 09 00 02 0A 0B 0C");
  // Any mode other than 1 is run-length.
  cursor = 0;
  const int runs[] = {3, 5};
  EXPECT_EQ(EncodeCellData(out, 3, runs, &cursor, 7, 0, 4, 8, &ok, msg), 2);
  EXPECT_EQ(ToHex(out, 2), "03 50");
  // A failure clears the flag and returns 0.
  cursor = 0;
  EXPECT_EQ(EncodeCellData(out, 2, runs, &cursor, 0, 0, 8, 8, &ok, msg), 0);
  EXPECT_EQ(ok, 0);
  EXPECT_STREQ(msg, "Sum Of Run Lengths Is Not Nx");
}

// ---- the work buffer ----------------------------------------------------

// Joins the partitions of the element at the start of `file` and checks
// that it is one CELL ARRAY with partitions of 32766 bytes.
Bytes Parameters(const Bytes &file) {
  Bytes params;
  if (file.size() < 4 || file[0] != 0x41 || file[1] != 0x3F) return params;
  size_t at = 2;
  for (;;) {
    const unsigned word = static_cast<unsigned>(file.at(at) << 8 | file.at(at + 1));
    const size_t n = word & 0x7FFFu;
    at += 2;
    params.insert(params.end(), file.begin() + static_cast<long>(at),
                  file.begin() + static_cast<long>(at + n));
    at += n;
    if (!(word & 0x8000u)) break;
    EXPECT_EQ(n, 32766u);
  }
  if (params.size() & 1) at++;
  EXPECT_EQ(at, file.size());
  return params;
}

// Real VDC at code 3 (16 + 16 bit fixed point), as the converter writes.
void UseRealVdc(TestWriter &w) {
  w.d()->Cgm.MetafileDescriptor.VdcType = 1;
  w.d()->Cgm.Control.VdcRealPrecision = 3;
}

int WriteStrip(TestWriter &w, int nx, int ny, const std::vector<int> &cells) {
  qVDC p[2] = {R(0), R(0)}, q[2] = {R(2), R(1)}, r[2] = {R(2), R(0)};
  return qCellArray(p, q, r, nx, ny, 8, 1, cells.data(), w.d(), w.msg());
}

std::vector<int> StripCells(int nx, int ny) {
  std::vector<int> cells(static_cast<size_t>(nx) * static_cast<size_t>(ny) * 3);
  for (size_t i = 0; i < cells.size(); i++) cells[i] = static_cast<int>((i * 7 + i / 5118) & 255);
  return cells;
}

TEST(CellArrayWorkBuffer, ConverterWidestStripIsWritten) {
  // 32 header bytes + 100 rows of 1706 * 3 bytes = 511832 bytes: 15 full
  // partitions of 32766 bytes and a last one of 20342 (4F 76).
  TestWriter w;
  UseRealVdc(w);
  w.d()->Cgm.PictureDescriptor.ColorSelectionMode = 1;
  const std::vector<int> cells = StripCells(1706, 100);
  ASSERT_EQ(WriteStrip(w, 1706, 100, cells), 1) << w.msg();
  const Bytes file = w.Written();
  ASSERT_EQ(file.size(), 2u + 16u * 2u + 511832u);
  EXPECT_EQ(ToHex(file.data(), 4), "41 3F FF FE");
  EXPECT_EQ(ToHex(file.data() + 2 + 15 * (2 + 32766), 2), "4F 76");
  const Bytes params = Parameters(file);
  ASSERT_EQ(params.size(), 511832u);
  EXPECT_EQ(ToHex(params.data(), 32),
            "00 00 00 00 00 00 00 00 00 02 00 00 00 01 00 00 "
            "00 02 00 00 00 00 00 00 06 AA 00 64 00 08 00 01");
  for (size_t i = 0; i < cells.size(); i++)
    ASSERT_EQ(params[32 + i], cells[i]) << "value " << i;
}

TEST(CellArrayWorkBuffer, OneCellWiderIsRefused) {
  // 1707 * 3 is odd, so 99 rows get a zero byte before them: 512231 bytes.
  TestWriter w;
  UseRealVdc(w);
  w.d()->Cgm.PictureDescriptor.ColorSelectionMode = 1;
  EXPECT_EQ(WriteStrip(w, 1707, 100, StripCells(1707, 100)), 0);
  EXPECT_STREQ(w.msg(), "Parameter list exceeds work buffer of 512000 bytes\n");
  EXPECT_TRUE(w.Written().empty());
}

TEST(CellArrayWorkBuffer, PackedRowsAtTheLimit) {
  // 32-bit integers and real VDC: a 38-byte header; indexed 8-bit rows take
  // nx bytes each.
  struct Case {
    int nx, ny;
    bool fits;
    const char *what;
  };
  const Case cases[] = {
      {511962, 1, true, "exactly 512000 bytes"},
      {511963, 1, false, "512001 bytes"},
      {255980, 2, true, "511998 bytes"},
      {255981, 2, false, "512000 bytes of rows and header, plus a zero byte "
                         "before the second row"},
  };
  for (const Case &c : cases) {
    TestWriter w;
    UseRealVdc(w);
    w.d()->Cgm.MetafileDescriptor.IntegerPrecision = 32;
    std::vector<int> cells(static_cast<size_t>(c.nx) * static_cast<size_t>(c.ny), 5);
    EXPECT_EQ(WriteStrip(w, c.nx, c.ny, cells), c.fits ? 1 : 0) << c.what;
    const Bytes file = w.Written();
    if (c.fits) {
      const size_t expected = 38 + static_cast<size_t>(c.nx) * static_cast<size_t>(c.ny) +
                              (c.ny == 2 && (c.nx & 1) ? 1 : 0);
      EXPECT_EQ(Parameters(file).size(), expected) << c.what;
    } else {
      EXPECT_STREQ(w.msg(),
                   "Parameter list exceeds work buffer of 512000 bytes\n")
          << c.what;
      EXPECT_TRUE(file.empty()) << c.what;
    }
  }
}

// Runs of one cell alternating between colours 0 and 1; at 32-bit counts
// and 8-bit indexes each takes 5 bytes after the 38-byte header.
std::vector<int> SingleCellRuns(int nx) {
  std::vector<int> runs;
  for (int i = 0; i < nx; i++) {
    runs.push_back(1);
    runs.push_back(i & 1);
  }
  return runs;
}

int WriteRuns(TestWriter &w, int nx, const std::vector<int> &runs) {
  qVDC p[2] = {R(0), R(0)}, q[2] = {R(2), R(1)}, r[2] = {R(2), R(0)};
  return qCellArray(p, q, r, nx, 1, 8, 0, runs.data(), w.d(), w.msg());
}

TEST(CellArrayWorkBuffer, RunsAtTheLimit) {
  {
    TestWriter w;
    UseRealVdc(w);
    w.d()->Cgm.MetafileDescriptor.IntegerPrecision = 32;
    ASSERT_EQ(WriteRuns(w, 102392, SingleCellRuns(102392)), 1) << w.msg();
    EXPECT_EQ(Parameters(w.Written()).size(), 511998u);
  }
  {
    TestWriter w;
    UseRealVdc(w);
    w.d()->Cgm.MetafileDescriptor.IntegerPrecision = 32;
    EXPECT_EQ(WriteRuns(w, 102393, SingleCellRuns(102393)), 0);
    EXPECT_STREQ(w.msg(), "Parameter list exceeds work buffer of 512000 bytes\n");
    EXPECT_TRUE(w.Written().empty());
  }
}

TEST(CellArrayWorkBuffer, FaultsBeforeTheLimitAreReportedFirst) {
  // A bad colour in a run that fits is reported as such; in the run that no
  // longer fits, the buffer refuses first.
  struct Case {
    int badRun;
    const char *message;
  };
  const Case cases[] = {
      {0, "Value: 256 is too large for 8 bit precision"},
      {102391, "Value: 256 is too large for 8 bit precision"},
      {102392, "Parameter list exceeds work buffer of 512000 bytes\n"},
  };
  for (const Case &c : cases) {
    TestWriter w;
    UseRealVdc(w);
    w.d()->Cgm.MetafileDescriptor.IntegerPrecision = 32;
    std::vector<int> runs = SingleCellRuns(102393);
    runs[2 * static_cast<size_t>(c.badRun) + 1] = 256;
    EXPECT_EQ(WriteRuns(w, 102393, runs), 0);
    EXPECT_STREQ(w.msg(), c.message) << "bad run " << c.badRun;
    EXPECT_TRUE(w.Written().empty());
  }
}

// ---- streams that refuse the element --------------------------------------

TEST(CellArrayStream, RefusedParameterBytes) {
  TestWriter w;
  w.d()->Cgm.PictureDescriptor.ColorSelectionMode = 1;
  w.UseFailingStream(4);
  EXPECT_EQ(Write(w, 2, 2, 8, 1, Count(1, 12)), 0);
  EXPECT_STREQ(w.msg(), "Error occurred writing: 32 bytes");
  EXPECT_EQ(ToHex(w.sink()), "41 3F 00 20");
}

TEST(CellArrayStream, DevFull) {
  TestWriter w;
  UseRealVdc(w);
  w.d()->Cgm.PictureDescriptor.ColorSelectionMode = 1;
  FILE *full = std::fopen("/dev/full", "wb");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full";
  std::fclose(w.d()->Outfile);
  w.d()->Outfile = full;
  // The header words wait in the stream's buffer; the first partition
  // overflows it and the device refuses.
  EXPECT_EQ(WriteStrip(w, 1706, 100, StripCells(1706, 100)), 0);
  EXPECT_STREQ(w.msg(), "Error occurred writing: 32766 bytes");
}

}  // namespace
