// Reads a fuzz input as a stream of choices.  Past the end every read
// gives 0, so any input, however short, makes a complete, bounded run.
#ifndef QUIL_FUZZ_INPUT_H
#define QUIL_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

class FuzzInput {
 public:
  FuzzInput(const uint8_t *data, size_t size) : p_(data), n_(size) {}

  size_t left() const { return n_; }
  bool empty() const { return n_ == 0; }

  uint8_t u8() {
    if (n_ == 0) return 0;
    n_--;
    return *p_++;
  }
  uint16_t u16() { return static_cast<uint16_t>(u8() << 8 | u8()); }
  uint32_t u32() {
    return static_cast<uint32_t>(u16()) << 16 | static_cast<uint32_t>(u16());
  }
  uint64_t u64() { return static_cast<uint64_t>(u32()) << 32 | u32(); }
  int32_t i32() {
    const uint32_t u = u32();
    int32_t v;
    std::memcpy(&v, &u, 4);
    return v;
  }
  // A choice among n (n >= 1).
  int pick(int n) { return n <= 1 ? 0 : static_cast<int>(u8() % n); }
  bool flag() { return (u8() & 1) != 0; }
  // A number from 0 to max, small ones more often.
  int upTo(int max) {
    if (max <= 0) return 0;
    const uint8_t sel = u8();
    uint32_t v = sel < 192 ? static_cast<uint32_t>(sel & 15)
               : sel < 240 ? u8() : u32();
    return static_cast<int>(v % (static_cast<uint32_t>(max) + 1));
  }

 private:
  const uint8_t *p_;
  size_t n_;
};

#endif  // QUIL_FUZZ_INPUT_H
