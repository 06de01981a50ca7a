// Typings of desktop-sim (sim.js): scripts the simulated desktop the add-on
// runs against. See platform/sim/README.md for the scene format.

export type Rect = [number, number, number, number];

/** A scene value: plain JSON, or a typed value such as {ref: id}, {point: [x, y]}. */
export type SceneValue =
  | string | number | boolean | null
  | { ref: string } | { refs: string[] } | { point: [number, number] } | { size: [number, number] }
  | { rect: Rect } | { range: [number, number] } | SceneValue[] | { [key: string]: SceneValue };

export type Effect =
  | { setValue: { target?: string; value: SceneValue } }
  | { setAttribute: { target?: string; attribute: string; value: SceneValue } }
  | { openSheet: string } | { show: string } | { closeSheet: string } | { hide: string }
  | { activate: true | number } | { quit: true | number }
  | { increment: string } | { decrement: string } | { toggle: string }
  | { focus: string } | { raise: string } | { press: string } | { log: string };

export interface GenerateSpec {
  generate: {
    count: number;
    role?: string;
    idPrefix?: string;
    start?: number;
    frame?: Rect;
    step?: [number, number];
    [key: string]: unknown;
  };
}

export interface ElementSpec {
  id?: string;
  role?: string;
  subrole?: string;
  title?: string;
  description?: string;
  value?: string | number | boolean | null;
  help?: string;
  identifier?: string;
  enabled?: boolean;
  selected?: boolean;
  focused?: boolean;
  roleDescription?: string;
  minValue?: number;
  maxValue?: number;
  placeholder?: string;
  frame?: Rect | null;
  children?: Array<ElementSpec | GenerateSpec>;
  visibleChildren?: string[];
  titleElement?: string;
  defaultButton?: string;
  parent?: string;
  pid?: number;
  windowNumber?: number;
  cg?: boolean;
  hidden?: boolean;
  actions?: string[] | Record<string, Effect[] | Effect>;
  onPress?: Effect[] | Effect;
  settable?: string[];
  notSettable?: string[];
  attributes?: Record<string, SceneValue>;
  errors?: Record<string, number>;
  wrongType?: string[];
  missing?: string[];
  delayMs?: number;
  hang?: boolean;
  batchFails?: boolean;
  windowNumberError?: number | null;
  windowNumberOverride?: number | null;
  [key: string]: unknown;
}

export interface WindowSpec extends ElementSpec {
  number?: number;
  bounds?: Rect;
  axFrame?: Rect;
  cgTitle?: string;
  layer?: number;
  onScreen?: boolean;
  alpha?: number;
  desktop?: boolean;
  omitKeys?: string[];
  badKeys?: Record<string, SceneValue>;
  acceptsMouseDown?: boolean;
  ax?: boolean;
  main?: boolean;
}

export interface Signing {
  teamId?: string;
  identifier?: string;
  anchor?: 'apple' | 'apple generic' | '';
}

export interface AppSpec {
  pid?: number;
  id?: string;
  bundleId?: string;
  name?: string;
  path?: string;
  launchTime?: number;
  policy?: 'regular' | 'accessory' | 'prohibited';
  terminated?: boolean;
  otherUser?: boolean;
  unlisted?: boolean;
  unresponsive?: boolean;
  batchFails?: boolean;
  refusesActivation?: boolean;
  signing?: Signing | null;
  responsiblePid?: number;
  element?: ElementSpec;
  windows?: WindowSpec[];
  extraWindows?: string[];
  menuBar?: ElementSpec;
  openMenu?: string;
  focusedWindow?: string;
  mainWindow?: string;
  focusedElement?: string;
  defaultButton?: string;
  /** launchApp only: also activate it. */
  activate?: boolean;
}

export interface DisplaySpec {
  id?: number;
  bounds: Rect;
  pixelWidth?: number;
  pixelHeight?: number;
  scale?: number;
  main?: boolean;
  /** Mirrors another display: no screen and no overlay window of its own. */
  mirror?: boolean;
}

export interface InstalledSpec {
  bundleId: string;
  name: string;
  path: string;
  app?: AppSpec;
  openResult?: { error?: number; delayMs?: number; never?: boolean };
}

export interface Permissions {
  accessibility?: boolean;
  screenRecording?: boolean;
  responsibilityAvailable?: boolean;
  preflightAvailable?: boolean;
  requestAvailable?: boolean;
}

