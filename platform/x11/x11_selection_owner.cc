#include "x11/x11_selection_owner.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <thread>

#include "x11/x11_display.h"
#include "x11/x11_pasteboard.h"
#include "x11/x11_services.h"

namespace x11 {

namespace {

using Clock = std::chrono::steady_clock;
using platform::PasteboardBytes;
using platform::PasteboardProvider;

// How long a caller waits for the owner thread to answer a command.
constexpr auto kCommandWait = std::chrono::seconds(3);
// A reader that stops fetching the chunks of an INCR transfer is dropped.
constexpr auto kIncrStall = std::chrono::seconds(5);
// How long the exiting process waits for a clipboard manager to take its items.
constexpr auto kSaveWait = std::chrono::seconds(3);
constexpr size_t kIncrChunk = 64 * 1024;

// Runs jobs one after another on a thread of its own (provider calls).
class JobThread {
 public:
  void Post(std::function<void()> job) {
    std::lock_guard<std::mutex> l(mu_);
    if (!started_) {
      started_ = true;
      std::thread([this] { Run(); }).detach();
    }
    jobs_.push_back(std::move(job));
    cv_.notify_one();
  }

 private:
  void Run() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> l(mu_);
        cv_.wait(l, [&] { return !jobs_.empty(); });
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
  }
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> jobs_;
  bool started_ = false;
};

// An INCR transfer to one reader: a chunk each time it deletes the property.
struct Transfer {
  Window requestor = 0;
  Atom property = None;
  Atom type = None;
  PasteboardBytes data;
  size_t offset = 0;
  Clock::time_point deadline;
};

void FinishLater(JobThread& jobs, std::shared_ptr<PasteboardProvider> provider) {
  if (provider) jobs.Post([provider] { provider->Finished(); });
}

}  // namespace

struct SelectionOwner::Impl {
  // ---- shared (mu) ----
  std::mutex mu;
  std::condition_variable cv;
  std::deque<std::function<void()>> queue;  // run on the owner thread
  bool running = false;                     // the owner thread is serving
  bool started = false;                     // the owner thread finished its start-up
  bool save_done = false;                   // the clipboard manager answered SAVE_TARGETS
  int wake_fd = -1;

  // ---- owner thread only ----
  Display* d = nullptr;
  Window leader = 0;
  Atom clipboard = None;
  int fixes_event = -1;  // XFixes selection-notify event type, -1 without XFixes
  size_t max_property = 0;
  bool dead = false;
  int64_t changes = 0;
  bool owned = false;
  Time owned_at = 0;
  SelectionContents contents;
  std::list<Transfer> transfers;
  std::map<Atom, std::string> names;
  JobThread providers;

  // Queues `fn` for the owner thread and wakes it.
  bool Post(std::function<void()> fn) {
    {
      std::lock_guard<std::mutex> l(mu);
      if (!running) return false;
      queue.push_back(std::move(fn));
    }
    uint64_t one = 1;
    (void)!write(wake_fd, &one, sizeof one);
    return true;
  }

  // Runs `fn` on the owner thread and answers its result; nullopt when the
  // thread does not answer in time.
  template <class R>
  std::optional<R> Call(std::function<R()> fn) {
    struct Slot {
      std::optional<R> value;
    };
    auto slot = std::make_shared<Slot>();
    if (!Post([this, slot, fn = std::move(fn)] {
          R r = fn();
          std::lock_guard<std::mutex> l(mu);
          slot->value = std::move(r);
          cv.notify_all();
        }))
      return std::nullopt;
    std::unique_lock<std::mutex> l(mu);
    cv.wait_for(l, kCommandWait, [&] { return slot->value.has_value() || !running; });
    return slot->value;
  }

  Atom Intern(const char* name) { return A(d, name); }

  const std::string& NameOf(Atom a) {
    auto it = names.find(a);
    if (it != names.end()) return it->second;
    std::string name;
    {
      ErrorTrap trap(d);
      if (char* n = XGetAtomName(d, a)) {
        name = n;
        XFree(n);
      }
    }
    return names[a] = name;
  }

  bool Start();
  void Loop();
  void Drain();
  void Sync();
  bool WaitEvent(XEvent* out, Bool (*pred)(Display*, XEvent*, XPointer), XPointer arg,
                 Clock::time_point deadline);
  Time ServerTime();
  void Handle(XEvent& e);
  void OnRequest(const XSelectionRequestEvent& r);
  bool WriteTarget(Window requestor, Atom property, Atom target);
  bool WriteMultiple(Window requestor, Atom property);
  bool WriteData(Window requestor, Atom property, Atom type, PasteboardBytes data);
  void Notify(const XSelectionRequestEvent& r, Atom property);
  void OnPropertyDelete(Window w, Atom property);
  void ExpireTransfers();
  void StopSelecting(Window w);
  void LoseOwnership();
  std::vector<Atom> OfferedTargets();
  bool StartSave();
};

