#include "records.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace settings_watch {

namespace {

constexpr const char* kFragments[] = {"System Settings", "System Preferences", "系统设置",
                                      "系統設定"};
constexpr uint32_t kDefaultInterval = 150;
// interval x 1000 microseconds must fit in 32 bits.
constexpr uint64_t kMaxInterval = 4294967;

std::string Number(double v) {
  char buf[40];
  if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15)
    snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
  else if (std::isfinite(v))
    snprintf(buf, sizeof buf, "%.17g", v);
  else
    snprintf(buf, sizeof buf, "null");
  return buf;
}

}  // namespace

bool IsSettingsOwner(const std::string& owner_name) {
  for (const char* f : kFragments)
    if (owner_name.find(f) != std::string::npos) return true;
  return false;
}

std::vector<Record> Select(const std::vector<ListedWindow>& windows) {
  std::vector<Record> out;
  for (const auto& w : windows) {
    if (!w.owner_name || !IsSettingsOwner(*w.owner_name)) continue;
    if (!w.x || !w.y || !w.w || !w.h) continue;
    out.push_back({*w.x, *w.y, *w.w, *w.h, w.layer.value_or(-1)});
  }
  return out;
}

std::string ToJson(const std::vector<Record>& records) {
  std::string s = "[";
  for (size_t i = 0; i < records.size(); ++i) {
    const Record& r = records[i];
    if (i) s += ",";
    s += "{\"x\":" + Number(r.x) + ",\"y\":" + Number(r.y) + ",\"w\":" + Number(r.w) +
         ",\"h\":" + Number(r.h) + ",\"layer\":" + std::to_string(r.layer) + "}";
  }
  return s + "]";
}

uint32_t ParseInterval(const char* arg) {
  if (!arg) return kDefaultInterval;
  const char* p = arg;
  if (*p == '+') ++p;
  if (*p < '0' || *p > '9') return kDefaultInterval;
  uint64_t v = 0;
  for (; *p; ++p) {
    if (*p < '0' || *p > '9') return kDefaultInterval;
    v = v * 10 + static_cast<uint64_t>(*p - '0');
    if (v > UINT32_MAX) return kDefaultInterval;  // not an unsigned 32-bit number
  }
  // The pause is interval x 1000 microseconds in 32 bits: longer intervals
  // are clamped to the longest one that fits.
  return static_cast<uint32_t>(v > kMaxInterval ? kMaxInterval : v);
}

}  // namespace settings_watch
