'use strict';
// Which desktop the add-on drives: the simulated one only when named, else the
// session's own; and when there is nothing to drive, loading fails with what
// was asked, what is missing and what to do. Each case loads the add-on in a
// child process of its own, since the choice is made once per process.
const test = require('node:test');
const assert = require('node:assert');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const platform = require('../platform');

const ROOT = path.join(__dirname, '..');

// Loads `module` in a child with `env` (on top of a copy of ours without the
// desktop variables) and reports whether it loaded, the error message and how
// long the require took inside the child.
function load(env, module = ROOT) {
  const childEnv = { ...process.env };
  for (const k of ['KORVO_OZA_PLATFORM', 'DISPLAY', 'WAYLAND_DISPLAY']) delete childEnv[k];
  Object.assign(childEnv, env);
  const script = `
    const t0 = process.hrtime.bigint();
    let out;
    try {
      const m = require(${JSON.stringify(module)});
      out = { loaded: true, keys: Object.keys(m).length,
               desktop: typeof m.describe === 'function' ? m.describe() : undefined };
    } catch (e) {
      out = { loaded: false, message: e.message };
    }
    out.ms = Number(process.hrtime.bigint() - t0) / 1e6;
    process.stdout.write(JSON.stringify(out));`;
  const r = spawnSync(process.execPath, ['-e', script], { env: childEnv, encoding: 'utf8', timeout: 60000 });
  assert.strictEqual(r.status, 0, `child failed: ${r.stderr}`);
  return JSON.parse(r.stdout);
}

const USE_SIM = 'or set KORVO_OZA_PLATFORM=sim for the simulated desktop';

test.describe('choosing the desktop', () => {
  const refusals = [
    {
      what: 'x11 named without DISPLAY',
      env: { KORVO_OZA_PLATFORM: 'x11' },
      message: 'automation-addon: KORVO_OZA_PLATFORM=x11 names the X display, but there is none to drive: ' +
        `DISPLAY is not set. Start an X session, ${USE_SIM}`,
    },
    {
      what: 'x11 named with a DISPLAY no server answers',
      env: { KORVO_OZA_PLATFORM: 'x11', DISPLAY: ':987' },
      message: 'automation-addon: KORVO_OZA_PLATFORM=x11 names the X display, but there is none to drive: ' +
        'the X server named by DISPLAY=:987 does not answer. Start the X server (or point DISPLAY at one ' +
        `that runs), ${USE_SIM}`,
    },
    {
      what: 'a misspelt name',
      env: { KORVO_OZA_PLATFORM: 'x1l', DISPLAY: ':987' },
      message: 'automation-addon: KORVO_OZA_PLATFORM="x1l" names no desktop backend. Known backends: sim (the ' +
        'simulated desktop), x11 (the X display named by DISPLAY). Set one of them, or unset the variable to ' +
        "drive the session's own desktop",
    },
    {
      what: 'nothing named and no display',
      env: {},
      message: `automation-addon: no desktop to drive: DISPLAY is not set. Start an X session, ${USE_SIM}`,
    },
    {
      what: 'nothing named and a display that does not answer',
      env: { DISPLAY: ':987' },
      message: 'automation-addon: no desktop to drive: the X server named by DISPLAY=:987 does not answer. ' +
        `Start the X server (or point DISPLAY at one that runs), ${USE_SIM}`,
    },
    {
      what: 'a Wayland session without XWayland',
      env: { WAYLAND_DISPLAY: 'wayland-7' },
      message: 'automation-addon: no desktop to drive: DISPLAY is not set. This is a Wayland session ' +
        '(WAYLAND_DISPLAY=wayland-7) without XWayland, and the add-on drives X11 displays only: start ' +
        `XWayland (or an X session) and set DISPLAY to it, ${USE_SIM}`,
    },
  ];
  for (const r of refusals) {
    test(`refuses to load: ${r.what}`, () => {
      const addon = load(r.env);
      assert.deepStrictEqual({ loaded: addon.loaded, message: addon.message }, { loaded: false, message: r.message });
      // Deciding costs one connection attempt at most, never a wait.
      assert.ok(addon.ms < 2000, `the refusal took ${addon.ms} ms`);
      // The desktop description refuses with the same words.
      const described = load(r.env, path.join(ROOT, 'platform.js'));
      assert.deepStrictEqual({ loaded: described.loaded, message: described.message },
        { loaded: false, message: r.message });
    });
  }

  test('the simulated desktop loads when named, with every facility available', () => {
    const addon = load({ KORVO_OZA_PLATFORM: 'sim', DISPLAY: ':987' });
    assert.strictEqual(addon.loaded, true, addon.message);
    const info = load({ KORVO_OZA_PLATFORM: 'sim' }, path.join(ROOT, 'platform.js'));
    assert.deepStrictEqual(info.desktop, {
      backend: 'sim',
      facts: { desktop: 'simulated', os_version: '14.5' },
      capabilities: Object.fromEntries(platform.FACILITIES.map((f) => [f, { status: 'available' }])),
    });
  });

  test('the table lists every facility once and isAvailable checks names', () => {
    const d = platform.describe();  // this process runs on the sim (npm test names it)
    assert.strictEqual(d.backend, 'sim');
    assert.deepStrictEqual(Object.keys(d.capabilities), [...platform.FACILITIES]);
    assert.strictEqual(platform.isAvailable('pasteboard'), true);
    assert.throws(() => platform.isAvailable('clipboard'), { name: 'TypeError', message: /unknown facility "clipboard"/ });
  });
});
