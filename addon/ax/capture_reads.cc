#include "ax/capture_reads.h"

namespace addon {

bool DiagCopyElement(const platform::AXElement& el, const char* attr, AxCaptureOperation op,
                     platform::AXElement* out) {
  platform::Value v;
  if (DiagCopyAttribute(el, attr, op, &v) != platform::kAXErrorSuccess) return false;
  const platform::AXElement* e = v.element();
  if (!e || !*e) return false;
  *out = *e;
  return true;
}

bool DiagCopyElementArray(const platform::AXElement& el, const char* attr,
                          AxCaptureOperation op, std::vector<platform::AXElement>* out,
                          platform::AXError* error) {
  platform::Value v;
  platform::AXError err = DiagCopyAttribute(el, attr, op, &v);
  if (error) *error = err;
  out->clear();
  if (err != platform::kAXErrorSuccess || !v.array()) return false;
  out->reserve(v.array()->size());
  for (const platform::Value& item : *v.array()) {
    if (item.element() && *item.element()) out->push_back(*item.element());
  }
  return true;
}

bool DiagCopyString(const platform::AXElement& el, const char* attr, AxCaptureOperation op,
                    std::string* out) {
  platform::Value v;
  if (DiagCopyAttribute(el, attr, op, &v) != platform::kAXErrorSuccess || !v.string()) {
    return false;
  }
  *out = *v.string();
  return true;
}

bool ValueAsBool(const platform::Value& v, bool* out) {
  if (const bool* b = v.boolean()) {
    *out = *b;
    return true;
  }
  if (const platform::Number* n = v.number(); n && n->integral_type) {
    *out = n->value != 0;
    return true;
  }
  return false;
}

bool DiagCopyBool(const platform::AXElement& el, const char* attr, AxCaptureOperation op,
                  bool* out) {
  platform::Value v;
  if (DiagCopyAttribute(el, attr, op, &v) != platform::kAXErrorSuccess) return false;
  return ValueAsBool(v, out);
}

uint32_t DiagWindowNumber(const platform::AXElement& el) {
  SetCaptureOperation(AxCaptureOperation::kGetWindowId);
  uint32_t wid = 0;
  if (!el || platform::Get().ax().GetWindow(el, &wid) != platform::kAXErrorSuccess) return 0;
  return wid;
}

bool ReadElementPid(const platform::AXElement& el, pid_t* out) {
  return el && platform::Get().ax().GetPid(el, out) == platform::kAXErrorSuccess;
}

}  // namespace addon
