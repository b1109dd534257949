#include "testutil.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#ifndef TEST_BINARY_DIR
#define TEST_BINARY_DIR "/tmp"
#endif

Bytes Hex(const std::string &text) {
  Bytes out;
  int hi = -1;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c)) || c == ',') continue;
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else throw std::invalid_argument("bad hex digit in: " + text);
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<uint8_t>(hi * 16 + v));
      hi = -1;
    }
  }
  if (hi >= 0) throw std::invalid_argument("odd number of hex digits: " + text);
  return out;
}

std::string ToHex(const uint8_t *data, size_t n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; i++) {
    if (i) s += ' ';
    s += digits[data[i] >> 4];
    s += digits[data[i] & 15];
  }
  return s;
}

std::string ToHex(const Bytes &bytes) { return ToHex(bytes.data(), bytes.size()); }

TempPath::TempPath(const std::string &suffix) {
  static std::atomic<int> counter{0};
  path = std::string(TEST_BINARY_DIR) + "/tmp_" + std::to_string(getpid()) +
         "_" + std::to_string(counter++) + suffix;
  std::remove(path.c_str());
}

TempPath::~TempPath() { std::remove(path.c_str()); }

Bytes ReadFile(const std::string &path) {
  Bytes out;
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  unsigned char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return out;
}

bool FileExists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

namespace {
struct FailingCookie {
  size_t limit;
  Bytes *sink;
};

ssize_t FailingWrite(void *cookie, const char *buf, size_t size) {
  auto *c = static_cast<FailingCookie *>(cookie);
  size_t room = c->limit > c->sink->size() ? c->limit - c->sink->size() : 0;
  if (room == 0) return -1;
  size_t n = size < room ? size : room;
  c->sink->insert(c->sink->end(), buf, buf + n);
  return static_cast<ssize_t>(n);
}

int FailingClose(void *cookie) {
  delete static_cast<FailingCookie *>(cookie);
  return 0;
}
}  // namespace

FILE *OpenFailingStream(size_t limit, Bytes *sink) {
  cookie_io_functions_t io{};
  io.write = FailingWrite;
  io.close = FailingClose;
  FILE *f = fopencookie(new FailingCookie{limit, sink}, "wb", io);
  if (f) setvbuf(f, nullptr, _IONBF, 0);
  return f;
}

TestWriter::TestWriter() : data_(new qWCGM_DATA()) {
  std::memset(msg_, 0, sizeof msg_);
  if (!qCgmInit(path_.path.c_str(), data_, msg_))
    throw std::runtime_error(std::string("qCgmInit failed: ") + msg_);
}

TestWriter::~TestWriter() {
  char m[QWCGM_MSG_SIZE];
  qCgmEnd(data_, m);
  delete data_;
}

Bytes TestWriter::Written() {
  if (data_->Outfile) std::fflush(data_->Outfile);
  if (failing_) return sink_;
  return ReadFile(path_.path);
}

void TestWriter::UseFailingStream(size_t limit) {
  std::fclose(data_->Outfile);
  sink_.clear();
  failing_ = true;
  data_->Outfile = OpenFailingStream(limit, &sink_);
}
