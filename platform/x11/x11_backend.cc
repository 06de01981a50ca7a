// The x11 backend object and its small services: the host-loop hooks, the
// log, security answers (Linux has no code signing and no capture
// permission) and the private window-server entries that have an X meaning.
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
#include <signal.h>
#include <syslog.h>

#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "x11/x11_ax.h"
#include "x11/x11_capture_stream.h"
#include "x11/x11_display.h"
#include "x11/x11_key_post.h"
#include "x11/x11_pasteboard.h"
#include "x11/x11_services.h"
#include "x11/x11_window_input.h"
#include "x11/x11_windows.h"

namespace x11 {

namespace {

class Backend : public platform::Platform {
 public:
  Backend() : app_loop_(&workspace_) {}
  const char* Name() const override { return "x11"; }
  platform::Accessibility& ax() override { return ax_; }
  platform::WindowServer& windows() override { return windows_; }
  platform::Events& events() override { return events_; }
  platform::Workspace& workspace() override { return workspace_; }
  platform::Security& security() override { return security_; }
  platform::KeyboardLayout& keyboard() override { return keyboard_; }
  platform::PrivateApi& private_api() override { return private_api_; }
  platform::AppLoop& app_loop() override { return app_loop_; }
  platform::Clock& clock() override { return platform::SystemClock(); }
  platform::Log& log() override { return log_; }
  platform::Capability Capable(platform::Facility f) override { return X11Capable(f); }
  platform::Facts DesktopFacts() override { return X11Facts(); }
  platform::Pasteboard& pasteboard() override { return X11PasteboardService(); }
  platform::ScreenCapture& screen_capture() override { return screen_capture_; }

