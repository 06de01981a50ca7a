// Element collection: one batched attribute request per element (single
// reads when the batch is unusable), titles resolved through fallbacks,
// strings cut to their caps against the text budget, and children chosen so
// that huge lists cannot swamp the node budget.
#include <chrono>
#include <utility>

#include "ax/capture_reads.h"
#include "bounds.h"
#include "ax/capture_snapshot.h"
#include "ax/capture_text.h"
#include "ax/token_table.h"

namespace addon {

namespace {

using platform::AXElement;
using platform::Value;
using Op = AxCaptureOperation;

// A call that failed after this long waited out the messaging time-out.
constexpr auto kTimedOutCall = std::chrono::milliseconds(250);

enum Attr : size_t {
  kRole,
  kSubrole,
  kTitle,
  kDescription,
  kValue,
  kPosition,
  kSize,
  kEnabled,
  kFocused,
  kSelected,
  kActionNames,
  kChildren,
  kTitleUIElement,
  kHelp,
  kIdentifier,
  kAttrCount,
};

// AxBatchAttributeNames: the attributes read in one request, in this order.
const std::vector<std::string>& AxBatchAttributeNames() {
  static const std::vector<std::string> names = {
      "AXRole",     "AXSubrole",   "AXTitle",       "AXDescription", "AXValue",
      "AXPosition", "AXSize",      "AXEnabled",     "AXFocused",     "AXSelected",
      "AXActionNames", "AXChildren", "AXTitleUIElement", "AXHelp",   "AXIdentifier"};
  return names;
}

const Op kSingleReadOps[kAttrCount] = {
    Op::kCopyRole,     Op::kCopySubrole, Op::kCopyTitle,   Op::kCopyDescription, Op::kCopyValue,
    Op::kCopyPosition, Op::kCopySize,    Op::kCopyEnabled, Op::kCopyFocused,     Op::kNone,
    Op::kCopyActionNames, Op::kCopyChildren, Op::kCopyTitleUIElement, Op::kCopyHelp,
    Op::kCopyIdentifier};

bool IsTextAttr(size_t a) {
  return a == kRole || a == kSubrole || a == kTitle || a == kDescription || a == kValue ||
         a == kHelp || a == kIdentifier || a == kActionNames;
}

// Whether a value has the type its attribute must have.
bool HasExpectedType(size_t a, const Value& v) {
  switch (a) {
    case kRole:
    case kSubrole:
    case kTitle:
    case kDescription:
    case kHelp:
    case kIdentifier:
      return v.string() != nullptr;
    case kValue:
      return v.string() || v.boolean() || v.number();
    case kPosition:
      return v.point() != nullptr;
    case kSize:
      return v.size() != nullptr;
    case kEnabled:
    case kFocused:
    case kSelected: {
      bool b;
      return ValueAsBool(v, &b);
    }
    case kActionNames:
    case kChildren:
      return v.array() != nullptr;
    case kTitleUIElement:
      return v.element() && *v.element();
    default:
      return false;
  }
}

// The element's attributes: from one batch when usable, otherwise read
// singly on first use (skipped once the deadline has passed or the element
// stopped answering, and for text once the text budget is spent). Strings
// are handed out by moving them out of the answer; each is taken once.
class ElementAttrs {
 public:
  // `checked_at`: when the caller last found the deadline not yet passed.
  ElementAttrs(const AXElement& el, platform::TimePoint deadline, platform::TimePoint checked_at,
               CaptureBudget* budget)
      : el_(el), deadline_(deadline), budget_(budget), last_check_(checked_at) {}

  void LoadBatch() {
    SetCaptureOperation(Op::kCopyMultipleAttributeValues);
    auto err =
        platform::Get().ax().CopyMultipleAttributeValues(el_, AxBatchAttributeNames(), &values_);
    if (err == platform::kAXErrorCannotComplete) NoteTimeOut();
    if (err != platform::kAXErrorSuccess || values_.size() != kAttrCount) {
      values_.clear();
      values_.resize(kAttrCount);  // slots for single reads
      return;
    }
    batch_ = true;
    for (size_t a = 0; a < kAttrCount; ++a) {
      loaded_[a] = true;
      present_[a] = !values_[a].error() && HasExpectedType(a, values_[a]);
    }
  }

  bool batch() const { return batch_; }

