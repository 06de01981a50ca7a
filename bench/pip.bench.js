'use strict';
// Mirroring panels on the sim: frames presented per second by a running
// panel against the 5 per second target, and CPU time per presented frame
// against one window capture + PNG encode of the same window, measured in
// the same run. Starts are singleton, so one panel is what the exports can
// run; the four-panel figure is not reachable through them.
const sim = require('../sim');
const addon = require('..');

async function run() {
  sim.reset();
  sim.loadSampleScene();
  // Reference: capture + encode of the editor window, CPU time per call.
  const refN = 20;
  const c0 = process.cpuUsage();
  for (let i = 0; i < refN; i++) addon.captureWindowImage(101, 'png');
  const cr = process.cpuUsage(c0);
  const refCpuMs = (cr.user + cr.system) / 1000 / refN;

  await addon.pipStartVerifiedAsync(101, 501, 'com.korvo.TextPad');
  await sim.waitFor(() => sim.panels().some((p) => p.orderedIn), { timeoutMs: 4000 });
  const a0 = sim.screenshots().answered;
  const u0 = process.cpuUsage();
  const t0 = Date.now();
  await new Promise((r) => setTimeout(r, 3000)); // the measured interval
  const seconds = (Date.now() - t0) / 1000;
  const u = process.cpuUsage(u0);
  const frames = sim.screenshots().answered - a0;
  addon.pipStop();
  const fps = frames / seconds;
  const cpuPerFrame = frames ? (u.user + u.system) / 1000 / frames : NaN;
  return [
    { name: 'pip frames presented / s (one panel)', value: fps, unit: 'frames/s', reference: 'target 5/s', ratio: fps / 5, target: '~1' },
    { name: 'pip CPU per presented frame', value: cpuPerFrame, unit: 'ms', reference: `capture+encode ${refCpuMs.toFixed(2)} ms`, ratio: cpuPerFrame / refCpuMs, target: '< 1' },
  ];
}

module.exports = { run };
