// Binary encoding of elements: byte order, element framing, the parameter
// encoders, the cell row encoder and compressors, and structured data
// records.
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "QuilPrivate.h"

// Reals are written from their IEEE 754 bit patterns, and single-precision
// conversion relies on IEEE overflow to infinity.
static_assert(std::numeric_limits<float>::is_iec559, "float must be IEEE 754");
static_assert(std::numeric_limits<double>::is_iec559,
              "double must be IEEE 754");
static_assert(sizeof(int) == 4, "int must be 32 bits");

// ==========================================================================
// Byte order
// ==========================================================================

static int HostIsBigEndian() {
  const unsigned int one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 0;
}

// Copies count values of size bytes each, every value most significant byte
// first.  The only place in the library that knows the host's byte order.
void memcpyBigEndian(void *dst, const void *src, int size, int count) {
  if (size <= 0 || count <= 0) return;
  unsigned char *d = static_cast<unsigned char *>(dst);
  const unsigned char *s = static_cast<const unsigned char *>(src);
  size_t total = static_cast<size_t>(size) * static_cast<size_t>(count);
  if (HostIsBigEndian()) {
    std::memmove(d, s, total);
    return;
  }
  switch (size) {
    case 2:
      for (size_t i = 0; i < total; i += 2) {
        uint16_t v;
        std::memcpy(&v, s + i, 2);
        v = static_cast<uint16_t>((v >> 8) | (v << 8));
        std::memcpy(d + i, &v, 2);
      }
      break;
    case 4:
      for (size_t i = 0; i < total; i += 4) {
        uint32_t v;
        std::memcpy(&v, s + i, 4);
        v = __builtin_bswap32(v);
        std::memcpy(d + i, &v, 4);
      }
      break;
    case 8:
      for (size_t i = 0; i < total; i += 8) {
        uint64_t v;
        std::memcpy(&v, s + i, 8);
        v = __builtin_bswap64(v);
        std::memcpy(d + i, &v, 8);
      }
      break;
    default:
      for (size_t v = 0; v < total; v += static_cast<size_t>(size))
        for (int j = 0; j < size; j++) d[v + static_cast<size_t>(size - 1 - j)] = s[v + static_cast<size_t>(j)];
      break;
  }
}

// ==========================================================================
// Element framing
// ==========================================================================
//
// Header word, most significant byte first:
//   bits 15-12 class, bits 11-5 element id, bits 4-0 parameter length
//   (0..30; 31 announces the long form).
// Long-form word: bit 15 "another partition follows", bits 14-0 the number
// of parameter bytes in this partition.
//
// Parameter lists longer than 32767 bytes are cut into partitions.  Every
// partition but the last carries 32766 bytes, an even number, so that each
// long-form word starts on an even offset and readers that expect a
// word-aligned stream between partitions read the element correctly; the
// last partition carries the rest (1..32766 bytes).  A single pad byte
// follows the last parameter byte when the total length is odd.

static const int kFullPartition = 32766;

void MakeClassElementOctets(int cls, int id, int length, unsigned char *dst) {
  unsigned int word = ((static_cast<unsigned int>(cls) & 0xFu) << 12) |
                      ((static_cast<unsigned int>(id) & 0x7Fu) << 5) |
                      (static_cast<unsigned int>(length) & 0x1Fu);
  dst[0] = static_cast<unsigned char>(word >> 8);
  dst[1] = static_cast<unsigned char>(word & 0xFFu);
}

void MakeExtendedHeader(int continued, int length, unsigned char *dst) {
  unsigned int word = static_cast<unsigned int>(length) & 0x7FFFu;
  if (continued) word |= 0x8000u;
  dst[0] = static_cast<unsigned char>(word >> 8);
  dst[1] = static_cast<unsigned char>(word & 0xFFu);
}

// One write of count bytes.  Besides the count the stream reports, its error
// flag is consulted: some streams (unbuffered ones among them) report a
// refused write only there, and once a stream has lost bytes nothing
// written after them can make a valid metafile.
int WriteVerify(const void *data, int count, FILE *stream, char *msg) {
  if (count <= 0) return 1;
  size_t n = std::fwrite(data, 1, static_cast<size_t>(count), stream);
  if (n != static_cast<size_t>(count) || std::ferror(stream)) {
    qSetMsg(msg, "Error occurred writing: %d bytes", count);
    return 0;
  }
  return 1;
}

