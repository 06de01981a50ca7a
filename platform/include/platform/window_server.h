// Window server service: the window list, displays, the pointer location, the
// one-call single-window image and the private window-server entry points.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/value.h"

namespace platform {

// Keys of a window-list entry. Any key may be missing or of another type,
// exactly as in the platform's window list.
inline constexpr const char* kWindowNumber = "kCGWindowNumber";
inline constexpr const char* kWindowOwnerPID = "kCGWindowOwnerPID";
inline constexpr const char* kWindowOwnerName = "kCGWindowOwnerName";
inline constexpr const char* kWindowName = "kCGWindowName";
inline constexpr const char* kWindowLayer = "kCGWindowLayer";
inline constexpr const char* kWindowBounds = "kCGWindowBounds";  // Dict X, Y, Width, Height
inline constexpr const char* kWindowIsOnscreen = "kCGWindowIsOnscreen";
inline constexpr const char* kWindowAlpha = "kCGWindowAlpha";

enum class WindowListOption {
  kAll,                               // every window, front to back
  kOnScreenOnlyExcludingDesktop,      // on-screen windows without desktop elements
};

struct DisplayInfo {
  uint32_t id = 0;
  Rect bounds;  // global points
  int64_t pixel_width = 0;
  int64_t pixel_height = 0;
  bool mirror = false;  // the display mirrors another one (false when unknown)
};

class WindowServer {
 public:
  virtual ~WindowServer() = default;

  // nullopt when the platform returns no list at all.
  virtual std::optional<Array> CopyWindowList(WindowListOption option) = 0;

  // Active displays, at most max_displays, in platform order; false on failure.
  virtual bool GetActiveDisplays(uint32_t max_displays, std::vector<DisplayInfo>* out) = 0;
  virtual uint32_t MainDisplayId() = 0;

  // Location of a freshly created empty event (the pointer); false when no
  // event could be created.
  virtual bool CurrentPointerLocation(Point* out) = 0;

  // The one-call window image entry, looked up at run time. Returns false when
  // the entry is absent; otherwise *image is the picture or null on failure.
  virtual bool HasSingleWindowImageEntry() = 0;
  virtual Image CreateSingleWindowImage(uint32_t window_id) = 0;

};

}  // namespace platform
