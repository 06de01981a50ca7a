// Pure arithmetic behind the ghost cursor: the bowed glide curve, the speed
// profile, the per-cursor glide/settle state machine, the cursor arrow
// outline, the per-session palette and the badge text cleaning. Nothing here
// touches the platform.
//
// Coordinates are global points, origin at the top left of the main display,
// y growing downwards; angles are atan2(dy, dx) in that space.
//
// Everything a 16 ms tick calls (the curve operations, SpeedAtFraction,
// CursorMotion::Tick) allocates nothing and uses fixed sample counts.
#pragma once

#include <array>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

namespace ghost_motion {

struct Vec2 {
  double x = 0.0;
  double y = 0.0;
};

// A cubic Bezier with its polyline length, computed once by Make.
struct CubicBezier {
  Vec2 p0;
  Vec2 p1;
  Vec2 p2;
  Vec2 p3;
  // Sum of the 32 chords between the points at t = k/32, k = 0..32. Used as
  // the curve's length everywhere; never refined.
  double length = 0.0;

  static CubicBezier Make(Vec2 p0, Vec2 p1, Vec2 p2, Vec2 p3);

  // Bernstein form; t is clamped to [0, 1].
  Vec2 PointAt(double t) const;
  // First derivative; t is clamped to [0, 1].
  Vec2 TangentAt(double t) const;
  // atan2 of the tangent.
  double HeadingAt(double t) const;
  // Maps distance to t linearly (distance / length, clamped), not by arc
  // length. A curve of length 0 or less yields p3 and the heading of
  // 3 (p3 - p2). Either output may be null.
  void SampleAtDistance(double distance, Vec2* point, double* heading) const;
};

// Motion tuning. The overlay uses one default-constructed instance.
struct MotionParams {
  double control1Fraction = 0.3;  // first control point: this fraction of the chord from the start
  double control2Fraction = 0.3;  // second control point: this fraction back from the end
  double bowFraction = 0.25;      // sideways bow as a fraction of the chord length
  double bowSkew = 0.0;           // -1..1: shifts the bow between the control points
  double springScale = 0.72;      // settle spring: stiffness 400 x this, damping 20 x this
  double peakSpeed = 900.0;       // points per second at mid-glide
  double startSpeed = 300.0;      // floor speed before half of the glide is done
  double endSpeed = 200.0;        // floor speed from half of the glide on
  double maxGlideSeconds = 0.8;   // longer glides are sped up uniformly; <= 0 disables
};

// The largest coordinate magnitude the motion works with: far beyond any
// arrangement of displays, small enough that chord lengths, bows and curve
// lengths of a glide between two such points stay finite.
inline constexpr double kMaxCoordinate = 1e7;
// v clamped to [-kMaxCoordinate, kMaxCoordinate]; NaN gives 0.
double ClampCoordinate(double v);

// The heading at which the cursor art is drawn upright (-3 pi / 4).
inline constexpr double kRestHeading = -3.0 * std::numbers::pi / 4.0;
// The fixed time step of the overlay's 16 ms pump tick.
inline constexpr double kGhostTickSeconds = 0.016;

// The glide curve from `from` to `to`: both control points pushed towards the
// normal (-dy, dx) of the chord d, so a shallow C, never an S. On screen a
// rightward glide bows downwards, an upward one to the right.
// A chord shorter than 1 point is treated as 1 point long for the bow.
CubicBezier BuildMotionBezier(Vec2 from, Vec2 to, double control1Fraction,
                              double control2Fraction, double bowFraction, double bowSkew);

// Speed in points per second at glide fraction f (clamped to [0, 1]): a bell
// that peaks at peakSpeed at f = 0.5 over a floor of startSpeed before the
// midpoint and endSpeed from it on.
double SpeedAtFraction(double f, const MotionParams& params);

// Mean of 1 / SpeedAtFraction over 256 midpoints: the seconds one point of
// curve length takes with the unscaled profile.
double GlideSecondsPerPoint(const MotionParams& params);

// Motion state of one cursor: at rest, gliding along `path`, or settling on
// a damped spring around the glide's end point. At most one of `gliding` and
// `settling` is true.
struct CursorMotion {
  bool hasPosition = false;
  Vec2 position;
  double heading = 0.0;
  CubicBezier path;
  bool gliding = false;
  double travelled = 0.0;   // distance advanced along `path`
  double speedScale = 1.0;  // uniform multiplier of the current glide, >= 1
  bool settling = false;
  Vec2 springOffset;    // displacement from springAnchor
  Vec2 springVelocity;  // points per second
  Vec2 springAnchor;    // the point the spring settles on
  double restHeading = 0.0;

