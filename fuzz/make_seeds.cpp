// Writes the seed corpora of the image and cgmdump fuzz targets: small
// images of every format and layout the image layer reads (made with the
// format libraries themselves, PNM and SGI by hand), and metafiles made
// with cgmlib that use every kind of element.
//
//   fuzz_make_seeds fuzz/corpus        # writes corpus/image, corpus/cgmdump
//
// The library target's seeds are a merged corpus of its own runs.
#include <png.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "Quil.h"

namespace {

std::string g_dir;
int g_failures = 0;

[[noreturn]] void Die(const std::string &what) {
  std::fprintf(stderr, "make_seeds: %s\n", what.c_str());
  std::exit(1);
}

std::string Path(const std::string &sub, const std::string &name) {
  return g_dir + "/" + sub + "/" + name;
}

void WriteBytes(const std::string &path, const std::vector<uint8_t> &b) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) Die("cannot write " + path);
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

// A small asymmetric test pattern: w x h pixels of c samples, values below
// `top`.
std::vector<int> Pattern(int w, int h, int c, int top) {
  std::vector<int> v(static_cast<size_t>(w * h * c));
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      for (int k = 0; k < c; k++)
        v[static_cast<size_t>((y * w + x) * c + k)] =
            ((x * 37 + y * 11 + k * 71 + x * y * 5) * 13) % top;
  return v;
}

// ---- PNG ---------------------------------------------------------------------

