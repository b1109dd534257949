// Helpers of the image layer and converter tests: images written with the
// real format libraries (and by hand for PNM and SGI), a reader of the
// binary metafile's elements and cell arrays, and a runner of picmeta as a
// real process.
#ifndef QUIL_PICMETA_TESTKIT_H
#define QUIL_PICMETA_TESTKIT_H

#include <fcntl.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "testutil.h"

namespace kit {

// An int index or size as size_t (the tests' sizes are small and positive).
inline size_t Z(long v) { return static_cast<size_t>(v); }

// ---- Images ----------------------------------------------------------------

// Pixels held top row first, `c` samples a pixel, as ints.
struct Image {
  int w = 0, h = 0, c = 3;
  std::vector<int> v;
  int &at(int x, int y, int ch) {
    return v[Z((y * w + x) * c + ch)];
  }
  int at(int x, int y, int ch) const {
    return v[Z((y * w + x) * c + ch)];
  }
};

// A structured test image: gradients, stripes and a diagonal, different in
// every channel and asymmetric in both directions, samples below `top`.
inline Image Pattern(int w, int h, int c = 3, int top = 256) {
  Image im;
  im.w = w;
  im.h = h;
  im.c = c;
  im.v.resize(Z(w * h * c));
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      for (int ch = 0; ch < c; ch++) {
        int v;
        switch (ch % 4) {
          case 0: v = x * 7 + y * 3; break;
          case 1: v = (y * 11) ^ (x * 5); break;
          case 2: v = ((x / 4 + y / 3) % 2) ? 200 + x % 50 : y * 13 + x; break;
          default: v = x == y ? 255 : (x + 2 * y) * 17; break;
        }
        im.at(x, y, ch) = ((v % top) + top) % top;
      }
  return im;
}

inline void WriteBytes(const std::string &path, const Bytes &b) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

inline void Put16(Bytes *b, int v) {
  b->push_back(static_cast<uint8_t>(v >> 8));
  b->push_back(static_cast<uint8_t>(v));
}
inline void Put32(Bytes *b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b->push_back(static_cast<uint8_t>(v >> s));
}

// Binary PNM: P6 for 3 channels, P5 for 1; two bytes a sample when maxval
// is above 255.
inline Bytes PnmBytes(const Image &im, int maxval = 255) {
  std::string head = std::string(im.c == 3 ? "P6" : "P5") + "\n# test\n" +
                     std::to_string(im.w) + " " + std::to_string(im.h) +
                     "\n" + std::to_string(maxval) + "\n";
  Bytes b(head.begin(), head.end());
  for (int v : im.v) {
    if (maxval > 255) Put16(&b, v);
    else b.push_back(static_cast<uint8_t>(v));
  }
  return b;
}

// SGI image file: verbatim or run-length, 1 or 2 bytes a channel.  Rows are
// stored bottom first, channel after channel.
inline Bytes SgiBytes(const Image &im, bool rle, int bpc) {
  Bytes b;
  Put16(&b, 474);
  b.push_back(rle ? 1 : 0);
  b.push_back(static_cast<uint8_t>(bpc));
  Put16(&b, im.c == 1 ? 2 : 3);
  Put16(&b, im.w);
  Put16(&b, im.h);
  Put16(&b, im.c);
  Put32(&b, 0);
  Put32(&b, bpc == 1 ? 255 : 65535);
  b.resize(512, 0);
  auto unit = [&](Bytes *out, int v) {
    if (bpc == 2) Put16(out, v);
    else out->push_back(static_cast<uint8_t>(v));
  };
  if (!rle) {
    for (int z = 0; z < im.c; z++)
      for (int y = im.h - 1; y >= 0; y--)
        for (int x = 0; x < im.w; x++) unit(&b, im.at(x, y, z));
    return b;
  }
  const size_t n = Z(im.h * im.c);
  std::vector<uint32_t> starts(n), lengths(n);
  Bytes data;
  const uint32_t base = static_cast<uint32_t>(512 + 8 * n);
  for (int z = 0; z < im.c; z++)
    for (int sy = 0; sy < im.h; sy++) {
      const int y = im.h - 1 - sy;
      const size_t e = Z(z * im.h + sy);
      starts[e] = base + static_cast<uint32_t>(data.size());
      // Runs of equal values become repeat runs, the rest literal runs.
      int x = 0;
      while (x < im.w) {
        int run = 1;
        while (x + run < im.w && run < 127 &&
               im.at(x + run, y, z) == im.at(x, y, z))
          run++;
        if (run >= 2) {
          unit(&data, run);
          unit(&data, im.at(x, y, z));
          x += run;
          continue;
        }
        int lit = 1;
        while (x + lit < im.w && lit < 127 &&
               !(x + lit + 1 < im.w &&
                 im.at(x + lit, y, z) == im.at(x + lit + 1, y, z)))
          lit++;
        unit(&data, 0x80 | lit);
        for (int i = 0; i < lit; i++) unit(&data, im.at(x + i, y, z));
        x += lit;
      }
      unit(&data, 0);
      lengths[e] = base + static_cast<uint32_t>(data.size()) - starts[e];
    }
  for (uint32_t s : starts) Put32(&b, s);
  for (uint32_t l : lengths) Put32(&b, l);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

// PNG through libpng: colour type from the channel count (or a palette of
// the image's distinct colours), 8 or 16 bits, optionally interlaced.
struct PngOptions {
  int depth = 8;
  bool palette = false;
  bool interlace = false;
};
inline void WritePng(const std::string &path, const Image &im,
                     PngOptions o = PngOptions()) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) throw std::runtime_error("libpng write failed");
  png_init_io(png, f);
  static const int types[5] = {0, PNG_COLOR_TYPE_GRAY,
                               PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                               PNG_COLOR_TYPE_RGB_ALPHA};
  std::vector<png_color> pal;
  std::vector<std::vector<png_byte>> rows(Z(im.h));
  if (o.palette) {
    for (int y = 0; y < im.h; y++)
      for (int x = 0; x < im.w; x++) {
        png_color col{static_cast<png_byte>(im.at(x, y, 0)),
                      static_cast<png_byte>(im.at(x, y, 1)),
                      static_cast<png_byte>(im.at(x, y, 2))};
        size_t i = 0;
        while (i < pal.size() && std::memcmp(&pal[i], &col, 3) != 0) i++;
        if (i == pal.size()) {
          if (pal.size() == 256) throw std::runtime_error("too many colours");
          pal.push_back(col);
        }
        rows[Z(y)].push_back(static_cast<png_byte>(i));
      }
    png_set_IHDR(png, info, static_cast<png_uint_32>(im.w),
                 static_cast<png_uint_32>(im.h), 8, PNG_COLOR_TYPE_PALETTE,
                 o.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, pal.data(), static_cast<int>(pal.size()));
  } else {
    for (int y = 0; y < im.h; y++)
      for (int x = 0; x < im.w; x++)
        for (int ch = 0; ch < im.c; ch++) {
          const int v = im.at(x, y, ch);
          if (o.depth == 16) rows[Z(y)].push_back(static_cast<png_byte>(v >> 8));
          rows[Z(y)].push_back(static_cast<png_byte>(v));
        }
    png_set_IHDR(png, info, static_cast<png_uint_32>(im.w),
                 static_cast<png_uint_32>(im.h), o.depth, types[im.c],
                 o.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  }
  png_write_info(png, info);
  std::vector<png_bytep> ptrs;
  for (auto &r : rows) ptrs.push_back(r.data());
  png_write_image(png, ptrs.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

// JPEG through libjpeg at the given quality (RGB from 3 channels, grey
// from 1, CMYK from 4).
inline void WriteJpeg(const std::string &path, const Image &im,
                      int quality = 90) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = static_cast<JDIMENSION>(im.w);
  cinfo.image_height = static_cast<JDIMENSION>(im.h);
  cinfo.input_components = im.c;
  cinfo.in_color_space =
      im.c == 1 ? JCS_GRAYSCALE : im.c == 4 ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(Z(im.w * im.c));
  for (int y = 0; y < im.h; y++) {
    for (int i = 0; i < im.w * im.c; i++)
      row[Z(i)] = static_cast<JSAMPLE>(im.v[Z(y * im.w * im.c + i)]);
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(f);
}

// The pixels libjpeg decodes from a file with its default settings, as RGB
// (or grey).
inline Image DecodeJpeg(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) throw std::runtime_error("cannot read " + path);
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, f);
  jpeg_read_header(&cinfo, TRUE);
  if (cinfo.jpeg_color_space != JCS_GRAYSCALE) cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  Image im;
  im.w = static_cast<int>(cinfo.output_width);
  im.h = static_cast<int>(cinfo.output_height);
  im.c = cinfo.output_components;
  std::vector<JSAMPLE> row(Z(im.w * im.c));
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW p = row.data();
    jpeg_read_scanlines(&cinfo, &p, 1);
    for (JSAMPLE s : row) im.v.push_back(s);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(f);
  return im;
}

// TIFF through libtiff.
struct TiffOptions {
  int bits = 8;                 // 8, 16, 32 or 64
  int format = SAMPLEFORMAT_UINT;
  int photometric = -1;         // -1: grey for 1-2 channels, RGB for 3-4
  bool separate = false;        // one plane a channel
  int tileWidth = 0;            // 0: strips
  int tileLength = 0;
  int rowsPerStrip = 16;
  int compression = COMPRESSION_NONE;
};
inline void WriteTiff(const std::string &path, const Image &im,
                      TiffOptions o = TiffOptions()) {
  TIFF *t = TIFFOpen(path.c_str(), "w");
  if (!t) throw std::runtime_error("cannot write " + path);
  const int photometric = o.photometric >= 0 ? o.photometric
                          : im.c >= 3       ? PHOTOMETRIC_RGB
                                            : PHOTOMETRIC_MINISBLACK;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(im.w));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(im.h));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(im.c));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(o.bits));
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, static_cast<uint16_t>(o.format));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, static_cast<uint16_t>(photometric));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG,
               static_cast<uint16_t>(o.separate ? PLANARCONFIG_SEPARATE
                                                : PLANARCONFIG_CONTIG));
  TIFFSetField(t, TIFFTAG_COMPRESSION, static_cast<uint16_t>(o.compression));
  if (im.c == 4 && photometric == PHOTOMETRIC_RGB) {
    uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  if (o.tileWidth) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, static_cast<uint32_t>(o.tileWidth));
    TIFFSetField(t, TIFFTAG_TILELENGTH, static_cast<uint32_t>(o.tileLength));
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(o.rowsPerStrip));
  }
  const size_t bytes = static_cast<size_t>(o.bits / 8);
  auto put = [&](unsigned char *dst, int v) {
    if (o.format == SAMPLEFORMAT_IEEEFP) {
      if (o.bits == 32) {
        float fv = static_cast<float>(v);
        std::memcpy(dst, &fv, 4);
      } else {
        double dv = v;
        std::memcpy(dst, &dv, 8);
      }
    } else if (o.bits == 8) {
      const int8_t s = static_cast<int8_t>(v);
      std::memcpy(dst, &s, 1);
    } else if (o.bits == 16) {
      const int16_t s = static_cast<int16_t>(v);
      std::memcpy(dst, &s, 2);
    } else {
      const int32_t s = v;
      std::memcpy(dst, &s, 4);
    }
  };
  const int planes = o.separate ? im.c : 1;
  const int per = o.separate ? 1 : im.c;
  for (int p = 0; p < planes; p++) {
    if (!o.tileWidth) {
      const int strips = (im.h + o.rowsPerStrip - 1) / o.rowsPerStrip;
      for (int s = 0; s < strips; s++) {
        const int y0 = s * o.rowsPerStrip;
        const int rows = std::min(o.rowsPerStrip, im.h - y0);
        std::vector<unsigned char> buf(Z(rows * im.w * per) * bytes);
        for (int r = 0; r < rows; r++)
          for (int x = 0; x < im.w; x++)
            for (int k = 0; k < per; k++)
              put(&buf[Z((r * im.w + x) * per + k) * bytes],
                  im.at(x, y0 + r, o.separate ? p : k));
        TIFFWriteEncodedStrip(t, static_cast<uint32_t>(p * strips + s), buf.data(),
                              static_cast<tmsize_t>(buf.size()));
      }
    } else {
      for (int ty = 0; ty < im.h; ty += o.tileLength)
        for (int tx = 0; tx < im.w; tx += o.tileWidth) {
          std::vector<unsigned char> buf(
              Z(o.tileWidth * o.tileLength * per) * bytes, 0);
          for (int r = 0; r < o.tileLength && ty + r < im.h; r++)
            for (int x = 0; x < o.tileWidth && tx + x < im.w; x++)
              for (int k = 0; k < per; k++)
                put(&buf[Z((r * o.tileWidth + x) * per + k) *
                         bytes],
                    im.at(tx + x, ty + r, o.separate ? p : k));
          TIFFWriteTile(t, buf.data(), static_cast<uint32_t>(tx),
                        static_cast<uint32_t>(ty), 0, static_cast<uint16_t>(p));
        }
    }
  }
  TIFFClose(t);
}

