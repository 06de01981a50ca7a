// Module entry: the Node-API version the module targets, the registration
// entry, and the export object with every name in registration order. Two
// groups of names exist only while KORVO_OZA_LIVE_NATIVE is exactly "1".
#include <node_api.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "exports.h"
#include "platform/platform.h"
#include "main_queue.h"

namespace addon {

namespace {

template <Napi::Value (*F)(const Napi::CallbackInfo&)>
napi_value Adapt(napi_env env, napi_callback_info info) {
  Napi::CallbackInfo ci(env, info);
  Napi::Value result = F(ci);
  return result;
}

struct ExportEntry {
  const char* name;
  napi_callback callback;
  bool gated;  // present only with the live gate open
};

const ExportEntry kInitExports[] = {
    {"isTrusted", &Adapt<IsTrusted>, false},
    {"probeAccessibility", &Adapt<ProbeAccessibility>, false},
    {"probeAccessibilityStatus", &Adapt<ProbeAccessibilityStatus>, false},
    {"getPeerCredentials", &Adapt<GetPeerCredentials>, false},
    {"verifyProcessCodeSignature", &Adapt<VerifyProcessCodeSignature>, false},
    {"verifyProcessCodeSignatureWithAuditToken", &Adapt<VerifyProcessCodeSignatureWithAuditToken>, false},
    {"parentProcessPid", &Adapt<ParentProcessPid>, false},
    {"responsibleProcessPid", &Adapt<ResponsibleProcessPid>, false},
    {"peerCodeSigningSummary", &Adapt<PeerCodeSigningSummary>, false},
    {"promptTrust", &Adapt<PromptTrust>, false},
    {"listApplications", &Adapt<ListApplications>, false},
    {"applicationInfo", &Adapt<ApplicationInfo>, false},
    {"applicationIconPngAsync", &Adapt<ApplicationIconPngAsync>, false},
    {"screenCaptureProbeWindows", &Adapt<ScreenCaptureProbeWindows>, false},
    {"inspectPngContent", &Adapt<InspectPngContent>, false},
    {"listWindows", &Adapt<ListWindows>, false},
    {"captureApp", &Adapt<CaptureApp>, false},
    {"captureAppAsync", &Adapt<CaptureAppAsync>, false},
    {"captureAppDiagnostic", &Adapt<CaptureAppDiagnostic>, false},
    {"ackCaptureEpoch", &Adapt<AckCaptureEpoch>, false},
    {"releaseCaptureEpoch", &Adapt<ReleaseCaptureEpoch>, false},
    {"readElement", &Adapt<ReadElement>, false},
    {"elementAtPoint", &Adapt<ElementAtPoint>, false},
    {"policyIdentityAtPoint", &Adapt<PolicyIdentityAtPoint>, false},
    {"clickElementAtPoint", &Adapt<ClickElementAtPoint>, false},
    {"preventActivation", &Adapt<PreventActivation>, false},
    {"reenableActivation", &Adapt<ReenableActivation>, false},
    {"isFocusStealPrevented", &Adapt<IsFocusStealPrevented>, false},
    {"openApplicationInBackground", &Adapt<OpenApplicationInBackground>, false},
    {"openApplicationInBackgroundAsync", &Adapt<OpenApplicationInBackgroundAsync>, false},
    {"activateApplication", &Adapt<ActivateApplication>, false},
    {"activateWindow", &Adapt<ActivateWindow>, false},
    {"activateAppFrameSurface", &Adapt<ActivateAppFrameSurface>, false},
    {"terminateApplicationVerified", &Adapt<TerminateApplicationVerified>, false},
    {"performAction", &Adapt<PerformAction>, false},
    {"setValue", &Adapt<SetValue>, false},
    {"setFocused", &Adapt<SetFocused>, false},
    {"selectText", &Adapt<SelectText>, false},
    {"getWindowId", &Adapt<GetWindowId>, false},
    {"captureWindowImage", &Adapt<CaptureWindowImage>, false},
    {"captureWindowImageVerified", &Adapt<CaptureWindowImageVerified>, false},
    {"captureWindowImageVerifiedAsync", &Adapt<CaptureWindowImageVerifiedAsync>, false},
    {"projectFrameContentForTest", &Adapt<ProjectFrameContentForTest>, true},
    {"typeTextToPid", &Adapt<TypeTextToPid>, false},
    {"pressKeyToPid", &Adapt<PressKeyToPid>, false},
    {"holdKeyToPid", &Adapt<HoldKeyToPid>, false},
    {"typeTextToPidVerified", &Adapt<TypeTextToPidVerified>, false},
    {"pressKeyToPidVerified", &Adapt<PressKeyToPidVerified>, false},
    {"holdKeyToPidVerified", &Adapt<HoldKeyToPidVerified>, false},
    {"screenCaptureStatus", &Adapt<ScreenCaptureStatus>, false},
    {"requestScreenCaptureAccess", &Adapt<RequestScreenCaptureAccess>, false},
    {"readTccDbGranted", &Adapt<ReadTccDbGranted>, false},
    {"displays", &Adapt<Displays>, false},
    {"cursorPoint", &Adapt<CursorPoint>, false},
    {"clickAtPoint", &Adapt<ClickAtPoint>, false},
    {"moveTo", &Adapt<MoveTo>, false},
    {"scrollAt", &Adapt<ScrollAt>, false},
    {"drag", &Adapt<Drag>, false},
    {"dragAsync", &Adapt<DragAsync>, false},
    {"mouseDown", &Adapt<MouseDown>, false},
    {"mouseUp", &Adapt<MouseUp>, false},
    {"moveToPid", &Adapt<MoveToPid>, false},
    {"scrollToPid", &Adapt<ScrollToPid>, false},
    {"dragToPid", &Adapt<DragToPid>, false},
    {"mouseDownToPid", &Adapt<MouseDownToPid>, false},
    {"mouseUpToPid", &Adapt<MouseUpToPid>, false},
    {"typeTextGlobal", &Adapt<TypeTextGlobal>, false},
    {"pressKeyGlobal", &Adapt<PressKeyGlobal>, false},
    {"pasteboardBeginProvidedPaste", &Adapt<PasteboardBeginProvidedPaste>, false},
    {"pasteboardAwaitProvidedRead", &Adapt<PasteboardAwaitProvidedRead>, false},
    {"pasteboardMarkProvidedPasteDispatched", &Adapt<PasteboardMarkProvidedPasteDispatched>, false},
    {"pasteboardFinishProvidedPaste", &Adapt<PasteboardFinishProvidedPaste>, false},
    {"holdKeyGlobal", &Adapt<HoldKeyGlobal>, false},
    {"holdKeyGlobalAsync", &Adapt<HoldKeyGlobalAsync>, false},
    {"cancelInputHoldsForSession", &Adapt<CancelInputHoldsForSessionNapi>, false},
    {"cancelPendingInputHolds", &Adapt<CancelPendingInputHolds>, false},
    {"keyDownGlobal", &Adapt<KeyDownGlobal>, false},
    {"keyUpGlobal", &Adapt<KeyUpGlobal>, false},
};

const ExportEntry kBackgroundInputExports[] = {
    {"setCpsActivationDisabled", &Adapt<SetCpsActivationDisabled>, false},
    {"beginBackgroundWindowInput", &Adapt<BeginBackgroundWindowInput>, false},
    {"beginBackgroundWindowInputDetailed", &Adapt<BeginBackgroundWindowInputDetailed>, false},
    {"endBackgroundWindowInput", &Adapt<EndBackgroundWindowInput>, false},
    {"clickToWindow", &Adapt<ClickToWindow>, false},
    {"moveToWindow", &Adapt<MoveToWindow>, false},
    {"scrollToWindow", &Adapt<ScrollToWindow>, false},
    {"dragToWindow", &Adapt<DragToWindow>, false},
    {"mouseDownToWindow", &Adapt<MouseDownToWindow>, false},
    {"mouseUpToWindow", &Adapt<MouseUpToWindow>, false},
    {"beginBackgroundWindowInputDetailedAsync", &Adapt<BeginBackgroundWindowInputDetailedAsync>, false},
    {"endBackgroundWindowInputAsync", &Adapt<EndBackgroundWindowInputAsync>, false},
    {"endBackgroundWindowInputDetailedAsync", &Adapt<EndBackgroundWindowInputDetailedAsync>, false},
    {"clickToWindowAsync", &Adapt<ClickToWindowAsync>, false},
    {"moveToWindowAsync", &Adapt<MoveToWindowAsync>, false},
    {"scrollToWindowAsync", &Adapt<ScrollToWindowAsync>, false},
    {"dragToWindowAsync", &Adapt<DragToWindowAsync>, false},
    {"mouseDownToWindowDetailedAsync", &Adapt<MouseDownToWindowDetailedAsync>, false},
    {"mouseUpToWindowAsync", &Adapt<MouseUpToWindowAsync>, false},
};

const ExportEntry kGhostCursorExports[] = {
    {"ghostInit", &Adapt<GhostInit>, false},
    {"ghostShow", &Adapt<GhostShow>, false},
    {"ghostMove", &Adapt<GhostMove>, false},
    {"ghostMoveTarget", &Adapt<GhostMoveTarget>, false},
    {"ghostClickRipple", &Adapt<GhostClickRipple>, false},
    {"ghostHide", &Adapt<GhostHide>, false},
    {"ghostState", &Adapt<GhostState>, false},
    {"ghostRenderPng", &Adapt<GhostRenderPng>, false},
    {"ghostSetEnabled", &Adapt<GhostSetEnabled>, false},
    {"ghostSetCapture", &Adapt<GhostSetCapture>, false},
    {"ghostSetControllerStatus", &Adapt<GhostSetControllerStatus>, false},
    {"ghostBeginAction", &Adapt<GhostBeginAction>, false},
    {"ghostEndAction", &Adapt<GhostEndAction>, false},
    {"ghostShowFocusRect", &Adapt<GhostShowFocusRect>, false},
    {"ghostBeginActionWithTitle", &Adapt<GhostBeginActionWithTitle>, false},
    {"ghostSetRequestSession", &Adapt<GhostSetRequestSession>, false},
    {"ghostSetMultiCursorEnabled", &Adapt<GhostSetMultiCursorEnabled>, false},
    {"ghostSessionTurnEnd", &Adapt<GhostSessionTurnEnd>, false},
    {"ghostRemoveSession", &Adapt<GhostRemoveSession>, false},
    {"ghostPaletteSelftest", &Adapt<GhostPaletteSelftest>, false},
    {"ghostMotionSelftest", &Adapt<GhostMotionSelftest>, false},
    {"ghostGeometrySelftest", &Adapt<GhostGeometrySelftest>, false},
};

const ExportEntry kPipExports[] = {
    {"pipStart", &Adapt<PipStart>, false},
    {"pipStartVerified", &Adapt<PipStartVerified>, false},
    {"pipStartVerifiedAsync", &Adapt<PipStartVerifiedAsync>, false},
    {"pipStartVerifiedCompositeAsync", &Adapt<PipStartVerifiedCompositeAsync>, false},
    {"pipStop", &Adapt<PipStop>, false},
    {"pipDismiss", &Adapt<PipDismiss>, false},
    {"pipIsRunning", &Adapt<PipIsRunning>, false},
    {"pipStopTarget", &Adapt<PipStopTarget>, false},
    {"pipGetLeadTarget", &Adapt<PipGetLeadTarget>, false},
    {"pipStackCount", &Adapt<PipGetStackCount>, false},
    {"pipSetActiveGroup", &Adapt<PipSetActiveGroup>, false},
    {"pipBeginTurn", &Adapt<PipBeginTurn>, false},
    {"pipTaskCompleted", &Adapt<PipTaskCompleted>, false},
    {"pipFreezeGroup", &Adapt<PipFreezeGroup>, false},
    {"pipIsInteractionReady", &Adapt<PipIsInteractionReady>, false},
    {"pipGetWindowBounds", &Adapt<PipGetWindowBounds>, true},
    {"pipSetLiveLegacyCaptureDelay", &Adapt<PipSetLiveLegacyCaptureDelay>, true},
    {"pipGetLiveLegacyCaptureDiagnostics", &Adapt<PipGetLiveLegacyCaptureDiagnostics>, true},
    {"pipGetStackTargets", &Adapt<PipGetStackTargets>, true},
    {"pipStartInteractionTestPanel", &Adapt<PipStartInteractionTestPanel>, true},
    {"pipMoveInteractionTestPanelToPoint", &Adapt<PipMoveInteractionTestPanelToPoint>, true},
    {"pipSampleInteractionOwnershipAtPoint", &Adapt<PipSampleInteractionOwnershipAtPoint>, true},
    {"pipVerifyInitialHitSurface", &Adapt<PipVerifyInitialHitSurface>, true},
    {"pipEvaluateDoubleClickActivation", &Adapt<PipEvaluateDoubleClickActivation>, true},
    {"pipSimulateUserInputDisableReleaseRace", &Adapt<PipSimulateUserInputDisableReleaseRace>, true},
    {"pipSimulateSyntheticAdmissionTimeoutFencing", &Adapt<PipSimulateSyntheticAdmissionTimeoutFencing>, true},
    {"pipSimulateSyntheticReservationInterleaving", &Adapt<PipSimulateSyntheticReservationInterleaving>, true},
    {"pipSimulateForeignContinuationPassThrough", &Adapt<PipSimulateForeignContinuationPassThrough>, true},
    {"pipSimulatePersistentCaptureFailures", &Adapt<PipSimulatePersistentCaptureFailures>, true},
    {"pipSimulateTimeoutDrainRecovery", &Adapt<PipSimulateTimeoutDrainRecovery>, true},
    {"pipIsDismissed", &Adapt<PipIsDismissed>, false},
    {"pipClearDismissed", &Adapt<PipClearDismissed>, false},
    {"pipSetEnabled", &Adapt<PipSetEnabled>, false},
};

// The gate is read afresh each time: open only for exactly "1".
bool LiveGateOpen() {
  const char* v = std::getenv("KORVO_OZA_LIVE_NATIVE");
  return v != nullptr && std::strcmp(v, "1") == 0;
}

template <size_t N>
void RegisterTable(napi_env env, napi_value exports, const ExportEntry (&table)[N], bool gate) {
  for (const ExportEntry& e : table) {
    if (e.gated && !gate) continue;
    napi_value fn;
    napi_status status = napi_create_function(env, nullptr, 0, e.callback, nullptr, &fn);
    if (status == napi_ok) status = napi_set_named_property(env, exports, e.name, fn);
    if (status != napi_ok) {
      // Leave the failure pending for the host and go on with the next name.
      bool pending = false;
      napi_is_exception_pending(env, &pending);
      if (!pending) napi_throw_error(env, nullptr, e.name);
    }
  }
}

}  // namespace

void RegisterBackgroundInput(napi_env env, napi_value exports) {
  RegisterTable(env, exports, kBackgroundInputExports, false);
}

void RegisterGhostCursor(napi_env env, napi_value exports) {
  RegisterTable(env, exports, kGhostCursorExports, false);
}

void RegisterPip(napi_env env, napi_value exports) {
  RegisterTable(env, exports, kPipExports, LiveGateOpen());
}

napi_value Init(napi_env env, napi_value exports) {
  // No desktop, no add-on: when the named (or the session's) desktop cannot
  // be driven, loading fails with what was asked and what to do, instead of
  // answering every call from a desktop the host did not ask for.
  std::string no_desktop;
  if (!platform::TryGet(&no_desktop)) {
    napi_throw_error(env, nullptr, no_desktop.c_str());
    return exports;
  }
  // One load per process: a second environment (a worker thread loading the
  // binary itself) would share process-wide tables bound to the first
  // thread's event loop.
  static std::atomic<bool> loaded{false};
  if (loaded.exchange(true)) {
    napi_throw_error(env, nullptr,
                     "automation-addon is already loaded in this process; load it once, from the "
                     "main thread");
    return exports;
  }
  RecordMainThread(Napi::Env(env));
  RegisterTable(env, exports, kInitExports, LiveGateOpen());
  RegisterBackgroundInput(env, exports);
  RegisterGhostCursor(env, exports);
  RegisterPip(env, exports);
  return exports;
}

}  // namespace addon

extern "C" {

NAPI_MODULE_EXPORT int32_t node_api_module_get_api_version_v1(void) { return 7; }

NAPI_MODULE_EXPORT napi_value napi_register_module_v1(napi_env env, napi_value exports) {
  return addon::Init(env, exports);
}

}  // extern "C"