void Png(const std::string &name, int w, int h, int colorType, int depth,
         bool interlace) {
  FILE *f = std::fopen(Path("image", name).c_str(), "wb");
  if (f == nullptr) Die("cannot write " + name);
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) Die("libpng failed on " + name);
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(w),
               static_cast<png_uint_32>(h), depth, colorType,
               interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  int channels = 1;
  if (colorType == PNG_COLOR_TYPE_RGB) channels = 3;
  if (colorType == PNG_COLOR_TYPE_RGB_ALPHA) channels = 4;
  if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA) channels = 2;
  std::vector<png_color> palette;
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    for (int i = 0; i < (1 << depth); i++)
      palette.push_back(png_color{static_cast<png_byte>(i * 50),
                                  static_cast<png_byte>(255 - i * 30),
                                  static_cast<png_byte>(i * 7)});
    png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  }
  png_write_info(png, info);
  const int top = depth == 16 ? 65536 : 1 << depth;
  const std::vector<int> v = Pattern(w, h, channels, top);
  const size_t rowBytes = (static_cast<size_t>(w * channels * depth) + 7) / 8;
  std::vector<png_byte> row(rowBytes);
  // Interlaced images are written in passes, each needing the whole image.
  std::vector<std::vector<png_byte>> rows(static_cast<size_t>(h), row);
  for (int y = 0; y < h; y++) {
    std::fill(rows[static_cast<size_t>(y)].begin(),
              rows[static_cast<size_t>(y)].end(), 0);
    for (int i = 0; i < w * channels; i++) {
      const int s = v[static_cast<size_t>(y * w * channels + i)];
      png_byte *r = rows[static_cast<size_t>(y)].data();
      if (depth == 16) {
        r[2 * i] = static_cast<png_byte>(s >> 8);
        r[2 * i + 1] = static_cast<png_byte>(s);
      } else if (depth == 8) {
        r[i] = static_cast<png_byte>(s);
      } else {
        const int bit = i * depth;
        r[bit / 8] = static_cast<png_byte>(r[bit / 8] | s << (8 - depth - bit % 8));
      }
    }
  }
  std::vector<png_bytep> ptrs;
  for (auto &r : rows) ptrs.push_back(r.data());
  png_write_image(png, ptrs.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

// ---- JPEG --------------------------------------------------------------------

void Jpeg(const std::string &name, int w, int h, int channels, bool progressive) {
  FILE *f = std::fopen(Path("image", name).c_str(), "wb");
  if (f == nullptr) Die("cannot write " + name);
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = static_cast<JDIMENSION>(w);
  cinfo.image_height = static_cast<JDIMENSION>(h);
  cinfo.input_components = channels;
  cinfo.in_color_space = channels == 1 ? JCS_GRAYSCALE
                         : channels == 4 ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 75, TRUE);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  const std::vector<int> v = Pattern(w, h, channels, 256);
  std::vector<JSAMPLE> row(static_cast<size_t>(w * channels));
  for (int y = 0; y < h; y++) {
    for (int i = 0; i < w * channels; i++)
      row[static_cast<size_t>(i)] =
          static_cast<JSAMPLE>(v[static_cast<size_t>(y * w * channels + i)]);
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(f);
}

// ---- TIFF --------------------------------------------------------------------

struct TiffSpec {
  int w = 5, h = 4, spp = 3, bits = 8;
  int format = SAMPLEFORMAT_UINT;
  int photometric = PHOTOMETRIC_RGB;
  bool separate = false;
  int tile = 0;  // tile width and length (16), 0 for strips
  int rowsPerStrip = 2;
  int compression = COMPRESSION_NONE;
};

void Tiff(const std::string &name, const TiffSpec &s) {
  TIFF *t = TIFFOpen(Path("image", name).c_str(), "w");
  if (t == nullptr) Die("cannot write " + name);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(s.w));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(s.h));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(s.spp));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(s.bits));
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, static_cast<uint16_t>(s.format));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, static_cast<uint16_t>(s.photometric));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG,
               static_cast<uint16_t>(s.separate ? PLANARCONFIG_SEPARATE
                                                : PLANARCONFIG_CONTIG));
  TIFFSetField(t, TIFFTAG_COMPRESSION, static_cast<uint16_t>(s.compression));
  if (s.spp == 4 && s.photometric == PHOTOMETRIC_RGB) {
    uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  std::vector<uint16_t> cmap[3];
  if (s.photometric == PHOTOMETRIC_PALETTE) {
    for (int c = 0; c < 3; c++) {
      cmap[c].resize(size_t{1} << s.bits);
      for (size_t i = 0; i < cmap[c].size(); i++)
        cmap[c][i] = static_cast<uint16_t>((i * 4099 + static_cast<size_t>(c) * 20000) & 0xFFFF);
    }
    TIFFSetField(t, TIFFTAG_COLORMAP, cmap[0].data(), cmap[1].data(),
                 cmap[2].data());
  }
  if (s.compression == COMPRESSION_JPEG) {
    // RGB rows in, YCbCr (subsampled 2 x 2) in the file.
    TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
  }
  if (s.tile) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, static_cast<uint32_t>(s.tile));
    TIFFSetField(t, TIFFTAG_TILELENGTH, static_cast<uint32_t>(s.tile));
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(s.rowsPerStrip));
  }
  const int planes = s.separate ? s.spp : 1;
  const int per = s.separate ? 1 : s.spp;
  const int top = s.bits >= 16 ? 60000 : 1 << s.bits;
  const std::vector<int> v = Pattern(s.w, s.h, s.spp, top);
  auto sampleBits = [&](std::vector<uint8_t> *buf, size_t index, int value) {
    if (s.format == SAMPLEFORMAT_IEEEFP) {
      if (s.bits == 32) {
        float fv = static_cast<float>(value) / 300.0f;
        std::memcpy(buf->data() + 4 * index, &fv, 4);
      } else {
        double dv = value / 300.0;
        std::memcpy(buf->data() + 8 * index, &dv, 8);
      }
    } else if (s.bits >= 8) {
      const size_t b = static_cast<size_t>(s.bits / 8);
      const uint32_t u = static_cast<uint32_t>(value);
      std::memcpy(buf->data() + b * index, &u, b);  // host order, as libtiff wants
    } else {
      const size_t bit = index * static_cast<size_t>(s.bits);
      (*buf)[bit / 8] = static_cast<uint8_t>(
          (*buf)[bit / 8] | value << (8 - s.bits - static_cast<int>(bit % 8)));
    }
  };
  for (int p = 0; p < planes; p++) {
    if (!s.tile) {
      const int strips = (s.h + s.rowsPerStrip - 1) / s.rowsPerStrip;
      for (int st = 0; st < strips; st++) {
        const int y0 = st * s.rowsPerStrip;
        const int rows = std::min(s.rowsPerStrip, s.h - y0);
        const size_t rowBytes =
            (static_cast<size_t>(s.w * per * s.bits) + 7) / 8;
        std::vector<uint8_t> buf(rowBytes * static_cast<size_t>(rows), 0);
        for (int r = 0; r < rows; r++) {
          std::vector<uint8_t> row(rowBytes, 0);
          for (int x = 0; x < s.w; x++)
            for (int k = 0; k < per; k++)
              sampleBits(&row, static_cast<size_t>(x * per + k),
                         v[static_cast<size_t>(((y0 + r) * s.w + x) * s.spp +
                                               (s.separate ? p : k))]);
          std::memcpy(buf.data() + rowBytes * static_cast<size_t>(r),
                      row.data(), rowBytes);
        }
        TIFFWriteEncodedStrip(t, static_cast<uint32_t>(p * strips + st),
                              buf.data(), static_cast<tmsize_t>(buf.size()));
      }
    } else {
      const size_t tileRow = (static_cast<size_t>(s.tile * per * s.bits) + 7) / 8;
      for (int ty = 0; ty < s.h; ty += s.tile)
        for (int tx = 0; tx < s.w; tx += s.tile) {
          std::vector<uint8_t> buf(tileRow * static_cast<size_t>(s.tile), 0);
          for (int r = 0; r < s.tile && ty + r < s.h; r++) {
            std::vector<uint8_t> row(tileRow, 0);
            for (int x = 0; x < s.tile && tx + x < s.w; x++)
              for (int k = 0; k < per; k++)
                sampleBits(&row, static_cast<size_t>(x * per + k),
                           v[static_cast<size_t>(((ty + r) * s.w + tx + x) *
                                                     s.spp +
                                                 (s.separate ? p : k))]);
            std::memcpy(buf.data() + tileRow * static_cast<size_t>(r),
                        row.data(), tileRow);
          }
          TIFFWriteTile(t, buf.data(), static_cast<uint32_t>(tx),
                        static_cast<uint32_t>(ty), 0, static_cast<uint16_t>(p));
        }
    }
  }
  TIFFClose(t);
}

