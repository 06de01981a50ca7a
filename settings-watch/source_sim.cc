// The simulated desktop's window list. The host's simulated desktop lives in
// the host's process: desktop-sim writes its window list to the file named by
// KORVO_OZA_SIM_WINDOW_LIST (writeWindowList), read here every cycle (a
// missing or unreadable file is a cycle without a list). Without that file,
// a scene file named by KORVO_OZA_SIM_SCENE is loaded into the watcher's own
// simulated desktop; without either, every cycle prints "[]".
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "records.h"
#include "sim/control.h"
#include "sim/json.h"
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

std::optional<double> Num(const sim::Json& j) {
  if (!j.is_number()) return std::nullopt;
  return j.as_double();
}

// The window list desktop-sim wrote: an array of window entries with the
// window list's own keys.
std::optional<std::vector<ListedWindow>> WindowsFromFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  sim::Json json;
  std::string error;
  if (!sim::Json::Parse(text.str(), &json, &error) || !json.is_array()) return std::nullopt;
  std::vector<ListedWindow> out;
  for (const sim::Json& e : json.items()) {
    ListedWindow w;
    if (e[platform::kWindowOwnerName].is_string()) w.owner_name = e[platform::kWindowOwnerName].as_string();
    const sim::Json& b = e[platform::kWindowBounds];
    w.x = Num(b["X"]);
    w.y = Num(b["Y"]);
    w.w = Num(b["Width"]);
    w.h = Num(b["Height"]);
    const sim::Json& layer = e[platform::kWindowLayer];
    if (layer.is_number() && layer.as_double() == static_cast<double>(layer.as_int()))
      w.layer = layer.as_int();
    out.push_back(std::move(w));
  }
  return out;
}

}  // namespace

std::optional<std::vector<ListedWindow>> SimWindows() {
  if (const char* file = std::getenv("KORVO_OZA_SIM_WINDOW_LIST"); file && *file)
    return WindowsFromFile(file);
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