int WriteElement(int cls, int id, int length, const unsigned char *params,
                 FILE *stream, char *msg) {
  static const unsigned char pad = 0;
  unsigned char word[2];
  if (length < 0) length = 0;

  if (length <= 30) {
    MakeClassElementOctets(cls, id, length, word);
    if (!WriteVerify(word, 2, stream, msg)) return 0;
    if (length > 0 && !WriteVerify(params, length, stream, msg)) return 0;
  } else if (length <= 32767) {
    MakeClassElementOctets(cls, id, 31, word);
    if (!WriteVerify(word, 2, stream, msg)) return 0;
    MakeExtendedHeader(0, length, word);
    if (!WriteVerify(word, 2, stream, msg)) return 0;
    if (!WriteVerify(params, length, stream, msg)) return 0;
  } else {
    MakeClassElementOctets(cls, id, 31, word);
    if (!WriteVerify(word, 2, stream, msg)) return 0;
    int remaining = length;
    const unsigned char *p = params;
    while (remaining > kFullPartition) {
      MakeExtendedHeader(1, kFullPartition, word);
      if (!WriteVerify(word, 2, stream, msg)) return 0;
      if (!WriteVerify(p, kFullPartition, stream, msg)) return 0;
      p += kFullPartition;
      remaining -= kFullPartition;
    }
    MakeExtendedHeader(0, remaining, word);
    if (!WriteVerify(word, 2, stream, msg)) return 0;
    if (!WriteVerify(p, remaining, stream, msg)) return 0;
  }
  if ((length & 1) && !WriteVerify(&pad, 1, stream, msg)) return 0;
  return 1;
}

// ==========================================================================
// Integer encoders
// ==========================================================================
//
// A value at precision p (8, 16, 24, 32) is written as its low p bits, most
// significant byte first.  Accepted: the most negative signed p-bit value up
// to the largest unsigned p-bit value, so both signed and unsigned readings
// fit.  Bytes are built with shifts of the unsigned value, which gives the
// same result on every host.

static int RangeOk(int v, int precision) {
  switch (precision) {
    case 8: return v >= -128 && v <= 255;
    case 16: return v >= -32768 && v <= 65535;
    case 24: return v >= -8388608 && v <= 16777215;
    default: return 1;
  }
}

static void RangeMessage(int v, int precision, char *msg) {
  qSetMsg(msg, "Value: %d is too large for %d bit precision", v, precision);
}

// Writes count values that are known to be in range.
static void PutInts(unsigned char *dst, const int *values, int count,
                    int precision) {
  switch (precision) {
    case 8:
      for (int i = 0; i < count; i++)
        dst[i] = static_cast<unsigned char>(static_cast<unsigned int>(values[i]) & 0xFFu);
      break;
    case 16:
      for (int i = 0; i < count; i++) {
        unsigned int u = static_cast<unsigned int>(values[i]);
        dst[2 * i] = static_cast<unsigned char>((u >> 8) & 0xFFu);
        dst[2 * i + 1] = static_cast<unsigned char>(u & 0xFFu);
      }
      break;
    case 24:
      for (int i = 0; i < count; i++) {
        unsigned int u = static_cast<unsigned int>(values[i]);
        dst[3 * i] = static_cast<unsigned char>((u >> 16) & 0xFFu);
        dst[3 * i + 1] = static_cast<unsigned char>((u >> 8) & 0xFFu);
        dst[3 * i + 2] = static_cast<unsigned char>(u & 0xFFu);
      }
      break;
    default:
      memcpyBigEndian(dst, values, 4, count);
      break;
  }
}

int EncodeIntBuffer(unsigned char *dst, const int *values, int count,
                    int precision, int *ok, char *msg) {
  *ok = 1;
  if (precision != 8 && precision != 16 && precision != 24 &&
      precision != 32) {
    qSetMsg(msg, "Illegal integer precision: %d\n", precision);
    *ok = 0;
    return 0;
  }
  if (count <= 0) return 0;
  if (precision != 32) {
    // Check the whole run first (a branch-free pass the compiler can
    // vectorise); on a bad value, write the values before it, as a
    // value-by-value encoder would have, and report it.
    int lo = precision == 8 ? -128 : precision == 16 ? -32768 : -8388608;
    int hi = precision == 8 ? 255 : precision == 16 ? 65535 : 16777215;
    int bad = 0;
    for (int i = 0; i < count; i++) bad |= (values[i] < lo) | (values[i] > hi);
    if (bad) {
      int i = 0;
      while (RangeOk(values[i], precision)) i++;
      PutInts(dst, values, i, precision);
      RangeMessage(values[i], precision, msg);
      *ok = 0;
      return 0;
    }
  }
  PutInts(dst, values, count, precision);
  return count * (precision / 8);
}

