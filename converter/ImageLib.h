// ImageLib.h -- the small image-reading layer of picmeta.
//
// picmeta reads its input through an image object: it opens a file by name,
// asks for the image's channel count, colour model, sample range and size,
// and then has the object fill a caller buffer with blocks of rows in a
// pixel layout it describes with an ilConfig.  This layer provides that
// object for the raster formats found on an ordinary workstation:
//
//   PNG  (libpng)          palette images are expanded to RGB; 8/16 bits
//   JPEG (libjpeg-turbo)   grey, RGB (from YCbCr) and CMYK as stored
//   TIFF (libtiff)         strips and tiles, contiguous and separate planes,
//                          8/16/32-bit integer and 32/64-bit float samples,
//                          palette images expanded to RGB
//   PNM  (our own reader)  binary P6, P5 and P4, 8 and 16 bits
//   SGI  (our own reader)  verbatim and run-length, 1 or 2 bytes a sample,
//                          1 to 4 channels
//
// The format is recognised from the file's first bytes, never from its name.
// PNM, SGI and TIFF files are read block by block as rows are asked for;
// PNG and JPEG decode top-down only, so their decoded image is held at its
// own sample depth.  No image is ever held as 32-bit values.
//
// Nothing here throws: failures are reported by a null image (open) or a
// status other than ilOKAY (getSubTile3D).
#ifndef PICMETA_IMAGELIB_H
#define PICMETA_IMAGELIB_H

#include <cstddef>
#include <cstdint>

// Status of an image operation.
enum ilStatus {
  ilOKAY = 0,
  ilBADARGS,      // region outside the image or the buffer, bad sizes
  ilUNSUPPORTED,  // a pixel configuration this layer does not produce
  ilIOERROR,      // the file could not be read (truncated, gone)
  ilBADDATA,      // the decoder found corrupt data
  ilNOMEMORY      // a buffer could not be allocated
};

// Sample types of a caller buffer.
enum ilType {
  ilUChar = 1,   // unsigned 8-bit
  ilUShort = 2,  // unsigned 16-bit
  ilULong = 4    // unsigned 32-bit
};

// Channel order of a caller buffer.
enum ilOrder {
  ilInterleaved = 1,  // the channels of each pixel together
  ilSequential = 2,   // per row, each channel's samples together
  ilSeparate = 3      // each channel a plane of its own
};

// Where row 0 is.
enum ilCoordSpace {
  ilLowerLeftOrigin = 1,  // row 0 is the image's bottom row
  ilUpperLeftOrigin = 2   // row 0 is the image's top row
};

// Colour models, as stored in the file.
enum ilColorModel {
  ilModelUnknown = 0,
  ilMinBlack = 1,       // grey, 0 is black
  ilMinWhite = 2,       // grey, 0 is white
  ilMinBlackAlpha = 3,  // grey and alpha
  ilRGB = 4,
  ilRGBA = 5,
  ilCMYK = 6
};

// The layout a caller wants in its buffer.  `chanList` names which of the
// image's channels go to the buffer (null: channel `chanOffset` onwards, in
// order); `colorModel` is the model the caller expects the data to be in.
struct ilConfig {
  ilConfig(ilType t, ilOrder o, int channels, const int *list, int offset,
           ilCoordSpace space, ilColorModel model)
      : type(t), order(o), nchans(channels), chanList(list),
        chanOffset(offset), coordSpace(space), colorModel(model) {}
  ilType type;
  ilOrder order;
  int nchans;
  const int *chanList;
  int chanOffset;
  ilCoordSpace coordSpace;
  ilColorModel colorModel;
};

// An open image.  Readers of the file formats derive from it; so can any
// other source of pixels (the tests use images of their own).
class ilImage {
 public:
  ilImage() = default;
  virtual ~ilImage();
  ilImage(const ilImage &) = delete;
  ilImage &operator=(const ilImage &) = delete;

  int getXsize() const { return xsize_; }
  int getYsize() const { return ysize_; }
  int getZsize() const { return 1; }
  int getCsize() const { return csize_; }
  ilColorModel getColorModel() const { return model_; }

  // The largest and smallest sample value the image holds, over all
  // channels (channel -1) or one channel.  For 8-bit samples these are the
  // bounds of the type, 255 and 0; for deeper or floating-point samples they
  // are found by a pass over the image when it is opened.  A floating-point
  // image holding a NaN or an infinity reports an infinite maximum.
  virtual double getMaxValue(int channel = -1) const;
  virtual double getMinValue(int channel = -1) const;

  // Fills `data` with the block of nx x ny x nz pixels whose first pixel is
  // (x, y, z), in the layout `cfg` describes.  The buffer itself covers the
  // block of dnx x dny x dnz pixels at (dx, dy, dz) in the same coordinates,
  // and the requested block must lie inside it.  Rows are counted in the
  // coordinate space of `cfg`: with ilLowerLeftOrigin row 0 is the bottom
  // row and the buffer's rows follow upward.  Samples are converted to the
  // buffer's type, saturating at its bounds (floating-point samples are
  // rounded to the nearest integer; negative values and NaN become 0).
  virtual ilStatus getSubTile3D(int x, int y, int z, int nx, int ny, int nz,
                                void *data, int dx, int dy, int dz, int dnx,
                                int dny, int dnz, const ilConfig *cfg);

  // The kinds of sample a reader stores its rows in (host byte order).
  enum SampleKind { kU8, kU16, kU32, kS8, kS16, kS32, kF32, kF64 };

 protected:
  // What a reader sets when it opens a file.
  int xsize_ = 0;
  int ysize_ = 0;
  int csize_ = 0;
  ilColorModel model_ = ilModelUnknown;
  SampleKind kind_ = kU8;

  // Rows of a reader, counted from the top of the image.  A reader either
  // holds the whole decoded image (heldRow returns a row's first sample) or
  // reads rows on demand (readTopRows fills `out` with `count` rows from row
  // `first`, each xsize_ x csize_ samples of kind_, rows one after another).
  virtual const unsigned char *heldRow(long row) const;
  virtual ilStatus readTopRows(long first, int count, unsigned char *out);

  // Bytes of one sample of kind_ and of one row.
  size_t sampleBytes() const;
  size_t rowBytes() const;

  // Sets the range to the bounds of 8-bit samples.
  void setByteRange();
  // Finds the range by a pass over every row; false when reading failed.
  bool scanRange();

 private:
  double min_[16] = {};
  double max_[16] = {};
  unsigned char *scratch_ = nullptr;  // rows read on demand
  size_t scratchRows_ = 0;
};

// Opens the image file `name` (mode "r"; no other mode is supported).
// Returns null when the file cannot be read, is of no known format, is
// corrupt or truncated where that shows at open, or claims a size that
// cannot be held.  The caller deletes the image.
ilImage *ilOpenImgFile(const char *name, const char *mode);

#endif  // PICMETA_IMAGELIB_H
