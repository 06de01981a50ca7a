'use strict';
// Captures against difficult applications: slow and hung ones, processes that
// quit or change behind their pid, captures waiting on each other (with the
// diagnostics the host reads meanwhile), admission limits and late results.
const test = require('node:test');
const assert = require('node:assert');
const addon = require('..');
const sim = require('../sim');

const PID = 931;

function loadApp(app = {}, scene = {}) {
  sim.reset();
  sim.loadScene({ apps: [{ pid: PID, bundleId: 'com.test.Slow', name: 'Slow', ...app }], ...scene });
}
function count(elements) {
  return elements.reduce((n, e) => n + 1 + (e.children ? count(e.children) : 0), 0);
}
async function parked(id) {
  assert.ok(await sim.waitFor(() => sim.isBlocked(id), { timeoutMs: 5000 }), 'a call parked at the block');
}

// Steps the clock 50 ms at a time, each step once the work waits on the
// clock, until `promise` settles (at most `ms` of sim time).
async function stepped(promise, ms) {
  const out = { settled: false, value: undefined };
  promise.then((v) => Object.assign(out, { settled: true, value: v }));
  await sim.stepClock(ms, { stepMs: 50, waiters: 1, until: () => out.settled });
  assert.ok(out.settled, `settled within ${ms} ms of sim time`);
  return out;
}

test.describe('slow and unresponsive applications', () => {
  test.afterEach(() => {
    sim.setSteppedClock(false);
    sim.setTimeScale(1);
  });

  test('a slow tree is cut at the deadline and the partial tree still arrives', async () => {
    const groups = Array.from({ length: 10 }, (_, g) => ({
      role: 'AXGroup', delayMs: 200,
      children: [{ generate: { count: 40, role: 'AXRow', idPrefix: `g${g}`, title: 'Row {i}', delayMs: 200 } }],
    }));
    loadApp({ windows: [{ id: 'w', number: 61, title: 'Slow', bounds: [0, 0, 800, 600], children: groups }] });
    sim.setTimeScale(100);
    addon.captureApp(PID); // warm once so the timed capture skips the stability wait
    // Stepped time: each 50 ms step waits until the capture waits on the
    // clock, so how far the walk gets does not depend on the machine's speed.
    sim.setSteppedClock(true);
    const start = sim.clockNow();
    const { value: snap } = await stepped(addon.captureAppAsync(PID, 'com.test.Slow'), 20000);
    const elapsed = sim.clockNow() - start;
    assert.ok(snap, 'delivered before the deadline');
    const n = count(snap.elements);
    assert.ok(n > 5 && n < 410, `partial tree of ${n} elements`);
    assert.ok(elapsed >= 10000 && elapsed <= 11000, `took ${elapsed} ms of sim time`);
    assert.ok(addon.ackCaptureEpoch(PID, snap.capture_epoch));
  });

  test('a hung element costs one messaging time-out per call and the walk goes on', async () => {
    loadApp({
      windows: [{ id: 'w', number: 62, title: 'Hang', bounds: [0, 0, 800, 600], children: [
        { role: 'AXButton', title: 'Before' },
        { id: 'stuck', role: 'AXButton', title: 'Stuck', hang: true },
        { role: 'AXButton', title: 'After' },
      ] }],
    });
    sim.setTimeScale(100);
    addon.captureApp(PID);
    sim.setSteppedClock(true);
    const start = sim.clockNow();
    const { value: snap } = await stepped(addon.captureAppAsync(PID), 5000);
    const elapsed = sim.clockNow() - start;
    assert.deepStrictEqual(snap.elements.map((e) => e.title), ['Before', undefined, 'After']);
    // 0.3 s time-outs for the calls that reach the element, not one for each
    // of its attributes: its other reads are not tried again.
    assert.ok(elapsed >= 300 && elapsed <= 600, `${elapsed} ms of sim time`);
  });

  test('a wholly unresponsive application answers from the window list within the deadline', async () => {
    loadApp({ unresponsive: true, windows: [{ id: 'w', number: 63, title: 'Frozen', bounds: [0, 0, 800, 600], children: [{ role: 'AXButton' }] }] });
    sim.setSteppedClock(true);
    const start = sim.clockNow();
    const { value: snap } = await stepped(addon.captureAppAsync(PID), 20000);
    assert.ok(sim.clockNow() - start <= 11000, `${sim.clockNow() - start} ms of sim time`);
    assert.strictEqual(snap.window.empty_capture_reason, 'cg-only-no-ax-window');
    assert.strictEqual(snap.window.window_id, 63);
  });
});