int EncodeLowPrecision(unsigned char *dst, const int *values, int count,
                       int precision, int *ok, char *msg) {
  *ok = 1;
  if (precision != 1 && precision != 2 && precision != 4) {
    qSetMsg(msg, "Invalid Precision: %d\n", precision);
    *ok = 0;
    return 0;
  }
  if (count <= 0) return 0;
  // Values are packed most significant bits first; only the low
  // `precision` bits of each value count, and the unused low bits of the
  // last byte are 0.
  const int64_t bits = static_cast<int64_t>(count) * precision;
  const int n = static_cast<int>((bits + 7) / 8);
  const unsigned int mask = (1u << precision) - 1u;
  const int perByte = 8 / precision;
  int v = 0;
  for (int b = 0; b < n; b++) {
    unsigned int byte = 0;
    for (int j = 0; j < perByte && v < count; j++, v++) {
      int shift = 8 - precision * (j + 1);
      byte |= (static_cast<unsigned int>(values[v]) & mask) << shift;
    }
    dst[b] = static_cast<unsigned char>(byte);
  }
  return n;
}

// String parameter: up to 254 bytes, a count byte and the bytes; beyond,
// FF, then 32767-byte pieces each headed FF FF (continuation flag set), and
// a last piece headed by its 16-bit length (1..32767).
int EncodeString(const char *text, unsigned char *dst, int n) {
  if (n <= 0) {
    dst[0] = 0;
    return 1;
  }
  if (n <= 254) {
    dst[0] = static_cast<unsigned char>(n);
    std::memcpy(dst + 1, text, static_cast<size_t>(n));
    return n + 1;
  }
  int out = 0;
  dst[out++] = 0xFF;
  int remaining = n;
  const char *p = text;
  while (remaining > 32767) {
    dst[out++] = 0xFF;
    dst[out++] = 0xFF;
    std::memcpy(dst + out, p, 32767);
    out += 32767;
    p += 32767;
    remaining -= 32767;
  }
  dst[out++] = static_cast<unsigned char>((remaining >> 8) & 0xFF);
  dst[out++] = static_cast<unsigned char>(remaining & 0xFF);
  std::memcpy(dst + out, p, static_cast<size_t>(remaining));
  return out + remaining;
}

// ==========================================================================
// Real encoder
// ==========================================================================
//
// Code 1: IEEE single; 2: IEEE double; 3: fixed point, signed 16-bit whole
// part floor(x) then unsigned 16-bit fraction; 4: the same with 32 + 32
// bits.  The fraction is truncated, never rounded; for tiny negative x,
// x - floor(x) rounds to 1.0 in double arithmetic, so the fraction is
// clamped to its largest value rather than wrapping to 0 (which would turn
// -1e-17 into -1.0).

static void PutU16(unsigned char *dst, uint32_t v) {
  dst[0] = static_cast<unsigned char>((v >> 8) & 0xFFu);
  dst[1] = static_cast<unsigned char>(v & 0xFFu);
}

static void PutU32(unsigned char *dst, uint32_t v) {
  dst[0] = static_cast<unsigned char>(v >> 24);
  dst[1] = static_cast<unsigned char>((v >> 16) & 0xFFu);
  dst[2] = static_cast<unsigned char>((v >> 8) & 0xFFu);
  dst[3] = static_cast<unsigned char>(v & 0xFFu);
}

