// Delimiter elements (class 0): NO-OP, BEGIN/END METAFILE, BEGIN PICTURE,
// BEGIN PICTURE BODY, END PICTURE.
#include <cstring>

#include "QuilPrivate.h"

// A NO-OP carries n zero bytes that readers skip; n of 0 or less gives the
// bare header.  n is limited by the work buffer the bytes are staged in.
int qNoopId(int n, qWCGM_DATA *data, char *msg) {
  if (n <= 0) return WriteElement(0, 0, 0, data->WorkBuffer, data->Outfile, msg);
  if (!qFitsWorkBuffer(n, msg)) return 0;
  std::memset(data->WorkBuffer, 0, static_cast<size_t>(n));
  return WriteElement(0, 0, n, data->WorkBuffer, data->Outfile, msg);
}

// BEGIN METAFILE and BEGIN PICTURE carry one string parameter: the name.
static int NamedDelimiter(int id, const char *name, qWCGM_DATA *data,
                          char *msg) {
  size_t n = std::strlen(name);
  if (!qFitsWorkBuffer(qStringBytes(static_cast<int64_t>(n)), msg)) return 0;
  int len = EncodeString(name, data->WorkBuffer, static_cast<int>(n));
  return WriteElement(0, id, len, data->WorkBuffer, data->Outfile, msg);
}

int qBeginMetafile(const char *name, qWCGM_DATA *data, char *msg) {
  return NamedDelimiter(1, name, data, msg);
}

int qEndMetafile(qWCGM_DATA *data, char *msg) {
  return WriteElement(0, 2, 0, data->WorkBuffer, data->Outfile, msg);
}

int qBeginPicture(const char *name, qWCGM_DATA *data, char *msg) {
  return NamedDelimiter(3, name, data, msg);
}

int qBeginPictureBody(qWCGM_DATA *data, char *msg) {
  return WriteElement(0, 4, 0, data->WorkBuffer, data->Outfile, msg);
}

int qEndPicture(qWCGM_DATA *data, char *msg) {
  return WriteElement(0, 5, 0, data->WorkBuffer, data->Outfile, msg);
}