export interface Scene {
  platformVersion?: string;
  displays?: DisplaySpec[];
  pointer?: [number, number];
  permissions?: Permissions;
  frontmost?: number;
  frontProcessFails?: boolean;
  singleWindowImage?: boolean;
  keyboardLayout?: boolean;
  privateEntriesAbsent?: string[];
  installed?: InstalledSpec[];
  apps?: AppSpec[];
  order?: number[];
}

export interface HookMatch {
  op: string;
  attribute?: string;
  element?: string;
  pid?: number;
  window?: number;
}

export interface FaultSpec extends HookMatch {
  error?: number | 'no_answer' | 'wrong_type';
  quit?: boolean;
  quitPid?: number;
  count?: number;
}

export interface ElementInfo {
  id: string;
  role: string;
  subrole: string | null;
  title: SceneValue;
  description: SceneValue;
  value: SceneValue;
  identifier: SceneValue;
  help: SceneValue;
  enabled: boolean;
  focused: boolean;
  main?: boolean;
  selected: SceneValue;
  frame: Rect | null;
  pid: number;
  appPid: number;
  windowNumber: number | null;
  pressCount: number;
  actionCounts: Record<string, number>;
  liveHandles: number;
  alive: boolean;
  hidden: boolean;
  visible: boolean;
  parent: string | null;
  children: string[];
  actions: string[];
  settable: string[];
  attributes: Record<string, SceneValue>;
  delayMs: number;
  hang: boolean;
}

export interface AppInfo {
  pid: number;
  bundleId: string | null;
  name: string | null;
  path: string | null;
  launchTime: number;
  policy: 'regular' | 'accessory' | 'prohibited';
  terminated: boolean;
  active: boolean;
  otherUser: boolean;
  unlisted: boolean;
  unresponsive: boolean;
  elementId: string;
  windows: string[];
  focusedWindow: string | null;
  mainWindow: string | null;
  focusedElement: string | null;
  messagingTimeout: number;
  manualAccessibility: SceneValue;
  enhancedUserInterface: SceneValue;
}

export interface WindowInfo {
  number: number;
  pid: number;
  ownerName: string;
  title: string;
  layer: number;
  bounds: Rect;
  onScreen: boolean;
  alpha: number;
  acceptsMouseDown: boolean;
  elementId: string | null;
  visible: boolean;
}

export interface Point {
  x: number;
  y: number;
}

export interface JournalEvent {
  seq: number;
  route: 'hid' | 'session' | 'pid' | 'private_pid' | 'event_record';
  pid: number;
  simMs: number;
  type: string;
  typeCode?: number;
  source?: 'hidSystem' | 'combinedSession' | 'private';
  location?: Point;
  windowLocation?: Point | null;
  flags?: number;
  /** Whether the poster set the flags explicitly (else they are the created event's). */
  flagsSet?: boolean;
  keycode?: number;
  /** The Unicode payload as text (a lone surrogate half reads as U+FFFD). */
  unicode?: string;
  /** The Unicode payload's exact UTF-16 code units. */
  unicodeUnits?: number[];
  fields?: Record<string, number>;
  doubleFields?: Record<string, number>;
  scroll?: { pixelUnits: boolean; wheelCount: number; deltas: [number, number, number] };
  timestampNs?: number;
  record?: string;
  recordKind?: number;
  recordWindowId?: number;
  recordFocus?: number;
}

export interface ProbeEvent {
  tap?: 'hid' | 'session';
  type: number;
  keycode?: number;
  unicode?: string;
  x?: number;
  y?: number;
  flags?: number;
  fields?: Record<string, number>;
}

/** An element id, "system-wide", or a slot from hold()/createApplication(). */
export type ProbeElement = string | number;

export interface ProbeAnswer<T = SceneValue> {
  error: number;
  value?: T;
  values?: SceneValue[];
}

export interface Probe {
  hold(el: ProbeElement): number | null;
  createApplication(pid: number): number | null;
  systemWide(): number | null;
  release(slot: number): boolean;
  releaseAll(): null;
  copyAttribute(el: ProbeElement, attr: string): ProbeAnswer;
  copyMultiple(el: ProbeElement, attrs: string[]): ProbeAnswer;
  setAttribute(el: ProbeElement, attr: string, value: SceneValue): ProbeAnswer;
  perform(el: ProbeElement, action?: string): ProbeAnswer;
  windowNumber(el: ProbeElement): ProbeAnswer<number>;
  elementAt(el: ProbeElement, x: number, y: number): ProbeAnswer;
  setMessagingTimeout(el: ProbeElement, seconds: number): ProbeAnswer;
  post(event: ProbeEvent): boolean;
  postToPid(pid: number, event: ProbeEvent): boolean;
  privatePostToPid(pid: number, event: ProbeEvent): boolean;
  windowList(onScreenOnly?: boolean): Array<Record<string, SceneValue>> | null;
  openApplication(url: string, activates?: boolean): null;
  completions(): Array<{ error: number; pid: number }>;
  observeActivations(): null;
  activations(): number[];
  runOnce(): null;
  isTrusted(prompt?: boolean): boolean;
  sleep(ms: number): number;
}

