'use strict';
// The ES module entries name exactly what their CommonJS modules export, and
// hand out the same objects (one loaded add-on).
const test = require('node:test');
const assert = require('node:assert');
const path = require('node:path');
const { pathToFileURL } = require('node:url');
const table = require('./fixtures/export-table.json');

const repo = path.join(__dirname, '..');
const esm = (file) => import(pathToFileURL(path.join(repo, file)).href);
const named = (ns) => Object.keys(ns).filter((k) => k !== 'default').sort();

test('index.mjs: every export of the table, the same functions as require()', async () => {
  const ns = await esm('index.mjs');
  const all = [...table.init, ...table.backgroundInput, ...table.ghostCursor, ...table.pip].map((n) => n.replace(/^\*/, ''));
  assert.deepStrictEqual(named(ns), [...all].sort());
  const addon = require('..');
  assert.strictEqual(ns.default, addon);
  for (const name of Object.keys(addon)) assert.strictEqual(ns[name], addon[name], name);
  // Live-gated names exist as exports, undefined without the gate.
  assert.strictEqual(ns.projectFrameContentForTest, addon.projectFrameContentForTest);
});

test('sim.mjs and platform.mjs mirror their CommonJS modules', async () => {
  for (const [file, cjs] of [['sim.mjs', require('../sim')], ['platform.mjs', require('../platform')]]) {
    const ns = await esm(file);
    assert.deepStrictEqual(named(ns), Object.keys(cjs).sort(), file);
    assert.strictEqual(ns.default, cjs, file);
  }
});
