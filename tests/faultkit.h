// Helpers of the fault-injection and limit tests: picmeta run as a real
// child process under resource limits (a file size limit with SIGXFSZ
// ignored, so that writes past it fail with EFBIG; an address space limit),
// its output streams read through pipes (which no file size limit
// touches), and its peak memory taken from the kernel.
#ifndef QUIL_FAULTKIT_H
#define QUIL_FAULTKIT_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "testutil.h"

// Whether this build (and so the picmeta it tests) runs under
// AddressSanitizer, which reserves far more address space than any
// RLIMIT_AS a test could set.
#if defined(__SANITIZE_ADDRESS__)
#define QUIL_FAULTKIT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUIL_FAULTKIT_ASAN 1
#endif
#endif
#ifndef QUIL_FAULTKIT_ASAN
#define QUIL_FAULTKIT_ASAN 0
#endif

namespace faultkit {

struct Limits {
  long long fileSize = -1;     // RLIMIT_FSIZE in bytes, -1 for none
  long long addressSpace = -1; // RLIMIT_AS in bytes, -1 for none
};

struct Outcome {
  bool exited = false;  // false when a signal ended it
  int status = -1;      // exit status 0..255
  int signal = 0;
  std::string out, err;
  long maxRssKb = 0;    // peak resident memory
};

// Runs args[0] with args, `input` on standard input.  Under
// AddressSanitizer an address space limit cannot be used; large
// allocations are then made to fail by the sanitizer's allocator instead
// (max_allocation_size_mb), which is what the limit does for a plain build.
inline Outcome Run(const std::vector<std::string> &args,
                   const std::string &input, const Limits &limits) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) std::abort();
  std::string asan;
  if (QUIL_FAULTKIT_ASAN && limits.addressSpace > 0) {
    const char *old = std::getenv("ASAN_OPTIONS");
    asan = std::string(old ? old : "") + (old && *old ? ":" : "") +
           "allocator_may_return_null=1:max_allocation_size_mb=" +
           std::to_string(limits.addressSpace >> 20);
  }
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    if (limits.fileSize >= 0) {
      signal(SIGXFSZ, SIG_IGN);  // writes past the limit fail with EFBIG
      struct rlimit rl;
      rl.rlim_cur = rl.rlim_max = static_cast<rlim_t>(limits.fileSize);
      if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(126);
    }
    if (limits.addressSpace > 0) {
      if (QUIL_FAULTKIT_ASAN) {
        setenv("ASAN_OPTIONS", asan.c_str(), 1);
      } else {
        struct rlimit rl;
        rl.rlim_cur = rl.rlim_max = static_cast<rlim_t>(limits.addressSpace);
        if (setrlimit(RLIMIT_AS, &rl) != 0) _exit(126);
      }
    }
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // The reply is short: it fits the pipe at once.  A child that ends
  // before reading it (a refused image) must not end the test with
  // SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  if (!input.empty()) {
    const ssize_t n = write(in[1], input.data(), input.size());
    (void)n;
  }
  close(in[1]);
  Outcome o;
  struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string *sinks[2] = {&o.out, &o.err};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        open--;
      }
    }
  }
  int st = 0;
  struct rusage ru;
  std::memset(&ru, 0, sizeof ru);
  wait4(pid, &st, 0, &ru);
  o.exited = WIFEXITED(st);
  o.status = o.exited ? WEXITSTATUS(st) : -1;
  o.signal = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
  o.maxRssKb = ru.ru_maxrss;
  return o;
}

// A binary PPM (P6) of w x h pixels with a pattern that differs in every
// channel and direction.
inline Bytes Ppm(int w, int h) {
  std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  Bytes b(head.begin(), head.end());
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      b.push_back(static_cast<uint8_t>(x * 40 + y));
      b.push_back(static_cast<uint8_t>(y * 50 + 3 * x));
      b.push_back(static_cast<uint8_t>((x * y * 7 + 100) & 0xFF));
    }
  return b;
}

inline void WriteBytes(const std::string &path, const Bytes &b) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (!b.empty()) std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

}  // namespace faultkit

#endif  // QUIL_FAULTKIT_H
