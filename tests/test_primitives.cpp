// Point-list, text, circle, arc and ellipse primitives (class 4, ids 1-8 and
// 11-19): element bytes at several VDC and enumeration precisions, the
// refused arguments, long parameter lists and the work buffer limit.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

struct Precisions {
  int vdcType = 0;
  int vdcIntegerPrecision = 16;
  int vdcRealPrecision = 3;
  int enumPrecision = 16;
};

void Apply(qWCGM_DATA *d, const Precisions &p) {
  d->Cgm.MetafileDescriptor.VdcType = p.vdcType;
  d->Cgm.Control.VdcIntegerPrecision = p.vdcIntegerPrecision;
  d->Cgm.Control.VdcRealPrecision = p.vdcRealPrecision;
  d->Cgm.MetafileDescriptor.EnumPrecision = p.enumPrecision;
}

Precisions Vdc8() { Precisions p; p.vdcIntegerPrecision = 8; return p; }
Precisions Vdc24() { Precisions p; p.vdcIntegerPrecision = 24; return p; }
Precisions Vdc32() { Precisions p; p.vdcIntegerPrecision = 32; return p; }
Precisions Real(int code) { Precisions p; p.vdcType = 1; p.vdcRealPrecision = code; return p; }
Precisions Enum(int bits) { Precisions p; p.enumPrecision = bits; return p; }

using Call = std::function<int(qWCGM_DATA *, char *)>;

struct ElementCase {
  const char *name;
  Precisions precisions;
  Call call;
  const char *hex;  // the whole element: header, parameters, pad
};

// Shared arguments.
const qVDC kPts3[6] = {V(1), V(2), V(3), V(4), V(-1), V(-2)};
const int kFlags3[3] = {0, 1, 3};
const qVDC kP12[2] = {V(1), V(2)}, kP34[2] = {V(3), V(4)}, kP56[2] = {V(5), V(6)};
const qVDC kTextPt[2] = {V(10), V(20)};
const qVDC k0[1] = {V(0)}, k1[1] = {V(1)}, k3[1] = {V(3)}, k4[1] = {V(4)},
           k5[1] = {V(5)}, k7[1] = {V(7)}, kM3[1] = {V(-3)}, kM4[1] = {V(-4)};
const qVDC kOrigin[2] = {V(0), V(0)}, kF[2] = {V(10), V(0)}, kS[2] = {V(0), V(5)};

