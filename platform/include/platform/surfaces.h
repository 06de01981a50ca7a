// Surfaces service: the add-on's own on-screen windows (overlays that float
// above everything and let the mouse pass through) and a retained tree of
// drawing layers inside them, with explicit animations, text measurement and
// off-screen rendering of a window's layers.
//
// Coordinates: screen and window frames use the window system's own space
// (points, origin at the bottom left of the primary screen, y up), as do layer
// geometries (a layer's position is in its superlayer's space, y up). The core
// converts from the global top-left space of the window list and pointer.
//
// A backend without on-screen surfaces keeps the defaults below: no screens,
// window and layer creation answer 0, setters do nothing, queries answer
// false / 0 / null. The core then draws nothing and reports no overlay
// windows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/value.h"

namespace platform {

using SurfaceId = uint64_t;  // 0: none
using LayerId = uint64_t;    // 0: none

struct ScreenInfo {
  Rect frame;               // bottom-left origin, points
  double backing_scale = 1;  // pixels per point
};

struct SurfaceWindowSpec {
  Rect frame;  // bottom-left origin, points
  int64_t level = 0;
  uint32_t collection_behavior = 0;
  bool ignores_mouse = false;  // clicks pass through to the windows below
  bool opaque = false;
  bool has_shadow = false;
  int sharing_type = 0;  // 0: invisible to screen capture, 1: read-only (capturable)
  double backing_scale = 1;
};

struct Rgba {
  double r = 0, g = 0, b = 0, a = 0;  // 0..1, not premultiplied
};

// A 2-D affine transform about the layer's anchor point:
// x' = a x + c y + tx, y' = b x + d y + ty.
struct Affine {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
  static Affine Rotation(double radians);
  static Affine Scale(double sx, double sy);
  Affine Then(const Affine& next) const;  // this, then next
};

enum class PathOp : uint8_t { kMove, kLine, kCurve, kClose };
struct PathElement {
  PathOp op = PathOp::kMove;
  Point p[3];  // kMove / kLine: p[0]; kCurve: control 1, control 2, end
};
using Path = std::vector<PathElement>;

// kImage: a layer showing a bitmap (SetLayerContents), scaled to fit its
// bounds with its aspect kept and centred.
enum class LayerKind { kPlain, kShape, kText, kImage };

// Everything a layer draws. Shape fields apply to shape layers, text fields to
// text layers; every layer has the common ones.
struct LayerState {
  Rect bounds;               // the layer's own space (y up)
  Point anchor{0.5, 0.5};    // unit point of bounds placed at position
  Point position;            // in the superlayer's space
  Affine transform;          // applied about the anchor
  double opacity = 1;
  bool hidden = false;
  bool masks_to_bounds = false;
  Rgba background;
  double corner_radius = 0;
  double border_width = 0;
  Rgba border_color;
  double contents_scale = 1;
  // shape layers
  Path path;
  Rgba fill;
  Rgba stroke;
  double line_width = 1;
  bool round_caps_and_joins = false;
  // text layers (one line)
  std::string text;  // UTF-8
  double font_size = 12;
  int font_weight = 400;  // 400 regular, 500 medium, 700 bold
  Rgba text_color;
  bool text_centered = false;
};

// One animated property: values at key times (fractions of duration; empty
// means evenly spaced), interpolated linearly. Key paths: "opacity",
// "transform.scale".
struct AnimationTrack {
  std::string key_path;
  std::vector<double> values;
  std::vector<double> key_times;
  double duration = 0;  // seconds
};

// A group of tracks started together; with removed_on_completion it leaves the
// layer once `duration` has passed (measured on the seam clock).
struct Animation {
  std::vector<AnimationTrack> tracks;
  double duration = 0;
  bool removed_on_completion = true;
};

// A floating utility panel: it never activates the application, floats at
// `level` above normal windows and keeps the content aspect while resized.
struct PanelWindowSpec {
  Rect frame;  // bottom-left origin, points
  int64_t level = 3;
  uint32_t collection_behavior = 0;
  bool has_shadow = true;
  bool opaque = false;
  bool movable_by_background = false;
  bool ignores_mouse = true;
  bool hides_on_deactivate = false;
  Size content_aspect;  // width : height; zero means free
  double corner_radius = 0;
  int sharing_type = 0;
  double backing_scale = 1;
};

class Surfaces {
 public:
  virtual ~Surfaces() = default;

