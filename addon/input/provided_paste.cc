// Provided paste: pasteboardBeginProvidedPaste, pasteboardMarkProvidedPasteDispatched
// and pasteboardFinishProvidedPaste, the registry of sessions and the data
// provider behind the pasteboard item. Every pasteboard access runs on the
// main thread: the exports are already there, and provider callbacks that a
// backend delivers on another thread hop to it through the main queue.
#include "input/provided_paste.h"

#include <cmath>
#include <unordered_map>

#include "conventions.h"
#include "exports.h"
#include "main_queue.h"
#include "platform/platform.h"

namespace addon {

namespace {

std::mutex g_provided_paste_mutex;  // guards the two below
std::unordered_map<uint64_t, ProvidedPasteSessionPtr> g_provided_pastes;
uint64_t g_next_provided_paste_token = 1;
// Main thread only: set while begin snapshots the pasteboard, whose own reads
// of an earlier paste's item are not a reader consuming it.
bool g_snapshotting_pasteboard = false;

uint64_t TakeToken() {
  std::lock_guard<std::mutex> lock(g_provided_paste_mutex);
  return g_next_provided_paste_token++;
}

void InsertSession(uint64_t token, ProvidedPasteSessionPtr session) {
  std::lock_guard<std::mutex> lock(g_provided_paste_mutex);
  g_provided_pastes[token] = std::move(session);
}

ProvidedPasteSessionPtr EraseSession(uint64_t token) {
  std::lock_guard<std::mutex> lock(g_provided_paste_mutex);
  auto it = g_provided_pastes.find(token);
  if (it == g_provided_pastes.end()) return nullptr;
  ProvidedPasteSessionPtr session = std::move(it->second);
  g_provided_pastes.erase(it);
  return session;
}

Napi::Value BeginResult(Napi::Env env, const char* error, uint64_t token) {
  Napi::Object o = Napi::Object::New(env);
  SetKey(o, "ok", Napi::Boolean::New(env, error == nullptr));
  SetKey(o, "error", error ? Napi::String::New(env, error) : env.Null());
  SetKey(o, "token", Napi::Number::New(env, static_cast<double>(token)));
  return o;
}

}  // namespace

std::vector<std::string> ProvidedPasteTypes(const std::string& format) {
  if (format == "text") return {platform::kPasteboardPlainText};
  if (format == "html") return {platform::kPasteboardPlainText, platform::kPasteboardHtml};
  if (format == "md") return {platform::kPasteboardPlainText, platform::kPasteboardMarkdown};
  return {};
}

ProvidedPasteSessionPtr FindProvidedPaste(uint64_t token) {
  std::lock_guard<std::mutex> lock(g_provided_paste_mutex);
  auto it = g_provided_pastes.find(token);
  return it == g_provided_pastes.end() ? nullptr : it->second;
}

std::optional<platform::PasteboardBytes> KorvoOzaPasteDataProvider::ProvideData(
    const std::string& type) {
  std::optional<platform::PasteboardBytes> bytes;
  RunOnMainThreadSync([&] {
    ProvidedPasteSessionPtr session = FindProvidedPaste(token_);
    if (!session) return;
    auto it = session->data_by_type.find(type);
    if (it != session->data_by_type.end()) bytes = it->second;
    if (g_snapshotting_pasteboard) return;
    // A request counts as a read even when the type has no data.
    {
      std::lock_guard<std::mutex> lock(session->mu);
      ++session->reads;
    }
    session->cv.notify_all();
  });
  return bytes;
}

void KorvoOzaPasteDataProvider::Finished() {
  RunOnMainThreadSync([&] {
    ProvidedPasteSessionPtr session = FindProvidedPaste(token_);
    if (!session) return;
    {
      std::lock_guard<std::mutex> lock(session->mu);
      session->finished = true;
    }
    session->cv.notify_all();
  });
}

void RestorePasteboard(platform::Pasteboard& pasteboard,
                       const std::vector<platform::PasteboardItem>& saved) {
  pasteboard.Clear();
  if (!saved.empty()) pasteboard.WriteItems(saved);
}

bool WriteProvidedPaste(platform::Pasteboard& pasteboard, ProvidedPasteSession& session,
                        uint64_t token) {
  // Snapshot: every item with the types that have data; empty items are dropped.
  session.saved_items.clear();
  g_snapshotting_pasteboard = true;
  std::optional<std::vector<platform::PasteboardItem>> items = pasteboard.ReadItems();
  g_snapshotting_pasteboard = false;
  if (items) {
    for (auto& item : *items)
      if (!item.empty()) session.saved_items.push_back(std::move(item));
  }
  pasteboard.Clear();
  auto provider = std::make_shared<KorvoOzaPasteDataProvider>(token);
  if (!pasteboard.OfferItem(session.types, provider)) {
    RestorePasteboard(pasteboard, session.saved_items);
    return false;
  }
  session.item = std::move(provider);
  session.change_count = pasteboard.ChangeCount();
  return true;
}

int64_t MainThreadChangeCount() {
  int64_t count = -1;
  RunOnMainThreadSync([&] { count = platform::Get().pasteboard().ChangeCount(); });
  return count;
}

bool ReadPasteToken(const Napi::Value& v, uint64_t* token) {
  if (!v.IsNumber()) return false;
  const double d = v.As<Napi::Number>().DoubleValue();
  const bool whole = std::isfinite(d) && d >= 1 && std::trunc(d) == d && d < 18446744073709551616.0;
  *token = whole ? static_cast<uint64_t>(d) : 0;
  return true;
}

Napi::Value PasteboardBeginProvidedPaste(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 2 || !info[0].IsString() || !info[1].IsString()) {
    return ThrowTypeError(env, "pasteboardBeginProvidedPaste(text, format) expects two strings");
  }
  const std::vector<std::string> types = ProvidedPasteTypes(info[1].As<Napi::String>().Utf8Value());
  if (types.empty()) return BeginResult(env, "unsupported_format", 0);

