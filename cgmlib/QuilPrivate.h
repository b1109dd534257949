// Internal helpers shared by the library's modules.  Everything here is
// static inline, so the only global names of the library stay those that
// Quil.h declares.
#ifndef QUIL_PRIVATE_H
#define QUIL_PRIVATE_H

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "Quil.h"

// Writes one message into the caller's buffer, never more than
// QWCGM_MSG_SIZE bytes, NUL included; a longer text is cut.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
static inline void qSetMsg(char *msg, const char *fmt, ...) {
  if (msg == nullptr) return;
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(msg, QWCGM_MSG_SIZE, fmt, ap);
  va_end(ap);
}

// The one check that keeps every element inside the work buffer.  Element
// functions compute the size of their parameter list (or of the next piece,
// where the size only shows while encoding) in 64 bits and call this before
// encoding anything that would land past the buffer.  IN assertion: `end`
// is the offset one past the last byte the piece would write.
static inline int qFitsWorkBuffer(int64_t end, char *msg) {
  if (end > QWCGM_WORK_BUFFER_SIZE) {
    qSetMsg(msg, "Parameter list exceeds work buffer of %d bytes\n",
            QWCGM_WORK_BUFFER_SIZE);
    return 0;
  }
  return 1;
}

// Bytes of one value at an integer precision of 8, 16, 24 or 32 bits; other
// precisions are reported by the encoders themselves, so they count as 4
// here (the largest), which keeps the size estimate on the safe side.
static inline int64_t qIntBytes(int precision) {
  switch (precision) {
    case 8: return 1;
    case 16: return 2;
    case 24: return 3;
    default: return 4;
  }
}

// Bytes of one real at a real precision code (1..4); unknown codes are
// refused by the encoder, so the estimate only has to be an upper bound.
static inline int64_t qRealBytes(int code) {
  return (code == 2 || code == 4) ? 8 : 4;
}

// Bytes of one VDC value at the writer's current VDC type and precisions.
static inline int64_t qVdcBytes(const qWCGM_DATA *d) {
  return d->Cgm.MetafileDescriptor.VdcType == 0
             ? qIntBytes(d->Cgm.Control.VdcIntegerPrecision)
             : qRealBytes(d->Cgm.Control.VdcRealPrecision);
}

// Bytes EncodeString produces for n bytes of text: a count byte up to 254,
// else FF, one 16-bit word per 32767-byte piece, and the bytes.
static inline int64_t qStringBytes(int64_t n) {
  if (n <= 254) return n + 1;
  int64_t pieces = (n + 32766) / 32767;
  return n + 1 + 2 * pieces;
}

#endif  // QUIL_PRIVATE_H
