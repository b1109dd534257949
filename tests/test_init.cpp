// Opening and closing a metafile: banner, defaults, failures, and a close
// that cannot write out the last buffered bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "Quil.h"
#include "testutil.h"

namespace {

const char kBanner[] = "Binary CGM metafile writer library\nVersion 1.0.3\n\n";

TEST(CgmInit, DefaultsAfterOpen) {
  auto d = std::make_unique<qWCGM_DATA>();
  std::memset(d.get(), 0x5A, sizeof *d);  // garbage, to see what is set
  TempPath tmp;
  char msg[QWCGM_MSG_SIZE];
  testing::internal::CaptureStdout();
  ASSERT_EQ(qCgmInit(tmp.path.c_str(), d.get(), msg), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), kBanner);

  const qWCGM_METAFILE_DESCRIPTOR_DATA &md = d->Cgm.MetafileDescriptor;
  EXPECT_EQ(md.VdcType, 0);
  EXPECT_EQ(md.IntegerPrecision, 16);
  EXPECT_EQ(md.RealPrecision, 3);
  EXPECT_EQ(md.IndexPrecision, 16);
  EXPECT_EQ(md.EnumPrecision, 16);
  EXPECT_EQ(md.ColorPrecision, 8);
  EXPECT_EQ(md.ColorIndexPrecision, 8);
  EXPECT_EQ(md.MaxColorIndex, 63);
  const int extent[6] = {0, 0, 0, 255, 255, 255};
  for (int i = 0; i < 6; i++) EXPECT_EQ(md.ColorValueExtent[i], extent[i]);

  const qWCGM_PICTURE_DESCRIPTOR_DATA &pd = d->Cgm.PictureDescriptor;
  EXPECT_EQ(pd.ScalingMode, 0);
  EXPECT_EQ(pd.MetricScaleValue, 1.0);
  EXPECT_EQ(pd.ColorSelectionMode, 0);
  EXPECT_EQ(pd.LineWidthSpecificationMode, 1);
  EXPECT_EQ(pd.MarkerSizeSpecificationMode, 1);
  EXPECT_EQ(pd.EdgeWidthSpecificationMode, 1);
  const int ints[4] = {0, 0, 32767, 32767};
  const double extentReal[4] = {0.0, 0.0, 0.99999, 0.99999};
  const double clipReal[4] = {0.0, 0.0, 0.999999, 0.999999};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(pd.VdcExtent[i].Int, ints[i]);
    EXPECT_EQ(pd.VdcExtent[i].Double, extentReal[i]);
    EXPECT_EQ(d->Cgm.Control.ClipRectangle[i].Int, ints[i]);
    EXPECT_EQ(d->Cgm.Control.ClipRectangle[i].Double, clipReal[i]);
  }

  const qWCGM_CONTROL_DATA &cd = d->Cgm.Control;
  EXPECT_EQ(cd.VdcIntegerPrecision, 16);
  EXPECT_EQ(cd.VdcRealPrecision, 3);
  EXPECT_EQ(cd.AuxiliaryColor[0], 1);
  EXPECT_EQ(cd.Transparency, 1);
  EXPECT_EQ(cd.ClipIndicator, 1);

  const qWCGM_ATTRIBUTE_DATA &a = d->Cgm.Attribute;
  EXPECT_EQ(a.LineBundleIndex, 0);
  EXPECT_EQ(a.LineType, 1);
  EXPECT_EQ(a.MarkerBundleIndex, 1);
  EXPECT_EQ(a.MarkerType, 3);
  EXPECT_EQ(a.EdgeType, 0);
  EXPECT_EQ(a.CharacterOrientation[1].Int, 1);
  EXPECT_EQ(a.CharacterOrientation[2].Double, 1.0);
  EXPECT_EQ(a.AspectSourceFlags[35], 0);

  // Fields without a default keep what the record held.
  EXPECT_EQ(d->Cgm.Control.AuxiliaryColor[1], 0x5A5A5A5A);
  EXPECT_EQ(d->Cgm.CgmPlus.SampleType, 0x5A5A5A5A);
  EXPECT_EQ(d->MdrOffset, 0);  // no defaults replacement is open

  ASSERT_NE(d->Outfile, nullptr);
  ASSERT_NE(d->WorkBuffer, nullptr);
  std::fflush(d->Outfile);
  EXPECT_TRUE(FileExists(tmp.path));
  EXPECT_TRUE(ReadFile(tmp.path).empty());
  EXPECT_EQ(qCgmEnd(d.get(), msg), 1);
}

