'use strict';
// settings-watch on the simulated desktop (a scene file, or the window list
// desktop-sim writes): which windows count as settings windows, the record's
// keys, and the polling interval.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { startWatch, WATCH } = require('./x11/watch');

const sceneDirs = [];
test.after(() => sceneDirs.forEach((d) => fs.rmSync(d, { recursive: true, force: true })));

function sceneFile(apps) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'korvo-watch-'));
  sceneDirs.push(dir);
  const file = path.join(dir, 'scene.json');
  fs.writeFileSync(file, JSON.stringify({ apps }));
  return file;
}

const app = (pid, name, windows) => ({ pid, bundleId: `com.test.${pid}`, name, windows });

test.describe('settings-watch (simulated desktop)', () => {
  const watchers = [];
  const watch = (args, scene) => {
    const w = startWatch(args, { KORVO_OZA_PLATFORM: 'sim', KORVO_OZA_SIM_SCENE: scene || '' });
    watchers.push(w);
    return w;
  };
  test.afterEach(() => {
    while (watchers.length) watchers.pop().stop();
  });

  test('settings windows front to back, by substring of the owner name; others and off-screen ones are left out', async () => {
    const scene = sceneFile([
      app(801, 'System Settings Helper', [
        { number: 11, title: 'General', bounds: [10, 20, 300, 200], layer: 0 },
        { number: 12, title: 'Hidden', bounds: [0, 0, 50, 50], onScreen: false },
        { number: 13, title: 'Sheet', bounds: [40, 50, 100.5, 80], layer: 8, omitKeys: ['kCGWindowLayer'] },
      ]),
      app(802, '系統設定', [{ number: 21, bounds: [500, 0, 200, 100], layer: 3 }]),
      app(803, 'system settings', [{ number: 31, bounds: [0, 0, 10, 10] }]),
      app(804, 'Notes', [{ number: 41, bounds: [0, 0, 10, 10] }]),
    ]);
    const w = watch(['50'], scene);
    const line = await w.next((recs) => recs.length > 0);
    const recs = JSON.parse(line.text);
    // The simulated list puts the frontmost application's windows first.
    assert.deepStrictEqual(recs, [
      { x: 10, y: 20, w: 300, h: 200, layer: 0 },
      { x: 40, y: 50, w: 100.5, h: 80, layer: -1 },
      { x: 500, y: 0, w: 200, h: 100, layer: 3 },
    ]);
    assert.ok(!/\s/.test(line.text), 'compact JSON');
  });

  test('no settings window: every cycle prints []', async () => {
    const w = watch(['20'], sceneFile([app(805, 'Notes', [{ number: 51, bounds: [0, 0, 10, 10] }])]));
    await w.next(() => true);
    await w.next(() => true, 3000, 3);
    assert.ok(w.lines.every((l) => l.text === '[]'));
  });

  test('the interval: a number in ms, 0 for none, 150 for anything that is not one', async () => {
    const fast = watch(['+0']);
    await fast.next(() => true, 3000, 200);
    for (const args of [['abc'], ['-5'], ['4294967296'], []]) {
      const w = watch(args);
      const sixth = await w.next(() => true, 5000, 5);
      // Four pauses of 150 ms lie between the second and the sixth line (the
      // first lines may reach us late and together while the program starts).
      const gap = sixth.at - w.lines[1].at;
      assert.ok(gap >= 450 && gap < 3000, `${JSON.stringify(args)}: ${gap} ms for four cycles`);
      w.stop();
    }
    // Longer than the 32-bit pause allows: clamped to 4294967 ms, so one line
    // and then a pause of over an hour (not the 150 ms default).
    const slow = watch(['4294968']);
    await slow.next(() => true);
    await new Promise((r) => setTimeout(r, 400));
    assert.strictEqual(slow.lines.length, 1);
  });

  test("the host's simulated desktop through the window-list file desktop-sim writes", async () => {
    const sim = require('../sim');
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'korvo-watch-'));
    sceneDirs.push(dir);
    const file = path.join(dir, 'windows.json');
    sim.reset();
    sim.loadScene({ apps: [app(806, 'Notes', [{ number: 61, bounds: [0, 0, 10, 10] }])] });
    sim.writeWindowList(file);
    const w = startWatch(['20'], { KORVO_OZA_PLATFORM: 'sim', KORVO_OZA_SIM_WINDOW_LIST: file });
    watchers.push(w);
    await w.next((recs) => recs.length === 0);
    // Each line arrives while the program runs (line-buffered output).
    const pid = sim.launchApp(app(807, '系统设置', [{ number: 71, bounds: [30, 40, 320, 240], layer: 0 }]));
    assert.strictEqual(pid, 807);
    sim.writeWindowList(file);
    const seen = await w.next((recs) => recs.length === 1);
    assert.deepStrictEqual(JSON.parse(seen.text), [{ x: 30, y: 40, w: 320, h: 240, layer: 0 }]);
    sim.moveWindow(71, [50, 60, 320, 240]);
    sim.writeWindowList(file);
    await w.next((recs) => recs.length === 1 && recs[0].x === 50);
    fs.rmSync(file);
    await w.next((recs) => recs.length === 0);
    sim.reset();
  });
});

test('with no desktop to drive it prints nothing, says why and exits with 2', () => {
  const env = { ...process.env };
  for (const k of ['KORVO_OZA_PLATFORM', 'DISPLAY', 'WAYLAND_DISPLAY']) delete env[k];
  const cases = [
    [{}, 'settings-watch: no desktop to drive: DISPLAY is not set. Start an X session, or set ' +
      'KORVO_OZA_PLATFORM=sim for the simulated desktop\n'],
    [{ KORVO_OZA_PLATFORM: 'quartz' }, /^settings-watch: KORVO_OZA_PLATFORM="quartz" names no desktop backend\./],
    [{ KORVO_OZA_PLATFORM: 'x11', DISPLAY: ':987' }, /the X server named by DISPLAY=:987 does not answer/],
  ];
  for (const [extra, why] of cases) {
    const r = spawnSync(WATCH, ['10'], { env: { ...env, ...extra }, encoding: 'utf8', timeout: 20000 });
    assert.strictEqual(r.status, 2, JSON.stringify(extra));
    assert.strictEqual(r.stdout, '');
    if (typeof why === 'string') assert.strictEqual(r.stderr, why);
    else assert.match(r.stderr, why);
  }
});
