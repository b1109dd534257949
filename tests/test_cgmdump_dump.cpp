// cgmdump's dump of hand-made metafiles.  Every fixture is written out in
// hex from the binary encoding's rules; the expected text is the clear-text
// style the dump promises.  Offsets are the running sums of the byte counts
// of the hand-written elements.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CgmDecode.h"
#include "testutil.h"

namespace {

struct Row {
  const char *hex;   // the element's bytes ("" for a line with no bytes)
  const char *text;  // its dump text, without the offset
  bool noOffset;     // the line carries no offset (end of a defaults bracket)
};

std::vector<std::string> DumpLines(const Bytes &file, bool full, bool *ok = nullptr) {
  std::vector<std::string> lines;
  std::string error;
  size_t at = 0;
  cgmd::DumpOptions o;
  o.full = full;
  bool r = cgmd::Dump(file.data(), file.size(), o,
                      [&](const std::string &l) { lines.push_back(l); }, &error, &at);
  if (ok) *ok = r;
  return lines;
}

std::string At(size_t offset, const std::string &text) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%8zu  ", offset);
  return buf + text;
}

void ExpectDump(const std::vector<Row> &rows) {
  Bytes file;
  std::vector<std::string> expected;
  for (const Row &r : rows) {
    if (r.noOffset)
      expected.push_back("          " + std::string(r.text));
    else
      expected.push_back(At(file.size(), r.text));
    Bytes b = Hex(r.hex);
    file.insert(file.end(), b.begin(), b.end());
  }
  bool ok = false;
  std::vector<std::string> got = DumpLines(file, false, &ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); i++) EXPECT_EQ(got[i], expected[i]) << "line " << i;
  cgmd::CheckResult c = cgmd::Check(file.data(), file.size());
  EXPECT_TRUE(c.ok) << c.offset << ": " << c.message;
}

