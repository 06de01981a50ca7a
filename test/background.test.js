'use strict';
// Background window input on the simulated desktop: a click into a window of
// a background application that runs its control without changing the
// user's frontmost application or pointer; Begin's checks and End's reasons
// in order; the focus event records; window-addressed fields; explicit
// sessions around window-addressed typing; one worker at a time.
const test = require('node:test');
const assert = require('node:assert');
const { execFileSync } = require('node:child_process');
const path = require('node:path');
const addon = require('..');
const sim = require('../sim');

const PID = 502;
const BUNDLE = 'com.korvo.Settings';
const WIN = 201;
const BOUNDS = [400, 200, 680, 460];
const TARGET = [PID, BUNDLE, WIN, BOUNDS];
const AUTOSAVE = [610, 280];  // settings.autosave, under TextPad's window 101

function fresh() {
  sim.reset();
  sim.loadSampleScene();
  sim.setPointer(50, 60);
  sim.clearEvents();
  // Faster than real time, yet slow enough that a worker always starts
  // within its 2-second (sim time) deadline, also on an instrumented build.
  sim.setTimeScale(5);
  addon.setCpsActivationDisabled(false);
}
const records = () => sim.events().filter((e) => e.route === 'event_record');
const windowEvents = () => sim.events().filter((e) => e.route === 'private_pid');

