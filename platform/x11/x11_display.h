// X connections and property reads shared by the x11 backend's services.
//
// Every thread gets its own Xlib connection (opened on first use, closed when
// the thread ends), so no Display is ever shared between threads and no lock
// is held across a round trip. Protocol errors are trapped per thread; a lost
// server marks the thread's connection dead instead of ending the process.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace x11 {

// This thread's connection; null when no display can be opened.
Display* Dpy();
// Opens a throwaway connection to check that a display is reachable.
bool DisplayReachable(std::string* why);

// Interned atom (cached process-wide: atoms are the server's, not a connection's).
Atom A(Display* d, const char* name);

// Collects protocol errors raised while it lives (after an XSync).
class ErrorTrap {
 public:
  explicit ErrorTrap(Display* d);
  ~ErrorTrap();
  // XSyncs and answers the first error code seen since construction (0: none).
  int Check();
  // The same without the XSync, right after a call that waited for its reply
  // (the reply's error has been handled by then).
  int Seen() const;

 private:
  Display* d_;
  int saved_;
};

// 32-bit-format property items (CARDINAL, WINDOW, ATOM); empty when absent.
std::vector<unsigned long> Cardinals(Display* d, Window w, Atom prop, Atom type);
std::optional<unsigned long> Cardinal(Display* d, Window w, Atom prop, Atom type);
// A text property: UTF8_STRING first, then STRING/COMPOUND_TEXT via Xlib.
std::optional<std::string> Text(Display* d, Window w, Atom prop);
// Raw bytes of an 8-bit property (WM_CLASS, _XKB_RULES_NAMES).
std::optional<std::string> Bytes(Display* d, Window w, Atom prop);

// The pid that owns a window: _NET_WM_PID, else the X-Resource client id.
pid_t WindowPid(Display* d, Window w);
// The pid of the client that created a window (X-Resource); 0 when unknown.
pid_t ClientPid(Display* d, Window w);

// The process's start time in seconds since 1970 (/proc), 0 when unknown.
double ProcessStartTime(pid_t pid);
// /proc/<pid>/comm, empty when the process is gone.
std::string ProcessName(pid_t pid);

}  // namespace x11