std::vector<ElementCase> DefaultCases() {
  Precisions def;
  return {
      // Header words: class 4 in bits 15-12, the id in bits 11-5, the length.
      {"polyline 3 points", def, [](qWCGM_DATA *d, char *m) { return qPolyline(kPts3, 3, d, m); },
       "40 2C 00 01 00 02 00 03 00 04 FF FF FF FE"},
      {"disjoint polyline 2 points", def,
       [](qWCGM_DATA *d, char *m) { return qDisjointPolyline(kPts3, 2, d, m); },
       "40 48 00 01 00 02 00 03 00 04"},
      {"polymarker 1 point", def, [](qWCGM_DATA *d, char *m) { return qPolyMarker(kPts3, 1, d, m); },
       "40 64 00 01 00 02"},
      {"polygon 3 points", def, [](qWCGM_DATA *d, char *m) { return qPolygon(kPts3, 3, d, m); },
       "40 EC 00 01 00 02 00 03 00 04 FF FF FF FE"},
      {"polygon set: each point then its flag", def,
       [](qWCGM_DATA *d, char *m) { return qPolygonSet(kPts3, kFlags3, 3, d, m); },
       "41 12 00 01 00 02 00 00  00 03 00 04 00 01  FF FF FF FE 00 03"},
      {"rectangle", def,
       [](qWCGM_DATA *d, char *m) {
         const qVDC c[4] = {V(0), V(0), V(32767), V(-32768)};
         return qRectangle(c, d, m);
       },
       "41 68 00 00 00 00 7F FF 80 00"},
      {"text", def, [](qWCGM_DATA *d, char *m) { return qText(kTextPt, 1, "Hi", d, m); },
       "40 89 00 0A 00 14 00 01 02 48 69 00"},
      {"text, empty string", def, [](qWCGM_DATA *d, char *m) { return qText(kTextPt, 0, "", d, m); },
       "40 87 00 0A 00 14 00 00 00 00"},
      {"restricted text", def,
       [](qWCGM_DATA *d, char *m) {
         const qVDC w = V(100), h = V(50);
         return qRestrictedText(&w, &h, kTextPt, 0, "ab", d, m);
       },
       "40 AD 00 64 00 32 00 0A 00 14 00 00 02 61 62 00"},
      {"append text: flag before the text", def,
       [](qWCGM_DATA *d, char *m) { return qAppendText("ab", 1, d, m); }, "40 C5 00 01 02 61 62 00"},
      {"circle", def, [](qWCGM_DATA *d, char *m) { return qCircle(kP56, k7, d, m); },
       "41 86 00 05 00 06 00 07"},
      {"circle, negative radius unchanged", def,
       [](qWCGM_DATA *d, char *m) {
         const qVDC r = V(-7);
         return qCircle(kP56, &r, d, m);
       },
       "41 86 00 05 00 06 FF F9"},
      {"circular arc 3 point", def,
       [](qWCGM_DATA *d, char *m) { return qCircularArc3Point(kP12, kP34, kP56, d, m); },
       "41 AC 00 01 00 02 00 03 00 04 00 05 00 06"},
      {"circular arc 3 point close", def,
       [](qWCGM_DATA *d, char *m) { return qCircularArc3PointClose(kP12, kP34, kP56, 1, d, m); },
       "41 CE 00 01 00 02 00 03 00 04 00 05 00 06 00 01"},
      {"circular arc centre", def,
       [](qWCGM_DATA *d, char *m) { return qCircularArcCenter(kP12, k3, k4, kM3, kM4, k5, d, m); },
       "41 EE 00 01 00 02 00 03 00 04 FF FD FF FC 00 05"},
      {"circular arc centre close", def,
       [](qWCGM_DATA *d, char *m) {
         return qCircularArcCenterClose(kP12, k3, k4, kM3, kM4, k5, 0, d, m);
       },
       "42 10 00 01 00 02 00 03 00 04 FF FD FF FC 00 05 00 00"},
      {"ellipse", def, [](qWCGM_DATA *d, char *m) { return qEllipse(kOrigin, kF, kS, d, m); },
       "42 2C 00 00 00 00 00 0A 00 00 00 00 00 05"},
      {"elliptical arc", def,
       [](qWCGM_DATA *d, char *m) { return qEllipseArc(kOrigin, kF, kS, k1, k0, k0, k1, d, m); },
       "42 54 00 00 00 00 00 0A 00 00 00 00 00 05 00 01 00 00 00 00 00 01"},
      {"elliptical arc close", def,
       [](qWCGM_DATA *d, char *m) {
         return qEllipseArcClose(kOrigin, kF, kS, k1, k0, k0, k1, 1, d, m);
       },
       "42 76 00 00 00 00 00 0A 00 00 00 00 00 05 00 01 00 00 00 00 00 01 00 01"},
      // A count of 0 or less writes the element with an empty list.
      {"polyline 0 points", def, [](qWCGM_DATA *d, char *m) { return qPolyline(kPts3, 0, d, m); }, "40 20"},
      {"disjoint polyline -1 points", def,
       [](qWCGM_DATA *d, char *m) { return qDisjointPolyline(kPts3, -1, d, m); }, "40 40"},
      {"polymarker 0 points", def, [](qWCGM_DATA *d, char *m) { return qPolyMarker(nullptr, 0, d, m); },
       "40 60"},
      {"polygon -5 points", def, [](qWCGM_DATA *d, char *m) { return qPolygon(kPts3, -5, d, m); }, "40 E0"},
      {"polygon set 0 points", def,
       [](qWCGM_DATA *d, char *m) { return qPolygonSet(kPts3, kFlags3, 0, d, m); }, "41 00"},
  };
}

