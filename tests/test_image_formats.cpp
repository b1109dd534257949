// The image layer: every format written by the test (with libpng, libjpeg
// and libtiff, and by hand for PNM and SGI) reads back as the same pixels,
// bottom row first, with the channels, colour model and sample range as
// stored; broken files are refused.
#include <gtest/gtest.h>

#include <memory>

#include "ImageLib.h"
#include "picmeta_testkit.h"

using kit::Image;

namespace {

using ImagePtr = std::unique_ptr<ilImage>;

ImagePtr Open(const std::string &path) {
  return ImagePtr(ilOpenImgFile(path.c_str(), "r"));
}

// The whole image through getSubTile3D as 32-bit values with the lower-left
// origin, turned back into a top-first Image.
Image ReadAll(ilImage *img) {
  Image out;
  out.w = img->getXsize();
  out.h = img->getYsize();
  out.c = img->getCsize();
  std::vector<uint32_t> buf(kit::Z(out.w * out.h * out.c));
  ilConfig cfg(ilULong, ilInterleaved, out.c, nullptr, 0, ilLowerLeftOrigin,
               img->getColorModel());
  EXPECT_EQ(ilOKAY, img->getSubTile3D(0, 0, 0, out.w, out.h, 1, buf.data(), 0,
                                      0, 0, out.w, out.h, 1, &cfg));
  out.v.resize(buf.size());
  const size_t row = kit::Z(out.w * out.c);
  for (int y = 0; y < out.h; y++)  // buffer row y is image row h-1-y
    for (size_t i = 0; i < row; i++)
      out.v[static_cast<size_t>(out.h - 1 - y) * row + i] =
          static_cast<int>(buf[static_cast<size_t>(y) * row + i]);
  return out;
}

void ExpectSame(const Image &want, const Image &got) {
  ASSERT_EQ(want.w, got.w);
  ASSERT_EQ(want.h, got.h);
  ASSERT_EQ(want.c, got.c);
  for (int y = 0; y < want.h; y++)
    for (int x = 0; x < want.w; x++)
      for (int c = 0; c < want.c; c++)
        ASSERT_EQ(want.at(x, y, c), got.at(x, y, c))
            << "pixel (" << x << ", " << y << ") channel " << c;
}

struct Expect {
  int channels;
  ilColorModel model;
  double min, max;
};

void Check(const std::string &path, const Image &want, Expect e) {
  ImagePtr img = Open(path);
  ASSERT_TRUE(img) << path;
  EXPECT_EQ(e.channels, img->getCsize());
  EXPECT_EQ(e.model, img->getColorModel());
  EXPECT_EQ(e.min, img->getMinValue(-1));
  EXPECT_EQ(e.max, img->getMaxValue(-1));
  ExpectSame(want, ReadAll(img.get()));
}

// The smallest and largest sample of an image.
std::pair<int, int> Range(const Image &im) {
  int lo = im.v[0], hi = im.v[0];
  for (int v : im.v) lo = std::min(lo, v), hi = std::max(hi, v);
  return {lo, hi};
}

TEST(ImagePnm, ColourAndGreyAtBothDepths) {
  TempPath p6(".ppm"), p6deep(".ppm"), p6wide(".ppm"), p5(".pgm"),
      p5deep(".pgm");
  const Image rgb = kit::Pattern(7, 5);
  kit::WriteBytes(p6.path, kit::PnmBytes(rgb));
  // 8-bit samples report the bounds of the type, without a pass.
  Check(p6.path, rgb, {3, ilRGB, 0, 255});

  // 16-bit samples that stay within 0..255 report their true range.
  kit::WriteBytes(p6deep.path, kit::PnmBytes(rgb, 65535));
  auto r = Range(rgb);
  Check(p6deep.path, rgb, {3, ilRGB, double(r.first), double(r.second)});

  const Image deep = kit::Pattern(6, 4, 3, 4000);
  kit::WriteBytes(p6wide.path, kit::PnmBytes(deep, 4000));
  r = Range(deep);
  Check(p6wide.path, deep, {3, ilRGB, double(r.first), double(r.second)});

  const Image grey = kit::Pattern(5, 3, 1);
  kit::WriteBytes(p5.path, kit::PnmBytes(grey));
  Check(p5.path, grey, {1, ilMinBlack, 0, 255});
  kit::WriteBytes(p5deep.path, kit::PnmBytes(grey, 300));
  r = Range(grey);
  Check(p5deep.path, grey, {1, ilMinBlack, double(r.first), double(r.second)});
}

TEST(ImagePnm, BitmapRowsStartOnBytes) {
  // P4: 10 pixels a row, two bytes a row, 1 is black.
  TempPath p4(".pbm");
  std::string head = "P4 # comment\n10 2\n";
  Bytes b(head.begin(), head.end());
  for (int v : {0xA0, 0x40, 0x0F, 0xC0}) b.push_back(static_cast<uint8_t>(v));
  kit::WriteBytes(p4.path, b);
  Image want;
  want.w = 10;
  want.h = 2;
  want.c = 1;
  want.v = {0, 255, 0, 255, 255, 255, 255, 255, 255, 0,
            255, 255, 255, 255, 0, 0, 0, 0, 0, 0};
  Check(p4.path, want, {1, ilMinBlack, 0, 255});
}

TEST(ImageSgi, VerbatimAndRunLengthAtBothDepths) {
  const Image rgb = kit::Pattern(9, 6);
  Image flat = kit::Pattern(130, 4);  // runs longer than 127 and literals
  for (int x = 0; x < 129; x++)
    for (int c = 0; c < 3; c++) flat.at(x, 1, c) = 77;
  const Image deep = kit::Pattern(5, 4, 3, 1000);
  struct Case {
    const Image *im;
    bool rle;
    int bpc;
  } cases[] = {{&rgb, false, 1}, {&rgb, true, 1}, {&flat, true, 1},
               {&deep, false, 2}, {&deep, true, 2}};
  for (const Case &c : cases) {
    TempPath path(".rgb");
    kit::WriteBytes(path.path, kit::SgiBytes(*c.im, c.rle, c.bpc));
    SCOPED_TRACE(std::string(c.rle ? "rle" : "verbatim") + " bpc " +
                 std::to_string(c.bpc));
    auto r = Range(*c.im);
    if (c.bpc == 1) r = {0, 255};
    Check(path.path, *c.im, {3, ilRGB, double(r.first), double(r.second)});
  }
}

TEST(ImageSgi, ChannelCountsAndModels) {
  const ilColorModel models[] = {ilMinBlack, ilMinBlackAlpha, ilRGB, ilRGBA};
  for (int ch = 1; ch <= 4; ch++) {
    TempPath path(".sgi");
    const Image im = kit::Pattern(4, 3, ch);
    kit::WriteBytes(path.path, kit::SgiBytes(im, ch % 2 == 0, 1));
    Check(path.path, im, {ch, models[ch - 1], 0, 255});
  }
}

TEST(ImagePng, ColourTypesAndDepths) {
  const Image rgb = kit::Pattern(11, 7);
  TempPath a(".png"), b(".png"), c(".png"), d(".png");
  kit::WritePng(a.path, rgb);
  Check(a.path, rgb, {3, ilRGB, 0, 255});
  kit::PngOptions interlaced;
  interlaced.interlace = true;
  kit::WritePng(b.path, rgb, interlaced);
  Check(b.path, rgb, {3, ilRGB, 0, 255});

  const Image deep = kit::Pattern(6, 5, 3, 60000);
  kit::PngOptions sixteen;
  sixteen.depth = 16;
  kit::WritePng(c.path, deep, sixteen);
  auto r = Range(deep);
  Check(c.path, deep, {3, ilRGB, double(r.first), double(r.second)});
  kit::WritePng(d.path, rgb, sixteen);
  r = Range(rgb);
  Check(d.path, rgb, {3, ilRGB, double(r.first), double(r.second)});
}

TEST(ImagePng, PaletteIsExpandedAndOtherChannelsAsStored) {
  Image few = kit::Pattern(8, 6);
  for (size_t i = 0; i < few.v.size(); i++) few.v[i] = (few.v[i] / 64) * 64;
  TempPath pal(".png");
  kit::PngOptions o;
  o.palette = true;
  kit::WritePng(pal.path, few, o);
  Check(pal.path, few, {3, ilRGB, 0, 255});

  const ilColorModel models[] = {ilMinBlack, ilMinBlackAlpha, ilRGB, ilRGBA};
  for (int ch : {1, 2, 4}) {
    TempPath path(".png");
    const Image im = kit::Pattern(5, 4, ch);
    kit::WritePng(path.path, im);
    Check(path.path, im, {ch, models[ch - 1], 0, 255});
  }
}

TEST(ImageJpeg, PixelsAreWhatLibjpegDecodes) {
  for (int ch : {3, 1}) {
    TempPath path(".jpg");
    kit::WriteJpeg(path.path, kit::Pattern(19, 13, ch));
    const Image want = kit::DecodeJpeg(path.path);
    Check(path.path, want, {ch, ch == 3 ? ilRGB : ilMinBlack, 0, 255});
  }
  TempPath cmyk(".jpg");
  kit::WriteJpeg(cmyk.path, kit::Pattern(8, 8, 4));
  ImagePtr img = Open(cmyk.path);
  ASSERT_TRUE(img);
  EXPECT_EQ(4, img->getCsize());
  EXPECT_EQ(ilCMYK, img->getColorModel());
}

TEST(ImageTiff, StripsTilesPlanesAndDepths) {
  const Image rgb = kit::Pattern(37, 29);
  const Image deep = kit::Pattern(37, 29, 3, 65536);
  struct Case {
    const char *name;
    const Image *im;
    kit::TiffOptions o;
  };
  auto opt = [](int bits, bool separate, int tile, int rows, int comp) {
    kit::TiffOptions o;
    o.bits = bits;
    o.separate = separate;
    o.tileWidth = tile;
    o.tileLength = tile;
    o.rowsPerStrip = rows;
    o.compression = comp;
    return o;
  };
  const Case cases[] = {
      {"strips", &rgb, opt(8, false, 0, 5, COMPRESSION_NONE)},
      {"one strip", &rgb, opt(8, false, 0, 29, COMPRESSION_NONE)},
      {"strips deflate", &rgb, opt(8, false, 0, 7, COMPRESSION_ADOBE_DEFLATE)},
      {"strips separate", &rgb, opt(8, true, 0, 6, COMPRESSION_LZW)},
      {"tiles", &rgb, opt(8, false, 16, 0, COMPRESSION_NONE)},
      {"tiles separate", &rgb, opt(8, true, 16, 0, COMPRESSION_PACKBITS)},
      {"16-bit strips", &deep, opt(16, false, 0, 4, COMPRESSION_NONE)},
      {"16-bit tiles separate", &deep, opt(16, true, 16, 0, COMPRESSION_LZW)},
      {"16-bit within 0..255", &rgb, opt(16, false, 0, 8, COMPRESSION_NONE)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempPath path(".tif");
    kit::WriteTiff(path.path, *c.im, c.o);
    auto r = c.o.bits == 8 ? std::make_pair(0, 255) : Range(*c.im);
    Check(path.path, *c.im, {3, ilRGB, double(r.first), double(r.second)});
  }
}

TEST(ImageTiff, FloatAndSignedSamples) {
  // Floating-point samples: the range is that of the values, and the
  // values are delivered rounded to the nearest integer.
  const Image rgb = kit::Pattern(9, 7);
  TempPath f32(".tif"), f64(".tif"), s16(".tif");
  kit::TiffOptions o;
  o.format = SAMPLEFORMAT_IEEEFP;
  o.bits = 32;
  kit::WriteTiff(f32.path, rgb, o);
  auto r = Range(rgb);
  Check(f32.path, rgb, {3, ilRGB, double(r.first), double(r.second)});
  o.bits = 64;
  o.separate = true;
  kit::WriteTiff(f64.path, rgb, o);
  Check(f64.path, rgb, {3, ilRGB, double(r.first), double(r.second)});

  Image neg = rgb;
  neg.at(3, 2, 1) = -5;
  kit::TiffOptions s;
  s.format = SAMPLEFORMAT_INT;
  s.bits = 16;
  kit::WriteTiff(s16.path, neg, s);
  ImagePtr img = Open(s16.path);
  ASSERT_TRUE(img);
  EXPECT_EQ(-5.0, img->getMinValue(-1));
  EXPECT_EQ(-5.0, img->getMinValue(1));
  EXPECT_EQ(0.0, img->getMinValue(0));
}

TEST(ImageTiff, PaletteGreyAndOtherModels) {
  // A palette image of 4-bit indices comes out as RGB.
  TempPath pal(".tif");
  {
    TIFF *t = TIFFOpen(pal.path.c_str(), "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 3u);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2u);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t{1});
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t{4});
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t{PHOTOMETRIC_PALETTE});
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2u);
    std::vector<uint16_t> r(16), g(16), b(16);
    for (int i = 0; i < 16; i++) {
      r[kit::Z(i)] = static_cast<uint16_t>(i * 16 * 257);
      g[kit::Z(i)] = static_cast<uint16_t>((15 - i) * 257);
      b[kit::Z(i)] = static_cast<uint16_t>(0xFFFF);
    }
    TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    unsigned char rows[4] = {0x12, 0x30, 0xF0, 0x10};  // 1 2 3 / 15 0 1
    TIFFWriteEncodedStrip(t, 0, rows, 4);
    TIFFClose(t);
  }
  Image want;
  want.w = 3;
  want.h = 2;
  want.v = {16, 14, 255, 32, 13, 255, 48, 12, 255,
            240, 0, 255, 0, 15, 255, 16, 14, 255};
  Check(pal.path, want, {3, ilRGB, 0, 255});

