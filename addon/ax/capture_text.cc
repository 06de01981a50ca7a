#include "ax/capture_text.h"

#include <cmath>
#include <cstdio>

namespace addon {

void LimitSnapshotText(std::string* text, size_t cap, size_t* budget) {
  size_t limit = cap;
  if (budget && *budget < limit) limit = *budget;
  if (text->size() > limit) {
    size_t cut = limit;
    // Never split a character: step back over continuation bytes.
    while (cut > 0 && (static_cast<unsigned char>((*text)[cut]) & 0xC0) == 0x80) --cut;
    text->resize(cut);
  }
  if (budget) *budget -= text->size();
}

bool CoerceAxValueToString(const platform::Value& value, std::string* out) {
  if (const std::string* s = value.string()) {
    *out = *s;
    return true;
  }
  if (const bool* b = value.boolean()) {
    *out = *b ? "true" : "false";
    return true;
  }
  if (const platform::Number* n = value.number()) {
    double d = n->value;
    char buf[64];
    if (std::isfinite(d) && std::trunc(d) == d && d >= -9223372036854775808.0 &&
        d < 9223372036854775808.0) {
      std::snprintf(buf, sizeof(buf), "%lld", static_cast<long long>(d));
    } else {
      std::snprintf(buf, sizeof(buf), "%g", d);
    }
    *out = buf;
    return true;
  }
  return false;
}

}  // namespace addon
