// PNG through libpng.  The image is decoded whole (PNG rows can only be
// decoded top down, and interlaced images in seven passes) and held at its
// own depth: palette images are expanded to 8-bit RGB, grey images of 1, 2
// or 4 bits to 8 bits; 16-bit samples stay 16-bit.  A transparency chunk
// adds no channel: channels are reported as stored.
#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>

#include "ImageReaders.h"

namespace {

// libpng reports errors by calling this, which must not return.
void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// Decodes the whole file into `img`.  Only plain data lives across the
// setjmp, and what changes after it is volatile.
bool DecodePng(FILE *f, HeldImage *img) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr,
                                           PngError, PngWarning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  unsigned char *volatile pixels = nullptr;
  png_bytep *volatile rows = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    std::free(pixels);
    std::free(rows);
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, f);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int colorType = png_get_color_type(png, info);
  const int depth = png_get_bit_depth(png, info);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8)
    png_set_expand_gray_1_2_4_to_8(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);

  const int channels = png_get_channels(png, info);
  const int outDepth = png_get_bit_depth(png, info);
  static const ilColorModel models[5] = {ilModelUnknown, ilMinBlack,
                                         ilMinBlackAlpha, ilRGB, ilRGBA};
  if (width < 1 || height < 1 || width > 0x7FFFFFFF || height > 0x7FFFFFFF ||
      channels < 1 || channels > 4 || (outDepth != 8 && outDepth != 16))
    png_longjmp(png, 1);
  img->setShape(static_cast<int>(width), static_cast<int>(height), channels,
                models[channels],
                outDepth == 16 ? ilImage::kU16 : ilImage::kU8);
  const size_t stride = img->stride();
  size_t total;
  if (png_get_rowbytes(png, info) != stride ||
      !MulSize(stride, static_cast<size_t>(height), &total) ||
      total > kMaxHeldImageBytes)
    png_longjmp(png, 1);
  pixels = static_cast<unsigned char *>(std::malloc(total));
  rows = static_cast<png_bytep *>(
      std::malloc(static_cast<size_t>(height) * sizeof(png_bytep)));
  if (pixels == nullptr || rows == nullptr) png_longjmp(png, 1);
  for (png_uint_32 y = 0; y < height; y++)
    rows[y] = pixels + static_cast<size_t>(y) * stride;
  png_read_image(png, rows);
  png_destroy_read_struct(&png, &info, nullptr);
  std::free(rows);

  unsigned char *p = pixels;
  if (outDepth == 16) {
    // PNG samples are big-endian; the image holds them in host order.
    const size_t samples = total / 2;
    for (size_t i = 0; i < samples; i++) {
      const uint16_t v = static_cast<uint16_t>(p[2 * i] << 8 | p[2 * i + 1]);
      std::memcpy(p + 2 * i, &v, 2);
    }
  }
  return img->adopt(p);
}

}  // namespace

ilImage *OpenPng(FILE *f) {
  HeldImage *img = new (std::nothrow) HeldImage();
  const bool ok = img != nullptr && DecodePng(f, img);
  std::fclose(f);
  if (!ok) {
    delete img;
    return nullptr;
  }
  return img;
}
