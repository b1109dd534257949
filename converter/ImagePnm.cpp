// Binary PNM: P6 (RGB), P5 (grey) and P4 (bitmap).
//
// The header is the magic, then width, height and (except for P4) the
// largest sample value, as decimal numbers separated by white space, where a
// '#' starts a comment that runs to the end of its line; exactly one white
// space character ends the header.  The raster follows, rows top first:
// P6 holds three samples a pixel and P5 one, of one byte when the largest
// value is below 256 and of two big-endian bytes otherwise; P4 packs eight
// pixels a byte, most significant bit first, 1 for black, each row starting
// on a byte boundary.  Since every row has the same size, any block of rows
// can be read straight from its file offset.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "ImageReaders.h"

namespace {

class PnmImage : public ilImage {
 public:
  ~PnmImage() override {
    if (file_ != nullptr) std::fclose(file_);
    std::free(packed_);
  }
  bool open(FILE *f);

 protected:
  ilStatus readTopRows(long first, int count, unsigned char *out) override;

 private:
  FILE *file_ = nullptr;
  int fd_ = -1;
  char format_ = 0;          // '4', '5' or '6'
  uint64_t dataOffset_ = 0;  // where the raster starts
  size_t fileRowBytes_ = 0;  // bytes of one row in the file
  unsigned char *packed_ = nullptr;  // P4 rows as stored
  size_t packedRows_ = 0;
};

// Skips white space and comments; returns the next character or EOF.
int SkipSpace(FILE *f) {
  int c = std::getc(f);
  for (;;) {
    if (c == '#') {
      while (c != '\n' && c != '\r' && c != EOF) c = std::getc(f);
    } else if (c != EOF && std::isspace(c)) {
      c = std::getc(f);
    } else {
      return c;
    }
  }
}

// A decimal number of the header, at most `limit`; false when none is there
// or it is too large.
bool ReadNumber(FILE *f, long limit, long *value) {
  int c = SkipSpace(f);
  if (c == EOF || !std::isdigit(c)) return false;
  long v = 0;
  while (c != EOF && std::isdigit(c)) {
    v = v * 10 + (c - '0');
    if (v > limit) return false;
    c = std::getc(f);
  }
  // The number must be followed by white space or a comment.
  if (c == EOF) return false;
  if (!std::isspace(c) && c != '#') return false;
  std::ungetc(c, f);
  *value = v;
  return true;
}

bool PnmImage::open(FILE *f) {
  file_ = f;
  fd_ = fileno(f);
  if (std::getc(f) != 'P') return false;
  format_ = static_cast<char>(std::getc(f));
  long width = 0, height = 0, maxval = 1;
  if (!ReadNumber(f, INT_MAX, &width) || !ReadNumber(f, INT_MAX, &height))
    return false;
  if (format_ != '4' && !ReadNumber(f, 65535, &maxval)) return false;
  if (width < 1 || height < 1 || maxval < 1) return false;
  // One white space character ends the header (a comment there ends with
  // its line feed).
  int c = std::getc(f);
  if (c == '#') {
    while (c != '\n' && c != EOF) c = std::getc(f);
  }
  if (c == EOF || !std::isspace(c)) return false;
  const long pos = std::ftell(f);
  if (pos < 0) return false;
  dataOffset_ = static_cast<uint64_t>(pos);

  xsize_ = static_cast<int>(width);
  ysize_ = static_cast<int>(height);
  csize_ = format_ == '6' ? 3 : 1;
  model_ = format_ == '6' ? ilRGB : ilMinBlack;
  kind_ = maxval > 255 ? kU16 : kU8;
  const size_t w = static_cast<size_t>(width);
  if (format_ == '4') {
    fileRowBytes_ = (w + 7) / 8;
  } else if (!MulSize(w * static_cast<size_t>(csize_), sampleBytes(),
                      &fileRowBytes_)) {
    return false;
  }
  // The whole raster must be there: a short file is refused now rather
  // than halfway through the conversion.
  size_t total;
  if (!MulSize(fileRowBytes_, static_cast<size_t>(height), &total))
    return false;
  const int64_t size = FileSize(fd_);
  if (size < 0 || static_cast<uint64_t>(size) < dataOffset_ ||
      static_cast<uint64_t>(size) - dataOffset_ < total)
    return false;
  if (kind_ == kU8) {
    setByteRange();
    return true;
  }
  return scanRange();
}

ilStatus PnmImage::readTopRows(long first, int count, unsigned char *out) {
  const size_t n = static_cast<size_t>(count);
  const uint64_t at =
      dataOffset_ + static_cast<uint64_t>(first) * fileRowBytes_;
  if (format_ == '4') {
    if (n > packedRows_) {
      unsigned char *p =
          static_cast<unsigned char *>(std::malloc(n * fileRowBytes_));
      if (p == nullptr) return ilNOMEMORY;
      std::free(packed_);
      packed_ = p;
      packedRows_ = n;
    }
    if (!ReadFully(fd_, packed_, n * fileRowBytes_, at)) return ilIOERROR;
    const size_t w = static_cast<size_t>(xsize_);
    for (size_t r = 0; r < n; r++) {
      const unsigned char *src = packed_ + r * fileRowBytes_;
      unsigned char *dst = out + r * w;
      for (size_t i = 0; i < w; i++)
        dst[i] = (src[i >> 3] & (0x80 >> (i & 7))) ? 0 : 255;
    }
    return ilOKAY;
  }
  if (!ReadFully(fd_, out, n * fileRowBytes_, at)) return ilIOERROR;
  if (kind_ == kU16) {
    // Big-endian samples to host order, in place.
    const size_t samples = n * fileRowBytes_ / 2;
    for (size_t i = 0; i < samples; i++) {
      const uint16_t v = static_cast<uint16_t>((out[2 * i] << 8) | out[2 * i + 1]);
      std::memcpy(out + 2 * i, &v, 2);
    }
  }
  return ilOKAY;
}

}  // namespace

ilImage *OpenPnm(FILE *f) { return OpenOnFile<PnmImage>(f); }