int EncodeRealBuffer(unsigned char *dst, const double *values, int count,
                     int code, int *ok, char *msg) {
  *ok = 1;
  if (code < 1 || code > 4) {
    qSetMsg(msg, "Invalid Real Precision Index: %d\n", code);
    *ok = 0;
    return 0;
  }
  if (count <= 0) return 0;
  switch (code) {
    case 1:
      for (int i = 0; i < count; i++) {
        float f = static_cast<float>(values[i]);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        PutU32(dst + 4 * i, bits);
      }
      return 4 * count;
    case 2:
      memcpyBigEndian(dst, values, 8, count);
      return 8 * count;
    case 3:
      for (int i = 0; i < count; i++) {
        double x = values[i];
        double w = std::floor(x);
        if (!std::isfinite(x) || w > 32767.0 || w < -32768.0) {
          qSetMsg(msg, "Integral part of %f too large for 32 bit fixed point",
                  x);
          *ok = 0;
          return 0;
        }
        double f = (x - w) * 65536.0;
        uint32_t frac = f >= 65535.0 ? 65535u : static_cast<uint32_t>(f);
        PutU16(dst + 4 * i, static_cast<uint32_t>(static_cast<int32_t>(w)));
        PutU16(dst + 4 * i + 2, frac);
      }
      return 4 * count;
    default:
      for (int i = 0; i < count; i++) {
        double x = values[i];
        double w = std::floor(x);
        if (!std::isfinite(x) || w > 2147483647.0 || w < -2147483648.0) {
          qSetMsg(msg, "Integral part of %f too large for 64 bit fixed point",
                  x);
          *ok = 0;
          return 0;
        }
        double f = (x - w) * 4294967296.0;
        uint32_t frac =
            f >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(f);
        PutU32(dst + 8 * i, static_cast<uint32_t>(static_cast<int32_t>(w)));
        PutU32(dst + 8 * i + 4, frac);
      }
      return 8 * count;
  }
}

// ==========================================================================
// VDC encoder
// ==========================================================================

int EncodeVdc(const qVDC *values, int count, unsigned char *dst, int vdcType,
              int vdcIntegerPrecision, int vdcRealPrecision, int *ok,
              char *msg) {
  *ok = 1;
  if (count <= 0) return 0;
  int size = 0;
  if (vdcType == 0) {
    if (vdcIntegerPrecision != 8 && vdcIntegerPrecision != 16 &&
        vdcIntegerPrecision != 24 && vdcIntegerPrecision != 32) {
      return EncodeIntBuffer(dst, &values[0].Int, 1, vdcIntegerPrecision, ok,
                             msg);
    }
    const int b = vdcIntegerPrecision / 8;
    for (int i = 0; i < count; i++) {
      int v = values[i].Int;
      if (!RangeOk(v, vdcIntegerPrecision)) {
        RangeMessage(v, vdcIntegerPrecision, msg);
        *ok = 0;
        return 0;
      }
      PutInts(dst + size, &v, 1, vdcIntegerPrecision);
      size += b;
    }
    return size;
  }
  for (int i = 0; i < count; i++) {
    size += EncodeRealBuffer(dst + size, &values[i].Double, 1,
                             vdcRealPrecision, ok, msg);
    if (!*ok) return 0;
  }
  return size;
}

// ==========================================================================
// Cell rows
// ==========================================================================
// (EncodeCellData, OkToIncrement, CellCompress, RunLengthEncode24,
//  PackedEncode24, CellCompress24, BitMasks, BitTransitions,
//  MonoScanCompresses, RunLengthEncodeMono, PackedEncodeMono,
//  CellCompressMono)
// ---- cell rows: begin ----
//
// One row of a CELL ARRAY comes in one of two layouts, the cell
// representation mode:
//   packed (1):     nx cells, each k colour values (k = 3 under direct
//                   colour, 1 under indexed colour), at colour precision p;
//   run-length (0): runs of (count, k colour values), the count at the
//                   count precision and the colours at p; the counts of a
//                   row add up to nx and no run continues into the next row.
// Colours at p of 8 or more are whole big-endian integers.  At p of 1, 2 or
// 4 they are packed most significant bits first: a packed row as one bit
// string, the colours of each run on their own, starting on a byte
// boundary, so that each run takes whole bytes.
//
// The row compressors below produce these two layouts from pixel rows and
// report the mode (and local colour precision) to write them with.  They
// never fail; a row that does not compress falls back to the packed form.

// Encodes count colour values at precision p: the integer encoder for 8 bits
// and more, the sub-byte packer below.
static int EncodeCellColours(unsigned char *dst, const int *values, int count,
                             int p, int *ok, char *msg) {
  if (p >= 8) return EncodeIntBuffer(dst, values, count, p, ok, msg);
  return EncodeLowPrecision(dst, values, count, p, ok, msg);
}

// A row whose values or bytes an int cannot index.  The cursor and the
// byte count are ints, so such a row cannot be described at all; qCellArray
// never gets here because the work buffer check refuses it first.
static int RowTooLong(int nx, int *ok, char *msg) {
  qSetMsg(msg, "Invalid Value For Nx: %d\n", nx);
  *ok = 0;
  return 0;
}

