'use strict';
// The ghost cursor overlay on the simulated desktop: self-test numbers,
// argument checks, sessions and tombstones, occlusion, idle fading, displays,
// rendered pictures and the overlay driven by element actions.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const sharp = require('sharp');
const addon = require('..');
const sim = require('../sim');

const close = (a, b, eps, what) => assert.ok(Math.abs(a - b) <= eps, `${what}: ${a} vs ${b}`);
const group = (key) => addon.ghostState().groups.find((g) => g.key === key);
const settled = (key) => () => {
  const g = group(key);
  return g && !g.animating ? g : null;
};
const tmp = (name) => path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'ghost-')), name);

async function pixels(file) {
  const { data, info } = await sharp(file).ensureAlpha().raw().toBuffer({ resolveWithObject: true });
  return { at: (x, y) => Array.from(data.subarray((y * info.width + x) * 4, (y * info.width + x) * 4 + 4)), info };
}

function fresh() {
  addon.ghostHide();
  addon.ghostSetMultiCursorEnabled(false);
  addon.ghostSetRequestSession(null);
  sim.reset();
  sim.loadSampleScene();
  addon.ghostSetEnabled(true);
}

test('self-tests reproduce the worked examples', () => {
  const m = addon.ghostMotionSelftest();
  assert.strictEqual(m.arrived, true);
  assert.strictEqual(m.arrivalTick, 48);
  assert.deepStrictEqual([m.finalX, m.finalY], [400, 0]);
  assert.strictEqual(m.samples.length, 8, 'every 6th tick up to the arrival');
  assert.ok(m.samples.every((s) => s.y >= 0), 'a rightward glide bows downwards');
  assert.strictEqual(m.settled, true);
  assert.deepStrictEqual([m.settledX, m.settledY], [300, 200]);
  assert.strictEqual(m.settleArrivalTick, 47);
  close(m.settleTicks, 27, 2, 'settle ticks');
  close(m.preemptMidX, 72.06, 0.01, 'x after one 0.2 s tick');
  assert.strictEqual(m.preemptRestartX, m.preemptMidX, 're-targeting does not move the cursor');
  assert.strictEqual(m.glideShortScale, 1);
  close(m.glideLongScale, 10.742, 0.001, 'long glide scale');
  close(m.glideLongElapsed, 0.8, 0.02, 'long glide still lasts about 0.8 s');
  close(m.glideShortElapsed, 0.43, 0.02, 'short glide duration');
  assert.strictEqual(m.maxGlide, 0.8);

  const p = addon.ghostPaletteSelftest();
  assert.strictEqual(p.palette.length, 11);
  assert.deepStrictEqual(p.strokes, {
    pineapple: { r: 213, g: 166, b: 0 },
    blue: { r: 0, g: 77, b: 157 },
    raspberry: { r: 153, g: 6, b: 50 },
  });
  assert.deepStrictEqual(p.samples['sess_0d8f2b1e-4c6a-4d3f-9a1c-2e5b7a9f0c11'], { r: 146, g: 209, b: 255 });
  assert.deepStrictEqual(p.samples['(empty)'], { r: 31, g: 140, b: 255 });
  assert.deepStrictEqual(p.indices, { 'agent-3': 2, 'agent-12': 0, a: 0 });
  assert.strictEqual(p.sanitize['long-cut'], '123456789012345678901234567\u2026');

  const g = addon.ghostGeometrySelftest();
  assert.deepStrictEqual(
    [g.primary, g.leftScreen, g.aboveScreen, g.seam, g.nearest, g.mirrorIgnored],
    [0, 1, 2, 0, 0, 0],
  );
  assert.deepStrictEqual([g.seedX, g.seedY, g.seedCornerX, g.seedCornerY], [360, 260, 143, 143]);
  assert.deepStrictEqual([g.seedLeftX, g.seedLeftY, g.seedNoneX, g.seedNoneY], [-1918, 360, 2, 360]);
});

