// Values that cross the platform seam. They mirror the handful of types the
// platform's accessibility and window-server APIs hand out (strings, numbers,
// booleans, points, sizes, rects, ranges, elements, arrays, dictionaries and
// error values) without exposing any backend type.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace platform {

struct Point {
  double x = 0;
  double y = 0;
};
struct Size {
  double width = 0;
  double height = 0;
};
struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};
struct Range {
  int64_t location = 0;
  int64_t length = 0;
};

// Accessibility error codes keep the platform's numbers so tables in the core
// can be written against them directly.
enum AXError : int32_t {
  kAXErrorSuccess = 0,
  kAXErrorFailure = -25200,
  kAXErrorIllegalArgument = -25201,
  kAXErrorInvalidUIElement = -25202,
  kAXErrorInvalidUIElementObserver = -25203,
  kAXErrorCannotComplete = -25204,
  kAXErrorAttributeUnsupported = -25205,
  kAXErrorActionUnsupported = -25206,
  kAXErrorNotificationUnsupported = -25207,
  kAXErrorNotImplemented = -25208,
  kAXErrorNotificationAlreadyRegistered = -25209,
  kAXErrorNotificationNotRegistered = -25210,
  kAXErrorAPIDisabled = -25211,
  kAXErrorNoValue = -25212,
  kAXErrorParameterizedAttributeUnsupported = -25213,
  kAXErrorNotEnoughPrecision = -25214,
};

// A backend's accessibility element object. Handles are reference counted:
// every AXElement copy holds one reference, so a backend can count live
// handles per element and prove that the core releases what it retains.
class ElementObject {
 public:
  virtual ~ElementObject() = default;
  virtual void Retain() = 0;
  virtual void Release() = 0;
  // Element equality: two handles naming the same platform element.
  virtual bool SameElement(const ElementObject& other) const = 0;
  virtual size_t Hash() const = 0;
};

// RAII handle around a retained ElementObject.
class AXElement {
 public:
  AXElement() = default;
  // Takes over one reference the caller already holds.
  static AXElement Adopt(ElementObject* obj) {
    AXElement e;
    e.obj_ = obj;
    return e;
  }
  AXElement(const AXElement& o) : obj_(o.obj_) {
    if (obj_) obj_->Retain();
  }
  AXElement(AXElement&& o) noexcept : obj_(o.obj_) { o.obj_ = nullptr; }
  AXElement& operator=(const AXElement& o) {
    if (this != &o) {
      if (o.obj_) o.obj_->Retain();
      Reset();
      obj_ = o.obj_;
    }
    return *this;
  }
  AXElement& operator=(AXElement&& o) noexcept {
    if (this != &o) {
      Reset();
      obj_ = o.obj_;
      o.obj_ = nullptr;
    }
    return *this;
  }
  ~AXElement() { Reset(); }

  void Reset() {
    if (obj_) {
      ElementObject* o = obj_;
      obj_ = nullptr;
      o->Release();
    }
  }
  explicit operator bool() const { return obj_ != nullptr; }
  ElementObject* get() const { return obj_; }
  bool SameAs(const AXElement& o) const {
    if (!obj_ || !o.obj_) return obj_ == o.obj_;
    return obj_ == o.obj_ || obj_->SameElement(*o.obj_);
  }
  size_t Hash() const { return obj_ ? obj_->Hash() : 0; }

 private:
  ElementObject* obj_ = nullptr;
};

struct Value;
using Array = std::vector<Value>;
using Dict = std::map<std::string, Value>;

// An error entry inside a batched attribute answer.
struct ErrorValue {
  AXError code = kAXErrorFailure;
};

// A platform value. Number keeps whether the platform stored it as an integer
// type, because some answers (window numbers, pids) are read as integers.
struct Number {
  double value = 0;
  bool integral_type = false;
};

struct Value {
  using Storage = std::variant<std::monostate, std::string, bool, Number, Point, Size, Rect,
                               Range, AXElement, std::shared_ptr<Array>,
                               std::shared_ptr<Dict>, ErrorValue>;
  Storage v;

  Value() = default;
  Value(std::string s) : v(std::move(s)) {}
  Value(const char* s) : v(std::string(s)) {}
  Value(bool b) : v(b) {}
  Value(double d) : v(Number{d, false}) {}
  Value(int64_t i) : v(Number{static_cast<double>(i), true}) {}
  Value(int i) : v(Number{static_cast<double>(i), true}) {}
  Value(Number n) : v(n) {}
  Value(Point p) : v(p) {}
  Value(Size s) : v(s) {}
  Value(Rect r) : v(r) {}
  Value(Range r) : v(r) {}
  Value(AXElement e) : v(std::move(e)) {}
  Value(Array a) : v(std::make_shared<Array>(std::move(a))) {}
  Value(Dict d) : v(std::make_shared<Dict>(std::move(d))) {}
  Value(ErrorValue e) : v(e) {}

  bool is_null() const { return std::holds_alternative<std::monostate>(v); }
  const std::string* string() const { return std::get_if<std::string>(&v); }
  const bool* boolean() const { return std::get_if<bool>(&v); }
  const Number* number() const { return std::get_if<Number>(&v); }
  const Point* point() const { return std::get_if<Point>(&v); }
  const Size* size() const { return std::get_if<Size>(&v); }
  const Rect* rect() const { return std::get_if<Rect>(&v); }
  const Range* range() const { return std::get_if<Range>(&v); }
  const AXElement* element() const { return std::get_if<AXElement>(&v); }
  const Array* array() const {
    auto p = std::get_if<std::shared_ptr<Array>>(&v);
    return p ? p->get() : nullptr;
  }
  const Dict* dict() const {
    auto p = std::get_if<std::shared_ptr<Dict>>(&v);
    return p ? p->get() : nullptr;
  }
  const ErrorValue* error() const { return std::get_if<ErrorValue>(&v); }
};

// A bitmap image handed across the seam: 8-bit RGBA, premultiplied alpha,
// rows of width * 4 bytes.
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;
};
using Image = std::shared_ptr<const Bitmap>;

}  // namespace platform
