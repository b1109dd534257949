// picmeta: converts an RGB raster image into a binary Computer Graphics
// Metafile that shows it at a chosen physical size.
//
// The program is pm_Main over the image layer's ilOpenImgFile and standard
// input; the pieces are kept apart so that the converter can be driven with
// other images and other input.
#ifndef PICMETA_PICMETA_H
#define PICMETA_PICMETA_H

#include <cstdio>

#include "ImageLib.h"
#include "Quil.h"

// The writer state of the one output metafile, and the message buffer that
// every library call gets.
extern qWCGM_DATA QuilData;
extern char ErrMsg[QWCGM_MSG_SIZE];

// Opens the metafile `cgmname` and writes everything before the picture's
// cells: the metafile descriptor, BEGIN PICTURE, the picture descriptor
// (metric scaling, one VDC unit an inch, a VDC extent with half an inch of
// margin around a cgmwidth x cgmheight picture) and BEGIN PICTURE BODY.
// 0 on success; 1 when a call up to the scaling mode failed, -1 when the
// VDC extent or BEGIN PICTURE BODY failed (the library's message has then
// been printed on standard output).
int pm_CGMinit(const char *cgmname, float cgmwidth, float cgmheight);

// Writes END PICTURE and END METAFILE and closes the metafile.  0 on
// success, -1 at the first failure (its message printed on standard output).
int pm_CGMclose(void);

// How the converter opens its image: ilOpenImgFile, or a stand-in.
typedef ilImage *(*pm_Opener)(const char *name, const char *mode);

// The whole program: `argv` as main gets it, the ratio read from `in`.
// Returns the exit status (0, 1, or -1 when a strip cannot be read or the
// metafile cannot be closed).  The image, the strip buffer and the name
// copies are released before returning; the metafile is left as the run
// left it (closed after success, possibly open after a failure).
int pm_Main(int argc, char **argv, pm_Opener opener, FILE *in);

// The size ratio typed at the prompt: leading white space, an optional sign,
// digits with an optional decimal point (at least one digit), an optional
// exponent; the longest such prefix counts, and 0 when there is none.
// Hexadecimal, infinity and NaN forms are not numbers here.
double pm_ParseRatio(const char *text);

// Rows of the image in one cell array so that the element fits the
// library's work buffer: min(100, (511968 + o) / (3 x xsize + o)), o being
// 1 for an odd width and 0 for an even one; 0 when not even one row fits.
// Widths of 0 or less give 100.
int pm_RowsPerStrip(int xsize);

#endif  // PICMETA_PICMETA_H
