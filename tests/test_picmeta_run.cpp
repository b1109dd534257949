// picmeta as a real process: the set-up and close bytes, every strip of
// every format decoded back to pixels, wide images, the prompt, and every
// row of the error table with its text, stream and exit status.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <filesystem>

#include "picmeta_testkit.h"

#ifndef PICMETA_EXE
#error "picmeta is not built"
#endif

using kit::Image;

namespace {

// A fresh folder in the build's test folder, removed afterwards.
struct TempDir {
  TempDir() {
    {
      TempPath p(".d");  // a fresh name (the TempPath removes nothing else)
      path = p.path;
    }
    std::filesystem::create_directory(path);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string operator/(const std::string &name) const {
    return path + "/" + name;
  }
  std::string path;
};

kit::RunResult Picmeta(const std::string &in, const std::string &out,
                       const std::string &typed = "\n",
                       const std::string &cwd = "") {
  return kit::Run({PICMETA_EXE, in, out}, typed, cwd);
}

// Everything picmeta prints before the library's banner, for sizes given
// as they must print.
std::string Head(const std::string &w, const std::string &h,
                 const std::string &ow, const std::string &oh) {
  return "\n************* picmeta *************\n\n"
         "Input image file is " + w + "\"(width) x " + h + "\"(height)\n\n"
         "Please enter the ratio for size changes [default 1]: "
         "\nOutput cgm file will be " + ow + "\" (width) x " + oh +
         "\" (height).\n\n\n";
}

bool StartsWith(const std::string &s, const std::string &p) {
  return s.compare(0, p.size(), p) == 0;
}
bool EndsWith(const std::string &s, const std::string &p) {
  return s.size() >= p.size() && s.compare(s.size() - p.size(), p.size(), p) == 0;
}

// The largest strip height r <= 100 whose cell array fits 512000 bytes:
// 32 bytes of header, 3 x width a row, a pad byte before each row but the
// first when the width is odd.
int StripRows(int w) {
  int r = 100;
  while (r > 0 && 32 + int64_t(r) * 3 * w + int64_t(r - 1) * (w % 2) > 512000)
    r--;
  return r;
}

// Every element after the set-up is one strip of the image, bottom first,
// placed above the previous one; then END PICTURE and END METAFILE.
void CheckStrips(const Bytes &file, const Image &px, double ratio = 1.0) {
  const auto el = kit::ParseElements(file);
  const int w = px.w, h = px.h, r = StripRows(w);
  const int strips = (h + r - 1) / r;
  ASSERT_EQ(size_t(10 + strips + 2), el.size());
  const float W = static_cast<float>(static_cast<float>(w) / 90.0f * ratio);
  const float H = static_cast<float>(static_cast<float>(h) / 90.0f * ratio);
  const double tol = 1.0 / 65536;  // the fixed-point fraction is truncated
  double y0 = 0;
  for (int k = 0; k < strips; k++) {
    SCOPED_TRACE("strip " + std::to_string(k));
    const kit::CellArray c = kit::DecodeCellArray(el[kit::Z(10 + k)]);
    const int ny = std::min(r, h - k * r);
    ASSERT_EQ(w, c.nx);
    ASSERT_EQ(ny, c.ny);
    EXPECT_EQ(8, c.precision);
    EXPECT_EQ(1, c.mode);
    const double y1 = y0 + double((H / float(h)) * float(ny));
    EXPECT_NEAR(0.0, c.px, tol);
    EXPECT_NEAR(y0, c.py, tol);
    EXPECT_NEAR(W, c.qx, tol);
    EXPECT_NEAR(y1, c.qy, tol);
    EXPECT_NEAR(W, c.rx, tol);
    EXPECT_NEAR(y0, c.ry, tol);
    for (int j = 0; j < ny; j++) {
      const int top = h - 1 - (k * r + j);  // rows go upward
      for (int x = 0; x < w; x++)
        for (int ch = 0; ch < 3; ch++)
          ASSERT_EQ(px.at(x, top, ch), c.cells[kit::Z((j * w + x) * 3 + ch)])
              << "row " << j << " pixel " << x;
    }
    y0 = y1;
  }
  // The picture covers (0, 0) to (W, H).
  EXPECT_NEAR(H, y0, 1e-4 * std::max(1.0, double(H)));
  EXPECT_EQ(0, el[kit::Z(10 + strips)].cls);
  EXPECT_EQ(5, el[kit::Z(10 + strips)].id);
  EXPECT_EQ(0, el[kit::Z(11 + strips)].cls);
  EXPECT_EQ(2, el[kit::Z(11 + strips)].id);
}

TEST(PicmetaRun, SetUpSequenceStripAndCloseBytesForACgm) {
  // 90 x 45 pixels: 1 x 0.5 inches, one strip of 45 rows of 270 bytes.
  TempDir dir;
  const Image im = kit::Pattern(90, 45);
  kit::WriteBytes(dir / "in.ppm", kit::PnmBytes(im));
  kit::RunResult r = Picmeta("in.ppm", "a.cgm", "\n", dir.path);
  ASSERT_EQ(0, r.status) << r.out << r.err;
  EXPECT_EQ("", r.err);
  const std::string head = Head("  1.00", "  0.50", "  1.00", "  0.50");
  EXPECT_TRUE(StartsWith(r.out, head)) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("1.0.3", head.size())) << r.out;
  EXPECT_TRUE(EndsWith(r.out, "\n\n")) << r.out;