// ---- Metafile ---------------------------------------------------------------

struct Element {
  int cls = 0, id = 0;
  size_t offset = 0;  // of the header
  Bytes params;
};

// Splits a binary metafile into elements: short or long form, partitions
// joined, the pad byte after an odd parameter list skipped.
inline std::vector<Element> ParseElements(const Bytes &b) {
  std::vector<Element> out;
  size_t i = 0;
  while (i + 2 <= b.size()) {
    Element e;
    e.offset = i;
    const int word = b[i] << 8 | b[i + 1];
    i += 2;
    e.cls = word >> 12;
    e.id = (word >> 5) & 0x7F;
    int len = word & 31;
    bool more = false;
    if (len == 31) {
      if (i + 2 > b.size()) throw std::runtime_error("truncated length");
      const int lw = b[i] << 8 | b[i + 1];
      i += 2;
      more = (lw & 0x8000) != 0;
      len = lw & 0x7FFF;
    }
    for (;;) {
      if (i + Z(len) > b.size()) throw std::runtime_error("truncated element");
      e.params.insert(e.params.end(), b.data() + i, b.data() + i + Z(len));
      i += Z(len);
      if (!more) break;
      if (i + 2 > b.size()) throw std::runtime_error("truncated partition");
      const int lw = b[i] << 8 | b[i + 1];
      i += 2;
      more = (lw & 0x8000) != 0;
      len = lw & 0x7FFF;
    }
    if (e.params.size() % 2) i++;
    out.push_back(std::move(e));
  }
  if (i != b.size()) throw std::runtime_error("trailing byte");
  return out;
}

