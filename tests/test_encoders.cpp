// Parameter encoders: integers at 8/16/24/32 bits, sub-byte values,
// strings, VDC values and reals in the four real forms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "Quil.h"
#include "testutil.h"

namespace {

struct IntCase {
  int precision;
  std::vector<int> values;
  const char *bytes;  // expected output, or the expected message on failure
  bool ok;
};

TEST(EncodeIntBuffer, Table) {
  const IntCase cases[] = {
      {16, {1, -1, 65535, -32768}, "00 01 FF FF FF FF 80 00", true},
      {8, {255, -128, -1, 0}, "FF 80 FF 00", true},
      {8, {256}, "Value: 256 is too large for 8 bit precision", false},
      {8, {-129}, "Value: -129 is too large for 8 bit precision", false},
      {16, {65536}, "Value: 65536 is too large for 16 bit precision", false},
      {16, {-32769}, "Value: -32769 is too large for 16 bit precision", false},
      {24, {40000, 16777215, -8388608}, "00 9C 40 FF FF FF 80 00 00", true},
      {24, {16777216}, "Value: 16777216 is too large for 24 bit precision", false},
      {24, {-8388609}, "Value: -8388609 is too large for 24 bit precision", false},
      {32, {-2, 2147483647, std::numeric_limits<int>::min()},
       "FF FF FF FE 7F FF FF FF 80 00 00 00", true},
      {12, {1}, "Illegal integer precision: 12\n", false},
  };
  for (const IntCase &c : cases) {
    unsigned char out[64];
    char msg[QWCGM_MSG_SIZE] = "";
    int ok = -1;
    int n = EncodeIntBuffer(out, c.values.data(), static_cast<int>(c.values.size()),
                            c.precision, &ok, msg);
    if (c.ok) {
      EXPECT_EQ(ok, 1);
      EXPECT_EQ(ToHex(out, static_cast<size_t>(n)), c.bytes) << c.precision;
    } else {
      EXPECT_EQ(ok, 0);
      EXPECT_EQ(n, 0);
      EXPECT_STREQ(msg, c.bytes);
    }
  }
}

TEST(EncodeIntBuffer, ValuesBeforeABadOneStayWritten) {
  unsigned char out[8];
  std::memset(out, 0xEE, sizeof out);
  const int v[3] = {1, 2, 70000};
  char msg[QWCGM_MSG_SIZE];
  int ok;
  EXPECT_EQ(EncodeIntBuffer(out, v, 3, 16, &ok, msg), 0);
  EXPECT_EQ(ToHex(out, 6), "00 01 00 02 EE EE");
  EXPECT_STREQ(msg, "Value: 70000 is too large for 16 bit precision");
}

// A count of 0 or less produces nothing and succeeds, in every encoder.
TEST(Encoders, NonPositiveCountsEncodeNothing) {
  unsigned char out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  const int v[1] = {7};
  const double r[1] = {1.0};
  const qVDC p[1] = {{1, 1.0}};
  char msg[QWCGM_MSG_SIZE] = "untouched";
  for (int count : {0, -1, -100000}) {
    int ok = -1;
    EXPECT_EQ(EncodeIntBuffer(out, v, count, 16, &ok, msg), 0);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(EncodeIntBuffer(out, v, count, 32, &ok, msg), 0);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(EncodeLowPrecision(out, v, count, 2, &ok, msg), 0);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(EncodeVdc(p, count, out, 0, 16, 3, &ok, msg), 0);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(EncodeRealBuffer(out, r, count, 2, &ok, msg), 0);
    EXPECT_EQ(ok, 1);
  }
  EXPECT_EQ(ToHex(out, 4), "EE EE EE EE");
  EXPECT_STREQ(msg, "untouched");
}

TEST(EncodeLowPrecision, PacksMostSignificantBitsFirst) {
  struct Case {
    int precision;
    std::vector<int> values;
    const char *bytes;
  };
  const Case cases[] = {
      {1, {1, 0, 1, 1, 0, 0, 0, 1, 1}, "B1 80"},
      {2, {3, 1, 2, 0, 1}, "D8 40"},
      {4, {10, 5, 15}, "A5 F0"},
      {1, {2, 3}, "40"},  // only bit 0 of each value counts
      {4, {0x1F}, "F0"},
  };
  for (const Case &c : cases) {
    unsigned char out[8];
    char msg[QWCGM_MSG_SIZE];
    int ok;
    int n = EncodeLowPrecision(out, c.values.data(), static_cast<int>(c.values.size()),
                               c.precision, &ok, msg);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(ToHex(out, static_cast<size_t>(n)), c.bytes);
  }
  char msg[QWCGM_MSG_SIZE];
  int ok;
  unsigned char out[4];
  const int v[1] = {1};
  EXPECT_EQ(EncodeLowPrecision(out, v, 1, 8, &ok, msg), 0);
  EXPECT_EQ(ok, 0);
  EXPECT_STREQ(msg, "Invalid Precision: 8\n");
}

TEST(EncodeString, ShortAndLongForms) {
  struct Case {
    int n;
    std::vector<std::pair<const char *, int>> pieces;  // header hex, then that many text bytes
  };
  const Case cases[] = {
      {0, {{"00", 0}}},
      {254, {{"FE", 254}}},
      {255, {{"FF 00 FF", 255}}},
      {32767, {{"FF 7F FF", 32767}}},
      {32768, {{"FF FF FF", 32767}, {"00 01", 1}}},
      {65534, {{"FF FF FF", 32767}, {"7F FF", 32767}}},
      {70000, {{"FF FF FF", 32767}, {"FF FF", 32767}, {"11 72", 4466}}},
  };
  for (const Case &c : cases) {
    std::string text(static_cast<size_t>(c.n), 'x');
    for (int i = 0; i < c.n; i++) text[static_cast<size_t>(i)] = static_cast<char>('a' + i % 26);
    Bytes expect;
    size_t at = 0;
    for (const auto &piece : c.pieces) {
      Bytes h = Hex(piece.first);
      expect.insert(expect.end(), h.begin(), h.end());
      expect.insert(expect.end(), text.begin() + static_cast<long>(at),
                    text.begin() + static_cast<long>(at) + piece.second);
      at += static_cast<size_t>(piece.second);
    }
    Bytes out(static_cast<size_t>(c.n) + 16);
    int n = EncodeString(text.data(), out.data(), c.n);
    out.resize(static_cast<size_t>(n));
    EXPECT_TRUE(out == expect) << "n=" << c.n;
  }
  unsigned char out[8];
  EXPECT_EQ(EncodeString("abc", out, 3), 4);
  EXPECT_EQ(ToHex(out, 4), "03 61 62 63");
}

TEST(EncodeVdc, IntegerAndRealValues) {
  unsigned char out[32];
  char msg[QWCGM_MSG_SIZE];
  int ok;
  const qVDC pt[2] = {{1, 0.5}, {-1, -0.5}};
  EXPECT_EQ(EncodeVdc(pt, 2, out, 0, 16, 3, &ok, msg), 4);
  EXPECT_EQ(ToHex(out, 4), "00 01 FF FF");
  EXPECT_EQ(EncodeVdc(pt, 2, out, 0, 8, 3, &ok, msg), 2);
  EXPECT_EQ(ToHex(out, 2), "01 FF");
  EXPECT_EQ(EncodeVdc(pt, 2, out, 0, 32, 3, &ok, msg), 8);
  EXPECT_EQ(ToHex(out, 8), "00 00 00 01 FF FF FF FF");
  EXPECT_EQ(EncodeVdc(pt, 2, out, 1, 16, 3, &ok, msg), 8);
  EXPECT_EQ(ToHex(out, 8), "00 00 80 00 FF FF 80 00");
  EXPECT_EQ(EncodeVdc(pt, 2, out, 1, 16, 1, &ok, msg), 8);
  EXPECT_EQ(ToHex(out, 8), "3F 00 00 00 BF 00 00 00");

  // The message names the very value that failed; y is not encoded.
  const qVDC big[2] = {{20000000, 0}, {1, 0}};
  EXPECT_EQ(EncodeVdc(big, 2, out, 0, 24, 3, &ok, msg), 0);
  EXPECT_EQ(ok, 0);
  EXPECT_STREQ(msg, "Value: 20000000 is too large for 24 bit precision");
  const qVDC far[2] = {{0, 1.0}, {0, 40000.0}};
  EXPECT_EQ(EncodeVdc(far, 2, out, 1, 16, 3, &ok, msg), 0);
  EXPECT_STREQ(msg, "Integral part of 40000.000000 too large for 32 bit fixed point");
  EXPECT_EQ(EncodeVdc(pt, 2, out, 0, 12, 3, &ok, msg), 0);
  EXPECT_STREQ(msg, "Illegal integer precision: 12\n");
  EXPECT_EQ(EncodeVdc(pt, 2, out, 1, 16, 7, &ok, msg), 0);
  EXPECT_STREQ(msg, "Invalid Real Precision Index: 7\n");
}

struct RealCase {
  int code;
  double value;
  const char *bytes;
};

TEST(EncodeRealBuffer, Table) {
  const RealCase cases[] = {
      {1, 1.0, "3F 80 00 00"},
      {1, 25.4, "41 CB 33 33"},
      {1, -2.5, "C0 20 00 00"},
      {1, 1e300, "7F 80 00 00"},   // beyond single range: infinity
      {1, -1e300, "FF 80 00 00"},
      {2, 25.4, "40 39 66 66 66 66 66 66"},
      {2, 0.1, "3F B9 99 99 99 99 99 9A"},
      {3, 0.5, "00 00 80 00"},
      {3, -0.5, "FF FF 80 00"},
      {3, 1.25, "00 01 40 00"},
      {3, -1.75, "FF FE 40 00"},
      {3, 25.4, "00 19 66 66"},
      {3, -1.0, "FF FF 00 00"},
      {3, -32768.0, "80 00 00 00"},
      {3, 32767.99, "7F FF FD 70"},
      {3, 1.0 / 3.0, "00 00 55 55"},  // truncated, not rounded
      // x - floor(x) rounds to 1.0 for tiny negative x: the fraction is
      // clamped, so -1e-17 stays just below 0 instead of becoming -1.0.
      {3, -1e-17, "FF FF FF FF"},
      {4, 0.5, "00 00 00 00 80 00 00 00"},
      {4, -0.5, "FF FF FF FF 80 00 00 00"},
      {4, 1.75, "00 00 00 01 C0 00 00 00"},
      {4, 25.4, "00 00 00 19 66 66 66 66"},
      {4, 32768.0, "00 00 80 00 00 00 00 00"},
      {4, -2147483648.0, "80 00 00 00 00 00 00 00"},
      {4, -1e-17, "FF FF FF FF FF FF FF FF"},
  };
  for (const RealCase &c : cases) {
    unsigned char out[8];
    char msg[QWCGM_MSG_SIZE] = "";
    int ok = -1;
    int n = EncodeRealBuffer(out, &c.value, 1, c.code, &ok, msg);
    EXPECT_EQ(ok, 1) << msg;
    EXPECT_EQ(ToHex(out, static_cast<size_t>(n)), c.bytes)
        << "code " << c.code << " value " << c.value;
  }
}

TEST(EncodeRealBuffer, RefusedValues) {
  struct Case {
    int code;
    double value;
    const char *message;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {3, 32768.0, "Integral part of 32768.000000 too large for 32 bit fixed point"},
      {3, -32768.5, "Integral part of -32768.500000 too large for 32 bit fixed point"},
      {3, inf, "Integral part of inf too large for 32 bit fixed point"},
      {3, nan, "Integral part of nan too large for 32 bit fixed point"},
      {3, 1e10, "Integral part of 10000000000.000000 too large for 32 bit fixed point"},
      {4, 2147483648.0, "Integral part of 2147483648.000000 too large for 64 bit fixed point"},
      {4, -2147483648.5, "Integral part of -2147483648.500000 too large for 64 bit fixed point"},
      {4, -inf, "Integral part of -inf too large for 64 bit fixed point"},
      {5, 1.0, "Invalid Real Precision Index: 5\n"},
      {0, 1.0, "Invalid Real Precision Index: 0\n"},
  };
  for (const Case &c : cases) {
    unsigned char out[8];
    char msg[QWCGM_MSG_SIZE] = "";
    int ok = -1;
    EXPECT_EQ(EncodeRealBuffer(out, &c.value, 1, c.code, &ok, msg), 0);
    EXPECT_EQ(ok, 0);
    EXPECT_STREQ(msg, c.message);
  }
}

TEST(EncodeRealBuffer, EarlierValuesStayWhenALaterOneFails) {
  unsigned char out[8];
  std::memset(out, 0xEE, sizeof out);
  const double v[2] = {0.5, 32768.0};
  char msg[QWCGM_MSG_SIZE];
  int ok;
  EXPECT_EQ(EncodeRealBuffer(out, v, 2, 3, &ok, msg), 0);
  EXPECT_EQ(ToHex(out, 8), "00 00 80 00 EE EE EE EE");
}

double DecodeReal(const unsigned char *b, int code) {
  uint64_t hi = 0;
  for (int i = 0; i < 4; i++) hi = hi << 8 | b[i];
  switch (code) {
    case 1: {
      uint32_t u = static_cast<uint32_t>(hi);
      float f;
      std::memcpy(&f, &u, 4);
      return f;
    }
    case 2: {
      uint64_t u = hi;
      for (int i = 4; i < 8; i++) u = u << 8 | b[i];
      double d;
      std::memcpy(&d, &u, 8);
      return d;
    }
    case 3:
      return static_cast<int16_t>(hi >> 16) + static_cast<double>(hi & 0xFFFF) / 65536.0;
    default: {
      uint64_t lo = 0;
      for (int i = 4; i < 8; i++) lo = lo << 8 | b[i];
      return static_cast<int32_t>(static_cast<uint32_t>(hi)) + static_cast<double>(lo) / 4294967296.0;
    }
  }
}

// Decoding what was encoded gives the value back: bit for bit in the
// floating forms, truncated to the fraction's resolution in the fixed forms.
TEST(EncodeRealBuffer, DecodesBack) {
  const double values[] = {0.0, -0.0, 1.0, -1.0, 0.1, -0.1, 3.14159265358979,
                           -2.718281828, 1234.5678, -32767.999, 32767.5,
                           1e-5, -1e-5, 6.103515625e-05};
  for (double x : values) {
    unsigned char out[8];
    char msg[QWCGM_MSG_SIZE];
    int ok;
    EncodeRealBuffer(out, &x, 1, 1, &ok, msg);
    float f = static_cast<float>(x);
    float g = static_cast<float>(DecodeReal(out, 1));
    EXPECT_EQ(std::memcmp(&f, &g, 4), 0) << x;
    EncodeRealBuffer(out, &x, 1, 2, &ok, msg);
    double d = DecodeReal(out, 2);
    EXPECT_EQ(std::memcmp(&x, &d, 8), 0) << x;
    for (int code : {3, 4}) {
      EncodeRealBuffer(out, &x, 1, code, &ok, msg);
      double step = code == 3 ? 1.0 / 65536.0 : 1.0 / 4294967296.0;
      double back = DecodeReal(out, code);
      EXPECT_LE(back, x) << x;
      EXPECT_GT(back, x - step) << x;
    }
  }
}

// Messages are bounded to the caller's 256 bytes: 1e300 prints with more
// than 300 digits under %f.
TEST(Messages, AreCutAt256Bytes) {
  char msg[512];
  std::memset(msg, 0x5A, sizeof msg);
  unsigned char out[8];
  const double big = 1e300;
  int ok;
  EXPECT_EQ(EncodeRealBuffer(out, &big, 1, 3, &ok, msg), 0);
  EXPECT_EQ(std::strlen(msg), 255u);
  char full[1024];
  std::snprintf(full, sizeof full, "Integral part of %f too large for 32 bit fixed point", big);
  EXPECT_EQ(std::string(msg), std::string(full).substr(0, 255));
  for (size_t i = 256; i < sizeof msg; i++) ASSERT_EQ(msg[i], 0x5A) << i;
}

}  // namespace
