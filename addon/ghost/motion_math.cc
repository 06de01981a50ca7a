#include "ghost/motion_math.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace ghost_motion {
namespace {

constexpr int kLengthChords = 32;
constexpr int kDurationSamples = 256;
constexpr int kSpringSubsteps = 4;
constexpr int kArtPointsPerSegment = 12;

// Settle spring constants before springScale, and the stop thresholds.
constexpr double kSpringStiffness = 400.0;
constexpr double kSpringDamping = 20.0;
constexpr double kSettleMaxSpeed = 2.0;
constexpr double kSettleMaxOffset = 0.3;
// Fraction of the arrival speed carried into the spring as overshoot.
constexpr double kOvershootFraction = 0.5;

double Clamp01(double t) { return std::clamp(t, 0.0, 1.0); }
double Norm(Vec2 v) { return std::sqrt(v.x * v.x + v.y * v.y); }

Vec2 Bernstein(Vec2 p0, Vec2 p1, Vec2 p2, Vec2 p3, double t) {
  const double u = 1.0 - t;
  const double b0 = u * u * u, b1 = 3.0 * u * u * t, b2 = 3.0 * u * t * t, b3 = t * t * t;
  return {b0 * p0.x + b1 * p1.x + b2 * p2.x + b3 * p3.x,
          b0 * p0.y + b1 * p1.y + b2 * p2.y + b3 * p3.y};
}

}  // namespace

// ---- curve ----

CubicBezier CubicBezier::Make(Vec2 p0, Vec2 p1, Vec2 p2, Vec2 p3) {
  CubicBezier c{p0, p1, p2, p3, 0.0};
  Vec2 prev = p0;
  double length = 0.0;
  for (int k = 1; k <= kLengthChords; ++k) {
    const Vec2 pt = c.PointAt(std::min(1.0, static_cast<double>(k) / kLengthChords));
    length += Norm({pt.x - prev.x, pt.y - prev.y});
    prev = pt;
  }
  c.length = length;
  return c;
}

Vec2 CubicBezier::PointAt(double t) const { return Bernstein(p0, p1, p2, p3, Clamp01(t)); }

Vec2 CubicBezier::TangentAt(double t) const {
  t = Clamp01(t);
  const double u = 1.0 - t;
  const double a = 3.0 * u * u, b = 6.0 * u * t, c = 3.0 * t * t;
  return {a * (p1.x - p0.x) + b * (p2.x - p1.x) + c * (p3.x - p2.x),
          a * (p1.y - p0.y) + b * (p2.y - p1.y) + c * (p3.y - p2.y)};
}

double CubicBezier::HeadingAt(double t) const {
  const Vec2 d = TangentAt(t);
  return std::atan2(d.y, d.x);
}

void CubicBezier::SampleAtDistance(double distance, Vec2* point, double* heading) const {
  if (length <= 0.0) {
    if (point) *point = p3;
    if (heading) *heading = std::atan2(3.0 * (p3.y - p2.y), 3.0 * (p3.x - p2.x));
    return;
  }
  const double t = Clamp01(distance / length);
  if (point) *point = PointAt(t);
  if (heading) *heading = HeadingAt(t);
}

CubicBezier BuildMotionBezier(Vec2 from, Vec2 to, double control1Fraction,
                              double control2Fraction, double bowFraction, double bowSkew) {
  const Vec2 d = {to.x - from.x, to.y - from.y};
  const double dist = std::max(1.0, Norm(d));
  // (-dy, dx): in y-down space a rightward glide bows downwards.
  const Vec2 n = {-d.y / dist, d.x / dist};
  const double bow = bowFraction * dist;
  const double s = (bowSkew + 1.0) * 0.5;
  const double bow1 = (1.0 - 0.5 * s) * bow;
  const double bow2 = (1.0 - 0.5 * (1.0 - s)) * bow;
  const Vec2 p1 = {from.x + control1Fraction * d.x + n.x * bow1,
                   from.y + control1Fraction * d.y + n.y * bow1};
  const Vec2 p2 = {to.x - control2Fraction * d.x + n.x * bow2,
                   to.y - control2Fraction * d.y + n.y * bow2};
  return CubicBezier::Make(from, p1, p2, to);
}

// ---- speed profile ----

double SpeedAtFraction(double f, const MotionParams& params) {
  f = Clamp01(f);
  const double floor = f < 0.5 ? params.startSpeed : params.endSpeed;
  const double bell = 16.0 * f * f * (1.0 - f) * (1.0 - f);
  return std::max(floor, floor + (params.peakSpeed - floor) * bell);
}