// IN assertion: dst has room for the whole row (qCellArray checks the work
// buffer before each row and each run).  On failure the cursor may have
// advanced and dst may hold part of the row; the caller abandons the element.
int EncodeCellData(unsigned char *dst, int nx, const int *cells, int *cursor,
                   int mode, int direct, int colorPrecision,
                   int countPrecision, int *ok, char *msg) {
  *ok = 1;
  const int k = direct ? 3 : 1;

  if (mode == 1) {
    const int64_t values = nx > 0 ? static_cast<int64_t>(nx) * k : 0;
    const int64_t bits = colorPrecision < 0 ? 0 : colorPrecision > 32 ? 32
                                                 : colorPrecision;
    if (values > INT_MAX - static_cast<int64_t>(*cursor) ||
        (values * bits + 7) / 8 > INT_MAX)
      return RowTooLong(nx, ok, msg);
    const int n = EncodeCellColours(dst, cells + *cursor,
                                    static_cast<int>(values), colorPrecision,
                                    ok, msg);
    if (!*ok) return 0;
    *cursor += static_cast<int>(values);
    return n;
  }

  // Run-length row.  The cell total is kept in 64 bits: at a 32-bit count
  // precision every count is accepted, and an int total could wrap below nx
  // and go on reading past the caller's runs.
  int64_t bytes = 0;
  int64_t total = 0;
  while (total < nx) {
    if (bytes > INT_MAX - 16 || *cursor > INT_MAX - 1 - k)
      return RowTooLong(nx, ok, msg);
    const int count = cells[*cursor];
    if (count <= 0) {
      qSetMsg(msg, "Run Length Value Less Than or Equal to Zero: %d\n",
              count);
      *ok = 0;
      return 0;
    }
    bytes += EncodeIntBuffer(dst + bytes, cells + *cursor, 1, countPrecision,
                             ok, msg);
    if (!*ok) return 0;
    total += count;
    *cursor += 1;
    bytes += EncodeCellColours(dst + bytes, cells + *cursor, k,
                               colorPrecision, ok, msg);
    if (!*ok) return 0;
    *cursor += k;
  }
  if (total != nx) {
    // A run went past the end of the row.
    qSetMsg(msg, "Sum Of Run Lengths Is Not Nx");
    *ok = 0;
    return 0;
  }
  return static_cast<int>(bytes);
}

// The largest count a run may reach at each count precision: 255 at 8 bits
// (the whole unsigned byte), 32767 at 16 bits and 8388607 at 24 bits (the
// signed ranges); no limit at 32 bits or any other precision.  The run
// builders take the limit once per row (a call per cell cannot be inlined
// into them, the function being exported); a count never reaches INT_MAX
// there, as a row has at most INT_MAX cells.
static int RunCountLimit(int precision) {
  switch (precision) {
    case 8: return 255;
    case 16: return 32767;
    case 24: return 8388607;
    default: return INT_MAX;
  }
}

int OkToIncrement(int count, int precision) {
  const int limit = RunCountLimit(precision);
  return limit == INT_MAX || count < limit;
}

// Precisions enter the size comparisons below only as bit counts; anything
// outside 0..64 is no precision a row can be written with, and clamping it
// keeps the 64-bit products from overflowing.
static int64_t SizeBits(int precision) {
  return precision < 0 ? 0 : precision > 64 ? 64 : precision;
}

static int SameCell(const int *a, const int *b, int k) {
  for (int j = 0; j < k; j++)
    if (a[j] != b[j]) return 0;
  return 1;
}

