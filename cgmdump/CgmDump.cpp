// The dump: one line per element, in the style of the clear-text encoding
// (ISO/IEC 8632-4): the element's clear-text name, its parameters and a
// terminating semicolon, with remarks in % comments %.  Values the binary
// encoding has but the clear text does not (precisions in bits, the cell
// representation mode, run lengths) appear in those comments.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CgmDecode.h"

namespace cgmd {

namespace {

// How many points, cells or samples a summarised line shows.
const size_t kSummaryItems = 8;
// Longest string shown whole without --full.
const size_t kSummaryString = 200;


std::string Int(int64_t v) { return Fmt("%lld", static_cast<long long>(v)); }

// Whether decimal text reads back to the same value in a real form.
bool SameInForm(double text, double v, int form) {
  switch (form) {
    case kRealFloat32: return static_cast<float>(text) == static_cast<float>(v);
    case kRealFixed32:
    case kRealFixed64: {
      // Fixed point keeps floor(x) and the truncated fraction.
      double scale = form == kRealFixed32 ? 65536.0 : 4294967296.0;
      double wt = std::floor(text), wv = std::floor(v);
      return wt == wv && std::trunc((text - wt) * scale) == std::trunc((v - wv) * scale);
    }
    default: return text == v;
  }
}

}  // namespace

std::string FormatReal(double v, int form) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Inf" : "-Inf";
  char buf[400];
  double mag = std::fabs(v);
  if (v == 0 || (mag >= 1e-5 && mag < 1e16)) {
    // Plain decimals, as few as read back the same.
    for (int decimals = 0; decimals <= 24; decimals++) {
      std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
      if (SameInForm(std::strtod(buf, nullptr), v, form)) break;
    }
  } else {
    for (int digits = 1; digits <= 17; digits++) {
      std::snprintf(buf, sizeof buf, "%.*g", digits, v);
      if (SameInForm(std::strtod(buf, nullptr), v, form)) break;
    }
  }
  std::string s = buf;
  if (s.find_first_of(".eE") == std::string::npos) s += ".0";
  return s;
}

