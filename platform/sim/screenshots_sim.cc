// The simulated screenshot manager: one image of a window's rendering scaled
// into the configured output, answered on a thread of its own. In manual mode
// requests are parked until a test completes them (completeScreenshots), so a
// test decides when each answer arrives. Test hooks on op "CaptureScreenshot"
// (window and pid match): error -> fails with the code; no_answer -> never
// answers; wrong_type -> a fully transparent image; quit -> the app ends
// before the picture is taken.

#include <algorithm>
#include <deque>
#include <thread>

#include "sim/hooks.h"
#include "sim/scene.h"
#include "sim/services.h"
#include "sim/surfaces.h"

namespace sim {

namespace {

constexpr int64_t kErrorUserDeclined = -3801;
constexpr int64_t kErrorNoCaptureSource = -3815;
constexpr int64_t kErrorInvalidParameter = -3802;
constexpr int64_t kMaxOutputSide = 16384;

struct Request {
  platform::ContentFilter filter;
  platform::ScreenshotConfiguration config;
  platform::ScreenshotCompletion completion;
};

struct ShotStore {
  std::mutex mu;
  bool manual = false;
  std::deque<Request> parked;
  std::vector<platform::ScreenshotCompletion> never;  // no_answer: kept, never called
  uint64_t requested = 0;
  uint64_t answered = 0;
};

ShotStore& Shots() {
  static ShotStore* store = new ShotStore();
  return *store;
}

void Answer(const Request& r) {
  CallSite site;
  site.op = "CaptureScreenshot";
  site.window = r.filter.window_id;
  {
    World& w = W();
    std::lock_guard<std::mutex> l(w.mu);
    if (auto cw = FindWindow(w, r.filter.window_id)) site.pid = cw->owner;
  }
  Fault f = Hooks::Get().Enter(site);
  ShotStore& ss = Shots();
  if (f.kind == FaultKind::kNoAnswer) {
    std::lock_guard<std::mutex> l(ss.mu);
    ss.never.push_back(r.completion);
    return;
  }
  {
    std::lock_guard<std::mutex> l(ss.mu);
    ss.answered++;
  }
  if (!r.completion) return;
  if (f.kind == FaultKind::kError) return r.completion(nullptr, f.code);
  const int64_t out_w = r.config.width, out_h = r.config.height;
  if (out_w < 1 || out_h < 1 || out_w > kMaxOutputSide || out_h > kMaxOutputSide)
    return r.completion(nullptr, kErrorInvalidParameter);
  platform::Image native;
  int64_t error = 0;
  {
    World& w = W();
    std::lock_guard<std::mutex> l(w.mu);
    if (f.kind == FaultKind::kQuit && f.quit_pid > 0) QuitApp(w, f.quit_pid);
    auto cw = FindWindow(w, r.filter.window_id);
    if (!w.perms.screen_recording) error = kErrorUserDeclined;
    else if (!cw || !WindowVisible(w, *cw)) error = kErrorNoCaptureSource;
    // Drawn straight at the output size: a full-size picture scaled down
    // afterwards would cost several times the drawing.
    else if (f.kind != FaultKind::kWrongType)
      native = RenderWindowScaled(w, *cw, static_cast<int>(out_w), static_cast<int>(out_h),
                                  r.config.preserves_aspect_ratio);
  }
  if (error != 0) return r.completion(nullptr, error);
  if (f.kind == FaultKind::kWrongType) {
    auto blank = std::make_shared<platform::Bitmap>();
    blank->width = static_cast<int>(out_w);
    blank->height = static_cast<int>(out_h);
    blank->rgba.assign(static_cast<size_t>(out_w) * out_h * 4, 0);
    return r.completion(blank, 0);
  }
  if (!native) return r.completion(nullptr, kErrorNoCaptureSource);
  r.completion(native, 0);
}

void AnswerOnThread(Request r) {
  std::thread([r = std::move(r)] { Answer(r); }).detach();
}

}  // namespace

void SimCaptureScreenshot(const platform::ContentFilter& filter,
                          const platform::ScreenshotConfiguration& config,
                          platform::ScreenshotCompletion completion) {
  ShotStore& ss = Shots();
  Request r{filter, config, std::move(completion)};
  {
    std::lock_guard<std::mutex> l(ss.mu);
    ss.requested++;
    if (ss.manual) {
      ss.parked.push_back(std::move(r));
      return;
    }
  }
  AnswerOnThread(std::move(r));
}

void ResetScreenshots() {
  ShotStore& ss = Shots();
  std::deque<Request> parked;
  {
    std::lock_guard<std::mutex> l(ss.mu);
    ss.manual = false;
    parked.swap(ss.parked);
  }
  // Parked requests are answered (as failures) rather than dropped, so no
  // waiter is left holding a slot for ever.
  for (auto& r : parked)
    if (r.completion) r.completion(nullptr, kErrorNoCaptureSource);
}

bool RunScreenshotCommand(const std::string& name, const Json& args, Json* result,
                          std::string* error, bool* handled) {
  *handled = true;
  ShotStore& ss = Shots();
  if (name == "setManualScreenshots") {
    std::lock_guard<std::mutex> l(ss.mu);
    ss.manual = args.size() > 0 && args[0].as_bool();
    return true;
  }
  if (name == "completeScreenshots") {
    int64_t n = args.size() > 0 ? args[0].as_int(1) : 1;
    if (n < 0) {
      *error = "completeScreenshots(n) expects a non-negative count";
      return false;
    }
    std::vector<Request> take;
    {
      std::lock_guard<std::mutex> l(ss.mu);
      while (n-- > 0 && !ss.parked.empty()) {
        take.push_back(std::move(ss.parked.front()));
        ss.parked.pop_front();
      }
    }
    *result = Json(static_cast<int64_t>(take.size()));
    for (auto& r : take) AnswerOnThread(std::move(r));
    return true;
  }
  if (name == "screenshots") {
    std::lock_guard<std::mutex> l(ss.mu);
    Json o = Json::Object();
    o.set("requested", Json(static_cast<int64_t>(ss.requested)));
    o.set("answered", Json(static_cast<int64_t>(ss.answered)));
    o.set("pending", Json(static_cast<int64_t>(ss.parked.size())));
    o.set("manual", Json(ss.manual));
    *result = o;
    return true;
  }
  *handled = false;
  return true;
}

}  // namespace sim
