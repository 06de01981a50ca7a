// The accessibility thread and its connections (see x11_atspi_bus.h).
#include "x11/x11_atspi_bus.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "x11/x11_ax.h"

namespace x11::atspi {

namespace {

constexpr size_t kMaxInFlight = 64;
constexpr auto kReconnectEvery = std::chrono::seconds(1);

uint64_t NowUsec() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// Reads the rest of the current container into `out` (a list).
int ReadAll(sd_bus_message* m, D* out);

// Every integer type (and booleans, which sd-bus reads as int) as one kind.
template <typename T>
int ReadInteger(sd_bus_message* m, char type, D* out) {
  T x{};
  int r = sd_bus_message_read_basic(m, type, &x);
  out->kind = D::kInt;
  out->i = static_cast<int64_t>(x);
  return r;
}

int ReadOne(sd_bus_message* m, char type, const char* contents, D* out) {
  switch (type) {
    case SD_BUS_TYPE_STRING:
    case SD_BUS_TYPE_OBJECT_PATH:
    case SD_BUS_TYPE_SIGNATURE: {
      const char* s = nullptr;
      int r = sd_bus_message_read_basic(m, type, &s);
      if (r < 0) return r;
      out->kind = D::kStr;
      out->s = s ? s : "";
      return r;
    }
    case SD_BUS_TYPE_BOOLEAN: return ReadInteger<int>(m, type, out);
    case SD_BUS_TYPE_BYTE: return ReadInteger<uint8_t>(m, type, out);
    case SD_BUS_TYPE_INT16: return ReadInteger<int16_t>(m, type, out);
    case SD_BUS_TYPE_UINT16: return ReadInteger<uint16_t>(m, type, out);
    case SD_BUS_TYPE_INT32: return ReadInteger<int32_t>(m, type, out);
    case SD_BUS_TYPE_UINT32:
    case SD_BUS_TYPE_UNIX_FD: return ReadInteger<uint32_t>(m, type, out);
    case SD_BUS_TYPE_INT64: return ReadInteger<int64_t>(m, type, out);
    case SD_BUS_TYPE_UINT64: return ReadInteger<uint64_t>(m, type, out);
    case SD_BUS_TYPE_DOUBLE: {
      double x = 0;
      int r = sd_bus_message_read_basic(m, type, &x);
      out->kind = D::kDouble;
      out->d = x;
      return r;
    }
    case SD_BUS_TYPE_VARIANT: {
      int r = sd_bus_message_enter_container(m, type, contents);
      if (r < 0) return r;
      D inner;
      r = ReadAll(m, &inner);
      if (r < 0) return r;
      *out = inner.v.empty() ? D{} : std::move(inner.v[0]);
      return sd_bus_message_exit_container(m);
    }
    case SD_BUS_TYPE_ARRAY:
    case SD_BUS_TYPE_STRUCT:
    case SD_BUS_TYPE_DICT_ENTRY: {
      int r = sd_bus_message_enter_container(m, type, contents);
      if (r < 0) return r;
      r = ReadAll(m, out);
      if (r < 0) return r;
      return sd_bus_message_exit_container(m);
    }
    default:
      return -EINVAL;
  }
}

int ReadAll(sd_bus_message* m, D* out) {
  out->kind = D::kList;
  for (;;) {
    char type = 0;
    const char* contents = nullptr;
    int r = sd_bus_message_peek_type(m, &type, &contents);
    if (r < 0) return r;
    if (r == 0) return 0;
    out->v.emplace_back();
    r = ReadOne(m, type, contents, &out->v.back());
    if (r < 0) return r;
  }
}

int Append(sd_bus_message* m, const Arg& a) {
  if (auto s = std::get_if<std::string>(&a)) return sd_bus_message_append_basic(m, 's', s->c_str());
  if (auto i = std::get_if<int32_t>(&a)) return sd_bus_message_append_basic(m, 'i', i);
  if (auto u = std::get_if<uint32_t>(&a)) return sd_bus_message_append_basic(m, 'u', u);
  if (auto b = std::get_if<bool>(&a)) {
    int v = *b;
    return sd_bus_message_append_basic(m, 'b', &v);
  }
  if (auto d = std::get_if<VarDouble>(&a)) return sd_bus_message_append(m, "v", "d", d->value);
  if (auto b = std::get_if<VarBool>(&a)) return sd_bus_message_append(m, "v", "b", b->value ? 1 : 0);
  const auto& list = std::get<std::vector<std::string>>(a);
  int r = sd_bus_message_open_container(m, 'a', "s");
  for (size_t i = 0; r >= 0 && i < list.size(); ++i)
    r = sd_bus_message_append_basic(m, 's', list[i].c_str());
  return r < 0 ? r : sd_bus_message_close_container(m);
}

// The batch owns its calls: a caller that stops waiting leaves nothing
// behind that the thread could still write to.
struct Batch {
  std::vector<Call> calls;  // grows on the thread while `on_answer` adds calls
  std::deque<size_t> unsent;  // calls not sent yet, in sending order (thread only)
  size_t pending = 0;  // calls not answered yet (under Impl::mu)
  bool done = false;   // under Impl::mu
  bool active = false;  // in the thread's active list (thread only)
  std::atomic<bool> aborted{false};    // a call timed out: the rest are not sent
  std::atomic<bool> abandoned{false};  // the caller stopped waiting (set under answer_mu)
  std::atomic<uint64_t> answered{0};   // progress, for the caller's guard
  Bus::OnAnswer on_answer;
  std::mutex answer_mu;  // held while on_answer runs, and when the caller gives up
};

}  // namespace

const D& D::at(size_t n) const {
  static const D none;
  return kind == kList && n < v.size() ? v[n] : none;
}

Call Method(const std::string& dest, const std::string& path, const char* iface,
            const char* member, std::vector<Arg> args) {
  Call c;
  c.dest = dest;
  c.path = path;
  c.iface = iface;
  c.member = member;
  c.args = std::move(args);
  return c;
}

Call GetProperty(const std::string& dest, const std::string& path, const char* iface,
                 const char* prop) {
  return Method(dest, path, "org.freedesktop.DBus.Properties", "Get",
                {std::string(iface), std::string(prop)});
}

platform::AXError ErrorFor(const std::string& name, int errno_value) {
  auto is = [&](const char* n) { return name == n; };
  // An object that is gone from a live application is an invalid element; an
  // application that is gone (its name, its socket) or silent cannot complete.
  if (is("org.freedesktop.DBus.Error.UnknownObject")) return platform::kAXErrorInvalidUIElement;
  if (is("org.freedesktop.DBus.Error.ServiceUnknown") || is("org.freedesktop.DBus.Error.NameHasNoOwner") ||
      is("org.freedesktop.DBus.Error.Disconnected") || is("org.freedesktop.DBus.Error.NoReply") ||
      is("org.freedesktop.DBus.Error.Timeout") || is("org.freedesktop.DBus.Error.TimedOut"))
    return platform::kAXErrorCannotComplete;
  if (is("org.freedesktop.DBus.Error.UnknownMethod") || is("org.freedesktop.DBus.Error.UnknownInterface") ||
      is("org.freedesktop.DBus.Error.UnknownProperty"))
    return platform::kAXErrorAttributeUnsupported;
  if (is("org.freedesktop.DBus.Error.InvalidArgs")) return platform::kAXErrorIllegalArgument;
  if (errno_value == ETIMEDOUT || errno_value == ENOTCONN || errno_value == ECONNRESET ||
      errno_value == EPIPE || errno_value == ENXIO)
    return platform::kAXErrorCannotComplete;
  return platform::kAXErrorFailure;
}

struct Bus::Impl {
  std::mutex mu;
  std::condition_variable cv;
  std::deque<std::shared_ptr<Batch>> queue;  // under mu
  ChangeListener listener;                   // under mu
  std::map<std::string, std::string> offers;  // bus name -> direct address, under mu
  std::map<std::string, std::string> addresses;  // every address offered, under mu
  bool connected = false;                    // under mu
  std::chrono::steady_clock::time_point last_attempt;  // under mu
  bool want_connect = true;                  // under mu
  int wake_fd = -1;
  Stats* stats = nullptr;

