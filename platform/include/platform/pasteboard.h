// Pasteboard service: the system's general clipboard. Its contents are items,
// each holding data under one or more types; a writer may offer an item
// lazily, in which case nothing is copied up front and the backend asks the
// writer's provider every time a reader requests one of the offered types.
// A change count lets a writer tell whether anybody replaced the contents
// since it looked.
//
// Types are MIME-style names (the constants below, or any other name another
// application used). A backend maps them to its own names: over the X11
// CLIPBOARD selection "text/plain;charset=utf-8" is also served as
// UTF8_STRING, and every SelectionRequest for an offered target is one call of
// ProvideData; SelectionClear (another client took the selection) is Finished.
//
// Threads: the methods of Pasteboard may be called on any thread. The
// provider callbacks arrive on whatever thread the backend serves a reader
// on, except that a read by this process of its own offer (ReadItems while
// the offer is the contents) calls the provider on the calling thread,
// directly and not through the system, so a caller that blocks the thread it
// serves providers on cannot deadlock. The backend holds none of its locks
// while it calls a provider, so a provider may call back into the service.
//
// A backend without a pasteboard keeps the default (UnavailablePasteboard):
// ChangeCount answers -1, ReadItems answers nullopt, Clear, WriteItems and
// OfferItem answer false, and no provider is ever called or kept.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

inline constexpr const char* kPasteboardPlainText = "text/plain;charset=utf-8";
inline constexpr const char* kPasteboardHtml = "text/html";
inline constexpr const char* kPasteboardMarkdown = "text/markdown";

using PasteboardBytes = std::vector<uint8_t>;
// One item: type -> bytes.
using PasteboardItem = std::map<std::string, PasteboardBytes>;

// The data behind a lazily offered item.
class PasteboardProvider {
 public:
  virtual ~PasteboardProvider() = default;
  // A reader asked for `type` (one of the offered types). Called once per
  // request; the backend keeps no copy, so a second request calls again.
  // nullopt: no data for that type (the reader gets none).
  virtual std::optional<PasteboardBytes> ProvideData(const std::string& type) = 0;
  // The item left the pasteboard (cleared, or replaced by another writer):
  // ownership is lost and no further ProvideData call follows. Called at most
  // once; the backend then drops its reference to the provider.
  virtual void Finished() = 0;
};

class Pasteboard {
 public:
  virtual ~Pasteboard() = default;
  // Advances on every change of the contents (a clear, a write, an offer, by
  // this process or any other). -1: no pasteboard.
  virtual int64_t ChangeCount() = 0;
  // The current contents, one entry per item with every type that has data;
  // reading a lazily offered type asks its provider, as any reader does.
  // nullopt: the pasteboard could not be read.
  virtual std::optional<std::vector<PasteboardItem>> ReadItems() = 0;
  // Empties the pasteboard (the previous lazy item, if any, is Finished).
  virtual bool Clear() = 0;
  // Makes `items` the contents (after Clear: writes them all in one step).
  virtual bool WriteItems(const std::vector<PasteboardItem>& items) = 0;
  // Makes one item offering `types` the contents, its data provided lazily
  // by `provider`. False (and the provider is neither called nor kept) when
  // the item could not be written.
  virtual bool OfferItem(const std::vector<std::string>& types,
                         std::shared_ptr<PasteboardProvider> provider) = 0;
};

class UnavailablePasteboard final : public Pasteboard {
 public:
  int64_t ChangeCount() override { return -1; }
  std::optional<std::vector<PasteboardItem>> ReadItems() override { return std::nullopt; }
  bool Clear() override { return false; }
  bool WriteItems(const std::vector<PasteboardItem>&) override { return false; }
  bool OfferItem(const std::vector<std::string>&, std::shared_ptr<PasteboardProvider>) override {
    return false;
  }
  static UnavailablePasteboard& Instance() {
    static UnavailablePasteboard* instance = new UnavailablePasteboard();
    return *instance;
  }
};

}  // namespace platform
