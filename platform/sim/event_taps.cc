#include "sim/event_taps.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/surfaces.h"
#include "sim/world.h"

namespace sim {

namespace {

using platform::TapEvent;
using platform::TapVerdict;

// One event (or notice) handed to a tap's thread. The poster waits for
// `answered` unless the item is a notice.
struct Pending {
  TapEvent event;
  bool answered = false;
  bool abandoned = false;  // the poster gave up waiting (tap timed out)
  TapVerdict verdict = TapVerdict::kPass;
};

struct TapCore {
  uint64_t mask = 0;
  platform::TapCallback callback;
  std::mutex mu;
  std::condition_variable cv;
  std::deque<std::shared_ptr<Pending>> queue;
  bool enabled = false;
  bool removed = false;
  bool wake = false;
  std::thread::id runner;
  uint64_t seen = 0;
  uint64_t swallowed = 0;
};

struct TapRegistry {
  std::mutex mu;
  std::vector<std::shared_ptr<TapCore>> taps;  // head first
  std::chrono::milliseconds timeout{1000};
  uint64_t created = 0;
  uint64_t timeouts = 0;
};

TapRegistry& Registry() {
  static auto* r = new TapRegistry();
  return *r;
}

std::atomic<bool> g_left_button_down{false};

void PushNotice(TapCore& core, TapEvent::Kind kind) {
  auto p = std::make_shared<Pending>();
  p->event.kind = kind;
  p->answered = true;  // nobody waits for a notice
  core.queue.push_back(std::move(p));
  core.cv.notify_all();
}

class SimMouseTap : public platform::MouseTap {
 public:
  explicit SimMouseTap(std::shared_ptr<TapCore> core) : core_(std::move(core)) {}
  ~SimMouseTap() override {
    TapRegistry& r = Registry();
    {
      std::lock_guard<std::mutex> l(r.mu);
      r.taps.erase(std::remove(r.taps.begin(), r.taps.end(), core_), r.taps.end());
    }
    std::lock_guard<std::mutex> l(core_->mu);
    core_->removed = true;
    core_->enabled = false;
    core_->queue.clear();
    core_->cv.notify_all();
  }

  bool Enable(bool on) override {
    std::lock_guard<std::mutex> l(core_->mu);
    if (core_->removed) return false;
    core_->enabled = on;
    return true;
  }

  bool IsEnabled() override {
    std::lock_guard<std::mutex> l(core_->mu);
    return core_->enabled && !core_->removed;
  }

  void RunFor(std::chrono::nanoseconds slice) override {
    auto deadline = std::chrono::steady_clock::now() + slice;
    std::unique_lock<std::mutex> l(core_->mu);
    core_->runner = std::this_thread::get_id();
    for (;;) {
      while (!core_->queue.empty()) {
        std::shared_ptr<Pending> p = core_->queue.front();
        core_->queue.pop_front();
        if (p->abandoned) continue;
        platform::TapCallback cb = core_->callback;
        l.unlock();
        TapVerdict v = cb ? cb(p->event) : TapVerdict::kPass;
        l.lock();
        p->verdict = v;
        p->answered = true;
        core_->cv.notify_all();
      }
      if (core_->wake) {
        core_->wake = false;
        return;
      }
      if (core_->cv.wait_until(l, deadline) == std::cv_status::timeout && core_->queue.empty())
        return;
    }
  }

  void Wake() override {
    std::lock_guard<std::mutex> l(core_->mu);
    core_->wake = true;
    core_->cv.notify_all();
  }

