// Background window input exports: one asynchronous worker at a time opens a
// synthetic focus session on the target window, posts window-addressed
// mouse events and closes the session again, or opens / closes an explicit
// session that brackets window-addressed typing. Every promise resolves,
// with false or an outcome object naming the failure.
#include <atomic>
#include <exception>
#include <new>
#include <optional>
#include <string>

#include "conventions.h"
#include "exports.h"
#include "ghost/ghost_c_api.h"
#include "input/background_events.h"
#include "input/background_session.h"
#include "input/background_target.h"
#include "platform/platform.h"
#include "worker.h"

namespace addon {

namespace {

constexpr auto kBackgroundDeadline = std::chrono::seconds(2);

enum class Op { kBegin, kEnd, kEndDetailed, kMouse };

std::atomic<bool> g_background_worker_busy{false};

struct BackgroundRequest {
  Op op = Op::kBegin;
  std::optional<WindowTarget> target;
  BackgroundMouseOp mouse;
};

bool IsMouseDown(const BackgroundRequest& r) {
  return r.op == Op::kMouse && r.mouse.kind == BackgroundMouseOp::Kind::kMouseDown;
}

// The answer of a request that failed with `reason`, in its operation's shape.
Napi::Value Refusal(Napi::Env env, const BackgroundRequest& r, const char* reason) {
  switch (r.op) {
    case Op::kBegin:
      return BeginOutcomeToJs(env, BeginRefusal(r.target, reason));
    case Op::kEndDetailed: {
      EndOutcome o;
      o.reason = reason;
      if (r.target) {
        o.pid = r.target->pid;
        o.window_id = r.target->window_id;
      }
      return EndOutcomeToJs(env, o);
    }
    case Op::kEnd:
      return Napi::Boolean::New(env, false);
    case Op::kMouse:
      if (IsMouseDown(r)) return MouseDownOutcomeToJs(env, MouseDownOutcome{false, false, reason});
      return Napi::Boolean::New(env, false);
  }
  return Napi::Boolean::New(env, false);
}

class BackgroundInputWorker : public KvAsyncWorker {
 public:
  BackgroundInputWorker(Napi::Env env, BackgroundRequest request)
      : KvAsyncWorker(env, "BackgroundInputWorker", WorkerFamily::kGeneral),
        request_(std::move(request)),
        deadline_(platform::Get().clock().Now() + kBackgroundDeadline) {}
  // Whatever way the worker ends (settled, or never queued), the next
  // background request may run.
  ~BackgroundInputWorker() override { g_background_worker_busy.store(false); }

 protected:
  void Execute() override {
    try {
      Run();
    } catch (const std::exception& e) {
      SetError(e.what());
    } catch (...) {
      SetError("unknown");
    }
  }

  void OnOK() override {
    Napi::Env env = Env();
    switch (request_.op) {
      case Op::kBegin:
        Deferred().Resolve(BeginOutcomeToJs(env, begin_));
        return;
      case Op::kEnd:
        Deferred().Resolve(Napi::Boolean::New(env, end_.ok));
        return;
      case Op::kEndDetailed:
        Deferred().Resolve(EndOutcomeToJs(env, end_));
        return;
      case Op::kMouse:
        if (IsMouseDown(request_)) {
          Deferred().Resolve(MouseDownOutcomeToJs(env, down_));
        } else {
          Deferred().Resolve(Napi::Boolean::New(env, ok_));
        }
        return;
    }
  }

  void OnError(const std::string&) override {
    Deferred().Resolve(Refusal(Env(), request_, "worker_error"));
  }

 private:
  void Run() {
    const WindowTarget& t = *request_.target;
    if (platform::Get().clock().Now() >= deadline_) {
      begin_ = BeginRefusal(request_.target, "input_expired");
      end_.pid = t.pid;
      end_.window_id = t.window_id;
      down_.reason = "input_expired";
      return;
    }
    std::lock_guard<std::mutex> lock(BackgroundInputMutex());
    switch (request_.op) {
      case Op::kBegin:
        begin_ = BeginFocusLockedDetailed(t, deadline_);
        return;
      case Op::kEnd:
      case Op::kEndDetailed:
        end_ = EndFocusLocked(t, true);
        return;
      case Op::kMouse:
        RunMouse(t);
        return;
    }
  }

