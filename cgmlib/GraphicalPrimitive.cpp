// Graphical primitive elements (class 4): cell arrays, point lists and text,
// circles, arcs and ellipses, and the generalized drawing primitive.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "QuilPrivate.h"

// ==========================================================================
// CELL ARRAY
// ==========================================================================
// ---- cell array: begin ----
//
// CELL ARRAY (class 4, id 9), parameter list:
//   P, Q, R                  three corner points, two VDC values each
//   nx, ny                   integers (IntegerPrecision)
//   local colour precision   integer; 0 means the metafile's colour
//                            precision (direct) or colour index precision
//   cell representation mode enumeration: 0 run-length, 1 packed
//   rows 1..ny               each starting at an even offset of the list: a
//                            zero byte goes before a row that would start at
//                            an odd one
// Rows are encoded by EncodeCellData.  The list is checked against the work
// buffer piece by piece, before each piece is encoded: the fixed part, then
// each packed row (its size is known), or each run of a run-length row
// (count and colours).  Nothing reaches the stream until the whole list is
// encoded, so every refusal leaves the metafile as it was.

static int IsLocalColorPrecision(int p) {
  switch (p) {
    case 0: case 1: case 2: case 4: case 8: case 16: case 24: case 32:
      return 1;
    default:
      return 0;
  }
}

// Bytes that `values` colour values take when encoded together at precision
// p.  A precision the encoders refuse counts 0: they refuse it before
// writing anything.
static int64_t CellColourBytes(int64_t values, int p) {
  switch (p) {
    case 1: case 2: case 4: return (values * p + 7) / 8;
    case 8: case 16: case 24: case 32: return values * (p / 8);
    default: return 0;
  }
}

// Walks the run-length row that starts at cells[cursor], as EncodeCellData
// will, placing its runs from offset `start`.  Returns 1 when every run fits
// into the work buffer (or the walk meets a count of 0 or less, which the
// encoder reports).  Otherwise returns 0 with *end the offset past the
// first run that does not fit and *cellsBefore the cells of the runs before
// it.
static int RunRowFits(int64_t start, int nx, const int *cells, int cursor,
                      int k, int64_t runBytes, int64_t *end,
                      int *cellsBefore) {
  int64_t at = start;
  int64_t total = 0;
  int64_t c = cursor;
  while (total < nx) {
    const int count = cells[c];
    if (count <= 0) return 1;
    if (at + runBytes > QWCGM_WORK_BUFFER_SIZE) {
      *end = at + runBytes;
      *cellsBefore = static_cast<int>(total);
      return 0;
    }
    at += runBytes;
    total += count;
    c += 1 + k;
  }
  return 1;
}

