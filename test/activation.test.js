'use strict';
// Activation of applications, windows and file-dialog surfaces, fenced by the
// focus-steal switch and by live identity checks.
const test = require('node:test');
const assert = require('node:assert');
const addon = require('..');
const sim = require('../sim');

const TEXTPAD = 501;
const SETTINGS = 502;
const PANEL_SERVICE = 504;
const TEXTPAD_ID = 'com.korvo.TextPad';

// The open panel (window 401, drawn by the panel service) shown over the
// editor's second window (102).
const OPEN_PANEL = Object.freeze({
  logicalPid: TEXTPAD,
  logicalBundleId: TEXTPAD_ID,
  presentationWindowId: 102,
  actualOwnerPid: PANEL_SERVICE,
  actualOwnerBundleId: 'com.apple.appkit.xpc.openAndSavePanelService',
  actualWindowId: 401,
  surfaceKind: 'open_panel',
});

function reset() {
  sim.clearFaults();
  sim.loadSampleScene();
  addon.reenableActivation();
}

test.describe('the focus-steal switch', () => {
  test.beforeEach(reset);
  test.after(() => addon.reenableActivation());

  test('prevention refuses every activation until it is lifted', () => {
    assert.strictEqual(addon.isFocusStealPrevented(), false);
    assert.strictEqual(addon.preventActivation(), true);
    assert.strictEqual(addon.isFocusStealPrevented(), true);
    assert.strictEqual(addon.activateApplication(SETTINGS), false);
    assert.strictEqual(addon.activateWindow(TEXTPAD, TEXTPAD_ID, 102), false);
    sim.press('textpad.doc2.open');
    const refused = addon.activateAppFrameSurface(OPEN_PANEL);
    assert.strictEqual(refused.ok, false);
    assert.strictEqual(refused.reason, 'focus_prevented');
    assert.strictEqual(refused.logical_pid, TEXTPAD, 'the target is echoed first');
    assert.strictEqual(refused.foreground_pid_before, TEXTPAD);
    assert.strictEqual(sim.frontmost(), TEXTPAD, 'nothing moved');

    // Missing trust is reported before the switch.
    sim.setPermissions({ accessibility: false });
    assert.strictEqual(addon.activateAppFrameSurface(OPEN_PANEL).reason, 'not_trusted');
    sim.setPermissions({ accessibility: true });

    assert.strictEqual(addon.reenableActivation(), true);
    assert.strictEqual(addon.isFocusStealPrevented(), false);
    assert.strictEqual(addon.activateApplication(SETTINGS), true);
    assert.strictEqual(sim.frontmost(), SETTINGS);
  });
});

test.describe('activating applications and windows', () => {
  test.beforeEach(reset);

  test('activateApplication brings a running application forward', () => {
    assert.strictEqual(addon.activateApplication(SETTINGS), true);
    assert.strictEqual(sim.frontmost(), SETTINGS);
    for (const pid of [0, -3, 1.5, 999999, 2 ** 32 + SETTINGS, NaN, Infinity]) {
      assert.strictEqual(addon.activateApplication(pid), false, String(pid));
    }
    sim.quitApp(SETTINGS);
    assert.strictEqual(addon.activateApplication(SETTINGS), false);
    for (const bad of [[], ['502'], [null], [{}]]) {
      assert.throws(() => addon.activateApplication(...bad),
        { name: 'TypeError', message: 'activateApplication(pid) expects a number pid' });
    }
  });

  test('activateWindow focuses the window and confirms it', () => {
    sim.setFrontmost(SETTINGS);
    assert.strictEqual(addon.activateWindow(TEXTPAD, 'com.korvo.textpad', 102), true);
    assert.strictEqual(sim.frontmost(), TEXTPAD);
    assert.strictEqual(sim.app(TEXTPAD).focusedWindow, 'textpad.doc2');
  });

  test('activateWindow refuses wrong identities and ids without moving anything', () => {
    sim.setFrontmost(SETTINGS);
    for (const [pid, id, win] of [
      [SETTINGS, TEXTPAD_ID, 102], [TEXTPAD, '', 102], [TEXTPAD, TEXTPAD_ID, 0],
      [TEXTPAD, TEXTPAD_ID, 1.5], [TEXTPAD, TEXTPAD_ID, 2 ** 32], [TEXTPAD, TEXTPAD_ID, 201],
      [TEXTPAD, TEXTPAD_ID, 999], [0, TEXTPAD_ID, 102], [2 ** 32 + TEXTPAD, TEXTPAD_ID, 102],
      [TEXTPAD, 'x'.repeat(300), 102],
    ]) {
      assert.strictEqual(addon.activateWindow(pid, id, win), false, `${pid} ${id.length} ${win}`);
    }
    assert.strictEqual(sim.frontmost(), SETTINGS);
    const msg = 'activateWindow(pid, expectedBundleId, windowId) expects number,string,number';
    for (const bad of [[], [TEXTPAD, TEXTPAD_ID], ['501', TEXTPAD_ID, 102], [TEXTPAD, 7, 102],
      [TEXTPAD, TEXTPAD_ID, '102']]) {
      assert.throws(() => addon.activateWindow(...bad), { name: 'TypeError', message: msg });
    }
  });

  test('a window that never gets focus answers false after its bounded polls', () => {
    sim.setFrontmost(SETTINGS);
    sim.setApp(TEXTPAD, { refusesActivation: true });
    const started = Date.now();
    assert.strictEqual(addon.activateWindow(TEXTPAD, TEXTPAD_ID, 102), false);
    assert.ok(Date.now() - started < 3000, 'bounded');
    assert.strictEqual(sim.frontmost(), SETTINGS);
  });
});

