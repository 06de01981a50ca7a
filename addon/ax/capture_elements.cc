// Element collection: one batched attribute request per element (single
// reads when the batch is unusable), titles resolved through fallbacks,
// strings cut to their caps against the text budget, and children chosen so
// that huge lists cannot swamp the node budget.
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
// singly on first use (skipped once the deadline has passed, and for text
// once the text budget is spent).
class ElementAttrs {
 public:
  ElementAttrs(const AXElement& el, platform::TimePoint deadline, CaptureBudget* budget)
      : el_(el), deadline_(deadline), budget_(budget) {}

  void LoadBatch() {
    if (DeadlinePassed(deadline_)) {
      expired_ = true;
      return;
    }
    SetCaptureOperation(Op::kCopyMultipleAttributeValues);
    std::vector<Value> answer;
    auto err = platform::Get().ax().CopyMultipleAttributeValues(el_, AxBatchAttributeNames(),
                                                                &answer);
    if (err == platform::kAXErrorCannotComplete) {
      unresponsive_ = true;
      return;
    }
    if (err != platform::kAXErrorSuccess || answer.size() != kAttrCount) return;
    batch_ = true;
    for (size_t a = 0; a < kAttrCount; ++a) {
      loaded_[a] = true;
      if (!answer[a].error() && HasExpectedType(a, answer[a])) {
        values_[a] = std::move(answer[a]);
        present_[a] = true;
      }
    }
  }

  bool batch() const { return batch_; }

  const Value* Get(size_t a) {
    if (IsTextAttr(a) && budget_->text == 0) return nullptr;
    if (!loaded_[a]) {
      loaded_[a] = true;
      if (!Skipped()) {
        Value v;
        platform::AXError err =
            DiagCopyAttribute(el_, AxBatchAttributeNames()[a].c_str(), kSingleReadOps[a], &v);
        if (err == platform::kAXErrorCannotComplete) unresponsive_ = true;
        if (err == platform::kAXErrorSuccess && HasExpectedType(a, v)) {
          values_[a] = std::move(v);
          present_[a] = true;
        }
      }
    }
    return present_[a] ? &values_[a] : nullptr;
  }

  // A string attribute cut to `cap` against the text budget.
  std::optional<std::string> Text(size_t a, size_t cap) {
    const Value* v = Get(a);
    if (!v) return std::nullopt;
    std::string s = *v->string();
    LimitSnapshotText(&s, cap, &budget_->text);
    return s;
  }

  bool Bool(size_t a, bool* out) {
    const Value* v = Get(a);
    return v && ValueAsBool(*v, out);
  }

  bool Expired() {
    if (!expired_) expired_ = DeadlinePassed(deadline_);
    return expired_;
  }

  // No further call on this element: the deadline has passed, or the element
  // did not answer within the messaging time-out (each further call would
  // wait the time-out out again, so one hung element could eat the deadline).
  bool Skipped() { return unresponsive_ || Expired(); }

 private:
  const AXElement& el_;
  platform::TimePoint deadline_;
  CaptureBudget* budget_;
  bool batch_ = false;
  bool expired_ = false;
  bool unresponsive_ = false;
  bool loaded_[kAttrCount] = {};
  bool present_[kAttrCount] = {};
  Value values_[kAttrCount];
};

// Title fallbacks: AXTitle, AXDescription, the title element's AXValue then
// AXTitle, AXHelp, AXIdentifier; the first non-empty one wins.
std::optional<std::string> ResolveTitle(ElementAttrs& attrs, CaptureBudget* budget,
                                        platform::TimePoint deadline) {
  auto pick = [budget](std::string s) -> std::optional<std::string> {
    if (s.empty()) return std::nullopt;
    LimitSnapshotText(&s, kSnapshotStringCap, &budget->text);
    return s;
  };
  for (size_t a : {kTitle, kDescription}) {
    const Value* v = attrs.Get(a);
    if (v && !v->string()->empty()) return pick(*v->string());
  }
  if (const Value* t = attrs.Get(kTitleUIElement); t && budget->text > 0) {
    const AXElement& title_el = *t->element();
    std::string s;
    if (!DeadlinePassed(deadline)) {
      Value v;
      if (DiagCopyAttribute(title_el, "AXValue", Op::kCopyValue, &v) ==
              platform::kAXErrorSuccess &&
          CoerceAxValueToString(v, &s) && !s.empty()) {
        return pick(std::move(s));
      }
    }
    if (!DeadlinePassed(deadline) && DiagCopyString(title_el, "AXTitle", Op::kCopyTitle, &s) &&
        !s.empty()) {
      return pick(std::move(s));
    }
  }
  for (size_t a : {kHelp, kIdentifier}) {
    const Value* v = attrs.Get(a);
    if (v && !v->string()->empty()) return pick(*v->string());
  }
  return std::nullopt;
}