namespace {

std::string Quote(const std::string &s, bool full) {
  std::string out = "\"";
  size_t n = s.size();
  bool cut = !full && n > kSummaryString;
  if (cut) n = kSummaryString;
  for (size_t i = 0; i < n; i++) {
    unsigned char ch = static_cast<unsigned char>(s[i]);
    if (ch == '"') {
      out += "\"\"";
    } else if (ch >= 0x20 && ch < 0x7f) {
      out += static_cast<char>(ch);
    } else {
      out += Fmt("\\x%02X", ch);
    }
  }
  out += "\"";
  if (cut) out += Fmt(" ... %% %zu characters %%", s.size());
  return out;
}

std::string Vdc(const Value &v, int k) {
  return v.real ? FormatReal(v.d[k], v.form) : Int(v.i[k]);
}

std::string Point(const Value &v) { return "(" + Vdc(v, 0) + "," + Vdc(v, 1) + ")"; }

std::string ValueText(const Value &v, bool full) {
  switch (v.t) {
    case 'S': return Quote(v.s, full);
    case 'C': return Int(v.i[0]) + " " + Int(v.i[1]) + " " + Int(v.i[2]);
    case 'P': return Point(v);
    case 'V': return Vdc(v, 0);
    case 'R':
    case 'F': return FormatReal(v.d[0], v.form);
    default: return Int(v.i[0]);
  }
}

// An enumeration as its clear-text keyword, or its number when out of range.
std::string Keyword(int64_t v, std::initializer_list<const char *> words) {
  int64_t k = 0;
  for (const char *w : words) {
    if (k == v) return w;
    k++;
  }
  return Int(v);
}

std::string IntRange(int64_t bits) {
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return "";
  int64_t lo = -(static_cast<int64_t>(1) << (bits - 1));
  int64_t hi = (static_cast<int64_t>(1) << (bits - 1)) - 1;
  return Int(lo) + ", " + Int(hi);
}

std::string PrecisionText(const Element &e, bool unsignedMax) {
  int64_t bits = e.values[0].i[0];
  std::string range =
      unsignedMax ? (bits == 8 || bits == 16 || bits == 24 || bits == 32
                         ? Int((static_cast<int64_t>(1) << bits) - 1)
                         : "")
                  : IntRange(bits);
  if (range.empty())
    return std::string(e.name) + ";  % " + Int(bits) +
           " bits: not a valid precision %";
  return std::string(e.name) + " " + range + ";  % " + Int(bits) + " bits %";
}

std::string RealPrecText(const Element &e) {
  int64_t f = e.values[0].i[0], a = e.values[1].i[0], b = e.values[2].i[0];
  std::string triple = "(" + Int(f) + ", " + Int(a) + ", " + Int(b) + ")";
  const char *range = nullptr;
  const char *what = nullptr;
  if (f == 0 && a == 9 && b == 23) {
    range = "-3.4e38, 3.4e38, 7";
    what = "floating point, 32 bits";
  } else if (f == 0 && a == 12 && b == 52) {
    range = "-1.7e308, 1.7e308, 15";
    what = "floating point, 64 bits";
  } else if (f == 1 && a == 16 && b == 16) {
    range = "-32768.0, 32767.0, 4";
    what = "fixed point, 32 bits";
  } else if (f == 1 && a == 32 && b == 32) {
    range = "-2147483648.0, 2147483647.0, 9";
    what = "fixed point, 64 bits";
  }
  if (!range)
    return std::string(e.name) + ";  % " + triple +
           ": not a real form of the binary encoding %";
  return std::string(e.name) + " " + range + ";  % " + what + " " + triple + " %";
}

const char *ElementListName(int64_t cls, int64_t id) {
  if (cls == -1) {
    switch (id) {
      case 0: return "DRAWINGSET";
      case 1: return "DRAWINGPLUS";
      case 2: return "VERSION2";
      case 3: return "EXTDPRIM";
      case 4: return "VERSION2GKSM";
      case 5: return "VERSION3";
      case 6: return "VERSION4";
      default: return "";
    }
  }
  if (cls < 0 || cls > 15 || id < 0 || id > 127) return "";
  return ElementName(static_cast<int>(cls), static_cast<int>(id));
}

// A list of values, summarised to kSummaryItems unless full.
std::string List(const std::vector<Value> &v, size_t from, bool full,
                 const char *noun) {
  std::string out;
  size_t n = v.size() > from ? v.size() - from : 0;
  size_t shown = full ? n : std::min(n, kSummaryItems);
  for (size_t i = 0; i < shown; i++) {
    out += " ";
    out += ValueText(v[from + i], full);
  }
  if (shown < n) out += Fmt(" ...;  %% %zu %s %%", n, noun);
  else out += ";";
  return out;
}

const char *CloseWord(int64_t v) { return v == 0 ? "PIE" : v == 1 ? "CHORD" : nullptr; }

std::string Enum(int64_t v, std::initializer_list<const char *> words) {
  return Keyword(v, words);
}

std::string GeneralParams(const Element &e, bool full) {
  std::string out = e.name;
  for (const Value &v : e.values) out += " " + ValueText(v, full);
  return out + ";";
}

std::string HexBytes(const std::vector<uint8_t> &b, bool full) {
  std::string out;
  size_t n = full ? b.size() : std::min<size_t>(b.size(), 16);
  for (size_t i = 0; i < n; i++) out += Fmt(i ? " %02X" : "%02X", b[i]);
  if (n < b.size()) out += " ...";
  return out;
}

const char *SdrTypeName(int64_t t) {
  switch (t) {
    case 2: return "CI";
    case 3: return "CD";
    case 5: return "E";
    case 6: return "I";
    case 8: return "IF8";
    case 9: return "IF16";
    case 10: return "IF32";
    case 11: return "IX";
    case 12: return "R";
    case 16: return "VDC";
    case 18: return "UI8";
    case 19: return "UI32";
    case 22: return "UI16";
    default: return nullptr;
  }
}

std::string GdpText(const Element &e, bool full) {
  std::string out = "GDP";
  if (e.gdpKind == -4) {
    out += " -4";
    for (size_t i = 1; i < e.values.size(); i++) out += " " + ValueText(e.values[i], full);
    out += Fmt(";  %% trace set-up: sample type %lld, %lld samples per trace %%",
               static_cast<long long>(e.values[13].i[0]),
               static_cast<long long>(e.values[14].i[0]));
    return out;
  }
  if (e.gdpKind == -5) {
    out += " -5";
    if (e.traceSampleType < 0)
      return out + Fmt(";  %% trace data, %zu parameter bytes: no trace "
                       "set-up before it %%",
                       e.frame.params.size());
    static const char *const kTypes[] = {"16-bit integers", "32-bit integers",
                                         "32-bit reals",     "8-bit integers",
                                         "16-bit pairs",     "8-bit pairs"};
    const char *type = e.traceSampleType >= 0 && e.traceSampleType <= 5
                           ? kTypes[e.traceSampleType]
                           : "no samples";
    std::string list = List(e.values, 1, full, "samples");
    if (!list.empty() && list.back() == ';')
      list += Fmt("  %% %zu samples, %s %%", e.values.size() - 1, type);
    return out + list;
  }
  // General layout: identifier, number of points, points, data record.
  out += " " + Int(e.values[0].i[0]);
  size_t n = static_cast<size_t>(e.values[1].i[0]);
  for (size_t i = 0; i < n; i++) out += " " + Point(e.values[2 + i]);
  const Value &rec = e.values.back();
  if (e.values[0].i[0] == -3000 && !e.sdr.empty()) {
    out += " [";
    bool first = true;
    for (const SdrMember &m : e.sdr) {
      const char *tn = SdrTypeName(m.type);
      out += first ? "" : ", ";
      first = false;
      out += tn ? std::string(tn) : "type " + Int(m.type);
      out += " " + Int(m.count) + ":";
      size_t shown = full ? m.values.size() : std::min(m.values.size(), kSummaryItems);
      for (size_t i = 0; i < shown; i++) out += " " + ValueText(m.values[i], full);
      if (shown < m.values.size()) out += " ...";
    }
    return out + "];  % PIP data record %";
  }
  bool printable = true;
  for (char ch : rec.s)
    if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) >= 0x7f)
      printable = false;
  if (printable) return out + " " + Quote(rec.s, full) + ";";
  std::vector<uint8_t> b(rec.s.begin(), rec.s.end());
  return out + Fmt(" \"\";  %% data record: %zu bytes: ", rec.s.size()) +
         HexBytes(b, full) + " %";
}