  TempPath grey(".tif"), threeGrey(".tif"), rgba(".tif");
  const Image g1 = kit::Pattern(6, 5, 1);
  kit::WriteTiff(grey.path, g1);
  Check(grey.path, g1, {1, ilMinBlack, 0, 255});
  // Three samples that are not RGB: three channels, but not the RGB model.
  kit::TiffOptions o;
  o.photometric = PHOTOMETRIC_MINISBLACK;
  kit::WriteTiff(threeGrey.path, kit::Pattern(4, 4, 3), o);
  ImagePtr img = Open(threeGrey.path);
  ASSERT_TRUE(img);
  EXPECT_EQ(3, img->getCsize());
  EXPECT_NE(ilRGB, img->getColorModel());
  const Image four = kit::Pattern(6, 5, 4);
  kit::WriteTiff(rgba.path, four);
  Check(rgba.path, four, {4, ilRGBA, 0, 255});
}

TEST(ImageLayout, BlocksOriginsTypesAndChannels) {
  TempPath path(".ppm");
  const Image im = kit::Pattern(10, 8);
  kit::WriteBytes(path.path, kit::PnmBytes(im));
  ImagePtr img = Open(path.path);
  ASSERT_TRUE(img);

  // A block of 4 x 3 pixels at (2, 1) with the lower-left origin lands in a
  // buffer covering (1, 0)..(8, 5): rows 1..3 from the bottom.
  std::vector<uint8_t> buf(8 * 6 * 3, 0xEE);
  ilConfig bytes(ilUChar, ilInterleaved, 3, nullptr, 0, ilLowerLeftOrigin,
                 ilRGB);
  ASSERT_EQ(ilOKAY, img->getSubTile3D(2, 1, 0, 4, 3, 1, buf.data(), 1, 0, 0,
                                      8, 6, 1, &bytes));
  for (int by = 0; by < 6; by++)
    for (int bx = 0; bx < 8; bx++)
      for (int c = 0; c < 3; c++) {
        const int x = bx + 1, y = by;  // image coordinates, y from the bottom
        const bool inside = x >= 2 && x < 6 && y >= 1 && y < 4;
        const uint8_t got = buf[kit::Z((by * 8 + bx) * 3 + c)];
        if (inside) ASSERT_EQ(im.at(x, 7 - y, c), got);
        else ASSERT_EQ(0xEE, got);
      }

  // Upper-left origin and a channel list (blue, red) as 16-bit values.
  std::vector<uint16_t> two(10 * 2 * 2);
  const int list[2] = {2, 0};
  ilConfig pick(ilUShort, ilInterleaved, 2, list, 0, ilUpperLeftOrigin, ilRGB);
  ASSERT_EQ(ilOKAY, img->getSubTile3D(0, 0, 0, 10, 2, 1, two.data(), 0, 0, 0,
                                      10, 2, 1, &pick));
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 10; x++) {
      EXPECT_EQ(im.at(x, y, 2), two[kit::Z((y * 10 + x) * 2)]);
      EXPECT_EQ(im.at(x, y, 0), two[kit::Z((y * 10 + x) * 2 + 1)]);
    }

  // Refused requests.
  std::vector<uint32_t> big(10 * 8 * 3);
  ilConfig ok(ilULong, ilInterleaved, 3, nullptr, 0, ilLowerLeftOrigin, ilRGB);
  EXPECT_NE(ilOKAY, img->getSubTile3D(0, 5, 0, 10, 4, 1, big.data(), 0, 5, 0,
                                      10, 4, 1, &ok));  // past the top
  EXPECT_NE(ilOKAY, img->getSubTile3D(0, 0, 0, 10, 4, 1, big.data(), 0, 1, 0,
                                      10, 4, 1, &ok));  // outside the buffer
  ilConfig planes(ilULong, ilSeparate, 3, nullptr, 0, ilLowerLeftOrigin, ilRGB);
  EXPECT_NE(ilOKAY, img->getSubTile3D(0, 0, 0, 10, 8, 1, big.data(), 0, 0, 0,
                                      10, 8, 1, &planes));
  ilConfig grey(ilULong, ilInterleaved, 1, nullptr, 0, ilLowerLeftOrigin,
                ilMinBlack);
  EXPECT_NE(ilOKAY, img->getSubTile3D(0, 0, 0, 10, 8, 1, big.data(), 0, 0, 0,
                                      10, 8, 1, &grey));
}