 private:
  X11Accessibility ax_;
  X11WindowServer windows_;
  X11Events events_;
  X11Workspace workspace_;
  X11Security security_;
  X11Keyboard keyboard_;
  X11PrivateApi private_api_;
  X11AppLoop app_loop_;
  X11Log log_;
  X11ScreenCapture screen_capture_;
};

// The connection id the core binds the event-mask query to.
constexpr int32_t kConnectionId = 1;
// Status codes of the event-mask query: unknown window / wrong connection.
constexpr int32_t kBadWindow = 1000;
constexpr int32_t kBadConnection = 1001;
// "No such process" of the process manager.
constexpr int32_t kProcessNotFound = -600;

bool ProcessAlive(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

}  // namespace

platform::Platform* X11Platform(std::string* why) {
  static platform::Platform* backend = nullptr;
  static std::once_flag once;
  static std::string reason;
  std::call_once(once, [] {
    if (!DisplayReachable(&reason)) return;
    backend = new Backend();
    // From the start, so windows have their own pixels by the first capture.
    StartWindowImages();
  });
  if (!backend && why) *why = reason;
  return backend;
}

// ---- host loop ----

void X11AppLoop::EnsureApplication() {
  Display* d = Dpy();
  if (!d || watching_.exchange(true)) return;
  // Activation notifications: the root's _NET_ACTIVE_WINDOW changes.
  XSelectInput(d, DefaultRootWindow(d), PropertyChangeMask);
  XFlush(d);
}

bool X11AppLoop::DispatchNextEvent() {
  Display* d = Dpy();
  if (!d || !watching_ || XPending(d) == 0) return false;
  XEvent e;
  XNextEvent(d, &e);
  if (e.type == PropertyNotify && e.xproperty.atom == A(d, "_NET_ACTIVE_WINDOW"))
    workspace_->NoteActiveWindowChanged();
  return true;
}

void X11AppLoop::RunOnce() {
  RestoreKeymapIfIdle();
  if (!watching_) EnsureApplication();
}

// ---- log ----

void X11Log::Write(const std::string& line) {
  static std::once_flag once;
  std::call_once(once, [] { openlog("automation-addon", LOG_PID, LOG_USER); });
  syslog(LOG_INFO, "%s", line.c_str());
  const char* e = std::getenv("KORVO_OZA_LOG_STDERR");
  if (e && std::strcmp(e, "1") == 0) fprintf(stderr, "%s\n", line.c_str());
}

// ---- security ----

std::optional<platform::SigningInfo> X11Security::SigningInfoForPid(pid_t) { return std::nullopt; }
std::optional<platform::SigningInfo> X11Security::SigningInfoForAuditToken(const platform::AuditToken&) {
  return std::nullopt;
}

namespace {
platform::RequirementResult NoCodeUnlessBlank(const std::string& requirement) {
  // Nothing on Linux carries a code signature; only text that cannot be a
  // requirement at all is refused as such.
  bool blank = requirement.find_first_not_of(" \t\r\n") == std::string::npos;
  return blank ? platform::RequirementResult::kInvalidRequirement
               : platform::RequirementResult::kNoCode;
}
}  // namespace

platform::RequirementResult X11Security::CheckRequirementForPid(pid_t, const std::string& r) {
  return NoCodeUnlessBlank(r);
}
platform::RequirementResult X11Security::CheckRequirementForAuditToken(const platform::AuditToken&,
                                                                       const std::string& r) {
  return NoCodeUnlessBlank(r);
}
std::optional<pid_t> X11Security::ResponsiblePidForPid(pid_t) { return std::nullopt; }
// Any client of an X display may read any window: capture needs no grant.
std::optional<bool> X11Security::PreflightScreenCaptureAccess() { return true; }
std::optional<bool> X11Security::RequestScreenCaptureAccess() { return true; }

// ---- private window-server entries ----

// An entry point is present when this backend answers the facility it
// serves (X has no libraries of those names to look in): the window
// event-mask query and its connection id, translated from the windows'
// selected X events and input shapes; the window-addressed post, which sends
// keys (mouse events posted that way are not delivered). The event records
// and process serial numbers have no X counterpart and stay absent.
bool X11PrivateApi::Lookup(const char* library_path, const char* symbol) {
  if (!library_path || !symbol) return false;
  if (std::strcmp(symbol, "SLSMainConnectionID") == 0 ||
      std::strcmp(symbol, "SLSGetWindowEventMask") == 0) {
    return X11Capable(platform::Facility::kWindowEventMasks).available();
  }
  if (std::strcmp(symbol, "GetProcessForPID") == 0)
    return X11Capable(platform::Facility::kMouseToBackgroundWindow).available();
  // Window-addressed input: keys by XSendEvent to the window named in the
  // event's fields (x11_key_post.cc), clicks as the accessible action or core
  // events (x11_window_input.cc), and its focus session (PostEventRecordTo
  // and GetProcessForPid below).
  if (std::strcmp(symbol, "SLEventPostToPid") == 0 ||
      std::strcmp(symbol, "SLEventSetIntegerValueField") == 0 ||
      std::strcmp(symbol, "CGEventSetWindowLocation") == 0) {
    return X11Capable(platform::Facility::kKeyboardToProcess).available() ||
           X11Capable(platform::Facility::kMouseToBackgroundWindow).available();
  }
  if (std::strcmp(symbol, "SLPSPostEventRecordTo") == 0)
    return X11Capable(platform::Facility::kMouseToBackgroundWindow).available();
  return false;
}

bool X11PrivateApi::EventPostToPid(pid_t pid, const platform::Event& event) {
  // The window the event is stamped with (field 51, else the window under the pointer).
  uint32_t window = 0;
  for (uint32_t field : {51u, platform::kFieldMouseEventWindowUnderMousePointer}) {
    auto it = event.integer_fields.find(field);
    if (it != event.integer_fields.end() && it->second > 0 && it->second <= UINT32_MAX) {
      window = static_cast<uint32_t>(it->second);
      break;
    }
  }
  // Keys only: mouse events to a process are not built (they are refused).
  if (event.type == platform::EventType::kKeyDown || event.type == platform::EventType::kKeyUp)
    return PostKeyToProcess(pid, window, event);
  return false;
}

void X11PrivateApi::EventSetIntegerValueField(platform::Event* event, uint32_t field, int64_t value) {
  if (event) event->integer_fields[field] = value;
}

void X11PrivateApi::EventSetWindowLocation(platform::Event* event, platform::Point window_local) {
  if (event) event->window_location = window_local;
}

platform::WindowEventDelivery X11PrivateApi::EventPostToWindow(pid_t pid, const platform::Event& event) {
  switch (event.type) {
    case platform::EventType::kKeyDown:
    case platform::EventType::kKeyUp:
    case platform::EventType::kFlagsChanged:
      return EventPostToPid(pid, event) ? platform::WindowEventDelivery::kPosted
                                        : platform::WindowEventDelivery::kUndeliverable;
    default:
      return PostWindowMouseEvent(pid, event);
  }
}

// A window focus record tells a process that its window has the keyboard.
// Window-addressed input on X11 needs no focus (accessible actions and core
// events reach a background window as it is), and a synthetic FocusIn would
// make the application believe it has the keyboard when it has not: the
// record is accepted and nothing is sent.
int32_t X11PrivateApi::PostEventRecordTo(const platform::ProcessSerialNumber& psn,
                                         const std::array<uint8_t, 248>&) {
  return ProcessAlive(static_cast<pid_t>(psn.low)) ? 0 : kProcessNotFound;
}

// Processes have no serial numbers on X11: the pid stands for one while the
// process lives.
int32_t X11PrivateApi::GetProcessForPid(pid_t pid, platform::ProcessSerialNumber* psn) {
  if (!ProcessAlive(pid)) return kProcessNotFound;
  if (psn) *psn = {0, static_cast<uint32_t>(pid)};
  return 0;
}

int32_t X11PrivateApi::MainConnectionId() { return Dpy() ? kConnectionId : 0; }

int32_t X11PrivateApi::GetWindowEventMask(int32_t connection, uint32_t window_id, uint32_t* mask) {
  Display* d = Dpy();
  if (!d || connection != kConnectionId) return kBadConnection;
  XWindowAttributes a;
  {
    ErrorTrap trap(d);
    if (!XGetWindowAttributes(d, window_id, &a) || trap.Check()) return kBadWindow;
  }
  long events = a.all_event_masks;
  Window top = TopLevelOf(d, window_id);
  XWindowAttributes ta;
  if (top && top != window_id) {
    ErrorTrap trap(d);
    if (XGetWindowAttributes(d, top, &ta) && !trap.Check()) events |= ta.all_event_masks;
  }
  // An empty input shape lets clicks through, whatever is selected.
  int count = 0, ordering = 0;
  bool has_input = true;
  {
    ErrorTrap trap(d);
    XRectangle* rects = XShapeGetRectangles(d, window_id, ShapeInput, &count, &ordering);
    if (!trap.Check()) has_input = count > 0;
    if (rects) XFree(rects);
  }
  bool takes_press = (events & ButtonPressMask) || a.override_redirect;
  uint32_t m = 0;
  if (events & KeyPressMask) m |= 1u << 10;
  if (has_input && a.c_class == InputOutput && takes_press) m |= 0x2;
  if (mask) *mask = m;
  return 0;
}

}  // namespace x11