test('bad arguments answer false and move nothing', () => {
  fresh();
  assert.strictEqual(addon.ghostInit(), true);
  for (const args of [
    [10, 10, 0, 0],
    [10, 10, -4, 0],
    [10, 10, 501, 1.5],
    [10, 10, 501, 4294967296],
    [NaN, 10, 501, 0],
    [10, 10, 501],
    [10, 10, 501, 0, 'yes'],
    [10, 10, 501, 0, true, null, 42],
  ]) {
    assert.strictEqual(addon.ghostMoveTarget(...args), false, JSON.stringify(args));
  }
  assert.strictEqual(group('default').placed, false, 'nothing moved');
  for (const [w, h] of [[4097, 10], [10, 0], [1.5, 10], ['8', 8]]) {
    assert.strictEqual(addon.ghostRenderPng(tmp('x.png'), w, h), false, `${w}x${h}`);
  }
  assert.strictEqual(addon.ghostShow(), false);
  assert.strictEqual(addon.ghostShow(1, Infinity), false);
  assert.strictEqual(addon.ghostShow(1, 2, 7), false, 'a session must be a string');
  assert.strictEqual(addon.ghostSetEnabled('yes'), false);
  assert.strictEqual(addon.ghostSetControllerStatus(5), false);
  assert.strictEqual(addon.ghostShowFocusRect(1, 2, 3), false);
  assert.strictEqual(addon.ghostSessionTurnEnd(), false);
  assert.strictEqual(addon.ghostRemoveSession(null), false);
});

test('sessions get their own groups and colours; removed sessions never come back', async () => {
  fresh();
  addon.ghostSetMultiCursorEnabled(true);
  assert.strictEqual(addon.ghostShow(300, 300, 'agent-1'), true);
  assert.strictEqual(addon.ghostShow(500, 500, 'agent-3'), true);
  assert.strictEqual(group('agent-1').fillHex, '#FFE485');
  assert.strictEqual(group('agent-3').fillHex, '#CDDE82');
  assert.strictEqual(group('default').fillHex, '#1F8CFF');
  assert.strictEqual(addon.ghostState().sessionCount, 3);

  // A session passed to ghostShow is the request session of later C-level
  // calls: the element action below moves agent-3's cursor, not the default.
  const snap = await addon.captureAppAsync(501, 'com.korvo.TextPad');
  const flat = (es, o = []) => { for (const e of es) { o.push(e); if (e.children) flat(e.children, o); } return o; };
  const bold = flat(snap.elements).find((e) => e.title === 'Bold');
  assert.ok(addon.performAction(bold.ref, 'AXPress').ok);
  const moved = await sim.waitFor(settled('agent-3'));
  const [bx, by, bw, bh] = bold.bounds;
  assert.deepStrictEqual([moved.x, moved.y], [bx + bw / 2, by + bh / 2]);
  assert.strictEqual(group('default').placed, false);

  addon.ghostRemoveSession('agent-1');
  assert.strictEqual(group('agent-1'), undefined);
  assert.strictEqual(addon.ghostShow(10, 10, 'agent-1'), false, 'a removed session gets no group');
  addon.ghostSetRequestSession('agent-1');
  addon.ghostBeginAction(1, 'agent-1', 'Typing');
  assert.strictEqual(group('agent-1'), undefined, 'not even through a begun action');
  addon.ghostRemoveSession('default');
  assert.ok(group('default'), '"default" cannot be removed');

  // The default group's turn end leaves it alone while a session is shown.
  addon.ghostShow(50, 50, 'default');
  addon.ghostSessionTurnEnd('default');
  assert.strictEqual(group('default').shown, true);
  addon.ghostSessionTurnEnd('agent-3');
  assert.strictEqual(group('agent-3').shown, false);
  addon.ghostSessionTurnEnd('default');
  assert.strictEqual(group('default').shown, false);
  assert.strictEqual(addon.ghostState().windowOrderedIn, false, 'all hidden: windows ordered out');
});

test('a covered target hides the cursor until a probe finds it on top', async () => {
  fresh();
  // (500, 200) is inside the editor's window 101, under its sheet 111.
  assert.strictEqual(addon.ghostMoveTarget(500, 200, 501, 101, true), true);
  let s = addon.ghostState();
  assert.strictEqual(s.shown, false);
  assert.strictEqual(s.occlusionAlpha, 0);
  sim.moveWindow(111, [1200, 700, 100, 100]);
  s = await sim.waitFor(() => addon.ghostState().shown && addon.ghostState());
  assert.ok(s, 'shown once the target window is on top');
  assert.strictEqual(s.occlusionAlpha, 1);
  // Covered again: hidden by the next probe.
  sim.moveWindow(111, [320, 108, 500, 200]);
  assert.ok(await sim.waitFor(() => !addon.ghostState().shown));
  // A process target (any window of the pid) is not covered by its own sheet.
  addon.ghostMoveTarget(500, 200, 501, 101, false);
  assert.strictEqual(addon.ghostState().shown, true);
});

