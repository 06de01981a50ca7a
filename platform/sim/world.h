// The simulated desktop's world model: applications, their accessibility
// trees, window-server windows, displays, permissions, the event journal and
// the queues the host loop drains. One mutex guards all of it; nothing sleeps
// while holding it (delays and blocking hooks wait outside the lock).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/events.h"
#include "platform/security.h"
#include "platform/value.h"
#include "platform/workspace.h"
#include "sim/json.h"

namespace sim {

enum class NodeKind { kElement, kApplication, kSystemWide };

// One accessibility element of the world. Handles (SimHandle) keep nodes
// alive after their application quits so stale handles stay valid objects.
struct Node {
  uint64_t serial = 0;
  NodeKind kind = NodeKind::kElement;
  std::string id;
  pid_t pid = 0;      // the element's own pid (GetPid)
  pid_t app_pid = 0;  // the application whose tree holds it
  bool alive = true;
  bool phantom = false;  // application element made for a pid with no application
  bool hidden = false;   // left out of its parent's children (a closed sheet)

  std::string role;
  std::string subrole;
  // Plain attributes as written in the scene (AXTitle, AXDescription, AXValue,
  // AXHelp, AXIdentifier, AXEnabled, AXSelected and any extra ones).
  std::map<std::string, Json> attrs;
  std::optional<platform::Rect> frame;  // AXPosition / AXSize, global points

  std::weak_ptr<Node> parent;
  std::vector<std::shared_ptr<Node>> children;
  std::string parent_override;  // id answered as AXParent instead of the structural parent
  bool has_visible_children = false;
  std::vector<std::string> visible_children;
  std::string title_element;   // id
  std::string default_button;  // id (windows)

  std::vector<std::string> actions;
  std::map<std::string, Json> action_effects;  // action name -> array of effects
  std::set<std::string> settable;
  std::map<std::string, int32_t> errors;  // attribute -> AXError answered
  std::set<std::string> wrong_type;
  std::set<std::string> hidden_attrs;  // attributes the element does not have at all

  double delay_ms = 0;
  bool hang = false;
  bool batch_fails = false;
  double messaging_timeout = 0;  // seconds, per-element override (0 = inherit)

  uint32_t window_number = 0;  // windows and surfaces
  std::optional<int32_t> window_number_error;
  std::optional<uint32_t> window_number_override;

  int press_count = 0;
  std::map<std::string, int> action_counts;  // every performed action
  std::atomic<int64_t> live{0};
};

using NodePtr = std::shared_ptr<Node>;

struct App {
  pid_t pid = 0;
  std::optional<std::string> bundle_id;
  std::optional<std::string> name;
  std::optional<std::string> path;
  double launch_time = 0;
  platform::ActivationPolicy policy = platform::ActivationPolicy::kRegular;
  bool terminated = false;
  bool other_user = false;
  bool unlisted = false;  // left out of the workspace's running-application list
  bool unresponsive = false;
  bool batch_fails = false;
  bool refuses_activation = false;
  std::optional<platform::SigningInfo> signing;
  std::string anchor;  // "apple", "apple generic" or "" (none)
  pid_t responsible_pid = 0;
  double messaging_timeout = 0;  // seconds (0 = default)

  NodePtr element;  // the application element
  std::vector<std::string> window_ids;  // AXWindows, in order
  std::string menu_bar_id;
  std::string focused_window_id;
  std::string main_window_id;
  std::string focused_element_id;
  std::string default_button_id;
  Json spec;  // the scene entry (relaunch builds a fresh tree from it)
};

struct CgWindow {
  uint32_t number = 0;
  pid_t owner = 0;
  std::string owner_name;
  std::string title;
  int64_t layer = 0;
  platform::Rect bounds;
  bool on_screen = true;
  double alpha = 1.0;
  std::vector<std::string> omit_keys;
  Json bad_keys;  // key -> value answered instead (wrong type)
  bool accepts_mouse_down = true;
  bool desktop = false;  // a desktop element (left out of on-screen-only lists)
  NodePtr element;  // null for windows the accessibility tree does not show
};

struct Display {
  uint32_t id = 1;
  platform::Rect bounds{0, 0, 1440, 900};
  int64_t pixel_width = 2880;
  int64_t pixel_height = 1800;
  bool main = false;
  bool mirror = false;  // shows another display's picture
};

struct Installed {
  std::string bundle_id;
  std::string name;
  std::string path;
  Json app;          // app spec used when it launches (pid optional)
  Json open_result;  // {"error": code, "delayMs": n, "never": bool}
};

struct JournalEntry {
  std::string route;  // "hid", "session", "pid", "private_pid", "event_record"
  pid_t target_pid = 0;
  platform::Event event;
  bool has_event = true;
  std::vector<uint8_t> record;  // event records
  uint64_t seq = 0;
  double sim_ms = 0;
};

struct Permissions {
  bool accessibility = true;
  bool screen_recording = true;
  bool responsibility_available = true;
  bool preflight_available = true;
  bool request_available = true;
  int prompt_count = 0;
  int request_count = 0;
};

struct World {
  std::mutex mu;

