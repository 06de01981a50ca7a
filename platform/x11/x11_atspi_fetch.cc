// Fetching object records: the whole-application prefetch and the
// one-object burst of a miss (see x11_atspi_apps.h).
#include <algorithm>
#include <unordered_set>

#include "x11/x11_atspi_apps.h"

namespace x11::atspi {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kFresh = std::chrono::seconds(1);
// Bounds of one prefetch: objects kept and walk rounds (tree depth).
constexpr size_t kMaxNodes = 6000;
constexpr int kMaxRounds = 40;

const char* const kAcc = "org.a11y.atspi.Accessible";

// Which answer a call carries.
enum class Part { kRole, kState, kIfaces, kName, kDescription, kChildCount, kParent, kChildren,
                  kExtents, kActions, kValue, kText, kRelations, kIdentifier, kParentRole, kItems, kChildAt,
                  kActionAt };

struct Want {
  Node* node;
  Part part;
  int32_t index;  // kChildAt: which child
};

struct Round {
  std::vector<Call> calls;
  std::vector<Want> wants;
  void Add(Node* n, Part p, Call c, int32_t index = 0) {
    calls.push_back(std::move(c));
    wants.push_back({n, p, index});
  }
};

// An object reached by walking from its parent needs neither its parent
// nor its child count asked (GetChildren answers the count, except for
// objects that manage their descendants, asked for it later).
void AddStructure(Round* r, Node* n, bool walked = false) {
  const std::string& b = n->self.bus;
  const std::string& p = n->self.path;
  r->Add(n, Part::kRole, Method(b, p, kAcc, "GetRole"));
  r->Add(n, Part::kState, Method(b, p, kAcc, "GetState"));
  r->Add(n, Part::kIfaces, Method(b, p, kAcc, "GetInterfaces"));
  r->Add(n, Part::kName, GetProperty(b, p, kAcc, "Name"));
  r->Add(n, Part::kDescription, GetProperty(b, p, kAcc, "Description"));
  if (walked) return;
  r->Add(n, Part::kChildCount, GetProperty(b, p, kAcc, "ChildCount"));
  r->Add(n, Part::kParent, GetProperty(b, p, kAcc, "Parent"));
}

void AddChildren(Round* r, Node* n) {
  r->Add(n, Part::kChildren, Method(n->self.bus, n->self.path, kAcc, "GetChildren"));
}

// Objects that manage their descendants (GTK's tree views and tables) answer
// GetChildren with nothing: their children are asked one index at a time, up
// to the most the core would ever collect of one element.
constexpr int32_t kMaxChildrenByIndex = 500;

bool NeedsChildrenByIndex(const Node& n) {
  return Has(n.states, ATSPI_STATE_MANAGES_DESCENDANTS) &&
         static_cast<int32_t>(n.children.size()) < n.child_count;
}

void AddChildrenByIndex(Round* r, Node* n) {
  int32_t count = std::min(n->child_count, kMaxChildrenByIndex);
  n->children.assign(count, Ref{});
  for (int32_t i = 0; i < count; ++i)
    r->Add(n, Part::kChildAt, Method(n->self.bus, n->self.path, kAcc, "GetChildAtIndex", {i}), i);
}

void DropMissingChildren(Node* n) {
  n->children.erase(std::remove_if(n->children.begin(), n->children.end(),
                                   [](const Ref& c) { return c.null(); }),
                    n->children.end());
}

// Roles whose title may come from a label elsewhere (LABELLED_BY).
bool TakesLabel(uint32_t role) {
  switch (role) {
    case ATSPI_ROLE_ENTRY: case ATSPI_ROLE_TEXT: case ATSPI_ROLE_PASSWORD_TEXT:
    case ATSPI_ROLE_COMBO_BOX: case ATSPI_ROLE_SPIN_BUTTON: case ATSPI_ROLE_SLIDER:
    case ATSPI_ROLE_CHECK_BOX: case ATSPI_ROLE_RADIO_BUTTON: case ATSPI_ROLE_TOGGLE_BUTTON:
    case ATSPI_ROLE_PUSH_BUTTON: case ATSPI_ROLE_LIST: case ATSPI_ROLE_LIST_BOX:
    case ATSPI_ROLE_TABLE: case ATSPI_ROLE_TREE_TABLE: case ATSPI_ROLE_PROGRESS_BAR:
    case ATSPI_ROLE_LEVEL_BAR: case ATSPI_ROLE_SCROLL_PANE: case ATSPI_ROLE_IMAGE:
      return true;
    default:
      return false;
  }
}

// Every fact the core's reads need that the structure does not carry. Each
// call costs the application's main loop about as much as any other, so only
// what can answer something is asked: labels for the roles that take them,
// and identifiers only from toolkits that set them (GTK 3 leaves them empty).
void AddFacts(Round* r, Node* n, bool qt) {
  const std::string& b = n->self.bus;
  const std::string& p = n->self.path;
  // Objects not shown have no place on screen (GTK answers INT_MIN for them).
  if ((n->ifaces & kComponent) && Has(n->states, ATSPI_STATE_SHOWING))
    r->Add(n, Part::kExtents, Method(b, p, "org.a11y.atspi.Component", "GetExtents", {uint32_t{0}}));
  if (n->ifaces & kAction) r->Add(n, Part::kActions, Method(b, p, "org.a11y.atspi.Action", "GetActions"));
  if (n->ifaces & kValue)
    r->Add(n, Part::kValue, GetProperty(b, p, "org.a11y.atspi.Value", "CurrentValue"));
  if ((n->ifaces & kText) && (IsTextRole(n->role) || Has(n->states, ATSPI_STATE_EDITABLE)))
    r->Add(n, Part::kText, Method(b, p, "org.a11y.atspi.Text", "GetText", {int32_t{0}, int32_t{-1}}));
  if (n->name.empty() && TakesLabel(n->role))
    r->Add(n, Part::kRelations, Method(b, p, kAcc, "GetRelationSet"));
  if (qt && (n->name.empty() || n->role == ATSPI_ROLE_PUSH_BUTTON))
    r->Add(n, Part::kIdentifier, GetProperty(b, p, kAcc, "AccessibleId"));
  n->known |= Node::kExtents | Node::kActions | Node::kValueNow | Node::kTextNow |
              Node::kRelations | Node::kIdentifier;
}

// Applies one answer; a failed call leaves the fact absent.
void Apply(const Want& w, const Call& c, const std::string& app_bus) {
  Node* n = w.node;
  if (!c.ok()) return;
  const D& a = c.reply.at(0);
  switch (w.part) {
    case Part::kRole: n->role = static_cast<uint32_t>(a.Int()); break;
    case Part::kParentRole: n->parent_role = static_cast<uint32_t>(a.Int()); break;
    case Part::kState: n->states = States(a.at(0).Int(), a.at(1).Int()); break;
    case Part::kIfaces:
      n->ifaces = 0;
      for (const auto& s : a.v) n->ifaces |= IfaceBit(s.s);
      break;
    case Part::kName: n->name = a.s; break;
    case Part::kDescription: n->description = a.s; break;
    case Part::kChildCount: n->child_count = static_cast<int32_t>(a.Int()); break;
    case Part::kParent: n->parent = RefOf(a, app_bus); break;
    case Part::kChildren:
      n->children.clear();
      for (const auto& so : a.v) n->children.push_back(RefOf(so, app_bus));
      n->child_count = std::max<int32_t>(n->child_count, static_cast<int32_t>(n->children.size()));
      n->known |= Node::kChildren;
      break;
    case Part::kExtents:
      n->x = static_cast<int32_t>(a.at(0).Int());
      n->y = static_cast<int32_t>(a.at(1).Int());
      n->w = static_cast<int32_t>(a.at(2).Int());
      n->h = static_cast<int32_t>(a.at(3).Int());
      // GTK answers INT_MIN for objects that are not shown: no position.
      n->has_extents = n->x != INT32_MIN && n->y != INT32_MIN;
      break;
    case Part::kActions:
      n->actions.clear();
      for (const auto& sss : a.v) n->actions.push_back(sss.at(0).s);
      break;
    case Part::kValue: n->value = a.Real(); break;
    case Part::kText: n->text = a.s; break;
    case Part::kRelations:
      for (const auto& rel : a.v) {
        if (rel.at(0).Int() != ATSPI_RELATION_LABELLED_BY || rel.at(1).size() == 0) continue;
        n->labelled_by = RefOf(rel.at(1).at(0), app_bus);
        break;
      }
      break;
    case Part::kIdentifier:
      if (!a.s.empty()) n->identifier = a.s;
      break;
    case Part::kChildAt:
      if (w.index < static_cast<int32_t>(n->children.size())) n->children[w.index] = RefOf(a, app_bus);
      break;
    case Part::kActionAt:
      if (w.index < static_cast<int32_t>(n->actions.size())) n->actions[w.index] = a.s;
      break;
    case Part::kItems: break;
  }
}

// Gecko answers the batch GetActions with garbage (";;", "<Alt>F;": its
// key bindings run into the names) while GetName answers each index well.
bool MalformedActions(const Node& n) {
  for (const auto& a : n.actions)
    if (a.empty() || a.find(';') != std::string::npos) return true;
  return false;
}

// The names of malformed actions asked one index at a time (one round for
// every such object).
void AddActionNames(Round* r, Node* n) {
  if (!MalformedActions(*n)) return;
  int32_t count = static_cast<int32_t>(std::min<size_t>(n->actions.size(), 64));
  n->actions.assign(count, std::string());
  for (int32_t i = 0; i < count; ++i)
    r->Add(n, Part::kActionAt, Method(n->self.bus, n->self.path, "org.a11y.atspi.Action", "GetName", {i}), i);
}

void RunRound(App& app, Round* r, uint64_t timeout) {
  RunFor(app, &r->calls, timeout);
  for (size_t i = 0; i < r->calls.size(); ++i) {
    Apply(r->wants[i], r->calls[i], app.bus);
    if (r->wants[i].part == Part::kState && r->calls[i].ok()) Normalize(app, r->wants[i].node);
  }
}

using Nodes = std::unordered_map<std::string, std::unique_ptr<Node>>;

// The application's window that holds a node (itself for a window), by
// its parents among `nodes`; null when the chain leaves them.
const Node* WindowAmong(const Nodes& nodes, const Node* n) {
  for (int depth = 0; n && depth < 64; ++depth) {
    if (IsWindowRole(n->role) && n->parent.path == kRootPath) return n;
    auto p = nodes.find(n->parent.path);
    n = p == nodes.end() ? nullptr : p->second.get();
  }
  return nullptr;
}

// GTK 4: nothing in a window that is not shown is shown.
void HideInHiddenWindows(const App& app, Nodes* nodes) {
  if (!app.gtk4) return;
  for (auto& [path, n] : *nodes) {
    const Node* w = WindowAmong(*nodes, n.get());
    if (w && w != n.get() && !Has(w->states, ATSPI_STATE_SHOWING))
      n->states &= ~(uint64_t{1} << ATSPI_STATE_SHOWING);
  }
}

// GTK 4 answers extents relative to the window: moved by the window's
// origin on the screen (each window's looked up once).
void ExtentsToScreen(const App& app, Nodes* nodes) {
  if (!app.gtk4) return;
  std::unordered_map<const Node*, std::optional<std::pair<int32_t, int32_t>>> origins;
  std::vector<std::pair<Node*, const Node*>> moves;
  for (auto& [path, n] : *nodes) {
    // Widgets with no size (on a stack page not shown, say) have no place.
    if (n->has_extents && (n->w <= 0 || n->h <= 0)) n->has_extents = false;
    if (!n->has_extents) continue;
    const Node* w = WindowAmong(*nodes, n.get());
    if (!w) continue;
    n->window = w->self.path;
    auto it = origins.find(w);
    if (it == origins.end()) {
      int32_t x = 0, y = 0;
      it = origins.emplace(w, WindowOrigin(app, *w, &x, &y) ? std::make_optional(std::make_pair(x, y))
                                                             : std::nullopt).first;
    }
    if (!it->second) {
      n->has_extents = false;  // no place on the screen known
      continue;
    }
    n->x += it->second->first;
    n->y += it->second->second;
  }
}

// The first error that matters for the whole round: the application went
// away or stopped answering. (Single objects may vanish meanwhile: their
// facts are simply absent.)
platform::AXError RoundError(const Round& r) {
  for (const auto& c : r.calls)
    if (c.err == platform::kAXErrorCannotComplete || c.err == platform::kAXErrorAPIDisabled)
      return c.err;
  return platform::kAXErrorSuccess;
}

// One Cache.GetItems entry: ((so) self, (so) app, (so) parent, i index,
// i child count, as interfaces, s name, u role, s description, au states).
void NodeFromItem(const D& item, const std::string& app_bus, Node* n) {
  n->self = RefOf(item.at(0), app_bus);
  n->parent = RefOf(item.at(2), app_bus);
  n->index_in_parent = static_cast<int32_t>(item.at(3).Int());
  n->child_count = static_cast<int32_t>(item.at(4).Int());
  for (const auto& s : item.at(5).v) n->ifaces |= IfaceBit(s.s);
  n->name = item.at(6).s;
  n->role = static_cast<uint32_t>(item.at(7).Int());
  n->description = item.at(8).s;
  n->states = States(item.at(9).at(0).Int(), item.at(9).at(1).Int());
}

// Children rebuilt from the cache's (parent, index) pairs, when they account
// for every child the object says it has. GTK's menus report no children in
// the cache while items name them as parent (with index -1): those are walked.
bool ChildrenFromItems(Node* n, std::vector<std::pair<int32_t, Ref>>* items) {
  // The cache counts no children for objects that manage their descendants.
  if (Has(n->states, ATSPI_STATE_MANAGES_DESCENDANTS)) return false;
  if (n->child_count <= 0 && items->empty()) {
    n->known |= Node::kChildren;
    return true;
  }
  if (static_cast<int32_t>(items->size()) != n->child_count) return false;
  std::sort(items->begin(), items->end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (int32_t i = 0; i < n->child_count; ++i)
    if ((*items)[i].first != i) return false;
  n->children.clear();
  for (auto& [index, ref] : *items) n->children.push_back(ref);
  n->known |= Node::kChildren;
  return true;
}

void Publish(App& app, Nodes* nodes, bool whole) {
  auto now = Clock::now();
  for (auto& [path, n] : *nodes) {
    if (n->parent_role != ATSPI_ROLE_INVALID) continue;
    auto p = nodes->find(n->parent.path);
    if (p != nodes->end()) n->parent_role = p->second->role;
  }
  std::lock_guard<std::mutex> l(app.mu);
  if (whole) app.records.clear();
  for (auto& [path, n] : *nodes) {
    n->fetched = now;
    app.records[path] = std::shared_ptr<const Node>(std::move(n));
  }
  if (whole) app.prefetched = now;
}

// One object fetched on its own: placed on the screen (GTK 4, through its
// window's record) and kept.
std::shared_ptr<const Node> PublishOne(const AppPtr& app, std::unique_ptr<Node> n, uint64_t timeout) {
  if (app->gtk4 && n->has_extents && (n->w <= 0 || n->h <= 0)) n->has_extents = false;
  if (app->gtk4 && n->has_extents) {
    std::shared_ptr<const Node> keep;
    const Node* w = n.get();
    platform::AXError err;
    // Its window as the last prefetch found it, else up its parents.
    if (!n->window.empty() && n->window != n->self.path) {
      keep = Record(app, n->window, timeout, &err);
      w = keep.get();
    }
    for (int depth = 0; w && depth < 64 && !(IsWindowRole(w->role) && w->parent.path == kRootPath); ++depth) {
      keep = w->parent.null() || w->parent.bus != app->bus ? nullptr : Record(app, w->parent.path, timeout, &err);
      w = keep.get();
    }
    if (w) n->window = w->self.path;
    int32_t x = 0, y = 0;
    if (w && WindowOrigin(*app, *w, &x, &y)) {
      n->x += x;
      n->y += y;
    } else {
      n->has_extents = false;
    }
  }
  std::string path = n->self.path;
  Nodes one;
  one[path] = std::move(n);
  Publish(*app, &one, false);
  std::lock_guard<std::mutex> l(app->mu);
  return app->records[path];
}

// The prefetch's walk as one growing batch (see Bus::Run with a listener).
// Calls are staged, then handed to the batch; `round.wants` follows the
// batch's calls index for index. Everything but the constructor and the
// set-up before Run runs on the accessibility thread.
class Walk {
 public:
  Walk(App& app, Nodes* nodes) : app_(app), nodes_(*nodes) {}

  Round round;

  // An object whose structure is known (from the item cache) but whose
  // children are not: they are asked, and it completes with the answer.
  void ChildrenOf(Node* n) {
    state_[n].pending = 1;
    AddChildren(&stage_, n);
  }

  void Facts(Node* n) {
    auto& st = state_[n];
    if (st.facts) return;
    st.facts = true;
    // GTK 4: nothing in a window that is not shown is shown.
    if (app_.gtk4) {
      const Node* w = WindowAmong(nodes_, n);
      if (w && w != n && !Has(w->states, ATSPI_STATE_SHOWING))
        n->states &= ~(uint64_t{1} << ATSPI_STATE_SHOWING);
    }
    AddFacts(&stage_, n, app_.qt);
  }

  // New children of a complete object: their structure and children asked.
  void Discover(Node* n, int depth) {
    if (depth >= kMaxRounds) return;
    for (const auto& c : n->children) {
      if (c.bus != app_.bus || nodes_.count(c.path) || nodes_.size() >= kMaxNodes) continue;
      auto& slot = nodes_[c.path];
      slot = std::make_unique<Node>();
      Node* child = slot.get();
      child->self = c;
      child->parent = n->self;
      auto& st = state_[child];
      st.pending = 6;  // the five of AddStructure(walked) and GetChildren
      st.walked = true;
      st.depth = depth + 1;
      AddStructure(&stage_, child, true);
      AddChildren(&stage_, child);
    }
  }

  void Answer(size_t index, const Call& c, std::vector<Call>* more) {
    if (index >= round.wants.size()) return;
    const Want want = round.wants[index];
    Node* n = want.node;
    Apply(want, c, app_.bus);
    switch (want.part) {
      case Part::kState:
        if (c.ok()) Normalize(app_, n);
        [[fallthrough]];
      case Part::kRole: case Part::kIfaces: case Part::kName: case Part::kDescription:
      case Part::kChildren: case Part::kChildCount: case Part::kParent: case Part::kChildAt: {
        auto& st = state_[n];
        if (st.pending > 0 && --st.pending == 0) Complete(n);
        break;
      }
      case Part::kActions:
        AddActionNames(&stage_, n);
        break;
      default:
        break;
    }
    Flush(more);
  }

  // Staged calls into the batch (`more`), or into the round before it runs.
  // Whatever walks the tree is urgent; facts are not.
  void Flush(std::vector<Call>* more) {
    for (size_t i = 0; i < stage_.calls.size(); ++i) {
      Call& c = stage_.calls[i];
      switch (stage_.wants[i].part) {
        case Part::kRole: case Part::kState: case Part::kIfaces: case Part::kName:
        case Part::kDescription: case Part::kChildren: case Part::kChildCount: case Part::kChildAt:
          c.urgent = true;
          break;
        default:
          break;
      }
    }
    for (auto& c : stage_.calls) (more ? *more : round.calls).push_back(std::move(c));
    round.wants.insert(round.wants.end(), stage_.wants.begin(), stage_.wants.end());
    stage_.calls.clear();
    stage_.wants.clear();
  }

 private:
  struct State {
    int pending = 0;
    int depth = 0;
    bool walked = false;    // reached from its parent: child count not asked
    bool counted = false;
    bool by_index = false;
    bool facts = false;
  };

  void Complete(Node* n) {
    auto& st = state_[n];
    if (st.walked && !st.counted && Has(n->states, ATSPI_STATE_MANAGES_DESCENDANTS)) {
      st.counted = true;
      st.pending = 1;
      stage_.Add(n, Part::kChildCount, GetProperty(n->self.bus, n->self.path, kAcc, "ChildCount"));
      return;
    }
    if (!st.by_index && NeedsChildrenByIndex(*n)) {
      st.by_index = true;
      AddChildrenByIndex(&stage_, n);
      st.pending = static_cast<int>(n->children.size());
      return;
    }
    if (st.by_index) DropMissingChildren(n);
    Discover(n, st.depth);
    Facts(n);
  }

  App& app_;
  Nodes& nodes_;
  Round stage_;
  std::unordered_map<Node*, State> state_;
};

}  // namespace

bool PrefetchFresh(App& app) {
  std::lock_guard<std::mutex> l(app.mu);
  return app.prefetched.time_since_epoch().count() != 0 && Clock::now() - app.prefetched < kFresh;
}

void Invalidate(App& app, const std::string& path) {
  std::lock_guard<std::mutex> l(app.mu);
  app.records.erase(path);
}

platform::AXError Prefetch(const AppPtr& app, uint64_t timeout) {
  auto asked = Clock::now();
  std::lock_guard<std::mutex> one(app->prefetch_mu);
  {
    std::lock_guard<std::mutex> l(app->mu);
    if (app->prefetched > asked) return platform::kAXErrorSuccess;  // another thread just did it
  }
  Nodes nodes;
  auto node = [&](const Ref& r) -> Node* {
    auto& slot = nodes[r.path];
    if (!slot) {
      slot = std::make_unique<Node>();
      slot->self = r;
    }
    return slot.get();
  };
  Node* root = node(Ref{app->bus, kRootPath});
  Round first;
  AddStructure(&first, root);
  AddChildren(&first, root);
  if (!app->qt && !app->gecko)
    first.Add(root, Part::kItems, Method(app->bus, "/org/a11y/atspi/cache", "org.a11y.atspi.Cache", "GetItems"));
  RunFor(*app, &first.calls, timeout);
  if (auto err = RoundError(first)) return err;
  std::vector<Node*> walk;
  for (size_t i = 0; i < first.calls.size(); ++i) {
    if (first.wants[i].part != Part::kItems) {
      Apply(first.wants[i], first.calls[i], app->bus);
      continue;
    }
    const D& items = first.calls[i].reply.at(0);
    std::unordered_map<std::string, std::vector<std::pair<int32_t, Ref>>> by_parent;
    for (const auto& item : items.v) {
      if (nodes.size() >= kMaxNodes) break;
      Ref self = RefOf(item.at(0), app->bus);
      if (self.bus != app->bus || self.path == kRootPath) continue;
      Node* n = node(self);
      NodeFromItem(item, app->bus, n);
      Normalize(*app, n);
      by_parent[n->parent.path].push_back({n->index_in_parent, self});
    }
    for (auto& [path, n] : nodes) {
      if (n.get() == root) continue;
      if (!ChildrenFromItems(n.get(), &by_parent[path])) walk.push_back(n.get());
    }
  }
  // Children not in the cache (table cells, managed descendants, Qt) and
  // every missing fact, in one growing batch: each object's calls go out as
  // soon as its parent's children are known, its facts as soon as its own
  // structure is, so the walk costs no round per level.
  HideInHiddenWindows(*app, &nodes);
  Walk w(*app, &nodes);
  for (Node* n : walk) w.ChildrenOf(n);
  for (auto& [path, n] : nodes)
    if (n.get() != root) w.Facts(n.get());
  w.Facts(root);
  w.Discover(root, 0);
  w.Flush(nullptr);
  if (!w.round.calls.empty()) {
    RunFor(*app, &w.round.calls, timeout,
           [&w](size_t index, const Call& c, std::vector<Call>* more) { w.Answer(index, c, more); });
    if (auto err = RoundError(w.round)) return err;
  }
  ExtentsToScreen(*app, &nodes);
  Publish(*app, &nodes, true);
  return platform::kAXErrorSuccess;
}

std::shared_ptr<const Node> Record(const AppPtr& app, const std::string& path,
                                   uint64_t timeout, platform::AXError* err) {
  *err = platform::kAXErrorSuccess;
  if (app->gone) {
    *err = platform::kAXErrorCannotComplete;
    return nullptr;
  }
  auto n = std::make_unique<Node>();
  {
    std::lock_guard<std::mutex> l(app->mu);
    auto it = app->records.find(path);
    if (it != app->records.end() && Clock::now() - it->second->fetched < kFresh) return it->second;
    if (it != app->records.end()) n->window = it->second->window;  // objects do not change windows
  }
  n->self = Ref{app->bus, path};
  Round r;
  AddStructure(&r, n.get());
  AddChildren(&r, n.get());
  RunRound(*app, &r, timeout);
  // The object itself must answer: its role read tells whether it exists.
  if (!r.calls[0].ok()) {
    *err = r.calls[0].err == platform::kAXErrorAttributeUnsupported ? platform::kAXErrorInvalidUIElement
                                                                     : r.calls[0].err;
    return nullptr;
  }
  Round facts;
  if (NeedsChildrenByIndex(*n)) AddChildrenByIndex(&facts, n.get());
  AddFacts(&facts, n.get(), app->qt);
  if (n->role == ATSPI_ROLE_MENU && !n->parent.null())
    facts.Add(n.get(), Part::kParentRole, Method(n->parent.bus, n->parent.path, kAcc, "GetRole"));
  RunRound(*app, &facts, timeout);
  DropMissingChildren(n.get());
  Round names;
  AddActionNames(&names, n.get());
  RunRound(*app, &names, timeout);
  return PublishOne(app, std::move(n), timeout);
}

std::shared_ptr<const Node> LiveRecord(const AppPtr& app, const std::string& path,
                                       uint64_t timeout, platform::AXError* err) {
  auto asked = Clock::now();
  auto kept = Record(app, path, timeout, err);
  if (!kept || kept->fetched >= asked) return kept;
  auto n = std::make_unique<Node>(*kept);
  const std::string& b = n->self.bus;
  Round r;
  r.Add(n.get(), Part::kState, Method(b, path, kAcc, "GetState"));
  r.Add(n.get(), Part::kName, GetProperty(b, path, kAcc, "Name"));
  r.Add(n.get(), Part::kDescription, GetProperty(b, path, kAcc, "Description"));
  // Extents whatever the kept states say: the object may have been shown since.
  if (n->ifaces & kComponent)
    r.Add(n.get(), Part::kExtents, Method(b, path, "org.a11y.atspi.Component", "GetExtents", {uint32_t{0}}));
  if (n->ifaces & kValue) r.Add(n.get(), Part::kValue, GetProperty(b, path, "org.a11y.atspi.Value", "CurrentValue"));
  if ((n->ifaces & kText) && (IsTextRole(n->role) || Has(n->states, ATSPI_STATE_EDITABLE)))
    r.Add(n.get(), Part::kText, Method(b, path, "org.a11y.atspi.Text", "GetText", {int32_t{0}, int32_t{-1}}));
  n->has_extents = false;
  RunRound(*app, &r, timeout);
  if (!r.calls[0].ok()) {
    *err = r.calls[0].err == platform::kAXErrorAttributeUnsupported ? platform::kAXErrorInvalidUIElement
                                                                     : r.calls[0].err;
    return nullptr;
  }
  return PublishOne(app, std::move(n), timeout);
}

}  // namespace x11::atspi