  Bytes want = Hex(
      "00 26 05 61 2E 63 67 6D"             // BEGIN METAFILE "a.cgm"
      "10 22 00 01"                         // METAFILE VERSION 1
      "10 62 00 01"                         // VDC TYPE real
      "20 42 00 01"                         // COLOUR SELECTION MODE direct
      "10 E2 00 08"                         // COLOUR PRECISION 8
      "11 66 00 01 FF FF 00 01"             // METAFILE ELEMENT LIST (-1, 1)
      "00 74 13 50 69 63 74 75 72 65 20 62 65 67 69 6E 73 2E 2E 2E 2E 2E"
      "20 26 00 01 41 CB 33 33"             // SCALING MODE metric, 25.4
      "20 D0 FF FF 80 00 FF FF 80 00"       // VDC EXTENT (-0.5, -0.5)
      "00 01 80 00 00 01 00 00"             //   to (1.5, 1.0)
      "00 80"                               // BEGIN PICTURE BODY
      "41 3F 2F 96"                         // CELL ARRAY, 12182 bytes
      "00 00 00 00 00 00 00 00"             // P (0, 0)
      "00 01 00 00 00 00 80 00"             // Q (1, 0.5)
      "00 01 00 00 00 00 00 00"             // R (1, 0)
      "00 5A 00 2D 00 08 00 01");           // 90 x 45, precision 8, packed
  for (int y = 44; y >= 0; y--)
    for (int x = 0; x < 90; x++)
      for (int c = 0; c < 3; c++) want.push_back(uint8_t(im.at(x, y, c)));
  const Bytes end = Hex("00 A0 00 40");  // END PICTURE, END METAFILE
  want.insert(want.end(), end.begin(), end.end());
  const Bytes got = ReadFile(dir / "a.cgm");
  ASSERT_EQ(want.size(), got.size());
  EXPECT_EQ(ToHex(Bytes(want.begin(), want.begin() + 110)),
            ToHex(Bytes(got.begin(), got.begin() + 110)));
  EXPECT_TRUE(want == got);
}

// Writes `im` as a file of format `fmt`; returns the pixels a reader must
// find in it (libjpeg's own decoding for JPEG).
Image WriteAs(const std::string &fmt, const Image &im, const std::string &path) {
  if (fmt == "ppm") kit::WriteBytes(path, kit::PnmBytes(im));
  if (fmt == "ppm16") kit::WriteBytes(path, kit::PnmBytes(im, 65535));
  if (fmt == "png") kit::WritePng(path, im);
  if (fmt == "png16") {
    kit::PngOptions o;
    o.depth = 16;
    kit::WritePng(path, im, o);
  }
  if (fmt == "tiff") kit::WriteTiff(path, im);
  if (fmt == "tiff-tiles-separate-16") {
    kit::TiffOptions o;
    o.bits = 16;
    o.separate = true;
    o.tileWidth = o.tileLength = 16;
    o.compression = COMPRESSION_ADOBE_DEFLATE;
    kit::WriteTiff(path, im, o);
  }
  if (fmt == "sgi") kit::WriteBytes(path, kit::SgiBytes(im, false, 1));
  if (fmt == "sgi-rle") kit::WriteBytes(path, kit::SgiBytes(im, true, 1));
  if (fmt == "sgi-rle16") kit::WriteBytes(path, kit::SgiBytes(im, true, 2));
  if (fmt == "jpeg") {
    kit::WriteJpeg(path, im);
    return kit::DecodeJpeg(path);
  }
  return im;
}

TEST(PicmetaRun, EveryStripOfEveryFormatIsTheImage) {
  TempDir dir;
  for (const char *fmt : {"ppm", "png", "jpeg", "tiff", "sgi-rle"})
    for (int h : {1, 100, 200, 250})
      for (int w : {7, 8}) {
        SCOPED_TRACE(std::string(fmt) + " " + std::to_string(w) + "x" +
                     std::to_string(h));
        const std::string in = dir / "in.img", out = dir / "out.cgm";
        const Image want = WriteAs(fmt, kit::Pattern(w, h), in);
        kit::RunResult r = Picmeta(in, out);
        ASSERT_EQ(0, r.status) << r.err;
        CheckStrips(ReadFile(out), want);
      }
}

TEST(PicmetaRun, FormatVariantsConvert) {
  TempDir dir;
  for (const char *fmt : {"ppm16", "png16", "tiff-tiles-separate-16", "sgi",
                          "sgi-rle16"}) {
    SCOPED_TRACE(fmt);
    const std::string in = dir / "in.img", out = dir / "out.cgm";
    const Image want = WriteAs(fmt, kit::Pattern(33, 130), in);
    kit::RunResult r = Picmeta(in, out, "3\n");
    ASSERT_EQ(0, r.status) << r.err;
    CheckStrips(ReadFile(out), want, 3.0);
  }
}

TEST(PicmetaRun, WideImagesUseShorterStrips) {
  // 2000 pixels a row: 85 rows a strip (85 x 6000 + 32 = 510032 bytes).
  TempDir dir;
  const Image im = kit::Pattern(2000, 200);
  kit::WriteBytes(dir / "wide.ppm", kit::PnmBytes(im));
  kit::RunResult r = Picmeta(dir / "wide.ppm", dir / "wide.cgm");
  ASSERT_EQ(0, r.status) << r.out << r.err;
  const Bytes file = ReadFile(dir / "wide.cgm");
  CheckStrips(file, im);
  const auto el = kit::ParseElements(file);
  EXPECT_EQ(85, kit::DecodeCellArray(el[10]).ny);
  EXPECT_EQ(30, kit::DecodeCellArray(el[12]).ny);
  // The last strip ends at the picture's top right corner, 22.22 x 2.22 in.
  const kit::CellArray last = kit::DecodeCellArray(el[12]);
  EXPECT_NEAR(2000 / 90.0, last.qx, 1e-4);
  EXPECT_NEAR(200 / 90.0, last.qy, 1e-4);
}

TEST(PicmetaRun, WidestImages) {
  // 65535 pixels, the widest count a 16-bit integer holds: two rows a strip
  // (32 + 2 x 196605 + 1 = 393243 bytes).
  TempDir dir;
  const Image ok = kit::Pattern(65535, 3);
  kit::WriteBytes(dir / "ok.ppm", kit::PnmBytes(ok));
  kit::RunResult r = Picmeta(dir / "ok.ppm", dir / "ok.cgm");
  ASSERT_EQ(0, r.status) << r.out << r.err;
  CheckStrips(ReadFile(dir / "ok.cgm"), ok);

  // From 65536 pixels on, the cell array's 16-bit cell count cannot carry
  // the width: refused up front instead of after the file was created.
  kit::WriteBytes(dir / "wider.ppm", kit::PnmBytes(kit::Pattern(65536, 1)));
  r = Picmeta(dir / "wider.ppm", dir / "wider.cgm");
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("picmeta: the image is too wide for a cell array.\n", r.err);
  EXPECT_EQ("", r.out);
  EXPECT_FALSE(FileExists(dir / "wider.cgm"));

  // Wider than 170656 pixels not one row fits the work buffer: refused
  // before anything is printed or created.
  kit::WriteBytes(dir / "wide.ppm", kit::PnmBytes(kit::Pattern(170657, 1)));
  r = Picmeta(dir / "wide.ppm", dir / "wide.cgm");
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("picmeta: the image is too wide for a cell array.\n", r.err);
  EXPECT_EQ("", r.out);
  EXPECT_FALSE(FileExists(dir / "wide.cgm"));
}

TEST(PicmetaRun, PromptReplies) {
  // 640 x 480 pixels: 7.11 x 5.33 inches.
  TempDir dir;
  kit::WriteBytes(dir / "in.ppm", kit::PnmBytes(kit::Pattern(640, 480)));
  struct Case {
    std::string typed;
    const char *w, *h;
  } cases[] = {
      {"", "  7.11", "  5.33"},              // end of input at once
      {"\n", "  7.11", "  5.33"},            // empty line
      {"2\n", " 14.22", " 10.67"},
      {"2", " 14.22", " 10.67"},             // no line feed
      {"0\n", "  7.11", "  5.33"},
      {"abc\n", "  7.11", "  5.33"},
      {"0.5abc\n", "  3.56", "  2.67"},
      {"-1\n", " -7.11", " -5.33"},          // used unchanged
      {"  +1.5e0\n", " 10.67", "  8.00"},
      {"0x10\n", "  7.11", "  5.33"},        // no hexadecimal
      {"inf\n", "  7.11", "  5.33"},         // no infinity
      {"nan\n", "  7.11", "  5.33"},
      {"00000000000000000002" "5\n", " 14.22", " 10.67"},  // 20 count
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("typed \"" + c.typed + "\"");
    kit::RunResult r = Picmeta(dir / "in.ppm", dir / "out.cgm", c.typed);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("", r.err);
    EXPECT_TRUE(StartsWith(r.out, Head("  7.11", "  5.33", c.w, c.h))) << r.out;
  }
}

TEST(PicmetaErrors, UsageAndImageChecksLeaveNoOutputFile) {
  TempDir dir;
  const std::string out = dir / "out.cgm";
  kit::WriteBytes(dir / "text.txt", Bytes{'h', 'i', '\n'});
  const Bytes png = [&] {
    kit::WritePng(dir / "t.png", kit::Pattern(30, 20));
    return ReadFile(dir / "t.png");
  }();
  kit::WriteBytes(dir / "cut.png", Bytes(png.begin(), png.begin() + png.size() / 2));
  kit::WritePng(dir / "grey.png", kit::Pattern(5, 5, 1));
  kit::WritePng(dir / "greyalpha.png", kit::Pattern(5, 5, 2));
  kit::WritePng(dir / "rgba.png", kit::Pattern(5, 5, 4));
  kit::TiffOptions notRgb;
  notRgb.photometric = PHOTOMETRIC_MINISBLACK;
  kit::WriteTiff(dir / "threegrey.tif", kit::Pattern(5, 5, 3), notRgb);
  kit::PngOptions sixteen;
  sixteen.depth = 16;
  Image deep = kit::Pattern(5, 5);
  deep.at(3, 1, 1) = 300;
  kit::WritePng(dir / "deep.png", deep, sixteen);
  Image neg = kit::Pattern(5, 5);
  neg.at(2, 2, 0) = -1;
  kit::TiffOptions signedSamples;
  signedSamples.format = SAMPLEFORMAT_INT;
  signedSamples.bits = 16;
  kit::WriteTiff(dir / "negative.tif", neg, signedSamples);
  Image big = kit::Pattern(5, 5);
  big.at(1, 1, 2) = 256;
  kit::TiffOptions floats;
  floats.format = SAMPLEFORMAT_IEEEFP;
  floats.bits = 32;
  kit::WriteTiff(dir / "float.tif", big, floats);

  const std::string range =
      "picmeta: the image file rgb value is out of the range of 0-255.\n";
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{PICMETA_EXE, dir / "t.png"},
       "usage: picmeta <rgb filename> <cgm filename>\n"},
      {{PICMETA_EXE, dir / "t.png", out, "extra"},
       "usage: picmeta <rgb filename> <cgm filename>\n"},
      {{PICMETA_EXE}, "usage: picmeta <rgb filename> <cgm filename>\n"},
      {{PICMETA_EXE, dir / "missing.png", out},
       "picmeta: cannot open input file " + dir / "missing.png" + "\n"},
      {{PICMETA_EXE, dir / "text.txt", out},
       "picmeta: cannot open input file " + dir / "text.txt" + "\n"},
      {{PICMETA_EXE, dir / "cut.png", out},
       "picmeta: cannot open input file " + dir / "cut.png" + "\n"},
      {{PICMETA_EXE, dir / "grey.png", out},
       "picmeta: the image is not a 3 channel image.\n"},
      {{PICMETA_EXE, dir / "greyalpha.png", out},
       "picmeta: the image is not a 3 channel image.\n"},
      {{PICMETA_EXE, dir / "rgba.png", out},
       "picmeta: the image is not a 3 channel image.\n"},
      {{PICMETA_EXE, dir / "threegrey.tif", out},
       "picmeta: the image file is not configured in rgb model.\n"},
      {{PICMETA_EXE, dir / "deep.png", out}, range},
      {{PICMETA_EXE, dir / "negative.tif", out}, range},
      {{PICMETA_EXE, dir / "float.tif", out}, range},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.err);
    kit::RunResult r = kit::Run(c.args, "1\n");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(c.err, r.err);
    EXPECT_EQ("", r.out);
    EXPECT_FALSE(FileExists(out));
  }
}

