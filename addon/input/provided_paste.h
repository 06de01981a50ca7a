// Provided paste: text put on the general pasteboard as one lazily provided
// item, so the add-on sees every read of it. A session lives in a
// process-wide registry under its token from begin until finish; the
// provider, the registry and in-flight awaits share it by reference.
#pragma once

#include <napi.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/pasteboard.h"

namespace addon {

struct ProvidedPasteSession {
  // Written at begin, before any other thread sees the session; read-only after.
  std::map<std::string, platform::PasteboardBytes> data_by_type;
  std::vector<std::string> types;
  std::vector<platform::PasteboardItem> saved_items;
  int64_t change_count = 0;
  std::shared_ptr<platform::PasteboardProvider> item;  // the provider behind the written item

  // Guard the counters and flags below; cv is signalled on every change.
  std::mutex mu;
  std::condition_variable cv;
  uint32_t reads = 0;
  uint32_t reads_at_dispatch = 0;
  bool dispatched = false;
  bool finished = false;
};

using ProvidedPasteSessionPtr = std::shared_ptr<ProvidedPasteSession>;

// The data provider of a session's item: it knows only the token and finds
// the session in the registry on every callback, run on the main thread.
class KorvoOzaPasteDataProvider final : public platform::PasteboardProvider {
 public:
  explicit KorvoOzaPasteDataProvider(uint64_t token) : token_(token) {}
  std::optional<platform::PasteboardBytes> ProvideData(const std::string& type) override;
  void Finished() override;
  uint64_t token() const { return token_; }

 private:
  const uint64_t token_;
};

// The types offered for a format ("text", "html", "md"); empty for any other.
std::vector<std::string> ProvidedPasteTypes(const std::string& format);

// Registry (guarded by one mutex, held only for the lookup).
ProvidedPasteSessionPtr FindProvidedPaste(uint64_t token);

// Write step of begin, on the main thread: snapshots the pasteboard into
// saved_items, clears it and offers the session's item. On failure restores
// the saved items at once and answers false.
bool WriteProvidedPaste(platform::Pasteboard& pasteboard, ProvidedPasteSession& session,
                        uint64_t token);
// Clears the pasteboard and writes the saved items back (main thread).
void RestorePasteboard(platform::Pasteboard& pasteboard,
                       const std::vector<platform::PasteboardItem>& saved);

// The general pasteboard's change count, read on the main thread.
int64_t MainThreadChangeCount();

// A token argument: false when not a number; a number that is not a whole
// number from 1 up names no session and reads as 0.
bool ReadPasteToken(const Napi::Value& v, uint64_t* token);

}  // namespace addon