std::vector<ElementCase> PrecisionCases() {
  auto circle = [](qWCGM_DATA *d, char *m) {
    const qVDC c[2] = {R(0.5), R(-0.5)};
    const qVDC r = R(25.4);
    return qCircle(c, &r, d, m);
  };
  return {
      {"rectangle, 8-bit VDC", Vdc8(),
       [](qWCGM_DATA *d, char *m) {
         const qVDC c[4] = {V(1), V(-1), V(255), V(-128)};
         return qRectangle(c, d, m);
       },
       "41 64 01 FF FF 80"},
      {"rectangle, 24-bit VDC", Vdc24(),
       [](qWCGM_DATA *d, char *m) {
         const qVDC c[4] = {V(40000), V(-8388608), V(16777215), V(-1)};
         return qRectangle(c, d, m);
       },
       "41 6C 00 9C 40 80 00 00 FF FF FF FF FF FF"},
      {"rectangle, 32-bit VDC", Vdc32(),
       [](qWCGM_DATA *d, char *m) {
         const qVDC c[4] = {V(-2), V(INT_MAX), V(INT_MIN), V(65536)};
         return qRectangle(c, d, m);
       },
       "41 70 FF FF FF FE 7F FF FF FF 80 00 00 00 00 01 00 00"},
      {"circle, real VDC code 1", Real(1), circle, "41 8C 3F 00 00 00 BF 00 00 00 41 CB 33 33"},
      {"circle, real VDC code 2", Real(2), circle,
       "41 98 3F E0 00 00 00 00 00 00 BF E0 00 00 00 00 00 00 40 39 66 66 66 66 66 66"},
      {"circle, real VDC code 3", Real(3), circle, "41 8C 00 00 80 00 FF FF 80 00 00 19 66 66"},
      {"circle, real VDC code 4", Real(4), circle,
       "41 98 00 00 00 00 80 00 00 00 FF FF FF FF 80 00 00 00 00 00 00 19 66 66 66 66"},
      // 3 points at real code 2 take 48 bytes: the long form.
      {"polyline 3 points, real VDC code 2", Real(2),
       [](qWCGM_DATA *d, char *m) { return qPolyline(kPts3, 3, d, m); },
       "40 3F 00 30  3F F0 00 00 00 00 00 00  40 00 00 00 00 00 00 00"
       "  40 08 00 00 00 00 00 00  40 10 00 00 00 00 00 00"
       "  BF F0 00 00 00 00 00 00  C0 00 00 00 00 00 00 00"},
      {"circle, 16-bit VDC", Precisions(), [](qWCGM_DATA *d, char *m) { return qCircle(kP56, k7, d, m); },
       "41 86 00 05 00 06 00 07"},
      {"append text, 8-bit enumerations", Enum(8),
       [](qWCGM_DATA *d, char *m) { return qAppendText("ab", 1, d, m); }, "40 C4 01 02 61 62"},
      {"append text, 24-bit enumerations", Enum(24),
       [](qWCGM_DATA *d, char *m) { return qAppendText("ab", 1, d, m); }, "40 C6 00 00 01 02 61 62"},
      {"append text, 32-bit enumerations", Enum(32),
       [](qWCGM_DATA *d, char *m) { return qAppendText("ab", 1, d, m); },
       "40 C7 00 00 00 01 02 61 62 00"},
      {"text, 32-bit VDC and 8-bit enumerations",
       [] { Precisions p = Vdc32(); p.enumPrecision = 8; return p; }(),
       [](qWCGM_DATA *d, char *m) { return qText(kTextPt, 0, "x", d, m); },
       "40 8B 00 00 00 0A 00 00 00 14 00 01 78 00"},
      {"restricted text, real VDC code 1",
       Real(1),
       [](qWCGM_DATA *d, char *m) {
         const qVDC w = R(1.0), h = R(-2.5), p[2] = {R(25.4), R(0.5)};
         return qRestrictedText(&w, &h, p, 1, "", d, m);
       },
       "40 B3 3F 80 00 00 C0 20 00 00 41 CB 33 33 3F 00 00 00 00 01 00 00"},
      {"arc 3 point close, 8-bit VDC and enumerations",
       [] { Precisions p = Vdc8(); p.enumPrecision = 8; return p; }(),
       [](qWCGM_DATA *d, char *m) { return qCircularArc3PointClose(kP12, kP34, kP56, 1, d, m); },
       "41 C7 01 02 03 04 05 06 01 00"},
      {"arc centre close, 24-bit VDC and 24-bit enumerations",
       [] { Precisions p = Vdc24(); p.enumPrecision = 24; return p; }(),
       [](qWCGM_DATA *d, char *m) {
         return qCircularArcCenterClose(kP12, k3, k4, kM3, kM4, k5, 1, d, m);
       },
       "42 18 00 00 01 00 00 02 00 00 03 00 00 04 FF FF FD FF FF FC 00 00 05 00 00 01"},
      {"polygon set, real VDC code 3 and 8-bit enumerations",
       [] { Precisions p = Real(3); p.enumPrecision = 8; return p; }(),
       [](qWCGM_DATA *d, char *m) {
         const qVDC p[2] = {R(0.5), R(1.25)};
         const int f[1] = {2};
         return qPolygonSet(p, f, 1, d, m);
       },
       "41 09 00 00 80 00 00 01 40 00 02 00"},
      {"elliptical arc close, real VDC code 4, 32-bit enumerations",
       [] { Precisions p = Real(4); p.enumPrecision = 32; return p; }(),
       [](qWCGM_DATA *d, char *m) {
         const qVDC c[2] = {R(0.5), R(-0.5)}, f[2] = {R(1.75), R(0)}, s[2] = {R(0), R(25.4)};
         const qVDC z = R(0), one = R(1), neg = R(-1);
         return qEllipseArcClose(c, f, s, &one, &z, &z, &neg, 0, d, m);
       },
       "42 7F 00 54"
       " 00 00 00 00 80 00 00 00  FF FF FF FF 80 00 00 00"
       " 00 00 00 01 C0 00 00 00  00 00 00 00 00 00 00 00"
       " 00 00 00 00 00 00 00 00  00 00 00 19 66 66 66 66"
       " 00 00 00 01 00 00 00 00  00 00 00 00 00 00 00 00"
       " 00 00 00 00 00 00 00 00  FF FF FF FF 00 00 00 00"
       " 00 00 00 00"},
  };
}