// Turns a row of n cells (k ints each) into runs of (count, k colours) and
// keeps them only when their bytes are strictly fewer than the packed row's.
// Building the runs stops as soon as a new run would not fit into n * k
// ints, and the row stays packed: so the runs array needs no more room than
// the cells, and rows without runs cost little.  Runs carry their colours
// at 8 bits at least,
// so the precision to write them with is the colour precision raised to 8.
int *CellCompress(int *cells, int *runs, int n, int direct,
                  int colorPrecision, int countPrecision, int *mode,
                  int *precision) {
  const int k = direct ? 3 : 1;
  *mode = 1;
  *precision = colorPrecision;
  if (n <= 0) return cells;

  const int64_t limit = static_cast<int64_t>(n) * k;
  int64_t used = 0;
  const int maxCount = RunCountLimit(countPrecision);
  for (int64_t i = 0; i < n;) {
    // A new run starts at cell i and takes every following equal cell, up
    // to the count limit.
    if (used + k >= limit) return cells;  // gave up: the row stays packed
    const int *cell = cells + i * k;
    int count = 1;
    for (i++; i < n && count < maxCount && SameCell(cells + i * k, cell, k);
         i++)
      count++;
    runs[used] = count;
    for (int j = 0; j < k; j++) runs[used + 1 + j] = cell[j];
    used += k + 1;
  }

  const int runPrecision = colorPrecision < 8 ? 8 : colorPrecision;
  const int64_t packedBytes = (limit * SizeBits(colorPrecision) + 7) / 8;
  const int64_t runBytes =
      used / (k + 1) *
      (SizeBits(countPrecision) + k * SizeBits(runPrecision)) / 8;
  if (runBytes < packedBytes) {
    *mode = 0;
    *precision = runPrecision;
    return runs;
  }
  return cells;
}

// Runs of (count, first, second, third) straight from three 8-bit component
// planes; pixel j's samples sit at j * stride in each plane.  Gives up (0,
// used 0) when a new run starts after 3 * n ints are written, so runs may
// take up to 3 * n rounded up to a multiple of 4 ints.
int RunLengthEncode24(const unsigned char *first, const unsigned char *second,
                      const unsigned char *third, int stride, int *runs, int n,
                      int countPrecision, int *used) {
  *used = 0;
  const int64_t limit = 3 * static_cast<int64_t>(n);
  int64_t written = 0;
  const int maxCount = RunCountLimit(countPrecision);
  for (int64_t j = 0; j < n;) {
    // A new run starts at pixel j and takes every following equal pixel, up
    // to the count limit.
    if (written >= limit) return 0;
    const int64_t at = j * stride;
    const unsigned char r = first[at], g = second[at], b = third[at];
    int count = 1;
    for (j++; j < n && count < maxCount; j++, count++) {
      const int64_t next = j * stride;
      if (first[next] != r || second[next] != g || third[next] != b) break;
    }
    runs[written] = count;
    runs[written + 1] = r;
    runs[written + 2] = g;
    runs[written + 3] = b;
    written += 4;
  }
  *used = static_cast<int>(written);
  return 1;
}

// The packed 24-bit row: first, second, third sample of each pixel.
void PackedEncode24(const unsigned char *first, const unsigned char *second,
                    const unsigned char *third, int stride, int *out, int n) {
  for (int64_t j = 0; j < n; j++) {
    const int64_t at = j * stride;
    out[3 * j] = first[at];
    out[3 * j + 1] = second[at];
    out[3 * j + 2] = third[at];
  }
}

// Runs when they take strictly fewer bytes than the packed row at 8 bits per
// component (3 * n), else the packed row; out needs room for either (3 * n
// rounded up to a multiple of 4 ints).
void CellCompress24(const unsigned char *first, const unsigned char *second,
                    const unsigned char *third, int stride, int *out, int n,
                    int countPrecision, int *mode) {
  *mode = 1;
  int used = 0;
  if (RunLengthEncode24(first, second, third, stride, out, n, countPrecision,
                        &used)) {
    const int64_t runBytes =
        static_cast<int64_t>(used / 4) * (SizeBits(countPrecision) + 24) / 8;
    if (runBytes < 3 * static_cast<int64_t>(n)) *mode = 0;
  }
  if (*mode == 1) PackedEncode24(first, second, third, stride, out, n);
}

// Monochrome rows: eight pixels to a byte, the first pixel in the most
// significant bit.
const unsigned char BitMasks[8] = {0x80, 0x40, 0x20, 0x10,
                                   0x08, 0x04, 0x02, 0x01};

