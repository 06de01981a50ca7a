// Compact text form of key plans for the keyboard tests:
//   d12 / u12   key-down / key-up of keycode 12 (flags left as created)
//   d56/20000   flags set explicitly (hex)
//   d[abc]      Unicode event carrying "abc" (ASCII shown, other units as \uXXXX)
//   d?          a key name without a keycode
//   p8          pause of 8 ms;  c  cancellation point;  w1500  hold of 1500 ms
#pragma once

#include <cstdio>
#include <string>

#include "input/key_plan.h"

namespace keytest {

inline std::string Describe(const addon::KeyIntent& i) {
  using Kind = addon::KeyIntent::Kind;
  char buf[32];
  switch (i.kind) {
    case Kind::kPause:
      snprintf(buf, sizeof buf, "p%d", static_cast<int>(i.ms));
      return buf;
    case Kind::kCancelPoint: return "c";
    case Kind::kHoldWait:
      snprintf(buf, sizeof buf, "w%d", static_cast<int>(i.ms));
      return buf;
    default: break;
  }
  std::string s = i.kind == Kind::kKeyDown ? "d" : "u";
  if (!i.known) {
    s += "?";
  } else if (!i.unicode.empty()) {
    s += "[";
    for (char16_t c : i.unicode) {
      if (c >= 0x20 && c < 0x7f) {
        s.push_back(static_cast<char>(c));
      } else {
        snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
        s += buf;
      }
    }
    s += "]";
  } else {
    snprintf(buf, sizeof buf, "%u", static_cast<unsigned>(i.keycode));
    s += buf;
  }
  if (i.set_flags) {
    snprintf(buf, sizeof buf, "/%llx", static_cast<unsigned long long>(i.flags));
    s += buf;
  }
  return s;
}

inline std::string Describe(const addon::KeyPlan& plan) {
  std::string out = plan.ok ? "" : "refused";
  for (const auto& i : plan.intents) {
    if (!out.empty()) out += " ";
    out += Describe(i);
  }
  return out;
}

}  // namespace keytest
