// Compile-time checks of index.d.ts: every export of the table is declared,
// nothing else is, and the built exports have their documented shapes.
import * as addon from '../..';
import * as sim from '../../sim';
import * as platform from '../../platform';

type ExportName = keyof typeof addon;
const everyName: Record<ExportName, true> = {
  isTrusted: true,
  probeAccessibility: true,
  probeAccessibilityStatus: true,
  getPeerCredentials: true,
  verifyProcessCodeSignature: true,
  verifyProcessCodeSignatureWithAuditToken: true,
  parentProcessPid: true,
  responsibleProcessPid: true,
  peerCodeSigningSummary: true,
  promptTrust: true,
  listApplications: true,
  applicationInfo: true,
  applicationIconPngAsync: true,
  screenCaptureProbeWindows: true,
  inspectPngContent: true,
  listWindows: true,
  captureApp: true,
  captureAppAsync: true,
  captureAppDiagnostic: true,
  ackCaptureEpoch: true,
  releaseCaptureEpoch: true,
  readElement: true,
  elementAtPoint: true,
  policyIdentityAtPoint: true,
  clickElementAtPoint: true,
  preventActivation: true,
  reenableActivation: true,
  isFocusStealPrevented: true,
  openApplicationInBackground: true,
  openApplicationInBackgroundAsync: true,
  activateApplication: true,
  activateWindow: true,
  activateAppFrameSurface: true,
  terminateApplicationVerified: true,
  performAction: true,
  setValue: true,
  setFocused: true,
  selectText: true,
  getWindowId: true,
  captureWindowImage: true,
  captureWindowImageVerified: true,
  captureWindowImageVerifiedAsync: true,
  projectFrameContentForTest: true,
  typeTextToPid: true,
  pressKeyToPid: true,
  holdKeyToPid: true,
  typeTextToPidVerified: true,
  pressKeyToPidVerified: true,
  holdKeyToPidVerified: true,
  screenCaptureStatus: true,
  requestScreenCaptureAccess: true,
  readTccDbGranted: true,
  displays: true,
  cursorPoint: true,
  clickAtPoint: true,
  moveTo: true,
  scrollAt: true,
  drag: true,
  dragAsync: true,
  mouseDown: true,
  mouseUp: true,
  moveToPid: true,
  scrollToPid: true,
  dragToPid: true,
  mouseDownToPid: true,
  mouseUpToPid: true,
  typeTextGlobal: true,
  pressKeyGlobal: true,
  pasteboardBeginProvidedPaste: true,
  pasteboardAwaitProvidedRead: true,
  pasteboardMarkProvidedPasteDispatched: true,
  pasteboardFinishProvidedPaste: true,
  holdKeyGlobal: true,
  holdKeyGlobalAsync: true,
  cancelInputHoldsForSession: true,
  cancelPendingInputHolds: true,
  keyDownGlobal: true,
  keyUpGlobal: true,
  setCpsActivationDisabled: true,
  beginBackgroundWindowInput: true,
  beginBackgroundWindowInputDetailed: true,
  endBackgroundWindowInput: true,
  clickToWindow: true,
  moveToWindow: true,
  scrollToWindow: true,
  dragToWindow: true,
  mouseDownToWindow: true,
  mouseUpToWindow: true,
  beginBackgroundWindowInputDetailedAsync: true,
  endBackgroundWindowInputAsync: true,
  endBackgroundWindowInputDetailedAsync: true,
  clickToWindowAsync: true,
  moveToWindowAsync: true,
  scrollToWindowAsync: true,
  dragToWindowAsync: true,
  mouseDownToWindowDetailedAsync: true,
  mouseUpToWindowAsync: true,
  ghostInit: true,
  ghostShow: true,
  ghostMove: true,
  ghostMoveTarget: true,
  ghostClickRipple: true,
  ghostHide: true,
  ghostState: true,
  ghostRenderPng: true,
  ghostSetEnabled: true,
  ghostSetCapture: true,
  ghostSetControllerStatus: true,
  ghostBeginAction: true,
  ghostEndAction: true,
  ghostShowFocusRect: true,
  ghostBeginActionWithTitle: true,
  ghostSetRequestSession: true,
  ghostSetMultiCursorEnabled: true,
  ghostSessionTurnEnd: true,
  ghostRemoveSession: true,
  ghostPaletteSelftest: true,
  ghostMotionSelftest: true,
  ghostGeometrySelftest: true,
  pipStart: true,
  pipStartVerified: true,
  pipStartVerifiedAsync: true,
  pipStartVerifiedCompositeAsync: true,
  pipStop: true,
  pipDismiss: true,
  pipIsRunning: true,
  pipStopTarget: true,
  pipGetLeadTarget: true,
  pipStackCount: true,
  pipSetActiveGroup: true,
  pipBeginTurn: true,
  pipTaskCompleted: true,
  pipFreezeGroup: true,
  pipIsInteractionReady: true,
  pipGetWindowBounds: true,
  pipSetLiveLegacyCaptureDelay: true,
  pipGetLiveLegacyCaptureDiagnostics: true,
  pipGetStackTargets: true,
  pipStartInteractionTestPanel: true,
  pipMoveInteractionTestPanelToPoint: true,
  pipSampleInteractionOwnershipAtPoint: true,
  pipVerifyInitialHitSurface: true,
  pipEvaluateDoubleClickActivation: true,
  pipSimulateUserInputDisableReleaseRace: true,
  pipSimulateSyntheticAdmissionTimeoutFencing: true,
  pipSimulateSyntheticReservationInterleaving: true,
  pipSimulateForeignContinuationPassThrough: true,
  pipSimulatePersistentCaptureFailures: true,
  pipSimulateTimeoutDrainRecovery: true,
  pipIsDismissed: true,
  pipClearDismissed: true,
  pipSetEnabled: true,
};
void everyName;

