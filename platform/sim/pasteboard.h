// The simulated desktop's general pasteboard: items with several types, a
// change count advanced by every clear, write and offer, lazily offered items
// whose provider is asked on every read, and scripted "reader" and "writer"
// processes (now, or after a delay on the sim clock). Applications that get a
// Command-V paste the plain text into their focused text element, read
// through the pasteboard like any other reader.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/pasteboard.h"
#include "sim/json.h"

namespace sim {

platform::Pasteboard& SimPasteboardService();

// A reader process asks for `type` now, on the calling thread (a lazily
// offered type calls its provider). Every request is recorded.
std::optional<platform::PasteboardBytes> ReadPasteboardAs(const std::string& reader,
                                                          const std::string& type);
// Another application replaces the contents with `items`.
int64_t WritePasteboardAs(const std::string& writer, std::vector<platform::PasteboardItem> items);

// Empties the pasteboard (the lazy item's provider is Finished), forgets the
// recorded reads and cancels scripted readers and writers not yet run. The
// change count keeps advancing, so a count recorded before stays stale.
void ResetPasteboard();

// desktop-sim commands: pasteboard, readPasteboard, writePasteboard,
// pasteboardReads. *handled is false for other names.
bool RunPasteboardCommand(const std::string& name, const Json& args, Json* result,
                          std::string* error, bool* handled);

}  // namespace sim
