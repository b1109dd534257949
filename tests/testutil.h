// Shared test helpers: hex strings, temporary files, real failing streams
// and a writer opened on a real file.
#ifndef QUIL_TESTUTIL_H
#define QUIL_TESTUTIL_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Quil.h"

using Bytes = std::vector<uint8_t>;

// "00 26 05 61" -> bytes; spaces, line feeds and commas are ignored.
Bytes Hex(const std::string &text);
// bytes -> "00 26 05 61"
std::string ToHex(const Bytes &bytes);
std::string ToHex(const uint8_t *data, size_t n);

// A VDC value carrying the same number in both members, so one call can be
// encoded under either VDC type.
inline qVDC V(int i) {
  qVDC v;
  v.Int = i;
  v.Double = i;
  return v;
}

// A real VDC value (the integer member 0).
inline qVDC R(double d) {
  qVDC v;
  v.Int = 0;
  v.Double = d;
  return v;
}

// A fresh path in the build's test folder; the file is removed when the
// object goes out of scope.
struct TempPath {
  explicit TempPath(const std::string &suffix = ".cgm");
  ~TempPath();
  TempPath(const TempPath &) = delete;
  TempPath &operator=(const TempPath &) = delete;
  std::string path;
};

Bytes ReadFile(const std::string &path);
bool FileExists(const std::string &path);

// A real stdio stream (fopencookie) that accepts bytes up to `limit` in all
// and refuses every byte after that, keeping what it accepted in `*sink`.
// The stream is unbuffered, so every fwrite reaches it at once.
FILE *OpenFailingStream(size_t limit, Bytes *sink);

// A writer state record opened on a real temporary file, with the library's
// defaults.  Written() flushes the stream and returns the file's contents.
class TestWriter {
 public:
  TestWriter();
  ~TestWriter();
  TestWriter(const TestWriter &) = delete;
  TestWriter &operator=(const TestWriter &) = delete;

  qWCGM_DATA *d() { return data_; }
  char *msg() { return msg_; }
  Bytes Written();
  // Swap the output stream for a failing one; the original file is closed.
  void UseFailingStream(size_t limit);
  const Bytes &sink() const { return sink_; }

 private:
  TempPath path_;
  qWCGM_DATA *data_;
  char msg_[QWCGM_MSG_SIZE];
  Bytes sink_;
  bool failing_ = false;
};

#endif
