'use strict';
// Telling built exports from unbuilt ones, which decides the tools offered
// (test/mcp.test.js lists them), must not act on the desktop.
const test = require('node:test');
const assert = require('node:assert');
const addon = require('..');
const sim = require('../sim');
const { TOOLS } = require('../mcp/tools');
const { selectTools, pidFormRefusal } = require('../mcp/registry');
const platform = require('../platform');

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

  // A desktop like the x11 one: no per-process input, no capture streams,
  // and (here) no accessibility bus.
  const lacking = (missing) => {
    const desktop = platform.describe();
    const capabilities = { ...desktop.capabilities };
    for (const [name, status] of Object.entries(missing)) capabilities[name] = { status, reason: `no ${name} here` };
    return { ...desktop, backend: 'x11', capabilities };
  };

  test('tools whose facilities the desktop lacks are not offered, with the facilities named', () => {
    const desktop = lacking({ accessibility: 'unavailable', keyboard_to_process: 'not_built' });
    const { offered, unserved, waiting } = selectTools(addon, TOOLS, desktop);
    assert.deepStrictEqual(waiting, []);
    assert.deepStrictEqual(unserved.map((u) => u.name).sort(), ['release', 'snapshot', 'wait_for']);
    assert.deepStrictEqual(unserved[0].facilities,
      [{ name: 'accessibility', status: 'unavailable', reason: 'no accessibility here' }]);
    // The global form of type_text still works, so the tool stays.
    assert.ok(offered.some((t) => t.name === 'type_text'));
    assert.strictEqual(offered.length + unserved.length, TOOLS.length);
  });

  test('a pid form whose facility is missing is refused before any call, with its reason', () => {
    const desktop = lacking({ keyboard_to_process: 'not_built' });
    const typeText = TOOLS.find((t) => t.name === 'type_text');
    assert.strictEqual(pidFormRefusal(typeText, { text: 'a' }, desktop), null);
    assert.strictEqual(pidFormRefusal(typeText, { text: 'a', pid: 42 }, desktop),
      'type_text with a pid cannot work on this desktop: keyboard_to_process is not built on x11 ' +
      '(no keyboard_to_process here). Leave out pid to act through the system on the frontmost ' +
      'application (activate_app first).');
    assert.strictEqual(pidFormRefusal(typeText, { text: 'a', pid: 42 }, platform.describe()), null);
  });
});
