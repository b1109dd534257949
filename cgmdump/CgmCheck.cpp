// The checker: walks the metafile and stops at the first problem a reader
// would trip over: framing (truncated elements, lengths that do not match
// the parameters, pad bytes), cell array rows, the order of the delimiters,
// and descriptor, control, attribute and primitive elements standing where
// they do not belong.
#include <cstdarg>
#include <cstdio>

#include "CgmDecode.h"

namespace cgmd {

namespace {


std::string Label(const Element &e) {
  if (e.known) return e.longName;
  return Fmt("element class %d id %d", e.frame.cls, e.frame.id);
}

}  // namespace

CheckResult Check(const uint8_t *data, size_t size) {
  CheckResult r;
  Walker w(data, size);
  Element e;
  Region region = kBeforeMetafile;
  size_t pictureAt = 0;  // offset of the BEGIN PICTURE in progress
  auto fail = [&](size_t offset, const std::string &msg) {
    r.ok = false;
    r.offset = offset;
    r.message = msg;
    return r;
  };
  while (w.Next(&e)) {
    r.elements++;
    const int c = e.frame.cls, id = e.frame.id;
    const size_t at = e.frame.offset;
    const std::string name = Label(e);
    const bool noop = c == 0 && id == 0;
    if (region == kBeforeMetafile && !noop && !(c == 0 && id == 1))
      return fail(at, "the metafile does not begin with BEGIN METAFILE: its "
                      "first element is " + name);
    if (region == kAfterMetafile && !noop)
      return fail(at, name + " after END METAFILE, which must be the last "
                             "element");
    if (c == 0) {
      switch (id) {
        case 1:
          if (region != kBeforeMetafile)
            return fail(at, "a second BEGIN METAFILE");
          region = kMetafileDescriptor;
          break;
        case 2:
          if (region == kPictureDescriptor || region == kPictureBody)
            return fail(at, Fmt("END METAFILE inside the picture begun at "
                                "offset %zu, which has no END PICTURE",
                                pictureAt));
          region = kAfterMetafile;
          break;
        case 3:
          if (region == kPictureDescriptor || region == kPictureBody)
            return fail(at, Fmt("BEGIN PICTURE inside the picture begun at "
                                "offset %zu, which has no END PICTURE",
                                pictureAt));
          region = kPictureDescriptor;
          pictureAt = at;
          r.pictures++;
          break;
        case 4:
          if (region == kPictureBody)
            return fail(at, Fmt("a second BEGIN PICTURE BODY in the picture "
                                "begun at offset %zu",
                                pictureAt));
          if (region != kPictureDescriptor)
            return fail(at, "BEGIN PICTURE BODY without BEGIN PICTURE");
          region = kPictureBody;
          break;
        case 5:
          if (region == kPictureDescriptor)
            return fail(at, Fmt("END PICTURE before BEGIN PICTURE BODY in the "
                                "picture begun at offset %zu",
                                pictureAt));
          if (region != kPictureBody)
            return fail(at, "END PICTURE without BEGIN PICTURE");
          region = kBetweenPictures;
          break;
        default:
          break;
      }
    } else if (c == 1) {
      if (region != kMetafileDescriptor)
        return fail(at, "metafile descriptor element " + name +
                            (region == kBetweenPictures
                                 ? std::string(" between pictures")
                                 : " inside a picture") +
                            "; it belongs between BEGIN METAFILE and the "
                            "first BEGIN PICTURE");
    } else if (c == 2) {
      if (region == kPictureBody)
        return fail(at, "picture descriptor element " + name +
                            " inside a picture body; it belongs between "
                            "BEGIN PICTURE and BEGIN PICTURE BODY");
      if (region == kBetweenPictures)
        return fail(at, "picture descriptor element " + name +
                            " outside a picture; it belongs between BEGIN "
                            "PICTURE and BEGIN PICTURE BODY");
      if (region == kMetafileDescriptor)
        r.notes.push_back(Fmt("offset %zu: picture descriptor element %s "
                              "stands in the metafile descriptor; taken as a "
                              "default for every picture",
                              at, name.c_str()));
    } else if (c == 3 || c == 5) {
      const char *kind = c == 3 ? "control element " : "attribute element ";
      if (region == kBetweenPictures)
        return fail(at, kind + name + " outside a picture");
      if (region == kMetafileDescriptor)
        r.notes.push_back(Fmt("offset %zu: %s%s stands in the metafile "
                              "descriptor; taken as a default for every "
                              "picture",
                              at, kind, name.c_str()));
    } else if (c == 4) {
      if (region != kPictureBody)
        return fail(at, "graphical primitive " + name +
                            " outside a picture body; primitives belong "
                            "between BEGIN PICTURE BODY and END PICTURE");
    } else if (c >= 8) {
      return fail(at, Fmt("element class %d does not exist (classes run from "
                          "0 to 7); the data is not a binary metafile here",
                          c));
    }
    if (!e.known)
      r.notes.push_back(Fmt("offset %zu: unknown element class %d id %d "
                            "skipped unchecked",
                            at, c, id));
    if (!e.problem.empty()) return fail(e.problemOffset, e.problem);
    for (const std::string &n : e.notes) r.notes.push_back(n);
  }
  if (!w.frameError().empty()) return fail(w.frameErrorOffset(), w.frameError());
  if (r.elements == 0) return fail(0, "the file is empty");
  if (region != kAfterMetafile) {
    if (region == kPictureDescriptor || region == kPictureBody)
      return fail(size, Fmt("the file ends inside the picture begun at offset "
                            "%zu, without END PICTURE and END METAFILE",
                            pictureAt));
    return fail(size, "the file ends without END METAFILE");
  }
  r.ok = true;
  r.summary = Fmt("ok: %d element%s, %d picture%s, %zu bytes", r.elements,
                  r.elements == 1 ? "" : "s", r.pictures,
                  r.pictures == 1 ? "" : "s", size);
  return r;
}

}  // namespace cgmd
