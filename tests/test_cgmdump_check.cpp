// cgmdump --check on hand-broken metafiles: each case names the first
// problem and the byte offset where it is.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CgmDecode.h"
#include "testutil.h"

namespace {

// A small valid metafile, element by element (offsets on the right):
const char *const kBegmf = "00 22 01 61";                    //  0 BEGMF "a"
const char *const kVersion = "10 22 00 01";                  //  4 MFVERSION 1
const char *const kBegpic = "00 61 00 00";                   //  8 BEGPIC ""
const char *const kVdcext = "20 C8 00 00 00 00 00 0A 00 0A";  // 12 VDCEXT
const char *const kBody = "00 80";                           // 22 BEGPICBODY
const char *const kLine = "40 28 00 00 00 00 00 0A 00 0A";    // 24 LINE, 2 points
const char *const kEndpic = "00 A0";                         // 34 ENDPIC
const char *const kEndmf = "00 40";                          // 36 ENDMF; 38 in all

std::string Join(std::initializer_list<const char *> parts) {
  std::string s;
  for (const char *p : parts) s += std::string(p) + " ";
  return s;
}

// A picture body around the given elements; the first of them is at 24.
std::string Body(const std::string &elements) {
  return Join({kBegmf, kVersion, kBegpic, kVdcext, kBody}) + elements + " " +
         Join({kEndpic, kEndmf});
}

// Cell array header at 16-bit integer VDC: P (0,0), Q (nx,ny), R (nx,0)
// with nx, ny, local colour precision 8 and the mode as given.
std::string CellHeader(int nx, int ny, int mode) {
  char buf[128];
  std::snprintf(buf, sizeof buf,
                "00 00 00 00 00 %02X 00 %02X 00 %02X 00 00 00 %02X 00 %02X 00 08 00 %02X", nx,
                ny, nx, nx, ny, mode);
  return buf;
}

struct Case {
  const char *what;
  std::string hex;
  size_t offset;
  const char *message;  // a part of the expected explanation
};

TEST(CgmdumpCheck, ValidMetafilePassesWithASummary) {
  Bytes file = Hex(Body(kLine));
  cgmd::CheckResult r = cgmd::Check(file.data(), file.size());
  EXPECT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.summary, "ok: 8 elements, 1 picture, 38 bytes");
  EXPECT_TRUE(r.notes.empty());
}

