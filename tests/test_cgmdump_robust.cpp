// cgmdump against bad input: random bytes, every truncation and bit flips of
// valid metafiles, and counts far beyond the bytes present.  Nothing may
// crash (the sanitizer build watches memory), and every failure comes with
// a message.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "CgmDecode.h"
#include "testutil.h"

namespace {

// A metafile with a picture that has something of every kind the renderer
// draws, at the start precisions (integer VDC of 16 bits).
const char kRich[] =
    "00 24 03 61 62 63 10 22 00 01 11 46 00 00 00 FF FF FF 00 61 00 00"
    " 20 42 00 01 20 C8 00 00 00 00 00 0A 00 0A 20 E3 10 20 30 00 00 80"
    " 40 2C 00 01 00 02 00 03 FF FC 00 05 00 06"
    " 40 EC 00 00 00 00 00 04 00 00 00 00 00 03"
    " 41 0C 00 00 00 00 00 01 00 01 00 01 00 03"
    " 41 68 00 01 00 02 00 03 00 04 41 86 00 05 00 05 00 03"
    " 41 CE 00 00 00 00 00 01 00 01 00 02 00 00 00 01"
    " 42 10 00 00 00 00 00 01 00 00 00 00 00 01 00 05 00 00"
    " 42 76 00 00 00 00 00 04 00 00 00 00 00 02 00 01 00 00 00 00 00 01 00 01"
    " 41 3F 00 20 00 00 00 00 00 0A 00 0A 00 0A 00 00 00 02 00 02 00 08 00 01"
    " 01 02 03 04 05 06 07 08 09 0A 0B 0C"
    " 41 3E 00 00 00 00 00 04 00 01 00 04 00 00 00 04 00 01 00 08 00 00 00 03 07 08 09 00 01 09 09 09"
    " 41 4F F4 48 00 01 00 01 00 02 06 00 06 00 01 00 05 00"
    " 00 A0 00 40";

// Runs every tool over the bytes; they must come back, and say why when
// they fail.
void Exercise(const Bytes &file, const std::string &png) {
  cgmd::CheckResult c = cgmd::Check(file.data(), file.size());
  EXPECT_TRUE(c.ok || !c.message.empty());
  std::string error;
  size_t at = 0;
  size_t lines = 0;
  cgmd::DumpOptions o;
  o.full = true;
  bool ok = cgmd::Dump(file.data(), file.size(), o, [&](const std::string &) { lines++; },
                       &error, &at);
  EXPECT_TRUE(ok || !error.empty());
  cgmd::RenderOptions r;
  r.outPath = png;
  r.width = 64;
  std::vector<std::string> warnings;
  error.clear();
  bool drawn = cgmd::Render(file.data(), file.size(), r, &error, &warnings);
  EXPECT_TRUE(drawn || !error.empty());
}

TEST(CgmdumpRobust, ValidRichMetafileChecksAndRenders) {
  Bytes file = Hex(kRich);
  cgmd::CheckResult c = cgmd::Check(file.data(), file.size());
  EXPECT_TRUE(c.ok) << c.offset << ": " << c.message;
  TempPath png(".png");
  std::string error;
  cgmd::RenderOptions r;
  r.outPath = png.path;
  std::vector<std::string> warnings;
  EXPECT_TRUE(cgmd::Render(file.data(), file.size(), r, &error, &warnings)) << error;
  EXPECT_TRUE(warnings.empty());
}

TEST(CgmdumpRobust, EveryTruncationFailsCleanly) {
  Bytes file = Hex(kRich);
  TempPath png(".png");
  for (size_t n = 0; n < file.size(); n++) {
    Bytes cut(file.begin(), file.begin() + static_cast<long>(n));
    cgmd::CheckResult c = cgmd::Check(cut.data(), cut.size());
    EXPECT_FALSE(c.ok) << n;
    EXPECT_FALSE(c.message.empty()) << n;
    Exercise(cut, png.path);
  }
}

TEST(CgmdumpRobust, BitFlipsAndRandomBytes) {
  std::mt19937 rng(12345);
  Bytes file = Hex(kRich);
  TempPath png(".png");
  for (int round = 0; round < 1500; round++) {
    Bytes b = file;
    int flips = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < flips; k++) b[rng() % b.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    Exercise(b, png.path);
  }
  for (int round = 0; round < 1500; round++) {
    Bytes b(rng() % 400);
    for (uint8_t &x : b) x = static_cast<uint8_t>(rng());
    // Start most of them like a metafile so that decoding goes deeper.
    if (round % 2 == 0 && b.size() >= 6) {
      Bytes head = Hex("00 21 00 00 00 61");
      std::copy(head.begin(), head.end(), b.begin());
    }
    Exercise(b, png.path);
  }
}

// Counts far larger than the bytes present are refused by what is there,
// never allocated for.
TEST(CgmdumpRobust, HugeCountsAreCheckedAgainstTheBytes) {
  struct Case {
    const char *what;
    std::string body;
    const char *message;
  };
  const std::vector<Case> cases = {
      // 32767 x 32767 packed 8-bit cells announced, 2 bytes present.
      {"packed cell array", "41 38 00 00 00 00 00 04 00 02 00 04 00 00 7F FF 7F FF 00 08 00 01 01 02",
       "needs 32767 bytes"},
      {"negative nx", "41 36 00 00 00 00 00 04 00 02 00 04 00 00 FF FE 00 01 00 08 00 01 01 02",
       "nx and ny must be greater than 0"},
      {"GDP with 32767 points", "41 48 00 07 7F FF 00 00 00 00", "announces 32767 points"},
      {"PIP record count", "41 4F F4 48 00 01 00 01 00 02 06 00 06 7F FF 00 05 00",
       "announces 32767 values"},
  };
  for (const Case &c : cases) {
    Bytes file = Hex("00 21 00 00 00 61 00 00 00 80 " + c.body + " 00 A0 00 40");
    cgmd::CheckResult r = cgmd::Check(file.data(), file.size());
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_NE(r.message.find(c.message), std::string::npos) << c.what << ": " << r.message;
  }
}

// A run-length cell array of 2147483647 x 1 cells in one run (32-bit
// integers): valid, and drawn in bounded memory.
TEST(CgmdumpRobust, HugeRunLengthCellArrayIsDrawnSampled) {
  Bytes file = Hex(
      "00 21 00 00 10 82 00 20 00 61 00 00 20 42 00 01 20 C8 00 00 00 00 00 04 00 02 00 80"
      // P (0,0) Q (4,2) R (4,0); nx 2147483647, ny 1, precision 8, mode 0;
      // one run of all cells: count, then red.
      " 41 3F 00 21 00 00 00 00 00 04 00 02 00 04 00 00 7F FF FF FF 00 00 00 01 00 00 00 08 00 00"
      " 7F FF FF FF FF 00 00 00"
      " 00 A0 00 40");
  cgmd::CheckResult r = cgmd::Check(file.data(), file.size());
  ASSERT_TRUE(r.ok) << r.offset << ": " << r.message;
  TempPath png(".png");
  std::string error;
  cgmd::RenderOptions o;
  o.outPath = png.path;
  o.width = 40;
  std::vector<std::string> warnings;
  EXPECT_TRUE(cgmd::Render(file.data(), file.size(), o, &error, &warnings)) << error;
  // Expanding it into memory is refused.
  cgmd::Walker w(file.data(), file.size());
  cgmd::Element e;
  while (w.Next(&e) && !e.isCellArray) {
  }
  ASSERT_TRUE(e.isCellArray);
  std::vector<int64_t> cells;
  EXPECT_FALSE(cgmd::ExpandCells(e, 1u << 20, &cells, &error));
  std::string dump;
  cgmd::DumpOptions d;
  d.full = true;
  size_t at;
  cgmd::Dump(file.data(), file.size(), d, [&](const std::string &l) { dump += l + "\n"; }, &error,
             &at);
  EXPECT_NE(dump.find("(2147483647*(255 0 0));"), std::string::npos) << dump;
}

}  // namespace