double GlideSecondsPerPoint(const MotionParams& params) {
  double sum = 0.0;
  for (int i = 0; i < kDurationSamples; ++i) {
    const double f = std::min(1.0, (i + 0.5) / kDurationSamples);
    sum += 1.0 / SpeedAtFraction(f, params);
  }
  return sum / kDurationSamples;
}

// ---- cursor state machine ----

double ClampCoordinate(double v) {
  if (std::isnan(v)) return 0.0;
  return std::clamp(v, -kMaxCoordinate, kMaxCoordinate);
}

void CursorMotion::SnapTo(double x, double y, double h) {
  position = {ClampCoordinate(x), ClampCoordinate(y)};
  heading = h;
  hasPosition = true;
  gliding = false;
  travelled = 0.0;
  speedScale = 1.0;
  settling = false;
}

void CursorMotion::MoveTo(double x, double y, double rest, const MotionParams& params) {
  path = BuildMotionBezier(position, {ClampCoordinate(x), ClampCoordinate(y)}, params.control1Fraction, params.control2Fraction,
                           params.bowFraction, params.bowSkew);
  gliding = true;
  travelled = 0.0;
  settling = false;
  restHeading = rest;
  speedScale = 1.0;
  if (params.maxGlideSeconds > 0.0) {
    speedScale = std::max(1.0, path.length * GlideSecondsPerPoint(params) / params.maxGlideSeconds);
  }
}

bool CursorMotion::Tick(double dt, const MotionParams& params) {
  if (!(dt >= 0.0)) dt = 0.0;  // negative (or NaN) time moves nothing
  if (gliding) {
    const double limit = std::max(1.0, path.length);
    const double v = SpeedAtFraction(Clamp01(travelled / limit), params);
    const double step = speedScale * v * dt;
    if (travelled + step >= limit) {
      // Arrival: land exactly on the end point and hand the unscaled speed,
      // halved, to the spring as overshoot along the end tangent. The heading
      // keeps the previous frame's value.
      Vec2 end;
      double h = 0.0;
      path.SampleAtDistance(limit, &end, &h);
      const double kick = v * kOvershootFraction;
      springOffset = {0.0, 0.0};
      springVelocity = {std::cos(h) * kick, std::sin(h) * kick};
      springAnchor = end;
      position = end;
      gliding = false;
      travelled = 0.0;
      settling = true;
      return true;
    }
    travelled += step;
    path.SampleAtDistance(travelled, &position, &heading);
    return false;
  }
  if (settling) {
    // Semi-implicit Euler: velocity first, then offset, in equal sub-steps.
    const double stiffness = kSpringStiffness * params.springScale;
    const double damping = kSpringDamping * params.springScale;
    const double h = dt / kSpringSubsteps;
    for (int i = 0; i < kSpringSubsteps; ++i) {
      springVelocity.x += (-stiffness * springOffset.x - damping * springVelocity.x) * h;
      springVelocity.y += (-stiffness * springOffset.y - damping * springVelocity.y) * h;
      springOffset.x += springVelocity.x * h;
      springOffset.y += springVelocity.y * h;
    }
    position = {springAnchor.x + springOffset.x, springAnchor.y + springOffset.y};
    heading = restHeading;
    if (Norm(springVelocity) < kSettleMaxSpeed && Norm(springOffset) < kSettleMaxOffset) {
      position = springAnchor;
      settling = false;
    }
  }
  return false;
}

// ---- cursor art ----

void FlattenCursorArtPt(std::vector<Vec2>* out) {
  if (!out) return;
  out->clear();
  out->reserve(kCursorArtPath.size() * kArtPointsPerSegment);
  for (size_t i = 0; i < kCursorArtPath.size(); ++i) {
    const ArtVertex& a = kCursorArtPath[i];
    const ArtVertex& b = kCursorArtPath[(i + 1) % kCursorArtPath.size()];
    const Vec2 c1 = {a.position.x + a.outHandle.x, a.position.y + a.outHandle.y};
    const Vec2 c2 = {b.position.x + b.inHandle.x, b.position.y + b.inHandle.y};
    for (int k = 0; k < kArtPointsPerSegment; ++k) {
      const Vec2 p = Bernstein(a.position, c1, c2, b.position,
                               static_cast<double>(k) / kArtPointsPerSegment);
      out->push_back({(p.x - kCursorArtTip.x) * kCursorArtScale,
                      (p.y - kCursorArtTip.y) * kCursorArtScale});
    }
  }
}

// ---- palette ----

Rgba8 SessionFillAt(int index) {
  if (index < 0) index = 0;
  return kSessionFills[static_cast<size_t>(index % kSessionFillCount)];
}

