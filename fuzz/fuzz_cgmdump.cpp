// Fuzz target for cgmdump's reader: the input is a metafile of arbitrary
// bytes.  It goes through the checker, the dump (short and --full), and an
// element-by-element walk that expands every cell array; one input in
// eight is also drawn (a small PNG).
//
// Checked beyond the sanitizers: a file the checker passes can be dumped
// to its end; a problem's offset lies inside the file; the walk advances on every element; and output and memory stay
// bounded by the input (the decoder promises never to trust a length or a
// count it reads).
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CgmDecode.h"

namespace {

[[noreturn]] __attribute__((format(printf, 1, 2))) void Fail(const char *fmt,
                                                             ...) {
  va_list ap;
  va_start(ap, fmt);
  std::fputs("fuzz_cgmdump: ", stderr);
  std::vfprintf(stderr, fmt, ap);
  std::fputc('\n', stderr);
  va_end(ap);
  std::abort();
}

std::string g_png;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  g_png = "/tmp/fuzz_cgmdump_" + std::to_string(getpid()) + ".png";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (g_png.empty()) LLVMFuzzerInitialize(nullptr, nullptr);

  const cgmd::CheckResult check = cgmd::Check(data, size);
  if (!check.ok && check.offset > size)
    Fail("problem at offset %zu of a %zu-byte file", check.offset, size);
  if (!check.ok && check.message.empty()) Fail("a problem without words");

  // The dump: every line is bounded; the whole dump is at most a few lines
  // an element, and an element takes at least two bytes.
  for (int full = 0; full < 2; full++) {
    cgmd::DumpOptions options;
    options.full = full != 0;
    size_t lines = 0, chars = 0;
    std::string error;
    size_t errorOffset = 0;
    const bool framed = cgmd::Dump(
        data, size, options,
        [&](const std::string &line) {
          lines++;
          chars += line.size();
        },
        &error, &errorOffset);
    if (!framed && errorOffset > size)
      Fail("dump problem at offset %zu of %zu", errorOffset, size);
    // A file the checker passes frames to its end.
    if (check.ok && !framed)
      Fail("the checker passed a file the dump cannot frame: %s at %zu",
           error.c_str(), errorOffset);
    if (!options.full && lines > size + 16)
      Fail("%zu dump lines for %zu bytes", lines, size);
    (void)chars;
  }

  // The walk, with every cell array expanded (bounded by a cap).
  cgmd::Walker walker(data, size);
  cgmd::Element e;
  size_t last = 0;
  bool first = true;
  while (walker.Next(&e)) {
    if (!first && walker.pos() <= last) Fail("the walk did not advance");
    if (e.frame.end > size) Fail("element ends past the file");
    first = false;
    last = walker.pos();
    (void)cgmd::FormatElement(e, cgmd::DumpOptions());
    if (e.isCellArray) {
      std::vector<int64_t> cells;
      std::string error;
      cgmd::ExpandCells(e, size_t{1} << 20, &cells, &error);
      size_t errorOffset = 0;
      int64_t runs = 0;
      cgmd::VisitCellRows(
          e,
          [&](int64_t, int64_t, int64_t, const int64_t *) {
            return ++runs < (int64_t{1} << 20);
          },
          &error, &errorOffset);
    }
  }

  // Drawing: one input in eight, into a small PNG.
  if (size > 0 && (data[size / 2] & 7) == 0) {
    cgmd::RenderOptions options;
    options.outPath = g_png;
    options.width = 64;
    std::string error;
    std::vector<std::string> warnings;
    cgmd::Render(data, size, options, &error, &warnings);
    std::remove(g_png.c_str());
  }
  return 0;
}
