// automation-addon/sim as an ES module: the CommonJS module's members as
// named exports, and the module itself as the default.
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const sim = require('./sim.js');

export default sim;
export const {
  reset, loadScene, loadSceneFile, launchApp, quitApp, relaunch, setApp,
  install, setFrontmost, addWindow, moveWindow, removeWindow, setWindow,
  raiseWindow, setAttribute, setElement, press, setPermissions,
  setPlatformVersion, setPrivateEntriesAbsent, setDisplays, setPointer,
  setKeyboardLayout, keyboardLayout, setOptions, setHeldModifiers,
  syntheticFocus, queueAppEvents, pasteboardTypes, pasteboard,
  readPasteboard, writePasteboard, pasteboardReads, injectFault,
  clearFaults, block, unblock, isBlocked, hooks, setTimeScale,
  advanceClock, setSteppedClock, clockWaiters, stepClock, clockNow, element, elements, liveHandleCount, apps, app,
  windows, frontmost, pointer, displays, permissions, events, clearEvents,
  heldKeys, keyEvents, keyTrace, logLines, clearLog, promptCount, stats,
  windowImage, overlayWindows, writeWindowList, backendName, panels,
  userMouse, eventTaps, disableEventTaps, setEventTapTimeout,
  setLeftButtonDown, surfaceImage, setManualDisplayLinks, tickDisplayLinks,
  displayLinks, setManualScreenshots, completeScreenshots, screenshots,
  waitFor, sampleScenePath, loadSampleScene, probe, EventType, call,
} = sim;
