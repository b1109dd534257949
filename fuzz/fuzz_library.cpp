// Fuzz target for the library: the input is turned into a sequence of
// element calls with arbitrary arguments (precisions, counts, modes, values,
// long strings, cell data, row compressor output, GDP records, defaults
// replacement brackets), written into a real file (a memfd, opened by the
// library by name like any output file).
//
// Beside the sanitizers, every call is checked against a model of the
// writer kept here, independently of the library's code:
//   - it returns 1 or 0, and 0 exactly when the model says an argument, a
//     value, a precision or the work buffer refuses it;
//   - a refusal leaves exactly one message: NUL-terminated inside the 256
//     bytes, not empty, one of the library's own messages, and the buffer's
//     bytes past 256 untouched (the two checks that report on standard
//     output leave the buffer as it was);
//   - a refused element writes nothing (file size and position unchanged)
//     and leaves the writer state as it was;
//   - a success leaves the message buffer alone, changes the writer state
//     as the model does, and appends exactly one element of the right class,
//     id and parameter length, framed correctly (long form, partitions, pad
//     byte); a defaults replacement bracket gets its length word right.
// Then the same sequence runs again on a stream that refuses bytes from an
// offset taken from the input (unbuffered, small or default buffer, or
// /dev/full): every call behaves as before until the first write failure,
// which is reported with the write message, and the file then holds a
// prefix of the first run's bytes, never more than the stream accepted.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "Quil.h"