int qCellArray(const qVDC *p, const qVDC *q, const qVDC *r, int nx, int ny,
               int localColorPrecision, int mode, const int *cells,
               qWCGM_DATA *data, char *msg) {
  if (!IsLocalColorPrecision(localColorPrecision)) {
    qSetMsg(msg, "Invalid Local Color Precision: %d\n", localColorPrecision);
    return 0;
  }
  if (nx <= 0) {
    qSetMsg(msg, "Invalid Value For Nx: %d\n", nx);
    return 0;
  }
  if (ny <= 0) {
    qSetMsg(msg, "Invalid Value For Ny: %d\n", ny);
    return 0;
  }
  if (mode != 0 && mode != 1) {
    qSetMsg(msg, "Invalid Cell Representation Mode: %d\n", mode);
    return 0;
  }

  const qWCGM_METAFILE_DESCRIPTOR_DATA *md = &data->Cgm.MetafileDescriptor;
  const qWCGM_CONTROL_DATA *control = &data->Cgm.Control;
  const int intPrecision = md->IntegerPrecision;
  unsigned char *buf = data->WorkBuffer;
  int ok = 1;

  if (!qFitsWorkBuffer(6 * qVdcBytes(data) + 3 * qIntBytes(intPrecision) +
                           qIntBytes(md->EnumPrecision),
                       msg))
    return 0;
  int len = 0;
  const qVDC *corners[3] = {p, q, r};
  for (const qVDC *corner : corners) {
    len += EncodeVdc(corner, 2, buf + len, md->VdcType,
                     control->VdcIntegerPrecision, control->VdcRealPrecision,
                     &ok, msg);
    if (!ok) return 0;
  }
  const int sizes[3] = {nx, ny, localColorPrecision};
  len += EncodeIntBuffer(buf + len, sizes, 3, intPrecision, &ok, msg);
  if (!ok) return 0;
  len += EncodeIntBuffer(buf + len, &mode, 1, md->EnumPrecision, &ok, msg);
  if (!ok) return 0;

  const int direct = data->Cgm.PictureDescriptor.ColorSelectionMode != 0;
  const int k = direct ? 3 : 1;
  int colorPrecision = localColorPrecision;
  if (colorPrecision == 0)
    colorPrecision = direct ? md->ColorPrecision : md->ColorIndexPrecision;
  const int64_t packedRowBytes =
      CellColourBytes(static_cast<int64_t>(nx) * k, colorPrecision);
  const int64_t runBytes =
      qIntBytes(intPrecision) + CellColourBytes(k, colorPrecision);

  int cursor = 0;
  for (int row = 0; row < ny; row++) {
    const int pad = len & 1;
    if (mode == 1) {
      if (!qFitsWorkBuffer(len + pad + packedRowBytes, msg)) return 0;
    } else {
      int64_t end = 0;
      int cellsBefore = 0;
      if (!RunRowFits(len + pad, nx, cells, cursor, k, runBytes, &end,
                      &cellsBefore)) {
        // The runs before the one that does not fit are encoded first, so
        // that a fault in them is reported as it would be without the
        // limit; they fit.  Then the buffer refuses the rest.
        if (cellsBefore > 0) {
          int at = cursor;
          EncodeCellData(buf + len + pad, cellsBefore, cells, &at, 0, direct,
                         colorPrecision, intPrecision, &ok, msg);
          if (!ok) return 0;
        }
        qFitsWorkBuffer(end, msg);
        return 0;
      }
    }
    if (pad) buf[len++] = 0;
    len += EncodeCellData(buf + len, nx, cells, &cursor, mode, direct,
                          colorPrecision, intPrecision, &ok, msg);
    if (!ok) return 0;
  }
  return WriteElement(4, 9, len, buf, data->Outfile, msg) ? 1 : 0;
}
// ---- cell array: end ----

// ==========================================================================
// Point-list and text primitives, circles, arcs and ellipses
// ==========================================================================
// ---- primitives: begin ----
//
// Class 4 elements whose parameters are point lists, texts, circles, arcs
// and ellipses.  Each follows one pattern: check the fixed-range flags,
// size the whole parameter list in 64 bits and refuse it when it would not
// fit the work buffer, encode the parameters in element order into the work
// buffer from offset 0, then hand the list to WriteElement in one call, so
// a refused element leaves the stream untouched.  A point is two qVDC (x,
// then y); which half of a qVDC is written follows the writer's VDC type.
// No count of points is written: the element length tells it.

// VDC values at the writer's VDC type and precisions.
static int PrimVdc(const qVDC *values, int count, unsigned char *dst,
                   qWCGM_DATA *d, int *ok, char *msg) {
  return EncodeVdc(values, count, dst, d->Cgm.MetafileDescriptor.VdcType,
                   d->Cgm.Control.VdcIntegerPrecision,
                   d->Cgm.Control.VdcRealPrecision, ok, msg);
}