  Value* Get(size_t a) {
    if (IsTextAttr(a) && budget_->text == 0) return nullptr;
    if (!loaded_[a]) {
      loaded_[a] = true;
      if (!Skipped()) {
        platform::AXError err =
            DiagCopyAttribute(el_, AxBatchAttributeNames()[a].c_str(), kSingleReadOps[a],
                              &values_[a]);
        if (err == platform::kAXErrorCannotComplete) NoteTimeOut();
        present_[a] = err == platform::kAXErrorSuccess && HasExpectedType(a, values_[a]);
      }
    }
    return present_[a] ? &values_[a] : nullptr;
  }

  // A string attribute moved out and cut to `cap` against the text budget.
  std::optional<std::string> Take(size_t a, size_t cap) {
    Value* v = Get(a);
    if (!v) return std::nullopt;
    std::string s = std::move(*std::get_if<std::string>(&v->v));
    present_[a] = false;
    LimitSnapshotText(&s, cap, &budget_->text);
    return s;
  }
  // A string attribute left in place (it is read again later).
  const std::string* Peek(size_t a) {
    Value* v = Get(a);
    return v ? v->string() : nullptr;
  }

  bool Bool(size_t a, bool* out) {
    Value* v = Get(a);
    return v && ValueAsBool(*v, out);
  }

  bool Expired() {
    if (!expired_) {
      last_check_ = platform::Get().clock().Now();
      expired_ = last_check_ >= deadline_;
    }
    return expired_;
  }

  // No further call on this element: the deadline has passed, or the element
  // did not answer within the messaging time-out (each further call would
  // wait the time-out out again, so one hung element could eat the deadline).
  bool Skipped() { return unresponsive_ || Expired(); }

 private:
  // A call that failed with "cannot complete" after waiting about a messaging
  // time-out (measured from the deadline check made just before it) means
  // the element is not answering; a quick "cannot complete" is an ordinary
  // error of that one attribute.
  void NoteTimeOut() {
    if (platform::Get().clock().Now() - last_check_ >= kTimedOutCall) unresponsive_ = true;
  }