// ---- PNM and SGI ------------------------------------------------------------

void Pnm(const std::string &name, char kind, int w, int h, int maxval) {
  const int c = kind == '6' ? 3 : 1;
  std::string head = std::string("P") + kind + "\n# seed\n" +
                     std::to_string(w) + " " + std::to_string(h) + "\n";
  if (kind != '4') head += std::to_string(maxval) + "\n";
  std::vector<uint8_t> b(head.begin(), head.end());
  if (kind == '4') {
    const std::vector<int> v = Pattern(w, h, 1, 2);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x += 8) {
        uint8_t byte = 0;
        for (int i = 0; i < 8 && x + i < w; i++)
          if (v[static_cast<size_t>(y * w + x + i)]) byte = static_cast<uint8_t>(byte | 0x80 >> i);
        b.push_back(byte);
      }
  } else {
    for (int s : Pattern(w, h, c, maxval + 1)) {
      if (maxval > 255) b.push_back(static_cast<uint8_t>(s >> 8));
      b.push_back(static_cast<uint8_t>(s));
    }
  }
  WriteBytes(Path("image", name), b);
}

void Put16(std::vector<uint8_t> *b, int v) {
  b->push_back(static_cast<uint8_t>(v >> 8));
  b->push_back(static_cast<uint8_t>(v));
}
void Put32(std::vector<uint8_t> *b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b->push_back(static_cast<uint8_t>(v >> s));
}

