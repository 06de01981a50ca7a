#include "x11/x11_pasteboard.h"

#include "x11/x11_selection_owner.h"

namespace x11 {

namespace {

using platform::PasteboardItem;

class X11Pasteboard final : public platform::Pasteboard {
 public:
  int64_t ChangeCount() override {
    SelectionOwner* owner = SelectionOwner::Get();
    auto count = owner ? owner->ChangeCount() : std::nullopt;
    return count ? *count : -1;
  }

  std::optional<std::vector<PasteboardItem>> ReadItems() override {
    SelectionOwner* owner = SelectionOwner::Get();
    if (!owner) return std::nullopt;
    std::optional<PasteboardItem> item;
    if (auto own = owner->Owned()) {
      // Our own contents: read here, a lazy type from its provider on this
      // thread (the owner thread is not involved, so nothing can deadlock).
      item = own->data;
      if (own->provider) {
        for (const auto& type : own->lazy_types)
          if (auto bytes = own->provider->ProvideData(type)) (*item)[type] = std::move(*bytes);
      }
    } else {
      item = ReadClipboardItem();
    }
    if (!item) return std::nullopt;
    std::vector<PasteboardItem> items;
    if (!item->empty()) items.push_back(std::move(*item));
    return items;
  }

  // Emptying the clipboard: we own it with nothing to offer. Setting the
  // owner to None instead would invite a clipboard manager to put its last
  // copy back.
  bool Clear() override { return Own(SelectionContents{}); }

  // X has one clipboard item: the first item's types, then any type only a
  // later item has.
  bool WriteItems(const std::vector<PasteboardItem>& items) override {
    SelectionContents contents;
    for (const auto& item : items)
      for (const auto& [type, bytes] : item) contents.data.emplace(type, bytes);
    return Own(std::move(contents));
  }

  bool OfferItem(const std::vector<std::string>& types,
                 std::shared_ptr<platform::PasteboardProvider> provider) override {
    if (!provider || types.empty()) return false;
    SelectionContents contents;
    contents.lazy_types = types;
    contents.provider = std::move(provider);
    return Own(std::move(contents));
  }

 private:
  bool Own(SelectionContents contents) {
    SelectionOwner* owner = SelectionOwner::Get();
    if (!owner) return false;
    std::shared_ptr<platform::PasteboardProvider> replaced;
    bool ok = owner->Own(std::move(contents), &replaced);
    // The replaced offer left the pasteboard; no lock is held here.
    if (replaced) replaced->Finished();
    return ok;
  }
};

bool IsPlainTextTarget(const std::string& target) {
  return target == "UTF8_STRING" || target == "STRING" || target == platform::kPasteboardPlainText;
}

}  // namespace

platform::Pasteboard& X11PasteboardService() {
  static X11Pasteboard* service = new X11Pasteboard();
  return *service;
}

std::vector<std::string> TargetsForType(const std::string& type, bool latin1) {
  if (type != platform::kPasteboardPlainText) return {type};
  std::vector<std::string> out = {"UTF8_STRING", platform::kPasteboardPlainText};
  if (latin1) out.push_back("STRING");
  return out;
}

std::string TypeForTarget(const std::string& target) {
  if (IsPlainTextTarget(target)) return platform::kPasteboardPlainText;
  // Targets that name no data: the selection protocol's own, and X atoms
  // that are not MIME-style types.
  if (target.find('/') == std::string::npos) return "";
  return target;
}

const std::vector<std::string>& ReadableTextTargets() {
  static const std::vector<std::string> targets = {platform::kPasteboardHtml,
                                                   platform::kPasteboardMarkdown, "text/uri-list"};
  return targets;
}

std::optional<std::vector<uint8_t>> Utf8ToLatin1(const std::vector<uint8_t>& utf8) {
  std::vector<uint8_t> out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    uint8_t c = utf8[i];
    if (c < 0x80) {
      out.push_back(c);
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size() && (utf8[i + 1] & 0xC0) == 0x80) {
      // U+0080..U+00FF are the two-byte sequences led by C2 and C3.
      out.push_back(static_cast<uint8_t>(((c & 0x03) << 6) | (utf8[i + 1] & 0x3F)));
      ++i;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

std::vector<uint8_t> Latin1ToUtf8(const std::vector<uint8_t>& latin1) {
  std::vector<uint8_t> out;
  out.reserve(latin1.size());
  for (uint8_t c : latin1) {
    if (c < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<uint8_t>(0xC0 | (c >> 6)));
      out.push_back(static_cast<uint8_t>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace x11