// Every element family at the precisions a metafile starts with: integer
// VDC of 16 bits, 16-bit integers, indexes and enumerations, 8-bit colours
// and colour indexes, 32-bit fixed-point reals.
TEST(CgmdumpDump, EveryFamilyAtTheStartPrecisions) {
  ExpectDump({
      {"00 24 03 61 62 63", "BEGMF \"abc\";", false},
      {"10 22 00 01", "MFVERSION 1;", false},
      {"10 42 01 78", "MFDESC \"x\";", false},
      {"10 62 00 00", "VDCTYPE INTEGER;", false},
      {"10 82 00 10", "INTEGERPREC -32768, 32767;  % 16 bits %", false},
      {"10 A6 00 01 00 10 00 10",
       "REALPREC -32768.0, 32767.0, 4;  % fixed point, 32 bits (1, 16, 16) %", false},
      {"10 C2 00 10", "INDEXPREC -32768, 32767;  % 16 bits %", false},
      {"10 E2 00 08", "COLRPREC 255;  % 8 bits %", false},
      {"11 02 00 08", "COLRINDEXPREC 255;  % 8 bits %", false},
      {"11 21 FF 00", "MAXCOLRINDEX 255;", false},
      {"11 46 00 00 00 FF FF FF", "COLRVALUEEXT 0 0 0, 255 255 255;", false},
      {"11 6A 00 02 00 01 00 01 00 04 00 09", "MFELEMLIST \"MFVERSION CELLARRAY\";", false},
      {"11 A5 01 41 02 42 43 00", "FONTLIST \"A\", \"BC\";", false},
      {"11 C4 00 00 01 42", "CHARSETLIST STD94 \"B\";", false},
      {"11 E2 00 01", "CHARCODING BASIC8BIT;", false},
      {"00 61 00 00", "BEGPIC \"\";", false},
      {"20 26 00 00 3F 80 00 00", "SCALEMODE ABSTRACT 1.0;", false},
      {"20 42 00 00", "COLRMODE INDEXED;", false},
      {"20 62 00 00", "LINEWIDTHMODE ABS;", false},
      {"20 C8 00 00 00 00 7F FF 7F FF", "VDCEXT (0,0) (32767,32767);", false},
      {"20 E3 FF FF FF 00", "BACKCOLR 255 255 255;", false},
      {"00 80", "BEGPICBODY;", false},
      {"40 2C 00 01 00 02 00 03 FF FC 00 05 00 06", "LINE (1,2) (3,-4) (5,6);", false},
      {"40 48 00 00 00 00 00 0A 00 0A", "DISJTLINE (0,0) (10,10);", false},
      {"40 64 00 07 00 08", "MARKER (7,8);", false},
      {"40 89 00 01 00 02 00 01 02 68 69 00", "TEXT (1,2) FINAL \"hi\";", false},
      {"40 AC 00 0A 00 14 00 01 00 02 00 00 01 61",
       "RESTRTEXT 10 20 (1,2) NOTFINAL \"a\";", false},
      {"40 C5 00 01 02 61 62 00", "APNDTEXT FINAL \"ab\";", false},
      {"40 EC 00 00 00 00 00 04 00 00 00 00 00 03", "POLYGON (0,0) (4,0) (0,3);", false},
      {"41 0C 00 00 00 00 00 01 00 01 00 01 00 03",
       "POLYGONSET (0,0) VIS (1,1) CLOSEVIS;", false},
      {"41 68 00 01 00 02 00 03 00 04", "RECT (1,2) (3,4);", false},
      {"41 86 00 05 00 05 00 03", "CIRCLE (5,5) 3;", false},
      {"41 AC 00 00 00 00 00 01 00 01 00 02 00 00", "ARC3PT (0,0) (1,1) (2,0);", false},
      {"41 CE 00 00 00 00 00 01 00 01 00 02 00 00 00 01",
       "ARC3PTCLOSE (0,0) (1,1) (2,0) CHORD;", false},
      {"41 EE 00 00 00 00 00 01 00 00 00 00 00 01 00 05", "ARCCTR (0,0) 1 0 0 1 5;", false},
      {"42 10 00 00 00 00 00 01 00 00 00 00 00 01 00 05 00 00",
       "ARCCTRCLOSE (0,0) 1 0 0 1 5 PIE;", false},
      {"42 2C 00 00 00 00 00 04 00 00 00 00 00 02", "ELLIPSE (0,0) (4,0) (0,2);", false},
      {"42 54 00 00 00 00 00 04 00 00 00 00 00 02 00 01 00 00 00 00 00 01",
       "ELLIPARC (0,0) (4,0) (0,2) 1 0 0 1;", false},
      {"42 76 00 00 00 00 00 04 00 00 00 00 00 02 00 01 00 00 00 00 00 01 00 01",
       "ELLIPARCCLOSE (0,0) (4,0) (0,2) 1 0 0 1 CHORD;", false},
      // Packed 1-bit indexed rows (1, 0, 1) and (0, 1, 1): A0, a pad byte,
      // 60, then the element's own pad byte.
      {"41 37 00 00 00 00 00 0A 00 0A 00 0A 00 00 00 03 00 02 00 01 00 01 A0 00 60 00",
       "CELLARRAY (0,0) (10,10) (10,0) 3 2 1 (1, 0, 1) ...;  % indexed colour, packed, "
       "2 rows of 3 cells, 1 bit per value %",
       false},
      // Run-length 8-bit indexed: runs (3 x 7) and (1 x 9).
      {"41 3A 00 00 00 00 00 04 00 01 00 04 00 00 00 04 00 01 00 08 00 00 00 03 07 00 01 09",
       "CELLARRAY (0,0) (4,1) (4,0) 4 1 8 (7, 7, 7, 9);  % indexed colour, run-length, 1 "
       "row of 4 cells, 8 bits per value %",
       false},
      // PIP record: one point and a data record holding one integer member.
      {"41 4F F4 48 00 01 00 01 00 02 06 00 06 00 01 00 05 00",
       "GDP -3000 (1,2) [I 1: 5];  % PIP data record %", false},
      {"41 5F 00 42 FF FC 00 00 00 00 00 01 00 00 00 00 00 01 00 01 00 00 00 00"
       " 00 01 00 00 00 02 00 00 00 00 80 00 00 00 00 00 00 0A 00 00 FF F6 00 00"
       " 00 01 00 00 00 03 00 00 40 00 FF FF C0 00 00 00 00 02 00 00 00 01",
       "GDP -4 (0,0) (1,0) (0,1) (1,0) 0 1.0 2.0 0.5 0.0 10.0 -10.0 1 0 3 0.25 -0.25 0 2 "
       "0 1;  % trace set-up: sample type 0, 3 samples per trace %",
       false},
      {"41 48 FF FB 00 01 FF FF 00 64", "GDP -5 1 -1 100;  % 3 samples, 16-bit integers %",
       false},
      {"00 03 00 00 00 00", "NOOP;  % 3 bytes %", false},
      {"61 22 AB CD", "% class 6, id 9: unknown element, 2 parameter bytes %", false},
      {"00 A0", "ENDPIC;", false},
      {"00 40", "ENDMF;", false},
  });
}

