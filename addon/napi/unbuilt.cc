#include "exports.h"

namespace addon {

namespace {
Napi::Value NotImplemented(const Napi::CallbackInfo& info, const char* name) {
  std::string message = std::string(name) + " is not implemented yet";
  Napi::Error::New(info.Env(), message).ThrowAsJavaScriptException();
  return info.Env().Undefined();
}
}  // namespace

#define KV_UNBUILT(Impl, js) \
  __attribute__((weak)) Napi::Value Impl(const Napi::CallbackInfo& info) { return NotImplemented(info, js); }

KV_UNBUILT(IsTrusted, "isTrusted")
KV_UNBUILT(ProbeAccessibility, "probeAccessibility")
KV_UNBUILT(ProbeAccessibilityStatus, "probeAccessibilityStatus")
KV_UNBUILT(GetPeerCredentials, "getPeerCredentials")
KV_UNBUILT(VerifyProcessCodeSignature, "verifyProcessCodeSignature")
KV_UNBUILT(VerifyProcessCodeSignatureWithAuditToken, "verifyProcessCodeSignatureWithAuditToken")
KV_UNBUILT(ParentProcessPid, "parentProcessPid")
KV_UNBUILT(ResponsibleProcessPid, "responsibleProcessPid")
KV_UNBUILT(PeerCodeSigningSummary, "peerCodeSigningSummary")
KV_UNBUILT(PromptTrust, "promptTrust")
KV_UNBUILT(ListApplications, "listApplications")
KV_UNBUILT(ApplicationInfo, "applicationInfo")
KV_UNBUILT(ApplicationIconPngAsync, "applicationIconPngAsync")
KV_UNBUILT(ScreenCaptureProbeWindows, "screenCaptureProbeWindows")
KV_UNBUILT(InspectPngContent, "inspectPngContent")
KV_UNBUILT(ListWindows, "listWindows")
KV_UNBUILT(CaptureApp, "captureApp")
KV_UNBUILT(CaptureAppAsync, "captureAppAsync")
KV_UNBUILT(CaptureAppDiagnostic, "captureAppDiagnostic")
KV_UNBUILT(AckCaptureEpoch, "ackCaptureEpoch")
KV_UNBUILT(ReleaseCaptureEpoch, "releaseCaptureEpoch")
KV_UNBUILT(ReadElement, "readElement")
KV_UNBUILT(ElementAtPoint, "elementAtPoint")
KV_UNBUILT(PolicyIdentityAtPoint, "policyIdentityAtPoint")
KV_UNBUILT(ClickElementAtPoint, "clickElementAtPoint")
KV_UNBUILT(PreventActivation, "preventActivation")
KV_UNBUILT(ReenableActivation, "reenableActivation")
KV_UNBUILT(IsFocusStealPrevented, "isFocusStealPrevented")
KV_UNBUILT(OpenApplicationInBackground, "openApplicationInBackground")
KV_UNBUILT(OpenApplicationInBackgroundAsync, "openApplicationInBackgroundAsync")
KV_UNBUILT(ActivateApplication, "activateApplication")
KV_UNBUILT(ActivateWindow, "activateWindow")
KV_UNBUILT(ActivateAppFrameSurface, "activateAppFrameSurface")
KV_UNBUILT(TerminateApplicationVerified, "terminateApplicationVerified")
KV_UNBUILT(PerformAction, "performAction")
KV_UNBUILT(SetValue, "setValue")
KV_UNBUILT(SetFocused, "setFocused")
KV_UNBUILT(SelectText, "selectText")
KV_UNBUILT(GetWindowId, "getWindowId")
KV_UNBUILT(CaptureWindowImage, "captureWindowImage")
KV_UNBUILT(CaptureWindowImageVerified, "captureWindowImageVerified")
KV_UNBUILT(CaptureWindowImageVerifiedAsync, "captureWindowImageVerifiedAsync")
KV_UNBUILT(ProjectFrameContentForTest, "projectFrameContentForTest")
KV_UNBUILT(ScreenCaptureStatus, "screenCaptureStatus")
KV_UNBUILT(RequestScreenCaptureAccess, "requestScreenCaptureAccess")
KV_UNBUILT(ReadTccDbGranted, "readTccDbGranted")
KV_UNBUILT(Displays, "displays")
KV_UNBUILT(CursorPoint, "cursorPoint")

}  // namespace addon
