// What a backend can do on the desktop it drives, facility by facility, and
// how the backend is chosen.
//
// Every backend declares each facility the core uses as available, unavailable
// on this desktop (with the reason: a missing compositing manager, an
// accessibility bus that does not answer), or not built yet in this backend.
// The core keeps answering as it always does when a facility is missing (null,
// false, its failure statuses); the table is what a host reads first, so it
// need not learn what works by calling and reading failures.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace platform {

enum class Facility {
  kAccessibility,           // accessibility trees: snapshots, reads, hit tests
  kElementActions,          // actions and writes on elements
  kWindowList,              // windows and their owners, bounds, layers
  kDisplays,                // displays and their frames
  kApplications,            // running applications, launch, activate, terminate
  kWindowImages,            // one-shot window images
  kCaptureStreams,          // shareable content and per-window frame streams
  kGlobalKeyboard,          // keys through the system to the frontmost application
  kGlobalMouse,             // pointer and buttons through the system
  kKeyboardToProcess,       // keys posted to one process (and its windows) without activating it
  kMouseToProcess,          // mouse events posted to one process without activating it
  kMouseToBackgroundWindow, // clicks into a window of a background application
  kPasteboard,              // the general pasteboard, with lazily provided data
  kOverlayWindows,          // click-through overlay and panel windows with drawn layers
  kEventTaps,               // mouse events seen before any window
  kEventSwallowing,         // event taps that can keep an event from its window
  kKeyboardLayout,          // the current layout and its key translation
  kPermissionsDatabase,     // the per-user and system permission databases
  kCodeSigning,             // code objects, signing identities and requirements
  kWindowEventMasks,        // which windows accept a left mouse-down (private window-server query)
  kCount
};

enum class Support { kAvailable, kUnavailable, kNotBuilt };

struct Capability {
  Support support = Support::kNotBuilt;
  // Why it is unavailable or not built; empty when available.
  std::string reason;

  static Capability Available() { return {Support::kAvailable, ""}; }
  static Capability Unavailable(std::string why) { return {Support::kUnavailable, std::move(why)}; }
  static Capability NotBuilt(std::string why) { return {Support::kNotBuilt, std::move(why)}; }
  bool available() const { return support == Support::kAvailable; }
};

// Stable names for hosts: "accessibility", "capture_streams", ...
const char* FacilityName(Facility f);
// "available", "unavailable", "not_built".
const char* SupportName(Support s);

// Name/value facts about the desktop a backend drives (server vendor,
// accessibility bus reachable, ...), in a stable order.
using Facts = std::vector<std::pair<std::string, std::string>>;

// The backend the environment asks for, decided without creating it:
// KORVO_OZA_PLATFORM names one ("sim", "x11"), else the session's real desktop
// is used (x11 when DISPLAY names an X server that answers). `name` is empty
// and `error` says what was asked, what is missing and what to do when there is
// nothing to drive. The simulated desktop is chosen only when named.
struct BackendChoice {
  std::string name;
  std::string error;
};
BackendChoice ChooseBackend();

}  // namespace platform
