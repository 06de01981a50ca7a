// The general pasteboard over the X CLIPBOARD selection.
//
// X keeps no clipboard contents: the owner of the CLIPBOARD selection serves
// every reader itself. So this process owns CLIPBOARD through a hidden
// window on a connection and thread of its own (x11_selection_owner.cc)
// whenever it writes, offers or clears the pasteboard, and answers each
// SelectionRequest from the items it holds or, for a lazily offered item, by
// asking the provider (one ProvideData per request; the requestor's pid is
// logged with it). Another client taking the selection (SelectionClear) is
// the end of our contents: a lazy item's provider is Finished.
//
// Reading the pasteboard while another client owns it converts TARGETS and
// then each text target (x11_selection_read.cc), INCR transfers included,
// each with a bounded wait. The change count is this process's own counter,
// advanced on every XFixes selection-owner notification.
//
// When the process exits while it still owns CLIPBOARD with written items,
// they are handed to a clipboard manager (CLIPBOARD_MANAGER, SAVE_TARGETS)
// when one runs; otherwise the contents end with the process, as they do for
// every X client.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/pasteboard.h"

namespace x11 {

platform::Pasteboard& X11PasteboardService();

// ---- types and X targets ----

// The X targets a pasteboard type is served as: plain text as UTF8_STRING,
// "text/plain;charset=utf-8" and, when `latin1` (the text fits Latin-1, or
// is not known yet), STRING; any other type under its own name.
std::vector<std::string> TargetsForType(const std::string& type, bool latin1);
// The pasteboard type an X target stands for ("" for targets that carry no
// pasteboard type: TARGETS, TIMESTAMP, MULTIPLE, ...).
std::string TypeForTarget(const std::string& target);
// The text targets read from another owner, in the order asked.
const std::vector<std::string>& ReadableTextTargets();

// UTF-8 to Latin-1 (STRING); nullopt when a character is outside Latin-1 or
// the bytes are not UTF-8.
std::optional<std::vector<uint8_t>> Utf8ToLatin1(const std::vector<uint8_t>& utf8);
std::vector<uint8_t> Latin1ToUtf8(const std::vector<uint8_t>& latin1);

// Reads CLIPBOARD from its owner, another client, on the calling thread's
// connection (x11_selection_read.cc): plain text and the other text targets
// it offers, each conversion waiting at most a second and all of them two.
// An empty item when nobody owns CLIPBOARD or nothing could be read;
// nullopt when there is no display.
std::optional<platform::PasteboardItem> ReadClipboardItem();

}  // namespace x11
