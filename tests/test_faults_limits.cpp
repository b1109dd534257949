// Limits: images whose headers claim enormous sizes, decompression bombs
// (a few megabytes of PNG or TIFF that inflate to gigabytes) and files that
// end in the middle of a row.  picmeta runs as a child process under a
// memory limit (1 GiB of address space; under AddressSanitizer, which
// cannot run with one, the same cap on single allocations); every such
// file must be refused cleanly: an exit status of 1 (refused image) or 255
// (a strip that cannot be read), a picmeta message on standard error, no
// signal, and a peak memory far below what the file claims.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "faultkit.h"
#include "testutil.h"

#ifdef PICMETA_EXE

// The format libraries write the test images; they are there whenever
// picmeta is built.
#include <png.h>
#include <tiffio.h>
#include <zlib.h>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace {

constexpr long long kMemoryLimit = 1LL << 30;
// Peak resident memory allowed (KiB): the largest legitimate buffer of
// these runs is a few megabytes.
constexpr long kPeakKb = 384L << 10;

void Put32(Bytes *b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b->push_back(static_cast<uint8_t>(v >> s));
}

// ---- Deflate streams of zeros --------------------------------------------------

// Raw deflate data for `n` zero bytes, compressed on its own.
Bytes RawZeros(size_t n, int flush) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    std::abort();
  std::vector<unsigned char> in(n, 0);
  Bytes out(deflateBound(&z, static_cast<uLong>(n)) + 64);
  z.next_in = in.data();
  z.avail_in = static_cast<uInt>(n);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, flush);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

// A zlib stream that inflates to `n` zero bytes.  One MiB of zeros is
// compressed once, ending on a byte boundary (a full flush, so that it
// refers to nothing before it), and repeated; a last block holds the rest.
// The Adler-32 of n zeros is 1 in its low half and n mod 65521 in its high
// half.
Bytes ZlibZeros(uint64_t n) {
  const size_t chunk = size_t{1} << 20;
  const Bytes block = RawZeros(chunk, Z_FULL_FLUSH);
  Bytes out = {0x78, 0xDA};
  for (uint64_t i = 0; i < n / chunk; i++)
    out.insert(out.end(), block.begin(), block.end());
  const Bytes last = RawZeros(static_cast<size_t>(n % chunk), Z_FINISH);
  out.insert(out.end(), last.begin(), last.end());
  Put32(&out, static_cast<uint32_t>((n % 65521) << 16 | 1));
  return out;
}

// ---- Images -------------------------------------------------------------------

