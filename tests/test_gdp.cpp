// Generalized drawing primitive (class 4, id 10): trace initialisation (-4),
// trace data (-5) and PIP (-3000) parameter lists, their refusals, and the
// work buffer limit of the PIP record.
//
// Trace data is refused until a trace initialisation has been encoded in
// the process.  Every test here that writes trace data first writes a trace
// initialisation itself, since CTest may run each test in a process of its
// own; the order of that protocol is tested in test_gdp_firstcall.cpp.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

// The trace set-up used throughout: points (1,2) (3,4) (5,6) (7,8) in both
// VDC forms, reals that every real precision code writes exactly.
void FillTrace(qWCGM_CGM_PLUS *p) {
  p->Origin[0] = V(1);
  p->Origin[1] = V(2);
  p->BaseVector[0] = V(3);
  p->BaseVector[1] = V(4);
  p->AmpVector[0] = V(5);
  p->AmpVector[1] = V(6);
  p->TraceStepVector[0] = V(7);
  p->TraceStepVector[1] = V(8);
  p->BaseScale = 0.5;
  p->AmpScale = 1.25;
  p->TraceStepFactor = -0.5;
  p->BaselineOffset = 25.4;
  p->PosClip = 1.0;
  p->NegClip = -1.0;
  p->DisplayMode = 1;
  p->SampleType = 0;
  p->SamplesPerTrace = 5;
  p->PosBkFillBoundary = 0.5;
  p->NegBkFillBoundary = -1.75;
  p->Reserved = 0;
  p->WiggleModulus = 2;
  p->NullColorIndex = 3;
  p->TracesPerLocation = 4;
}

// Writes a trace initialisation into a scratch metafile, so that trace data
// is accepted from here on in this process.
void AllowTraceData() {
  TestWriter w;
  FillTrace(&w.d()->Cgm.CgmPlus);
  ASSERT_EQ(qGdp(-4, w.d(), w.msg()), 1) << w.msg();
}

using Tweak = std::function<void(qWCGM_DATA *)>;

struct TraceInitCase {
  const char *name;
  Tweak tweak;
  const char *hex;
};

