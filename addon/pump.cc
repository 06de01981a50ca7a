#include "pump.h"

#include "main_queue.h"
#include "platform/platform.h"

namespace addon {

namespace {

constexpr int kMaxEventsPerPass = 64;
constexpr uint64_t kPumpIntervalMs = 16;

uv_prepare_t g_prepare;
uv_timer_t g_appkit_pump_timer;
uv_timer_t g_idle_scan_timer;
uv_timer_t g_auto_hide_timer;
uv_timer_t g_visibility_timer;
PumpState g_state;

void InitUnrefTimer(uv_timer_t* t) {
  uv_timer_init(HostLoop(), t);
  uv_unref(reinterpret_cast<uv_handle_t*>(t));
}

}  // namespace

const PumpState& GetPumpState() { return g_state; }
uv_timer_t* IdleScanTimer() { return &g_idle_scan_timer; }
uv_timer_t* VisibilityTimer() { return &g_visibility_timer; }

void EnsureAppKitPump() {
  // The pump also drains the main queue; make sure posted work wakes the loop
  // even between pump turns.
  EnsureMainQueueOnHostLoop();
  if (!g_state.prepare_started) {
    uv_prepare_init(HostLoop(), &g_prepare);
    uv_prepare_start(&g_prepare, PumpNSRunLoop);
    uv_unref(reinterpret_cast<uv_handle_t*>(&g_prepare));
    g_state.prepare_started = true;
  }
  if (!g_state.timer_initialized) {
    InitUnrefTimer(&g_appkit_pump_timer);
    g_state.timer_initialized = true;
  }
  if (!g_state.overlay_timers_initialized) {
    InitUnrefTimer(&g_idle_scan_timer);
    InitUnrefTimer(&g_auto_hide_timer);
    InitUnrefTimer(&g_visibility_timer);
    g_state.overlay_timers_initialized = true;
  }
}

void StartAppKitPumpTimer() {
  if (g_state.timer_initialized && !g_state.timer_started) {
    uv_timer_start(&g_appkit_pump_timer, PumpNSRunLoopTimer, 0, kPumpIntervalMs);
    g_state.timer_started = true;
  }
}

bool PumpTimerNeeded() { return g_state.leases > 0 || ghost_overlay_pump_has_work(); }

void StopAppKitPumpTimerIfIdle() {
  if (g_state.timer_initialized && g_state.timer_started && !PumpTimerNeeded()) {
    uv_timer_stop(&g_appkit_pump_timer);
    g_state.timer_started = false;
  }
}

void PumpNSRunLoop(uv_prepare_t*) {
  auto& loop = platform::Get().app_loop();
  for (int i = 0; i < kMaxEventsPerPass; ++i) {
    if (!loop.DispatchNextEvent()) break;
  }
  loop.RunOnce();
  // Blocks dispatched to the main queue fire with the run-loop turn.
  DrainMainQueue();
}

void PumpNSRunLoopTimer(uv_timer_t*) {
  PumpNSRunLoop(nullptr);
  ghost_overlay_pump_step(kPumpIntervalMs / 1000.0);
}

}  // namespace addon

extern "C" {

__attribute__((weak)) bool ghost_overlay_pump_has_work(void) { return false; }
__attribute__((weak)) void ghost_overlay_pump_step(double) {}

void ghost_ensure_nsapp(void) {
  platform::Get().app_loop().EnsureApplication();
  addon::EnsureAppKitPump();
}

void ghost_appkit_pump_acquire(void) {
  addon::EnsureAppKitPump();
  ++addon::g_state.leases;
  addon::StartAppKitPumpTimer();
}

void ghost_appkit_pump_release(void) {
  auto& s = addon::g_state;
  if (s.leases > 0) --s.leases;
  addon::StopAppKitPumpTimerIfIdle();
}

}  // extern "C"
