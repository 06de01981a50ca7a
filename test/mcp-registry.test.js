'use strict';
// Telling built exports from unbuilt ones, which decides the tools offered
// (test/mcp.test.js lists them), must not act on the desktop.
const test = require('node:test');
const assert = require('node:assert');
const addon = require('..');
const sim = require('../sim');
const { TOOLS } = require('../mcp/tools');
const { selectTools } = require('../mcp/registry');

test.describe('selecting the tools to offer', () => {
  test('probing the exports the tools need leaves the desktop as it was', () => {
    sim.reset();
    sim.loadSampleScene();
    const state = () => ({
      frontmost: sim.frontmost(),
      apps: sim.apps().map((a) => [a.pid, a.active, a.terminated]),
      windows: sim.windows().map((w) => [w.number, w.bounds.join()]),
      text: sim.element('textpad.text').value,
      presses: sim.elements().map((e) => sim.element(e.id).pressCount),
      permissions: sim.permissions(),
      pointer: sim.pointer(),
    });
    const before = state();
    selectTools(addon, TOOLS);
    assert.deepStrictEqual(state(), before);
    assert.deepStrictEqual(sim.events(), [], 'no event was posted');
  });
});