void Sgi(const std::string &name, int w, int h, int c, bool rle, int bpc) {
  std::vector<uint8_t> b;
  Put16(&b, 474);
  b.push_back(rle ? 1 : 0);
  b.push_back(static_cast<uint8_t>(bpc));
  Put16(&b, c == 1 ? 2 : 3);
  Put16(&b, w);
  Put16(&b, h);
  Put16(&b, c);
  Put32(&b, 0);
  Put32(&b, bpc == 1 ? 255 : 65535);
  b.resize(512, 0);
  const std::vector<int> v = Pattern(w, h, c, bpc == 1 ? 256 : 65536);
  auto unit = [&](std::vector<uint8_t> *out, int x) {
    if (bpc == 2) Put16(out, x);
    else out->push_back(static_cast<uint8_t>(x));
  };
  auto at = [&](int x, int y, int z) {
    return v[static_cast<size_t>((y * w + x) * c + z)];
  };
  if (!rle) {
    for (int z = 0; z < c; z++)
      for (int y = h - 1; y >= 0; y--)
        for (int x = 0; x < w; x++) unit(&b, at(x, y, z));
  } else {
    const size_t n = static_cast<size_t>(h * c);
    std::vector<uint32_t> starts(n), lengths(n);
    std::vector<uint8_t> data;
    const uint32_t base = static_cast<uint32_t>(512 + 8 * n);
    for (int z = 0; z < c; z++)
      for (int sy = 0; sy < h; sy++) {
        const int y = h - 1 - sy;
        const size_t e = static_cast<size_t>(z * h + sy);
        starts[e] = base + static_cast<uint32_t>(data.size());
        int x = 0;
        while (x < w) {
          int run = 1;
          while (x + run < w && run < 127 && at(x + run, y, z) == at(x, y, z)) run++;
          if (run >= 2) {
            unit(&data, run);
            unit(&data, at(x, y, z));
          } else {
            unit(&data, 0x80 | 1);
            unit(&data, at(x, y, z));
          }
          x += run;
        }
        unit(&data, 0);
        lengths[e] = base + static_cast<uint32_t>(data.size()) - starts[e];
      }
    for (uint32_t s : starts) Put32(&b, s);
    for (uint32_t l : lengths) Put32(&b, l);
    b.insert(b.end(), data.begin(), data.end());
  }
  WriteBytes(Path("image", name), b);
}

// ---- Metafiles -----------------------------------------------------------------

void Check(int ok, const char *what, const char *msg) {
  if (!ok) {
    std::fprintf(stderr, "make_seeds: %s failed: %s\n", what, msg);
    g_failures++;
  }
}

qWCGM_DATA *g_cgm = nullptr;

// A metafile like picmeta's: real VDC, direct colour, one cell array.
void ConverterLike(const std::string &path, int w, int h) {
  char msg[QWCGM_MSG_SIZE];
  qWCGM_DATA *d = g_cgm;
  Check(qCgmInit(path.c_str(), d, msg), "open", msg);
  Check(qBeginMetafile("seed.cgm", d, msg), "begin", msg);
  Check(qVersion(d, msg), "version", msg);
  Check(qVdcType(1, d, msg), "vdc type", msg);
  Check(qColorSelectionMode(1, d, msg), "colour mode", msg);
  Check(qColorPrecision(8, d, msg), "colour precision", msg);
  Check(qMetafileElementsList(d, 1, 1, nullptr, 0, msg), "list", msg);
  Check(qBeginPicture("Picture begins.....", d, msg), "picture", msg);
  Check(qScalingMode(1, 25.4, d, msg), "scaling", msg);
  qVDC a[2] = {{0, -0.5}, {0, -0.5}}, b[2] = {{0, w / 90.0 + 0.5}, {0, h / 90.0 + 0.5}};
  Check(qVdcExtent(a, b, d, msg), "extent", msg);
  Check(qBeginPictureBody(d, msg), "body", msg);
  qVDC p[2] = {{0, 0.0}, {0, 0.0}}, q[2] = {{0, w / 90.0}, {0, h / 90.0}},
       r[2] = {{0, w / 90.0}, {0, 0.0}};
  const std::vector<int> cells = Pattern(w, h, 3, 256);
  Check(qCellArray(p, q, r, w, h, 8, 1, cells.data(), d, msg), "cells", msg);
  Check(qEndPicture(d, msg), "end picture", msg);
  Check(qEndMetafile(d, msg), "end", msg);
  qCgmEnd(d, msg);
}

