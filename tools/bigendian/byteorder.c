/* Prints how the machine it runs on stores a 32-bit word and a double, and
   exits 0 only when both are big-endian: the proof that the unit tests built
   next to it really ran on a big-endian host. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

int main(void) {
  const uint32_t word = 0x01020304u;
  const double one = 1.0; /* IEEE 754 binary64: 3F F0 00 00 00 00 00 00 */
  unsigned char w[4], d[8];
  int big;

  memcpy(w, &word, sizeof w);
  memcpy(d, &one, sizeof d);
  big = w[0] == 0x01 && w[1] == 0x02 && w[2] == 0x03 && w[3] == 0x04 &&
        d[0] == 0x3F && d[1] == 0xF0 && d[7] == 0x00;
  printf("byte order: %s (uint32 0x01020304 stored as %02X %02X %02X %02X, "
         "double 1.0 as %02X %02X .. %02X), plain char is %s\n",
         big ? "big-endian" : "NOT big-endian", w[0], w[1], w[2], w[3], d[0],
         d[1], d[7], (char)-1 < 0 ? "signed" : "unsigned");
  return big ? 0 : 1;
}
