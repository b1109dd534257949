// cgmdecode: an independent reader of binary Computer Graphics Metafiles
// (ISO/IEC 8632-3).  It shares nothing with the library's encoders, so that
// a fault on either side shows up as a disagreement.
//
// Layers:
//   - framing: element headers, long form, partitions, pad bytes;
//   - parameter decoding, driven by the precisions and modes that the
//     metafile itself announces (also inside a defaults replacement);
//   - Walker: steps through a metafile element by element and keeps that
//     decoding state;
//   - Check, Dump and Render, built on the walker.
//
// Nothing here trusts a length or a count read from the file: every read is
// checked against the bytes actually present, so memory use stays bounded
// by the size of the input.
#ifndef CGMDUMP_CGMDECODE_H
#define CGMDUMP_CGMDECODE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cgmd {

// ---- Reals -----------------------------------------------------------------

// The four real forms of the binary encoding, as REAL PRECISION and VDC REAL
// PRECISION announce them: (form, exponent or whole bits, fraction bits).
enum RealForm {
  kRealFloat32 = 1,  // (0, 9, 23)
  kRealFloat64 = 2,  // (0, 12, 52)
  kRealFixed32 = 3,  // (1, 16, 16)
  kRealFixed64 = 4,  // (1, 32, 32)
  kRealUnknown = 0
};
int RealFormBytes(int form);  // 4 or 8; 0 for kRealUnknown

// ---- Decoding state --------------------------------------------------------

// Values that belong to a picture: the picture descriptor and control
// elements.  Each BEGIN PICTURE starts from the defaults (the standard's, as
// changed by a defaults replacement or by such elements standing before the
// first picture).
struct PictureState {
  int colorMode = 0;  // 0 indexed, 1 direct
  int scalingMode = 0;
  double metricScale = 1.0;
  int lineWidthMode = 1, markerSizeMode = 1, edgeWidthMode = 1;
  bool extentSet = false;
  double extent[4] = {0, 0, 0, 0};  // x1, y1, x2, y2 (when extentSet)
  bool backgroundSet = false;
  int64_t background[3] = {0, 0, 0};
  int vdcIntPrec = 16;
  int vdcRealForm = kRealFixed32;
};

struct DecodeState {
  // Metafile descriptor values (whole metafile).
  int vdcType = 0;  // 0 integer, 1 real
  int intPrec = 16;
  int realForm = kRealFixed32;
  int indexPrec = 16;
  int colorPrec = 8;
  int colorIndexPrec = 8;
  static const int kEnumPrec = 16;  // enumerations are always 16 bits
  bool maxColorIndexSet = false;
  int64_t maxColorIndex = 63;
  bool colorExtentSet = false;
  int64_t colorExtent[6] = {0, 0, 0, 255, 255, 255};
  // Picture values: defaults and the picture in progress.
  PictureState defaults;
  PictureState pic;
  // Trace set-up of the generalized drawing primitive (-4), which tells how
  // the following trace data (-5) is laid out.
  bool traceInit = false;
  int64_t sampleType = 0;
  int64_t samplesPerTrace = 0;
};

// ---- Framing ---------------------------------------------------------------

// One framed element.  `params` holds the whole parameter list (partitions
// joined); `segments` maps offsets in it back to file offsets.
struct Segment {
  size_t dataStart;  // offset in params
  size_t fileStart;  // file offset of the same byte
  size_t size;
};

struct Frame {
  size_t offset = 0;  // file offset of the header word
  size_t end = 0;     // file offset after the element, pad byte included
  int cls = 0, id = 0;
  bool longForm = false;
  int partitions = 0;
  std::vector<uint8_t> params;
  std::vector<Segment> segments;
  bool hasPad = false;
  size_t padOffset = 0;
  uint8_t pad = 0;
  size_t FileOffset(size_t dataOffset) const;
};

// Reads the element starting at `pos` of data[0..size).  On failure returns
// false with an explanation and the offset of the problem.
bool ReadFrame(const uint8_t *data, size_t size, size_t pos, Frame *frame,
               std::string *error, size_t *errorOffset);

// ---- Decoded elements ------------------------------------------------------

// One decoded parameter.  t tells its type:
//   'I' integer, 'E' enumeration, 'X' index, 'c' colour index,
//   'C' direct colour (i[0..2]), 'V' one VDC value, 'P' point (two VDC),
//   'R' real, 'F' 32-bit floating point real, 'S' string.
// VDC values carry `real` to tell which of i or d holds them.
struct Value {
  char t = 'I';
  bool real = false;
  int64_t i[3] = {0, 0, 0};
  double d[2] = {0, 0};
  std::string s;
  int form = 0;  // the real form the value was written in (for printing)
  // Coordinate k of a point or VDC value (k = 0 for a single value), or the
  // integer / real as a double.
  double Num(int k = 0) const { return real ? d[k] : static_cast<double>(i[k]); }
};

// The header of a CELL ARRAY and where its rows start.
struct CellArray {
  Value p, q, r;  // three points
  int64_t nx = 0, ny = 0;
  int64_t localPrec = 0;
  int64_t mode = 0;   // 0 run-length, 1 packed
  int precision = 0;  // effective bits per colour value
  int k = 1;          // values per cell
  int countPrec = 16; // bits of run counts (the integer precision)
  bool direct = false;
  size_t rowsOffset = 0;  // offset in params of the first row
};