// Entry b: how many of the seven neighbouring bit pairs of b differ, i.e.
// the set bits of (b ^ (b >> 1)) & 0x7F.  Each is one more run of equal bits
// inside the byte.
const short BitTransitions[256] = {
    0, 1, 2, 1, 2, 3, 2, 1, 2, 3, 4, 3, 2, 3, 2, 1,
    2, 3, 4, 3, 4, 5, 4, 3, 2, 3, 4, 3, 2, 3, 2, 1,
    2, 3, 4, 3, 4, 5, 4, 3, 4, 5, 6, 5, 4, 5, 4, 3,
    2, 3, 4, 3, 4, 5, 4, 3, 2, 3, 4, 3, 2, 3, 2, 1,
    2, 3, 4, 3, 4, 5, 4, 3, 4, 5, 6, 5, 4, 5, 4, 3,
    4, 5, 6, 5, 6, 7, 6, 5, 4, 5, 6, 5, 4, 5, 4, 3,
    2, 3, 4, 3, 4, 5, 4, 3, 4, 5, 6, 5, 4, 5, 4, 3,
    2, 3, 4, 3, 4, 5, 4, 3, 2, 3, 4, 3, 2, 3, 2, 1,
    1, 2, 3, 2, 3, 4, 3, 2, 3, 4, 5, 4, 3, 4, 3, 2,
    3, 4, 5, 4, 5, 6, 5, 4, 3, 4, 5, 4, 3, 4, 3, 2,
    3, 4, 5, 4, 5, 6, 5, 4, 5, 6, 7, 6, 5, 6, 5, 4,
    3, 4, 5, 4, 5, 6, 5, 4, 3, 4, 5, 4, 3, 4, 3, 2,
    1, 2, 3, 2, 3, 4, 3, 2, 3, 4, 5, 4, 3, 4, 3, 2,
    3, 4, 5, 4, 5, 6, 5, 4, 3, 4, 5, 4, 3, 4, 3, 2,
    1, 2, 3, 2, 3, 4, 3, 2, 3, 4, 5, 4, 3, 4, 3, 2,
    1, 2, 3, 2, 3, 4, 3, 2, 1, 2, 3, 2, 1, 2, 1, 0,
};

// Cheap estimate whether run-length encoding pays: 5 per run of equal bits
// over the first count bytes, weighed against count.  Byte by byte: the runs
// inside each byte come from BitTransitions, and a run boundary between two
// bytes when the last bit of one differs from the first bit of the next.
// Stops as soon as the cost passes count.  One run already costs 5, so a
// count below 5 is answered 0 without reading the row.
int MonoScanCompresses(const unsigned char *row, int count) {
  if (count < 5) return 0;
  int64_t cost = 5 + 5 * static_cast<int64_t>(BitTransitions[row[0]]);
  for (int i = 1; i < count; i++) {
    cost += 5 * BitTransitions[row[i]];
    if ((row[i - 1] & 1) != (row[i] >> 7)) cost += 5;
    if (cost > count) return 0;
  }
  return cost <= count;
}

static int MonoPixel(const unsigned char *row, int i) {
  return (row[i >> 3] & BitMasks[i & 7]) != 0;
}

// Pairs (count, value) for each stretch of equal pixels; out needs 2 * n
// ints at most.  A row of no pixels gives the single pair (0, 0) without
// reading the row.
void RunLengthEncodeMono(const unsigned char *row, int n, int *out) {
  if (n <= 0) {
    out[0] = 0;
    out[1] = 0;
    return;
  }
  int value = MonoPixel(row, 0);
  int count = 0;
  int64_t w = 0;
  for (int i = 0; i < n; i++) {
    const int v = MonoPixel(row, i);
    if (v == value) {
      count++;
    } else {
      out[w++] = count;
      out[w++] = value;
      value = v;
      count = 1;
    }
  }
  out[w] = count;
  out[w + 1] = value;
}

// One int per pixel, 0 or 1.
void PackedEncodeMono(const unsigned char *row, int n, int *out) {
  for (int i = 0; i < n; i++) out[i] = MonoPixel(row, i);
}

// The scan weighs 5 per run against the row's bytes, (n + 7) / 8, which is
// all it may read.  Runs are chosen only when the scan says so, which keeps
// the run list below n ints: out of n ints serves both forms.
void CellCompressMono(const unsigned char *row, int *out, int n,
                      int /* unused */, int *mode, int *precision) {
  const int bytes = n > 0 ? static_cast<int>((static_cast<int64_t>(n) + 7) / 8)
                          : 0;
  if (MonoScanCompresses(row, bytes)) {
    RunLengthEncodeMono(row, n, out);
    *mode = 0;
    *precision = 8;
  } else {
    PackedEncodeMono(row, n, out);
    *mode = 1;
    *precision = 1;
  }
}
// ---- cell rows: end ----