std::string CellColour(const CellArray &ca, const int64_t *v) {
  if (ca.k == 3) return Int(v[0]) + " " + Int(v[1]) + " " + Int(v[2]);
  return Int(v[0]);
}

std::vector<std::string> CellArrayText(const Element &e, bool full) {
  const CellArray &ca = e.cells;
  std::vector<std::string> lines;
  std::string head = "CELLARRAY " + Point(ca.p) + " " + Point(ca.q) + " " +
                     Point(ca.r) + " " + Int(ca.nx) + " " + Int(ca.ny) + " " +
                     Int(ca.localPrec);
  std::string about = Fmt("%s colour, %s, %lld row%s of %lld cell%s, %d "
                          "bit%s per value",
                          ca.direct ? "direct" : "indexed",
                          ca.mode == 1 ? "packed" : "run-length",
                          static_cast<long long>(ca.ny), ca.ny == 1 ? "" : "s",
                          static_cast<long long>(ca.nx), ca.nx == 1 ? "" : "s",
                          ca.precision, ca.precision == 1 ? "" : "s");
  std::string err;
  size_t errAt = 0;
  if (!full) {
    // The first cells of the first row.
    std::string cells;
    size_t shown = 0;
    bool moreCells = false, moreRows = false;
    VisitCellRows(
        e,
        [&](int64_t row, int64_t, int64_t count, const int64_t *v) {
          if (row > 0) {
            moreRows = true;
            return false;
          }
          for (int64_t n = 0; n < count; n++) {
            if (shown >= kSummaryItems) {
              moreCells = true;
              return false;
            }
            cells += (shown ? ", " : "") + CellColour(ca, v);
            shown++;
          }
          return true;
        },
        &err, &errAt);
    head += " (" + cells + (moreCells ? ", ..." : "") + ")";
    if (ca.ny > 1) head += " ...";
    lines.push_back(head + ";  % " + about + " %");
    return lines;
  }
  lines.push_back(head + "  % " + about + " %");
  std::string row;
  int64_t current = 0;
  bool first = true;
  VisitCellRows(
      e,
      [&](int64_t r, int64_t, int64_t count, const int64_t *v) {
        if (r != current) {
          lines.push_back("  (" + row + ")");
          row.clear();
          first = true;
          current = r;
        }
        if (!first) row += ", ";
        first = false;
        if (ca.mode == 1)
          row += CellColour(ca, v);
        else
          row += Int(count) + "*(" + CellColour(ca, v) + ")";
        return true;
      },
      &err, &errAt);
  lines.push_back("  (" + row + ");");
  return lines;
}

