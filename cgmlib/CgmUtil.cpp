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
// ---- cell rows: end ----

// ==========================================================================
// Structured data records
// ==========================================================================
// (EncodeSDR, GetSDRTypePrecision)
// ---- structured data records: begin ----
// ---- structured data records: end ----