// ---- start-up and the loop ----

bool SelectionOwner::Impl::Start() {
  d = Dpy();
  if (!d) return false;
  Window root = DefaultRootWindow(d);
  clipboard = Intern("CLIPBOARD");
  leader = XCreateSimpleWindow(d, root, -10, -10, 1, 1, 0, 0, 0);
  XSelectInput(d, leader, PropertyChangeMask);
  long pid = getpid();
  XChangeProperty(d, leader, Intern("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&pid), 1);
  XStoreName(d, leader, "automation-addon clipboard");
  int event_base = 0, error_base = 0;
  if (XFixesQueryExtension(d, &event_base, &error_base)) {
    fixes_event = event_base + XFixesSelectionNotify;
    XFixesSelectSelectionInput(d, root, clipboard,
                               XFixesSetSelectionOwnerNotifyMask |
                                   XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
  }
  // Data above the core request limit goes by INCR, as readers expect.
  max_property = static_cast<size_t>(XMaxRequestSize(d)) * 4 - 100;
  XSync(d, False);
  return true;
}

void SelectionOwner::Impl::Loop() {
  for (;;) {
    std::deque<std::function<void()>> jobs;
    {
      std::lock_guard<std::mutex> l(mu);
      jobs.swap(queue);
    }
    for (auto& job : jobs) job();
    Drain();
    if (dead) break;
    int timeout = -1;
    if (!transfers.empty()) {
      auto next = transfers.front().deadline;
      for (const auto& t : transfers) next = std::min(next, t.deadline);
      auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
      timeout = static_cast<int>(std::clamp<long long>(ms + 1, 0, INT_MAX));
    }
    pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {wake_fd, POLLIN, 0}};
    if (poll(fds, 2, timeout) < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) {
      uint64_t n;
      (void)!read(wake_fd, &n, sizeof n);
    }
    if (fds[0].revents & (POLLHUP | POLLERR)) dead = true;
    ExpireTransfers();
  }
  // The server went away: nothing is owned any more.
  LoseOwnership();
  std::deque<std::function<void()>> left;
  {
    std::lock_guard<std::mutex> l(mu);
    running = false;
    left.swap(queue);
    cv.notify_all();
  }
  for (auto& job : left) job();  // each answers a failure: `dead` is set
}

// Handles every event the connection has (XPending flushes our requests).
void SelectionOwner::Impl::Drain() {
  while (!dead && XPending(d) > 0) {
    XEvent e;
    XNextEvent(d, &e);
    Handle(e);
  }
  ErrorTrap probe(d);
  if (probe.Seen() == BadImplementation) dead = true;  // the connection is lost
}

// After this, every event the server generated for our earlier requests
// (an owner change we made, for one) has been handled.
void SelectionOwner::Impl::Sync() {
  XSync(d, False);
  Drain();
}

bool SelectionOwner::Impl::WaitEvent(XEvent* out, Bool (*pred)(Display*, XEvent*, XPointer),
                                     XPointer arg, Clock::time_point deadline) {
  for (;;) {
    if (XCheckIfEvent(d, out, pred, arg)) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd fd{ConnectionNumber(d), POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left)) < 0 && errno != EINTR) return false;
    if (fd.revents & (POLLHUP | POLLERR)) {
      dead = true;
      return false;
    }
  }
}

// A server timestamp: the time of a zero-length append to the leader.
Time SelectionOwner::Impl::ServerTime() {
  Atom stamp = Intern("_KORVO_TIMESTAMP");
  XChangeProperty(d, leader, stamp, XA_INTEGER, 8, PropModeAppend, nullptr, 0);
  XFlush(d);
  struct Want {
    Window w;
    Atom a;
  } want{leader, stamp};
  auto pred = [](Display*, XEvent* e, XPointer p) -> Bool {
    auto* w = reinterpret_cast<Want*>(p);
    return e->type == PropertyNotify && e->xproperty.window == w->w && e->xproperty.atom == w->a;
  };
  XEvent e;
  if (!WaitEvent(&e, pred, reinterpret_cast<XPointer>(&want), Clock::now() + kCommandWait))
    return CurrentTime;
  return e.xproperty.time;
}