TEST(Gdp, TraceInitialisationBytes) {
  const std::vector<TraceInitCase> cases = {
      {"defaults: 66 bytes", [](qWCGM_DATA *) {},
       "41 5F 00 42"
       " FF FC"                                               // identifier -4
       " 00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08"     // four points
       " 00 00"                                               // the constant 0
       " 00 00 80 00 00 01 40 00 FF FF 80 00 00 19 66 66"     // BaseScale .. BaselineOffset
       " 00 01 00 00 FF FF 00 00"                             // PosClip, NegClip
       " 00 01 00 00 00 05"                                   // display mode, type, samples
       " 00 00 80 00 FF FE 40 00"                             // fill boundaries
       " 00 00 00 02 00 03 00 04"},                           // reserved .. traces per location
      {"real VDC at code 3: 82 bytes",
       [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.VdcType = 1; },
       "41 5F 00 52 FF FC"
       " 00 01 00 00 00 02 00 00 00 03 00 00 00 04 00 00"
       " 00 05 00 00 00 06 00 00 00 07 00 00 00 08 00 00"
       " 00 00"
       " 00 00 80 00 00 01 40 00 FF FF 80 00 00 19 66 66 00 01 00 00 FF FF 00 00"
       " 00 01 00 00 00 05 00 00 80 00 FF FE 40 00 00 00 00 02 00 03 00 04"},
      {"8-bit integers, 8-bit VDC, real code 1",
       [](qWCGM_DATA *d) {
         d->Cgm.MetafileDescriptor.IntegerPrecision = 8;
         d->Cgm.MetafileDescriptor.RealPrecision = 1;
         d->Cgm.Control.VdcIntegerPrecision = 8;
       },
       "41 5F 00 31 FC 01 02 03 04 05 06 07 08 00"
       " 3F 00 00 00 3F A0 00 00 BF 00 00 00 41 CB 33 33 3F 80 00 00 BF 80 00 00"
       " 01 00 05 3F 00 00 00 BF E0 00 00 00 02 03 04 00"},
      {"32-bit integers, 24-bit VDC, real code 2",
       [](qWCGM_DATA *d) {
         d->Cgm.MetafileDescriptor.IntegerPrecision = 32;
         d->Cgm.MetafileDescriptor.RealPrecision = 2;
         d->Cgm.Control.VdcIntegerPrecision = 24;
       },
       "41 5F 00 7C FF FF FF FC"
       " 00 00 01 00 00 02 00 00 03 00 00 04 00 00 05 00 00 06 00 00 07 00 00 08"
       " 00 00 00 00"
       " 3F E0 00 00 00 00 00 00 3F F4 00 00 00 00 00 00 BF E0 00 00 00 00 00 00"
       " 40 39 66 66 66 66 66 66 3F F0 00 00 00 00 00 00 BF F0 00 00 00 00 00 00"
       " 00 00 00 01 00 00 00 00 00 00 00 05"
       " 3F E0 00 00 00 00 00 00 BF FC 00 00 00 00 00 00"
       " 00 00 00 00 00 00 00 02 00 00 00 03 00 00 00 04"},
      {"24-bit integers, real VDC code 1, real code 4",
       [](qWCGM_DATA *d) {
         d->Cgm.MetafileDescriptor.IntegerPrecision = 24;
         d->Cgm.MetafileDescriptor.RealPrecision = 4;
         d->Cgm.MetafileDescriptor.VdcType = 1;
         d->Cgm.Control.VdcRealPrecision = 1;
       },
       "41 5F 00 7B FF FF FC"
       " 3F 80 00 00 40 00 00 00 40 40 00 00 40 80 00 00"
       " 40 A0 00 00 40 C0 00 00 40 E0 00 00 41 00 00 00"
       " 00 00 00"
       " 00 00 00 00 80 00 00 00 00 00 00 01 40 00 00 00 FF FF FF FF 80 00 00 00"
       " 00 00 00 19 66 66 66 66 00 00 00 01 00 00 00 00 FF FF FF FF 00 00 00 00"
       " 00 00 01 00 00 00 00 00 05"
       " 00 00 00 00 80 00 00 00 FF FF FF FE 40 00 00 00"
       " 00 00 00 00 00 02 00 00 03 00 00 04 00"},
  };
  for (const TraceInitCase &c : cases) {
    SCOPED_TRACE(c.name);
    TestWriter w;
    FillTrace(&w.d()->Cgm.CgmPlus);
    c.tweak(w.d());
    ASSERT_EQ(qGdp(-4, w.d(), w.msg()), 1) << w.msg();
    EXPECT_EQ(ToHex(w.Written()), ToHex(Hex(c.hex)));
  }
}

TEST(Gdp, TraceInitialisationEncoderFailureWritesNothing) {
  TestWriter w;
  FillTrace(&w.d()->Cgm.CgmPlus);
  w.d()->Cgm.CgmPlus.BaseScale = 40000.0;
  EXPECT_EQ(qGdp(-4, w.d(), w.msg()), 0);
  EXPECT_STREQ(w.msg(), "Integral part of 40000.000000 too large for 32 bit fixed point");
  FillTrace(&w.d()->Cgm.CgmPlus);
  w.d()->Cgm.CgmPlus.TraceStepVector[1] = V(70000);
  EXPECT_EQ(qGdp(-4, w.d(), w.msg()), 0);
  EXPECT_STREQ(w.msg(), "Value: 70000 is too large for 16 bit precision");
  EXPECT_TRUE(w.Written().empty());
}

struct TraceDataCase {
  const char *name;
  int sampleType;
  int samplesPerTrace;
  std::vector<int> ints;
  std::vector<double> reals;
  Tweak tweak;
  const char *hex;
};

