'use strict';
// Mouse input to a background window on a real desktop: a GTK3 check box
// under another window pressed through its accessible action, a terminal
// clicked through core events, and an application that offers neither path,
// which must hear of no click at all. The user's pointer and active window
// stay where they were throughout.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawn } = require('node:child_process');
const { addon, skip, run, waitFor, appPid, activeWindow, python } = require('./desktop');

const TOOLS = path.join(__dirname, 'tools');
const onPath = (prog) => (process.env.PATH || '').split(':').some((d) => fs.existsSync(path.join(d, prog)));
const noXterm = onPath('xterm') ? false : 'xterm not installed (bash scripts/setup.sh installs it)';

const flatten = (els, out = []) => {
  for (const e of els) {
    out.push(e);
    flatten(e.children || [], out);
  }
  return out;
};

// The window list's entry of a window: its outer bounds are what background
// input checks the host's bounds against.
function listed(windowId) {
  const p = addon.screenCaptureProbeWindows().find((w) => w.windowId === windowId);
  return p && [p.bounds.x, p.bounds.y, p.bounds.width, p.bounds.height];
}

test.describe('x11 mouse to a background window', { skip }, () => {
  const editor = appPid('mousepad');
  const factory = appPid('gtk3-widget-factory');
  const started = [];
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'korvo-window-input-'));
  const savedDataHome = process.env.XDG_DATA_HOME;
  test.after(() => {
    started.forEach((c) => c.exitCode === null && c.signalCode === null && c.kill('SIGKILL'));
    process.env.XDG_DATA_HOME = savedDataHome;
    fs.rmSync(tmp, { recursive: true, force: true });
  });
  function launch(cmd, args, env = {}) {
    const child = spawn(cmd, args, { env: { ...process.env, ...env }, stdio: ['ignore', 'pipe', 'ignore'] });
    child.output = '';
    child.stdout.on('data', (d) => { child.output += d; });
    started.push(child);
    return child;
  }
  // Resolves once the child printed `text` (the event loop must run for its
  // output to arrive, so this waits asynchronously), at most `ms`.
  function printed(child, text, ms) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`timed out waiting for "${text}"`)), ms);
      const check = () => {
        if (!child.output.includes(text)) return;
        clearTimeout(timer);
        child.stdout.off('data', check);
        resolve();
      };
      child.stdout.on('data', check);
      check();
    });
  }
  // Makes `pid`'s window the user's: active, and the target's window stays behind.
  function userWorksIn(pid) {
    assert.ok(addon.activateApplication(pid));
    const [w] = addon.listWindows(pid);
    waitFor(() => activeWindow() === w.window_id, 5000, 'the user\'s window to be active');
    return w.window_id;
  }

  test('a click on a check box under another window flips it through its action; nothing is activated, the pointer stays', async () => {
    const info = addon.applicationInfo(factory);
    const snap = waitFor(() => {
      const s = addon.captureApp(factory);
      return s && flatten(s.elements).length > 100 ? s : null;
    }, 20000, 'a capture of the factory');
    const box = flatten(snap.elements).find((e) => e.role === 'AXCheckBox' && e.title === 'checkbutton' &&
      e.enabled && e.bounds[2] > 0);
    assert.ok(box, 'an enabled check box');
    addon.releaseCaptureEpoch(factory, snap.capture_epoch);
    const [cx, cy] = [box.bounds[0] + (box.bounds[2] >> 1), box.bounds[1] + (box.bounds[3] >> 1)];
    const checked = () => JSON.parse(python('atspi.py', ['checked', String(factory), String(cx), String(cy)]));

    // The editor lies over the check box and is the user's window.
    const [ew] = addon.listWindows(editor);
    run('xdotool', ['windowmove', String(ew.window_id), String(cx - 100), String(cy - 100)]);
    const userWindow = userWorksIn(editor);
    const [fw] = addon.listWindows(factory);
    const bounds = listed(fw.window_id);
    const pointer = addon.cursorPoint();
    const before = checked();
    for (const expected of [!before, before]) {
      const ok = await addon.clickToWindowAsync(factory, info.bundle_id, fw.window_id, bounds, cx, cy, 'left', 1, '', false);
      assert.strictEqual(ok, true);
      waitFor(() => checked() === expected, 5000, `the check box to be ${expected ? '' : 'un'}checked`);
      assert.strictEqual(activeWindow(), userWindow);
      assert.deepStrictEqual(addon.cursorPoint(), pointer);
    }

    // A point where nothing can be pressed (the window's lower left corner):
    // the press is not sent anywhere, and it says so.
    const corner = [bounds[0] + 3, bounds[1] + bounds[3] - 3];
    const down = await addon.mouseDownToWindowDetailedAsync(factory, info.bundle_id, fw.window_id, bounds, ...corner, 'left', false);
    assert.deepStrictEqual(down, { ok: false, delivery_state: 'definitely_unsent', reason: 'action_failed' });
    // GTK takes no core wheel events: a scroll has nothing to reach either.
    assert.strictEqual(await addon.scrollToWindowAsync(factory, info.bundle_id, fw.window_id, bounds, cx, cy, 3, 'down', false), false);
    // Identity comes first: a wrong bundle id presses nothing.
    assert.strictEqual(await addon.clickToWindowAsync(factory, 'org.example.other', fw.window_id, bounds, cx, cy, 'left', 1, '', false), false);
    assert.strictEqual(checked(), before);
    assert.strictEqual(activeWindow(), userWindow);
  });

  test('a middle click on a terminal\'s window pastes through core events, without moving the pointer', { skip: noXterm }, async () => {
    const text = `korvo-primary-${process.pid}`;
    const owner = launch(path.join(TOOLS, 'selection_owner.py'), [text]);
    await printed(owner, 'ready', 10000);
    const record = path.join(tmp, 'tty.txt');
    // xterm discards synthetic events unless told to take them.
    const term = launch('xterm', ['-xrm', 'XTerm*allowSendEvents: true', '-geometry', '40x8+40+40',
      '-title', `korvo-xterm-${process.pid}`, '-e', path.join(TOOLS, 'tty_record.py'), record]);
    const w = waitFor(() => (addon.listWindows(term.pid) || [])[0], 15000, 'the terminal window');
    waitFor(() => fs.existsSync(record), 10000, 'the recorder to start');
    const info = addon.applicationInfo(term.pid);
    assert.strictEqual(info.bundle_id, 'debian-xterm');
    const userWindow = userWorksIn(editor);
    const bounds = listed(w.window_id);
    const pointer = addon.cursorPoint();
    const [x, y] = [bounds[0] + (bounds[2] >> 1), bounds[1] + (bounds[3] >> 1)];
    assert.strictEqual(await addon.clickToWindowAsync(term.pid, info.bundle_id, w.window_id, bounds, x, y, 'middle', 1, '', false), true);
    waitFor(() => fs.readFileSync(record, 'utf8') === text, 5000, 'the paste to reach the terminal\'s program');
    assert.deepStrictEqual(addon.cursorPoint(), pointer);
    assert.strictEqual(activeWindow(), userWindow);
  });

  test('an application with neither accessible actions nor core pointer events hears of no click, and the call says so', async () => {
    // Its own desktop entry, so the identity checks pass and only delivery is in question.
    fs.mkdirSync(path.join(tmp, 'applications'), { recursive: true });
    fs.writeFileSync(path.join(tmp, 'applications', 'korvo-toggle.desktop'), [
      '[Desktop Entry]', 'Type=Application', 'Name=Korvo Toggle', 'StartupWMClass=toggle_app.py',
      `Exec=${path.join(TOOLS, 'toggle_app.py')}`, '',
    ].join('\n'));
    process.env.XDG_DATA_HOME = tmp;
    const app = launch(path.join(TOOLS, 'toggle_app.py'), [`korvo-toggle-${process.pid}`], { NO_AT_BRIDGE: '1' });
    const w = waitFor(() => (addon.listWindows(app.pid) || [])[0], 15000, 'the toggle window');
    const info = waitFor(() => addon.applicationInfo(app.pid), 5000, 'the toggle application');
    assert.strictEqual(info.bundle_id, 'korvo-toggle');
    const userWindow = userWorksIn(editor);
    const bounds = listed(w.window_id);
    const [x, y] = [bounds[0] + (bounds[2] >> 1), bounds[1] + (bounds[3] >> 1)];
    // The window itself is a fine target: a session opens and closes on it.
    const begin = await addon.beginBackgroundWindowInputDetailedAsync(app.pid, info.bundle_id, w.window_id, bounds, false);
    assert.strictEqual(begin.ok, true, JSON.stringify(begin));
    assert.strictEqual(await addon.endBackgroundWindowInputAsync(app.pid, info.bundle_id, w.window_id, bounds, false), true);

    assert.strictEqual(await addon.clickToWindowAsync(app.pid, info.bundle_id, w.window_id, bounds, x, y, 'left', 1, '', false), false);
    assert.deepStrictEqual(
      await addon.mouseDownToWindowDetailedAsync(app.pid, info.bundle_id, w.window_id, bounds, x, y, 'left', false),
      { ok: false, delivery_state: 'definitely_unsent', reason: 'action_failed' });
    assert.strictEqual(await addon.moveToWindowAsync(app.pid, info.bundle_id, w.window_id, bounds, x, y, false), false);
    assert.strictEqual(app.output, '', 'the check box never toggled');
    assert.strictEqual(activeWindow(), userWindow);
  });
});