void CollectActions(ElementAttrs& attrs, const AXElement& el, CaptureBudget* budget,
                    std::vector<std::string>* out) {
  auto add = [&](const std::string& name) {
    if (out->size() >= kCaptureMaxActions || budget->text == 0) return false;
    std::string s = name;
    LimitSnapshotText(&s, kSnapshotActionNameCap, &budget->text);
    out->push_back(std::move(s));
    return true;
  };
  if (attrs.batch()) {
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

void CollectChildren(ElementAttrs& attrs, const AXElement& el, pid_t pid, CaptureBudget* budget,
                     int depth, platform::TimePoint deadline, uint64_t epoch,
                     const AXElement& default_button, AxElementSnapshotData* record) {
  if (depth > kCaptureMaxDepth - 1 || budget->nodes < 1) return;
  std::vector<AXElement> all;
  if (const Value* v = attrs.Get(kChildren)) {
    all.reserve(v->array()->size());
    for (const Value& item : *v->array()) {
      if (item.element() && *item.element()) all.push_back(*item.element());
    }
  }
  size_t total = all.size();
  if (total == 0) return;

  std::vector<AXElement> visible;
  bool use_visible = false;
  size_t offset = 0;
  if (total > kCaptureMaxChildren && !attrs.Skipped()) {
    DiagCopyElementArray(el, "AXVisibleChildren", Op::kCopyChildren, &visible);
    if (!visible.empty() && visible.size() < total) {
      use_visible = true;
      for (size_t i = 0; i < total; ++i) {
        if (all[i].SameAs(visible.front())) {
          offset = i;
          break;
        }
      }
    }
  }
  const std::vector<AXElement>& chosen = use_visible ? visible : all;
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
  for (size_t i = 0; i < count; ++i) {
    if (budget->nodes < 1 || DeadlinePassed(deadline)) break;
    auto child =
        CollectElementSnapshot(chosen[i], pid, budget, depth + 1, deadline, epoch, default_button);
    if (!child) break;
    record->children.push_back(std::move(*child));
  }
}

}  // namespace

std::optional<AxElementSnapshotData> CollectElementSnapshot(
    const AXElement& element, pid_t pid, CaptureBudget* budget, int depth,
    platform::TimePoint deadline, uint64_t epoch, const AXElement& default_button) {
  if (!element || budget->nodes < 1 || DeadlinePassed(deadline)) return std::nullopt;

  AxElementSnapshotData record;
  record.ref = StoreToken(element, pid, epoch);
  pid_t owner = 0;
  record.owner_pid = ReadElementPid(element, &owner) && owner >= 1 ? owner : pid;
  if (default_button && element.SameAs(default_button)) record.default_action = true;
  budget->nodes -= 1;
  CountCaptureNodeVisited();

  ElementAttrs attrs(element, deadline, budget);
  attrs.LoadBatch();

  if (auto role = attrs.Text(kRole, kSnapshotStringCap)) record.role = std::move(*role);
  record.subrole = attrs.Text(kSubrole, kSnapshotStringCap);
  if (record.subrole && *record.subrole == "AXDefaultButton") record.default_action = true;
  if (record.role == "AXButton") {
    const Value* id = attrs.Get(kIdentifier);
    if (id && *id->string() == "OKButton") record.default_action = true;
  }

  record.title = ResolveTitle(attrs, budget, deadline);
  record.description = attrs.Text(kDescription, kSnapshotStringCap);
  if (const Value* v = attrs.Get(kValue)) {
    std::string text;
    if (CoerceAxValueToString(*v, &text)) {
      LimitSnapshotText(&text, kSnapshotValueCap, &budget->text);
      record.value = std::move(text);
    }
  }

  platform::Rect frame;
  if (const Value* p = attrs.Get(kPosition)) frame.x = p->point()->x, frame.y = p->point()->y;
  if (const Value* s = attrs.Get(kSize)) {
    frame.width = s->size()->width;
    frame.height = s->size()->height;
  }
  record.bounds = ToIntBounds(frame);

  attrs.Bool(kEnabled, &record.enabled);
  attrs.Bool(kFocused, &record.focused);
  bool selected = false;
  if (attrs.Bool(kSelected, &selected)) record.selected = selected;

  CollectActions(attrs, element, budget, &record.actions);

  if (!attrs.Skipped()) {
    SetCaptureOperation(Op::kIsValueSettable);
    bool settable = false;
    if (platform::Get().ax().IsAttributeSettable(element, "AXValue", &settable) ==
        platform::kAXErrorSuccess) {
      record.editable = settable;
    }
  }

  CollectChildren(attrs, element, pid, budget, depth, deadline, epoch, default_button, &record);
  return record;
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
    auto item_record = CollectElementSnapshot(item, pid, budget, kCaptureMaxDepth, deadline,
                                              epoch, default_button);
    if (item_record) out->push_back(std::move(*item_record));
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
      std::optional<AxElementSnapshotData> menu_record;
      if (open) {
        menu_record = CollectElementSnapshot(menu, pid, budget, 1, deadline, epoch, default_button);
      } else if (index == 2) {
        menu_record = CollectElementSnapshot(menu, pid, budget, kCaptureMaxDepth - 1, deadline,
                                             epoch, default_button);
      }
      if (menu_record) out->push_back(std::move(*menu_record));
    }
  }
}

}  // namespace addon
