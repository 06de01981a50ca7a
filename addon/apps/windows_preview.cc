#include "apps/windows_preview.h"

#include <chrono>
#include <vector>

#include "ax/ax_read.h"
#include "ax/capture_text.h"

namespace addon {

namespace {

constexpr size_t kMaxTexts = 8;
constexpr int kVisitBudget = 400;
constexpr int kMaxDepth = 30;
constexpr auto kPreviewTime = std::chrono::milliseconds(80);
constexpr size_t kPreviewChars = 50;

struct PreviewWalk {
  std::vector<std::string> texts;
  int budget = kVisitBudget;
  platform::TimePoint deadline;

  bool Exhausted() {
    return texts.size() >= kMaxTexts || budget < 1 || platform::Get().clock().Now() >= deadline;
  }
};

// The first non-empty of AXTitle, AXValue (as text) and AXDescription.
bool ElementText(const platform::AXElement& el, std::string* out) {
  if (CopyStringAttr(el, "AXTitle", out) && !out->empty()) return true;
  platform::Value v;
  if (platform::Get().ax().CopyAttributeValue(el, "AXValue", &v) == platform::kAXErrorSuccess &&
      CoerceAxValueToString(v, out) && !out->empty()) {
    return true;
  }
  return CopyStringAttr(el, "AXDescription", out) && !out->empty();
}

void Walk(PreviewWalk& walk, const platform::AXElement& el, int depth) {
  if (walk.Exhausted() || depth > kMaxDepth) return;
  std::vector<platform::AXElement> children;
  if (!CopyElementArrayAttr(el, "AXChildren", &children)) return;
  for (const auto& child : children) {
    if (walk.Exhausted()) return;
    --walk.budget;
    std::string text;
    if (ElementText(child, &text)) walk.texts.push_back(std::move(text));
    Walk(walk, child, depth + 1);
  }
}

}  // namespace

std::string TruncatePreview(const std::string& text, size_t max_chars) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // continuation byte
    if (chars == max_chars) return text.substr(0, i) + "\u2026";
    ++chars;
  }
  return text;
}

std::string CollectWindowTextPreview(const platform::AXElement& window) {
  PreviewWalk walk;
  walk.deadline = platform::Get().clock().Now() + kPreviewTime;
  Walk(walk, window, 0);
  std::string joined;
  for (size_t i = 0; i < walk.texts.size(); ++i) {
    if (i) joined.push_back(' ');
    joined += walk.texts[i];
  }
  return TruncatePreview(joined, kPreviewChars);
}

}  // namespace addon
