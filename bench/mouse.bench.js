'use strict';
// Mouse figures on the simulated desktop, end to end, each set against the
// fixed pauses its sequence is made of (the ideal: no time beyond them):
// a global drag (50 ms settle, ten 18 ms steps, the 30 ms pointer check) and
// a background window click (15 ms after the move, 1 ms inside each pair,
// 100 ms after the primer, 40 ms after a switched Begin, 100 ms at End).
const addon = require('..');
const sim = require('../sim');

const RUNS = 5;
const DRAG_PAUSES_MS = 50 + 10 * 18 + 30;
const CLICK_PAUSES_MS = 15 + 1 + 100 + 1 + 40 + 100;

async function timed(fn) {
  const times = [];
  for (let i = 0; i < RUNS; ++i) {
    const t0 = process.hrtime.bigint();
    if (!(await fn())) throw new Error('the operation answered false');
    times.push(Number(process.hrtime.bigint() - t0) / 1e6);
  }
  times.sort((a, b) => a - b);
  return times[Math.floor(times.length / 2)];
}

async function run() {
  sim.reset();
  sim.loadSampleScene();
  sim.setTimeScale(1);
  addon.setCpsActivationDisabled(false);
  const drag = await timed(() => addon.drag(200, 300, 400, 500, 'left', 'none'));
  const click = await timed(() =>
    addon.clickToWindowAsync(502, 'com.korvo.Settings', 201, [400, 200, 680, 460], 610, 280, 'left', 1, ''));
  sim.reset();
  return [
    { name: 'mouse: global drag (median of 5)', value: drag, unit: 'ms', reference: `${DRAG_PAUSES_MS} ms of fixed pauses`,
      ratio: drag / DRAG_PAUSES_MS, target: '< 1.2' },
    { name: 'mouse: background window click (median of 5)', value: click, unit: 'ms',
      reference: `${CLICK_PAUSES_MS} ms of fixed pauses`, ratio: click / CLICK_PAUSES_MS, target: '< 1.2' },
  ];
}

module.exports = { run };
