// The SGI image file format (.rgb, .rgba, .bw, .sgi).
//
// A 512-byte big-endian header: magic 474 (2 bytes), storage (1 byte: 0
// verbatim, 1 run-length), bytes per channel (1 byte: 1 or 2), dimension
// (2 bytes: 1 one row of one channel, 2 rows of one channel, 3 rows of
// several channels), width, height and channel count (2 bytes each), the
// smallest and largest pixel value (4 bytes each), 4 unused bytes, an
// 80-byte name and the colour map type (4 bytes: 0 for ordinary images; the
// other, obsolete, types are refused).  Channels are stored one after
// another, each as a plane of rows, and rows are stored bottom first.
//
// Verbatim images hold each row of each channel uncompressed.  Run-length
// images follow the header with two tables of height x channels 4-byte
// entries, the file offset and the length of each encoded row (the row of
// height y of channel z at y + z x height), and each row is a sequence of
// runs: a count unit whose low 7 bits give n (0 ends the row) and whose top
// bit says whether n literal units follow (set) or one unit repeated n times
// (clear).  A unit is one byte, or a big-endian 2-byte value when the image
// has 2 bytes per channel.
#include <cstdlib>
#include <cstring>
#include <new>

#include "ImageReaders.h"

namespace {

uint32_t Be16(const unsigned char *p) {
  return static_cast<uint32_t>(p[0] << 8 | p[1]);
}

uint32_t Be32(const unsigned char *p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

class SgiImage : public ilImage {
 public:
  ~SgiImage() override {
    if (file_ != nullptr) std::fclose(file_);
    std::free(starts_);
    std::free(lengths_);
    std::free(plane_);
    std::free(coded_);
  }
  bool open(FILE *f);

 protected:
  ilStatus readTopRows(long first, int count, unsigned char *out) override;

 private:
  // Decodes one run-length row into `dst` (xsize_ units of bpc_ bytes).
  bool decodeRow(const unsigned char *src, size_t length, unsigned char *dst);

  FILE *file_ = nullptr;
  int fd_ = -1;
  int rle_ = 0;
  int bpc_ = 1;
  uint32_t *starts_ = nullptr;  // run-length row offsets and lengths
  uint32_t *lengths_ = nullptr;
  size_t maxLength_ = 0;
  unsigned char *plane_ = nullptr;  // one channel of a block of rows
  size_t planeBytes_ = 0;
  unsigned char *coded_ = nullptr;  // one encoded row
};

bool SgiImage::open(FILE *f) {
  file_ = f;
  fd_ = fileno(f);
  unsigned char h[512];
  if (!ReadFully(fd_, h, sizeof h, 0)) return false;
  if (Be16(h) != 474) return false;
  rle_ = h[2];
  bpc_ = h[3];
  const uint32_t dimension = Be16(h + 4);
  uint32_t width = Be16(h + 6), height = Be16(h + 8), channels = Be16(h + 10);
  if ((rle_ != 0 && rle_ != 1) || (bpc_ != 1 && bpc_ != 2)) return false;
  if (Be32(h + 104) != 0) return false;
  switch (dimension) {
    case 1: height = 1; channels = 1; break;
    case 2: channels = 1; break;
    case 3: break;
    default: return false;
  }
  if (width < 1 || height < 1 || channels < 1 || channels > 4) return false;
  xsize_ = static_cast<int>(width);
  ysize_ = static_cast<int>(height);
  csize_ = static_cast<int>(channels);
  static const ilColorModel models[5] = {ilModelUnknown, ilMinBlack,
                                         ilMinBlackAlpha, ilRGB, ilRGBA};
  model_ = models[channels];
  kind_ = bpc_ == 2 ? kU16 : kU8;

  const int64_t fileSize = FileSize(fd_);
  if (fileSize < 0) return false;
  const uint64_t size = static_cast<uint64_t>(fileSize);
  const uint64_t rowUnits = static_cast<uint64_t>(width) * height * channels;
  if (rle_ == 0) {
    // Every row is there, or the file is refused now.
    if (size < 512 + rowUnits * static_cast<uint64_t>(bpc_)) return false;
  } else {
    const size_t entries = static_cast<size_t>(height) * channels;
    if (size < 512 + 8 * static_cast<uint64_t>(entries)) return false;
    unsigned char *tables =
        static_cast<unsigned char *>(std::malloc(8 * entries));
    starts_ = static_cast<uint32_t *>(std::malloc(4 * entries));
    lengths_ = static_cast<uint32_t *>(std::malloc(4 * entries));
    if (tables == nullptr || starts_ == nullptr || lengths_ == nullptr ||
        !ReadFully(fd_, tables, 8 * entries, 512)) {
      std::free(tables);
      return false;
    }
    // A row's code takes at most two units a pixel (a run of one) and the
    // end unit; anything longer is not an image of this size.
    const uint64_t longest = (2 * static_cast<uint64_t>(width) + 2) *
                             static_cast<uint64_t>(bpc_);
    for (size_t i = 0; i < entries; i++) {
      starts_[i] = Be32(tables + 4 * i);
      lengths_[i] = Be32(tables + 4 * (entries + i));
      if (lengths_[i] > longest ||
          static_cast<uint64_t>(starts_[i]) + lengths_[i] > size) {
        std::free(tables);
        return false;
      }
      if (lengths_[i] > maxLength_) maxLength_ = lengths_[i];
    }
    std::free(tables);
    coded_ = static_cast<unsigned char *>(std::malloc(maxLength_ + 1));
    if (coded_ == nullptr) return false;
  }
  if (kind_ == kU8) {
    setByteRange();
    return true;
  }
  return scanRange();
}

bool SgiImage::decodeRow(const unsigned char *src, size_t length,
                         unsigned char *dst) {
  const size_t unit = static_cast<size_t>(bpc_);
  const size_t width = static_cast<size_t>(xsize_);
  const unsigned char *end = src + length;
  size_t done = 0;
  for (;;) {
    if (static_cast<size_t>(end - src) < unit) return false;
    const uint32_t code = unit == 2 ? Be16(src) : src[0];
    src += unit;
    const size_t n = code & 0x7F;
    if (n == 0) break;
    if (n > width - done) return false;
    if (code & 0x80) {
      if (static_cast<size_t>(end - src) < n * unit) return false;
      std::memcpy(dst + done * unit, src, n * unit);
      src += n * unit;
    } else {
      if (static_cast<size_t>(end - src) < unit) return false;
      for (size_t i = 0; i < n; i++)
        std::memcpy(dst + (done + i) * unit, src, unit);
      src += unit;
    }
    done += n;
  }
  return done == width;
}

ilStatus SgiImage::readTopRows(long first, int count, unsigned char *out) {
  const size_t n = static_cast<size_t>(count);
  const size_t width = static_cast<size_t>(xsize_);
  const size_t unit = static_cast<size_t>(bpc_);
  const size_t channels = static_cast<size_t>(csize_);
  const size_t planeRow = width * unit;
  if (n * planeRow > planeBytes_) {
    unsigned char *p = static_cast<unsigned char *>(std::malloc(n * planeRow));
    if (p == nullptr) return ilNOMEMORY;
    std::free(plane_);
    plane_ = p;
    planeBytes_ = n * planeRow;
  }
  // The block's top rows first..first+n-1 are the stored rows
  // bottom..bottom+n-1, in the opposite order.
  const size_t bottom = static_cast<size_t>(ysize_) - static_cast<size_t>(first) - n;
  const size_t height = static_cast<size_t>(ysize_);
  for (size_t z = 0; z < channels; z++) {
    if (rle_ == 0) {
      const uint64_t at = 512 + (static_cast<uint64_t>(z) * height + bottom) *
                                    static_cast<uint64_t>(planeRow);
      if (!ReadFully(fd_, plane_, n * planeRow, at)) return ilIOERROR;
    } else {
      for (size_t r = 0; r < n; r++) {
        const size_t e = z * height + bottom + r;
        if (!ReadFully(fd_, coded_, lengths_[e], starts_[e])) return ilIOERROR;
        if (!decodeRow(coded_, lengths_[e], plane_ + r * planeRow))
          return ilBADDATA;
      }
    }
    // Interleave the channel into the rows, top row first.
    for (size_t r = 0; r < n; r++) {
      const unsigned char *src = plane_ + (n - 1 - r) * planeRow;
      unsigned char *dst = out + r * rowBytes();
      if (unit == 1) {
        for (size_t i = 0; i < width; i++) dst[i * channels + z] = src[i];
      } else {
        for (size_t i = 0; i < width; i++) {
          const uint16_t v = static_cast<uint16_t>(Be16(src + 2 * i));
          std::memcpy(dst + 2 * (i * channels + z), &v, 2);
        }
      }
    }
  }
  return ilOKAY;
}

}  // namespace

ilImage *OpenSgi(FILE *f) { return OpenOnFile<SgiImage>(f); }
