// The converter's logic driven in-process with images of the test's own:
// the image checks and their order, a strip that cannot be read, a width of
// 0, an empty picture, the ratio grammar and the rows a strip.
#include <gtest/gtest.h>

#include <cmath>

#include "Picmeta.h"
#include "picmeta_testkit.h"

namespace {

// An image made up by the test: any shape, model and range, pixels from a
// formula, and a strip read that fails on its `failAt`-th call.
class FakeImage : public ilImage {
 public:
  FakeImage(int w, int h, int c, ilColorModel m, double mn = 0,
            double mx = 255, int failAt = 0)
      : mn_(mn), mx_(mx), failAt_(failAt) {
    xsize_ = w;
    ysize_ = h;
    csize_ = c;
    model_ = m;
  }
  double getMaxValue(int) const override {
    maxAsked = true;
    return mx_;
  }
  double getMinValue(int) const override {
    minAsked = true;
    return mn_;
  }
  // Pixel (x, y), y counted from the bottom.
  static uint32_t Value(int x, int y, int c) {
    return static_cast<uint32_t>((x * 31 + y * 7 + c * 85) % 256);
  }
  ilStatus getSubTile3D(int x, int y, int, int nx, int ny, int, void *data,
                        int, int, int, int, int, int,
                        const ilConfig *cfg) override {
    calls++;
    if (calls == failAt_) return ilIOERROR;
    EXPECT_EQ(ilULong, cfg->type);
    EXPECT_EQ(ilLowerLeftOrigin, cfg->coordSpace);
    uint32_t *out = static_cast<uint32_t *>(data);
    for (int j = 0; j < ny; j++)
      for (int i = 0; i < nx; i++)
        for (int c = 0; c < 3; c++)
          *out++ = Value(x + i, y + j, c);
    return ilOKAY;
  }
  mutable bool maxAsked = false, minAsked = false;
  int calls = 0;