TEST(CgmdumpCheck, FindsTheFirstProblemOfEachBrokenFile) {
  std::string valid = Body(kLine);
  Bytes v = Hex(valid);
  auto cut = [&](size_t n) { return ToHex(Bytes(v.begin(), v.begin() + static_cast<long>(n))); };
  const std::vector<Case> cases = {
      // Framing.
      {"truncated element", cut(30), 24, "truncated element: POLYLINE announces 8 parameter bytes"},
      {"truncated header", cut(37), 36, "the file ends inside an element header"},
      {"truncated partition", Body("40 3F 00 40 00 00 00 00"), 24,
       "POLYLINE announces 64 bytes in its partition 1"},
      {"missing pad byte at the end", "00 23 02 61 62", 0, "pad byte"},
      {"non-zero pad byte",
       Join({kBegmf, kVersion, "00 61 00 55", kVdcext, kBody, kEndpic, kEndmf}), 11,
       "non-zero pad byte 0x55"},
      // Lengths that do not match the parameters.
      {"length longer than the parameters",
       Join({kBegmf, kVersion, kBegpic, "20 CA 00 00 00 00 00 0A 00 0A 00 00", kBody, kEndpic,
             kEndmf}),
       22, "length mismatch: VDC EXTENT holds 10 parameter bytes"},
      {"points cut in half", Body("40 26 00 00 00 00 00 0A"), 30,
       "length mismatch: the 6 parameter bytes of POLYLINE end inside a point"},
      {"string longer than the element", "00 24 05 61 62 63 00 40", 2,
       "BEGIN METAFILE end inside a string"},
      {"element list count", Join({kBegmf, "11 66 00 02 FF FF 00 01", kEndmf}), 4,
       "METAFILE ELEMENT LIST announces 2 elements and holds 1"},
      {"invalid precision", Join({kBegmf, "10 82 00 0C", kEndmf}), 4,
       "INTEGER PRECISION 12 is not one of 8, 16, 24, 32"},
      // Cell arrays whose rows or runs do not add up.
      {"runs beyond nx", Body("41 3A " + CellHeader(4, 1, 0) + " 00 03 07 00 02 09"), 24 + 2 + 23,
       "the runs of row 1 add up to 5, more than nx = 4"},
      {"runs short of nx", Body("41 38 " + CellHeader(4, 1, 0) + " 00 03 07 00"), 24 + 2 + 23,
       "the data ends inside row 1 of 1, whose runs cover 3 of nx = 4 cells"},
      {"zero run length", Body("41 3A " + CellHeader(4, 1, 0) + " 00 00 07 00 04 09"), 24 + 2 + 20,
       "row 1 has a run length of 0"},
      {"packed rows short", Body("41 39 " + CellHeader(3, 2, 1) + " 01 02 03 00 04 00"), 24 + 2 + 24,
       "packed row 2 of 2 needs 3 bytes (3 cells), only 1 remain"},
      {"bytes after the last row", Body("41 38 " + CellHeader(2, 1, 1) + " 01 02 03 04"),
       24 + 2 + 22, "2 bytes are left over after the last of its 1 rows"},
      {"non-zero pad before a row", Body("41 3B " + CellHeader(3, 2, 1) + " 01 02 03 09 04 05 06 00"),
       24 + 2 + 23, "non-zero pad byte 0x09 before row 2"},
      {"bad cell representation mode", Body("41 38 " + CellHeader(2, 1, 2) + " 01 02 00 00"), 24,
       "cell representation mode 2"},
      // Delimiters out of order.
      {"not beginning with BEGIN METAFILE", Join({kVersion, kBegmf, kEndmf}), 0,
       "does not begin with BEGIN METAFILE: its first element is METAFILE VERSION"},
      {"picture inside a picture",
       Join({kBegmf, kVersion, kBegpic, kVdcext, kBody, kBegpic, kEndpic, kEndmf}), 24,
       "BEGIN PICTURE inside the picture begun at offset 8"},
      {"END PICTURE before the body", Join({kBegmf, kVersion, kBegpic, kVdcext, kEndpic, kEndmf}),
       22, "END PICTURE before BEGIN PICTURE BODY"},
      {"END METAFILE inside a picture", Join({kBegmf, kVersion, kBegpic, kVdcext, kBody, kEndmf}),
       24, "END METAFILE inside the picture begun at offset 8"},
      {"an element after END METAFILE", valid + " " + kVersion, 38,
       "METAFILE VERSION after END METAFILE"},
      {"no END METAFILE", cut(36), 36, "the file ends without END METAFILE"},
      {"empty file", "", 0, "the file is empty"},
      // Descriptor and primitive elements out of place.
      {"metafile descriptor in a picture",
       Join({kBegmf, kBegpic, kVersion, kVdcext, kBody, kEndpic, kEndmf}), 8,
       "metafile descriptor element METAFILE VERSION inside a picture"},
      {"picture descriptor in the body",
       Join({kBegmf, kVersion, kBegpic, kBody, kVdcext, kEndpic, kEndmf}), 14,
       "picture descriptor element VDC EXTENT inside a picture body"},
      {"picture descriptor between pictures", Join({kBegmf, kBegpic, kBody, kEndpic, kVdcext,
                                                    kEndmf}),
       12, "picture descriptor element VDC EXTENT outside a picture"},
      {"primitive before the body", Join({kBegmf, kVersion, kBegpic, kLine, kBody, kEndpic, kEndmf}),
       12, "graphical primitive POLYLINE outside a picture body"},
      {"primitive in a defaults replacement",
       Join({kBegmf, "11 9F 00 0A", kLine, kBegpic, kBody, kEndpic, kEndmf}), 8,
       "POLYLINE inside METAFILE DEFAULTS REPLACEMENT"},
      {"defaults replacement cut inside an element", Join({kBegmf, "11 9F 00 02 10 22", kEndmf}), 8,
       "its contents do not end on an element boundary"},
  };
  for (const Case &c : cases) {
    Bytes file = Hex(c.hex);
    cgmd::CheckResult r = cgmd::Check(file.data(), file.size());
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(r.offset, c.offset) << c.what << ": " << r.message;
    EXPECT_NE(r.message.find(c.message), std::string::npos)
        << c.what << ": got \"" << r.message << "\"";
  }
}

// Picture descriptor elements before the first picture, as the converter
// writes COLOUR SELECTION MODE, are tolerated and noted.
TEST(CgmdumpCheck, PictureDescriptorBeforeTheFirstPictureIsANote) {
  Bytes file = Hex(Join({kBegmf, kVersion, "20 42 00 01", kBegpic, kBody, kEndpic, kEndmf}));
  cgmd::CheckResult r = cgmd::Check(file.data(), file.size());
  EXPECT_TRUE(r.ok) << r.message;
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("offset 8: picture descriptor element COLOUR SELECTION MODE"),
            std::string::npos);
}

#ifdef CGMDUMP_EXE
std::string RunTool(const std::string &args, int *status) {
  std::string cmd = std::string(CGMDUMP_EXE) + " " + args + " 2>&1";
  FILE *p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = pclose(p);
  *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

TEST(CgmdumpCheck, CommandLineExitStatusAndMessages) {
  TempPath good, bad;
  Bytes v = Hex(Body(kLine));
  FILE *f = std::fopen(good.path.c_str(), "wb");
  std::fwrite(v.data(), 1, v.size(), f);
  std::fclose(f);
  f = std::fopen(bad.path.c_str(), "wb");
  std::fwrite(v.data(), 1, 30, f);
  std::fclose(f);
  int status = -1;
  EXPECT_EQ(RunTool("--check " + good.path, &status),
            good.path + ": ok: 8 elements, 1 picture, 38 bytes\n");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(RunTool("--check " + bad.path, &status),
            bad.path + ": offset 24: truncated element: POLYLINE announces 8 parameter bytes "
                       "but only 4 remain in the file\n");
  EXPECT_EQ(status, 1);
  RunTool("--check /nonexistent/x.cgm", &status);
  EXPECT_EQ(status, 2);
  RunTool("--bogus " + good.path, &status);
  EXPECT_EQ(status, 2);
  std::string dump = RunTool(good.path, &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(dump.find("      24  LINE (0,0) (10,10);\n"), std::string::npos) << dump;
  RunTool(bad.path, &status);
  EXPECT_EQ(status, 1);
}
#endif

}  // namespace
