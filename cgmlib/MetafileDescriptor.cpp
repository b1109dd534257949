// Metafile descriptor elements (class 1).  The precision and VDC type
// elements also record their value in the writer state, and only after the
// element was written: every later parameter is then encoded exactly as a
// reader of the metafile will decode it.
#include <climits>
#include <cstdio>
#include <cstring>

#include "QuilPrivate.h"

static int IsPrecision(int p) { return p == 8 || p == 16 || p == 24 || p == 32; }

static int Write(int id, int length, qWCGM_DATA *data, char *msg) {
  return WriteElement(1, id, length, data->WorkBuffer, data->Outfile, msg);
}

// Encodes `count` integers at `precision` at the start of the work buffer
// and writes them as element `id`.
static int WriteInts(int id, const int *values, int count, int precision,
                     qWCGM_DATA *data, char *msg) {
  int ok;
  int len = EncodeIntBuffer(data->WorkBuffer, values, count, precision, &ok, msg);
  if (!ok) return 0;
  return Write(id, len, data, msg);
}

int qVersion(qWCGM_DATA *data, char *msg) {
  static const int version = 1;
  return WriteInts(1, &version, 1,
                   data->Cgm.MetafileDescriptor.IntegerPrecision, data, msg);
}

int qDescription(const char *text, qWCGM_DATA *data, char *msg) {
  size_t n = std::strlen(text);
  if (!qFitsWorkBuffer(qStringBytes(static_cast<int64_t>(n)), msg)) return 0;
  int len = EncodeString(text, data->WorkBuffer, static_cast<int>(n));
  return Write(2, len, data, msg);
}

int qVdcType(int type, qWCGM_DATA *data, char *msg) {
  if (type != 0 && type != 1) {
    qSetMsg(msg, "Invalid VdcType: %d\n", type);
    return 0;
  }
  if (!WriteInts(3, &type, 1, data->Cgm.MetafileDescriptor.EnumPrecision,
                 data, msg))
    return 0;
  data->Cgm.MetafileDescriptor.VdcType = type;
  return 1;
}

// INTEGER, INDEX, COLOUR and COLOUR INDEX PRECISION: one integer at the
// integer precision in force before the change.
static int PrecisionElement(int id, int precision, const char *badFormat,
                            int *field, qWCGM_DATA *data, char *msg) {
  if (!IsPrecision(precision)) {
    qSetMsg(msg, badFormat, precision);
    return 0;
  }
  if (!WriteInts(id, &precision, 1,
                 data->Cgm.MetafileDescriptor.IntegerPrecision, data, msg))
    return 0;
  *field = precision;
  return 1;
}

int qIntegerPrecision(int precision, qWCGM_DATA *data, char *msg) {
  return PrecisionElement(4, precision, "Invalid Integer Precision: %d\n",
                          &data->Cgm.MetafileDescriptor.IntegerPrecision,
                          data, msg);
}

int qIndexPrecision(int precision, qWCGM_DATA *data, char *msg) {
  return PrecisionElement(6, precision, "Invalid Index Precision: %d\n",
                          &data->Cgm.MetafileDescriptor.IndexPrecision, data,
                          msg);
}

int qColorPrecision(int precision, qWCGM_DATA *data, char *msg) {
  return PrecisionElement(7, precision, "Invalid Color Precision: %d\n",
                          &data->Cgm.MetafileDescriptor.ColorPrecision, data,
                          msg);
}

int qColorIndexPrecision(int precision, qWCGM_DATA *data, char *msg) {
  return PrecisionElement(8, precision, "Invalid Color Index Precision: %d\n",
                          &data->Cgm.MetafileDescriptor.ColorIndexPrecision,
                          data, msg);
}

// REAL PRECISION announces a code as (form, whole or exponent bits,
// fraction bits): 0 is floating point, 1 fixed point.  The exponent widths
// of the floating forms are written as 9 and 12.
int qRealPrecision(int code, qWCGM_DATA *data, char *msg) {
  static const int triples[4][3] = {
      {0, 9, 23}, {0, 12, 52}, {1, 16, 16}, {1, 32, 32}};
  if (code < 1 || code > 4) {
    qSetMsg(msg, "Invalid Real Precision Code: %d\n", code);
    return 0;
  }
  const int *t = triples[code - 1];
  int ok;
  int len = EncodeIntBuffer(data->WorkBuffer, &t[0], 1,
                            data->Cgm.MetafileDescriptor.EnumPrecision, &ok, msg);
  if (!ok) return 0;
  len += EncodeIntBuffer(data->WorkBuffer + len, &t[1], 2,
                         data->Cgm.MetafileDescriptor.IntegerPrecision, &ok, msg);
  if (!ok) return 0;
  if (!Write(5, len, data, msg)) return 0;
  data->Cgm.MetafileDescriptor.RealPrecision = code;
  return 1;
}

int qMaxColorIndex(int index, qWCGM_DATA *data, char *msg) {
  if (!WriteInts(9, &index, 1,
                 data->Cgm.MetafileDescriptor.ColorIndexPrecision, data, msg))
    return 0;
  data->Cgm.MetafileDescriptor.MaxColorIndex = index;
  return 1;
}