async function usage(): Promise<void> {
  sim.reset();
  sim.loadSampleScene();
  const live: number = sim.liveHandleCount();
  void live;
  const snap = await addon.captureAppAsync(501, 'com.korvo.TextPad');
  if (snap) {
    const first = snap.elements[0];
    const ref: string = first.ref;
    const epoch: number = snap.capture_epoch;
    addon.ackCaptureEpoch(501, epoch);
    void ref;
  }
  const typed: boolean = await addon.typeTextToPid(501, 'hello');
  const outcome = await addon.typeTextToPidVerified(501, 'com.korvo.TextPad', 'hi', 101);
  const code: addon.KeyboardInputError | null = outcome.error;
  const held = await addon.holdKeyToPidVerified(501, 'com.korvo.TextPad', 'shift', 0.5, 'session-1', null);
  const global: boolean = addon.keyDownGlobal('cmd+shift+4') && addon.keyUpGlobal('cmd+shift+4');
  const asyncHold: boolean = await addon.holdKeyGlobalAsync('a', 10, 'session-1');
  const cancelled: boolean = addon.cancelInputHoldsForSession('session-1');
  sim.setKeyboardLayout('de');
  const layout: string = sim.keyboardLayout().inputSourceId;
  const keys: number[] = sim.heldKeys(501);
  const units: number[] | undefined = sim.events()[0]?.unicodeUnits;
  void typed; void code; void held; void global; void asyncHold; void cancelled; void layout; void keys; void units;
}
void usage;

async function mouseUsage(): Promise<void> {
  const clicked: boolean = addon.clickAtPoint(10, 20, 'left', 2, 'cmd', 501, 101);
  const moved: boolean = addon.moveTo(10, 20) && addon.moveToPid(501, 10, 20);
  const dragged: boolean = await addon.dragAsync(1, 2, 3, 4, 'middle');
  const pressed: boolean = addon.mouseDown('left') && addon.mouseUp('left');
  const scrolled: boolean = addon.scrollToPid(501, 1, 2, 3, 'down') && addon.dragToPid(501, 1, 2, 3, 4, 'right');
  const bounds: addon.WindowBounds = [400, 200, 680, 460];
  const begun: addon.BackgroundBeginOutcome =
    await addon.beginBackgroundWindowInputDetailedAsync(502, 'com.korvo.Settings', 201, bounds);
  const missing: addon.SkyLightEntryName[] = begun.missing_symbols;
  const ended: addon.BackgroundEndOutcome =
    await addon.endBackgroundWindowInputDetailedAsync(502, 'com.korvo.Settings', 201, bounds);
  const cursor: [number, number] | null = ended.live_cursor;
  const click: boolean = await addon.clickToWindowAsync(502, 'com.korvo.Settings', 201, bounds, 610, 280, 'left', 1, '');
  const down = await addon.mouseDownToWindowDetailedAsync(502, 'com.korvo.Settings', 201, bounds, 610, 280, 'left', true);
  const state: 'definitely_unsent' | 'down_posted_or_ambiguous' = down.delivery_state;
  const retired: false = addon.clickToWindow();
  sim.setOptions({ pointerFollowsEvents: false });
  sim.setHeldModifiers(0x20000);
  const focus: Record<string, number> = sim.syntheticFocus();
  void clicked; void moved; void dragged; void pressed; void scrolled; void missing; void cursor; void click;
  void state; void retired; void focus;
}
void mouseUsage;

