// The x11 backend: the platform services over a real X11 desktop (Xlib,
// XTest, XComposite, XShm, RandR, X-Resource, xkbcommon) and the session bus.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "platform/platform.h"

namespace x11 {

// The backend, created on first call; null (with the reason) when no X
// display can be opened.
platform::Platform* X11Platform(std::string* why);
// The backend's capability table and desktop facts (x11_capabilities.cc).
platform::Capability X11Capable(platform::Facility facility);
platform::Facts X11Facts();

class X11WindowServer : public platform::WindowServer {
 public:
  std::optional<platform::Array> CopyWindowList(platform::WindowListOption option) override;
  bool GetActiveDisplays(uint32_t max_displays, std::vector<platform::DisplayInfo>* out) override;
  uint32_t MainDisplayId() override;
  bool CurrentPointerLocation(platform::Point* out) override;
  bool HasSingleWindowImageEntry() override;
  platform::Image CreateSingleWindowImage(uint32_t window_id) override;
};

class X11Events : public platform::Events {
 public:
  bool Post(platform::EventTap tap, const platform::Event& event) override;
  bool PostToPid(pid_t pid, const platform::Event& event) override;
  uint64_t CurrentFlags() override;
};

class X11Workspace : public platform::Workspace {
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

  // Host thread: delivers a change of the active window's pid to observers.
  void NoteActiveWindowChanged();

 private:
  std::mutex mu_;
  std::map<uint64_t, std::function<void(pid_t)>> observers_;
  uint64_t next_token_ = 1;
  pid_t last_active_ = -1;
};

class X11Security : public platform::Security {
 public:
  std::optional<platform::SigningInfo> SigningInfoForPid(pid_t pid) override;
  std::optional<platform::SigningInfo> SigningInfoForAuditToken(
      const platform::AuditToken& token) override;
  platform::RequirementResult CheckRequirementForPid(pid_t pid,
                                                     const std::string& requirement) override;
  platform::RequirementResult CheckRequirementForAuditToken(
      const platform::AuditToken& token, const std::string& requirement) override;
  std::optional<pid_t> ResponsiblePidForPid(pid_t pid) override;
  std::optional<bool> PreflightScreenCaptureAccess() override;
  std::optional<bool> RequestScreenCaptureAccess() override;
};

class X11Keyboard : public platform::KeyboardLayout {
 public:
  std::optional<std::u16string> Translate(uint16_t keycode, uint64_t modifier_flags) override;
  std::string CurrentInputSourceId() override;
};

class X11PrivateApi : public platform::PrivateApi {
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

class X11AppLoop : public platform::AppLoop {
 public:
  explicit X11AppLoop(X11Workspace* workspace) : workspace_(workspace) {}
  void EnsureApplication() override;
  bool DispatchNextEvent() override;
  void RunOnce() override;

 private:
  X11Workspace* workspace_;
  std::atomic<bool> watching_{false};
};

class X11Log : public platform::Log {
 public:
  void Write(const std::string& line) override;
};

// Keycodes of the X server for the platform's virtual keycodes (ANSI key
// positions); 0 when the key has no X equivalent.
unsigned int XKeycodeFor(uint16_t virtual_keycode);

// Starts the composite redirection that window images read from (once).
void StartWindowImages();

// Restores the keyboard mapping changed for typing once its grace period has
// passed (called from the host loop and before each post).
void RestoreKeymapIfIdle();

}  // namespace x11
