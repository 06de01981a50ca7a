'use strict';
// Mirroring panels on the simulated desktop: starts, what a panel shows,
// the capture loops' stop rules, groups, completion and the argument checks.
const test = require('node:test');
const assert = require('node:assert');
const sim = require('../sim');
const addon = require('..');

const EDITOR = 101; // the sample editor's main window, 900 x 640
const SETTINGS = 201;
const PID = 501;
const BUNDLE = 'com.korvo.TextPad';

function fresh() {
  addon.pipStop();
  addon.pipClearDismissed();
  addon.pipSetEnabled(true);
  addon.pipSetActiveGroup('');
  sim.reset();
  sim.loadSampleScene();
}

const panel = () => sim.panels()[0];
const shown = () => sim.waitFor(() => panel() && panel().orderedIn && panel().imageLayersWithContents > 0, { timeoutMs: 4000 });

// Mean colour of a grid of cells, skipping the outer ring (rounded corners).
function grid(img, cols = 12, rows = 8) {
  const out = [];
  for (let gy = 1; gy < rows - 1; gy++) {
    for (let gx = 1; gx < cols - 1; gx++) {
      const x0 = Math.floor((gx * img.width) / cols), x1 = Math.floor(((gx + 1) * img.width) / cols);
      const y0 = Math.floor((gy * img.height) / rows), y1 = Math.floor(((gy + 1) * img.height) / rows);
      const sum = [0, 0, 0];
      for (let y = y0; y < y1; y++) for (let x = x0; x < x1; x++) for (let c = 0; c < 3; c++) sum[c] += img.rgba[(y * img.width + x) * 4 + c];
      const n = (x1 - x0) * (y1 - y0);
      out.push(...sum.map((s) => s / n));
    }
  }
  return out;
}
const distance = (a, b) => a.reduce((s, v, i) => s + Math.abs(v - b[i]), 0) / a.length;

test('a verified start shows the window in a floating, non-activating panel', async () => {
  fresh();
  assert.strictEqual(await addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE), true);
  assert.ok(await shown(), 'the first frame shows the panel');
  const p = panel();
  assert.deepStrictEqual([p.level, p.collectionBehavior, p.hasShadow, p.opaque, p.movableByBackground], [3, 0x101, true, false, false]);
  // 900 x 640 fitted into the 360 x 240 box, 20 points from the right edge.
  assert.deepStrictEqual([p.frame[2], p.frame[3]], [338, 240]);
  assert.strictEqual(p.frame[0], 1440 - 338 - 20);
  assert.deepStrictEqual(p.aspect, [338, 240]);
  assert.strictEqual(p.ignoresMouse, false);
  assert.deepStrictEqual(addon.pipGetLeadTarget(), { window_id: EDITOR, pid: PID, bundle_id: BUNDLE });
  assert.strictEqual(addon.pipStackCount(), 1);

  // The panel's pixels are the window's picture, not another window's.
  const mirror = grid(sim.surfaceImage(p.number));
  const editor = grid(sim.windowImage(EDITOR));
  const settings = grid(sim.windowImage(SETTINGS));
  assert.ok(distance(mirror, editor) < 12, `mirror vs editor ${distance(mirror, editor)}`);
  assert.ok(distance(mirror, settings) > distance(mirror, editor) * 2);

  // The same presentation again answers true without a second panel.
  assert.strictEqual(await addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE), true);
  assert.strictEqual(sim.panels().length, 1);
  assert.strictEqual(addon.pipStop(), true);
  assert.strictEqual(addon.pipIsRunning(), false);
  assert.strictEqual(sim.panels().length, 0, 'the panel window is closed');
  assert.strictEqual(addon.pipGetLeadTarget(), null);
});

test('a new start replaces the running panel (singleton starts)', async () => {
  fresh();
  assert.strictEqual(await addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE, 0, 0, 's1'), true);
  assert.strictEqual(await addon.pipStartVerifiedAsync(SETTINGS, 502, 'com.korvo.Settings', 0, 0, 's2'), true);
  assert.strictEqual(addon.pipStackCount(), 1);
  assert.strictEqual(addon.pipGetLeadTarget().window_id, SETTINGS);
  addon.pipStop();
});