  // Thread-owned.
  sd_bus* a11y = nullptr;
  std::map<std::string, sd_bus*> direct;  // bus name -> direct connection
  // Connections outside `direct`: one call's own, or a dropped one that is
  // closed once its calls are answered.
  std::vector<sd_bus*> spare;
  std::map<sd_bus*, size_t> outstanding;  // calls sent and not answered, per connection
  std::deque<std::shared_ptr<Batch>> active;
  size_t in_flight = 0;

  void Wake() {
    uint64_t one = 1;
    ssize_t n = write(wake_fd, &one, sizeof one);
    (void)n;
  }

  static int OnSignal(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = static_cast<Impl*>(userdata);
    ChangeListener listener;
    {
      std::lock_guard<std::mutex> l(self->mu);
      listener = self->listener;
    }
    if (!listener) return 0;
    const char* member = sd_bus_message_get_member(m);
    if (member && std::strcmp(member, "NameOwnerChanged") == 0) {
      const char *name = nullptr, *old_owner = nullptr, *new_owner = nullptr;
      if (sd_bus_message_read(m, "sss", &name, &old_owner, &new_owner) >= 0 && name &&
          new_owner && !*new_owner)
        listener(name, "");
      return 0;
    }
    const char* sender = sd_bus_message_get_sender(m);
    const char* path = sd_bus_message_get_path(m);
    if (sender && path) listener(sender, path);
    return 0;
  }

