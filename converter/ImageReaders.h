// The format readers behind ilOpenImgFile.  Each takes over the open file
// (closing it whatever happens) and returns a new image, or null when the
// file cannot be read as an image of its format.
#ifndef PICMETA_IMAGEREADERS_H
#define PICMETA_IMAGEREADERS_H

#include <cstdint>
#include <cstdio>
#include <new>

#include "ImageLib.h"

// An image decoded whole at its own sample depth (formats that decode top
// down only).  The decoder sets the size, channels, model and kind, and
// fills `pixels`, rows top first, `stride` bytes apart.
class HeldImage : public ilImage {
 public:
  ~HeldImage() override;
  void setShape(int width, int height, int channels, ilColorModel model,
                SampleKind kind) {
    xsize_ = width;
    ysize_ = height;
    csize_ = channels;
    model_ = model;
    kind_ = kind;
  }
  size_t stride() const { return rowBytes(); }
  // Takes over `pixels` (malloc'ed) and sets the sample range; false when
  // the range pass fails.
  bool adopt(unsigned char *pixels);

 protected:
  const unsigned char *heldRow(long row) const override {
    return pixels_ == nullptr ? nullptr
                              : pixels_ + static_cast<size_t>(row) * rowBytes();
  }

 private:
  unsigned char *pixels_ = nullptr;
};

// The shared shape of the readers that take over an open file: a new image
// of type T opened on f, or null (f closed either way).
template <class T>
ilImage *OpenOnFile(FILE *f) {
  T *img = new (std::nothrow) T();
  if (img == nullptr) {
    std::fclose(f);
    return nullptr;
  }
  if (!img->open(f)) {
    delete img;
    return nullptr;
  }
  return img;
}

ilImage *OpenPnm(FILE *f);
ilImage *OpenSgi(FILE *f);
ilImage *OpenPng(FILE *f);
ilImage *OpenJpeg(FILE *f);
ilImage *OpenTiff(const char *name);

// Reads exactly `n` bytes at `offset` of the file descriptor `fd`; false on
// an error or at the end of the file.
bool ReadFully(int fd, void *dst, size_t n, uint64_t offset);

// The size of the file behind `fd`, or -1 when it cannot be told.
int64_t FileSize(int fd);

// The most a decoder that must hold the whole image (PNG, JPEG) may
// allocate for it.  A few kilobytes of compressed data can claim gigabytes
// of pixels; such files are refused from their header, before anything is
// decoded.  Images this large convert from formats read strip by strip
// (PNM, SGI, TIFF).
constexpr size_t kMaxHeldImageBytes = size_t{1} << 30;

// a * b in size_t, false when the product does not fit.
bool MulSize(size_t a, size_t b, size_t *out);

#endif  // PICMETA_IMAGEREADERS_H