test('identity loss stops the panel on the third tick in a row', async () => {
  fresh();
  assert.strictEqual(await addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE), true);
  assert.ok(await shown());
  sim.setApp(PID, { bundleId: 'com.someone.Else' });
  assert.ok(await sim.waitFor(() => !addon.pipIsRunning(), { timeoutMs: 4000 }));
  assert.strictEqual(addon.pipStackCount(), 0);
});

test('blank frames are never shown and thirty in a row stop the panel', async () => {
  fresh();
  sim.injectFault({ op: 'CaptureScreenshot', error: 'wrong_type', count: -1 });
  sim.setTimeScale(20);
  assert.strictEqual(await addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE), true);
  // Thirty screenshots one after another: bounded by how fast the sim draws.
  assert.ok(await sim.waitFor(() => !addon.pipIsRunning(), { timeoutMs: 15000 }));
  assert.ok(sim.screenshots().answered >= 30);
  assert.strictEqual(sim.panels().length, 0);
});

test('failed screenshots hide nothing yet; the next good one shows the panel', async () => {
  fresh();
  sim.setManualScreenshots(true);
  assert.strictEqual(await addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE), true);
  sim.injectFault({ op: 'CaptureScreenshot', error: -3815, count: 3 });
  // The counters run on from earlier panels.
  const base = sim.screenshots().answered;
  for (let i = 0; i < 4; i++) {
    assert.ok(await sim.waitFor(() => sim.screenshots().pending > 0), `screenshot ${i} requested`);
    assert.strictEqual(sim.completeScreenshots(1), 1);
    if (i < 3) assert.ok(await sim.waitFor(() => sim.screenshots().answered === base + i + 1));
  }
  assert.ok(await shown());
  assert.strictEqual(addon.pipIsRunning(), true);
  addon.pipStop();
});

test('a start whose first frame never comes is stopped 3.5 s after the start', async () => {
  fresh();
  sim.setManualScreenshots(true); // no screenshot ever answers
  sim.setSteppedClock(true);
  try {
    assert.strictEqual(await addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE), true);
    await sim.stepClock(3400, { stepMs: 100 });
    assert.strictEqual(addon.pipIsRunning(), true, 'running 3.4 s after the start');
    assert.strictEqual(addon.pipStackCount(), 1);
    await sim.stepClock(200, { stepMs: 100 });
    assert.ok(await sim.waitFor(() => !addon.pipIsRunning()), 'stopped once 3.5 s passed');
    assert.strictEqual(addon.pipStackCount(), 0);
    assert.strictEqual(sim.panels().length, 0);
  } finally {
    sim.setSteppedClock(false);
    sim.setManualScreenshots(false);
  }
});

test('shareable content that fails falls back to identity-checked window-id capture', async () => {
  fresh();
  sim.injectFault({ op: 'GetShareableContent', error: -3801 });
  const requested = sim.screenshots().requested;
  assert.strictEqual(await addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE), true);
  assert.ok(await shown());
  assert.strictEqual(sim.screenshots().requested, requested, 'the display-link loop captures');
  sim.quitApp(PID);
  assert.ok(await sim.waitFor(() => !addon.pipIsRunning(), { timeoutMs: 4000 }));
});

test('the legacy start mirrors a window id on display-link ticks', async () => {
  fresh();
  sim.setManualDisplayLinks(true);
  assert.strictEqual(addon.pipStart(EDITOR, 200), true);
  assert.strictEqual(addon.pipStart(EDITOR), true, 'the same running legacy panel');
  assert.strictEqual(sim.displayLinks().active, 1);
  assert.strictEqual(panel().orderedIn, false, 'hidden until a frame');
  sim.tickDisplayLinks(1);
  assert.ok(await shown());
  assert.deepStrictEqual([panel().frame[2], panel().frame[3]], [200, 142]);
  assert.strictEqual(addon.pipGetLeadTarget().pid, 0);
  addon.pipStop();
  assert.strictEqual(sim.displayLinks().active, 0, 'the link is stopped');
  assert.strictEqual(addon.pipStart(0), false);
  assert.strictEqual(addon.pipStart('101'), false);
  assert.strictEqual(addon.pipStart(EDITOR, 1921), false);
});

