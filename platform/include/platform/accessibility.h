// Accessibility service: the element API of the platform's accessibility
// interface. Every call answers an AXError; values come back through out
// parameters. Element handles handed out are retained for the caller.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/value.h"

namespace platform {

class Accessibility {
 public:
  virtual ~Accessibility() = default;

  // Whether this process is trusted for accessibility; with prompt the
  // platform may show its permission prompt.
  virtual bool IsProcessTrusted(bool prompt) = 0;

  virtual AXElement CreateApplication(pid_t pid) = 0;
  virtual AXElement CreateSystemWide() = 0;

  virtual AXError CopyAttributeValue(const AXElement& el, const std::string& attr,
                                     Value* out) = 0;
  // One request for many attributes. On success `out` has one entry per name;
  // an attribute that failed is an ErrorValue entry.
  virtual AXError CopyMultipleAttributeValues(const AXElement& el,
                                              const std::vector<std::string>& attrs,
                                              std::vector<Value>* out) = 0;
  virtual AXError CopyAttributeNames(const AXElement& el, std::vector<std::string>* out) = 0;
  virtual AXError GetAttributeValueCount(const AXElement& el, const std::string& attr,
                                         int64_t* count) = 0;
  virtual AXError IsAttributeSettable(const AXElement& el, const std::string& attr,
                                      bool* settable) = 0;
  virtual AXError SetAttributeValue(const AXElement& el, const std::string& attr,
                                    const Value& value) = 0;
  virtual AXError CopyParameterizedAttributeValue(const AXElement& el, const std::string& attr,
                                                  const Value& parameter, Value* out) = 0;
  virtual AXError CopyActionNames(const AXElement& el, std::vector<std::string>* out) = 0;
  virtual AXError PerformAction(const AXElement& el, const std::string& action) = 0;
  virtual AXError GetPid(const AXElement& el, pid_t* pid) = 0;
  // The private element-to-window-number call.
  virtual AXError GetWindow(const AXElement& el, uint32_t* window_id) = 0;
  // Messaging time-out for calls on this element (0 restores the default).
  virtual AXError SetMessagingTimeout(const AXElement& el, float seconds) = 0;
  // Hit-test: the element at a global point, asked of an application or the
  // system-wide element.
  virtual AXError CopyElementAtPosition(const AXElement& app, float x, float y,
                                        AXElement* out) = 0;
};

}  // namespace platform
