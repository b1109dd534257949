// Writes the metafile that README's cgmdump section shows: one picture with
// a direct-colour cell array and outlines of each primitive family, written
// with the library.  Usage: cgmdump_example OUT.cgm
#include <cstdio>

#include "Quil.h"

static int Fail(const char *msg) {
  std::fprintf(stderr, "cgmdump_example: %s\n", msg);
  return 1;
}

int main(int argc, char **argv) {
  if (argc != 2) return Fail("usage: cgmdump_example OUT.cgm");
  static qWCGM_DATA d;
  char m[QWCGM_MSG_SIZE] = "";
  if (!qCgmInit(argv[1], &d, m)) return Fail(m);
  qVDC lo[2] = {{0, 0.0}, {0, 0.0}}, hi[2] = {{400, 0.0}, {300, 0.0}};
  // A 16 x 12 cell array: red across, green up, blue constant.
  int cells[16 * 12 * 3];
  for (int y = 0; y < 12; y++)
    for (int x = 0; x < 16; x++) {
      int *c = cells + (y * 16 + x) * 3;
      c[0] = x * 17;
      c[1] = y * 23;
      c[2] = 160;
    }
  qVDC p[2] = {{20, 0.0}, {150, 0.0}}, q[2] = {{180, 0.0}, {270, 0.0}},
       r[2] = {{180, 0.0}, {150, 0.0}};
  qVDC line[8] = {{20, 0.0}, {20, 0.0}, {100, 0.0}, {120, 0.0},
                  {180, 0.0}, {40, 0.0}, {260, 0.0}, {130, 0.0}};
  qVDC tri[6] = {{220, 0.0}, {160, 0.0}, {380, 0.0}, {160, 0.0}, {300, 0.0}, {280, 0.0}};
  qVDC box[4] = {{200, 0.0}, {20, 0.0}, {380, 0.0}, {140, 0.0}};
  qVDC centre[2] = {{290, 0.0}, {80, 0.0}}, radius = {50, 0.0};
  qVDC ex[2] = {{370, 0.0}, {80, 0.0}}, ey[2] = {{290, 0.0}, {110, 0.0}};
  qVDC a0[2] = {{40, 0.0}, {200, 0.0}}, a1[2] = {{100, 0.0}, {140, 0.0}},
       a2[2] = {{160, 0.0}, {200, 0.0}};
  const int list[2] = {4, 9};
  int ok = qBeginMetafile("cgmdump example", &d, m) && qVersion(&d, m) &&
           qColorPrecision(8, &d, m) && qMetafileElementsList(&d, 1, 0, list, 0, m) &&
           qBeginPicture("outlines and a cell array", &d, m) && qColorSelectionMode(1, &d, m) &&
           qVdcExtent(lo, hi, &d, m) && qBeginPictureBody(&d, m) &&
           qCellArray(p, q, r, 16, 12, 8, 1, cells, &d, m) && qPolyline(line, 4, &d, m) &&
           qPolygon(tri, 3, &d, m) && qRectangle(box, &d, m) &&
           qCircle(centre, &radius, &d, m) && qEllipse(centre, ex, ey, &d, m) &&
           qCircularArc3Point(a0, a1, a2, &d, m) && qEndPicture(&d, m) && qEndMetafile(&d, m);
  if (!ok) return Fail(m);
  if (!qCgmEnd(&d, m)) return Fail(m);
  return 0;
}
