// The image object's common part: the sample range, the conversion of
// stored rows into a caller's pixel layout, and the opener that recognises
// a file's format from its first bytes.
#include "ImageLib.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "ImageReaders.h"

ilImage::~ilImage() { std::free(scratch_); }

const unsigned char *ilImage::heldRow(long) const { return nullptr; }

ilStatus ilImage::readTopRows(long, int, unsigned char *) {
  return ilUNSUPPORTED;
}

size_t ilImage::sampleBytes() const {
  switch (kind_) {
    case kU8:
    case kS8: return 1;
    case kU16:
    case kS16: return 2;
    case kU32:
    case kS32:
    case kF32: return 4;
    case kF64: return 8;
  }
  return 1;
}

size_t ilImage::rowBytes() const {
  return static_cast<size_t>(xsize_) * static_cast<size_t>(csize_) *
         sampleBytes();
}

static bool ValidChannel(int channel, int csize) {
  return channel >= 0 && channel < csize && channel < 16;
}

double ilImage::getMaxValue(int channel) const {
  if (ValidChannel(channel, csize_)) return max_[channel];
  double m = -std::numeric_limits<double>::infinity();
  for (int c = 0; c < csize_ && c < 16; c++) m = max_[c] > m ? max_[c] : m;
  return m;
}

double ilImage::getMinValue(int channel) const {
  if (ValidChannel(channel, csize_)) return min_[channel];
  double m = std::numeric_limits<double>::infinity();
  for (int c = 0; c < csize_ && c < 16; c++) m = min_[c] < m ? min_[c] : m;
  return m;
}

void ilImage::setByteRange() {
  for (int c = 0; c < 16; c++) {
    min_[c] = 0.0;
    max_[c] = 255.0;
  }
}

// ---- Sample range ---------------------------------------------------------

template <typename T>
static void ScanSamples(const unsigned char *row, size_t pixels, int csize,
                        double *mn, double *mx) {
  const size_t stride = static_cast<size_t>(csize);
  for (int c = 0; c < csize; c++) {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    bool bad = false;
    for (size_t i = 0; i < pixels; i++) {
      T v;
      std::memcpy(&v, row + (i * stride + static_cast<size_t>(c)) * sizeof(T),
                  sizeof(T));
      if constexpr (std::numeric_limits<T>::is_iec559) {
        if (!std::isfinite(v)) {
          bad = true;
          continue;
        }
      }
      const double d = static_cast<double>(v);
      lo = d < lo ? d : lo;
      hi = d > hi ? d : hi;
    }
    // A NaN or an infinity cannot be shown: report it as out of range.
    if (bad) hi = std::numeric_limits<double>::infinity();
    mn[c] = lo < mn[c] ? lo : mn[c];
    mx[c] = hi > mx[c] ? hi : mx[c];
  }
}

bool ilImage::scanRange() {
  const int channels = csize_ < 16 ? csize_ : 16;
  for (int c = 0; c < 16; c++) {
    min_[c] = std::numeric_limits<double>::infinity();
    max_[c] = -std::numeric_limits<double>::infinity();
  }
  if (xsize_ <= 0 || ysize_ <= 0) {
    setByteRange();
    return true;
  }
  const size_t rb = rowBytes();
  size_t chunk = (size_t{4} << 20) / (rb ? rb : 1);
  if (chunk < 1) chunk = 1;
  if (chunk > static_cast<size_t>(ysize_)) chunk = static_cast<size_t>(ysize_);
  unsigned char *buf = nullptr;
  if (heldRow(0) == nullptr) {
    buf = static_cast<unsigned char *>(std::malloc(chunk * rb));
    if (buf == nullptr) return false;
  }
  for (long top = 0; top < ysize_;) {
    int n = static_cast<int>(
        std::min(chunk, static_cast<size_t>(ysize_ - top)));
    for (int j = 0; j < n; j++) {
      const unsigned char *row;
      if (buf == nullptr) {
        row = heldRow(top + j);
      } else {
        if (j == 0 && readTopRows(top, n, buf) != ilOKAY) {
          std::free(buf);
          return false;
        }
        row = buf + static_cast<size_t>(j) * rb;
      }
      const size_t px = static_cast<size_t>(xsize_);
      switch (kind_) {
        case kU8: ScanSamples<uint8_t>(row, px, channels, min_, max_); break;
        case kU16: ScanSamples<uint16_t>(row, px, channels, min_, max_); break;
        case kU32: ScanSamples<uint32_t>(row, px, channels, min_, max_); break;
        case kS8: ScanSamples<int8_t>(row, px, channels, min_, max_); break;
        case kS16: ScanSamples<int16_t>(row, px, channels, min_, max_); break;
        case kS32: ScanSamples<int32_t>(row, px, channels, min_, max_); break;
        case kF32: ScanSamples<float>(row, px, channels, min_, max_); break;
        case kF64: ScanSamples<double>(row, px, channels, min_, max_); break;
      }
    }
    top += n;
  }
  std::free(buf);
  return true;
}