void RunCases(const std::vector<ElementCase> &cases) {
  for (const ElementCase &c : cases) {
    SCOPED_TRACE(c.name);
    TestWriter w;
    Apply(w.d(), c.precisions);
    ASSERT_EQ(c.call(w.d(), w.msg()), 1) << w.msg();
    EXPECT_EQ(ToHex(w.Written()), ToHex(Hex(c.hex)));
  }
}

TEST(Primitives, ElementBytesAtDefaultPrecisions) { RunCases(DefaultCases()); }

TEST(Primitives, ElementBytesAtOtherPrecisions) { RunCases(PrecisionCases()); }

// ---------------------------------------------------------------------------
// Refused arguments: result 0, the exact message, nothing in the metafile.

struct RefusalCase {
  const char *name;
  Precisions precisions;
  Call call;
  const char *message;
};

TEST(Primitives, RefusedArgumentsWriteNothing) {
  const std::vector<RefusalCase> cases = {
      {"text flag 2", Precisions(), [](qWCGM_DATA *d, char *m) { return qText(kTextPt, 2, "a", d, m); },
       "Invalid Value for Final/Not Final-Flag: 2\n"},
      {"text flag -1", Precisions(), [](qWCGM_DATA *d, char *m) { return qText(kTextPt, -1, "a", d, m); },
       "Invalid Value for Final/Not Final-Flag: -1\n"},
      {"append text flag 2 (no line feed)", Precisions(),
       [](qWCGM_DATA *d, char *m) { return qAppendText("a", 2, d, m); },
       "Invalid Value for Final/Not Final-Flag: 2"},
      {"polygon set flag 4 at point 1", Precisions(),
       [](qWCGM_DATA *d, char *m) {
         const int f[2] = {1, 4};
         return qPolygonSet(kPts3, f, 2, d, m);
       },
       "Invalid Value in EdgeOutFlags[1] : 4\n"},
      {"polygon set flag -1 at point 0", Precisions(),
       [](qWCGM_DATA *d, char *m) {
         const int f[2] = {-1, 0};
         return qPolygonSet(kPts3, f, 2, d, m);
       },
       "Invalid Value in EdgeOutFlags[0] : -1\n"},
      {"arc 3 point close type 2", Precisions(),
       [](qWCGM_DATA *d, char *m) { return qCircularArc3PointClose(kP12, kP34, kP56, 2, d, m); },
       "Invalid Closure Type: 2\n"},
      {"arc centre close type -1", Precisions(),
       [](qWCGM_DATA *d, char *m) {
         return qCircularArcCenterClose(kP12, k3, k4, kM3, kM4, k5, -1, d, m);
       },
       "Invalid Closure Type: -1\n"},
      {"elliptical arc close type -1 (no line feed)", Precisions(),
       [](qWCGM_DATA *d, char *m) {
         return qEllipseArcClose(kOrigin, kF, kS, k1, k0, k0, k1, -1, d, m);
       },
       "Invalid Closure Type: -1"},
      {"circle radius 70000 at 16-bit VDC", Precisions(),
       [](qWCGM_DATA *d, char *m) {
         const qVDC r = V(70000);
         return qCircle(kP56, &r, d, m);
       },
       "Value: 70000 is too large for 16 bit precision"},
      {"polyline second point out of 8-bit range", Vdc8(),
       [](qWCGM_DATA *d, char *m) {
         const qVDC p[4] = {V(1), V(2), V(3), V(-129)};
         return qPolyline(p, 2, d, m);
       },
       "Value: -129 is too large for 8 bit precision"},
      {"ellipse at 24-bit VDC", Vdc24(),
       [](qWCGM_DATA *d, char *m) {
         const qVDC big[2] = {V(20000000), V(0)};
         return qEllipse(kOrigin, big, kS, d, m);
       },
       "Value: 20000000 is too large for 24 bit precision"},
      {"real VDC code 3 beyond 16-bit whole part", Real(3),
       [](qWCGM_DATA *d, char *m) {
         const qVDC p[2] = {R(1.0), R(40000.0)};
         return qPolyMarker(p, 1, d, m);
       },
       "Integral part of 40000.000000 too large for 32 bit fixed point"},
      {"real VDC code 4 beyond 32-bit whole part", Real(4),
       [](qWCGM_DATA *d, char *m) {
         const qVDC c[4] = {R(0), R(0), R(5e9), R(1)};
         return qRectangle(c, d, m);
       },
       "Integral part of 5000000000.000000 too large for 64 bit fixed point"},
      {"text point out of range", Precisions(),
       [](qWCGM_DATA *d, char *m) {
         const qVDC p[2] = {V(-40000), V(0)};
         return qText(p, 1, "a", d, m);
       },
       "Value: -40000 is too large for 16 bit precision"},
  };
  for (const RefusalCase &c : cases) {
    SCOPED_TRACE(c.name);
    TestWriter w;
    Apply(w.d(), c.precisions);
    EXPECT_EQ(c.call(w.d(), w.msg()), 0);
    EXPECT_STREQ(w.msg(), c.message);
    EXPECT_TRUE(w.Written().empty());
  }
}

