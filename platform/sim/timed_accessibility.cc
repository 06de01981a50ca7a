#include "sim/timed_accessibility.h"

#include <atomic>
#include <chrono>

namespace sim {

namespace {

std::atomic<int64_t> g_calls{0};
std::atomic<int64_t> g_nanos{0};

// Adds the time from construction to destruction to the tally.
class Tally {
 public:
  Tally() : start_(std::chrono::steady_clock::now()) {}
  ~Tally() {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                  std::chrono::steady_clock::now() - start_)
                  .count();
    g_calls.fetch_add(1, std::memory_order_relaxed);
    g_nanos.fetch_add(ns, std::memory_order_relaxed);
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

}  // namespace

int64_t AccessibilityCallCount() { return g_calls.load(); }
int64_t AccessibilityBackendNanos() { return g_nanos.load(); }

#define KV_TIMED(call) \
  Tally tally;         \
  return SimAccessibility::call

bool TimedAccessibility::IsProcessTrusted(bool prompt) { KV_TIMED(IsProcessTrusted(prompt)); }
platform::AXElement TimedAccessibility::CreateApplication(pid_t pid) {
  KV_TIMED(CreateApplication(pid));
}
platform::AXElement TimedAccessibility::CreateSystemWide() { KV_TIMED(CreateSystemWide()); }
platform::AXError TimedAccessibility::CopyAttributeValue(const platform::AXElement& el,
                                                         const std::string& attr,
                                                         platform::Value* out) {
  KV_TIMED(CopyAttributeValue(el, attr, out));
}
platform::AXError TimedAccessibility::CopyMultipleAttributeValues(
    const platform::AXElement& el, const std::vector<std::string>& attrs,
    std::vector<platform::Value>* out) {
  KV_TIMED(CopyMultipleAttributeValues(el, attrs, out));
}
platform::AXError TimedAccessibility::CopyAttributeNames(const platform::AXElement& el,
                                                         std::vector<std::string>* out) {
  KV_TIMED(CopyAttributeNames(el, out));
}
platform::AXError TimedAccessibility::GetAttributeValueCount(const platform::AXElement& el,
                                                             const std::string& attr,
                                                             int64_t* count) {
  KV_TIMED(GetAttributeValueCount(el, attr, count));
}
platform::AXError TimedAccessibility::IsAttributeSettable(const platform::AXElement& el,
                                                          const std::string& attr,
                                                          bool* settable) {
  KV_TIMED(IsAttributeSettable(el, attr, settable));
}
platform::AXError TimedAccessibility::SetAttributeValue(const platform::AXElement& el,
                                                        const std::string& attr,
                                                        const platform::Value& value) {
  KV_TIMED(SetAttributeValue(el, attr, value));
}
platform::AXError TimedAccessibility::CopyParameterizedAttributeValue(
    const platform::AXElement& el, const std::string& attr, const platform::Value& parameter,
    platform::Value* out) {
  KV_TIMED(CopyParameterizedAttributeValue(el, attr, parameter, out));
}
platform::AXError TimedAccessibility::CopyActionNames(const platform::AXElement& el,
                                                      std::vector<std::string>* out) {
  KV_TIMED(CopyActionNames(el, out));
}
platform::AXError TimedAccessibility::PerformAction(const platform::AXElement& el,
                                                    const std::string& action) {
  KV_TIMED(PerformAction(el, action));
}
platform::AXError TimedAccessibility::GetPid(const platform::AXElement& el, pid_t* pid) {
  KV_TIMED(GetPid(el, pid));
}
platform::AXError TimedAccessibility::GetWindow(const platform::AXElement& el,
                                                uint32_t* window_id) {
  KV_TIMED(GetWindow(el, window_id));
}
platform::AXError TimedAccessibility::SetMessagingTimeout(const platform::AXElement& el,
                                                          float seconds) {
  KV_TIMED(SetMessagingTimeout(el, seconds));
}
platform::AXError TimedAccessibility::CopyElementAtPosition(const platform::AXElement& app,
                                                            float x, float y,
                                                            platform::AXElement* out) {
  KV_TIMED(CopyElementAtPosition(app, x, y, out));
}

#undef KV_TIMED

}  // namespace sim
