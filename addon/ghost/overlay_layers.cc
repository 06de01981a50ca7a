// The layers of one overlay group: the arrow cursor with its halo, the label
// badge, ripples and focus rectangles, their layout in a window's content
// space, alpha and animations.
#include <cmath>

#include "ghost/overlay.h"
#include "main_queue.h"
#include "platform/platform.h"
#include "pump.h"

namespace ghost {

namespace {

using platform::LayerId;
using platform::LayerState;

constexpr double kArtSize = 128;
constexpr double kBadgeMaxWidth = 188;
constexpr double kBadgeFontSize = 12;
constexpr int kBadgeFontWeight = 500;
constexpr double kBadgeOffsetBelowTip = 45;
constexpr double kBadgeInset = 4;
constexpr double kBadgeCornerRadius = 6;
const char* const kEllipsis = "\xE2\x80\xA6";

struct Halo {
  double width, opacity;
};
constexpr Halo kCursorGlowStrokes[8] = {{44, 0.02},  {36, 0.024}, {29, 0.03},  {23, 0.038},
                                        {18, 0.048}, {14, 0.06},  {10, 0.075}, {7, 0.095}};

platform::Surfaces& Surf() { return platform::Get().surfaces(); }

platform::Rgba ToRgba(ghost_motion::Rgba8 c, double a) {
  return platform::Rgba{c.r / 255.0, c.g / 255.0, c.b / 255.0, a};
}

ghost_motion::Rgba8 GroupFill(const GhostGroup& g) {
  return g.ownSession ? ghost_motion::SessionFillForId(g.key.c_str())
                      : ghost_motion::kDefaultSessionFill;
}

// The arrow outline in layer space (y up): every design y becomes 128 - y.
platform::Path CursorArtLayerPath() {
  platform::Path path;
  auto flip = [](ghost_motion::Vec2 v) { return platform::Point{v.x, kArtSize - v.y}; };
  auto flip_off = [](ghost_motion::Vec2 v, ghost_motion::Vec2 d) {
    return platform::Point{v.x + d.x, kArtSize - (v.y + d.y)};
  };
  const auto& art = ghost_motion::kCursorArtPath;
  path.push_back({platform::PathOp::kMove, {flip(art[0].position), {}, {}}});
  for (size_t i = 0; i < art.size(); ++i) {
    const auto& a = art[i];
    const auto& b = art[(i + 1) % art.size()];
    path.push_back({platform::PathOp::kCurve,
                    {flip_off(a.position, a.outHandle), flip_off(b.position, b.inHandle),
                     flip(b.position)}});
  }
  path.push_back({platform::PathOp::kClose, {}});
  return path;
}

template <typename F>
void Edit(LayerId id, F&& f) {
  if (!id) return;
  LayerState st;
  if (!Surf().GetLayer(id, &st)) return;
  f(st);
  Surf().SetLayer(id, st);
}

LayerId NewLayer(platform::LayerKind kind, const LayerState& st) {
  LayerId id = Surf().CreateLayer(kind);
  if (id) Surf().SetLayer(id, st);
  return id;
}

bool Attached(const GhostGroup& g) {
  return g.rootLayer && g.screenIndex >= 0 &&
         static_cast<size_t>(g.screenIndex) < S().windows.size();
}

// Removes a transient layer on the main queue after `delay_ms`.
void RemoveLater(LayerId id, uint64_t delay_ms, bool ripple) {
  addon::PostToMainAfter(delay_ms, [id, ripple] {
    Surf().DestroyLayer(id);
    if (ripple && S().pendingRipples > 0) S().pendingRipples--;
    StopPumpTimerIfIdle();
  });
}

}  // namespace

platform::Rgba GroupStrokeColor(const GhostGroup& g, double alpha) {
  if (!g.ownSession) return platform::Rgba{0.12, 0.55, 1.0, alpha};
  return ToRgba(ghost_motion::SessionStrokeForFill(ghost_motion::SessionFillForId(g.key.c_str())),
                alpha);
}

void BuildGroupLayers(GhostGroup& g) {
  if (g.rootLayer) return;
  auto& surf = Surf();
  surf.BeginTransaction();
  LayerState root;
  root.opacity = 0;
  root.anchor = {0, 0};
  g.rootLayer = NewLayer(platform::LayerKind::kPlain, root);
  if (!g.rootLayer) {
    surf.CommitTransaction();
    return;
  }
  platform::Path art = CursorArtLayerPath();
  platform::Rgba fill = ToRgba(GroupFill(g), 1.0);

  LayerState cursor;
  cursor.bounds = {0, 0, kArtSize, kArtSize};
  cursor.anchor = {0.4296875, 0.765625};
  cursor.position = {0, 0};
  cursor.path = art;
  cursor.stroke = {1, 1, 1, 1};
  cursor.line_width = 5.0;
  cursor.fill = fill;
  cursor.round_caps_and_joins = true;
  cursor.hidden = true;
  g.cursorLayer = NewLayer(platform::LayerKind::kShape, cursor);
  for (const Halo& h : kCursorGlowStrokes) {
    LayerState halo;
    halo.bounds = cursor.bounds;
    halo.anchor = cursor.anchor;
    halo.position = {55, 98};
    halo.path = art;
    halo.stroke = fill;
    halo.fill = {0, 0, 0, 0};
    halo.line_width = h.width;
    halo.opacity = h.opacity;
    halo.round_caps_and_joins = true;
    LayerId id = NewLayer(platform::LayerKind::kShape, halo);
    surf.AddSublayer(g.cursorLayer, id);
  }
  LayerState holder;
  holder.anchor = {0, 0};
  holder.position = {0, 0};
  g.cursorHolderLayer = NewLayer(platform::LayerKind::kPlain, holder);
  surf.AddSublayer(g.cursorHolderLayer, g.cursorLayer);
  surf.AddSublayer(g.rootLayer, g.cursorHolderLayer);

  LayerState badge;
  badge.hidden = true;
  badge.masks_to_bounds = true;
  badge.corner_radius = kBadgeCornerRadius;
  g.badgeLayer = NewLayer(platform::LayerKind::kPlain, badge);
  LayerState text;
  text.text_centered = true;
  text.font_size = kBadgeFontSize;
  text.font_weight = kBadgeFontWeight;
  text.text_color = {1, 1, 1, 1};
  g.badgeTextLayer = NewLayer(platform::LayerKind::kText, text);
  surf.AddSublayer(g.badgeLayer, g.badgeTextLayer);
  surf.AddSublayer(g.rootLayer, g.badgeLayer);
  surf.CommitTransaction();
}

void DestroyGroupLayers(GhostGroup& g) {
  for (auto fx : g.fxLayers)
    if (fx) Surf().DestroyLayer(fx);
  g.fxLayers.clear();
  if (g.rootLayer) Surf().DestroyLayer(g.rootLayer);
  g.rootLayer = g.cursorLayer = g.cursorHolderLayer = g.badgeLayer = g.badgeTextLayer = 0;
  g.screenIndex = -1;
}

void AttachGroupToScreen(GhostGroup& g) {
  OverlayState& s = S();
  if (s.windows.empty() || !g.rootLayer) return;
  int idx = WindowIndexForPoint(g.motion.position.x, g.motion.position.y);
  if (idx == g.screenIndex && Surf().Superlayer(g.rootLayer) != 0) return;
  Surf().AddSublayer(s.windows[static_cast<size_t>(idx)].content, g.rootLayer);
  g.screenIndex = idx;
}

void UpdateGroupLayout(GhostGroup& g) {
  if (!Attached(g)) return;
  auto& surf = Surf();
  surf.BeginTransaction();
  platform::Point p = ToWindowContent(g.screenIndex, g.motion.position.x, g.motion.position.y);
  Edit(g.rootLayer, [&](LayerState& st) { st.position = p; });
  double angle = -(g.motion.heading + 3 * M_PI / 4);
  Edit(g.cursorHolderLayer, [&](LayerState& st) {
    st.transform = platform::Affine::Rotation(angle).Then(
        platform::Affine::Scale(ghost_motion::kCursorArtScale, ghost_motion::kCursorArtScale));
  });
  if (!g.badgeText.empty()) {
    const auto& win = S().windows[static_cast<size_t>(g.screenIndex)];
    LayerState badge;
    if (surf.GetLayer(g.badgeLayer, &badge)) {
      double w = badge.bounds.width, h = badge.bounds.height;
      // Centred 45 points below the tip, then kept 4 points inside the window.
      double cx = 0, cy = -kBadgeOffsetBelowTip;
      double minx = kBadgeInset + w / 2 - p.x, maxx = win.frame.width - kBadgeInset - w / 2 - p.x;
      double miny = kBadgeInset + h / 2 - p.y, maxy = win.frame.height - kBadgeInset - h / 2 - p.y;
      if (cx > maxx) cx = maxx;
      if (cx < minx) cx = minx;
      if (cy > maxy) cy = maxy;
      if (cy < miny) cy = miny;
      badge.position = {cx, cy};
      surf.SetLayer(g.badgeLayer, badge);
    }
  }
  surf.CommitTransaction();
}

std::string FitBadgeText(const std::string& text) {
  // Code points, so the last character (not byte) is the one removed.
  std::vector<std::string> chars;
  for (size_t i = 0; i < text.size();) {
    size_t n = 1;
    while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
    chars.push_back(text.substr(i, n));
    i += n;
  }
  auto join = [&] {
    std::string s;
    for (auto& c : chars) s += c;
    return s;
  };
  std::string cur = join();
  platform::Size sz;
  while (chars.size() >= 2 && Surf().MeasureText(cur, kBadgeFontSize, kBadgeFontWeight, &sz) &&
         sz.width > kBadgeMaxWidth) {
    chars.pop_back();
    chars.back() = kEllipsis;
    cur = join();
  }
  return cur;
}

void RebuildGroupBadge(GhostGroup& g) {
  if (!g.badgeLayer) return;
  auto& surf = Surf();
  surf.BeginTransaction();
  if (g.badgeText.empty()) {
    Edit(g.badgeLayer, [](LayerState& st) { st.hidden = true; });
    surf.CommitTransaction();
    return;
  }
  std::string text = FitBadgeText(g.badgeText);
  platform::Size sz{0, 0};
  if (!surf.MeasureText(text, kBadgeFontSize, kBadgeFontWeight, &sz)) {
    // No font: a rough size keeps the badge readable-sized.
    sz = {7.0 * text.size(), 15};
  }
  double scale = 1;
  if (g.screenIndex >= 0 && static_cast<size_t>(g.screenIndex) < S().windows.size())
    scale = S().windows[static_cast<size_t>(g.screenIndex)].frame.scale;
  Edit(g.badgeTextLayer, [&](LayerState& st) {
    st.text = text;
    st.bounds = {0, 0, sz.width, sz.height};
    st.anchor = {0.5, 0.5};
    st.position = {10 + sz.width / 2, 5 + sz.height / 2};
    st.contents_scale = scale;
  });
  ghost_motion::Rgba8 fill = GroupFill(g);
  Edit(g.badgeLayer, [&](LayerState& st) {
    st.bounds = {0, 0, sz.width + 20, sz.height + 10};
    st.anchor = {0.5, 0.5};
    st.masks_to_bounds = true;
    st.background = ToRgba(fill, 0.92);
    st.border_color = GroupStrokeColor(g, 0.9);
    st.border_width = 1.0;
    st.hidden = false;
  });
  surf.CommitTransaction();
}

void ApplyGroupAlpha(GhostGroup& g) {
  double alpha = GroupAlpha(g);
  auto& surf = Surf();
  surf.BeginTransaction();
  Edit(g.rootLayer, [&](LayerState& st) { st.opacity = alpha; });
  for (auto fx : g.fxLayers) Edit(fx, [&](LayerState& st) { st.opacity = alpha; });
  Edit(g.cursorLayer, [](LayerState& st) { st.hidden = false; });
  surf.CommitTransaction();
  g.shown = alpha > kShownAlpha;
  if (g.shown && Attached(g)) surf.OrderFront(S().windows[static_cast<size_t>(g.screenIndex)].window);
}

void BeginGroupIdleFade(GhostGroup& g, double fromAlpha) {
  auto& surf = Surf();
  surf.BeginTransaction();
  Edit(g.rootLayer, [](LayerState& st) { st.opacity = 0; });
  for (auto fx : g.fxLayers) Edit(fx, [](LayerState& st) { st.opacity = 0; });
  platform::Animation fade;
  fade.tracks.push_back({"opacity", {fromAlpha, 0.0}, {}, 0.18});
  fade.duration = 0.18;
  surf.AddAnimation(g.rootLayer, "idleFade", fade);
  surf.CommitTransaction();
}

bool HasKeyPulse(const GhostGroup& g) {
  return g.cursorHolderLayer && Surf().HasAnimation(g.cursorHolderLayer, "keyPulse");
}

void HideCursorLayer(GhostGroup& g) {
  Edit(g.cursorLayer, [](LayerState& st) { st.hidden = true; });
}

LayerId GroupFxLayer(GhostGroup& g, int index) {
  OverlayState& s = S();
  if (index < 0 || static_cast<size_t>(index) >= s.windows.size()) return 0;
  if (g.fxLayers.size() < s.windows.size()) g.fxLayers.resize(s.windows.size(), 0);
  LayerId& fx = g.fxLayers[static_cast<size_t>(index)];
  if (!fx) {
    LayerId content = s.windows[static_cast<size_t>(index)].content;
    LayerState cs;
    Surf().GetLayer(content, &cs);
    LayerState st;
    st.bounds = cs.bounds;
    st.anchor = {0, 0};
    st.position = {cs.bounds.x, cs.bounds.y};
    st.opacity = GroupAlpha(g);
    fx = NewLayer(platform::LayerKind::kPlain, st);
    if (fx) Surf().AddSublayer(content, fx);
  }
  return fx;
}

void GhostClickRippleInternal(GhostGroup& g, double x, double y) {
  int idx = WindowIndexForPoint(x, y);
  LayerId fx = GroupFxLayer(g, idx);
  if (!fx) return;
  auto& surf = Surf();
  surf.BeginTransaction();
  LayerState st;
  st.bounds = {-6, -6, 12, 12};
  st.corner_radius = 6;
  st.border_width = 2.0;
  st.border_color = GroupStrokeColor(g, 0.8);
  st.position = ToWindowContent(idx, x, y);
  // The animation shows the ripple; the model value is its end state, so
  // nothing flashes between the end of the animation and the removal.
  st.opacity = 0;
  LayerId ripple = NewLayer(platform::LayerKind::kPlain, st);
  if (!ripple) {
    surf.CommitTransaction();
    return;
  }
  surf.AddSublayer(fx, ripple);
  platform::Animation a;
  a.tracks.push_back({"transform.scale", {1.0, 3.5}, {}, 0.4});
  a.tracks.push_back({"opacity", {1.0, 0.0}, {}, 0.4});
  a.duration = 0.4;
  surf.AddAnimation(ripple, "ripple", a);
  surf.CommitTransaction();
  S().pendingRipples++;
  StartPumpTimer();
  RemoveLater(ripple, 500, true);
}

void PlayKeyPulse(GhostGroup& g) {
  if (!g.cursorHolderLayer || !(GroupAlpha(g) > 0)) return;
  platform::Animation a;
  a.tracks.push_back({"transform.scale", {1, 0.92, 1.03, 1}, {0, 0.4, 0.75, 1}, 0.35});
  a.duration = 0.35;
  Surf().AddAnimation(g.cursorHolderLayer, "keyPulse", a);
}

void ShowFocusRect(GhostGroup* g, double x, double y, double w, double h) {
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(w) || !std::isfinite(h) ||
      !(w > 0) || !(h > 0))
    return;
  OverlayState& s = S();
  if (s.windows.empty()) return;
  // Within the motion's bound, so the centre and the path stay finite.
  x = ghost_motion::ClampCoordinate(x);
  y = ghost_motion::ClampCoordinate(y);
  w = std::min(w, 2 * ghost_motion::kMaxCoordinate);
  h = std::min(h, 2 * ghost_motion::kMaxCoordinate);
  double cx = x + w / 2, cy = y + h / 2;
  int idx = WindowIndexForPoint(cx, cy);
  platform::Rgba color = (g && g->ownSession) ? GroupStrokeColor(*g, 0.95)
                                              : platform::Rgba{0.12, 0.55, 1.0, 0.95};
  LayerId parent = g ? GroupFxLayer(*g, idx) : s.windows[static_cast<size_t>(idx)].content;
  if (!parent) return;
  auto& surf = Surf();
  surf.BeginTransaction();
  LayerState st;
  st.bounds = {0, 0, w, h};
  st.anchor = {0.5, 0.5};
  st.position = ToWindowContent(idx, cx, cy);
  // A rounded rectangle of corner radius 2 drawn as a path.
  const double r = 2.0, k = 0.5522847498 * r;
  auto P = [](double px, double py) { return platform::Point{px, py}; };
  st.path = {
      {platform::PathOp::kMove, {P(r, 0), {}, {}}},
      {platform::PathOp::kLine, {P(w - r, 0), {}, {}}},
      {platform::PathOp::kCurve, {P(w - r + k, 0), P(w, r - k), P(w, r)}},
      {platform::PathOp::kLine, {P(w, h - r), {}, {}}},
      {platform::PathOp::kCurve, {P(w, h - r + k), P(w - r + k, h), P(w - r, h)}},
      {platform::PathOp::kLine, {P(r, h), {}, {}}},
      {platform::PathOp::kCurve, {P(r - k, h), P(0, h - r + k), P(0, h - r)}},
      {platform::PathOp::kLine, {P(0, r), {}, {}}},
      {platform::PathOp::kCurve, {P(0, r - k), P(r - k, 0), P(r, 0)}},
      {platform::PathOp::kClose, {}},
  };
  st.stroke = color;
  st.fill = {0, 0, 0, 0};
  st.line_width = 1.5;
  st.opacity = 0;  // the fade animation shows it, as with ripples
  LayerId rect = NewLayer(platform::LayerKind::kShape, st);
  if (!rect) {
    surf.CommitTransaction();
    return;
  }
  surf.AddSublayer(parent, rect);
  platform::Animation a;
  a.tracks.push_back({"opacity", {1.0, 0.0}, {}, 0.6});
  a.duration = 0.6;
  surf.AddAnimation(rect, "focusFade", a);
  surf.CommitTransaction();
  addon::StartAppKitPumpTimer();
  RemoveLater(rect, 700, false);
}

}  // namespace ghost