test.describe('activating a file-dialog surface', () => {
  test.beforeEach(() => {
    reset();
    sim.press('textpad.doc2.open');
    sim.setFrontmost(SETTINGS);
  });

  test('the open panel of another process is brought forward and confirmed', () => {
    const out = addon.activateAppFrameSurface(OPEN_PANEL);
    assert.deepStrictEqual(out, {
      ok: true,
      reason: 'activated',
      logical_pid: TEXTPAD,
      presentation_window_id: 102,
      actual_owner_pid: PANEL_SERVICE,
      actual_window_id: 401,
      surface_kind: 'open_panel',
      foreground_pid_before: SETTINGS,
      foreground_pid_after: TEXTPAD,
      focused_window_id: 401,
    });
    assert.strictEqual(sim.frontmost(), TEXTPAD);
    assert.strictEqual(sim.app(PANEL_SERVICE).focusedWindow, 'panel.open');
  });

  test('invalid targets answer invalid_target; only non-objects throw', () => {
    const invalid = { ok: false, reason: 'invalid_target' };
    assert.deepStrictEqual(addon.activateAppFrameSurface({}), invalid);
    for (const patch of [
      { surfaceKind: 'popover' }, { presentationWindowId: 1.5 }, { presentationWindowId: 0 },
      { actualWindowId: 2 ** 32 }, { logicalPid: 2 ** 31 }, { logicalPid: '501' },
      { logicalBundleId: '' }, { actualOwnerBundleId: 'x'.repeat(4097) }, { actualOwnerPid: -1 },
      { surfaceKind: undefined },
    ]) {
      assert.deepStrictEqual(addon.activateAppFrameSurface({ ...OPEN_PANEL, ...patch }), invalid,
        JSON.stringify(patch));
    }
    const msg = 'activateAppFrameSurface(target) expects an object';
    for (const bad of [[], [[]], [null], ['target'], [42]]) {
      assert.throws(() => addon.activateAppFrameSurface(...bad), { name: 'TypeError', message: msg });
    }
    assert.strictEqual(sim.frontmost(), SETTINGS);
  });

  test('each broken claim is named by the first check that fails', () => {
    const reason = (patch) => addon.activateAppFrameSurface({ ...OPEN_PANEL, ...patch }).reason;
    assert.strictEqual(reason({ logicalBundleId: 'com.korvo.Settings' }), 'identity_mismatch');
    assert.strictEqual(reason({ actualOwnerPid: SETTINGS }), 'identity_mismatch');
    assert.strictEqual(reason({ presentationWindowId: 777 }), 'presentation_unavailable');
    assert.strictEqual(reason({ surfaceKind: 'save_panel' }), 'lineage_unverified');
    assert.strictEqual(reason({ actualWindowId: 111 }), 'lineage_unverified');
    assert.strictEqual(sim.frontmost(), SETTINGS, 'no refusal activates anything');
  });

  test('an attached dialog needs an open or save panel on the same window', () => {
    sim.press('textpad.save'); // the save sheet of window 101, drawn by the editor itself
    const out = addon.activateAppFrameSurface({
      ...OPEN_PANEL, presentationWindowId: 101, actualOwnerPid: TEXTPAD,
      actualOwnerBundleId: TEXTPAD_ID, actualWindowId: 111, surfaceKind: 'attached_dialog',
    });
    assert.strictEqual(out.ok, false);
    assert.strictEqual(out.reason, 'lineage_unverified');
  });

  test('an application that will not come forward answers focus_mismatch', () => {
    sim.setApp(TEXTPAD, { refusesActivation: true });
    const out = addon.activateAppFrameSurface(OPEN_PANEL);
    assert.strictEqual(out.ok, false);
    assert.strictEqual(out.reason, 'focus_mismatch');
    assert.strictEqual(out.foreground_pid_after, SETTINGS);
    assert.strictEqual('focused_window_id' in out, false);
  });
});
