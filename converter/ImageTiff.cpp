// TIFF through libtiff, read band by band as rows are asked for.
//
// A band is one strip (striped files) or one row of tiles (tiled files)
// across the whole width, of all planes: libtiff decodes each strip or tile
// on its own, so only the band that holds the wanted rows is decoded and
// kept.  Uncompressed single-strip files are cut into small strips by
// libtiff itself, so they too are read a few rows at a time.
//
// Samples of 8, 16 or 32 bits (unsigned or signed integers) and 32 or 64
// bits (IEEE floating point) are held as stored, in host order, contiguous
// or separate planes alike.  Palette images (1 to 8 bits an index) are
// expanded to 8-bit RGB; grey images of 1, 2 or 4 bits are widened to 8
// bits (0 to 255).  JPEG-compressed YCbCr images are decoded to RGB by the
// codec.  The orientation tag is not applied: rows are taken top first.
#include <tiffio.h>

#include <cstdarg>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "ImageReaders.h"

namespace {

class TiffImage : public ilImage {
 public:
  ~TiffImage() override {
    if (tif_ != nullptr) TIFFClose(tif_);
    std::free(raw_);
    std::free(piece_);
    if (band_ != raw_) std::free(band_);
  }
  bool open(const char *name);

 protected:
  ilStatus readTopRows(long first, int count, unsigned char *out) override;

 private:
  bool decodeBand(uint32_t band);
  bool readPiece(uint32_t index, tmsize_t size);

  TIFF *tif_ = nullptr;
  uint16_t bps_ = 8;    // bits a sample as stored
  uint16_t spp_ = 1;    // samples a pixel as stored
  bool separate_ = false;
  bool tiled_ = false;
  bool palette_ = false;
  bool widen_ = false;  // grey of fewer than 8 bits
  uint16_t *cmap_[3] = {nullptr, nullptr, nullptr};
  int cmapShift_ = 8;
  uint32_t width_ = 0, height_ = 0;
  uint32_t bandRows_ = 0;   // rows a strip or a tile
  uint32_t tileWidth_ = 0;
  size_t rawRow_ = 0;       // bytes of a stored row of all planes, contiguous
  unsigned char *raw_ = nullptr;    // the band as stored (contiguous)
  unsigned char *band_ = nullptr;   // the band as held (== raw_ if no change)
  unsigned char *piece_ = nullptr;  // one strip or tile of one plane
  size_t pieceBytes_ = 0;
  long cached_ = -1;
};

bool TiffImage::open(const char *name) {
  // "m": read the file rather than map it, so only the bands in use are in
  // memory.
  tif_ = TIFFOpen(name, "rm");
  if (tif_ == nullptr) return false;
  uint16_t photometric = 0, format = SAMPLEFORMAT_UINT, planar = 1,
           compression = COMPRESSION_NONE;
  if (!TIFFGetField(tif_, TIFFTAG_IMAGEWIDTH, &width_) ||
      !TIFFGetField(tif_, TIFFTAG_IMAGELENGTH, &height_) ||
      !TIFFGetField(tif_, TIFFTAG_PHOTOMETRIC, &photometric))
    return false;
  TIFFGetFieldDefaulted(tif_, TIFFTAG_BITSPERSAMPLE, &bps_);
  TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLESPERPIXEL, &spp_);
  TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(tif_, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif_, TIFFTAG_COMPRESSION, &compression);
  if (width_ < 1 || height_ < 1 || width_ > INT_MAX || height_ > INT_MAX ||
      spp_ < 1 || spp_ > 16)
    return false;
  separate_ = planar == PLANARCONFIG_SEPARATE && spp_ > 1;
  tiled_ = TIFFIsTiled(tif_) != 0;

