#include "pip/pip_interaction.h"

#include <mutex>
#include <set>

#include "pip/pip_controller.h"
#include "pip/pip_log.h"
#include "pip/pip_stack.h"
#include "platform/platform.h"

namespace pip {

namespace {
// Panels whose monitor was started and not stopped (main thread only).
std::set<const KvPipController*>& Started() {
  static auto* s = new std::set<const KvPipController*>();
  return *s;
}
}  // namespace

void PipInteractionStart(KvPipController& panel) {
  if (!PipCheckMain("PipInteractionStart", "PiP input monitor must start on the main thread"))
    return;
  Started().insert(&panel);
  if (panel.groupHidden()) return;
  auto& surf = platform::Get().surfaces();
  surf.SetIgnoresMouse(panel.panelWindow(), false);
  surf.OrderFront(panel.panelWindow());
  PipInteractionRepublish(panel);
}

void PipInteractionRepublish(KvPipController& panel) {
  if (!PipCheckMain("PipInteractionRepublish", "PiP interaction publication must run on main"))
    return;
  bool visible = Started().count(&panel) && !panel.groupHidden() && panel.hasPresentedFrame() &&
                 platform::Get().surfaces().IsOrderedIn(panel.panelWindow());
  PipStackSetPublishedBounds(&panel, panel.globalFrame(), visible);
}

void PipInteractionHide(KvPipController& panel) {
  PipStackSetPublishedBounds(&panel, platform::Rect{}, false);
  platform::Get().surfaces().SetIgnoresMouse(panel.panelWindow(), true);
}

void PipInteractionStop(KvPipController& panel) {
  Started().erase(&panel);
  PipStackSetPublishedBounds(&panel, platform::Rect{}, false);
}

bool PipInteractionReady(const KvPipController& panel) {
  return Started().count(&panel) > 0 && panel.running();
}

int64_t PipPrepareSyntheticPointerDown(platform::Point point) {
  // The interim monitor claims no presses, so no panel reserves one.
  (void)point;
  return 0;
}

bool PipLeadInteractionReady() {
  PanelRef lead = PipStackLead();
  auto* c = dynamic_cast<KvPipController*>(lead.get());
  return c && c->running() && PipInteractionReady(*c);
}

}  // namespace pip
