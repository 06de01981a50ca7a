// Ghost cursor costs: one 16 ms overlay step with four gliding cursors
// against a step with every cursor at rest, and rendering the overlay around
// a cursor to a 256x256 PNG against a plain cairo fill of the same size.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <string>
#include <vector>

#include "ghost/overlay.h"
#include "image/encode.h"
#include "platform/platform.h"

namespace {

std::vector<ghost::GhostGroup*> Groups() {
  ghost::S().explicitEnabled.store(true);
  ghost::S().multiSession = true;
  ghost::EnsureGhostInit();
  std::vector<ghost::GhostGroup*> out;
  for (int i = 1; i <= 4; ++i) {
    std::string key = "bench-" + std::to_string(i);
    ghost::GhostGroup* g = ghost::GroupForExplicitSession(key.c_str());
    ghost::BeginDirectFeedback(*g, 100.0 * i, 80.0 * i, false);
    out.push_back(g);
  }
  return out;
}

void BM_GhostStepFourGliding(benchmark::State& state) {
  auto groups = Groups();
  const ghost_motion::MotionParams params{};
  int n = 0;
  for (auto _ : state) {
    for (auto* g : groups) {
      if (!g->motion.gliding && !g->motion.settling) {
        double x = 50 + (++n * 137) % 1300, y = 50 + (n * 71) % 800;
        g->motion.MoveTo(x, y, ghost_motion::kRestHeading, params);
      }
    }
    ghost::OverlayStep(ghost_motion::kGhostTickSeconds);
  }
}
BENCHMARK(BM_GhostStepFourGliding);

void BM_GhostStepAtRest(benchmark::State& state) {
  auto groups = Groups();
  for (auto* g : groups) g->motion.SnapTo(g->motion.position.x, g->motion.position.y, 0);
  for (auto _ : state) ghost::OverlayStep(ghost_motion::kGhostTickSeconds);
}
BENCHMARK(BM_GhostStepAtRest);

void BM_GhostRenderPng256(benchmark::State& state) {
  auto groups = Groups();
  ghost::GhostGroup* g = groups[0];
  g->motion.SnapTo(300, 200, ghost_motion::kRestHeading);
  ghost::AttachGroupToScreen(*g);
  ghost::UpdateGroupLayout(*g);
  ghost::UpdateBadge(*g, "Benchmarking the badge");
  const auto& win = ghost::S().windows[0];
  platform::Point c = ghost::ToWindowContent(0, 300, 200);
  platform::Rect region{c.x - 64, c.y - 64, 128, 128};
  for (auto _ : state) {
    platform::Image img = platform::Get().surfaces().RenderWindow(win.window, region, 256, 256);
    std::vector<uint8_t> png;
    benchmark::DoNotOptimize(addon::EncodePngBytes(img, &png));
  }
}
BENCHMARK(BM_GhostRenderPng256);

void BM_CairoFill256(benchmark::State& state) {
  for (auto _ : state) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 256, 256);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgba(cr, 0.12, 0.55, 1.0, 0.5);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(s));
    cairo_surface_destroy(s);
  }
}
BENCHMARK(BM_CairoFill256);

}  // namespace
