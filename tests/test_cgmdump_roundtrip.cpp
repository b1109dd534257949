// Round trip: for a table of precisions and modes, every element function
// of the library writes its element into one metafile, and cgmdump's
// independent decoder reads back the values that were passed.  The decoder
// follows only what the metafile announces, so a disagreement between
// writer and reader about any precision shows up here.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "CgmDecode.h"
#include "testutil.h"

namespace {

// One expected decoded parameter (see cgmd::Value): t is its type letter;
// a, b, c its numbers (x, y of a point; r, g, b of a colour), s a string.
struct Exp {
  explicit Exp(char type, double x = 0, double y = 0, double z = 0)
      : t(type), a(x), b(y), c(z) {}
  char t;
  double a, b, c;
  std::string s;
};

struct ExpElem {
  int cls, id;
  std::vector<Exp> values;
  std::string what;
  bool checkValues = true;
  bool prefixOnly = false;  // the element holds more values than listed
};

struct Config {
  const char *name;
  int intPrec;
  int vdcType;
  int vdcIntPrec;   // written as VDC INTEGER PRECISION when not 16
  int vdcRealCode;  // written as VDC REAL PRECISION when not 3
  int realCode;
  int colorMode;  // 0 indexed, 1 direct
  int colorPrec;
  int colorIndexPrec;
  int indexPrec;
  int sampleType;  // trace samples of the trace data GDP
};

const Config kConfigs[] = {
    {"int8 vdc-int16 real1 indexed8", 8, 0, 16, 3, 1, 0, 8, 8, 8, 3},
    {"int16 vdc-int24 real2 direct16", 16, 0, 24, 3, 2, 1, 16, 16, 16, 0},
    {"int24 vdc-int32 real3 indexed24", 24, 0, 32, 3, 3, 0, 24, 24, 24, 1},
    {"int32 vdc-real3 real4 direct32", 32, 1, 16, 3, 4, 1, 32, 32, 32, 2},
    {"int16 vdc-real1 real1 direct8", 16, 1, 16, 1, 1, 1, 8, 16, 16, 4},
    {"int8 vdc-real2 real3 indexed16", 8, 1, 16, 2, 3, 0, 16, 16, 8, 5},
    {"int24 vdc-real4 real2 direct24", 24, 1, 16, 4, 2, 1, 24, 8, 24, 2},
};

const int kRealForm[5][3] = {{0, 0, 0}, {0, 9, 23}, {0, 12, 52}, {1, 16, 16}, {1, 32, 32}};

class Writer {
 public:
  explicit Writer(const Config &c) : c_(c), path_(".cgm") {
    std::memset(&d_, 0, sizeof d_);
    std::memset(msg_, 0, sizeof msg_);
    EXPECT_EQ(qCgmInit(path_.path.c_str(), &d_, msg_), 1) << msg_;
  }
  ~Writer() {
    if (d_.Outfile) qCgmEnd(&d_, msg_);
  }

  qWCGM_DATA *d() { return &d_; }
  char *msg() { return msg_; }
  const Config &c() const { return c_; }

  // Records the element a successful call wrote.
  void Wrote(int result, int cls, int id, std::vector<Exp> values, const std::string &what) {
    EXPECT_EQ(result, 1) << what << ": " << msg_;
    expected_.push_back({cls, id, std::move(values), what, true});
  }
  void WrotePrefix(int result, int cls, int id, std::vector<Exp> values, const std::string &what) {
    EXPECT_EQ(result, 1) << what << ": " << msg_;
    expected_.push_back({cls, id, std::move(values), what, true, true});
  }
  void WroteUnchecked(int result, int cls, int id, const std::string &what) {
    EXPECT_EQ(result, 1) << what << ": " << msg_;
    expected_.push_back({cls, id, {}, what, false});
  }

  Bytes Close() {
    EXPECT_EQ(qCgmEnd(&d_, msg_), 1);
    return ReadFile(path_.path);
  }
  const std::vector<ExpElem> &expected() const { return expected_; }

