'use strict';
// Keyboard figures: the cost of planning 1,024 typed characters (C++, set
// against the plan's own pauses), and typeTextToPid of 1,024 characters on
// the simulated desktop end to end, set against the sum of the fixed pauses
// that pace the target (the ideal: no time beyond them).
const addon = require('..');
const sim = require('../sim');
const { runCppBench } = require('./frame.bench');

const PID = 501;

function mixedText() {
  const line = 'Invoice 2024-17: total = 1,250 + 15% tax 💸 due 30/09\r\n';
  return line.repeat(Math.ceil(1024 / line.length)).slice(0, 1024);
}

// The pauses the posted events imply: 8 ms after every Unicode chunk and
// every key-pressed character, 6 ms more after a shifted one.
function pauseSumMs(events) {
  let ms = 0;
  for (const e of events) {
    if (e.type !== 'keyDown' || e.keycode === 56) continue;
    ms += 8;
    if (e.unicodeUnits.length === 0 && e.flagsSet && (e.flags & 0x20000)) ms += 6;
  }
  return ms;
}

async function run() {
  const b = runCppBench('PlanTypeText1024');
  const plan = b.BM_PlanTypeText1024;
  const planUs = plan.real_time;  // reported in microseconds
  const planPauseMs = plan.pause_ms;

  sim.reset();
  sim.loadSampleScene();
  sim.setAttribute('textpad.text', 'AXValue', '');
  const text = mixedText();
  const runs = [];
  let ideal = 0;
  for (let i = 0; i < 3; i++) {
    sim.clearEvents();
    const t0 = process.hrtime.bigint();
    const ok = await addon.typeTextToPid(PID, text);
    const ms = Number(process.hrtime.bigint() - t0) / 1e6;
    if (!ok) throw new Error('typeTextToPid failed');
    ideal = pauseSumMs(sim.events());
    runs.push(ms);
  }
  const e2e = Math.min(...runs);
  return [
    {
      name: 'plan typing of 1,024 characters',
      value: planUs,
      unit: 'us',
      reference: `the plan's pauses ${planPauseMs.toFixed(0)} ms`,
      ratio: planUs / 1000 / planPauseMs,
      target: '<= 0.001',
    },
    {
      name: 'typeTextToPid 1,024 characters (sim)',
      value: e2e,
      unit: 'ms',
      reference: `ideal pause sum ${ideal} ms`,
      ratio: e2e / ideal,
      target: '<= 1.05',
    },
  ];
}

module.exports = { run };
