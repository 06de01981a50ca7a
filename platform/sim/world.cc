#include "sim/world.h"

#include "sim/scene.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

World& W() {
  // Never destroyed: handles released during process exit still find it.
  static World* w = [] {
    auto* world = new World();
    ResetWorld(*world);
    return world;
  }();
  return *w;
}

std::atomic<int64_t>& TotalLiveHandles() {
  static std::atomic<int64_t> total{0};
  return total;
}

double DefaultTimeoutSeconds() { return 6.0; }

SimHandle::SimHandle(NodePtr n) : node_(std::move(n)) {
  node_->live.fetch_add(1);
  TotalLiveHandles().fetch_add(1);
}

void SimHandle::Retain() {
  refs_.fetch_add(1);
  node_->live.fetch_add(1);
  TotalLiveHandles().fetch_add(1);
}

void SimHandle::Release() {
  node_->live.fetch_sub(1);
  TotalLiveHandles().fetch_sub(1);
  if (refs_.fetch_sub(1) == 1) delete this;
}

bool SimHandle::SameElement(const platform::ElementObject& other) const {
  auto* o = dynamic_cast<const SimHandle*>(&other);
  return o && o->node_ == node_;
}

size_t SimHandle::Hash() const { return std::hash<uint64_t>()(node_->serial); }

platform::AXElement MakeHandle(const NodePtr& n) {
  if (!n) return {};
  return platform::AXElement::Adopt(new SimHandle(n));
}

NodePtr NodeOf(const platform::AXElement& el) {
  auto* h = dynamic_cast<SimHandle*>(el.get());
  return h ? h->node() : nullptr;
}

NodePtr FindNode(World& w, const std::string& id) {
  if (id.empty()) return nullptr;
  auto it = w.nodes.find(id);
  return it == w.nodes.end() ? nullptr : it->second;
}

std::shared_ptr<App> FindApp(World& w, pid_t pid) {
  auto it = w.apps.find(pid);
  return it == w.apps.end() ? nullptr : it->second;
}

std::shared_ptr<CgWindow> FindWindow(World& w, uint32_t number) {
  for (auto& cw : w.z)
    if (cw->number == number) return cw;
  return nullptr;
}

NodePtr ContainingWindow(const NodePtr& n) {
  NodePtr cur = n;
  int guard = 0;
  while (cur && guard++ < 4096) {
    if (cur->window_number != 0) return cur;
    cur = cur->parent.lock();
  }
  return nullptr;
}

bool NodeVisible(const NodePtr& n) {
  NodePtr cur = n;
  int guard = 0;
  while (cur && guard++ < 4096) {
    if (!cur->alive || cur->hidden) return false;
    cur = cur->parent.lock();
  }
  return true;
}

bool WindowVisible(World& w, const CgWindow& cw) {
  auto app = FindApp(w, cw.owner);
  if (cw.element) return NodeVisible(cw.element);
  return app && !app->terminated;
}

NodePtr NewNode(World& w, NodeKind kind) {
  auto n = std::make_shared<Node>();
  n->serial = w.next_serial++;
  n->kind = kind;
  return n;
}

void RegisterNode(World& w, const NodePtr& n) {
  if (!n->id.empty()) {
    w.nodes[n->id] = n;
    w.retired.erase(n->id);
  }
}

void Log(World& w, const std::string& line) {
  w.log.push_back(line);
  if (w.log.size() > 10000) w.log.erase(w.log.begin(), w.log.begin() + 1000);
  const char* e = std::getenv("KORVO_OZA_LOG_STDERR");
  if (e && std::strcmp(e, "1") == 0) fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace sim