test('probes that find no window keep a shown cursor twice and hide it the third time', async () => {
  fresh();
  // (1300, 50) is on the desktop: no window at all.
  addon.ghostMoveTarget(1300, 50, 501, 0);
  assert.strictEqual(addon.ghostState().shown, true, 'no owner counts as visible at first');
  const seen = [];
  await sim.waitFor(() => {
    const s = addon.ghostState();
    seen.push([s.occlusionUncertainMisses, s.shown]);
    return !s.shown;
  });
  assert.ok(seen.some(([m, shown]) => m === 2 && shown), JSON.stringify(seen.slice(-5)));
  assert.ok(!seen.some(([m]) => m >= 3));
  assert.strictEqual(addon.ghostState().occlusionUncertainMisses, 0);
});

test('an idle cursor fades after 20 s; a pending text cue holds it, within a bound', async () => {
  fresh();
  addon.ghostShow(600, 400);
  assert.strictEqual(addon.ghostState().shown, true);
  sim.advanceClock(19000);
  await new Promise((r) => setTimeout(r, 40));
  assert.strictEqual(addon.ghostState().shown, true, 'still inside the 20 s lease');
  sim.advanceClock(1100);
  assert.ok(await sim.waitFor(() => !addon.ghostState().shown), 'idled out');
  assert.strictEqual(addon.ghostState().idleAlpha, 0);

  addon.ghostShow(600, 400);
  addon.ghostBeginAction(1);
  assert.strictEqual(addon.ghostState().cue, 'text');
  sim.advanceClock(25000);
  await new Promise((r) => setTimeout(r, 40));
  assert.strictEqual(addon.ghostState().shown, true, 'typing in progress holds the cursor');
  addon.ghostEndAction();
  sim.advanceClock(20100);
  assert.ok(await sim.waitFor(() => !addon.ghostState().shown), 'idles out once the action ended');

  // A text cue whose action never ends stops holding the cursor eventually.
  addon.ghostShow(600, 400);
  addon.ghostBeginAction(1);
  for (let i = 0; i < 8 && addon.ghostState().shown; i++) {
    sim.advanceClock(20100);
    await new Promise((r) => setTimeout(r, 40));
  }
  assert.strictEqual(addon.ghostState().shown, false);
  assert.strictEqual(addon.ghostState().cue, 'none');
});

test('vertically stacked displays get one window each; a glide crosses them', async () => {
  fresh();
  sim.setDisplays([
    { id: 1, bounds: [0, 0, 1440, 900], scale: 2, main: true },
    { id: 2, bounds: [0, 900, 1440, 900], scale: 1 },
    { id: 3, bounds: [0, 0, 1440, 900], scale: 2, mirror: true },
  ]);
  const gen = addon.ghostState().displayGeneration;
  addon.ghostShow(700, 300);
  await sim.waitFor(() => addon.ghostState().displayGeneration > gen);
  const frames = sim.overlayWindows().map((w) => w.frame);
  assert.deepStrictEqual(frames, [[0, 0, 1440, 900], [0, 900, 1440, 900]]);
  assert.deepStrictEqual(addon.ghostState().windowFrames.map((f) => f.y), [0, 900]);
  await sim.waitFor(settled('default'));
  assert.strictEqual(group('default').screenIdx, 0);
  addon.ghostShow(700, 1500);
  const crossed = await sim.waitFor(() => {
    const g = group('default');
    return g.animating && g.screenIdx === 1 && g;
  });
  assert.ok(crossed, 'moved to the lower display while still gliding');
  const end = await sim.waitFor(settled('default'));
  assert.deepStrictEqual([end.x, end.y, end.screenIdx], [700, 1500, 1]);
});

test('the rendered overlay shows the session colour at the tip and the badge below it', async () => {
  fresh();
  addon.ghostSetMultiCursorEnabled(true);
  addon.ghostShow(400, 300, 'agent-3');
  await sim.waitFor(settled('agent-3'));
  const bare = tmp('bare.png');
  assert.strictEqual(addon.ghostRenderPng(bare, 256, 256), true);
  let px = await pixels(bare);
  assert.deepStrictEqual([px.info.width, px.info.height], [256, 256]);
  // Just inside the arrow, below and right of the tip at the centre.
  const tip = px.at(132, 140);
  assert.strictEqual(tip[3], 255);
  [205, 222, 130].forEach((c, i) => close(tip[i], c, 2, 'fill channel ' + i));
  assert.strictEqual(px.at(5, 5)[3], 0, 'transparent away from the cursor');
  assert.strictEqual(px.at(128, 128 + 90)[3], 0, 'no badge without a title');

  addon.ghostBeginActionWithTitle('Saving the document', 'agent-3');
  assert.strictEqual(group('agent-3').badgeText, 'Saving the document');
  const badged = tmp('badge.png');
  addon.ghostRenderPng(badged, 256, 256);
  px = await pixels(badged);
  const [r, g, b, a] = px.at(100, 128 + 90 - 20);  // the badge's top padding
  assert.ok(a > 200 && Math.abs(r - 205) < 12 && Math.abs(g - 222) < 12 && Math.abs(b - 130) < 12,
    `badge fill under the cursor: ${[r, g, b, a]}`);

  // Long titles are shortened to fit the badge.
  addon.ghostBeginActionWithTitle('WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW', 'agent-3');
  assert.strictEqual(group('agent-3').badgeText, 'WWWWWWWWWWWWWWWWWWWWWWWWWWW\u2026');
});