  std::map<pid_t, std::shared_ptr<App>> apps;
  std::vector<pid_t> app_order;  // platform order of running applications
  std::map<std::string, NodePtr> nodes;    // id -> live node
  std::map<std::string, NodePtr> retired;  // id -> last node whose app quit
  std::vector<std::shared_ptr<CgWindow>> z;  // front to back
  std::vector<Display> displays;
  std::vector<Installed> installed;

  pid_t frontmost = 0;
  // The application the system-wide element names as focused after a write to
  // its AXFocusedApplication; 0: the frontmost one. Any activation resets it.
  pid_t ax_focused_app = 0;
  bool front_process_fails = false;
  platform::Point pointer{720, 450};
  bool pointer_available = true;
  std::string os_version = "14.5";
  Permissions perms;
  std::set<std::string> private_absent;
  bool single_window_image = true;
  bool keyboard_layout_available = true;
  std::string keyboard_layout = "us";  // a name of KnownLayouts()
  // Keys down per process (physical key events, not Unicode text events).
  std::map<pid_t, std::set<uint16_t>> held_keys;
  uint64_t flags_state = 0;
  double global_timeout = 0;  // seconds, set on the system-wide element

  std::vector<JournalEntry> journal;
  uint64_t journal_seq = 0;
  std::deque<pid_t> activation_queue;
  std::map<uint64_t, std::function<void(pid_t)>> observers;
  uint64_t next_observer = 1;
  bool screens_changed = false;  // delivered to screen observers by the app loop
  int app_events = 0;  // pending application events for DispatchNextEvent
  int dispatched_events = 0;
  int64_t run_loop_turns = 0;  // RunOnce calls (one per pump turn)
  int ensure_application_calls = 0;

  std::vector<std::string> log;

  pid_t next_pid = 700;
  uint32_t next_window = 9000;
  uint64_t next_serial = 1;
  NodePtr system_wide;
  // Last left-button down target, for a click made of a down and an up.
  std::string mouse_down_element;
  // Whether system-wide mouse events move the pointer (false: the pointer
  // stays where it is, as when the user holds the mouse still against them).
  bool pointer_follows_events = true;
  // Windows a process believes focused because a focus event record said so
  // (pid -> window number), until the matching unfocus record.
  std::map<pid_t, uint32_t> synthetic_focus;
};

World& W();
std::atomic<int64_t>& TotalLiveHandles();

// ---- handles ----
class SimHandle : public platform::ElementObject {
 public:
  explicit SimHandle(NodePtr n);
  void Retain() override;
  void Release() override;
  bool SameElement(const platform::ElementObject& other) const override;
  size_t Hash() const override;
  const NodePtr& node() const { return node_; }

 private:
  NodePtr node_;
  std::atomic<int64_t> refs_{1};
};

platform::AXElement MakeHandle(const NodePtr& n);
NodePtr NodeOf(const platform::AXElement& el);

// ---- helpers that need the world lock held ----
NodePtr FindNode(World& w, const std::string& id);
std::shared_ptr<App> FindApp(World& w, pid_t pid);
std::shared_ptr<CgWindow> FindWindow(World& w, uint32_t number);
// The window element that holds `n` (itself when it has a window number).
NodePtr ContainingWindow(const NodePtr& n);
// Whether the node and all its structural ancestors are shown.
bool NodeVisible(const NodePtr& n);
bool WindowVisible(World& w, const CgWindow& cw);
NodePtr NewNode(World& w, NodeKind kind);
void RegisterNode(World& w, const NodePtr& n);
void Log(World& w, const std::string& line);
double DefaultTimeoutSeconds();

}  // namespace sim
