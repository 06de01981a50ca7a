#include "image/png_stats.h"

#include <algorithm>
#include <vector>

#include "image/png_decode.h"

namespace addon {
namespace {

constexpr size_t kMinBytes = 33;
constexpr uint32_t kMaxSide = 131072;
constexpr uint32_t kMaxPixels = 67108864;
constexpr uint32_t kVisibleAlpha = 16;

// Sample size: the image itself when it fits in 64 x 64, otherwise the longer
// side becomes 64 and the shorter keeps the aspect ratio (at least 1).
void SampleSize(uint32_t w, uint32_t h, uint32_t* sw, uint32_t* sh) {
  if (w <= kPngStatsSampleSide && h <= kPngStatsSampleSide) {
    *sw = w;
    *sh = h;
    return;
  }
  const uint64_t side = kPngStatsSampleSide;
  if (w >= h) {
    *sw = kPngStatsSampleSide;
    *sh = static_cast<uint32_t>(std::max<uint64_t>(1, (uint64_t{h} * side + w / 2) / w));
  } else {
    *sh = kPngStatsSampleSide;
    *sw = static_cast<uint32_t>(std::max<uint64_t>(1, (uint64_t{w} * side + h / 2) / h));
  }
}

// Folds decoded rows into a sample of sw x sh cells. Each image pixel belongs
// to exactly one cell (column x to cell x * sw / w, row likewise) and a cell is
// the average of its pixels in premultiplied form, so a sample the size of the
// image is the image itself, premultiplied.
class SampleAccumulator {
 public:
  SampleAccumulator(uint32_t w, uint32_t h, uint32_t sw, uint32_t sh)
      : h_(h), sw_(sw), sh_(sh), column_cell_(w), cells_(static_cast<size_t>(sw) * sh) {
    for (uint32_t x = 0; x < w; ++x)
      column_cell_[x] = static_cast<uint8_t>(uint64_t{x} * sw / w);
  }

  void Add(const PngRow& row) {
    if (row.y >= h_) return;
    Cell* line = &cells_[static_cast<size_t>(uint64_t{row.y} * sh_ / h_) * sw_];
    const uint8_t* p = row.rgba;
    uint32_t x = row.x0;
    for (uint32_t i = 0; i < row.count; ++i, x += row.dx, p += 4) {
      if (x >= column_cell_.size()) break;
      Cell& c = line[column_cell_[x]];
      const uint32_t a = p[3];
      c.r += p[0] * a;
      c.g += p[1] * a;
      c.b += p[2] * a;
      c.a += a;
      c.n += 1;
    }
  }

  // The sample as premultiplied RGBA: each channel is the rounded mean of the
  // cell's premultiplied values (c * a / 255).
  std::vector<uint8_t> Finish() const {
    std::vector<uint8_t> out(cells_.size() * 4, 0);
    for (size_t i = 0; i < cells_.size(); ++i) {
      const Cell& c = cells_[i];
      if (c.n == 0) continue;
      const uint64_t scaled = c.n * 255;
      out[i * 4 + 0] = static_cast<uint8_t>((c.r + scaled / 2) / scaled);
      out[i * 4 + 1] = static_cast<uint8_t>((c.g + scaled / 2) / scaled);
      out[i * 4 + 2] = static_cast<uint8_t>((c.b + scaled / 2) / scaled);
      out[i * 4 + 3] = static_cast<uint8_t>((c.a + c.n / 2) / c.n);
    }
    return out;
  }

 private:
  struct Cell {
    uint64_t r = 0, g = 0, b = 0, a = 0, n = 0;
  };
  uint32_t h_, sw_, sh_;
  std::vector<uint8_t> column_cell_;  // cell index < 64 fits a byte
  std::vector<Cell> cells_;
};

void ComputeStats(const std::vector<uint8_t>& sample, PngContentStats* s) {
  std::vector<uint32_t> buckets(1u << 15, 0);
  uint32_t lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
  for (size_t i = 0; i + 3 < sample.size(); i += 4) {
    const uint32_t a = sample[i + 3];
    if (a < kVisibleAlpha) continue;
    ++s->visible_pixel_count;
    uint32_t c[3];
    for (int k = 0; k < 3; ++k) {
      c[k] = std::min<uint32_t>(255, (sample[i + k] * 255u + a / 2) / a);
      lo[k] = std::min(lo[k], c[k]);
      hi[k] = std::max(hi[k], c[k]);
    }
    const uint32_t bucket = ((c[0] >> 3) << 10) | ((c[1] >> 3) << 5) | (c[2] >> 3);
    if (buckets[bucket]++ == 0) ++s->distinct_color_bucket_count;
    s->dominant_color_pixel_count = std::max(s->dominant_color_pixel_count, buckets[bucket]);
  }
  if (s->visible_pixel_count == 0) return;  // the colour statistics stay 0
  s->min_visible_channel = std::min({lo[0], lo[1], lo[2]});
  s->max_visible_channel = std::max({hi[0], hi[1], hi[2]});
  s->max_channel_range = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
}

}  // namespace

std::optional<PngContentStats> InspectPngBytes(const uint8_t* data, size_t len) {
  if (!data || len < kMinBytes || len > kPngStatsMaxBytes) return std::nullopt;
  const std::optional<PngHeader> header = ReadPngHeader(data, len);
  if (!header || header->frames != 1) return std::nullopt;
  const uint32_t w = header->width, h = header->height;
  if (w < 1 || w > kMaxSide || h < 1 || h > kMaxSide || w > kMaxPixels / h) return std::nullopt;

  uint32_t sw = 0, sh = 0;
  SampleSize(w, h, &sw, &sh);
  SampleAccumulator acc(w, h, sw, sh);
  uint64_t delivered = 0;
  const bool ok = DecodePngRows(data, len, kMaxSide, [&](const PngRow& row) {
    acc.Add(row);
    delivered += row.count;
  });
  if (!ok || delivered != uint64_t{w} * h) return std::nullopt;

  PngContentStats s;
  s.width = w;
  s.height = h;
  // Orientations 5-8 turn the image a quarter turn, so the sample is shown
  // with its sides swapped; the statistics do not depend on pixel order.
  const bool turned = header->orientation >= 5;
  s.sample_width = turned ? sh : sw;
  s.sample_height = turned ? sw : sh;
  s.sampled_pixel_count = sw * sh;
  ComputeStats(acc.Finish(), &s);
  return s;
}

}  // namespace addon