int qColorValueExtent(const int *extent, qWCGM_DATA *data, char *msg) {
  if (!WriteInts(10, extent, 6, data->Cgm.MetafileDescriptor.ColorPrecision,
                 data, msg))
    return 0;
  std::memcpy(data->Cgm.MetafileDescriptor.ColorValueExtent, extent,
              6 * sizeof(int));
  return 1;
}

// METAFILE ELEMENT LIST: a count, then (class, id) pairs.  Either set flag
// replaces the caller's list by the single pair (-1, 0), the drawing set, or
// (-1, 1), the drawing-plus-control set, which wins when both are given.
int qMetafileElementsList(qWCGM_DATA *data, int drawingSet,
                          int drawingPlusControlSet, const int *list,
                          int count, char *msg) {
  const int precision = data->Cgm.MetafileDescriptor.IntegerPrecision;
  int pair[2] = {-1, 0};
  if (drawingSet || drawingPlusControlSet) {
    if (drawingPlusControlSet) pair[1] = 1;
    list = pair;
    count = 1;
  } else if (count < 0) {
    qSetMsg(msg, "Invalid Element List Count: %d\n", count);
    return 0;
  }
  if (!qFitsWorkBuffer(qIntBytes(precision) * (1 + 2 * static_cast<int64_t>(count)),
                       msg))
    return 0;
  int ok;
  int len = EncodeIntBuffer(data->WorkBuffer, &count, 1, precision, &ok, msg);
  if (!ok) return 0;
  len += EncodeIntBuffer(data->WorkBuffer + len, list, 2 * count, precision,
                         &ok, msg);
  if (!ok) return 0;
  return Write(11, len, data, msg);
}

// METAFILE DEFAULTS REPLACEMENT is a bracket.  Opening writes the header in
// the long form and a placeholder long-form word, and remembers where that
// word is; the elements written next are its contents; closing measures
// them and rewrites the word in place.  The bracket is never partitioned,
// so its contents are limited to 32767 bytes.  The stream must be able to
// tell its position and move; when it cannot, nothing is written or
// rewritten.
static int PositionError(char *msg) {
  qSetMsg(msg, "Could not get output file position\n");
  return 0;
}

int qMetafileDefaultsReplacement(int mode, qWCGM_DATA *data, char *msg) {
  FILE *fp = data->Outfile;
  unsigned char word[2];
  if (mode == 1) {
    long start = std::ftell(fp);
    if (start < 0 || start > INT_MAX - 2) return PositionError(msg);
    MakeClassElementOctets(1, 12, 31, word);
    if (!WriteVerify(word, 2, fp, msg)) return 0;
    data->MdrOffset = static_cast<int>(start) + 2;
    MakeExtendedHeader(0, 0, word);
    return WriteVerify(word, 2, fp, msg);
  }

  if (data->MdrOffset < 2) return PositionError(msg);
  long end = std::ftell(fp);
  long distance = end - data->MdrOffset;  // the word and the contents
  if (end < 0 || distance < 2) return PositionError(msg);
  long contents = distance - 2;
  if (contents > 32767) {
    qSetMsg(msg, "Metafile Defaults Replacement Too Long: %ld bytes\n",
            contents);
    return 0;
  }
  MakeExtendedHeader(0, static_cast<int>(contents), word);
  if (std::fseek(fp, -distance, SEEK_CUR) != 0) {
    std::fseek(fp, end, SEEK_SET);
    return PositionError(msg);
  }
  if (!WriteVerify(word, 2, fp, msg)) {
    // Never leave the stream inside the contents, where a later element
    // would overwrite them.
    std::fseek(fp, 0, SEEK_END);
    return 0;
  }
  if (std::fseek(fp, contents, SEEK_CUR) != 0) {
    std::fseek(fp, 0, SEEK_END);
    return PositionError(msg);
  }
  data->MdrOffset = 0;
  return 1;
}

int qFontList(int count, const char *const *names, qWCGM_DATA *data,
              char *msg) {
  int64_t total = 0;
  for (int i = 0; i < count; i++)
    total += qStringBytes(static_cast<int64_t>(std::strlen(names[i])));
  if (!qFitsWorkBuffer(total, msg)) return 0;
  int len = 0;
  for (int i = 0; i < count; i++)
    len += EncodeString(names[i], data->WorkBuffer + len,
                        static_cast<int>(std::strlen(names[i])));
  return Write(13, len, data, msg);
}

int qCharacterSetList(const int *types, const char *const *tails, int count,
                      qWCGM_DATA *data, char *msg) {
  const int precision = data->Cgm.MetafileDescriptor.EnumPrecision;
  int64_t total = 0;
  for (int i = 0; i < count; i++)
    total += qIntBytes(precision) +
             qStringBytes(static_cast<int64_t>(std::strlen(tails[i])));
  if (!qFitsWorkBuffer(total, msg)) return 0;
  int len = 0;
  for (int i = 0; i < count; i++) {
    int ok;
    len += EncodeIntBuffer(data->WorkBuffer + len, &types[i], 1, precision,
                           &ok, msg);
    if (!ok) return 0;
    len += EncodeString(tails[i], data->WorkBuffer + len,
                        static_cast<int>(std::strlen(tails[i])));
  }
  return Write(14, len, data, msg);
}

int qCharacterCodingAnnouncer(int announcer, qWCGM_DATA *data, char *msg) {
  return WriteInts(15, &announcer, 1,
                   data->Cgm.MetafileDescriptor.EnumPrecision, data, msg);
}