void PngChunk(Bytes *b, const char *type, const Bytes &data) {
  Put32(b, static_cast<uint32_t>(data.size()));
  Bytes body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  b->insert(b->end(), body.begin(), body.end());
  Put32(b, static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

// An 8-bit RGB PNG of w x h whose image data is `idat`.
Bytes Png(uint32_t w, uint32_t h, const Bytes &idat) {
  Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes ihdr;
  Put32(&ihdr, w);
  Put32(&ihdr, h);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  PngChunk(&b, "IHDR", ihdr);
  PngChunk(&b, "IDAT", idat);
  PngChunk(&b, "IEND", {});
  return b;
}

// An RGB PNG of w x h whose rows are all black: the zlib stream of its
// filtered rows (a filter byte of 0 and 3w zero bytes each).
Bytes BlackPng(uint32_t w, uint32_t h) {
  return Png(w, h, ZlibZeros(uint64_t{h} * (1 + 3 * uint64_t{w})));
}

// A TIFF of w x h RGB pixels in one strip whose stored data is `strip`
// (deflate-compressed, or not compressed at all).
void Tiff(const std::string &path, uint32_t w, uint32_t h, const Bytes &strip,
          bool deflate) {
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  TIFF *t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION,
               deflate ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
  TIFFWriteRawStrip(t, 0, const_cast<uint8_t *>(strip.data()),
                    static_cast<tmsize_t>(strip.size()));
  TIFFClose(t);
}

void Put16Le(Bytes *b, uint32_t v) {
  b->push_back(static_cast<uint8_t>(v));
  b->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32Le(Bytes *b, uint32_t v) {
  Put16Le(b, v & 0xFFFF);
  Put16Le(b, v >> 16);
}

// An uncompressed 8-bit RGB TIFF of w x h in one strip, written by hand
// with its directory first, so that the file can end inside the strip:
// only `keep` bytes of the strip's w * h * 3 are there.
Bytes TruncatedTiff(uint32_t w, uint32_t h, size_t keep) {
  Bytes b = {'I', 'I', 42, 0};
  Put32Le(&b, 8);
  struct Entry {
    uint16_t tag, type;
    uint32_t count, value;
  };
  const uint32_t entries = 9;
  const uint32_t bits = 8 + 2 + entries * 12 + 4;  // BitsPerSample values
  const uint32_t data = bits + 6;
  const Entry e[entries] = {{256, 4, 1, w},     {257, 4, 1, h},
                            {258, 3, 3, bits},  {259, 3, 1, 1},
                            {262, 3, 1, 2},     {273, 4, 1, data},
                            {277, 3, 1, 3},     {278, 4, 1, h},
                            {279, 4, 1, w * h * 3}};
  Put16Le(&b, entries);
  for (const Entry &x : e) {
    Put16Le(&b, x.tag);
    Put16Le(&b, x.type);
    Put32Le(&b, x.count);
    Put32Le(&b, x.value);
  }
  Put32Le(&b, 0);
  for (int i = 0; i < 3; i++) Put16Le(&b, 8);
  for (size_t i = 0; i < keep; i++) b.push_back(static_cast<uint8_t>(i * 7));
  return b;
}

// A small baseline JPEG (RGB, 16 x 16) made with libjpeg.
Bytes Jpeg() {
  unsigned char *mem = nullptr;
  unsigned long size = 0;
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = 16;
  c.image_height = 16;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_start_compress(&c, TRUE);
  std::vector<JSAMPLE> row(16 * 3);
  for (int y = 0; y < 16; y++) {
    for (int i = 0; i < 48; i++) row[static_cast<size_t>(i)] = static_cast<JSAMPLE>(i * 5 + y * 9);
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&c, &p, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes b(mem, mem + size);
  std::free(mem);
  return b;
}

void Put16(Bytes *b, int v) {
  b->push_back(static_cast<uint8_t>(v >> 8));
  b->push_back(static_cast<uint8_t>(v));
}

// An SGI header: storage (0 verbatim, 1 run-length), bytes a sample, size.
Bytes SgiHeader(int rle, int bpc, int w, int h, int c) {
  Bytes b;
  Put16(&b, 474);
  b.push_back(static_cast<uint8_t>(rle));
  b.push_back(static_cast<uint8_t>(bpc));
  Put16(&b, 3);
  Put16(&b, w);
  Put16(&b, h);
  Put16(&b, c);
  Put32(&b, 0);
  Put32(&b, bpc == 1 ? 255 : 65535);
  b.resize(512, 0);
  return b;
}

// ---- Running picmeta ----------------------------------------------------------

// picmeta on the file `image`, under the memory limit.  It must refuse the
// file cleanly.
void ExpectRefused(const std::string &image, const char *what) {
  SCOPED_TRACE(what);
  TempPath cgm(".cgm");
  faultkit::Limits limits;
  limits.addressSpace = kMemoryLimit;
  const faultkit::Outcome o =
      faultkit::Run({PICMETA_EXE, image, cgm.path}, "\n", limits);
  if (std::getenv("FAULTS_VERBOSE") != nullptr)  // what each run did
    std::fprintf(stderr, "%-45s status %d, peak %ld KiB: %s", what, o.status,
                 o.maxRssKb, o.err.c_str());
  ASSERT_TRUE(o.exited) << "ended by signal " << o.signal << "\n" << o.err;
  EXPECT_TRUE(o.status == 1 || o.status == 255)
      << "status " << o.status << "\n" << o.out << o.err;
  // (A sanitizer build may print a warning about the refused allocation
  // before picmeta's own line.)
  EXPECT_TRUE(o.err.rfind("picmeta: ", 0) == 0 ||
              o.err.find("\npicmeta: ") != std::string::npos)
      << "standard error: " << o.err;
  EXPECT_LT(o.maxRssKb, kPeakKb) << "peak memory " << (o.maxRssKb >> 10) << " MiB";
}

void ExpectRefused(const Bytes &file, const char *suffix, const char *what) {
  TempPath image(suffix);
  faultkit::WriteBytes(image.path, file);
  ExpectRefused(image.path, what);
}

}  // namespace

TEST(Limits, HeadersClaimingEnormousSizes) {
  const std::string pnm = "P6\n2147483647 2147483647\n255\n";
  ExpectRefused(Bytes(pnm.begin(), pnm.end()), ".ppm", "PNM of 2^31-1 squared");
  const std::string pgm16 = "P5\n2147483647 1\n65535\n";
  ExpectRefused(Bytes(pgm16.begin(), pgm16.end()), ".pgm", "16-bit PGM row of 4 GB");
  // libpng's own limit on width and height is a million pixels.
  ExpectRefused(Png(1000000, 1000000, ZlibZeros(1000)), ".png",
                "PNG of a million squared");
  ExpectRefused(Png(0x7FFFFFFF, 1, ZlibZeros(1000)), ".png", "PNG wider than its limit");
  Bytes jpeg = Jpeg();
  // The frame header: FF C0, length, precision, height, width.
  size_t sof = 0;
  while (sof + 1 < jpeg.size() && !(jpeg[sof] == 0xFF && jpeg[sof + 1] == 0xC0)) sof++;
  ASSERT_LT(sof + 9, jpeg.size());
  jpeg[sof + 5] = jpeg[sof + 6] = jpeg[sof + 7] = jpeg[sof + 8] = 0xFF;
  ExpectRefused(jpeg, ".jpg", "JPEG of 65535 squared");
  Bytes sgi = SgiHeader(1, 2, 65535, 65535, 4);
  ExpectRefused(sgi, ".rgb", "run-length SGI of 65535 squared, no tables");
  sgi = SgiHeader(0, 2, 65535, 65535, 4);
  ExpectRefused(sgi, ".rgb", "verbatim SGI of 65535 squared, no rows");
  TempPath tif(".tif");
  Tiff(tif.path, 0x7FFFFFFF, 0x7FFFFFFF, ZlibZeros(1000), true);
  ExpectRefused(tif.path, "TIFF of 2^31-1 squared");
}

TEST(Limits, DecompressionBombs) {
  // 30000 x 30000 RGB: 2.7 GB of pixels in under 3 MB of file.
  const Bytes png = BlackPng(30000, 30000);
  ASSERT_LT(png.size(), size_t{4} << 20);
  ExpectRefused(png, ".png", "PNG bomb");
  TempPath tif(".tif");
  Tiff(tif.path, 30000, 30000, ZlibZeros(uint64_t{30000} * 30000 * 3), true);
  ExpectRefused(tif.path, "TIFF bomb, one deflate strip");
}

TEST(Limits, FilesEndingMidRow) {
  std::string head = "P6\n5 4\n255\n";
  Bytes ppm(head.begin(), head.end());
  ppm.resize(ppm.size() + 5 * 4 * 3 - 4, 0x40);
  ExpectRefused(ppm, ".ppm", "PPM short of 4 bytes");

  // A good 7 x 6 PNG, cut in the middle of its image data.
  Bytes rows;
  for (int y = 0; y < 6; y++) {
    rows.push_back(0);
    for (int i = 0; i < 21; i++) rows.push_back(static_cast<uint8_t>(i * 11 + y));
  }
  Bytes z(compressBound(static_cast<uLong>(rows.size())));
  uLongf zn = static_cast<uLongf>(z.size());
  ASSERT_EQ(compress(z.data(), &zn, rows.data(), static_cast<uLong>(rows.size())), Z_OK);
  z.resize(zn);
  Bytes png = Png(7, 6, z);
  const size_t idat = 8 + 25 + 8;  // signature, IHDR chunk, IDAT header
  png.resize(idat + z.size() / 2);
  ExpectRefused(png, ".png", "PNG cut in its image data");

  Bytes jpeg = Jpeg();
  jpeg.resize(jpeg.size() * 2 / 3);
  ExpectRefused(jpeg, ".jpg", "JPEG cut in its scan");

  Bytes sgi = SgiHeader(0, 1, 5, 4, 3);
  sgi.resize(sgi.size() + 5 * 4 * 3 - 1, 0x20);
  ExpectRefused(sgi, ".rgb", "verbatim SGI short of a byte");

  // A TIFF that ends two and a half rows into its only strip: picmeta
  // opens it and then fails on the strip.
  ExpectRefused(TruncatedTiff(5, 4, 5 * 3 * 5 / 2), ".tif",
                "TIFF ending in its strip");
}

// A strip whose stored byte count is too small for its rows: libtiff would
// guess the count from the image size and hand over the bytes after the
// strip (its directory) as pixels, which converted with status 0.
TEST(Limits, TiffStripShorterThanItsRowsIsRefused) {
  TempPath tif(".tif");
  Tiff(tif.path, 5, 4, Bytes(37, 0x40), false);  // 60 bytes are needed
  TempPath cgm(".cgm");
  const faultkit::Outcome o = faultkit::Run({PICMETA_EXE, tif.path, cgm.path}, "\n", {});
  ASSERT_TRUE(o.exited);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "picmeta: cannot open input file " + tif.path + "\n");
  EXPECT_FALSE(FileExists(cgm.path));
}

// A PNG or JPEG is decoded whole; one whose header claims more than 1 GiB of
// pixels is refused before any of it is decoded, with no memory limit set.
TEST(Limits, HeldImagesAreCappedFromTheirHeader) {
  TempPath png(".png");
  faultkit::WriteBytes(png.path, BlackPng(20000, 20000));  // 1.2 GB of pixels
  TempPath cgm(".cgm");
  const faultkit::Outcome o = faultkit::Run({PICMETA_EXE, png.path, cgm.path}, "\n", {});
  ASSERT_TRUE(o.exited);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "picmeta: cannot open input file " + png.path + "\n");
  EXPECT_LT(o.maxRssKb, kPeakKb);
}

#else

TEST(Limits, NeedsPicmeta) { GTEST_SKIP() << "picmeta is not built"; }

#endif
