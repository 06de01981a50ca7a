// Pictures of the simulated desktop (cairo): a window drawn from its elements
// (frames, titles, text values, controls) at its display's scale, and
// application icons. The pictures are meant to be looked at.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "common/cairo_image.h"
#include "sim/attributes.h"
#include "sim/services.h"

namespace sim {

namespace {

constexpr int kMaxSide = 16384;

struct Rgb {
  double r, g, b;
};

void Fill(cairo_t* cr, Rgb c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

void RoundRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  r = std::min({r, w / 2, h / 2});
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

void Text(cairo_t* cr, const std::string& s, double x, double y, double size, Rgb c,
          bool bold = false) {
  cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  Fill(cr, c);
  cairo_move_to(cr, x, y);
  cairo_show_text(cr, s.c_str());
}

void CenteredText(cairo_t* cr, const std::string& s, double x, double y, double w, double h,
                  double size, Rgb c, bool bold = false) {
  cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_text_extents_t ext;
  cairo_text_extents(cr, s.c_str(), &ext);
  Text(cr, s, x + (w - ext.x_advance) / 2, y + h / 2 + size * 0.35, size, c, bold);
}

// Multi-line text clipped to a box.
void TextBox(cairo_t* cr, const std::string& s, double x, double y, double w, double h,
             double size, Rgb c) {
  cairo_save(cr);
  cairo_rectangle(cr, x, y, w, h);
  cairo_clip(cr);
  double line_y = y + size + 2;
  size_t start = 0;
  while (start <= s.size() && line_y < y + h + size) {
    size_t nl = s.find('\n', start);
    std::string line = s.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    Text(cr, line, x + 4, line_y, size, c);
    if (nl == std::string::npos) break;
    start = nl + 1;
    line_y += size * 1.3;
  }
  cairo_restore(cr);
}

std::string Attr(const Node& n, const char* name) {
  auto it = n.attrs.find(name);
  return it == n.attrs.end() ? "" : ValueText(it->second);
}

const Rgb kInk{0.12, 0.12, 0.14};
const Rgb kBorder{0.62, 0.62, 0.66};
const Rgb kWhite{1, 1, 1};
const Rgb kAccent{0.16, 0.45, 0.93};

void DrawElement(cairo_t* cr, const NodePtr& n, const platform::Rect& origin, bool focused) {
  if (!n->frame) return;
  double x = n->frame->x - origin.x, y = n->frame->y - origin.y;
  double w = n->frame->width, h = n->frame->height;
  if (w <= 0 || h <= 0) return;
  std::string title = Attr(*n, "AXTitle");
  std::string value = Attr(*n, "AXValue");
  const std::string& role = n->role;
  cairo_set_line_width(cr, 1);
  if (role == "AXButton" || role == "AXPopUpButton" || role == "AXMenuButton") {
    RoundRect(cr, x + 0.5, y + 0.5, w - 1, h - 1, 5);
    bool is_default = Attr(*n, "AXIdentifier") == "OKButton" || n->subrole == "AXDefaultButton";
    Fill(cr, is_default ? kAccent : kWhite);
    cairo_fill_preserve(cr);
    Fill(cr, kBorder);
    cairo_stroke(cr);
    std::string label = role == "AXPopUpButton" ? value + "  \u25BE" : title;
    if (label.empty()) label = Attr(*n, "AXDescription");
    CenteredText(cr, label, x, y, w, h, std::min(13.0, h * 0.6), is_default ? kWhite : kInk);
  } else if (IsTextRole(role)) {
    cairo_rectangle(cr, x + 0.5, y + 0.5, w - 1, h - 1);
    Fill(cr, kWhite);
    cairo_fill_preserve(cr);
    Fill(cr, focused ? kAccent : kBorder);
    cairo_set_line_width(cr, focused ? 2 : 1);
    cairo_stroke(cr);
    TextBox(cr, value.empty() ? Attr(*n, "AXPlaceholderValue") : value, x, y, w, h,
            std::min(13.0, std::max(6.0, h - 8)), value.empty() ? kBorder : kInk);
  } else if (role == "AXStaticText") {
    TextBox(cr, value.empty() ? title : value, x, y - 2, w, h + 4, std::min(13.0, h), kInk);
  } else if (role == "AXCheckBox" || role == "AXRadioButton") {
    double s = std::min(h, 14.0);
    RoundRect(cr, x + 0.5, y + (h - s) / 2 + 0.5, s, s, role == "AXRadioButton" ? s / 2 : 3);
    bool on = value == "1" || value == "true";
    Fill(cr, on ? kAccent : kWhite);
    cairo_fill_preserve(cr);
    Fill(cr, kBorder);
    cairo_stroke(cr);
    if (on) {
      cairo_set_line_width(cr, 2);
      Fill(cr, kWhite);
      cairo_move_to(cr, x + s * 0.25, y + h / 2);
      cairo_line_to(cr, x + s * 0.45, y + h / 2 + s * 0.22);
      cairo_line_to(cr, x + s * 0.78, y + h / 2 - s * 0.25);
      cairo_stroke(cr);
    }
    Text(cr, title, x + s + 6, y + h / 2 + 4.5, 13, kInk);
  } else if (role == "AXSlider") {
    double mn = 0, mx = 100;
    if (auto it = n->attrs.find("AXMinValue"); it != n->attrs.end()) mn = it->second.as_double(0);
    if (auto it = n->attrs.find("AXMaxValue"); it != n->attrs.end()) mx = it->second.as_double(100);
    double v = 0;
    if (auto it = n->attrs.find("AXValue"); it != n->attrs.end()) v = it->second.as_double(0);
    double f = mx > mn ? std::clamp((v - mn) / (mx - mn), 0.0, 1.0) : 0;
    RoundRect(cr, x, y + h / 2 - 2, w, 4, 2);
    Fill(cr, kBorder);
    cairo_fill(cr);
    RoundRect(cr, x, y + h / 2 - 2, w * f, 4, 2);
    Fill(cr, kAccent);
    cairo_fill(cr);
    cairo_arc(cr, x + w * f, y + h / 2, std::min(h / 2, 8.0), 0, 2 * M_PI);
    Fill(cr, kWhite);
    cairo_fill_preserve(cr);
    Fill(cr, kBorder);
    cairo_stroke(cr);
  } else if (role == "AXToolbar") {
    cairo_rectangle(cr, x, y, w, h);
    Fill(cr, {0.90, 0.90, 0.92});
    cairo_fill(cr);
  } else if (role == "AXList" || role == "AXTable" || role == "AXOutline") {
    cairo_rectangle(cr, x, y, w, h);
    Fill(cr, {0.96, 0.96, 0.97});
    cairo_fill(cr);
  } else if (role == "AXRow" || role == "AXCell") {
    bool selected = n->attrs.count("AXSelected") && n->attrs.at("AXSelected").as_bool();
    if (selected) {
      RoundRect(cr, x + 2, y + 1, w - 4, h - 2, 4);
      Fill(cr, kAccent);
      cairo_fill(cr);
    }
    Text(cr, title.empty() ? value : title, x + 10, y + h / 2 + 4.5, std::min(13.0, h * 0.7),
         selected ? kWhite : kInk);
  } else if (role == "AXScrollArea" || role == "AXGroup" || role == "AXSheet" || role == "AXDialog") {
    cairo_rectangle(cr, x + 0.5, y + 0.5, w - 1, h - 1);
    if (role == "AXSheet" || role == "AXDialog") {
      Fill(cr, {0.97, 0.97, 0.98});
      cairo_fill_preserve(cr);
    }
    Fill(cr, {0.80, 0.80, 0.83});
    cairo_stroke(cr);
  } else if (role == "AXImage") {
    cairo_rectangle(cr, x, y, w, h);
    Fill(cr, {0.75, 0.82, 0.92});
    cairo_fill(cr);
  } else {
    cairo_rectangle(cr, x + 0.5, y + 0.5, w - 1, h - 1);
    Fill(cr, {0.85, 0.85, 0.88});
    cairo_stroke(cr);
    if (!title.empty()) Text(cr, title, x + 4, y + std::min(h, 14.0), 12, kInk);
  }
}

void DrawTree(cairo_t* cr, World& w, const NodePtr& n, const platform::Rect& origin,
              const NodePtr& root, const std::string& focused_id, int depth) {
  if (depth > 64) return;
  for (auto& k : ShownChildren(n)) {
    // A nested surface with its own window is a separate picture.
    if (k->window_number != 0 && k != root) continue;
    DrawElement(cr, k, origin, k->id == focused_id);
    DrawTree(cr, w, k, origin, root, focused_id, depth + 1);
  }
}

}  // namespace

namespace {

// Draws the window in its own points (origin at its top left) into `cr`.
void DrawWindow(cairo_t* cr, World& w, const CgWindow& cw) {
  double bw = cw.bounds.width, bh = cw.bounds.height;
  bool sheet = cw.element && cw.element->role != "AXWindow";
  RoundRect(cr, 0, 0, bw, bh, sheet ? 0 : 10);
  Fill(cr, {0.93, 0.93, 0.94});
  cairo_fill(cr);
  if (!sheet && bh > 30) {
    cairo_save(cr);
    RoundRect(cr, 0, 0, bw, bh, 10);
    cairo_clip(cr);
    cairo_rectangle(cr, 0, 0, bw, 28);
    Fill(cr, {0.86, 0.86, 0.88});
    cairo_fill(cr);
    cairo_restore(cr);
    const Rgb lights[] = {{1.0, 0.37, 0.34}, {1.0, 0.74, 0.18}, {0.16, 0.79, 0.25}};
    for (int i = 0; i < 3; ++i) {
      cairo_arc(cr, 14 + i * 20, 14, 6, 0, 2 * M_PI);
      Fill(cr, lights[i]);
      cairo_fill(cr);
    }
    std::string title = cw.element ? Attr(*cw.element, "AXTitle") : cw.title;
    CenteredText(cr, title, 0, 0, bw, 28, 13, kInk, true);
  }
  if (cw.element) {
    auto app = FocusApp(w, cw.element);
    std::string focused = app ? app->focused_element_id : "";
    DrawTree(cr, w, cw.element, cw.bounds, cw.element, focused, 0);
  }
}

// The window drawn into a width x height surface scaled by (sx, sy) and
// moved by (dx, dy) pixels.
platform::Image RenderWindowInto(World& w, const CgWindow& cw, double width, double height,
                                 double sx, double sy, double dx, double dy) {
  if (!(width >= 1 && height >= 1) || width > kMaxSide || height > kMaxSide) return nullptr;
  cairo_surface_t* surface = cairo_image_surface_create(
      CAIRO_FORMAT_ARGB32, static_cast<int>(width), static_cast<int>(height));
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  cairo_t* cr = cairo_create(surface);
  cairo_translate(cr, dx, dy);
  cairo_scale(cr, sx, sy);
  DrawWindow(cr, w, cw);
  cairo_destroy(cr);
  platform::Image img = common::RgbaOfCairoSurface(surface);
  cairo_surface_destroy(surface);
  return img;
}

}  // namespace

platform::Image RenderWindow(World& w, const CgWindow& cw) {
  double scale = ScaleAt(w, {cw.bounds.x + 1, cw.bounds.y + 1});
  double pw = std::ceil(cw.bounds.width * scale), ph = std::ceil(cw.bounds.height * scale);
  return RenderWindowInto(w, cw, pw, ph, scale, scale, 0, 0);
}

platform::Image RenderWindowScaled(World& w, const CgWindow& cw, int out_w, int out_h,
                                   bool keep_aspect) {
  const double bw = cw.bounds.width, bh = cw.bounds.height;
  if (!(bw > 0) || !(bh > 0)) return nullptr;
  double sx = out_w / bw, sy = out_h / bh, dx = 0, dy = 0;
  if (keep_aspect) {
    sx = sy = std::min(sx, sy);
    dx = (out_w - bw * sx) / 2;
    dy = (out_h - bh * sy) / 2;
  }
  return RenderWindowInto(w, cw, out_w, out_h, sx, sy, dx, dy);
}

platform::Image RenderIcon(const std::string& label, const std::string& seed, int size) {
  if (size <= 0 || size > 4096) return nullptr;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
  cairo_t* cr = cairo_create(surface);
  size_t h = std::hash<std::string>()(seed);
  double hue = static_cast<double>(h % 360) / 360.0;
  auto channel = [&](double offset) {
    double t = std::fmod(hue + offset, 1.0);
    return 0.35 + 0.5 * (0.5 + 0.5 * std::cos(2 * M_PI * t));
  };
  double s = size;
  cairo_pattern_t* grad = cairo_pattern_create_linear(0, 0, 0, s);
  cairo_pattern_add_color_stop_rgb(grad, 0, channel(0), channel(0.33), channel(0.66));
  cairo_pattern_add_color_stop_rgb(grad, 1, channel(0) * 0.7, channel(0.33) * 0.7,
                                   channel(0.66) * 0.7);
  RoundRect(cr, s * 0.06, s * 0.06, s * 0.88, s * 0.88, s * 0.2);
  cairo_set_source(cr, grad);
  cairo_fill(cr);
  cairo_pattern_destroy(grad);
  std::string letter = label.empty() ? "?" : label.substr(0, 1);
  CenteredText(cr, letter, 0, 0, s, s, s * 0.5, kWhite, true);
  cairo_destroy(cr);
  platform::Image img = common::RgbaOfCairoSurface(surface);
  cairo_surface_destroy(surface);
  return img;
}

}  // namespace sim
