// The run-loop pump: keeps the platform's application run loop turning inside
// the host's event loop. A prepare handle turns it once per loop iteration; a
// 16 ms timer keeps it turning while overlays or panels hold leases. Every
// handle is unreferenced, so the pump never keeps the host alive, and nothing
// exists before the first call of ghost_ensure_nsapp / EnsureAppKitPump /
// ghost_appkit_pump_acquire.
#pragma once

#include <uv.h>

#include <cstdint>

extern "C" {
void ghost_ensure_nsapp(void);
void ghost_appkit_pump_acquire(void);
void ghost_appkit_pump_release(void);

// Overlay hooks the pump consults; the cursor overlay provides the real ones.
// Defaults: no overlay work, no overlay step.
bool ghost_overlay_pump_has_work(void);
void ghost_overlay_pump_step(double dt_seconds);
}

namespace addon {

void EnsureAppKitPump();
void StartAppKitPumpTimer();
// The one rule for the 16 ms timer: it runs while a lease is held or the
// overlay reports work (a shown or moving cursor, a pending cue, an active
// controller, a ripple still animating).
bool PumpTimerNeeded();
// Stops the timer when PumpTimerNeeded() no longer holds.
void StopAppKitPumpTimerIfIdle();
void PumpNSRunLoop(uv_prepare_t* handle);
void PumpNSRunLoopTimer(uv_timer_t* handle);

// Pump state, host thread only (exposed for the overlay and for tests).
struct PumpState {
  bool prepare_started = false;
  bool timer_initialized = false;
  bool timer_started = false;
  int64_t leases = 0;
  bool overlay_timers_initialized = false;
};
const PumpState& GetPumpState();

// The overlay's three timers, initialised (unreferenced) with the pump.
uv_timer_t* IdleScanTimer();
uv_timer_t* VisibilityTimer();

}  // namespace addon
