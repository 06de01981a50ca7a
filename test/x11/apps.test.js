'use strict';
// Applications on a real X desktop: listing by desktop-file id, activation
// through the window manager, background open and verified termination.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { addon, skip, waitFor, appPid, activeWindow } = require('./desktop');

const alive = (pid) => {
  try {
    process.kill(pid, 0);
    return true;
  } catch {
    return false;
  }
};

test.describe('x11 applications', { skip }, () => {
  const editor = appPid('mousepad');
  const factory = appPid('gtk3-widget-factory');

  test('listApplications and applicationInfo name both applications by their desktop-file ids', () => {
    const apps = addon.listApplications();
    const byPid = new Map(apps.map((a) => [a.pid, a]));
    assert.deepStrictEqual({ ...byPid.get(editor), active: undefined },
      { pid: editor, name: 'Mousepad', bundle_id: 'org.xfce.mousepad', active: undefined });
    assert.strictEqual(byPid.get(factory).bundle_id, 'gtk3-widget-factory');
    assert.strictEqual(apps.filter((a) => a.active).length, 1, 'exactly one application is active');
    assert.deepStrictEqual(addon.applicationInfo(factory), byPid.get(factory));
    // A process without windows is no application.
    assert.strictEqual(addon.applicationInfo(process.pid), null);
  });

  test('activateApplication and activateWindow bring the window to the front and report as they should', () => {
    const editorWindow = addon.listWindows(editor)[0].window_id;
    const factoryWindow = addon.listWindows(factory)[0].window_id;
    assert.strictEqual(addon.activateApplication(editor), true);
    waitFor(() => activeWindow() === editorWindow, 5000, 'the editor to be active');
    assert.strictEqual(addon.applicationInfo(editor).active, true);
    // activateWindow confirms itself: it answers true only once the window is focused.
    assert.strictEqual(addon.activateWindow(factory, 'GTK3-WIDGET-FACTORY', factoryWindow), true);
    assert.strictEqual(activeWindow(), factoryWindow);
    assert.strictEqual(addon.listApplications().find((a) => a.active).pid, factory);
    // Wrong bundle id or a window of another application: refused, nothing moves.
    assert.strictEqual(addon.activateWindow(factory, 'org.xfce.mousepad', factoryWindow), false);
    assert.strictEqual(addon.activateWindow(factory, 'gtk3-widget-factory', editorWindow), false);
    assert.strictEqual(activeWindow(), factoryWindow);
    addon.preventActivation();
    try {
      assert.strictEqual(addon.activateApplication(editor), false);
    } finally {
      addon.reenableActivation();
    }
  });

  test('an application opened in the background reports its pid once, keeps focus where it was, and terminates only by its id', async (t) => {
    // A desktop entry of its own, found through XDG_DATA_HOME.
    const data = fs.mkdtempSync(path.join(os.tmpdir(), 'korvo-apps-'));
    fs.mkdirSync(path.join(data, 'applications'));
    fs.writeFileSync(path.join(data, 'applications', 'korvo-probe.desktop'), [
      '[Desktop Entry]', 'Type=Application', 'Name=Korvo Probe', 'StartupWMClass=Xmessage',
      'Exec=xmessage -title "Korvo Probe" %U "probe window"', '',
    ].join('\n'));
    const saved = process.env.XDG_DATA_HOME;
    process.env.XDG_DATA_HOME = data;
    let pid = 0;
    t.after(() => {
      process.env.XDG_DATA_HOME = saved;
      if (pid > 0 && alive(pid)) process.kill(pid, 'SIGKILL');
      fs.rmSync(data, { recursive: true, force: true });
    });
    const before = activeWindow();
    pid = await addon.openApplicationInBackgroundAsync('korvo-probe', null);
    assert.ok(Number.isInteger(pid) && pid > 0, `a pid, got ${pid}`);
    const info = addon.applicationInfo(pid);
    assert.deepStrictEqual({ bundle_id: info.bundle_id, name: info.name }, { bundle_id: 'korvo-probe', name: 'Korvo Probe' });
    waitFor(() => activeWindow() === before, 5000, 'focus to return to the previous window');
    // Launched with /dev/null on 0-2 (not the host's descriptors, which may
    // be closed or pipes), none other of the host's, in a session of its own.
    const fds = fs.readdirSync(`/proc/${pid}/fd`).map(Number).sort((a, b) => a - b);
    const target = (fd) => { try { return fs.readlinkSync(`/proc/${pid}/fd/${fd}`); } catch { return 'closed'; } };
    assert.deepStrictEqual([0, 1, 2].map(target), ['/dev/null', '/dev/null', '/dev/null']);
    const hostTargets = new Set(fs.readdirSync('/proc/self/fd').map((fd) => {
      try { return fs.readlinkSync(`/proc/self/fd/${fd}`); } catch { return ''; }
    }));
    for (const fd of fds.filter((n) => n > 2)) {
      assert.ok(!hostTargets.has(target(fd)), `fd ${fd} (${target(fd)}) is the host's`);
    }
    const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
    assert.strictEqual(Number(stat[3]), pid, 'the application leads its own session');
    const env = fs.readFileSync(`/proc/${pid}/environ`, 'utf8').split('\0');
    assert.ok(env.includes(`DISPLAY=${process.env.DISPLAY}`), 'the desktop\'s display');
    // Opening again returns the running instance.
    assert.strictEqual(await addon.openApplicationInBackgroundAsync('korvo-probe', null), pid);

    assert.strictEqual(addon.terminateApplicationVerified(pid, 'org.xfce.mousepad'), false);
    assert.ok(alive(pid));
    assert.strictEqual(addon.terminateApplicationVerified(pid, 'KORVO-Probe'), true);
    waitFor(() => !alive(pid) || /^Z/.test(fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1]),
      5000, 'the process to end');
    assert.strictEqual(await addon.openApplicationInBackgroundAsync('no-such-app-here', null), false);
  });

  test('the application icon comes from the icon theme as a 32-pixel PNG', async () => {
    const png = await addon.applicationIconPngAsync(editor);
    assert.strictEqual(typeof png, 'string');
    const stats = addon.inspectPngContent(Buffer.from(png, 'base64'));
    assert.deepStrictEqual([stats.width, stats.height], [32, 32]);
    assert.ok(stats.visiblePixelCount > 0);
  });
});
