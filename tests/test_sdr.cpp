// Structured data records: EncodeSDR members at the default precisions and
// at others, the refused codes and counts, and GetSDRTypePrecision.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

// A writer state record with the library's defaults and no open file:
// EncodeSDR only reads precisions from it.
std::unique_ptr<qWCGM_DATA> Defaults() {
  std::unique_ptr<qWCGM_DATA> d(new qWCGM_DATA());
  InitializeDefaults(&d->Cgm);
  return d;
}

using Tweak = std::function<void(qWCGM_DATA *)>;

struct MemberCase {
  const char *name;
  Tweak tweak;  // precisions to set before encoding; may be empty
  int code;
  int count;
  std::vector<int> ints;  // empty: pass a null int array
  std::vector<double> reals;  // empty: pass a null real array
  const char *hex;
};

void NoTweak(qWCGM_DATA *) {}

TEST(StructuredDataRecords, MemberBytes) {
  const std::vector<MemberCase> cases = {
      // Type code at EnumPrecision, count at IntegerPrecision, then values.
      {"I at the defaults", NoTweak, 6, 1, {5}, {}, "00 06 00 01 00 05"},
      {"CD: three components per colour", NoTweak, 3, 2, {1, 2, 3, 250, 251, 252}, {},
       "00 03 00 02 01 02 03 FA FB FC"},
      {"CD at 16-bit colour", [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.ColorPrecision = 16; }, 3, 1,
       {1, 2, 65535}, {}, "00 03 00 01 00 01 00 02 FF FF"},
      {"CI at 8-bit colour index", NoTweak, 2, 3, {0, 63, 255}, {}, "00 02 00 03 00 3F FF"},
      {"CI at 24-bit colour index", [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.ColorIndexPrecision = 24; },
       2, 1, {70000}, {}, "00 02 00 01 01 11 70"},
      {"E", NoTweak, 5, 2, {0, 1}, {}, "00 05 00 02 00 00 00 01"},
      {"IF8", NoTweak, 8, 2, {-128, 255}, {}, "00 08 00 02 80 FF"},
      {"IF16", NoTweak, 9, 2, {-2, 65535}, {}, "00 09 00 02 FF FE FF FF"},
      {"IF32", NoTweak, 10, 1, {-2}, {}, "00 0A 00 01 FF FF FF FE"},
      {"IX at 16 bits", NoTweak, 11, 1, {7}, {}, "00 0B 00 01 00 07"},
      {"IX at 32 bits", [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.IndexPrecision = 32; }, 11, 1, {7}, {},
       "00 0B 00 01 00 00 00 07"},
      {"R at code 3", NoTweak, 12, 1, {}, {0.5}, "00 0C 00 01 00 00 80 00"},
      {"R at code 1", [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.RealPrecision = 1; }, 12, 2, {},
       {1.0, -2.5}, "00 0C 00 02 3F 80 00 00 C0 20 00 00"},
      {"R at code 2", [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.RealPrecision = 2; }, 12, 1, {}, {0.5},
       "00 0C 00 01 3F E0 00 00 00 00 00 00"},
      {"R at code 4", [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.RealPrecision = 4; }, 12, 1, {}, {-0.5},
       "00 0C 00 01 FF FF FF FF 80 00 00 00"},
      {"VDC, integer VDC reads the int array", NoTweak, 16, 2, {1, -1}, {}, "00 10 00 02 00 01 FF FF"},
      {"VDC, 24-bit integer VDC", [](qWCGM_DATA *d) { d->Cgm.Control.VdcIntegerPrecision = 24; }, 16, 1,
       {40000}, {}, "00 10 00 01 00 9C 40"},
      {"VDC, real VDC reads the real array", [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.VdcType = 1; },
       16, 1, {}, {-0.5}, "00 10 00 01 FF FF 80 00"},
      {"VDC, real VDC at code 2",
       [](qWCGM_DATA *d) {
         d->Cgm.MetafileDescriptor.VdcType = 1;
         d->Cgm.Control.VdcRealPrecision = 2;
       },
       16, 1, {}, {25.4}, "00 10 00 01 40 39 66 66 66 66 66 66"},
      {"count 0: type and count only, no array needed", NoTweak, 6, 0, {}, {}, "00 06 00 00"},
      {"count 0 of colours", NoTweak, 3, 0, {}, {}, "00 03 00 00"},
      {"8-bit integers", [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.IntegerPrecision = 8; }, 6, 1, {5}, {},
       "00 06 01 05"},
      {"24-bit integers", [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.IntegerPrecision = 24; }, 6, 1, {5},
       {}, "00 06 00 00 01 00 00 05"},
      {"32-bit integers", [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.IntegerPrecision = 32; }, 6, 1, {-5},
       {}, "00 06 00 00 00 01 FF FF FF FB"},
      {"8-bit enumerations", [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.EnumPrecision = 8; }, 5, 1, {1}, {},
       "05 00 01 01"},
  };
  for (const MemberCase &c : cases) {
    SCOPED_TRACE(c.name);
    auto d = Defaults();
    c.tweak(d.get());
    unsigned char dst[64];
    std::memset(dst, 0xAA, sizeof dst);
    char msg[QWCGM_MSG_SIZE] = "";
    int ok = -1;
    const int n = EncodeSDR(c.ints.empty() ? nullptr : c.ints.data(),
                            c.reals.empty() ? nullptr : c.reals.data(), c.code, c.count, dst, d.get(),
                            &ok, msg);
    EXPECT_EQ(ok, 1) << msg;
    const Bytes expected = Hex(c.hex);
    ASSERT_EQ(n, static_cast<int>(expected.size()));
    EXPECT_EQ(ToHex(dst, expected.size()), ToHex(expected));
    EXPECT_EQ(dst[n], 0xAA);  // nothing past the member
  }
}