void SelectionOwner::Impl::Handle(XEvent& e) {
  if (fixes_event >= 0 && e.type == fixes_event) {
    auto* n = reinterpret_cast<XFixesSelectionNotifyEvent*>(&e);
    if (n->selection == clipboard) ++changes;
    return;
  }
  switch (e.type) {
    case SelectionRequest:
      OnRequest(e.xselectionrequest);
      break;
    case SelectionClear:
      // Another client took CLIPBOARD: our contents are gone.
      if (e.xselectionclear.selection == clipboard && e.xselectionclear.window == leader) {
        LoseOwnership();
        if (fixes_event < 0) ++changes;
      }
      break;
    case SelectionNotify:
      if (e.xselection.requestor == leader &&
          e.xselection.selection == Intern("CLIPBOARD_MANAGER")) {
        std::lock_guard<std::mutex> l(mu);
        save_done = true;
        cv.notify_all();
      }
      break;
    case PropertyNotify:
      if (e.xproperty.state == PropertyDelete) OnPropertyDelete(e.xproperty.window, e.xproperty.atom);
      break;
    default:
      break;
  }
}

void SelectionOwner::Impl::LoseOwnership() {
  owned = false;
  auto provider = std::move(contents.provider);
  contents = SelectionContents{};
  FinishLater(providers, std::move(provider));
}

// ---- serving readers ----

std::vector<Atom> SelectionOwner::Impl::OfferedTargets() {
  std::vector<Atom> out;
  auto add = [&](const std::string& type, bool latin1) {
    for (const auto& t : TargetsForType(type, latin1)) {
      Atom a = Intern(t.c_str());
      if (std::find(out.begin(), out.end(), a) == out.end()) out.push_back(a);
    }
  };
  for (const auto& [type, bytes] : contents.data) add(type, Utf8ToLatin1(bytes).has_value());
  // A lazy item's text is not known before a reader asks: STRING is offered
  // and refused on request when the text does not fit Latin-1.
  if (contents.provider)
    for (const auto& type : contents.lazy_types) add(type, true);
  return out;
}

void SelectionOwner::Impl::Notify(const XSelectionRequestEvent& r, Atom property) {
  XEvent n{};
  n.xselection.type = SelectionNotify;
  n.xselection.display = d;
  n.xselection.requestor = r.requestor;
  n.xselection.selection = r.selection;
  n.xselection.target = r.target;
  n.xselection.property = property;
  n.xselection.time = r.time;
  ErrorTrap trap(d);  // the requestor may be gone
  XSendEvent(d, r.requestor, False, NoEventMask, &n);
  XFlush(d);
}

bool SelectionOwner::Impl::WriteData(Window requestor, Atom property, Atom type,
                                     PasteboardBytes data) {
  ErrorTrap trap(d);
  if (data.size() <= max_property) {
    XChangeProperty(d, requestor, property, type, 8, PropModeReplace, data.data(),
                    static_cast<int>(data.size()));
    return true;
  }
  // INCR: announce the size; each deletion of the property by the reader
  // asks for the next chunk, and an empty chunk ends the transfer.
  XSelectInput(d, requestor, PropertyChangeMask);
  long size = static_cast<long>(data.size());
  XChangeProperty(d, requestor, property, Intern("INCR"), 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&size), 1);
  transfers.push_back(Transfer{requestor, property, type, std::move(data), 0,
                               Clock::now() + kIncrStall});
  return true;
}

// Writes one target from the written items (or TARGETS / TIMESTAMP) into
// the requestor's property; false when it cannot be served that way.
bool SelectionOwner::Impl::WriteTarget(Window requestor, Atom property, Atom target) {
  if (target == Intern("TARGETS")) {
    std::vector<Atom> atoms = {Intern("TARGETS"), Intern("TIMESTAMP"), Intern("MULTIPLE")};
    for (Atom a : OfferedTargets()) atoms.push_back(a);
    std::vector<long> items(atoms.begin(), atoms.end());
    ErrorTrap trap(d);
    XChangeProperty(d, requestor, property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(items.data()), static_cast<int>(items.size()));
    return true;
  }
  if (target == Intern("TIMESTAMP")) {
    long t = static_cast<long>(owned_at);
    ErrorTrap trap(d);
    XChangeProperty(d, requestor, property, XA_INTEGER, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&t), 1);
    return true;
  }
  const std::string& name = NameOf(target);
  auto it = contents.data.find(TypeForTarget(name));
  if (it == contents.data.end()) return false;
  if (target == XA_STRING) {
    auto latin1 = Utf8ToLatin1(it->second);
    return latin1 && WriteData(requestor, property, target, std::move(*latin1));
  }
  return WriteData(requestor, property, target, it->second);
}

