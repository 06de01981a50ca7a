#include "x11/x11_display.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace x11 {

namespace {

// The error handler is process-wide, but each thread only ever talks to its
// own connection, so the error it reports belongs to the calling thread.
thread_local int t_last_error = 0;
thread_local bool t_dead = false;

int OnError(Display*, XErrorEvent* e) {
  if (t_last_error == 0) t_last_error = e->error_code;
  return 0;
}

// A lost server must not end the host: mark the connection dead and return.
int OnIoError(Display*) { return 0; }
void OnIoExit(Display*, void*) { t_dead = true; }

void InstallHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    XSetErrorHandler(OnError);
    XSetIOErrorHandler(OnIoError);
  });
}

Display* Open() {
  InstallHandlers();
  Display* d = XOpenDisplay(nullptr);
  if (d) XSetIOErrorExitHandler(d, OnIoExit, nullptr);
  return d;
}

struct ThreadConnection {
  Display* d = nullptr;
  ~ThreadConnection() {
    // A dead connection is left alone: closing it would only report the loss again.
    if (d && !t_dead) XCloseDisplay(d);
  }
};
thread_local ThreadConnection t_conn;

std::mutex g_atom_mu;
std::map<std::string, Atom>& AtomCache() {
  static auto* cache = new std::map<std::string, Atom>();
  return *cache;
}

}  // namespace

Display* Dpy() {
  if (t_conn.d && t_dead) {
    // Leak the dead Display (Xlib cannot close it cleanly) and try again.
    t_conn.d = nullptr;
    t_dead = false;
    std::lock_guard<std::mutex> l(g_atom_mu);
    AtomCache().clear();  // the server may have been replaced
  }
  if (!t_conn.d) t_conn.d = Open();
  return t_conn.d;
}

bool DisplayReachable(std::string* why) {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) {
    if (why) *why = "DISPLAY is not set";
    return false;
  }
  InstallHandlers();
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    if (why) *why = std::string("the X server named by DISPLAY=") + name + " does not answer";
    return false;
  }
  XCloseDisplay(d);
  return true;
}

Atom A(Display* d, const char* name) {
  {
    std::lock_guard<std::mutex> l(g_atom_mu);
    auto it = AtomCache().find(name);
    if (it != AtomCache().end()) return it->second;
  }
  Atom a = XInternAtom(d, name, False);
  std::lock_guard<std::mutex> l(g_atom_mu);
  AtomCache()[name] = a;
  return a;
}

ErrorTrap::ErrorTrap(Display* d) : d_(d), saved_(t_last_error) { t_last_error = 0; }
ErrorTrap::~ErrorTrap() { t_last_error = saved_; }
int ErrorTrap::Check() {
  XSync(d_, False);
  return Seen();
}
int ErrorTrap::Seen() const { return t_dead ? BadImplementation : t_last_error; }

std::vector<unsigned long> Cardinals(Display* d, Window w, Atom prop, Atom type) {
  std::vector<unsigned long> out;
  Atom actual;
  int format;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  ErrorTrap trap(d);
  if (XGetWindowProperty(d, w, prop, 0, 1 << 20, False, type, &actual, &format, &n, &after,
                         &data) == Success &&
      data && format == 32 && actual == type) {
    // Xlib hands 32-bit items back as longs.
    auto* items = reinterpret_cast<unsigned long*>(data);
    out.assign(items, items + n);
  }
  if (data) XFree(data);
  return out;
}

std::optional<unsigned long> Cardinal(Display* d, Window w, Atom prop, Atom type) {
  auto v = Cardinals(d, w, prop, type);
  if (v.empty()) return std::nullopt;
  return v[0];
}

namespace {

// An 8-bit property's bytes and type; nullopt when absent or of another format.
std::optional<std::string> Read8(Display* d, Window w, Atom prop, Atom* type) {
  int format;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  std::optional<std::string> out;
  ErrorTrap trap(d);
  if (XGetWindowProperty(d, w, prop, 0, 1 << 16, False, AnyPropertyType, type, &format, &n,
                         &after, &data) == Success &&
      data && format == 8) {
    out = std::string(reinterpret_cast<char*>(data), n);
  }
  if (data) XFree(data);
  return out;
}

}  // namespace

std::optional<std::string> Bytes(Display* d, Window w, Atom prop) {
  Atom type;
  return Read8(d, w, prop, &type);
}

std::optional<std::string> Text(Display* d, Window w, Atom prop) {
  Atom type = None;
  auto raw = Read8(d, w, prop, &type);
  if (!raw || type == A(d, "UTF8_STRING")) return raw;
  // STRING / COMPOUND_TEXT: converted by Xlib.
  XTextProperty tp{reinterpret_cast<unsigned char*>(raw->data()), type, 8, raw->size()};
  char** list = nullptr;
  int count = 0;
  std::optional<std::string> out;
  if (Xutf8TextPropertyToTextList(d, &tp, &list, &count) >= Success && count > 0 && list)
    out = std::string(list[0]);
  if (list) XFreeStringList(list);
  return out;
}

pid_t WindowPid(Display* d, Window w) {
  if (auto pid = Cardinal(d, w, A(d, "_NET_WM_PID"), XA_CARDINAL); pid && *pid > 0)
    return static_cast<pid_t>(*pid);
  return ClientPid(d, w);
}

pid_t ClientPid(Display* d, Window w) {
  // X-Resource names the client that created the window, whatever it claims.
  XResClientIdSpec spec{w, XRES_CLIENT_ID_PID_MASK};
  long count = 0;
  XResClientIdValue* ids = nullptr;
  pid_t pid = 0;
  ErrorTrap trap(d);
  if (XResQueryClientIds(d, 1, &spec, &count, &ids) == Success) {
    for (long i = 0; i < count; ++i) {
      if (ids[i].spec.mask == XRES_CLIENT_ID_PID_MASK) {
        pid_t p = XResGetClientPid(&ids[i]);
        if (p > 0) pid = p;
      }
    }
    XResClientIdsDestroy(count, ids);
  }
  return pid;
}

double ProcessStartTime(pid_t pid) {
  static double boot = [] {
    std::ifstream in("/proc/stat");
    std::string key;
    double v = 0;
    while (in >> key) {
      if (key == "btime") {
        in >> v;
        break;
      }
    }
    return v;
  }();
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return 0;
  // Field 22 (starttime) follows the parenthesised command name.
  size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(line.substr(close + 2));
  std::string field;
  for (int i = 3; i <= 22 && rest >> field; ++i) {
    if (i == 22) return boot + std::strtod(field.c_str(), nullptr) / sysconf(_SC_CLK_TCK);
  }
  return 0;
}

std::string ProcessName(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

}  // namespace x11