  auto session = std::make_shared<ProvidedPasteSession>();
  const uint64_t token = TakeToken();
  std::string text;
  if (!ReadUtf8String(info[0], 0, SIZE_MAX, &text)) {
    return BeginResult(env, "pasteboard_write_failed", 0);
  }
  const platform::PasteboardBytes bytes(text.begin(), text.end());
  for (const auto& type : types) session->data_by_type[type] = bytes;
  session->types = types;
  InsertSession(token, session);

  // Provider callbacks from other threads reach the main thread through the
  // main queue: make sure the host loop drains it.
  EnsureMainQueue(env);
  bool written = false;
  RunOnMainThreadSync(
      [&] { written = WriteProvidedPaste(platform::Get().pasteboard(), *session, token); });
  if (!written) {
    EraseSession(token);
    return BeginResult(env, "pasteboard_write_failed", 0);
  }
  return BeginResult(env, nullptr, token);
}

Napi::Value PasteboardMarkProvidedPasteDispatched(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  uint64_t token = 0;
  if (info.Length() < 1 || !ReadPasteToken(info[0], &token)) {
    return ThrowTypeError(env, "pasteboardMarkProvidedPasteDispatched(token) expects a token");
  }
  ProvidedPasteSessionPtr session = FindProvidedPaste(token);
  if (!session) return Napi::Boolean::New(env, false);
  {
    std::lock_guard<std::mutex> lock(session->mu);
    session->reads_at_dispatch = session->reads;
    session->dispatched = true;
  }
  session->cv.notify_all();
  return Napi::Boolean::New(env, true);
}

Napi::Value PasteboardFinishProvidedPaste(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  uint64_t token = 0;
  if (info.Length() < 1 || !ReadPasteToken(info[0], &token)) {
    return ThrowTypeError(env, "pasteboardFinishProvidedPaste(token) expects a token",
                          Napi::Boolean::New(env, false));
  }
  if (ProvidedPasteSessionPtr session = EraseSession(token)) {
    RunOnMainThreadSync([&] {
      platform::Pasteboard& pasteboard = platform::Get().pasteboard();
      // Somebody else wrote since the paste: their contents stay.
      if (pasteboard.ChangeCount() == session->change_count) {
        RestorePasteboard(pasteboard, session->saved_items);
      }
    });
  }
  return Napi::Boolean::New(env, true);
}

}  // namespace addon
