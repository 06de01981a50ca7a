#include "ax/window_list.h"

#include <cmath>

namespace addon {

namespace {
const platform::Value* Find(const platform::Dict& d, const char* key) {
  auto it = d.find(key);
  return it == d.end() ? nullptr : &it->second;
}
}  // namespace

bool CopyDictionaryString(const platform::Dict& d, const char* key, std::string* out) {
  const platform::Value* v = Find(d, key);
  if (!v || !v->string()) return false;
  *out = *v->string();
  return true;
}

bool CopyDictionaryInt64(const platform::Dict& d, const char* key, int64_t* out) {
  const platform::Value* v = Find(d, key);
  if (!v || !v->number()) return false;
  double x = v->number()->value;
  if (!std::isfinite(x) || x < -9223372036854775808.0 || x >= 9223372036854775808.0) return false;
  *out = static_cast<int64_t>(x);
  return true;
}

bool CopyDictionaryDouble(const platform::Dict& d, const char* key, double* out) {
  const platform::Value* v = Find(d, key);
  if (!v || !v->number()) return false;
  *out = v->number()->value;
  return true;
}

bool CopyDictionaryBool(const platform::Dict& d, const char* key, bool* out) {
  const platform::Value* v = Find(d, key);
  if (!v) return false;
  if (v->boolean()) {
    *out = *v->boolean();
    return true;
  }
  if (v->number() && v->number()->integral_type) {
    *out = v->number()->value != 0;
    return true;
  }
  return false;
}

bool CopyDictionaryBounds(const platform::Dict& d, const char* key, platform::Rect* out) {
  const platform::Value* v = Find(d, key);
  if (!v || !v->dict()) return false;
  const platform::Dict& b = *v->dict();
  platform::Rect r;
  if (!CopyDictionaryDouble(b, "X", &r.x) || !CopyDictionaryDouble(b, "Y", &r.y) ||
      !CopyDictionaryDouble(b, "Width", &r.width) || !CopyDictionaryDouble(b, "Height", &r.height)) {
    return false;
  }
  *out = r;
  return true;
}

std::vector<CGWindowCandidate> CopyCGWindowsForPid(pid_t pid) {
  std::vector<CGWindowCandidate> out;
  auto list = platform::Get().windows().CopyWindowList(platform::WindowListOption::kAll);
  if (!list) return out;
  for (const platform::Value& entry : *list) {
    const platform::Dict* d = entry.dict();
    if (!d) continue;
    int64_t owner = 0, layer = 0, number = 0;
    if (!CopyDictionaryInt64(*d, platform::kWindowOwnerPID, &owner) || owner != pid) continue;
    if (!CopyDictionaryInt64(*d, platform::kWindowLayer, &layer) || layer != 0) continue;
    if (!CopyDictionaryInt64(*d, platform::kWindowNumber, &number) || number <= 0 ||
        number > UINT32_MAX) {
      continue;
    }
    CGWindowCandidate c;
    if (!CopyDictionaryBounds(*d, platform::kWindowBounds, &c.bounds)) continue;
    if (!(c.bounds.width >= 2) || !(c.bounds.height >= 2)) continue;
    c.window_id = static_cast<uint32_t>(number);
    CopyDictionaryString(*d, platform::kWindowName, &c.title);
    CopyDictionaryBool(*d, platform::kWindowIsOnscreen, &c.on_screen);
    out.push_back(std::move(c));
  }
  return out;
}

bool FindBestCGWindowForPid(pid_t pid, CGWindowCandidate* out) {
  bool found = false;
  double best = -1;
  for (auto& c : CopyCGWindowsForPid(pid)) {
    double score = c.bounds.width * c.bounds.height + (c.on_screen ? 1e12 : 0);
    if (!found || score > best) {
      best = score;
      *out = c;
      found = true;
    }
  }
  return found;
}

}  // namespace addon
