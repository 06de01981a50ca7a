'use strict';
// A host with a mirror panel exits by itself: the panel's pump lease, display
// link, capture queue and screenshot threads never keep it alive, whether the
// panel was stopped or is still running.
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
    const out = (v) => process.stdout.write(JSON.stringify(v));
    ${body}
  `;
  const child = spawnSync(process.execPath, ['-e', script], { timeout: 20000, encoding: 'utf8' });
  assert.strictEqual(child.error, undefined, 'the host did not exit by itself');
  assert.strictEqual(child.status, 0, child.stderr);
  return JSON.parse(child.stdout);
}

const SHOW = `
  addon.pipStartVerifiedAsync(101, 501, 'com.korvo.TextPad').then(async (ok) => {
    await sim.waitFor(() => sim.panels().some((p) => p.orderedIn), { timeoutMs: 4000 });
    const shown = sim.panels().some((p) => p.orderedIn);
`;

test('a stopped panel gives its lease back and the host exits', () => {
  const r = runChild(`${SHOW}
    addon.pipStop();
    out({ ok, shown, running: addon.pipIsRunning(), panels: sim.panels().length });
  });`);
  assert.deepStrictEqual(r, { ok: true, shown: true, running: false, panels: 0 });
});

test('a running panel does not keep the host alive', () => {
  const r = runChild(`${SHOW}
    out({ ok, shown, running: addon.pipIsRunning() });
  });`);
  assert.deepStrictEqual(r, { ok: true, shown: true, running: true });
});