TEST(PicmetaErrors, SetUpFailures) {
  TempDir dir;
  kit::WriteBytes(dir / "in.ppm", kit::PnmBytes(kit::Pattern(9, 9)));
  const std::string init = "picmeta: Error in initializing cgm file.\n";

  // The output cannot be created: the library's message after its banner.
  const std::string bad = dir / "no/such/dir/out.cgm";
  kit::RunResult r = Picmeta(dir / "in.ppm", bad);
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(init, r.err);
  EXPECT_TRUE(StartsWith(r.out, Head("  0.10", "  0.10", "  0.10", "  0.10")));
  EXPECT_TRUE(EndsWith(r.out, "\n\nCould not open output file: " + bad + "\n"))
      << r.out;

  // A picture too large for the VDC precision fails at VDC EXTENT; the
  // elements before it stay in the file.
  for (const std::string typed : {"1e10\n", "1e40\n"}) {
    SCOPED_TRACE(typed);
    r = Picmeta(dir / "in.ppm", dir / "big.cgm", typed);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(init, r.err);
    EXPECT_NE(std::string::npos, r.out.find("\nIntegral part of ")) << r.out;
    EXPECT_TRUE(EndsWith(r.out, " too large for 32 bit fixed point\n")) << r.out;
    const auto el = kit::ParseElements(ReadFile(dir / "big.cgm"));
    ASSERT_EQ(8u, el.size());
    EXPECT_EQ(2, el.back().cls);  // SCALING MODE was the last one written
    EXPECT_EQ(1, el.back().id);
  }
  // Sizes beyond single precision print as infinities.
  EXPECT_NE(std::string::npos,
            r.out.find("Output cgm file will be    inf\" (width) x    inf\""))
      << r.out;
}