TEST(Primitives, RestrictedTextBadFlagGoesToStandardOutput) {
  for (int flag : {2, -1}) {
    TestWriter w;
    std::snprintf(w.msg(), QWCGM_MSG_SIZE, "earlier message");
    const qVDC dw = V(1), dh = V(1);
    testing::internal::CaptureStdout();
    const int result = qRestrictedText(&dw, &dh, kTextPt, flag, "a", w.d(), w.msg());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out, "Invalid Value for Final/Not Final-Flag: " + std::to_string(flag) + "\n");
    EXPECT_STREQ(w.msg(), "earlier message");
    EXPECT_TRUE(w.Written().empty());
  }
}

TEST(Primitives, FailedWriteReportsTheWrite) {
  TestWriter w;
  w.UseFailingStream(2);  // the header word passes, the parameters do not
  EXPECT_EQ(qPolyline(kPts3, 3, w.d(), w.msg()), 0);
  EXPECT_STREQ(w.msg(), "Error occurred writing: 12 bytes");
  EXPECT_EQ(ToHex(w.sink()), "40 2C");
}

// ---------------------------------------------------------------------------
// Long parameter lists.

// Parameter bytes of points (i, -i) at 16 bits, from the format: big-endian
// two's complement.
Bytes Points16(int n) {
  Bytes b;
  for (int i = 0; i < n; i++) {
    const unsigned int x = static_cast<unsigned int>(i);
    const unsigned int y = static_cast<unsigned int>(-i) & 0xFFFFu;
    b.push_back(static_cast<uint8_t>(x >> 8));
    b.push_back(static_cast<uint8_t>(x & 0xFF));
    b.push_back(static_cast<uint8_t>(y >> 8));
    b.push_back(static_cast<uint8_t>(y & 0xFF));
  }
  return b;
}