  // A coordinate that fits the configuration's VDC: integers within the
  // VDC integer precision, or reals that every real form holds exactly.
  qVDC V(int k) const {
    static const int ints[] = {1, -2, 300, 1000, -4000, 7, 25, -9};
    static const double reals[] = {1.25, -2.5, 300.75, 0.125, -1000.5, 7.0, 25.5, -9.25};
    qVDC v;
    v.Int = ints[k % 8];
    if (c_.vdcIntPrec == 24 && k % 3 == 0) v.Int *= 1000;
    if (c_.vdcIntPrec == 32 && k % 3 == 0) v.Int *= 100000;
    v.Double = reals[k % 8];
    return v;
  }
  Exp EV(const qVDC &v) const {
    Exp e{'V'};
    e.a = c_.vdcType == 1 ? v.Double : v.Int;
    return e;
  }
  Exp EP(const qVDC *p) const {
    Exp e{'P'};
    e.a = c_.vdcType == 1 ? p[0].Double : p[0].Int;
    e.b = c_.vdcType == 1 ? p[1].Double : p[1].Int;
    return e;
  }

 private:
  Config c_;
  TempPath path_;
  qWCGM_DATA d_;
  char msg_[QWCGM_MSG_SIZE];
  std::vector<ExpElem> expected_;
};

Exp I(double v) { return Exp{'I', v}; }
Exp E(double v) { return Exp{'E', v}; }
Exp S(const std::string &s) {
  Exp e{'S'};
  e.s = s;
  return e;
}

// The largest value of a colour precision that an int can carry.
int ColourMax(int bits) { return bits >= 31 ? 2147483647 : (1 << bits) - 1; }

// The cell arrays written for one configuration, with the values expected
// back (k values per cell, row after row).
struct CellCase {
  int nx, ny, localPrec, mode;
  std::vector<int> data;      // as passed to qCellArray
  std::vector<int> expanded;  // every cell, row after row
};

std::vector<CellCase> CellCases(const Config &c) {
  const int k = c.colorMode == 1 ? 3 : 1;
  const int defaultPrec = c.colorMode == 1 ? c.colorPrec : c.colorIndexPrec;
  std::vector<CellCase> out;
  // Packed at the metafile's precision, at 8 bits, and at 1, 2 and 4 bits;
  // odd sizes so that rows need pad bytes.
  for (int lp : {0, 8, 1, 2, 4}) {
    int bits = lp == 0 ? defaultPrec : lp;
    CellCase cc{5, 3, lp, 1, {}, {}};
    for (int i = 0; i < cc.nx * cc.ny * k; i++) {
      int v = (i * 37 + 11) % (bits >= 16 ? 60000 : ColourMax(bits) + 1);
      if (bits >= 24 && i % 4 == 0) v = ColourMax(bits);
      cc.data.push_back(v);
    }
    cc.expanded = cc.data;
    out.push_back(cc);
  }
  // Run-length at the metafile's precision and at 4 bits: rows of runs
  // 2 + 1 + 1 and 4.
  for (int lp : {0, 4}) {
    int bits = lp == 0 ? defaultPrec : lp;
    CellCase cc{4, 2, lp, 0, {}, {}};
    const int runs[2][3] = {{2, 1, 1}, {4, 0, 0}};
    int colour = 1;
    for (const auto &row : runs)
      for (int count : row) {
        if (!count) continue;
        cc.data.push_back(count);
        std::vector<int> col;
        for (int j = 0; j < k; j++)
          col.push_back(static_cast<int>((colour++ * 5) % (static_cast<int64_t>(ColourMax(bits)) + 1)));
        cc.data.insert(cc.data.end(), col.begin(), col.end());
        for (int n = 0; n < count; n++) cc.expanded.insert(cc.expanded.end(), col.begin(), col.end());
      }
    out.push_back(cc);
  }
  return out;
}

// Writes one metafile with every element function.
void WriteAll(Writer &w) {
  qWCGM_DATA *d = w.d();
  char *m = w.msg();
  const Config &c = w.c();
  w.Wrote(qBeginMetafile("round trip", d, m), 0, 1, {S("round trip")}, "BEGMF");
  w.Wrote(qVersion(d, m), 1, 1, {I(1)}, "MFVERSION");
  w.Wrote(qDescription("all elements", d, m), 1, 2, {S("all elements")}, "MFDESC");
  w.Wrote(qIntegerPrecision(c.intPrec, d, m), 1, 4, {I(c.intPrec)}, "INTEGERPREC");
  w.Wrote(qVdcType(c.vdcType, d, m), 1, 3, {E(c.vdcType)}, "VDCTYPE");
  const int *rf = kRealForm[c.realCode];
  w.Wrote(qRealPrecision(c.realCode, d, m), 1, 5, {E(rf[0]), I(rf[1]), I(rf[2])}, "REALPREC");
  w.Wrote(qIndexPrecision(c.indexPrec, d, m), 1, 6, {I(c.indexPrec)}, "INDEXPREC");
  w.Wrote(qColorPrecision(c.colorPrec, d, m), 1, 7, {I(c.colorPrec)}, "COLRPREC");
  w.Wrote(qColorIndexPrecision(c.colorIndexPrec, d, m), 1, 8, {I(c.colorIndexPrec)},
          "COLRINDEXPREC");
  int maxIndex = ColourMax(c.colorIndexPrec) / 2;
  w.Wrote(qMaxColorIndex(maxIndex, d, m), 1, 9, {Exp{'c', static_cast<double>(maxIndex)}},
          "MAXCOLRINDEX");
  int cmax = ColourMax(c.colorPrec);
  const int extent[6] = {0, 1, 2, cmax, cmax - 1, cmax - 2};
  w.Wrote(qColorValueExtent(extent, d, m), 1, 10,
          {Exp{'C', 0, 1, 2}, Exp{'C', static_cast<double>(cmax), cmax - 1.0, cmax - 2.0}},
          "COLRVALUEEXT");
  const int list[4] = {4, 9, 4, 10};
  w.Wrote(qMetafileElementsList(d, 0, 0, list, 2, m), 1, 11, {I(2), I(4), I(9), I(4), I(10)},
          "MFELEMLIST");
  w.Wrote(qMetafileElementsList(d, 0, 1, nullptr, 0, m), 1, 11, {I(1), I(-1), I(1)},
          "MFELEMLIST drawing-plus-control set");

  // The defaults replacement: the VDC precision (written by hand, as no
  // element function of the library sets it) and a width mode.
  w.WroteUnchecked(qMetafileDefaultsReplacement(1, d, m), 1, 12, "BEGMFDEFAULTS");
  unsigned char buf[16];
  int ok = 0, n = 0;
  if (c.vdcType == 0 && c.vdcIntPrec != 16) {
    n = EncodeIntBuffer(buf, &c.vdcIntPrec, 1, c.intPrec, &ok, m);
    EXPECT_EQ(WriteElement(3, 1, n, buf, d->Outfile, m), 1);
    d->Cgm.Control.VdcIntegerPrecision = c.vdcIntPrec;
  }
  if (c.vdcType == 1 && c.vdcRealCode != 3) {
    const int *vf = kRealForm[c.vdcRealCode];
    n = EncodeIntBuffer(buf, &vf[0], 1, 16, &ok, m);
    n += EncodeIntBuffer(buf + n, &vf[1], 2, c.intPrec, &ok, m);
    EXPECT_EQ(WriteElement(3, 2, n, buf, d->Outfile, m), 1);
    d->Cgm.Control.VdcRealPrecision = c.vdcRealCode;
  }
  EXPECT_EQ(qEdgeWidthSpecificationMode(0, d, m), 1) << m;
  EXPECT_EQ(qMetafileDefaultsReplacement(0, d, m), 1) << m;

  const char *fonts[2] = {"Helvetica", "Times"};
  w.Wrote(qFontList(2, fonts, d, m), 1, 13, {S("Helvetica"), S("Times")}, "FONTLIST");
  const int types[2] = {0, 1};
  const char *tails[2] = {"B", "A"};
  w.Wrote(qCharacterSetList(types, tails, 2, d, m), 1, 14, {E(0), S("B"), E(1), S("A")},
          "CHARSETLIST");
  w.Wrote(qCharacterCodingAnnouncer(1, d, m), 1, 15, {E(1)}, "CHARCODING");

  w.Wrote(qBeginPicture("picture one", d, m), 0, 3, {S("picture one")}, "BEGPIC");
  w.Wrote(qScalingMode(1, 25.4, d, m), 2, 1,
          {E(1), Exp{'F', static_cast<double>(static_cast<float>(25.4))}}, "SCALEMODE");
  w.Wrote(qColorSelectionMode(c.colorMode, d, m), 2, 2, {E(c.colorMode)}, "COLRMODE");
  w.Wrote(qLineWidthSpecificationMode(0, d, m), 2, 3, {E(0)}, "LINEWIDTHMODE");
  w.Wrote(qMarkerSizeSpecificationMode(1, d, m), 2, 4, {E(1)}, "MARKERSIZEMODE");
  w.Wrote(qEdgeWidthSpecificationMode(1, d, m), 2, 5, {E(1)}, "EDGEWIDTHMODE");
  qVDC c1[2] = {w.V(1), w.V(3)}, c2[2] = {w.V(2), w.V(6)};
  w.Wrote(qVdcExtent(c1, c2, d, m), 2, 6, {w.EP(c1), w.EP(c2)}, "VDCEXT");
  const int bg[3] = {cmax, 0, cmax / 3};
  w.Wrote(qBackgroundColor(bg, d, m), 2, 7,
          {Exp{'C', static_cast<double>(cmax), 0, static_cast<double>(cmax / 3)}}, "BACKCOLR");
  w.Wrote(qBeginPictureBody(d, m), 0, 4, {}, "BEGPICBODY");

  qVDC pts[10];
  for (int i = 0; i < 10; i++) pts[i] = w.V(i);
  std::vector<Exp> three = {w.EP(pts), w.EP(pts + 2), w.EP(pts + 4)};
  w.Wrote(qPolyline(pts, 3, d, m), 4, 1, three, "LINE");
  w.Wrote(qDisjointPolyline(pts, 4, d, m), 4, 2,
          {w.EP(pts), w.EP(pts + 2), w.EP(pts + 4), w.EP(pts + 6)}, "DISJTLINE");
  w.Wrote(qPolyMarker(pts, 1, d, m), 4, 3, {w.EP(pts)}, "MARKER");
  w.Wrote(qPolyline(pts, 0, d, m), 4, 1, {}, "LINE without points");
  w.Wrote(qText(pts, 1, "hello", d, m), 4, 4, {w.EP(pts), E(1), S("hello")}, "TEXT");
  std::string longText(300, 'x');
  w.Wrote(qText(pts + 2, 0, longText.c_str(), d, m), 4, 4, {w.EP(pts + 2), E(0), S(longText)},
          "TEXT long string");
  w.Wrote(qRestrictedText(&pts[4], &pts[5], pts + 6, 0, "r", d, m), 4, 5,
          {w.EV(pts[4]), w.EV(pts[5]), w.EP(pts + 6), E(0), S("r")}, "RESTRTEXT");
  w.Wrote(qAppendText("ap", 1, d, m), 4, 6, {E(1), S("ap")}, "APNDTEXT");
  w.Wrote(qPolygon(pts, 3, d, m), 4, 7, three, "POLYGON");
  const int flags[3] = {1, 0, 3};
  w.Wrote(qPolygonSet(pts, flags, 3, d, m), 4, 8,
          {w.EP(pts), E(1), w.EP(pts + 2), E(0), w.EP(pts + 4), E(3)}, "POLYGONSET");
  w.Wrote(qRectangle(pts, d, m), 4, 11, {w.EP(pts), w.EP(pts + 2)}, "RECT");
  w.Wrote(qCircle(pts, &pts[2], d, m), 4, 12, {w.EP(pts), w.EV(pts[2])}, "CIRCLE");
  w.Wrote(qCircularArc3Point(pts, pts + 2, pts + 4, d, m), 4, 13, three, "ARC3PT");
  std::vector<Exp> closed = three;
  closed.push_back(E(1));
  w.Wrote(qCircularArc3PointClose(pts, pts + 2, pts + 4, 1, d, m), 4, 14, closed, "ARC3PTCLOSE");
  std::vector<Exp> centre = {w.EP(pts), w.EV(pts[2]), w.EV(pts[3]), w.EV(pts[4]), w.EV(pts[5]),
                             w.EV(pts[6])};
  w.Wrote(qCircularArcCenter(pts, &pts[2], &pts[3], &pts[4], &pts[5], &pts[6], d, m), 4, 15,
          centre, "ARCCTR");
  centre.push_back(E(0));
  w.Wrote(qCircularArcCenterClose(pts, &pts[2], &pts[3], &pts[4], &pts[5], &pts[6], 0, d, m), 4,
          16, centre, "ARCCTRCLOSE");
  w.Wrote(qEllipse(pts, pts + 2, pts + 4, d, m), 4, 17, three, "ELLIPSE");
  std::vector<Exp> arc = three;
  for (int i = 6; i < 10; i++) arc.push_back(w.EV(pts[i]));
  w.Wrote(qEllipseArc(pts, pts + 2, pts + 4, &pts[6], &pts[7], &pts[8], &pts[9], d, m), 4, 18, arc,
          "ELLIPARC");
  arc.push_back(E(1));
  w.Wrote(qEllipseArcClose(pts, pts + 2, pts + 4, &pts[6], &pts[7], &pts[8], &pts[9], 1, d, m), 4,
          19, arc, "ELLIPARCCLOSE");
  w.Wrote(qNoopId(5, d, m), 0, 0, {}, "NOOP");

  for (const CellCase &cc : CellCases(c))
    w.WroteUnchecked(qCellArray(pts, pts + 2, pts + 4, cc.nx, cc.ny, cc.localPrec, cc.mode,
                                cc.data.data(), d, m),
                     4, 9, "CELLARRAY");

  // Generalized drawing primitives: trace set-up, trace data, PIP record.
  qWCGM_CGM_PLUS &tp = d->Cgm.CgmPlus;
  tp.Origin[0] = pts[0];
  tp.Origin[1] = pts[1];
  tp.BaseVector[0] = pts[2];
  tp.BaseVector[1] = pts[3];
  tp.AmpVector[0] = pts[4];
  tp.AmpVector[1] = pts[5];
  tp.TraceStepVector[0] = pts[6];
  tp.TraceStepVector[1] = pts[7];
  const double reals[8] = {1.5, -2.25, 0.5, 100.125, 7.75, -7.75, 0.25, -0.25};
  tp.BaseScale = reals[0];
  tp.AmpScale = reals[1];
  tp.TraceStepFactor = reals[2];
  tp.BaselineOffset = reals[3];
  tp.PosClip = reals[4];
  tp.NegClip = reals[5];
  tp.DisplayMode = 3;
  tp.SampleType = c.sampleType;
  tp.SamplesPerTrace = 6;
  tp.PosBkFillBoundary = reals[6];
  tp.NegBkFillBoundary = reals[7];
  tp.Reserved = 0;
  tp.WiggleModulus = 2;
  tp.NullColorIndex = 1;
  tp.TracesPerLocation = 4;
  std::vector<Exp> init = {I(-4), w.EP(tp.Origin), w.EP(tp.BaseVector), w.EP(tp.AmpVector),
                           w.EP(tp.TraceStepVector), I(0)};
  for (int i = 0; i < 6; i++) init.push_back(Exp{'R', reals[i]});
  for (int v : {3, c.sampleType, 6}) init.push_back(I(v));
  init.push_back(Exp{'R', reals[6]});
  init.push_back(Exp{'R', reals[7]});
  for (int v : {0, 2, 1, 4}) init.push_back(I(v));
  w.Wrote(qGdp(-4, d, m), 4, 10, init, "GDP trace set-up");
  std::vector<Exp> data = {I(-5)};
  int count = c.sampleType >= 4 ? 12 : 6;
  for (int i = 0; i < count; i++) {
    int v = (i % 2 ? -1 : 1) * ((i * 17 + 3) % 100);
    if (c.sampleType == 2) {
      tp.TraceData.dTraceData[i] = v * 0.5;
      data.push_back(Exp{'F', v * 0.5});
    } else {
      tp.TraceData.iTraceData[i] = v;
      data.push_back(I(v));
    }
  }
  w.Wrote(qGdp(-5, d, m), 4, 10, data, "GDP trace data");

  qWCGM_CGM_PIP &pip = d->Cgm.CgmPip;
  pip.Origin[0] = pts[8];
  pip.Origin[1] = pts[9];
  pip.GroupId = 5;
  pip.SampleNormExt = 0.75;
  static int isamples[4] = {1, -2, 3, 100};
  static double dsamples[3] = {0.5, -1.25, 8.0};
  static int vacolors[3] = {1, 2, 3};
  static int bkcolors[3] = {10, 20, 30};
  bool realSamples = c.realCode % 2 == 0;
  pip.TypeSamples = realSamples ? 12 : 6;
  pip.iSamples = isamples;
  pip.dSamples = dsamples;
  pip.NumSamples = realSamples ? 3 : 4;
  pip.TypeVaColors = 2;
  pip.VaColors = vacolors;
  pip.NumVaColors = 3;
  pip.TypeBkColors = 3;
  pip.BkColors = bkcolors;
  pip.NumBkColors = 1;
  // The PIP identifier -3000 does not fit 8-bit integers.
  if (c.intPrec > 8)
    w.WrotePrefix(qGdp(-3000, d, m), 4, 10, {I(-3000), I(1), w.EP(pip.Origin)}, "GDP PIP");

  w.Wrote(qEndPicture(d, m), 0, 5, {}, "ENDPIC");
  w.Wrote(qEndMetafile(d, m), 0, 2, {}, "ENDMF");
}

void ExpectValues(const cgmd::Element &e, const std::vector<Exp> &want, const std::string &what,
                  bool prefixOnly) {
  if (prefixOnly)
    ASSERT_GE(e.values.size(), want.size()) << what;
  else
    ASSERT_EQ(e.values.size(), want.size()) << what;
  for (size_t i = 0; i < want.size(); i++) {
    const cgmd::Value &v = e.values[i];
    const Exp &x = want[i];
    ASSERT_EQ(v.t, x.t) << what << " value " << i;
    switch (x.t) {
      case 'S': EXPECT_EQ(v.s, x.s) << what << " value " << i; break;
      case 'C':
        EXPECT_EQ(v.i[0], static_cast<int64_t>(x.a)) << what << " value " << i;
        EXPECT_EQ(v.i[1], static_cast<int64_t>(x.b)) << what << " value " << i;
        EXPECT_EQ(v.i[2], static_cast<int64_t>(x.c)) << what << " value " << i;
        break;
      case 'P':
        EXPECT_EQ(v.Num(0), x.a) << what << " value " << i;
        EXPECT_EQ(v.Num(1), x.b) << what << " value " << i;
        break;
      default: EXPECT_EQ(v.Num(0), x.a) << what << " value " << i; break;
    }
  }
}

class CgmdumpRoundTrip : public ::testing::TestWithParam<Config> {};

TEST_P(CgmdumpRoundTrip, EveryElementFunctionReadsBack) {
  const Config &c = GetParam();
  Writer w(c);
  WriteAll(w);
  Bytes file = w.Close();
  ASSERT_FALSE(file.empty());

  cgmd::CheckResult check = cgmd::Check(file.data(), file.size());
  EXPECT_TRUE(check.ok) << "offset " << check.offset << ": " << check.message;

  cgmd::Walker walker(file.data(), file.size());
  cgmd::Element e;
  std::vector<CellCase> cells = CellCases(c);
  size_t cell = 0;
  for (const ExpElem &x : w.expected()) {
    ASSERT_TRUE(walker.Next(&e)) << x.what << ": " << walker.frameError();
    ASSERT_EQ(e.frame.cls, x.cls) << x.what;
    ASSERT_EQ(e.frame.id, x.id) << x.what;
    EXPECT_TRUE(e.problem.empty()) << x.what << ": " << e.problem;
    if (x.checkValues) ExpectValues(e, x.values, x.what, x.prefixOnly);
    if (x.cls == 1 && x.id == 12) {
      // The defaults replacement holds the VDC precision and a width mode.
      ASSERT_FALSE(e.children.empty());
      const cgmd::Element &last = e.children.back();
      EXPECT_EQ(last.frame.cls, 2);
      EXPECT_EQ(last.frame.id, 5);
      size_t expectChildren = 1 + ((c.vdcType == 0 && c.vdcIntPrec != 16) ||
                                   (c.vdcType == 1 && c.vdcRealCode != 3));
      EXPECT_EQ(e.children.size(), expectChildren);
      if (expectChildren == 2) {
        const cgmd::Element &prec = e.children[0];
        EXPECT_EQ(prec.frame.cls, 3);
        if (c.vdcType == 0) {
          EXPECT_EQ(prec.values[0].i[0], c.vdcIntPrec);
        } else {
          EXPECT_EQ(prec.values[0].i[0], kRealForm[c.vdcRealCode][0]);
          EXPECT_EQ(prec.values[1].i[0], kRealForm[c.vdcRealCode][1]);
          EXPECT_EQ(prec.values[2].i[0], kRealForm[c.vdcRealCode][2]);
        }
      }
    }
    if (x.cls == 4 && x.id == 9) {
      const CellCase &cc = cells[cell++];
      SCOPED_TRACE("cell array " + std::to_string(cell));
      ASSERT_TRUE(e.decoded) << e.problem;
      EXPECT_EQ(e.cells.nx, cc.nx);
      EXPECT_EQ(e.cells.ny, cc.ny);
      EXPECT_EQ(e.cells.localPrec, cc.localPrec);
      EXPECT_EQ(e.cells.mode, cc.mode);
      EXPECT_EQ(e.cells.k, c.colorMode == 1 ? 3 : 1);
      std::vector<int64_t> got;
      std::string error;
      ASSERT_TRUE(cgmd::ExpandCells(e, 1000, &got, &error)) << error;
      ASSERT_EQ(got.size(), cc.expanded.size());
      for (size_t i = 0; i < got.size(); i++) EXPECT_EQ(got[i], cc.expanded[i]) << "cell value " << i;
    }
    if (x.cls == 4 && x.id == 10 && x.values[0].a == -3000) {
      ASSERT_EQ(e.values.size(), 4u);  // identifier, count, point, record
      ASSERT_EQ(e.sdr.size(), 5u);
      EXPECT_EQ(e.sdr[0].type, 6);
      EXPECT_EQ(e.sdr[0].values[0].i[0], 5);
      EXPECT_EQ(e.sdr[1].type, 12);
      EXPECT_EQ(e.sdr[1].values[0].d[0], 0.75);
      const qWCGM_CGM_PIP &pip = w.d()->Cgm.CgmPip;
      ASSERT_EQ(e.sdr[2].count, pip.NumSamples);
      for (int i = 0; i < pip.NumSamples; i++)
        EXPECT_EQ(e.sdr[2].values[static_cast<size_t>(i)].Num(0),
                  pip.TypeSamples == 12 ? pip.dSamples[i] : pip.iSamples[i]);
      EXPECT_EQ(e.sdr[3].type, 2);
      ASSERT_EQ(e.sdr[3].count, 3);
      for (int i = 0; i < 3; i++) EXPECT_EQ(e.sdr[3].values[static_cast<size_t>(i)].i[0], i + 1);
      EXPECT_EQ(e.sdr[4].type, 3);
      ASSERT_EQ(e.sdr[4].count, 1);
      EXPECT_EQ(e.sdr[4].values[0].i[0], 10);
      EXPECT_EQ(e.sdr[4].values[0].i[1], 20);
      EXPECT_EQ(e.sdr[4].values[0].i[2], 30);
    }
  }
  EXPECT_FALSE(walker.Next(&e)) << "elements beyond those written";
  EXPECT_TRUE(walker.frameError().empty()) << walker.frameError();
}

INSTANTIATE_TEST_SUITE_P(Precisions, CgmdumpRoundTrip, ::testing::ValuesIn(kConfigs),
                         [](const ::testing::TestParamInfo<Config> &param) {
                           std::string n = param.param.name;
                           for (char &ch : n)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

// Elements longer than one partition: a cell array of 40000 bytes and a
// trace of 20000 32-bit samples read back whole.
TEST(CgmdumpRoundTripLong, PartitionedElementsReadBack) {
  Config c = kConfigs[1];
  Writer w(c);
  qWCGM_DATA *d = w.d();
  char *m = w.msg();
  ASSERT_EQ(qBeginMetafile("long", d, m), 1);
  ASSERT_EQ(qBeginPicture("p", d, m), 1);
  ASSERT_EQ(qColorSelectionMode(1, d, m), 1);
  ASSERT_EQ(qBeginPictureBody(d, m), 1);
  const int nx = 3333, ny = 4;  // 3 bytes per cell: 39996 bytes of rows
  std::vector<int> cells(static_cast<size_t>(nx * ny * 3));
  for (size_t i = 0; i < cells.size(); i++) cells[i] = static_cast<int>((i * 7) % 256);
  qVDC p[2] = {{0, 0}, {0, 0}}, q[2] = {{100, 0}, {50, 0}}, r[2] = {{100, 0}, {0, 0}};
  ASSERT_EQ(qCellArray(p, q, r, nx, ny, 8, 1, cells.data(), d, m), 1) << m;
  qWCGM_CGM_PLUS &tp = d->Cgm.CgmPlus;
  std::memset(&tp, 0, sizeof tp);
  tp.SampleType = 1;
  tp.SamplesPerTrace = 20000;
  ASSERT_EQ(qGdp(-4, d, m), 1) << m;
  for (int i = 0; i < 20000; i++) tp.TraceData.iTraceData[i] = i * 99991 - 1000000;
  ASSERT_EQ(qGdp(-5, d, m), 1) << m;
  ASSERT_EQ(qEndPicture(d, m), 1);
  ASSERT_EQ(qEndMetafile(d, m), 1);
  Bytes file = w.Close();
  cgmd::CheckResult check = cgmd::Check(file.data(), file.size());
  EXPECT_TRUE(check.ok) << check.offset << ": " << check.message;
  cgmd::Walker walker(file.data(), file.size());
  cgmd::Element e;
  int seen = 0;
  while (walker.Next(&e)) {
    if (e.isCellArray) {
      seen++;
      EXPECT_GE(e.frame.partitions, 2);
      std::vector<int64_t> got;
      std::string error;
      ASSERT_TRUE(cgmd::ExpandCells(e, cells.size(), &got, &error)) << error;
      for (size_t i = 0; i < got.size(); i++) ASSERT_EQ(got[i], cells[i]) << i;
    }
    if (e.gdpKind == -5) {
      seen++;
      EXPECT_EQ(e.frame.partitions, 3);
      ASSERT_EQ(e.values.size(), 20001u);
      for (int i = 0; i < 20000; i++)
        ASSERT_EQ(e.values[static_cast<size_t>(i) + 1].i[0], i * 99991 - 1000000) << i;
    }
  }
  EXPECT_EQ(seen, 2);
  EXPECT_TRUE(walker.frameError().empty()) << walker.frameError();
}

}  // namespace
