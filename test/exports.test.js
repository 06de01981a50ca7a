'use strict';
// The export object: names, order, the live gate and the shape of each value.
const test = require('node:test');
const assert = require('node:assert');
const { execFileSync } = require('node:child_process');
const path = require('node:path');
const table = require('./fixtures/export-table.json');

const repo = path.join(__dirname, '..');
const ordered = (gateOpen) =>
  [...table.init, ...table.backgroundInput, ...table.ghostCursor, ...table.pip]
    .filter((n) => gateOpen || !n.startsWith('*'))
    .map((n) => n.replace(/^\*/, ''));

// Loads the add-on in a fresh process with the given gate value (undefined:
// unset) and reports its keys and the shape of every value.
function loadWithGate(gate) {
  const env = { ...process.env };
  delete env.KORVO_OZA_LIVE_NATIVE;
  if (gate !== undefined) env.KORVO_OZA_LIVE_NATIVE = gate;
  const script = `
    const a = require(${JSON.stringify(repo)});
    const keys = Object.keys(a);
    const shapes = keys.map((k) => {
      const d = Object.getOwnPropertyDescriptor(a, k);
      return [typeof d.value, d.value.name, d.writable, d.enumerable];
    });
    process.stdout.write(JSON.stringify({ keys, shapes }));
  `;
  return JSON.parse(execFileSync(process.execPath, ['-e', script], { env }).toString());
}

test('closed gate: 136 names in table order, every one a nameless function', () => {
  const { keys, shapes } = loadWithGate(undefined);
  assert.strictEqual(keys.length, 136);
  assert.deepStrictEqual(keys, ordered(false));
  for (const [type, name] of shapes) {
    assert.strictEqual(type, 'function');
    assert.strictEqual(name, '');
  }
});

test('open gate ("1"): 152 names with the gated ones at their places', () => {
  const { keys } = loadWithGate('1');
  assert.strictEqual(keys.length, 152);
  assert.deepStrictEqual(keys, ordered(true));
  const at = (n) => keys.indexOf(n);
  assert.strictEqual(at('projectFrameContentForTest'), at('captureWindowImageVerifiedAsync') + 1);
  assert.strictEqual(at('typeTextToPid'), at('projectFrameContentForTest') + 1);
  assert.strictEqual(at('pipGetWindowBounds'), at('pipIsInteractionReady') + 1);
  assert.strictEqual(at('pipIsDismissed'), at('pipSimulateTimeoutDrainRecovery') + 1);
});

test('any gate value other than exactly "1" keeps the gate closed', () => {
  const closed = ordered(false);
  for (const gate of ['', '0', 'true', '01', '1 ', '11', ' 1']) {
    assert.deepStrictEqual(loadWithGate(gate).keys, closed, JSON.stringify(gate));
  }
});

test('families never overwrite an Init name and names are unique', () => {
  const names = ordered(true);
  assert.strictEqual(new Set(names).size, names.length);
  const { keys } = loadWithGate('1');
  const initNames = table.init.map((n) => n.replace(/^\*/, ''));
  assert.deepStrictEqual(keys.slice(0, initNames.length), initNames);
});

test('the package entry exposes exactly the native export object', () => {
  const viaIndex = require('..');
  const buildDir = process.env.AUTOMATION_ADDON_BUILD_DIR || path.join(repo, 'build');
  const native = require(path.join(path.resolve(buildDir), 'lib', 'automation_addon.node'));
  assert.strictEqual(viaIndex, native);
});