int StableSessionIndex(const char* key, int count) {
  if (!key || !*key || count < 1) return 0;
  const size_t len = std::strlen(key);
  size_t start = 0;
  for (size_t i = len; i > 0; --i) {
    const char c = key[i - 1];
    if (c == '-' || c == '.' || c == '_') {
      start = i;
      break;
    }
  }
  const char* suffix = key + start;
  const size_t suffixLen = len - start;
  if (suffixLen > 0) {
    char* end = nullptr;
    const unsigned long long n = std::strtoull(suffix, &end, 10);
    if (end == key + len && n != 0) {
      return static_cast<int>((n - 1) % static_cast<unsigned long long>(count));
    }
    if (suffixLen == 1) {
      const char c = suffix[0];
      if (c >= 'a' && c <= 'z') return (c - 'a') % count;
      if (c >= 'A' && c <= 'Z') return (c - 'A') % count;
    }
  }
  uint32_t hash = 0x811C9DC5u;
  for (size_t i = 0; i < len; ++i) {
    hash ^= static_cast<unsigned char>(key[i]);
    hash *= 0x01000193u;
  }
  return static_cast<int>(hash % static_cast<uint32_t>(count));
}

Rgba8 SessionFillForId(const char* key) {
  if (!key || !*key || std::strcmp(key, "default") == 0) return kDefaultSessionFill;
  return SessionFillAt(StableSessionIndex(key, kSessionFillCount));
}

namespace {

double HueToChannel(double p, double q, double t) {
  if (t < 0.0) t += 1.0;
  if (t > 1.0) t -= 1.0;
  if (t < 1.0 / 6.0) return p + (q - p) * 6.0 * t;
  if (t < 0.5) return q;
  if (t < 2.0 / 3.0) return p + (q - p) * (2.0 / 3.0 - t) * 6.0;
  return p;
}

uint8_t ToByte(double c) { return static_cast<uint8_t>(std::round(Clamp01(c) * 255.0)); }

}  // namespace

Rgba8 SessionStrokeForFill(Rgba8 fill) {
  constexpr double kLightnessFactor = 0.55;
  const double r = fill.r / 255.0, g = fill.g / 255.0, b = fill.b / 255.0;
  const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
  const double l = (mx + mn) / 2.0;
  const double d = mx - mn;
  if (d <= 1e-9) {
    const uint8_t grey = ToByte(l * kLightnessFactor);
    return {grey, grey, grey, 255};
  }
  const double s = l > 0.5 ? d / (2.0 - mx - mn) : d / (mx + mn);
  double sixths;
  if (mx == r) {
    sixths = (g - b) / d + (g < b ? 6.0 : 0.0);
  } else if (mx == g) {
    sixths = (b - r) / d + 2.0;
  } else {
    sixths = (r - g) / d + 4.0;
  }
  const double h = sixths / 6.0;
  const double l2 = l * kLightnessFactor;
  const double q = l2 < 0.5 ? l2 * (1.0 + s) : l2 + s - l2 * s;
  const double p = 2.0 * l2 - q;
  return {ToByte(HueToChannel(p, q, h + 1.0 / 3.0)), ToByte(HueToChannel(p, q, h)),
          ToByte(HueToChannel(p, q, h - 1.0 / 3.0)), 255};
}

// ---- badge text ----

namespace {

constexpr size_t kBadgeMaxCodePoints = 28;
constexpr const char kEllipsis[] = "\xE2\x80\xA6";

// Bytes a UTF-8 code point takes, judged by its lead byte alone.
size_t LeadByteLength(unsigned char b) {
  if (b < 0x80) return 1;
  if (b < 0xE0) return 2;
  if (b < 0xF0) return 3;
  return 4;
}

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

std::string SanitizeBadgeText(const char* text) {
  std::string out;
  if (!text) return out;
  for (const char* p = text; *p; ++p) {
    const unsigned char b = static_cast<unsigned char>(*p);
    if (b < 0x20 || b == 0x7F) continue;
    if (b == ' ' && !out.empty() && out.back() == ' ') continue;
    out.push_back(static_cast<char>(b));
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  const size_t lead = out.find_first_not_of(' ');
  out.erase(0, lead == std::string::npos ? out.size() : lead);

  size_t count = 0, cut = 0;
  for (size_t i = 0; i < out.size(); ++count) {
    i += LeadByteLength(static_cast<unsigned char>(out[i]));
    if (count + 1 == kBadgeMaxCodePoints) cut = std::min(i, out.size());
  }
  if (count <= kBadgeMaxCodePoints) return out;

  // Keep the first 28 code points, then drop the last of them (its
  // continuation bytes and its lead byte) to make room for the ellipsis.
  out.resize(cut);
  while (!out.empty() && IsContinuation(static_cast<unsigned char>(out.back()))) out.pop_back();
  if (!out.empty()) out.pop_back();
  out += kEllipsis;
  return out;
}

}  // namespace ghost_motion
