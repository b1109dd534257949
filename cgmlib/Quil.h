/*
 * Quil.h -- writer of Computer Graphics Metafiles in the binary encoding
 * (ISO/IEC 8632-3).
 *
 * One function per CGM element, plus the parameter encoders, the element
 * framing helpers, the cell row compressors and the structured data record
 * helpers they are built on.  Every element function takes the writer state
 * record and a caller-owned message buffer of QWCGM_MSG_SIZE bytes as its last
 * two arguments (qMetafileElementsList alone takes the record first), returns
 * 1 on success and 0 on failure, and on failure leaves exactly one message in
 * the buffer.  Nothing of an element reaches the stream unless all of its
 * parameters were accepted.
 *
 * The header is plain C (C99) and may be included from C++; every entry point
 * has C linkage.
 */
#ifndef QUIL_H
#define QUIL_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QWCGM_VERSION_STRING "1.0.3"

/* Size of the work buffer into which one element's parameter list is
   encoded; a parameter list longer than this is refused. */
#define QWCGM_WORK_BUFFER_SIZE 512000

/* Size of the caller's message buffer, terminating NUL included. */
#define QWCGM_MSG_SIZE 256

/* Number of sample slots of a trace (qWCGM_CGM_PLUS.TraceData). */
#define QWCGM_TRACE_SLOTS 32767

/* One VDC value in both of its forms; encoders read Int when the metafile's
   VDC type is 0 (integer) and Double when it is 1 (real).  A point is two
   consecutive qVDC, x then y. */
typedef struct {
  int Int;
  double Double;
} qVDC;

typedef struct {
  int VdcType;
  int IntegerPrecision;
  int RealPrecision;
  int IndexPrecision;
  int EnumPrecision;
  int ColorPrecision;
  int ColorIndexPrecision;
  int MaxColorIndex;
  int ColorValueExtent[6];
} qWCGM_METAFILE_DESCRIPTOR_DATA;

typedef struct {
  int ScalingMode;
  double MetricScaleValue;
  int ColorSelectionMode;
  int LineWidthSpecificationMode;
  int MarkerSizeSpecificationMode;
  int EdgeWidthSpecificationMode;
  qVDC VdcExtent[4];
} qWCGM_PICTURE_DESCRIPTOR_DATA;

typedef struct {
  int VdcIntegerPrecision;
  int VdcRealPrecision;
  int AuxiliaryColor[3];
  int Transparency;
  qVDC ClipRectangle[4];
  int ClipIndicator;
} qWCGM_CONTROL_DATA;

typedef struct {
  int LineBundleIndex;
  int LineType;
  qVDC LineWidth;
  int LineColor[3];
  int MarkerBundleIndex;
  int MarkerType;
  qVDC MarkerSize;
  int MarkerColor[3];
  int TextBundleIndex;
  int TextFontIndex;
  double CharacterExpansionFactor;
  int TextPrecision;
  double CharacterSpacing;
  int TextColor[3];
  qVDC CharacterHeight;
  qVDC CharacterOrientation[4];
  int TextPath;
  int TextAlignment[2];
  int CharacterSetIndex;
  int AlternateCharacterSetIndex;
  int FillBundleIndex;
  int InteriorStyle;
  int FillColor[3];
  int HatchIndex;
  int PatternIndex;
  int EdgeBundleIndex;
  int EdgeType;
  qVDC EdgeWidth;
  int EdgeColor[3];
  int EdgeVisibility;
  qVDC FillReferencePoint[2];
  qVDC PatternSize[4];
  int AspectSourceFlags[36];
} qWCGM_ATTRIBUTE_DATA;

/* Seismic trace inputs of the generalized drawing primitive (qGdp -4, -5). */
typedef struct {
  qVDC Origin[2];
  qVDC BaseVector[2];
  qVDC AmpVector[2];
  qVDC TraceStepVector[2];
  double BaseScale;
  double AmpScale;
  double TraceStepFactor;
  double BaselineOffset;
  double PosClip;
  double NegClip;
  int DisplayMode;
  int SampleType;
  int SamplesPerTrace;
  double PosBkFillBoundary;
  double NegBkFillBoundary;
  int Reserved;
  int WiggleModulus;
  int NullColorIndex;
  int TracesPerLocation;
  union {
    int iTraceData[QWCGM_TRACE_SLOTS];
    double dTraceData[QWCGM_TRACE_SLOTS];
  } TraceData;
} qWCGM_CGM_PLUS;

/* Inputs of the PIP generalized drawing primitive (qGdp -3000).  The arrays
   belong to the caller. */
typedef struct {
  qVDC Origin[2];
  int GroupId;
  double SampleNormExt;
  int TypeSamples;
  int *iSamples;
  double *dSamples;
  int NumSamples;
  int TypeVaColors;
  int *VaColors;
  int NumVaColors;
  int TypeBkColors;
  int *BkColors;
  int NumBkColors;
} qWCGM_CGM_PIP;