test.describe('a click into a background window', () => {
  test.beforeEach(fresh);
  test.after(() => sim.setTimeScale(1));

  test('runs the control under the point and leaves the user alone', async () => {
    assert.strictEqual(sim.frontmost(), 501);
    assert.strictEqual(sim.element('settings.autosave').value, 1);
    assert.strictEqual(await addon.clickToWindowAsync(...TARGET, ...AUTOSAVE, 'left', 1, ''), true);
    assert.strictEqual(sim.element('settings.autosave').value, 0);
    assert.strictEqual(sim.frontmost(), 501);
    assert.deepStrictEqual(sim.pointer(), { x: 50, y: 60 });
    // The same point clicked globally would have hit TextPad, which covers it.
    assert.strictEqual(sim.events().some((e) => e.route === 'hid'), false);

    const [focus] = records();
    assert.strictEqual(focus.pid, PID);
    assert.strictEqual(focus.recordFocus, 1);
    assert.strictEqual(focus.recordWindowId, WIN);
    // Activation routine: an AppKit-defined event for the window (no
    // activation point in this scene, so no click pair).
    const activation = sim.events().filter((e) => e.route === 'pid' && e.typeCode === 13);
    assert.strictEqual(activation.length, 1);
    assert.strictEqual(activation[0].flags, 0xc0000);

    const events = windowEvents();
    assert.deepStrictEqual(events.map((e) => e.type),
      ['mouseMoved', 'leftMouseDown', 'leftMouseUp', 'leftMouseDown', 'leftMouseUp']);
    const t = events[0].fields['58'];
    const fields = (a, b, c, d) => ({ 0: b, 1: a, 3: c, 7: 3, 40: PID, 51: WIN, 58: d, 91: WIN, 92: WIN });
    const asNumbers = (f) => Object.fromEntries(Object.entries(f).map(([k, v]) => [k, v]));
    assert.deepStrictEqual(asNumbers(events[0].fields), asNumbers(fields(0, 2, 0, t)));
    assert.deepStrictEqual(asNumbers(events[1].fields), asNumbers(fields(1, 1, 0, t)));
    assert.deepStrictEqual(asNumbers(events[2].fields), asNumbers(fields(1, 2, 0, t)));
    assert.deepStrictEqual(asNumbers(events[3].fields), asNumbers(fields(1, 3, 0, t)));
    assert.deepStrictEqual(events[1].windowLocation, { x: -1, y: -1 });
    assert.deepStrictEqual(events[3].windowLocation, { x: 210, y: 80 });
    assert.deepStrictEqual(events[3].location, { x: 610, y: 280 });
    assert.ok(events.every((e) => e.source === 'hidSystem'));
    assert.strictEqual(events[0].flags, 0);
    // 100 ms after the primer pair, the pairs 1 ms apart.
    assert.ok(events[3].simMs - events[2].simMs >= 100);
  });

  test('a triple click counts 1..3; with activation disabled End sends the unfocus record', async () => {
    assert.strictEqual(addon.setCpsActivationDisabled(true), true);
    assert.strictEqual(await addon.clickToWindowAsync(...TARGET, ...AUTOSAVE, 'right', 3, 'cmd', false), true);
    const downs = windowEvents().filter((e) => e.type === 'rightMouseDown');
    assert.deepStrictEqual(downs.map((e) => e.fields['1']), [1, 1, 2, 3]);
    assert.ok(downs.every((e) => e.fields['3'] === 1 && e.flags === 0x100000));
    assert.deepStrictEqual(records().map((r) => r.recordFocus), [1, 2]);
    assert.strictEqual(sim.events().some((e) => e.typeCode === 13), false);
    assert.deepStrictEqual(sim.syntheticFocus(), {});
  });

  test('move, scroll, drag, mouse down and up are window-addressed too', async () => {
    assert.strictEqual(await addon.moveToWindowAsync(...TARGET, 500, 300), true);
    assert.strictEqual(await addon.scrollToWindowAsync(...TARGET, 500, 300, 5, 'left'), true);
    assert.strictEqual(await addon.dragToWindowAsync(...TARGET, 500, 300, 600, 400, 'left', 'shift'), true);
    const down = await addon.mouseDownToWindowDetailedAsync(...TARGET, 500, 300, 'left');
    assert.deepStrictEqual(down, { ok: true, delivery_state: 'down_posted_or_ambiguous', reason: null });
    assert.strictEqual(await addon.mouseUpToWindowAsync(...TARGET, 500, 300, 'left'), true);
    const types = windowEvents().map((e) => e.type);
    assert.deepStrictEqual(types, ['mouseMoved', 'scrollWheel', 'mouseMoved', 'leftMouseDown',
      ...Array(10).fill('leftMouseDragged'), 'leftMouseUp', 'leftMouseDown', 'leftMouseUp']);
    const scroll = windowEvents()[1];
    assert.deepStrictEqual(scroll.scroll.deltas, [0, -5, 0]);
    assert.strictEqual(scroll.fields['0'], 3);
    const up = windowEvents()[14];
    assert.deepStrictEqual(up.location, { x: 600, y: 400 });
    assert.strictEqual(up.flags, 0x20000);
    assert.strictEqual(sim.frontmost(), 501);
  });

  test('events the window server could not deliver make the operation fail, never a reported click', async () => {
    sim.injectFault({ op: 'EventPostToPid', pid: PID, error: -1, count: -1 });
    assert.strictEqual(await addon.clickToWindowAsync(...TARGET, ...AUTOSAVE, 'left', 1, ''), false);
    assert.strictEqual(sim.element('settings.autosave').value, 1);
    assert.deepStrictEqual(await addon.mouseDownToWindowDetailedAsync(...TARGET, ...AUTOSAVE, 'left'),
      { ok: false, delivery_state: 'definitely_unsent', reason: 'action_failed' });
    assert.strictEqual(await addon.moveToWindowAsync(...TARGET, ...AUTOSAVE), false);
    assert.strictEqual(await addon.scrollToWindowAsync(...TARGET, ...AUTOSAVE, 3, 'down'), false);
    assert.strictEqual(await addon.dragToWindowAsync(...TARGET, ...AUTOSAVE, 620, 290, 'left', ''), false);
    // Delivered again: the same click runs the control.
    sim.clearFaults();
    assert.strictEqual(await addon.clickToWindowAsync(...TARGET, ...AUTOSAVE, 'left', 1, ''), true);
    assert.strictEqual(sim.element('settings.autosave').value, 0);
  });

  test('out-of-range arguments fail before anything is posted', async () => {
    assert.strictEqual(await addon.scrollToWindowAsync(...TARGET, 500, 300, 0, 'up'), true);
    assert.strictEqual(await addon.scrollToWindowAsync(...TARGET, 500, 300, 101, 'up'), false);
    assert.strictEqual(await addon.scrollToWindowAsync(...TARGET, 500, 300, 1, 'Up'), false);
    assert.strictEqual(await addon.clickToWindowAsync(...TARGET, 500, 300, 'left', 4, ''), false);
    assert.strictEqual(await addon.clickToWindowAsync(...TARGET, 500, 300, 'Left', 1, ''), false);
    assert.strictEqual(await addon.clickToWindowAsync(...TARGET, 10, 10, 'left', 1, ''), false);
    assert.strictEqual(await addon.dragToWindowAsync(...TARGET, 500, 300, 1200, 300, 'left', ''), false);
    assert.deepStrictEqual(await addon.mouseDownToWindowDetailedAsync(...TARGET, 10, 10, 'left'),
      { ok: false, delivery_state: 'definitely_unsent', reason: 'invalid_target' });
    assert.deepStrictEqual(await addon.mouseDownToWindowDetailedAsync(PID, BUNDLE, 0, BOUNDS, 1, 1, 'left'),
      { ok: false, delivery_state: 'definitely_unsent', reason: 'invalid_target' });
    assert.strictEqual(await addon.clickToWindowAsync(...TARGET, 500, 300, 'left'), false);
    assert.strictEqual(await addon.moveToWindowAsync(PID, BUNDLE, WIN, [1, 2, 3], 5, 5), false);
    assert.strictEqual(sim.events().length, 0);
  });
});

