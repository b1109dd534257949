// Fuzz target for picmeta's image layer: the input is an image file of any
// format (PNG, JPEG, TIFF, PNM, SGI are told apart by their first bytes),
// opened by name through ilOpenImgFile like picmeta does.  An image that
// opens is then queried (size, channels, colour model, sample range over
// all channels and per channel) and read strip by strip through
// getSubTile3D, bottom row first as picmeta reads it, into buffers of
// exactly the size asked for, in picmeta's own layout and in others picked
// by the input's last byte (sample type, channel list, row origin).
//
// Checked beyond the sanitizers: an open image has a sane shape; every
// sample read lies inside the range the image reports (picmeta checks the
// range once and then trusts the samples to fit 8 bits); a strip read never
// writes outside its buffer; and the reads that must be refused are.
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ImageLib.h"

namespace {

[[noreturn]] __attribute__((format(printf, 1, 2))) void Fail(const char *fmt,
                                                             ...) {
  va_list ap;
  va_start(ap, fmt);
  std::fputs("fuzz_image: ", stderr);
  std::vfprintf(stderr, fmt, ap);
  std::fputc('\n', stderr);
  va_end(ap);
  std::abort();
}

int g_fd = -1;
char g_path[64];

// Samples read in one input at most; larger images are read in part (the
// first strips and the last one), which keeps every run short.
constexpr uint64_t kMaxSamples = uint64_t{8} << 20;

struct Layout {
  ilType type = ilULong;
  int nchans = 3;
  int list[16];
  bool useList = false;
  int offset = 0;
  ilCoordSpace space = ilLowerLeftOrigin;
};

// The layout picmeta asks for, or another one chosen by `sel`.
Layout PickLayout(const ilImage &img, uint8_t sel) {
  Layout l;
  const int c = img.getCsize();
  if ((sel & 3) == 0) {
    l.nchans = c < 3 ? c : 3;
    return l;
  }
  static const ilType kTypes[3] = {ilUChar, ilUShort, ilULong};
  l.type = kTypes[(sel >> 2) % 3];
  l.nchans = 1 + (sel >> 4) % (c > 0 ? c : 1);
  l.space = (sel & 0x40) ? ilUpperLeftOrigin : ilLowerLeftOrigin;
  if (sel & 0x80) {
    l.useList = true;
    for (int i = 0; i < l.nchans && i < 16; i++) l.list[i] = (c - 1 - i + c) % c;
  } else {
    l.offset = c - l.nchans;
  }
  return l;
}

// The largest and smallest value a sample of `type` read from the image
// may have: the reported range, rounded as floating-point samples are, and
// saturated at the type's bounds.
void Bounds(double mn, double mx, ilType type, double *lo, double *hi) {
  const double top = type == ilUChar ? 255.0 : type == ilUShort ? 65535.0
                                                                 : 4294967295.0;
  *hi = std::isfinite(mx) ? std::floor(mx + 0.5) : top;
  if (*hi > top) *hi = top;
  if (*hi < 0) *hi = 0;
  *lo = std::isfinite(mn) && mn > 0 ? std::floor(mn + 0.5) : 0.0;
  // NaN and infinities are left out of the range (the maximum is then
  // reported as infinite, which picmeta refuses) and read as 0 or the
  // type's top: no lower bound holds then.
  if (!std::isfinite(mx)) *lo = 0.0;
  if (*lo > top) *lo = top;
}

void ReadStrips(ilImage *img, uint8_t sel) {
  const int w = img->getXsize(), h = img->getYsize(), c = img->getCsize();
  const Layout l = PickLayout(*img, sel);
  const ilConfig cfg(l.type, ilInterleaved, l.nchans,
                     l.useList ? l.list : nullptr, l.offset, l.space,
                     img->getColorModel());
  // Strips of picmeta's height: 100 rows, fewer for wide images.
  const int64_t rowSamples = static_cast<int64_t>(w) * l.nchans;
  int rows = 100;
  if (rowSamples * rows > int64_t{4} << 20)
    rows = static_cast<int>((int64_t{4} << 20) / rowSamples) + 1;
  if (rows > h) rows = h;
  const size_t sampleBytes = static_cast<size_t>(l.type);
  const size_t bytes = static_cast<size_t>(rowSamples) *
                       static_cast<size_t>(rows) * sampleBytes;
  unsigned char *buf = static_cast<unsigned char *>(std::malloc(bytes));
  if (buf == nullptr) return;

  // The range the samples must keep to: over the channels read.
  double lo = 0, hi = 0;
  {
    double mn = HUGE_VAL, mx = -HUGE_VAL;
    for (int k = 0; k < l.nchans; k++) {
      const int ch = l.useList ? l.list[k] : l.offset + k;
      mn = std::fmin(mn, img->getMinValue(ch));
      mx = std::fmax(mx, img->getMaxValue(ch));
    }
    Bounds(mn, mx, l.type, &lo, &hi);
  }

  uint64_t samples = 0;
  for (int y = 0; y < h; y += rows) {
    // Past the sample budget, only the last strip is read.
    if (samples > kMaxSamples && y + rows < h) {
      y = h - rows;
      if (y < 0) y = 0;
    }
    const int n = y + rows <= h ? rows : h - y;
    const ilStatus s = img->getSubTile3D(0, y, 0, w, n, 1, buf, 0, y, 0, w, n,
                                         1, &cfg);
    if (s != ilOKAY) break;  // a file that ends early: refused, not a fault
    const size_t count = static_cast<size_t>(rowSamples) * static_cast<size_t>(n);
    for (size_t i = 0; i < count; i++) {
      double v;
      switch (l.type) {
        case ilUChar: v = buf[i]; break;
        case ilUShort: {
          uint16_t u;
          std::memcpy(&u, buf + 2 * i, 2);
          v = u;
          break;
        }
        default: {
          uint32_t u;
          std::memcpy(&u, buf + 4 * i, 4);
          v = u;
          break;
        }
      }
      if (v < lo || v > hi)
        Fail("sample %g outside the reported range %g..%g (%dx%dx%d, type %d)",
             v, lo, hi, w, h, c, static_cast<int>(l.type));
    }
    samples += count;
    if (y + rows >= h) break;
  }

  // Blocks outside the image or the buffer are refused, and write nothing.
  if (w > 0 && h > 0) {
    if (img->getSubTile3D(0, h, 0, w, 1, 1, buf, 0, h, 0, w, 1, 1, &cfg) == ilOKAY)
      Fail("a row past the top was read");
    if (img->getSubTile3D(1, 0, 0, w, 1, 1, buf, 1, 0, 0, w, 1, 1, &cfg) == ilOKAY)
      Fail("a row past the right edge was read");
    if (img->getSubTile3D(0, 0, 0, w, 2, 1, buf, 0, 0, 0, w, 1, 1, &cfg) == ilOKAY)
      Fail("a block larger than its buffer was read");
  }
  std::free(buf);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  g_fd = memfd_create("fuzz_image", 0);
  if (g_fd < 0) Fail("memfd_create: %s", std::strerror(errno));
  std::snprintf(g_path, sizeof g_path, "/proc/self/fd/%d", g_fd);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (g_fd < 0) LLVMFuzzerInitialize(nullptr, nullptr);
  if (ftruncate(g_fd, 0) != 0) Fail("ftruncate");
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(g_fd, data + done, size - done,
                             static_cast<off_t>(done));
    if (n <= 0) Fail("pwrite");
    done += static_cast<size_t>(n);
  }
  ilImage *img = ilOpenImgFile(g_path, "r");
  if (img == nullptr) return 0;

  const int w = img->getXsize(), h = img->getYsize(), c = img->getCsize();
  if (w < 1 || h < 1 || c < 1 || c > 16)
    Fail("an image of %d x %d with %d channels was opened", w, h, c);
  const double mx = img->getMaxValue(-1), mn = img->getMinValue(-1);
  if (std::isnan(mx) || std::isnan(mn) || (mn > mx && std::isfinite(mx)))
    Fail("range %g..%g", mn, mx);
  for (int ch = 0; ch < c; ch++)
    if (img->getMaxValue(ch) > mx || img->getMinValue(ch) < mn)
      Fail("channel %d's range lies outside the whole range", ch);

  // picmeta's layout, then one chosen by the input's last byte.
  ReadStrips(img, 0);
  if (size > 0 && (data[size - 1] & 3) != 0) ReadStrips(img, data[size - 1]);
  delete img;
  return 0;
}