  const AXElement& el_;
  platform::TimePoint deadline_;
  CaptureBudget* budget_;
  platform::TimePoint last_check_;
  bool batch_ = false;
  bool expired_ = false;
  bool unresponsive_ = false;
  bool loaded_[kAttrCount] = {};
  bool present_[kAttrCount] = {};
  // Filled by the batch answer, or sized for single reads when it fails.
  std::vector<Value> values_;
};

// Title fallbacks: AXTitle, AXDescription, the title element's AXValue then
// AXTitle, AXHelp, AXIdentifier; the first non-empty one wins.
std::optional<std::string> ResolveTitle(ElementAttrs& attrs, CaptureBudget* budget) {
  auto pick = [budget](std::string s) -> std::optional<std::string> {
    LimitSnapshotText(&s, kSnapshotStringCap, &budget->text);
    return s;
  };
  if (const std::string* title = attrs.Peek(kTitle); title && !title->empty()) {
    return attrs.Take(kTitle, kSnapshotStringCap);
  }
  if (const std::string* d = attrs.Peek(kDescription); d && !d->empty()) return pick(*d);
  if (Value* t = attrs.Get(kTitleUIElement); t && budget->text > 0) {
    const AXElement& title_el = *t->element();
    std::string s;
    if (!attrs.Skipped()) {
      Value v;
      if (DiagCopyAttribute(title_el, "AXValue", Op::kCopyValue, &v) ==
              platform::kAXErrorSuccess &&
          CoerceAxValueToString(v, &s) && !s.empty()) {
        return pick(std::move(s));
      }
    }
    if (!attrs.Skipped() && DiagCopyString(title_el, "AXTitle", Op::kCopyTitle, &s) &&
        !s.empty()) {
      return pick(std::move(s));
    }
  }
  for (size_t a : {kHelp, kIdentifier}) {
    if (const std::string* v = attrs.Peek(a); v && !v->empty()) {
      return attrs.Take(a, kSnapshotStringCap);
    }
  }
  return std::nullopt;
}

void CollectActions(ElementAttrs& attrs, const AXElement& el, CaptureBudget* budget,
                    std::vector<std::string>* out) {
  auto add = [&](const std::string& name) {
    if (out->size() >= kCaptureMaxActions || budget->text == 0) return false;
    out->push_back(name);
    LimitSnapshotText(&out->back(), kSnapshotActionNameCap, &budget->text);
    return true;
  };
  if (attrs.batch()) {
    // The list may be shared with the backend: read it, never take from it.
    const Value* v = attrs.Get(kActionNames);
    if (!v) return;
    for (const Value& item : *v->array()) {
      if (const std::string* name = item.string()) {
        if (!add(*name)) break;
      }
    }
    return;
  }
  if (attrs.Skipped() || budget->text == 0) return;
  SetCaptureOperation(Op::kCopyActionNames);
  std::vector<std::string> names;
  if (platform::Get().ax().CopyActionNames(el, &names) != platform::kAXErrorSuccess) return;
  for (const std::string& name : names) {
    if (!add(name)) break;
  }
}

// One traversal's fixed inputs.
struct Walk {
  pid_t pid;
  CaptureBudget* budget;
  platform::TimePoint deadline;
  uint64_t epoch;
  const AXElement& default_button;
};

bool CollectInto(const Walk& walk, const AXElement& element, int depth,
                 AxElementSnapshotData* record);

void CollectChildren(const Walk& walk, ElementAttrs& attrs, const AXElement& el, int depth,
                     AxElementSnapshotData* record) {
  if (depth > kCaptureMaxDepth - 1 || walk.budget->nodes < 1) return;
  // The children stay owned by the answer; no handle is copied to choose them.
  std::vector<const AXElement*> all;
  if (Value* v = attrs.Get(kChildren)) {
    all.reserve(v->array()->size());
    for (const Value& item : *v->array()) {
      if (const AXElement* child = item.element(); child && *child) all.push_back(child);
    }
  }
  size_t total = all.size();
  if (total == 0) return;

  std::vector<AXElement> visible_list;
  std::vector<const AXElement*> visible;
  size_t offset = 0;
  if (total > kCaptureMaxChildren && !attrs.Skipped()) {
    DiagCopyElementArray(el, "AXVisibleChildren", Op::kCopyChildren, &visible_list);
    if (!visible_list.empty() && visible_list.size() < total) {
      for (const AXElement& v : visible_list) visible.push_back(&v);
      for (size_t i = 0; i < total; ++i) {
        if (all[i]->SameAs(visible_list.front())) {
          offset = i;
          break;
        }
      }
    }
  }
  bool use_visible = !visible.empty();
  const std::vector<const AXElement*>& chosen = use_visible ? visible : all;
  size_t count;
  if (use_visible) {
    count = visible.size();
  } else if (total <= kCaptureChildrenListLimit) {
    count = std::min(total, kCaptureMaxChildren);
  } else {
    count = 0;
  }
  if (count < total) {
    record->children_total = static_cast<int32_t>(std::min<size_t>(total, INT32_MAX));
    record->children_offset = static_cast<int32_t>(std::min<size_t>(offset, INT32_MAX));
  }
  record->children.reserve(count);
  // A child past the deadline yields nothing, which ends the list.
  for (size_t i = 0; i < count && walk.budget->nodes >= 1; ++i) {
    record->children.emplace_back();
    if (!CollectInto(walk, *chosen[i], depth + 1, &record->children.back())) {
      record->children.pop_back();
      break;
    }
  }
}

bool CollectInto(const Walk& walk, const AXElement& element, int depth,
                 AxElementSnapshotData* record) {
  if (!element || walk.budget->nodes < 1) return false;
  platform::TimePoint now = platform::Get().clock().Now();
  if (now >= walk.deadline) return false;
  CaptureBudget* budget = walk.budget;

  record->ref = StoreToken(element, walk.pid, walk.epoch);
  pid_t owner = 0;
  record->owner_pid = ReadElementPid(element, &owner) && owner >= 1 ? owner : walk.pid;
  if (walk.default_button && element.SameAs(walk.default_button)) record->default_action = true;
  budget->nodes -= 1;
  CountCaptureNodeVisited();

  ElementAttrs attrs(element, walk.deadline, now, budget);
  attrs.LoadBatch();

  if (auto role = attrs.Take(kRole, kSnapshotStringCap)) record->role = std::move(*role);
  record->subrole = attrs.Take(kSubrole, kSnapshotStringCap);
  if (record->subrole && *record->subrole == "AXDefaultButton") record->default_action = true;
  if (record->role == "AXButton") {
    const std::string* id = attrs.Peek(kIdentifier);
    if (id && *id == "OKButton") record->default_action = true;
  }

  record->title = ResolveTitle(attrs, budget);
  record->description = attrs.Take(kDescription, kSnapshotStringCap);
  if (Value* v = attrs.Get(kValue)) {
    std::string text;
    if (std::string* s = std::get_if<std::string>(&v->v)) {
      text = std::move(*s);
    } else {
      CoerceAxValueToString(*v, &text);
    }
    LimitSnapshotText(&text, kSnapshotValueCap, &budget->text);
    record->value = std::move(text);
  }

  platform::Rect frame;
  if (const Value* p = attrs.Get(kPosition)) frame.x = p->point()->x, frame.y = p->point()->y;
  if (const Value* s = attrs.Get(kSize)) {
    frame.width = s->size()->width;
    frame.height = s->size()->height;
  }
  record->bounds = ToIntBounds(frame);

  attrs.Bool(kEnabled, &record->enabled);
  attrs.Bool(kFocused, &record->focused);
  bool selected = false;
  if (attrs.Bool(kSelected, &selected)) record->selected = selected;

  CollectActions(attrs, element, budget, &record->actions);

  if (!attrs.Skipped()) {
    static const std::string kValueAttr = "AXValue";
    SetCaptureOperation(Op::kIsValueSettable);
    bool settable = false;
    if (platform::Get().ax().IsAttributeSettable(element, kValueAttr, &settable) ==
        platform::kAXErrorSuccess) {
      record->editable = settable;
    }
  }

  CollectChildren(walk, attrs, element, depth, record);
  return true;
}

}  // namespace

bool CollectElementSnapshotInto(const AXElement& element, pid_t pid, CaptureBudget* budget,
                                int depth, platform::TimePoint deadline, uint64_t epoch,
                                const AXElement& default_button,
                                std::vector<AxElementSnapshotData>* out) {
  Walk walk{pid, budget, deadline, epoch, default_button};
  out->emplace_back();
  if (CollectInto(walk, element, depth, &out->back())) return true;
  out->pop_back();
  return false;
}

void CollectMenuBarElements(const AXElement& app, pid_t pid, CaptureBudget* budget,
                            platform::TimePoint deadline, uint64_t epoch,
                            const AXElement& default_button,
                            std::vector<AxElementSnapshotData>* out) {
  SetCapturePhase(AxCapturePhase::kMenuTraversal);
  if (DeadlinePassed(deadline)) return;
  AXElement menu_bar;
  if (!DiagCopyElement(app, "AXMenuBar", Op::kCopyMenuBar, &menu_bar)) return;
  std::vector<AXElement> items;
  DiagCopyElementArray(menu_bar, "AXChildren", Op::kCopyChildren, &items);
  for (size_t index = 0; index < items.size(); ++index) {
    if (budget->nodes < 1 || DeadlinePassed(deadline)) break;
    const AXElement& item = items[index];
    CollectElementSnapshotInto(item, pid, budget, kCaptureMaxDepth, deadline, epoch,
                               default_button, out);
    std::vector<AXElement> menus;
    DiagCopyElementArray(item, "AXChildren", Op::kCopyChildren, &menus);
    for (const AXElement& menu : menus) {
      if (budget->nodes < 1 || DeadlinePassed(deadline)) break;
      std::string role;
      if (!DiagCopyString(menu, "AXRole", Op::kCopyRole, &role) || role != "AXMenu") continue;
      Value pos, size;
      bool open =
          DiagCopyAttribute(menu, "AXPosition", Op::kCopyPosition, &pos) ==
              platform::kAXErrorSuccess &&
          pos.point() &&
          DiagCopyAttribute(menu, "AXSize", Op::kCopySize, &size) == platform::kAXErrorSuccess &&
          size.size() && size.size()->width > 0 && size.size()->height > 0;
      if (open) {
        CollectElementSnapshotInto(menu, pid, budget, 1, deadline, epoch, default_button, out);
      } else if (index == 2) {
        CollectElementSnapshotInto(menu, pid, budget, kCaptureMaxDepth - 1, deadline, epoch,
                                   default_button, out);
      }
    }
  }
}

}  // namespace addon
