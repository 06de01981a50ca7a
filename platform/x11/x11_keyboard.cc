// The keyboard layout through xkbcommon: the server's keymap, fetched over an
// xcb connection of its own, translates key positions into characters; the
// input source id is built from _XKB_RULES_NAMES and the active group.
#include <X11/XKBlib.h>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <mutex>

#include "common/text.h"
#include "x11/x11_display.h"
#include "x11/x11_services.h"

namespace x11 {

namespace {

// A keymap is refetched at most this often (a layout switch shows up within it).
constexpr auto kKeymapAge = std::chrono::milliseconds(500);

struct Layout {
  std::mutex mu;
  xkb_context* ctx = nullptr;
  xkb_keymap* keymap = nullptr;
  std::chrono::steady_clock::time_point fetched;
  bool failed = false;
};

Layout& L() {
  static auto* l = new Layout();
  return *l;
}

// Refreshes the keymap under the lock; false when XKB is not available.
bool Fresh(Layout& l) {
  auto now = std::chrono::steady_clock::now();
  if (l.keymap && now - l.fetched < kKeymapAge) return true;
  if (l.failed && now - l.fetched < kKeymapAge) return false;
  l.fetched = now;
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (!c || xcb_connection_has_error(c)) {
    if (c) xcb_disconnect(c);
    l.failed = true;
    return false;
  }
  xkb_keymap* km = nullptr;
  if (xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                  XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr,
                                  nullptr)) {
    if (!l.ctx) l.ctx = xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES);
    int32_t device = xkb_x11_get_core_keyboard_device_id(c);
    if (l.ctx && device >= 0)
      km = xkb_x11_keymap_new_from_device(l.ctx, c, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
  }
  xcb_disconnect(c);
  if (!km) {
    l.failed = true;
    return l.keymap != nullptr;
  }
  if (l.keymap) xkb_keymap_unref(l.keymap);
  l.keymap = km;
  l.failed = false;
  return true;
}

unsigned int ActiveGroup() {
  Display* d = Dpy();
  XkbStateRec st;
  if (!d || XkbGetState(d, XkbUseCoreKbd, &st) != Success) return 0;
  return st.group;
}

}  // namespace

std::optional<std::u16string> X11Keyboard::Translate(uint16_t keycode, uint64_t modifier_flags) {
  Layout& l = L();
  std::lock_guard<std::mutex> lock(l.mu);
  if (!Fresh(l)) return std::nullopt;
  unsigned int kc = XKeycodeFor(keycode);
  if (!kc) return std::u16string();
  xkb_state* st = xkb_state_new(l.keymap);
  if (!st) return std::nullopt;
  xkb_mod_mask_t mods = 0;
  auto bit = [&](const char* name) {
    xkb_mod_index_t i = xkb_keymap_mod_get_index(l.keymap, name);
    return i == XKB_MOD_INVALID ? 0u : (1u << i);
  };
  if (modifier_flags & platform::kFlagMaskShift) mods |= bit(XKB_MOD_NAME_SHIFT);
  if (modifier_flags & platform::kFlagMaskAlternate) mods |= bit(XKB_MOD_NAME_ALT);
  if (modifier_flags & (platform::kFlagMaskControl | platform::kFlagMaskCommand))
    mods |= bit(XKB_MOD_NAME_CTRL);
  xkb_state_update_mask(st, mods, 0, 0, 0, 0, ActiveGroup());
  uint32_t cp = xkb_state_key_get_utf32(st, kc);
  xkb_state_unref(st);
  std::u16string out;
  if (cp == 0) return out;
  common::AppendUtf16(&out, cp);
  return out;
}

std::string X11Keyboard::CurrentInputSourceId() {
  Display* d = Dpy();
  if (!d) return "";
  // rules \0 model \0 layouts \0 variants \0 options: layouts and variants
  // are comma-separated lists indexed by the group.
  auto names = Bytes(d, DefaultRootWindow(d), A(d, "_XKB_RULES_NAMES"));
  if (!names) return "";
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= names->size() && parts.size() < 5) {
    size_t nul = names->find('\0', start);
    parts.push_back(names->substr(start, nul == std::string::npos ? std::string::npos : nul - start));
    if (nul == std::string::npos) break;
    start = nul + 1;
  }
  auto pick = [](const std::string& list, unsigned int index) {
    size_t s = 0;
    for (unsigned int i = 0; i < index; ++i) {
      s = list.find(',', s);
      if (s == std::string::npos) return std::string();
      ++s;
    }
    return list.substr(s, list.find(',', s) - s);
  };
  unsigned int group = ActiveGroup();
  std::string layout = parts.size() > 2 ? pick(parts[2], group) : "";
  std::string variant = parts.size() > 3 ? pick(parts[3], group) : "";
  return "xkb:" + layout + ":" + variant + ":";
}

}  // namespace x11