// ---- Files that must be refused ------------------------------------------

uint32_t Crc32(const Bytes &b, size_t from, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = from; i < from + n; i++) {
    c ^= b[i];
    for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

// A PNG whose header claims w x h RGB pixels, with no image data.
Bytes PngHeaderOnly(uint32_t w, uint32_t h) {
  Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  kit::Put32(&b, 13);
  const size_t start = b.size();
  for (char ch : std::string("IHDR")) b.push_back(static_cast<uint8_t>(ch));
  kit::Put32(&b, w);
  kit::Put32(&b, h);
  for (int v : {8, 2, 0, 0, 0}) b.push_back(static_cast<uint8_t>(v));
  kit::Put32(&b, Crc32(b, start, 17));
  kit::Put32(&b, 0);
  const size_t end = b.size();
  for (char ch : std::string("IEND")) b.push_back(static_cast<uint8_t>(ch));
  kit::Put32(&b, Crc32(b, end, 4));
  return b;
}

Bytes Cut(Bytes b, size_t keep) {
  b.resize(keep);
  return b;
}

TEST(ImageRefused, UnknownCorruptTruncatedAndHugeFiles) {
  const Image rgb = kit::Pattern(40, 30);
  TempPath png(".png"), jpg(".jpg"), tif(".tif");
  kit::WritePng(png.path, rgb);
  kit::WriteJpeg(jpg.path, rgb);
  kit::WriteTiff(tif.path, rgb);
  const Bytes pngBytes = ReadFile(png.path);
  const Bytes jpgBytes = ReadFile(jpg.path);
  Bytes badCrc = pngBytes;
  badCrc[40] ^= 0x55;  // inside the image data
  Bytes jpgGarbage = jpgBytes;
  for (size_t i = jpgGarbage.size() / 2; i < jpgGarbage.size() - 2; i++)
    jpgGarbage[i] = static_cast<uint8_t>(i * 7);
  Bytes sgiDeep = kit::SgiBytes(rgb, false, 1);
  sgiDeep[11] = 5;  // five channels
  Bytes sgiRle = kit::SgiBytes(rgb, true, 1);
  sgiRle[512] = 0x7F;  // first row's offset past the end of the file
  const std::string text = "just some text\n";

  struct Case {
    const char *name;
    Bytes bytes;
  } cases[] = {
      {"empty", {}},
      {"text", Bytes(text.begin(), text.end())},
      {"ascii pnm", Bytes{'P', '3', '\n', '1', ' ', '1', '\n', '2', '\n'}},
      {"pnm truncated", Cut(kit::PnmBytes(rgb), 1000)},
      {"pnm no maxval", Bytes{'P', '6', ' ', '4', ' ', '4', ' '}},
      {"pnm huge", [] {
         std::string s = "P6\n99999999 99999999\n255\n";
         return Bytes(s.begin(), s.end());
       }()},
      {"pnm maxval 70000", [] {
         std::string s = "P6\n1 1\n70000\n123456";
         return Bytes(s.begin(), s.end());
       }()},
      {"pnm zero width", [] {
         std::string s = "P6\n0 1\n255\n";
         return Bytes(s.begin(), s.end());
       }()},
      {"png truncated", Cut(pngBytes, pngBytes.size() / 2)},
      {"png bad crc", badCrc},
      {"png huge", PngHeaderOnly(1000000, 1000000)},
      {"png header only", PngHeaderOnly(300, 200)},
      {"jpeg truncated", Cut(jpgBytes, jpgBytes.size() / 2)},
      {"jpeg corrupt", jpgGarbage},
      {"jpeg soi only", Bytes{0xFF, 0xD8, 0xFF}},
      {"tiff header only", Bytes{'I', 'I', 42, 0, 8, 0, 0, 0}},
      {"sgi truncated", Cut(kit::SgiBytes(rgb, false, 1), 3000)},
      {"sgi five channels", sgiDeep},
      {"sgi rle offset", sgiRle},
      {"sgi header only", Cut(kit::SgiBytes(rgb, false, 1), 100)},
  };
  for (const Case &c : cases) {
    TempPath path(".img");
    kit::WriteBytes(path.path, c.bytes);
    EXPECT_FALSE(Open(path.path)) << c.name;
  }
  EXPECT_FALSE(Open("/nonexistent/dir/x.png"));
  EXPECT_FALSE(ilOpenImgFile(png.path.c_str(), "w"));
}

TEST(ImageRefused, TiffClaimingHugeDimensions) {
  TempPath path(".tif");
  TIFF *t = TIFFOpen(path.path.c_str(), "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 3000000000u);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2u);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t{3});
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t{8});
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t{PHOTOMETRIC_RGB});
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1u);
  unsigned char px[3] = {1, 2, 3};
  TIFFWriteRawStrip(t, 0, px, 3);
  TIFFClose(t);
  EXPECT_FALSE(Open(path.path));
}

