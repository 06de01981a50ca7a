// Accessibility elements inside applications, over AT-SPI: the element
// handle and the element half of the accessibility service. The window-level
// fallback for applications that never registered on the accessibility bus
// stays in x11_ax_windows.cc.
#pragma once

#include <X11/Xlib.h>

#include <optional>

#include "platform/accessibility.h"
#include "x11/x11_atspi_apps.h"
#include "x11/x11_windows.h"

namespace x11::atspi {

// A reference-counted handle on one AT-SPI object. The pid is the
// application's, cached when it registered, so it answers for dead objects too.
class Element final : public platform::ElementObject {
 public:
  Element(AppPtr app, std::string path);
  ~Element() override;
  void Retain() override { refs_.fetch_add(1, std::memory_order_relaxed); }
  void Release() override {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  bool SameElement(const platform::ElementObject& other) const override;
  size_t Hash() const override;

  bool IsApp() const { return path == kRootPath; }
  uint64_t Timeout() const;

  const AppPtr app;
  const std::string path;
  mutable std::atomic<uint64_t> timeout_usec{0};  // 0: the application's

 private:
  std::atomic<int> refs_{1};
};

platform::AXElement MakeElement(const AppPtr& app, const std::string& path);
// The element a reference names (another application's when its bus differs).
platform::AXElement ElementFor(const Ref& ref, const AppPtr& owner);
const Element* AsElement(const platform::AXElement& el);
// Handles alive now, for the tests that prove every one is released.
int64_t LiveHandles();

// Records of an element. `batch` may start the application's prefetch when
// the element is a window with no fresh record (the first batch read of a capture).
std::shared_ptr<const Node> RecordOf(const Element& e, bool batch, platform::AXError* err);

platform::AXError CopyAttribute(const Element& e, const std::string& attr, platform::Value* out,
                                bool batch = false);
// One record read for many attributes (the capture's batch).
platform::AXError CopyAttributes(const Element& e, const std::vector<std::string>& attrs,
                                 std::vector<platform::Value>* out);
platform::AXError CopyAttributeNames(const Element& e, std::vector<std::string>* out);
platform::AXError ChildCount(const Element& e, int64_t* count);
platform::AXError IsSettable(const Element& e, const std::string& attr, bool* settable);
platform::AXError SetAttribute(const Element& e, const std::string& attr, const platform::Value& v);
platform::AXError CopyParameterized(const Element& e, const std::string& attr,
                                    const platform::Value& parameter, platform::Value* out);
platform::AXError CopyActionNames(const Element& e, std::vector<std::string>* out);
platform::AXError PerformAction(const Element& e, const std::string& action);

// Windows (x11_atspi_windows.cc): the X client window that shows an
// element's window; 0 when none matches.
Window XWindowOf(const Element& e, platform::AXError* err);
// The outer frame (root coordinates) of the X window that shows a window
// element; none when no X window matches.
std::optional<platform::Rect> OuterFrameOf(const Element& e);
// The element at a root point: the top-level X window there, the matching
// accessible window of its application, then GetAccessibleAtPoint down to
// the deepest object. `only` restricts the search to one application.
platform::AXError ElementAtPoint(const AppPtr& only, float x, float y, platform::AXElement* out);
// The same inside one X window of the application (also when other windows
// cover the point).
platform::AXError ElementAtPointInWindow(const AppPtr& app, const WindowInfo& window, float x,
                                         float y, platform::AXElement* out);
// The application's focused object (state FOCUSED), from a prefetch.
platform::AXElement FocusedElement(const AppPtr& app);

}  // namespace x11::atspi
