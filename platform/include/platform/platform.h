// The platform seam: one object per backend grouping its services. The active
// backend is chosen once per process (see ChooseBackend in capabilities.h):
// the one KORVO_OZA_PLATFORM names, else the session's real desktop. Nothing
// falls back: when the chosen backend cannot start, there is no backend and
// TryGet says why.
#pragma once

#include <string>

#include "platform/accessibility.h"
#include "platform/capabilities.h"
#include "platform/app_loop.h"
#include "platform/clock.h"
#include "platform/event_taps.h"
#include "platform/events.h"
#include "platform/keyboard_layout.h"
#include "platform/log.h"
#include "platform/pasteboard.h"
#include "platform/private_api.h"
#include "platform/screen_capture.h"
#include "platform/security.h"
#include "platform/surfaces.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace platform {

class Platform {
 public:
  virtual ~Platform() = default;
  virtual const char* Name() const = 0;
  virtual Accessibility& ax() = 0;
  virtual WindowServer& windows() = 0;
  virtual Events& events() = 0;
  virtual Workspace& workspace() = 0;
  virtual Security& security() = 0;
  virtual KeyboardLayout& keyboard() = 0;
  virtual PrivateApi& private_api() = 0;
  virtual AppLoop& app_loop() = 0;
  virtual Clock& clock() = 0;
  virtual Log& log() = 0;
  // Shareable content and one-frame streams; a backend without them keeps
  // this default, which fails every request.
  virtual ScreenCapture& screen_capture() { return UnavailableScreenCapture::Instance(); }
  // Overlay windows and layers; a backend without them keeps this default,
  // which creates nothing (see surfaces.h).
  virtual Surfaces& surfaces() { return UnavailableSurfaces(); }
  // The general pasteboard; a backend without one keeps this default, which
  // answers change count -1, no contents and false to every write (see
  // pasteboard.h). Provided pastes then fail with "pasteboard_write_failed".
  virtual Pasteboard& pasteboard() { return UnavailablePasteboard::Instance(); }
  // Mouse event taps; a backend without them keeps this default, which
  // creates no tap (see event_taps.h).
  virtual EventTaps& event_taps() { return UnavailableEventTaps(); }

  // What this backend can do on its desktop; every backend answers every
  // facility (see capabilities.h).
  virtual Capability Capable(Facility facility) = 0;
  // Facts about the desktop it drives (server vendor, buses reached, ...).
  virtual Facts DesktopFacts() = 0;
};

// The active backend (process-wide, chosen and created on first use), or null
// with `*error` saying what was asked, what is missing and what to do.
Platform* TryGet(std::string* error);

// The active backend. Only for code that runs after a successful TryGet (the
// add-on refuses to load without a backend): without one it prints the reason
// and aborts rather than answer from a desktop nobody asked for.
Platform& Get();

}  // namespace platform