  void RunMouse(const WindowTarget& t) {
    const BackgroundMouseOp& op = request_.mouse;
    if (!BackgroundOpAcceptable(op, t)) {
      down_.reason = "invalid_target";
      return;
    }
    // A scroll of nothing has nothing to deliver.
    if (op.kind == BackgroundMouseOp::Kind::kScroll && op.delta == 0) {
      ok_ = true;
      return;
    }
    const BeginOutcome begin = BeginFocusLockedDetailed(t, deadline_);
    if (!begin.ok) {
      down_.reason = begin.reason.empty() ? "begin_rejected" : begin.reason;
      return;
    }
    const bool action_ok = PostBackgroundOp(op, t);
    // A down the platform could not deliver was never sent anywhere.
    down_.down_posted = op.kind == BackgroundMouseOp::Kind::kMouseDown && action_ok;
    const EndOutcome end = EndFocusLocked(t, action_ok);
    ok_ = EndAcceptable(end);
    down_.ok = ok_;
    if (!ok_) down_.reason = end.reason.empty() ? "post_dispatch_invariant_changed" : end.reason;
  }

  BackgroundRequest request_;
  platform::TimePoint deadline_;
  BeginOutcome begin_;
  EndOutcome end_;
  MouseDownOutcome down_;
  bool ok_ = false;
};

// Operation arguments after the target; false when a number is not a
// number, a string not a string, or arguments are missing.
bool ParseMouseArgs(const Napi::CallbackInfo& info, BackgroundMouseOp* op, size_t* flag_index) {
  using Kind = BackgroundMouseOp::Kind;
  auto num = [&](size_t i, double* out) {
    if (i >= info.Length() || !info[i].IsNumber()) return false;
    *out = info[i].As<Napi::Number>().DoubleValue();
    return true;
  };
  auto str = [&](size_t i, std::string* out) {
    if (i >= info.Length() || !info[i].IsString()) return false;
    *out = info[i].As<Napi::String>().Utf8Value();
    return true;
  };
  auto optional_str = [&](size_t i) {
    return i < info.Length() && info[i].IsString() ? info[i].As<Napi::String>().Utf8Value()
                                                   : std::string();
  };
  size_t needed = 0;
  bool ok = num(4, &op->point.x) && num(5, &op->point.y);
  switch (op->kind) {
    case Kind::kClick:
      needed = 9;
      ok = ok && str(6, &op->button) && num(7, &op->clicks);
      op->modifiers = optional_str(8);
      *flag_index = 9;
      break;
    case Kind::kMove:
      needed = 6;
      *flag_index = 6;
      break;
    case Kind::kScroll:
      needed = 8;
      ok = ok && num(6, &op->delta) && str(7, &op->direction);
      *flag_index = 8;
      break;
    case Kind::kDrag:
      needed = 10;
      op->to = {0, 0};
      ok = ok && num(6, &op->to.x) && num(7, &op->to.y) && str(8, &op->button);
      op->modifiers = optional_str(9);
      *flag_index = 10;
      break;
    case Kind::kMouseDown:
    case Kind::kMouseUp:
      needed = 7;
      ok = ok && str(6, &op->button);
      *flag_index = 7;
      break;
  }
  return ok && info.Length() >= needed;
}

Napi::Value QueueBackgroundInput(const Napi::CallbackInfo& info, BackgroundRequest r) {
  Napi::Env env = info.Env();
  r.target = ParseWindowTarget(info);
  if (!r.target) return ResolvedPromise(env, Refusal(env, r, "invalid_target"));
  const bool ends = r.op == Op::kEnd || r.op == Op::kEndDetailed;
  if (!ends && BackgroundFocusSessionActive()) {
    return ResolvedPromise(env, Refusal(env, r, "session_busy"));
  }
  size_t flag_index = 4;
  if (r.op == Op::kMouse && !ParseMouseArgs(info, &r.mouse, &flag_index)) {
    return ResolvedPromise(env, Refusal(env, r, "invalid_target"));
  }
  r.target->allow_offscreen = OptionalFlagAt(info, flag_index);
  r.mouse.publish_ghost = ghost_cursor_enabled();
  if (r.mouse.publish_ghost) {
    const char* session = ghost_cursor_request_session();
    r.mouse.ghost_session = session ? session : "";
  }
  bool expected = false;
  if (!g_background_worker_busy.compare_exchange_strong(expected, true)) {
    return ResolvedPromise(env, Refusal(env, r, "input_busy"));
  }
  const BackgroundRequest copy = r;
  auto* worker = new (std::nothrow) BackgroundInputWorker(env, std::move(r));
  if (!worker) {
    g_background_worker_busy.store(false);
    return ResolvedPromise(env, Refusal(env, copy, "worker_queue_failed"));
  }
  Napi::Value promise = worker->Promise();
  if (!worker->Queue()) {
    delete worker;  // clears the busy flag
    return ResolvedPromise(env, Refusal(env, copy, "worker_queue_failed"));
  }
  return promise;
}

Napi::Value QueueMouse(const Napi::CallbackInfo& info, BackgroundMouseOp::Kind kind) {
  BackgroundRequest r;
  r.op = Op::kMouse;
  r.mouse.kind = kind;
  return QueueBackgroundInput(info, std::move(r));
}

Napi::Value Retired(const Napi::CallbackInfo& info) { return Napi::Boolean::New(info.Env(), false); }

}  // namespace

Napi::Value SetCpsActivationDisabled(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsBoolean()) return Napi::Boolean::New(env, false);
  SetCpsActivationDisabledFlag(info[0].As<Napi::Boolean>().Value());
  return Napi::Boolean::New(env, true);
}

