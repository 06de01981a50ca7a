// The panel's interaction monitor as far as capture and the stack need it:
// started by the first presented frame, it shows the panel, lets it take the
// mouse and publishes its bounds for hit tests; hiding and stopping withdraw
// them. This is an interim monitor with no event tap: it is ready as soon as
// it is started, and it claims no pointer events. The full monitor (tap,
// drag, close hot zone, synthetic pointer-down reservations, readiness
// deadline) replaces these functions without changing their callers.
#pragma once

#include <cstdint>

#include "platform/value.h"

namespace pip {

class KvPipController;

// Main thread. Shows the panel unless its group is hidden, and publishes.
void PipInteractionStart(KvPipController& panel);
// Main thread. Publishes the panel's current bounds again (after a move, a
// resize or when its group is shown).
void PipInteractionRepublish(KvPipController& panel);
// Main thread. Withdraws the bounds and makes the panel ignore the mouse.
void PipInteractionHide(KvPipController& panel);
void PipInteractionStop(KvPipController& panel);
bool PipInteractionReady(const KvPipController& panel);

// Main thread. Asks each running panel, front to back, to reserve a synthetic
// left press at `point` (global top-left); the first non-zero answer wins (a
// token, or -1 for a refusal), 0 when every panel answers 0.
int64_t PipPrepareSyntheticPointerDown(platform::Point point);
// Main thread. The lead panel is running and its monitor is ready.
bool PipLeadInteractionReady();

}  // namespace pip
