#include "ghost/selftest.h"

namespace ghost_selftest {

using ghost_motion::CursorMotion;
using ghost_motion::kRestHeading;
using ghost_motion::MotionParams;

PaletteSelftest RunPaletteSelftest() {
  using namespace ghost_motion;
  PaletteSelftest r{};
  for (int i = 0; i < kSessionFillCount; ++i) r.palette[i] = SessionFillAt(i);

  static constexpr const char* kSampleKeys[7][2] = {
      {"default", "default"},
      {"(empty)", ""},
      {"agent-1", "agent-1"},
      {"agent-3", "agent-3"},
      {"a", "a"},
      {"z", "z"},
      {"sess_0d8f2b1e-4c6a-4d3f-9a1c-2e5b7a9f0c11", "sess_0d8f2b1e-4c6a-4d3f-9a1c-2e5b7a9f0c11"},
  };
  for (size_t i = 0; i < r.samples.size(); ++i) {
    r.samples[i] = {kSampleKeys[i][0], SessionFillForId(kSampleKeys[i][1])};
  }

  r.strokes = {{{"pineapple", SessionStrokeForFill(SessionFillAt(0))},
                {"blue", SessionStrokeForFill(kDefaultSessionFill)},
                {"raspberry", SessionStrokeForFill(SessionFillAt(8))}}};

  r.indices = {{{"agent-3", StableSessionIndex("agent-3", kSessionFillCount)},
                {"agent-12", StableSessionIndex("agent-12", kSessionFillCount)},
                {"a", StableSessionIndex("a", kSessionFillCount)}}};

  r.sanitize = {{{"control", SanitizeBadgeText("ab\x1C")},
                 {"collapse", SanitizeBadgeText("a  \t b")},
                 {"trim", SanitizeBadgeText(" abc ")},
                 {"cjk-keep", SanitizeBadgeText("打开系统设置")},
                 {"long-cut", SanitizeBadgeText("12345678901234567890123456789012345")}}};
  return r;
}

namespace {

constexpr double kCoarseDt = 1.0 / 60.0;
constexpr double kFineDt = 1.0 / 120.0;
constexpr int kArrivalTickBound = 600;
constexpr int kSettleTickBound = 2000;

CursorMotion StartGlide(double toX, double toY, const MotionParams& params) {
  CursorMotion m;
  m.SnapTo(0.0, 0.0, kRestHeading);
  m.MoveTo(toX, toY, kRestHeading, params);
  return m;
}

// Ticks until arrival; the 1-based arrival tick, or 0 within no bound.
int TickUntilArrival(CursorMotion* m, double dt, const MotionParams& params) {
  for (int tick = 1; tick <= kArrivalTickBound; ++tick) {
    if (m->Tick(dt, params)) return tick;
  }
  return 0;
}

// Ticks a settling cursor until it rests; the ticks taken, or 0 within no bound.
int TickUntilSettled(CursorMotion* m, double dt, const MotionParams& params) {
  for (int tick = 1; tick <= kSettleTickBound; ++tick) {
    m->Tick(dt, params);
    if (!m->settling) return tick;
  }
  return 0;
}

GlideReport RunGlide(double distance, double dt, const MotionParams& params) {
  GlideReport r{};
  CursorMotion m = StartGlide(distance, 0.0, params);
  r.natural = m.path.length * ghost_motion::GlideSecondsPerPoint(params);
  r.scale = m.speedScale;
  const int arrival = TickUntilArrival(&m, dt, params);
  r.arrived = arrival > 0;
  r.elapsed = arrival * dt;
  const int settle = r.arrived ? TickUntilSettled(&m, dt, params) : 0;
  r.settled = settle > 0;
  r.settle = settle * dt;
  r.settledX = m.position.x;
  return r;
}

}  // namespace

MotionSelftest RunMotionSelftest() {
  const MotionParams params;
  MotionSelftest r{};

  CursorMotion m = StartGlide(400.0, 0.0, params);
  for (int tick = 1; tick <= kArrivalTickBound; ++tick) {
    const bool arrived = m.Tick(kCoarseDt, params);
    if (tick % 6 == 0) r.samples.push_back({tick * kCoarseDt, m.position.x, m.position.y, m.heading});
    if (arrived) {
      r.arrived = true;
      r.arrivalTick = tick;
      break;
    }
  }
  r.finalX = m.position.x;
  r.finalY = m.position.y;

  m = StartGlide(300.0, 200.0, params);
  r.settleArrivalTick = TickUntilArrival(&m, kCoarseDt, params);
  r.settleTicks = r.settleArrivalTick > 0 ? TickUntilSettled(&m, kCoarseDt, params) : 0;
  r.settled = r.settleTicks > 0;
  r.settledX = m.position.x;
  r.settledY = m.position.y;

  m = StartGlide(500.0, 0.0, params);
  m.Tick(0.2, params);
  r.preemptMidX = m.position.x;
  m.MoveTo(500.0, 300.0, kRestHeading, params);
  r.preemptRestartX = m.position.x;

  r.fineDt = kFineDt;
  r.glideShort = RunGlide(200.0, kFineDt, params);
  r.glideLong = RunGlide(4000.0, kFineDt, params);
  r.maxGlide = params.maxGlideSeconds;
  return r;
}

GeometrySelftest RunGeometrySelftest() {
  using ghost_geometry::DisplayFrame;
  const DisplayFrame frames[] = {
      {.x = 0, .y = 0, .width = 1920, .height = 1080, .displayId = 1},
      {.x = -1920, .y = 0, .width = 1920, .height = 1080, .displayId = 2},
      {.x = 0, .y = -1080, .width = 1920, .height = 1080, .displayId = 3},
      {.x = 3840, .y = 0, .width = 1920, .height = 1080, .mirror = true, .displayId = 4},
  };
  auto index = [&](double x, double y) { return ghost_geometry::ScreenIndexForPoint(frames, x, y); };
  // Seeds use the display the target falls on, as the overlay does.
  auto seed = [&](double x, double y, double* sx, double* sy) {
    const int i = index(x, y);
    ghost_geometry::SeedPosition(x, y, i >= 0 ? &frames[i] : nullptr, sx, sy);
  };

  GeometrySelftest r{};
  r.primary = index(100, 100);
  r.leftScreen = index(-1900, 500);
  r.aboveScreen = index(100, -1000);
  r.seam = index(1920, 100);
  r.nearest = index(5000, 100);
  r.mirrorIgnored = index(4000, 100);
  seed(500, 400, &r.seedX, &r.seedY);
  seed(3, 3, &r.seedCornerX, &r.seedCornerY);
  seed(-1800, 500, &r.seedLeftX, &r.seedLeftY);
  ghost_geometry::SeedPosition(50, 500, nullptr, &r.seedNoneX, &r.seedNoneY);
  return r;
}

}  // namespace ghost_selftest