TEST(ImageRefused, DamageFoundWhileReadingStripsIsAFailedRead) {
  // The header and tables are sound, so the file opens; the damage shows
  // only when its rows are read.
  const Image rgb = kit::Pattern(20, 12);
  TempPath tif(".tif"), sgi(".sgi");
  // libtiff writes the strips right after the 8-byte header and the
  // directory last: spoil the first compressed strip.
  kit::TiffOptions o;
  o.compression = COMPRESSION_ADOBE_DEFLATE;
  o.rowsPerStrip = 4;
  kit::WriteTiff(tif.path, rgb, o);
  Bytes t = ReadFile(tif.path);
  for (size_t i = 8; i < 40; i++) t[i] = static_cast<uint8_t>(0xA5 ^ i);
  kit::WriteBytes(tif.path, t);

  Bytes s = kit::SgiBytes(rgb, true, 1);
  // The first encoded row of the green channel (table entry 12) claims a
  // repeat run of 127 pixels in a row of 20.
  const size_t e = 512 + 4 * 12;
  const size_t at = size_t(s[e]) << 24 | size_t(s[e + 1]) << 16 |
                    size_t(s[e + 2]) << 8 | size_t(s[e + 3]);
  s[at] = 0x7F;
  kit::WriteBytes(sgi.path, s);
  std::vector<uint32_t> buf(20 * 12 * 3);
  ilConfig cfg(ilULong, ilInterleaved, 3, nullptr, 0, ilLowerLeftOrigin, ilRGB);
  for (const std::string &path : {tif.path, sgi.path}) {
    ImagePtr img = Open(path);
    ASSERT_TRUE(img) << path;
    EXPECT_NE(ilOKAY, img->getSubTile3D(0, 0, 0, 20, 12, 1, buf.data(), 0, 0,
                                        0, 20, 12, 1, &cfg))
        << path;
  }
}

}  // namespace
