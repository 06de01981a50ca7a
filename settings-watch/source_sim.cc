// The simulated desktop's window list. A scene file named by
// KORVO_OZA_SIM_SCENE is loaded first; without one the simulated desktop
// starts empty and every cycle prints "[]".
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "records.h"
#include "sim/control.h"
#include "sim/services.h"

namespace settings_watch {

namespace {

std::optional<double> Num(const platform::Dict& d, const char* key) {
  auto it = d.find(key);
  if (it == d.end() || !it->second.number()) return std::nullopt;
  return it->second.number()->value;
}

void LoadSceneOnce() {
  static bool done = false;
  if (done) return;
  done = true;
  const char* path = std::getenv("KORVO_OZA_SIM_SCENE");
  if (!path || !*path) return;
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::string args = "[";
  args.append(text.str()).push_back(']');
  sim::RunCommandJson("loadScene", args);
}

}  // namespace

std::optional<std::vector<ListedWindow>> SimWindows() {
  LoadSceneOnce();
  auto list = sim::SimPlatform().windows().CopyWindowList(
      platform::WindowListOption::kOnScreenOnlyExcludingDesktop);
  if (!list) return std::nullopt;
  std::vector<ListedWindow> out;
  for (const auto& v : *list) {
    const platform::Dict* d = v.dict();
    if (!d) continue;
    ListedWindow w;
    if (auto it = d->find(platform::kWindowOwnerName); it != d->end() && it->second.string())
      w.owner_name = *it->second.string();
    if (auto it = d->find(platform::kWindowBounds); it != d->end() && it->second.dict()) {
      const platform::Dict& b = *it->second.dict();
      w.x = Num(b, "X");
      w.y = Num(b, "Y");
      w.w = Num(b, "Width");
      w.h = Num(b, "Height");
    }
    if (auto it = d->find(platform::kWindowLayer); it != d->end() && it->second.number()) {
      const platform::Number& n = *it->second.number();
      if (n.value == static_cast<double>(static_cast<int64_t>(n.value)))
        w.layer = static_cast<int64_t>(n.value);
    }
    out.push_back(std::move(w));
  }
  return out;
}

}  // namespace settings_watch