 private:
  double mn_, mx_;
  int failAt_;
};

FakeImage *g_next = nullptr;
ilImage *OpenFake(const char *, const char *) { return g_next; }

struct Outcome {
  int status;
  std::string out, err;
};

// Runs the converter on `img` (taken over) writing `cgm`, with `input`
// typed at the prompt.
Outcome Convert(FakeImage *img, const std::string &cgm,
                const std::string &input = "\n") {
  g_next = img;
  std::string text = input;
  FILE *in = fmemopen(text.data(), text.size() ? text.size() : 1, "r");
  if (text.empty()) std::fgetc(in);  // at the end of input from the start
  char prog[] = "picmeta", rgb[] = "fake.rgb";
  std::vector<char> name(cgm.begin(), cgm.end());
  name.push_back('\0');
  char *argv[] = {prog, rgb, name.data(), nullptr};
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Outcome o;
  o.status = pm_Main(3, argv, OpenFake, in);
  o.out = testing::internal::GetCapturedStdout();
  o.err = testing::internal::GetCapturedStderr();
  std::fclose(in);
  return o;
}

// What the metafile holds after a run that stopped with the file open.
Bytes Flushed(const std::string &path) {
  if (QuilData.Outfile) std::fflush(QuilData.Outfile);
  return ReadFile(path);
}

void CloseLeftOpen() {
  char msg[QWCGM_MSG_SIZE];
  if (QuilData.Outfile) qCgmEnd(&QuilData, msg);
}

TEST(PicmetaChecks, EachImageCheckInOrderBeforeAnyOutput) {
  struct Case {
    const char *name;
    FakeImage *img;
    const char *err;
  } cases[] = {
      {"four channels, not RGB", new FakeImage(4, 4, 4, ilCMYK),
       "picmeta: the image is not a 3 channel image.\n"},
      {"one channel", new FakeImage(4, 4, 1, ilMinBlack),
       "picmeta: the image is not a 3 channel image.\n"},
      {"three channels, not RGB", new FakeImage(4, 4, 3, ilModelUnknown),
       "picmeta: the image file is not configured in rgb model.\n"},
      {"above 255 (the minimum is not asked)",
       new FakeImage(4, 4, 3, ilRGB, -7, 256),
       "picmeta: the image file rgb value is out of the range of 0-255.\n"},
      {"below 0", new FakeImage(4, 4, 3, ilRGB, -0.5, 255),
       "picmeta: the image file rgb value is out of the range of 0-255.\n"},
      {"too wide", new FakeImage(170657, 1, 3, ilRGB),
       "picmeta: the image is too wide for a cell array.\n"},
      // The cell count is a 16-bit integer in the converter's metafiles.
      {"wider than a 16-bit count", new FakeImage(65536, 1, 3, ilRGB),
       "picmeta: the image is too wide for a cell array.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempPath cgm;
    Outcome o = Convert(c.img, cgm.path);
    EXPECT_EQ(1, o.status);
    EXPECT_EQ(c.err, o.err);
    EXPECT_EQ("", o.out);
    EXPECT_FALSE(FileExists(cgm.path));
  }
}

TEST(PicmetaChecks, MinimumIsNotAskedWhenTheMaximumFails) {
  TempPath cgm;
  // The driver deletes the image; keep what it saw in a subclass.
  static bool sawMin;
  struct Watch : FakeImage {
    using FakeImage::FakeImage;
    ~Watch() override { sawMin = minAsked; }
  };
  sawMin = true;
  Convert(new Watch(4, 4, 3, ilRGB, -7, 300), cgm.path);
  EXPECT_FALSE(sawMin);
  sawMin = false;
  Convert(new Watch(4, 4, 3, ilRGB, 0, 255), cgm.path);
  EXPECT_TRUE(sawMin);
}

TEST(PicmetaStrips, ThirdStripFailingKeepsTwoStripsAndNoEnd) {
  TempPath cgm;
  Outcome o = Convert(new FakeImage(5, 250, 3, ilRGB, 0, 255, 3), cgm.path);
  EXPECT_EQ(-1, o.status);
  EXPECT_EQ("picmeta: failed to retrieve image data.\n", o.err);
  auto elements = kit::ParseElements(Flushed(cgm.path));
  CloseLeftOpen();
  // BEGIN METAFILE .. BEGIN PICTURE BODY (10 elements), two cell arrays.
  ASSERT_EQ(12u, elements.size());
  for (size_t i = 10; i < 12; i++) {
    kit::CellArray c = kit::DecodeCellArray(elements[i]);
    EXPECT_EQ(100, c.ny);
    for (int j = 0; j < 100; j++)
      for (int x = 0; x < 5; x++)
        for (int ch = 0; ch < 3; ch++)
          ASSERT_EQ(int(FakeImage::Value(x, int(i - 10) * 100 + j, ch)),
                    c.cells[kit::Z((j * 5 + x) * 3 + ch)]);
  }
}

TEST(PicmetaStrips, WidthZeroReachesTheCellArrayWhichRefusesIt) {
  TempPath cgm;
  Outcome o = Convert(new FakeImage(0, 3, 3, ilRGB), cgm.path);
  EXPECT_EQ(1, o.status);
  EXPECT_EQ("", o.err);
  const std::string tail = "Invalid Value For Nx: 0\n\n";
  ASSERT_GE(o.out.size(), tail.size());
  EXPECT_EQ(tail, o.out.substr(o.out.size() - tail.size()));
  auto elements = kit::ParseElements(Flushed(cgm.path));
  CloseLeftOpen();
  EXPECT_EQ(10u, elements.size());
}

TEST(PicmetaStrips, NoRowsGiveAnEmptyPictureBody) {
  TempPath cgm;
  Outcome o = Convert(new FakeImage(6, 0, 3, ilRGB), cgm.path);
  EXPECT_EQ(0, o.status);
  auto elements = kit::ParseElements(ReadFile(cgm.path));
  ASSERT_EQ(12u, elements.size());
  EXPECT_EQ(0, elements[9].cls);
  EXPECT_EQ(4, elements[9].id);  // BEGIN PICTURE BODY
  EXPECT_EQ(0, elements[10].cls);
  EXPECT_EQ(5, elements[10].id);  // END PICTURE
  EXPECT_EQ(2, elements[11].id);  // END METAFILE
}

TEST(PicmetaRatio, TheGrammarOfTheTypedNumber) {
  struct Case {
    const char *text;
    double value;
  } cases[] = {
      {"", 0},          {"2", 2},          {"  \t2.5", 2.5},
      {"+3", 3},        {"-1", -1},        {"0.5abc", 0.5},
      {".5", 0.5},      {"5.", 5},         {"1e3", 1000},
      {"1E-2x", 0.01},  {"2e", 2},         {"2e+", 2},
      {"-.e5", 0},      {".", 0},          {"abc", 0},
      {"0x10", 0},      {"0X1p3", 0},      {"inf", 0},
      {"-INFINITY", 0}, {"nan", 0},        {"1e999", HUGE_VAL},
      {"1e-999", 0},    {"12 34", 12},     {"\n7", 7},
      {"- 1", 0},       {"00000000000000000002", 2},
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.value, pm_ParseRatio(c.text)) << '"' << c.text << '"';
}

TEST(PicmetaRatio, RowsPerStripKeepEveryCellArrayInTheWorkBuffer) {
  struct Case {
    int width, rows;
  } cases[] = {{1, 100},    {2, 100},      {1706, 100}, {1707, 99},
               {2000, 85},  {3001, 56},    {4000, 42},  {170655, 1},
               {170656, 1}, {170657, 0},   {200000, 0}, {0, 100},
               {-3, 100},   {2147483647, 0}};
  for (const Case &c : cases) {
    EXPECT_EQ(c.rows, pm_RowsPerStrip(c.width)) << c.width;
    const int64_t w = c.width, r = c.rows, o = w % 2;
    if (w > 0 && r > 0) {
      // The strip fits; one row more (where there could be one) would not.
      EXPECT_LE(32 + r * 3 * w + (r - 1) * o, 512000);
      if (r < 100) {
        EXPECT_GT(32 + (r + 1) * 3 * w + r * o, 512000);
      }
    }
  }
}

}  // namespace
