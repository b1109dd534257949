// picmeta <rgb filename> <cgm filename>
#include <cstdio>

#include "Picmeta.h"

int main(int argc, char **argv) {
  return pm_Main(argc, argv, ilOpenImgFile, stdin);
}
