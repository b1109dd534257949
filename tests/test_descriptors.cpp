// Delimiters, metafile descriptor and picture descriptor elements: their
// bytes, the state they record, and what they refuse.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Quil.h"
#include "testutil.h"

namespace {

using Call = std::function<int(qWCGM_DATA *, char *)>;

struct ElementCase {
  const char *name;
  Call call;
  const char *bytes;  // what the element adds to the file
};

void RunTable(const std::vector<ElementCase> &cases) {
  for (const ElementCase &c : cases) {
    TestWriter w;
    ASSERT_EQ(c.call(w.d(), w.msg()), 1) << c.name << ": " << w.msg();
    EXPECT_EQ(ToHex(w.Written()), ToHex(Hex(c.bytes))) << c.name;
  }
}

TEST(Delimiters, Bytes) {
  const std::string pictureName = "Picture begins.....";
  std::string pictureBytes = "00 74 13";
  for (char ch : pictureName) pictureBytes += " " + ToHex(Bytes{static_cast<uint8_t>(ch)});
  RunTable({
      {"END METAFILE", [](qWCGM_DATA *d, char *m) { return qEndMetafile(d, m); }, "00 40"},
      {"BEGIN PICTURE BODY", [](qWCGM_DATA *d, char *m) { return qBeginPictureBody(d, m); }, "00 80"},
      {"END PICTURE", [](qWCGM_DATA *d, char *m) { return qEndPicture(d, m); }, "00 A0"},
      {"BEGIN METAFILE abc", [](qWCGM_DATA *d, char *m) { return qBeginMetafile("abc", d, m); },
       "00 24 03 61 62 63"},
      {"BEGIN METAFILE a.cgm", [](qWCGM_DATA *d, char *m) { return qBeginMetafile("a.cgm", d, m); },
       "00 26 05 61 2E 63 67 6D"},
      {"BEGIN PICTURE empty", [](qWCGM_DATA *d, char *m) { return qBeginPicture("", d, m); },
       "00 61 00 00"},
      {"BEGIN PICTURE name",
       [&](qWCGM_DATA *d, char *m) { return qBeginPicture(pictureName.c_str(), d, m); },
       pictureBytes.c_str()},
      {"NO-OP 0", [](qWCGM_DATA *d, char *m) { return qNoopId(0, d, m); }, "00 00"},
      {"NO-OP -5", [](qWCGM_DATA *d, char *m) { return qNoopId(-5, d, m); }, "00 00"},
      {"NO-OP 3", [](qWCGM_DATA *d, char *m) { return qNoopId(3, d, m); }, "00 03 00 00 00 00"},
  });
}

TEST(Delimiters, LongNamesAndFillers) {
  {
    TestWriter w;
    ASSERT_EQ(qNoopId(31, w.d(), w.msg()), 1);
    Bytes expect = Hex("00 1F 00 1F");
    expect.resize(expect.size() + 31 + 1, 0);  // 31 zero bytes and the pad byte
    EXPECT_TRUE(w.Written() == expect);
  }
  {
    // 300 characters: the long string form inside the long element form.
    TestWriter w;
    std::string name(300, 'm');
    ASSERT_EQ(qBeginMetafile(name.c_str(), w.d(), w.msg()), 1);
    Bytes expect = Hex("00 3F 01 2F FF 01 2C");  // L = 303; string FF, 300
    expect.insert(expect.end(), name.begin(), name.end());
    expect.push_back(0);  // pad: 303 is odd
    EXPECT_TRUE(w.Written() == expect);
  }
  {
    // The largest filler that fits the work buffer is written whole.
    TestWriter w;
    ASSERT_EQ(qNoopId(QWCGM_WORK_BUFFER_SIZE, w.d(), w.msg()), 1) << w.msg();
    EXPECT_EQ(w.Written().size(), 2u + 2u * 16u + 512000u);  // 16 partitions, even length
  }
}

// A filler longer than the work buffer would be staged past its end.
TEST(Delimiters, OversizedNoopIsRefused) {
  TestWriter w;
  EXPECT_EQ(qNoopId(QWCGM_WORK_BUFFER_SIZE + 1, w.d(), w.msg()), 0);
  EXPECT_STREQ(w.msg(), "Parameter list exceeds work buffer of 512000 bytes\n");
  EXPECT_TRUE(w.Written().empty());
  std::string huge(QWCGM_WORK_BUFFER_SIZE, 'x');
  EXPECT_EQ(qBeginPicture(huge.c_str(), w.d(), w.msg()), 0);
  EXPECT_STREQ(w.msg(), "Parameter list exceeds work buffer of 512000 bytes\n");
  EXPECT_TRUE(w.Written().empty());
}

TEST(MetafileDescriptor, Bytes) {
  static const int list[4] = {1, 1, 4, 9};
  static const int extent[6] = {0, 0, 0, 255, 255, 255};
  static const char *const fonts[2] = {"A", "BC"};
  static const int csTypes[1] = {0};
  static const char *const csTails[1] = {"B"};
  RunTable({
      {"VERSION", [](qWCGM_DATA *d, char *m) { return qVersion(d, m); }, "10 22 00 01"},
      {"DESCRIPTION", [](qWCGM_DATA *d, char *m) { return qDescription("x", d, m); }, "10 42 01 78"},
      {"VDC TYPE", [](qWCGM_DATA *d, char *m) { return qVdcType(1, d, m); }, "10 62 00 01"},
      {"INTEGER PRECISION", [](qWCGM_DATA *d, char *m) { return qIntegerPrecision(32, d, m); },
       "10 82 00 20"},
      {"REAL PRECISION 3", [](qWCGM_DATA *d, char *m) { return qRealPrecision(3, d, m); },
       "10 A6 00 01 00 10 00 10"},
      {"REAL PRECISION 1", [](qWCGM_DATA *d, char *m) { return qRealPrecision(1, d, m); },
       "10 A6 00 00 00 09 00 17"},
      {"REAL PRECISION 2", [](qWCGM_DATA *d, char *m) { return qRealPrecision(2, d, m); },
       "10 A6 00 00 00 0C 00 34"},
      {"REAL PRECISION 4", [](qWCGM_DATA *d, char *m) { return qRealPrecision(4, d, m); },
       "10 A6 00 01 00 20 00 20"},
      {"INDEX PRECISION", [](qWCGM_DATA *d, char *m) { return qIndexPrecision(8, d, m); }, "10 C2 00 08"},
      {"COLOUR PRECISION", [](qWCGM_DATA *d, char *m) { return qColorPrecision(8, d, m); }, "10 E2 00 08"},
      {"COLOUR INDEX PRECISION", [](qWCGM_DATA *d, char *m) { return qColorIndexPrecision(16, d, m); },
       "11 02 00 10"},
      {"MAXIMUM COLOUR INDEX", [](qWCGM_DATA *d, char *m) { return qMaxColorIndex(255, d, m); },
       "11 21 FF 00"},
      {"COLOUR VALUE EXTENT", [](qWCGM_DATA *d, char *m) { return qColorValueExtent(extent, d, m); },
       "11 46 00 00 00 FF FF FF"},
      {"ELEMENT LIST explicit",
       [](qWCGM_DATA *d, char *m) { return qMetafileElementsList(d, 0, 0, list, 2, m); },
       "11 6A 00 02 00 01 00 01 00 04 00 09"},
      {"ELEMENT LIST drawing set",
       [](qWCGM_DATA *d, char *m) { return qMetafileElementsList(d, 1, 0, nullptr, 0, m); },
       "11 66 00 01 FF FF 00 00"},
      {"ELEMENT LIST drawing plus control",
       [](qWCGM_DATA *d, char *m) { return qMetafileElementsList(d, 0, 1, nullptr, 0, m); },
       "11 66 00 01 FF FF 00 01"},
      {"ELEMENT LIST both flags",
       [](qWCGM_DATA *d, char *m) { return qMetafileElementsList(d, 1, 1, nullptr, 0, m); },
       "11 66 00 01 FF FF 00 01"},
      {"ELEMENT LIST empty",
       [](qWCGM_DATA *d, char *m) { return qMetafileElementsList(d, 0, 0, nullptr, 0, m); },
       "11 62 00 00"},
      {"FONT LIST", [](qWCGM_DATA *d, char *m) { return qFontList(2, fonts, d, m); },
       "11 A5 01 41 02 42 43 00"},
      {"FONT LIST empty", [](qWCGM_DATA *d, char *m) { return qFontList(0, nullptr, d, m); }, "11 A0"},
      {"CHARACTER SET LIST",
       [](qWCGM_DATA *d, char *m) { return qCharacterSetList(csTypes, csTails, 1, d, m); },
       "11 C4 00 00 01 42"},
      {"CHARACTER CODING ANNOUNCER",
       [](qWCGM_DATA *d, char *m) { return qCharacterCodingAnnouncer(0, d, m); }, "11 E2 00 00"},
  });
}

TEST(PictureDescriptor, Bytes) {
  static const qVDC c0[2] = {{0, 0}, {0, 0}};
  static const qVDC c1[2] = {{32767, 0}, {32767, 0}};
  static const int white[3] = {255, 255, 255};
  RunTable({
      {"SCALING MODE metric", [](qWCGM_DATA *d, char *m) { return qScalingMode(1, 25.4, d, m); },
       "20 26 00 01 41 CB 33 33"},
      {"SCALING MODE abstract", [](qWCGM_DATA *d, char *m) { return qScalingMode(0, 1.0, d, m); },
       "20 26 00 00 3F 80 00 00"},
      {"COLOUR SELECTION MODE", [](qWCGM_DATA *d, char *m) { return qColorSelectionMode(1, d, m); },
       "20 42 00 01"},
      {"LINE WIDTH SPECIFICATION MODE",
       [](qWCGM_DATA *d, char *m) { return qLineWidthSpecificationMode(0, d, m); }, "20 62 00 00"},
      {"MARKER SIZE SPECIFICATION MODE",
       [](qWCGM_DATA *d, char *m) { return qMarkerSizeSpecificationMode(1, d, m); }, "20 82 00 01"},
      {"EDGE WIDTH SPECIFICATION MODE",
       [](qWCGM_DATA *d, char *m) { return qEdgeWidthSpecificationMode(1, d, m); }, "20 A2 00 01"},
      {"VDC EXTENT integer", [](qWCGM_DATA *d, char *m) { return qVdcExtent(c0, c1, d, m); },
       "20 C8 00 00 00 00 7F FF 7F FF"},
      {"VDC EXTENT real",
       [](qWCGM_DATA *d, char *m) {
         d->Cgm.MetafileDescriptor.VdcType = 1;
         const qVDC a[2] = {{0, -0.5}, {0, -0.5}};
         const qVDC b[2] = {{0, 640.5}, {0, 480.5}};
         return qVdcExtent(a, b, d, m);
       },
       "20 D0 FF FF 80 00 FF FF 80 00 02 80 80 00 01 E0 80 00"},
      {"BACKGROUND COLOUR", [](qWCGM_DATA *d, char *m) { return qBackgroundColor(white, d, m); },
       "20 E3 FF FF FF 00"},
  });
}

// Each refused argument: its message, nothing written, no state changed.
TEST(Descriptors, RefusedArguments) {
  struct Case {
    const char *name;
    Call call;
    const char *message;
  };
  static const int badList[2] = {1, 1};
  static const int badColor[3] = {256, 0, 0};
  const Case cases[] = {
      {"VdcType 2", [](qWCGM_DATA *d, char *m) { return qVdcType(2, d, m); }, "Invalid VdcType: 2\n"},
      {"IntegerPrecision 12", [](qWCGM_DATA *d, char *m) { return qIntegerPrecision(12, d, m); },
       "Invalid Integer Precision: 12\n"},
      {"RealPrecision 5", [](qWCGM_DATA *d, char *m) { return qRealPrecision(5, d, m); },
       "Invalid Real Precision Code: 5\n"},
      {"IndexPrecision 0", [](qWCGM_DATA *d, char *m) { return qIndexPrecision(0, d, m); },
       "Invalid Index Precision: 0\n"},
      {"ColorPrecision 4", [](qWCGM_DATA *d, char *m) { return qColorPrecision(4, d, m); },
       "Invalid Color Precision: 4\n"},
      {"ColorIndexPrecision 64", [](qWCGM_DATA *d, char *m) { return qColorIndexPrecision(64, d, m); },
       "Invalid Color Index Precision: 64\n"},
      {"MaxColorIndex 256", [](qWCGM_DATA *d, char *m) { return qMaxColorIndex(256, d, m); },
       "Value: 256 is too large for 8 bit precision"},
      // A negative count would otherwise reach the framing as a negative
      // length and give a corrupt header reported as success.
      {"ElementList -1",
       [](qWCGM_DATA *d, char *m) { return qMetafileElementsList(d, 0, 0, badList, -1, m); },
       "Invalid Element List Count: -1\n"},
      {"ElementList too long",
       [](qWCGM_DATA *d, char *m) { return qMetafileElementsList(d, 0, 0, badList, 200000, m); },
       "Parameter list exceeds work buffer of 512000 bytes\n"},
      {"ScalingMode 2", [](qWCGM_DATA *d, char *m) { return qScalingMode(2, 1.0, d, m); },
       "Invalid Scaling Mode: 2\n"},
      {"ColorSelectionMode 3", [](qWCGM_DATA *d, char *m) { return qColorSelectionMode(3, d, m); },
       "Invalid Color Selection Mode: 3\n"},
      {"LineWidth -1", [](qWCGM_DATA *d, char *m) { return qLineWidthSpecificationMode(-1, d, m); },
       "Invalid Line Width Selection Mode: -1\n"},
      {"MarkerSize 2", [](qWCGM_DATA *d, char *m) { return qMarkerSizeSpecificationMode(2, d, m); },
       "Invalid Marker Size Specification Mode: 2\n"},
      {"EdgeWidth 2", [](qWCGM_DATA *d, char *m) { return qEdgeWidthSpecificationMode(2, d, m); },
       "Invalid Edge Width Specification Mode: 2\n"},
      {"BackgroundColor 256", [](qWCGM_DATA *d, char *m) { return qBackgroundColor(badColor, d, m); },
       "Value: 256 is too large for 8 bit precision"},
      {"VdcExtent second corner",
       [](qWCGM_DATA *d, char *m) {
         const qVDC a[2] = {{1, 0}, {1, 0}};
         const qVDC b[2] = {{1, 0}, {70000, 0}};
         return qVdcExtent(a, b, d, m);
       },
       "Value: 70000 is too large for 16 bit precision"},
  };
  for (const Case &c : cases) {
    TestWriter w;
    qWCGM_CGM before = w.d()->Cgm;
    EXPECT_EQ(c.call(w.d(), w.msg()), 0) << c.name;
    EXPECT_STREQ(w.msg(), c.message) << c.name;
    EXPECT_TRUE(w.Written().empty()) << c.name;
    EXPECT_EQ(std::memcmp(&before.MetafileDescriptor, &w.d()->Cgm.MetafileDescriptor,
                          sizeof before.MetafileDescriptor), 0) << c.name;
    EXPECT_EQ(std::memcmp(&before.PictureDescriptor, &w.d()->Cgm.PictureDescriptor,
                          sizeof before.PictureDescriptor), 0) << c.name;
  }
}

TEST(Descriptors, StateFollowsWrittenElements) {
  TestWriter w;
  qWCGM_DATA *d = w.d();
  char *m = w.msg();
  ASSERT_EQ(qIntegerPrecision(32, d, m), 1);
  EXPECT_EQ(d->Cgm.MetafileDescriptor.IntegerPrecision, 32);
  // Encoded at the 32 bits now in force; only later elements use 8.
  ASSERT_EQ(qIntegerPrecision(8, d, m), 1);
  ASSERT_EQ(qVersion(d, m), 1);
  ASSERT_EQ(qScalingMode(1, 25.4, d, m), 1);
  EXPECT_EQ(d->Cgm.PictureDescriptor.ScalingMode, 1);
  EXPECT_EQ(d->Cgm.PictureDescriptor.MetricScaleValue, 25.399999618530273);
  ASSERT_EQ(qScalingMode(0, 7.0, d, m), 1);
  EXPECT_EQ(d->Cgm.PictureDescriptor.ScalingMode, 0);
  EXPECT_EQ(d->Cgm.PictureDescriptor.MetricScaleValue, 25.399999618530273);
  ASSERT_EQ(qVdcType(1, d, m), 1);
  ASSERT_EQ(qRealPrecision(2, d, m), 1);
  ASSERT_EQ(qIndexPrecision(24, d, m), 1);
  ASSERT_EQ(qColorPrecision(16, d, m), 1);
  ASSERT_EQ(qColorIndexPrecision(32, d, m), 1);
  ASSERT_EQ(qMaxColorIndex(100000, d, m), 1);  // at the 32-bit index precision
  const int extent[6] = {0, 0, 0, 1000, 1000, 1000};
  ASSERT_EQ(qColorValueExtent(extent, d, m), 1);  // at 16-bit colour precision
  const qVDC a[2] = {{0, 0.0}, {0, 0.0}};
  const qVDC b[2] = {{0, 1.0}, {0, 0.5}};
  ASSERT_EQ(qVdcExtent(a, b, d, m), 1);  // real VDC, VDC real precision code 3
  EXPECT_EQ(ToHex(w.Written()), ToHex(Hex(
      "10 82 00 20"             // INTEGER PRECISION 32
      "10 84 00 00 00 08"       // INTEGER PRECISION 8, in 32 bits
      "10 21 01 00"             // VERSION 1 in 8 bits, pad
      "20 26 00 01 41 CB 33 33"
      "20 26 00 00 40 E0 00 00"
      "10 62 00 01"
      "10 A4 00 00 0C 34"       // REAL PRECISION 2: E in 16 bits, widths in 8 bits
      "10 C1 18 00"             // INDEX PRECISION 24
      "10 E1 10 00"             // COLOUR PRECISION 16
      "11 01 20 00"             // COLOUR INDEX PRECISION 32
      "11 24 00 01 86 A0"       // MAXIMUM COLOUR INDEX 100000 in 32 bits
      "11 4C 00 00 00 00 00 00 03 E8 03 E8 03 E8"
      "20 D0 00 00 00 00 00 00 00 00 00 01 00 00 00 00 80 00")));
  EXPECT_EQ(d->Cgm.MetafileDescriptor.RealPrecision, 2);
  EXPECT_EQ(d->Cgm.MetafileDescriptor.IndexPrecision, 24);
  EXPECT_EQ(d->Cgm.MetafileDescriptor.MaxColorIndex, 100000);
  EXPECT_EQ(d->Cgm.MetafileDescriptor.ColorValueExtent[3], 1000);
}

// A complete metafile with an empty picture, through the public functions.
TEST(Descriptors, CompleteEmptyMetafile) {
  TestWriter w;
  qWCGM_DATA *d = w.d();
  char *m = w.msg();
  const qVDC p1[2] = {{0, -0.5}, {0, -0.5}};
  const qVDC p2[2] = {{0, 7.61}, {0, 5.83}};
  ASSERT_EQ(qBeginMetafile("a.cgm", d, m), 1);
  ASSERT_EQ(qVersion(d, m), 1);
  ASSERT_EQ(qVdcType(1, d, m), 1);
  ASSERT_EQ(qColorSelectionMode(1, d, m), 1);
  ASSERT_EQ(qColorPrecision(8, d, m), 1);
  ASSERT_EQ(qMetafileElementsList(d, 1, 1, nullptr, 0, m), 1);
  ASSERT_EQ(qBeginPicture("Picture begins.....", d, m), 1);
  ASSERT_EQ(qScalingMode(1, 25.4, d, m), 1);
  ASSERT_EQ(qVdcExtent(p1, p2, d, m), 1);
  ASSERT_EQ(qBeginPictureBody(d, m), 1);
  ASSERT_EQ(qEndPicture(d, m), 1);
  ASSERT_EQ(qEndMetafile(d, m), 1);
  EXPECT_EQ(ToHex(w.Written()), ToHex(Hex(
      "00 26 05 61 2E 63 67 6D"
      "10 22 00 01"
      "10 62 00 01"
      "20 42 00 01"
      "10 E2 00 08"
      "11 66 00 01 FF FF 00 01"
      "00 74 13 50 69 63 74 75 72 65 20 62 65 67 69 6E 73 2E 2E 2E 2E 2E"
      "20 26 00 01 41 CB 33 33"
      // 7.61 = 7 + 0.61 * 65536 = 39976.96 -> 9C28; 5.83 -> 0.83 * 65536 = 54394.88 -> D47A
      "20 D0 FF FF 80 00 FF FF 80 00 00 07 9C 28 00 05 D4 7A"
      "00 80 00 A0 00 40")));
}

TEST(DefaultsReplacement, LengthWordIsRewrittenInPlace) {
  TempPath tmp;
  auto d = std::make_unique<qWCGM_DATA>();
  char m[QWCGM_MSG_SIZE];
  testing::internal::CaptureStdout();
  ASSERT_EQ(qCgmInit(tmp.path.c_str(), d.get(), m), 1);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(qBeginMetafile("abc", d.get(), m), 1);
  ASSERT_EQ(qMetafileDefaultsReplacement(1, d.get(), m), 1);
  ASSERT_EQ(qColorPrecision(16, d.get(), m), 1);
  ASSERT_EQ(qIntegerPrecision(32, d.get(), m), 1);
  ASSERT_EQ(qMetafileDefaultsReplacement(0, d.get(), m), 1) << m;
  EXPECT_EQ(d->Cgm.MetafileDescriptor.ColorPrecision, 16);
  EXPECT_EQ(d->MdrOffset, 0);
  ASSERT_EQ(qMetafileDefaultsReplacement(1, d.get(), m), 1);  // opened and closed at once
  ASSERT_EQ(qMetafileDefaultsReplacement(2, d.get(), m), 1);
  ASSERT_EQ(qVersion(d.get(), m), 1);  // continues at the end, 32-bit integers
  ASSERT_EQ(qEndMetafile(d.get(), m), 1);
  ASSERT_EQ(qCgmEnd(d.get(), m), 1);
  // Read back from the reopened file.
  EXPECT_EQ(ToHex(ReadFile(tmp.path)), ToHex(Hex(
      "00 24 03 61 62 63"
      "11 9F 00 08 10 E2 00 10 10 82 00 20"
      "11 9F 00 00"
      "10 24 00 00 00 01"
      "00 40")));
}

TEST(DefaultsReplacement, RefusedBrackets) {
  {
    // Closing with no open bracket must not overwrite the file's first bytes.
    TestWriter w;
    ASSERT_EQ(qBeginMetafile("abc", w.d(), w.msg()), 1);
    EXPECT_EQ(qMetafileDefaultsReplacement(0, w.d(), w.msg()), 0);
    EXPECT_STREQ(w.msg(), "Could not get output file position\n");
    EXPECT_EQ(ToHex(w.Written()), "00 24 03 61 62 63");
  }
  {
    // Contents beyond what the 15-bit length word can express: the
    // placeholder stays, never a wrong length.
    TestWriter w;
    ASSERT_EQ(qMetafileDefaultsReplacement(1, w.d(), w.msg()), 1);
    ASSERT_EQ(qNoopId(32766, w.d(), w.msg()), 1);  // 32770 bytes of contents
    EXPECT_EQ(qMetafileDefaultsReplacement(0, w.d(), w.msg()), 0);
    EXPECT_STREQ(w.msg(), "Metafile Defaults Replacement Too Long: 32770 bytes\n");
    Bytes out = w.Written();
    ASSERT_EQ(out.size(), 4u + 32770u);
    EXPECT_EQ(ToHex(out.data(), 8), "11 9F 00 00 00 1F 7F FE");
  }
  {
    // A pipe cannot tell its position: nothing is written.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    TestWriter w;
    std::fclose(w.d()->Outfile);
    w.d()->Outfile = fdopen(fds[1], "wb");
    EXPECT_EQ(qMetafileDefaultsReplacement(1, w.d(), w.msg()), 0);
    EXPECT_STREQ(w.msg(), "Could not get output file position\n");
    std::fclose(w.d()->Outfile);
    w.d()->Outfile = nullptr;
    char buf[8];
    EXPECT_EQ(read(fds[0], buf, sizeof buf), 0);
    close(fds[0]);
  }
}

}  // namespace

