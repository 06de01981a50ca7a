'use strict';
// Ghost cursor figures from the C++ benchmark binary: one overlay step with
// four gliding cursors against a step with every cursor at rest, and the
// overlay rendered around a cursor to a 256x256 PNG against a cairo fill.
const { runCppBench } = require('./frame.bench');

async function run() {
  const b = runCppBench('Ghost|CairoFill');
  const moving = b.BM_GhostStepFourGliding.real_time;
  const rest = b.BM_GhostStepAtRest.real_time;
  const render = b.BM_GhostRenderPng256.real_time;
  const fill = b.BM_CairoFill256.real_time;
  return [
    {
      name: 'ghost: 16 ms step, 4 gliding cursors',
      value: moving / 1000,
      unit: 'us/tick',
      reference: `step with cursors at rest ${(rest / 1000).toFixed(2)} us`,
      ratio: moving / rest,
      target: 'tick << 16 ms',
    },
    {
      name: 'ghost: render 256x256 overlay to PNG',
      value: render / 1000,
      unit: 'us',
      reference: `cairo fill 256x256 ${(fill / 1000).toFixed(2)} us`,
      ratio: render / fill,
      target: '',
    },
  ];
}

module.exports = { run };