TEST(PicmetaErrors, StripThatCannotBeReadEndsWithStatusMinusOne) {
  // A TIFF whose top strip is damaged: the two strips below it are written,
  // then the third cannot be read.
  TempDir dir;
  kit::TiffOptions o;
  o.compression = COMPRESSION_ADOBE_DEFLATE;
  o.rowsPerStrip = 4;
  kit::WriteTiff(dir / "in.tif", kit::Pattern(20, 250), o);
  Bytes t = ReadFile(dir / "in.tif");
  for (size_t i = 8; i < 40; i++) t[i] = uint8_t(0xA5 ^ i);
  kit::WriteBytes(dir / "in.tif", t);
  kit::RunResult r = Picmeta(dir / "in.tif", dir / "out.cgm");
  EXPECT_EQ(255, r.status);
  EXPECT_EQ("picmeta: failed to retrieve image data.\n", r.err);
  const auto el = kit::ParseElements(ReadFile(dir / "out.cgm"));
  ASSERT_EQ(12u, el.size());
  EXPECT_EQ(4, el.back().cls);  // a cell array, no END PICTURE
  EXPECT_EQ(9, el.back().id);
}

TEST(PicmetaErrors, FullDisk) {
  TempDir dir;
  // Everything fits the stream's buffer, so the failure shows at the close.
  kit::WriteBytes(dir / "small.ppm", kit::PnmBytes(kit::Pattern(4, 3)));
  kit::RunResult r = Picmeta(dir / "small.ppm", "/dev/full");
  EXPECT_EQ(255, r.status);
  EXPECT_EQ("", r.err);
  EXPECT_TRUE(EndsWith(r.out, "\nError occurred closing output file\n")) << r.out;

  // Strips larger than the stream's buffer fail as they are written.
  kit::WriteBytes(dir / "large.ppm", kit::PnmBytes(kit::Pattern(600, 400)));
  r = Picmeta(dir / "large.ppm", "/dev/full");
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("", r.err);
  EXPECT_NE(std::string::npos, r.out.find("\nError occurred writing: ")) << r.out;
}

