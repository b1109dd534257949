/* The public header used from C: open a metafile, write a few elements,
   close it, and check the bytes. */
#include <stdio.h>
#include <string.h>

#include "Quil.h"

static qWCGM_DATA writer; /* static storage: starts all zero */

int main(int argc, char **argv) {
  char msg[QWCGM_MSG_SIZE];
  const char *path = argc > 1 ? argv[1] : "c_api.cgm";
  static const unsigned char expected[] = {
      0x00, 0x24, 0x03, 'a', 'b', 'c', /* BEGIN METAFILE "abc" */
      0x10, 0x22, 0x00, 0x01,          /* METAFILE VERSION 1 */
      0x00, 0x40};                     /* END METAFILE */
  unsigned char got[64];
  size_t n;
  FILE *f;

  if (!qCgmInit(path, &writer, msg)) {
    fprintf(stderr, "qCgmInit: %s\n", msg);
    return 1;
  }
  if (!qBeginMetafile("abc", &writer, msg) || !qVersion(&writer, msg) ||
      !qEndMetafile(&writer, msg)) {
    fprintf(stderr, "element: %s\n", msg);
    return 1;
  }
  if (!qCgmEnd(&writer, msg)) {
    fprintf(stderr, "qCgmEnd: %s\n", msg);
    return 1;
  }
  f = fopen(path, "rb");
  if (!f) return 1;
  n = fread(got, 1, sizeof got, f);
  fclose(f);
  remove(path);
  if (n != sizeof expected || memcmp(got, expected, n) != 0) {
    fprintf(stderr, "unexpected bytes (%u)\n", (unsigned)n);
    return 1;
  }
  printf("c_api: 1 passed, 0 failed\n");
  return 0;
}