namespace {

[[noreturn]] __attribute__((format(printf, 1, 2))) void Fail(const char *fmt,
                                                             ...) {
  std::fflush(stdout);
  va_list ap;
  va_start(ap, fmt);
  std::fputs("fuzz_library: ", stderr);
  std::vfprintf(stderr, fmt, ap);
  std::fputc('\n', stderr);
  va_end(ap);
  std::abort();
}

constexpr int64_t kWork = QWCGM_WORK_BUFFER_SIZE;

// ---- The output file ---------------------------------------------------------

int g_fd = -1;
char g_path[64];

int64_t FileSize() {
  struct stat st;
  if (fstat(g_fd, &st) != 0) Fail("fstat: %s", std::strerror(errno));
  return static_cast<int64_t>(st.st_size);
}

std::vector<uint8_t> ReadBack(int64_t from, int64_t to) {
  std::vector<uint8_t> b(static_cast<size_t>(to - from));
  size_t got = 0;
  while (got < b.size()) {
    ssize_t n = pread(g_fd, b.data() + got, b.size() - got,
                      static_cast<off_t>(from) + static_cast<off_t>(got));
    if (n <= 0) Fail("pread failed");
    got += static_cast<size_t>(n);
  }
  return b;
}

// A stream over the same file that refuses every byte from offset `limit`
// on: what a full disk or a file size limit does to a real file.
struct Sink {
  int64_t pos = 0;
  int64_t limit = 0;
};
Sink g_sink;

ssize_t SinkWrite(void *c, const char *buf, size_t size) {
  Sink *s = static_cast<Sink *>(c);
  if (s->pos >= s->limit) {
    errno = EFBIG;
    return -1;
  }
  const int64_t room = s->limit - s->pos;
  const size_t n = static_cast<int64_t>(size) < room
                       ? size
                       : static_cast<size_t>(room);
  const ssize_t w = pwrite(g_fd, buf, n, static_cast<off_t>(s->pos));
  if (w <= 0) return -1;
  s->pos += w;
  return w;
}

int SinkSeek(void *c, off64_t *off, int whence) {
  Sink *s = static_cast<Sink *>(c);
  int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? s->pos
                                                             : FileSize();
  if (base + *off < 0) {
    errno = EINVAL;
    return -1;
  }
  s->pos = base + *off;
  *off = s->pos;
  return 0;
}

int SinkClose(void *) { return 0; }

// ---- Values --------------------------------------------------------------------

const int kEdgeInts[] = {
    0,        1,        -1,       2,         3,        4,        5,
    7,        8,        15,       16,        24,       31,       32,
    33,       64,       127,      128,       -128,     -129,     255,
    256,      -32768,   -32769,   32767,     32768,    65535,    65536,
    -8388608, -8388609, 8388607,  8388608,   16777215, 16777216, 512000,
    INT_MAX,  INT_MIN,  INT_MAX - 1, INT_MIN + 1, -4, -5, -3000};

int AnyInt(FuzzInput &in) {
  const uint8_t sel = in.u8();
  if (sel < 96) return static_cast<int>(sel % 40);
  if (sel < 200)
    return kEdgeInts[sel % (sizeof kEdgeInts / sizeof kEdgeInts[0])];
  return in.i32();
}

int AnyPrecision(FuzzInput &in) {
  const uint8_t sel = in.u8();
  static const int kPrecisions[4] = {8, 16, 24, 32};
  if (sel < 232) return kPrecisions[sel % 4];
  return AnyInt(in);
}

double AnyReal(FuzzInput &in) {
  static const double kEdge[] = {
      0.0,         0.5,          -0.5,        1.25,        -1.75,
      25.4,        1.0 / 3,      32767.99,    32767.999999, 32768.0,
      -32768.0,    -32768.5,     -32768.0000001, 2147483647.5, 2147483648.0,
      -2147483648.0, -2147483649.0, 1e300,    -1e300,      -1e-17,
      5e-324,      -5e-324,      3.4e38,      3.5e38,      -0.0,
      std::numeric_limits<double>::infinity(),
      -std::numeric_limits<double>::infinity(),
      std::numeric_limits<double>::quiet_NaN()};
  const uint8_t sel = in.u8();
  if (sel < 100) return static_cast<int8_t>(in.u8()) / 4.0;
  if (sel < 220) return kEdge[sel % (sizeof kEdge / sizeof kEdge[0])];
  const uint64_t bits = in.u64();
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

qVDC AnyVdc(FuzzInput &in) {
  qVDC v;
  v.Int = AnyInt(in);
  v.Double = AnyReal(in);
  return v;
}

// Large arrays come from pools made once, with a few values changed by the
// input (and put back after the call).
constexpr size_t kPoolInts = size_t{4} << 20;
std::vector<int> g_intPool;
std::vector<double> g_realPool;
std::vector<qVDC> g_vdcPool;
std::vector<int> g_flagPool;  // edge-out flags 0..3

void MakePools() {
  g_intPool.resize(kPoolInts);
  for (size_t i = 0; i < kPoolInts; i++)
    g_intPool[i] = static_cast<int>((i * 37 + i / 11) % 200);
  g_realPool.resize(size_t{600} << 10);
  for (size_t i = 0; i < g_realPool.size(); i++)
    g_realPool[i] = static_cast<double>(i % 97) / 8.0 - 6.0;
  g_vdcPool.resize(size_t{1100} << 10);
  for (size_t i = 0; i < g_vdcPool.size(); i++) {
    g_vdcPool[i].Int = static_cast<int>(i % 113);
    g_vdcPool[i].Double = static_cast<double>(i % 113) / 4.0;
  }
  g_flagPool.resize(size_t{300} << 10);
  for (size_t i = 0; i < g_flagPool.size(); i++)
    g_flagPool[i] = static_cast<int>(i % 4);
}

// Changes up to three entries of a pool; Restore puts them back.
template <typename T>
struct Pokes {
  std::vector<T> *pool = nullptr;
  size_t at[3] = {0, 0, 0};
  T old[3];
  int n = 0;
  void Poke(std::vector<T> *p, size_t range, FuzzInput &in, T value) {
    if (n == 3 || range == 0) return;
    pool = p;
    at[n] = in.u32() % range;
    old[n] = (*p)[at[n]];
    (*p)[at[n]] = value;
    n++;
  }
  ~Pokes() {
    for (int i = n - 1; i >= 0; i--) (*pool)[at[i]] = old[i];
  }
};

// A string of n bytes (no NUL inside): mostly short, sometimes at the edges
// of the string forms and of the work buffer.
void AnyString(FuzzInput &in, std::string *s, bool big) {
  static const int kLengths[] = {0,     1,     2,     30,     31,     254,
                                 255,   256,   32766, 32767,  32768,  32769,
                                 65534, 65535, 65536, 70000,  511996, 511997,
                                 511998, 511999, 600000};
  const uint8_t sel = in.u8();
  int n = sel < 160 ? sel % 40
                    : kLengths[sel % (sizeof kLengths / sizeof kLengths[0])];
  if (!big && n > 300) n %= 300;
  char fill = static_cast<char>(in.u8());
  if (fill == 0) fill = 'x';
  s->assign(static_cast<size_t>(n), fill);
  for (int k = in.pick(4); k > 0 && n > 0; k--) {
    const size_t at = in.u32() % static_cast<uint32_t>(n);
    const char c = static_cast<char>(in.u8());
    if (c != 0) (*s)[at] = c;
  }
}

// ---- The model -----------------------------------------------------------------

struct Model {
  int vdcType = 0, intP = 16, realP = 3, indexP = 16, enumP = 16, colorP = 8,
      colorIndexP = 8, maxColorIndex = 63;
  int cve[6] = {0, 0, 0, 255, 255, 255};
  int scaling = 0;
  double metric = 1.0;
  int colorSel = 0, lineWidth = 1, markerSize = 1, edgeWidth = 1;
  int vdcIntP = 16, vdcRealP = 3;
  bool mdrOpen = false;
  int64_t mdrWord = 0;  // file offset of the open bracket's length word
};

bool PrecOk(int p) { return p == 8 || p == 16 || p == 24 || p == 32; }

bool IntOk(int64_t v, int p) {
  switch (p) {
    case 8: return v >= -128 && v <= 255;
    case 16: return v >= -32768 && v <= 65535;
    case 24: return v >= -8388608 && v <= 16777215;
    case 32: return v >= INT_MIN && v <= INT_MAX;
    default: return false;
  }
}

int64_t IntBytes(int p) { return p / 8; }

bool RealOk(double x, int code) {
  switch (code) {
    case 1:
    case 2: return true;
    case 3:
      return std::isfinite(x) && std::floor(x) >= -32768.0 &&
             std::floor(x) <= 32767.0;
    case 4:
      return std::isfinite(x) && std::floor(x) >= -2147483648.0 &&
             std::floor(x) <= 2147483647.0;
    default: return false;
  }
}

int64_t RealBytes(int code) { return code == 2 || code == 4 ? 8 : 4; }

int64_t StringBytes(int64_t n) {
  if (n <= 254) return n + 1;
  const int64_t pieces = (n + 32766) / 32767;  // the last one included
  return n + 1 + 2 * pieces;
}

// An element's parameter list as the model sees it: whether it can be
// encoded, and its length.
struct Plan {
  const Model &m;
  bool ok = true;
  int64_t len = 0;
  explicit Plan(const Model &model) : m(model) {}
  void Int(int64_t v, int p) {
    if (!IntOk(v, p)) ok = false;
    else len += IntBytes(p);
  }
  void Real(double x, int code) {
    if (!RealOk(x, code)) ok = false;
    else len += RealBytes(code);
  }
  void Vdc(const qVDC &v) {
    if (m.vdcType == 0) Int(v.Int, m.vdcIntP);
    else Real(v.Double, m.vdcRealP);
  }
  void Vdcs(const qVDC *v, int64_t n) {
    for (int64_t i = 0; i < n && ok; i++) Vdc(v[i]);
  }
  void Str(int64_t n) { len += StringBytes(n); }
  // Sizes before encoding count an unknown precision as 4 bytes; such a
  // value is refused when it is encoded anyway.
  int64_t VdcBytes() const {
    if (m.vdcType != 0) return RealBytes(m.vdcRealP);
    return PrecOk(m.vdcIntP) ? IntBytes(m.vdcIntP) : 4;
  }
};

// ---- Messages ------------------------------------------------------------------

// Every message the library writes into the caller's buffer.
const char *const kFormats[] = {
    "%%QLW-F-MALLOC, TempBuffer (%d bytes)\n",
    "Could not get output file position\n",
    "Error occurred closing output file",
    "Error occurred writing: %d bytes",
    "Illegal integer precision: %d\n",
    "Integral part of %f too large for 32 bit fixed point",
    "Integral part of %f too large for 64 bit fixed point",
    "Invalid Cell Representation Mode: %d\n",
    "Invalid Closure Type: %d",
    "Invalid Closure Type: %d\n",
    "Invalid Element List Count: %d\n",
    "Invalid Local Color Precision: %d\n",
    "Invalid PIP Count: %d\n",
    "Invalid Precision: %d\n",
    "Invalid Real Precision Code: %d\n",
    "Invalid Real Precision Index: %d\n",
    "Invalid SDR Count: %d\n",
    "Invalid Samples Per Trace: %d\n",
    "Invalid Scaling Mode: %d\n",
    "Invalid Value For Nx: %d\n",
    "Invalid Value For Ny: %d\n",
    "Invalid Value for Final/Not Final-Flag: %d",
    "Invalid Value for Final/Not Final-Flag: %d\n",
    "Invalid Value in EdgeOutFlags[%d] : %d\n",
    "Invalid VdcType: %d\n",
    "Metafile Defaults Replacement Too Long: %d bytes\n",
    "Missing SDR Data For Type: %d\n",
    "Parameter list exceeds work buffer of %d bytes\n",
    "Run Length Value Less Than or Equal to Zero: %d\n",
    "Sum Of Run Lengths Is Not Nx",
    "Uncoded SDR Type: %d\n",
    "Unrecognized Gdp Identifier: %d\n",
    "Value: %d is too large for %d bit precision",
    "Invalid Integer Precision: %d\n",
    "Invalid Index Precision: %d\n",
    "Invalid Color Precision: %d\n",
    "Invalid Color Index Precision: %d\n",
    "Invalid Color Selection Mode: %d\n",
    "Invalid Line Width Selection Mode: %d\n",
    "Invalid Marker Size Specification Mode: %d\n",
    "Invalid Edge Width Specification Mode: %d\n",
};

// Matches s against a printf format of %d, %f and %% only.  A message of
// 255 characters may have been cut at the buffer's end: then a prefix of
// the format's text is enough.
bool Matches(const char *f, const char *s) {
  const bool cut = std::strlen(s) == QWCGM_MSG_SIZE - 1;
  while (*f) {
    if (*s == 0) return cut;
    if (f[0] == '%' && f[1] == '%') {
      if (*s++ != '%') return false;
      f += 2;
    } else if (f[0] == '%' && f[1] == 'd') {
      if (*s == '-') s++;
      if (!(*s >= '0' && *s <= '9')) return false;
      while (*s >= '0' && *s <= '9') s++;
      f += 2;
    } else if (f[0] == '%' && f[1] == 'f') {
      if (*s == '-') s++;
      if (std::strncmp(s, "inf", 3) == 0 || std::strncmp(s, "nan", 3) == 0) {
        s += 3;
      } else {
        if (!(*s >= '0' && *s <= '9')) return false;
        while (*s >= '0' && *s <= '9') s++;
        if (*s == 0) return cut;
        if (*s++ != '.') return false;
        for (int i = 0; i < 6; i++) {
          if (*s == 0) return cut;
          if (!(*s >= '0' && *s <= '9')) return false;
          s++;
        }
      }
      f += 2;
    } else {
      if (*s++ != *f++) return false;
    }
  }
  return *s == 0;
}

bool KnownMessage(const char *s) {
  for (const char *f : kFormats)
    if (Matches(f, s)) return true;
  return false;
}

std::string Format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *fmt, ...) {
  char buf[QWCGM_MSG_SIZE];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

// The caller's message buffer with a guard behind it.
struct MsgBuffer {
  char msg[QWCGM_MSG_SIZE];
  unsigned char guard[64];
};
constexpr unsigned char kSentinel = 0xA5;

bool Untouched(const MsgBuffer &b) {
  for (char c : b.msg)
    if (static_cast<unsigned char>(c) != kSentinel) return false;
  return true;
}

// ---- Element framing ---------------------------------------------------------

// b must be exactly one element of class cls, id id and a parameter list of
// len bytes: short form up to 30, long form up to 32767, partitions of 32766
// bytes beyond (the last carries the rest), a zero pad byte after an odd
// list.
void CheckFrame(const std::vector<uint8_t> &b, int cls, int id, int64_t len,
                const char *op) {
  const int64_t size = static_cast<int64_t>(b.size());
  if (size < 2) Fail("%s: %lld bytes written, no header", op, (long long)size);
  const int word = b[0] << 8 | b[1];
  if ((word >> 12) != cls || ((word >> 5) & 0x7F) != id)
    Fail("%s: header %04X, expected class %d id %d", op, word, cls, id);
  int64_t at = 2;
  if (len <= 30) {
    if ((word & 31) != len)
      Fail("%s: short length %d, expected %lld", op, word & 31, (long long)len);
    at += len;
  } else {
    if ((word & 31) != 31) Fail("%s: expected the long form", op);
    int64_t remaining = len;
    for (;;) {
      if (at + 2 > size) Fail("%s: partition header missing", op);
      const int lw = b[static_cast<size_t>(at)] << 8 | b[static_cast<size_t>(at) + 1];
      at += 2;
      const bool more = (lw & 0x8000) != 0;
      const int64_t part = lw & 0x7FFF;
      const int64_t want =
          len <= 32767 ? len : (remaining > 32766 ? 32766 : remaining);
      if (part != want || more != (remaining > want))
        Fail("%s: partition word %04X, expected %lld bytes%s", op, lw,
             (long long)want, remaining > want ? " and more" : "");
      at += part;
      remaining -= part;
      if (!more) break;
    }
  }
  if (len & 1) {
    if (at >= size || b[static_cast<size_t>(at)] != 0)
      Fail("%s: pad byte missing or not zero", op);
    at++;
  }
  if (at != size)
    Fail("%s: element takes %lld bytes, %lld were written", op,
         (long long)at, (long long)size);
}

// ---- One run of a sequence ---------------------------------------------------

// With FUZZ_LIBRARY_STATS set, how often each call succeeded and was
// refused is printed at exit: a quick look at whether inputs reach deep.
std::map<std::string, std::pair<long, long>> *g_stats = nullptr;

void PrintStats() {
  for (const auto &kv : *g_stats)
    std::fprintf(stderr, "%-40s %8ld ok %8ld refused\n", kv.first.c_str(),
                 kv.second.first, kv.second.second);
}

struct Outcome {
  int result;
  std::string msg;
  int64_t bytes;  // written by the call
};

// What a call must do, as far as the model knows it.
struct Expect {
  enum Kind { kElement, kMdrOpen, kMdrClose, kQuiet } kind = kElement;
  bool ok = true;
  int cls = 0, id = 0;
  int64_t len = 0;
  std::string msg;  // the exact message of a refusal, when known
};

struct Runner {
  qWCGM_DATA *d = nullptr;
  Model m;
  bool failing = false;  // the replay on a failing stream
  bool stopped = false;
  std::vector<Outcome> *ref = nullptr;  // the first run's outcomes
  size_t callIndex = 0;
  int64_t written = 0;    // bytes written so far (first run)
  int bigOps = 0;         // elements near the work buffer's size so far
  std::vector<int64_t> *mdrWords = nullptr;  // offsets of length words

  // Whether this call may be large: a few per input keep runs fast.
  bool Big(FuzzInput &in) {
    if (bigOps >= 3 || written > (int64_t{3} << 20)) return false;
    if ((in.u8() & 7) != 0) return false;
    bigOps++;
    return true;
  }

  void CompareState(const char *op) const {
    const qWCGM_METAFILE_DESCRIPTOR_DATA &md = d->Cgm.MetafileDescriptor;
    const qWCGM_PICTURE_DESCRIPTOR_DATA &pd = d->Cgm.PictureDescriptor;
    bool same = md.VdcType == m.vdcType && md.IntegerPrecision == m.intP &&
                md.RealPrecision == m.realP && md.IndexPrecision == m.indexP &&
                md.EnumPrecision == m.enumP && md.ColorPrecision == m.colorP &&
                md.ColorIndexPrecision == m.colorIndexP &&
                md.MaxColorIndex == m.maxColorIndex &&
                std::memcmp(md.ColorValueExtent, m.cve, sizeof m.cve) == 0 &&
                pd.ScalingMode == m.scaling &&
                std::memcmp(&pd.MetricScaleValue, &m.metric, 8) == 0 &&
                pd.ColorSelectionMode == m.colorSel &&
                pd.LineWidthSpecificationMode == m.lineWidth &&
                pd.MarkerSizeSpecificationMode == m.markerSize &&
                pd.EdgeWidthSpecificationMode == m.edgeWidth &&
                d->Cgm.Control.VdcIntegerPrecision == m.vdcIntP &&
                d->Cgm.Control.VdcRealPrecision == m.vdcRealP;
    if (!same) Fail("%s: the writer state differs from the model", op);
  }

  // Makes one call and checks it.  `apply` updates the model after a
  // success.
  template <typename Call, typename Apply>
  void Do(const char *op, const Expect &e, Call call, Apply apply) {
    if (stopped) return;
    MsgBuffer mb;
    std::memset(&mb, kSentinel, sizeof mb);
    FILE *f = d->Outfile;
    if (!failing && std::fflush(f) != 0) Fail("%s: flush before", op);
    const int64_t size0 = failing ? 0 : FileSize();
    const long pos0 = failing ? 0 : std::ftell(f);

    const int r = call(mb.msg);

    for (unsigned char g : mb.guard)
      if (g != kSentinel) Fail("%s: message buffer written past 256 bytes", op);
    if (r != 0 && r != 1) Fail("%s: result %d", op, r);
    if (r == 0 && e.kind != Expect::kQuiet) {
      if (std::memchr(mb.msg, 0, sizeof mb.msg) == nullptr)
        Fail("%s: message not terminated within 256 bytes", op);
      if (mb.msg[0] == 0) Fail("%s: refused with an empty message", op);
    }
    std::string msg = r == 0 && std::memchr(mb.msg, 0, sizeof mb.msg)
                          ? std::string(mb.msg)
                          : std::string();

    if (failing) {
      if (callIndex >= ref->size()) Fail("%s: more calls than before", op);
      const Outcome &o = (*ref)[callIndex++];
      if (r == o.result && (r == 1 || msg == o.msg)) {
        // Until the stream fails, the run is the first one over again.
        written += o.bytes;
        if (r == 1) apply();
        return;
      }
      // The first difference must be a write failure of a call that
      // succeeded on the good stream; the metafile ends there.
      if (!(o.result == 1 && r == 0))
        Fail("%s: on a failing stream result %d '%s', before %d '%s'", op, r,
             msg.c_str(), o.result, o.msg.c_str());
      if (!Matches("Error occurred writing: %d bytes", msg.c_str()) &&
          msg != "Could not get output file position\n")
        Fail("%s: write failure reported as '%s'", op, msg.c_str());
      stopped = true;
      return;
    }
    if (std::fflush(f) != 0) Fail("%s: flush after", op);
    const int64_t size1 = FileSize();
    ref->push_back(Outcome{r, msg, size1 - size0});
    if (g_stats != nullptr) {
      auto &st = (*g_stats)[op];
      (r ? st.first : st.second)++;
    }
    const long pos1 = std::ftell(f);
    if (pos1 != size1)
      Fail("%s: stream left at %ld, file holds %lld bytes", op, pos1,
           (long long)size1);
    if (pos0 != size0) Fail("%s: stream was not at the end", op);

    if (r != (e.ok ? 1 : 0))
      Fail("%s: result %d, the model expected %d (message '%s')", op, r,
           e.ok ? 1 : 0, msg.c_str());
    if (r == 0) {
      if (e.kind == Expect::kQuiet) {
        if (!Untouched(mb)) Fail("%s: message buffer written", op);
      } else if (!e.msg.empty() ? msg != e.msg : !KnownMessage(msg.c_str())) {
        Fail("%s: refused with '%s'%s%s", op, msg.c_str(),
             e.msg.empty() ? "" : ", expected '", e.msg.c_str());
      }
      if (size1 != size0) Fail("%s: refused but wrote %lld bytes", op,
                               (long long)(size1 - size0));
      CompareState(op);
      return;
    }

    if (!Untouched(mb)) Fail("%s: succeeded but wrote a message", op);
    switch (e.kind) {
      case Expect::kElement:
        CheckFrame(ReadBack(size0, size1), e.cls, e.id, e.len, op);
        break;
      case Expect::kMdrOpen: {
        const std::vector<uint8_t> b = ReadBack(size0, size1);
        if (b.size() != 4 || b[0] != 0x11 || b[1] != 0x9F || b[2] != 0 ||
            b[3] != 0)
          Fail("%s: bracket opened with %zu bytes", op, b.size());
        m.mdrWord = size0 + 2;
        mdrWords->push_back(m.mdrWord);
        break;
      }
      case Expect::kMdrClose: {
        if (size1 != size0) Fail("%s: closing wrote bytes", op);
        const std::vector<uint8_t> b = ReadBack(m.mdrWord, m.mdrWord + 2);
        const int64_t contents = size1 - m.mdrWord - 2;
        if ((b[0] << 8 | b[1]) != contents)
          Fail("%s: length word %02X%02X for %lld bytes", op, b[0], b[1],
               (long long)contents);
        break;
      }
      case Expect::kQuiet:
        break;
    }
    written += size1 - size0;
    apply();
    CompareState(op);
  }
};

// Expectations for a refused argument and for an element.
Expect Refuse(std::string msg) {
  Expect e;
  e.ok = false;
  e.msg = std::move(msg);
  return e;
}

Expect Element(int cls, int id, const Plan &p) {
  Expect e;
  e.cls = cls;
  e.id = id;
  e.ok = p.ok && p.len <= kWork;
  e.len = p.len;
  return e;
}

void Nothing() {}

// ---- Delimiters and descriptors ------------------------------------------------

void DelimiterOps(Runner &r, FuzzInput &in, int which) {
  qWCGM_DATA *d = r.d;
  std::string s;
  switch (which) {
    case 0: {  // NO-OP
      static const int kSizes[] = {0,  -5, 1, 3, 30, 31, 32, 32766, 32767,
                                   32768, 65535, 511999, 512000, 512001,
                                   INT_MAX, INT_MIN};
      const uint8_t sel = in.u8();
      int n = sel < 128 ? sel % 40 : kSizes[sel % 16];
      if (n > 4096 && !r.Big(in)) n %= 4096;
      Plan p(r.m);
      p.len = n > 0 ? n : 0;
      r.Do("qNoopId", Element(0, 0, p),
           [&](char *msg) { return qNoopId(n, d, msg); }, Nothing);
      break;
    }
    case 1:
    case 2: {  // BEGIN METAFILE, BEGIN PICTURE
      AnyString(in, &s, r.Big(in));
      Plan p(r.m);
      p.Str(static_cast<int64_t>(s.size()));
      if (which == 1)
        r.Do("qBeginMetafile", Element(0, 1, p),
             [&](char *msg) { return qBeginMetafile(s.c_str(), d, msg); },
             Nothing);
      else
        r.Do("qBeginPicture", Element(0, 3, p),
             [&](char *msg) { return qBeginPicture(s.c_str(), d, msg); },
             Nothing);
      break;
    }
    default: {  // the empty delimiters
      Plan p(r.m);
      const int kind = in.pick(3);
      if (kind == 0)
        r.Do("qEndMetafile", Element(0, 2, p),
             [&](char *msg) { return qEndMetafile(d, msg); }, Nothing);
      else if (kind == 1)
        r.Do("qBeginPictureBody", Element(0, 4, p),
             [&](char *msg) { return qBeginPictureBody(d, msg); }, Nothing);
      else
        r.Do("qEndPicture", Element(0, 5, p),
             [&](char *msg) { return qEndPicture(d, msg); }, Nothing);
      break;
    }
  }
}

void PrecisionOp(Runner &r, FuzzInput &in) {
  qWCGM_DATA *d = r.d;
  Model &m = r.m;
  const int p = AnyPrecision(in);
  const int which = in.pick(4);
  static const int kIds[4] = {4, 6, 7, 8};
  static const char *const kNames[4] = {"qIntegerPrecision", "qIndexPrecision",
                                        "qColorPrecision",
                                        "qColorIndexPrecision"};
  static const char *const kMsgs[4] = {
      "Invalid Integer Precision: %d\n", "Invalid Index Precision: %d\n",
      "Invalid Color Precision: %d\n", "Invalid Color Index Precision: %d\n"};
  int *fields[4] = {&m.intP, &m.indexP, &m.colorP, &m.colorIndexP};
  Expect e;
  if (!PrecOk(p)) {
    e = Refuse(Format(kMsgs[which], p));
  } else {
    Plan plan(m);
    plan.Int(p, m.intP);
    e = Element(1, kIds[which], plan);
  }
  r.Do(kNames[which], e,
       [&](char *msg) {
         switch (which) {
           case 0: return qIntegerPrecision(p, d, msg);
           case 1: return qIndexPrecision(p, d, msg);
           case 2: return qColorPrecision(p, d, msg);
           default: return qColorIndexPrecision(p, d, msg);
         }
       },
       [&] { *fields[which] = p; });
}

void DescriptorOps(Runner &r, FuzzInput &in, int which) {
  qWCGM_DATA *d = r.d;
  Model &m = r.m;
  std::string s;
  switch (which) {
    case 0: {
      Plan p(m);
      p.Int(1, m.intP);
      r.Do("qVersion", Element(1, 1, p),
           [&](char *msg) { return qVersion(d, msg); }, Nothing);
      break;
    }
    case 1: {
      AnyString(in, &s, r.Big(in));
      Plan p(m);
      p.Str(static_cast<int64_t>(s.size()));
      r.Do("qDescription", Element(1, 2, p),
           [&](char *msg) { return qDescription(s.c_str(), d, msg); },
           Nothing);
      break;
    }
    case 2: {
      const int t = in.flag() ? in.pick(2) : AnyInt(in);
      Expect e;
      if (t != 0 && t != 1) {
        e = Refuse(Format("Invalid VdcType: %d\n", t));
      } else {
        Plan p(m);
        p.Int(t, m.enumP);
        e = Element(1, 3, p);
      }
      r.Do("qVdcType", e, [&](char *msg) { return qVdcType(t, d, msg); },
           [&] { m.vdcType = t; });
      break;
    }
    case 3:
      PrecisionOp(r, in);
      break;
    case 4: {
      const int c = in.flag() ? 1 + in.pick(4) : AnyInt(in);
      Expect e;
      if (c < 1 || c > 4) {
        e = Refuse(Format("Invalid Real Precision Code: %d\n", c));
      } else {
        static const int kTriples[4][3] = {
            {0, 9, 23}, {0, 12, 52}, {1, 16, 16}, {1, 32, 32}};
        Plan p(m);
        p.Int(kTriples[c - 1][0], m.enumP);
        p.Int(kTriples[c - 1][1], m.intP);
        p.Int(kTriples[c - 1][2], m.intP);
        e = Element(1, 5, p);
      }
      r.Do("qRealPrecision", e,
           [&](char *msg) { return qRealPrecision(c, d, msg); },
           [&] { m.realP = c; });
      break;
    }
    case 5: {
      const int v = AnyInt(in);
      Plan p(m);
      p.Int(v, m.colorIndexP);
      r.Do("qMaxColorIndex", Element(1, 9, p),
           [&](char *msg) { return qMaxColorIndex(v, d, msg); },
           [&] { m.maxColorIndex = v; });
      break;
    }
    case 6: {
      int ext[6];
      Plan p(m);
      for (int &v : ext) {
        v = in.flag() ? in.u8() : AnyInt(in);
        p.Int(v, m.colorP);
      }
      r.Do("qColorValueExtent", Element(1, 10, p),
           [&](char *msg) { return qColorValueExtent(ext, d, msg); },
           [&] { std::memcpy(m.cve, ext, sizeof ext); });
      break;
    }
    case 7: {  // METAFILE ELEMENT LIST
      const int drawing = in.pick(3) == 0 ? AnyInt(in) : 0;
      const int plusControl = in.pick(3) == 0 ? AnyInt(in) : 0;
      int count = in.flag() ? in.pick(8) : AnyInt(in);
      const bool big = r.Big(in);
      std::vector<int> list;
      Pokes<int> pokes;
      const int *lp = nullptr;
      if (count > 0 && (count <= 64 || !big)) {
        if (count > 64) count %= 64;
        list.resize(2 * static_cast<size_t>(count));
        for (int &v : list) v = in.flag() ? in.pick(8) - 1 : AnyInt(in);
        lp = list.data();
      } else if (count > 0) {
        lp = g_intPool.data();
        if (2 * static_cast<int64_t>(count) > static_cast<int64_t>(kPoolInts))
          count = static_cast<int>(kPoolInts / 2);
        pokes.Poke(&g_intPool, 2 * static_cast<size_t>(count), in, AnyInt(in));
      }
      Expect e;
      Plan p(m);
      if (drawing || plusControl) {
        p.Int(1, m.intP);
        p.Int(-1, m.intP);
        p.Int(plusControl ? 1 : 0, m.intP);
        e = Element(1, 11, p);
      } else if (count < 0) {
        e = Refuse(Format("Invalid Element List Count: %d\n", count));
      } else {
        p.Int(count, m.intP);
        if (p.ok && IntBytes(m.intP) * (1 + 2 * static_cast<int64_t>(count)) > kWork) {
          p.ok = false;  // refused before a value is read
        } else {
          for (int64_t i = 0; i < 2 * static_cast<int64_t>(count) && p.ok; i++)
            p.Int(lp[i], m.intP);
        }
        e = Element(1, 11, p);
      }
      r.Do("qMetafileElementsList", e,
           [&](char *msg) {
             return qMetafileElementsList(d, drawing, plusControl, lp, count,
                                          msg);
           },
           Nothing);
      break;
    }
    case 8: {  // METAFILE DEFAULTS REPLACEMENT
      const int mode = in.pick(4) == 0 ? AnyInt(in) : (in.flag() ? 1 : 0);
      Expect e;
      if (mode == 1) {
        e.kind = Expect::kMdrOpen;
        r.Do("qMetafileDefaultsReplacement(open)", e,
             [&](char *msg) { return qMetafileDefaultsReplacement(1, d, msg); },
             [&] { m.mdrOpen = true; });
      } else {
        e.kind = Expect::kMdrClose;
        if (!m.mdrOpen) {
          e.ok = false;
          e.msg = "Could not get output file position\n";
        } else {
          const int64_t contents = FileSize() - m.mdrWord - 2;
          if (contents > 32767) {
            e.ok = false;
            e.msg = Format("Metafile Defaults Replacement Too Long: %lld bytes\n",
                           (long long)contents);
          }
        }
        if (r.failing) e = Expect();  // the file size is not ours to read
        r.Do("qMetafileDefaultsReplacement(close)", e,
             [&](char *msg) {
               return qMetafileDefaultsReplacement(mode, d, msg);
             },
             [&] { m.mdrOpen = false; });
      }
      break;
    }
    case 9: {  // FONT LIST and CHARACTER SET LIST
      const bool sets = in.flag();
      int count = in.flag() ? in.pick(5) : AnyInt(in);
      std::vector<std::string> names(
          count > 0 ? static_cast<size_t>(count > 6 ? 6 : count) : 0);
      if (count > 6) count = 6;
      std::vector<const char *> ptrs;
      std::vector<int> types;
      bool big = r.Big(in);
      for (std::string &n : names) {
        AnyString(in, &n, big);
        ptrs.push_back(n.c_str());
        types.push_back(in.flag() ? in.pick(5) : AnyInt(in));
      }
      Plan p(m);
      for (size_t i = 0; i < names.size(); i++) {
        if (sets) p.Int(types[i], m.enumP);
        p.Str(static_cast<int64_t>(names[i].size()));
      }
      if (sets) {
        r.Do("qCharacterSetList", Element(1, 14, p),
             [&](char *msg) {
               return qCharacterSetList(types.data(), ptrs.data(), count, d,
                                        msg);
             },
             Nothing);
      } else {
        r.Do("qFontList", Element(1, 13, p),
             [&](char *msg) { return qFontList(count, ptrs.data(), d, msg); },
             Nothing);
      }
      break;
    }
    default: {
      const int v = AnyInt(in);
      Plan p(m);
      p.Int(v, m.enumP);
      r.Do("qCharacterCodingAnnouncer", Element(1, 15, p),
           [&](char *msg) { return qCharacterCodingAnnouncer(v, d, msg); },
           Nothing);
      break;
    }
  }
}

void PictureDescriptorOps(Runner &r, FuzzInput &in, int which) {
  qWCGM_DATA *d = r.d;
  Model &m = r.m;
  switch (which) {
    case 0: {
      const int mode = in.pick(4) == 0 ? AnyInt(in) : in.pick(2);
      const double factor = AnyReal(in);
      Expect e;
      if (mode != 0 && mode != 1) {
        e = Refuse(Format("Invalid Scaling Mode: %d\n", mode));
      } else {
        Plan p(m);
        p.Int(mode, m.enumP);
        p.Real(factor, 1);
        e = Element(2, 1, p);
      }
      r.Do("qScalingMode", e,
           [&](char *msg) { return qScalingMode(mode, factor, d, msg); },
           [&] {
             m.scaling = mode;
             if (mode == 1)
               m.metric = static_cast<double>(static_cast<float>(factor));
           });
      break;
    }
    case 1: {  // the four mode elements
      const int kind = in.pick(4);
      const int mode = in.pick(4) == 0 ? AnyInt(in) : in.pick(2);
      static const char *const kMsgs[4] = {
          "Invalid Color Selection Mode: %d\n",
          "Invalid Line Width Selection Mode: %d\n",
          "Invalid Marker Size Specification Mode: %d\n",
          "Invalid Edge Width Specification Mode: %d\n"};
      static const char *const kNames[4] = {
          "qColorSelectionMode", "qLineWidthSpecificationMode",
          "qMarkerSizeSpecificationMode", "qEdgeWidthSpecificationMode"};
      int *fields[4] = {&m.colorSel, &m.lineWidth, &m.markerSize,
                        &m.edgeWidth};
      Expect e;
      if (mode != 0 && mode != 1) {
        e = Refuse(Format(kMsgs[kind], mode));
      } else {
        Plan p(m);
        p.Int(mode, m.enumP);
        e = Element(2, 2 + kind, p);
      }
      r.Do(kNames[kind], e,
           [&](char *msg) {
             switch (kind) {
               case 0: return qColorSelectionMode(mode, d, msg);
               case 1: return qLineWidthSpecificationMode(mode, d, msg);
               case 2: return qMarkerSizeSpecificationMode(mode, d, msg);
               default: return qEdgeWidthSpecificationMode(mode, d, msg);
             }
           },
           [&] { *fields[kind] = mode; });
      break;
    }
    case 2: {
      qVDC a[2] = {AnyVdc(in), AnyVdc(in)};
      qVDC b[2] = {AnyVdc(in), AnyVdc(in)};
      Plan p(m);
      p.Vdcs(a, 2);
      p.Vdcs(b, 2);
      r.Do("qVdcExtent", Element(2, 6, p),
           [&](char *msg) { return qVdcExtent(a, b, d, msg); }, Nothing);
      break;
    }
    default: {
      int rgb[3];
      Plan p(m);
      for (int &v : rgb) {
        v = in.flag() ? in.u8() : AnyInt(in);
        p.Int(v, m.colorP);
      }
      r.Do("qBackgroundColor", Element(2, 7, p),
           [&](char *msg) { return qBackgroundColor(rgb, d, msg); }, Nothing);
      break;
    }
  }
}

// Sets one of the precisions that no element changes.
void DirectPrecisionOp(Runner &r, FuzzInput &in) {
  const int which = in.pick(3);
  int v;
  if (which == 1) v = in.pick(8) == 0 ? AnyInt(in) : AnyPrecision(in);
  else if (which == 2) v = in.pick(8) == 0 ? AnyInt(in) : 1 + in.pick(4);
  else v = in.pick(8) == 0 ? AnyInt(in) : AnyPrecision(in);
  if (which == 0) {
    r.m.enumP = v;
    r.d->Cgm.MetafileDescriptor.EnumPrecision = v;
  } else if (which == 1) {
    r.m.vdcIntP = v;
    r.d->Cgm.Control.VdcIntegerPrecision = v;
  } else {
    r.m.vdcRealP = v;
    r.d->Cgm.Control.VdcRealPrecision = v;
  }
}

// ---- Point lists, text, circles -------------------------------------------------

// n points, from a small array or, for large counts, from the pool.
struct Points {
  std::vector<qVDC> own;
  Pokes<qVDC> pokes;
  const qVDC *p = nullptr;
};

int PointCount(Runner &r, FuzzInput &in) {
  static const int kBig[] = {2000,   42666,  42667,  63999,  64000, 64001,
                             85333,  85334,  127999, 128000, 128001, 255999,
                             256000, 256001, 512000, INT_MAX};
  const uint8_t sel = in.u8();
  if (sel < 200) return sel % 12;
  if (sel < 220) return sel < 210 ? -1 : INT_MIN;
  if (!r.Big(in)) return sel % 40;
  return kBig[sel % 16];
}

void MakePoints(FuzzInput &in, int64_t values, Points *pts) {
  if (values <= 64) {
    pts->own.resize(static_cast<size_t>(values > 0 ? values : 1));
    for (qVDC &v : pts->own) v = AnyVdc(in);
    pts->p = pts->own.data();
    return;
  }
  const int64_t range =
      values < static_cast<int64_t>(g_vdcPool.size())
          ? values
          : static_cast<int64_t>(g_vdcPool.size());
  for (int k = in.pick(3); k > 0; k--)
    pts->pokes.Poke(&g_vdcPool, static_cast<size_t>(range), in, AnyVdc(in));
  pts->p = g_vdcPool.data();
}

// The library refuses a list longer than the work buffer before reading
// it, so the model may look only at as many values as fit.
void PlanPoints(Plan *p, const qVDC *v, int64_t values, int64_t extraBytes) {
  if (values * p->VdcBytes() + extraBytes > kWork) {
    p->ok = false;
    return;
  }
  p->Vdcs(v, values);
}

void PrimitiveOps(Runner &r, FuzzInput &in, int which) {
  qWCGM_DATA *d = r.d;
  Model &m = r.m;
  std::string s;
  switch (which) {
    case 0: {  // POLYLINE, DISJOINT POLYLINE, POLYMARKER, POLYGON
      const int kind = in.pick(4);
      static const int kIds[4] = {1, 2, 3, 7};
      static const char *const kNames[4] = {"qPolyline", "qDisjointPolyline",
                                            "qPolyMarker", "qPolygon"};
      const int n = PointCount(r, in);
      const int64_t values = n > 0 ? 2 * static_cast<int64_t>(n) : 0;
      Points pts;
      MakePoints(in, values, &pts);
      if (values > static_cast<int64_t>(g_vdcPool.size()) &&
          values * Plan(m).VdcBytes() <= kWork)
        Fail("generator: point pool too small");
      Plan p(m);
      PlanPoints(&p, pts.p, values, 0);
      r.Do(kNames[kind], Element(4, kIds[kind], p),
           [&](char *msg) {
             switch (kind) {
               case 0: return qPolyline(pts.p, n, d, msg);
               case 1: return qDisjointPolyline(pts.p, n, d, msg);
               case 2: return qPolyMarker(pts.p, n, d, msg);
               default: return qPolygon(pts.p, n, d, msg);
             }
           },
           Nothing);
      break;
    }
    case 1: {  // POLYGON SET
      const int n = PointCount(r, in);
      const int64_t values = n > 0 ? 2 * static_cast<int64_t>(n) : 0;
      Points pts;
      MakePoints(in, values, &pts);
      std::vector<int> own;
      Pokes<int> pokes;
      const int *flags;
      if (n <= 32) {
        own.resize(static_cast<size_t>(n > 0 ? n : 1));
        for (int &f : own) f = in.pick(8) == 0 ? AnyInt(in) : in.pick(4);
        flags = own.data();
      } else {
        for (int k = in.pick(2); k > 0; k--)
          pokes.Poke(&g_flagPool,
                     std::min(static_cast<size_t>(n), g_flagPool.size()), in,
                     AnyInt(in));
        // The pool holds more flags than the work buffer takes points.
        flags = g_flagPool.data();
      }
      Plan p(m);
      Expect e;
      const int64_t each =
          2 * p.VdcBytes() + (PrecOk(m.enumP) ? IntBytes(m.enumP) : 4);
      if (n > 0 && n * each > kWork) {
        p.ok = false;
      } else {
        for (int i = 0; i < n && p.ok; i++) {
          p.Vdcs(pts.p + 2 * i, 2);
          if (!p.ok) break;
          if (flags[i] < 0 || flags[i] > 3) {
            p.ok = false;
            e.msg = Format("Invalid Value in EdgeOutFlags[%d] : %d\n", i,
                           flags[i]);
            break;
          }
          p.Int(flags[i], m.enumP);
        }
      }
      std::string exact = e.msg;
      e = Element(4, 8, p);
      if (!e.ok) e.msg = exact;
      r.Do("qPolygonSet", e,
           [&](char *msg) { return qPolygonSet(pts.p, flags, n, d, msg); },
           Nothing);
      break;
    }
    case 2: {  // TEXT, RESTRICTED TEXT, APPEND TEXT
      const int kind = in.pick(3);
      const int final = in.pick(6) == 0 ? AnyInt(in) : in.pick(2);
      qVDC v[4] = {AnyVdc(in), AnyVdc(in), AnyVdc(in), AnyVdc(in)};
      AnyString(in, &s, r.Big(in));
      const int64_t n = static_cast<int64_t>(s.size());
      Plan p(m);
      Expect e;
      const bool badFlag = final != 0 && final != 1;
      if (kind == 0) {
        PlanPoints(&p, v, 2, (PrecOk(m.enumP) ? IntBytes(m.enumP) : 4) +
                                 StringBytes(n));
        p.Int(final, m.enumP);
        p.Str(n);
        e = badFlag ? Refuse(Format(
                          "Invalid Value for Final/Not Final-Flag: %d\n", final))
                    : Element(4, 4, p);
        r.Do("qText", e,
             [&](char *msg) { return qText(v, final, s.c_str(), d, msg); },
             Nothing);
      } else if (kind == 1) {
        PlanPoints(&p, v, 4, (PrecOk(m.enumP) ? IntBytes(m.enumP) : 4) +
                                 StringBytes(n));
        p.Int(final, m.enumP);
        p.Str(n);
        if (badFlag) {
          e.ok = false;
          e.kind = Expect::kQuiet;  // reported on standard output
        } else {
          e = Element(4, 5, p);
        }
        r.Do("qRestrictedText", e,
             [&](char *msg) {
               return qRestrictedText(&v[0], &v[1], &v[2], final, s.c_str(), d,
                                      msg);
             },
             Nothing);
      } else {
        p.Int(final, m.enumP);
        p.Str(n);
        e = badFlag ? Refuse(Format(
                          "Invalid Value for Final/Not Final-Flag: %d", final))
                    : Element(4, 6, p);
        r.Do("qAppendText", e,
             [&](char *msg) { return qAppendText(s.c_str(), final, d, msg); },
             Nothing);
      }
      break;
    }
    default: {  // RECTANGLE and the circles, arcs and ellipses
      const int kind = in.pick(9);
      qVDC v[10];
      for (qVDC &x : v) x = AnyVdc(in);
      const int close = in.pick(6) == 0 ? AnyInt(in) : in.pick(2);
      static const int kValues[9] = {4, 3, 6, 6, 7, 7, 6, 10, 10};
      static const int kIds[9] = {11, 12, 13, 14, 15, 16, 17, 18, 19};
      static const bool kClose[9] = {false, false, false, true, false,
                                     true,  false, false, true};
      static const char *const kNames[9] = {
          "qRectangle",        "qCircle",
          "qCircularArc3Point", "qCircularArc3PointClose",
          "qCircularArcCenter", "qCircularArcCenterClose",
          "qEllipse",          "qEllipseArc",
          "qEllipseArcClose"};
      Plan p(m);
      p.Vdcs(v, kValues[kind]);
      if (kClose[kind]) p.Int(close, m.enumP);
      Expect e = Element(4, kIds[kind], p);
      if (kClose[kind] && close != 0 && close != 1)
        e = Refuse(Format(kind == 8 ? "Invalid Closure Type: %d"
                                    : "Invalid Closure Type: %d\n",
                          close));
      r.Do(kNames[kind], e,
           [&](char *msg) {
             switch (kind) {
               case 0: return qRectangle(v, d, msg);
               case 1: return qCircle(v, &v[2], d, msg);
               case 2: return qCircularArc3Point(v, &v[2], &v[4], d, msg);
               case 3:
                 return qCircularArc3PointClose(v, &v[2], &v[4], close, d, msg);
               case 4:
                 return qCircularArcCenter(v, &v[2], &v[3], &v[4], &v[5], &v[6],
                                           d, msg);
               case 5:
                 return qCircularArcCenterClose(v, &v[2], &v[3], &v[4], &v[5],
                                                &v[6], close, d, msg);
               case 6: return qEllipse(v, &v[2], &v[4], d, msg);
               case 7:
                 return qEllipseArc(v, &v[2], &v[4], &v[6], &v[7], &v[8], &v[9],
                                    d, msg);
               default:
                 return qEllipseArcClose(v, &v[2], &v[4], &v[6], &v[7], &v[8],
                                         &v[9], close, d, msg);
             }
           },
           Nothing);
      break;
    }
  }
}

// ---- Cell arrays -----------------------------------------------------------------

// Bytes of `values` colour values at precision p (1, 2, 4 packed).
int64_t CellBytes(int64_t values, int p) {
  if (p < 8) return (values * p + 7) / 8;
  return values * (p / 8);
}

bool ColourOk(int v, int p) { return p < 8 ? true : IntOk(v, p); }

// The model of a CELL ARRAY: checks, header, rows with their pad bytes.
// `available` is how many ints of cell data the caller really has; the
// model never reads past it (running out means the library would have to
// read past it too, which the generator must not allow).
Expect PlanCellArray(const Model &m, const qVDC *pqr, int nx, int ny, int lp,
                     int mode, const int *cells, int64_t available) {
  static const int kLocal[] = {0, 1, 2, 4, 8, 16, 24, 32};
  bool lpOk = false;
  for (int v : kLocal) lpOk = lpOk || v == lp;
  if (!lpOk) return Refuse(Format("Invalid Local Color Precision: %d\n", lp));
  if (nx <= 0) return Refuse(Format("Invalid Value For Nx: %d\n", nx));
  if (ny <= 0) return Refuse(Format("Invalid Value For Ny: %d\n", ny));
  if (mode != 0 && mode != 1)
    return Refuse(Format("Invalid Cell Representation Mode: %d\n", mode));
  Plan p(m);
  p.Vdcs(pqr, 6);
  p.Int(nx, m.intP);
  p.Int(ny, m.intP);
  p.Int(lp, m.intP);
  p.Int(mode, m.enumP);
  const int k = m.colorSel != 0 ? 3 : 1;
  const int cp = lp != 0 ? lp : (m.colorSel != 0 ? m.colorP : m.colorIndexP);
  if (!p.ok || (cp >= 8 && !PrecOk(cp))) {
    p.ok = false;
    return Element(4, 9, p);
  }
  int64_t len = p.len;
  int64_t cursor = 0;
  for (int row = 0; row < ny && p.ok; row++) {
    len += len & 1;
    if (mode == 1) {
      const int64_t values = static_cast<int64_t>(nx) * k;
      const int64_t bytes = CellBytes(values, cp);
      if (len + bytes > kWork) {
        p.ok = false;
        break;
      }
      if (cursor + values > available) Fail("generator: cell data too short");
      if (cp >= 8)
        for (int64_t i = 0; i < values && p.ok; i++)
          p.ok = ColourOk(cells[cursor + i], cp);
      cursor += values;
      len += bytes;
    } else {
      int64_t total = 0;
      while (total < nx) {
        if (cursor + 1 + k > available) Fail("generator: run data too short");
        const int count = cells[cursor];
        const int64_t runBytes = IntBytes(m.intP) + CellBytes(k, cp);
        if (len + runBytes > kWork) {
          p.ok = false;
          break;
        }
        if (count <= 0 || !IntOk(count, m.intP)) {
          p.ok = false;
          break;
        }
        total += count;
        for (int j = 0; j < k; j++)
          if (!ColourOk(cells[cursor + 1 + j], cp)) p.ok = false;
        if (!p.ok) break;
        cursor += 1 + k;
        len += runBytes;
      }
      if (p.ok && total != nx) p.ok = false;
    }
  }
  p.len = len;
  return Element(4, 9, p);
}

// Writes runs for one row of nx cells into `out`: counts that add up to nx,
// or, when `corrupt`, a row that the library must refuse.
void MakeRunRow(FuzzInput &in, int nx, int k, int maxRuns, bool corrupt,
                const int *palette, std::vector<int> *out) {
  int left = nx;
  int runs = 0;
  while (left > 0) {
    int count = (runs + 1 >= maxRuns || in.pick(3) == 0)
                    ? left
                    : 1 + static_cast<int>(in.u16() % static_cast<unsigned>(left));
    if (corrupt && in.pick(3) == 0) {
      static const int kBad[] = {0, -1, INT_MIN, 65536, INT_MAX};
      count = in.flag() ? kBad[in.pick(5)]
              : count < INT_MAX - 3 ? count + 1 + in.pick(3) : -1;
      corrupt = false;
    }
    out->push_back(count);
    for (int j = 0; j < k; j++) out->push_back(palette[in.pick(4)]);
    runs++;
    if (count <= 0 || count > left) return;  // the row ends here
    left -= count;
  }
}

void CellArrayOp(Runner &r, FuzzInput &in) {
  qWCGM_DATA *d = r.d;
  const Model &m = r.m;
  qVDC pqr[6];
  for (qVDC &v : pqr) v = in.pick(4) == 0 ? AnyVdc(in) : qVDC{in.pick(20), in.pick(20) / 2.0};
  static const int kLocal[] = {0, 1, 2, 4, 8, 16, 24, 32};
  const int lp = in.pick(10) == 0 ? AnyInt(in) : kLocal[in.pick(8)];
  const int mode = in.pick(10) == 0 ? AnyInt(in) : in.pick(2);
  const bool big = r.Big(in);
  static const int kNx[] = {1706, 1707, 2000, 10000, 65535, 65536, 170666,
                            170667, 512000, 4096000, INT_MAX, 0, -1, INT_MIN};
  static const int kNy[] = {1, 2, 3, 100, 101, 1000, 100000, 0, -1, INT_MAX};
  int nx = big && in.flag() ? kNx[in.pick(14)] : 1 + in.pick(8);
  int ny = big && in.flag() ? kNy[in.pick(10)] : 1 + in.pick(5);
  if (in.pick(16) == 0) nx = in.pick(2) - 1;
  if (in.pick(16) == 0) ny = in.pick(2) - 1;
  const int k = m.colorSel != 0 ? 3 : 1;
  int palette[4];
  for (int &c : palette) c = in.pick(4) == 0 ? AnyInt(in) : in.u8();

  std::vector<int> own;
  Pokes<int> pokes;
  const int *cells = nullptr;
  int64_t available = 0;
  if (nx > 0 && ny > 0) {
    if (mode != 0) {
      const int64_t values = static_cast<int64_t>(nx) * ny * k;
      if (values <= 4096) {
        own.resize(static_cast<size_t>(values));
        for (int &c : own) c = palette[in.pick(4)];
        cells = own.data();
        available = values;
      } else {
        cells = g_intPool.data();
        available = static_cast<int64_t>(kPoolInts);
        for (int t = in.pick(3); t > 0; t--)
          pokes.Poke(&g_intPool,
                     static_cast<size_t>(values < available ? values : available),
                     in, AnyInt(in));
      }
    } else {
      // Run-length rows: a few runs a row; rows beyond the first few repeat
      // the earlier ones.  Enough rows are made to pass the work buffer.
      const int made = ny < 8 ? ny : 8;
      const bool corrupt = in.pick(6) == 0;
      std::vector<std::vector<int>> rows(static_cast<size_t>(made));
      for (auto &row : rows)
        MakeRunRow(in, nx, k, ny > 1000 ? 1 : 6, corrupt, palette, &row);
      const int64_t needRows = ny < 300000 ? ny : 300000;
      for (int64_t i = 0; i < needRows; i++) {
        const auto &row = rows[static_cast<size_t>(i % made)];
        own.insert(own.end(), row.begin(), row.end());
      }
      cells = own.data();
      available = static_cast<int64_t>(own.size());
    }
  }
  Expect e = PlanCellArray(m, pqr, nx, ny, lp, mode, cells, available);
  r.Do("qCellArray", e,
       [&](char *msg) {
         return qCellArray(&pqr[0], &pqr[2], &pqr[4], nx, ny, lp, mode, cells,
                           d, msg);
       },
       Nothing);
}

// ---- Row compressors, then their rows written -------------------------------------

int CountLimit(int precision) {
  switch (precision) {
    case 8: return 255;
    case 16: return 32767;
    case 24: return 8388607;
    default: return INT_MAX;
  }
}

// CellCompress's decision by the rules, computed here on its own.
void ReferenceCellCompress(const int *cells, int n, int k, int cp, int countP,
                           int *mode, int *prec) {
  *mode = 1;
  *prec = cp;
  if (n <= 0) return;
  const int64_t limit = static_cast<int64_t>(n) * k;
  int64_t used = 0;
  int64_t count = 0;
  for (int i = 0; i < n; i++) {
    const bool same =
        i > 0 && std::memcmp(cells + i * k, cells + (i - 1) * k,
                             sizeof(int) * static_cast<size_t>(k)) == 0;
    if (same && count + 1 <= CountLimit(countP)) {
      count++;
      continue;
    }
    if (used + k >= limit) return;
    used += k + 1;
    count = 1;
  }
  auto bits = [](int p) -> int64_t { return p < 0 ? 0 : p > 64 ? 64 : p; };
  const int runP = cp < 8 ? 8 : cp;
  const int64_t packed = (limit * bits(cp) + 7) / 8;
  const int64_t runsBytes = used / (k + 1) * (bits(countP) + k * bits(runP)) / 8;
  if (runsBytes < packed) {
    *mode = 0;
    *prec = runP;
  }
}

// CellCompress24's decision by the rules: runs of equal pixels (counts up
// to the limit), given up when a run starts after 3n ints; chosen when
// strictly smaller than the packed row.
int ReferenceMode24(const uint8_t *const planes[3], int stride, int n,
                    int countP) {
  if (n <= 0) return 1;
  int64_t written = 0;
  int64_t count = 0;
  for (int j = 0; j < n; j++) {
    bool same = j > 0;
    for (int c = 0; c < 3 && same; c++)
      same = planes[c][static_cast<size_t>(j) * static_cast<size_t>(stride)] ==
             planes[c][static_cast<size_t>(j - 1) * static_cast<size_t>(stride)];
    if (same && count + 1 <= CountLimit(countP)) {
      count++;
      continue;
    }
    if (written >= 3 * static_cast<int64_t>(n)) return 1;
    written += 4;
    count = 1;
  }
  const int64_t bits = countP < 0 ? 0 : countP > 64 ? 64 : countP;
  return written / 4 * (bits + 24) / 8 < 3 * static_cast<int64_t>(n) ? 0 : 1;
}

// The monochrome scan over the row's bytes: 5 for every run of equal bits
// among all their bits, worth it when at most the byte count.
int ReferenceMonoMode(const uint8_t *bits, int n) {
  const int64_t bytes = n > 0 ? (static_cast<int64_t>(n) + 7) / 8 : 0;
  if (bytes < 5) return 1;
  int64_t runs = 1;
  for (int64_t i = 1; i < 8 * bytes; i++)
    if (((bits[i / 8] >> (7 - i % 8)) & 1) !=
        ((bits[(i - 1) / 8] >> (7 - (i - 1) % 8)) & 1))
      runs++;
  return 5 * runs <= bytes ? 0 : 1;
}

// Runs expand to exactly the row, each count within its limit.  Returns
// the ints the runs take.
int64_t CheckRuns(const int *runs, const int *row, int n, int k, int countP,
                  const char *op) {
  int64_t at = 0;
  int64_t cell = 0;
  while (cell < n) {
    const int count = runs[at];
    if (count < 1 || count > CountLimit(countP))
      Fail("%s: run count %d", op, count);
    for (int c = 0; c < count; c++, cell++) {
      if (cell >= n) Fail("%s: runs cover more than %d cells", op, n);
      for (int j = 0; j < k; j++)
        if (row[cell * k + j] != runs[at + 1 + j])
          Fail("%s: runs differ from the row at cell %lld", op, (long long)cell);
    }
    at += 1 + k;
  }
  if (cell != n) Fail("%s: runs cover %lld of %d cells", op, (long long)cell, n);
  return at;
}

// Writes one compressed row as a CELL ARRAY of one row.
void WriteRow(Runner &r, int n, int lp, int mode, const int *cells,
              int64_t available) {
  qVDC pqr[6] = {{0, 0.0}, {0, 0.0}, {n, 1.0}, {1, 1.0}, {n, 1.0}, {0, 0.0}};
  Expect e = PlanCellArray(r.m, pqr, n, 1, lp, mode, cells, available);
  r.Do("qCellArray(compressed row)", e,
       [&](char *msg) {
         return qCellArray(&pqr[0], &pqr[2], &pqr[4], n, 1, lp, mode, cells,
                           r.d, msg);
       },
       Nothing);
}

// Exactly n elements (one when n is 0), so that the sanitizer sees a write
// one past the room the interface promises.
template <typename T>
T *Exact(size_t n) {
  return static_cast<T *>(std::malloc(sizeof(T) * (n > 0 ? n : 1)));
}

void CompressorOps(Runner &r, FuzzInput &in) {
  const Model &m = r.m;
  const int which = in.pick(3);
  int n = in.flag() ? in.pick(40) : in.u16() % 3000;
  if (in.pick(32) == 0) n = -in.pick(3);
  const int countP = in.pick(6) == 0 ? AnyInt(in) : 8 << in.pick(3);
  uint8_t colours[4][3];
  for (auto &c : colours)
    for (uint8_t &v : c) v = in.u8();
  const int runLen = 1 + in.pick(300);  // typical stretch of equal pixels

  if (which == 0) {  // CellCompress on a row in cell form
    const int direct = m.colorSel != 0;
    const int k = direct ? 3 : 1;
    static const int kCp[] = {1, 2, 4, 8, 16, 24, 32};
    const int cp = in.pick(8) == 0 ? AnyInt(in) : kCp[in.pick(7)];
    const size_t cellsN = n > 0 ? static_cast<size_t>(n * k) : 0;
    int *cells = Exact<int>(cellsN);
    int *runs = Exact<int>(cellsN);  // n * k ints, as the interface promises
    int colour = 0;
    for (int i = 0; i < n; i++) {
      if (i % runLen == 0) colour = in.pick(4);
      for (int j = 0; j < k; j++)
        cells[static_cast<size_t>(i * k + j)] =
            colours[colour][j] >> (cp < 8 && cp > 0 ? 8 - cp : 0);
    }
    int mode = -7, prec = -7;
    int *got = CellCompress(cells, runs, n, direct, cp, countP, &mode, &prec);
    int wantMode, wantPrec;
    ReferenceCellCompress(cells, n, k, cp, countP, &wantMode, &wantPrec);
    if (mode != wantMode || prec != wantPrec)
      Fail("CellCompress: mode %d precision %d, expected %d and %d (n %d, cp %d, count %d)",
           mode, prec, wantMode, wantPrec, n, cp, countP);
    if (mode == 1 && got != cells) Fail("CellCompress: packed but not the cells");
    if (mode == 0) {
      if (got != runs) Fail("CellCompress: runs but not the runs array");
      CheckRuns(runs, cells, n, k, countP, "CellCompress");
    }
    if (n > 0 && PrecOk(countP) && countP == m.intP)
      WriteRow(r, n, prec, mode, got, static_cast<int64_t>(cellsN));
    std::free(cells);
    std::free(runs);
  } else if (which == 1) {  // CellCompress24 on component planes
    // Interleaved RGB (one buffer, stride 3, the planes a byte apart) or
    // three planes of their own with any stride.
    const bool interleaved = in.flag();
    const int stride = interleaved ? 3 : 1 + in.pick(5);
    const size_t step = static_cast<size_t>(stride);
    const size_t span = n > 0 ? (static_cast<size_t>(n) - 1) * step + 1 : 0;
    uint8_t *planes[3];
    uint8_t *rgb = interleaved ? Exact<uint8_t>(n > 0 ? 3 * static_cast<size_t>(n) : 0)
                               : nullptr;
    for (int c = 0; c < 3; c++)
      planes[c] = interleaved ? rgb + c : Exact<uint8_t>(span);
    int colour = 0;
    for (int i = 0; i < n; i++) {
      if (i % runLen == 0) colour = in.pick(4);
      for (int c = 0; c < 3; c++)
        planes[c][static_cast<size_t>(i) * step] = colours[colour][c];
    }
    const size_t outN = n > 0 ? (3 * static_cast<size_t>(n) + 3) / 4 * 4 : 0;
    int *out = Exact<int>(outN);
    int mode = -7;
    CellCompress24(planes[0], planes[1], planes[2], stride, out, n, countP, &mode);
    if (mode != ReferenceMode24(planes, stride, n, countP))
      Fail("CellCompress24: mode %d for n %d, count precision %d", mode, n,
           countP);
    std::vector<int> row(n > 0 ? 3 * static_cast<size_t>(n) : 0);
    for (int i = 0; i < n; i++)
      for (int c = 0; c < 3; c++)
        row[static_cast<size_t>(3 * i + c)] = planes[c][static_cast<size_t>(i) * step];
    if (mode == 1) {
      if (n > 0 && std::memcmp(out, row.data(), sizeof(int) * row.size()) != 0)
        Fail("CellCompress24: packed row differs");
    } else if (mode == 0) {
      const int64_t ints = CheckRuns(out, row.data(), n, 3, countP, "CellCompress24");
      auto bits = [](int p) -> int64_t { return p < 0 ? 0 : p > 64 ? 64 : p; };
      if (ints / 4 * (bits(countP) + 24) / 8 >= 3 * static_cast<int64_t>(n))
        Fail("CellCompress24: runs chosen though not smaller");
    } else {
      Fail("CellCompress24: mode %d", mode);
    }
    if (n > 0 && m.colorSel != 0 && PrecOk(countP) && countP == m.intP)
      WriteRow(r, n, 8, mode, out, static_cast<int64_t>(outN));
    if (interleaved) std::free(rgb);
    else for (uint8_t *p : planes) std::free(p);
    std::free(out);
  } else {  // CellCompressMono on a bit row
    const size_t bytes = n > 0 ? (static_cast<size_t>(n) + 7) / 8 : 0;
    uint8_t *bits = Exact<uint8_t>(bytes);
    std::memset(bits, 0, bytes > 0 ? bytes : 1);
    int value = 0;
    for (int i = 0; i < n; i++) {
      if (i % runLen == 0) value = in.pick(2);
      if (i % 8 == 0) bits[i / 8] = 0;
      if (value) bits[i / 8] = static_cast<uint8_t>(bits[i / 8] | (0x80 >> (i % 8)));
    }
    if (bytes > 0 && (n % 8) != 0 && in.flag())  // bits past the row
      bits[bytes - 1] = static_cast<uint8_t>(bits[bytes - 1] | (0xFF >> (n % 8)));
    const size_t outN = n > 0 ? static_cast<size_t>(n) : 0;
    int *out = Exact<int>(outN);
    int mode = -7, prec = -7;
    CellCompressMono(bits, out, n, 0, &mode, &prec);
    if (mode != ReferenceMonoMode(bits, n))
      Fail("CellCompressMono: mode %d for a row of %d pixels", mode, n);
    std::vector<int> row(outN);
    for (size_t i = 0; i < outN; i++) row[i] = (bits[i / 8] >> (7 - i % 8)) & 1;
    if (mode == 1) {
      if (prec != 1) Fail("CellCompressMono: packed at precision %d", prec);
      if (outN && std::memcmp(out, row.data(), sizeof(int) * outN) != 0)
        Fail("CellCompressMono: packed row differs");
    } else if (mode == 0) {
      if (prec != 8) Fail("CellCompressMono: runs at precision %d", prec);
      const int64_t ints = CheckRuns(out, row.data(), n, 1, 32, "CellCompressMono");
      for (int64_t i = 2; i < ints; i += 2)
        if (out[i + 1] == out[i - 1]) Fail("CellCompressMono: runs not maximal");
    } else {
      Fail("CellCompressMono: mode %d", mode);
    }
    if (n > 0 && m.colorSel == 0)
      WriteRow(r, n, prec, mode, out, static_cast<int64_t>(outN));
    std::free(bits);
    std::free(out);
  }
}

// ---- Generalized drawing primitive ------------------------------------------------

void GdpTraceInitOp(Runner &r, FuzzInput &in) {
  qWCGM_DATA *d = r.d;
  const Model &m = r.m;
  qWCGM_CGM_PLUS &p = d->Cgm.CgmPlus;
  qVDC *points[4] = {p.Origin, p.BaseVector, p.AmpVector, p.TraceStepVector};
  for (qVDC *pt : points) {
    pt[0] = AnyVdc(in);
    pt[1] = AnyVdc(in);
  }
  double *reals[8] = {&p.BaseScale,     &p.AmpScale, &p.TraceStepFactor,
                      &p.BaselineOffset, &p.PosClip,  &p.NegClip,
                      &p.PosBkFillBoundary, &p.NegBkFillBoundary};
  for (double *x : reals) *x = in.flag() ? in.pick(16) / 4.0 : AnyReal(in);
  int *ints[7] = {&p.DisplayMode,   &p.SampleType,    &p.SamplesPerTrace,
                  &p.Reserved,      &p.WiggleModulus, &p.NullColorIndex,
                  &p.TracesPerLocation};
  for (int *x : ints) *x = in.flag() ? in.pick(6) : AnyInt(in);
  Plan plan(m);
  plan.Int(-4, m.intP);
  for (qVDC *pt : points) plan.Vdcs(pt, 2);
  plan.Int(0, m.intP);
  for (int i = 0; i < 6; i++) plan.Real(*reals[i], m.realP);
  for (int i = 0; i < 3; i++) plan.Int(*ints[i], m.intP);
  plan.Real(p.PosBkFillBoundary, m.realP);
  plan.Real(p.NegBkFillBoundary, m.realP);
  for (int i = 3; i < 7; i++) plan.Int(*ints[i], m.intP);
  r.Do("qGdp(-4)", Element(4, 10, plan),
       [&](char *msg) { return qGdp(-4, d, msg); }, Nothing);
}

void GdpTraceDataOp(Runner &r, FuzzInput &in) {
  qWCGM_DATA *d = r.d;
  const Model &m = r.m;
  qWCGM_CGM_PLUS &p = d->Cgm.CgmPlus;
  static const int kTypes[] = {0, 1, 2, 3, 4, 5, 6, -1, 7};
  p.SampleType = in.pick(10) == 0 ? AnyInt(in) : kTypes[in.pick(9)];
  static const int kCounts[] = {0,     1,     2,     5,     100,  1000,
                                16383, 16384, 32766, 32767, 32768, -1,
                                INT_MAX, INT_MIN};
  p.SamplesPerTrace = in.pick(4) == 0 ? kCounts[in.pick(14)] : in.pick(40);
  const unsigned type = static_cast<unsigned>(p.SampleType);
  const int n = p.SamplesPerTrace;
  Expect e;
  Plan plan(m);
  plan.Int(-5, m.intP);
  if (type <= 5) {
    const int limit = type >= 4 ? QWCGM_TRACE_SLOTS / 2 : QWCGM_TRACE_SLOTS;
    if (n < 0 || n > limit) {
      e = Refuse(Format("Invalid Samples Per Trace: %d\n", n));
    } else {
      const int values = type >= 4 ? 2 * n : n;
      static const int kBits[6] = {16, 32, 0, 8, 16, 8};
      if (type == 2) {
        double pal[3] = {AnyReal(in), AnyReal(in), AnyReal(in)};
        for (int i = 0; i < values; i++) p.TraceData.dTraceData[i] = pal[i % 3];
        for (int i = 0; i < values; i++) plan.Real(p.TraceData.dTraceData[i], 1);
      } else {
        int pal[3] = {in.flag() ? in.pick(100) : AnyInt(in), in.pick(100),
                      in.pick(100)};
        for (int i = 0; i < values; i++) p.TraceData.iTraceData[i] = pal[i % 3];
        if (values > 0 && in.pick(4) == 0)
          p.TraceData.iTraceData[in.u16() % values] = AnyInt(in);
        for (int i = 0; i < values && plan.ok; i++)
          plan.Int(p.TraceData.iTraceData[i], kBits[type]);
      }
      e = Element(4, 10, plan);
    }
  } else {
    e = Element(4, 10, plan);
  }
  r.Do("qGdp(-5)", e, [&](char *msg) { return qGdp(-5, d, msg); }, Nothing);
}

// One member of a PIP data record: its type, count and arrays.
struct Member {
  int type = 6;
  int count = 0;
  const int *ints = nullptr;
  const double *reals = nullptr;
  std::vector<int> ownInts;
  std::vector<double> ownReals;
};

const int kSdrTypes[] = {2, 3, 5, 6, 8, 9, 10, 11, 12, 16, 1, 4, 7,
                         13, 14, 15, 17, 18, 19, 20, 21, 22, 0, 23, -1};

void MakeMember(Runner &r, FuzzInput &in, Member *mb, bool colours,
                Pokes<int> *pokes) {
  const uint8_t how = in.u8();
  mb->type = how < 16   ? AnyInt(in)
             : how < 64 ? kSdrTypes[how % 25]
             : colours  ? (how & 1 ? 2 : 3)
                        : kSdrTypes[how % 10];
  static const int kBig[] = {100000, 127990, 170000, 255990, 256010, 511990,
                             512000, 715827882, 715827883, INT_MAX};
  const uint8_t sel = in.u8();
  mb->count = sel < 200 ? sel % 20 : sel < 215 ? -1 - (sel & 1)
              : r.Big(in) ? kBig[sel % 10] : 200 + sel;
  const int64_t values =
      mb->count > 0 ? static_cast<int64_t>(mb->count) * (mb->type == 3 ? 3 : 1) : 0;
  const int nulls = in.pick(8);  // sometimes no array at all
  if (values <= 64) {
    mb->ownInts.resize(static_cast<size_t>(values) + 1);
    mb->ownReals.resize(static_cast<size_t>(values) + 1);
    for (int &v : mb->ownInts) v = in.flag() ? in.pick(64) : AnyInt(in);
    for (double &x : mb->ownReals) x = in.flag() ? in.pick(64) / 8.0 : AnyReal(in);
    mb->ints = nulls == 1 ? nullptr : mb->ownInts.data();
    mb->reals = nulls == 2 ? nullptr : mb->ownReals.data();
  } else {
    mb->ints = nulls == 1 ? nullptr : g_intPool.data();
    mb->reals = nulls == 2 ? nullptr : g_realPool.data();
    const int64_t range = values < static_cast<int64_t>(kPoolInts)
                              ? values : static_cast<int64_t>(kPoolInts);
    if (in.flag()) pokes->Poke(&g_intPool, static_cast<size_t>(range), in, AnyInt(in));
  }
}

// Bytes of one value of an SDR type, 0 for the types that are not encoded.
int64_t SdrValueBytes(const Model &m, int type) {
  auto ib = [](int p) -> int64_t { return PrecOk(p) ? p / 8 : 4; };
  switch (type) {
    case 2: return ib(m.colorIndexP);
    case 3: return 3 * ib(m.colorP);
    case 5: return ib(m.enumP);
    case 6: return ib(m.intP);
    case 8: return 1;
    case 9: return 2;
    case 10: return 4;
    case 11: return ib(m.indexP);
    case 12: return RealBytes(m.realP);
    case 16: return m.vdcType == 0 ? ib(m.vdcIntP) : RealBytes(m.vdcRealP);
    default: return 0;
  }
}

// EncodeSDR's outcome for one member, as the model sees it.
void PlanMember(const Model &m, const Member &mb, Plan *p, int64_t *available) {
  if (!p->ok) return;
  p->Int(mb.type, m.enumP);
  p->Int(mb.count, m.intP);
  if (!p->ok) return;
  bool real = false;
  int prec = 0;
  int64_t values = mb.count;
  switch (mb.type) {
    case 2: prec = m.colorIndexP; break;
    case 3: prec = m.colorP; values *= 3; break;
    case 5: prec = m.enumP; break;
    case 6: prec = m.intP; break;
    case 8: prec = 8; break;
    case 9: prec = 16; break;
    case 10: prec = 32; break;
    case 11: prec = m.indexP; break;
    case 12: prec = m.realP; real = true; break;
    case 16:
      real = m.vdcType != 0;
      prec = real ? m.vdcRealP : m.vdcIntP;
      break;
    default: p->ok = false; return;
  }
  if (values > 0 && (real ? mb.reals == nullptr : mb.ints == nullptr)) {
    p->ok = false;
    return;
  }
  if (values > *available) Fail("generator: PIP arrays too short");
  for (int64_t i = 0; i < values && p->ok; i++) {
    if (real) p->Real(mb.reals[i], prec);
    else p->Int(mb.ints[i], prec);
  }
}

void GdpPipOp(Runner &r, FuzzInput &in) {
  qWCGM_DATA *d = r.d;
  const Model &m = r.m;
  qWCGM_CGM_PIP &pip = d->Cgm.CgmPip;
  pip.Origin[0] = AnyVdc(in);
  pip.Origin[1] = AnyVdc(in);
  pip.GroupId = in.flag() ? in.pick(10) : AnyInt(in);
  pip.SampleNormExt = in.flag() ? 1.0 : AnyReal(in);
  Pokes<int> pokes;
  Member mb[3];
  MakeMember(r, in, &mb[0], false, &pokes);
  MakeMember(r, in, &mb[1], true, &pokes);
  MakeMember(r, in, &mb[2], true, &pokes);
  pip.TypeSamples = mb[0].type;
  pip.iSamples = const_cast<int *>(mb[0].ints);
  pip.dSamples = const_cast<double *>(mb[0].reals);
  pip.NumSamples = mb[0].count;
  pip.TypeVaColors = mb[1].type;
  pip.VaColors = const_cast<int *>(mb[1].ints);
  pip.NumVaColors = mb[1].count;
  pip.TypeBkColors = mb[2].type;
  pip.BkColors = const_cast<int *>(mb[2].ints);
  pip.NumBkColors = mb[2].count;
  mb[1].reals = nullptr;  // colour members have no real array
  mb[2].reals = nullptr;

  Expect e;
  Plan plan(m);
  bool counted = true;
  for (const Member &x : mb)
    if (x.count < 0) {
      e = Refuse(Format("Invalid PIP Count: %d\n", x.count));
      counted = false;
      break;
    }
  if (counted) {
    // The record is sized from the precisions before anything is encoded.
    auto head = [&](int64_t count, int type) {
      return (PrecOk(m.enumP) ? m.enumP / 8 : 4) + (PrecOk(m.intP) ? m.intP / 8 : 4) +
             count * SdrValueBytes(m, type);
    };
    const int64_t estimate = head(1, 6) + head(1, 12) +
                             head(mb[0].count, mb[0].type) +
                             head(mb[1].count, mb[1].type) +
                             head(mb[2].count, mb[2].type);
    plan.Int(-3000, m.intP);
    plan.Int(1, m.intP);
    plan.Vdcs(pip.Origin, 2);
    if (2 * IntBytes(m.intP) + 2 * plan.VdcBytes() + StringBytes(estimate) > kWork) {
      plan.ok = false;
    } else {
      Plan record(m);
      record.Int(6, m.enumP);
      record.Int(1, m.intP);
      record.Int(pip.GroupId, m.intP);
      record.Int(12, m.enumP);
      record.Int(1, m.intP);
      record.Real(pip.SampleNormExt, m.realP);
      for (const Member &x : mb) {
        int64_t available =
            x.ownInts.empty() ? static_cast<int64_t>(kPoolInts)
                              : static_cast<int64_t>(x.ownInts.size());
        if (x.ownInts.empty() && x.reals != nullptr && x.type != 3)
          available = std::min<int64_t>(available,
                                        static_cast<int64_t>(g_realPool.size()));
        PlanMember(m, x, &record, &available);
      }
      plan.ok = plan.ok && record.ok;
      plan.Str(record.len);
    }
    e = Element(4, 10, plan);
  }
  r.Do("qGdp(-3000)", e, [&](char *msg) { return qGdp(-3000, d, msg); },
       Nothing);
}

void GdpOps(Runner &r, FuzzInput &in) {
  switch (in.pick(4)) {
    case 0: GdpTraceInitOp(r, in); break;
    case 1: GdpTraceDataOp(r, in); break;
    case 2: GdpPipOp(r, in); break;
    default: {
      int id = AnyInt(in);
      if (id == -4 || id == -5 || id == -3000) id = 1;
      r.Do("qGdp(other)", Refuse(Format("Unrecognized Gdp Identifier: %d\n", id)),
           [&](char *msg) { return qGdp(id, r.d, msg); }, Nothing);
      break;
    }
  }
}

// ---- The sequence ------------------------------------------------------------------

constexpr int kMaxCalls = 48;

void RunSequence(Runner &r, FuzzInput in) {
  for (int i = 0; i < kMaxCalls && !in.empty() && !r.stopped; i++) {
    const int op = in.pick(24);
    switch (op) {
      case 0: DelimiterOps(r, in, 0); break;
      case 1: DelimiterOps(r, in, 1 + in.pick(2)); break;
      case 2: DelimiterOps(r, in, 3); break;
      case 3: DescriptorOps(r, in, 0); break;
      case 4: DescriptorOps(r, in, 1); break;
      case 5: DescriptorOps(r, in, 2); break;
      case 6:
      case 7: DescriptorOps(r, in, 3); break;
      case 8: DescriptorOps(r, in, 4); break;
      case 9: DescriptorOps(r, in, 5 + in.pick(2)); break;
      case 10: DescriptorOps(r, in, 7); break;
      case 11: DescriptorOps(r, in, 8); break;
      case 12: DescriptorOps(r, in, 9 + in.pick(2)); break;
      case 13: PictureDescriptorOps(r, in, in.pick(4)); break;
      case 14: DirectPrecisionOp(r, in); break;
      case 15:
      case 16: CellArrayOp(r, in); break;
      case 17: CompressorOps(r, in); break;
      case 18: PrimitiveOps(r, in, 0); break;
      case 19: PrimitiveOps(r, in, 1); break;
      case 20: PrimitiveOps(r, in, 2); break;
      case 21: PrimitiveOps(r, in, 3); break;
      default: GdpOps(r, in); break;
    }
  }
}

qWCGM_DATA *g_data = nullptr;

bool Open(qWCGM_DATA *d) {
  char msg[QWCGM_MSG_SIZE];
  if (!qCgmInit(g_path, d, msg)) Fail("qCgmInit: %s", msg);
  return true;
}

// Trace data is refused until a trace initialisation has been encoded in
// the process; that is checked once here, and then the flag is cleared for
// good so that every input behaves the same whatever ran before it.
void FirstCallCheck() {
  Open(g_data);
  MsgBuffer mb;
  std::memset(&mb, kSentinel, sizeof mb);
  g_data->Cgm.CgmPlus.SampleType = 0;
  g_data->Cgm.CgmPlus.SamplesPerTrace = 0;
  if (qGdp(-5, g_data, mb.msg) != 0 || !Untouched(mb))
    Fail("trace data before a trace initialisation was not refused quietly");
  std::memset(&g_data->Cgm.CgmPlus, 0, sizeof g_data->Cgm.CgmPlus);
  if (qGdp(-4, g_data, mb.msg) != 1) Fail("trace initialisation failed");
  if (qGdp(-5, g_data, mb.msg) != 1) Fail("trace data refused after init");
  char msg[QWCGM_MSG_SIZE];
  qCgmEnd(g_data, msg);
  // Opening: a null name and a missing folder.
  std::memset(msg, kSentinel, sizeof msg);
  if (qCgmInit(nullptr, g_data, msg) != 0 ||
      std::strcmp(msg, "Output file name is NULL") != 0)
    Fail("null file name");
  if (qCgmInit("/nonexistent-dir/x.cgm", g_data, msg) != 0 ||
      std::strcmp(msg, "Could not open output file: /nonexistent-dir/x.cgm") != 0)
    Fail("missing folder");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // The banner of every open and the two checks that report on standard
  // output would drown the fuzzer's own output.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) Fail("stdout");
  g_fd = memfd_create("fuzz_library", 0);
  if (g_fd < 0) Fail("memfd_create: %s", std::strerror(errno));
  std::snprintf(g_path, sizeof g_path, "/proc/self/fd/%d", g_fd);
  MakePools();
  if (std::getenv("FUZZ_LIBRARY_STATS") != nullptr) {
    g_stats = new std::map<std::string, std::pair<long, long>>();
    std::atexit(PrintStats);
  }
  g_data = static_cast<qWCGM_DATA *>(std::calloc(1, sizeof(qWCGM_DATA)));
  FirstCallCheck();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (g_data == nullptr) LLVMFuzzerInitialize(nullptr, nullptr);
  FuzzInput in(data, size);
  // First byte: the failing stream of the second run.  Then the sequence.
  const uint8_t how = in.u8();
  const uint32_t limit = in.u16() | (static_cast<uint32_t>(in.u8() & 15) << 16);
  const uint8_t bufsize = in.u8();

  std::vector<Outcome> outcomes;
  std::vector<int64_t> mdrWords;
  {
    Open(g_data);
    Runner r;
    r.d = g_data;
    r.ref = &outcomes;
    r.mdrWords = &mdrWords;
    r.CompareState("qCgmInit");
    RunSequence(r, in);
    char msg[QWCGM_MSG_SIZE];
    if (qCgmEnd(g_data, msg) != 1) Fail("qCgmEnd failed on a good file");
  }
  if ((how & 3) == 0) return 0;  // a quarter of the inputs end here

  // The same calls on a stream that fails at `limit`.
  const std::vector<uint8_t> good = ReadBack(0, FileSize());
  Open(g_data);
  std::fclose(g_data->Outfile);
  if (ftruncate(g_fd, 0) != 0) Fail("ftruncate");
  const int kind = (how >> 2) & 3;
  if (kind == 3) {
    g_data->Outfile = std::fopen("/dev/full", "wb");
    if (g_data->Outfile == nullptr) return 0;  // no /dev/full here
  } else {
    g_sink = Sink();
    g_sink.limit = limit;
    cookie_io_functions_t io{};
    io.write = SinkWrite;
    io.seek = SinkSeek;
    io.close = SinkClose;
    g_data->Outfile = fopencookie(&g_sink, "w", io);
    if (g_data->Outfile == nullptr) Fail("fopencookie");
    if (kind == 0) std::setvbuf(g_data->Outfile, nullptr, _IONBF, 0);
    if (kind == 1)
      std::setvbuf(g_data->Outfile, nullptr, _IOFBF, 1 + bufsize);
  }
  Runner r;
  r.d = g_data;
  r.failing = true;
  r.ref = &outcomes;
  r.mdrWords = &mdrWords;
  RunSequence(r, in);
  char msg[QWCGM_MSG_SIZE];
  std::memset(msg, kSentinel, sizeof msg);
  const int closed = qCgmEnd(g_data, msg);
  if (closed == 0 && std::strcmp(msg, "Error occurred closing output file") != 0)
    Fail("qCgmEnd on a failing stream: '%.*s'", 255, msg);
  if (kind == 3) return 0;

  // What reached the file is a prefix of the good run's bytes (a length
  // word of a defaults replacement may still be the placeholder), and
  // nothing past the limit.
  const std::vector<uint8_t> got = ReadBack(0, FileSize());
  if (static_cast<int64_t>(got.size()) > static_cast<int64_t>(limit))
    Fail("%zu bytes reached a stream that takes %u", got.size(), limit);
  if (got.size() > good.size()) Fail("the failing run wrote more");
  for (size_t i = 0; i < got.size(); i++) {
    if (got[i] == good[i]) continue;
    bool word = false;
    for (int64_t w : mdrWords)
      if (static_cast<int64_t>(i) >= w && static_cast<int64_t>(i) < w + 2 &&
          got[i] == 0)
        word = true;
    if (!word) Fail("byte %zu differs from the good run", i);
  }
  if (!r.stopped && closed == 1 && got.size() != good.size())
    Fail("no failure reported, but %zu of %zu bytes written", got.size(),
         good.size());
  return 0;
}