struct RefusalCase {
  const char *name;
  Tweak tweak;
  int code;
  int count;
  const int *ints;
  const double *reals;
  const char *message;
  const char *written;  // what the destination holds when the member is refused
};

const int kInts[6] = {1, 2, 3, 4, 5, 6};
const double kReals[2] = {0.5, 1.5};
const int kSevenThreeHundred[2] = {7, 300};

TEST(StructuredDataRecords, RefusedMembers) {
  const std::vector<RefusalCase> cases = {
      // Sized but not encodable; the type and count are already written.
      {"UI8", NoTweak, 18, 1, kInts, kReals, "Uncoded SDR Type: 18\n", "00 12 00 01"},
      {"UI32", NoTweak, 19, 1, kInts, kReals, "Uncoded SDR Type: 19\n", "00 13 00 01"},
      {"UI16", NoTweak, 22, 1, kInts, kReals, "Uncoded SDR Type: 22\n", "00 16 00 01"},
      {"code 0", NoTweak, 0, 1, kInts, kReals, "Uncoded SDR Type: 0\n", "00 00 00 01"},
      {"code 1", NoTweak, 1, 1, kInts, kReals, "Uncoded SDR Type: 1\n", "00 01 00 01"},
      {"code 13", NoTweak, 13, 1, kInts, kReals, "Uncoded SDR Type: 13\n", "00 0D 00 01"},
      {"code 23", NoTweak, 23, 1, kInts, kReals, "Uncoded SDR Type: 23\n", "00 17 00 01"},
      {"refused code with null arrays reads nothing", NoTweak, 4, 1000, nullptr, nullptr,
       "Uncoded SDR Type: 4\n", "00 04 03 E8"},
      {"IF8 value 300", NoTweak, 8, 2, kSevenThreeHundred, nullptr,
       "Value: 300 is too large for 8 bit precision", "00 08 00 02 07"},
      {"R at an invalid real precision code",
       [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.RealPrecision = 5; }, 12, 1, nullptr, kReals,
       "Invalid Real Precision Index: 5\n", "00 0C 00 01"},
      {"type code beyond 8-bit enumerations",
       [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.EnumPrecision = 8; }, 300, 1, kInts, kReals,
       "Value: 300 is too large for 8 bit precision", ""},
      // Regression: a negative count was written and then used as a value
      // count.
      {"negative count", NoTweak, 6, -1, kInts, kReals, "Invalid SDR Count: -1\n", ""},
      // Regression: members read through a null array.
      {"I without its int array", NoTweak, 6, 3, nullptr, kReals, "Missing SDR Data For Type: 6\n",
       "00 06 00 03"},
      {"CD without its int array", NoTweak, 3, 1, nullptr, kReals, "Missing SDR Data For Type: 3\n",
       "00 03 00 01"},
      {"R without its real array", NoTweak, 12, 2, kInts, nullptr, "Missing SDR Data For Type: 12\n",
       "00 0C 00 02"},
      {"VDC at real VDC without its real array",
       [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.VdcType = 1; }, 16, 1, kInts, nullptr,
       "Missing SDR Data For Type: 16\n", "00 10 00 01"},
      {"VDC at integer VDC without its int array", NoTweak, 16, 1, nullptr, kReals,
       "Missing SDR Data For Type: 16\n", "00 10 00 01"},
  };
  for (const RefusalCase &c : cases) {
    SCOPED_TRACE(c.name);
    auto d = Defaults();
    c.tweak(d.get());
    unsigned char dst[64];
    std::memset(dst, 0xAA, sizeof dst);
    char msg[QWCGM_MSG_SIZE] = "";
    int ok = -1;
    EXPECT_EQ(EncodeSDR(c.ints, c.reals, c.code, c.count, dst, d.get(), &ok, msg), 0);
    EXPECT_EQ(ok, 0);
    EXPECT_STREQ(msg, c.message);
    const Bytes written = Hex(c.written);
    EXPECT_EQ(ToHex(dst, written.size() + 1), ToHex(written) + (written.empty() ? "AA" : " AA"));
  }
}

