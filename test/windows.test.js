'use strict';
// Window and display listing: listWindows, screenCaptureProbeWindows,
// displays, cursorPoint, and the exported window event-mask query.
const test = require('node:test');
const assert = require('node:assert');
const { execFileSync } = require('node:child_process');
const path = require('node:path');
const addon = require('..');
const sim = require('../sim');

const NOTES = 910;

function launchNotes(windows) {
  sim.launchApp({ pid: NOTES, bundleId: 'com.test.Notes', name: 'Notes', path: '/Applications/Notes.app', windows });
}

test.describe('listWindows', () => {
  test.beforeEach(() => {
    sim.reset();
    sim.loadSampleScene();
  });

  test('accessibility windows first, then the windows only the window server lists', () => {
    const list = addon.listWindows(501);
    assert.deepStrictEqual(list.map((w) => w.index), list.map((_, i) => i));
    assert.deepStrictEqual(list.map((w) => w.window_id), [101, 102, 111]);
    assert.deepStrictEqual(list[0], {
      index: 0, title: 'Untitled 1', subrole: 'AXStandardWindow',
      bounds: sim.windows().find((w) => w.number === 101).bounds,
      window_id: 101, main: true, focused: true, onscreen: true,
    });
    assert.strictEqual(list[1].focused, false);
    // The save sheet has its own window-server window but is not in AXWindows.
    const sheet = list[2];
    assert.strictEqual(sheet.main, false);
    assert.strictEqual(sheet.focused, false);
    assert.ok(!('subrole' in sheet) && !('text_preview' in sheet));
  });

  test('untitled windows get a text preview; 50 characters pass, 51 are cut', () => {
    const fifty = 'ä'.repeat(25) + 'ab'.repeat(12) + 'c'; // 50 characters, 75 bytes
    launchNotes([
      { id: 'n.one', number: 9101, title: '', bounds: [10, 10, 400, 300], children: [
        { role: 'AXGroup', children: [{ role: 'AXStaticText', value: 'Grüße' }] },
        { role: 'AXButton', description: 'Send' },
        { role: 'AXCheckBox', value: 1 },
      ] },
      { id: 'n.fifty', number: 9102, title: '', bounds: [20, 20, 400, 300], children: [
        { role: 'AXStaticText', value: fifty },
      ] },
      { id: 'n.long', number: 9103, title: '', bounds: [30, 30, 400, 300], children: [
        { role: 'AXStaticText', value: fifty + '€' },
      ] },
      { id: 'n.titled', number: 9104, title: 'Notes', bounds: [40, 40, 400, 300], children: [
        { role: 'AXStaticText', value: 'ignored' },
      ] },
      { id: 'n.empty', number: 9105, title: '', bounds: [50, 50, 400, 300] },
    ]);
    const byId = Object.fromEntries(addon.listWindows(NOTES).map((w) => [w.window_id, w]));
    assert.strictEqual(byId[9101].title, '');
    assert.strictEqual(byId[9101].text_preview, 'Grüße Send 1');
    assert.strictEqual(byId[9102].text_preview, fifty);
    assert.strictEqual(byId[9103].text_preview, fifty + '\u2026');
    assert.ok(!('text_preview' in byId[9104]));
    assert.ok(!('text_preview' in byId[9105]));
  });

  test('windows without a number, off screen, unreadable title, and an unreadable window list', () => {
    launchNotes([
      { id: 'n.float', cg: false, title: 'Floating', bounds: [10, 10, 300, 200] },
      { id: 'n.hidden', number: 9201, title: 'Hidden', bounds: [20, 20, 300, 200], onScreen: false },
      { id: 'n.broken', number: 9202, title: 'X', bounds: [30, 30, 300, 200], errors: { AXTitle: -25204 },
        children: [{ role: 'AXStaticText', value: 'body text' }] },
      { number: 9203, ax: false, title: '', bounds: [0, 0, 50, 50] },
      { number: 9204, ax: false, title: 'Tiny', bounds: [0, 0, 1, 50] },
    ]);
    const list = addon.listWindows(NOTES);
    const float = list.find((w) => w.title === 'Floating');
    assert.strictEqual(float.window_id, null);
    assert.strictEqual(float.onscreen, true);
    const hidden = list.find((w) => w.window_id === 9201);
    assert.strictEqual(hidden.onscreen, false);
    const broken = list.find((w) => w.window_id === 9202);
    assert.strictEqual(broken.title, null);
    assert.strictEqual(broken.text_preview, 'body text');
    // Window-server-only: after every accessibility window; empty title is null;
    // windows under 2 points are not candidates.
    const serverOnly = list.slice(3);
    assert.deepStrictEqual(serverOnly.map((w) => [w.index, w.window_id, w.title]), [[3, 9203, null]]);

    sim.setElement(`app:${NOTES}`, { errors: { AXWindows: -25204 } });
    assert.deepStrictEqual(addon.listWindows(NOTES).map((w) => w.window_id), [9201, 9202, 9203]);
  });

  test('not trusted and a non-number pid answer null', () => {
    assert.strictEqual(addon.listWindows('501'), null);
    assert.strictEqual(addon.listWindows(), null);
    sim.setPermissions({ accessibility: false });
    assert.strictEqual(addon.listWindows(501), null);
  });
});