// A real VDC value at precision code 3: signed 16-bit whole part, 16-bit
// fraction.
inline double Fixed32(const Bytes &p, size_t at) {
  const int whole = static_cast<int16_t>(p[at] << 8 | p[at + 1]);
  const int frac = p[at + 2] << 8 | p[at + 3];
  return whole + frac / 65536.0;
}

struct CellArray {
  double px, py, qx, qy, rx, ry;
  int nx, ny, precision, mode;
  std::vector<int> cells;  // rows in element order, r g b a cell
};

// A CELL ARRAY of the converter: real VDC code 3, 16-bit integers and
// enumerations, packed 8-bit direct colour, each row at an even offset.
inline CellArray DecodeCellArray(const Element &e) {
  if (e.cls != 4 || e.id != 9) throw std::runtime_error("not a cell array");
  const Bytes &p = e.params;
  CellArray c;
  c.px = Fixed32(p, 0);
  c.py = Fixed32(p, 4);
  c.qx = Fixed32(p, 8);
  c.qy = Fixed32(p, 12);
  c.rx = Fixed32(p, 16);
  c.ry = Fixed32(p, 20);
  // Counts up to 65535 (a 16-bit integer holds -32768..65535).
  c.nx = p[24] << 8 | p[25];
  c.ny = p[26] << 8 | p[27];
  c.precision = p[28] << 8 | p[29];
  c.mode = p[30] << 8 | p[31];
  size_t at = 32;
  for (int r = 0; r < c.ny; r++) {
    if (at % 2) {
      if (p[at] != 0) throw std::runtime_error("pad byte not zero");
      at++;
    }
    for (int i = 0; i < 3 * c.nx; i++) c.cells.push_back(p.at(at++));
  }
  if (at != p.size()) throw std::runtime_error("cell array length mismatch");
  return c;
}

