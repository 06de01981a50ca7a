#include "input/background_session.h"

#include <chrono>
#include <cmath>
#include <map>
#include <optional>

#include "apps/identity.h"
#include "ax/ax_read.h"
#include "ax/window_list.h"
#include "input/background_events.h"
#include "input/mouse_post.h"
#include "skylight.h"

namespace addon {

namespace {

constexpr double kBoundsTolerance = 1.0;
constexpr double kCursorTolerance = 0.5;
constexpr double kSwitchedBeginPauseMs = 40;
constexpr double kEndPauseMs = 100;
constexpr double kUnfocusPauseMs = 40;

struct SyntheticFocusSession {
  bool active = false;
  bool switched = false;
  WindowTarget target;
  int32_t begin_frontmost = 0;
  platform::Point begin_cursor;
  platform::ProcessSerialNumber psn;
};

// What the activation routine already did for a process.
struct FocusLedgerRecord {
  bool primed = false;
  bool activated = false;
  int32_t frontmost_at_activation = 0;
};

std::mutex g_background_input_mutex;
// Guarded by g_background_input_mutex.
SyntheticFocusSession g_session;
std::map<int32_t, FocusLedgerRecord> g_focus_ledger;

std::atomic<bool> g_session_active{false};
std::atomic<bool> g_cps_activation_disabled{false};

// The last switched session that ended: its own lock, held for a few reads.
std::mutex g_focus_end_mutex;
bool g_focus_end_known = false;
int32_t g_focus_end_pid = 0;
platform::TimePoint g_focus_end_time;

platform::Platform& P() { return platform::Get(); }

bool PastDeadline(platform::TimePoint deadline) { return P().clock().Now() >= deadline; }

int32_t FrontmostPid() { return static_cast<int32_t>(P().workspace().FrontmostApplicationPid()); }

int32_t PostFocusRecordStatus(const SyntheticFocusSession& s, bool focus) {
  const SkyLightEventFunctions& sl = SkyLightEvents();
  if (!sl.post_event_record_to) return -1;
  return sl.post_event_record_to(s.psn, FocusEventRecord(s.target.window_id, focus));
}

void PostFocusRecord(const SyntheticFocusSession& s, bool focus) { PostFocusRecordStatus(s, focus); }

std::optional<double> DictNumber(const platform::Dict& d, const char* key) {
  auto it = d.find(key);
  if (it == d.end() || !it->second.number()) return std::nullopt;
  return it->second.number()->value;
}

// The one window-list entry of the window, or null unless there is exactly one.
std::optional<platform::Dict> LiveWindowEntry(uint32_t window_id) {
  auto list = P().windows().CopyWindowList(platform::WindowListOption::kAll);
  if (!list) return std::nullopt;
  std::optional<platform::Dict> found;
  int count = 0;
  for (const platform::Value& v : *list) {
    const platform::Dict* d = v.dict();
    if (!d) continue;
    auto n = DictNumber(*d, platform::kWindowNumber);
    if (!n || *n != static_cast<double>(window_id)) continue;
    ++count;
    found = *d;
  }
  if (count != 1) return std::nullopt;
  return found;
}

bool InOnScreenList(uint32_t window_id) {
  auto list =
      P().windows().CopyWindowList(platform::WindowListOption::kOnScreenOnlyExcludingDesktop);
  if (!list) return false;
  for (const platform::Value& v : *list) {
    const platform::Dict* d = v.dict();
    if (!d) continue;
    auto n = DictNumber(*d, platform::kWindowNumber);
    if (n && *n == static_cast<double>(window_id)) return true;
  }
  return false;
}

// The AXActivationPoint of the application's window whose frame matches the
// session bounds, when it lies within the bounds enlarged by one point.
std::optional<platform::Point> FindActivationPoint(const SyntheticFocusSession& s) {
  platform::AXElement app = P().ax().CreateApplication(s.target.pid);
  std::vector<platform::AXElement> windows;
  if (!app || !CopyElementArrayAttr(app, "AXWindows", &windows)) return std::nullopt;
  const platform::Rect& b = s.target.bounds;
  for (const platform::AXElement& w : windows) {
    platform::Rect frame;
    if (!CopyFrame(w, &frame) || !BoundsMatch(frame, b, kBoundsTolerance)) continue;
    platform::Value v;
    if (P().ax().CopyAttributeValue(w, "AXActivationPoint", &v) !=
            platform::kAXErrorSuccess ||
        !v.point()) {
      continue;
    }
    const platform::Point p = *v.point();
    const platform::Rect grown{b.x - 1, b.y - 1, b.width + 2, b.height + 2};
    if (p.x >= grown.x && p.y >= grown.y && p.x <= grown.x + grown.width &&
        p.y <= grown.y + grown.height) {
      return p;
    }
  }
  return std::nullopt;
}

// Makes a background application treat itself as active without the
// window server activating it: answers how many events it posted (0, 1, 3).
int EnforceActiveState(const SyntheticFocusSession& s) {
  const int32_t pid = s.target.pid;
  const int32_t front = FrontmostPid();
  if (front == pid) {
    g_focus_ledger.erase(pid);
    return 0;
  }
  auto it = g_focus_ledger.find(pid);
  if (it != g_focus_ledger.end() && it->second.frontmost_at_activation != front) {
    g_focus_ledger.erase(it);
  }
  FocusLedgerRecord& record = g_focus_ledger[pid];
  if (record.activated) return 0;
  platform::Events& events = P().events();
  if (record.primed) {
    events.PostToPid(pid, AppKitOtherEvent());
    record.activated = true;
    record.frontmost_at_activation = front;
    return 1;
  }
  std::vector<platform::Event> posts{AppKitActivationEvent(s.target.window_id)};
  if (s.target.window_id != 0 && s.target.bounds.width > 0 && s.target.bounds.height > 0) {
    if (auto point = FindActivationPoint(s)) {
      posts.push_back(MakeSyntheticActivationClick(true, s.target.window_id, s.target.bounds, *point));
      posts.push_back(MakeSyntheticActivationClick(false, s.target.window_id, s.target.bounds, *point));
    }
  }
  for (platform::Event& e : posts) {
    e.timestamp_ns = UptimeNs();
    events.PostToPid(pid, e);
  }
  record.primed = true;
  record.activated = true;
  record.frontmost_at_activation = front;
  return static_cast<int>(posts.size());
}

}  // namespace

std::mutex& BackgroundInputMutex() { return g_background_input_mutex; }
bool BackgroundFocusSessionActive() { return g_session_active.load(); }
void SetCpsActivationDisabledFlag(bool disabled) { g_cps_activation_disabled.store(disabled); }
bool CpsActivationDisabled() { return g_cps_activation_disabled.load(); }

std::array<uint8_t, 248> FocusEventRecord(uint32_t window_id, bool focus) {
  std::array<uint8_t, 248> r{};
  r[4] = 0xF8;
  r[8] = 0x0D;
  for (int i = 0; i < 4; ++i) r[0x3C + i] = static_cast<uint8_t>((window_id >> (8 * i)) & 0xFF);
  r[0x8A] = focus ? 1 : 2;
  return r;
}

BeginOutcome BeginFocusLockedDetailed(const WindowTarget& t, platform::TimePoint deadline) {
  BeginOutcome o = BeginRefusal(t, "");
  o.missing_symbols = SkyLightEvents().absent;
  auto fail = [&](const char* reason) {
    o.reason = reason;
    return o;
  };
  if (PastDeadline(deadline)) return fail("input_expired");
  if (g_session.active) return fail("session_busy");
  if (!FreshAXIsTrusted()) return fail("accessibility_untrusted");
  if (!o.missing_symbols.empty()) return fail("skylight_unavailable");
  if (!LivePidMatchesExpectedBundle(t.pid, t.bundle_id)) return fail("bundle_mismatch");

  const std::optional<platform::Dict> entry = LiveWindowEntry(t.window_id);
  if (!entry) return fail("window_missing");
  if (auto owner = DictNumber(*entry, platform::kWindowOwnerPID)) {
    o.live_owner_pid = static_cast<int32_t>(*owner);
  }
  if (auto it = entry->find(platform::kWindowIsOnscreen); it != entry->end() && it->second.boolean()) {
    o.live_on_screen = *it->second.boolean();
  }
  platform::Rect frame;
  if (CopyDictionaryBounds(*entry, platform::kWindowBounds, &frame)) o.live_bounds = frame;
  if (!o.live_owner_pid || *o.live_owner_pid != t.pid) return fail("owner_mismatch");
  if (o.live_on_screen && !*o.live_on_screen) return fail("window_offscreen");
  if (!o.live_on_screen) {
    // A window on another space has no on-screen flag at all.
    o.live_on_screen_list = InOnScreenList(t.window_id);
    if (!*o.live_on_screen_list && !t.allow_offscreen) return fail("window_offscreen");
  }
  if (!o.live_bounds || !BoundsMatch(*o.live_bounds, t.bounds, kBoundsTolerance)) {
    return fail("bounds_mismatch");
  }

  SyntheticFocusSession s;
  s.target = t;
  s.begin_frontmost = FrontmostPid();
  s.begin_cursor = RealPointerLocation();
  if (PastDeadline(deadline)) return fail("input_expired");
  if (SkyLightEvents().get_process_for_pid(t.pid, &s.psn) != 0) return fail("get_process_failed");
  if (PastDeadline(deadline)) return fail("input_expired");
  s.switched = s.begin_frontmost != t.pid;
  if (s.switched && !CpsActivationDisabled()) o.cps_activation_pair = EnforceActiveState(s);
  if (s.switched) {
    const int32_t status = PostFocusRecordStatus(s, true);
    if (status != 0) {
      o.native_status = status;
      return fail("focus_record_failed");
    }
    if (PastDeadline(deadline)) {
      PostFocusRecord(s, false);
      return fail("input_expired");
    }
  }
  s.active = true;
  g_session = s;
  g_session_active.store(true);
  if (s.switched) PauseMs(kSwitchedBeginPauseMs);
  o.ok = true;
  o.reason.clear();
  return o;
}

const char* EndReason(const EndFacts& f) {
  if (!f.action_ok) return "action_failed";
  if (f.unfocus_failed) return "unfocus_record_failed";
  if (f.live_frontmost != f.begin_frontmost) return "frontmost_changed";
  if (std::fabs(f.live_cursor.x - f.begin_cursor.x) > kCursorTolerance ||
      std::fabs(f.live_cursor.y - f.begin_cursor.y) > kCursorTolerance) {
    return "cursor_moved";
  }
  return "";
}

EndOutcome EndFocusLocked(const WindowTarget& t, bool action_ok) {
  EndOutcome o;
  o.pid = t.pid;
  o.window_id = t.window_id;
  if (!g_session.active || g_session.target.pid != t.pid ||
      g_session.target.window_id != t.window_id) {
    o.reason = "session_mismatch";
    return o;
  }
  const SyntheticFocusSession s = g_session;
  g_session = SyntheticFocusSession{};
  g_session_active.store(false);
  PauseMs(kEndPauseMs);
  EndFacts facts;
  facts.action_ok = action_ok;
  if (s.switched && CpsActivationDisabled()) {
    const int32_t status = PostFocusRecordStatus(s, false);
    if (status != 0) {
      o.native_status = status;
      facts.unfocus_failed = true;
    }
    PauseMs(kUnfocusPauseMs);
  }
  facts.begin_frontmost = s.begin_frontmost;
  facts.live_frontmost = FrontmostPid();
  facts.begin_cursor = s.begin_cursor;
  facts.live_cursor = RealPointerLocation();
  o.original_frontmost_pid = facts.begin_frontmost;
  o.live_frontmost_pid = facts.live_frontmost;
  o.original_cursor = facts.begin_cursor;
  o.live_cursor = facts.live_cursor;
  o.reason = EndReason(facts);
  o.ok = o.reason.empty();
  if (s.switched) RecordFocusEnd(s.target.pid);
  return o;
}

bool EndAcceptable(const EndOutcome& end) {
  return end.ok || end.reason == "frontmost_changed" || end.reason == "cursor_moved";
}

void RecordFocusEnd(int32_t pid) {
  const platform::TimePoint now = P().clock().Now();
  std::lock_guard<std::mutex> lock(g_focus_end_mutex);
  g_focus_end_known = true;
  g_focus_end_pid = pid;
  g_focus_end_time = now;
}

int64_t MsSinceFocusEndForPid(int32_t pid) {
  platform::TimePoint end;
  {
    std::lock_guard<std::mutex> lock(g_focus_end_mutex);
    if (!g_focus_end_known || g_focus_end_pid != pid) return -1;
    end = g_focus_end_time;
  }
  const auto elapsed = P().clock().Now() - end;
  return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

}  // namespace addon
