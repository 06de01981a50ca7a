// Encoding of platform bitmaps as PNG or JPEG, carried as Base64 text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "image/base64.h"
#include "platform/value.h"

namespace addon {

// The encoder's result. Created empty (ok false) and filled only on success.
struct EncodedImageData {
  bool ok = false;
  std::string format;  // "png" or "jpeg" when ok
  Base64Text data;     // the encoded bytes in Base64 when ok
};

// Longest side of an encoded image; larger images are scaled down to it.
constexpr int kEncodeMaxSide = 1920;
// Encoded images larger than this are refused rather than handed out.
constexpr size_t kEncodeMaxBytes = 12582912;

// Encodes `image` (premultiplied RGBA) as JPEG when `format` is exactly "jpeg"
// or "jpg", otherwise as PNG, after scaling it so that its longer side is at
// most kEncodeMaxSide. `quality` (0..1) applies to JPEG only. A missing or
// empty image, a failed encode or an encoded size above kEncodeMaxBytes yields
// a record that is not ok. Safe to call from any thread.
// The PNG file bytes of `image` at its own size (no scaling), refused above
// kEncodeMaxBytes. Safe to call from any thread.
bool EncodePngBytes(const platform::Image& image, std::vector<uint8_t>* out);

EncodedImageData EncodeImageData(const platform::Image& image, const std::string& format,
                                 double quality);

}  // namespace addon