// ---- Running picmeta ----------------------------------------------------------

struct RunResult {
  int status = -1;  // exit status as a shell sees it (0..255), -1 if killed
  std::string out, err;
};

inline std::string Slurp(const std::string &path) {
  Bytes b = ReadFile(path);
  return std::string(b.begin(), b.end());
}

// Runs `args` (args[0] the program) in `cwd` with `input` on standard
// input, capturing both output streams.  `dataLimit`, when non-zero, is the
// child's RLIMIT_DATA.
inline RunResult Run(const std::vector<std::string> &args,
                     const std::string &input, const std::string &cwd = "",
                     rlim_t dataLimit = 0) {
  TempPath in(".in"), out(".out"), err(".err");
  {
    FILE *f = std::fopen(in.path.c_str(), "wb");
    std::fwrite(input.data(), 1, input.size(), f);
    std::fclose(f);
  }
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int i = open(in.path.c_str(), O_RDONLY);
    int o = open(out.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(err.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(i, 0);
    dup2(o, 1);
    dup2(e, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    if (dataLimit) {
      struct rlimit rl = {dataLimit, dataLimit};
      setrlimit(RLIMIT_DATA, &rl);
    }
    std::vector<char *> argv;
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  RunResult r;
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.out = Slurp(out.path);
  r.err = Slurp(err.path);
  return r;
}

}  // namespace kit

#endif  // QUIL_PICMETA_TESTKIT_H
