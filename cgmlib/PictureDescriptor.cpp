// Picture descriptor elements (class 2).  The mode elements record their
// mode in the writer state only after the element was written.
#include "QuilPrivate.h"

static int Write(int id, int length, qWCGM_DATA *data, char *msg) {
  return WriteElement(2, id, length, data->WorkBuffer, data->Outfile, msg);
}

// The shape shared by the mode elements: one enumeration (0 or 1), written,
// then recorded in `field`.
static int ModeElement(int id, int mode, const char *badFormat, int *field,
                       qWCGM_DATA *data, char *msg) {
  if (mode != 0 && mode != 1) {
    qSetMsg(msg, badFormat, mode);
    return 0;
  }
  int ok;
  int len = EncodeIntBuffer(data->WorkBuffer, &mode, 1,
                            data->Cgm.MetafileDescriptor.EnumPrecision, &ok, msg);
  if (!ok || !Write(id, len, data, msg)) return 0;
  *field = mode;
  return 1;
}

// SCALING MODE: the mode, then the metric scale factor, always as an IEEE
// single whatever the real precision in force.  The factor is recorded as it
// was written (rounded to single precision), and only for metric scaling.
int qScalingMode(int mode, double factor, qWCGM_DATA *data, char *msg) {
  if (mode != 0 && mode != 1) {
    qSetMsg(msg, "Invalid Scaling Mode: %d\n", mode);
    return 0;
  }
  int ok;
  int len = EncodeIntBuffer(data->WorkBuffer, &mode, 1,
                            data->Cgm.MetafileDescriptor.EnumPrecision, &ok, msg);
  if (!ok) return 0;
  len += EncodeRealBuffer(data->WorkBuffer + len, &factor, 1, 1, &ok, msg);
  if (!ok || !Write(1, len, data, msg)) return 0;
  qWCGM_PICTURE_DESCRIPTOR_DATA *pd = &data->Cgm.PictureDescriptor;
  pd->ScalingMode = mode;
  if (mode == 1) pd->MetricScaleValue = static_cast<double>(static_cast<float>(factor));
  return 1;
}

int qColorSelectionMode(int mode, qWCGM_DATA *data, char *msg) {
  return ModeElement(2, mode, "Invalid Color Selection Mode: %d\n",
                     &data->Cgm.PictureDescriptor.ColorSelectionMode, data, msg);
}

int qLineWidthSpecificationMode(int mode, qWCGM_DATA *data, char *msg) {
  return ModeElement(3, mode, "Invalid Line Width Selection Mode: %d\n",
                     &data->Cgm.PictureDescriptor.LineWidthSpecificationMode,
                     data, msg);
}

int qMarkerSizeSpecificationMode(int mode, qWCGM_DATA *data, char *msg) {
  return ModeElement(4, mode, "Invalid Marker Size Specification Mode: %d\n",
                     &data->Cgm.PictureDescriptor.MarkerSizeSpecificationMode,
                     data, msg);
}

int qEdgeWidthSpecificationMode(int mode, qWCGM_DATA *data, char *msg) {
  return ModeElement(5, mode, "Invalid Edge Width Specification Mode: %d\n",
                     &data->Cgm.PictureDescriptor.EdgeWidthSpecificationMode,
                     data, msg);
}

// VDC EXTENT: first corner then second corner, at the VDC type and
// precisions in force.  The extent is not recorded in the writer state:
// nothing in the library reads it.
int qVdcExtent(const qVDC *first, const qVDC *second, qWCGM_DATA *data,
               char *msg) {
  const qWCGM_METAFILE_DESCRIPTOR_DATA *md = &data->Cgm.MetafileDescriptor;
  const qWCGM_CONTROL_DATA *cd = &data->Cgm.Control;
  int ok;
  int len = EncodeVdc(first, 2, data->WorkBuffer, md->VdcType,
                      cd->VdcIntegerPrecision, cd->VdcRealPrecision, &ok, msg);
  if (!ok) return 0;
  len += EncodeVdc(second, 2, data->WorkBuffer + len, md->VdcType,
                   cd->VdcIntegerPrecision, cd->VdcRealPrecision, &ok, msg);
  if (!ok) return 0;
  return Write(6, len, data, msg);
}

int qBackgroundColor(const int *rgb, qWCGM_DATA *data, char *msg) {
  int ok;
  int len = EncodeIntBuffer(data->WorkBuffer, rgb, 3,
                            data->Cgm.MetafileDescriptor.ColorPrecision, &ok, msg);
  if (!ok) return 0;
  return Write(7, len, data, msg);
}
