// The trace order of the generalized drawing primitive: trace data (-5) is
// refused until a trace initialisation (-4) has been encoded somewhere in
// the process, and is accepted from then on in every metafile, without a new
// trace initialisation.  The flag lives for the whole process, so the
// protocol is walked in one test, in order, in this program of its own.
#include <gtest/gtest.h>

#include <string>

#include "testutil.h"

namespace {

const char kOrderMessage[] = "Trace Data Must Be Preceeded By Trace Init Gdp\n";

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
  p->SampleType = 3;
  p->SamplesPerTrace = 3;
  p->PosBkFillBoundary = 0.5;
  p->NegBkFillBoundary = -1.75;
  p->Reserved = 0;
  p->WiggleModulus = 2;
  p->NullColorIndex = 3;
  p->TracesPerLocation = 4;
  p->TraceData.iTraceData[0] = 1;
  p->TraceData.iTraceData[1] = -1;
  p->TraceData.iTraceData[2] = 255;
}

// Trace data of FillTrace: identifier -5, three 8-bit samples, pad.
const char kTraceData[] = "41 45 FF FB 01 FF FF 00";

// A trace data GDP that must be refused by the trace order: nothing written,
// the message on standard output, the message buffer as it was.
void ExpectRefusedByOrder(TestWriter &w) {
  std::snprintf(w.msg(), QWCGM_MSG_SIZE, "earlier message");
  const size_t before = w.Written().size();
  testing::internal::CaptureStdout();
  const int result = qGdp(-5, w.d(), w.msg());
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(out, kOrderMessage);
  EXPECT_STREQ(w.msg(), "earlier message");
  EXPECT_EQ(w.Written().size(), before);
}

TEST(GdpTraceOrder, ProtocolAcrossMetafiles) {
  {
    TestWriter a;
    FillTrace(&a.d()->Cgm.CgmPlus);

    // 1. Trace data first in the process is refused.
    ExpectRefusedByOrder(a);

    // 2. The order is checked before the samples: a bad count still gets
    //    the order message.
    a.d()->Cgm.CgmPlus.SamplesPerTrace = 40000;
    ExpectRefusedByOrder(a);
    a.d()->Cgm.CgmPlus.SamplesPerTrace = 3;

    // 3. A trace initialisation that fails to encode does not count.
    a.d()->Cgm.CgmPlus.BaseScale = 40000.0;
    EXPECT_EQ(qGdp(-4, a.d(), a.msg()), 0);
    EXPECT_STREQ(a.msg(), "Integral part of 40000.000000 too large for 32 bit fixed point");
    ExpectRefusedByOrder(a);
    a.d()->Cgm.CgmPlus.BaseScale = 0.5;

    // 4. The PIP GDP does not depend on the trace order.
    int samples[1] = {9};
    qWCGM_CGM_PIP &pip = a.d()->Cgm.CgmPip;
    pip.Origin[0] = V(0);
    pip.Origin[1] = V(0);
    pip.GroupId = 1;
    pip.SampleNormExt = 0.5;
    pip.TypeSamples = 6;
    pip.iSamples = samples;
    pip.dSamples = nullptr;
    pip.NumSamples = 1;
    pip.TypeVaColors = 2;
    pip.VaColors = nullptr;
    pip.NumVaColors = 0;
    pip.TypeBkColors = 3;
    pip.BkColors = nullptr;
    pip.NumBkColors = 0;
    EXPECT_EQ(qGdp(-3000, a.d(), a.msg()), 1) << a.msg();
    ExpectRefusedByOrder(a);

    // 5. A trace initialisation that encodes but whose write fails still
    //    opens the way: the flag is cleared before the write.
    {
      TestWriter failing;
      FillTrace(&failing.d()->Cgm.CgmPlus);
      failing.UseFailingStream(0);
      EXPECT_EQ(qGdp(-4, failing.d(), failing.msg()), 0);
      EXPECT_STREQ(failing.msg(), "Error occurred writing: 2 bytes");
    }

    // 6. Trace data is accepted in the first metafile now.
    const size_t before = a.Written().size();
    ASSERT_EQ(qGdp(-5, a.d(), a.msg()), 1) << a.msg();
    const Bytes got = a.Written();
    ASSERT_EQ(got.size(), before + 8);
    EXPECT_EQ(ToHex(got.data() + before, 8), kTraceData);

    // 7. A refused trace count leaves the flag as it was.
    a.d()->Cgm.CgmPlus.SamplesPerTrace = 40000;
    EXPECT_EQ(qGdp(-5, a.d(), a.msg()), 0);
    EXPECT_STREQ(a.msg(), "Invalid Samples Per Trace: 40000\n");
    a.d()->Cgm.CgmPlus.SamplesPerTrace = 3;
    EXPECT_EQ(qGdp(-5, a.d(), a.msg()), 1) << a.msg();
  }  // the first metafile is closed here

  // 8. A metafile opened later accepts trace data without a trace
  //    initialisation of its own.
  TestWriter b;
  FillTrace(&b.d()->Cgm.CgmPlus);
  testing::internal::CaptureStdout();
  const int result = qGdp(-5, b.d(), b.msg());
  const std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(result, 1) << b.msg();
  EXPECT_EQ(out, "");
  EXPECT_EQ(ToHex(b.Written()), kTraceData);
}

}  // namespace