namespace {

// A seekable in-memory stream whose writes are refused once it has been
// moved back from its end: the rewrite of a length word fails there.
struct SeekCookie {
  Bytes data;
  size_t pos = 0;
  bool movedBack = false;
};

ssize_t SeekWrite(void *c, const char *buf, size_t n) {
  auto *s = static_cast<SeekCookie *>(c);
  if (s->movedBack && s->pos < s->data.size()) return -1;
  if (s->data.size() < s->pos + n) s->data.resize(s->pos + n);
  std::memcpy(s->data.data() + s->pos, buf, n);
  s->pos += n;
  return static_cast<ssize_t>(n);
}

int SeekSeek(void *c, off64_t *offset, int whence) {
  auto *s = static_cast<SeekCookie *>(c);
  off64_t base = whence == SEEK_SET ? 0
                 : whence == SEEK_CUR ? static_cast<off64_t>(s->pos)
                                      : static_cast<off64_t>(s->data.size());
  off64_t to = base + *offset;
  if (to < 0) return -1;
  if (static_cast<size_t>(to) < s->data.size()) s->movedBack = true;
  s->pos = static_cast<size_t>(to);
  *offset = to;
  return 0;
}

// A failed rewrite of the length word leaves the stream at the end of the
// file, so that later elements cannot overwrite the bracket's contents.
TEST(DefaultsReplacement, FailedRewriteReturnsToTheEnd) {
  SeekCookie cookie;
  cookie_io_functions_t io{};
  io.write = SeekWrite;
  io.seek = SeekSeek;
  TestWriter w;
  std::fclose(w.d()->Outfile);
  FILE *f = fopencookie(&cookie, "wb", io);
  setvbuf(f, nullptr, _IONBF, 0);
  w.d()->Outfile = f;
  ASSERT_EQ(qMetafileDefaultsReplacement(1, w.d(), w.msg()), 1);
  ASSERT_EQ(qColorPrecision(16, w.d(), w.msg()), 1);
  EXPECT_EQ(qMetafileDefaultsReplacement(0, w.d(), w.msg()), 0);
  EXPECT_STREQ(w.msg(), "Error occurred writing: 2 bytes");
  EXPECT_EQ(std::ftell(f), 8);
  EXPECT_EQ(ToHex(cookie.data), "11 9F 00 00 10 E2 00 10");
  std::fclose(f);
  w.d()->Outfile = nullptr;
}

}  // namespace