export interface Stats {
  observers: number;
  pendingActivations: number;
  pendingAppEvents: number;
  dispatchedAppEvents: number;
  ensureApplicationCalls: number;
  platformVersion: string;
  timeScale: number;
  liveHandles: number;
  /** Turns of the application run loop (one per pump turn). */
  runLoopTurns: number;
  axCalls: number;
  axBackendNs: number;
}

/** One of the add-on's overlay windows. */
export interface OverlayWindow {
  number: number;
  /** [x, y, width, height] in global top-left points. */
  frame: Rect;
  orderedIn: boolean;
  level: number;
  ignoresMouse: boolean;
  /** 0: invisible to screen capture, 1: capturable. */
  sharingType: number;
  scale: number;
  /** Layers in the window's tree. */
  layers: number;
}

export interface PanelWindow {
  number: number;
  /** [x, y, width, height] in global top-left points. */
  frame: Rect;
  orderedIn: boolean;
  level: number;
  collectionBehavior: number;
  hasShadow: boolean;
  opaque: boolean;
  movableByBackground: boolean;
  ignoresMouse: boolean;
  hidesOnDeactivate: boolean;
  /** Content aspect [width, height]; [0, 0] when free. */
  aspect: [number, number];
  cornerRadius: number;
  scale: number;
  /** Image layers of the panel that show a bitmap. */
  imageLayersWithContents: number;
}

export function reset(): null;
export function loadScene(scene: Scene | string): null;
export function loadSceneFile(file: string): null;
export function loadSampleScene(): null;
export const sampleScenePath: string;

export function launchApp(spec: AppSpec): number;
export function quitApp(pid: number): boolean;
export function relaunch(pid: number, opts?: { launchTime?: number; bundleId?: string; name?: string }): null;
export function setApp(pid: number, patch: Partial<AppSpec>): null;
export function install(entry: InstalledSpec): null;
export function setFrontmost(pid: number): boolean | null;

export function addWindow(pid: number, spec: WindowSpec): number | null;
export function moveWindow(number: number, bounds: Rect): null;
export function removeWindow(number: number): boolean;
export function setWindow(number: number, patch: Partial<WindowSpec> & { ownerName?: string }): null;
export function raiseWindow(number: number): null;

export function setAttribute(id: string, attr: string, value: SceneValue | undefined): null;
export function setElement(id: string, patch: ElementSpec): null;
export function press(id: string, action?: string): number;

export function setPermissions(perms: Permissions): null;
export function setPlatformVersion(version: string): null;
export function setPrivateEntriesAbsent(names: string[]): null;
export function setDisplays(displays: DisplaySpec[]): null;
export function setPointer(x: number, y: number): null;
export type KeyboardLayoutName = 'us' | 'de';
export function setKeyboardLayout(name: KeyboardLayoutName): null;
export function keyboardLayout(): { name: KeyboardLayoutName; inputSourceId: string };
export function setOptions(options: {
  singleWindowImage?: boolean;
  frontProcessFails?: boolean;
  keyboardLayout?: boolean;
  pointerAvailable?: boolean;
  /** false: system-wide mouse events no longer move the pointer. */
  pointerFollowsEvents?: boolean;
}): null;
/** The modifier keys the user physically holds (event flag bits, e.g. 0x20000 Shift). */
export function setHeldModifiers(flags: number): null;
/** pid (as a string key) -> window number the process believes focused through a focus event record. */
export function syntheticFocus(): Record<string, number>;
export function queueAppEvents(n?: number): null;

export function injectFault(spec: FaultSpec): number;
export function clearFaults(): null;
export function block(spec: HookMatch): number;
export function unblock(id: number): boolean;
export function isBlocked(id: number): boolean;
export function hooks(): { faults: Array<{ id: number; op: string; remaining: number }>; blocks: Array<{ id: number; op: string; parked: boolean }> };

