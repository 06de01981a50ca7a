'use strict';
// Every export called with numbers no integer type holds (1e300, -2^63 - a
// bit, 2^64, ...) in each numeric place. A conversion to an integer that is
// not range-checked first is undefined behaviour: the sanitizer build
// (float-cast-overflow) stops the process on it; the plain build must at
// least answer every call with a value or a TypeError.
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('node:child_process');
const path = require('node:path');

const repo = path.join(__dirname, '..');

test('out-of-range numbers are refused before any integer conversion', () => {
  const script = `
    const sim = require(${JSON.stringify(path.join(repo, 'sim'))});
    const addon = require(${JSON.stringify(repo)});
    sim.reset();
    sim.loadSampleScene();
    sim.setTimeScale(50);
    // Calls that wait on the user or a long timer with sane arguments.
    const skip = new Set(['cancelPendingInputHolds', 'pipStartVerifiedAsync', 'pipStartVerifiedSync']);
    const huge = [1e300, -1e300, 2 ** 63, -(2 ** 63) - 4096, 2 ** 64, 2 ** 53 + 2, 4294967296.5, -2147483649];
    // Argument shapes the exports take; each numeric place gets each value.
    const shapes = [
      [1, 1, 1, 1, 1, 1],
      [501, 'com.korvo.TextPad', 'a', 1, null, 101],
      [501, 101, 1, 1, 'left', ''],
      [10, 10, 501, 101, true, null, 'agent'],
      ['a', 1, 1, 1, 1],
    ];
    const unexpected = [];
    const pending = [];
    const call = (name, args) => {
      try {
        const r = addon[name](...args);
        if (r && typeof r.then === 'function') pending.push(r.catch((e) => unexpected.push([name, String(e)])));
      } catch (e) {
        if (!(e instanceof TypeError) && !(e instanceof RangeError)) unexpected.push([name, String(e)]);
      }
    };
    let calls = 0;
    for (const name of Object.keys(addon)) {
      if (skip.has(name) || typeof addon[name] !== 'function') continue;
      for (const shape of shapes) {
        for (let i = 0; i < shape.length; i++) {
          if (typeof shape[i] !== 'number') continue;
          for (const h of huge) {
            const args = shape.slice();
            args[i] = h;
            call(name, args);
            calls++;
          }
        }
      }
    }
    addon.ghostSetEnabled(true);
    for (const h of huge) {
      call('ghostBeginAction', [h]);
      call('pipEvaluateDoubleClickActivation', [h, 0, 0, 0, 0]);
    }
    const settle = new Promise((r) => setTimeout(r, 8000).unref());
    Promise.race([Promise.allSettled(pending), settle]).then(() => {
      process.stdout.write(JSON.stringify({ calls, unexpected }));
      process.exit(0);
    });
  `;
  const child = spawnSync(process.execPath, ['-e', script], {
    timeout: 120000,
    encoding: 'utf8',
    env: { ...process.env, KORVO_OZA_LIVE_NATIVE: '1', KORVO_OZA_PLATFORM: 'sim' },
  });
  assert.strictEqual(child.status, 0, `the host stopped: ${child.signal || ''}\n${child.stderr.slice(-3000)}`);
  const { calls, unexpected } = JSON.parse(child.stdout);
  assert.ok(calls > 1000, `${calls} calls`);
  assert.deepStrictEqual(unexpected, []);
});
