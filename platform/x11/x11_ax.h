// Accessibility on X11. Applications on the accessibility bus answer with
// their AT-SPI trees (x11_atspi_*.cc); the others at window level from EWMH
// (titles, frames, the active window, raising, moving), where window
// elements have no children.
#pragma once

#include <string>

#include "platform/accessibility.h"

typedef struct sd_bus sd_bus;

namespace x11 {

// The accessibility bus answers (x11_a11y_bus.cc); with prompt, first asks
// toolkits to expose their trees.
bool AccessibilityBusReachable(bool prompt);
// The accessibility bus address the session bus names (org.a11y.Bus.GetAddress,
// bounded); empty when none.
std::string A11yBusAddress(sd_bus* session);

class X11Accessibility : public platform::Accessibility {
 public:
  bool IsProcessTrusted(bool prompt) override;
  platform::AXElement CreateApplication(pid_t pid) override;
  platform::AXElement CreateSystemWide() override;
  platform::AXError CopyAttributeValue(const platform::AXElement& el, const std::string& attr,
                                       platform::Value* out) override;
  platform::AXError CopyMultipleAttributeValues(const platform::AXElement& el,
                                                const std::vector<std::string>& attrs,
                                                std::vector<platform::Value>* out) override;
  platform::AXError CopyAttributeNames(const platform::AXElement& el,
                                       std::vector<std::string>* out) override;
  platform::AXError GetAttributeValueCount(const platform::AXElement& el, const std::string& attr,
                                           int64_t* count) override;
  platform::AXError IsAttributeSettable(const platform::AXElement& el, const std::string& attr,
                                        bool* settable) override;
  platform::AXError SetAttributeValue(const platform::AXElement& el, const std::string& attr,
                                      const platform::Value& value) override;
  platform::AXError CopyParameterizedAttributeValue(const platform::AXElement& el,
                                                    const std::string& attr,
                                                    const platform::Value& parameter,
                                                    platform::Value* out) override;
  platform::AXError CopyActionNames(const platform::AXElement& el,
                                    std::vector<std::string>* out) override;
  platform::AXError PerformAction(const platform::AXElement& el, const std::string& action) override;
  platform::AXError GetPid(const platform::AXElement& el, pid_t* pid) override;
  platform::AXError GetWindow(const platform::AXElement& el, uint32_t* window_id) override;
  platform::AXError SetMessagingTimeout(const platform::AXElement& el, float seconds) override;
  platform::AXError CopyElementAtPosition(const platform::AXElement& app, float x, float y,
                                          platform::AXElement* out) override;
};

}  // namespace x11