std::string Statement(const Element &e, bool full) {
  int c = e.frame.cls, id = e.frame.id;
  const std::vector<Value> &v = e.values;
  std::string n = e.name;
  if (c == 0) {
    if (id == 0) return Fmt("NOOP;  %% %zu bytes %%", e.frame.params.size());
    return GeneralParams(e, full);
  }
  if (c == 1) {
    switch (id) {
      case 3: return n + " " + Enum(v[0].i[0], {"INTEGER", "REAL"}) + ";";
      case 4:
      case 6:
      case 16: return PrecisionText(e, false);
      case 5: return RealPrecText(e);
      case 7:
      case 8: return PrecisionText(e, true);
      case 10: return n + " " + ValueText(v[0], full) + ", " + ValueText(v[1], full) + ";";
      case 11: {
        std::string names;
        for (size_t i = 1; i + 1 < v.size(); i += 2) {
          const char *nm = ElementListName(v[i].i[0], v[i + 1].i[0]);
          if (!names.empty()) names += " ";
          names += *nm ? std::string(nm)
                       : "(" + Int(v[i].i[0]) + "," + Int(v[i + 1].i[0]) + ")";
        }
        return n + " \"" + names + "\";";
      }
      case 12: return "BEGMFDEFAULTS;";
      case 13: {
        std::string out = n;
        for (size_t i = 0; i < v.size(); i++) out += (i ? ", " : " ") + ValueText(v[i], full);
        return out + ";";
      }
      case 14: {
        std::string out = n;
        for (size_t i = 0; i + 1 < v.size(); i += 2)
          out += (i ? ", " : " ") +
                 Enum(v[i].i[0], {"STD94", "STD96", "STD94MULTIBYTE",
                                  "STD96MULTIBYTE", "COMPLETECODE"}) +
                 " " + ValueText(v[i + 1], full);
        return out + ";";
      }
      case 15:
        return n + " " + Enum(v[0].i[0], {"BASIC7BIT", "BASIC8BIT", "EXTD7BIT", "EXTD8BIT"}) + ";";
      default: return GeneralParams(e, full);
    }
  }
  if (c == 2) {
    switch (id) {
      case 1:
        return n + " " + Enum(v[0].i[0], {"ABSTRACT", "METRIC"}) + " " +
               ValueText(v[1], full) + ";";
      case 2: return n + " " + Enum(v[0].i[0], {"INDEXED", "DIRECT"}) + ";";
      case 3:
      case 4:
      case 5:
        return n + " " + Enum(v[0].i[0], {"ABS", "SCALED", "FRACTIONAL", "MM"}) + ";";
      default: return GeneralParams(e, full);
    }
  }
  if (c == 3) {
    switch (id) {
      case 1: return PrecisionText(e, false);
      case 2: return RealPrecText(e);
      case 4:
      case 6: return n + " " + Enum(v[0].i[0], {"OFF", "ON"}) + ";";
      case 7:
      case 8:
      case 9:
        return n + " " + Enum(v[0].i[0], {"LOCUS", "SHAPE", "LOCUSTHENSHAPE"}) + ";";
      default: return GeneralParams(e, full);
    }
  }
  if (c == 4) {
    const char *closeWord = nullptr;
    switch (id) {
      case 1:
      case 2:
      case 3:
      case 7: return n + List(v, 0, full, "points");
      case 4:
        return n + " " + Point(v[0]) + " " + Enum(v[1].i[0], {"NOTFINAL", "FINAL"}) +
               " " + ValueText(v[2], full) + ";";
      case 5:
        return n + " " + Vdc(v[0], 0) + " " + Vdc(v[1], 0) + " " + Point(v[2]) + " " +
               Enum(v[3].i[0], {"NOTFINAL", "FINAL"}) + " " + ValueText(v[4], full) + ";";
      case 6:
        return n + " " + Enum(v[0].i[0], {"NOTFINAL", "FINAL"}) + " " +
               ValueText(v[1], full) + ";";
      case 8: {
        std::string out = n;
        size_t pairs = v.size() / 2;
        size_t shown = full ? pairs : std::min(pairs, kSummaryItems);
        for (size_t i = 0; i < shown; i++)
          out += " " + Point(v[2 * i]) + " " +
                 Enum(v[2 * i + 1].i[0], {"INVIS", "VIS", "CLOSEINVIS", "CLOSEVIS"});
        if (shown < pairs) return out + Fmt(" ...;  %% %zu points %%", pairs);
        return out + ";";
      }
      case 10: return GdpText(e, full);
      case 14:
      case 16:
      case 19: {
        std::string out = n;
        for (size_t i = 0; i + 1 < v.size(); i++) out += " " + ValueText(v[i], full);
        closeWord = CloseWord(v.back().i[0]);
        return out + " " + (closeWord ? closeWord : Int(v.back().i[0])) + ";";
      }
      default: return GeneralParams(e, full);
    }
  }
  if (c == 5) {
    switch (id) {
      case 11: return n + " " + Enum(v[0].i[0], {"STRING", "CHAR", "STROKE"}) + ";";
      case 17: return n + " " + Enum(v[0].i[0], {"RIGHT", "LEFT", "UP", "DOWN"}) + ";";
      case 18:
        return n + " " +
               Enum(v[0].i[0], {"NORMHORIZ", "LEFT", "CTR", "RIGHT", "CONTHORIZ"}) + " " +
               Enum(v[1].i[0], {"NORMVERT", "TOP", "CAP", "HALF", "BASE", "BOTTOM",
                                "CONTVERT"}) +
               " " + ValueText(v[2], full) + " " + ValueText(v[3], full) + ";";
      case 22:
        return n + " " +
               Enum(v[0].i[0], {"HOLLOW", "SOLID", "PAT", "HATCH", "EMPTY", "GEOPAT",
                                "INTERP"}) +
               ";";
      case 30: return n + " " + Enum(v[0].i[0], {"OFF", "ON"}) + ";";
      default: return GeneralParams(e, full);
    }
  }
  if (c == 7 && id == 1)
    return n + " " + Enum(v[0].i[0], {"NOACTION", "ACTION"}) + " " +
           ValueText(v[1], full) + ";";
  return GeneralParams(e, full);
}

}  // namespace

