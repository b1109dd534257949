// The converter: command line, image checks, the size prompt, the metafile
// set-up, the strips of cell arrays and the close.
//
// The picture's VDC unit is the inch (real VDC, metric scaling at 25.4 mm a
// unit).  The image's lower-left corner lands at (0, 0) and its upper-right
// corner at (width, height) in inches at 90 pixels an inch, times the ratio
// the user types.  The image is written bottom row first in strips of r
// rows, each strip one CELL ARRAY of packed 8-bit direct colour whose first
// row lies along the strip's bottom edge (P lower left, R lower right, Q
// upper right).
#include "Picmeta.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#ifndef PM_STREAM_BUFFER
#define PM_STREAM_BUFFER (1 << 18)
#endif

qWCGM_DATA QuilData;
char ErrMsg[QWCGM_MSG_SIZE];

// ---- Metafile set-up and close ---------------------------------------------

// Prints the library's message for a failed call and gives `status`.
static int pm_Fail(int status) {
  std::printf("%s\n", ErrMsg);
  return status;
}

int pm_CGMinit(const char *cgmname, float cgmwidth, float cgmheight) {
  if (!qCgmInit(cgmname, &QuilData, ErrMsg)) return pm_Fail(1);
  // Strips are written as partitions of about 32 KB with a 2-byte word
  // between them; a stream buffer larger than a strip turns them into a few
  // large writes.  (Set before the first byte is written; without it the
  // stream keeps its default buffer.)
  static char streamBuffer[PM_STREAM_BUFFER];
  std::setvbuf(QuilData.Outfile, streamBuffer, _IOFBF, sizeof streamBuffer);
  if (!qBeginMetafile(cgmname, &QuilData, ErrMsg)) return pm_Fail(1);
  if (!qVersion(&QuilData, ErrMsg)) return pm_Fail(1);
  if (!qVdcType(1, &QuilData, ErrMsg)) return pm_Fail(1);
  // Direct colour must be in force before the first cell array, so that
  // each cell takes three values.
  if (!qColorSelectionMode(1, &QuilData, ErrMsg)) return pm_Fail(1);
  if (!qColorPrecision(8, &QuilData, ErrMsg)) return pm_Fail(1);
  if (!qMetafileElementsList(&QuilData, 1, 1, nullptr, 0, ErrMsg))
    return pm_Fail(1);
  if (!qBeginPicture("Picture begins.....", &QuilData, ErrMsg))
    return pm_Fail(1);
  // 25.4 millimetres a VDC unit: the VDC unit is the inch.
  if (!qScalingMode(1, 25.4, &QuilData, ErrMsg)) return pm_Fail(1);
  qVDC Point1[2], Point2[2];
  std::memset(Point1, 0, sizeof Point1);
  std::memset(Point2, 0, sizeof Point2);
  Point1[0].Double = -0.5;
  Point1[1].Double = -0.5;
  Point2[0].Double = static_cast<double>(cgmwidth) + 0.5;
  Point2[1].Double = static_cast<double>(cgmheight) + 0.5;
  if (!qVdcExtent(Point1, Point2, &QuilData, ErrMsg)) return pm_Fail(-1);
  if (!qBeginPictureBody(&QuilData, ErrMsg)) return pm_Fail(-1);
  return 0;
}

int pm_CGMclose(void) {
  if (!qEndPicture(&QuilData, ErrMsg)) return pm_Fail(-1);
  if (!qEndMetafile(&QuilData, ErrMsg)) return pm_Fail(-1);
  // A full disk shows only when the last buffered bytes go out.
  if (!qCgmEnd(&QuilData, ErrMsg)) return pm_Fail(-1);
  return 0;
}

// ---- The size ratio ---------------------------------------------------------

static bool pm_IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

static bool pm_IsDigit(char c) { return c >= '0' && c <= '9'; }