// Writes class 4 element `id` made of `count` VDC values, then one
// enumerated value when `flag` is not null, then one string when `text` is
// not null.  IN assertion: the range check of *flag has been made.
static int PrimElement(int id, const qVDC *vdc, int64_t count, const int *flag,
                       const char *text, qWCGM_DATA *d, char *msg) {
  const int enumPrecision = d->Cgm.MetafileDescriptor.EnumPrecision;
  if (count < 0) count = 0;
  const int64_t textLength =
      text != nullptr ? static_cast<int64_t>(std::strlen(text)) : 0;
  int64_t size = count * qVdcBytes(d);
  if (flag != nullptr) size += qIntBytes(enumPrecision);
  if (text != nullptr) size += qStringBytes(textLength);
  if (!qFitsWorkBuffer(size, msg)) return 0;

  // Past the check every count fits in an int: the buffer holds 512000
  // bytes and every value takes at least one.
  unsigned char *buf = d->WorkBuffer;
  int ok = 1;
  int length = PrimVdc(vdc, static_cast<int>(count), buf, d, &ok, msg);
  if (!ok) return 0;
  if (flag != nullptr) {
    length += EncodeIntBuffer(buf + length, flag, 1, enumPrecision, &ok, msg);
    if (!ok) return 0;
  }
  if (text != nullptr)
    length += EncodeString(text, buf + length, static_cast<int>(textLength));
  return WriteElement(4, id, length, buf, d->Outfile, msg);
}

// A point list of n points (2n VDC values); n <= 0 gives the empty element.
static int PrimPoints(int id, const qVDC *points, int n, qWCGM_DATA *d,
                      char *msg) {
  return PrimElement(id, points, 2 * static_cast<int64_t>(n), nullptr, nullptr,
                     d, msg);
}

// A missing text is written as the empty string.
static const char *PrimText(const char *text) {
  return text != nullptr ? text : "";
}

int qPolyline(const qVDC *points, int n, qWCGM_DATA *data, char *msg) {
  return PrimPoints(1, points, n, data, msg);
}

int qDisjointPolyline(const qVDC *points, int n, qWCGM_DATA *data, char *msg) {
  return PrimPoints(2, points, n, data, msg);
}

int qPolyMarker(const qVDC *points, int n, qWCGM_DATA *data, char *msg) {
  return PrimPoints(3, points, n, data, msg);
}

int qPolygon(const qVDC *points, int n, qWCGM_DATA *data, char *msg) {
  return PrimPoints(7, points, n, data, msg);
}

// TEXT: point, final flag (enumerated), string.
int qText(const qVDC *point, int final, const char *text, qWCGM_DATA *data,
          char *msg) {
  if (final != 0 && final != 1) {
    qSetMsg(msg, "Invalid Value for Final/Not Final-Flag: %d\n", final);
    return 0;
  }
  return PrimElement(4, point, 2, &final, PrimText(text), data, msg);
}

// RESTRICTED TEXT: delta width, delta height, point, final flag, string.
// A bad flag is reported on standard output; the message buffer keeps
// whatever it held.
int qRestrictedText(const qVDC *deltaWidth, const qVDC *deltaHeight,
                    const qVDC *point, int final, const char *text,
                    qWCGM_DATA *data, char *msg) {
  if (final != 0 && final != 1) {
    std::printf("Invalid Value for Final/Not Final-Flag: %d\n", final);
    return 0;
  }
  const qVDC values[4] = {*deltaWidth, *deltaHeight, point[0], point[1]};
  return PrimElement(5, values, 4, &final, PrimText(text), data, msg);
}

// APPEND TEXT takes the text first but writes the flag first.
int qAppendText(const char *text, int final, qWCGM_DATA *data, char *msg) {
  if (final != 0 && final != 1) {
    qSetMsg(msg, "Invalid Value for Final/Not Final-Flag: %d", final);
    return 0;
  }
  return PrimElement(6, nullptr, 0, &final, PrimText(text), data, msg);
}

