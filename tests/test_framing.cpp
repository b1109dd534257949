// Element framing: header words, long form, partitions, pad byte, and
// streams that refuse bytes part-way through an element.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Quil.h"
#include "testutil.h"

namespace {

// Parameter bytes used by the framing cases: byte i is i mod 251, so every
// partition boundary is visible in the output.
Bytes Params(int n) {
  Bytes p(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) p[static_cast<size_t>(i)] = static_cast<uint8_t>(i % 251);
  return p;
}

// Builds an expected element from hand-written pieces: hex words and runs
// of the parameter bytes [from, from + count).
struct Expect {
  const Bytes &params;
  Bytes out;
  explicit Expect(const Bytes &p) : params(p) {}
  Expect &hex(const char *h) {
    Bytes b = Hex(h);
    out.insert(out.end(), b.begin(), b.end());
    return *this;
  }
  Expect &run(size_t from, size_t count) {
    out.insert(out.end(), params.begin() + static_cast<long>(from),
               params.begin() + static_cast<long>(from + count));
    return *this;
  }
};

Bytes WriteToFile(int cls, int id, const Bytes &params) {
  TempPath tmp;
  FILE *f = std::fopen(tmp.path.c_str(), "wb");
  char msg[QWCGM_MSG_SIZE] = "";
  int r = WriteElement(cls, id, static_cast<int>(params.size()), params.data(), f, msg);
  std::fclose(f);
  EXPECT_EQ(r, 1) << msg;
  return ReadFile(tmp.path);
}

TEST(Framing, ShortAndLongForms) {
  struct Case {
    int cls, id, len;
    const char *head;  // bytes before the parameters
    bool pad;
  };
  const Case cases[] = {
      {0, 2, 0, "00 40", false},     // empty list: no pad byte
      {0, 1, 3, "00 23", true},
      {4, 9, 30, "41 3E", false},    // longest short form
      {4, 9, 31, "41 3F 00 1F", true},  // shortest long form
      {4, 9, 40, "41 3F 00 28", false},
      {4, 9, 41, "41 3F 00 29", true},
      {4, 9, 32767, "41 3F 7F FF", true},  // longest unpartitioned list
      {0, 130, 0, "00 40", false},   // id cut to 7 bits: 130 -> 2
  };
  for (const Case &c : cases) {
    Bytes p = Params(c.len);
    Expect e(p);
    e.hex(c.head).run(0, p.size());
    if (c.pad) e.hex("00");
    Bytes got = WriteToFile(c.cls, c.id, p);
    EXPECT_EQ(got.size(), e.out.size()) << "L=" << c.len;
    EXPECT_TRUE(got == e.out) << "L=" << c.len;
  }
}

TEST(Framing, TwoParameterBytes) {
  EXPECT_EQ(ToHex(WriteToFile(1, 1, Hex("00 01"))), "10 22 00 01");
}

// Full partitions carry 32766 bytes, so every long-form word after the first
// starts at an even offset; the last partition carries the rest.
TEST(Framing, PartitionsKeepWordAlignment) {
  {
    Bytes p = Params(32768);
    Expect e(p);
    e.hex("41 3F FF FE").run(0, 32766).hex("00 02").run(32766, 2);
    Bytes got = WriteToFile(4, 9, p);
    EXPECT_EQ(got.size(), 32774u);
    EXPECT_TRUE(got == e.out);
  }
  {
    Bytes p = Params(65532);  // two full partitions' worth: the last is full too
    Expect e(p);
    e.hex("41 3F FF FE").run(0, 32766).hex("7F FE").run(32766, 32766);
    EXPECT_TRUE(WriteToFile(4, 9, p) == e.out);
  }
  {
    Bytes p = Params(65535);
    Expect e(p);
    e.hex("41 3F FF FE").run(0, 32766).hex("FF FE").run(32766, 32766)
        .hex("00 03").run(65532, 3).hex("00");
    Bytes got = WriteToFile(4, 9, p);
    EXPECT_EQ(got.size(), 2u + 6u + 65535u + 1u);
    EXPECT_TRUE(got == e.out);
  }
  {
    Bytes p = Params(70000);
    Expect e(p);
    e.hex("41 3F FF FE").run(0, 32766).hex("FF FE").run(32766, 32766)
        .hex("11 74").run(65532, 4468);
    EXPECT_TRUE(WriteToFile(4, 9, p) == e.out);
  }
}

TEST(Framing, HeaderWordsMaskTheirFields) {
  unsigned char w[2];
  // Negative arguments are masked as unsigned bits, never shifted as ints.
  MakeClassElementOctets(-1, -1, 31, w);
  EXPECT_EQ(ToHex(w, 2), "FF FF");
  MakeClassElementOctets(4, 9, 31, w);
  EXPECT_EQ(ToHex(w, 2), "41 3F");
  MakeExtendedHeader(1, 32767, w);
  EXPECT_EQ(ToHex(w, 2), "FF FF");
  MakeExtendedHeader(0, 0x18000, w);  // only 15 bits of length
  EXPECT_EQ(ToHex(w, 2), "00 00");
}

TEST(Framing, MemcpyBigEndianIsHostIndependent) {
  const uint16_t a16[2] = {0x0102, 0xA0B0};
  const uint32_t a32[1] = {0x01020304u};
  const uint64_t a64[1] = {0x0102030405060708ull};
  unsigned char out[8];
  memcpyBigEndian(out, a16, 2, 2);
  EXPECT_EQ(ToHex(out, 4), "01 02 A0 B0");
  memcpyBigEndian(out, a32, 4, 1);
  EXPECT_EQ(ToHex(out, 4), "01 02 03 04");
  memcpyBigEndian(out, a64, 8, 1);
  EXPECT_EQ(ToHex(out, 8), "01 02 03 04 05 06 07 08");
  std::memset(out, 0xEE, sizeof out);
  memcpyBigEndian(out, a32, 4, 0);  // a count of 0 copies nothing
  memcpyBigEndian(out, a32, 4, -3);
  EXPECT_EQ(out[0], 0xEE);
}

// A stream that refuses bytes from a chosen offset: the pieces handed over
// before the failure stay, the message names the byte count of the refused
// write, and nothing after it is attempted.
TEST(Framing, FailingStreamStopsAtTheRefusedPiece) {
  struct Case {
    int len;
    size_t limit;
    const char *message;
    size_t kept;
  };
  const Case cases[] = {
      {70000, 2 + 2 + 32766 + 2, "Error occurred writing: 32766 bytes", 32772},
      {70000, 2 + 2 + 32766, "Error occurred writing: 2 bytes", 32770},
      {70000, 0, "Error occurred writing: 2 bytes", 0},
      {3, 5, "Error occurred writing: 1 bytes", 5},  // only the pad byte refused
      {40, 4, "Error occurred writing: 40 bytes", 4},
  };
  for (const Case &c : cases) {
    Bytes sink;
    FILE *f = OpenFailingStream(c.limit, &sink);
    ASSERT_NE(f, nullptr);
    Bytes p = Params(c.len);
    char msg[QWCGM_MSG_SIZE] = "";
    EXPECT_EQ(WriteElement(4, 9, c.len, p.data(), f, msg), 0);
    EXPECT_STREQ(msg, c.message) << "L=" << c.len << " limit=" << c.limit;
    EXPECT_EQ(sink.size(), c.kept);
    Bytes full = WriteToFile(4, 9, p);
    EXPECT_TRUE(std::equal(sink.begin(), sink.end(), full.begin()));
    std::fclose(f);
  }
}

TEST(Framing, WriteVerify) {
  Bytes sink;
  FILE *f = OpenFailingStream(3, &sink);
  char msg[QWCGM_MSG_SIZE] = "";
  const unsigned char data[5] = {1, 2, 3, 4, 5};
  EXPECT_EQ(WriteVerify(data, 0, f, msg), 1);
  EXPECT_EQ(WriteVerify(data, 2, f, msg), 1);
  EXPECT_EQ(WriteVerify(data, 5, f, msg), 0);
  EXPECT_STREQ(msg, "Error occurred writing: 5 bytes");
  std::fclose(f);
}

TEST(Framing, DevFullRefusesALargeElement) {
  FILE *f = std::fopen("/dev/full", "wb");
  ASSERT_NE(f, nullptr);
  Bytes p = Params(70000);  // larger than any stdio buffer
  char msg[QWCGM_MSG_SIZE] = "";
  EXPECT_EQ(WriteElement(4, 9, 70000, p.data(), f, msg), 0);
  EXPECT_EQ(std::string(msg).rfind("Error occurred writing: ", 0), 0u) << msg;
  std::fclose(f);
}

}  // namespace
