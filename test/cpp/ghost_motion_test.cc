// The ghost cursor's motion model: the bowed glide curve, the speed profile
// and its cap, the glide/settle state machine and the cursor art outline.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ghost/motion_math.h"
#include "ghost/selftest.h"

namespace ghost_motion {
namespace {

const MotionParams kParams;

CursorMotion GlideFromOrigin(double x, double y) {
  CursorMotion m;
  m.SnapTo(0, 0, kRestHeading);
  m.MoveTo(x, y, kRestHeading, kParams);
  return m;
}

// The 1-based tick of arrival, or 0 within 2000 ticks.
int TicksToArrive(CursorMotion* m, double dt) {
  for (int tick = 1; tick <= 2000; ++tick) {
    if (m->Tick(dt, kParams)) return tick;
  }
  return 0;
}

double Length(Vec2 v) { return std::hypot(v.x, v.y); }

TEST(GhostMotionCurve, GlideCurveIsABowedCWithPolylineLength) {
  CubicBezier c = BuildMotionBezier({0, 0}, {400, 0}, 0.3, 0.3, 0.25, 0.0);
  // Both control points 0.1875 x 400 = 75 points below a rightward chord.
  EXPECT_DOUBLE_EQ(c.p1.x, 120);
  EXPECT_DOUBLE_EQ(c.p1.y, 75);
  EXPECT_DOUBLE_EQ(c.p2.x, 280);
  EXPECT_DOUBLE_EQ(c.p2.y, 75);
  EXPECT_NEAR(c.length, 420.922, 1e-3);
  // 32 chords: slightly short of a much finer polyline.
  double fine = 0;
  for (int k = 1; k <= 4096; ++k) {
    Vec2 a = c.PointAt((k - 1) / 4096.0), b = c.PointAt(k / 4096.0);
    fine += Length({b.x - a.x, b.y - a.y});
  }
  EXPECT_LT(c.length, fine);
  EXPECT_GT(c.length, fine - 0.1);

  // Exact, clamped ends; heading along the tangent; distance linear in t.
  EXPECT_EQ(c.PointAt(7.0).x, 400);
  EXPECT_EQ(c.PointAt(-3.0).y, 0);
  EXPECT_NEAR(c.HeadingAt(0), std::atan2(75, 120), 1e-12);
  EXPECT_NEAR(c.HeadingAt(0.5), 0, 1e-12);
  Vec2 p;
  double h;
  c.SampleAtDistance(c.length / 4, &p, &h);
  EXPECT_DOUBLE_EQ(p.x, c.PointAt(0.25).x);
  EXPECT_DOUBLE_EQ(h, c.HeadingAt(0.25));

  // The bow turns with the glide (upward bows right on screen, leftward up);
  // a skew of 1 moves it towards the second control point.
  EXPECT_DOUBLE_EQ(BuildMotionBezier({0, 0}, {0, -400}, 0.3, 0.3, 0.25, 0.0).p1.x, 75);
  EXPECT_DOUBLE_EQ(BuildMotionBezier({0, 0}, {-400, 0}, 0.3, 0.3, 0.25, 0.0).p2.y, -75);
  CubicBezier skewed = BuildMotionBezier({0, 0}, {400, 0}, 0.3, 0.3, 0.25, 1.0);
  EXPECT_DOUBLE_EQ(skewed.p1.y, 50);
  EXPECT_DOUBLE_EQ(skewed.p2.y, 100);

  // A curve of no length samples its end point, heading along p3 - p2.
  CubicBezier flat = CubicBezier::Make({5, 5}, {5, 5}, {2, 9}, {5, 5});
  flat.length = 0;
  flat.SampleAtDistance(123, &p, &h);
  EXPECT_EQ(p.x, 5);
  EXPECT_DOUBLE_EQ(h, std::atan2(-4, 3));
}

TEST(GhostMotionSpeed, BellProfileAndDurationPerPoint) {
  EXPECT_DOUBLE_EQ(SpeedAtFraction(-2.0, kParams), 300);
  EXPECT_DOUBLE_EQ(SpeedAtFraction(0.5, kParams), 900);
  EXPECT_DOUBLE_EQ(SpeedAtFraction(9.0, kParams), 200);
  EXPECT_GT(SpeedAtFraction(0.25, kParams), SpeedAtFraction(0.75, kParams));  // floor drops
  EXPECT_NEAR(GlideSecondsPerPoint(kParams), 0.002041640675425995, 1e-15);
}

TEST(GhostMotionGlide, ReferenceGlideArrivesExactlyOnTick48) {
  CursorMotion m = GlideFromOrigin(400, 0);
  EXPECT_NEAR(m.path.length * GlideSecondsPerPoint(kParams), 0.85937, 1e-5);
  EXPECT_NEAR(m.speedScale, 1.07421, 1e-5);
  double lastX = 0;
  int arrivals = 0, arrivalTick = 0;
  for (int tick = 1; tick <= 60; ++tick) {
    const double headingBefore = m.heading, fractionBefore = m.travelled / m.path.length;
    if (m.Tick(1.0 / 60, kParams)) {
      ++arrivals;
      arrivalTick = tick;
      EXPECT_EQ(m.heading, headingBefore);  // the arrival frame keeps the heading
      // The spring takes half the unscaled profile speed as its overshoot.
      EXPECT_NEAR(Length(m.springVelocity), 0.5 * SpeedAtFraction(fractionBefore, kParams), 1e-9);
      EXPECT_EQ(m.position.x, 400);
      EXPECT_EQ(m.position.y, 0);
    } else if (m.gliding) {
      EXPECT_GT(m.position.x, lastX);
      EXPECT_GT(m.position.y, 0);
    }
    EXPECT_FALSE(m.gliding && m.settling);
    lastX = m.position.x;
  }
  EXPECT_EQ(arrivals, 1);
  EXPECT_EQ(arrivalTick, 48);
}

TEST(GhostMotionGlide, ArrivalOvershootsThenSettlesExactlyOnTarget) {
  CursorMotion m = GlideFromOrigin(300, 200);
  ASSERT_EQ(TicksToArrive(&m, 1.0 / 60), 47);
  ASSERT_TRUE(m.settling);
  EXPECT_GT(Length(m.springVelocity), 50);  // kicked along the end tangent
  EXPECT_NEAR(std::atan2(m.springVelocity.y, m.springVelocity.x), m.path.HeadingAt(1), 1e-12);
  double maxOffset = 0;
  int ticks = 0;
  while (m.settling && ticks < 2000) {
    m.Tick(1.0 / 60, kParams);
    ++ticks;
    maxOffset = std::max(maxOffset, Length(m.springOffset));
    EXPECT_EQ(m.heading, kRestHeading);
  }
  EXPECT_EQ(ticks, 27);
  EXPECT_GT(maxOffset, 1.0);
  EXPECT_EQ(m.position.x, 300);
  EXPECT_EQ(m.position.y, 200);
  EXPECT_FALSE(m.Tick(1.0 / 60, kParams));  // at rest nothing changes
  EXPECT_EQ(m.position.x, 300);
}

TEST(GhostMotionGlide, LongGlidesAreSpedUpShortOnesNever) {
  CursorMotion shortGlide = GlideFromOrigin(200, 0);
  EXPECT_EQ(shortGlide.speedScale, 1.0);
  EXPECT_NEAR(TicksToArrive(&shortGlide, 1.0 / 120) / 120.0, 0.43, 0.01);
  CursorMotion longGlide = GlideFromOrigin(4000, 0);
  EXPECT_NEAR(longGlide.speedScale, 10.742, 1e-3);
  EXPECT_NEAR(TicksToArrive(&longGlide, 1.0 / 120) / 120.0, 0.8, 0.01);

  MotionParams uncapped;
  uncapped.maxGlideSeconds = 0;
  CursorMotion m;
  m.MoveTo(4000, 0, kRestHeading, uncapped);
  EXPECT_EQ(m.speedScale, 1.0);
}

TEST(GhostMotionGlide, RetargetBendsFromTheDrawnPosition) {
  CursorMotion m = GlideFromOrigin(500, 0);
  m.Tick(0.2, kParams);
  const Vec2 mid = m.position;
  EXPECT_NEAR(mid.x, 72.06, 0.01);
  m.MoveTo(500, 300, kRestHeading, kParams);
  EXPECT_EQ(m.position.x, mid.x);
  EXPECT_EQ(m.path.p0.y, mid.y);
  m.Tick(1.0 / 60, kParams);
  EXPECT_GT(m.position.x, mid.x);
  EXPECT_GT(m.position.y, mid.y);

  // Mid-settle, too: the spring stops and the glide starts where it is drawn.
  CursorMotion s = GlideFromOrigin(100, 0);
  TicksToArrive(&s, 1.0 / 60);
  s.Tick(1.0 / 60, kParams);
  ASSERT_TRUE(s.settling);
  const Vec2 drawn = s.position;
  s.MoveTo(0, 100, kRestHeading, kParams);
  EXPECT_TRUE(s.gliding && !s.settling);
  EXPECT_EQ(s.path.p0.x, drawn.x);
  EXPECT_EQ(s.path.p0.y, drawn.y);
}

TEST(GhostMotionGlide, NegativeTimeAndZeroLengthGlides) {
  CursorMotion m = GlideFromOrigin(400, 0);
  for (int i = 0; i < 5; ++i) m.Tick(1.0 / 60, kParams);
  const CursorMotion before = m;
  EXPECT_FALSE(m.Tick(-1.0, kParams));
  EXPECT_EQ(m.position.x, before.position.x);
  EXPECT_EQ(m.heading, before.heading);
  EXPECT_EQ(m.travelled, before.travelled);
  TicksToArrive(&m, 1.0 / 60);
  m.Tick(1.0 / 60, kParams);
  const Vec2 offset = m.springOffset, velocity = m.springVelocity;
  m.Tick(-0.5, kParams);
  EXPECT_TRUE(m.settling);
  EXPECT_EQ(m.springOffset.x, offset.x);
  EXPECT_EQ(m.springVelocity.x, velocity.x);

  CursorMotion z;
  z.SnapTo(10, 20, kRestHeading);
  z.MoveTo(10, 20, kRestHeading, kParams);
  EXPECT_EQ(z.path.length, 0);
  EXPECT_TRUE(z.Tick(1.0 / 60, kParams));
  EXPECT_EQ(z.position.x, 10);
  EXPECT_EQ(z.position.y, 20);
}

TEST(GhostMotionGlide, SnapToStopsAnyMotionButKeepsTheSpring) {
  CursorMotion m = GlideFromOrigin(4000, 0);
  TicksToArrive(&m, 1.0 / 60);
  m.Tick(1.0 / 60, kParams);
  const Vec2 offset = m.springOffset;
  m.SnapTo(7, 8, 0.5);
  EXPECT_FALSE(m.gliding || m.settling);
  EXPECT_EQ(m.speedScale, 1.0);
  EXPECT_EQ(m.heading, 0.5);
  EXPECT_EQ(m.springOffset.x, offset.x);
  EXPECT_EQ(m.restHeading, kRestHeading);
  EXPECT_FALSE(m.Tick(1.0 / 60, kParams));
  EXPECT_EQ(m.position.x, 7);
}

TEST(GhostMotionArt, OutlineIs96PointsFromTheTip) {
  std::vector<Vec2> pts = {{1, 1}, {2, 2}};
  FlattenCursorArtPt(&pts);
  ASSERT_EQ(pts.size(), 96u);
  EXPECT_EQ(pts[0].x, 0);
  EXPECT_EQ(pts[0].y, 0);
  // Every 12th point is a vertex, scaled about the tip; the outline closes.
  for (size_t v = 0; v < kCursorArtPath.size(); ++v) {
    EXPECT_DOUBLE_EQ(pts[v * 12].x, (kCursorArtPath[v].position.x - 55) * 0.328125) << v;
    EXPECT_DOUBLE_EQ(pts[v * 12].y, (kCursorArtPath[v].position.y - 30) * 0.328125) << v;
  }
  EXPECT_DOUBLE_EQ(pts[12].x, -3.9375);
  EXPECT_LT(Length(pts[95]), 2.0);
  FlattenCursorArtPt(nullptr);
}

TEST(GhostMotionBounds, GlidesToHugeOrNaNPointsStayFinite) {
  EXPECT_EQ(ClampCoordinate(1e308), kMaxCoordinate);
  EXPECT_EQ(ClampCoordinate(-1e308), -kMaxCoordinate);
  EXPECT_EQ(ClampCoordinate(std::nan("")), 0.0);
  EXPECT_EQ(ClampCoordinate(-12.5), -12.5);
  const MotionParams params;
  CursorMotion m;
  m.SnapTo(-1e308, 100, kRestHeading);
  m.MoveTo(1e308, 1e308, kRestHeading, params);
  for (int i = 0; i < 200; ++i) {
    m.Tick(kGhostTickSeconds, params);
    ASSERT_TRUE(std::isfinite(m.position.x) && std::isfinite(m.position.y)) << "tick " << i;
  }
  // The next glide starts from a finite point and lands exactly.
  m.MoveTo(400, 400, kRestHeading, params);
  for (int i = 0; i < 200; ++i) m.Tick(kGhostTickSeconds, params);
  EXPECT_EQ(m.position.x, 400);
  EXPECT_EQ(m.position.y, 400);
}

TEST(GhostMotionSelftest, ReportsTheReferenceScenarios) {
  const ghost_selftest::MotionSelftest r = ghost_selftest::RunMotionSelftest();
  ASSERT_TRUE(r.arrived);
  EXPECT_EQ(r.arrivalTick, 48);
  ASSERT_EQ(r.samples.size(), 8u);
  EXPECT_NEAR(r.samples[0].t, 0.1, 1e-12);
  EXPECT_EQ(r.samples.back().x, 400);
  EXPECT_EQ(r.finalX, 400);
  EXPECT_TRUE(r.settled);
  EXPECT_EQ(r.settleArrivalTick, 47);
  EXPECT_EQ(r.settleTicks, 27);
  EXPECT_EQ(r.settledY, 200);
  EXPECT_NEAR(r.preemptMidX, 72.06, 0.01);
  EXPECT_EQ(r.preemptRestartX, r.preemptMidX);
  EXPECT_NEAR(r.glideShort.natural, 0.4297, 1e-4);
  EXPECT_NEAR(r.glideShort.elapsed, 0.43, 0.01);
  EXPECT_NEAR(r.glideLong.scale, 10.742, 1e-3);
  EXPECT_NEAR(r.glideLong.elapsed, 0.8, 0.01);
  EXPECT_GT(r.glideLong.settle, 0);
  EXPECT_EQ(r.glideLong.settledX, 4000);
}

}  // namespace
}  // namespace ghost_motion
