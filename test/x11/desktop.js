'use strict';
// The real desktop of the x11 suites. `npm run test:x11` starts one desktop
// for all suites (scripts/test-x11.sh) and names it in KORVO_DESKTOP; a suite
// run on its own starts its own with scripts/desktop-up.sh and stops exactly
// that one when the process ends. Where no desktop can start, `skip` holds the
// one-line reason and the suites are skipped with it.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync, execFileSync } = require('node:child_process');

const ROOT = path.join(__dirname, '..', '..');
const BUILD = process.env.AUTOMATION_ADDON_BUILD_DIR
  ? path.resolve(ROOT, process.env.AUTOMATION_ADDON_BUILD_DIR)
  : path.join(ROOT, 'build');
const PYTHON = '/usr/bin/python3';  // the Debian interpreter that has pyatspi and Xlib

function readEnv(dir) {
  const env = {};
  for (const line of fs.readFileSync(path.join(dir, 'env'), 'utf8').split('\n')) {
    const m = /^export (\w+)='(.*)'$/.exec(line);
    if (m) env[m[1]] = m[2];
  }
  return env;
}

function start() {
  if (process.env.KORVO_DESKTOP && fs.existsSync(path.join(process.env.KORVO_DESKTOP, 'env'))) {
    return { dir: process.env.KORVO_DESKTOP, owned: false };
  }
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'korvo-desktop-'));
  const r = spawnSync('bash', [path.join(ROOT, 'scripts', 'desktop-up.sh'), dir],
    { encoding: 'utf8', timeout: 90000 });
  if (r.status !== 0) {
    spawnSync('bash', [path.join(ROOT, 'scripts', 'desktop-down.sh'), dir], { timeout: 30000 });
    fs.rmSync(dir, { recursive: true, force: true });
    const why = (r.stderr || '').trim().split('\n').pop() || `desktop-up exited with ${r.status}`;
    return { skip: `x11 desktop could not start: ${why}` };
  }
  process.on('exit', () => {
    spawnSync('bash', [path.join(ROOT, 'scripts', 'desktop-down.sh'), dir], { timeout: 30000 });
    fs.rmSync(dir, { recursive: true, force: true });
  });
  return { dir, owned: true };
}

const desktop = start();
let addon = null;
if (!desktop.skip) {
  Object.assign(process.env, readEnv(desktop.dir));
  // The add-on picks its backend once, on first use: select x11 before loading it.
  process.env.KORVO_OZA_PLATFORM = 'x11';
  addon = require(ROOT);
}

const run = (cmd, args, opts = {}) =>
  execFileSync(cmd, args, { encoding: 'utf8', timeout: 20000, maxBuffer: 64 << 20, ...opts });

// Polls fn() until it answers something truthy, at most `ms`.
function waitFor(fn, ms = 5000, what = 'condition') {
  const end = Date.now() + ms;
  for (;;) {
    const v = fn();
    if (v) return v;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 20);
  }
}

// Pids of the desktop's applications, by program name.
function appPid(name) {
  const line = fs.readFileSync(path.join(desktop.dir, 'pids'), 'utf8')
    .split('\n').find((l) => l.split(' ')[2] === name);
  return line ? Number(line.split(' ')[0]) : 0;
}

function activeWindow() {
  const m = /# (0x[0-9a-f]+)/.exec(run('xprop', ['-root', '_NET_ACTIVE_WINDOW']));
  return m ? Number(m[1]) : 0;
}

// A window's geometry as xwininfo and xprop report it (the reference the
// backend's outer bounds are checked against).
function xGeometry(id) {
  const info = run('xwininfo', ['-id', String(id)]);
  const num = (label) => Number(new RegExp(`${label}:\\s+(-?\\d+)`).exec(info)[1]);
  const ext = /= (\d+), (\d+), (\d+), (\d+)/.exec(run('xprop', ['-id', String(id), '_NET_FRAME_EXTENTS']));
  const [l, r, t, b] = ext ? ext.slice(1).map(Number) : [0, 0, 0, 0];
  return {
    client: [num('Absolute upper-left X'), num('Absolute upper-left Y'), num('Width'), num('Height')],
    extents: [l, r, t, b],
  };
}

// libatspi aborts the helper (SIGTRAP, "Couldn't connect to accessibility
// bus") when its connection attempt loses to a loaded machine: that attempt
// is made again, twice at most; every other failure is the caller's.
function python(script, args, opts) {
  for (let attempt = 0; ; attempt++) {
    try {
      return run(PYTHON, [path.join(__dirname, 'tools', script), ...args], opts);
    } catch (err) {
      if (err.signal !== 'SIGTRAP' || attempt >= 2) throw err;
    }
  }
}

module.exports = {
  ROOT, BUILD, PYTHON, desktop, addon, skip: desktop.skip, run, waitFor, appPid, activeWindow,
  xGeometry, python,
};
