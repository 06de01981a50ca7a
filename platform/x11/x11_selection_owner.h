// The CLIPBOARD owner: one thread with its own X connection and a hidden
// leader window. It is the only user of that connection; other threads hand
// it commands and wait (bounded) for their answers, and it never waits for
// them: providers are called on a separate provider thread, so a provider
// that needs the host thread cannot stall the owner while the host thread
// waits for a command.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/pasteboard.h"

namespace x11 {

struct SelectionContents {
  platform::PasteboardItem data;        // written items: type -> bytes
  std::vector<std::string> lazy_types;  // an offered item: its types...
  std::shared_ptr<platform::PasteboardProvider> provider;  // ...and its provider
  bool empty() const { return data.empty() && !provider; }
};

class SelectionOwner {
 public:
  // The owner, started on first use; null when no display can be opened.
  static SelectionOwner* Get();

  // The change counter after every owner change the server has reported up
  // to now. nullopt when the owner thread does not answer.
  std::optional<int64_t> ChangeCount();
  // Makes this process the CLIPBOARD owner serving `contents` (empty
  // contents: an empty clipboard). False when the server did not make us the
  // owner. *replaced receives the provider of the offer it replaced, for the
  // caller to finish.
  bool Own(SelectionContents contents, std::shared_ptr<platform::PasteboardProvider>* replaced);
  // What this process serves while it owns CLIPBOARD (after handling every
  // event the server sent so far); nullopt when another client owns it.
  std::optional<SelectionContents> Owned();

  struct Impl;

 private:
  explicit SelectionOwner(Impl* impl) : impl_(impl) {}
  Impl* impl_;
};

}  // namespace x11