  bool ConnectA11y() {
    sd_bus* session = nullptr;
    if (sd_bus_open_user(&session) < 0) return false;
    std::string address = A11yBusAddress(session);
    sd_bus_flush_close_unref(session);
    if (address.empty()) return false;
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) return false;
    if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
        sd_bus_start(bus) < 0) {
      sd_bus_unref(bus);
      return false;
    }
    // Changes that make element records stale, and applications that go.
    // Installed asynchronously: the thread never blocks on the bus daemon.
    for (const char* rule :
         {"type='signal',interface='org.a11y.atspi.Event.Object',member='ChildrenChanged'",
          "type='signal',interface='org.a11y.atspi.Event.Object',member='StateChanged'",
          "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged'"})
      sd_bus_add_match_async(bus, nullptr, rule, OnSignal, nullptr, this);
    a11y = bus;
    return true;
  }

  sd_bus* DirectFor(const std::string& name) {
    auto it = direct.find(name);
    if (it != direct.end()) return it->second;
    std::string address;
    {
      std::lock_guard<std::mutex> l(mu);
      auto o = offers.find(name);
      if (o == offers.end()) return nullptr;
      address = o->second;
      offers.erase(o);
    }
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) return nullptr;
    if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_start(bus) < 0) {
      sd_bus_unref(bus);
      bus = nullptr;
    }
    direct[name] = bus;  // a failed socket is remembered as none
    return bus;
  }

  // A connection of its own for one call (see Call::own_connection); null
  // when the application offers no direct socket.
  sd_bus* OwnFor(const std::string& name) {
    std::string address;
    {
      std::lock_guard<std::mutex> l(mu);
      auto it = addresses.find(name);
      if (it == addresses.end()) return nullptr;
      address = it->second;
    }
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) return nullptr;
    if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_start(bus) < 0) {
      sd_bus_unref(bus);
      return nullptr;
    }
    spare.push_back(bus);
    return bus;
  }

  // A shared direct connection that let a call time out may be stuck in the
  // application (see Call::own_connection): the next call opens a new one,
  // and this one is closed once its calls have their answers.
  void DropDirect(sd_bus* bus) {
    for (auto it = direct.begin(); it != direct.end(); ++it) {
      if (it->second != bus) continue;
      std::lock_guard<std::mutex> l(mu);
      auto a = addresses.find(it->first);
      if (a != addresses.end()) offers[it->first] = a->second;
      spare.push_back(bus);
      direct.erase(it);
      return;
    }
  }

  // Spare connections with no call left, after the processing pass (never
  // from a callback of the connection itself).
  void CloseSpare() {
    for (auto it = spare.begin(); it != spare.end();) {
      if (outstanding[*it] == 0) {
        outstanding.erase(*it);
        sd_bus_flush_close_unref(*it);
        it = spare.erase(it);
      } else {
        ++it;
      }
    }
  }

  struct Sent {
    Impl* self;
    std::shared_ptr<Batch> batch;
    size_t index;
    sd_bus* bus;
  };

  static int OnReply(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* sent = static_cast<Sent*>(userdata);
    --sent->self->in_flight;
    Call& c = sent->batch->calls[sent->index];
    if (sd_bus_message_is_method_error(m, nullptr)) {
      const sd_bus_error* e = sd_bus_message_get_error(m);
      c.error_name = e && e->name ? e->name : "";
      c.err = ErrorFor(c.error_name, sd_bus_message_get_errno(m));
      if (c.err == platform::kAXErrorCannotComplete) {
        sent->batch->aborted = true;
        if (c.error_name == "org.freedesktop.DBus.Error.Timeout" ||
            c.error_name == "org.freedesktop.DBus.Error.NoReply")
          sent->self->DropDirect(sent->bus);
      }
    } else {
      c.reply = D{};
      c.err = ReadAll(m, &c.reply) < 0 ? platform::kAXErrorFailure : platform::kAXErrorSuccess;
    }
    --sent->self->outstanding[sent->bus];
    sent->self->Answered(sent->batch, sent->index);
    sent->self->Finish(sent->batch);
    delete sent;
    return 0;
  }

  // Hands an answer to the batch's listener and joins the calls it adds.
  void Answered(const std::shared_ptr<Batch>& b, size_t index) {
    b->answered.fetch_add(1, std::memory_order_relaxed);
    if (!b->on_answer) return;
    std::vector<Call> more;
    {
      std::lock_guard<std::mutex> l(b->answer_mu);
      if (b->abandoned || b->aborted) return;
      b->on_answer(index, b->calls[index], &more);
    }
    if (more.empty()) return;
    uint64_t timeout = b->calls[index].timeout_usec;
    for (auto& c : more) {
      c.err = platform::kAXErrorCannotComplete;
      if (c.timeout_usec == 0) c.timeout_usec = timeout;
    }
    {
      std::lock_guard<std::mutex> l(stats->log_mu);
      if (stats->log) stats->log->insert(stats->log->end(), more.begin(), more.end());
    }
    {
      std::lock_guard<std::mutex> l(mu);
      b->pending += more.size();
    }
    // Urgent calls (a walk's next level) go before the ones still waiting.
    for (auto& c : more) {
      bool urgent = c.urgent;
      b->calls.push_back(std::move(c));
      if (urgent) b->unsent.push_front(b->calls.size() - 1);
      else b->unsent.push_back(b->calls.size() - 1);
    }
    if (!b->active) {
      b->active = true;
      active.push_back(b);
    }
  }

  // Called on the thread exactly once per call (answered or skipped).
  void Finish(const std::shared_ptr<Batch>& b) {
    std::lock_guard<std::mutex> l(mu);
    if (--b->pending == 0) {
      b->done = true;
      cv.notify_all();
    }
  }

  void Send(const std::shared_ptr<Batch>& b, size_t index) {
    Call& c = b->calls[index];
    bool bus_service = c.dest == kDBusName || c.dest == kRegistryName;
    sd_bus* bus = nullptr;
    if (!bus_service && c.own_connection) bus = OwnFor(c.dest);
    if (!bus && !bus_service && c.direct) bus = DirectFor(c.dest);
    bool direct_call = bus != nullptr;
    if (!bus) bus = a11y;
    if (!bus) {
      c.err = platform::kAXErrorAPIDisabled;
      Finish(b);
      return;
    }
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_method_call(bus, &m, direct_call ? nullptr : c.dest.c_str(),
                                           c.path.c_str(), c.iface.c_str(), c.member.c_str());
    for (size_t i = 0; r >= 0 && i < c.args.size(); ++i) r = Append(m, c.args[i]);
    if (r >= 0) {
      auto* sent = new Sent{this, b, index, bus};
      r = sd_bus_call_async(bus, nullptr, m, OnReply, sent, c.timeout_usec);
      if (r < 0) delete sent;
    }
    sd_bus_message_unref(m);
    if (r < 0) {
      c.err = r == -ENOTCONN || r == -ECONNRESET ? platform::kAXErrorCannotComplete
                                                 : platform::kAXErrorIllegalArgument;
      Finish(b);
      return;
    }
    ++in_flight;
    ++outstanding[bus];
    stats->calls.fetch_add(1, std::memory_order_relaxed);
    if (direct_call) stats->direct_calls.fetch_add(1, std::memory_order_relaxed);
  }

  void Issue() {
    while (in_flight < kMaxInFlight && !active.empty()) {
      auto b = active.front();
      if (b->unsent.empty()) {
        b->active = false;
        active.pop_front();
        continue;
      }
      size_t i = b->unsent.front();
      b->unsent.pop_front();
      if (b->aborted || b->abandoned) {
        Finish(b);  // keeps the "cannot complete" Run filled in
        continue;
      }
      Send(b, i);
    }
  }

  // Drops direct connections that died (the application quit).
  void ReapDirect() {
    for (auto it = direct.begin(); it != direct.end();) {
      if (it->second && !sd_bus_is_open(it->second)) {
        sd_bus_flush_close_unref(it->second);
        it = direct.erase(it);
      } else {
        ++it;
      }
    }
  }

  void Loop() {
    for (;;) {
      bool connect = false;
      {
        std::lock_guard<std::mutex> l(mu);
        connect = !a11y && want_connect;
      }
      if (connect) {
        bool ok = ConnectA11y();
        std::lock_guard<std::mutex> l(mu);
        want_connect = false;
        last_attempt = std::chrono::steady_clock::now();
        connected = ok;
        cv.notify_all();
      }
      {
        std::lock_guard<std::mutex> l(mu);
        while (!queue.empty()) {
          queue.front()->active = true;
          active.push_back(std::move(queue.front()));
          queue.pop_front();
        }
      }
      Issue();
      std::vector<sd_bus*> buses;
      if (a11y) buses.push_back(a11y);
      for (auto& [name, bus] : direct)
        if (bus) buses.push_back(bus);
      buses.insert(buses.end(), spare.begin(), spare.end());
      for (sd_bus* bus : buses) {
        for (int n = 0; n < 10000; ++n) {
          int r = sd_bus_process(bus, nullptr);
          if (r <= 0) break;
        }
      }
      CloseSpare();
      ReapDirect();
      if (a11y && !sd_bus_is_open(a11y)) {
        sd_bus_flush_close_unref(a11y);
        a11y = nullptr;
        std::lock_guard<std::mutex> l(mu);
        connected = false;
      }
      Issue();
      std::vector<struct pollfd> fds;
      fds.push_back({wake_fd, POLLIN, 0});
      uint64_t until = UINT64_MAX;
      buses.clear();
      if (a11y) buses.push_back(a11y);
      for (auto& [name, bus] : direct)
        if (bus) buses.push_back(bus);
      buses.insert(buses.end(), spare.begin(), spare.end());
      for (sd_bus* bus : buses) {
        int events = sd_bus_get_events(bus);
        fds.push_back({sd_bus_get_fd(bus), static_cast<short>(events < 0 ? 0 : events), 0});
        uint64_t t = UINT64_MAX;
        if (sd_bus_get_timeout(bus, &t) >= 0 && t < until) until = t;
      }
      int timeout_ms = -1;
      if (until != UINT64_MAX) {
        uint64_t now = NowUsec();
        timeout_ms = until <= now ? 0 : static_cast<int>((until - now + 999) / 1000);
      }
      poll(fds.data(), fds.size(), timeout_ms);
      if (fds[0].revents & POLLIN) {
        uint64_t v;
        ssize_t n = read(wake_fd, &v, sizeof v);
        (void)n;
      }
    }
  }
};