// POLYGON SET: for each point, the point then its edge-out flag (0 to 3),
// interleaved from the two arrays the caller passes.
int qPolygonSet(const qVDC *points, const int *edgeOutFlags, int n,
                qWCGM_DATA *data, char *msg) {
  const int enumPrecision = data->Cgm.MetafileDescriptor.EnumPrecision;
  if (n < 0) n = 0;
  if (!qFitsWorkBuffer(static_cast<int64_t>(n) *
                           (2 * qVdcBytes(data) + qIntBytes(enumPrecision)),
                       msg))
    return 0;
  unsigned char *buf = data->WorkBuffer;
  int length = 0;
  int ok = 1;
  for (int i = 0; i < n; i++) {
    length += PrimVdc(points + 2 * i, 2, buf + length, data, &ok, msg);
    if (!ok) return 0;
    if (edgeOutFlags[i] < 0 || edgeOutFlags[i] > 3) {
      qSetMsg(msg, "Invalid Value in EdgeOutFlags[%d] : %d\n", i,
              edgeOutFlags[i]);
      return 0;
    }
    length += EncodeIntBuffer(buf + length, edgeOutFlags + i, 1, enumPrecision,
                              &ok, msg);
    if (!ok) return 0;
  }
  return WriteElement(4, 8, length, buf, data->Outfile, msg);
}

// RECTANGLE: first corner x, y, second corner x, y.
int qRectangle(const qVDC *corners, qWCGM_DATA *data, char *msg) {
  return PrimElement(11, corners, 4, nullptr, nullptr, data, msg);
}

// Circles, arcs and ellipses: every coordinate, vector component and
// radius is written as passed; nothing is computed or checked but the
// close type (0 pie, 1 chord) of the close variants.

int qCircle(const qVDC *center, const qVDC *radius, qWCGM_DATA *data,
            char *msg) {
  const qVDC values[3] = {center[0], center[1], *radius};
  return PrimElement(12, values, 3, nullptr, nullptr, data, msg);
}

int qCircularArc3Point(const qVDC *start, const qVDC *middle, const qVDC *end,
                       qWCGM_DATA *data, char *msg) {
  const qVDC values[6] = {start[0], start[1], middle[0],
                          middle[1], end[0], end[1]};
  return PrimElement(13, values, 6, nullptr, nullptr, data, msg);
}

int qCircularArc3PointClose(const qVDC *start, const qVDC *middle,
                            const qVDC *end, int closeType, qWCGM_DATA *data,
                            char *msg) {
  if (closeType != 0 && closeType != 1) {
    qSetMsg(msg, "Invalid Closure Type: %d\n", closeType);
    return 0;
  }
  const qVDC values[6] = {start[0], start[1], middle[0],
                          middle[1], end[0], end[1]};
  return PrimElement(14, values, 6, &closeType, nullptr, data, msg);
}

int qCircularArcCenter(const qVDC *center, const qVDC *startDx,
                       const qVDC *startDy, const qVDC *endDx,
                       const qVDC *endDy, const qVDC *radius, qWCGM_DATA *data,
                       char *msg) {
  const qVDC values[7] = {center[0], center[1], *startDx, *startDy,
                          *endDx,    *endDy,    *radius};
  return PrimElement(15, values, 7, nullptr, nullptr, data, msg);
}

int qCircularArcCenterClose(const qVDC *center, const qVDC *startDx,
                            const qVDC *startDy, const qVDC *endDx,
                            const qVDC *endDy, const qVDC *radius,
                            int closeType, qWCGM_DATA *data, char *msg) {
  if (closeType != 0 && closeType != 1) {
    qSetMsg(msg, "Invalid Closure Type: %d\n", closeType);
    return 0;
  }
  const qVDC values[7] = {center[0], center[1], *startDx, *startDy,
                          *endDx,    *endDy,    *radius};
  return PrimElement(16, values, 7, &closeType, nullptr, data, msg);
}

int qEllipse(const qVDC *center, const qVDC *first, const qVDC *second,
             qWCGM_DATA *data, char *msg) {
  const qVDC values[6] = {center[0], center[1], first[0],
                          first[1],  second[0], second[1]};
  return PrimElement(17, values, 6, nullptr, nullptr, data, msg);
}

