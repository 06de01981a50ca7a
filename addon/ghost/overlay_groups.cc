// Overlay enablement, initialisation and the per-session groups: which group a
// request draws into, creation on first use, and tombstones for removed
// sessions so they never come back.
#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "common/text.h"
#include "ghost/overlay.h"
#include "platform/platform.h"
#include "pump.h"

namespace ghost {

namespace {
const char* const kDefaultKey = "default";

bool EnvEnables(const char* v) {
  if (!v) return false;
  const std::string s = common::LowerAscii(v);
  return s == "1" || s == "on" || s == "true" || s == "auto" || s == "always";
}

GhostGroup* CreateGroup(const std::string& key) {
  auto g = std::make_unique<GhostGroup>();
  g->key = key;
  g->ownSession = key != kDefaultKey;
  g->motion.speedScale = 1.0;
  GhostGroup* raw = g.get();
  S().groups.push_back(std::move(g));
  BuildGroupLayers(*raw);
  return raw;
}

GhostGroup* FindOrCreate(const std::string& key) {
  if (GhostGroup* g = FindGroup(key)) return g;
  return CreateGroup(key);
}
}  // namespace

std::atomic<bool> g_visibility_probe_active{false};
std::atomic<bool> g_visibility_probe_dirty{false};

OverlayState& S() {
  static OverlayState* s = new OverlayState();
  return *s;
}

double NowMs() {
  return std::chrono::duration<double, std::milli>(platform::Get().clock().Now().time_since_epoch())
      .count();
}

bool GhostCursorOverlayEnabled() {
  if (S().explicitEnabled.load()) return true;
  // Read once, on first use, from whichever thread asks first.
  static const bool env_enabled = EnvEnables(std::getenv("KORVO_OZA_CURSOR_OVERLAY"));
  return env_enabled;
}

void EnsureGhostInit() {
  OverlayState& s = S();
  if (!s.initialised) {
    s.initialised = true;
    ghost_ensure_nsapp();
    RebuildScreenWindows();
    if (!FindGroup(kDefaultKey)) CreateGroup(kDefaultKey);
    s.screensObserver = platform::Get().surfaces().AddScreensChangedObserver([] {
      if (!S().windows.empty()) RebuildScreenWindows();
    });
  } else if (s.windows.empty()) {
    // Displays may have appeared since the first attempt found none.
    RebuildScreenWindows();
  }
  if (!FindGroup(kDefaultKey)) CreateGroup(kDefaultKey);
}

std::string ResolveKey() {
  const OverlayState& s = S();
  if (s.multiSession && !s.requestSession.empty() && s.requestSession != kDefaultKey)
    return s.requestSession;
  return kDefaultKey;
}

bool IsSessionEnded(const std::string& key) {
  if (key.empty() || key == kDefaultKey) return false;
  const auto& t = S().tombstones;
  return std::find(t.begin(), t.end(), key) != t.end();
}

GhostGroup* FindGroup(const std::string& key) {
  for (auto& g : S().groups)
    if (g->key == key) return g.get();
  return nullptr;
}

GhostGroup* GroupForRequest() {
  EnsureGhostInit();
  std::string key = ResolveKey();
  if (IsSessionEnded(key)) return nullptr;
  return FindOrCreate(key);
}

GhostGroup* GroupForExplicitSession(const char* key) {
  EnsureGhostInit();
  if (!key || !*key || std::string(key) == kDefaultKey) return GroupForRequest();
  if (IsSessionEnded(key)) return nullptr;
  return FindOrCreate(key);
}

GhostGroup* GroupForAction(const std::string& session) {
  EnsureGhostInit();
  if (!session.empty() && IsSessionEnded(session)) return nullptr;
  if (S().multiSession && !session.empty() && session != kDefaultKey)
    return GroupForExplicitSession(session.c_str());
  return GroupForRequest();
}

void RemoveSession(const std::string& key) {
  if (key.empty() || key == kDefaultKey) return;
  OverlayState& s = S();
  if (!IsSessionEnded(key)) s.tombstones.push_back(key);
  auto it = std::find_if(s.groups.begin(), s.groups.end(),
                         [&](const std::unique_ptr<GhostGroup>& g) { return g->key == key; });
  if (it != s.groups.end()) {
    DestroyGroupLayers(**it);
    s.groups.erase(it);
  }
  if (!AnyGroupShown()) {
    StopVisibilityTimer();
    g_visibility_probe_dirty.store(false);
    OrderAllOut();
  }
  RearmIdleTimer();
  StopPumpTimerIfIdle();
}

double GroupAlpha(const GhostGroup& g) { return g.idleAlpha * g.occlusionAlpha; }

bool AnyGroupShown() {
  for (auto& g : S().groups)
    if (g->shown) return true;
  return false;
}

}  // namespace ghost