test('groups hide and show panels; completion freezes with a badge', async () => {
  fresh();
  assert.strictEqual(await addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE, null, null, 'agent-1'), true);
  assert.ok(await shown());
  addon.pipSetActiveGroup('agent-2');
  assert.strictEqual(panel().orderedIn, false);
  addon.pipSetActiveGroup('AGENT-1');
  assert.strictEqual(panel().orderedIn, true);

  // A live panel keeps capturing; a frozen one stops. The frozen panel is
  // watched at least as long as the live one took for two captures, so the
  // check cannot pass only because the machine is slow.
  let requested = sim.screenshots().requested;
  const t0 = Date.now();
  assert.ok(await sim.waitFor(() => sim.screenshots().requested >= requested + 2, { timeoutMs: 5000 }),
    'a live panel captures');
  const live = Date.now() - t0;
  addon.pipTaskCompleted('agent-1', true);
  assert.strictEqual(addon.pipStackCount(), 1);
  requested = sim.screenshots().requested;
  await new Promise((r) => setTimeout(r, Math.max(500, 2 * live)));
  assert.ok(sim.screenshots().requested <= requested + 1, 'a frozen panel captures no more');
  assert.strictEqual(panel().orderedIn, true, 'the last frame stays');

  addon.pipBeginTurn('agent-1');
  assert.strictEqual(addon.pipStackCount(), 0);
  assert.strictEqual(sim.panels().length, 0);
});

test('dismissal, enabling and stop by target', async () => {
  fresh();
  addon.pipDismiss();
  assert.strictEqual(addon.pipIsDismissed(), true);
  assert.strictEqual(await addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE), false);
  addon.pipClearDismissed();
  addon.pipSetEnabled(false);
  assert.strictEqual(await addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE), false);
  addon.pipSetEnabled(true);
  assert.strictEqual(await addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE), true);
  assert.strictEqual(addon.pipStopTarget(EDITOR, 999, ''), false);
  assert.strictEqual(addon.pipStopTarget(0, PID, 'COM.KORVO.TEXTPAD'), true);
  assert.strictEqual(addon.pipIsRunning(), false);
});

test('argument checks', async () => {
  fresh();
  const before = addon.pipStackCount();
  const answers = await Promise.all([
    addon.pipStartVerifiedAsync(EDITOR, PID, 'x'.repeat(256)),
    addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE, 1921),
    addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE, 0, 1081),
    addon.pipStartVerifiedAsync(EDITOR, 0, BUNDLE),
    addon.pipStartVerifiedAsync(EDITOR, 1.5, BUNDLE),
    addon.pipStartVerifiedAsync(0, PID, BUNDLE),
    addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE, 0, 0, 7),
    addon.pipStartVerifiedCompositeAsync(EDITOR, 0, PID, BUNDLE),
  ]);
  assert.deepStrictEqual(answers, Array(8).fill(false));
  assert.strictEqual(addon.pipStackCount(), before);
  assert.strictEqual(addon.pipStartVerified(EDITOR, PID, BUNDLE), false);

  // Two starts in one tick: the second is refused at once.
  const [a, b] = await Promise.all([
    addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE),
    addon.pipStartVerifiedAsync(SETTINGS, 502, 'com.korvo.Settings'),
  ]);
  assert.deepStrictEqual([a, b], [true, false]);
  addon.pipStop();

  assert.throws(() => addon.pipStopTarget(1, 2), { name: 'TypeError', message: 'pipStopTarget requires windowId, pid, bundleId' });
  assert.throws(() => addon.pipSetActiveGroup(), { name: 'TypeError', message: 'pipSetActiveGroup requires a group string' });
  assert.throws(() => addon.pipBeginTurn(1), { name: 'TypeError', message: 'pipBeginTurn requires a group string' });
  assert.throws(() => addon.pipTaskCompleted('g'), { name: 'TypeError', message: 'pipTaskCompleted requires group, success' });
  assert.throws(() => addon.pipFreezeGroup(null), { name: 'TypeError', message: 'pipFreezeGroup requires a group string' });
});

test('composite start keys the panel by the presentation window and captures the actual one', async () => {
  fresh();
  assert.strictEqual(await addon.pipStartVerifiedCompositeAsync(EDITOR, 111, PID, BUNDLE), true);
  assert.ok(await shown());
  assert.strictEqual(addon.pipGetLeadTarget().window_id, 111);
  assert.strictEqual(addon.pipStopTarget(EDITOR, 0, ''), true, 'found by its presentation window');
});