test.describe('screenCaptureProbeWindows', () => {
  test.beforeEach(() => {
    sim.reset();
    sim.loadSampleScene();
  });

  test('visible windows with their owners; transparent, huge and off-screen windows are left out', () => {
    launchNotes([
      { number: 9301, ax: false, title: 'Ghost', bounds: [0, 0, 300, 300], alpha: 0 },
      { number: 9302, ax: false, title: 'Wall', bounds: [0, 0, 40000, 300] },
      { number: 9303, ax: false, title: 'Edge', bounds: [0, 0, 32768, 300], alpha: 0.5 },
      { number: 9304, ax: false, title: 'Away', bounds: [0, 0, 300, 300], onScreen: false },
      { number: 9305, ax: false, title: '', bounds: [5, 6, 70, 80], layer: 3, acceptsMouseDown: false },
    ]);
    const probe = addon.screenCaptureProbeWindows();
    const ids = probe.map((w) => w.windowId);
    for (const gone of [9301, 9302, 9304]) assert.ok(!ids.includes(gone), `window ${gone} is listed`);
    assert.ok(ids.includes(9303) && ids.includes(101));
    const overlay = probe.find((w) => w.windowId === 9305);
    assert.deepStrictEqual(overlay, {
      windowId: 9305, ownerPid: NOTES, layer: 3, ownerBundleId: 'com.test.Notes', ownerName: 'Notes',
      ownerActive: false, title: null, bounds: { x: 5, y: 6, width: 70, height: 80 }, onScreen: true,
      acceptsLeftMouseDown: false,
    });
    const doc = probe.find((w) => w.windowId === 101);
    assert.strictEqual(doc.ownerActive, true);
    assert.strictEqual(doc.acceptsLeftMouseDown, true);
  });

  test('no window list answers an empty array', () => {
    sim.injectFault({ op: 'CopyWindowList', error: 'no_answer' });
    assert.deepStrictEqual(addon.screenCaptureProbeWindows(), []);
  });
});

test.describe('displays and cursorPoint', () => {
  test.beforeEach(() => sim.reset());

  test('displays report bounds unrounded, the main flag and the scale', () => {
    sim.setDisplays([
      { id: 7, bounds: [0, 0, 1512.5, 982], scale: 2, main: true },
      { id: 9, bounds: [1512.5, -200, 0, 1080], pixelWidth: 1920, main: false },
      { id: 11, bounds: [-1920, 0, 1920, 1080], pixelWidth: 0, main: false },
    ]);
    assert.deepStrictEqual(addon.displays(), [
      { id: 7, bounds: [0, 0, 1512.5, 982], main: true, scale_factor: 2 },
      { id: 9, bounds: [1512.5, -200, 0, 1080], main: false, scale_factor: 1 },
      { id: 11, bounds: [-1920, 0, 1920, 1080], main: false, scale_factor: 1 },
    ]);
    sim.injectFault({ op: 'GetActiveDisplays', error: -1 });
    assert.deepStrictEqual(addon.displays(), []);
  });

  test('cursorPoint follows the pointer and is the origin when no event can be made', () => {
    sim.setPointer(12.5, 700.25);
    assert.deepStrictEqual(addon.cursorPoint(), { x: 12.5, y: 700.25 });
    sim.setOptions({ pointerAvailable: false });
    assert.deepStrictEqual(addon.cursorPoint(), { x: 0, y: 0 });
  });
});

test('the event-mask query is an exported C symbol of the add-on', (t) => {
  const buildDir = process.env.AUTOMATION_ADDON_BUILD_DIR || path.join(__dirname, '..', 'build');
  const binary = path.join(path.resolve(buildDir), 'lib', 'automation_addon.node');
  let symbols;
  try {
    symbols = execFileSync('nm', ['-D', '--defined-only', binary]).toString();
  } catch {
    t.skip('nm is not available');
    return;
  }
  assert.match(symbols, /\bT OzaCopyWindowAcceptsLeftMouseDown\b/);
});

test('absent window-server entries: the probe omits acceptsLeftMouseDown', () => {
  // The entries are bound once per process, so this runs in a fresh one.
  const repo = path.join(__dirname, '..');
  const script = `
    const sim = require(${JSON.stringify(path.join(repo, 'sim'))});
    sim.reset(); sim.loadSampleScene();
    sim.setPrivateEntriesAbsent(['SLSGetWindowEventMask']);
    const a = require(${JSON.stringify(repo)});
    const first = a.screenCaptureProbeWindows();
    sim.setPrivateEntriesAbsent([]);
    const again = a.screenCaptureProbeWindows();
    process.stdout.write(JSON.stringify([first.length, first.some((w) => 'acceptsLeftMouseDown' in w),
      again.some((w) => 'acceptsLeftMouseDown' in w)]));
  `;
  const out = JSON.parse(execFileSync(process.execPath, ['-e', script], { env: process.env }).toString());
  assert.ok(out[0] > 0);
  assert.strictEqual(out[1], false);
  assert.strictEqual(out[2], false, 'an absent entry stays absent for the life of the process');
});
