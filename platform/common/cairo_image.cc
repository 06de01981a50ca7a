#include "common/cairo_image.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>

namespace common {

cairo_surface_t* CairoSurfaceOfRgba(const platform::Bitmap& img) {
  if (img.width < 1 || img.height < 1 ||
      img.rgba.size() < static_cast<size_t>(img.width) * img.height * 4)
    return nullptr;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, img.width, img.height);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  cairo_surface_flush(s);
  uint8_t* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < img.height; ++y) {
    const uint8_t* p = img.rgba.data() + static_cast<size_t>(y) * img.width * 4;
    auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < img.width; ++x, p += 4)
      row[x] = (uint32_t(p[3]) << 24) | (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
  }
  cairo_surface_mark_dirty(s);
  return s;
}

platform::Image RgbaOfCairoSurface(cairo_surface_t* surface) {
  if (!surface || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_surface_flush(surface);
  const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const uint8_t* data = cairo_image_surface_get_data(surface);
  if (!data || w < 1 || h < 1) return nullptr;
  auto bmp = std::make_shared<platform::Bitmap>();
  bmp->width = w;
  bmp->height = h;
  bmp->rgba.resize(static_cast<size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
    uint8_t* o = bmp->rgba.data() + static_cast<size_t>(y) * w * 4;
    for (int x = 0; x < w; ++x, o += 4) {
      const uint32_t p = row[x];  // premultiplied ARGB in native order
      o[0] = (p >> 16) & 0xFF;
      o[1] = (p >> 8) & 0xFF;
      o[2] = p & 0xFF;
      o[3] = p >> 24;
    }
  }
  return bmp;
}

void PaintScaled(cairo_surface_t* dst, cairo_surface_t* src, double sx, double sy, double dx,
                 double dy) {
  cairo_t* cr = cairo_create(dst);
  cairo_translate(cr, dx, dy);
  cairo_scale(cr, sx, sy);
  cairo_set_source_surface(cr, src, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(dst);
}

platform::Image ScaleRgba(cairo_surface_t* src, int out_w, int out_h, bool keep_aspect) {
  if (!src || out_w < 1 || out_h < 1) return nullptr;
  const int w = cairo_image_surface_get_width(src), h = cairo_image_surface_get_height(src);
  if (w < 1 || h < 1) return nullptr;
  cairo_surface_t* dst = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, out_w, out_h);
  double sx = static_cast<double>(out_w) / w, sy = static_cast<double>(out_h) / h;
  double dx = 0, dy = 0;
  if (keep_aspect) {
    sx = sy = std::min(sx, sy);
    dx = (out_w - w * sx) / 2;
    dy = (out_h - h * sy) / 2;
  }
  PaintScaled(dst, src, sx, sy, dx, dy);
  platform::Image out = RgbaOfCairoSurface(dst);
  cairo_surface_destroy(dst);
  return out;
}

platform::Image ScaleRgba(const platform::Bitmap& src, int out_w, int out_h, bool keep_aspect) {
  cairo_surface_t* s = CairoSurfaceOfRgba(src);
  if (!s) return nullptr;
  platform::Image out = ScaleRgba(s, out_w, out_h, keep_aspect);
  cairo_surface_destroy(s);
  return out;
}

}  // namespace common