Bus::Bus() : impl_(new Impl) {
  impl_->stats = &stats_;
  impl_->wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  std::thread([impl = impl_] { impl->Loop(); }).detach();
}

Bus& Bus::Get() {
  static Bus* bus = new Bus();  // never destroyed: see the header
  return *bus;
}

bool Bus::Connected() {
  std::unique_lock<std::mutex> l(impl_->mu);
  if (!impl_->connected && !impl_->want_connect &&
      std::chrono::steady_clock::now() - impl_->last_attempt > kReconnectEvery) {
    impl_->want_connect = true;
    impl_->Wake();
  }
  if (impl_->want_connect) {
    auto deadline = platform::SystemClock().Now() + std::chrono::seconds(2);
    platform::SystemClock().WaitUntil(l, impl_->cv, deadline, [&] { return !impl_->want_connect; });
  }
  return impl_->connected;
}

void Bus::Run(std::vector<Call>* calls) { Run(calls, nullptr); }

void Bus::Run(std::vector<Call>* calls, OnAnswer on_answer) {
  if (calls->empty()) return;
  uint64_t longest = 0;
  for (auto& c : *calls) {
    c.err = platform::kAXErrorCannotComplete;
    c.error_name.clear();
    c.reply = D{};
    if (c.timeout_usec == 0) c.timeout_usec = 6 * 1000 * 1000;
    if (c.timeout_usec > longest) longest = c.timeout_usec;
  }
  if (!Connected()) {
    for (auto& c : *calls) c.err = platform::kAXErrorAPIDisabled;
    return;
  }
  {
    std::lock_guard<std::mutex> l(stats_.log_mu);
    if (stats_.log) stats_.log->insert(stats_.log->end(), calls->begin(), calls->end());
  }
  auto b = std::make_shared<Batch>();
  b->calls = *calls;
  b->pending = calls->size();
  b->on_answer = std::move(on_answer);
  for (size_t i = 0; i < b->calls.size(); ++i)
    if (b->calls[i].urgent) b->unsent.push_back(i);
  for (size_t i = 0; i < b->calls.size(); ++i)
    if (!b->calls[i].urgent) b->unsent.push_back(i);
  std::unique_lock<std::mutex> l(impl_->mu);
  impl_->queue.push_back(b);
  impl_->Wake();
  // Every call is bounded by its own time-out on the thread; this bound only
  // guards against a thread that stopped answering (it is renewed while
  // answers keep coming: a growing batch may outlast it).
  const auto guard = std::chrono::microseconds(longest) + std::chrono::seconds(2) +
                     std::chrono::milliseconds(calls->size() / 8);
  uint64_t seen = 0;
  for (;;) {
    auto deadline = platform::SystemClock().Now() + guard;
    if (platform::SystemClock().WaitUntil(l, impl_->cv, deadline, [&] { return b->done; })) break;
    uint64_t now = b->answered.load();
    if (now != seen) {
      seen = now;
      continue;
    }
    l.unlock();
    std::lock_guard<std::mutex> quiet(b->answer_mu);  // no listener runs past this point
    b->abandoned = true;
    return;  // every call still says "cannot complete"
  }
  *calls = std::move(b->calls);
}

void Bus::OfferDirect(const std::string& bus_name, const std::string& address) {
  std::lock_guard<std::mutex> l(impl_->mu);
  impl_->offers[bus_name] = address;
  impl_->addresses[bus_name] = address;
}

void Bus::SetChangeListener(ChangeListener listener) {
  std::lock_guard<std::mutex> l(impl_->mu);
  impl_->listener = std::move(listener);
}

Call RunOne(Call c) {
  std::vector<Call> one;
  one.push_back(std::move(c));
  Bus::Get().Run(&one);
  return std::move(one[0]);
}

}  // namespace x11::atspi