/** A pasteboard item: type -> text. */
export type PasteboardItem = Record<string, string>;
export interface PasteboardContents {
  changeCount: number;
  /** "self" (the host process), a writer's name, or "" after reset. */
  owner: string;
  /** data holds the eager types only; a provided item's data is never asked for here. */
  items: Array<{ types: string[]; provided: boolean; data: PasteboardItem }>;
}
export interface PasteboardRead { reader: string; type: string; value: string | null; simMs: number }
export const pasteboardTypes: Readonly<{ plainText: string; html: string; markdown: string }>;
export function pasteboard(): PasteboardContents;
export function readPasteboard(type?: string, opts?: { reader?: string; afterMs?: number }): string | null;
export function writePasteboard(items: PasteboardItem[], opts?: { writer?: string; afterMs?: number }): number | null;
export function pasteboardReads(): PasteboardRead[];

export function setTimeScale(k: number): null;
export function advanceClock(ms: number): null;
export function clockNow(): number;
export function setSteppedClock(on: boolean): null;
export function clockWaiters(): number;
export function stepClock(
  ms: number,
  opts?: { stepMs?: number; waiters?: number; until?: (() => unknown) | null; timeoutMs?: number },
): Promise<number>;

export function element(id: string): ElementInfo | null;
export function elements(pid?: number): Array<{ id: string; role: string; title: SceneValue; pid: number; liveHandles: number }>;
export function liveHandleCount(): number;
export function apps(): AppInfo[];
export function app(pid: number): AppInfo | null;
export function windows(): WindowInfo[];
export function frontmost(): number;
export function pointer(): Point;
export function displays(): Array<{ id: number; bounds: Rect; pixelWidth: number; pixelHeight: number; main: boolean }>;
export function permissions(): Required<Permissions> & { promptCount: number; requestCount: number };
export function events(): JournalEvent[];
export function clearEvents(): null;
export function heldKeys(pid: number): number[];
export function heldKeys(): Record<string, number[]>;
/** The journal's key-down and key-up events. */
export function keyEvents(): JournalEvent[];
/** Key events as one line: "d19 u19", "d56/20000" (flags set, hex), "d[text]" (Unicode). */
export function keyTrace(events?: JournalEvent[]): string;
export function logLines(): string[];
export function clearLog(): null;
export function promptCount(): number;
export function stats(): Stats;
export function windowImage(number: number): { width: number; height: number; rgba: Buffer } | null;
export function overlayWindows(): OverlayWindow[];
/** Writes the on-screen window list as JSON to `file` (atomically) for settings-watch. */
export function writeWindowList(file: string): string;
export function backendName(): string;
export function panels(): PanelWindow[];

// ---- event taps and the user's mouse ----
export interface UserMouseOptions { clickCount?: number; pid?: number; userData?: number }
/** The user's hardware posts a left-button or movement event; it passes the active taps first. */
export function userMouse(type: 'down' | 'up' | 'dragged' | 'moved', x: number, y: number,
                          opts?: UserMouseOptions): boolean;
export interface EventTapState { enabled: boolean; seen: number; swallowed: number }
export function eventTaps(): { taps: EventTapState[]; created: number; timeouts: number; leftButtonDown: boolean };
/** Switches every enabled tap off as the platform does; answers how many. */
export function disableEventTaps(reason?: 'timeout' | 'userInput'): number;
/** How long a posted event waits for a tap's verdict (1..60000 ms, default 1000). */
export function setEventTapTimeout(ms: number): null;
export function setLeftButtonDown(down: boolean): null;
/** A panel or overlay window of the add-on as drawn now, at its backing scale. */
export function surfaceImage(number: number): { width: number; height: number; rgba: Buffer } | null;
export function setManualDisplayLinks(on?: boolean): null;
/** Runs every display link n times on the calling thread; answers the ticks run. */
export function tickDisplayLinks(n?: number): number;
export function displayLinks(): { active: number; started: number; ticks: number; manual: boolean; shadowInvalidations: number };
export function setManualScreenshots(on?: boolean): null;
/** Answers the n oldest parked screenshot requests; answers how many. */
export function completeScreenshots(n?: number): number;
export function screenshots(): { requested: number; answered: number; pending: number; manual: boolean };
export function waitFor<T>(predicate: () => T, opts?: { timeoutMs?: number; intervalMs?: number }): Promise<T>;

export const probe: Probe;
export const EventType: Readonly<{
  leftMouseDown: 1; leftMouseUp: 2; rightMouseDown: 3; rightMouseUp: 4; mouseMoved: 5;
  leftMouseDragged: 6; keyDown: 10; keyUp: 11; flagsChanged: 12; scrollWheel: 22;
}>;
export function call(name: string, ...args: unknown[]): any;
