#include "sim/pasteboard.h"

#include <chrono>
#include <memory>
#include <mutex>

#include "sim/hooks.h"
#include "sim/sim_clock.h"

namespace sim {

namespace {

using platform::PasteboardBytes;
using platform::PasteboardItem;
using platform::PasteboardProvider;

// The host process's own reads through the seam are recorded under this name.
constexpr const char* kSelfReader = "self";

struct Item {
  PasteboardItem data;                         // eager types
  std::vector<std::string> provided_types;     // lazily offered types
  std::shared_ptr<PasteboardProvider> provider;  // set for a lazy item
};

struct ReadRecord {
  std::string reader;
  std::string type;
  std::optional<PasteboardBytes> bytes;
  double sim_ms = 0;
};

struct State {
  std::mutex mu;
  int64_t change_count = 0;
  std::string owner;  // who wrote the contents: "self" or a writer's name
  std::vector<Item> items;
  std::vector<ReadRecord> reads;
  uint64_t generation = 0;  // advanced by reset: scripted operations of an older one do nothing
};

State& S() {
  static State* state = new State();  // never destroyed: providers may outlive static teardown
  return *state;
}

double SimMs() {
  return std::chrono::duration<double, std::milli>(Clock().Now().time_since_epoch()).count();
}

// Replaces the contents under the lock; answers the providers that lost their
// item, to be Finished once the lock is released.
std::vector<std::shared_ptr<PasteboardProvider>> ReplaceLocked(State& s, std::vector<Item> items,
                                                               const std::string& owner) {
  std::vector<std::shared_ptr<PasteboardProvider>> lost;
  for (auto& it : s.items)
    if (it.provider) lost.push_back(std::move(it.provider));
  s.items = std::move(items);
  s.owner = owner;
  ++s.change_count;
  return lost;
}

void FinishAll(const std::vector<std::shared_ptr<PasteboardProvider>>& lost) {
  for (const auto& p : lost) p->Finished();
}

void Replace(std::vector<Item> items, const std::string& owner) {
  State& s = S();
  std::vector<std::shared_ptr<PasteboardProvider>> lost;
  {
    std::lock_guard<std::mutex> l(s.mu);
    lost = ReplaceLocked(s, std::move(items), owner);
  }
  FinishAll(lost);
}

std::vector<Item> EagerItems(std::vector<PasteboardItem> items) {
  std::vector<Item> out;
  for (auto& d : items) out.push_back(Item{std::move(d), {}, nullptr});
  return out;
}

bool Offers(const Item& it, const std::string& type) {
  for (const auto& t : it.provided_types)
    if (t == type) return true;
  return false;
}

// Reads `type` of item `index`: eager data from the item, lazy data from its
// provider, asked outside the lock. Records the request.
std::optional<PasteboardBytes> ReadItemType(const std::string& reader, size_t index,
                                            const std::string& type) {
  State& s = S();
  std::shared_ptr<PasteboardProvider> provider;
  std::optional<PasteboardBytes> bytes;
  {
    std::lock_guard<std::mutex> l(s.mu);
    if (index >= s.items.size()) return std::nullopt;
    const Item& it = s.items[index];
    if (it.provider && Offers(it, type)) {
      provider = it.provider;
    } else if (auto found = it.data.find(type); found != it.data.end()) {
      bytes = found->second;
    }
  }
  if (provider) bytes = provider->ProvideData(type);
  std::lock_guard<std::mutex> l(s.mu);
  s.reads.push_back(ReadRecord{reader, type, bytes, SimMs()});
  return bytes;
}

std::string Text(const PasteboardBytes& b) { return std::string(b.begin(), b.end()); }
PasteboardBytes Bytes(const std::string& s) { return PasteboardBytes(s.begin(), s.end()); }

class SimPasteboard final : public platform::Pasteboard {
 public:
  int64_t ChangeCount() override {
    std::lock_guard<std::mutex> l(S().mu);
    return S().change_count;
  }

  std::optional<std::vector<PasteboardItem>> ReadItems() override {
    // The types of every item first, then each one read as any reader would.
    std::vector<std::vector<std::string>> types;
    {
      std::lock_guard<std::mutex> l(S().mu);
      for (const Item& it : S().items) {
        std::vector<std::string> t = it.provided_types;
        for (const auto& [type, bytes] : it.data)
          if (!Offers(it, type)) t.push_back(type);
        types.push_back(std::move(t));
      }
    }
    std::vector<PasteboardItem> out;
    for (size_t i = 0; i < types.size(); ++i) {
      PasteboardItem item;
      for (const auto& type : types[i]) {
        if (auto bytes = ReadItemType(kSelfReader, i, type)) item[type] = std::move(*bytes);
      }
      out.push_back(std::move(item));
    }
    return out;
  }

  bool Clear() override {
    Replace({}, kSelfReader);
    return true;
  }

  bool WriteItems(const std::vector<PasteboardItem>& items) override {
    Replace(EagerItems(items), kSelfReader);
    return true;
  }

