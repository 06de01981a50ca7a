'use strict';
// Which tools the server offers: a tool is offered only when every export it
// needs is built and it has a handler, and telling built exports from unbuilt
// ones must not act on the desktop.
const test = require('node:test');
const assert = require('node:assert');
const addon = require('..');
const sim = require('../sim');
const { TOOLS } = require('../mcp/tools');
const { selectTools } = require('../mcp/registry');

const unbuilt = (name) => () => {
  throw new Error(`${name} is not implemented yet`);
};

test.describe('selecting tools', () => {
  test('a tool waits for each unbuilt export it needs, and for its handler', () => {
    const fake = {
      readOnly: () => null,
      checksArgs: () => {
        throw new TypeError('checksArgs(x) expects a number');
      },
      async: () => Promise.resolve(null),
      later: unbuilt('later'),
      other: unbuilt('other'),
    };
    const run = () => 'ok';
    const { offered, waiting } = selectTools(fake, [
      { name: 'ready', needs: ['readOnly', 'checksArgs', 'async'], run },
      { name: 'partly', needs: ['readOnly', 'later', 'other'], run },
      { name: 'absent', needs: ['notAnExport'], run },
      { name: 'no_handler', needs: ['readOnly'] },
    ]);
    assert.deepStrictEqual(offered.map((t) => t.name), ['ready']);
    assert.deepStrictEqual(waiting, [
      { name: 'partly', missing: ['later', 'other'], handler: true },
      { name: 'absent', missing: ['notAnExport'], handler: true },
      { name: 'no_handler', missing: [], handler: false },
    ]);
  });

  test('on this add-on the mouse tools wait for their exports and every other tool is offered', () => {
    const { offered, waiting } = selectTools(addon, TOOLS);
    assert.strictEqual(offered.length, 12);
    assert.deepStrictEqual(waiting, [
      { name: 'scroll', missing: ['scrollAt', 'scrollToPid'], handler: false },
      { name: 'drag', missing: ['drag', 'dragToPid'], handler: false },
    ]);
  });

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