int qEllipseArc(const qVDC *center, const qVDC *first, const qVDC *second,
                const qVDC *startDx, const qVDC *startDy, const qVDC *endDx,
                const qVDC *endDy, qWCGM_DATA *data, char *msg) {
  const qVDC values[10] = {center[0], center[1], first[0], first[1],
                           second[0], second[1], *startDx, *startDy,
                           *endDx,    *endDy};
  return PrimElement(18, values, 10, nullptr, nullptr, data, msg);
}

// Unlike the two circular close variants, this message has no line feed.
int qEllipseArcClose(const qVDC *center, const qVDC *first,
                     const qVDC *second, const qVDC *startDx,
                     const qVDC *startDy, const qVDC *endDx,
                     const qVDC *endDy, int closeType, qWCGM_DATA *data,
                     char *msg) {
  if (closeType != 0 && closeType != 1) {
    qSetMsg(msg, "Invalid Closure Type: %d", closeType);
    return 0;
  }
  const qVDC values[10] = {center[0], center[1], first[0], first[1],
                           second[0], second[1], *startDx, *startDy,
                           *endDx,    *endDy};
  return PrimElement(19, values, 10, &closeType, nullptr, data, msg);
}
// ---- primitives: end ----

// ==========================================================================
// Generalized drawing primitive
// ==========================================================================
// ---- gdp: begin ----
//
// GENERALIZED DRAWING PRIMITIVE (class 4, id 10) for three identifiers:
//   -4     trace initialisation: the seismic trace set-up of Cgm.CgmPlus;
//   -5     trace data: the samples of one trace from CgmPlus.TraceData;
//   -3000  PIP: identifier, 1, the point CgmPip.Origin, and a structured
//          data record of five members written as one string parameter.
//
// Trace data is refused until a trace initialisation has been encoded in
// this process.  The flag is one for the whole process, shared by every
// writer state record and never set back: a trace initialisation written
// into one metafile lets trace data follow in any metafile opened later.
static int FirstCall = 1;

// Appends values to the parameter list in the work buffer.  After the first
// failure every later call does nothing, so a run of fields is encoded and
// checked once, and the first failure's message stays in the buffer.
struct GdpList {
  qWCGM_DATA *d;
  char *msg;
  int length;
  int ok;
};

static void GdpInts(GdpList *l, const int *values, int count, int precision) {
  if (!l->ok) return;
  l->length += EncodeIntBuffer(l->d->WorkBuffer + l->length, values, count,
                               precision, &l->ok, l->msg);
}

// One integer at IntegerPrecision.
static void GdpInt(GdpList *l, int value) {
  GdpInts(l, &value, 1, l->d->Cgm.MetafileDescriptor.IntegerPrecision);
}

static void GdpReals(GdpList *l, const double *values, int count, int code) {
  if (!l->ok) return;
  l->length += EncodeRealBuffer(l->d->WorkBuffer + l->length, values, count,
                                code, &l->ok, l->msg);
}

// One real at RealPrecision.
static void GdpReal(GdpList *l, double value) {
  GdpReals(l, &value, 1, l->d->Cgm.MetafileDescriptor.RealPrecision);
}

// One point at the writer's VDC type and precisions.
static void GdpPoint(GdpList *l, const qVDC *point) {
  if (!l->ok) return;
  qWCGM_DATA *d = l->d;
  l->length += EncodeVdc(point, 2, d->WorkBuffer + l->length,
                         d->Cgm.MetafileDescriptor.VdcType,
                         d->Cgm.Control.VdcIntegerPrecision,
                         d->Cgm.Control.VdcRealPrecision, &l->ok, l->msg);
}

static int GdpWrite(const GdpList *l) {
  return WriteElement(4, 10, l->length, l->d->WorkBuffer, l->d->Outfile,
                      l->msg);
}