TEST(Gdp, TraceDataBytes) {
  AllowTraceData();
  auto none = [](qWCGM_DATA *) {};
  const std::vector<TraceDataCase> cases = {
      {"type 0: 16-bit integers", 0, 2, {-32768, 65535}, {}, none, "41 46 FF FB 80 00 FF FF"},
      {"type 1: 32-bit integers", 1, 2, {-2, INT_MAX}, {}, none, "41 4A FF FB FF FF FF FE 7F FF FF FF"},
      {"type 2: single-precision reals whatever RealPrecision holds", 2, 3, {}, {1.0, -2.5, 25.4},
       [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.RealPrecision = 2; },
       "41 4E FF FB 3F 80 00 00 C0 20 00 00 41 CB 33 33"},
      {"type 3: 8-bit integers, 7 bytes and a pad", 3, 5, {1, 2, 3, -1, 255}, {}, none,
       "41 47 FF FB 01 02 03 FF FF 00"},
      {"type 4: two 16-bit values a sample", 4, 5, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {}, none,
       "41 56 FF FB 00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 00 09 00 0A"},
      {"type 5: two 8-bit values a sample", 5, 5, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {}, none,
       "41 4C FF FB 01 02 03 04 05 06 07 08 09 0A"},
      {"type 7: identifier only", 7, 100, {}, {}, none, "41 42 FF FB"},
      {"type -1: identifier only", -1, 100, {}, {}, none, "41 42 FF FB"},
      {"type 9 with a negative count: identifier only", 9, -1, {}, {}, none, "41 42 FF FB"},
      {"no samples", 0, 0, {}, {}, none, "41 42 FF FB"},
      {"8-bit integers", 3, 1, {7}, {},
       [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.IntegerPrecision = 8; }, "41 42 FB 07"},
      {"24-bit integers", 0, 1, {1}, {},
       [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.IntegerPrecision = 24; }, "41 45 FF FF FB 00 01 00"},
      {"32-bit integers", 0, 1, {1}, {},
       [](qWCGM_DATA *d) { d->Cgm.MetafileDescriptor.IntegerPrecision = 32; }, "41 46 FF FF FF FB 00 01"},
  };
  for (const TraceDataCase &c : cases) {
    SCOPED_TRACE(c.name);
    TestWriter w;
    qWCGM_CGM_PLUS &p = w.d()->Cgm.CgmPlus;
    p.SampleType = c.sampleType;
    p.SamplesPerTrace = c.samplesPerTrace;
    for (size_t i = 0; i < c.ints.size(); i++) p.TraceData.iTraceData[i] = c.ints[i];
    for (size_t i = 0; i < c.reals.size(); i++) p.TraceData.dTraceData[i] = c.reals[i];
    c.tweak(w.d());
    ASSERT_EQ(qGdp(-5, w.d(), w.msg()), 1) << w.msg();
    EXPECT_EQ(ToHex(w.Written()), ToHex(Hex(c.hex)));
  }
}

// Expected element from the format: header, long-form words every 32766
// parameter bytes (flag set on all but the last), pad when odd.
Bytes Framed(int cls, int id, const Bytes &params) {
  const unsigned int word = (static_cast<unsigned int>(cls) << 12) | (static_cast<unsigned int>(id) << 5) | 31u;
  Bytes out = {static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word & 0xFF)};
  size_t at = 0;
  do {
    const size_t n = params.size() - at > 32766 ? 32766 : params.size() - at;
    const unsigned int lw = static_cast<unsigned int>(n) | (at + n < params.size() ? 0x8000u : 0u);
    out.push_back(static_cast<uint8_t>(lw >> 8));
    out.push_back(static_cast<uint8_t>(lw & 0xFF));
    out.insert(out.end(), params.begin() + static_cast<long>(at), params.begin() + static_cast<long>(at + n));
    at += n;
  } while (at < params.size());
  if (params.size() & 1) out.push_back(0);
  return out;
}

