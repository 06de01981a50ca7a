// Application icons: the desktop entry's Icon= looked up in the hicolor theme
// and the pixmaps directory (PNG only: no SVG renderer is linked), else the
// _NET_WM_ICON of one of the application's windows; scaled with cairo.
#include <X11/Xatom.h>
#include <cairo.h>
#include <unistd.h>

#include <cstdlib>

#include "common/cairo_image.h"
#include "x11/x11_desktop_entries.h"
#include "x11/x11_display.h"
#include "x11/x11_services.h"
#include "x11/x11_windows.h"

namespace x11 {

namespace {

std::vector<std::string> IconDirs() {
  std::vector<std::string> bases;
  if (const char* h = std::getenv("HOME"); h && *h == '/') bases.push_back(std::string(h) + "/.local/share");
  const char* list = std::getenv("XDG_DATA_DIRS");
  std::string all = list && *list ? list : "/usr/local/share:/usr/share";
  size_t start = 0;
  while (true) {
    size_t colon = all.find(':', start);
    std::string dir = all.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!dir.empty()) bases.push_back(dir);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  std::vector<std::string> dirs;
  static const char* kSizes[] = {"256x256", "128x128", "96x96", "64x64", "48x48", "32x32", "24x24",
                                 "16x16"};
  for (const auto& b : bases)
    for (const char* s : kSizes) dirs.push_back(b + "/icons/hicolor/" + s + "/apps/");
  for (const auto& b : bases) dirs.push_back(b + "/pixmaps/");
  return dirs;
}

std::string FindIconFile(const std::string& icon) {
  if (icon.empty()) return "";
  if (icon[0] == '/') return access(icon.c_str(), R_OK) == 0 ? icon : "";
  for (const auto& dir : IconDirs()) {
    std::string p = dir + icon + ".png";
    if (access(p.c_str(), R_OK) == 0) return p;
  }
  return "";
}

// The largest icon in a window's _NET_WM_ICON (width, height, ARGB rows...).
cairo_surface_t* WindowIcon(Display* d, Window w) {
  auto v = Cardinals(d, w, A(d, "_NET_WM_ICON"), XA_CARDINAL);
  size_t best = 0, best_area = 0;
  for (size_t i = 0; i + 2 <= v.size();) {
    size_t iw = v[i], ih = v[i + 1];
    if (iw == 0 || ih == 0 || iw > 4096 || ih > 4096 || i + 2 + iw * ih > v.size()) break;
    if (iw * ih > best_area) {
      best_area = iw * ih;
      best = i;
    }
    i += 2 + iw * ih;
  }
  if (best_area == 0) return nullptr;
  int iw = static_cast<int>(v[best]), ih = static_cast<int>(v[best + 1]);
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, iw, ih);
  uint8_t* data = cairo_image_surface_get_data(s);
  int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < ih; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
    for (int x = 0; x < iw; ++x) {
      uint32_t p = static_cast<uint32_t>(v[best + 2 + static_cast<size_t>(y) * iw + x]);
      uint32_t a = p >> 24;
      auto pm = [a](uint32_t c) { return (c * a + 127) / 255; };
      row[x] = (a << 24) | (pm((p >> 16) & 0xFF) << 16) | (pm((p >> 8) & 0xFF) << 8) | pm(p & 0xFF);
    }
  }
  cairo_surface_mark_dirty(s);
  return s;
}

}  // namespace

platform::Image X11Workspace::IconForFile(const std::string& path, int size) {
  auto entry = EntryByPath(path);
  if (!entry) return nullptr;
  cairo_surface_t* src = nullptr;
  std::string file = FindIconFile(entry->icon);
  if (!file.empty()) {
    src = cairo_image_surface_create_from_png(file.c_str());
    if (cairo_surface_status(src) != CAIRO_STATUS_SUCCESS) {
      cairo_surface_destroy(src);
      src = nullptr;
    }
  }
  if (!src) {
    if (Display* d = Dpy()) {
      for (const auto& app : RunningApplications()) {
        if (app.bundle_path != entry->path) continue;
        for (const auto& w : WindowsOfPid(d, app.pid))
          if ((src = WindowIcon(d, w.client))) break;
        if (src) break;
      }
    }
  }
  if (!src) return nullptr;
  platform::Image out = common::ScaleRgba(src, size, size, false);
  cairo_surface_destroy(src);
  return out;
}

}  // namespace x11