// ==========================================================================
// Structured data records
// ==========================================================================
// (EncodeSDR, GetSDRTypePrecision)
// ---- structured data records: begin ----
//
// A structured data record is a list of members; each member is a data
// type code (at EnumPrecision), a count (at IntegerPrecision) and count
// values of that type.  The types encoded here, by code:
//    2 CI    colour indexes at ColorIndexPrecision    (int array)
//    3 CD    direct colours, 3 components each, at ColorPrecision (ints)
//    5 E     enumerated values at EnumPrecision       (int array)
//    6 I     integers at IntegerPrecision             (int array)
//    8 IF8, 9 IF16, 10 IF32: integers at 8, 16, 32 bits (int array)
//   11 IX    indexes at IndexPrecision                (int array)
//   12 R     reals at RealPrecision                   (real array)
//   16 VDC   VdcIntegerPrecision ints when VdcType is 0, else reals at
//            VdcRealPrecision
// Codes 18 (UI8), 19 (UI32) and 22 (UI16) have a size but no encoding;
// every other code has neither.

// Clamps a bit count computed in 64 bits into an int.
static int SdrBitsToInt(int64_t bits) {
  if (bits > INT_MAX) return INT_MAX;
  if (bits < INT_MIN) return INT_MIN;
  return static_cast<int>(bits);
}

int GetSDRTypePrecision(int code, qWCGM_DATA *data) {
  const qWCGM_METAFILE_DESCRIPTOR_DATA &md = data->Cgm.MetafileDescriptor;
  switch (code) {
    case 2: return md.ColorIndexPrecision;
    case 3: return SdrBitsToInt(3 * static_cast<int64_t>(md.ColorPrecision));
    case 5: return md.EnumPrecision;
    case 6: return md.IntegerPrecision;
    case 8: return 8;
    case 9: return 16;
    case 10: return 32;
    case 11: return md.IndexPrecision;
    case 12: return qRealBytes(md.RealPrecision) == 8 ? 64 : 32;
    case 16:
      if (md.VdcType == 0) return data->Cgm.Control.VdcIntegerPrecision;
      return qRealBytes(data->Cgm.Control.VdcRealPrecision) == 8 ? 64 : 32;
    case 18: return 8;
    case 19: return 32;
    case 22: return 16;
    default: return 0;
  }
}

int EncodeSDR(const int *ivalues, const double *dvalues, int code, int count,
              unsigned char *dst, qWCGM_DATA *data, int *ok, char *msg) {
  *ok = 1;
  const qWCGM_METAFILE_DESCRIPTOR_DATA &md = data->Cgm.MetafileDescriptor;
  // A count that is negative, or whose colour components would not fit an
  // int, is refused before anything is written.
  if (count < 0 || (code == 3 && count > INT_MAX / 3)) {
    qSetMsg(msg, "Invalid SDR Count: %d\n", count);
    *ok = 0;
    return 0;
  }
  int size = EncodeIntBuffer(dst, &code, 1, md.EnumPrecision, ok, msg);
  if (!*ok) return 0;
  size += EncodeIntBuffer(dst + size, &count, 1, md.IntegerPrecision, ok, msg);
  if (!*ok) return 0;

  // The type and count are in the destination now; a refusal below leaves
  // them there for the caller to discard.
  int values = count;
  int precision;
  bool real = false;
  switch (code) {
    case 2: precision = md.ColorIndexPrecision; break;
    case 3: precision = md.ColorPrecision; values = 3 * count; break;
    case 5: precision = md.EnumPrecision; break;
    case 6: precision = md.IntegerPrecision; break;
    case 8: precision = 8; break;
    case 9: precision = 16; break;
    case 10: precision = 32; break;
    case 11: precision = md.IndexPrecision; break;
    case 12: precision = md.RealPrecision; real = true; break;
    case 16:
      real = md.VdcType != 0;
      precision = real ? data->Cgm.Control.VdcRealPrecision
                       : data->Cgm.Control.VdcIntegerPrecision;
      break;
    default:
      qSetMsg(msg, "Uncoded SDR Type: %d\n", code);
      *ok = 0;
      return 0;
  }
  // Never read through a missing array.
  if (values > 0 && (real ? dvalues == nullptr : ivalues == nullptr)) {
    qSetMsg(msg, "Missing SDR Data For Type: %d\n", code);
    *ok = 0;
    return 0;
  }
  const int n =
      real ? EncodeRealBuffer(dst + size, dvalues, values, precision, ok, msg)
           : EncodeIntBuffer(dst + size, ivalues, values, precision, ok, msg);
  if (!*ok) return 0;
  return size + n;
}
// ---- structured data records: end ----
