// cgmdump --render: small hand-made cell arrays drawn to PNG, checked pixel
// by pixel at the centres of the cells; SVG and PDF output; bad requests.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "CgmDecode.h"
#include "testutil.h"

namespace {

struct Image {
  int w = 0, h = 0;
  std::vector<uint32_t> px;  // 0xRRGGBB
  uint32_t At(int x, int y) const { return px[static_cast<size_t>(y * w + x)] & 0xffffff; }
};

Image LoadPng(const std::string &path) {
  Image img;
  cairo_surface_t *s = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
    img.w = cairo_image_surface_get_width(s);
    img.h = cairo_image_surface_get_height(s);
    int stride = cairo_image_surface_get_stride(s);
    const unsigned char *d = cairo_image_surface_get_data(s);
    for (int y = 0; y < img.h; y++)
      for (int x = 0; x < img.w; x++)
        img.px.push_back(*reinterpret_cast<const uint32_t *>(d + y * stride + 4 * x));
  }
  cairo_surface_destroy(s);
  return img;
}

bool RenderTo(const Bytes &file, const std::string &out, int width, std::string *error,
              int picture = 1) {
  cgmd::RenderOptions o;
  o.outPath = out;
  o.width = width;
  o.picture = picture;
  std::vector<std::string> warnings;
  return cgmd::Render(file.data(), file.size(), o, error, &warnings);
}

// BEGMF "", BEGPIC "", the descriptor elements given, VDCEXT (0,0) (4,2),
// BEGPICBODY, the body, ENDPIC, ENDMF.  Integer VDC of 16 bits.
Bytes Picture(const std::string &descriptor, const std::string &body) {
  return Hex("00 21 00 00 00 61 00 00 " + descriptor +
             " 20 C8 00 00 00 00 00 04 00 02 00 80 " + body + " 00 A0 00 40");
}

// Direct colour, 8 bits, packed, P (0,0) Q (4,2) R (4,0): the first row is
// the bottom one.  Drawn 40 pixels wide, every cell is 10 x 10 pixels.
TEST(CgmdumpRender, PackedDirectColourCellArray) {
  Bytes file = Picture("20 42 00 01",
                       "41 3F 00 2C 00 00 00 00 00 04 00 02 00 04 00 00 00 04 00 02 00 08 00 01"
                       " FF 00 00 00 FF 00 00 00 FF FF FF FF"   // bottom row
                       " 00 00 00 80 80 80 FF FF 00 00 FF FF");  // top row
  TempPath out(".png");
  std::string error;
  ASSERT_TRUE(RenderTo(file, out.path, 40, &error)) << error;
  Image img = LoadPng(out.path);
  ASSERT_EQ(img.w, 40);
  ASSERT_EQ(img.h, 20);
  const uint32_t bottom[4] = {0xff0000, 0x00ff00, 0x0000ff, 0xffffff};
  const uint32_t top[4] = {0x000000, 0x808080, 0xffff00, 0x00ffff};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(img.At(10 * i + 5, 15), bottom[i]) << "bottom cell " << i;
    EXPECT_EQ(img.At(10 * i + 5, 5), top[i]) << "top cell " << i;
  }
}

// Run-length, 2-bit indexed cells drawn as grey levels (index / 3), on a
// parallelogram turned half a turn: P at the top right, R at the top left,
// Q at the bottom left, so the first row runs right to left along the top.
TEST(CgmdumpRender, RunLengthIndexedCellArrayOnATurnedParallelogram) {
  // Rows: (1 x 3, 1 x 0) and (2 x 1); each run's 2-bit index takes a byte.
  Bytes file = Picture("",
                       "41 3D 00 04 00 02 00 00 00 00 00 00 00 02 00 02 00 02 00 02 00 00"
                       " 00 01 C0 00 01 00"
                       " 00 02 40 00");  // the last byte is the element's pad byte
  TempPath out(".png");
  std::string error;
  ASSERT_TRUE(RenderTo(file, out.path, 40, &error)) << error;
  Image img = LoadPng(out.path);
  ASSERT_EQ(img.w, 40);
  EXPECT_EQ(img.At(30, 5), 0xffffffu);  // first cell of the first row: index 3
  EXPECT_EQ(img.At(10, 5), 0x000000u);  // index 0
  EXPECT_EQ(img.At(10, 15), 0x555555u);  // second row: index 1 of 3
  EXPECT_EQ(img.At(30, 15), 0x555555u);
}

// A 1-bit packed row of 5000 cells is sampled into at most 4096 image
// columns; the colours still land where the cells are.
TEST(CgmdumpRender, WideCellArrayIsSampled) {
  // 5000 cells: the first 2500 are 1 (white), the rest 0 (black): 625
  // bytes, an odd count, so the element has a pad byte.
  std::string row;
  for (int i = 0; i < 625; i++) row += i < 312 ? " FF" : (i == 312 ? " F0" : " 00");
  Bytes file = Picture("",
                       "41 3F 02 85 00 00 00 00 00 04 00 02 00 04 00 00 13 88 00 01 00 01 00 01" +
                           row + " 00");
  cgmd::CheckResult c = cgmd::Check(file.data(), file.size());
  ASSERT_TRUE(c.ok) << c.message;
  TempPath out(".png");
  std::string error;
  ASSERT_TRUE(RenderTo(file, out.path, 400, &error)) << error;
  Image img = LoadPng(out.path);
  ASSERT_EQ(img.h, 200);
  EXPECT_EQ(img.At(100, 100), 0xffffffu);
  EXPECT_EQ(img.At(300, 100), 0x000000u);
}