// Decoding follows what the metafile announces: real VDC, integer precision
// changed twice (the element itself at the old precision), floating-point
// reals, and a defaults replacement that changes the colour precision and
// the VDC real precision for the pictures that follow.
TEST(CgmdumpDump, FollowsAnnouncedPrecisionsAndDefaultsReplacement) {
  ExpectDump({
      {"00 21 00 00", "BEGMF \"\";", false},
      {"10 62 00 01", "VDCTYPE REAL;", false},
      {"10 82 00 20", "INTEGERPREC -2147483648, 2147483647;  % 32 bits %", false},
      {"10 84 00 00 00 08", "INTEGERPREC -128, 127;  % 8 bits %", false},
      {"10 21 02 00", "MFVERSION 2;", false},
      {"10 A4 00 00 09 17",
       "REALPREC -3.4e38, 3.4e38, 7;  % floating point, 32 bits (0, 9, 23) %", false},
      {"11 9F 00 0A", "BEGMFDEFAULTS;", false},
      {"10 E1 10 00", "  COLRPREC 65535;  % 16 bits %", false},
      {"30 44 00 00 0C 34",
       "  VDCREALPREC -1.7e308, 1.7e308, 15;  % floating point, 64 bits (0, 12, 52) %",
       false},
      {"", "ENDMFDEFAULTS;", true},
      {"00 62 01 70", "BEGPIC \"p\";", false},
      {"20 42 00 01", "COLRMODE DIRECT;", false},
      {"20 DF 00 20 BF E0 00 00 00 00 00 00 BF E0 00 00 00 00 00 00"
       " 40 04 00 00 00 00 00 00 3F F4 00 00 00 00 00 00",
       "VDCEXT (-0.5,-0.5) (2.5,1.25);", false},
      {"20 E6 FF FF 80 00 00 00", "BACKCOLR 65535 32768 0;", false},
      {"00 80", "BEGPICBODY;", false},
      {"40 3F 00 20 3F B9 99 99 99 99 99 9A 40 00 00 00 00 00 00 00"
       " C0 0E 00 00 00 00 00 00 42 02 A0 5F 20 00 00 00",
       "LINE (0.1,2.0) (-3.75,10000000000.0);", false},
      // Local colour precision 0: the colours take the 16 bits announced in
      // the defaults replacement; the 53-byte header gets a pad byte before
      // the row; counts are 8-bit integers.
      {"41 3F 00 44"
       " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
       " 40 08 00 00 00 00 00 00 3F F0 00 00 00 00 00 00"
       " 40 08 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
       " 03 01 00 00 00 00"
       " 02 00 01 00 02 00 03 01 FF FF 00 00 80 00",
       "CELLARRAY (0.0,0.0) (3.0,1.0) (3.0,0.0) 3 1 0 (1 2 3, 1 2 3, 65535 0 32768);  % "
       "direct colour, run-length, 1 row of 3 cells, 16 bits per value %",
       false},
      {"41 43 07 00 00 00", "GDP 7 \"\";", false},
      {"00 A0", "ENDPIC;", false},
      {"00 40", "ENDMF;", false},
  });
}

