// picmeta's metafiles, read back by cgmdump: they pass --check, and --render
// draws them with the source image's pixels in place.
#include <cairo.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

#if defined(PICMETA_EXE) && defined(CGMDUMP_EXE)

struct Rgb {
  uint8_t r, g, b;
};

// An asymmetric test image: no two of its corners, rows or columns alike.
std::vector<Rgb> MakeImage(int w, int h) {
  std::vector<Rgb> px;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      px.push_back({static_cast<uint8_t>((x * 37 + y * 3) % 256),
                    static_cast<uint8_t>((y * 59 + x) % 256),
                    static_cast<uint8_t>((x * y * 13 + 50) % 256)});
  return px;
}

void WritePpm(const std::string &path, int w, int h, const std::vector<Rgb> &px) {
  FILE *f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fprintf(f, "P6\n%d %d\n255\n", w, h);
  for (const Rgb &p : px) {
    std::fputc(p.r, f);
    std::fputc(p.g, f);
    std::fputc(p.b, f);
  }
  std::fclose(f);
}

int Run(const std::string &cmd, const char *input) {
  FILE *p = popen((cmd + " > /dev/null 2>&1").c_str(), "w");
  if (!p) return -1;
  if (input) std::fputs(input, p);
  int rc = pclose(p);
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// Converts a w x h image at ratio 1 and renders it with k pixels per image
// pixel.  At 90 pixels per inch the half-inch margin is 45 image pixels, so
// image pixel (x, y), y counted from the top, has its centre at
// ((45 + x + 0.5) k, (45 + y + 0.5) k) in the drawing.
void ConvertAndCompare(int w, int h, int k) {
  TempPath ppm(".ppm"), cgm(".cgm"), png(".png");
  std::vector<Rgb> src = MakeImage(w, h);
  WritePpm(ppm.path, w, h, src);
  ASSERT_EQ(Run(std::string(PICMETA_EXE) + " " + ppm.path + " " + cgm.path, "1\n"), 0);
  ASSERT_EQ(Run(std::string(CGMDUMP_EXE) + " --check " + cgm.path, nullptr), 0);
  ASSERT_EQ(Run(std::string(CGMDUMP_EXE) + " --render " + png.path + " --width " +
                    std::to_string((w + 90) * k) + " " + cgm.path,
                nullptr),
            0);
  cairo_surface_t *s = cairo_image_surface_create_from_png(png.path.c_str());
  ASSERT_EQ(cairo_surface_status(s), CAIRO_STATUS_SUCCESS);
  const int iw = cairo_image_surface_get_width(s);
  const int ih = cairo_image_surface_get_height(s);
  EXPECT_EQ(iw, (w + 90) * k);
  EXPECT_EQ(ih, (h + 90) * k);
  const int stride = cairo_image_surface_get_stride(s);
  const unsigned char *d = cairo_image_surface_get_data(s);
  int wrong = 0;
  for (int y = 0; y < h && wrong < 10; y++)
    for (int x = 0; x < w && wrong < 10; x++) {
      int px = (45 * 2 + 2 * x + 1) * k / 2, py = (45 * 2 + 2 * y + 1) * k / 2;
      uint32_t v = *reinterpret_cast<const uint32_t *>(d + py * stride + 4 * px);
      const Rgb &want = src[static_cast<size_t>(y * w + x)];
      uint32_t expect = static_cast<uint32_t>(want.r) << 16 | static_cast<uint32_t>(want.g) << 8 | want.b;
      if ((v & 0xffffff) != expect) {
        wrong++;
        ADD_FAILURE() << "pixel (" << x << ", " << y << "): drawn " << std::hex << (v & 0xffffff)
                      << ", source " << expect;
      }
    }
  // The margin is white.
  uint32_t corner = *reinterpret_cast<const uint32_t *>(d + 2 * stride + 8);
  EXPECT_EQ(corner & 0xffffff, 0xffffffu);
  cairo_surface_destroy(s);
}

TEST(CgmdumpPicmeta, SmallAsymmetricImageRendersToItsPixels) { ConvertAndCompare(7, 5, 4); }

// Several strips of 100 rows, each a cell array longer than one partition.
TEST(CgmdumpPicmeta, ImageOfSeveralPartitionedStripsRendersToItsPixels) {
  ConvertAndCompare(150, 230, 3);
}

#else

TEST(CgmdumpPicmeta, SmallAsymmetricImageRendersToItsPixels) {
  GTEST_SKIP() << "picmeta or cgmdump is not built";
}

#endif

}  // namespace