std::vector<qVDC> PointArray(int n) {
  std::vector<qVDC> p;
  p.reserve(2 * static_cast<size_t>(n));
  for (int i = 0; i < n; i++) {
    p.push_back(V(i % 30000));
    p.push_back(V(-(i % 30000)));
  }
  return p;
}

TEST(Primitives, LongPolylineIsPartitioned) {
  // 20000 points at 16 bits: 80000 bytes, cut into partitions of 32766
  // bytes (flag set, FF FE) and a last one of 14468 (38 84); even, no pad.
  const int n = 20000;
  TestWriter w;
  std::vector<qVDC> pts = PointArray(n);
  ASSERT_EQ(qPolyline(pts.data(), n, w.d(), w.msg()), 1) << w.msg();
  const Bytes params = Points16(n);
  Bytes expected = Hex("40 3F FF FE");
  expected.insert(expected.end(), params.begin(), params.begin() + 32766);
  expected.push_back(0xFF);
  expected.push_back(0xFE);
  expected.insert(expected.end(), params.begin() + 32766, params.begin() + 65532);
  expected.push_back(0x38);
  expected.push_back(0x84);
  expected.insert(expected.end(), params.begin() + 65532, params.end());
  const Bytes got = w.Written();
  ASSERT_EQ(got.size(), 80008u);
  EXPECT_TRUE(got == expected);
}

TEST(Primitives, LongTextUsesLongStringForm) {
  struct Case {
    size_t length;
    const char *head;  // header, long-form word, point, flag, string head
    bool pad;
  };
  const Case cases[] = {
      {254, "40 9F 01 05 00 0A 00 14 00 01 FE", true},
      {255, "40 9F 01 08 00 0A 00 14 00 01 FF 00 FF", false},
      {300, "40 9F 01 35 00 0A 00 14 00 01 FF 01 2C", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.length);
    const std::string text(c.length, 'q');
    TestWriter w;
    ASSERT_EQ(qText(kTextPt, 1, text.c_str(), w.d(), w.msg()), 1) << w.msg();
    Bytes expected = Hex(c.head);
    expected.insert(expected.end(), text.begin(), text.end());
    if (c.pad) expected.push_back(0);
    EXPECT_TRUE(w.Written() == expected);
  }
}

// ---------------------------------------------------------------------------
// The work buffer: a parameter list of up to 512000 bytes is written, a
// longer one is refused before anything is encoded or written.

const char kTooLong[] = "Parameter list exceeds work buffer of 512000 bytes\n";

// Size of a written element whose parameter list is L bytes, L > 32767.
size_t PartitionedSize(size_t L) {
  const size_t partitions = (L + 32765) / 32766;
  return 2 + 2 * partitions + L + (L & 1);
}

TEST(Primitives, PolylineFillsTheWorkBufferExactly) {
  // Regression: point lists were encoded past the end of the work buffer.
  TestWriter w;
  std::vector<qVDC> pts = PointArray(128001);
  ASSERT_EQ(qPolyline(pts.data(), 128000, w.d(), w.msg()), 1) << w.msg();
  const Bytes got = w.Written();
  ASSERT_EQ(got.size(), PartitionedSize(512000));
  EXPECT_EQ(ToHex(got.data(), 4), "40 3F FF FE");
  // 15 full partitions, then the last one of 512000 - 15 * 32766 = 20510.
  EXPECT_EQ(ToHex(got.data() + 2 + 15 * 32768, 2), "50 1E");

  TestWriter w2;
  EXPECT_EQ(qPolyline(pts.data(), 128001, w2.d(), w2.msg()), 0);
  EXPECT_STREQ(w2.msg(), kTooLong);
  EXPECT_TRUE(w2.Written().empty());
}

