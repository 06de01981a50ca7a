// Image encoding throughput: a 3840x2160 screen-like frame scaled to
// 1920x1080 and encoded as PNG or JPEG, the scaling step alone, and Base64.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "image/base64.h"
#include "image/encode.h"
#include "image/resample.h"

namespace {

// Desktop-like content: a smooth wallpaper with slight noise, three windows
// with title bars, sidebars, buttons and lines of glyph-like strokes. Opaque.
std::shared_ptr<const platform::Bitmap> ScreenFrame() {
  static const std::shared_ptr<const platform::Bitmap> frame = [] {
    constexpr int w = 3840, h = 2160;
    auto b = std::make_shared<platform::Bitmap>();
    b->width = w;
    b->height = h;
    b->rgba.resize(static_cast<size_t>(w) * h * 4);
    uint32_t seed = 12345;
    auto rnd = [&] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    auto at = [&](int x, int y) { return &b->rgba[(static_cast<size_t>(y) * w + x) * 4]; };
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const double fx = static_cast<double>(x) / w, fy = static_cast<double>(y) / h;
        const int n = static_cast<int>(rnd() % 5) - 2;
        uint8_t* p = at(x, y);
        p[0] = static_cast<uint8_t>(std::clamp(60 + 80 * std::sin(fx * 3 + fy * 2) + n, 0.0, 255.0));
        p[1] = static_cast<uint8_t>(std::clamp(90 + 60 * std::cos(fx * 2 - fy * 4) + n, 0.0, 255.0));
        p[2] = static_cast<uint8_t>(
            std::clamp(150 + 70 * std::sin(fx * 5 + 1) * std::cos(fy * 3) + n, 0.0, 255.0));
        p[3] = 255;
      }
    auto fill = [&](int x0, int y0, int x1, int y1, uint8_t r, uint8_t g, uint8_t bl) {
      for (int y = std::max(0, y0); y < std::min(h, y1); ++y)
        for (int x = std::max(0, x0); x < std::min(w, x1); ++x) {
          uint8_t* p = at(x, y);
          p[0] = r;
          p[1] = g;
          p[2] = bl;
        }
    };
    const int windows[3][4] = {{200, 150, 2200, 1500}, {1700, 500, 1900, 1400}, {400, 1200, 1400, 850}};
    for (const auto& win : windows) {
      const int wx = win[0], wy = win[1], ww = win[2], wh = win[3];
      fill(wx, wy, wx + ww, wy + wh, 250, 250, 250);
      for (int y = 0; y < 56; ++y) {
        const auto v = static_cast<uint8_t>(236 - y / 2);
        fill(wx, wy + y, wx + ww, wy + y + 1, v, v, v);
      }
      fill(wx, wy + 56, wx + 400, wy + wh, 232, 236, 242);
      for (int k = 0; k < 6; ++k) fill(wx + 450 + k * 180, wy + 80, wx + 600 + k * 180, wy + 120, 40, 110, 230);
      for (int ly = wy + 160; ly + 20 < wy + wh; ly += 28) {
        int x = wx + 440;
        while (x < wx + ww - 60) {
          const int glyphs = 2 + static_cast<int>(rnd() % 9);
          for (int g = 0; g < glyphs && x < wx + ww - 20; ++g, x += 14) {
            const uint32_t bits = rnd();
            const auto v = static_cast<uint8_t>(30 + (bits >> 20) % 40);
            for (int gy = 0; gy < 20; ++gy)
              for (int gx = 0; gx < 11; ++gx)
                if (((bits >> ((gx / 3) + (gy / 5) * 4)) & 1) && (gx % 3 == 0 || gy % 5 == 0) &&
                    ly + gy < h && x + gx < w)
                  fill(x + gx, ly + gy, x + gx + 1, ly + gy + 1, v, v, v);
          }
          x += 14;
        }
      }
    }
    return b;
  }();
  return frame;
}

void BM_EncodePng4K(benchmark::State& state) {
  const platform::Image frame = ScreenFrame();
  size_t bytes = 0;
  for (auto _ : state) {
    auto r = addon::EncodeImageData(frame, "png", 0);
    bytes = r.data.size() / 4 * 3;
    benchmark::DoNotOptimize(r);
  }
  state.counters["encoded_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_EncodePng4K)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_EncodeJpeg4K(benchmark::State& state) {
  const platform::Image frame = ScreenFrame();
  size_t bytes = 0;
  for (auto _ : state) {
    auto r = addon::EncodeImageData(frame, "jpeg", 0.8);
    bytes = r.data.size() / 4 * 3;
    benchmark::DoNotOptimize(r);
  }
  state.counters["encoded_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_EncodeJpeg4K)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_Resample4KTo1080p(benchmark::State& state) {
  const platform::Image frame = ScreenFrame();
  std::vector<uint8_t> out(1920 * 1080 * 4);
  for (auto _ : state) {
    addon::ResampleRgba(frame->rgba.data(), 3840, 2160, 3840 * 4, out.data(), 1920, 1080);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Resample4KTo1080p)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Base64_8MiB(benchmark::State& state) {
  std::vector<uint8_t> data(8u << 20);
  uint32_t seed = 7;
  for (auto& b : data) b = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  for (auto _ : state) benchmark::DoNotOptimize(addon::Base64Encode(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Base64_8MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
