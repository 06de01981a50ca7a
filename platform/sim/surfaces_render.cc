// cairo drawing of the simulated surfaces' layer trees, and text metrics from
// a fixed font file so text widths are the same on every machine that has the
// font package installed.
#include <cairo-ft.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <mutex>

#include "common/cairo_image.h"
#include "sim/surfaces.h"

namespace sim {

namespace {

const char* const kRegularFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* const kBoldFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

// Font faces live for the whole process (cairo keeps pointers into them).
struct Fonts {
  std::mutex mu;
  FT_Library lib = nullptr;
  bool tried = false;
  cairo_font_face_t* regular = nullptr;
  cairo_font_face_t* bold = nullptr;
};

Fonts& TheFonts() {
  static Fonts* f = new Fonts();
  return *f;
}

cairo_font_face_t* LoadFace(FT_Library lib, const char* path) {
  FT_Face face = nullptr;
  if (FT_New_Face(lib, path, 0, &face) != 0) return nullptr;
  cairo_font_face_t* cf = cairo_ft_font_face_create_for_ft_face(face, 0);
  if (cairo_font_face_status(cf) != CAIRO_STATUS_SUCCESS) {
    cairo_font_face_destroy(cf);
    FT_Done_Face(face);
    return nullptr;
  }
  return cf;
}

// The face for a weight (medium and lighter use the regular face); null when
// the font package is missing.
cairo_font_face_t* FaceFor(int weight) {
  Fonts& f = TheFonts();
  std::lock_guard<std::mutex> l(f.mu);
  if (!f.tried) {
    f.tried = true;
    if (FT_Init_FreeType(&f.lib) == 0) {
      f.regular = LoadFace(f.lib, kRegularFont);
      f.bold = LoadFace(f.lib, kBoldFont);
    }
  }
  if (weight >= 600 && f.bold) return f.bold;
  return f.regular;
}

// Unhinted metrics: widths depend on the font only, not on the rendering
// resolution.
void SetFont(cairo_t* cr, double size, int weight) {
  cairo_font_face_t* face = FaceFor(weight);
  if (face) {
    cairo_set_font_face(cr, face);
  } else {
    cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL,
                           weight >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  }
  cairo_set_font_size(cr, size);
  cairo_font_options_t* opt = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(opt, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_hint_style(opt, CAIRO_HINT_STYLE_NONE);
  cairo_set_font_options(cr, opt);
  cairo_font_options_destroy(opt);
}

void SetColor(cairo_t* cr, const platform::Rgba& c) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a); }

void RoundedRect(cairo_t* cr, const platform::Rect& r, double radius) {
  radius = std::max(0.0, std::min({radius, r.width / 2, r.height / 2}));
  if (radius <= 0) {
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    return;
  }
  cairo_new_sub_path(cr);
  cairo_arc(cr, r.x + r.width - radius, r.y + radius, radius, -M_PI / 2, 0);
  cairo_arc(cr, r.x + r.width - radius, r.y + r.height - radius, radius, 0, M_PI / 2);
  cairo_arc(cr, r.x + radius, r.y + r.height - radius, radius, M_PI / 2, M_PI);
  cairo_arc(cr, r.x + radius, r.y + radius, radius, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

void AppendPath(cairo_t* cr, const platform::Path& path) {
  for (const auto& e : path) {
    switch (e.op) {
      case platform::PathOp::kMove: cairo_move_to(cr, e.p[0].x, e.p[0].y); break;
      case platform::PathOp::kLine: cairo_line_to(cr, e.p[0].x, e.p[0].y); break;
      case platform::PathOp::kCurve:
        cairo_curve_to(cr, e.p[0].x, e.p[0].y, e.p[1].x, e.p[1].y, e.p[2].x, e.p[2].y);
        break;
      case platform::PathOp::kClose: cairo_close_path(cr); break;
    }
  }
}

// The value of a track at `elapsed` seconds, or false once it has ended (the
// model value shows again, as no fill mode is used).
bool TrackValue(const platform::AnimationTrack& t, double elapsed, double* out) {
  if (t.values.empty() || !(t.duration > 0) || elapsed < 0 || elapsed > t.duration) return false;
  double f = elapsed / t.duration;
  size_t n = t.values.size();
  if (n == 1) {
    *out = t.values[0];
    return true;
  }
  auto time_at = [&](size_t i) {
    return t.key_times.size() == n ? t.key_times[i] : static_cast<double>(i) / (n - 1);
  };
  for (size_t i = 0; i + 1 < n; ++i) {
    double a = time_at(i), b = time_at(i + 1);
    if (f <= b || i + 2 == n) {
      double u = b > a ? std::clamp((f - a) / (b - a), 0.0, 1.0) : 1.0;
      *out = t.values[i] + (t.values[i + 1] - t.values[i]) * u;
      return true;
    }
  }
  return false;
}

// Opacity and extra scale of a layer as presented now.
void Presented(const SimLayer& l, double now, double* opacity, double* scale) {
  *opacity = l.state.opacity;
  *scale = 1.0;
  for (const auto& [key, a] : l.animations) {
    double elapsed = now - a.begin_s;
    if (elapsed > a.anim.duration && a.anim.duration > 0) continue;
    for (const auto& t : a.anim.tracks) {
      double v;
      if (!TrackValue(t, elapsed, &v)) continue;
      if (t.key_path == "opacity") *opacity = v;
      if (t.key_path == "transform.scale") *scale = v;
    }
  }
}

void DrawText(cairo_t* cr, const SimLayer& l) {
  const auto& st = l.state;
  if (st.text.empty()) return;
  SetFont(cr, st.font_size, st.font_weight);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  cairo_text_extents_t te;
  cairo_text_extents(cr, st.text.c_str(), &te);
  double x = st.bounds.x;
  if (st.text_centered) x += (st.bounds.width - te.x_advance) / 2;
  // Text sits at the top of the layer; the layer space is y-up, glyphs are
  // drawn upright.
  double baseline = st.bounds.y + st.bounds.height - fe.ascent;
  cairo_save(cr);
  cairo_translate(cr, x, baseline);
  cairo_scale(cr, 1, -1);
  SetColor(cr, st.text_color);
  cairo_move_to(cr, 0, 0);
  cairo_show_text(cr, st.text.c_str());
  cairo_restore(cr);
}

// An image layer's bitmap, scaled to fit its bounds (aspect kept, centred).
void DrawContents(cairo_t* cr, const SimLayer& l) {
  const platform::Image& img = l.contents;
  const auto& b = l.state.bounds;
  if (!img || img->width < 1 || img->height < 1 || !(b.width > 0) || !(b.height > 0)) return;
  cairo_surface_t* src = common::CairoSurfaceOfRgba(*img);
  if (!src) return;
  double k = std::min(b.width / img->width, b.height / img->height);
  double w = img->width * k, h = img->height * k;
  cairo_save(cr);
  // Layer space is y up; the bitmap's rows run top to bottom.
  cairo_translate(cr, b.x + (b.width - w) / 2, b.y + (b.height + h) / 2);
  cairo_scale(cr, k, -k);
  cairo_set_source_surface(cr, src, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_rectangle(cr, 0, 0, img->width, img->height);
  cairo_fill(cr);
  cairo_restore(cr);
  cairo_surface_destroy(src);
}

void DrawLayer(cairo_t* cr, SurfaceStore& s, platform::LayerId id, double now, int depth) {
  auto it = s.layers.find(id);
  if (it == s.layers.end() || depth > 64) return;
  SimLayer& l = it->second;
  PruneAnimations(l, now);
  const auto& st = l.state;
  if (st.hidden) return;
  double opacity, scale;
  Presented(l, now, &opacity, &scale);
  if (!(opacity > 0)) return;

  cairo_save(cr);
  platform::Point anchor{st.bounds.x + st.anchor.x * st.bounds.width,
                         st.bounds.y + st.anchor.y * st.bounds.height};
  platform::Affine t = platform::Affine::Scale(scale, scale).Then(st.transform);
  cairo_translate(cr, st.position.x, st.position.y);
  cairo_matrix_t m;
  cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
  cairo_transform(cr, &m);
  cairo_translate(cr, -anchor.x, -anchor.y);
  bool group = opacity < 1.0;
  if (group) cairo_push_group(cr);

  if (st.background.a > 0) {
    RoundedRect(cr, st.bounds, st.corner_radius);
    SetColor(cr, st.background);
    cairo_fill(cr);
  }
  if (l.kind == platform::LayerKind::kShape && !st.path.empty()) {
    cairo_new_path(cr);
    AppendPath(cr, st.path);
    if (st.fill.a > 0) {
      SetColor(cr, st.fill);
      cairo_fill_preserve(cr);
    }
    if (st.stroke.a > 0 && st.line_width > 0) {
      cairo_set_line_width(cr, st.line_width);
      cairo_set_line_cap(cr, st.round_caps_and_joins ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_BUTT);
      cairo_set_line_join(cr, st.round_caps_and_joins ? CAIRO_LINE_JOIN_ROUND : CAIRO_LINE_JOIN_MITER);
      SetColor(cr, st.stroke);
      cairo_stroke_preserve(cr);
    }
    cairo_new_path(cr);
  }
  if (l.kind == platform::LayerKind::kText) DrawText(cr, l);
  if (l.kind == platform::LayerKind::kImage) DrawContents(cr, l);

  cairo_save(cr);
  if (st.masks_to_bounds) {
    RoundedRect(cr, st.bounds, st.corner_radius);
    cairo_clip(cr);
  }
  std::vector<platform::LayerId> kids = l.children;
  for (auto k : kids) DrawLayer(cr, s, k, now, depth + 1);
  cairo_restore(cr);

  if (st.border_width > 0 && st.border_color.a > 0) {
    platform::Rect r{st.bounds.x + st.border_width / 2, st.bounds.y + st.border_width / 2,
                     st.bounds.width - st.border_width, st.bounds.height - st.border_width};
    RoundedRect(cr, r, st.corner_radius - st.border_width / 2);
    cairo_set_line_width(cr, st.border_width);
    SetColor(cr, st.border_color);
    cairo_stroke(cr);
  }
  if (group) {
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, opacity);
  }
  cairo_restore(cr);
}

}  // namespace

bool DrawWindowLayers(SurfaceStore& s, const SimSurfaceWindow& win, platform::Rect region,
                      int width_px, int height_px, std::vector<uint8_t>* rgba) {
  if (!(region.width > 0) || !(region.height > 0)) return false;
  cairo_surface_t* surf = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width_px, height_px);
  if (cairo_surface_status(surf) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surf);
    return false;
  }
  cairo_t* cr = cairo_create(surf);
  double sx = width_px / region.width, sy = height_px / region.height;
  // Window content space (y up) to image pixels (y down).
  cairo_matrix_t m;
  cairo_matrix_init(&m, sx, 0, 0, -sy, -region.x * sx, (region.y + region.height) * sy);
  cairo_set_matrix(cr, &m);
  DrawLayer(cr, s, win.content, NowSeconds(), 0);
  cairo_destroy(cr);
  platform::Image pixels = common::RgbaOfCairoSurface(surf);
  cairo_surface_destroy(surf);
  if (!pixels) return false;
  *rgba = pixels->rgba;
  return true;
}

bool MeasureLine(const std::string& utf8, double size, int weight, platform::Size* out) {
  if (!out || !FaceFor(weight)) return false;
  cairo_surface_t* surf = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
  cairo_t* cr = cairo_create(surf);
  SetFont(cr, size, weight);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  cairo_text_extents_t te;
  cairo_text_extents(cr, utf8.c_str(), &te);
  bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  out->width = te.x_advance;
  out->height = fe.ascent + fe.descent;
  cairo_destroy(cr);
  cairo_surface_destroy(surf);
  return ok;
}

}  // namespace sim
