// The renderer: draws one picture with cairo.  The VDC extent is mapped onto
// the page with its first corner at the lower left (y grows upward), keeping
// its aspect ratio.  Cell arrays are drawn as images under the affine map
// that their corners P, Q and R define; lines, polygons, rectangles, circles,
// arcs and ellipses as one-unit outlines.
//
// Everything taken from the file is checked before it reaches cairo: a
// non-finite or non-invertible matrix would put the cairo context into a
// permanent error state, and huge device coordinates overflow its fixed
// point, so such primitives are skipped with a warning.
#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "CgmDecode.h"

namespace cgmd {

namespace {

const double kPi = 3.14159265358979323846;
// Largest side of the image a cell array is sampled into; bigger arrays are
// sampled at this resolution (nearest cell), which bounds memory.
const int64_t kCellImageMax = 4096;
// Largest device coordinate handed to cairo.
const double kMaxDevice = 1e7;
// Largest raster (pixels) a PNG may have.
const double kMaxPixels = 64.0 * 1024 * 1024;


enum OutKind { kPng, kSvg, kPdf, kNone };

OutKind KindOf(const std::string &path) {
  size_t dot = path.rfind('.');
  if (dot == std::string::npos) return kNone;
  std::string ext = path.substr(dot + 1);
  for (char &ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (ext == "png") return kPng;
  if (ext == "svg") return kSvg;
  if (ext == "pdf") return kPdf;
  return kNone;
}

struct Pt {
  double x, y;
};

class Painter {
 public:
  Painter(cairo_t *cr, const double ext[4], double w, double h) : cr_(cr) {
    sx_ = w / (ext[2] - ext[0]);
    sy_ = -h / (ext[3] - ext[1]);
    x0_ = -ext[0] * sx_;
    y0_ = h - ext[1] * sy_;
  }

  Pt Dev(double x, double y) const { return {x * sx_ + x0_, y * sy_ + y0_}; }

  static bool Ok(const Pt &p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::fabs(p.x) < kMaxDevice &&
           std::fabs(p.y) < kMaxDevice;
  }

  // Strokes a path of VDC points; false when a point is unusable.
  bool Stroke(const std::vector<std::vector<Pt>> &paths, bool closed) {
    for (const auto &path : paths)
      for (const Pt &p : path)
        if (!Ok(Dev(p.x, p.y))) return false;
    cairo_new_path(cr_);
    for (const auto &path : paths) {
      if (path.empty()) continue;
      for (size_t i = 0; i < path.size(); i++) {
        Pt d = Dev(path[i].x, path[i].y);
        if (i == 0) cairo_move_to(cr_, d.x, d.y);
        else cairo_line_to(cr_, d.x, d.y);
      }
      if (closed) cairo_close_path(cr_);
    }
    cairo_set_source_rgb(cr_, 0, 0, 0);
    cairo_set_line_width(cr_, 1.0);
    cairo_stroke(cr_);
    return true;
  }

  // Segments for a conic of the given size in device units.
  int Segments(double radiusVdc) const {
    double r = std::fabs(radiusVdc) * std::max(std::fabs(sx_), std::fabs(sy_));
    if (!std::isfinite(r)) return 16;
    return static_cast<int>(std::min(4096.0, std::max(16.0, r)));
  }

  cairo_t *cr() { return cr_; }
  double sx() const { return sx_; }
  double sy() const { return sy_; }
  double x0() const { return x0_; }
  double y0() const { return y0_; }

 private:
  cairo_t *cr_;
  double sx_, sy_, x0_, y0_;
};

// Colour of a value at a precision, from 0 to 1.
double Unit(int64_t v, int bits, bool haveRange, int64_t lo, int64_t hi) {
  double f;
  if (haveRange) {
    if (hi == lo) return 0;
    f = static_cast<double>(v - lo) / static_cast<double>(hi - lo);
  } else {
    double max = std::ldexp(1.0, bits) - 1.0;
    f = static_cast<double>(v) / max;
  }
  return std::min(1.0, std::max(0.0, f));
}

struct Rgb {
  double r, g, b;
};

Rgb DirectColour(const DecodeState &st, const int64_t *v, int bits) {
  Rgb c;
  c.r = Unit(v[0], bits, st.colorExtentSet, st.colorExtent[0], st.colorExtent[3]);
  c.g = Unit(v[1], bits, st.colorExtentSet, st.colorExtent[1], st.colorExtent[4]);
  c.b = Unit(v[2], bits, st.colorExtentSet, st.colorExtent[2], st.colorExtent[5]);
  return c;
}

Rgb IndexColour(const DecodeState &st, int64_t v, int bits) {
  double g = st.maxColorIndexSet && st.maxColorIndex > 0
                 ? Unit(v, bits, true, 0, st.maxColorIndex)
                 : Unit(v, bits, false, 0, 0);
  return {g, g, g};
}

uint32_t Pack(const Rgb &c) {
  auto b = [](double f) { return static_cast<uint32_t>(std::lround(f * 255.0)); };
  return 0xff000000u | b(c.r) << 16 | b(c.g) << 8 | b(c.b);
}

// Source index of a sampled cell: target t of n targets over m cells.
int64_t Src(int64_t t, int64_t m, int64_t n) { return (t * m + m / 2) / n; }
// First target whose source is at least c.
int64_t FirstTarget(int64_t c, int64_t m, int64_t n) {
  // Src(t) >= c  <=>  t * m + m / 2 >= c * n
  int64_t num = c * n - m / 2;
  if (num <= 0) return 0;
  return (num + m - 1) / m;
}

bool DrawCellArray(Painter *pt, const Element &e, const DecodeState &st,
                   std::string *why) {
  const CellArray &ca = e.cells;
  double px = ca.p.Num(0), py = ca.p.Num(1);
  double qx = ca.q.Num(0), qy = ca.q.Num(1);
  double rx = ca.r.Num(0), ry = ca.r.Num(1);
  double nx = static_cast<double>(ca.nx), ny = static_cast<double>(ca.ny);
  // Cell (i, j) lies at P + i * u + j * v.
  double ux = (rx - px) / nx, uy = (ry - py) / nx;
  double vx = (qx - rx) / ny, vy = (qy - ry) / ny;
  int64_t sw = std::min<int64_t>(ca.nx, kCellImageMax);
  int64_t sh = std::min<int64_t>(ca.ny, kCellImageMax);
  // Image pixel (a, b) -> cell (a * nx / sw, b * ny / sh) -> VDC -> device.
  double ax = ux * nx / static_cast<double>(sw), ay = uy * nx / static_cast<double>(sw);
  double bx = vx * ny / static_cast<double>(sh), by = vy * ny / static_cast<double>(sh);
  cairo_matrix_t m;
  m.xx = ax * pt->sx();
  m.yx = ay * pt->sy();
  m.xy = bx * pt->sx();
  m.yy = by * pt->sy();
  m.x0 = px * pt->sx() + pt->x0();
  m.y0 = py * pt->sy() + pt->y0();
  double det = m.xx * m.yy - m.xy * m.yx;
  const double corners[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  for (const auto &c : corners) {
    Pt d{m.xx * c[0] * static_cast<double>(sw) + m.xy * c[1] * static_cast<double>(sh) + m.x0,
         m.yx * c[0] * static_cast<double>(sw) + m.yy * c[1] * static_cast<double>(sh) + m.y0};
    if (!Painter::Ok(d)) {
      *why = "its corners lie outside the drawable range";
      return false;
    }
  }
  if (!std::isfinite(det) || std::fabs(det) < 1e-12) {
    *why = "its corners P, Q and R do not span an area";
    return false;
  }
  cairo_surface_t *img = cairo_image_surface_create(
      CAIRO_FORMAT_RGB24, static_cast<int>(sw), static_cast<int>(sh));
  if (cairo_surface_status(img) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(img);
    *why = "no memory for its image";
    return false;
  }
  cairo_surface_flush(img);
  unsigned char *pix = cairo_image_surface_get_data(img);
  const int stride = cairo_image_surface_get_stride(img);
  int64_t nextRow = 0;  // next image row to fill
  std::string err;
  size_t errAt = 0;
  VisitCellRows(
      e,
      [&](int64_t row, int64_t col, int64_t count, const int64_t *v) {
        while (nextRow < sh && Src(nextRow, ca.ny, sh) < row) nextRow++;
        if (nextRow >= sh) return false;
        if (Src(nextRow, ca.ny, sh) != row) return true;
        Rgb c = ca.direct ? DirectColour(st, v, ca.precision)
                          : IndexColour(st, v[0], ca.precision);
        uint32_t packed = Pack(c);
        int64_t t0 = FirstTarget(col, ca.nx, sw);
        int64_t t1 = std::min(sw, FirstTarget(col + count, ca.nx, sw));
        uint32_t *line = reinterpret_cast<uint32_t *>(pix + nextRow * stride);
        for (int64_t t = t0; t < t1; t++) line[t] = packed;
        // A row may be sampled into several image rows only when ny < sh,
        // which cannot happen (sh <= ny); nothing more to do.
        return true;
      },
      &err, &errAt);
  cairo_surface_mark_dirty(img);
  cairo_t *cr = pt->cr();
  cairo_save(cr);
  // No anti-aliasing of the array's edges: adjacent cell arrays (the strips
  // of a converted image) then tile without a seam, each pixel going to the
  // array that covers its centre.
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_transform(cr, &m);
  cairo_set_source_surface(cr, img, 0, 0);
  cairo_pattern_t *pat = cairo_get_source(cr);
  cairo_pattern_set_filter(pat, CAIRO_FILTER_NEAREST);
  cairo_pattern_set_extend(pat, CAIRO_EXTEND_PAD);
  cairo_rectangle(cr, 0, 0, static_cast<double>(sw), static_cast<double>(sh));
  cairo_fill(cr);
  cairo_restore(cr);
  cairo_surface_destroy(img);
  return true;
}

double Norm(double a) {
  a = std::fmod(a, 2 * kPi);
  if (a < 0) a += 2 * kPi;
  return a;
}

std::vector<Pt> ArcPoints(double cx, double cy, double r, double a0,
                          double sweep, int segments) {
  std::vector<Pt> out;
  int n = std::max(2, static_cast<int>(segments * std::fabs(sweep) / (2 * kPi)) + 1);
  for (int i = 0; i <= n; i++) {
    double a = a0 + sweep * i / n;
    out.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
  }
  return out;
}

// Points of an elliptical arc: c + cos t * a + sin t * b for t from t0
// over sweep.
std::vector<Pt> EllipsePoints(Pt c, Pt a, Pt b, double t0, double sweep,
                              int segments) {
  std::vector<Pt> out;
  int n = std::max(2, static_cast<int>(segments * std::fabs(sweep) / (2 * kPi)) + 1);
  for (int i = 0; i <= n; i++) {
    double t = t0 + sweep * i / n;
    out.push_back({c.x + std::cos(t) * a.x + std::sin(t) * b.x,
                   c.y + std::cos(t) * a.y + std::sin(t) * b.y});
  }
  return out;
}

Pt P(const Value &v) { return {v.Num(0), v.Num(1)}; }
double V(const Value &v) { return v.Num(0); }

void Close(std::vector<Pt> *arc, Pt centre, int64_t type) {
  if (arc->empty()) return;
  if (type == 0) arc->push_back(centre);  // pie: through the centre
  arc->push_back(arc->front());           // chord, or back from the centre
}

// Draws one primitive; false with a reason when it cannot be drawn.
bool DrawPrimitive(Painter *pt, const Element &e, const DecodeState &st,
                   std::string *why) {
  const std::vector<Value> &v = e.values;
  const int id = e.frame.id;
  auto stroke = [&](const std::vector<std::vector<Pt>> &paths, bool closed) {
    if (!pt->Stroke(paths, closed)) {
      *why = "a coordinate lies outside the drawable range";
      return false;
    }
    return true;
  };
  switch (id) {
    case 1:
    case 7: {
      std::vector<Pt> path;
      for (const Value &p : v) path.push_back(P(p));
      return stroke({path}, id == 7);
    }
    case 2: {
      std::vector<std::vector<Pt>> paths;
      for (size_t i = 0; i + 1 < v.size(); i += 2) paths.push_back({P(v[i]), P(v[i + 1])});
      return stroke(paths, false);
    }
    case 3: {
      // Markers: a small cross at each point.
      std::vector<std::vector<Pt>> paths;
      double dx = 3 / std::fabs(pt->sx()), dy = 3 / std::fabs(pt->sy());
      for (const Value &p : v) {
        Pt c = P(p);
        paths.push_back({{c.x - dx, c.y}, {c.x + dx, c.y}});
        paths.push_back({{c.x, c.y - dy}, {c.x, c.y + dy}});
      }
      return stroke(paths, false);
    }
    case 8: {
      std::vector<std::vector<Pt>> paths(1);
      for (size_t i = 0; i + 1 < v.size(); i += 2) {
        paths.back().push_back(P(v[i]));
        if (v[i + 1].i[0] >= 2) {  // close invisible / close visible
          paths.back().push_back(paths.back().front());
          paths.emplace_back();
        }
      }
      if (!paths.back().empty()) paths.back().push_back(paths.back().front());
      return stroke(paths, false);
    }
    case 11: {
      Pt a = P(v[0]), b = P(v[1]);
      return stroke({{a, {b.x, a.y}, b, {a.x, b.y}}}, true);
    }
    case 12: {
      Pt c = P(v[0]);
      double r = std::fabs(V(v[1]));
      return stroke({ArcPoints(c.x, c.y, r, 0, 2 * kPi, pt->Segments(r))}, true);
    }
    case 13:
    case 14: {
      Pt s = P(v[0]), m = P(v[1]), f = P(v[2]);
      double d = 2 * (s.x * (m.y - f.y) + m.x * (f.y - s.y) + f.x * (s.y - m.y));
      if (!std::isfinite(d) || std::fabs(d) < 1e-300) {
        // Collinear points: the arc degenerates to lines.
        std::vector<Pt> path{s, m, f};
        if (id == 14) path.push_back(s);
        return stroke({path}, false);
      }
      double s2 = s.x * s.x + s.y * s.y, m2 = m.x * m.x + m.y * m.y,
             f2 = f.x * f.x + f.y * f.y;
      Pt c{(s2 * (m.y - f.y) + m2 * (f.y - s.y) + f2 * (s.y - m.y)) / d,
           (s2 * (f.x - m.x) + m2 * (s.x - f.x) + f2 * (m.x - s.x)) / d};
      double r = std::hypot(s.x - c.x, s.y - c.y);
      double as = std::atan2(s.y - c.y, s.x - c.x);
      double de = Norm(std::atan2(f.y - c.y, f.x - c.x) - as);
      double dm = Norm(std::atan2(m.y - c.y, m.x - c.x) - as);
      double sweep = dm < de ? de : -(2 * kPi - de);
      std::vector<Pt> arc = ArcPoints(c.x, c.y, r, as, sweep, pt->Segments(r));
      if (id == 14) Close(&arc, c, v[3].i[0]);
      return stroke({arc}, false);
    }
    case 15:
    case 16: {
      Pt c = P(v[0]);
      double r = std::fabs(V(v[5]));
      double as = std::atan2(V(v[2]), V(v[1]));
      double sweep = Norm(std::atan2(V(v[4]), V(v[3])) - as);
      if (sweep == 0) sweep = 2 * kPi;
      std::vector<Pt> arc = ArcPoints(c.x, c.y, r, as, sweep, pt->Segments(r));
      if (id == 16) Close(&arc, c, v[6].i[0]);
      return stroke({arc}, false);
    }
    case 17:
    case 18:
    case 19: {
      Pt c = P(v[0]), p1 = P(v[1]), p2 = P(v[2]);
      Pt a{p1.x - c.x, p1.y - c.y}, b{p2.x - c.x, p2.y - c.y};
      double size = std::max(std::hypot(a.x, a.y), std::hypot(b.x, b.y));
      if (id == 17)
        return stroke({EllipsePoints(c, a, b, 0, 2 * kPi, pt->Segments(size))}, true);
      double det = a.x * b.y - b.x * a.y;
      if (!std::isfinite(det) || det == 0) {
        *why = "its conjugate diameters are parallel";
        return false;
      }
      // Parameter of a direction d: (cos t, sin t) proportional to M^-1 d.
      auto param = [&](double dx, double dy) {
        double cs = (b.y * dx - b.x * dy) / det;
        double sn = (-a.y * dx + a.x * dy) / det;
        return std::atan2(sn, cs);
      };
      double t0 = param(V(v[3]), V(v[4]));
      double sweep = Norm(param(V(v[5]), V(v[6])) - t0);
      if (sweep == 0) sweep = 2 * kPi;
      std::vector<Pt> arc = EllipsePoints(c, a, b, t0, sweep, pt->Segments(size));
      if (id == 19) Close(&arc, c, v[7].i[0]);
      return stroke({arc}, false);
    }
    case 9: return DrawCellArray(pt, e, st, why);
    default: return true;  // text, GDP and others are not drawn
  }
}

}  // namespace

bool Render(const uint8_t *data, size_t size, const RenderOptions &options,
            std::string *error, std::vector<std::string> *warnings) {
  OutKind kind = KindOf(options.outPath);
  if (kind == kNone) {
    *error = "the output name must end in .png, .svg or .pdf: " + options.outPath;
    return false;
  }
  if (options.picture < 1) {
    *error = "picture numbers start at 1";
    return false;
  }
  Walker w(data, size);
  Element e;
  int picture = 0;
  bool inTarget = false, drawing = false, done = false;
  cairo_surface_t *surface = nullptr;
  cairo_t *cr = nullptr;
  Painter *painter = nullptr;
  std::vector<std::string> skipped;
  std::string late;  // a problem met after drawing began
  while (!done && w.Next(&e)) {
    const int c = e.frame.cls, id = e.frame.id;
    if (c == 0 && id == 3) {
      picture++;
      inTarget = picture == options.picture;
      continue;
    }
    if (!inTarget) continue;
    if (c == 0 && id == 4 && !drawing) {
      const DecodeState &st = w.state();
      double ext[4];
      if (st.pic.extentSet) {
        std::copy(st.pic.extent, st.pic.extent + 4, ext);
      } else {
        ext[0] = ext[1] = 0;
        ext[2] = ext[3] = st.vdcType == 1 ? 1.0 : 32767.0;
      }
      double dx = ext[2] - ext[0], dy = ext[3] - ext[1];
      if (!std::isfinite(dx) || !std::isfinite(dy) || dx == 0 || dy == 0) {
        *error = Fmt("picture %d has an empty VDC extent", options.picture);
        return false;
      }
      double width = options.width;
      if (width <= 0) {
        width = 800;
        if (kind != kPng && st.pic.scalingMode == 1 &&
            std::isfinite(st.pic.metricScale) && st.pic.metricScale > 0) {
          // Metric scaling: the picture's physical size, in points.
          width = std::fabs(dx) * st.pic.metricScale / 25.4 * 72.0;
          width = std::min(14400.0, std::max(1.0, width));
        }
      }
      double height = width * std::fabs(dy) / std::fabs(dx);
      double shrink = 1;
      if (height > 32767) shrink = 32767 / height;
      if (kind == kPng && width * height * shrink * shrink > kMaxPixels)
        shrink = std::min(shrink, std::sqrt(kMaxPixels / (width * height)));
      width *= shrink;
      height *= shrink;
      if (kind == kPng) {
        width = std::max(1.0, std::round(width));
        height = std::max(1.0, std::round(height));
      } else {
        height = std::max(1.0, height);
        width = std::max(1.0, width);
      }
      if (kind == kPng)
        surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(width),
                                             static_cast<int>(height));
      else if (kind == kSvg)
        surface = cairo_svg_surface_create(options.outPath.c_str(), width, height);
      else
        surface = cairo_pdf_surface_create(options.outPath.c_str(), width, height);
      if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        *error = Fmt("cannot create %s: %s", options.outPath.c_str(),
                     cairo_status_to_string(cairo_surface_status(surface)));
        cairo_surface_destroy(surface);
        return false;
      }
      cr = cairo_create(surface);
      Rgb bg{1, 1, 1};
      if (st.pic.backgroundSet) bg = DirectColour(st, st.pic.background, st.colorPrec);
      cairo_set_source_rgb(cr, bg.r, bg.g, bg.b);
      cairo_paint(cr);
      painter = new Painter(cr, ext, width, height);
      drawing = true;
      continue;
    }
    if (c == 0 && id == 5) {
      done = true;
      continue;
    }
    if (!drawing || c != 4) continue;
    if (!e.problem.empty() || !e.decoded) {
      if (!e.problem.empty())
        skipped.push_back(Fmt("offset %zu: %s skipped: %s", e.frame.offset,
                              e.longName, e.problem.c_str()));
      continue;
    }
    std::string why;
    if (!DrawPrimitive(painter, e, w.state(), &why))
      warnings->push_back(Fmt("offset %zu: %s not drawn: %s", e.frame.offset,
                            e.longName, why.c_str()));
  }
  if (!done && !w.frameError().empty())
    late = Fmt("offset %zu: %s", w.frameErrorOffset(), w.frameError().c_str());
  if (!drawing) {
    if (!late.empty()) {
      *error = late;
    } else if (picture < options.picture) {
      *error = Fmt("the metafile has %d picture%s; there is no picture %d",
                   picture, picture == 1 ? "" : "s", options.picture);
    } else {
      *error = Fmt("picture %d has no BEGIN PICTURE BODY", options.picture);
    }
    return false;
  }
  delete painter;
  cairo_destroy(cr);
  bool ok = true;
  if (kind == kPng) {
    cairo_status_t s = cairo_surface_write_to_png(surface, options.outPath.c_str());
    if (s != CAIRO_STATUS_SUCCESS) {
      *error = Fmt("cannot write %s: %s", options.outPath.c_str(),
                   cairo_status_to_string(s));
      ok = false;
    }
  } else {
    cairo_surface_finish(surface);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
      *error = Fmt("cannot write %s: %s", options.outPath.c_str(),
                   cairo_status_to_string(cairo_surface_status(surface)));
      ok = false;
    }
  }
  cairo_surface_destroy(surface);
  if (!ok) return false;
  std::string problems;
  for (size_t i = 0; i < skipped.size() && i < 20; i++) problems += skipped[i] + "\n";
  if (skipped.size() > 20) problems += Fmt("... and %zu more\n", skipped.size() - 20);
  if (!late.empty())
    problems += late + "\nthe picture as far as it could be read is in " +
                options.outPath + "\n";
  if (!problems.empty()) {
    problems.pop_back();
    *error = problems;
    return false;
  }
  return true;
}

}  // namespace cgmd
