'use strict';
// The add-on never keeps the host alive on its own: once the run-loop pump,
// the main queue and a pending focus-guard timer exist, a host with nothing
// left to do still exits by itself, and work in flight still settles first.
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('node:child_process');
const path = require('node:path');

const repo = path.join(__dirname, '..');

function runChild(body) {
  const script = `
    const sim = require(${JSON.stringify(path.join(repo, 'sim'))});
    const addon = require(${JSON.stringify(repo)});
    sim.reset();
    sim.loadSampleScene();
    ${body}
  `;
  const started = Date.now();
  const child = spawnSync(process.execPath, ['-e', script], { timeout: 20000, encoding: 'utf8' });
  return { ...child, ms: Date.now() - started };
}

test('a host exits by itself after the pump and a focus guard have started', () => {
  // Pressing a background application's element arms the focus guard, which
  // starts the pump and a 350 ms restoration timer on the main queue.
  const child = runChild(`
    const flat = (es, o = []) => { for (const e of es) { o.push(e); if (e.children) flat(e.children, o); } return o; };
    addon.captureAppAsync(502, 'com.korvo.Settings').then((snap) => {
      const box = flat(snap.elements).find((e) => e.role === 'AXCheckBox');
      const outcome = addon.performAction(box.ref, 'AXPress');
      process.stdout.write(JSON.stringify({ ok: outcome.ok }));
    });
  `);
  assert.strictEqual(child.error, undefined, 'the host did not exit by itself');
  assert.strictEqual(child.status, 0, child.stderr);
  assert.deepStrictEqual(JSON.parse(child.stdout), { ok: true });
});

test('work in flight keeps the host alive until its promise settles', () => {
  // A slow application: the capture takes real time, and the host must not
  // exit with the promise still pending.
  const child = runChild(`
    sim.setElement('app:501', { delayMs: 40 });
    addon.captureAppAsync(501, 'com.korvo.TextPad').then((snap) => {
      process.stdout.write(JSON.stringify({ settled: true, got: snap !== null }));
    });
  `);
  assert.strictEqual(child.status, 0, child.stderr);
  assert.deepStrictEqual(JSON.parse(child.stdout), { settled: true, got: true });
});

test('a background open whose completion never comes settles after its bound and lets the host exit', () => {
  const child = runChild(`
    sim.injectFault({ op: 'OpenApplication', error: 'no_answer' });
    const started = sim.clockNow();
    addon.openApplicationInBackgroundAsync('com.korvo.Calc', null).then((v) => {
      const waited = sim.clockNow() - started;
      const logged = sim.logLines().filter((l) => l.includes('background-app-open'));
      process.stdout.write(JSON.stringify({ v, waited: waited >= 60000, logged }));
    });
    // The bound runs on the platform clock: move it past 60 s.
    setTimeout(() => sim.advanceClock(61000), 20);
  `);
  assert.strictEqual(child.error, undefined, 'the host did not exit by itself');
  assert.strictEqual(child.status, 0, child.stderr);
  assert.deepStrictEqual(JSON.parse(child.stdout), {
    v: false, waited: true, logged: ['[Vantor][background-app-open] completion_timeout_ms=60000'],
  });
});