// Picture values start afresh at each BEGIN PICTURE: a width mode and a VDC
// integer precision set in the first picture do not reach the second.
TEST(CgmdumpDump, PictureModesAndControlElementsLastOnePicture) {
  ExpectDump({
      {"00 21 00 00", "BEGMF \"\";", false},
      {"00 61 00 00", "BEGPIC \"\";", false},
      {"20 62 00 00", "LINEWIDTHMODE ABS;", false},
      {"00 80", "BEGPICBODY;", false},
      {"50 62 00 03", "LINEWIDTH 3;", false},
      {"30 22 00 20", "VDCINTEGERPREC -2147483648, 2147483647;  % 32 bits %", false},
      {"40 28 00 00 00 01 00 00 00 02", "LINE (1,2);", false},
      {"00 A0", "ENDPIC;", false},
      {"00 61 00 00", "BEGPIC \"\";", false},
      {"00 80", "BEGPICBODY;", false},
      {"50 64 00 01 80 00", "LINEWIDTH 1.5;", false},
      {"40 24 00 01 00 02", "LINE (1,2);", false},
      {"00 A0", "ENDPIC;", false},
      {"00 40", "ENDMF;", false},
  });
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A picture body wrapper: BEGMF "", BEGPIC "", BEGPICBODY, ..., ENDPIC,
// ENDMF; the body starts at offset 10.
Bytes InPicture(const Bytes &body) {
  return Concat({Hex("00 21 00 00 00 61 00 00 00 80"), body, Hex("00 A0 00 40")});
}

TEST(CgmdumpDump, LongListsAreSummarisedAndFullPrintsEveryValue) {
  Bytes line = Hex("40 3F 00 28");  // 10 points (i, i): 40 bytes, long form
  for (int i = 0; i < 10; i++) {
    Bytes p = Hex("00 00 00 00");
    p[1] = static_cast<uint8_t>(i);
    p[3] = static_cast<uint8_t>(i);
    line.insert(line.end(), p.begin(), p.end());
  }
  // Direct colour, 8-bit packed, 2 x 2 cells 1..12.
  Bytes cells = Hex(
      "41 3F 00 20 00 00 00 00 00 0A 00 0A 00 0A 00 00 00 02 00 02 00 08 00 01"
      " 01 02 03 04 05 06 07 08 09 0A 0B 0C");
  // BEGMF, BEGPIC, COLRMODE DIRECT, BEGPICBODY: the line starts at 14.
  Bytes file = Concat({Hex("00 21 00 00 00 61 00 00 20 42 00 01 00 80"), line, cells,
                       Hex("00 A0 00 40")});
  std::vector<std::string> brief = DumpLines(file, false);
  ASSERT_EQ(brief.size(), 8u);
  EXPECT_EQ(brief[4],
            At(14, "LINE (0,0) (1,1) (2,2) (3,3) (4,4) (5,5) (6,6) (7,7) ...;  % 10 points %"));
  EXPECT_EQ(brief[5], At(58, "CELLARRAY (0,0) (10,10) (10,0) 2 2 8 (1 2 3, 4 5 6) ...;  % "
                             "direct colour, packed, 2 rows of 2 cells, 8 bits per value %"));
  std::vector<std::string> full = DumpLines(file, true);
  ASSERT_EQ(full.size(), 10u);
  EXPECT_EQ(full[4], At(14, "LINE (0,0) (1,1) (2,2) (3,3) (4,4) (5,5) (6,6) (7,7) (8,8) "
                            "(9,9);"));
  EXPECT_EQ(full[5], At(58, "CELLARRAY (0,0) (10,10) (10,0) 2 2 8  % direct colour, packed, "
                            "2 rows of 2 cells, 8 bits per value %"));
  EXPECT_EQ(full[6], "            (1 2 3, 4 5 6)");
  EXPECT_EQ(full[7], "            (7 8 9, 10 11 12);");
}

// Partitioned parameter lists: full partitions of 32766 bytes as the library
// writes them, and odd partitions of 32767 bytes, whose next length word
// starts at an odd offset; both are valid framings.
TEST(CgmdumpDump, PartitionsOfAnySize) {
  Bytes noop = Hex("00 1F FF FE");
  noop.resize(noop.size() + 32766, 0);
  Bytes tail = Hex("1C 42");  // last partition: 7234 bytes
  noop.insert(noop.end(), tail.begin(), tail.end());
  noop.resize(noop.size() + 7234, 0);
  // POLYLINE of 8200 points (i, -i), 32800 bytes: 32767 + 33.
  Bytes pts;
  for (int i = 0; i < 8200; i++) {
    int y = -i;
    pts.push_back(static_cast<uint8_t>(i >> 8));
    pts.push_back(static_cast<uint8_t>(i));
    pts.push_back(static_cast<uint8_t>((y >> 8) & 0xff));
    pts.push_back(static_cast<uint8_t>(y & 0xff));
  }
  Bytes line = Hex("40 3F FF FF");
  line.insert(line.end(), pts.begin(), pts.begin() + 32767);
  Bytes last = Hex("00 21");
  line.insert(line.end(), last.begin(), last.end());
  line.insert(line.end(), pts.begin() + 32767, pts.end());
  Bytes file = InPicture(Concat({noop, line}));
  std::vector<std::string> lines = DumpLines(file, false);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[3], At(10, "NOOP;  % 40000 bytes %"));
  EXPECT_EQ(lines[4], At(10 + noop.size(),
                         "LINE (0,0) (1,-1) (2,-2) (3,-3) (4,-4) (5,-5) (6,-6) (7,-7) "
                         "...;  % 8200 points %"));
  cgmd::CheckResult c = cgmd::Check(file.data(), file.size());
  EXPECT_TRUE(c.ok) << c.message;

  cgmd::Walker w(file.data(), file.size());
  cgmd::Element e;
  while (w.Next(&e) && !(e.frame.cls == 4 && e.frame.id == 1)) {
  }
  ASSERT_EQ(e.values.size(), 8200u);
  EXPECT_EQ(e.frame.partitions, 2);
  EXPECT_EQ(e.values[8199].i[0], 8199);
  EXPECT_EQ(e.values[8199].i[1], -8199);
}

