'use strict';
// Capture epochs from the host's side: ackCaptureEpoch / releaseCaptureEpoch
// arguments, which captures keep their elements (4 per process, 32 delivered
// in all), and that releasing gives every element handle back.
const test = require('node:test');
const assert = require('node:assert');
const addon = require('..');
const sim = require('../sim');

// Live handles of one sample-scene element: one per live token naming it.
const held = (id) => sim.element(id).liveHandles;

function launch(pid) {
  sim.launchApp({ pid, bundleId: `com.test.App${pid}`, windows: [
    { id: `a${pid}.w`, number: pid, title: `App ${pid}`, bounds: [0, 0, 400, 300],
      children: [{ id: `a${pid}.button`, role: 'AXButton', title: 'Go' }] }] });
}

test.describe('ackCaptureEpoch and releaseCaptureEpoch arguments', () => {
  test('bad arguments answer false and never throw', () => {
    const bad = [[], [123], [123, 0], [123, 1.5], ['123', 1], [123, '1'], [123, 2 ** 53], [0, 1], [2 ** 31, 1],
      [-1, 1], [123, -1], [123, NaN], [123, Infinity], [1.5, 1], [null, 1], [123, null], [123, 1n]];
    for (const args of bad) {
      assert.strictEqual(addon.ackCaptureEpoch(...args), false, JSON.stringify(args, (k, v) => (typeof v === 'bigint' ? `${v}n` : v)));
      assert.strictEqual(addon.releaseCaptureEpoch(...args), false);
    }
    assert.strictEqual(addon.ackCaptureEpoch(123, 2 ** 53 - 1), false, 'unknown epoch');
    assert.strictEqual(addon.releaseCaptureEpoch(123, 2 ** 53 - 1), true, 'releasing an unknown epoch is harmless');
  });
});

test.describe('epoch lifecycle', () => {
  test.beforeEach(() => {
    sim.reset();
    sim.loadSampleScene();
  });

  test('captureApp delivers its epoch; captureAppAsync waits for the acknowledgement', async () => {
    const sync = addon.captureApp(502);
    assert.strictEqual(addon.ackCaptureEpoch(502, sync.capture_epoch), true);
    const async1 = await addon.captureAppAsync(502);
    assert.strictEqual(async1.capture_epoch, sync.capture_epoch + 1);
    assert.strictEqual(addon.ackCaptureEpoch(502, async1.capture_epoch), true);
    assert.strictEqual(addon.ackCaptureEpoch(502, async1.capture_epoch), true, 'twice is fine');
    assert.strictEqual(addon.ackCaptureEpoch(502, async1.capture_epoch + 1), false, 'not issued yet');
    assert.strictEqual(addon.ackCaptureEpoch(501, async1.capture_epoch), false, 'another pid');
  });

  test('release drops every token of the capture and answers true twice', () => {
    const before = held('textpad.bold');
    const snap = addon.captureApp(501);
    assert.strictEqual(held('textpad.bold'), before + 1);
    assert.strictEqual(addon.releaseCaptureEpoch(501, snap.capture_epoch), true);
    assert.strictEqual(held('textpad.bold'), before);
    assert.strictEqual(addon.releaseCaptureEpoch(501, snap.capture_epoch), true);
    assert.strictEqual(addon.ackCaptureEpoch(501, snap.capture_epoch), false);
  });

  test('a fifth capture of a process drops the first one\'s elements, delivered or not', () => {
    const snaps = [];
    for (let i = 0; i < 4; i++) snaps.push(addon.captureApp(503));
    const four = held('finder.file-0');
    snaps.push(addon.captureApp(503));
    assert.strictEqual(held('finder.file-0'), four, 'one capture in, the oldest out');
    assert.strictEqual(addon.ackCaptureEpoch(503, snaps[0].capture_epoch), false);
    for (const s of snaps.slice(1)) assert.strictEqual(addon.ackCaptureEpoch(503, s.capture_epoch), true);
    for (const s of snaps.slice(1)) addon.releaseCaptureEpoch(503, s.capture_epoch);
  });

  test('the thirty-third delivered capture drops the first delivered one', async () => {
    const pids = Array.from({ length: 33 }, (_, i) => 960 + i);
    pids.forEach(launch);
    sim.setTimeScale(100); // first captures of new processes poll their children
    const first = await addon.captureAppAsync(pids[0]);
    assert.strictEqual(held(`a${pids[0]}.button`), 1);
    const unacked = await addon.captureAppAsync(pids[1]); // never acknowledged: not counted
    assert.ok(addon.ackCaptureEpoch(pids[0], first.capture_epoch));
    for (const pid of pids.slice(2)) addon.captureApp(pid);
    assert.strictEqual(held(`a${pids[0]}.button`), 1, 'thirty-two delivered so far');
    const last = addon.captureApp(pids[1]); // a second capture of the unacknowledged pid
    assert.strictEqual(held(`a${pids[0]}.button`), 0);
    assert.strictEqual(addon.ackCaptureEpoch(pids[0], first.capture_epoch), false);
    assert.strictEqual(held(`a${pids[1]}.button`), 2, 'the unacknowledged capture kept its tokens');
    addon.releaseCaptureEpoch(pids[1], unacked.capture_epoch);
    addon.releaseCaptureEpoch(pids[1], last.capture_epoch);
  });

  test('capture, acknowledge and release cycles leave no element handle behind', async () => {
    const baseline = sim.liveHandleCount();
    for (let i = 0; i < 40; i++) {
      const pid = [501, 502, 503][i % 3];
      const snap = i % 2 ? addon.captureApp(pid, i % 4 === 1 ? 102 : undefined) : await addon.captureAppAsync(pid);
      assert.ok(snap);
      if (i % 2 === 0) assert.ok(addon.ackCaptureEpoch(pid, snap.capture_epoch));
      assert.ok(addon.releaseCaptureEpoch(pid, snap.capture_epoch));
    }
    assert.strictEqual(sim.liveHandleCount(), baseline);
  });
});
