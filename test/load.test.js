'use strict';
// The add-on is loaded once per process, by the main thread: a worker thread
// gets a clear error (whether through the package or the binary itself) and
// the main thread's add-on keeps working.
const test = require('node:test');
const assert = require('node:assert');
const path = require('node:path');
const { Worker } = require('node:worker_threads');
const addon = require('..');

function inWorker(body) {
  return new Promise((resolve) => {
    const w = new Worker(body, { eval: true });
    w.once('message', resolve);
    w.once('error', (err) => resolve({ error: err.message }));
  });
}

test('worker threads cannot load the add-on; the main thread keeps it', async () => {
  const repo = JSON.stringify(path.join(__dirname, '..'));
  const viaPackage = await inWorker(`
    const { parentPort } = require('node:worker_threads');
    try { require(${repo}); parentPort.postMessage({ loaded: true }); }
    catch (e) { parentPort.postMessage({ error: e.message }); }`);
  assert.match(viaPackage.error, /load it from the main thread/);

  const buildDir = process.env.AUTOMATION_ADDON_BUILD_DIR || path.join(__dirname, '..', 'build');
  const binary = JSON.stringify(path.join(path.resolve(buildDir), 'lib', 'automation_addon.node'));
  const viaBinary = await inWorker(`
    const { parentPort } = require('node:worker_threads');
    try { require(${binary}); parentPort.postMessage({ loaded: true }); }
    catch (e) { parentPort.postMessage({ error: e.message }); }`);
  assert.match(viaBinary.error, /already loaded in this process/);

  assert.strictEqual(typeof addon.listApplications(), 'object');
});