TEST(CgmInit, Failures) {
  auto d = std::make_unique<qWCGM_DATA>();
  char msg[QWCGM_MSG_SIZE];

  // The banner comes first, on every call, failing ones included.
  testing::internal::CaptureStdout();
  EXPECT_EQ(qCgmInit(nullptr, d.get(), msg), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), kBanner);
  EXPECT_STREQ(msg, "Output file name is NULL");
  EXPECT_EQ(d->Outfile, nullptr);

  testing::internal::CaptureStdout();
  EXPECT_EQ(qCgmInit("/nonexistent-dir/x.cgm", d.get(), msg), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), kBanner);
  EXPECT_STREQ(msg, "Could not open output file: /nonexistent-dir/x.cgm");
  EXPECT_EQ(d->Outfile, nullptr);
  EXPECT_FALSE(FileExists("/nonexistent-dir/x.cgm"));
}

// A file name longer than the message buffer is cut, not written past it.
TEST(CgmInit, LongFileNameMessageIsBounded) {
  auto d = std::make_unique<qWCGM_DATA>();
  std::string name = "/nonexistent-dir/" + std::string(1000, 'n');
  char msg[600];
  std::memset(msg, 0x5A, sizeof msg);
  testing::internal::CaptureStdout();
  EXPECT_EQ(qCgmInit(name.c_str(), d.get(), msg), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::strlen(msg), 255u);
  EXPECT_EQ(std::string(msg), ("Could not open output file: " + name).substr(0, 255));
  for (size_t i = 256; i < sizeof msg; i++) ASSERT_EQ(msg[i], 0x5A);
}

TEST(CgmInit, ExistingFileIsEmptied) {
  TempPath tmp;
  FILE *f = std::fopen(tmp.path.c_str(), "wb");
  std::fputs("old contents", f);
  std::fclose(f);
  auto d = std::make_unique<qWCGM_DATA>();
  char msg[QWCGM_MSG_SIZE];
  testing::internal::CaptureStdout();
  ASSERT_EQ(qCgmInit(tmp.path.c_str(), d.get(), msg), 1);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(qCgmEnd(d.get(), msg), 1);
  EXPECT_TRUE(ReadFile(tmp.path).empty());
}

TEST(CgmEnd, ClosesOnceAndLeavesTheMessageAlone) {
  TestWriter w;
  ASSERT_EQ(qEndMetafile(w.d(), w.msg()), 1);
  char msg[QWCGM_MSG_SIZE] = "untouched";
  EXPECT_EQ(qCgmEnd(w.d(), msg), 1);
  EXPECT_STREQ(msg, "untouched");
  EXPECT_EQ(w.d()->Outfile, nullptr);
  EXPECT_EQ(w.d()->WorkBuffer, nullptr);
  // A second close does nothing.
  EXPECT_EQ(qCgmEnd(w.d(), msg), 1);
}

// A full disk while the last buffered bytes go out is reported, not
// swallowed: /dev/full accepts the open and the buffered write, then fails
// the flush at close.
TEST(CgmEnd, FailedCloseIsReported) {
  auto d = std::make_unique<qWCGM_DATA>();
  char msg[QWCGM_MSG_SIZE] = "";
  testing::internal::CaptureStdout();
  ASSERT_EQ(qCgmInit("/dev/full", d.get(), msg), 1);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(qBeginMetafile("a.cgm", d.get(), msg), 1);  // still in the buffer
  EXPECT_EQ(qCgmEnd(d.get(), msg), 0);
  EXPECT_STREQ(msg, "Error occurred closing output file");
  EXPECT_EQ(d->Outfile, nullptr);
  EXPECT_EQ(d->WorkBuffer, nullptr);
}

}  // namespace
