// The JSON value the simulated desktop uses for scenes, control commands and
// their answers. Text is read and written by nlohmann::json (strict RFC 8259:
// no leading zeros, no "1.", no lone surrogates); object members keep their
// order, and numbers keep whether they were written as integers (3, held
// exactly up to 64 bits) or as reals (3.0).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

class Json {
 public:
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };

  Json() = default;
  Json(std::nullptr_t) {}
  Json(bool b) : type_(Type::kBool), bool_(b) {}
  Json(int v) : type_(Type::kNumber), int_(v), is_int_(true) {}
  Json(int64_t v) : type_(Type::kNumber), int_(v), is_int_(true) {}
  Json(uint32_t v) : type_(Type::kNumber), int_(v), is_int_(true) {}
  // Values past the int64 range are held as reals.
  Json(uint64_t v);
  Json(double v) : type_(Type::kNumber), num_(v), is_int_(false) {}
  Json(const char* s) : type_(Type::kString), str_(s) {}
  Json(std::string s) : type_(Type::kString), str_(std::move(s)) {}

  static Json Array() {
    Json j;
    j.type_ = Type::kArray;
    return j;
  }
  static Json Object() {
    Json j;
    j.type_ = Type::kObject;
    return j;
  }
  static Json Real(double v) { return Json(v); }
  static Json Int(int64_t v) { return Json(v); }

  // Parses text (at most 512 levels deep); on failure answers false and sets
  // *error to the parser's message.
  static bool Parse(const std::string& text, Json* out, std::string* error);
  // Compact text; non-finite reals become null, invalid UTF-8 in strings
  // becomes U+FFFD.
  std::string Dump() const;

  Type type() const { return type_; }
  bool is_null() const { return type_ == Type::kNull; }
  bool is_bool() const { return type_ == Type::kBool; }
  bool is_number() const { return type_ == Type::kNumber; }
  bool is_string() const { return type_ == Type::kString; }
  bool is_array() const { return type_ == Type::kArray; }
  bool is_object() const { return type_ == Type::kObject; }
  bool is_int() const { return type_ == Type::kNumber && is_int_; }

  bool as_bool(bool def = false) const { return is_bool() ? bool_ : def; }
  double as_double(double def = 0) const {
    return !is_number() ? def : is_int_ ? static_cast<double>(int_) : num_;
  }
  // Integers as they are; reals truncated toward zero when they fit in
  // int64, `def` otherwise (NaN, infinities, out of range).
  int64_t as_int(int64_t def = 0) const;
  const std::string& as_string() const { return str_; }
  std::string str_or(const std::string& def) const { return is_string() ? str_ : def; }

  // Arrays.
  size_t size() const { return is_array() ? arr_.size() : is_object() ? obj_.size() : 0; }
  // Out-of-range indexes read as null.
  const Json& operator[](size_t i) const;
  const Json& operator[](int i) const { return (*this)[static_cast<size_t>(i)]; }
  const std::vector<Json>& items() const { return arr_; }
  void push(Json v) {
    if (type_ != Type::kArray) *this = Array();
    arr_.push_back(std::move(v));
  }

  // Objects: missing keys read as null.
  const Json& operator[](const std::string& key) const;
  const Json& get(const std::string& key) const { return (*this)[key]; }
  bool has(const std::string& key) const;
  void set(const std::string& key, Json v);
  void erase(const std::string& key);
  const std::vector<std::pair<std::string, Json>>& members() const { return obj_; }

 private:
  Type type_ = Type::kNull;
  bool bool_ = false;
  double num_ = 0;
  int64_t int_ = 0;
  bool is_int_ = false;
  std::string str_;
  std::vector<Json> arr_;
  std::vector<std::pair<std::string, Json>> obj_;
};

}  // namespace sim