// Trace initialisation: identifier, four points, the constant 0, six
// reals, three integers, two reals, four integers, with no count and no
// string framing.  NullColorIndex goes at IntegerPrecision like the rest.
static int GdpTraceInit(qWCGM_DATA *d, char *msg) {
  const qWCGM_CGM_PLUS &p = d->Cgm.CgmPlus;
  const int64_t intBytes = qIntBytes(d->Cgm.MetafileDescriptor.IntegerPrecision);
  const int64_t realBytes = qRealBytes(d->Cgm.MetafileDescriptor.RealPrecision);
  if (!qFitsWorkBuffer(9 * intBytes + 8 * qVdcBytes(d) + 8 * realBytes, msg))
    return 0;
  GdpList l = {d, msg, 0, 1};
  GdpInt(&l, -4);
  GdpPoint(&l, p.Origin);
  GdpPoint(&l, p.BaseVector);
  GdpPoint(&l, p.AmpVector);
  GdpPoint(&l, p.TraceStepVector);
  GdpInt(&l, 0);
  GdpReal(&l, p.BaseScale);
  GdpReal(&l, p.AmpScale);
  GdpReal(&l, p.TraceStepFactor);
  GdpReal(&l, p.BaselineOffset);
  GdpReal(&l, p.PosClip);
  GdpReal(&l, p.NegClip);
  GdpInt(&l, p.DisplayMode);
  GdpInt(&l, p.SampleType);
  GdpInt(&l, p.SamplesPerTrace);
  GdpReal(&l, p.PosBkFillBoundary);
  GdpReal(&l, p.NegBkFillBoundary);
  GdpInt(&l, p.Reserved);
  GdpInt(&l, p.WiggleModulus);
  GdpInt(&l, p.NullColorIndex);
  GdpInt(&l, p.TracesPerLocation);
  if (!l.ok) return 0;
  // Set before the write: the set-up is complete once it has encoded.
  FirstCall = 0;
  return GdpWrite(&l);
}

// Trace data: the identifier, then the samples by SampleType:
//   0: n ints at 16 bits      3: n ints at 8 bits
//   1: n ints at 32 bits      4: 2n ints at 16 bits
//   2: n reals at code 1      5: 2n ints at 8 bits
// Any other type (compared as unsigned, so negative ones too) gives the
// identifier alone.  Neither the type nor the count is written.
static int GdpTraceData(qWCGM_DATA *d, char *msg) {
  if (FirstCall) {
    std::printf("Trace Data Must Be Preceeded By Trace Init Gdp\n");
    return 0;
  }
  const qWCGM_CGM_PLUS &p = d->Cgm.CgmPlus;
  const unsigned int type = static_cast<unsigned int>(p.SampleType);
  static const int kBits[6] = {16, 32, 0, 8, 16, 8};
  int values = 0;
  int64_t sampleBytes = 0;
  if (type <= 5) {
    // TraceData has 32767 slots; types 4 and 5 read two per sample.
    const int limit = type >= 4 ? QWCGM_TRACE_SLOTS / 2 : QWCGM_TRACE_SLOTS;
    if (p.SamplesPerTrace < 0 || p.SamplesPerTrace > limit) {
      qSetMsg(msg, "Invalid Samples Per Trace: %d\n", p.SamplesPerTrace);
      return 0;
    }
    values = type >= 4 ? 2 * p.SamplesPerTrace : p.SamplesPerTrace;
    sampleBytes = type == 2 ? 4 : kBits[type] / 8;
  }
  if (!qFitsWorkBuffer(
          qIntBytes(d->Cgm.MetafileDescriptor.IntegerPrecision) +
              values * sampleBytes,
          msg))
    return 0;
  GdpList l = {d, msg, 0, 1};
  GdpInt(&l, -5);
  if (type == 2)
    GdpReals(&l, p.TraceData.dTraceData, values, 1);
  else if (type <= 5)
    GdpInts(&l, p.TraceData.iTraceData, values, kBits[type]);
  if (!l.ok) return 0;
  return GdpWrite(&l);
}