// ---- Conversion into the caller's layout ---------------------------------

// One stored sample to an unsigned output sample, saturating at the bounds
// of the output type; floating-point samples are rounded to nearest and NaN
// becomes 0.
template <typename Out, typename In>
static inline Out ToOut(In v) {
  constexpr Out top = std::numeric_limits<Out>::max();
  if constexpr (std::numeric_limits<In>::is_iec559) {
    if (!(v > 0)) return 0;
    if (static_cast<double>(v) >= static_cast<double>(top)) return top;
    return static_cast<Out>(std::floor(static_cast<double>(v) + 0.5));
  } else {
    if constexpr (std::numeric_limits<In>::is_signed) {
      if (v < 0) return 0;
    }
    if constexpr (sizeof(In) > sizeof(Out)) {
      if (static_cast<uint64_t>(v) > static_cast<uint64_t>(top)) return top;
    }
    return static_cast<Out>(v);
  }
}

// One row: `nx` pixels from `src` (stored pixels of `csize` samples) into
// `dst` (pixels of `nchans` samples taken from the channels `chans`).
template <typename Out, typename In>
static void ConvertRow(const unsigned char *src, int csize, const int *chans,
                       int nchans, bool identity, Out *dst, size_t nx) {
  if (identity) {
    // The common case: every channel in its stored order, one flat run.
    const size_t n = nx * static_cast<size_t>(csize);
    if constexpr (sizeof(In) == 1 && !std::numeric_limits<In>::is_signed) {
      for (size_t i = 0; i < n; i++) dst[i] = static_cast<Out>(src[i]);
      return;
    }
    for (size_t i = 0; i < n; i++) {
      In v;
      std::memcpy(&v, src + i * sizeof(In), sizeof(In));
      dst[i] = ToOut<Out>(v);
    }
    return;
  }
  for (size_t i = 0; i < nx; i++) {
    for (int c = 0; c < nchans; c++) {
      In v;
      std::memcpy(&v,
                  src + (i * static_cast<size_t>(csize) +
                         static_cast<size_t>(chans[c])) *
                            sizeof(In),
                  sizeof(In));
      *dst++ = ToOut<Out>(v);
    }
  }
}

template <typename Out>
static void ConvertKind(ilImage::SampleKind kind, const unsigned char *src,
                        int csize, const int *chans, int nchans, bool identity,
                        void *dst, size_t nx) {
  Out *d = static_cast<Out *>(dst);
  switch (kind) {
    case ilImage::kU8:
      ConvertRow<Out, uint8_t>(src, csize, chans, nchans, identity, d, nx);
      break;
    case ilImage::kU16:
      ConvertRow<Out, uint16_t>(src, csize, chans, nchans, identity, d, nx);
      break;
    case ilImage::kU32:
      ConvertRow<Out, uint32_t>(src, csize, chans, nchans, identity, d, nx);
      break;
    case ilImage::kS8:
      ConvertRow<Out, int8_t>(src, csize, chans, nchans, identity, d, nx);
      break;
    case ilImage::kS16:
      ConvertRow<Out, int16_t>(src, csize, chans, nchans, identity, d, nx);
      break;
    case ilImage::kS32:
      ConvertRow<Out, int32_t>(src, csize, chans, nchans, identity, d, nx);
      break;
    case ilImage::kF32:
      ConvertRow<Out, float>(src, csize, chans, nchans, identity, d, nx);
      break;
    case ilImage::kF64:
      ConvertRow<Out, double>(src, csize, chans, nchans, identity, d, nx);
      break;
  }
}