  // Places the cursor at rest at (x, y). Spring fields and restHeading are
  // left as they are. Here and in MoveTo coordinates are first clamped with
  // ClampCoordinate, so every position the motion produces is finite.
  void SnapTo(double x, double y, double heading);
  // Starts a glide from the current position, whatever the state, so a new
  // target bends the cursor off without a jump. Does not check hasPosition.
  void MoveTo(double x, double y, double restHeading, const MotionParams& params);
  // Advances one frame of dt seconds (negative counts as 0). Returns true
  // exactly on the frame on which the glide reaches its end point.
  bool Tick(double dt, const MotionParams& params);
};

// One vertex of the cursor art: position and handle offsets relative to it.
struct ArtVertex {
  Vec2 position;
  Vec2 inHandle;
  Vec2 outHandle;
};

// The cursor arrow outline in design units: a closed path of 8 vertices,
// segment i running from vertex i to vertex (i + 1) mod 8 with control points
// vertex i + out-handle i and vertex i+1 + in-handle i+1. Vertex 0 is the tip.
inline constexpr std::array<ArtVertex, 8> kCursorArtPath = {{
    {{55, 30}, {0, 0}, {-7, -2}},
    {{43, 41}, {-1, -8}, {0, 0}},
    {{64, 98}, {0, 0}, {3, 8}},
    {{77, 99}, {-4, 7}, {0, 0}},
    {{86, 79}, {0, 0}, {2, -4}},
    {{95, 70}, {-4, 2}, {0, 0}},
    {{108, 63}, {0, 0}, {7, -4}},
    {{107, 50}, {7, 3}, {0, 0}},
}};
// Design units to points, and the tip that lands on the cursor position.
inline constexpr double kCursorArtScale = 0.328125;
inline constexpr Vec2 kCursorArtTip = {55, 30};

// Replaces *out with the art outline in points, tip at the origin: 12 points
// per segment (t = k/12, k = 0..11), 96 in all. A null out is ignored.
void FlattenCursorArtPt(std::vector<Vec2>* out);

// ---- session palette and badge text ----

struct Rgba8 {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
  uint8_t a = 255;
};

inline constexpr int kSessionFillCount = 11;
inline constexpr std::array<Rgba8, kSessionFillCount> kSessionFills = {{
    {255, 228, 133, 255},
    {246, 152, 219, 255},
    {205, 222, 130, 255},
    {255, 211, 228, 255},
    {146, 209, 255, 255},
    {255, 208, 88, 255},
    {175, 223, 238, 255},
    {255, 189, 180, 255},
    {247, 41, 103, 255},
    {70, 198, 215, 255},
    {188, 172, 221, 255},
}};
// The fill of the "default" session and of an empty or absent key; not a
// palette entry.
inline constexpr Rgba8 kDefaultSessionFill = {31, 140, 255, 255};

// The palette entry at index mod 11; a negative index counts as 0.
Rgba8 SessionFillAt(int index);

// The slot in [0, count) of a session key. A key ending in a counter
// ("agent-3", after the last '-', '.' or '_') maps to counter - 1, one ending
// in a single ASCII letter to its place in the alphabet, so consecutive
// sessions get neighbouring colours; any other key goes by its 32-bit FNV-1a
// hash. The counter is read with strtoull, so whatever it accepts as a whole
// number (leading blanks, a '+') counts. Null, empty or count < 1 give 0.
int StableSessionIndex(const char* key, int count);

// kDefaultSessionFill for a null, empty or "default" key, else the palette
// entry at StableSessionIndex(key, 11).
Rgba8 SessionFillForId(const char* key);

// The fill with the same hue and saturation at 0.55 of its HSL lightness: the
// outline colour of that session's cursor and focus rectangle. Alpha 255.
Rgba8 SessionStrokeForFill(Rgba8 fill);

// The badge text: control bytes (below 0x20, and 0x7F) dropped, runs of
// spaces collapsed to one, leading and trailing spaces removed, and a text of
// more than 28 code points cut to its first 27 followed by U+2026. Bytes of
// 0x80 and above are kept as they are. Null gives "".
std::string SanitizeBadgeText(const char* text);

}  // namespace ghost_motion