// One member of a structured data record.
struct SdrMember {
  int64_t type = 0;
  int64_t count = 0;
  std::vector<Value> values;  // empty when the type is not decoded
  size_t bytes = 0;           // bytes of the values
};

struct Element {
  Frame frame;
  const char *name = "";      // clear-text name, "" when unknown
  const char *longName = "";  // the standard's name, for messages
  bool known = false;
  bool decoded = false;   // parameters decoded (else see problem)
  std::vector<Value> values;
  // Special payloads.
  bool isCellArray = false;
  CellArray cells;
  int gdpKind = 0;  // 0 none, -4 trace set-up, -5 trace data, 1 general GDP
  std::vector<SdrMember> sdr;  // data record of a general GDP, when decoded
  int64_t traceSampleType = 0;
  std::vector<Element> children;  // contents of a defaults replacement
  // First problem found in this element (empty when none).
  std::string problem;
  size_t problemOffset = 0;
  // Notes: tolerated irregularities (not problems).
  std::vector<std::string> notes;
};

// Visits the runs of every row of a decoded CELL ARRAY: for a packed row
// each cell is one run of length 1.  values holds k colour values.  Return
// false from the visitor to stop.  Returns false with a message (and the
// data offset of the problem) when the rows do not decode.
using RunVisitor = std::function<bool(int64_t row, int64_t column,
                                      int64_t count, const int64_t *values)>;
bool VisitCellRows(const Element &e, const RunVisitor &visit,
                   std::string *error, size_t *errorOffset);

// Expands the cells of a CELL ARRAY into nx * ny * k values, row after row.
// Refuses (returns false) when that would exceed maxValues.
bool ExpandCells(const Element &e, size_t maxValues,
                 std::vector<int64_t> *out, std::string *error);

// ---- The walker -------------------------------------------------------------

// Where an element stands in the metafile's structure.
enum Region {
  kBeforeMetafile,
  kMetafileDescriptor,
  kBetweenPictures,
  kPictureDescriptor,
  kPictureBody,
  kAfterMetafile
};

class Walker {
 public:
  Walker(const uint8_t *data, size_t size);

  // Reads, decodes and returns the next element.  Returns false at the end
  // of the data, or when the element cannot be framed (then frameError()
  // tells why and where).
  bool Next(Element *e);
  bool AtEnd() const { return pos_ >= size_; }
  size_t pos() const { return pos_; }
  const std::string &frameError() const { return frameError_; }
  size_t frameErrorOffset() const { return frameErrorOffset_; }
  const DecodeState &state() const { return state_; }
  // Structure: region of the element last returned (before it was applied)
  Region region() const { return region_; }
  int pictures() const { return pictures_; }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
  DecodeState state_;
  Region region_ = kBeforeMetafile;
  int pictures_ = 0;
  std::string frameError_;
  size_t frameErrorOffset_ = 0;
};

// Decodes one framed element with the given state and applies its effect on
// the state (precisions, modes, picture start).  `inPicture` tells whether
// class 2 and 3 elements change the picture in progress or the defaults.
void DecodeElement(const Frame &frame, DecodeState *state, bool inPicture,
                   Element *e);

// Names of an element, "" when unknown.
// printf-style formatting into a string (cut at 511 characters).
std::string Fmt(const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

const char *ElementName(int cls, int id);
const char *ElementLongName(int cls, int id);

// ---- Tools --------------------------------------------------------------------

struct CheckResult {
  bool ok = false;
  size_t offset = 0;
  std::string message;             // first problem
  std::string summary;             // one line when ok
  std::vector<std::string> notes;  // tolerated irregularities
  int pictures = 0;
  int elements = 0;
};
CheckResult Check(const uint8_t *data, size_t size);

struct DumpOptions {
  bool full = false;
};
// Writes the dump, one call of `emit` per line (no line feed).  Returns
// false when the metafile cannot be framed to its end: the dump then ends
// with a line naming the problem, which is also left in *error (with its
// offset in *errorOffset).
using LineSink = std::function<void(const std::string &)>;
bool Dump(const uint8_t *data, size_t size, const DumpOptions &options,
          const LineSink &emit, std::string *error, size_t *errorOffset);
// The dump text of one element, without offset and line feeds: the first
// line is the element; further lines continue it (the rows of a cell array
// under --full).  The contents of a defaults replacement are not included.
std::vector<std::string> FormatElement(const Element &e,
                                       const DumpOptions &options);

struct RenderOptions {
  std::string outPath;
  int width = 0;    // 0: default (800 pixels for PNG)
  int picture = 1;  // 1-based
};
// Draws one picture into a PNG, SVG or PDF file chosen by outPath's
// suffix.  Returns false with a message when the picture cannot be drawn,
// or when parts of it could not be read (the file is then written with the
// rest).  Primitives that are valid but cannot be drawn (for example a cell
// array whose corners span no area) are named in *warnings.
bool Render(const uint8_t *data, size_t size, const RenderOptions &options,
            std::string *error, std::vector<std::string> *warnings);

// Formats a real the shortest way that reads back to the same value in the
// given real form.
std::string FormatReal(double v, int form);

}  // namespace cgmd

#endif  // CGMDUMP_CGMDECODE_H