// Bits of one structured data record member (type code, count, values) at
// the current precisions.  Each term is taken as at least 0, so that a
// precision field holding nonsense can only make the estimate larger than
// what EncodeSDR writes (the encoders refuse such precisions before
// writing), never smaller.
static int64_t GdpMemberBits(int code, int count, qWCGM_DATA *d) {
  const qWCGM_METAFILE_DESCRIPTOR_DATA &md = d->Cgm.MetafileDescriptor;
  const int64_t typeBits = md.EnumPrecision > 0 ? md.EnumPrecision : 0;
  const int64_t countBits = md.IntegerPrecision > 0 ? md.IntegerPrecision : 0;
  const int valueBits = GetSDRTypePrecision(code, d);
  return typeBits + countBits +
         static_cast<int64_t>(count) * (valueBits > 0 ? valueBits : 0);
}

// PIP: identifier, number of points (1), the point, and the data record
// as a string parameter.  The record is encoded into TempBuffer, sized from
// the precisions, and copied from there into the work buffer.
static int GdpPip(qWCGM_DATA *d, char *msg) {
  const qWCGM_CGM_PIP &pip = d->Cgm.CgmPip;
  const int counts[3] = {pip.NumSamples, pip.NumVaColors, pip.NumBkColors};
  for (int count : counts) {
    if (count < 0) {
      qSetMsg(msg, "Invalid PIP Count: %d\n", count);
      return 0;
    }
  }
  const int64_t bits = GdpMemberBits(6, 1, d) + GdpMemberBits(12, 1, d) +
                       GdpMemberBits(pip.TypeSamples, pip.NumSamples, d) +
                       GdpMemberBits(pip.TypeVaColors, pip.NumVaColors, d) +
                       GdpMemberBits(pip.TypeBkColors, pip.NumBkColors, d);
  const int64_t recordBytes = (bits + 7) / 8;
  if (!qFitsWorkBuffer(
          2 * qIntBytes(d->Cgm.MetafileDescriptor.IntegerPrecision) +
              2 * qVdcBytes(d) + qStringBytes(recordBytes),
          msg))
    return 0;

  GdpList l = {d, msg, 0, 1};
  GdpInt(&l, -3000);
  GdpInt(&l, 1);
  GdpPoint(&l, pip.Origin);
  if (!l.ok) return 0;

  // From here on every path releases TempBuffer.
  const int tempSize = static_cast<int>(recordBytes);
  unsigned char *TempBuffer = static_cast<unsigned char *>(
      std::malloc(static_cast<size_t>(tempSize > 0 ? tempSize : 1)));
  if (TempBuffer == nullptr) {
    qSetMsg(msg, "%%QLW-F-MALLOC, TempBuffer (%d bytes)\n", tempSize);
    return 0;
  }
  int used = 0;
  int ok = 1;
  used += EncodeSDR(&pip.GroupId, nullptr, 6, 1, TempBuffer + used, d, &ok,
                    msg);
  if (ok)
    used += EncodeSDR(nullptr, &pip.SampleNormExt, 12, 1, TempBuffer + used, d,
                      &ok, msg);
  if (ok)
    used += EncodeSDR(pip.iSamples, pip.dSamples, pip.TypeSamples,
                      pip.NumSamples, TempBuffer + used, d, &ok, msg);
  if (ok)
    used += EncodeSDR(pip.VaColors, nullptr, pip.TypeVaColors, pip.NumVaColors,
                      TempBuffer + used, d, &ok, msg);
  if (ok)
    used += EncodeSDR(pip.BkColors, nullptr, pip.TypeBkColors, pip.NumBkColors,
                      TempBuffer + used, d, &ok, msg);
  if (ok)
    l.length += EncodeString(reinterpret_cast<const char *>(TempBuffer),
                             d->WorkBuffer + l.length, used);
  std::free(TempBuffer);
  if (!ok) return 0;
  return GdpWrite(&l);
}

int qGdp(int id, qWCGM_DATA *data, char *msg) {
  if (id == -4) return GdpTraceInit(data, msg);
  if (id == -5) return GdpTraceData(data, msg);
  if (id == -3000) return GdpPip(data, msg);
  qSetMsg(msg, "Unrecognized Gdp Identifier: %d\n", id);
  return 0;
}
// ---- gdp: end ----