TEST(Gdp, LongTraces) {
  AllowTraceData();
  {
    // 1000 samples at 16 bits: 2002 bytes in the long form (41 5F 07 D2).
    TestWriter w;
    qWCGM_CGM_PLUS &p = w.d()->Cgm.CgmPlus;
    p.SampleType = 0;
    p.SamplesPerTrace = 1000;
    Bytes params = Hex("FF FB");
    for (int i = 0; i < 1000; i++) {
      p.TraceData.iTraceData[i] = i - 500;
      const unsigned int u = static_cast<unsigned int>(i - 500) & 0xFFFFu;
      params.push_back(static_cast<uint8_t>(u >> 8));
      params.push_back(static_cast<uint8_t>(u & 0xFF));
    }
    ASSERT_EQ(qGdp(-5, w.d(), w.msg()), 1) << w.msg();
    const Bytes got = w.Written();
    EXPECT_EQ(ToHex(got.data(), 6), "41 5F 07 D2 FF FB");
    EXPECT_TRUE(got == Framed(4, 10, params));
  }
  {
    // 20000 samples at 32 bits: 80002 bytes in three partitions, the last
    // of 80002 - 2 * 32766 = 14470 bytes (38 86).
    TestWriter w;
    qWCGM_CGM_PLUS &p = w.d()->Cgm.CgmPlus;
    p.SampleType = 1;
    p.SamplesPerTrace = 20000;
    Bytes params = Hex("FF FB");
    for (int i = 0; i < 20000; i++) {
      const int v = i * 65537 - 7;
      p.TraceData.iTraceData[i] = v;
      const unsigned int u = static_cast<unsigned int>(v);
      for (int s = 24; s >= 0; s -= 8) params.push_back(static_cast<uint8_t>((u >> s) & 0xFF));
    }
    ASSERT_EQ(qGdp(-5, w.d(), w.msg()), 1) << w.msg();
    const Bytes got = w.Written();
    ASSERT_EQ(got.size(), 2u + 6u + 80002u);
    EXPECT_EQ(ToHex(got.data(), 4), "41 5F FF FE");
    EXPECT_EQ(ToHex(got.data() + 2 + 32768, 2), "FF FE");
    EXPECT_EQ(ToHex(got.data() + 2 + 2 * 32768, 2), "38 86");
    EXPECT_TRUE(got == Framed(4, 10, params));
  }
  {
    // The largest traces TraceData holds: 32767 samples, or 16383 pairs.
    struct Case {
      int type, samples;
      size_t params;
    };
    for (const Case &c : {Case{1, 32767, 2 + 4 * 32767u}, Case{4, 16383, 2 + 4 * 16383u},
                          Case{5, 16383, 2 + 2 * 16383u}, Case{2, 32767, 2 + 4 * 32767u}}) {
      SCOPED_TRACE(c.type);
      TestWriter w;
      qWCGM_CGM_PLUS &p = w.d()->Cgm.CgmPlus;
      for (int i = 0; i < QWCGM_TRACE_SLOTS; i++) p.TraceData.iTraceData[i] = 1;
      p.SampleType = c.type;
      p.SamplesPerTrace = c.samples;
      ASSERT_EQ(qGdp(-5, w.d(), w.msg()), 1) << w.msg();
      const size_t partitions = (c.params + 32765) / 32766;
      EXPECT_EQ(w.Written().size(), 2 + 2 * partitions + c.params + (c.params & 1));
    }
  }
}