test('element actions glide the cursor to the element and outline it', async () => {
  fresh();
  const snap = await addon.captureAppAsync(501, 'com.korvo.TextPad');
  const flat = (es, o = []) => { for (const e of es) { o.push(e); if (e.children) flat(e.children, o); } return o; };
  const box = flat(snap.elements).find((e) => e.title === 'Bold');
  const layersBefore = sim.overlayWindows()[0].layers;
  assert.ok(addon.performAction(box.ref, 'AXPress').ok);
  const layersAfter = sim.overlayWindows()[0].layers;
  assert.ok(layersAfter > layersBefore, 'a focus rectangle was added');
  const g = await sim.waitFor(settled('default'));
  const [x, y, w, h] = box.bounds;
  assert.deepStrictEqual([g.x, g.y], [x + w / 2, y + h / 2]);
  assert.strictEqual(g.shown, true);
  assert.ok(await sim.waitFor(() => sim.overlayWindows()[0].layers === layersBefore + 1, { timeoutMs: 3000 }),
    'the ripple and the focus rectangle are removed after their animations');
});

test('overlay windows ignore the mouse, float at level 1000 and follow the capture switch', () => {
  fresh();
  addon.ghostInit();
  const [w] = sim.overlayWindows();
  assert.strictEqual(w.ignoresMouse, true);
  assert.strictEqual(w.level, 1000);
  assert.strictEqual(w.sharingType, 0);
  addon.ghostSetCapture(true);
  assert.strictEqual(sim.overlayWindows()[0].sharingType, 1);
  addon.ghostSetCapture(false);
  assert.strictEqual(sim.overlayWindows()[0].sharingType, 0);
  // An ordered-in overlay window is in the window list but never counts as a
  // window a click would hit.
  addon.ghostShow(100, 100);
  const listed = sim.probe.windowList(true).find((e) => e.kCGWindowNumber === w.number);
  assert.ok(listed, 'in the window list');
  assert.strictEqual(listed.kCGWindowLayer, 1000);
  assert.strictEqual(addon.ghostState().ignoresMouseEvents, true);
});

test('a glide to a huge finite point never leaves the cursor at NaN', async () => {
  const finiteAt = async (x, y, what) => {
    const g = await sim.waitFor(settled('default'), { timeoutMs: 5000 });
    assert.ok(g, `${what}: the glide ends`);
    assert.deepStrictEqual([g.x, g.y], [x, y], what);
  };
  const calls = [
    ['ghostShow', () => addon.ghostShow(1e308, 100)],
    ['ghostShow -', () => addon.ghostShow(-1e308, -1e308)],
    ['ghostMove', () => addon.ghostMove(100, 1.7e308)],
    ['ghostClickRipple', () => addon.ghostClickRipple(1e308, 1e308)],
    ['ghostMoveTarget', () => addon.ghostMoveTarget(1e308, 100, 501, 101)],
    // The mouse input's ghost updates with the overlay on.
    ['moveTo', () => addon.moveTo(1e308, 100)],
    ['moveToPid', () => addon.moveToPid(501, -1e308, 100)],
    ['clickAtPoint', () => addon.clickAtPoint(1e308, 1e308, 'left', 1, '')],
    ['scrollAt', () => addon.scrollAt(1e308, 5, 3, 'down')],
    ['dragToPid', () => addon.dragToPid(501, 10, 10, 1e308, 1e308, 'left')],
  ];
  for (const [what, call] of calls) {
    fresh();
    addon.ghostShow(300, 300);
    call();
    // Whatever the huge point became, the cursor's position stays finite
    // while it moves, and the next glide lands exactly.
    for (let i = 0; i < 5; i++) {
      for (const g of addon.ghostState().groups) assert.ok(Number.isFinite(g.x) && Number.isFinite(g.y), `${what}: ${g.x},${g.y}`);
      await new Promise((r) => setTimeout(r, 20));
    }
    addon.ghostShow(400, 400);
    await finiteAt(400, 400, what);
  }
});