test.describe('begin and end', () => {
  test.beforeEach(fresh);
  test.after(() => sim.setTimeScale(1));

  const begin = (...extra) => addon.beginBackgroundWindowInputDetailedAsync(...TARGET, ...extra);
  const end = () => addon.endBackgroundWindowInputDetailedAsync(...TARGET);

  test('an explicit session brackets window-addressed typing', async () => {
    // A frontmost application the activation ledger has not seen for this
    // process makes the routine run afresh.
    sim.setFrontmost(503);
    sim.clearEvents();
    const b = await begin();
    assert.strictEqual(b.ok, true, JSON.stringify(b));
    assert.deepStrictEqual(b.expected_bounds, BOUNDS);
    assert.deepStrictEqual(b.live_bounds, BOUNDS);
    assert.strictEqual(b.live_owner_pid, PID);
    assert.strictEqual(b.live_on_screen, true);
    assert.strictEqual(b.live_on_screen_list, null);
    assert.strictEqual(b.cps_activation_pair, 1);
    assert.deepStrictEqual(b.missing_symbols, []);
    const typed = await addon.typeTextToPidVerified(PID, BUNDLE, 'hi', WIN);
    assert.deepStrictEqual(typed, { ok: true, error: null });
    // No new session while one is open, and no mouse operation.
    assert.strictEqual((await begin()).reason, 'session_busy');
    assert.strictEqual(await addon.clickToWindowAsync(...TARGET, 500, 300, 'left', 1, ''), false);
    const e = await end();
    assert.strictEqual(e.ok, true, JSON.stringify(e));
    assert.strictEqual(e.original_frontmost_pid, 503);
    assert.deepStrictEqual(e.live_cursor, [50, 60]);
    const routes = sim.events().map((x) => x.route + (x.type === 'keyDown' ? ':key' : ''));
    const first = routes.indexOf('event_record');
    const keys = routes.map((r, i) => (r === 'private_pid:key' ? i : -1)).filter((i) => i >= 0);
    assert.ok(keys.length > 0 && keys[0] > first);
    assert.strictEqual((await end()).reason, 'session_mismatch');
    assert.strictEqual(await addon.endBackgroundWindowInputAsync(...TARGET), false);
  });

  test('the activation routine clicks the window\'s activation point once per frontmost application', async () => {
    sim.setAttribute('settings.main', 'AXActivationPoint', { point: [410, 210] });
    // No application in front: one the routine has not seen for this process
    // in any earlier test.
    sim.setFrontmost(0);
    sim.clearEvents();
    const b = await begin();
    assert.strictEqual(b.cps_activation_pair, 3);
    const posted = sim.events().filter((e) => e.route === 'pid' && e.pid === PID);
    assert.deepStrictEqual(posted.map((e) => e.typeCode), [13, 1, 2]);
    const [, down, up] = posted;
    assert.deepStrictEqual(down.location, { x: 410, y: 210 });
    assert.deepStrictEqual(down.windowLocation, { x: 10, y: 10 });
    assert.deepStrictEqual([down.fields['0'], up.fields['0'], down.fields['1'], down.fields['7'], down.fields['91'],
      down.fields['92']], [1, 2, 1, 3, WIN, WIN]);
    assert.strictEqual(down.doubleFields['2'], 1);
    assert.ok(posted.every((e) => e.timestampNs > 0));
    assert.strictEqual((await end()).ok, true);
    // Already activated while the same application is frontmost: nothing more.
    const again = await begin();
    assert.strictEqual(again.cps_activation_pair, 0);
    assert.strictEqual((await end()).ok, true);
    assert.deepStrictEqual(records().map((r) => r.recordFocus), [1, 1]);
  });

  test('End reasons in order: frontmost changed, then the pointer beyond half a point', async () => {
    assert.strictEqual((await begin()).ok, true);
    sim.setPointer(50.5, 59.5);
    assert.strictEqual((await end()).ok, true);
    assert.strictEqual((await begin()).ok, true);
    sim.setPointer(51.1, 59.5);
    assert.strictEqual((await end()).reason, 'cursor_moved');
    assert.strictEqual((await begin()).ok, true);
    sim.setPointer(1, 1);
    sim.setFrontmost(503);
    const e = await end();
    assert.strictEqual(e.reason, 'frontmost_changed');
    assert.strictEqual(e.live_frontmost_pid, 503);
  });

  test('a click whose user moved the pointer meanwhile still succeeds', async () => {
    const id = sim.block({ op: 'EventPostToPid', pid: PID });
    const click = addon.clickToWindowAsync(...TARGET, ...AUTOSAVE, 'left', 1, '');
    await sim.waitFor(() => sim.isBlocked(id), { timeoutMs: 5000 });
    sim.setPointer(900, 10);
    sim.unblock(id);
    assert.strictEqual(await click, true);
    assert.strictEqual(sim.element('settings.autosave').value, 0);
  });

  test('Begin checks the live window: bounds within a point, owner, presence, screen', async () => {
    sim.moveWindow(WIN, [401, 199, 681, 459]);
    assert.strictEqual((await begin()).ok, true);
    assert.strictEqual((await end()).ok, true);
    sim.moveWindow(WIN, [402, 200, 680, 460]);
    const moved = await begin();
    assert.strictEqual(moved.reason, 'bounds_mismatch');
    assert.deepStrictEqual(moved.live_bounds, [402, 200, 680, 460]);
    sim.moveWindow(WIN, BOUNDS);

    assert.strictEqual((await addon.beginBackgroundWindowInputDetailedAsync(PID, BUNDLE, 101, BOUNDS)).reason,
      'owner_mismatch');
    assert.strictEqual((await addon.beginBackgroundWindowInputDetailedAsync(PID, BUNDLE, 7777, BOUNDS)).reason,
      'window_missing');
    assert.strictEqual((await addon.beginBackgroundWindowInputDetailedAsync(PID, 'COM.KORVO.SETTINGS', WIN, BOUNDS)).ok,
      true);
    assert.strictEqual((await end()).ok, true);
    assert.strictEqual((await addon.beginBackgroundWindowInputDetailedAsync(PID, 'com.other', WIN, BOUNDS)).reason,
      'bundle_mismatch');

    // On another space: no on-screen flag, not in the on-screen list.
    sim.setWindow(WIN, { onScreen: false, omitKeys: ['kCGWindowIsOnscreen'] });
    const away = await begin();
    assert.strictEqual(away.reason, 'window_offscreen');
    assert.strictEqual(away.live_on_screen, null);
    assert.strictEqual(away.live_on_screen_list, false);
    assert.strictEqual((await begin(true)).ok, true);
    assert.strictEqual((await end()).ok, true);
    sim.setWindow(WIN, { onScreen: false, omitKeys: [] });
    assert.strictEqual((await begin(true)).reason, 'window_offscreen');
    assert.strictEqual(sim.events().filter((e) => e.route === 'private_pid').length, 0);
  });

  test('refused records and processes are reported with their status', async () => {
    sim.injectFault({ op: 'PostEventRecordTo', error: -50 });
    const refused = await begin();
    assert.strictEqual(refused.reason, 'focus_record_failed');
    assert.strictEqual(refused.native_status, -50);
    sim.injectFault({ op: 'GetProcessForPid', error: -600 });
    assert.strictEqual((await begin()).reason, 'get_process_failed');
    sim.setPermissions({ accessibility: false });
    assert.strictEqual((await begin()).reason, 'accessibility_untrusted');
    sim.setPermissions({ accessibility: true });
    // Nothing stayed open.
    assert.strictEqual((await begin()).ok, true);
    assert.strictEqual((await end()).ok, true);
  });

  test('one background worker at a time; bad targets and retired forms', async () => {
    const id = sim.block({ op: 'CopyWindowList' });
    const first = begin();
    await sim.waitFor(() => sim.isBlocked(id), { timeoutMs: 5000 });
    const second = await begin();
    assert.strictEqual(second.reason, 'input_busy');
    sim.unblock(id);
    assert.strictEqual((await first).ok, true);
    assert.strictEqual(await addon.endBackgroundWindowInputAsync(...TARGET), true);

    const bad = await addon.beginBackgroundWindowInputDetailedAsync(0, BUNDLE, WIN, BOUNDS);
    assert.strictEqual(bad.reason, 'invalid_target');
    assert.strictEqual(bad.pid, 0);
    assert.strictEqual(bad.expected_bounds, null);
    assert.strictEqual((await addon.endBackgroundWindowInputDetailedAsync(PID, '', WIN, BOUNDS)).reason, 'invalid_target');
    assert.deepStrictEqual(Object.keys(addon.beginBackgroundWindowInputDetailed(...TARGET)), [
      'ok', 'reason', 'native_status', 'cps_activation_pair', 'pid', 'window_id', 'expected_bounds',
      'live_owner_pid', 'live_on_screen', 'live_on_screen_list', 'live_bounds', 'missing_symbols']);
    assert.strictEqual(addon.beginBackgroundWindowInputDetailed(...TARGET).reason, 'async_required');
    assert.strictEqual(addon.beginBackgroundWindowInputDetailed().reason, 'invalid_target');
    for (const name of ['beginBackgroundWindowInput', 'endBackgroundWindowInput', 'clickToWindow', 'moveToWindow',
      'scrollToWindow', 'dragToWindow', 'mouseDownToWindow', 'mouseUpToWindow']) {
      assert.strictEqual(addon[name](...TARGET, 1, 2, 'left', 1, ''), false, name);
    }
    assert.strictEqual(addon.setCpsActivationDisabled('yes'), false);
    assert.strictEqual(addon.setCpsActivationDisabled(), false);
  });

  test('element actions see when the last focus session ended, without waiting for a running one', async () => {
    const snap = await addon.captureAppAsync(PID, BUNDLE);
    const all = [];
    (function flat(list) { for (const e of list) { all.push(e); flat(e.children || []); } })(snap.elements);
    const box = all.find((e) => e.role === 'AXCheckBox');
    assert.ok(box, 'the check box is in the snapshot');
    assert.strictEqual(await addon.clickToWindowAsync(...TARGET, ...AUTOSAVE, 'left', 1, ''), true);
    const after = addon.performAction(box.ref, 'AXPress').pressFocusDiagnostics;
    assert.ok(after.msSinceKeyboardEnd >= 0, JSON.stringify(after));

    const id = sim.block({ op: 'EventPostToPid', pid: PID });
    const click = addon.clickToWindowAsync(...TARGET, ...AUTOSAVE, 'left', 1, '');
    await sim.waitFor(() => sim.isBlocked(id), { timeoutMs: 5000 });
    // The worker holds the background input mutex now; this must not wait.
    const during = addon.performAction(box.ref, 'AXPress').pressFocusDiagnostics;
    assert.ok(during.msSinceKeyboardEnd >= after.msSinceKeyboardEnd);
    sim.unblock(id);
    assert.strictEqual(await click, true);
  });
});