ilStatus ilImage::getSubTile3D(int x, int y, int z, int nx, int ny, int nz,
                               void *data, int dx, int dy, int dz, int dnx,
                               int dny, int dnz, const ilConfig *cfg) {
  if (cfg == nullptr) return ilBADARGS;
  if (cfg->order != ilInterleaved) return ilUNSUPPORTED;
  if (cfg->type != ilUChar && cfg->type != ilUShort && cfg->type != ilULong)
    return ilUNSUPPORTED;
  if (cfg->colorModel != model_ && cfg->colorModel != ilModelUnknown)
    return ilUNSUPPORTED;
  if (cfg->coordSpace != ilLowerLeftOrigin &&
      cfg->coordSpace != ilUpperLeftOrigin)
    return ilUNSUPPORTED;
  const int nchans = cfg->nchans;
  if (nchans < 1 || nchans > csize_ || csize_ > 16) return ilUNSUPPORTED;
  int chans[16];
  bool identity = nchans == csize_;
  for (int c = 0; c < nchans; c++) {
    chans[c] = cfg->chanList != nullptr ? cfg->chanList[c]
                                        : cfg->chanOffset + c;
    if (chans[c] < 0 || chans[c] >= csize_) return ilUNSUPPORTED;
    if (chans[c] != c) identity = false;
  }

  // The block must lie inside the image and inside the buffer (64-bit sums:
  // the arguments are caller ints).
  if (nx < 0 || ny < 0 || nz < 0 || x < 0 || y < 0 || z < 0) return ilBADARGS;
  if (nx == 0 || ny == 0 || nz == 0) return ilOKAY;
  if (data == nullptr || z + static_cast<int64_t>(nz) > 1 ||
      x + static_cast<int64_t>(nx) > xsize_ ||
      y + static_cast<int64_t>(ny) > ysize_)
    return ilBADARGS;
  if (dx > x || dy > y || dz > z ||
      x + static_cast<int64_t>(nx) > dx + static_cast<int64_t>(dnx) ||
      y + static_cast<int64_t>(ny) > dy + static_cast<int64_t>(dny) ||
      z + static_cast<int64_t>(nz) > dz + static_cast<int64_t>(dnz))
    return ilBADARGS;

  const bool lowerLeft = cfg->coordSpace == ilLowerLeftOrigin;
  const size_t outSample = static_cast<size_t>(cfg->type);
  const size_t outPixel = outSample * static_cast<size_t>(nchans);
  const size_t outRow = static_cast<size_t>(dnx) * outPixel;
  unsigned char *base = static_cast<unsigned char *>(data) +
                        static_cast<size_t>(z - dz) *
                            static_cast<size_t>(dny) * outRow +
                        static_cast<size_t>(x - dx) * outPixel;
  const size_t srcOffset =
      static_cast<size_t>(x) * static_cast<size_t>(csize_) * sampleBytes();
  const size_t width = static_cast<size_t>(nx);

  // The block's rows, as rows counted from the top of the image, are the
  // consecutive rows topFirst .. topFirst + ny - 1.
  const long topFirst =
      lowerLeft ? static_cast<long>(ysize_) - y - ny : static_cast<long>(y);
  auto emit = [&](long top, const unsigned char *src) {
    const long row = lowerLeft ? static_cast<long>(ysize_) - 1 - top : top;
    unsigned char *dst = base + static_cast<size_t>(row - dy) * outRow;
    src += srcOffset;
    switch (cfg->type) {
      case ilUChar:
        ConvertKind<uint8_t>(kind_, src, csize_, chans, nchans, identity, dst,
                             width);
        break;
      case ilUShort:
        ConvertKind<uint16_t>(kind_, src, csize_, chans, nchans, identity,
                              dst, width);
        break;
      case ilULong:
        ConvertKind<uint32_t>(kind_, src, csize_, chans, nchans, identity,
                              dst, width);
        break;
    }
  };

  if (heldRow(0) != nullptr) {
    for (long t = topFirst; t < topFirst + ny; t++) emit(t, heldRow(t));
    return ilOKAY;
  }

  // Rows read on demand go through a scratch block of at most 4 MB (or one
  // row), kept for the next call.
  const size_t rb = rowBytes();
  size_t want = (size_t{4} << 20) / (rb ? rb : 1);
  if (want < 1) want = 1;
  if (want > static_cast<size_t>(ny)) want = static_cast<size_t>(ny);
  if (want > scratchRows_) {
    unsigned char *p = static_cast<unsigned char *>(std::malloc(want * rb));
    if (p == nullptr) return ilNOMEMORY;
    std::free(scratch_);
    scratch_ = p;
    scratchRows_ = want;
  }
  for (long t = topFirst; t < topFirst + ny;) {
    const int n = static_cast<int>(
        std::min(scratchRows_, static_cast<size_t>(topFirst + ny - t)));
    ilStatus s = readTopRows(t, n, scratch_);
    if (s != ilOKAY) return s;
    for (int j = 0; j < n; j++)
      emit(t + j, scratch_ + static_cast<size_t>(j) * rb);
    t += n;
  }
  return ilOKAY;
}

