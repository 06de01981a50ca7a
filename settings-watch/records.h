// The watcher's records: one per settings window, in window-list order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace settings_watch {

struct Record {
  double x = 0, y = 0, w = 0, h = 0;
  int64_t layer = -1;  // -1 when the window list gives none
};

// A window as a source reports it, before matching.
struct ListedWindow {
  std::optional<std::string> owner_name;
  std::optional<double> x, y, w, h;  // all four, or the window has no usable bounds
  std::optional<int64_t> layer;
};

// Whether an owner name marks a settings window (substring, case-sensitive).
bool IsSettingsOwner(const std::string& owner_name);
// Matching windows in order, as records.
std::vector<Record> Select(const std::vector<ListedWindow>& windows);
// Compact JSON array, e.g. [{"x":10,"y":20,"w":300,"h":200,"layer":0}].
std::string ToJson(const std::vector<Record>& records);
// The polling interval from the first argument (decimal, optional "+",
// unsigned 32-bit; values above 4294967 ms are clamped to it); 150 otherwise.
uint32_t ParseInterval(const char* arg);

// The window sources; nullopt when the list cannot be read this cycle.
std::optional<std::vector<ListedWindow>> SimWindows();
#ifdef SETTINGS_WATCH_X11
// Opens the X display once; false when it cannot be opened.
bool X11Open();
std::optional<std::vector<ListedWindow>> X11Windows();
#endif

}  // namespace settings_watch