test('each absent private entry makes Begin answer skylight_unavailable with the missing names', () => {
  const script = (absent) => `
    const sim = require(${JSON.stringify(path.join(__dirname, '..', 'sim'))});
    sim.loadSampleScene();
    sim.setPrivateEntriesAbsent(${JSON.stringify(absent)});
    const addon = require(${JSON.stringify(path.join(__dirname, '..'))});
    addon.beginBackgroundWindowInputDetailedAsync(502, 'com.korvo.Settings', 201, [400, 200, 680, 460])
      .then((o) => { process.stdout.write(JSON.stringify(o)); process.exit(0); });
  `;
  const all = ['SLEventPostToPid', 'SLEventSetIntegerValueField', 'CGEventSetWindowLocation', 'SLPSPostEventRecordTo',
    'GetProcessForPID'];
  const run = (absent) => JSON.parse(execFileSync(process.execPath, ['-e', script(absent)], { timeout: 30000 }).toString());
  const none = run([...all].reverse());
  assert.strictEqual(none.reason, 'skylight_unavailable');
  assert.deepStrictEqual(none.missing_symbols, all);
  const one = run(['GetProcessForPID']);
  assert.strictEqual(one.reason, 'skylight_unavailable');
  assert.deepStrictEqual(one.missing_symbols, ['GetProcessForPID']);
});