TEST(StructuredDataRecords, HugeColourCountIsRefused) {
  // Regression: 3 * count overflowed int for direct colours.
  auto d = Defaults();
  unsigned char dst[8];
  char msg[QWCGM_MSG_SIZE] = "";
  int ok = -1;
  EXPECT_EQ(EncodeSDR(kInts, nullptr, 3, 1000000000, dst, d.get(), &ok, msg), 0);
  EXPECT_EQ(ok, 0);
  EXPECT_STREQ(msg, "Invalid SDR Count: 1000000000\n");
}

TEST(StructuredDataRecords, TypePrecisionAtTheDefaults) {
  // Bits of one value, codes 0 to 23 and one beyond each end.
  const int expected[25] = {
      0,                                        // -1
      0, 0, 8, 24, 0, 16, 16, 0, 8, 16, 32, 16,  // 0 to 11
      32, 0, 0, 0, 16, 0, 8, 32, 0, 0, 16, 0};   // 12 to 23
  auto d = Defaults();
  for (int code = -1; code <= 23; code++) {
    SCOPED_TRACE(code);
    EXPECT_EQ(GetSDRTypePrecision(code, d.get()), expected[code + 1]);
  }
  EXPECT_EQ(GetSDRTypePrecision(1000, d.get()), 0);
}

TEST(StructuredDataRecords, TypePrecisionFollowsTheWriter) {
  auto d = Defaults();
  qWCGM_METAFILE_DESCRIPTOR_DATA &md = d->Cgm.MetafileDescriptor;
  md.ColorIndexPrecision = 16;
  md.ColorPrecision = 16;
  md.EnumPrecision = 8;
  md.IntegerPrecision = 32;
  md.IndexPrecision = 24;
  d->Cgm.Control.VdcIntegerPrecision = 32;
  EXPECT_EQ(GetSDRTypePrecision(2, d.get()), 16);
  EXPECT_EQ(GetSDRTypePrecision(3, d.get()), 48);
  EXPECT_EQ(GetSDRTypePrecision(5, d.get()), 8);
  EXPECT_EQ(GetSDRTypePrecision(6, d.get()), 32);
  EXPECT_EQ(GetSDRTypePrecision(11, d.get()), 24);
  EXPECT_EQ(GetSDRTypePrecision(16, d.get()), 32);
  // Reals: 64 bits at codes 2 and 4, else 32.
  const int realBits[5] = {32, 32, 64, 32, 64};
  for (int code = 1; code <= 4; code++) {
    SCOPED_TRACE(code);
    md.RealPrecision = code;
    EXPECT_EQ(GetSDRTypePrecision(12, d.get()), realBits[code]);
    md.VdcType = 1;
    d->Cgm.Control.VdcRealPrecision = code;
    EXPECT_EQ(GetSDRTypePrecision(16, d.get()), realBits[code]);
    md.VdcType = 0;
  }
  // The fixed sizes do not move.
  EXPECT_EQ(GetSDRTypePrecision(8, d.get()), 8);
  EXPECT_EQ(GetSDRTypePrecision(9, d.get()), 16);
  EXPECT_EQ(GetSDRTypePrecision(10, d.get()), 32);
  EXPECT_EQ(GetSDRTypePrecision(18, d.get()), 8);
  EXPECT_EQ(GetSDRTypePrecision(19, d.get()), 32);
  EXPECT_EQ(GetSDRTypePrecision(22, d.get()), 16);
}

TEST(StructuredDataRecords, SizeFormulaMatchesTheEncodedMember) {
  // EnumPrecision + IntegerPrecision + count * bits per value, in bytes.
  auto d = Defaults();
  d->Cgm.MetafileDescriptor.IntegerPrecision = 24;
  d->Cgm.MetafileDescriptor.RealPrecision = 4;
  const int ints[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  const double reals[3] = {0.25, 0.5, 0.75};
  std::vector<unsigned char> dst(256);
  for (int code : {2, 3, 5, 6, 8, 9, 10, 11, 12, 16}) {
    SCOPED_TRACE(code);
    char msg[QWCGM_MSG_SIZE] = "";
    int ok = 0;
    const int n = EncodeSDR(ints, reals, code, 3, dst.data(), d.get(), &ok, msg);
    ASSERT_EQ(ok, 1) << msg;
    EXPECT_EQ(n * 8, 16 + 24 + 3 * GetSDRTypePrecision(code, d.get()));
  }
}

}  // namespace
