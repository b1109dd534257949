/* The public header used from a C program: every entry point links with C
   linkage, the encoders give the format's bytes, and a small metafile is
   written, closed and read back. */
#include <stdio.h>
#include <string.h>

#include "Quil.h"

static qWCGM_DATA writer; /* static storage: starts all zero */
static int failures = 0;
static int passes = 0;

static void check(int cond, const char *what) {
  if (cond) {
    passes++;
  } else {
    failures++;
    fprintf(stderr, "FAILED: %s\n", what);
  }
}

static int hexeq(const unsigned char *got, int n, const char *hex) {
  int i = 0;
  while (*hex) {
    unsigned v;
    if (*hex == ' ') {
      hex++;
      continue;
    }
    if (sscanf(hex, "%2x", &v) != 1 || i >= n || got[i] != v) return 0;
    i++;
    hex += 2;
  }
  return i == n;
}

/* Taking the address of every entry point proves that each is defined and
   reachable from C. */
typedef void (*anyfn)(void);
#define FN(f) ((anyfn)(void (*)(void))(f))

static void check_entry_points(void) {
  const void *tables[2];
  anyfn fns[] = {
      FN(qCgmInit), FN(qCgmEnd), FN(InitializeDefaults), FN(memcpyBigEndian),
      FN(WriteElement), FN(MakeClassElementOctets), FN(MakeExtendedHeader),
      FN(WriteVerify), FN(EncodeIntBuffer), FN(EncodeLowPrecision),
      FN(EncodeString), FN(EncodeVdc), FN(EncodeRealBuffer), FN(EncodeCellData),
      FN(OkToIncrement), FN(CellCompress), FN(RunLengthEncode24),
      FN(PackedEncode24), FN(CellCompress24), FN(MonoScanCompresses),
      FN(RunLengthEncodeMono), FN(PackedEncodeMono), FN(CellCompressMono),
      FN(EncodeSDR), FN(GetSDRTypePrecision), FN(qNoopId), FN(qBeginMetafile),
      FN(qEndMetafile), FN(qBeginPicture), FN(qBeginPictureBody),
      FN(qEndPicture), FN(qVersion), FN(qDescription), FN(qVdcType),
      FN(qIntegerPrecision), FN(qRealPrecision), FN(qIndexPrecision),
      FN(qColorPrecision), FN(qColorIndexPrecision), FN(qMaxColorIndex),
      FN(qColorValueExtent), FN(qMetafileElementsList),
      FN(qMetafileDefaultsReplacement), FN(qFontList), FN(qCharacterSetList),
      FN(qCharacterCodingAnnouncer), FN(qScalingMode), FN(qColorSelectionMode),
      FN(qLineWidthSpecificationMode), FN(qMarkerSizeSpecificationMode),
      FN(qEdgeWidthSpecificationMode), FN(qVdcExtent), FN(qBackgroundColor),
      FN(qCellArray), FN(qPolyline), FN(qDisjointPolyline), FN(qPolyMarker),
      FN(qText), FN(qRestrictedText), FN(qAppendText), FN(qPolygon),
      FN(qPolygonSet), FN(qRectangle), FN(qCircle), FN(qCircularArc3Point),
      FN(qCircularArc3PointClose), FN(qCircularArcCenter),
      FN(qCircularArcCenterClose), FN(qEllipse), FN(qEllipseArc),
      FN(qEllipseArcClose), FN(qGdp)};
  size_t i;
  int all = 1;
  for (i = 0; i < sizeof fns / sizeof fns[0]; i++) all = all && fns[i] != NULL;
  tables[0] = BitMasks;
  tables[1] = BitTransitions;
  check(all && tables[0] && tables[1], "every entry point links");
  check(BitMasks[0] == 0x80 && BitMasks[7] == 0x01, "BitMasks");
  check(BitTransitions[0x55] == 7 && BitTransitions[0x0F] == 1, "BitTransitions");
}

