// Fault injection: picmeta's output file fails at every byte offset of a
// complete small conversion.  picmeta runs as a child process whose file
// size limit is k bytes (SIGXFSZ ignored), so the kernel accepts the first
// k bytes and every write past them fails with EFBIG, exactly as on a full
// disk.  For every k the run must not exit 0, must print the library's
// message on standard output, and must leave in the metafile exactly the
// first k bytes of a good run.  The same for /dev/full as the output file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faultkit.h"
#include "testutil.h"

#ifdef PICMETA_EXE

namespace {

using faultkit::Limits;
using faultkit::Outcome;

// The library's write failures, as picmeta prints them ("%s\n").
bool HasWriteMessage(const std::string &out) {
  if (out.find("\nError occurred closing output file\n") != std::string::npos)
    return true;
  const std::string head = "\nError occurred writing: ";
  for (size_t at = out.find(head); at != std::string::npos;
       at = out.find(head, at + 1)) {
    size_t i = at + head.size();
    const size_t digits = i;
    while (i < out.size() && out[i] >= '0' && out[i] <= '9') i++;
    if (i > digits && out.compare(i, 7, " bytes\n") == 0) return true;
  }
  return false;
}

struct Conversion {
  TempPath image{".ppm"};
  TempPath cgm{".cgm"};
  Bytes good;  // the metafile of a run without limits

  explicit Conversion(const Bytes &ppm) {
    faultkit::WriteBytes(image.path, ppm);
    const Outcome o = Run(Limits());
    EXPECT_TRUE(o.exited && o.status == 0) << o.err;
    good = ReadFile(cgm.path);
  }
  Outcome Run(const Limits &limits) const {
    return faultkit::Run({PICMETA_EXE, image.path, cgm.path}, "\n", limits);
  }
  // Runs with the output failing from offset k and checks the outcome.
  void FailAt(size_t k) const {
    SCOPED_TRACE("output fails from byte " + std::to_string(k) + " of " +
                 std::to_string(good.size()));
    Limits limits;
    limits.fileSize = static_cast<long long>(k);
    const Outcome o = Run(limits);
    ASSERT_TRUE(o.exited) << "ended by signal " << o.signal << "\n" << o.err;
    const Bytes got = ReadFile(cgm.path);
    if (k >= good.size()) {
      EXPECT_EQ(o.status, 0) << o.out << o.err;
      EXPECT_EQ(got, good);
      return;
    }
    EXPECT_NE(o.status, 0) << "a failed write reported as success";
    EXPECT_TRUE(HasWriteMessage(o.out)) << "standard output:\n" << o.out;
    ASSERT_EQ(got.size(), k) << "the metafile should hold the bytes before "
                                "the failure and nothing else";
    EXPECT_TRUE(std::equal(got.begin(), got.end(), good.begin()))
        << "the bytes before the failure differ from a good run's";
  }
};

// Where elements and partitions begin in a metafile: the offsets around
// which a partial write is most likely to go wrong.
std::vector<size_t> Boundaries(const Bytes &b) {
  std::vector<size_t> at;
  size_t i = 0;
  while (i + 2 <= b.size()) {
    at.push_back(i);
    const int word = b[i] << 8 | b[i + 1];
    i += 2;
    size_t len = static_cast<size_t>(word & 31);
    bool more = false;
    size_t total = 0;
    if (len == 31) {
      do {
        at.push_back(i);
        const int lw = b[i] << 8 | b[i + 1];
        more = (lw & 0x8000) != 0;
        len = static_cast<size_t>(lw & 0x7FFF);
        i += 2 + len;
        total += len;
      } while (more && i + 2 <= b.size());
    } else {
      i += len;
      total = len;
    }
    if (total % 2) i++;
  }
  at.push_back(b.size());
  return at;
}

}  // namespace

// A 6 x 5 image: one strip; a metafile of a few hundred bytes.  Every
// offset from 0 (nothing written) to one past the end (no failure).
TEST(OutputFaults, EveryOffsetOfASmallConversion) {
  Conversion c(faultkit::Ppm(6, 5));
  ASSERT_GT(c.good.size(), 100u);
  ASSERT_LT(c.good.size(), 1000u);
  for (size_t k = 0; k <= c.good.size() + 1; k++) {
    c.FailAt(k);
    if (::testing::Test::HasFailure()) break;
  }
}

// An image of 300 x 120 pixels: two strips of cell arrays long enough to be
// written in partitions (about 90 KB in all).  The output fails around
// every element and partition boundary and at a stride in between.
TEST(OutputFaults, AroundEveryElementAndPartitionOfTwoStrips) {
  Conversion c(faultkit::Ppm(300, 120));
  std::vector<size_t> offsets;
  for (size_t b : Boundaries(c.good))
    for (size_t d = 0; d < 6; d++)
      if (b + d >= 3) offsets.push_back(b + d - 3);
  for (size_t k = 0; k < c.good.size(); k += 4999) offsets.push_back(k);
  ASSERT_GT(offsets.size(), 40u);
  for (size_t k : offsets) {
    c.FailAt(k);
    if (::testing::Test::HasFailure()) break;
  }
}

// An output larger than the stream's buffer: the first failure then shows
// in a write during a cell array, not when the file is closed.
TEST(OutputFaults, FailureWhileCellArraysAreWritten) {
  Conversion c(faultkit::Ppm(640, 640));
  ASSERT_GT(c.good.size(), size_t{1} << 20);
  for (size_t k : {size_t{0}, size_t{4096}, (size_t{1} << 20) - 1,
                   size_t{1} << 20, (size_t{1} << 20) + 1, c.good.size() - 1}) {
    c.FailAt(k);
    if (::testing::Test::HasFailure()) break;
  }
}

TEST(OutputFaults, DevFull) {
  if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TempPath image(".ppm");
  faultkit::WriteBytes(image.path, faultkit::Ppm(6, 5));
  const Outcome o =
      faultkit::Run({PICMETA_EXE, image.path, "/dev/full"}, "\n", Limits());
  ASSERT_TRUE(o.exited) << o.err;
  EXPECT_NE(o.status, 0);
  EXPECT_TRUE(HasWriteMessage(o.out)) << o.out;
}

#else

TEST(OutputFaults, NeedsPicmeta) { GTEST_SKIP() << "picmeta is not built"; }

#endif
