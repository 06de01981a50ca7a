// The mirroring panels' live test calls on the controller: a capture-less
// test panel, moving it, and the capture-failure fixture.
#include "pip/pip_controller.h"
#include "pip/pip_interaction.h"
#include "pip/pip_log.h"
#include "main_queue.h"
#include "platform/platform.h"

namespace pip {

namespace {

constexpr int kFixtureFailures = kPipStopAfterCaptureFailures - 1;

platform::Image TestFrame(double width, double height) {
  auto bmp = std::make_shared<platform::Bitmap>();
  bmp->width = std::max(1, static_cast<int>(width));
  bmp->height = std::max(1, static_cast<int>(height));
  bmp->rgba.assign(static_cast<size_t>(bmp->width) * bmp->height * 4, 0);
  for (size_t i = 0; i < bmp->rgba.size(); i += 4) {
    bmp->rgba[i] = 40;
    bmp->rgba[i + 1] = 90;
    bmp->rgba[i + 2] = 160;
    bmp->rgba[i + 3] = 255;
  }
  return bmp;
}

}  // namespace

bool KvPipController::startInteractionTestPanel(double width, double height) {
  if (!PipCheckMain("startInteractionTestPanel", "PiP UI must start on the main thread")) return false;
  test_panel_ = true;
  sizePanel(platform::Size{width, height}, width, height);
  if (!createPanelForVerifiedMode(false)) {
    stop();
    return false;
  }
  beginCapture();
  presentFrame(TestFrame(size_.width, size_.height));
  return true;
}

bool KvPipController::moveToGlobalTopLeft(double x, double y) {
  if (!panel_ || !running()) return false;
  platform::Rect g = globalFrame();
  interaction_->beginGeometryUpdate(true);
  moveFrameBy(x - g.x, y - g.y);
  interaction_->finishGeometryUpdate(panelWindowNumber());
  return true;
}

bool KvPipController::simulatePersistentCaptureFailures() {
  if (!running()) return false;
  uint64_t g = generation_.load();
  int before = consecutive_capture_failures_.load();
  // Failures reported for an earlier generation are dropped by the loops'
  // generation check before they are counted.
  if (acceptsGeneration(g - 1)) return false;
  for (int i = 0; i < kFixtureFailures; ++i) noteDisplayLinkFrameFailureForGeneration(g, false);
  bool counted = consecutive_capture_failures_.load() == before + kFixtureFailures && running();
  noteFrameSuccess();
  bool reset = consecutive_capture_failures_.load() == 0;
  if (test_panel_) {
    // The failures asked for the panel to be hidden; a test panel has no
    // capture to bring it back, so present its frame again after the hide.
    std::weak_ptr<KvPipController> weak = weak_from_this();
    addon::PostToMain([weak] {
      auto self = weak.lock();
      if (self && self->running()) self->presentFrame(TestFrame(self->size_.width, self->size_.height));
    });
  }
  return counted && reset && running();
}

}  // namespace pip