  if (photometric == PHOTOMETRIC_YCBCR) {
    // Only the JPEG codec converts YCbCr to RGB for us.
    if (compression != COMPRESSION_JPEG || spp_ != 3 || bps_ != 8 || separate_)
      return false;
    TIFFSetField(tif_, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    photometric = PHOTOMETRIC_RGB;
  }

  csize_ = spp_;
  switch (photometric) {
    case PHOTOMETRIC_MINISBLACK:
      model_ = spp_ == 1 ? ilMinBlack
                         : spp_ == 2 ? ilMinBlackAlpha : ilModelUnknown;
      break;
    case PHOTOMETRIC_MINISWHITE:
      model_ = spp_ == 1 ? ilMinWhite : ilModelUnknown;
      break;
    case PHOTOMETRIC_RGB:
      model_ = spp_ == 3 ? ilRGB : spp_ == 4 ? ilRGBA : ilModelUnknown;
      break;
    case PHOTOMETRIC_SEPARATED:
      model_ = spp_ == 4 ? ilCMYK : ilModelUnknown;
      break;
    case PHOTOMETRIC_PALETTE:
      if (spp_ != 1 || bps_ > 8 || format != SAMPLEFORMAT_UINT) return false;
      if (!TIFFGetField(tif_, TIFFTAG_COLORMAP, &cmap_[0], &cmap_[1],
                        &cmap_[2]))
        return false;
      palette_ = true;
      csize_ = 3;
      model_ = ilRGB;
      break;
    default:
      return false;
  }

  // What the held band looks like.
  if (bps_ < 8) {
    if (bps_ != 1 && bps_ != 2 && bps_ != 4) return false;
    if (!palette_) {
      if (spp_ != 1 || format != SAMPLEFORMAT_UINT) return false;
      widen_ = true;
    }
    kind_ = kU8;
  } else if (palette_) {
    if (bps_ != 8) return false;
    kind_ = kU8;
  } else if (format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_INT) {
    const bool s = format == SAMPLEFORMAT_INT;
    switch (bps_) {
      case 8: kind_ = s ? kS8 : kU8; break;
      case 16: kind_ = s ? kS16 : kU16; break;
      case 32: kind_ = s ? kS32 : kU32; break;
      default: return false;
    }
  } else if (format == SAMPLEFORMAT_IEEEFP) {
    switch (bps_) {
      case 32: kind_ = kF32; break;
      case 64: kind_ = kF64; break;
      default: return false;
    }
  } else {
    return false;
  }
  if (palette_) {
    // Colour maps hold 16-bit values; some writers store 8-bit ones.
    const size_t entries = size_t{1} << bps_;
    bool small = true;
    for (size_t i = 0; i < entries && small; i++)
      for (int c = 0; c < 3; c++)
        if (cmap_[c][i] > 255) small = false;
    cmapShift_ = small ? 0 : 8;
  }

  xsize_ = static_cast<int>(width_);
  ysize_ = static_cast<int>(height_);
  if (tiled_) {
    if (!TIFFGetField(tif_, TIFFTAG_TILEWIDTH, &tileWidth_) ||
        !TIFFGetField(tif_, TIFFTAG_TILELENGTH, &bandRows_) ||
        tileWidth_ < 1 || bandRows_ < 1)
      return false;
  } else {
    TIFFGetFieldDefaulted(tif_, TIFFTAG_ROWSPERSTRIP, &bandRows_);
    if (bandRows_ < 1) return false;
  }
  if (bandRows_ > height_) bandRows_ = height_;

  // Bytes of a stored row of all planes side by side, and the buffers for
  // one band and for one strip or tile.
  const uint64_t bits = static_cast<uint64_t>(width_) * spp_ * bps_;
  rawRow_ = static_cast<size_t>((bits + 7) / 8);
  size_t rawBytes, held;
  if (!MulSize(rawRow_, bandRows_, &rawBytes) ||
      !MulSize(rowBytes(), bandRows_, &held))
    return false;
  const tmsize_t piece = tiled_ ? TIFFTileSize(tif_) : TIFFStripSize(tif_);
  if (piece <= 0) return false;
  pieceBytes_ = static_cast<size_t>(piece);
  raw_ = static_cast<unsigned char *>(std::malloc(rawBytes));
  piece_ = static_cast<unsigned char *>(std::malloc(pieceBytes_));
  band_ = (palette_ || widen_)
              ? static_cast<unsigned char *>(std::malloc(held))
              : raw_;
  if (raw_ == nullptr || piece_ == nullptr || band_ == nullptr) return false;
  if (kind_ == kU8) {
    setByteRange();
    return true;
  }
  return scanRange();
}

// Decodes strip or tile `index` into piece_; `size` is the number of bytes
// it must yield.
bool TiffImage::readPiece(uint32_t index, tmsize_t size) {
  const tmsize_t got =
      tiled_ ? TIFFReadEncodedTile(tif_, index, piece_, -1)
             : TIFFReadEncodedStrip(tif_, index, piece_, -1);
  return got >= size;
}

bool TiffImage::decodeBand(uint32_t band) {
  const uint32_t top = band * bandRows_;
  const uint32_t rows =
      height_ - top < bandRows_ ? height_ - top : bandRows_;
  const uint32_t planes = separate_ ? spp_ : 1;
  const size_t sample = bps_ / 8;  // only used when separate (bps >= 8)
  for (uint32_t p = 0; p < planes; p++) {
    if (!tiled_) {
      const uint32_t strips = TIFFNumberOfStrips(tif_) / planes;
      if (band >= strips) return false;
      const size_t planeRow =
          separate_ ? static_cast<size_t>(width_) * sample : rawRow_;
      if (!readPiece(p * strips + band,
                     static_cast<tmsize_t>(planeRow * rows)))
        return false;
      if (!separate_) {
        std::memcpy(raw_, piece_, rawRow_ * rows);
      } else {
        for (size_t r = 0; r < rows; r++)
          for (size_t i = 0; i < width_; i++)
            std::memcpy(raw_ + r * rawRow_ + (i * spp_ + p) * sample,
                        piece_ + r * planeRow + i * sample, sample);
      }
      continue;
    }
    // A row of tiles: each tile is tileWidth_ x bandRows_ pixels (of one
    // plane when separate); the last column and row are cut at the edge.
    const tmsize_t tileRow = separate_
                                 ? static_cast<tmsize_t>(tileWidth_ * sample)
                                 : TIFFTileRowSize(tif_);
    for (uint32_t x = 0; x < width_; x += tileWidth_) {
      const uint32_t index = TIFFComputeTile(tif_, x, top, 0,
                                             static_cast<uint16_t>(p));
      if (!readPiece(index, tileRow * static_cast<tmsize_t>(bandRows_)))
        return false;
      const uint32_t cols = width_ - x < tileWidth_ ? width_ - x : tileWidth_;
      for (size_t r = 0; r < rows; r++) {
        const unsigned char *src = piece_ + r * static_cast<size_t>(tileRow);
        if (!separate_) {
          // Tile widths are multiples of 16, so a tile starts on a byte.
          const uint64_t from = static_cast<uint64_t>(x) * spp_ * bps_ / 8;
          const uint64_t bytes =
              (static_cast<uint64_t>(cols) * spp_ * bps_ + 7) / 8;
          std::memcpy(raw_ + r * rawRow_ + from, src, bytes);
        } else {
          for (size_t i = 0; i < cols; i++)
            std::memcpy(raw_ + r * rawRow_ + ((x + i) * spp_ + p) * sample,
                        src + i * sample, sample);
        }
      }
    }
  }

  if (palette_ || widen_) {
    // Unpack indices or grey levels of bps_ bits, most significant first.
    const unsigned mask = (1u << bps_) - 1;
    const size_t out = static_cast<size_t>(csize_);
    for (size_t r = 0; r < rows; r++) {
      const unsigned char *src = raw_ + r * rawRow_;
      unsigned char *dst = band_ + r * rowBytes();
      for (size_t i = 0; i < width_; i++) {
        const size_t bit = i * bps_;
        const unsigned v =
            (src[bit / 8] >> (8 - bps_ - bit % 8)) & mask;
        if (palette_) {
          for (size_t c = 0; c < 3; c++)
            dst[i * out + c] =
                static_cast<unsigned char>(cmap_[c][v] >> cmapShift_);
        } else {
          dst[i] = static_cast<unsigned char>(v * 255 / mask);
        }
      }
    }
  }
  cached_ = static_cast<long>(band);
  return true;
}

ilStatus TiffImage::readTopRows(long first, int count, unsigned char *out) {
  const size_t rb = rowBytes();
  for (long t = first; t < first + count; t++) {
    const uint32_t band = static_cast<uint32_t>(t) / bandRows_;
    if (static_cast<long>(band) != cached_ && !decodeBand(band)) {
      cached_ = -1;
      return ilBADDATA;
    }
    const size_t r = static_cast<size_t>(t) - static_cast<size_t>(band) * bandRows_;
    std::memcpy(out + static_cast<size_t>(t - first) * rb, band_ + r * rb, rb);
  }
  return ilOKAY;
}

}  // namespace

namespace {

// Set while a file is opened when libtiff has replaced a strip's or tile's
// stored byte count by a guess from the image size: the bytes it would then
// read as pixels are not the file's pixel data (a damaged or truncated
// file), so the file is refused rather than converted into wrong pixels.
bool tiffByteCountsGuessed = false;

void TiffWarning(const char *, const char *fmt, va_list) {
  if (std::strstr(fmt, "calculating from imagelength") != nullptr)
    tiffByteCountsGuessed = true;
}

}  // namespace

ilImage *OpenTiff(const char *name) {
  // libtiff reports through handlers that print; the converter has its own
  // messages.
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(TiffWarning);
  tiffByteCountsGuessed = false;
  TiffImage *img = new (std::nothrow) TiffImage();
  if (img == nullptr) return nullptr;
  if (!img->open(name) || tiffByteCountsGuessed) {
    delete img;
    return nullptr;
  }
  return img;
}
