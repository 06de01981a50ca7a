// Reading CLIPBOARD while another client owns it: TARGETS first, then each
// text target it offers, converted into a property of a temporary window of
// the calling thread's connection. Large data arrives by INCR (chunks the
// owner writes each time we delete the property). Every wait is bounded: an
// owner that does not answer costs at most a second per target.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "x11/x11_display.h"
#include "x11/x11_pasteboard.h"

namespace x11 {

namespace {

using Clock = std::chrono::steady_clock;
using platform::PasteboardBytes;

constexpr auto kReadBudget = std::chrono::milliseconds(2000);
constexpr auto kStepWait = std::chrono::milliseconds(1000);

struct Reader {
  Display* d = nullptr;
  Window w = 0;
  Atom clipboard = None;
  Clock::time_point deadline;

  struct Match {
    Window w;
    int type;
    Atom atom;  // the target (SelectionNotify) or the property (PropertyNotify)
  };

  static Bool Matches(Display*, XEvent* e, XPointer arg) {
    auto* m = reinterpret_cast<Match*>(arg);
    if (e->type != m->type) return False;
    if (e->type == SelectionNotify)
      return e->xselection.requestor == m->w && e->xselection.target == m->atom;
    return e->xproperty.window == m->w && e->xproperty.atom == m->atom &&
           e->xproperty.state == PropertyNewValue;
  }

  // Waits for one event (a second at most, and never past the budget).
  bool Wait(Match m, XEvent* out) {
    auto until = std::min(deadline, Clock::now() + kStepWait);
    for (;;) {
      if (XCheckIfEvent(d, out, Matches, reinterpret_cast<XPointer>(&m))) return true;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      if (left <= 0) return false;
      pollfd fd{ConnectionNumber(d), POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(left)) < 0 && errno != EINTR) return false;
      if (fd.revents & (POLLHUP | POLLERR)) return false;
    }
  }

  // Takes (reads and deletes) the property: its type and bytes (32-bit items
  // as 4-byte values). nullopt when it is not there.
  std::optional<PasteboardBytes> Take(Atom property, Atom* type) {
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::optional<PasteboardBytes> out;
    ErrorTrap trap(d);
    if (XGetWindowProperty(d, w, property, 0, 0x1fffffff, True, AnyPropertyType, type, &format, &n,
                           &after, &data) == Success &&
        *type != None) {
      out.emplace();
      if (format == 32) {
        // Xlib hands 32-bit items back as longs.
        auto* items = reinterpret_cast<unsigned long*>(data);
        for (unsigned long i = 0; i < n; ++i)
          for (int b = 0; b < 4; ++b) out->push_back(static_cast<uint8_t>(items[i] >> (8 * b)));
      } else if (data) {
        out->assign(data, data + n * (format / 8));
      }
    }
    if (data) XFree(data);
    return out;
  }

  // Converts CLIPBOARD to `target` into a property named after the target
  // (so a late answer to an earlier conversion cannot be mistaken for it).
  std::optional<PasteboardBytes> Convert(Atom target, Atom* type) {
    XConvertSelection(d, clipboard, target, target, w, CurrentTime);
    XFlush(d);
    XEvent e;
    if (!Wait({w, SelectionNotify, target}, &e) || e.xselection.property == None) return std::nullopt;
    auto bytes = Take(target, type);
    if (!bytes || *type != A(d, "INCR")) return bytes;
    // INCR: deleting the property (done by Take) asks for each chunk; an
    // empty chunk ends the transfer. A notification without a property is
    // one from before our deletion and is skipped.
    PasteboardBytes all;
    for (;;) {
      if (!Wait({w, PropertyNotify, target}, &e)) return std::nullopt;
      auto chunk = Take(target, type);
      if (!chunk) continue;
      if (chunk->empty()) return all;
      all.insert(all.end(), chunk->begin(), chunk->end());
    }
  }

  std::vector<std::string> Targets() {
    Atom type = None;
    auto raw = Convert(A(d, "TARGETS"), &type);
    std::vector<std::string> out;
    if (!raw || type != XA_ATOM) return out;
    std::vector<Atom> atoms;
    for (size_t i = 0; i + 4 <= raw->size(); i += 4)
      atoms.push_back((*raw)[i] | ((*raw)[i + 1] << 8) | ((*raw)[i + 2] << 16) |
                      (static_cast<Atom>((*raw)[i + 3]) << 24));
    if (atoms.empty()) return out;
    std::vector<char*> names(atoms.size(), nullptr);
    ErrorTrap trap(d);
    if (XGetAtomNames(d, atoms.data(), static_cast<int>(atoms.size()), names.data())) {
      for (char* n : names) {
        if (!n) continue;
        out.push_back(n);
        XFree(n);
      }
    }
    return out;
  }
};

}  // namespace

std::optional<platform::PasteboardItem> ReadClipboardItem() {
  Display* d = Dpy();
  if (!d) return std::nullopt;
  platform::PasteboardItem item;
  Reader r;
  r.d = d;
  r.clipboard = A(d, "CLIPBOARD");
  if (XGetSelectionOwner(d, r.clipboard) == None) return item;
  r.w = XCreateSimpleWindow(d, DefaultRootWindow(d), -10, -10, 1, 1, 0, 0, 0);
  XSelectInput(d, r.w, PropertyChangeMask);
  r.deadline = Clock::now() + kReadBudget;

  std::vector<std::string> offered = r.Targets();
  // An owner that does not answer TARGETS may still convert text.
  if (offered.empty()) offered = {"UTF8_STRING", "STRING"};
  auto has = [&](const std::string& t) {
    return std::find(offered.begin(), offered.end(), t) != offered.end();
  };
  for (const char* t : {"UTF8_STRING", platform::kPasteboardPlainText, "STRING"}) {
    if (!has(t)) continue;
    Atom type = None;
    if (auto bytes = r.Convert(A(d, t), &type)) {
      item[platform::kPasteboardPlainText] = type == XA_STRING ? Latin1ToUtf8(*bytes) : *bytes;
      break;
    }
  }
  for (const auto& t : ReadableTextTargets()) {
    if (!has(t) || Clock::now() >= r.deadline) continue;
    Atom type = None;
    if (auto bytes = r.Convert(A(d, t.c_str()), &type)) item[TypeForTarget(t)] = std::move(*bytes);
  }

  XDestroyWindow(d, r.w);
  XSync(d, False);
  // Nothing of the temporary window stays queued for the host loop.
  XEvent e;
  auto of_window = [](Display*, XEvent* ev, XPointer arg) -> Bool {
    return ev->xany.window == *reinterpret_cast<Window*>(arg);
  };
  while (XCheckIfEvent(d, &e, of_window, reinterpret_cast<XPointer>(&r.w))) {
  }
  return item;
}

}  // namespace x11
