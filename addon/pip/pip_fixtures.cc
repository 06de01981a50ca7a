// Interaction races replayed against the lead panel's monitor on the main
// thread, for the live test calls. Each feeds tap events straight to the
// monitor's callback (as its tap thread would), checks the decisions, and
// leaves the monitor usable: one that had to retire is started again.
#include "pip/pip_fixtures.h"

#include <unistd.h>

#include "pip/pip_controller.h"
#include "pip/pip_stack.h"
#include "platform/platform.h"

namespace pip {

namespace {

using platform::TapEvent;
using platform::TapVerdict;
using T = platform::EventType;

TapEvent Ev(T type, platform::Point p, pid_t pid, int64_t user_data = 0, int64_t clicks = 1) {
  TapEvent e;
  e.type = type;
  e.location = p;
  e.source_pid = pid;
  e.source_user_data = user_data;
  e.click_state = clicks;
  return e;
}

TapEvent Notice(TapEvent::Kind kind) {
  TapEvent e;
  e.kind = kind;
  return e;
}

}  // namespace

std::shared_ptr<PipInteraction> PipInteractionFixtures::ReadyLead(platform::Point* center) {
  auto* c = dynamic_cast<KvPipController*>(PipStackLead().get());
  if (!c || !c->running()) return nullptr;
  auto i = c->interaction();
  if (!i->isReady()) return nullptr;
  std::lock_guard<std::mutex> l(i->mu_);
  const platform::Rect& b = i->s_.panel_bounds;
  // Left of centre and low enough to stay out of the close hot zone.
  *center = platform::Point{b.x + b.width / 3, b.y + b.height / 2};
  return i;
}

TapVerdict PipInteractionFixtures::Feed(PipInteraction& i, const TapEvent& e) {
  return i.handleEvent(e, i.generation());
}

void PipInteractionFixtures::SeedSample(PipInteraction& i, platform::Point p) {
  std::lock_guard<std::mutex> l(i.mu_);
  i.s_.sample_valid = true;
  i.s_.sample_point = p;
  i.s_.sample_window = i.s_.panel_window_id;
  i.s_.sample_time_ns = PipNowNs();
}

bool PipInteractionFixtures::Dragging(PipInteraction& i) {
  std::lock_guard<std::mutex> l(i.mu_);
  return i.s_.dragging;
}

bool PipInteractionFixtures::UserInputDisableReleaseRace() {
  platform::Point p;
  auto i = ReadyLead(&p);
  if (!i) return false;
  SeedSample(*i, p);
  bool owned = Feed(*i, Ev(T::kLeftMouseDown, p, 0)) == TapVerdict::kPass && Dragging(*i);
  Feed(*i, Notice(TapEvent::Kind::kDisabledByUserInput));
  bool draining, hidden;
  {
    std::lock_guard<std::mutex> l(i->mu_);
    draining = i->s_.draining;
    hidden = !i->s_.visible && !i->s_.panel_bounds_valid;
  }
  // The user's release arrives after the tap was switched off: it ends the
  // gesture without moving the panel, and the monitor retires.
  bool swallowed = Feed(*i, Ev(T::kLeftMouseUp, {p.x + 12, p.y + 7}, 0)) == TapVerdict::kSwallow;
  bool retired, no_delta;
  {
    std::lock_guard<std::mutex> l(i->mu_);
    retired = i->s_.state == 0 && !i->s_.dragging && !i->s_.draining;
    no_delta = i->s_.pending_dx == 0 && i->s_.pending_dy == 0;
  }
  i->start();
  return owned && draining && hidden && swallowed && retired && no_delta;
}

bool PipInteractionFixtures::SyntheticAdmissionTimeoutFencing() {
  platform::Point p;
  auto i = ReadyLead(&p);
  if (!i) return false;
  int64_t late = i->prepareSyntheticPointerDown(p);
  if (late <= 0) return false;
  {
    std::lock_guard<std::mutex> l(i->mu_);
    i->s_.reservation_time_ns -= kReservationMaxAgeNs + 50'000'000;
  }
  bool late_rejected = Feed(*i, Ev(T::kLeftMouseDown, p, getpid(), late)) == TapVerdict::kPass &&
                       !Dragging(*i);
  int64_t fenced = i->prepareSyntheticPointerDown(p);
  if (fenced <= 0) return false;
  // The panel was hidden and shown again since the reservation.
  i->visibility_epoch_++;
  bool fenced_rejected = Feed(*i, Ev(T::kLeftMouseDown, p, getpid(), fenced)) == TapVerdict::kPass &&
                         !Dragging(*i);
  return late_rejected && fenced_rejected;
}

bool PipInteractionFixtures::SyntheticReservationInterleaving() {
  platform::Point p;
  auto i = ReadyLead(&p);
  if (!i) return false;
  int64_t first = i->prepareSyntheticPointerDown(p);
  int64_t second = i->prepareSyntheticPointerDown(p);
  if (first <= 0 || second <= 0 || first == second) return false;
  bool first_rejected = Feed(*i, Ev(T::kLeftMouseDown, p, getpid(), first)) == TapVerdict::kPass &&
                        !Dragging(*i);
  bool second_owned = Feed(*i, Ev(T::kLeftMouseDown, p, getpid(), second)) == TapVerdict::kPass &&
                      Dragging(*i);
  bool up_swallowed = Feed(*i, Ev(T::kLeftMouseUp, p, getpid(), second)) == TapVerdict::kSwallow &&
                      !Dragging(*i);
  // A reservation serves one press.
  bool reuse_rejected = Feed(*i, Ev(T::kLeftMouseDown, p, getpid(), second)) == TapVerdict::kPass &&
                        !Dragging(*i);
  return first_rejected && second_owned && up_swallowed && reuse_rejected;
}

bool PipInteractionFixtures::ForeignContinuationPassThrough() {
  platform::Point p;
  auto i = ReadyLead(&p);
  if (!i) return false;
  SeedSample(*i, p);
  if (Feed(*i, Ev(T::kLeftMouseDown, p, 0)) != TapVerdict::kPass || !Dragging(*i)) return false;
  platform::Point origin;
  {
    std::lock_guard<std::mutex> l(i->mu_);
    origin = i->s_.gesture_origin;
  }
  const int64_t foreign = 77;
  bool drag_passes =
      Feed(*i, Ev(T::kLeftMouseDragged, {p.x + 30, p.y + 20}, getpid(), foreign)) == TapVerdict::kPass;
  bool up_passes = Feed(*i, Ev(T::kLeftMouseUp, {p.x + 30, p.y + 20}, getpid(), foreign)) ==
                   TapVerdict::kPass;
  bool unmoved, still;
  {
    std::lock_guard<std::mutex> l(i->mu_);
    unmoved = i->s_.gesture_origin.x == origin.x && i->s_.gesture_origin.y == origin.y &&
              i->s_.pending_dx == 0 && i->s_.pending_dy == 0;
    still = i->s_.dragging;
  }
  bool own_up = Feed(*i, Ev(T::kLeftMouseUp, p, 0)) == TapVerdict::kSwallow && !Dragging(*i);
  return drag_passes && up_passes && unmoved && still && own_up;
}

bool PipInteractionFixtures::TimeoutDrainRecovery() {
  platform::Point p;
  auto i = ReadyLead(&p);
  if (!i) return false;
  int64_t token = i->prepareSyntheticPointerDown(p);
  if (token <= 0) return false;
  if (Feed(*i, Ev(T::kLeftMouseDown, p, getpid(), token)) != TapVerdict::kPass || !Dragging(*i))
    return false;
  uint64_t g = i->generation();
  Feed(*i, Notice(TapEvent::Kind::kDisabledByTimeout));
  bool draining;
  {
    std::lock_guard<std::mutex> l(i->mu_);
    draining = i->s_.draining;
    // The agent's own gesture went quiet a second ago.
    i->s_.drain_last_event_ns -= 1'000'000'000;
  }
  // With the button held the drain would rightly go on.
  bool button_up = !platform::Get().event_taps().LeftButtonDown();
  i->runDrainCheck(g);
  bool retired;
  {
    std::lock_guard<std::mutex> l(i->mu_);
    retired = i->s_.state == 0 && !i->s_.draining && !i->s_.dragging;
  }
  i->start();
  return draining && button_up && retired && i->generation() > g;
}

}  // namespace pip