Napi::Value BeginBackgroundWindowInputDetailed(const Napi::CallbackInfo& info) {
  const std::optional<WindowTarget> target = ParseWindowTarget(info);
  return BeginOutcomeToJs(info.Env(),
                          BeginRefusal(target, target ? "async_required" : "invalid_target"));
}

Napi::Value BeginBackgroundWindowInput(const Napi::CallbackInfo& info) { return Retired(info); }
Napi::Value EndBackgroundWindowInput(const Napi::CallbackInfo& info) { return Retired(info); }
Napi::Value ClickToWindow(const Napi::CallbackInfo& info) { return Retired(info); }
Napi::Value MoveToWindow(const Napi::CallbackInfo& info) { return Retired(info); }
Napi::Value ScrollToWindow(const Napi::CallbackInfo& info) { return Retired(info); }
Napi::Value DragToWindow(const Napi::CallbackInfo& info) { return Retired(info); }
Napi::Value MouseDownToWindow(const Napi::CallbackInfo& info) { return Retired(info); }
Napi::Value MouseUpToWindow(const Napi::CallbackInfo& info) { return Retired(info); }

Napi::Value BeginBackgroundWindowInputDetailedAsync(const Napi::CallbackInfo& info) {
  BackgroundRequest r;
  r.op = Op::kBegin;
  return QueueBackgroundInput(info, std::move(r));
}

Napi::Value EndBackgroundWindowInputAsync(const Napi::CallbackInfo& info) {
  BackgroundRequest r;
  r.op = Op::kEnd;
  return QueueBackgroundInput(info, std::move(r));
}

Napi::Value EndBackgroundWindowInputDetailedAsync(const Napi::CallbackInfo& info) {
  BackgroundRequest r;
  r.op = Op::kEndDetailed;
  return QueueBackgroundInput(info, std::move(r));
}

Napi::Value ClickToWindowAsync(const Napi::CallbackInfo& info) {
  return QueueMouse(info, BackgroundMouseOp::Kind::kClick);
}
Napi::Value MoveToWindowAsync(const Napi::CallbackInfo& info) {
  return QueueMouse(info, BackgroundMouseOp::Kind::kMove);
}
Napi::Value ScrollToWindowAsync(const Napi::CallbackInfo& info) {
  return QueueMouse(info, BackgroundMouseOp::Kind::kScroll);
}
Napi::Value DragToWindowAsync(const Napi::CallbackInfo& info) {
  return QueueMouse(info, BackgroundMouseOp::Kind::kDrag);
}
Napi::Value MouseDownToWindowDetailedAsync(const Napi::CallbackInfo& info) {
  return QueueMouse(info, BackgroundMouseOp::Kind::kMouseDown);
}
Napi::Value MouseUpToWindowAsync(const Napi::CallbackInfo& info) {
  return QueueMouse(info, BackgroundMouseOp::Kind::kMouseUp);
}

}  // namespace addon
