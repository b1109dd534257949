// Framing and parameter decoding of binary metafiles.
//
// Element layout (ISO/IEC 8632-3): a 16-bit header word, most significant
// byte first, holding the class (bits 15-12), the element id (bits 11-5) and
// the parameter list length (bits 4-0).  A length field of 31 announces the
// long form: 16-bit words follow, each with a continuation flag (bit 15) and
// the byte count of one partition (bits 14-0), every word directly followed
// by its partition's bytes.  Partitions may have any size, odd ones
// included.  When the total parameter length is odd a single pad byte of 0
// follows the last partition.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "CgmDecode.h"

namespace cgmd {

int RealFormBytes(int form) {
  switch (form) {
    case kRealFloat32:
    case kRealFixed32: return 4;
    case kRealFloat64:
    case kRealFixed64: return 8;
    default: return 0;
  }
}

size_t Frame::FileOffset(size_t dataOffset) const {
  for (const Segment &s : segments) {
    if (dataOffset >= s.dataStart && dataOffset < s.dataStart + s.size)
      return s.fileStart + (dataOffset - s.dataStart);
  }
  if (!segments.empty()) {
    const Segment &s = segments.back();
    return s.fileStart + s.size;
  }
  return offset + 2;
}

std::string Fmt(const char *fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

static std::string ElementLabel(int cls, int id) {
  const char *n = ElementLongName(cls, id);
  if (*n) return n;
  return Fmt("element class %d id %d", cls, id);
}

bool ReadFrame(const uint8_t *data, size_t size, size_t pos, Frame *frame,
               std::string *error, size_t *errorOffset) {
  *frame = Frame();
  frame->offset = pos;
  if (pos >= size || size - pos < 2) {
    *error = "truncated element: the file ends inside an element header";
    *errorOffset = pos;
    return false;
  }
  unsigned word = static_cast<unsigned>(data[pos]) << 8 | data[pos + 1];
  frame->cls = static_cast<int>(word >> 12);
  frame->id = static_cast<int>((word >> 5) & 0x7f);
  size_t len = word & 0x1f;
  size_t p = pos + 2;
  if (len < 31) {
    if (size - p < len) {
      *error = Fmt("truncated element: %s announces %zu parameter bytes but "
                   "only %zu remain in the file",
                   ElementLabel(frame->cls, frame->id).c_str(), len, size - p);
      *errorOffset = pos;
      return false;
    }
    frame->params.assign(data + p, data + p + len);
    frame->segments.push_back({0, p, len});
    p += len;
  } else {
    frame->longForm = true;
    for (;;) {
      if (size - p < 2) {
        *error = Fmt("truncated element: the file ends where a length word "
                     "of %s is due",
                     ElementLabel(frame->cls, frame->id).c_str());
        *errorOffset = pos;
        return false;
      }
      unsigned w = static_cast<unsigned>(data[p]) << 8 | data[p + 1];
      bool more = (w & 0x8000) != 0;
      size_t plen = w & 0x7fff;
      p += 2;
      frame->partitions++;
      if (size - p < plen) {
        *error = Fmt("truncated element: %s announces %zu bytes in its "
                     "partition %d but only %zu remain in the file",
                     ElementLabel(frame->cls, frame->id).c_str(), plen,
                     frame->partitions, size - p);
        *errorOffset = pos;
        return false;
      }
      frame->segments.push_back({frame->params.size(), p, plen});
      frame->params.insert(frame->params.end(), data + p, data + p + plen);
      p += plen;
      if (!more) break;
    }
  }
  if (frame->params.size() % 2 == 1) {
    if (p >= size) {
      *error = Fmt("truncated element: the pad byte after the odd-length "
                   "parameter list of %s is missing",
                   ElementLabel(frame->cls, frame->id).c_str());
      *errorOffset = pos;
      return false;
    }
    frame->hasPad = true;
    frame->padOffset = p;
    frame->pad = data[p];
    p++;
  }
  frame->end = p;
  return true;
}

// ---- Element table ------------------------------------------------------------

// Parameter signatures, one letter per parameter:
//   S string, I integer, E enumeration, X index, c colour index,
//   C direct colour, O colour in the current colour selection mode,
//   P point, V one VDC value, R real, F 32-bit floating point real,
//   W / M / G a line width, marker size or edge width (a real when its
//   width or size mode is "scaled", else a VDC value),
//   N any bytes (no decoding), '*' repeats the rest until the end.
// A null signature means: known, but the parameters are not decoded.
struct Info {
  int cls, id;
  const char *name;
  const char *longName;
  const char *sig;
};

static const Info kInfo[] = {
    {0, 0, "NOOP", "NO-OP", "N"},
    {0, 1, "BEGMF", "BEGIN METAFILE", "S"},
    {0, 2, "ENDMF", "END METAFILE", ""},
    {0, 3, "BEGPIC", "BEGIN PICTURE", "S"},
    {0, 4, "BEGPICBODY", "BEGIN PICTURE BODY", ""},
    {0, 5, "ENDPIC", "END PICTURE", ""},
    {0, 6, "BEGSEG", "BEGIN SEGMENT", nullptr},
    {0, 7, "ENDSEG", "END SEGMENT", ""},
    {0, 8, "BEGFIGURE", "BEGIN FIGURE", ""},
    {0, 9, "ENDFIGURE", "END FIGURE", ""},
    {0, 13, "BEGPROTREGION", "BEGIN PROTECTION REGION", "X"},
    {0, 14, "ENDPROTREGION", "END PROTECTION REGION", ""},
    {0, 15, "BEGCOMPOLINE", "BEGIN COMPOUND LINE", ""},
    {0, 16, "ENDCOMPOLINE", "END COMPOUND LINE", ""},
    {0, 17, "BEGTILEARRAY", "BEGIN TILE ARRAY", nullptr},
    {0, 18, "ENDTILEARRAY", "END TILE ARRAY", ""},
    {0, 19, "BEGAPS", "BEGIN APPLICATION STRUCTURE", nullptr},
    {0, 20, "BEGAPSBODY", "BEGIN APPLICATION STRUCTURE BODY", ""},
    {0, 21, "ENDAPS", "END APPLICATION STRUCTURE", ""},
    {1, 1, "MFVERSION", "METAFILE VERSION", "I"},
    {1, 2, "MFDESC", "METAFILE DESCRIPTION", "S"},
    {1, 3, "VDCTYPE", "VDC TYPE", "E"},
    {1, 4, "INTEGERPREC", "INTEGER PRECISION", "I"},
    {1, 5, "REALPREC", "REAL PRECISION", "EII"},
    {1, 6, "INDEXPREC", "INDEX PRECISION", "I"},
    {1, 7, "COLRPREC", "COLOUR PRECISION", "I"},
    {1, 8, "COLRINDEXPREC", "COLOUR INDEX PRECISION", "I"},
    {1, 9, "MAXCOLRINDEX", "MAXIMUM COLOUR INDEX", "c"},
    {1, 10, "COLRVALUEEXT", "COLOUR VALUE EXTENT", "CC"},
    {1, 11, "MFELEMLIST", "METAFILE ELEMENT LIST", "I*II"},
    {1, 12, "BEGMFDEFAULTS", "METAFILE DEFAULTS REPLACEMENT", "N"},
    {1, 13, "FONTLIST", "FONT LIST", "*S"},
    {1, 14, "CHARSETLIST", "CHARACTER SET LIST", "*ES"},
    {1, 15, "CHARCODING", "CHARACTER CODING ANNOUNCER", "E"},
    {1, 16, "NAMEPREC", "NAME PRECISION", "I"},
    {1, 17, "MAXVDCEXT", "MAXIMUM VDC EXTENT", "PP"},
    {1, 18, "SEGPRIEXT", "SEGMENT PRIORITY EXTENT", "II"},
    {1, 19, "COLRMODEL", "COLOUR MODEL", "X"},
    {1, 20, "COLRCALIB", "COLOUR CALIBRATION", nullptr},
    {1, 21, "FONTPROP", "FONT PROPERTIES", nullptr},
    {1, 22, "GLYPHMAP", "GLYPH MAPPING", nullptr},
    {1, 23, "SYMBOLLIBLIST", "SYMBOL LIBRARY LIST", nullptr},
    {1, 24, "PICTDIRECTORY", "PICTURE DIRECTORY", nullptr},
    {2, 1, "SCALEMODE", "SCALING MODE", "EF"},
    {2, 2, "COLRMODE", "COLOUR SELECTION MODE", "E"},
    {2, 3, "LINEWIDTHMODE", "LINE WIDTH SPECIFICATION MODE", "E"},
    {2, 4, "MARKERSIZEMODE", "MARKER SIZE SPECIFICATION MODE", "E"},
    {2, 5, "EDGEWIDTHMODE", "EDGE WIDTH SPECIFICATION MODE", "E"},
    {2, 6, "VDCEXT", "VDC EXTENT", "PP"},
    {2, 7, "BACKCOLR", "BACKGROUND COLOUR", "C"},
    {2, 8, "DEVVP", "DEVICE VIEWPORT", nullptr},
    {2, 9, "DEVVPMODE", "DEVICE VIEWPORT SPECIFICATION MODE", nullptr},
    {2, 10, "DEVVPMAP", "DEVICE VIEWPORT MAPPING", nullptr},
    {2, 11, "LINEREP", "LINE REPRESENTATION", nullptr},
    {2, 12, "MARKERREP", "MARKER REPRESENTATION", nullptr},
    {2, 13, "TEXTREP", "TEXT REPRESENTATION", nullptr},
    {2, 14, "FILLREP", "FILL REPRESENTATION", nullptr},
    {2, 15, "EDGEREP", "EDGE REPRESENTATION", nullptr},
    {2, 16, "INTSTYLEMODE", "INTERIOR STYLE SPECIFICATION MODE", "E"},
    {2, 17, "LINEEDGETYPEDEF", "LINE AND EDGE TYPE DEFINITION", nullptr},
    {2, 18, "HATCHSTYLEDEF", "HATCH STYLE DEFINITION", nullptr},
    {2, 19, "GEOPATDEF", "GEOMETRIC PATTERN DEFINITION", nullptr},
    {2, 20, "APSDIRECTORY", "APPLICATION STRUCTURE DIRECTORY", nullptr},
    {3, 1, "VDCINTEGERPREC", "VDC INTEGER PRECISION", "I"},
    {3, 2, "VDCREALPREC", "VDC REAL PRECISION", "EII"},
    {3, 3, "AUXCOLR", "AUXILIARY COLOUR", "O"},
    {3, 4, "TRANSPARENCY", "TRANSPARENCY", "E"},
    {3, 5, "CLIPRECT", "CLIP RECTANGLE", "PP"},
    {3, 6, "CLIP", "CLIP INDICATOR", "E"},
    {3, 7, "LINECLIPMODE", "LINE CLIPPING MODE", "E"},
    {3, 8, "MARKERCLIPMODE", "MARKER CLIPPING MODE", "E"},
    {3, 9, "EDGECLIPMODE", "EDGE CLIPPING MODE", "E"},
    {3, 10, "NEWREGION", "NEW REGION", ""},
    {3, 11, "SAVEPRIMCONT", "SAVE PRIMITIVE CONTEXT", nullptr},
    {3, 12, "RESPRIMCONT", "RESTORE PRIMITIVE CONTEXT", nullptr},
    {3, 17, "PROTREGION", "PROTECTION REGION INDICATOR", nullptr},
    {3, 18, "GENTEXTPATHMODE", "GENERALIZED TEXT PATH MODE", "E"},
    {3, 19, "MITRELIMIT", "MITRE LIMIT", "R"},
    {3, 20, "TRANSPCELLCOLR", "TRANSPARENT CELL COLOUR", nullptr},
    {4, 1, "LINE", "POLYLINE", "*P"},
    {4, 2, "DISJTLINE", "DISJOINT POLYLINE", "*P"},
    {4, 3, "MARKER", "POLYMARKER", "*P"},
    {4, 4, "TEXT", "TEXT", "PES"},
    {4, 5, "RESTRTEXT", "RESTRICTED TEXT", "VVPES"},
    {4, 6, "APNDTEXT", "APPEND TEXT", "ES"},
    {4, 7, "POLYGON", "POLYGON", "*P"},
    {4, 8, "POLYGONSET", "POLYGON SET", "*PE"},
    {4, 9, "CELLARRAY", "CELL ARRAY", "N"},
    {4, 10, "GDP", "GENERALIZED DRAWING PRIMITIVE", "N"},
    {4, 11, "RECT", "RECTANGLE", "PP"},
    {4, 12, "CIRCLE", "CIRCLE", "PV"},
    {4, 13, "ARC3PT", "CIRCULAR ARC 3 POINT", "PPP"},
    {4, 14, "ARC3PTCLOSE", "CIRCULAR ARC 3 POINT CLOSE", "PPPE"},
    {4, 15, "ARCCTR", "CIRCULAR ARC CENTRE", "PVVVVV"},
    {4, 16, "ARCCTRCLOSE", "CIRCULAR ARC CENTRE CLOSE", "PVVVVVE"},
    {4, 17, "ELLIPSE", "ELLIPSE", "PPP"},
    {4, 18, "ELLIPARC", "ELLIPTICAL ARC", "PPPVVVV"},
    {4, 19, "ELLIPARCCLOSE", "ELLIPTICAL ARC CLOSE", "PPPVVVVE"},
    {4, 20, "ARCCTRREV", "CIRCULAR ARC CENTRE REVERSED", nullptr},
    {4, 21, "CONNEDGE", "CONNECTING EDGE", ""},
    {4, 22, "HYPERBARC", "HYPERBOLIC ARC", nullptr},
    {4, 23, "PARABARC", "PARABOLIC ARC", nullptr},
    {4, 24, "NUBS", "NON-UNIFORM B-SPLINE", nullptr},
    {4, 25, "NURBS", "NON-UNIFORM RATIONAL B-SPLINE", nullptr},
    {4, 26, "POLYBEZIER", "POLYBEZIER", nullptr},
    {4, 27, "POLYSYMBOL", "POLYSYMBOL", nullptr},
    {4, 28, "BITONALTILE", "BITONAL TILE", nullptr},
    {4, 29, "TILE", "TILE", nullptr},
    {5, 1, "LINEINDEX", "LINE BUNDLE INDEX", "X"},
    {5, 2, "LINETYPE", "LINE TYPE", "X"},
    {5, 3, "LINEWIDTH", "LINE WIDTH", "W"},
    {5, 4, "LINECOLR", "LINE COLOUR", "O"},
    {5, 5, "MARKERINDEX", "MARKER BUNDLE INDEX", "X"},
    {5, 6, "MARKERTYPE", "MARKER TYPE", "X"},
    {5, 7, "MARKERSIZE", "MARKER SIZE", "M"},
    {5, 8, "MARKERCOLR", "MARKER COLOUR", "O"},
    {5, 9, "TEXTINDEX", "TEXT BUNDLE INDEX", "X"},
    {5, 10, "TEXTFONTINDEX", "TEXT FONT INDEX", "X"},
    {5, 11, "TEXTPREC", "TEXT PRECISION", "E"},
    {5, 12, "CHAREXPAN", "CHARACTER EXPANSION FACTOR", "R"},
    {5, 13, "CHARSPACE", "CHARACTER SPACING", "R"},
    {5, 14, "TEXTCOLR", "TEXT COLOUR", "O"},
    {5, 15, "CHARHEIGHT", "CHARACTER HEIGHT", "V"},
    {5, 16, "CHARORI", "CHARACTER ORIENTATION", "VVVV"},
    {5, 17, "TEXTPATH", "TEXT PATH", "E"},
    {5, 18, "TEXTALIGN", "TEXT ALIGNMENT", "EERR"},
    {5, 19, "CHARSETINDEX", "CHARACTER SET INDEX", "X"},
    {5, 20, "ALTCHARSETINDEX", "ALTERNATE CHARACTER SET INDEX", "X"},
    {5, 21, "FILLINDEX", "FILL BUNDLE INDEX", "X"},
    {5, 22, "INTSTYLE", "INTERIOR STYLE", "E"},
    {5, 23, "FILLCOLR", "FILL COLOUR", "O"},
    {5, 24, "HATCHINDEX", "HATCH INDEX", "X"},
    {5, 25, "PATINDEX", "PATTERN INDEX", "X"},
    {5, 26, "EDGEINDEX", "EDGE BUNDLE INDEX", "X"},
    {5, 27, "EDGETYPE", "EDGE TYPE", "X"},
    {5, 28, "EDGEWIDTH", "EDGE WIDTH", "G"},
    {5, 29, "EDGECOLR", "EDGE COLOUR", "O"},
    {5, 30, "EDGEVIS", "EDGE VISIBILITY", "E"},
    {5, 31, "FILLREFPT", "FILL REFERENCE POINT", "P"},
    {5, 32, "PATTABLE", "PATTERN TABLE", nullptr},
    {5, 33, "PATSIZE", "PATTERN SIZE", "VVVV"},
    {5, 34, "COLRTABLE", "COLOUR TABLE", "c*C"},
    {5, 35, "ASF", "ASPECT SOURCE FLAGS", "*EE"},
    {6, 1, "ESCAPE", "ESCAPE", "IS"},
    {7, 1, "MESSAGE", "MESSAGE", "ES"},
    {7, 2, "APPLDATA", "APPLICATION DATA", "IS"},
};

static const Info *FindInfo(int cls, int id) {
  for (const Info &i : kInfo)
    if (i.cls == cls && i.id == id) return &i;
  return nullptr;
}

const char *ElementName(int cls, int id) {
  const Info *i = FindInfo(cls, id);
  return i ? i->name : "";
}

const char *ElementLongName(int cls, int id) {
  const Info *i = FindInfo(cls, id);
  return i ? i->longName : "";
}

// ---- Parameter reader -----------------------------------------------------------

namespace {

// Reads big-endian values from a parameter list; every read checks the bytes
// that remain first.
struct Cursor {
  const uint8_t *p;
  size_t n;
  size_t pos;

  size_t Left() const { return n - pos; }

  // An integer of 8, 16, 24 or 32 bits, signed or unsigned.
  bool Int(int bits, bool isSigned, int64_t *v) {
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    size_t bytes = static_cast<size_t>(bits / 8);
    if (Left() < bytes) return false;
    uint64_t u = 0;
    for (size_t i = 0; i < bytes; i++) u = u << 8 | p[pos + i];
    pos += bytes;
    if (isSigned && (u >> (bits - 1)) & 1)
      *v = static_cast<int64_t>(u) - (static_cast<int64_t>(1) << bits);
    else
      *v = static_cast<int64_t>(u);
    return true;
  }

  bool Real(int form, double *v) {
    int64_t whole = 0, frac = 0;
    switch (form) {
      case kRealFloat32: {
        if (Left() < 4) return false;
        uint32_t u = static_cast<uint32_t>(p[pos]) << 24 |
                     static_cast<uint32_t>(p[pos + 1]) << 16 |
                     static_cast<uint32_t>(p[pos + 2]) << 8 | p[pos + 3];
        float f;
        std::memcpy(&f, &u, 4);
        pos += 4;
        *v = f;
        return true;
      }
      case kRealFloat64: {
        if (Left() < 8) return false;
        uint64_t u = 0;
        for (int i = 0; i < 8; i++) u = u << 8 | p[pos + static_cast<size_t>(i)];
        std::memcpy(v, &u, 8);
        pos += 8;
        return true;
      }
      case kRealFixed32:
        if (Left() < 4) return false;
        Int(16, true, &whole);
        Int(16, false, &frac);
        *v = static_cast<double>(whole) + static_cast<double>(frac) / 65536.0;
        return true;
      case kRealFixed64:
        if (Left() < 8) return false;
        Int(32, true, &whole);
        Int(32, false, &frac);
        *v = static_cast<double>(whole) +
             static_cast<double>(frac) / 4294967296.0;
        return true;
      default: return false;
    }
  }

  // A string: a count byte up to 254, else 255 followed by pieces, each a
  // 16-bit word (continuation flag, 15-bit count) and its bytes.
  bool String(std::string *s) {
    if (Left() < 1) return false;
    size_t count = p[pos];
    if (count < 255) {
      if (Left() < 1 + count) return false;
      s->assign(reinterpret_cast<const char *>(p + pos + 1), count);
      pos += 1 + count;
      return true;
    }
    size_t q = pos + 1;
    s->clear();
    for (;;) {
      if (n - q < 2) return false;
      unsigned w = static_cast<unsigned>(p[q]) << 8 | p[q + 1];
      size_t len = w & 0x7fff;
      q += 2;
      if (n - q < len) return false;
      s->append(reinterpret_cast<const char *>(p + q), len);
      q += len;
      if (!(w & 0x8000)) break;
    }
    pos = q;
    return true;
  }
};

bool ValidPrecision(int64_t p) { return p == 8 || p == 16 || p == 24 || p == 32; }

int RealFormOf(int64_t form, int64_t a, int64_t b) {
  if (form == 0 && a == 9 && b == 23) return kRealFloat32;
  if (form == 0 && a == 12 && b == 52) return kRealFloat64;
  if (form == 1 && a == 16 && b == 16) return kRealFixed32;
  if (form == 1 && a == 32 && b == 32) return kRealFixed64;
  return kRealUnknown;
}

const size_t kWhole = static_cast<size_t>(-1);

// Decoding context of one element.
struct Ctx {
  const DecodeState *st;
  const PictureState *ps;
  Element *e;
  Cursor c;

  // dataOffset is an offset in the parameter list, or kWhole for a
  // problem of the element as a whole (reported at its header).
  void Problem(const std::string &msg, size_t dataOffset) {
    if (e->problem.empty()) {
      e->problem = msg;
      e->problemOffset =
          dataOffset == kWhole ? e->frame.offset : e->frame.FileOffset(dataOffset);
    }
  }

  bool ReadVdc(Value *v) {
    if (st->vdcType == 1) {
      v->real = true;
      v->form = ps->vdcRealForm;
      return c.Real(ps->vdcRealForm, &v->d[0]);
    }
    return c.Int(ps->vdcIntPrec, true, &v->i[0]);
  }

  bool ReadPoint(Value *v) {
    v->t = 'P';
    if (st->vdcType == 1) {
      v->real = true;
      v->form = ps->vdcRealForm;
      return c.Real(ps->vdcRealForm, &v->d[0]) &&
             c.Real(ps->vdcRealForm, &v->d[1]);
    }
    return c.Int(ps->vdcIntPrec, true, &v->i[0]) &&
           c.Int(ps->vdcIntPrec, true, &v->i[1]);
  }

  bool ReadOne(char t, Value *v) {
    v->t = t;
    switch (t) {
      case 'S': return c.String(&v->s);
      case 'I': return c.Int(st->intPrec, true, &v->i[0]);
      case 'E': return c.Int(DecodeState::kEnumPrec, true, &v->i[0]);
      case 'X': return c.Int(st->indexPrec, true, &v->i[0]);
      case 'c': return c.Int(st->colorIndexPrec, false, &v->i[0]);
      case 'C':
        return c.Int(st->colorPrec, false, &v->i[0]) &&
               c.Int(st->colorPrec, false, &v->i[1]) &&
               c.Int(st->colorPrec, false, &v->i[2]);
      case 'O': return ReadOne(ps->colorMode == 1 ? 'C' : 'c', v);
      case 'P': return ReadPoint(v);
      case 'V': return ReadVdc(v);
      case 'R':
        v->real = true;
        v->form = st->realForm;
        return c.Real(st->realForm, &v->d[0]);
      case 'F':
        v->real = true;
        v->form = kRealFloat32;
        return c.Real(kRealFloat32, &v->d[0]);
      case 'W':
      case 'M':
      case 'G': {
        int mode = t == 'W' ? ps->lineWidthMode
                            : t == 'M' ? ps->markerSizeMode : ps->edgeWidthMode;
        if (mode != 0) return ReadOne('R', v);
        v->t = 'V';
        return ReadVdc(v);
      }
      default: return false;
    }
  }
};

const char *TypeWord(char t) {
  switch (t) {
    case 'S': return "a string";
    case 'I': return "an integer";
    case 'E': return "an enumeration";
    case 'X': return "an index";
    case 'c': return "a colour index";
    case 'C': return "a direct colour";
    case 'O': return "a colour";
    case 'P': return "a point";
    case 'V': return "a VDC value";
    case 'R':
    case 'F': return "a real";
    default: return "a value";
  }
}

// Why a value cannot be read with the precisions in force, or "" when the
// precisions are usable.
std::string PrecisionProblem(char t, const DecodeState &st,
                             const PictureState &ps) {
  switch (t) {
    case 'P':
    case 'V':
      if (st.vdcType == 1 && RealFormBytes(ps.vdcRealForm) == 0)
        return "the VDC real precision in force is not a valid one";
      return "";
    case 'R':
      if (RealFormBytes(st.realForm) == 0)
        return "the real precision in force is not a valid one";
      return "";
    default: return "";
  }
}

// Decodes the parameters after a signature.  Returns false on a length
// mismatch (problem recorded).
bool DecodeSignature(Ctx *x, const char *sig) {
  Element &e = *x->e;
  const char *loop = nullptr;
  const char *s = sig;
  size_t total = e.frame.params.size();
  for (;;) {
    if (*s == '\0') {
      if (loop && x->c.Left() > 0) {
        s = loop;
        continue;
      }
      break;
    }
    if (*s == '*') {
      loop = s + 1;
      s++;
      if (x->c.Left() == 0) break;
      continue;
    }
    if (*s == 'N') {
      x->c.pos = x->c.n;
      s++;
      continue;
    }
    std::string why = PrecisionProblem(*s, *x->st, *x->ps);
    if (!why.empty()) {
      x->Problem(Fmt("%s cannot be decoded: %s", e.longName, why.c_str()),
                 x->c.pos);
      return false;
    }
    Value v;
    size_t at = x->c.pos;
    if (!x->ReadOne(*s, &v)) {
      x->Problem(Fmt("length mismatch: the %zu parameter bytes of %s end "
                     "inside %s (at parameter byte %zu)",
                     total, e.longName, TypeWord(*s), at),
                 at);
      return false;
    }
    e.values.push_back(v);
    s++;
  }
  if (x->c.Left() > 0) {
    x->Problem(Fmt("length mismatch: %s holds %zu parameter bytes, but its "
                   "parameters end after %zu",
                   e.longName, total, x->c.pos),
               x->c.pos);
    return false;
  }
  return true;
}

bool ValidLocalPrecision(int64_t p) {
  return p == 0 || p == 1 || p == 2 || p == 4 || p == 8 || p == 16 || p == 24 ||
         p == 32;
}

void DecodeCellArray(Ctx *x) {
  Element &e = *x->e;
  CellArray &ca = e.cells;
  e.isCellArray = true;
  std::string why = PrecisionProblem('P', *x->st, *x->ps);
  if (!why.empty()) {
    x->Problem("CELL ARRAY cannot be decoded: " + why, kWhole);
    return;
  }
  Value nx, ny, lp, mode;
  const char *what = nullptr;
  size_t at = 0;
  if (at = x->c.pos, !x->ReadPoint(&ca.p)) what = "corner point P";
  else if (at = x->c.pos, !x->ReadPoint(&ca.q)) what = "corner point Q";
  else if (at = x->c.pos, !x->ReadPoint(&ca.r)) what = "corner point R";
  else if (at = x->c.pos, !x->ReadOne('I', &nx)) what = "nx";
  else if (at = x->c.pos, !x->ReadOne('I', &ny)) what = "ny";
  else if (at = x->c.pos, !x->ReadOne('I', &lp)) what = "the local colour precision";
  else if (at = x->c.pos, !x->ReadOne('E', &mode)) what = "the cell representation mode";
  if (what) {
    x->Problem(Fmt("length mismatch: the %zu parameter bytes of CELL ARRAY "
                   "end inside %s",
                   e.frame.params.size(), what),
               at);
    return;
  }
  ca.nx = nx.i[0];
  ca.ny = ny.i[0];
  ca.localPrec = lp.i[0];
  ca.mode = mode.i[0];
  ca.rowsOffset = x->c.pos;
  ca.countPrec = x->st->intPrec;
  ca.direct = x->ps->colorMode == 1;
  ca.k = ca.direct ? 3 : 1;
  e.values = {ca.p, ca.q, ca.r, nx, ny, lp, mode};
  if (ca.nx <= 0 || ca.ny <= 0) {
    x->Problem(Fmt("CELL ARRAY with %lld x %lld cells: nx and ny must be "
                   "greater than 0",
                   static_cast<long long>(ca.nx), static_cast<long long>(ca.ny)),
               kWhole);
    return;
  }
  if (!ValidLocalPrecision(ca.localPrec)) {
    x->Problem(Fmt("CELL ARRAY local colour precision %lld is not one of 0, "
                   "1, 2, 4, 8, 16, 24, 32",
                   static_cast<long long>(ca.localPrec)),
               kWhole);
    return;
  }
  if (ca.mode != 0 && ca.mode != 1) {
    x->Problem(Fmt("CELL ARRAY cell representation mode %lld is neither 0 "
                   "(run-length) nor 1 (packed)",
                   static_cast<long long>(ca.mode)),
               kWhole);
    return;
  }
  ca.precision = ca.localPrec != 0
                     ? static_cast<int>(ca.localPrec)
                     : (ca.direct ? x->st->colorPrec : x->st->colorIndexPrec);
  // Rows are checked here once, so that every user of the element can rely
  // on them.
  std::string err;
  size_t errAt = 0;
  e.decoded = true;  // VisitCellRows needs a decoded header
  if (!VisitCellRows(
          e, [](int64_t, int64_t, int64_t, const int64_t *) { return true; },
          &err, &errAt)) {
    e.decoded = false;
    if (e.problem.empty()) {
      e.problem = err;
      e.problemOffset = errAt;  // already a file offset
    }
  }
}

// Bytes one structured data record value of a type takes, 0 when unknown.
int SdrValueBytes(int64_t type, const DecodeState &st, const PictureState &ps) {
  switch (type) {
    case 2: return st.colorIndexPrec / 8;
    case 3: return 3 * (st.colorPrec / 8);
    case 5: return 2;
    case 6: return st.intPrec / 8;
    case 8: return 1;
    case 9: return 2;
    case 10: return 4;
    case 11: return st.indexPrec / 8;
    case 12: return RealFormBytes(st.realForm);
    case 16:
      return st.vdcType == 1 ? RealFormBytes(ps.vdcRealForm) : ps.vdcIntPrec / 8;
    case 18: return 1;
    case 19: return 4;
    case 22: return 2;
    default: return 0;
  }
}

// Parses a structured data record.  Returns false when it does not parse to
// its end; members before the problem are kept.
bool ParseSdr(const std::string &rec, const DecodeState &st,
              const PictureState &ps, std::vector<SdrMember> *out,
              std::string *why) {
  Cursor c{reinterpret_cast<const uint8_t *>(rec.data()), rec.size(), 0};
  while (c.Left() > 0) {
    SdrMember m;
    if (!c.Int(16, true, &m.type) || !c.Int(st.intPrec, true, &m.count)) {
      *why = "the data record ends inside a member's type or count";
      return false;
    }
    int size = SdrValueBytes(m.type, st, ps);
    if (m.count < 0) {
      *why = Fmt("a member of type %lld has a negative count %lld",
                 static_cast<long long>(m.type), static_cast<long long>(m.count));
      out->push_back(m);
      return false;
    }
    if (size == 0) {
      *why = Fmt("member type %lld is not one this reader decodes",
                 static_cast<long long>(m.type));
      out->push_back(m);
      return false;
    }
    uint64_t need = static_cast<uint64_t>(m.count) * static_cast<uint64_t>(size);
    if (need > c.Left()) {
      *why = Fmt("a member of type %lld announces %lld values, more than the "
                 "record holds",
                 static_cast<long long>(m.type), static_cast<long long>(m.count));
      out->push_back(m);
      return false;
    }
    m.bytes = static_cast<size_t>(need);
    for (int64_t k = 0; k < m.count; k++) {
      Value v;
      switch (m.type) {
        case 2: v.t = 'c'; c.Int(st.colorIndexPrec, false, &v.i[0]); break;
        case 3:
          v.t = 'C';
          c.Int(st.colorPrec, false, &v.i[0]);
          c.Int(st.colorPrec, false, &v.i[1]);
          c.Int(st.colorPrec, false, &v.i[2]);
          break;
        case 5: v.t = 'E'; c.Int(16, true, &v.i[0]); break;
        case 6: v.t = 'I'; c.Int(st.intPrec, true, &v.i[0]); break;
        case 8: v.t = 'I'; c.Int(8, true, &v.i[0]); break;
        case 9: v.t = 'I'; c.Int(16, true, &v.i[0]); break;
        case 10: v.t = 'I'; c.Int(32, true, &v.i[0]); break;
        case 11: v.t = 'X'; c.Int(st.indexPrec, true, &v.i[0]); break;
        case 12:
          v.t = 'R';
          v.real = true;
          v.form = st.realForm;
          c.Real(st.realForm, &v.d[0]);
          break;
        case 16:
          v.t = 'V';
          if (st.vdcType == 1) {
            v.real = true;
            v.form = ps.vdcRealForm;
            c.Real(ps.vdcRealForm, &v.d[0]);
          } else {
            c.Int(ps.vdcIntPrec, true, &v.i[0]);
          }
          break;
        case 18: v.t = 'I'; c.Int(8, false, &v.i[0]); break;
        case 19: v.t = 'I'; c.Int(32, false, &v.i[0]); break;
        case 22: v.t = 'I'; c.Int(16, false, &v.i[0]); break;
        default: break;
      }
      m.values.push_back(v);
    }
    out->push_back(std::move(m));
  }
  return true;
}

void DecodeGdp(Ctx *x, DecodeState *st) {
  Element &e = *x->e;
  Value id;
  if (!x->ReadOne('I', &id)) {
    x->Problem("length mismatch: GENERALIZED DRAWING PRIMITIVE is too short "
               "to hold its identifier",
               0);
    return;
  }
  size_t afterId = x->c.pos;
  // Trace set-up: four points, 0, six reals, three integers, two reals and
  // four integers, with no count of points and no data record.
  if (id.i[0] == -4 && PrecisionProblem('P', *st, *x->ps).empty() &&
      PrecisionProblem('R', *st, *x->ps).empty()) {
    static const char kTrace[] = "PPPPIRRRRRRIIIRRIIII";
    std::vector<Value> vals{id};
    bool ok = true;
    for (const char *s = kTrace; *s && ok; s++) {
      Value v;
      ok = x->ReadOne(*s, &v);
      vals.push_back(v);
    }
    if (ok && x->c.Left() == 0) {
      e.values = vals;
      e.gdpKind = -4;
      e.decoded = true;
      st->traceInit = true;
      st->sampleType = vals[13].i[0];
      st->samplesPerTrace = vals[14].i[0];
      return;
    }
    x->c.pos = afterId;
  }
  if (id.i[0] == -5 && st->traceInit) {
    int64_t n = st->samplesPerTrace;
    int bytes = 0;
    bool isReal = false, twice = false;
    switch (st->sampleType) {
      case 0: bytes = 2; break;
      case 1: bytes = 4; break;
      case 2: bytes = 4; isReal = true; break;
      case 3: bytes = 1; break;
      case 4: bytes = 2; twice = true; break;
      case 5: bytes = 1; twice = true; break;
      default: n = 0; break;
    }
    if (n < 0) n = 0;
    uint64_t count = static_cast<uint64_t>(n) * (twice ? 2u : 1u);
    uint64_t need = count * static_cast<uint64_t>(bytes);
    e.gdpKind = -5;
    e.traceSampleType = st->sampleType;
    if (need != x->c.Left()) {
      x->Problem(Fmt("length mismatch: trace data of %llu samples of %d "
                     "bytes (sample type %lld, as the trace set-up says) "
                     "takes %llu bytes, the element holds %zu after the "
                     "identifier",
                     static_cast<unsigned long long>(count), bytes,
                     static_cast<long long>(st->sampleType),
                     static_cast<unsigned long long>(need), x->c.Left()),
                 afterId);
      return;
    }
    e.values.push_back(id);
    for (uint64_t k = 0; k < count; k++) {
      Value v;
      if (isReal) {
        v.t = 'F';
        v.real = true;
        v.form = kRealFloat32;
        x->c.Real(kRealFloat32, &v.d[0]);
      } else {
        v.t = 'I';
        x->c.Int(bytes * 8, true, &v.i[0]);
      }
      e.values.push_back(v);
    }
    e.decoded = true;
    return;
  }
  if (id.i[0] == -5) {
    // Without a trace set-up in this metafile the layout is unknown.
    e.gdpKind = -5;
    e.traceSampleType = -1;
    e.values.push_back(id);
    e.decoded = true;
    e.notes.push_back(Fmt("trace data at offset %zu without a trace set-up "
                          "(GDP -4) before it in this metafile: samples not "
                          "decoded",
                          e.frame.offset));
    return;
  }
  // The general layout: identifier, number of points, the points and the
  // data record as a string.
  e.gdpKind = 1;
  Value n;
  std::string why = PrecisionProblem('P', *st, *x->ps);
  if (!why.empty()) {
    x->Problem("GENERALIZED DRAWING PRIMITIVE cannot be decoded: " + why, kWhole);
    return;
  }
  if (!x->ReadOne('I', &n)) {
    x->Problem("length mismatch: GENERALIZED DRAWING PRIMITIVE ends inside "
               "its number of points",
               x->c.pos);
    return;
  }
  if (n.i[0] < 0) {
    x->Problem(Fmt("GENERALIZED DRAWING PRIMITIVE has a negative number of "
                   "points (%lld)",
                   static_cast<long long>(n.i[0])),
               afterId);
    return;
  }
  e.values = {id, n};
  for (int64_t k = 0; k < n.i[0]; k++) {
    Value p;
    if (!x->ReadPoint(&p)) {
      x->Problem(Fmt("length mismatch: GENERALIZED DRAWING PRIMITIVE "
                     "announces %lld points, its parameter bytes end inside "
                     "point %lld",
                     static_cast<long long>(n.i[0]),
                     static_cast<long long>(k + 1)),
                 x->c.pos);
      return;
    }
    e.values.push_back(p);
  }
  Value rec;
  rec.t = 'S';
  if (!x->c.String(&rec.s)) {
    x->Problem("length mismatch: GENERALIZED DRAWING PRIMITIVE ends inside "
               "its data record",
               x->c.pos);
    return;
  }
  if (x->c.Left() > 0) {
    x->Problem(Fmt("length mismatch: GENERALIZED DRAWING PRIMITIVE holds %zu "
                   "bytes after its data record",
                   x->c.Left()),
               x->c.pos);
    return;
  }
  e.values.push_back(rec);
  e.decoded = true;
  if (id.i[0] == -3000) {
    std::string err;
    if (!ParseSdr(rec.s, *st, *x->ps, &e.sdr, &err))
      x->Problem("PIP data record of GENERALIZED DRAWING PRIMITIVE -3000 "
                 "does not decode: " + err,
                 kWhole);
  }
}

void Decode(const Frame &frame, DecodeState *st, bool inPicture, Element *e,
            int depth);

void DecodeDefaults(Ctx *x, DecodeState *st, int depth) {
  Element &e = *x->e;
  e.decoded = true;
  const std::vector<uint8_t> &data = e.frame.params;
  size_t pos = 0;
  while (pos < data.size()) {
    Frame f;
    std::string err;
    size_t errAt = 0;
    if (!ReadFrame(data.data(), data.size(), pos, &f, &err, &errAt)) {
      x->Problem("METAFILE DEFAULTS REPLACEMENT: its contents do not end on "
                 "an element boundary: " + err,
                 errAt);
      return;
    }
    // Offsets of the inner element are relative to the parameter list;
    // translate them to file offsets.
    f.offset = e.frame.FileOffset(f.offset);
    for (Segment &s : f.segments) s.fileStart = e.frame.FileOffset(s.fileStart);
    if (f.hasPad) f.padOffset = e.frame.FileOffset(f.padOffset);
    size_t next = f.end;
    f.end = e.frame.FileOffset(f.end - 1) + 1;
    Element child;
    Decode(f, st, false, &child, depth + 1);
    bool allowed = f.cls == 1 || f.cls == 2 || f.cls == 3 || f.cls == 5 ||
                   (f.cls == 0 && f.id == 0);
    if (f.cls == 1 && f.id == 12) allowed = false;
    if (!allowed)
      x->Problem(Fmt("%s inside METAFILE DEFAULTS REPLACEMENT, which may hold "
                     "only descriptor, control and attribute elements",
                     child.known ? child.longName
                                 : Fmt("element class %d id %d", f.cls, f.id)
                                       .c_str()),
                 pos);
    if (!child.problem.empty() && e.problem.empty()) {
      e.problem = child.problem;
      e.problemOffset = child.problemOffset;
    }
    for (const std::string &n : child.notes) e.notes.push_back(n);
    e.children.push_back(std::move(child));
    pos = next;
  }
}

// Checks of enumerated values where a wrong one changes the meaning or the
// decoding of what follows.
void CheckEnums(Ctx *x) {
  Element &e = *x->e;
  auto want = [&](size_t idx, int64_t lo, int64_t hi, const char *what) {
    if (idx >= e.values.size()) return;
    int64_t v = e.values[idx].i[0];
    if (v < lo || v > hi)
      x->Problem(Fmt("%s: %s %lld is not a valid value (%lld to %lld)",
                     e.longName, what, static_cast<long long>(v),
                     static_cast<long long>(lo), static_cast<long long>(hi)),
                 kWhole);
  };
  int c = e.frame.cls, id = e.frame.id;
  if (c == 1 && id == 3) want(0, 0, 1, "VDC type");
  if (c == 2 && id == 1) want(0, 0, 1, "scaling mode");
  if (c == 2 && id == 2) want(0, 0, 1, "colour selection mode");
  if (c == 2 && id >= 3 && id <= 5) want(0, 0, 3, "width or size mode");
  if (c == 4 && id == 4) want(1, 0, 1, "final flag");
  if (c == 4 && id == 5) want(3, 0, 1, "final flag");
  if (c == 4 && id == 6) want(0, 0, 1, "final flag");
  if (c == 4 && (id == 14 || id == 16)) want(e.values.size() - 1, 0, 1, "close type");
  if (c == 4 && id == 19) want(7, 0, 1, "close type");
  if (c == 4 && id == 8)
    for (size_t k = 1; k < e.values.size(); k += 2) want(k, 0, 3, "edge-out flag");
  if (c == 1 && id == 11) {
    int64_t n = e.values.empty() ? 0 : e.values[0].i[0];
    size_t pairs = (e.values.size() - 1) / 2;
    if (n < 0 || static_cast<uint64_t>(n) != pairs)
      x->Problem(Fmt("length mismatch: METAFILE ELEMENT LIST announces %lld "
                     "elements and holds %zu",
                     static_cast<long long>(n), pairs),
                 kWhole);
  }
}

// Applies an element's effect on the decoding state.
void Apply(Ctx *x, DecodeState *st, bool inPicture) {
  Element &e = *x->e;
  PictureState &ps = inPicture ? st->pic : st->defaults;
  int c = e.frame.cls, id = e.frame.id;
  if (e.values.empty()) return;
  int64_t v = e.values[0].i[0];
  auto precision = [&](int *field, const char *what) {
    if (ValidPrecision(v))
      *field = static_cast<int>(v);
    else
      x->Problem(Fmt("%s %lld is not one of 8, 16, 24, 32; later values "
                     "cannot be decoded",
                     what, static_cast<long long>(v)),
                 kWhole);
  };
  auto realForm = [&](int *field, const char *what) {
    if (e.values.size() < 3) return;
    int f = RealFormOf(e.values[0].i[0], e.values[1].i[0], e.values[2].i[0]);
    if (f == kRealUnknown) {
      x->Problem(Fmt("%s (%lld, %lld, %lld) is none of the binary encoding's "
                     "real forms (0, 9, 23), (0, 12, 52), (1, 16, 16), "
                     "(1, 32, 32)",
                     what, static_cast<long long>(e.values[0].i[0]),
                     static_cast<long long>(e.values[1].i[0]),
                     static_cast<long long>(e.values[2].i[0])),
                 kWhole);
      *field = kRealUnknown;
    } else {
      *field = f;
    }
  };
  if (c == 1) {
    switch (id) {
      case 3:
        if (v == 0 || v == 1) st->vdcType = static_cast<int>(v);
        break;
      case 4: precision(&st->intPrec, "INTEGER PRECISION"); break;
      case 5: realForm(&st->realForm, "REAL PRECISION"); break;
      case 6: precision(&st->indexPrec, "INDEX PRECISION"); break;
      case 7: precision(&st->colorPrec, "COLOUR PRECISION"); break;
      case 8: precision(&st->colorIndexPrec, "COLOUR INDEX PRECISION"); break;
      case 9:
        st->maxColorIndexSet = true;
        st->maxColorIndex = v;
        break;
      case 10:
        if (e.values.size() == 2) {
          st->colorExtentSet = true;
          for (int k = 0; k < 3; k++) {
            st->colorExtent[k] = e.values[0].i[k];
            st->colorExtent[3 + k] = e.values[1].i[k];
          }
        }
        break;
      default: break;
    }
  } else if (c == 2) {
    switch (id) {
      case 1:
        if (v == 0 || v == 1) ps.scalingMode = static_cast<int>(v);
        if (v == 1 && e.values.size() > 1) ps.metricScale = e.values[1].d[0];
        break;
      case 2:
        if (v == 0 || v == 1) ps.colorMode = static_cast<int>(v);
        break;
      // 0 absolute (a VDC value), 1 scaled, 2 fractional, 3 millimetres
      // (reals).
      case 3: if (v >= 0 && v <= 3) ps.lineWidthMode = static_cast<int>(v); break;
      case 4: if (v >= 0 && v <= 3) ps.markerSizeMode = static_cast<int>(v); break;
      case 5: if (v >= 0 && v <= 3) ps.edgeWidthMode = static_cast<int>(v); break;
      case 6:
        if (e.values.size() == 2) {
          ps.extentSet = true;
          ps.extent[0] = e.values[0].Num(0);
          ps.extent[1] = e.values[0].Num(1);
          ps.extent[2] = e.values[1].Num(0);
          ps.extent[3] = e.values[1].Num(1);
        }
        break;
      case 7:
        ps.backgroundSet = true;
        for (int k = 0; k < 3; k++) ps.background[k] = e.values[0].i[k];
        break;
      default: break;
    }
  } else if (c == 3) {
    if (id == 1) precision(&ps.vdcIntPrec, "VDC INTEGER PRECISION");
    if (id == 2) realForm(&ps.vdcRealForm, "VDC REAL PRECISION");
  }
}

void DecodeBody(const Frame &frame, DecodeState *st, bool inPicture,
                Element *e, int depth);

// The pad byte follows the parameters, so a problem among them comes first.
void CheckPadOf(Element *e) {
  const Frame &f = e->frame;
  if (f.hasPad && f.pad != 0 && e->problem.empty()) {
    e->problem = Fmt("non-zero pad byte 0x%02X after the odd-length parameter "
                     "list of %s",
                     f.pad, ElementLabel(f.cls, f.id).c_str());
    e->problemOffset = f.padOffset;
  }
}

void Decode(const Frame &frame, DecodeState *st, bool inPicture, Element *e,
            int depth) {
  DecodeBody(frame, st, inPicture, e, depth);
  CheckPadOf(e);
}

void DecodeBody(const Frame &frame, DecodeState *st, bool inPicture,
                Element *e, int depth) {
  e->frame = frame;
  const Info *info = FindInfo(frame.cls, frame.id);
  e->known = info != nullptr;
  e->name = info ? info->name : "";
  e->longName = info ? info->longName : "";
  if (!info || !info->sig) return;
  Ctx x{st, inPicture ? &st->pic : &st->defaults, e,
        Cursor{frame.params.data(), frame.params.size(), 0}};
  if (frame.cls == 4 && frame.id == 9) {
    DecodeCellArray(&x);
    return;
  }
  if (frame.cls == 4 && frame.id == 10) {
    DecodeGdp(&x, st);
    return;
  }
  if (frame.cls == 1 && frame.id == 12) {
    if (depth > 0) {
      x.Problem("METAFILE DEFAULTS REPLACEMENT inside another one", kWhole);
      return;
    }
    DecodeDefaults(&x, st, depth);
    return;
  }
  if (!DecodeSignature(&x, info->sig)) return;
  e->decoded = true;
  CheckEnums(&x);
  Apply(&x, st, inPicture);
}

}  // namespace

void DecodeElement(const Frame &frame, DecodeState *state, bool inPicture,
                   Element *e) {
  *e = Element();
  Decode(frame, state, inPicture, e, 0);
}

// ---- Cell rows ------------------------------------------------------------------

bool VisitCellRows(const Element &e, const RunVisitor &visit,
                   std::string *error, size_t *errorOffset) {
  const CellArray &ca = e.cells;
  if (!e.isCellArray || ca.nx <= 0 || ca.ny <= 0 || ca.precision == 0) {
    *error = "the cell array's header does not decode";
    *errorOffset = e.frame.offset;
    return false;
  }
  const std::vector<uint8_t> &d = e.frame.params;
  Cursor c{d.data(), d.size(), ca.rowsOffset};
  const int p = ca.precision;
  const int k = ca.k;
  const int64_t nx = ca.nx;
  // IN assertion: p is 1, 2, 4, 8, 16, 24 or 32.
  int64_t vals[3] = {0, 0, 0};
  auto fail = [&](const std::string &msg, size_t at) {
    *error = msg;
    *errorOffset = e.frame.FileOffset(at);
    return false;
  };
  for (int64_t row = 0; row < ca.ny; row++) {
    if (c.pos % 2 == 1) {
      // Every row starts at an even offset of the parameter list.
      if (c.Left() < 1)
        return fail(Fmt("cell array rows do not add up: the data ends before "
                        "row %lld of %lld",
                        static_cast<long long>(row + 1),
                        static_cast<long long>(ca.ny)),
                    c.pos);
      if (d[c.pos] != 0)
        return fail(Fmt("non-zero pad byte 0x%02X before row %lld of a cell "
                        "array",
                        d[c.pos], static_cast<long long>(row + 1)),
                    c.pos);
      c.pos++;
    }
    if (ca.mode == 1) {
      uint64_t bits = static_cast<uint64_t>(nx) * static_cast<uint64_t>(k) *
                      static_cast<uint64_t>(p);
      uint64_t bytes = (bits + 7) / 8;
      if (bytes > c.Left())
        return fail(Fmt("cell array rows do not add up: packed row %lld of "
                        "%lld needs %llu bytes (%lld cells), only %zu remain",
                        static_cast<long long>(row + 1),
                        static_cast<long long>(ca.ny),
                        static_cast<unsigned long long>(bytes),
                        static_cast<long long>(nx), c.Left()),
                    c.pos);
      size_t start = c.pos;
      for (int64_t col = 0; col < nx; col++) {
        for (int j = 0; j < k; j++) {
          if (p >= 8) {
            c.Int(p, false, &vals[j]);
          } else {
            uint64_t bit = static_cast<uint64_t>(col * k + j) *
                           static_cast<uint64_t>(p);
            uint8_t byte = d[start + static_cast<size_t>(bit / 8)];
            unsigned shift = static_cast<unsigned>(8 - p - static_cast<int>(bit % 8));
            vals[j] = (byte >> shift) & ((1 << p) - 1);
          }
        }
        if (!visit(row, col, 1, vals)) return true;
      }
      c.pos = start + static_cast<size_t>(bytes);
    } else {
      int64_t sum = 0;
      while (sum < nx) {
        size_t at = c.pos;
        int64_t count;
        if (!c.Int(ca.countPrec, true, &count))
          return fail(Fmt("cell array rows do not add up: the data ends "
                          "inside row %lld of %lld, whose runs cover %lld of "
                          "nx = %lld cells",
                          static_cast<long long>(row + 1),
                          static_cast<long long>(ca.ny),
                          static_cast<long long>(sum), static_cast<long long>(nx)),
                      at);
        if (count <= 0)
          return fail(Fmt("cell array row %lld has a run length of %lld; run "
                          "lengths must be greater than 0",
                          static_cast<long long>(row + 1),
                          static_cast<long long>(count)),
                      at);
        if (count > nx - sum)
          return fail(Fmt("cell array run lengths do not add up: the runs of "
                          "row %lld add up to %lld, more than nx = %lld",
                          static_cast<long long>(row + 1),
                          static_cast<long long>(sum + count),
                          static_cast<long long>(nx)),
                      at);
        size_t colourAt = c.pos;
        if (p >= 8) {
          for (int j = 0; j < k; j++)
            if (!c.Int(p, false, &vals[j]))
              return fail(Fmt("cell array rows do not add up: the data ends "
                              "inside a run of row %lld",
                              static_cast<long long>(row + 1)),
                          colourAt);
        } else {
          size_t bytes = static_cast<size_t>((k * p + 7) / 8);
          if (c.Left() < bytes)
            return fail(Fmt("cell array rows do not add up: the data ends "
                            "inside a run of row %lld",
                            static_cast<long long>(row + 1)),
                        colourAt);
          for (int j = 0; j < k; j++) {
            int bit = j * p;
            uint8_t byte = d[c.pos + static_cast<size_t>(bit / 8)];
            vals[j] = (byte >> (8 - p - bit % 8)) & ((1 << p) - 1);
          }
          c.pos += bytes;
        }
        if (!visit(row, sum, count, vals)) return true;
        sum += count;
      }
    }
  }
  if (c.Left() > 0)
    return fail(Fmt("cell array rows do not add up: %zu bytes are left over "
                    "after the last of its %lld rows",
                    c.Left(), static_cast<long long>(ca.ny)),
                c.pos);
  return true;
}

bool ExpandCells(const Element &e, size_t maxValues, std::vector<int64_t> *out,
                 std::string *error) {
  out->clear();
  const CellArray &ca = e.cells;
  if (!e.isCellArray || !e.decoded) {
    *error = "not a decoded cell array";
    return false;
  }
  uint64_t total = static_cast<uint64_t>(ca.nx) * static_cast<uint64_t>(ca.ny);
  if (total > maxValues / static_cast<uint64_t>(ca.k)) {
    *error = "cell array too large to expand";
    return false;
  }
  out->resize(static_cast<size_t>(total) * static_cast<size_t>(ca.k));
  size_t at = 0;
  return VisitCellRows(
      e,
      [&](int64_t row, int64_t col, int64_t count, const int64_t *v) {
        for (int64_t n = 0; n < count; n++)
          for (int j = 0; j < ca.k; j++)
            (*out)[static_cast<size_t>(((row * ca.nx) + col + n) * ca.k + j)] = v[j];
        return true;
      },
      error, &at);
}

// ---- Walker ----------------------------------------------------------------------

Walker::Walker(const uint8_t *data, size_t size) : data_(data), size_(size) {}

bool Walker::Next(Element *e) {
  if (pos_ >= size_) return false;
  Frame f;
  if (!ReadFrame(data_, size_, pos_, &f, &frameError_, &frameErrorOffset_)) {
    pos_ = size_;
    return false;
  }
  pos_ = f.end;
  if (f.cls == 0) {
    switch (f.id) {
      case 1: region_ = kMetafileDescriptor; break;
      case 3:
        region_ = kPictureDescriptor;
        pictures_++;
        state_.pic = state_.defaults;
        break;
      case 4: region_ = kPictureBody; break;
      case 5: region_ = kBetweenPictures; break;
      case 2: region_ = kAfterMetafile; break;
      default: break;
    }
  }
  bool inPicture = region_ == kPictureDescriptor || region_ == kPictureBody;
  DecodeElement(f, &state_, inPicture, e);
  return true;
}

}  // namespace cgmd