// Every kind of element, at changing precisions.
void Everything(const std::string &path, int vdcType, int intP, int realP) {
  char msg[QWCGM_MSG_SIZE];
  qWCGM_DATA *d = g_cgm;
  Check(qCgmInit(path.c_str(), d, msg), "open", msg);
  Check(qBeginMetafile("everything", d, msg), "begin", msg);
  Check(qVersion(d, msg), "version", msg);
  Check(qDescription("seed metafile with every element", d, msg), "descr", msg);
  Check(qVdcType(vdcType, d, msg), "vdc type", msg);
  Check(qIntegerPrecision(intP, d, msg), "integer precision", msg);
  Check(qRealPrecision(realP, d, msg), "real precision", msg);
  Check(qIndexPrecision(8, d, msg), "index precision", msg);
  Check(qColorPrecision(16, d, msg), "colour precision", msg);
  Check(qColorIndexPrecision(8, d, msg), "colour index precision", msg);
  Check(qMaxColorIndex(200, d, msg), "max colour index", msg);
  const int extent[6] = {0, 0, 0, 60000, 60000, 60000};
  Check(qColorValueExtent(extent, d, msg), "colour extent", msg);
  const int list[4] = {4, 9, 4, 1};
  Check(qMetafileElementsList(d, 0, 0, list, 2, msg), "list", msg);
  Check(qMetafileDefaultsReplacement(1, d, msg), "mdr open", msg);
  Check(qLineWidthSpecificationMode(0, d, msg), "mdr line width", msg);
  Check(qColorSelectionMode(0, d, msg), "mdr colour mode", msg);
  Check(qMetafileDefaultsReplacement(0, d, msg), "mdr close", msg);
  const char *fonts[2] = {"Helvetica", "Times"};
  Check(qFontList(2, fonts, d, msg), "fonts", msg);
  const int types[1] = {0};
  const char *tails[1] = {"B"};
  Check(qCharacterSetList(types, tails, 1, d, msg), "sets", msg);
  Check(qCharacterCodingAnnouncer(0, d, msg), "announcer", msg);

  Check(qBeginPicture("first", d, msg), "picture", msg);
  Check(qScalingMode(0, 1.0, d, msg), "scaling", msg);
  Check(qColorSelectionMode(0, d, msg), "colour mode", msg);
  Check(qMarkerSizeSpecificationMode(0, d, msg), "marker mode", msg);
  Check(qEdgeWidthSpecificationMode(1, d, msg), "edge mode", msg);
  auto V = [&](int i, double x) { return qVDC{i, x}; };
  qVDC e1[2] = {V(0, 0.0), V(0, 0.0)}, e2[2] = {V(100, 10.0), V(100, 10.0)};
  Check(qVdcExtent(e1, e2, d, msg), "extent", msg);
  const int bg[3] = {65535, 0, 30000};
  Check(qBackgroundColor(bg, d, msg), "background", msg);
  Check(qBeginPictureBody(d, msg), "body", msg);
  qVDC pts[8] = {V(1, 0.5), V(2, 1.0), V(30, 3.0), V(40, 4.5),
                 V(50, 5.0), V(10, 6.0), V(70, 7.0), V(20, 2.5)};
  Check(qPolyline(pts, 4, d, msg), "polyline", msg);
  Check(qDisjointPolyline(pts, 4, d, msg), "disjoint", msg);
  Check(qPolyMarker(pts, 3, d, msg), "marker", msg);
  Check(qPolygon(pts, 4, d, msg), "polygon", msg);
  const int flags[4] = {1, 0, 3, 2};
  Check(qPolygonSet(pts, flags, 4, d, msg), "polygon set", msg);
  Check(qRectangle(pts, d, msg), "rectangle", msg);
  Check(qText(pts, 0, "Hello", d, msg), "text", msg);
  Check(qAppendText(" world", 1, d, msg), "append", msg);
  Check(qRestrictedText(&pts[0], &pts[1], &pts[2], 1, "R", d, msg), "rtext", msg);
  Check(qCircle(pts, &pts[2], d, msg), "circle", msg);
  Check(qCircularArc3Point(pts, &pts[2], &pts[4], d, msg), "arc3", msg);
  Check(qCircularArc3PointClose(pts, &pts[2], &pts[4], 1, d, msg), "arc3c", msg);
  Check(qCircularArcCenter(pts, &pts[2], &pts[3], &pts[4], &pts[5], &pts[6], d, msg),
        "arcc", msg);
  Check(qCircularArcCenterClose(pts, &pts[2], &pts[3], &pts[4], &pts[5], &pts[6], 0,
                                d, msg),
        "arccc", msg);
  Check(qEllipse(pts, &pts[2], &pts[4], d, msg), "ellipse", msg);
  Check(qEllipseArc(pts, &pts[2], &pts[4], &pts[6], &pts[7], &pts[5], &pts[3], d, msg),
        "earc", msg);
  Check(qEllipseArcClose(pts, &pts[2], &pts[4], &pts[6], &pts[7], &pts[5], &pts[3], 1,
                         d, msg),
        "earcc", msg);
  // Cell arrays: packed and run-length, 1-bit and 8-bit indexes.
  const int bits[6] = {1, 0, 1, 0, 1, 1};
  Check(qCellArray(pts, &pts[2], &pts[4], 3, 2, 1, 1, bits, d, msg), "cells 1", msg);
  const int runs[8] = {3, 7, 1, 9, 4, 200, 0, 0};
  Check(qCellArray(pts, &pts[2], &pts[4], 4, 2, 8, 0, runs, d, msg), "cells rl", msg);
  // Generalized drawing primitives: trace set-up, trace data, PIP.
  qWCGM_CGM_PLUS &plus = d->Cgm.CgmPlus;
  plus.Origin[0] = V(0, 0.0);
  plus.Origin[1] = V(0, 0.0);
  plus.BaseVector[0] = V(1, 1.0);
  plus.BaseVector[1] = V(0, 0.0);
  plus.AmpVector[0] = V(0, 0.0);
  plus.AmpVector[1] = V(1, 1.0);
  plus.TraceStepVector[0] = V(2, 2.0);
  plus.TraceStepVector[1] = V(0, 0.0);
  plus.BaseScale = plus.AmpScale = plus.TraceStepFactor = 1.0;
  plus.BaselineOffset = plus.PosClip = plus.NegClip = 0.5;
  plus.DisplayMode = 1;
  plus.SampleType = 0;
  plus.SamplesPerTrace = 6;
  plus.PosBkFillBoundary = plus.NegBkFillBoundary = 0.25;
  plus.Reserved = 0;
  plus.WiggleModulus = 2;
  plus.NullColorIndex = 3;
  plus.TracesPerLocation = 1;
  Check(qGdp(-4, d, msg), "trace init", msg);
  for (int i = 0; i < 6; i++) plus.TraceData.iTraceData[i] = i * 100 - 250;
  Check(qGdp(-5, d, msg), "trace data", msg);
  plus.SampleType = 2;  // a new set-up for real samples
  Check(qGdp(-4, d, msg), "trace init real", msg);
  for (int i = 0; i < 6; i++) plus.TraceData.dTraceData[i] = i * 0.25;
  Check(qGdp(-5, d, msg), "trace data real", msg);
  qWCGM_CGM_PIP &pip = d->Cgm.CgmPip;
  static int samples[5] = {1, 2, 3, 4, 5};
  static int colours[3] = {4, 5, 6};
  static int background[3] = {100, 200, 300};
  pip.Origin[0] = V(5, 0.5);
  pip.Origin[1] = V(6, 0.75);
  pip.GroupId = 5;
  pip.SampleNormExt = 1.0;
  pip.TypeSamples = 6;
  pip.iSamples = samples;
  pip.dSamples = nullptr;
  pip.NumSamples = 5;
  pip.TypeVaColors = 2;
  pip.VaColors = colours;
  pip.NumVaColors = 3;
  pip.TypeBkColors = 3;
  pip.BkColors = background;
  pip.NumBkColors = 1;
  // The identifier -3000 needs 16 bits at least.
  if (intP > 8) Check(qGdp(-3000, d, msg), "pip", msg);
  Check(qNoopId(3, d, msg), "noop", msg);
  Check(qEndPicture(d, msg), "end picture", msg);
  Check(qEndMetafile(d, msg), "end", msg);
  qCgmEnd(d, msg);
}

