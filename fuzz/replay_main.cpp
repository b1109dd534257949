// A main of our own for the fuzz targets, so that a corpus or a crash input
// can be run without libFuzzer (and under any compiler):
//
//   replay_library fuzz/corpus/library crash-0123...
//
// Every argument is a file or a folder; the files of a folder are run in
// name order.  Prints how many inputs ran; a failing input aborts, as it
// does under libFuzzer (REPLAY_VERBOSE=1 names each input first).
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc,
                                                          char ***argv);

static bool ReadAll(const std::string &path, std::vector<uint8_t> *out) {
  FILE *f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  out->clear();
  unsigned char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
    out->insert(out->end(), buf, buf + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

int main(int argc, char **argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::string> files;
  for (int i = 1; i < argc; i++) {
    std::error_code ec;
    if (std::filesystem::is_directory(argv[i], ec)) {
      std::vector<std::string> inside;
      for (const auto &e : std::filesystem::directory_iterator(argv[i], ec))
        if (e.is_regular_file(ec)) inside.push_back(e.path().string());
      std::sort(inside.begin(), inside.end());
      files.insert(files.end(), inside.begin(), inside.end());
    } else {
      files.push_back(argv[i]);
    }
  }
  // REPLAY_VERBOSE=1 names each input before it runs.
  const bool verbose = std::getenv("REPLAY_VERBOSE") != nullptr;
  std::vector<uint8_t> data;
  size_t ran = 0;
  for (const std::string &f : files) {
    if (!ReadAll(f, &data)) {
      std::fprintf(stderr, "replay: cannot read %s\n", f.c_str());
      return 2;
    }
    if (verbose) std::fprintf(stderr, "replay: %s (%zu bytes)\n", f.c_str(), data.size());
    LLVMFuzzerTestOneInput(data.data(), data.size());
    ran++;
  }
  std::fprintf(stderr, "replay: %zu inputs ran without a fault\n", ran);
  return 0;
}
