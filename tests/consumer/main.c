/* Writes an empty metafile through the installed library. */
#include <stdio.h>

#include <Quil.h>

static qWCGM_DATA writer;

int main(int argc, char **argv) {
  char msg[QWCGM_MSG_SIZE];
  const char *path = argc > 1 ? argv[1] : "consumer.cgm";
  if (!qCgmInit(path, &writer, msg) || !qBeginMetafile("consumer", &writer, msg) ||
      !qEndMetafile(&writer, msg) || !qCgmEnd(&writer, msg)) {
    fprintf(stderr, "%s\n", msg);
    return 1;
  }
  return 0;
}