function ghostUsage(): void {
  addon.ghostSetEnabled(true);
  addon.ghostShow(10, 20, 'agent-1');
  addon.ghostMoveTarget(10, 20, 501, 101, true, undefined, 'agent-1');
  const state: addon.GhostState = addon.ghostState();
  const fill: string = state.groups[0].fillHex;
  const ok: boolean = addon.ghostRenderPng('/tmp/x.png', 64, 64);
  const m = addon.ghostMotionSelftest();
  const arrived: boolean = m.arrived && addon.ghostGeometrySelftest().primary === 0;
  const windows = sim.overlayWindows();
  void fill; void ok; void arrived; void windows;
}
void ghostUsage;

async function pasteUsage(): Promise<void> {
  const begun: addon.ProvidedPasteBegin = addon.pasteboardBeginProvidedPaste('hi', 'html');
  const marked: boolean = addon.pasteboardMarkProvidedPasteDispatched(begun.token);
  sim.readPasteboard(sim.pasteboardTypes.plainText, { reader: 'editor', afterMs: 100 });
  const read: addon.ProvidedReadOutcome = await addon.pasteboardAwaitProvidedRead(begun.token, 2000, 400);
  const code: addon.ProvidedReadError | null = read.error;
  const finished: boolean = addon.pasteboardFinishProvidedPaste(begun.token);
  const count: number | null = sim.writePasteboard([{ 'text/plain;charset=utf-8': 'other' }]);
  const types: string[] = sim.pasteboard().items[0].types;
  const readers: string[] = sim.pasteboardReads().map((r) => r.reader);
  void marked; void code; void finished; void count; void types; void readers;
}
void pasteUsage;

function pipInteractionUsage(): void {
  const ready: boolean = addon.pipIsInteractionReady();
  const b: addon.PipWindowBounds | null | undefined = addon.pipGetWindowBounds?.();
  const targets: addon.PipStackTarget[] = addon.pipGetStackTargets?.() ?? [];
  const raced: boolean | undefined = addon.pipSimulateTimeoutDrainRecovery?.();
  const taps: number = sim.eventTaps().created;
  sim.userMouse('down', 10, 20, { pid: 0, clickCount: 2 });
  void ready; void b; void targets; void raced; void taps;
}
void pipInteractionUsage;

// The desktop description: statuses and facility names are closed sets.
function describeDesktop(): void {
  const d: platform.DesktopDescription = platform.describe();
  const status: platform.Support = d.capabilities.pasteboard.status;
  const why: string | undefined = d.capabilities.capture_streams.reason;
  const names: readonly platform.Facility[] = platform.FACILITIES;
  const ok: boolean = platform.isAvailable('keyboard_to_process');
  // @ts-expect-error: not a facility
  platform.isAvailable('clipboard');
  // @ts-expect-error: not a status
  const bad: platform.Support = 'maybe';
  void status; void why; void names; void ok; void bad;
}
void describeDesktop;

// The typings refuse what the run time refuses (or answers with an error).
async function strictness(ref: string): Promise<void> {
  addon.performAction(ref, 'AXPress');
  addon.performAction(ref, 'click' as addon.OtherActionName);
  // @ts-expect-error: a misspelt action name
  addon.performAction(ref, 'AXPresss');
  const el = addon.readElement(ref);
  if (el) addon.performAction(ref, el.actions[0]);
  addon.clickAtPoint(1, 2, 'Left', 1);
  // @ts-expect-error: not a button
  addon.clickAtPoint(1, 2, 'lfet', 1);
  // @ts-expect-error: not a scroll direction
  addon.scrollAt(1, 2, 3, 'sideways');
  // @ts-expect-error: background input matches names exactly
  await addon.clickToWindowAsync(502, 'com.korvo.Settings', 201, [0, 0, 9, 9], 1, 1, 'LEFT', 1, null);
  // @ts-expect-error: not a paste format
  addon.pasteboardBeginProvidedPaste('hi', 'rtf');
  addon.pressKeyGlobal('Enter');
  addon.pressKeyGlobal('cmd+shift+4');
  // @ts-expect-error: not a key name
  addon.pressKeyGlobal('entr');
  // @ts-expect-error: present only with the live gate
  addon.projectFrameContentForTest([0, 0, 1, 1], [0, 0, 1, 1], 1, 1, 1, 1);
  addon.projectFrameContentForTest?.([0, 0, 1, 1], [0, 0, 1, 1], 1, 1, 1, 1);
}
void strictness;
