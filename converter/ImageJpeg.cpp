// JPEG through libjpeg(-turbo), with the library's default decoding
// settings.  The image is decoded whole, top down, and held as 8-bit
// samples: grey images as one channel, colour images (YCbCr or RGB) as RGB,
// and CMYK/YCCK images as four CMYK channels.  libjpeg turns damaged or
// truncated data into warnings and goes on with grey; here any warning
// refuses the file, so a damaged image is never converted.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <new>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include "ImageReaders.h"

namespace {

struct JpegErrors {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

void JpegFail(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegErrors *>(cinfo->err)->jump, 1);
}

// Level -1 is a warning about damaged data; other levels are traces.
void JpegMessage(j_common_ptr cinfo, int level) {
  if (level < 0) JpegFail(cinfo);
}

void JpegSilent(j_common_ptr) {}

bool DecodeJpeg(FILE *f, HeldImage *img) {
  jpeg_decompress_struct cinfo;
  JpegErrors errors;
  cinfo.err = jpeg_std_error(&errors.mgr);
  errors.mgr.error_exit = JpegFail;
  errors.mgr.emit_message = JpegMessage;
  errors.mgr.output_message = JpegSilent;
  unsigned char *volatile pixels = nullptr;
  if (setjmp(errors.jump)) {
    std::free(pixels);
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, f);
  jpeg_read_header(&cinfo, TRUE);
  ilColorModel model;
  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      cinfo.out_color_space = JCS_GRAYSCALE;
      model = ilMinBlack;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo.out_color_space = JCS_CMYK;
      model = ilCMYK;
      break;
    default:
      cinfo.out_color_space = JCS_RGB;
      model = ilRGB;
      break;
  }
  jpeg_start_decompress(&cinfo);
  const JDIMENSION width = cinfo.output_width;
  const JDIMENSION height = cinfo.output_height;
  const int channels = cinfo.output_components;
  if (width < 1 || height < 1 || width > 0x7FFFFFFF || height > 0x7FFFFFFF ||
      channels < 1 || channels > 4)
    JpegFail(reinterpret_cast<j_common_ptr>(&cinfo));
  img->setShape(static_cast<int>(width), static_cast<int>(height), channels,
                model, ilImage::kU8);
  const size_t stride = img->stride();
  size_t total;
  if (!MulSize(stride, static_cast<size_t>(height), &total) ||
      total > kMaxHeldImageBytes)
    JpegFail(reinterpret_cast<j_common_ptr>(&cinfo));
  pixels = static_cast<unsigned char *>(std::malloc(total));
  if (pixels == nullptr) JpegFail(reinterpret_cast<j_common_ptr>(&cinfo));
  while (cinfo.output_scanline < height) {
    JSAMPROW row = pixels + static_cast<size_t>(cinfo.output_scanline) * stride;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return img->adopt(pixels);
}

}  // namespace

ilImage *OpenJpeg(FILE *f) {
  HeldImage *img = new (std::nothrow) HeldImage();
  const bool ok = img != nullptr && DecodeJpeg(f, img);
  std::fclose(f);
  if (!ok) {
    delete img;
    return nullptr;
  }
  return img;
}