// MULTIPLE: the requestor's property lists (target, property) pairs; each
// pair is served into its property, and one that cannot be is set to None.
bool SelectionOwner::Impl::WriteMultiple(Window requestor, Atom property) {
  Atom type = None;
  int format = 0;
  unsigned long n = 0, after = 0;
  unsigned char* raw = nullptr;
  std::vector<long> pairs;
  {
    ErrorTrap trap(d);
    if (XGetWindowProperty(d, requestor, property, 0, 1 << 16, False, AnyPropertyType, &type,
                           &format, &n, &after, &raw) == Success &&
        raw && format == 32) {
      auto* items = reinterpret_cast<long*>(raw);
      pairs.assign(items, items + (n & ~1UL));
    }
    if (raw) XFree(raw);
  }
  if (pairs.empty()) return false;
  for (size_t i = 0; i < pairs.size(); i += 2) {
    Atom target = static_cast<Atom>(pairs[i]), prop = static_cast<Atom>(pairs[i + 1]);
    if (target == Intern("MULTIPLE") || !WriteTarget(requestor, prop, target)) pairs[i + 1] = None;
  }
  ErrorTrap trap(d);
  XChangeProperty(d, requestor, property, type, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(pairs.data()), static_cast<int>(pairs.size()));
  return true;
}

void SelectionOwner::Impl::OnRequest(const XSelectionRequestEvent& r) {
  // Obsolete readers name no property: the target's own name is used.
  Atom property = r.property != None ? r.property : r.target;
  bool ours = owned && r.selection == clipboard && r.owner == leader &&
              (r.time == CurrentTime || r.time >= owned_at);
  if (!ours) return Notify(r, None);
  if (r.target == Intern("MULTIPLE")) {
    if (r.property == None) return Notify(r, None);  // MULTIPLE needs its pair list
    return Notify(r, WriteMultiple(r.requestor, property) ? property : None);
  }
  const std::string type = TypeForTarget(NameOf(r.target));
  bool lazy = contents.provider && std::find(contents.lazy_types.begin(), contents.lazy_types.end(),
                                             type) != contents.lazy_types.end();
  if (!lazy) return Notify(r, WriteTarget(r.requestor, property, r.target) ? property : None);

  // One request of an offered type is one read: the provider answers on its
  // own thread, and the reply is written here once it has.
  pid_t reader = ClientPid(d, r.requestor);
  auto provider = contents.provider;
  std::string target_name = NameOf(r.target);
  providers.Post([this, r, property, type, reader, provider, target_name] {
    X11Log().Write("pasteboard: " + target_name + " read by pid " + std::to_string(reader) + " (" +
                   (reader > 0 ? ProcessName(reader) : std::string("unknown")) + ")");
    std::optional<PasteboardBytes> bytes = provider->ProvideData(type);
    Post([this, r, property, bytes = std::move(bytes)]() mutable {
      if (dead) return;
      if (bytes && r.target == XA_STRING) bytes = Utf8ToLatin1(*bytes);
      if (!bytes) return Notify(r, None);
      Notify(r, WriteData(r.requestor, property, r.target, std::move(*bytes)) ? property : None);
    });
  });
}

void SelectionOwner::Impl::OnPropertyDelete(Window w, Atom property) {
  for (auto it = transfers.begin(); it != transfers.end(); ++it) {
    if (it->requestor != w || it->property != property) continue;
    size_t n = std::min(kIncrChunk, it->data.size() - it->offset);
    ErrorTrap trap(d);
    XChangeProperty(d, w, property, it->type, 8, PropModeReplace, it->data.data() + it->offset,
                    static_cast<int>(n));
    it->offset += n;
    it->deadline = Clock::now() + kIncrStall;
    // The empty chunk (n == 0) was the last one.
    if (n == 0) {
      transfers.erase(it);
      StopSelecting(w);
    }
    XFlush(d);
    return;
  }
}

void SelectionOwner::Impl::ExpireTransfers() {
  auto now = Clock::now();
  for (auto it = transfers.begin(); it != transfers.end();) {
    if (it->deadline > now) {
      ++it;
      continue;
    }
    Window w = it->requestor;
    it = transfers.erase(it);
    StopSelecting(w);
  }
}