typedef struct {
  qWCGM_METAFILE_DESCRIPTOR_DATA MetafileDescriptor;
  qWCGM_PICTURE_DESCRIPTOR_DATA PictureDescriptor;
  qWCGM_CONTROL_DATA Control;
  qWCGM_ATTRIBUTE_DATA Attribute;
  qWCGM_CGM_PLUS CgmPlus;
  qWCGM_CGM_PIP CgmPip;
} qWCGM_CGM;

/* The writer state record of one open metafile. */
typedef struct {
  unsigned char *WorkBuffer; /* QWCGM_WORK_BUFFER_SIZE bytes while open */
  int MdrOffset;  /* position of an open defaults replacement's length word;
                     below 2 when no bracket is open */
  FILE *Outfile;
  qWCGM_CGM Cgm;
} qWCGM_DATA;

/* ---- Open and close ---------------------------------------------------- */

int qCgmInit(const char *filename, qWCGM_DATA *data, char *msg);
int qCgmEnd(qWCGM_DATA *data, char *msg);
int InitializeDefaults(qWCGM_CGM *cgm);

/* ---- Element framing and output ---------------------------------------- */

void memcpyBigEndian(void *dst, const void *src, int size, int count);
int WriteElement(int cls, int id, int length, const unsigned char *params,
                 FILE *stream, char *msg);
void MakeClassElementOctets(int cls, int id, int length, unsigned char *dst);
void MakeExtendedHeader(int continued, int length, unsigned char *dst);
int WriteVerify(const void *data, int count, FILE *stream, char *msg);

/* ---- Parameter encoders ------------------------------------------------- */

int EncodeIntBuffer(unsigned char *dst, const int *values, int count,
                    int precision, int *ok, char *msg);
int EncodeLowPrecision(unsigned char *dst, const int *values, int count,
                       int precision, int *ok, char *msg);
int EncodeString(const char *text, unsigned char *dst, int n);
int EncodeVdc(const qVDC *values, int count, unsigned char *dst, int vdcType,
              int vdcIntegerPrecision, int vdcRealPrecision, int *ok,
              char *msg);
int EncodeRealBuffer(unsigned char *dst, const double *values, int count,
                     int code, int *ok, char *msg);

/* ---- Cell rows ---------------------------------------------------------- */

int EncodeCellData(unsigned char *dst, int nx, const int *cells, int *cursor,
                   int mode, int direct, int colorPrecision,
                   int countPrecision, int *ok, char *msg);

int OkToIncrement(int count, int precision);
int *CellCompress(int *cells, int *runs, int n, int direct,
                  int colorPrecision, int countPrecision, int *mode,
                  int *precision);
int RunLengthEncode24(const unsigned char *first, const unsigned char *second,
                      const unsigned char *third, int stride, int *runs, int n,
                      int countPrecision, int *used);
void PackedEncode24(const unsigned char *first, const unsigned char *second,
                    const unsigned char *third, int stride, int *out, int n);
void CellCompress24(const unsigned char *first, const unsigned char *second,
                    const unsigned char *third, int stride, int *out, int n,
                    int countPrecision, int *mode);

extern const unsigned char BitMasks[8];
extern const short BitTransitions[256];
int MonoScanCompresses(const unsigned char *row, int count);
void RunLengthEncodeMono(const unsigned char *row, int n, int *out);
void PackedEncodeMono(const unsigned char *row, int n, int *out);
void CellCompressMono(const unsigned char *row, int *out, int n, int unused,
                      int *mode, int *precision);

/* ---- Structured data records ------------------------------------------- */

int EncodeSDR(const int *ivalues, const double *dvalues, int code, int count,
              unsigned char *dst, qWCGM_DATA *data, int *ok, char *msg);
int GetSDRTypePrecision(int code, qWCGM_DATA *data);

/* ---- Delimiter elements ------------------------------------------------- */

int qNoopId(int n, qWCGM_DATA *data, char *msg);
int qBeginMetafile(const char *name, qWCGM_DATA *data, char *msg);
int qEndMetafile(qWCGM_DATA *data, char *msg);
int qBeginPicture(const char *name, qWCGM_DATA *data, char *msg);
int qBeginPictureBody(qWCGM_DATA *data, char *msg);
int qEndPicture(qWCGM_DATA *data, char *msg);

/* ---- Metafile descriptor elements -------------------------------------- */

