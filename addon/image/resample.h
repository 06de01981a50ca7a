// Separable Lanczos-3 resampling of premultiplied RGBA bitmaps.
#pragma once

#include <cstddef>
#include <cstdint>

namespace addon {

// Scales `src` (sw x sh pixels, rows `src_stride` bytes apart) into `dst`
// (dw x dh pixels, rows dw * 4 bytes). Both hold 8-bit RGBA with premultiplied
// alpha; every output colour channel stays at or below its alpha. Returns false
// for empty or negative sizes.
bool ResampleRgba(const uint8_t* src, int sw, int sh, size_t src_stride, uint8_t* dst, int dw,
                  int dh);

}  // namespace addon