test.describe('processes that change', () => {
  test.beforeEach(() => {
    sim.reset();
    sim.loadSampleScene();
  });

  test('the child-stability wait runs on the first capture of a process instance only', async () => {
    const block = sim.block({ op: 'GetAttributeValueCount', pid: 502 });
    const first = addon.captureAppAsync(502);
    await parked(block);
    sim.unblock(block);
    assert.ok(await first);
    const again = sim.block({ op: 'GetAttributeValueCount', pid: 502 });
    assert.ok(await addon.captureAppAsync(502));
    assert.strictEqual(sim.isBlocked(again), false);
    assert.ok(sim.hooks().blocks.some((b) => b.id === again), 'the second capture never polled the children');
    // A new launch behind the same pid is a new instance: it waits again.
    sim.relaunch(502, { launchTime: 1800000000.5 });
    const third = addon.captureAppAsync(502);
    await parked(again);
    sim.unblock(again);
    assert.ok(await third);
  });

  test('a pid that now belongs to another application is refused', async () => {
    sim.relaunch(502, { bundleId: 'com.other.App' });
    assert.strictEqual(await addon.captureAppAsync(502, 'com.korvo.Settings'), null);
    assert.ok(await addon.captureAppAsync(502, 'com.other.App'));
  });

  test('a process that quits mid-capture: refused with an expected bundle id, partial without', async () => {
    const baseline = sim.liveHandleCount();
    sim.injectFault({ op: 'CopyMultipleAttributeValues', element: 'textpad.scroll', quit: true });
    assert.strictEqual(await addon.captureAppAsync(501, 'com.korvo.TextPad'), null);
    assert.strictEqual(sim.liveHandleCount(), baseline, 'a refused capture keeps no element');

    sim.reset();
    sim.loadSampleScene();
    const before = sim.liveHandleCount();
    sim.injectFault({ op: 'CopyMultipleAttributeValues', element: 'textpad.scroll', quit: true });
    const partial = addon.captureApp(501);
    assert.ok(partial);
    assert.strictEqual(partial.elements[0].role, 'AXToolbar');
    assert.ok(partial.elements.length < 5);
    addon.releaseCaptureEpoch(501, partial.capture_epoch);
    assert.ok(sim.liveHandleCount() <= before);
  });

  test('without accessibility trust there is no capture', async () => {
    sim.setPermissions({ accessibility: false });
    assert.strictEqual(addon.captureApp(501), null);
    assert.strictEqual(await addon.captureAppAsync(501), null);
    assert.strictEqual(sim.promptCount(), 0, 'trust is asked without prompting');
  });
});

test.describe('concurrency and diagnostics', () => {
  test.beforeEach(() => {
    sim.reset();
    sim.loadSampleScene();
    addon.captureApp(501); // warmed: no stability wait in these captures
  });

  test('diagnostics follow an in-flight capture and the one waiting for its pid', async () => {
    assert.strictEqual(addon.captureAppDiagnostic(501), null);
    const block = sim.block({ op: 'CopyMultipleAttributeValues', element: 'textpad.bold' });
    const first = addon.captureAppAsync(501);
    await parked(block);
    const walking = addon.captureAppDiagnostic(501);
    assert.deepStrictEqual(Object.keys(walking),
      ['pid', 'window_id', 'phase', 'last_ax_operation', 'nodes_visited', 'elapsed_ms', 'deadline_exceeded']);
    assert.strictEqual(walking.window_id, null);
    assert.strictEqual(walking.phase, 'tree_traversal');
    assert.strictEqual(walking.last_ax_operation, 'copy_multiple_attribute_values');
    assert.strictEqual(walking.nodes_visited, 2);
    assert.strictEqual(walking.deadline_exceeded, false);

    // A second capture of the same pid replaces the record and waits for the lock.
    const second = addon.captureAppAsync(501);
    const waiting = await sim.waitFor(() => {
      const d = addon.captureAppDiagnostic(501);
      return d && d.phase === 'capture_lock' && d;
    });
    assert.strictEqual(waiting.last_ax_operation, 'capture_mutex_wait');
    assert.strictEqual(waiting.nodes_visited, 0);
    // Keyed by window id too: nothing is in flight for (501, 101).
    assert.strictEqual(addon.captureAppDiagnostic(501, 101), null);

    sim.unblock(block);
    const [a, b] = await Promise.all([first, second]);
    assert.ok(a && b);
    assert.ok(b.capture_epoch > a.capture_epoch);
    assert.strictEqual(addon.captureAppDiagnostic(501), null, 'the record ends with its worker');
  });

  test('a capture that outlives its deadline resolves null and keeps no element', async () => {
    // A pid never captured before: no older epoch of it can be evicted meanwhile.
    sim.launchApp({ pid: 955, bundleId: 'com.test.Late', windows: [
      { id: 'late.w', number: 71, title: 'Late', bounds: [0, 0, 400, 300], children: [
        { role: 'AXButton', title: 'A' }, { id: 'late.b', role: 'AXButton', title: 'B' }] }] });
    const baseline = sim.liveHandleCount();
    const block = sim.block({ op: 'CopyMultipleAttributeValues', element: 'late.b' });
    const late = addon.captureAppAsync(955, null, 71);
    await parked(block);
    const before = addon.captureAppDiagnostic(955, 71);
    assert.strictEqual(before.window_id, 71);
    sim.advanceClock(12000);
    const after = addon.captureAppDiagnostic(955, 71);
    assert.strictEqual(after.deadline_exceeded, true);
    assert.ok(after.elapsed_ms >= 12000 && after.elapsed_ms >= before.elapsed_ms);
    sim.unblock(block);
    assert.strictEqual(await late, null);
    assert.strictEqual(sim.liveHandleCount(), baseline);
  });

  test('sixteen captures are admitted at once; the seventeenth resolves null at once', async () => {
    const block = sim.block({ op: 'IsProcessTrusted' });
    const inFlight = Array.from({ length: 16 }, () => addon.captureAppAsync(501));
    await parked(block);
    assert.strictEqual(await addon.captureAppAsync(501), null);
    assert.strictEqual(await addon.captureAppAsync(502), null, 'the limit is shared by every pid');
    sim.unblock(block);
    const snaps = await Promise.all(inFlight);
    assert.ok(snaps.every((s) => s && s.app.pid === 501));
    assert.strictEqual(new Set(snaps.map((s) => s.capture_epoch)).size, 16);
    assert.ok(await addon.captureAppAsync(502), 'slots come back');
  });

  test('captures of different pids run side by side', async () => {
    const block = sim.block({ op: 'CopyMultipleAttributeValues', element: 'textpad.bold' });
    const blocked = addon.captureAppAsync(501);
    await parked(block);
    const other = await addon.captureAppAsync(502);
    assert.strictEqual(other.app.bundle_id, 'com.korvo.Settings');
    sim.unblock(block);
    assert.ok(await blocked);
  });
});