#if defined(__SANITIZE_ADDRESS__)
#define PICMETA_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PICMETA_UNDER_ASAN 1
#endif
#endif

TEST(PicmetaErrors, StripBufferThatCannotBeAllocated) {
#ifdef PICMETA_UNDER_ASAN
  GTEST_SKIP() << "the sanitizer's own mappings do not fit a data limit";
#else
  // Under a data-size limit the metafile opens (its 512000-byte buffer
  // fits) but the strip buffer (3 x 100 x 1706 values, 2 MB) does not.
  // Find the smallest limit at which the run gets past the set-up.
  TempDir dir;
  kit::WriteBytes(dir / "in.ppm", kit::PnmBytes(kit::Pattern(1706, 100)));
  const std::string alloc = "picmeta: failed to allocate memory.\n";
  auto past = [&](rlim_t limit, kit::RunResult *res) {
    *res = kit::Run({PICMETA_EXE, dir / "in.ppm", dir / "out.cgm"}, "\n", "",
                    limit);
    return res->status == 0 || res->err == alloc ||
           res->err == "picmeta: failed to retrieve image data.\n";
  };
  kit::RunResult r;
  rlim_t lo = 1 << 18, hi = rlim_t(1) << 30;
  ASSERT_TRUE(past(hi, &r)) << r.err;
  while (hi - lo > (1 << 16)) {
    const rlim_t mid = lo + (hi - lo) / 2;
    (past(mid, &r) ? hi : lo) = mid;
  }
  past(hi, &r);
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(alloc, r.err);
  EXPECT_NE(std::string::npos, r.out.find("1.0.3"));
  // The set-up was written; no strip was.
  const auto el = kit::ParseElements(ReadFile(dir / "out.cgm"));
  EXPECT_EQ(10u, el.size());
#endif
}

}  // namespace
