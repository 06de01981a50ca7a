// Panel lifecycle: the panel window and its layers, the three starts, stop,
// the presentation mailbox, group hiding, freezing, the completion badge and
// geometry sync.
#include "pip/pip_controller.h"

#include <cmath>

#include "apps/identity.h"
#include "main_queue.h"
#include "pip/pip_geometry.h"
#include "pip/pip_interaction.h"
#include "pip/pip_log.h"
#include "platform/platform.h"
#include "pump.h"

namespace pip {

namespace {

constexpr int64_t kPanelLevel = 3;                 // floating
constexpr uint32_t kPanelCollectionBehavior = 0x101;  // all spaces, full-screen auxiliary
constexpr double kCornerRadius = 10;
constexpr double kCloseButtonSide = 22;
constexpr double kCloseButtonInset = 6;
constexpr double kBadgeSide = 52;

platform::Surfaces& Surf() { return platform::Get().surfaces(); }

// The main screen's (else the first screen's) frame; the panel's screen is
// the one holding most of it.
bool ScreenFor(const platform::Rect* frame, platform::ScreenInfo* out) {
  auto screens = Surf().Screens();
  if (screens.empty()) return false;
  *out = screens[0];
  if (!frame) return true;
  double best = 0;
  for (const auto& s : screens) {
    double w = std::min(frame->x + frame->width, s.frame.x + s.frame.width) -
               std::max(frame->x, s.frame.x);
    double h = std::min(frame->y + frame->height, s.frame.y + s.frame.height) -
               std::max(frame->y, s.frame.y);
    if (w > 0 && h > 0 && w * h > best) {
      best = w * h;
      *out = s;
    }
  }
  return true;
}

double PrimaryHeight() {
  auto screens = Surf().Screens();
  return screens.empty() ? 0 : screens[0].frame.height;
}

}  // namespace

std::shared_ptr<KvPipController> KvPipController::Create() {
  auto c = std::shared_ptr<KvPipController>(new KvPipController());
  c->interaction_ = std::make_shared<PipInteraction>(c);
  return c;
}

void KvPipController::moveFrameBy(double dx, double dy) {
  if (!panel_) return;
  auto& surf = Surf();
  platform::PanelWindowSpec spec;
  if (!surf.GetPanelSpec(panel_, &spec)) return;
  // The window frame has a bottom-left origin: moving down lowers y.
  platform::Rect f = spec.frame;
  f.x += dx;
  f.y -= dy;
  surf.SetWindowFrame(panel_, f);
}

KvPipController::~KvPipController() {
  // A controller is stopped before its last holder lets go; this only covers
  // one that was never started.
  if (queue_) queue_->Shutdown();
}

void KvPipController::setGroupKey(GroupKey g) {
  std::lock_guard<std::mutex> l(group_mu_);
  group_key_ = std::move(g);
}

GroupKey KvPipController::groupKey() const {
  std::lock_guard<std::mutex> l(group_mu_);
  return group_key_;
}

uint32_t KvPipController::panelWindowNumber() const {
  return panel_ ? Surf().WindowNumber(panel_) : 0;
}

platform::Rect KvPipController::globalFrame() const {
  platform::PanelWindowSpec spec;
  if (!panel_ || !Surf().GetPanelSpec(panel_, &spec)) return platform::Rect{};
  const auto& f = spec.frame;
  return platform::Rect{f.x, PrimaryHeight() - f.y - f.height, f.width, f.height};
}

void KvPipController::sizePanel(platform::Size source, double width, double height) {
  requested_ = RequestedBox(width, height);
  size_ = AspectFit(source, requested_);
}

bool KvPipController::createPanelForVerifiedMode(bool verified) {
  if (!PipCheckMain("createPanelForVerifiedMode", "PiP UI must start on the main thread"))
    return false;
  if (!pump_lease_) {
    ghost_appkit_pump_acquire();
    pump_lease_ = true;
  }
  // One default box everywhere: a dimension below 1 takes 360 x 240.
  if (size_.width < 1) size_.width = kDefaultBoxWidth;
  if (size_.height < 1) size_.height = kDefaultBoxHeight;
  platform::ScreenInfo screen;
  if (!ScreenFor(nullptr, &screen)) return false;
  platform::Rect frame = InitialPanelFrame(size_, screen.frame);
  PipLog("position: x=%.0f y=%.0f (visible-screen anchor)", frame.x, frame.y);

  platform::PanelWindowSpec spec;
  spec.frame = frame;
  spec.level = kPanelLevel;
  spec.collection_behavior = kPanelCollectionBehavior;
  spec.has_shadow = true;
  spec.opaque = false;
  spec.movable_by_background = false;
  spec.ignores_mouse = true;  // until the interaction monitor is ready
  spec.hides_on_deactivate = false;
  spec.content_aspect = size_;
  spec.corner_radius = kCornerRadius;
  spec.backing_scale = screen.backing_scale;
  auto& surf = Surf();
  panel_ = surf.CreatePanelWindow(spec);
  if (!panel_) return false;
  platform::LayerId content = surf.ContentLayer(panel_);
  surf.BeginTransaction();
  image_layer_ = surf.CreateLayer(platform::LayerKind::kImage);
  platform::LayerState st;
  st.bounds = platform::Rect{0, 0, size_.width, size_.height};
  st.anchor = platform::Point{0, 0};
  st.contents_scale = screen.backing_scale;
  surf.SetLayer(image_layer_, st);
  surf.AddSublayer(content, image_layer_);
  // The close button shows while the pointer is over the panel.
  close_button_ = surf.CreateLayer(platform::LayerKind::kPlain);
  platform::LayerState cb;
  cb.bounds = platform::Rect{0, 0, kCloseButtonSide, kCloseButtonSide};
  cb.anchor = platform::Point{0, 0};
  cb.position = platform::Point{size_.width - kCloseButtonInset - kCloseButtonSide,
                                size_.height - kCloseButtonInset - kCloseButtonSide};
  cb.corner_radius = kCloseButtonSide / 2;
  cb.background = platform::Rgba{0, 0, 0, 0.6};
  cb.hidden = true;
  surf.SetLayer(close_button_, cb);
  surf.AddSublayer(content, close_button_);
  surf.CommitTransaction();
  if (!screens_observer_) {
    std::weak_ptr<KvPipController> weak = weak_from_this();
    screens_observer_ = surf.AddScreensChangedObserver([weak] {
      auto self = weak.lock();
      if (!self || !self->running()) return;
      if (!PipCheckMain("screenParametersChanged", "PiP screen topology changes must run on main"))
        return;
      PipInteractionRepublish(*self);
      if (self->verified_ && !self->identity_window_id_capture_) self->refreshVerifiedCaptureSource();
    });
  }
  PipLog("NSPanel created hidden mode=%s", verified ? "verified" : "legacy");
  return true;
}

void KvPipController::beginCapture() {
  generation_++;
  accepting_frames_ = true;
  capture_in_flight_ = false;
  legacy_capture_in_flight_ = false;
  consecutive_capture_failures_ = 0;
  consecutive_identity_failures_ = 0;
  running_ = true;
  if (!queue_) queue_ = std::make_shared<PipCaptureQueue>("com.korvo.oza.pip-frames");
}

bool KvPipController::startLegacyWithWindowId(uint32_t window_id, double width, double height) {
  if (!PipCheckMain("startLegacyWithWindowId", "PiP UI must start on the main thread"))
    return false;
  window_id_ = presentation_window_id_ = window_id;
  actual_window_id_ = window_id;
  expected_pid_ = 0;
  expected_bundle_id_.clear();
  verified_ = false;
  platform::Size source;
  CopyLiveWindowSizeForIdentity(window_id, 0, &source);
  sizePanel(source, width, height);
  if (!createPanelForVerifiedMode(false)) {
    stop();
    return false;
  }
  if (!startDisplayLinkCapture()) return false;
  PipLog("CVDisplayLink started wid=%u", window_id);
  return true;
}

bool KvPipController::startDisplayLinkCapture() {
  beginCapture();
  std::weak_ptr<KvPipController> weak = weak_from_this();
  display_link_ = Surf().StartDisplayLink([weak] {
    if (auto self = weak.lock()) self->displayLinkTick();
  });
  if (display_link_) return true;
  stop();
  return false;
}

bool KvPipController::startWithVerifiedWindowId(uint32_t window_id, int32_t pid,
                                                const std::string& bundle_id,
                                                platform::Size source, double width,
                                                double height) {
  if (!PipCheckMain("startWithVerifiedWindowId", "PiP UI must start on the main thread"))
    return false;
  if (!presentation_window_id_) presentation_window_id_ = window_id;
  window_id_ = window_id;
  actual_window_id_ = window_id;
  expected_pid_ = pid;
  expected_bundle_id_ = bundle_id;
  verified_ = true;
  identity_window_id_capture_ = true;
  sizePanel(source, width, height);
  if (!createPanelForVerifiedMode(true)) {
    stop();
    return false;
  }
  if (!startDisplayLinkCapture()) return false;
  PipLog("identity-verified window-id capture started wid=%u pid=%d", window_id, pid);
  return true;
}

bool KvPipController::sourceMatchesIdentity(const platform::ShareableWindow& w) const {
  return w.has_owning_application && w.owner_pid == expected_pid_ && w.owner_bundle_id &&
         common::EqualsIgnoringAsciiCase(*w.owner_bundle_id, expected_bundle_id_);
}

bool KvPipController::startWithVerifiedWindow(const platform::ShareableWindow& window,
                                              uint32_t window_id, int32_t pid,
                                              const std::string& bundle_id, double width,
                                              double height) {
  if (!PipCheckMain("startWithVerifiedWindow", "PiP UI must start on the main thread"))
    return false;
  expected_pid_ = pid;
  expected_bundle_id_ = bundle_id;
  if (!sourceMatchesIdentity(window)) return false;
  window_id_ = window.window_id;
  if (!presentation_window_id_) presentation_window_id_ = window.window_id;
  actual_window_id_ = window.window_id;
  (void)window_id;
  verified_ = true;
  identity_window_id_capture_ = false;
  sizePanel(platform::Size{window.frame.width, window.frame.height}, width, height);
  if (!createPanelForVerifiedMode(true)) {
    stop();
    return false;
  }
  {
    std::lock_guard<std::mutex> l(source_mu_);
    verified_window_ = window;
  }
  if (!refreshVerifiedCaptureSource()) {
    stop();
    return false;
  }
  beginCapture();
  capture_in_flight_ticks_ = 0;
  capture_backpressure_shown_ = false;
  uint64_t g = generation_.load();
  std::weak_ptr<KvPipController> weak = weak_from_this();
  queue_->StartTimer(std::chrono::milliseconds(200), [weak, g] {
    if (auto self = weak.lock()) self->verifiedTimerTick(g);
  });
  PipLog("verified SCScreenshotManager timer started wid=%u pid=%d", window_id_, pid);
  return true;
}

void KvPipController::rebuildConfiguration() {
  platform::ScreenInfo screen;
  platform::PanelWindowSpec spec;
  const platform::Rect* frame = panel_ && Surf().GetPanelSpec(panel_, &spec) ? &spec.frame : nullptr;
  double scale = ScreenFor(frame, &screen) ? std::max(1.0, screen.backing_scale) : 1.0;
  platform::ScreenshotConfiguration c;
  int w, h;
  OutputSize(size_, scale, &w, &h);
  c.width = w;
  c.height = h;
  c.shows_cursor = false;
  c.ignore_shadows_single_window = true;
  c.scales_to_fit = true;
  c.preserves_aspect_ratio = false;
  c.opaque = false;
  c.include_child_windows = true;
  std::lock_guard<std::mutex> l(source_mu_);
  if (source_rect_use_global_ && verified_window_) {
    c.has_source_rect = true;
    c.source_rect = verified_window_->frame;
  }
  verified_configuration_ = c;
}

bool KvPipController::refreshVerifiedCaptureSource() {
  if (!PipCheckMain("refreshVerifiedCaptureSource",
                    "PiP capture source refresh must run on the main thread"))
    return false;
  std::optional<platform::ShareableWindow> window;
  {
    std::lock_guard<std::mutex> l(source_mu_);
    window = verified_window_;
  }
  if (!verified_ || !window || expected_pid_ <= 0 || expected_bundle_id_.empty() ||
      !addon::LivePidMatchesExpectedBundle(expected_pid_, expected_bundle_id_) ||
      !sourceMatchesIdentity(*window))
    return false;
  platform::ContentFilter filter;
  if (!platform::Get().screen_capture().CreateDesktopIndependentWindowFilter(*window, &filter))
    return false;
  {
    std::lock_guard<std::mutex> l(source_mu_);
    verified_filter_ = filter;
  }
  rebuildConfiguration();
  PipLog("verified capture source refreshed wid=%u pid=%d", window->window_id, expected_pid_);
  return true;
}

bool KvPipController::refreshVerifiedCompositeWindow(const platform::ShareableWindow& window,
                                                     uint32_t actual_window_id) {
  if (!PipCheckMain("refreshVerifiedCompositeWindow", "PiP composite refresh must run on main"))
    return false;
  if (window.window_id != actual_window_id || !sourceMatchesIdentity(window) ||
      !addon::LivePidMatchesExpectedBundle(expected_pid_, expected_bundle_id_))
    return false;
  {
    std::lock_guard<std::mutex> l(source_mu_);
    verified_window_ = window;
  }
  actual_window_id_ = actual_window_id;
  return refreshVerifiedCaptureSource();
}

void KvPipController::stop() {
  if (!PipCheckMain("stop", "PiP UI must stop on the main thread")) return;
  accepting_frames_ = false;
  generation_++;
  visibility_epoch_++;
  identity_failure_epoch_++;
  capture_sequence_++;
  capture_in_flight_ = false;
  legacy_capture_in_flight_ = false;
  consecutive_capture_failures_ = 0;
  consecutive_identity_failures_ = 0;
  running_ = false;
  if (stopped_) return;
  stopped_ = true;
  PipInteractionStop(*this);
  auto& surf = Surf();
  if (screens_observer_) surf.RemoveScreensChangedObserver(screens_observer_);
  screens_observer_ = 0;
  {
    std::lock_guard<std::mutex> l(pending_frame_mutex_);
    pending_frame_image_.reset();
    pending_frame_epoch_ = 0;
  }
  if (display_link_) surf.StopDisplayLink(display_link_);
  display_link_ = 0;
  if (queue_) queue_->Shutdown();
  if (panel_) {
    surf.OrderOut(panel_);
    surf.BeginTransaction();
    for (platform::LayerId* l : {&image_layer_, &close_button_, &badge_}) {
      if (*l) surf.DestroyLayer(*l);
      *l = 0;
    }
    surf.CommitTransaction();
    surf.CloseWindow(panel_);
    panel_ = 0;
  }
  {
    std::lock_guard<std::mutex> l(source_mu_);
    verified_filter_.reset();
    verified_configuration_.reset();
    verified_window_.reset();
  }
  if (pump_lease_) {
    pump_lease_ = false;
    ghost_appkit_pump_release();
  }
}

bool KvPipController::acceptsGeneration(uint64_t g) const {
  return accepting_frames_.load() && generation_.load() == g;
}

void KvPipController::orderFrontRegardless() {
  if (panel_ && running()) Surf().OrderFront(panel_);
}

// ---- mailbox ----

void KvPipController::enqueueImageForPresentation(platform::Image image, uint64_t g) {
  if (!acceptsGeneration(g)) return;
  uint64_t epoch = ++visibility_epoch_;
  {
    std::lock_guard<std::mutex> l(pending_frame_mutex_);
    if (visibility_epoch_.load() != epoch || pending_frame_epoch_ > epoch) return;
    pending_frame_image_ = std::move(image);
    pending_frame_epoch_ = epoch;
    pending_presentation_is_hide_ = false;
    pending_generation_ = g;
  }
  schedulePresentation();
}

void KvPipController::requestHideForGeneration(uint64_t g) {
  if (!acceptsGeneration(g)) return;
  uint64_t epoch = ++visibility_epoch_;
  {
    std::lock_guard<std::mutex> l(pending_frame_mutex_);
    if (visibility_epoch_.load() != epoch || pending_frame_epoch_ > epoch) return;
    pending_frame_image_.reset();
    pending_frame_epoch_ = epoch;
    pending_presentation_is_hide_ = true;
    pending_generation_ = g;
  }
  schedulePresentation();
}

void KvPipController::schedulePresentation() {
  if (frame_presentation_scheduled_.exchange(true)) return;
  std::weak_ptr<KvPipController> weak = weak_from_this();
  addon::PostToMain([weak] {
    if (auto self = weak.lock()) self->runPresentation();
  });
}

void KvPipController::runPresentation() {
  platform::Image image;
  uint64_t epoch, g;
  bool hide;
  {
    std::lock_guard<std::mutex> l(pending_frame_mutex_);
    image = std::move(pending_frame_image_);
    pending_frame_image_.reset();
    epoch = pending_frame_epoch_;
    hide = pending_presentation_is_hide_;
    g = pending_generation_;
    pending_frame_epoch_ = 0;
    pending_presentation_is_hide_ = false;
    frame_presentation_scheduled_ = false;
  }
  if (epoch == 0) return;
  PipSignpost("pip.frame.present");
  if (!acceptsGeneration(g) || visibility_epoch_.load() != epoch) return;
  if (hide) {
    hideCaptureUntilNextFrame();
    return;
  }
  if (!image) return;
  if (verified_ && !identity_window_id_capture_) {
    std::lock_guard<std::mutex> l(source_mu_);
    if (!verified_window_) return;
  }
  presentFrame(image);
}

void KvPipController::presentFrame(const platform::Image& image) {
  if (!PipCheckMain("presentFrame", "PiP frame presentation must run on the main thread")) return;
  if (!panel_ || !image_layer_) return;
  auto& surf = Surf();
  surf.BeginTransaction();
  surf.SetLayerContents(image_layer_, image);
  surf.CommitTransaction();
  if (!has_presented_frame_.exchange(true)) {
    surf.InvalidateShadow(panel_);
    PipInteractionStart(*this);
  } else if (!PipInteractionVisible(*this)) {
    // The monitor was retired (its tap switched off by the platform): the
    // next frame starts a new one.
    PipInteractionStart(*this);
  }
}

void KvPipController::hideCaptureUntilNextFrame() {
  if (!PipCheckMain("hideCaptureUntilNextFrame", "PiP capture hiding must run on the main thread"))
    return;
  if (!panel_) return;
  auto& surf = Surf();
  surf.SetLayerContents(image_layer_, nullptr);
  has_presented_frame_ = false;
  PipInteractionHide(*this);
  surf.OrderOut(panel_);
}

// ---- groups, freezing, badge ----

void KvPipController::setGroupHidden(bool hidden) {
  if (group_hidden_.load() == hidden) return;
  group_hidden_ = hidden;
  if (hidden) {
    visibility_epoch_++;
    PipInteractionHide(*this);
    if (panel_) Surf().OrderOut(panel_);
    PipLog("PiP group hidden");
  } else {
    PipPromotePanel(shared_from_this());
    if (has_presented_frame_) PipInteractionStart(*this);
    PipLog("PiP group shown");
  }
}

void KvPipController::freezeCapture() {
  if (!task_completed_.exchange(true)) PipLog("PiP capture frozen (session ended)");
}

void KvPipController::showTaskCompletionBadge() {
  if (badge_ || !panel_) {
    task_completed_ = true;
    return;
  }
  auto& surf = Surf();
  platform::LayerId content = surf.ContentLayer(panel_);
  if (!content) return;
  task_completed_ = true;
  surf.BeginTransaction();
  badge_ = surf.CreateLayer(platform::LayerKind::kShape);
  platform::LayerState st;
  st.bounds = platform::Rect{0, 0, kBadgeSide, kBadgeSide};
  st.anchor = platform::Point{0, 0};
  st.position = platform::Point{(size_.width - kBadgeSide) / 2, (size_.height - kBadgeSide) / 2};
  st.corner_radius = kBadgeSide / 2;
  st.background = platform::Rgba{0.18, 0.68, 0.35, 0.95};
  // A check mark.
  st.path = {{platform::PathOp::kMove, {{15, 27}}},
             {platform::PathOp::kLine, {{23, 19}}},
             {platform::PathOp::kLine, {{38, 35}}}};
  st.stroke = platform::Rgba{1, 1, 1, 1};
  st.line_width = 4;
  st.round_caps_and_joins = true;
  surf.SetLayer(badge_, st);
  surf.AddSublayer(content, badge_);
  surf.CommitTransaction();
  PipLog("PiP task completed badge shown; capture frozen");
}

// ---- geometry ----

void KvPipController::syncVerifiedGeometryToSourceBounds(platform::Size bounds) {
  if (!PipCheckMain("syncVerifiedGeometryToSourceBounds",
                    "PiP geometry updates must run on the main thread"))
    return;
  if (!verified_ || !running() || !panel_ || !(bounds.width > 0) || !(bounds.height > 0)) return;
  if (PipInteractionDragging(*this)) {
    PipLog("geometry sync deferred during active PiP drag");
    return;
  }
  platform::Size fit = AspectFit(bounds, requested_);
  if (fit.width == size_.width && fit.height == size_.height) {
    rebuildConfiguration();
    return;
  }
  auto& surf = Surf();
  platform::PanelWindowSpec spec;
  if (!surf.GetPanelSpec(panel_, &spec)) return;
  double top = spec.frame.y + spec.frame.height;
  platform::Rect frame{spec.frame.x, top - fit.height, fit.width, fit.height};
  platform::ScreenInfo screen;
  if (ScreenFor(&spec.frame, &screen)) frame = KeepInside(frame, screen.frame);
  interaction_->beginGeometryUpdate(false);
  surf.SetWindowFrame(panel_, frame);
  size_ = fit;
  platform::LayerState st;
  if (surf.GetLayer(image_layer_, &st)) {
    st.bounds = platform::Rect{0, 0, fit.width, fit.height};
    surf.SetLayer(image_layer_, st);
  }
  if (surf.GetLayer(close_button_, &st)) {
    st.position = platform::Point{fit.width - kCloseButtonInset - kCloseButtonSide,
                                  fit.height - kCloseButtonInset - kCloseButtonSide};
    surf.SetLayer(close_button_, st);
  }
  rebuildConfiguration();
  interaction_->finishGeometryUpdate(panelWindowNumber());
  PipLog("geometry synced source=%.0fx%.0f pip=%dx%d", bounds.width, bounds.height,
         static_cast<int>(fit.width), static_cast<int>(fit.height));
}

}  // namespace pip
