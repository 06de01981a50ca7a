'use strict';
// desktop-sim: scripts the simulated desktop that the add-on runs against.
// Load a scene, change it while the add-on runs, and read what happened.
// See platform/sim/README.md for the scene format and every call.

const path = require('path');

// The native part comes from the same directory as the add-on's (lib/native.js):
// both link the one platform library that holds the simulated desktop.
const native = require('./lib/native').load('desktop_sim.node', 'desktop-sim');

function call(name, ...args) {
  const answer = JSON.parse(native.call(name, JSON.stringify(args)));
  if (answer.error !== undefined) throw new Error(`desktop-sim ${name}: ${answer.error}`);
  return answer.value === undefined ? null : answer.value;
}

function sceneObject(scene) {
  if (typeof scene === 'string') return JSON.parse(scene);
  if (scene && typeof scene === 'object') return scene;
  throw new TypeError('loadScene(scene) expects a scene object or JSON text');
}

const sim = {
  // ---- the world ----
  reset: () => call('reset'),
  loadScene: (scene) => call('loadScene', sceneObject(scene)),
  loadSceneFile: (file) => call('loadScene', JSON.parse(require('fs').readFileSync(file, 'utf8'))),

  // ---- applications ----
  launchApp: (spec) => call('launchApp', spec),
  quitApp: (pid) => call('quitApp', pid),
  relaunch: (pid, opts = {}) => call('relaunch', pid, opts),
  setApp: (pid, patch) => call('setApp', pid, patch),
  install: (entry) => call('install', entry),
  setFrontmost: (pid) => call('setFrontmost', pid),

  // ---- windows ----
  addWindow: (pid, spec) => call('addWindow', pid, spec),
  moveWindow: (number, bounds) => call('moveWindow', number, bounds),
  removeWindow: (number) => call('removeWindow', number),
  setWindow: (number, patch) => call('setWindow', number, patch),
  raiseWindow: (number) => call('raiseWindow', number),

  // ---- elements ----
  setAttribute: (id, attr, value) => call('setAttribute', id, attr, value === undefined ? null : value),
  setElement: (id, patch) => call('setElement', id, patch),
  press: (id, action = 'AXPress') => call('press', id, action),

  // ---- system ----
  setPermissions: (perms) => call('setPermissions', perms),
  setPlatformVersion: (version) => call('setPlatformVersion', String(version)),
  setPrivateEntriesAbsent: (names) => call('setPrivateEntriesAbsent', names || []),
  setDisplays: (displays) => call('setDisplays', displays),
  setPointer: (x, y) => call('setPointer', x, y),
  // Switches the current keyboard layout ('us' or 'de') at run time.
  setKeyboardLayout: (name) => call('setKeyboardLayout', name),
  keyboardLayout: () => call('keyboardLayout'),
  setOptions: (options) => call('setOptions', options),
  // The modifier keys the user physically holds (event flag bits, e.g. 0x20000 Shift).
  setHeldModifiers: (flags) => call('setHeldModifiers', flags),
  // pid -> window number each process believes focused through a focus event record.
  syntheticFocus: () => call('syntheticFocus'),
  queueAppEvents: (n = 1) => call('queueAppEvents', n),

  // ---- pasteboard ----
  // Items are objects of type -> text, e.g. {'text/plain;charset=utf-8': 'hi'}.
  pasteboardTypes: Object.freeze({
    plainText: 'text/plain;charset=utf-8', html: 'text/html', markdown: 'text/markdown',
  }),
  // {changeCount, owner, items: [{types, provided, data}]}; reads nothing
  // (a provided item's data is not asked for).
  pasteboard: () => call('pasteboard'),
  // A reader process asks for `type`: answers its text (null when none), or
  // with afterMs schedules the read on the sim clock and answers null.
  readPasteboard: (type = 'text/plain;charset=utf-8', opts = {}) => call('readPasteboard', type, opts),
  // Another application replaces the contents: answers the new change count,
  // or with afterMs schedules the write on the sim clock and answers null.
  writePasteboard: (items, opts = {}) => call('writePasteboard', items, opts),
  // Every read so far: [{reader, type, value, simMs}].
  pasteboardReads: () => call('pasteboardReads'),

  // ---- test hooks ----
  injectFault: (spec) => call('injectFault', spec),
  clearFaults: () => call('clearFaults'),
  block: (spec) => call('block', spec),
  unblock: (id) => call('unblock', id),
  isBlocked: (id) => call('isBlocked', id),
  hooks: () => call('hooks'),

  // ---- clock ----
  setTimeScale: (k) => call('setTimeScale', k),
  advanceClock: (ms) => call('advanceClock', ms),
  clockNow: () => call('clockNow'),
  // Stepped time: the clock stands still and moves only by advanceClock or
  // stepClock; the add-on's delayed work fires on those steps. reset() and
  // setSteppedClock(false) go back to real time.
  setSteppedClock: (on) => call('setSteppedClock', !!on),
  // How many threads now wait for the clock to reach a time.
  clockWaiters: () => call('clockWaiters'),
  // Moves the stepped clock `ms` forward in steps of `stepMs`. Before each
  // step it waits (in real time, bounded) until at least `waiters` threads
  // wait on the clock, so a step never overtakes the work it times; after
  // each it lets this thread's event loop run what fell due. Stops early
  // when `until()` holds; answers the sim time stepped.
  async stepClock(ms, { stepMs = ms, waiters = 0, until = null, timeoutMs = 10000 } = {}) {
    let done = 0;
    const end = Date.now() + timeoutMs;
    while (done < ms && !(until && until())) {
      while (call('clockWaiters') < waiters && Date.now() < end && !(until && until())) {
        await new Promise((r) => setTimeout(r, 1));
      }
      if (until && until()) break;
      const d = Math.min(stepMs, ms - done);
      call('advanceClock', d);
      done += d;
      // Every waiter sees the step (and what it starts runs) before the next.
      while (call('clockStaleWaiters') > 0 && Date.now() < end) await new Promise((r) => setTimeout(r, 1));
      await new Promise((r) => setImmediate(r));
      await new Promise((r) => setTimeout(r, 1));
    }
    return done;
  },

  // ---- readers ----
  element: (id) => call('element', id),
  elements: (pid) => call('elements', pid || 0),
  liveHandleCount: () => call('liveHandleCount'),
  apps: () => call('apps'),
  app: (pid) => call('app', pid),
  windows: () => call('windows'),
  frontmost: () => call('frontmost'),
  pointer: () => call('pointer'),
  displays: () => call('displays'),
  permissions: () => call('permissions'),
  events: () => call('events'),
  clearEvents: () => call('clearEvents'),
  // Keycodes held down by one process, or {pid: keycodes} for every process.
  heldKeys: (pid) => call('heldKeys', pid || 0),
  // The journal's key-down and key-up events.
  keyEvents: () => sim.events().filter((e) => e.type === 'keyDown' || e.type === 'keyUp'),
  // Key events as one line: "d19 u19" (key-down / key-up of keycode 19),
  // "d56/20000" (flags set explicitly, hex), "d[hello]" (a Unicode event).
  keyTrace(events = sim.keyEvents()) {
    return events.map((e) => {
      const body = e.unicodeUnits && e.unicodeUnits.length ? `[${e.unicode}]` : String(e.keycode);
      return `${e.type === 'keyDown' ? 'd' : 'u'}${body}${e.flagsSet ? '/' + e.flags.toString(16) : ''}`;
    }).join(' ');
  },
  logLines: () => call('logLines'),
  clearLog: () => call('clearLog'),
  promptCount: () => call('promptCount'),
  stats: () => call('stats'),
  windowImage: (number) => native.windowImage(number),
  // The add-on's overlay windows: number, frame, orderedIn, level,
  // ignoresMouse, sharingType, scale, layers.
  overlayWindows: () => call('overlayWindows'),
  // Writes the on-screen window list as JSON to `file` (atomically), where
  // settings-watch reads it on the simulated desktop
  // (KORVO_OZA_SIM_WINDOW_LIST=file); call it again after changing windows.
  writeWindowList: (file) => call('writeWindowList', file),
  backendName: () => native.backendName(),

  // ---- mirroring panels, display links, screenshots ----
  // The add-on's panel windows: number, frame (global top-left), orderedIn,
  // level, collectionBehavior, hasShadow, opaque, movableByBackground,
  // ignoresMouse, hidesOnDeactivate, aspect, cornerRadius, scale,
  // imageLayersWithContents.
  panels: () => call('panels'),

  // ---- event taps and the user's mouse ----
  // The user's hardware presses ('down', 'up', 'dragged', 'moved') at a
  // global point; opts {clickCount, pid (the posting process, 0 hardware),
  // userData (field 42)}. The event runs through the active taps first.
  userMouse: (type, x, y, opts = {}) => call('userMouse', type, x, y, opts),
  // {taps: [{enabled, seen, swallowed}] newest first, created, timeouts, leftButtonDown}
  eventTaps: () => call('eventTaps'),
  // Switches every enabled tap off as the platform does ('timeout' or 'userInput').
  disableEventTaps: (reason = 'timeout') => call('disableEventTaps', reason),
  // How long a posted event waits for a tap's verdict before the tap is disabled (default 1000).
  setEventTapTimeout: (ms) => call('setEventTapTimeout', ms),
  setLeftButtonDown: (down) => call('setLeftButtonDown', !!down),
  // A panel or overlay window as drawn now: {width, height, rgba} or null.
  surfaceImage: (number) => native.surfaceImage(number),
  // Manual mode: display links tick only through tickDisplayLinks(n), which
  // runs every link n times on the calling thread and answers the ticks run.
  setManualDisplayLinks: (on = true) => call('setManualDisplayLinks', !!on),
  tickDisplayLinks: (n = 1) => call('tickDisplayLinks', n),
  displayLinks: () => call('displayLinks'),
  // Manual mode: screenshot requests wait until completeScreenshots(n)
  // answers the n oldest (each on a thread of its own).
  setManualScreenshots: (on = true) => call('setManualScreenshots', !!on),
  completeScreenshots: (n = 1) => call('completeScreenshots', n),
  screenshots: () => call('screenshots'),

  // Polls `predicate` until it answers truthy or `timeoutMs` passes (real
  // time); answers the last value. For tests that must not sleep blindly.
  async waitFor(predicate, { timeoutMs = 2000, intervalMs = 2 } = {}) {
    const end = Date.now() + timeoutMs;
    for (;;) {
      const v = predicate();
      if (v || Date.now() >= end) return v;
      await new Promise((r) => setTimeout(r, intervalMs));
    }
  },

  // The sample scene used by the demo and the tests.
  sampleScenePath: path.join(__dirname, 'scenes', 'sample-scene.json'),
  loadSampleScene() {
    return sim.loadSceneFile(sim.sampleScenePath);
  },

  // Calls through the platform seam exactly as the add-on makes them, for
  // exercising the simulated desktop without the add-on. Element arguments
  // are element ids or slots returned by hold()/createApplication().
  probe: {
    hold: (idOrSlot) => call('probe.hold', idOrSlot),
    createApplication: (pid) => call('probe.createApplication', pid),
    systemWide: () => call('probe.systemWide'),
    release: (slot) => call('probe.release', slot),
    releaseAll: () => call('probe.releaseAll'),
    copyAttribute: (el, attr) => call('probe.copyAttribute', el, attr),
    copyMultiple: (el, attrs) => call('probe.batch', el, attrs),
    setAttribute: (el, attr, value) => call('probe.setAttribute', el, attr, value),
    perform: (el, action = 'AXPress') => call('probe.perform', el, action),
    windowNumber: (el) => call('probe.windowNumber', el),
    elementAt: (el, x, y) => call('probe.elementAt', el, x, y),
    setMessagingTimeout: (el, seconds) => call('probe.setTimeout', el, seconds),
    // event: {tap?: 'hid'|'session', type, keycode?, unicode?, x?, y?, flags?, fields?}
    post: (event) => call('probe.post', event),
    postToPid: (pid, event) => call('probe.postToPid', pid, event),
    privatePostToPid: (pid, event) => call('probe.privatePostToPid', pid, event),
    windowList: (onScreenOnly = false) => call('probe.windowList', onScreenOnly),
    openApplication: (url, activates = false) => call('probe.openApplication', url, activates),
    completions: () => call('probe.completions'),
    observeActivations: () => call('probe.observeActivations'),
    activations: () => call('probe.activations'),
    runOnce: () => call('probe.runOnce'),
    isTrusted: (prompt = false) => call('probe.isTrusted', prompt),
    sleep: (ms) => call('probe.sleep', ms),
  },

  // Event type numbers of the seam (platform/events.h).
  EventType: Object.freeze({
    leftMouseDown: 1, leftMouseUp: 2, rightMouseDown: 3, rightMouseUp: 4, mouseMoved: 5,
    leftMouseDragged: 6, keyDown: 10, keyUp: 11, flagsChanged: 12, scrollWheel: 22,
  }),

  // Low-level access: any command by name.
  call,
};

module.exports = sim;
