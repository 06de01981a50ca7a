// The write step of a provided paste against pasteboards the simulated
// desktop cannot play: one without the facility, and one whose offer fails.
#include <gtest/gtest.h>

#include <cstring>

#include "input/provided_paste.h"

namespace addon {
namespace {

using platform::PasteboardItem;

PasteboardItem Item(std::initializer_list<std::pair<const char*, const char*>> types) {
  PasteboardItem item;
  for (const auto& [type, text] : types) item[type] = platform::PasteboardBytes(text, text + strlen(text));
  return item;
}

// Holds eager items; refuses every offer.
class RefusingPasteboard : public platform::Pasteboard {
 public:
  int64_t ChangeCount() override { return count; }
  std::optional<std::vector<PasteboardItem>> ReadItems() override { return items; }
  bool Clear() override {
    items.clear();
    ++count;
    return true;
  }
  bool WriteItems(const std::vector<PasteboardItem>& written) override {
    items = written;
    ++count;
    return true;
  }
  bool OfferItem(const std::vector<std::string>&, std::shared_ptr<platform::PasteboardProvider>) override {
    return false;
  }
  std::vector<PasteboardItem> items;
  int64_t count = 7;
};

std::unique_ptr<ProvidedPasteSession> TextSession() {
  auto s = std::make_unique<ProvidedPasteSession>();
  s->types = ProvidedPasteTypes("text");
  return s;
}

TEST(ProvidedPasteWrite, WithoutAPasteboardTheWriteFailsAndKeepsNoProvider) {
  auto s = TextSession();
  EXPECT_FALSE(WriteProvidedPaste(platform::UnavailablePasteboard::Instance(), *s, 1));
  EXPECT_TRUE(s->saved_items.empty());
  EXPECT_EQ(s->item, nullptr);
  EXPECT_EQ(platform::UnavailablePasteboard::Instance().ChangeCount(), -1);
}

TEST(ProvidedPasteWrite, AFailedOfferRestoresTheSnapshotWithoutEmptyItems) {
  RefusingPasteboard pb;
  pb.items = {Item({{"text/plain;charset=utf-8", "a"}, {"text/html", "<i>a</i>"}}), PasteboardItem{},
              Item({{"application/x-note", "n"}})};
  auto s = TextSession();
  EXPECT_FALSE(WriteProvidedPaste(pb, *s, 1));
  ASSERT_EQ(pb.items.size(), 2u);
  EXPECT_EQ(pb.items[0], Item({{"text/plain;charset=utf-8", "a"}, {"text/html", "<i>a</i>"}}));
  EXPECT_EQ(pb.items[1], Item({{"application/x-note", "n"}}));
  EXPECT_EQ(s->saved_items, pb.items);
}

TEST(ProvidedPasteWrite, AProviderWhosePasteIsGoneAnswersNothing) {
  KorvoOzaPasteDataProvider provider(987654321);
  EXPECT_EQ(provider.ProvideData(platform::kPasteboardPlainText), std::nullopt);
  provider.Finished();  // nothing to mark
}

}  // namespace
}  // namespace addon
