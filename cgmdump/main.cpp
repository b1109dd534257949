// cgmdump: read, check and render binary Computer Graphics Metafiles.
//
//   cgmdump [--full] FILE               one line per element
//   cgmdump --check FILE                first problem, or a one-line summary
//   cgmdump --render OUT [--width N] [--picture N] FILE
//
// Exit status: 0 when all went well, 1 when the metafile has a problem,
// 2 for a wrong command line or a file that cannot be read.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "CgmDecode.h"

namespace {

const char kUsage[] =
    "usage: cgmdump [--full] FILE\n"
    "       cgmdump --check FILE\n"
    "       cgmdump --render OUT.png|OUT.svg|OUT.pdf [--width N] [--picture N] "
    "FILE\n"
    "\n"
    "Reads a binary Computer Graphics Metafile (ISO/IEC 8632-3).\n"
    "  (default)   one line per element: byte offset, clear-text name, "
    "parameters\n"
    "  --full      print every value of long point lists and cell arrays\n"
    "  --check     report the first problem (exit 1) or a summary (exit 0)\n"
    "  --render    draw a picture into PNG, SVG or PDF\n"
    "  --width N   width of the drawing (default 800 pixels for PNG)\n"
    "  --picture N which picture to draw (default 1)\n"
    "FILE may be - for standard input.\n";

// The input: mapped when it is a regular file, else read into memory.
class Input {
 public:
  ~Input() {
    if (map_) munmap(map_, size_);
  }
  bool Open(const std::string &path, std::string *error) {
    if (path == "-") return ReadAll(0, error);
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) {
      *error = std::strerror(errno);
      return false;
    }
    struct stat st;
    bool ok;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      size_ = static_cast<size_t>(st.st_size);
      ok = true;
      if (size_ > 0) {
        void *m = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (m == MAP_FAILED) {
          size_ = 0;
          ok = ReadAll(fd, error);
        } else {
          map_ = m;
        }
      }
    } else if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      *error = "is a directory";
      ok = false;
    } else {
      ok = ReadAll(fd, error);
    }
    close(fd);
    return ok;
  }
  const uint8_t *data() const {
    return map_ ? static_cast<const uint8_t *>(map_) : buf_.data();
  }
  size_t size() const { return map_ ? size_ : buf_.size(); }

 private:
  bool ReadAll(int fd, std::string *error) {
    unsigned char chunk[65536];
    for (;;) {
      ssize_t n = read(fd, chunk, sizeof chunk);
      if (n == 0) return true;
      if (n < 0) {
        if (errno == EINTR) continue;
        *error = std::strerror(errno);
        return false;
      }
      buf_.insert(buf_.end(), chunk, chunk + n);
    }
  }
  void *map_ = nullptr;
  size_t size_ = 0;
  std::vector<uint8_t> buf_;
};

bool ParseCount(const char *text, int *out) {
  char *end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno || end == text || *end || v < 1 || v > 32767) return false;
  *out = static_cast<int>(v);
  return true;
}

int Usage(const char *why) {
  if (why) std::fprintf(stderr, "cgmdump: %s\n", why);
  std::fputs(kUsage, stderr);
  return 2;
}

int Run(int argc, char **argv) {
  enum { kDump, kCheck, kRender } mode = kDump;
  bool full = false, haveWidth = false, havePicture = false;
  cgmd::RenderOptions render;
  std::string file;
  bool haveFile = false;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--full") {
      full = true;
    } else if (a == "--check") {
      if (mode == kRender) return Usage("--check and --render exclude each other");
      mode = kCheck;
    } else if (a == "--render") {
      if (mode == kCheck) return Usage("--check and --render exclude each other");
      if (i + 1 >= argc) return Usage("--render needs an output file name");
      mode = kRender;
      render.outPath = argv[++i];
    } else if (a == "--width") {
      if (i + 1 >= argc || !ParseCount(argv[i + 1], &render.width))
        return Usage("--width needs a number from 1 to 32767");
      haveWidth = true;
      i++;
    } else if (a == "--picture") {
      if (i + 1 >= argc || !ParseCount(argv[i + 1], &render.picture))
        return Usage("--picture needs a number from 1 to 32767");
      havePicture = true;
      i++;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return Usage(("unknown option " + a).c_str());
    } else {
      if (haveFile) return Usage("only one metafile at a time");
      file = a;
      haveFile = true;
    }
  }
  if (!haveFile) return Usage("no metafile given");
  if ((haveWidth || havePicture) && mode != kRender)
    return Usage("--width and --picture go with --render");
  if (full && mode != kDump) return Usage("--full goes with the dump only");

  Input in;
  std::string error;
  if (!in.Open(file, &error)) {
    std::fprintf(stderr, "cgmdump: %s: %s\n", file.c_str(), error.c_str());
    return 2;
  }

  if (mode == kCheck) {
    cgmd::CheckResult r = cgmd::Check(in.data(), in.size());
    for (const std::string &n : r.notes)
      std::fprintf(stderr, "cgmdump: %s: note: %s\n", file.c_str(), n.c_str());
    if (!r.ok) {
      std::printf("%s: offset %zu: %s\n", file.c_str(), r.offset, r.message.c_str());
      return 1;
    }
    std::printf("%s: %s\n", file.c_str(), r.summary.c_str());
    return 0;
  }
  if (mode == kRender) {
    std::vector<std::string> warnings;
    bool ok = cgmd::Render(in.data(), in.size(), render, &error, &warnings);
    for (const std::string &w : warnings)
      std::fprintf(stderr, "cgmdump: %s: %s\n", file.c_str(), w.c_str());
    if (!ok) {
      std::fprintf(stderr, "cgmdump: %s: %s\n", file.c_str(), error.c_str());
      return 1;
    }
    return 0;
  }
  cgmd::DumpOptions options;
  options.full = full;
  size_t errorOffset = 0;
  bool ok = cgmd::Dump(
      in.data(), in.size(), options,
      [](const std::string &line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
      },
      &error, &errorOffset);
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "cgmdump: error writing the dump\n");
    return 2;
  }
  if (!ok) {
    std::fprintf(stderr, "cgmdump: %s: offset %zu: %s\n", file.c_str(), errorOffset,
                 error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc &) {
    std::fprintf(stderr, "cgmdump: out of memory\n");
    return 2;
  }
}