int qVersion(qWCGM_DATA *data, char *msg);
int qDescription(const char *text, qWCGM_DATA *data, char *msg);
int qVdcType(int type, qWCGM_DATA *data, char *msg);
int qIntegerPrecision(int precision, qWCGM_DATA *data, char *msg);
int qRealPrecision(int code, qWCGM_DATA *data, char *msg);
int qIndexPrecision(int precision, qWCGM_DATA *data, char *msg);
int qColorPrecision(int precision, qWCGM_DATA *data, char *msg);
int qColorIndexPrecision(int precision, qWCGM_DATA *data, char *msg);
int qMaxColorIndex(int index, qWCGM_DATA *data, char *msg);
int qColorValueExtent(const int *extent, qWCGM_DATA *data, char *msg);
int qMetafileElementsList(qWCGM_DATA *data, int drawingSet,
                          int drawingPlusControlSet, const int *list,
                          int count, char *msg);
int qMetafileDefaultsReplacement(int mode, qWCGM_DATA *data, char *msg);
int qFontList(int count, const char *const *names, qWCGM_DATA *data,
              char *msg);
int qCharacterSetList(const int *types, const char *const *tails, int count,
                      qWCGM_DATA *data, char *msg);
int qCharacterCodingAnnouncer(int announcer, qWCGM_DATA *data, char *msg);

/* ---- Picture descriptor elements --------------------------------------- */

int qScalingMode(int mode, double factor, qWCGM_DATA *data, char *msg);
int qColorSelectionMode(int mode, qWCGM_DATA *data, char *msg);
int qLineWidthSpecificationMode(int mode, qWCGM_DATA *data, char *msg);
int qMarkerSizeSpecificationMode(int mode, qWCGM_DATA *data, char *msg);
int qEdgeWidthSpecificationMode(int mode, qWCGM_DATA *data, char *msg);
int qVdcExtent(const qVDC *first, const qVDC *second, qWCGM_DATA *data,
               char *msg);
int qBackgroundColor(const int *rgb, qWCGM_DATA *data, char *msg);

/* ---- Graphical primitives ----------------------------------------------- */

int qCellArray(const qVDC *p, const qVDC *q, const qVDC *r, int nx, int ny,
               int localColorPrecision, int mode, const int *cells,
               qWCGM_DATA *data, char *msg);

int qPolyline(const qVDC *points, int n, qWCGM_DATA *data, char *msg);
int qDisjointPolyline(const qVDC *points, int n, qWCGM_DATA *data, char *msg);
int qPolyMarker(const qVDC *points, int n, qWCGM_DATA *data, char *msg);
int qText(const qVDC *point, int final, const char *text, qWCGM_DATA *data,
          char *msg);
int qRestrictedText(const qVDC *deltaWidth, const qVDC *deltaHeight,
                    const qVDC *point, int final, const char *text,
                    qWCGM_DATA *data, char *msg);
int qAppendText(const char *text, int final, qWCGM_DATA *data, char *msg);
int qPolygon(const qVDC *points, int n, qWCGM_DATA *data, char *msg);
int qPolygonSet(const qVDC *points, const int *edgeOutFlags, int n,
                qWCGM_DATA *data, char *msg);
int qRectangle(const qVDC *corners, qWCGM_DATA *data, char *msg);

int qCircle(const qVDC *center, const qVDC *radius, qWCGM_DATA *data,
            char *msg);
int qCircularArc3Point(const qVDC *start, const qVDC *middle, const qVDC *end,
                       qWCGM_DATA *data, char *msg);
int qCircularArc3PointClose(const qVDC *start, const qVDC *middle,
                            const qVDC *end, int closeType, qWCGM_DATA *data,
                            char *msg);
int qCircularArcCenter(const qVDC *center, const qVDC *startDx,
                       const qVDC *startDy, const qVDC *endDx,
                       const qVDC *endDy, const qVDC *radius, qWCGM_DATA *data,
                       char *msg);
int qCircularArcCenterClose(const qVDC *center, const qVDC *startDx,
                            const qVDC *startDy, const qVDC *endDx,
                            const qVDC *endDy, const qVDC *radius,
                            int closeType, qWCGM_DATA *data, char *msg);
int qEllipse(const qVDC *center, const qVDC *first, const qVDC *second,
             qWCGM_DATA *data, char *msg);
int qEllipseArc(const qVDC *center, const qVDC *first, const qVDC *second,
                const qVDC *startDx, const qVDC *startDy, const qVDC *endDx,
                const qVDC *endDy, qWCGM_DATA *data, char *msg);
int qEllipseArcClose(const qVDC *center, const qVDC *first,
                     const qVDC *second, const qVDC *startDx,
                     const qVDC *startDy, const qVDC *endDx,
                     const qVDC *endDy, int closeType, qWCGM_DATA *data,
                     char *msg);

/* Generalized drawing primitive: -4 trace initialisation, -5 trace data,
   -3000 PIP record; the inputs come from data->Cgm.CgmPlus / CgmPip. */
int qGdp(int id, qWCGM_DATA *data, char *msg);

#ifdef __cplusplus
}
#endif

#endif /* QUIL_H */