std::vector<std::string> FormatElement(const Element &e,
                                       const DumpOptions &options) {
  bool full = options.full;
  std::vector<std::string> lines;
  if (!e.known) {
    std::string s = Fmt("%% class %d, id %d: unknown element, %zu parameter "
                        "bytes %%",
                        e.frame.cls, e.frame.id, e.frame.params.size());
    if (full && !e.frame.params.empty())
      s += "  % " + HexBytes(e.frame.params, true) + " %";
    lines.push_back(s);
  } else if (e.isCellArray && e.decoded) {
    lines = CellArrayText(e, full);
  } else if (e.decoded) {
    lines.push_back(Statement(e, full));
  } else if (e.problem.empty()) {
    // Known, but its parameters are not decoded by this reader.
    std::string s = std::string(e.name) +
                    Fmt(";  %% %zu parameter bytes, not decoded %%",
                        e.frame.params.size());
    if (full && !e.frame.params.empty())
      s += "  % " + HexBytes(e.frame.params, true) + " %";
    lines.push_back(s);
  } else {
    lines.push_back(std::string(e.name) +
                    Fmt(";  %% %zu parameter bytes %%", e.frame.params.size()));
  }
  if (!e.problem.empty() && e.children.empty())
    lines[0] += Fmt("  %% problem at offset %zu: %s %%", e.problemOffset,
                    e.problem.c_str());
  return lines;
}

static void EmitElement(const Element &e, const DumpOptions &options,
                        int depth, const LineSink &emit) {
  std::string indent(static_cast<size_t>(2 * depth), ' ');
  std::vector<std::string> lines = FormatElement(e, options);
  for (size_t i = 0; i < lines.size(); i++) {
    if (i == 0)
      emit(Fmt("%8zu  ", e.frame.offset) + indent + lines[i]);
    else
      emit("          " + indent + lines[i]);
  }
  if (e.frame.cls == 1 && e.frame.id == 12 && e.known) {
    for (const Element &child : e.children)
      EmitElement(child, options, depth + 1, emit);
    std::string end = "          " + indent + "ENDMFDEFAULTS;";
    if (!e.problem.empty())
      end += Fmt("  %% problem at offset %zu: %s %%", e.problemOffset,
                 e.problem.c_str());
    emit(end);
  }
}

bool Dump(const uint8_t *data, size_t size, const DumpOptions &options,
          const LineSink &emit, std::string *error, size_t *errorOffset) {
  Walker w(data, size);
  Element e;
  while (w.Next(&e)) EmitElement(e, options, 0, emit);
  if (!w.frameError().empty()) {
    *error = w.frameError();
    *errorOffset = w.frameErrorOffset();
    emit(Fmt("%8zu  %% error: %s %%", *errorOffset, error->c_str()));
    return false;
  }
  return true;
}

}  // namespace cgmd
