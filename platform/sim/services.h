// The simulated desktop's implementations of the platform services.
#pragma once

#include "platform/platform.h"
#include "sim/world.h"

namespace sim {

class SimAccessibility : public platform::Accessibility {
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

class SimWindowServer : public platform::WindowServer {
 public:
  std::optional<platform::Array> CopyWindowList(platform::WindowListOption option) override;
  bool GetActiveDisplays(uint32_t max_displays, std::vector<platform::DisplayInfo>* out) override;
  uint32_t MainDisplayId() override;
  bool CurrentPointerLocation(platform::Point* out) override;
  bool HasSingleWindowImageEntry() override;
  platform::Image CreateSingleWindowImage(uint32_t window_id) override;
};

class SimEvents : public platform::Events {
 public:
  bool Post(platform::EventTap tap, const platform::Event& event) override;
  bool PostToPid(pid_t pid, const platform::Event& event) override;
  uint64_t CurrentFlags() override;
};

class SimWorkspace : public platform::Workspace {
 public:
  std::vector<platform::RunningApp> RunningApplications() override;
  std::optional<platform::RunningApp> RunningApplicationWithPid(pid_t pid) override;
  pid_t FrontmostApplicationPid() override;
  bool GetFrontProcessPid(pid_t* pid) override;
  int SignalZero(pid_t pid) override;
  bool Activate(pid_t pid, uint32_t options) override;
  bool ForceTerminate(pid_t pid) override;
  std::string UrlForApplicationWithBundleId(const std::string& bundle_id) override;
  std::string FullPathForApplication(const std::string& name) override;
  void OpenApplication(const std::string& url, const platform::OpenConfiguration& config,
                       platform::OpenCompletion completion) override;
  platform::Image IconForFile(const std::string& path, int size) override;
  uint64_t AddActivationObserver(std::function<void(pid_t)> callback) override;
  void RemoveActivationObserver(uint64_t token) override;
  pid_t SelfPid() override;
  std::optional<std::pair<int, int>> OsVersion() override;
};

class SimSecurity : public platform::Security {
 public:
  std::optional<platform::SigningInfo> SigningInfoForPid(pid_t pid) override;
  std::optional<platform::SigningInfo> SigningInfoForAuditToken(const platform::AuditToken& token) override;
  platform::RequirementResult CheckRequirementForPid(pid_t pid, const std::string& requirement) override;
  platform::RequirementResult CheckRequirementForAuditToken(const platform::AuditToken& token,
                                                            const std::string& requirement) override;
  std::optional<pid_t> ResponsiblePidForPid(pid_t pid) override;
  std::optional<bool> PreflightScreenCaptureAccess() override;
  std::optional<bool> RequestScreenCaptureAccess() override;
};

class SimKeyboard : public platform::KeyboardLayout {
 public:
  std::optional<std::u16string> Translate(uint16_t keycode, uint64_t modifier_flags) override;
  std::string CurrentInputSourceId() override;
};

class SimPrivateApi : public platform::PrivateApi {
 public:
  bool Lookup(const char* library_path, const char* symbol) override;
  bool EventPostToPid(pid_t pid, const platform::Event& event) override;
  platform::WindowEventDelivery EventPostToWindow(pid_t pid, const platform::Event& event) override;
  void EventSetIntegerValueField(platform::Event* event, uint32_t field, int64_t value) override;
  void EventSetWindowLocation(platform::Event* event, platform::Point window_local) override;
  int32_t PostEventRecordTo(const platform::ProcessSerialNumber& psn,
                            const std::array<uint8_t, 248>& record) override;
  int32_t GetProcessForPid(pid_t pid, platform::ProcessSerialNumber* psn) override;
  int32_t MainConnectionId() override;
  int32_t GetWindowEventMask(int32_t connection, uint32_t window_id, uint32_t* mask) override;
};

class SimAppLoop : public platform::AppLoop {
 public:
  void EnsureApplication() override;
  bool DispatchNextEvent() override;
  void RunOnce() override;
};

class SimLog : public platform::Log {
 public:
  void Write(const std::string& line) override;
};

// The simulated backend (one per process).
platform::Platform& SimPlatform();
// Shareable content and one-frame streams (screen_capture_sim.cc).
platform::ScreenCapture& SimScreenCapture();

// Rendering (cairo): a window's picture at its display's scale, an icon.
platform::Image RenderWindow(World& w, const CgWindow& cw);
// The window drawn straight at out_w x out_h pixels (stretched, or fitted
// and centred with keep_aspect): what a scaled screenshot shows, without
// drawing it at full size first.
platform::Image RenderWindowScaled(World& w, const CgWindow& cw, int out_w, int out_h,
                                   bool keep_aspect);
platform::Image RenderIcon(const std::string& label, const std::string& seed, int size);
// The scale of the display that holds a point (2 on the default display).
double ScaleAt(World& w, platform::Point p);

}  // namespace sim
