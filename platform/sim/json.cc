#include "sim/json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {

const Json& NullJson() {
  static const Json* j = new Json();
  return *j;
}

class Parser {
 public:
  explicit Parser(const std::string& s) : s_(s) {}

  bool Run(Json* out, std::string* error) {
    SkipWs();
    if (!Value(out, 0)) {
      *error = err_ + " at offset " + std::to_string(pos_);
      return false;
    }
    SkipWs();
    if (pos_ != s_.size()) {
      *error = "trailing characters at offset " + std::to_string(pos_);
      return false;
    }
    return true;
  }

 private:
  void SkipWs() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t'))
      ++pos_;
  }
  bool Fail(const char* m) {
    err_ = m;
    return false;
  }
  bool Literal(const char* word) {
    size_t n = std::char_traits<char>::length(word);
    if (s_.compare(pos_, n, word) != 0) return Fail("unexpected token");
    pos_ += n;
    return true;
  }

  bool Value(Json* out, int depth) {
    if (depth > 512) return Fail("nesting too deep");
    if (pos_ >= s_.size()) return Fail("unexpected end");
    char c = s_[pos_];
    if (c == '{') return ObjectValue(out, depth);
    if (c == '[') return ArrayValue(out, depth);
    if (c == '"') {
      std::string str;
      if (!String(&str)) return false;
      *out = Json(std::move(str));
      return true;
    }
    if (c == 't') {
      if (!Literal("true")) return false;
      *out = Json(true);
      return true;
    }
    if (c == 'f') {
      if (!Literal("false")) return false;
      *out = Json(false);
      return true;
    }
    if (c == 'n') {
      if (!Literal("null")) return false;
      *out = Json();
      return true;
    }
    return Number(out);
  }

  bool Number(Json* out) {
    size_t start = pos_;
    bool integral = true;
    if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
    if (pos_ >= s_.size() || !isdigit(static_cast<unsigned char>(s_[pos_])))
      return Fail("invalid value");
    while (pos_ < s_.size()) {
      char c = s_[pos_];
      if (isdigit(static_cast<unsigned char>(c))) {
        ++pos_;
      } else if (c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-') {
        integral = false;
        ++pos_;
      } else {
        break;
      }
    }
    std::string text = s_.substr(start, pos_ - start);
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return Fail("invalid number");
    *out = integral ? Json(static_cast<int64_t>(v)) : Json(v);
    if (integral && std::fabs(v) > 9.0e15) *out = Json(v);
    return true;
  }

  static void AppendUtf8(std::string* s, uint32_t cp) {
    if (cp < 0x80) {
      s->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      s->push_back(static_cast<char>(0xC0 | (cp >> 6)));
      s->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      s->push_back(static_cast<char>(0xE0 | (cp >> 12)));
      s->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      s->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      s->push_back(static_cast<char>(0xF0 | (cp >> 18)));
      s->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      s->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      s->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }

  bool Hex4(uint32_t* v) {
    if (pos_ + 4 > s_.size()) return Fail("bad escape");
    *v = 0;
    for (int i = 0; i < 4; ++i) {
      char c = s_[pos_++];
      *v <<= 4;
      if (c >= '0' && c <= '9') *v |= c - '0';
      else if (c >= 'a' && c <= 'f') *v |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') *v |= c - 'A' + 10;
      else return Fail("bad escape");
    }
    return true;
  }

  bool String(std::string* out) {
    ++pos_;  // opening quote
    while (pos_ < s_.size()) {
      char c = s_[pos_++];
      if (c == '"') return true;
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (pos_ >= s_.size()) break;
      char e = s_[pos_++];
      switch (e) {
        case '"': out->push_back('"'); break;
        case '\\': out->push_back('\\'); break;
        case '/': out->push_back('/'); break;
        case 'b': out->push_back('\b'); break;
        case 'f': out->push_back('\f'); break;
        case 'n': out->push_back('\n'); break;
        case 'r': out->push_back('\r'); break;
        case 't': out->push_back('\t'); break;
        case 'u': {
          uint32_t cp = 0;
          if (!Hex4(&cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00 && pos_ + 6 <= s_.size() && s_[pos_] == '\\' &&
              s_[pos_ + 1] == 'u') {
            pos_ += 2;
            uint32_t lo = 0;
            if (!Hex4(&lo)) return false;
            if (lo >= 0xDC00 && lo < 0xE000) {
              cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
            } else {
              AppendUtf8(out, 0xFFFD);
              cp = lo;
            }
          }
          AppendUtf8(out, cp);
          break;
        }
        default: return Fail("bad escape");
      }
    }
    return Fail("unterminated string");
  }

  bool ArrayValue(Json* out, int depth) {
    ++pos_;
    *out = Json::Array();
    SkipWs();
    if (pos_ < s_.size() && s_[pos_] == ']') {
      ++pos_;
      return true;
    }
    while (true) {
      SkipWs();
      Json item;
      if (!Value(&item, depth + 1)) return false;
      out->push(std::move(item));
      SkipWs();
      if (pos_ >= s_.size()) return Fail("unterminated array");
      if (s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (s_[pos_] == ']') {
        ++pos_;
        return true;
      }
      return Fail("expected , or ]");
    }
  }

  bool ObjectValue(Json* out, int depth) {
    ++pos_;
    *out = Json::Object();
    SkipWs();
    if (pos_ < s_.size() && s_[pos_] == '}') {
      ++pos_;
      return true;
    }
    while (true) {
      SkipWs();
      if (pos_ >= s_.size() || s_[pos_] != '"') return Fail("expected key");
      std::string key;
      if (!String(&key)) return false;
      SkipWs();
      if (pos_ >= s_.size() || s_[pos_] != ':') return Fail("expected :");
      ++pos_;
      SkipWs();
      Json v;
      if (!Value(&v, depth + 1)) return false;
      out->set(key, std::move(v));
      SkipWs();
      if (pos_ >= s_.size()) return Fail("unterminated object");
      if (s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (s_[pos_] == '}') {
        ++pos_;
        return true;
      }
      return Fail("expected , or }");
    }
  }

  const std::string& s_;
  size_t pos_ = 0;
  std::string err_;
};

void DumpString(const std::string& s, std::string* out) {
  out->push_back('"');
  for (unsigned char c : s) {
    switch (c) {
      case '"': out->append("\\\""); break;
      case '\\': out->append("\\\\"); break;
      case '\n': out->append("\\n"); break;
      case '\r': out->append("\\r"); break;
      case '\t': out->append("\\t"); break;
      default:
        if (c < 0x20) {
          char buf[8];
          snprintf(buf, sizeof buf, "\\u%04x", c);
          out->append(buf);
        } else {
          out->push_back(static_cast<char>(c));
        }
    }
  }
  out->push_back('"');
}

void DumpValue(const Json& j, std::string* out) {
  switch (j.type()) {
    case Json::Type::kNull: out->append("null"); break;
    case Json::Type::kBool: out->append(j.as_bool() ? "true" : "false"); break;
    case Json::Type::kNumber: {
      double v = j.as_double();
      if (!std::isfinite(v)) {
        out->append("null");
      } else if (j.is_int() || (v == std::floor(v) && std::fabs(v) < 9.0e15)) {
        out->append(std::to_string(static_cast<int64_t>(v)));
      } else {
        char buf[40];
        snprintf(buf, sizeof buf, "%.17g", v);
        out->append(buf);
      }
      break;
    }
    case Json::Type::kString: DumpString(j.as_string(), out); break;
    case Json::Type::kArray: {
      out->push_back('[');
      bool first = true;
      for (const Json& item : j.items()) {
        if (!first) out->push_back(',');
        first = false;
        DumpValue(item, out);
      }
      out->push_back(']');
      break;
    }
    case Json::Type::kObject: {
      out->push_back('{');
      bool first = true;
      for (const auto& [k, v] : j.members()) {
        if (!first) out->push_back(',');
        first = false;
        DumpString(k, out);
        out->push_back(':');
        DumpValue(v, out);
      }
      out->push_back('}');
      break;
    }
  }
}

}  // namespace

bool Json::Parse(const std::string& text, Json* out, std::string* error) {
  Parser p(text);
  return p.Run(out, error);
}

std::string Json::Dump() const {
  std::string out;
  DumpValue(*this, &out);
  return out;
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