 private:
  std::shared_ptr<TapCore> core_;
};

class SimTaps : public platform::EventTaps {
 public:
  bool CanSwallow() override { return true; }
  std::unique_ptr<platform::MouseTap> CreateMouseTap(uint64_t mask,
                                                     platform::TapCallback cb) override {
    auto core = std::make_shared<TapCore>();
    core->mask = mask;
    core->callback = std::move(cb);
    TapRegistry& r = Registry();
    std::lock_guard<std::mutex> l(r.mu);
    r.taps.insert(r.taps.begin(), core);
    r.created++;
    return std::make_unique<SimMouseTap>(core);
  }
  bool LeftButtonDown() override { return g_left_button_down.load(); }
};

// Runs one event through one tap; the verdict, or kPass when the tap is gone,
// disabled, or did not answer in time (which disables it).
TapVerdict AskTap(TapCore& core, const TapEvent& ev, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> l(core.mu);
  if (!core.enabled || core.removed || !(core.mask & platform::TapMask(ev.type)))
    return TapVerdict::kPass;
  // A tap's own thread posting an event cannot wait for itself.
  if (core.runner == std::this_thread::get_id()) return TapVerdict::kPass;
  auto p = std::make_shared<Pending>();
  p->event = ev;
  core.queue.push_back(p);
  core.seen++;
  core.cv.notify_all();
  bool answered = core.cv.wait_for(l, timeout, [&] { return p->answered || core.removed; });
  if (!answered) {
    p->abandoned = true;
    core.enabled = false;
    PushNotice(core, TapEvent::Kind::kDisabledByTimeout);
    Registry().timeouts++;
    return TapVerdict::kPass;
  }
  if (core.removed) return TapVerdict::kPass;
  if (p->verdict == TapVerdict::kSwallow) core.swallowed++;
  return p->verdict;
}

bool LandsOnHostSurface(platform::Point p) {
  const double primary_h = PrimaryDisplayHeightNow();
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  for (auto& [id, win] : s.windows) {
    if (!win.ordered_in || win.spec.ignores_mouse) continue;
    const platform::Rect& f = win.spec.frame;  // bottom-left origin
    double top = primary_h - f.y - f.height;
    if (p.x >= f.x && p.x < f.x + f.width && p.y >= top && p.y < top + f.height) return true;
  }
  return false;
}

}  // namespace

platform::EventTaps& SimEventTapService() {
  static auto* taps = new SimTaps();
  return *taps;
}

TapRoute RouteSystemMouseEvent(const platform::Event& event, pid_t source_pid) {
  using T = platform::EventType;
  if (event.type == T::kLeftMouseDown) g_left_button_down = true;
  if (event.type == T::kLeftMouseUp) g_left_button_down = false;
  TapEvent ev;
  ev.type = event.type;
  ev.location = event.location;
  ev.source_pid = source_pid;
  ev.timestamp_ns = event.timestamp_ns;
  auto field = [&](uint32_t f) {
    auto it = event.integer_fields.find(f);
    return it == event.integer_fields.end() ? int64_t{0} : it->second;
  };
  ev.source_user_data = field(platform::kFieldEventSourceUserData);
  ev.click_state = field(platform::kFieldMouseEventClickState);
  std::vector<std::shared_ptr<TapCore>> taps;
  std::chrono::milliseconds timeout;
  {
    TapRegistry& r = Registry();
    std::lock_guard<std::mutex> l(r.mu);
    taps = r.taps;
    timeout = r.timeout;
  }
  for (auto& core : taps)
    if (AskTap(*core, ev, timeout) == TapVerdict::kSwallow) return TapRoute::kSwallowed;
  return LandsOnHostSurface(event.location) ? TapRoute::kToSurface : TapRoute::kPass;
}

void ResetEventTaps() {
  g_left_button_down = false;
  TapRegistry& r = Registry();
  std::lock_guard<std::mutex> l(r.mu);
  r.timeout = std::chrono::milliseconds(1000);
}

bool RunTapCommand(const std::string& name, const Json& args, Json* result, std::string* error,
                   bool* handled) {
  *handled = true;
  TapRegistry& r = Registry();
  if (name == "eventTaps") {
    std::lock_guard<std::mutex> l(r.mu);
    Json o = Json::Object();
    Json list = Json::Array();
    for (auto& core : r.taps) {
      std::lock_guard<std::mutex> cl(core->mu);
      Json t = Json::Object();
      t.set("enabled", Json(core->enabled));
      t.set("seen", Json(core->seen));
      t.set("swallowed", Json(core->swallowed));
      list.push(t);
    }
    o.set("taps", list);
    o.set("created", Json(r.created));
    o.set("timeouts", Json(r.timeouts));
    o.set("leftButtonDown", Json(g_left_button_down.load()));
    *result = o;
    return true;
  }
  if (name == "disableEventTaps") {
    std::string reason = args.size() > 0 ? args[0].str_or("timeout") : "timeout";
    if (reason != "timeout" && reason != "userInput") {
      *error = "disableEventTaps(reason) expects 'timeout' or 'userInput'";
      return false;
    }
    auto kind = reason == "timeout" ? TapEvent::Kind::kDisabledByTimeout
                                    : TapEvent::Kind::kDisabledByUserInput;
    std::lock_guard<std::mutex> l(r.mu);
    int64_t n = 0;
    for (auto& core : r.taps) {
      std::lock_guard<std::mutex> cl(core->mu);
      if (!core->enabled) continue;
      core->enabled = false;
      PushNotice(*core, kind);
      n++;
    }
    *result = Json(n);
    return true;
  }
  if (name == "setEventTapTimeout") {
    int64_t ms = args.size() > 0 ? args[0].as_int(-1) : -1;
    if (!args.size() || !args[0].is_number() || ms < 1 || ms > 60000) {
      *error = "setEventTapTimeout(ms) expects 1 .. 60000";
      return false;
    }
    std::lock_guard<std::mutex> l(r.mu);
    r.timeout = std::chrono::milliseconds(ms);
    return true;
  }
  if (name == "userMouse") {
    using T = platform::EventType;
    static const std::pair<const char*, T> kTypes[] = {
        {"down", T::kLeftMouseDown}, {"up", T::kLeftMouseUp},
        {"dragged", T::kLeftMouseDragged}, {"moved", T::kMouseMoved}};
    std::string type = args.size() > 0 ? args[0].str_or("") : "";
    platform::Event e;
    for (auto& [n, t] : kTypes)
      if (type == n) e.type = t;
    if (e.type == T::kNull || args.size() < 3 || !args[1].is_number() || !args[2].is_number()) {
      *error = "userMouse(type, x, y, opts?) expects 'down', 'up', 'dragged' or 'moved' and a point";
      return false;
    }
    e.location = platform::Point{args[1].as_double(), args[2].as_double()};
    const Json& o = args.size() > 3 ? args[3] : Json();
    int64_t clicks = o["clickCount"].as_int(e.type == T::kMouseMoved ? 0 : 1);
    if (clicks) e.integer_fields[platform::kFieldMouseEventClickState] = clicks;
    if (o["userData"].is_number())
      e.integer_fields[platform::kFieldEventSourceUserData] = o["userData"].as_int();
    *result = Json(PostUserMouseEvent(e, static_cast<pid_t>(o["pid"].as_int(0))));
    return true;
  }
  if (name == "setLeftButtonDown") {
    g_left_button_down = args.size() > 0 && args[0].as_bool();
    return true;
  }
  *handled = false;
  return false;
}

}  // namespace sim
