// Window-server window candidates of one process, read from the window list.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace addon {

struct CGWindowCandidate {
  uint32_t window_id = 0;
  platform::Rect bounds;
  std::string title;  // empty when absent or not a string
  bool on_screen = false;
};

// Typed reads of window-list dictionary entries (CopyDictionaryString /
// CopyDictionaryInt64): false unless the key holds that type.
bool CopyDictionaryString(const platform::Dict& d, const char* key, std::string* out);
bool CopyDictionaryInt64(const platform::Dict& d, const char* key, int64_t* out);
bool CopyDictionaryDouble(const platform::Dict& d, const char* key, double* out);
bool CopyDictionaryBool(const platform::Dict& d, const char* key, bool* out);
// The bounds dictionary (X, Y, Width, Height) as a rectangle.
bool CopyDictionaryBounds(const platform::Dict& d, const char* key, platform::Rect* out);

// Every window of the pid, in the list's front-to-back order, kept only when
// it is a dictionary, owned by pid, layer 0, numbered > 0, with bounds of at
// least 2 x 2 points.
std::vector<CGWindowCandidate> CopyCGWindowsForPid(pid_t pid);
// Highest width x height, plus 10^12 when on screen; the earlier wins a tie.
bool FindBestCGWindowForPid(pid_t pid, CGWindowCandidate* out);

}  // namespace addon