double pm_ParseRatio(const char *text) {
  if (text == nullptr) return 0.0;
  const char *p = text;
  while (pm_IsSpace(*p)) p++;
  const char *start = p;
  if (*p == '+' || *p == '-') p++;
  size_t digits = 0;
  while (pm_IsDigit(*p)) p++, digits++;
  if (*p == '.') {
    p++;
    while (pm_IsDigit(*p)) p++, digits++;
  }
  if (digits == 0) return 0.0;
  const char *end = p;
  if (*p == 'e' || *p == 'E') {
    const char *q = p + 1;
    if (*q == '+' || *q == '-') q++;
    if (pm_IsDigit(*q)) {
      while (pm_IsDigit(*q)) q++;
      end = q;
    }
  }
  // The prefix is a plain decimal number, which strtod converts correctly
  // rounded; it gets a copy so that nothing past the prefix is looked at.
  const size_t n = static_cast<size_t>(end - start);
  char *copy = static_cast<char *>(std::malloc(n + 1));
  if (copy == nullptr) return 0.0;
  std::memcpy(copy, start, n);
  copy[n] = '\0';
  const double value = std::strtod(copy, nullptr);
  std::free(copy);
  return value;
}

// ---- Strips -----------------------------------------------------------------

int pm_RowsPerStrip(int xsize) {
  if (xsize <= 0) return 100;
  // A strip of r rows is 32 bytes of header (three real points at 4 bytes a
  // value, nx, ny, the colour precision and the mode at 2 bytes each), then
  // 3 x xsize bytes a row and, for an odd width, a pad byte before every
  // row but the first: 32 + r(3 xsize + o) - o <= 512000.
  const int64_t o = xsize % 2;
  const int64_t r = (511968 + o) / (3 * static_cast<int64_t>(xsize) + o);
  return r < 100 ? static_cast<int>(r) : 100;
}

namespace {

// What pm_Main releases on every way out.
struct pm_Run {
  char *rgbname = nullptr;
  char *cgmname = nullptr;
  ilImage *image = nullptr;
  uint32_t *imgbuffer = nullptr;
  ~pm_Run() {
    std::free(rgbname);
    std::free(cgmname);
    delete image;
    std::free(imgbuffer);
  }
};

char *pm_CopyArg(const char *arg) {
  const size_t n = std::strlen(arg);
  char *copy = static_cast<char *>(std::malloc(n + 1));
  if (copy != nullptr) std::memcpy(copy, arg, n + 1);
  return copy;
}

}  // namespace