// ---- Opening ----------------------------------------------------------------

ilImage *ilOpenImgFile(const char *name, const char *mode) {
  if (name == nullptr || mode == nullptr || std::strcmp(mode, "r") != 0)
    return nullptr;
  FILE *f = std::fopen(name, "rb");
  if (f == nullptr) return nullptr;
  unsigned char magic[8] = {0};
  size_t got = std::fread(magic, 1, sizeof magic, f);
  if (std::fseek(f, 0, SEEK_SET) != 0) got = 0;

  static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G',
                                        0x0D, 0x0A, 0x1A, 0x0A};
  if (got >= 8 && std::memcmp(magic, kPng, 8) == 0) return OpenPng(f);
  if (got >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF)
    return OpenJpeg(f);
  if (got >= 4 &&
      ((magic[0] == 'I' && magic[1] == 'I' &&
        (magic[2] == 42 || magic[2] == 43) && magic[3] == 0) ||
       (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 &&
        (magic[3] == 42 || magic[3] == 43)))) {
    std::fclose(f);
    return OpenTiff(name);
  }
  if (got >= 3 && magic[0] == 'P' &&
      (magic[1] == '4' || magic[1] == '5' || magic[1] == '6'))
    return OpenPnm(f);
  if (got >= 2 && magic[0] == 0x01 && magic[1] == 0xDA) return OpenSgi(f);
  std::fclose(f);
  return nullptr;
}

// ---- File helpers shared by the readers ------------------------------------

bool ReadFully(int fd, void *dst, size_t n, uint64_t offset) {
  unsigned char *p = static_cast<unsigned char *>(dst);
  while (n > 0) {
    const size_t step = n < (size_t{1} << 30) ? n : (size_t{1} << 30);
    const ssize_t got = pread(fd, p, step, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

int64_t FileSize(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool MulSize(size_t a, size_t b, size_t *out) {
  return !__builtin_mul_overflow(a, b, out);
}

HeldImage::~HeldImage() { std::free(pixels_); }

bool HeldImage::adopt(unsigned char *pixels) {
  pixels_ = pixels;
  if (kind_ == kU8) {
    setByteRange();
    return true;
  }
  return scanRange();
}