static void check_encoders(void) {
  static const struct {
    int precision;
    int value;
    const char *bytes;
  } ints[] = {{8, 255, "FF"},        {8, -128, "80"},
              {16, 1, "00 01"},      {16, -1, "FF FF"},
              {16, 65535, "FF FF"},  {16, -32768, "80 00"},
              {24, 40000, "00 9C 40"}, {24, -8388608, "80 00 00"},
              {24, 16777215, "FF FF FF"}, {32, -2, "FF FF FF FE"}};
  static const struct {
    int code;
    double value;
    const char *bytes;
  } reals[] = {{1, 1.0, "3F 80 00 00"},
               {1, 25.4, "41 CB 33 33"},
               {1, -2.5, "C0 20 00 00"},
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
               {4, 0.5, "00 00 00 00 80 00 00 00"},
               {4, -0.5, "FF FF FF FF 80 00 00 00"},
               {4, 1.75, "00 00 00 01 C0 00 00 00"},
               {4, 25.4, "00 00 00 19 66 66 66 66"},
               {4, 32768.0, "00 00 80 00 00 00 00 00"}};
  static const int bits[9] = {1, 0, 1, 1, 0, 0, 0, 1, 1};
  unsigned char out[16];
  char msg[QWCGM_MSG_SIZE];
  int ok, n;
  size_t i;
  for (i = 0; i < sizeof ints / sizeof ints[0]; i++) {
    n = EncodeIntBuffer(out, &ints[i].value, 1, ints[i].precision, &ok, msg);
    check(ok && hexeq(out, n, ints[i].bytes), ints[i].bytes);
  }
  n = EncodeIntBuffer(out, &ints[0].value, 1, 12, &ok, msg);
  check(!ok && n == 0 && strcmp(msg, "Illegal integer precision: 12\n") == 0,
        "precision 12 refused");
  for (i = 0; i < sizeof reals / sizeof reals[0]; i++) {
    n = EncodeRealBuffer(out, &reals[i].value, 1, reals[i].code, &ok, msg);
    check(ok && hexeq(out, n, reals[i].bytes), reals[i].bytes);
  }
  n = EncodeLowPrecision(out, bits, 9, 1, &ok, msg);
  check(ok && hexeq(out, n, "B1 80"), "1-bit packing");
  n = EncodeString("abc", out, 3);
  check(hexeq(out, n, "03 61 62 63"), "short string");
  MakeClassElementOctets(-1, -1, 31, out);
  check(hexeq(out, 2, "FF FF"), "header word of negative arguments");
}

static void check_metafile(const char *path) {
  static const unsigned char expected[] = {
      0x00, 0x24, 0x03, 'a', 'b', 'c', /* BEGIN METAFILE "abc" */
      0x10, 0x22, 0x00, 0x01,          /* METAFILE VERSION 1 */
      0x10, 0x82, 0x00, 0x20,          /* INTEGER PRECISION 32 */
      0x10, 0x24, 0x00, 0x00, 0x00, 0x01, /* VERSION at 32 bits */
      0x00, 0x40};                     /* END METAFILE */
  unsigned char got[64];
  char msg[QWCGM_MSG_SIZE];
  size_t n;
  FILE *f;

  if (!qCgmInit(path, &writer, msg)) {
    check(0, msg);
    return;
  }
  check(qBeginMetafile("abc", &writer, msg) && qVersion(&writer, msg) &&
            qIntegerPrecision(32, &writer, msg) && qVersion(&writer, msg) &&
            qEndMetafile(&writer, msg),
        "elements written");
  check(qVdcType(7, &writer, msg) == 0 &&
            strcmp(msg, "Invalid VdcType: 7\n") == 0,
        "VDC TYPE 7 refused");
  check(qCgmEnd(&writer, msg) == 1, "close");
  f = fopen(path, "rb");
  if (!f) {
    check(0, "reopen");
    return;
  }
  n = fread(got, 1, sizeof got, f);
  fclose(f);
  remove(path);
  check(n == sizeof expected && memcmp(got, expected, n) == 0,
        "metafile bytes");
}

int main(int argc, char **argv) {
  check_entry_points();
  check_encoders();
  check_metafile(argc > 1 ? argv[1] : "c_api.cgm");
  printf("c_api: %d passed, %d failed\n", passes, failures);
  return failures == 0 ? 0 : 1;
}