// A long string (more than 254 bytes) in pieces, and text that is not
// printable.
TEST(CgmdumpDump, LongStringsAndUnprintableBytes) {
  std::string name(300, 'n');
  Bytes begmf = Hex("00 3F 01 2F FF 01 2C");  // 303 bytes: FF, 01 2C, 300 bytes
  begmf.insert(begmf.end(), name.begin(), name.end());
  begmf.push_back(0);  // pad byte
  Bytes file = Concat({begmf, Hex("00 61 00 00 00 80 40 88 00 00 00 00 00 01 01 0A 00 A0 00 40")});
  std::vector<std::string> brief = DumpLines(file, false);
  ASSERT_EQ(brief.size(), 6u);
  EXPECT_EQ(brief[0], At(0, "BEGMF \"" + std::string(200, 'n') +
                               "\" ... % 300 characters %;"));
  EXPECT_EQ(brief[3], At(314, "TEXT (0,0) FINAL \"\\x0A\";"));
  std::vector<std::string> full = DumpLines(file, true);
  EXPECT_EQ(full[0], At(0, "BEGMF \"" + name + "\";"));
}

// A truncated file dumps what it can and names the problem.
TEST(CgmdumpDump, TruncatedFileEndsWithTheProblem) {
  Bytes file = Hex("00 24 03 61 62 63 10 22 00 01 20 C8 00 00 00");
  bool ok = true;
  std::vector<std::string> lines = DumpLines(file, false, &ok);
  EXPECT_FALSE(ok);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], At(10, "% error: truncated element: VDC EXTENT announces 8 parameter "
                             "bytes but only 3 remain in the file %"));
}

}  // namespace