// A long element in partitions and a long string.
void Long(const std::string &path) {
  char msg[QWCGM_MSG_SIZE];
  qWCGM_DATA *d = g_cgm;
  Check(qCgmInit(path.c_str(), d, msg), "open", msg);
  Check(qBeginMetafile(std::string(300, 'n').c_str(), d, msg), "begin", msg);
  Check(qBeginPicture("long", d, msg), "picture", msg);
  Check(qBeginPictureBody(d, msg), "body", msg);
  // 9000 points at 16-bit integer VDC: 36000 bytes, two partitions.
  std::vector<qVDC> pts(18000);
  for (size_t i = 0; i < pts.size(); i++)
    pts[i] = qVDC{static_cast<int>(i % 1000), 0.0};
  Check(qPolyline(pts.data(), 9000, d, msg), "polyline", msg);
  Check(qEndPicture(d, msg), "end picture", msg);
  Check(qEndMetafile(d, msg), "end", msg);
  qCgmEnd(d, msg);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_make_seeds <corpus folder>\n");
    return 2;
  }
  g_dir = argv[1];
  mkdir(g_dir.c_str(), 0755);
  mkdir((g_dir + "/image").c_str(), 0755);
  mkdir((g_dir + "/cgmdump").c_str(), 0755);

  Png("rgb8.png", 5, 4, PNG_COLOR_TYPE_RGB, 8, false);
  Png("rgba16-interlaced.png", 9, 7, PNG_COLOR_TYPE_RGB_ALPHA, 16, true);
  Png("palette4.png", 6, 3, PNG_COLOR_TYPE_PALETTE, 4, false);
  Png("grey1.png", 11, 3, PNG_COLOR_TYPE_GRAY, 1, false);
  Png("greyalpha8.png", 3, 3, PNG_COLOR_TYPE_GRAY_ALPHA, 8, false);
  Jpeg("rgb.jpg", 9, 7, 3, false);
  Jpeg("grey-progressive.jpg", 8, 8, 1, true);
  Jpeg("cmyk.jpg", 4, 4, 4, false);
  TiffSpec t;
  Tiff("rgb8-strips.tif", t);
  t.compression = COMPRESSION_LZW;
  t.bits = 16;
  t.separate = true;
  Tiff("rgb16-separate-lzw.tif", t);
  t = TiffSpec();
  t.tile = 16;
  t.w = 20;
  t.h = 17;
  t.compression = COMPRESSION_ADOBE_DEFLATE;
  Tiff("rgb8-tiled-deflate.tif", t);
  t = TiffSpec();
  t.bits = 32;
  t.format = SAMPLEFORMAT_IEEEFP;
  Tiff("rgb-float32.tif", t);
  t.bits = 64;
  t.spp = 1;
  t.photometric = PHOTOMETRIC_MINISBLACK;
  Tiff("grey-float64.tif", t);
  t = TiffSpec();
  t.spp = 1;
  t.bits = 4;
  t.photometric = PHOTOMETRIC_PALETTE;
  Tiff("palette4.tif", t);
  t.bits = 2;
  t.photometric = PHOTOMETRIC_MINISWHITE;
  Tiff("grey2-miniswhite.tif", t);
  t = TiffSpec();
  t.bits = 16;
  t.format = SAMPLEFORMAT_INT;
  t.spp = 4;
  t.photometric = PHOTOMETRIC_SEPARATED;
  t.compression = COMPRESSION_PACKBITS;
  Tiff("cmyk16-signed-packbits.tif", t);
  t = TiffSpec();
  t.w = 19;
  t.h = 17;
  t.rowsPerStrip = 16;
  t.photometric = PHOTOMETRIC_YCBCR;
  t.compression = COMPRESSION_JPEG;
  Tiff("ycbcr-jpeg.tif", t);
  Pnm("rgb8.ppm", '6', 5, 4, 255);
  Pnm("rgb16.ppm", '6', 3, 3, 1000);
  Pnm("grey8.pgm", '5', 4, 3, 200);
  Pnm("bits.pbm", '4', 13, 3, 1);
  Sgi("rgb8-verbatim.rgb", 5, 4, 3, false, 1);
  Sgi("rgba16-rle.rgba", 6, 3, 4, true, 2);
  Sgi("grey8-rle.bw", 9, 2, 1, true, 1);

  g_cgm = static_cast<qWCGM_DATA *>(std::calloc(1, sizeof(qWCGM_DATA)));
  ConverterLike(Path("cgmdump", "converter-6x5"), 6, 5);
  Everything(Path("cgmdump", "everything-int"), 0, 16, 3);
  Everything(Path("cgmdump", "everything-real"), 1, 32, 2);
  Everything(Path("cgmdump", "everything-8bit"), 0, 8, 4);
  Long(Path("cgmdump", "long-partitions"));
  std::free(g_cgm);
  return g_failures == 0 ? 0 : 1;
}
