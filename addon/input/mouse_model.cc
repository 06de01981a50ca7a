#include "input/mouse_model.h"

#include <cmath>

#include "input/key_names.h"

namespace addon {

namespace {

using T = platform::EventType;

std::optional<MouseButton> ButtonNamed(const std::string& name) {
  if (name == "left") return MouseButton{T::kLeftMouseDown, T::kLeftMouseUp, T::kLeftMouseDragged, 0};
  if (name == "right") {
    return MouseButton{T::kRightMouseDown, T::kRightMouseUp, T::kRightMouseDragged, 1};
  }
  if (name == "middle") {
    return MouseButton{T::kOtherMouseDown, T::kOtherMouseUp, T::kOtherMouseDragged, 2};
  }
  return std::nullopt;
}

}  // namespace

std::optional<MouseButton> ResolveMouseButton(const std::string& name) {
  return ButtonNamed(LowerTrim(name));
}

std::optional<MouseButton> ResolveMouseButtonExact(const std::string& name) {
  return ButtonNamed(name);
}

std::optional<WheelValues> ScrollWheelValues(const std::string& direction, int32_t n) {
  if (direction == "up") return WheelValues{n, 0};
  if (direction == "down") return WheelValues{-n, 0};
  if (direction == "left") return WheelValues{0, -n};
  if (direction == "right") return WheelValues{0, n};
  return std::nullopt;
}

platform::Point DragStepPoint(platform::Point from, platform::Point to, int i) {
  const double f = static_cast<double>(i) / kDragSteps;
  return {from.x + (to.x - from.x) * f, from.y + (to.y - from.y) * f};
}

uint64_t GlobalMouseFlags(const std::optional<std::string>& modifiers, uint64_t physical_flags) {
  const uint64_t parsed = modifiers ? ParseModifierFlags(*modifiers) : 0;
  if (parsed != 0) return parsed;
  if (modifiers && !modifiers->empty()) return 0;
  return physical_flags & kPhysicalModifierMask;
}

bool PointNear(platform::Point p, platform::Point target, double tolerance) {
  return std::fabs(p.x - target.x) <= tolerance && std::fabs(p.y - target.y) <= tolerance;
}

LeftButtonOwnership& LeftButton() {
  static LeftButtonOwnership ownership;
  return ownership;
}

}  // namespace addon
