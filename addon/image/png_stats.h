// Cheap content statistics of a PNG: how much of a small sample of the image
// is visible, how many colour buckets its visible pixels fall into and how far
// their channels range. Used to tell blank or uniform captures from real ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace addon {

struct PngContentStats {
  uint32_t width = 0;   // the PNG's pixel size
  uint32_t height = 0;
  uint32_t sample_width = 0;  // the sample the statistics are taken over (at most 64 x 64)
  uint32_t sample_height = 0;
  uint32_t sampled_pixel_count = 0;
  uint32_t visible_pixel_count = 0;  // sample pixels with alpha >= 16
  uint32_t distinct_color_bucket_count = 0;
  uint32_t dominant_color_pixel_count = 0;
  uint32_t max_channel_range = 0;
  uint32_t min_visible_channel = 0;
  uint32_t max_visible_channel = 0;
};

// Largest input accepted, and the longest side of the sample.
constexpr size_t kPngStatsMaxBytes = 64u << 20;
constexpr uint32_t kPngStatsSampleSide = 64;

// Statistics of the single image held in `data`; nullopt when the bytes are
// not a PNG of one image with sane dimensions, or cannot be decoded. Memory use
// does not grow with the image: rows are folded into the sample as they are
// decoded.
std::optional<PngContentStats> InspectPngBytes(const uint8_t* data, size_t len);

}  // namespace addon