TEST(Gdp, TraceDataRefusals) {
  AllowTraceData();
  struct Case {
    const char *name;
    int sampleType;
    int samplesPerTrace;
    const char *message;
  };
  // Regression: SamplesPerTrace beyond TraceData's 32767 slots (16383 pairs
  // for types 4 and 5) was read past the end of the array.
  const Case cases[] = {
      {"type 0, -1 samples", 0, -1, "Invalid Samples Per Trace: -1\n"},
      {"type 1, 32768 samples", 1, 32768, "Invalid Samples Per Trace: 32768\n"},
      {"type 2, 32768 samples", 2, 32768, "Invalid Samples Per Trace: 32768\n"},
      {"type 3, INT_MAX samples", 3, INT_MAX, "Invalid Samples Per Trace: 2147483647\n"},
      {"type 4, 16384 samples", 4, 16384, "Invalid Samples Per Trace: 16384\n"},
      {"type 5, -5 samples", 5, -5, "Invalid Samples Per Trace: -5\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TestWriter w;
    w.d()->Cgm.CgmPlus.SampleType = c.sampleType;
    w.d()->Cgm.CgmPlus.SamplesPerTrace = c.samplesPerTrace;
    EXPECT_EQ(qGdp(-5, w.d(), w.msg()), 0);
    EXPECT_STREQ(w.msg(), c.message);
    EXPECT_TRUE(w.Written().empty());
  }
  // A sample out of range for its precision.
  TestWriter w;
  w.d()->Cgm.CgmPlus.SampleType = 3;
  w.d()->Cgm.CgmPlus.SamplesPerTrace = 2;
  w.d()->Cgm.CgmPlus.TraceData.iTraceData[0] = 1;
  w.d()->Cgm.CgmPlus.TraceData.iTraceData[1] = 300;
  EXPECT_EQ(qGdp(-5, w.d(), w.msg()), 0);
  EXPECT_STREQ(w.msg(), "Value: 300 is too large for 8 bit precision");
  EXPECT_TRUE(w.Written().empty());
}

TEST(Gdp, UnrecognizedIdentifiers) {
  TestWriter w;
  for (int id : {0, -6, -2999, -3, 4, -3001}) {
    EXPECT_EQ(qGdp(id, w.d(), w.msg()), 0);
    EXPECT_EQ(std::string(w.msg()), "Unrecognized Gdp Identifier: " + std::to_string(id) + "\n");
  }
  EXPECT_TRUE(w.Written().empty());
}

// ---------------------------------------------------------------------------
// PIP: identifier -3000, 1, the point, the data record as a string.

struct PipArrays {
  std::vector<int> samples = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  std::vector<double> realSamples;
  std::vector<int> va = {1, 2, 3};
  std::vector<int> bk = {255, 128, 0};
};

// The record of the worked example: GroupId 5, SampleNormExt 1.0, ten
// integer samples, three colour indexes and one direct colour.
void FillPip(qWCGM_CGM_PIP *pip, PipArrays *a) {
  pip->Origin[0] = V(100);
  pip->Origin[1] = V(200);
  pip->GroupId = 5;
  pip->SampleNormExt = 1.0;
  pip->TypeSamples = 6;
  pip->iSamples = a->samples.empty() ? nullptr : a->samples.data();
  pip->dSamples = a->realSamples.empty() ? nullptr : a->realSamples.data();
  pip->NumSamples = static_cast<int>(a->samples.size() + a->realSamples.size());
  pip->TypeVaColors = 2;
  pip->VaColors = a->va.empty() ? nullptr : a->va.data();
  pip->NumVaColors = static_cast<int>(a->va.size());
  pip->TypeBkColors = 3;
  pip->BkColors = a->bk.empty() ? nullptr : a->bk.data();
  pip->NumBkColors = static_cast<int>(a->bk.size() / 3);
}

TEST(Gdp, PipBytes) {
  {
    // 52-byte record, a 53-byte string, 61 bytes in all: long form, pad.
    TestWriter w;
    PipArrays a;
    FillPip(&w.d()->Cgm.CgmPip, &a);
    ASSERT_EQ(qGdp(-3000, w.d(), w.msg()), 1) << w.msg();
    EXPECT_EQ(ToHex(w.Written()),
              ToHex(Hex("41 5F 00 3D F4 48 00 01 00 64 00 C8 34"
                        " 00 06 00 01 00 05"
                        " 00 0C 00 01 00 01 00 00"
                        " 00 06 00 0A 00 00 00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 00 09"
                        " 00 02 00 03 01 02 03"
                        " 00 03 00 01 FF 80 00"
                        " 00")));
  }
  {
    // Real samples, an enumerated member and an integer VDC member.
    TestWriter w;
    PipArrays a;
    a.samples.clear();
    a.realSamples = {0.5, -0.5};
    a.va = {1};
    a.bk = {3, 4, 0};
    FillPip(&w.d()->Cgm.CgmPip, &a);
    qWCGM_CGM_PIP &pip = w.d()->Cgm.CgmPip;
    pip.TypeSamples = 12;
    pip.TypeVaColors = 5;
    pip.TypeBkColors = 16;
    pip.NumBkColors = 2;
    ASSERT_EQ(qGdp(-3000, w.d(), w.msg()), 1) << w.msg();
    EXPECT_EQ(ToHex(w.Written()),
              ToHex(Hex("41 5F 00 31 F4 48 00 01 00 64 00 C8 28"
                        " 00 06 00 01 00 05 00 0C 00 01 00 01 00 00"
                        " 00 0C 00 02 00 00 80 00 FF FF 80 00"
                        " 00 05 00 01 00 01"
                        " 00 10 00 02 00 03 00 04 00")));
  }
  {
    // Other precisions throughout.
    TestWriter w;
    PipArrays a;
    a.samples = {7, -1};
    a.va = {1, 300};
    a.bk = {65535, 0, 256};
    FillPip(&w.d()->Cgm.CgmPip, &a);
    w.d()->Cgm.CgmPip.TypeSamples = 11;
    qWCGM_METAFILE_DESCRIPTOR_DATA &md = w.d()->Cgm.MetafileDescriptor;
    md.IntegerPrecision = 32;
    md.RealPrecision = 2;
    md.ColorIndexPrecision = 16;
    md.ColorPrecision = 16;
    md.IndexPrecision = 24;
    md.VdcType = 1;
    w.d()->Cgm.Control.VdcRealPrecision = 1;
    ASSERT_EQ(qGdp(-3000, w.d(), w.msg()), 1) << w.msg();
    EXPECT_EQ(ToHex(w.Written()),
              ToHex(Hex("41 5F 00 4B FF FF F4 48 00 00 00 01 42 C8 00 00 43 48 00 00 3A"
                        " 00 06 00 00 00 01 00 00 00 05"
                        " 00 0C 00 00 00 01 3F F0 00 00 00 00 00 00"
                        " 00 0B 00 00 00 02 00 00 07 FF FF FF"
                        " 00 02 00 00 00 02 00 01 01 2C"
                        " 00 03 00 00 00 01 FF FF 00 00 01 00"
                        " 00")));
  }
  {
    // A record over 254 bytes takes the long string form: FF 01 AA.
    TestWriter w;
    PipArrays a;
    a.samples.clear();
    for (int i = 0; i < 200; i++) a.samples.push_back(i * 300 - 30000);
    a.va.clear();
    a.bk.clear();
    FillPip(&w.d()->Cgm.CgmPip, &a);
    ASSERT_EQ(qGdp(-3000, w.d(), w.msg()), 1) << w.msg();
    Bytes expected = Hex("41 5F 01 B5 F4 48 00 01 00 64 00 C8 FF 01 AA"
                         " 00 06 00 01 00 05 00 0C 00 01 00 01 00 00 00 06 00 C8");
    for (int v : a.samples) {
      const unsigned int u = static_cast<unsigned int>(v) & 0xFFFFu;
      expected.push_back(static_cast<uint8_t>(u >> 8));
      expected.push_back(static_cast<uint8_t>(u & 0xFF));
    }
    const Bytes tail = Hex("00 02 00 00 00 03 00 00 00");
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(ToHex(w.Written()), ToHex(expected));
  }
}

TEST(Gdp, PipRefusals) {
  struct Case {
    const char *name;
    std::function<void(qWCGM_DATA *)> tweak;
    const char *message;
  };
  const Case cases[] = {
      {"samples of a type that cannot be encoded",
       [](qWCGM_DATA *d) { d->Cgm.CgmPip.TypeSamples = 18; }, "Uncoded SDR Type: 18\n"},
      {"colours of an unknown type", [](qWCGM_DATA *d) { d->Cgm.CgmPip.TypeBkColors = 40; },
       "Uncoded SDR Type: 40\n"},
      {"a sample out of range", [](qWCGM_DATA *d) { d->Cgm.CgmPip.TypeSamples = 8; d->Cgm.CgmPip.iSamples[3] = 300; },
       "Value: 300 is too large for 8 bit precision"},
      {"origin out of range", [](qWCGM_DATA *d) { d->Cgm.CgmPip.Origin[1] = V(70000); },
       "Value: 70000 is too large for 16 bit precision"},
      // Regression: negative counts sized a too-small TempBuffer.
      {"negative sample count", [](qWCGM_DATA *d) { d->Cgm.CgmPip.NumSamples = -1; },
       "Invalid PIP Count: -1\n"},
      {"negative colour count", [](qWCGM_DATA *d) { d->Cgm.CgmPip.NumVaColors = -2; },
       "Invalid PIP Count: -2\n"},
      {"negative background count", [](qWCGM_DATA *d) { d->Cgm.CgmPip.NumBkColors = INT_MIN; },
       "Invalid PIP Count: -2147483648\n"},
      // Regression: a colour member of a real type read the missing real
      // array.
      {"colours of the real type", [](qWCGM_DATA *d) { d->Cgm.CgmPip.TypeVaColors = 12; },
       "Missing SDR Data For Type: 12\n"},
      {"samples without their array", [](qWCGM_DATA *d) { d->Cgm.CgmPip.iSamples = nullptr; },
       "Missing SDR Data For Type: 6\n"},
      {"real samples without their array", [](qWCGM_DATA *d) { d->Cgm.CgmPip.TypeSamples = 12; },
       "Missing SDR Data For Type: 12\n"},
      // Regression: records larger than the work buffer were written past it.
      {"a record beyond the work buffer",
       [](qWCGM_DATA *d) {
         d->Cgm.CgmPip.TypeSamples = 10;
         d->Cgm.CgmPip.NumSamples = 200000;
       },
       "Parameter list exceeds work buffer of 512000 bytes\n"},
      {"a huge count of colours",
       [](qWCGM_DATA *d) {
         d->Cgm.CgmPip.TypeBkColors = 3;
         d->Cgm.CgmPip.NumBkColors = INT_MAX;
       },
       "Parameter list exceeds work buffer of 512000 bytes\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TestWriter w;
    PipArrays a;
    FillPip(&w.d()->Cgm.CgmPip, &a);
    c.tweak(w.d());
    EXPECT_EQ(qGdp(-3000, w.d(), w.msg()), 0);
    EXPECT_STREQ(w.msg(), c.message);
    EXPECT_TRUE(w.Written().empty());
  }
}

TEST(Gdp, PipRecordAtTheWorkBufferLimit) {
  // At 32-bit integers (a count this large needs more than 16 bits):
  // identifier 4, count 4, point 4, then the string, which for a record of
  // R bytes takes R + 1 + 2 * 16 bytes when R is 491506 to 524272.  Members
  // 1, 2, 4 and 5 take 10 + 10 + 6 + 6 bytes and member 3 6 + n bytes of
  // 8-bit samples, so n = 511917 makes exactly 512000 bytes.
  const int n = 511917;
  PipArrays a;
  a.samples.assign(n + 1, 0x41);
  a.va.clear();
  a.bk.clear();
  auto fill = [&a](qWCGM_DATA *d, int count) {
    FillPip(&d->Cgm.CgmPip, &a);
    d->Cgm.CgmPip.TypeSamples = 8;
    d->Cgm.CgmPip.NumSamples = count;
    d->Cgm.MetafileDescriptor.IntegerPrecision = 32;
  };
  {
    TestWriter w;
    fill(w.d(), n);
    ASSERT_EQ(qGdp(-3000, w.d(), w.msg()), 1) << w.msg();
    const Bytes got = w.Written();
    EXPECT_EQ(got.size(), 2 + 2 * 16 + 512000u);
    // Header, first long-form word, identifier, 1, point, FF and the first
    // string piece's continuation word, then the first member.
    EXPECT_EQ(ToHex(got.data(), 29),
              "41 5F FF FE FF FF F4 48 00 00 00 01 00 64 00 C8 FF FF FF"
              " 00 06 00 00 00 01 00 00 00 05");
  }
  {
    TestWriter w;
    fill(w.d(), n + 1);
    EXPECT_EQ(qGdp(-3000, w.d(), w.msg()), 0);
    EXPECT_STREQ(w.msg(), "Parameter list exceeds work buffer of 512000 bytes\n");
    EXPECT_TRUE(w.Written().empty());
  }
}

}  // namespace
