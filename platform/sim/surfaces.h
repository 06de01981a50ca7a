// The simulated desktop's surfaces: overlay windows that appear at the front
// of the window list while ordered in (owned by the host process, level 1000,
// not accepting mouse-down when they ignore the mouse), a retained layer tree
// with animations timed on the sim clock, and cairo rendering of it.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/screen_capture.h"
#include "platform/surfaces.h"
#include "platform/window_server.h"
#include "sim/json.h"

namespace sim {

struct SimAnimation {
  platform::Animation anim;
  double begin_s = 0;  // sim clock seconds
};

struct SimLayer {
  platform::LayerId id = 0;
  platform::LayerKind kind = platform::LayerKind::kPlain;
  platform::LayerState state;
  platform::LayerId parent = 0;
  std::vector<platform::LayerId> children;  // back to front
  std::map<std::string, SimAnimation> animations;
  platform::Image contents;  // image layers
};

struct SimSurfaceWindow {
  platform::SurfaceId id = 0;
  platform::SurfaceWindowSpec spec;
  uint32_t number = 0;
  bool ordered_in = false;
  platform::LayerId content = 0;
  bool panel = false;
  platform::PanelWindowSpec panel_spec;  // panels only
};

// Everything the surfaces service holds, under its own mutex. Lock order: the
// world's mutex first when both are needed.
struct SurfaceStore {
  std::mutex mu;
  std::map<platform::SurfaceId, SimSurfaceWindow> windows;
  std::map<platform::LayerId, SimLayer> layers;
  std::map<uint64_t, std::function<void()>> screen_observers;
  uint64_t next_id = 1;
  uint32_t next_window = 0;
  int transactions_committed = 0;
};
SurfaceStore& Store();

class SimSurfaces : public platform::Surfaces {
 public:
  std::vector<platform::ScreenInfo> Screens() override;
  uint64_t AddScreensChangedObserver(std::function<void()> cb) override;
  void RemoveScreensChangedObserver(uint64_t token) override;
  platform::SurfaceId CreateOverlayWindow(const platform::SurfaceWindowSpec& spec) override;
  void CloseWindow(platform::SurfaceId id) override;
  void OrderFront(platform::SurfaceId id) override;
  void OrderOut(platform::SurfaceId id) override;
  bool IsOrderedIn(platform::SurfaceId id) override;
  void SetSharingType(platform::SurfaceId id, int type) override;
  bool GetWindowSpec(platform::SurfaceId id, platform::SurfaceWindowSpec* out) override;
  uint32_t WindowNumber(platform::SurfaceId id) override;
  platform::LayerId ContentLayer(platform::SurfaceId id) override;
  platform::LayerId CreateLayer(platform::LayerKind kind) override;
  void DestroyLayer(platform::LayerId id) override;
  void AddSublayer(platform::LayerId parent, platform::LayerId child) override;
  void RemoveFromSuperlayer(platform::LayerId id) override;
  platform::LayerId Superlayer(platform::LayerId id) override;
  bool GetLayer(platform::LayerId id, platform::LayerState* out) override;
  void SetLayer(platform::LayerId id, const platform::LayerState& state) override;
  void AddAnimation(platform::LayerId id, const std::string& key,
                    const platform::Animation& anim) override;
  void RemoveAnimation(platform::LayerId id, const std::string& key) override;
  bool HasAnimation(platform::LayerId id, const std::string& key) override;
  void CommitTransaction() override;
  bool MeasureText(const std::string& utf8, double size, int weight, platform::Size* out) override;
  platform::Image RenderWindow(platform::SurfaceId id, platform::Rect region, int width_px,
                               int height_px) override;
  // Panels and display links (surfaces_panels.cc).
  platform::SurfaceId CreatePanelWindow(const platform::PanelWindowSpec& spec) override;
  bool GetPanelSpec(platform::SurfaceId id, platform::PanelWindowSpec* out) override;
  bool SetWindowFrame(platform::SurfaceId id, platform::Rect frame) override;
  void SetIgnoresMouse(platform::SurfaceId id, bool ignores) override;
  void InvalidateShadow(platform::SurfaceId id) override;
  void SetLayerContents(platform::LayerId id, platform::Image image) override;
  uint64_t StartDisplayLink(std::function<void()> tick) override;
  void StopDisplayLink(uint64_t id) override;
};

// desktop-sim commands of panels, display links and screenshots
// (surfaces_panels.cc, screenshots_sim.cc); *handled false for other names.
bool RunPanelCommand(const std::string& name, const Json& args, Json* result, std::string* error,
                     bool* handled);
// Back to automatic display links and screenshots, parked answers dropped.
void ResetPanelSim();
// The whole content of the add-on's window with that number at its backing
// scale, or null.
platform::Image RenderSurfaceByNumber(uint32_t number);
// Screenshots (screenshots_sim.cc).
void SimCaptureScreenshot(const platform::ContentFilter& filter,
                          const platform::ScreenshotConfiguration& config,
                          platform::ScreenshotCompletion completion);
bool RunScreenshotCommand(const std::string& name, const Json& args, Json* result,
                          std::string* error, bool* handled);
void ResetScreenshots();

SimSurfaces& SimSurfaceService();

// Window-list entries of the overlay windows ordered in, front first, for
// the simulated window list (called with the world's mutex held).
void AppendOverlayWindowEntries(platform::Array* list, double primary_height);
struct World;
double PrimaryDisplayHeight(World& w);  // world mutex held
double PrimaryDisplayHeightNow();        // takes the world mutex
// A bottom-left frame as [x, y, width, height] in global top-left points.
Json TopLeftFrameJson(const platform::Rect& frame, double primary_h);
// Whether a window number is one of the overlay windows (event-mask queries).
bool IsOverlayWindow(uint32_t number, bool* accepts_mouse_down);
// The overlay windows for desktop-sim: number, frame (global top-left),
// orderedIn, level, ignoresMouse, sharingType, layers (layers in the tree).
Json OverlayWindowsJson();
// Runs the screens-changed observers (host thread, from the application loop).
void DeliverScreensChanged();

// Drops finished animations (store mutex held).
void PruneAnimations(SimLayer& layer, double now_s);
double NowSeconds();

// cairo: draws a layer tree; a text size in the bundled font.
bool DrawWindowLayers(SurfaceStore& s, const SimSurfaceWindow& win, platform::Rect region,
                      int width_px, int height_px, std::vector<uint8_t>* rgba);
bool MeasureLine(const std::string& utf8, double size, int weight, platform::Size* out);

}  // namespace sim