// Background colour and an outline: the rectangle's edge is drawn dark on
// the background.
TEST(CgmdumpRender, BackgroundAndOutlines) {
  Bytes file = Picture("20 E3 00 00 FF 00", "41 68 00 01 00 00 00 03 00 02");
  TempPath out(".png");
  std::string error;
  ASSERT_TRUE(RenderTo(file, out.path, 400, &error)) << error;
  Image img = LoadPng(out.path);
  EXPECT_EQ(img.At(50, 50), 0x0000ffu);  // background, away from the edge
  EXPECT_EQ(img.At(200, 100), 0x0000ffu);  // inside the outline: not filled
  // The left edge x = 1 runs along pixel column 100 (anti-aliased over
  // columns 99 and 100).
  uint32_t blue = std::min(img.At(99, 100) & 0xff, img.At(100, 100) & 0xff);
  EXPECT_LT(blue, 0xC0u);
}

// Regression: anti-aliased edges let the background show as a light seam
// where two stacked cell arrays (a converted image's strips) meet inside a
// pixel row.
TEST(CgmdumpRender, StackedCellArraysMeetWithoutASeam) {
  // VDC extent (0,0) (3,3) drawn 40 pixels wide: the arrays meet at y = 1,
  // pixel row 26.67.  Both arrays are one black cell.
  Bytes file = Hex(
      "00 21 00 00 00 61 00 00 20 42 00 01 20 C8 00 00 00 00 00 03 00 03 00 80"
      " 41 37 00 00 00 00 00 03 00 01 00 03 00 00 00 01 00 01 00 08 00 01 00 00 00 00"
      " 41 37 00 00 00 01 00 03 00 03 00 03 00 01 00 01 00 01 00 08 00 01 00 00 00 00"
      " 00 A0 00 40");
  TempPath out(".png");
  std::string error;
  ASSERT_TRUE(RenderTo(file, out.path, 40, &error)) << error;
  Image img = LoadPng(out.path);
  ASSERT_EQ(img.h, 40);
  for (int y = 0; y < 40; y++) EXPECT_EQ(img.At(20, y), 0u) << "row " << y;
}

TEST(CgmdumpRender, SvgAndPdfFiles) {
  Bytes file = Picture("20 42 00 01",
                       "41 37 00 00 00 00 00 04 00 02 00 04 00 00 00 01 00 01 00 08 00 01 10 20 30 00");
  for (const char *suffix : {".svg", ".pdf", ".PDF"}) {
    TempPath out(suffix);
    std::string error;
    ASSERT_TRUE(RenderTo(file, out.path, 0, &error)) << suffix << ": " << error;
    Bytes b = ReadFile(out.path);
    ASSERT_GT(b.size(), 4u) << suffix;
    std::string head(b.begin(), b.begin() + 4);
    EXPECT_EQ(head, std::string(suffix) == ".svg" ? "<?xm" : "%PDF") << suffix;
  }
}

TEST(CgmdumpRender, RefusesWhatItCannotDraw) {
  Bytes file = Picture("", "");
  std::string error;
  TempPath png(".png");
  EXPECT_FALSE(RenderTo(file, "/tmp/x.gif", 0, &error));
  EXPECT_NE(error.find(".png, .svg or .pdf"), std::string::npos) << error;
  EXPECT_FALSE(RenderTo(file, png.path, 0, &error, 2));
  EXPECT_EQ(error, "the metafile has 1 picture; there is no picture 2");
  Bytes random = Hex("DE AD BE EF");
  EXPECT_FALSE(RenderTo(random, png.path, 0, &error));
  EXPECT_FALSE(error.empty());
  // An empty VDC extent.
  Bytes empty = Hex("00 21 00 00 00 61 00 00 20 C8 00 01 00 01 00 01 00 05 00 80 00 A0 00 40");
  EXPECT_FALSE(RenderTo(empty, png.path, 0, &error));
  EXPECT_EQ(error, "picture 1 has an empty VDC extent");
  EXPECT_FALSE(RenderTo(file, "/nonexistent-dir/x.png", 0, &error));
  EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
}

// A truncated picture: what could be read is drawn, and the problem named.
TEST(CgmdumpRender, TruncatedPictureIsDrawnAsFarAsItGoes) {
  Bytes file = Picture("20 42 00 01",
                       "41 37 00 00 00 00 00 04 00 02 00 04 00 00 00 01 00 01 00 08 00 01 FF 00 00 00");
  file.resize(file.size() - 4);  // no ENDPIC, no ENDMF
  file.push_back(0x40);          // and half a header
  TempPath out(".png");
  std::string error;
  EXPECT_FALSE(RenderTo(file, out.path, 40, &error));
  EXPECT_NE(error.find("truncated element"), std::string::npos) << error;
  Image img = LoadPng(out.path);
  ASSERT_EQ(img.w, 40);
  EXPECT_EQ(img.At(5, 10), 0xff0000u);
}

}  // namespace