int pm_Main(int argc, char **argv, pm_Opener opener, FILE *in) {
  if (argc != 3) {
    std::fputs("usage: picmeta <rgb filename> <cgm filename>\n", stderr);
    return 1;
  }
  pm_Run run;
  run.rgbname = pm_CopyArg(argv[1]);
  run.cgmname = pm_CopyArg(argv[2]);
  if (run.rgbname == nullptr || run.cgmname == nullptr) {
    std::fputs("picmeta: failed to allocate memory.\n", stderr);
    return 1;
  }

  // The image checks come before anything is printed on standard output
  // and before the output file is created.
  run.image = opener(run.rgbname, "r");
  ilImage *img = run.image;
  if (img == nullptr) {
    std::fprintf(stderr, "picmeta: cannot open input file %s\n", run.rgbname);
    return 1;
  }
  if (img->getCsize() != 3) {
    std::fputs("picmeta: the image is not a 3 channel image.\n", stderr);
    return 1;
  }
  if (img->getColorModel() != ilRGB) {
    std::fputs("picmeta: the image file is not configured in rgb model.\n",
               stderr);
    return 1;
  }
  if (img->getMaxValue(-1) > 255.0 || img->getMinValue(-1) < 0.0) {
    std::fputs(
        "picmeta: the image file rgb value is out of the range of 0-255.\n",
        stderr);
    return 1;
  }
  const int xsize = img->getXsize();
  const int ysize = img->getYsize();
  // Rows a strip: 100 up to 1706 pixels a row, fewer for wider images, so
  // that every cell array fits the library's work buffer.  A cell array
  // also carries its cell count as an integer at the metafile's 16-bit
  // integer precision, so no row wider than 65535 cells can be written at
  // all: such images are refused here, before any output exists, rather
  // than by the first cell array after the file was created.
  const int rows = pm_RowsPerStrip(xsize);
  if (rows < 1 || xsize > 65535) {
    std::fputs("picmeta: the image is too wide for a cell array.\n", stderr);
    return 1;
  }

  float cgmwidth = static_cast<float>(xsize) / 90.0f;
  float cgmheight = static_cast<float>(ysize) / 90.0f;
  std::printf("\n");
  std::printf("************* picmeta *************\n\n");
  std::printf("Input image file is %6.2f\"(width) x %6.2f\"(height)\n\n",
              static_cast<double>(cgmwidth), static_cast<double>(cgmheight));
  std::printf("Please enter the ratio for size changes [default 1]: ");
  std::fflush(stdout);

  // One line of at most 20 characters; the rest of a longer line is left
  // unread.
  char str20[21];
  int n = 0;
  while (n < 20) {
    const int c = std::getc(in);
    if (c == EOF || c == '\n') break;
    str20[n++] = static_cast<char>(c);
  }
  str20[n] = '\0';
  double imgratio = pm_ParseRatio(str20);
  if (imgratio == 0.0) imgratio = 1.0;
  // Products beyond the single-precision range become infinities, which
  // the VDC extent then refuses.
  cgmwidth = static_cast<float>(static_cast<double>(cgmwidth) * imgratio);
  cgmheight = static_cast<float>(static_cast<double>(cgmheight) * imgratio);
  std::printf(
      "\nOutput cgm file will be %6.2f\" (width) x %6.2f\" (height).\n\n\n",
      static_cast<double>(cgmwidth), static_cast<double>(cgmheight));

  if (pm_CGMinit(run.cgmname, cgmwidth, cgmheight) != 0) {
    std::fflush(stdout);
    std::fputs("picmeta: Error in initializing cgm file.\n", stderr);
    return 1;
  }

  // One strip buffer of 3 x rows x xsize unsigned 32-bit values, sized in
  // 64 bits.
  const uint64_t width = xsize > 0 ? static_cast<uint64_t>(xsize) : 0;
  const uint64_t bufsize = 3 * static_cast<uint64_t>(rows) * width;
  if (bufsize > SIZE_MAX / sizeof(uint32_t) ||
      (run.imgbuffer = static_cast<uint32_t *>(std::malloc(
           bufsize > 0 ? static_cast<size_t>(bufsize) * sizeof(uint32_t)
                       : sizeof(uint32_t)))) == nullptr) {
    std::fflush(stdout);
    std::fputs("picmeta: failed to allocate memory.\n", stderr);
    return 1;
  }
  const ilConfig cfg(ilULong, ilInterleaved, 3, nullptr, 0, ilLowerLeftOrigin,
                     ilRGB);

  // P lower left, Q upper right, R lower right of each strip; each strip
  // starts where the previous one ended.
  qVDC Pptr[2], Qptr[2], Rptr[2];
  std::memset(Pptr, 0, sizeof Pptr);
  std::memset(Qptr, 0, sizeof Qptr);
  std::memset(Rptr, 0, sizeof Rptr);
  Qptr[0].Double = static_cast<double>(cgmwidth);
  Rptr[0].Double = static_cast<double>(cgmwidth);
  int yincr = rows;
  float yspace = 0.0f;
  if (ysize > 0)
    yspace = (cgmheight / static_cast<float>(ysize)) * static_cast<float>(rows);
  for (int row = 0; row < ysize; row += yincr) {
    const int ystart = row;
    if (static_cast<int64_t>(ystart) + yincr >= ysize) {
      yincr = ysize - ystart;
      yspace = (cgmheight / static_cast<float>(ysize)) *
               static_cast<float>(yincr);
    }
    if (img->getSubTile3D(0, ystart, 0, xsize, yincr, 1, run.imgbuffer, 0,
                          ystart, 0, xsize, yincr, 1, &cfg) != ilOKAY) {
      std::fflush(stdout);
      std::fputs("picmeta: failed to retrieve image data.\n", stderr);
      return -1;
    }
    Pptr[1].Double = Qptr[1].Double;
    Qptr[1].Double = Pptr[1].Double + static_cast<double>(yspace);
    Rptr[1].Double = Pptr[1].Double;
    // The values are at most 255 (checked above), so they read the same as
    // ints.
    if (!qCellArray(Pptr, Qptr, Rptr, xsize, yincr, 8, 1,
                    reinterpret_cast<const int *>(run.imgbuffer), &QuilData,
                    ErrMsg)) {
      std::printf("%s\n", ErrMsg);
      return 1;
    }
  }
  return pm_CGMclose();
}