TEST(Primitives, WorkBufferLimitFollowsThePrecisions) {
  struct Case {
    const char *name;
    Precisions precisions;
    int fits;  // the most points that fit
  };
  const Case cases[] = {
      {"8-bit VDC", Vdc8(), 256000},
      {"24-bit VDC", Vdc24(), 85333},
      {"32-bit VDC", Vdc32(), 64000},
      {"real code 1", Real(1), 64000},
      {"real code 2", Real(2), 32000},
      {"real code 3", Real(3), 64000},
      {"real code 4", Real(4), 32000},
  };
  std::vector<qVDC> pts(2 * 256001, V(1));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TestWriter w;
    Apply(w.d(), c.precisions);
    EXPECT_EQ(qPolyMarker(pts.data(), c.fits, w.d(), w.msg()), 1) << w.msg();
    const size_t written = w.Written().size();
    EXPECT_EQ(qPolyMarker(pts.data(), c.fits + 1, w.d(), w.msg()), 0);
    EXPECT_STREQ(w.msg(), kTooLong);
    EXPECT_EQ(w.Written().size(), written);
  }
}

TEST(Primitives, HugeCountsAreRefusedWithoutOverflow) {
  // Regression: 2 * n overflowed int for huge point counts.  The check comes
  // before any point is read, so a one-point array is enough.
  TestWriter w;
  const Call calls[] = {
      [](qWCGM_DATA *d, char *m) { return qPolyline(kPts3, INT_MAX, d, m); },
      [](qWCGM_DATA *d, char *m) { return qDisjointPolyline(kPts3, INT_MAX / 2 + 1, d, m); },
      [](qWCGM_DATA *d, char *m) { return qPolygon(kPts3, 1 << 30, d, m); },
      [](qWCGM_DATA *d, char *m) { return qPolygonSet(kPts3, kFlags3, INT_MAX, d, m); },
  };
  for (const Call &call : calls) {
    w.msg()[0] = 0;
    EXPECT_EQ(call(w.d(), w.msg()), 0);
    EXPECT_STREQ(w.msg(), kTooLong);
  }
  EXPECT_TRUE(w.Written().empty());
}

TEST(Primitives, PolygonSetAndTextAtTheWorkBufferLimit) {
  // Polygon set at the defaults: 6 bytes a point; 85333 points are 511998
  // bytes, 85334 are 512004.
  {
    std::vector<qVDC> pts = PointArray(85334);
    std::vector<int> flags(85334, 1);
    TestWriter w;
    ASSERT_EQ(qPolygonSet(pts.data(), flags.data(), 85333, w.d(), w.msg()), 1) << w.msg();
    EXPECT_EQ(w.Written().size(), PartitionedSize(511998));
    TestWriter w2;
    EXPECT_EQ(qPolygonSet(pts.data(), flags.data(), 85334, w2.d(), w2.msg()), 0);
    EXPECT_STREQ(w2.msg(), kTooLong);
    EXPECT_TRUE(w2.Written().empty());
  }
  // Text: point 4, flag 2, and the string n + 1 + 2 * 16 bytes for n from
  // 491506 to 524272: 511961 characters make exactly 512000 bytes.
  {
    const std::string text(511962, 't');
    TestWriter w;
    ASSERT_EQ(qText(kTextPt, 1, text.c_str() + 1, w.d(), w.msg()), 1) << w.msg();
    EXPECT_EQ(w.Written().size(), PartitionedSize(512000));
    TestWriter w2;
    EXPECT_EQ(qText(kTextPt, 1, text.c_str(), w2.d(), w2.msg()), 0);
    EXPECT_STREQ(w2.msg(), kTooLong);
    const qVDC dw = V(1), dh = V(1);
    EXPECT_EQ(qRestrictedText(&dw, &dh, kTextPt, 1, text.c_str(), w2.d(), w2.msg()), 0);
    EXPECT_STREQ(w2.msg(), kTooLong);
    EXPECT_EQ(qAppendText(text.c_str(), 1, w2.d(), w2.msg()), 1) << w2.msg();  // 2 + 511995 bytes
    EXPECT_EQ(w2.Written().size(), PartitionedSize(511997));
  }
}

}  // namespace
