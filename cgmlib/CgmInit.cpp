// Opening and closing a metafile, and the defaults of the writer state.
#include <cstdio>
#include <cstdlib>

#include "QuilPrivate.h"

static void SetVdcPair(qVDC *v, int i, double d) {
  v->Int = i;
  v->Double = d;
}

// Stores every default of the metafile state.  Fields without a default
// (the trace and PIP inputs, the unused colour components) keep what the
// record held before.
int InitializeDefaults(qWCGM_CGM *cgm) {
  qWCGM_METAFILE_DESCRIPTOR_DATA *md = &cgm->MetafileDescriptor;
  md->VdcType = 0;
  md->IntegerPrecision = 16;
  md->RealPrecision = 3;
  md->IndexPrecision = 16;
  md->EnumPrecision = 16;
  md->ColorPrecision = 8;
  md->ColorIndexPrecision = 8;
  md->MaxColorIndex = 63;
  static const int extent[6] = {0, 0, 0, 255, 255, 255};
  for (int i = 0; i < 6; i++) md->ColorValueExtent[i] = extent[i];

  qWCGM_PICTURE_DESCRIPTOR_DATA *pd = &cgm->PictureDescriptor;
  pd->ScalingMode = 0;
  pd->MetricScaleValue = 1.0;
  pd->ColorSelectionMode = 0;
  pd->LineWidthSpecificationMode = 1;
  pd->MarkerSizeSpecificationMode = 1;
  pd->EdgeWidthSpecificationMode = 1;
  SetVdcPair(&pd->VdcExtent[0], 0, 0.0);
  SetVdcPair(&pd->VdcExtent[1], 0, 0.0);
  SetVdcPair(&pd->VdcExtent[2], 32767, 0.99999);
  SetVdcPair(&pd->VdcExtent[3], 32767, 0.99999);

  qWCGM_CONTROL_DATA *cd = &cgm->Control;
  cd->VdcIntegerPrecision = 16;
  cd->VdcRealPrecision = 3;
  cd->AuxiliaryColor[0] = 1;
  cd->Transparency = 1;
  // The clip rectangle's real corner has six nines, the VDC extent's five.
  SetVdcPair(&cd->ClipRectangle[0], 0, 0.0);
  SetVdcPair(&cd->ClipRectangle[1], 0, 0.0);
  SetVdcPair(&cd->ClipRectangle[2], 32767, 0.999999);
  SetVdcPair(&cd->ClipRectangle[3], 32767, 0.999999);
  cd->ClipIndicator = 1;

  qWCGM_ATTRIBUTE_DATA *a = &cgm->Attribute;
  a->LineBundleIndex = 0;
  a->LineType = 1;
  SetVdcPair(&a->LineWidth, 1, 1.0);
  a->LineColor[0] = 0;
  a->MarkerBundleIndex = 1;
  a->MarkerType = 3;
  SetVdcPair(&a->MarkerSize, 1, 1.0);
  a->MarkerColor[0] = 0;
  a->TextBundleIndex = 1;
  a->TextFontIndex = 1;
  a->CharacterExpansionFactor = 1.0;
  a->TextPrecision = 0;
  a->CharacterSpacing = 0.0;
  a->TextColor[0] = 0;
  SetVdcPair(&a->CharacterHeight, 1, 1.0);
  SetVdcPair(&a->CharacterOrientation[0], 0, 0.0);
  SetVdcPair(&a->CharacterOrientation[1], 1, 1.0);
  SetVdcPair(&a->CharacterOrientation[2], 1, 1.0);
  SetVdcPair(&a->CharacterOrientation[3], 0, 0.0);
  a->TextPath = 0;
  a->TextAlignment[0] = 0;
  a->TextAlignment[1] = 0;
  a->CharacterSetIndex = 1;
  a->AlternateCharacterSetIndex = 1;
  a->FillBundleIndex = 1;
  a->InteriorStyle = 0;
  a->FillColor[0] = 0;
  a->HatchIndex = 1;
  a->PatternIndex = 1;
  a->EdgeBundleIndex = 1;
  a->EdgeType = 0;
  SetVdcPair(&a->EdgeWidth, 1, 1.0);
  a->EdgeColor[0] = 0;
  a->EdgeVisibility = 0;
  SetVdcPair(&a->FillReferencePoint[0], 0, 0.0);
  SetVdcPair(&a->FillReferencePoint[1], 0, 0.0);
  SetVdcPair(&a->PatternSize[0], 0, 0.0);
  SetVdcPair(&a->PatternSize[1], 1, 1.0);
  SetVdcPair(&a->PatternSize[2], 1, 1.0);
  SetVdcPair(&a->PatternSize[3], 0, 0.0);
  for (int i = 0; i < 36; i++) a->AspectSourceFlags[i] = 0;
  return 1;
}

int qCgmInit(const char *filename, qWCGM_DATA *data, char *msg) {
  std::fputs("Binary CGM metafile writer library\n"
             "Version " QWCGM_VERSION_STRING "\n\n",
             stdout);

  if (filename == nullptr) {
    qSetMsg(msg, "Output file name is NULL");
    return 0;
  }
  // No bracket of METAFILE DEFAULTS REPLACEMENT is open on a new metafile.
  data->MdrOffset = 0;
  data->Outfile = std::fopen(filename, "wb");
  if (data->Outfile == nullptr) {
    qSetMsg(msg, "Could not open output file: %s", filename);
    return 0;
  }
  data->WorkBuffer =
      static_cast<unsigned char *>(std::malloc(QWCGM_WORK_BUFFER_SIZE));
  if (data->WorkBuffer == nullptr) {
    qSetMsg(msg, "Could not allocate %d bytes for work buffer",
            QWCGM_WORK_BUFFER_SIZE);
    return 0;
  }
  InitializeDefaults(&data->Cgm);
  return 1;
}

// Releases the work buffer and closes the stream.  A failure to write out
// the last buffered bytes (a full disk) is reported; the record is left
// closed either way, so a second call does nothing.
int qCgmEnd(qWCGM_DATA *data, char *msg) {
  std::free(data->WorkBuffer);
  data->WorkBuffer = nullptr;
  if (data->Outfile == nullptr) return 1;
  FILE *fp = data->Outfile;
  data->Outfile = nullptr;
  int flushed = std::fflush(fp) == 0 && !std::ferror(fp);
  int closed = std::fclose(fp) == 0;
  if (!flushed || !closed) {
    qSetMsg(msg, "Error occurred closing output file");
    return 0;
  }
  return 1;
}
