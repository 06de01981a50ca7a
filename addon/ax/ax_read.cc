#include "ax/ax_read.h"

namespace addon {

namespace {
platform::Accessibility& AX() { return platform::Get().ax(); }

bool Copy(const AXElement& el, const char* attr, platform::Value* v) {
  return el && AX().CopyAttributeValue(el, attr, v) == platform::kAXErrorSuccess;
}
}  // namespace

bool CopyStringAttr(const AXElement& el, const char* attr, std::string* out) {
  platform::Value v;
  if (!Copy(el, attr, &v) || !v.string()) return false;
  *out = *v.string();
  return true;
}

bool CopyBoolAttr(const AXElement& el, const char* attr, bool* out) {
  platform::Value v;
  if (!Copy(el, attr, &v)) return false;
  if (v.boolean()) {
    *out = *v.boolean();
    return true;
  }
  // The platform's booleans are sometimes numbers 0 / 1.
  if (v.number() && v.number()->integral_type) {
    *out = v.number()->value != 0;
    return true;
  }
  return false;
}

std::optional<bool> CopyOptionalBoolAttr(const AXElement& el, const char* attr) {
  bool b = false;
  if (CopyBoolAttr(el, attr, &b)) return b;
  return std::nullopt;
}

bool CopyPoint(const AXElement& el, platform::Point* out) {
  platform::Value v;
  if (!Copy(el, "AXPosition", &v) || !v.point()) return false;
  *out = *v.point();
  return true;
}

bool CopySize(const AXElement& el, platform::Size* out) {
  platform::Value v;
  if (!Copy(el, "AXSize", &v) || !v.size()) return false;
  *out = *v.size();
  return true;
}

bool CopyElementAttr(const AXElement& el, const char* attr, AXElement* out) {
  platform::Value v;
  if (!Copy(el, attr, &v) || !v.element() || !*v.element()) return false;
  *out = *v.element();
  return true;
}

bool CopyElementArrayAttr(const AXElement& el, const char* attr, std::vector<AXElement>* out,
                          platform::AXError* error) {
  platform::Value v;
  platform::AXError err =
      el ? AX().CopyAttributeValue(el, attr, &v) : platform::kAXErrorInvalidUIElement;
  if (error) *error = err;
  if (err != platform::kAXErrorSuccess || !v.array()) return false;
  out->clear();
  for (const auto& item : *v.array()) {
    if (item.element() && *item.element()) out->push_back(*item.element());
  }
  return true;
}

bool CopyElementPid(const AXElement& el, pid_t* out) {
  return el && AX().GetPid(el, out) == platform::kAXErrorSuccess;
}

uint32_t CopyWindowNumber(const AXElement& el) {
  uint32_t wid = 0;
  if (!el || AX().GetWindow(el, &wid) != platform::kAXErrorSuccess) return 0;
  return wid;
}

bool CopyFrame(const AXElement& el, platform::Rect* out) {
  platform::Point p;
  platform::Size s;
  if (!CopyPoint(el, &p) || !CopySize(el, &s)) return false;
  *out = {p.x, p.y, s.width, s.height};
  return true;
}

}  // namespace addon