  // The screens, primary first; empty when the backend has none.
  virtual std::vector<ScreenInfo> Screens() { return {}; }
  // Called on the host thread (from the application loop) after the screen
  // configuration changed. Answers a token for removal, 0 when unsupported.
  virtual uint64_t AddScreensChangedObserver(std::function<void()>) { return 0; }
  virtual void RemoveScreensChangedObserver(uint64_t) {}

  // ---- windows (host thread) ----
  // A borderless, transparent overlay window; 0 when it cannot be made. It is
  // created ordered out.
  virtual SurfaceId CreateOverlayWindow(const SurfaceWindowSpec&) { return 0; }
  virtual void CloseWindow(SurfaceId) {}
  virtual void OrderFront(SurfaceId) {}  // regardless of the application being active
  virtual void OrderOut(SurfaceId) {}
  virtual bool IsOrderedIn(SurfaceId) { return false; }
  virtual void SetSharingType(SurfaceId, int) {}
  // The spec the window has now; false for an unknown window.
  virtual bool GetWindowSpec(SurfaceId, SurfaceWindowSpec*) { return false; }
  // The window's window-server number (as in the window list), 0 when none.
  virtual uint32_t WindowNumber(SurfaceId) { return 0; }
  // The window's content layer, sized to the window (origin 0, 0).
  virtual LayerId ContentLayer(SurfaceId) { return 0; }

  // ---- layers (host thread) ----
  virtual LayerId CreateLayer(LayerKind) { return 0; }
  // Removes the layer from its superlayer and destroys it with its sublayers.
  virtual void DestroyLayer(LayerId) {}
  // Appends child on top of parent's sublayers (moving it from any other parent).
  virtual void AddSublayer(LayerId /*parent*/, LayerId /*child*/) {}
  virtual void RemoveFromSuperlayer(LayerId) {}
  virtual LayerId Superlayer(LayerId) { return 0; }
  virtual bool GetLayer(LayerId, LayerState*) { return false; }
  virtual void SetLayer(LayerId, const LayerState&) {}
  // Replaces an animation under the same key.
  virtual void AddAnimation(LayerId, const std::string& /*key*/, const Animation&) {}
  virtual void RemoveAnimation(LayerId, const std::string& /*key*/) {}
  virtual bool HasAnimation(LayerId, const std::string& /*key*/) { return false; }
  // Changes between Begin and Commit appear together, without implicit
  // animations; a backend redraws what changed at Commit.
  virtual void BeginTransaction() {}
  virtual void CommitTransaction() {}

  // ---- panels (host thread) ----
  // A non-activating floating panel; 0 when it cannot be made (also the
  // answer of a backend without panels). It is created ordered out and is
  // ordered, closed and rendered with the window calls above.
  virtual SurfaceId CreatePanelWindow(const PanelWindowSpec&) { return 0; }
  // The panel's spec now (its frame follows moves and resizes); false for an
  // unknown window or one that is not a panel.
  virtual bool GetPanelSpec(SurfaceId, PanelWindowSpec*) { return false; }
  // Moves / resizes a window (overlay or panel); its content layer follows
  // the new size. False for an unknown window or an empty frame.
  virtual bool SetWindowFrame(SurfaceId, Rect /*frame, bottom-left*/) { return false; }
  virtual void SetIgnoresMouse(SurfaceId, bool) {}
  // Recomputes the window's shadow from its current content.
  virtual void InvalidateShadow(SurfaceId) {}
  // The bitmap an image layer shows (null clears it).
  virtual void SetLayerContents(LayerId, Image) {}

  // ---- display links ----
  // Calls `tick` on a thread of its own at the display's refresh rate until
  // stopped; 0 when the backend has none. StopDisplayLink returns once no
  // tick runs any more and none will start.
  virtual uint64_t StartDisplayLink(std::function<void()> /*tick*/) { return 0; }
  virtual void StopDisplayLink(uint64_t) {}

  // Size in points of one line of text in the system font; false when no font
  // is available.
  virtual bool MeasureText(const std::string& /*utf8*/, double /*size*/, int /*weight*/, Size*) {
    return false;
  }
  // The window's layers as they look now (animations at their current
  // values), the region given in window content points (y up) scaled to
  // width_px x height_px. Null for an unknown window or when drawing fails.
  virtual Image RenderWindow(SurfaceId, Rect /*region*/, int /*width_px*/, int /*height_px*/) {
    return nullptr;
  }
};

// The service a backend without surfaces answers with.
Surfaces& UnavailableSurfaces();

}  // namespace platform