  bool OfferItem(const std::vector<std::string>& types,
                 std::shared_ptr<PasteboardProvider> provider) override {
    if (!provider || types.empty()) return false;
    CallSite site;
    site.op = "OfferItem";
    if (Hooks::Get().Enter(site).kind == FaultKind::kError) return false;
    std::vector<Item> items;
    items.push_back(Item{{}, types, std::move(provider)});
    Replace(std::move(items), kSelfReader);
    return true;
  }
};

// ---- desktop-sim commands ----

Json DescribeContents() {
  State& s = S();
  std::lock_guard<std::mutex> l(s.mu);
  Json items = Json::Array();
  for (const Item& it : s.items) {
    Json types = Json::Array();
    Json data = Json::Object();
    for (const auto& t : it.provided_types) types.push(Json(t));
    for (const auto& [type, bytes] : it.data) {
      if (!Offers(it, type)) types.push(Json(type));
      data.set(type, Json(Text(bytes)));
    }
    Json o = Json::Object();
    o.set("types", types);
    o.set("provided", Json(it.provider != nullptr));
    o.set("data", data);
    items.push(o);
  }
  Json out = Json::Object();
  out.set("changeCount", Json(s.change_count));
  out.set("owner", Json(s.owner));
  out.set("items", items);
  return out;
}

Json DescribeReads() {
  State& s = S();
  std::lock_guard<std::mutex> l(s.mu);
  Json out = Json::Array();
  for (const ReadRecord& r : s.reads) {
    Json o = Json::Object();
    o.set("reader", Json(r.reader));
    o.set("type", Json(r.type));
    o.set("value", r.bytes ? Json(Text(*r.bytes)) : Json());
    o.set("simMs", Json(r.sim_ms));
    out.push(o);
  }
  return out;
}

bool ParseItems(const Json& j, std::vector<PasteboardItem>* out, std::string* error) {
  if (!j.is_array()) {
    *error = "expected an array of items ({type: text})";
    return false;
  }
  for (const Json& item : j.items()) {
    if (!item.is_object()) {
      *error = "each item is an object of type -> text";
      return false;
    }
    PasteboardItem p;
    for (const auto& [type, value] : item.members()) {
      if (!value.is_string()) {
        *error = "item type " + type + " needs a text value";
        return false;
      }
      p[type] = Bytes(value.as_string());
    }
    out->push_back(std::move(p));
  }
  return true;
}

// Runs fn now, or after `after_ms` of sim time on the sim's timer thread
// unless the pasteboard was reset in between.
void NowOrLater(double after_ms, std::function<void()> fn) {
  if (!(after_ms > 0)) {
    fn();
    return;
  }
  uint64_t generation;
  {
    std::lock_guard<std::mutex> l(S().mu);
    generation = S().generation;
  }
  auto when = Clock().Now() + std::chrono::duration_cast<platform::Duration>(
                                  std::chrono::duration<double, std::milli>(after_ms));
  Timers::Get().At(when, [generation, fn = std::move(fn)] {
    {
      std::lock_guard<std::mutex> l(S().mu);
      if (S().generation != generation) return;
    }
    fn();
  });
}

}  // namespace

platform::Pasteboard& SimPasteboardService() {
  static SimPasteboard* service = new SimPasteboard();
  return *service;
}

std::optional<PasteboardBytes> ReadPasteboardAs(const std::string& reader, const std::string& type) {
  // The first item that has the type answers, as a reader asking the general
  // pasteboard for a type gets.
  size_t index = 0;
  {
    std::lock_guard<std::mutex> l(S().mu);
    const auto& items = S().items;
    while (index < items.size() && !Offers(items[index], type) && !items[index].data.count(type))
      ++index;
  }
  return ReadItemType(reader, index, type);
}

int64_t WritePasteboardAs(const std::string& writer, std::vector<PasteboardItem> items) {
  Replace(EagerItems(std::move(items)), writer);
  std::lock_guard<std::mutex> l(S().mu);
  return S().change_count;
}

void ResetPasteboard() {
  std::vector<std::shared_ptr<PasteboardProvider>> lost;
  {
    std::lock_guard<std::mutex> l(S().mu);
    ++S().generation;
    S().reads.clear();
    lost = ReplaceLocked(S(), {}, "");
  }
  FinishAll(lost);
}

bool RunPasteboardCommand(const std::string& name, const Json& args, Json* result,
                          std::string* error, bool* handled) {
  *handled = true;
  if (name == "pasteboard") {
    *result = DescribeContents();
    return true;
  }
  if (name == "pasteboardReads") {
    *result = DescribeReads();
    return true;
  }
  const Json& opts = args[1];
  const double after_ms = opts["afterMs"].as_double(0);
  if (name == "readPasteboard") {
    const std::string type = args[0].str_or(platform::kPasteboardPlainText);
    const std::string reader = opts["reader"].str_or("reader");
    if (after_ms > 0) {
      NowOrLater(after_ms, [reader, type] { ReadPasteboardAs(reader, type); });
      return true;
    }
    auto bytes = ReadPasteboardAs(reader, type);
    *result = bytes ? Json(Text(*bytes)) : Json();
    return true;
  }
  if (name == "writePasteboard") {
    std::vector<PasteboardItem> items;
    if (!ParseItems(args[0], &items, error)) return false;
    const std::string writer = opts["writer"].str_or("writer");
    if (after_ms > 0) {
      NowOrLater(after_ms, [writer, items]() mutable { WritePasteboardAs(writer, std::move(items)); });
      return true;
    }
    *result = Json(WritePasteboardAs(writer, std::move(items)));
    return true;
  }
  *handled = false;
  return true;
}

}  // namespace sim
