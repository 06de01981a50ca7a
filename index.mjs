// The package's ES module entry: the add-on's exports as named exports (and
// the whole export object as the default). The CommonJS entry (index.js) loads
// the native module; this file only re-exports it, so both module systems
// share one loaded add-on. Exports that exist only with the live gate
// (KORVO_OZA_LIVE_NATIVE=1) are undefined without it.
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const addon = require('./index.js');

export default addon;
export const {
  isTrusted, probeAccessibility, probeAccessibilityStatus,
  getPeerCredentials, verifyProcessCodeSignature,
  verifyProcessCodeSignatureWithAuditToken, parentProcessPid,
  responsibleProcessPid, peerCodeSigningSummary, promptTrust,
  listApplications, applicationInfo, applicationIconPngAsync,
  screenCaptureProbeWindows, inspectPngContent, listWindows, captureApp,
  captureAppAsync, captureAppDiagnostic, ackCaptureEpoch,
  releaseCaptureEpoch, readElement, elementAtPoint, policyIdentityAtPoint,
  clickElementAtPoint, preventActivation, reenableActivation,
  isFocusStealPrevented, openApplicationInBackground,
  openApplicationInBackgroundAsync, activateApplication, activateWindow,
  activateAppFrameSurface, terminateApplicationVerified, performAction,
  setValue, setFocused, selectText, getWindowId, captureWindowImage,
  captureWindowImageVerified, captureWindowImageVerifiedAsync,
  projectFrameContentForTest, typeTextToPid, pressKeyToPid, holdKeyToPid,
  typeTextToPidVerified, pressKeyToPidVerified, holdKeyToPidVerified,
  screenCaptureStatus, requestScreenCaptureAccess, readTccDbGranted,
  displays, cursorPoint, clickAtPoint, moveTo, scrollAt, drag, dragAsync,
  mouseDown, mouseUp, moveToPid, scrollToPid, dragToPid, mouseDownToPid,
  mouseUpToPid, typeTextGlobal, pressKeyGlobal,
  pasteboardBeginProvidedPaste, pasteboardAwaitProvidedRead,
  pasteboardMarkProvidedPasteDispatched, pasteboardFinishProvidedPaste,
  holdKeyGlobal, holdKeyGlobalAsync, cancelInputHoldsForSession,
  cancelPendingInputHolds, keyDownGlobal, keyUpGlobal,
  setCpsActivationDisabled, beginBackgroundWindowInput,
  beginBackgroundWindowInputDetailed, endBackgroundWindowInput,
  clickToWindow, moveToWindow, scrollToWindow, dragToWindow,
  mouseDownToWindow, mouseUpToWindow,
  beginBackgroundWindowInputDetailedAsync, endBackgroundWindowInputAsync,
  endBackgroundWindowInputDetailedAsync, clickToWindowAsync,
  moveToWindowAsync, scrollToWindowAsync, dragToWindowAsync,
  mouseDownToWindowDetailedAsync, mouseUpToWindowAsync, ghostInit,
  ghostShow, ghostMove, ghostMoveTarget, ghostClickRipple, ghostHide,
  ghostState, ghostRenderPng, ghostSetEnabled, ghostSetCapture,
  ghostSetControllerStatus, ghostBeginAction, ghostEndAction,
  ghostShowFocusRect, ghostBeginActionWithTitle, ghostSetRequestSession,
  ghostSetMultiCursorEnabled, ghostSessionTurnEnd, ghostRemoveSession,
  ghostPaletteSelftest, ghostMotionSelftest, ghostGeometrySelftest,
  pipStart, pipStartVerified, pipStartVerifiedAsync,
  pipStartVerifiedCompositeAsync, pipStop, pipDismiss, pipIsRunning,
  pipStopTarget, pipGetLeadTarget, pipStackCount, pipSetActiveGroup,
  pipBeginTurn, pipTaskCompleted, pipFreezeGroup, pipIsInteractionReady,
  pipGetWindowBounds, pipSetLiveLegacyCaptureDelay,
  pipGetLiveLegacyCaptureDiagnostics, pipGetStackTargets,
  pipStartInteractionTestPanel, pipMoveInteractionTestPanelToPoint,
  pipSampleInteractionOwnershipAtPoint, pipVerifyInitialHitSurface,
  pipEvaluateDoubleClickActivation, pipSimulateUserInputDisableReleaseRace,
  pipSimulateSyntheticAdmissionTimeoutFencing,
  pipSimulateSyntheticReservationInterleaving,
  pipSimulateForeignContinuationPassThrough,
  pipSimulatePersistentCaptureFailures, pipSimulateTimeoutDrainRecovery,
  pipIsDismissed, pipClearDismissed, pipSetEnabled,
} = addon;
