// Posting events in the simulated desktop. Every posted event is journaled
// with all its fields; it then behaves: Unicode key-downs type into the
// focused text element of the target application, Command-V pastes the
// pasteboard's plain text there, backspace deletes, mouse
// events move the pointer, and a left down + up pair clicks what is under it.
// The private window-server entry points live here too.
#include <algorithm>

#include <unistd.h>

#include "common/text.h"
#include "sim/behaviour.h"
#include "sim/event_taps.h"
#include "sim/hooks.h"
#include "sim/keyboard_layouts.h"
#include "sim/pasteboard.h"
#include "sim/scene.h"
#include "sim/services.h"
#include "sim/surfaces.h"
#include "sim/sim_clock.h"

namespace sim {

namespace {

constexpr uint16_t kKeycodeDelete = 51;
constexpr uint16_t kKeycodeReturn = 36;

bool IsMouse(platform::EventType t) {
  using T = platform::EventType;
  switch (t) {
    case T::kLeftMouseDown: case T::kLeftMouseUp: case T::kRightMouseDown:
    case T::kRightMouseUp: case T::kMouseMoved: case T::kLeftMouseDragged:
    case T::kRightMouseDragged: case T::kOtherMouseDown: case T::kOtherMouseUp:
    case T::kOtherMouseDragged:
      return true;
    default:
      return false;
  }
}

void Journal(World& w, const std::string& route, pid_t pid, const platform::Event& e) {
  JournalEntry j;
  j.route = route;
  j.target_pid = pid;
  j.event = e;
  j.seq = ++w.journal_seq;
  j.sim_ms = std::chrono::duration<double, std::milli>(Clock().Now().time_since_epoch()).count();
  w.journal.push_back(std::move(j));
  if (w.journal.size() > 100000) w.journal.erase(w.journal.begin(), w.journal.begin() + 10000);
}

// Physical keys down per process: a key-down adds its keycode, a key-up
// removes it. Unicode text events (keycode 0 with a payload) are not keys.
void TrackHeldKeys(World& w, pid_t pid, const platform::Event& e) {
  if (!e.unicode.empty()) return;
  auto& held = w.held_keys[pid];
  if (e.type == platform::EventType::kKeyDown) held.insert(e.keycode);
  else held.erase(e.keycode);
  if (held.empty()) w.held_keys.erase(pid);
}

// Command-V (the key that types "v" under the current layout, with Command
// and neither Control nor Option): the application pastes.
bool IsPasteChord(World& w, const platform::Event& e) {
  if (e.type != platform::EventType::kKeyDown || !e.unicode.empty()) return false;
  if (!(e.flags & platform::kFlagMaskCommand)) return false;
  if (e.flags & (platform::kFlagMaskControl | platform::kFlagMaskAlternate)) return false;
  return LayoutChars(w.keyboard_layout, e.keycode, false) == u"v";
}

// Keyboard behaviour for the application `pid`: a key-down types its Unicode
// payload, or else what its key produces under the current layout (with
// Shift when the event carries it) into the focused text element. Command and
// Control chords type nothing; backspace deletes.
void Keyboard(World& w, pid_t pid, const platform::Event& e) {
  TrackHeldKeys(w, pid, e);
  if (e.type != platform::EventType::kKeyDown) return;
  if (e.flags & (platform::kFlagMaskCommand | platform::kFlagMaskControl)) return;
  if (e.keycode == kKeycodeDelete && (e.unicode.empty() || e.unicode == u"\x7f" || e.unicode == u"\b")) {
    DeleteBackward(w, pid);
    return;
  }
  std::u16string text = e.unicode.empty()
      ? LayoutChars(w.keyboard_layout, e.keycode, (e.flags & platform::kFlagMaskShift) != 0)
      : e.unicode;
  if (text.empty() && e.keycode == kKeycodeReturn) text.push_back(u'\n');
  if (text.size() == 1 && text[0] == u'\r') text[0] = u'\n';
  std::u16string printable;
  for (char16_t c : text)
    if ((c >= 0x20 && c != 0x7f) || c == u'\n' || c == u'\t') printable.push_back(c);
  if (!printable.empty()) InsertText(w, pid, common::Utf8OfUtf16(printable));
}

constexpr uint32_t kFieldWindowId = 51;

// Where a mouse event lands: system-wide and plain per-process events at
// their global location; events addressed to a window through the private
// path at that window's origin plus their window-local location (the point
// (-1, -1) stays outside every window).
platform::Point LandingPoint(World& w, pid_t pid, const platform::Event& e, uint32_t* window) {
  *window = 0;
  auto f = e.integer_fields.find(kFieldWindowId);
  if (pid == 0 || f == e.integer_fields.end() || !e.window_location) return e.location;
  auto cw = FindWindow(w, static_cast<uint32_t>(f->second));
  if (!cw) return e.location;
  *window = cw->number;
  if (e.window_location->x == -1 && e.window_location->y == -1) return {-1, -1};
  return {cw->bounds.x + e.window_location->x, cw->bounds.y + e.window_location->y};
}

// A window-addressed press reaches an application that is not frontmost
// only while it believes that window focused (a focus record said so).
bool WindowAcceptsPress(World& w, pid_t pid, uint32_t window) {
  if (window == 0 || w.frontmost == pid) return true;
  auto it = w.synthetic_focus.find(pid);
  return it != w.synthetic_focus.end() && it->second == window;
}

// The element under a landing point, within one window when addressed.
NodePtr HitAt(World& w, platform::Point p, pid_t pid, uint32_t window) {
  NodePtr hit = HitTest(w, p, pid);
  if (!hit || window == 0) return hit;
  NodePtr win = ContainingWindow(hit);
  return win && win->window_number == window ? hit : nullptr;
}

// Mouse behaviour: `pid` 0 for system-wide posts (pointer moves unless the
// pointer is held still, clicks activate), else a post addressed to one
// process (no pointer move, no activation).
void Mouse(World& w, pid_t pid, const platform::Event& e) {
  using T = platform::EventType;
  if (pid == 0 && w.pointer_follows_events) w.pointer = e.location;
  uint32_t window = 0;
  const platform::Point p = LandingPoint(w, pid, e, &window);
  if (e.type == T::kLeftMouseDown) {
    NodePtr hit = WindowAcceptsPress(w, pid, window) ? HitAt(w, p, pid, window) : nullptr;
    w.mouse_down_element = hit ? hit->id : "";
  } else if (e.type == T::kLeftMouseUp) {
    NodePtr hit = HitAt(w, p, pid, window);
    std::string down = w.mouse_down_element;
    w.mouse_down_element.clear();
    if (hit && !down.empty() && hit->id == down) ClickAt(w, p, pid, pid == 0);
  }
}

// A system mouse event that a tap swallowed, or that landed on one of the
// host's own windows, is journaled and goes no further.
bool RoutedAway(const std::string& route, const platform::Event& e) {
  if ((route != "hid" && route != "session") || !IsMouse(e.type)) return false;
  auto src = e.integer_fields.find(platform::kFieldEventSourceUnixProcessID);
  pid_t source = src == e.integer_fields.end() ? getpid() : static_cast<pid_t>(src->second);
  TapRoute r = RouteSystemMouseEvent(e, source);
  if (r == TapRoute::kPass) return false;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  // The pointer moves below the session's taps: a swallowed event still
  // moved it, and one that landed on a host window did too.
  if (w.pointer_follows_events) w.pointer = e.location;
  platform::Event ev = e;
  if (ev.timestamp_ns == 0)
    ev.timestamp_ns = static_cast<uint64_t>(Clock().Now().time_since_epoch().count());
  Journal(w, r == TapRoute::kSwallowed ? route + ":swallowed" : route,
          r == TapRoute::kSwallowed ? 0 : getpid(), ev);
  return true;
}

// A focus (1) or unfocus (2) event record gives or takes a window's focus.
void TrackFocusRecord(World& w, pid_t pid, const std::array<uint8_t, 248>& record) {
  const uint32_t window = static_cast<uint32_t>(record[0x3C]) |
                          (static_cast<uint32_t>(record[0x3D]) << 8) |
                          (static_cast<uint32_t>(record[0x3E]) << 16) |
                          (static_cast<uint32_t>(record[0x3F]) << 24);
  if (record[0x8A] == 1) w.synthetic_focus[pid] = window;
  else if (record[0x8A] == 2) w.synthetic_focus.erase(pid);
}

bool Deliver(const std::string& route, pid_t pid, const platform::Event& e) {
  if (RoutedAway(route, e)) return true;
  CallSite site;
  site.op = route == "pid" ? "PostToPid" : route == "private_pid" ? "EventPostToPid" : "Post";
  site.pid = pid;
  Fault f = Hooks::Get().Enter(site);
  World& w = W();
  std::unique_lock<std::mutex> l(w.mu);
  if (f.kind == FaultKind::kQuit && f.quit_pid > 0) QuitApp(w, f.quit_pid);
  if (f.kind == FaultKind::kError) return false;
  platform::Event ev = e;
  if (ev.timestamp_ns == 0)
    ev.timestamp_ns = static_cast<uint64_t>(Clock().Now().time_since_epoch().count());
  bool system = route == "hid" || route == "session";
  pid_t target = pid;
  if (system) {
    target = IsMouse(ev.type) ? 0 : w.frontmost;
    if (IsMouse(ev.type)) {
      NodePtr hit = HitTest(w, ev.location, 0);
      if (hit) target = hit->pid;
    }
    if (ev.type == platform::EventType::kFlagsChanged) w.flags_state = ev.flags;
  }
  Journal(w, route, target, ev);
  if (IsMouse(ev.type)) {
    Mouse(w, system ? 0 : pid, ev);
  } else if (ev.type == platform::EventType::kKeyDown || ev.type == platform::EventType::kKeyUp) {
    if (target > 0) Keyboard(w, target, ev);
    if (target > 0 && IsPasteChord(w, ev)) {
      // The application reads the pasteboard as any reader does: without the
      // world lock, since a lazy item's provider may run on another thread.
      l.unlock();
      auto bytes = ReadPasteboardAs("pid:" + std::to_string(target), platform::kPasteboardPlainText);
      l.lock();
      if (bytes && !bytes->empty()) InsertText(w, target, std::string(bytes->begin(), bytes->end()));
    }
  }
  return true;
}

}  // namespace

bool SimEvents::Post(platform::EventTap tap, const platform::Event& event) {
  return Deliver(tap == platform::EventTap::kHID ? "hid" : "session", 0, event);
}

bool SimEvents::PostToPid(pid_t pid, const platform::Event& event) {
  return Deliver("pid", pid, event);
}

bool PostUserMouseEvent(const platform::Event& event, pid_t source_pid) {
  platform::Event e = event;
  e.integer_fields[platform::kFieldEventSourceUnixProcessID] = source_pid;
  return Deliver("hid", 0, e);
}

uint64_t SimEvents::CurrentFlags() {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  return w.flags_state;
}

bool SimPrivateApi::Lookup(const char* library_path, const char* symbol) {
  (void)library_path;
  if (!symbol) return false;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  return w.private_absent.count(symbol) == 0;
}

bool SimPrivateApi::EventPostToPid(pid_t pid, const platform::Event& event) {
  return Deliver("private_pid", pid, event);
}

// A window-addressed post the simulated window server refused (an injected
// error on "EventPostToPid") reached nothing; the others reach the process.
platform::WindowEventDelivery SimPrivateApi::EventPostToWindow(pid_t pid, const platform::Event& event) {
  return Deliver("private_pid", pid, event) ? platform::WindowEventDelivery::kPosted
                                            : platform::WindowEventDelivery::kUndeliverable;
}

void SimPrivateApi::EventSetIntegerValueField(platform::Event* event, uint32_t field, int64_t value) {
  if (event) event->integer_fields[field] = value;
}

void SimPrivateApi::EventSetWindowLocation(platform::Event* event, platform::Point window_local) {
  if (event) event->window_location = window_local;
}

int32_t SimPrivateApi::PostEventRecordTo(const platform::ProcessSerialNumber& psn,
                                         const std::array<uint8_t, 248>& record) {
  pid_t pid = static_cast<pid_t>(psn.low);
  CallSite site;
  site.op = "PostEventRecordTo";
  site.pid = pid;
  Fault f = Hooks::Get().Enter(site);
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (f.kind == FaultKind::kError) return static_cast<int32_t>(f.code);
  auto app = FindApp(w, pid);
  if (psn.high != 0 || !app) return -600;  // no such process
  JournalEntry j;
  j.route = "event_record";
  j.target_pid = pid;
  j.has_event = false;
  j.record.assign(record.begin(), record.end());
  j.seq = ++w.journal_seq;
  j.sim_ms = std::chrono::duration<double, std::milli>(Clock().Now().time_since_epoch()).count();
  w.journal.push_back(std::move(j));
  TrackFocusRecord(w, pid, record);
  return 0;
}

int32_t SimPrivateApi::GetProcessForPid(pid_t pid, platform::ProcessSerialNumber* psn) {
  CallSite site;
  site.op = "GetProcessForPid";
  site.pid = pid;
  Fault f = Hooks::Get().Enter(site);
  if (f.kind == FaultKind::kError) return static_cast<int32_t>(f.code);
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!FindApp(w, pid)) return -600;
  if (psn) *psn = platform::ProcessSerialNumber{0, static_cast<uint32_t>(pid)};
  return 0;
}

int32_t SimPrivateApi::MainConnectionId() { return 0x5A0B; }

int32_t SimPrivateApi::GetWindowEventMask(int32_t connection, uint32_t window_id, uint32_t* mask) {
  CallSite site;
  site.op = "GetWindowEventMask";
  site.window = window_id;
  Fault f = Hooks::Get().Enter(site);
  if (f.kind == FaultKind::kError) return static_cast<int32_t>(f.code);
  if (connection != MainConnectionId()) return 1001;  // invalid connection
  bool overlay_accepts = false;
  if (IsOverlayWindow(window_id, &overlay_accepts)) {
    if (mask) *mask = 0x3C | 0x400 | 0x800 | (overlay_accepts ? 0x2u : 0u);
    return 0;
  }
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  auto cw = FindWindow(w, window_id);
  if (!cw || !WindowVisible(w, *cw)) return 1000;  // illegal argument
  // Bit value 2 is left mouse-down; the others are the usual mouse and key bits.
  uint32_t m = 0x3C | 0x400 | 0x800;
  if (cw->accepts_mouse_down) m |= 0x2;
  if (mask) *mask = m;
  return 0;
}

}  // namespace sim
