#include "sim/json.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

namespace sim {

namespace {

using Text = nlohmann::ordered_json;

constexpr int kMaxDepth = 512;

const Json& NullJson() {
  static const Json* j = new Json();
  return *j;
}

// Answers false when `t` nests deeper than kMaxDepth.
bool FromText(const Text& t, int depth, Json* out) {
  if (depth > kMaxDepth) return false;
  switch (t.type()) {
    case Text::value_t::null:
    case Text::value_t::discarded:
      *out = Json();
      return true;
    case Text::value_t::boolean:
      *out = Json(t.get<bool>());
      return true;
    case Text::value_t::number_integer:
      *out = Json(t.get<int64_t>());
      return true;
    case Text::value_t::number_unsigned:
      *out = Json(t.get<uint64_t>());
      return true;
    case Text::value_t::number_float:
      *out = Json(t.get<double>());
      return true;
    case Text::value_t::string:
      *out = Json(t.get_ref<const std::string&>());
      return true;
    case Text::value_t::binary:
      *out = Json();
      return true;
    case Text::value_t::array: {
      *out = Json::Array();
      for (const Text& item : t) {
        Json v;
        if (!FromText(item, depth + 1, &v)) return false;
        out->push(std::move(v));
      }
      return true;
    }
    case Text::value_t::object: {
      *out = Json::Object();
      for (const auto& [key, item] : t.items()) {
        Json v;
        if (!FromText(item, depth + 1, &v)) return false;
        out->set(key, std::move(v));
      }
      return true;
    }
  }
  return false;
}

Text ToText(const Json& j) {
  switch (j.type()) {
    case Json::Type::kNull:
      return nullptr;
    case Json::Type::kBool:
      return j.as_bool();
    case Json::Type::kNumber: {
      if (j.is_int()) return j.as_int();
      double v = j.as_double();
      if (!std::isfinite(v)) return nullptr;
      return v;
    }
    case Json::Type::kString:
      return j.as_string();
    case Json::Type::kArray: {
      Text a = Text::array();
      for (const Json& item : j.items()) a.push_back(ToText(item));
      return a;
    }
    case Json::Type::kObject: {
      Text o = Text::object();
      for (const auto& [k, v] : j.members()) o[k] = ToText(v);
      return o;
    }
  }
  return nullptr;
}

}  // namespace

Json::Json(uint64_t v) : type_(Type::kNumber) {
  if (v <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
    int_ = static_cast<int64_t>(v);
    is_int_ = true;
  } else {
    num_ = static_cast<double>(v);
  }
}

int64_t Json::as_int(int64_t def) const {
  if (!is_number()) return def;
  if (is_int_) return int_;
  // -2^63 is exact as a double; 2^63 is the first value past the range.
  if (!(num_ >= -9223372036854775808.0 && num_ < 9223372036854775808.0)) return def;
  return static_cast<int64_t>(num_);
}

bool Json::Parse(const std::string& text, Json* out, std::string* error) {
  Text t;
  try {
    t = Text::parse(text);
  } catch (const Text::exception& e) {
    *error = e.what();
    return false;
  }
  if (!FromText(t, 0, out)) {
    *error = "nesting deeper than " + std::to_string(kMaxDepth) + " levels";
    return false;
  }
  return true;
}

std::string Json::Dump() const {
  return ToText(*this).dump(-1, ' ', false, Text::error_handler_t::replace);
}

const Json& Json::operator[](size_t i) const {
  if (type_ != Type::kArray || i >= arr_.size()) return NullJson();
  return arr_[i];
}

const Json& Json::operator[](const std::string& key) const {
  if (type_ == Type::kObject) {
    for (const auto& [k, v] : obj_)
      if (k == key) return v;
  }
  return NullJson();
}

bool Json::has(const std::string& key) const {
  if (type_ != Type::kObject) return false;
  for (const auto& kv : obj_)
    if (kv.first == key) return true;
  return false;
}

void Json::set(const std::string& key, Json v) {
  if (type_ != Type::kObject) *this = Object();
  for (auto& kv : obj_) {
    if (kv.first == key) {
      kv.second = std::move(v);
      return;
    }
  }
  obj_.emplace_back(key, std::move(v));
}

void Json::erase(const std::string& key) {
  for (auto it = obj_.begin(); it != obj_.end(); ++it) {
    if (it->first == key) {
      obj_.erase(it);
      return;
    }
  }
}

}  // namespace sim
