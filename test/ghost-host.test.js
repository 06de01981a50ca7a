'use strict';
// The overlay's switch and its timers, each case in its own host process:
// "KORVO_OZA_CURSOR_OVERLAY" is read once per process, and a host whose
// overlay has gone idle must stop its 16 ms timer and exit by itself.
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('node:child_process');
const path = require('node:path');

const repo = path.join(__dirname, '..');

function runChild(body, env = {}) {
  const script = `
    const sim = require(${JSON.stringify(path.join(repo, 'sim'))});
    const addon = require(${JSON.stringify(repo)});
    sim.reset();
    sim.loadSampleScene();
    const flat = (es, o = []) => { for (const e of es) { o.push(e); if (e.children) flat(e.children, o); } return o; };
    const out = (v) => process.stdout.write(JSON.stringify(v));
    ${body}
  `;
  const childEnv = { ...process.env, ...env };
  if (env.KORVO_OZA_CURSOR_OVERLAY === undefined) delete childEnv.KORVO_OZA_CURSOR_OVERLAY;
  const child = spawnSync(process.execPath, ['-e', script], { timeout: 20000, encoding: 'utf8', env: childEnv });
  assert.strictEqual(child.error, undefined, 'the host did not exit by itself');
  assert.strictEqual(child.status, 0, child.stderr);
  return JSON.parse(child.stdout);
}

// An element press: the element-action code drives the overlay only when it
// is enabled.
const PRESS_BOLD = `
  addon.captureAppAsync(501, 'com.korvo.TextPad').then((snap) => {
    const bold = flat(snap.elements).find((e) => e.title === 'Bold');
    addon.performAction(bold.ref, 'AXPress');
    const s = addon.ghostState();
    out({ enabled: s.enabled, placed: s.groups.some((g) => g.placed), ready: s.ready });
  });
`;

test('the environment switch: listed values in any case enable the overlay, others do not', () => {
  for (const value of ['1', 'on', 'ON', 'true', 'Auto', 'always']) {
    assert.deepStrictEqual(runChild(PRESS_BOLD, { KORVO_OZA_CURSOR_OVERLAY: value }),
      { enabled: true, placed: true, ready: true }, value);
  }
  for (const value of [undefined, '', '0', 'off', 'yes', ' on']) {
    const r = runChild(PRESS_BOLD, { KORVO_OZA_CURSOR_OVERLAY: value });
    assert.strictEqual(r.enabled, false, String(value));
    assert.strictEqual(r.placed, false, `${value}: nothing drawn`);
  }
});

test('setters and hide work while the overlay is disabled', () => {
  const r = runChild(`
    const before = addon.ghostState().enabled;
    const drewWhileOff = addon.ghostShow(300, 300) || addon.ghostState().groups.some((g) => g.placed);
    addon.ghostSetEnabled(true);
    addon.ghostShow(300, 300);
    const shown = addon.ghostState().shown;
    addon.ghostSetEnabled(false);
    addon.ghostHide();
    out({ before, drewWhileOff, shown, after: addon.ghostState().shown, ordered: addon.ghostState().windowOrderedIn });
  `);
  assert.deepStrictEqual(r, { before: false, drewWhileOff: false, shown: true, after: false, ordered: false });
});

test('the 16 ms timer runs while the cursor is shown and stops once it idles out', () => {
  // Run-loop turns are counted by the simulated desktop: the pump timer turns
  // it about 60 times a second, an idle host loop not at all.
  const r = runChild(`
    const turns = () => sim.stats().runLoopTurns;
    const pause = (ms) => new Promise((res) => setTimeout(res, ms));
    (async () => {
      addon.ghostSetEnabled(true);
      addon.ghostShow(500, 400);
      let t0 = turns();
      await pause(300);
      const shownTurns = turns() - t0;
      sim.advanceClock(20001);
      await sim.waitFor(() => !addon.ghostState().shown);
      await pause(50);
      t0 = turns();
      await pause(300);
      out({ shownTurns, idleTurns: turns() - t0 });
    })();
  `);
  assert.ok(r.shownTurns >= 8, `pump turning while shown: ${r.shownTurns}`);
  assert.ok(r.idleTurns <= 4, `pump stopped when idle: ${r.idleTurns}`);
});

test('a controller status keeps the timer running until it is cleared', () => {
  const r = runChild(`
    const turns = () => sim.stats().runLoopTurns;
    const pause = (ms) => new Promise((res) => setTimeout(res, ms));
    (async () => {
      addon.ghostSetControllerStatus('agent working');
      let t0 = turns();
      await pause(200);
      const active = turns() - t0;
      addon.ghostSetControllerStatus('');
      await pause(50);
      t0 = turns();
      await pause(200);
      out({ active, cleared: turns() - t0, state: addon.ghostState().controllerActive });
    })();
  `);
  assert.ok(r.active >= 5, `active controller: ${r.active}`);
  assert.ok(r.cleared <= 4, `cleared: ${r.cleared}`);
  assert.strictEqual(r.state, false);
});

test('ghostSetCapture decides over KORVO_OZA_GHOST_CAPTURE, which is only the default', () => {
  const body = `
    addon.ghostInit();
    const sharing = () => sim.overlayWindows().map((w) => w.sharingType);
    const start = sharing();
    addon.ghostSetCapture(false);
    const off = sharing();
    addon.ghostSetCapture(true);
    const on = sharing();
    out({ start, off, on });
  `;
  for (const value of ['true', '1x']) {
    const r = runChild(body, { KORVO_OZA_GHOST_CAPTURE: value });
    assert.ok(r.start.length > 0, 'overlay windows exist');
    assert.deepStrictEqual(r, { start: r.start.map(() => 1), off: r.start.map(() => 0), on: r.start.map(() => 1) }, value);
  }
  const r = runChild(body, { KORVO_OZA_GHOST_CAPTURE: '0' });
  assert.deepStrictEqual(r.start.concat(r.off), r.start.concat(r.off).map(() => 0));
  assert.ok(r.on.every((t) => t === 1));
});