void SelectionOwner::Impl::StopSelecting(Window w) {
  for (const auto& t : transfers)
    if (t.requestor == w) return;
  ErrorTrap trap(d);
  XSelectInput(d, w, NoEventMask);
}

// ---- handing the contents to a clipboard manager at exit ----

bool SelectionOwner::Impl::StartSave() {
  if (dead || !owned || contents.provider || contents.data.empty()) return false;
  Atom manager = Intern("CLIPBOARD_MANAGER");
  if (XGetSelectionOwner(d, manager) == None) return false;
  // The targets worth saving: our data targets (not TARGETS and the like).
  std::vector<long> targets;
  for (Atom a : OfferedTargets()) targets.push_back(static_cast<long>(a));
  Atom list = Intern("_KORVO_SAVE_TARGETS");
  XChangeProperty(d, leader, list, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(targets.data()), static_cast<int>(targets.size()));
  {
    std::lock_guard<std::mutex> l(mu);
    save_done = false;
  }
  XConvertSelection(d, manager, Intern("SAVE_TARGETS"), list, leader, ServerTime());
  XFlush(d);
  return true;
}

namespace {

SelectionOwner::Impl* g_impl = nullptr;

void SaveAtExit() {
  SelectionOwner::Impl* impl = g_impl;
  if (!impl) return;
  auto started = impl->Call<bool>([impl] { return impl->StartSave(); });
  if (!started || !*started) return;
  // The owner thread serves the manager's reads meanwhile.
  std::unique_lock<std::mutex> l(impl->mu);
  impl->cv.wait_for(l, kSaveWait, [impl] { return impl->save_done || !impl->running; });
}

}  // namespace

// ---- the public face ----

SelectionOwner* SelectionOwner::Get() {
  static std::mutex start_mu;
  static SelectionOwner* owner = nullptr;
  std::lock_guard<std::mutex> start(start_mu);
  if (!owner) {
    g_impl = new Impl();
    g_impl->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    owner = new SelectionOwner(g_impl);
    std::atexit(SaveAtExit);
  }
  Impl* impl = owner->impl_;
  std::unique_lock<std::mutex> l(impl->mu);
  if (!impl->running) {
    if (impl->wake_fd < 0) return nullptr;
    // (Re)start: the first time, or after the server went away.
    impl->started = false;
    l.unlock();
    std::thread([impl] {
      bool ok = impl->Start();
      {
        std::lock_guard<std::mutex> g(impl->mu);
        impl->running = ok;
        impl->dead = !ok;
        impl->started = true;
        impl->cv.notify_all();
      }
      if (ok) impl->Loop();
    }).detach();
    l.lock();
    impl->cv.wait_for(l, kCommandWait, [impl] { return impl->started; });
    if (!impl->running) return nullptr;
  }
  return owner;
}

std::optional<int64_t> SelectionOwner::ChangeCount() {
  Impl* impl = impl_;
  return impl->Call<int64_t>([impl] {
    impl->Sync();
    return impl->changes;
  });
}

bool SelectionOwner::Own(SelectionContents contents,
                         std::shared_ptr<platform::PasteboardProvider>* replaced) {
  Impl* impl = impl_;
  struct Result {
    bool ok = false;
    std::shared_ptr<PasteboardProvider> replaced;
  };
  auto shared = std::make_shared<SelectionContents>(std::move(contents));
  auto r = impl->Call<Result>([impl, shared] {
    Result res;
    if (impl->dead) return res;
    Time t = impl->ServerTime();
    XSetSelectionOwner(impl->d, impl->clipboard, impl->leader, t);
    if (XGetSelectionOwner(impl->d, impl->clipboard) != impl->leader) return res;
    if (impl->contents.provider != shared->provider) res.replaced = std::move(impl->contents.provider);
    impl->contents = std::move(*shared);
    impl->owned = true;
    impl->owned_at = t;
    if (impl->fixes_event < 0) ++impl->changes;
    // Count our own change before anybody asks for the count.
    impl->Sync();
    res.ok = impl->owned;
    return res;
  });
  if (!r) return false;
  if (replaced) *replaced = std::move(r->replaced);
  return r->ok;
}

std::optional<SelectionContents> SelectionOwner::Owned() {
  Impl* impl = impl_;
  auto r = impl->Call<std::optional<SelectionContents>>([impl] {
    impl->Sync();
    return impl->owned ? std::optional<SelectionContents>(impl->contents) : std::nullopt;
  });
  return r ? *r : std::nullopt;
}

}  // namespace x11
