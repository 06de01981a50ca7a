// Premultiplied RGBA bitmaps and cairo's ARGB32 image surfaces, and drawing
// one scaled into another, for the backends that render with cairo.
#pragma once

#include "platform/value.h"

typedef struct _cairo_surface cairo_surface_t;

namespace common {

// A new ARGB32 surface holding a copy of `img` (premultiplied RGBA); null
// when the surface cannot be made. The caller destroys it.
cairo_surface_t* CairoSurfaceOfRgba(const platform::Bitmap& img);
// The pixels of an ARGB32 image surface as premultiplied RGBA.
platform::Image RgbaOfCairoSurface(cairo_surface_t* surface);

// Paints `src` over `dst` scaled by (sx, sy) and then moved by (dx, dy)
// pixels, sampled with cairo's good filter.
void PaintScaled(cairo_surface_t* dst, cairo_surface_t* src, double sx, double sy, double dx,
                 double dy);

// `src` scaled into out_w x out_h pixels: stretched, or with `keep_aspect`
// fitted and centred on transparency. Null for empty sizes.
platform::Image ScaleRgba(cairo_surface_t* src, int out_w, int out_h, bool keep_aspect);
platform::Image ScaleRgba(const platform::Bitmap& src, int out_w, int out_h, bool keep_aspect);

}  // namespace common
