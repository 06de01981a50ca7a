// Streaming PNG decoding from memory. Rows come out one at a time as 8-bit
// RGBA with straight (not premultiplied) alpha, so callers that only need a
// reduced view of a large image never hold the whole image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace addon {

// What the chunks before the image data say about a PNG.
struct PngHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  bool interlaced = false;
  // Frames announced by an animation control chunk; 1 for a still image.
  uint32_t frames = 1;
  // Orientation from an embedded EXIF block (1..8, 1 = as stored).
  int orientation = 1;
};

// Checks the signature and walks the chunks up to the first image data chunk.
// Returns nullopt when the bytes are not a PNG or the header chunk is missing
// or malformed; chunk checksums are left to the decoder.
std::optional<PngHeader> ReadPngHeader(const uint8_t* data, size_t len);

// One decoded row, or one row of an interlace pass: `count` pixels that belong
// at image columns x0, x0 + dx, x0 + 2 * dx, ... of image row `y`.
struct PngRow {
  uint32_t y = 0;
  uint32_t x0 = 0;
  uint32_t dx = 1;
  uint32_t count = 0;
  const uint8_t* rgba = nullptr;
};

// Decodes every pixel of the PNG and hands the rows to `sink` in file order.
// Any palette, grey, 16-bit or transparency-key layout is converted to 8-bit
// RGBA. Images wider or taller than max_side are refused before any pixel is
// decoded. Returns false on any malformed, truncated or refused input; rows
// already delivered then describe only part of the image.
bool DecodePngRows(const uint8_t* data, size_t len, uint32_t max_side,
                   const std::function<void(const PngRow&)>& sink);

// A whole decoded image, straight-alpha RGBA rows of width * 4 bytes.
struct DecodedPng {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgba;
};

// Decodes a whole PNG; refuses images of more than max_pixels pixels.
std::optional<DecodedPng> DecodePng(const uint8_t* data, size_t len, uint64_t max_pixels);

}  // namespace addon
