'use strict';
// Applications: listing, one application's record, icons, launching in the
// background and verified termination.
const test = require('node:test');
const assert = require('node:assert');
const addon = require('..');
const sim = require('../sim');

const CALC = { bundleId: 'com.korvo.Calc', name: 'Calc', path: '/Applications/Calc.app' };

function installCalc(openResult) {
  sim.install({ ...CALC, app: { windows: [{ number: 601, title: 'Calc', bounds: [900, 120, 240, 320] }] }, openResult });
}

// Keeps the loop turning while a platform completion may still arrive.
async function settle(promise) {
  const keepAlive = setInterval(() => {}, 50);
  try {
    return await promise;
  } finally {
    clearInterval(keepAlive);
  }
}

const openLogLines = () => sim.logLines().filter((l) => l.includes('[Vantor][background-app-open]'));

test.describe('listing and records', () => {
  test.beforeEach(() => {
    sim.reset();
    sim.loadSampleScene();
  });

  test('regular, live applications in workspace order, each once, the frontmost active', () => {
    sim.launchApp({ pid: 920, bundleId: 'com.test.Agent', name: 'Agent', policy: 'accessory' });
    sim.launchApp({ pid: 921, bundleId: 'com.test.Zombie', name: 'Zombie', terminated: true });
    sim.launchApp({ pid: 922, bundleId: 'com.test.Other', name: 'Other', otherUser: true });
    const apps = addon.listApplications();
    assert.deepStrictEqual(apps.map((a) => a.pid), [501, 502, 503, 922]);
    assert.deepStrictEqual(apps[0], { pid: 501, name: 'TextPad', bundle_id: 'com.korvo.TextPad', active: true });
    assert.ok(apps.slice(1).every((a) => a.active === false));
    sim.setFrontmost(502);
    assert.deepStrictEqual(addon.listApplications().filter((a) => a.active).map((a) => a.pid), [502]);
  });

  test('regular applications missing from the workspace list are found through their visible windows', () => {
    const win = (number, x) => ({ number, title: `W${number}`, bounds: [x, 500, 200, 150] });
    // Unlisted but regular with an on-screen window: appended after the workspace's list.
    sim.launchApp({ pid: 930, bundleId: 'com.test.Hidden', name: 'Hidden', unlisted: true, windows: [win(9301, 40)] });
    // Unlisted ones that must stay out: accessory, terminated, only off-screen windows.
    sim.launchApp({ pid: 931, bundleId: 'com.test.Helper', unlisted: true, policy: 'accessory', windows: [win(9311, 300)] });
    sim.launchApp({ pid: 932, bundleId: 'com.test.Gone', unlisted: true, terminated: true, windows: [win(9321, 600)] });
    sim.launchApp({ pid: 933, bundleId: 'com.test.Offscreen', unlisted: true,
      windows: [{ ...win(9331, 900), onScreen: false }] });
    const pids = addon.listApplications().map((a) => a.pid);
    assert.deepStrictEqual(pids, [501, 502, 503, 930]);
    assert.deepStrictEqual(addon.listApplications()[3], { pid: 930, name: 'Hidden', bundle_id: 'com.test.Hidden', active: false });
  });

  test('applicationInfo answers the record, null for no application, and checks its argument', () => {
    assert.deepStrictEqual(addon.applicationInfo(502), { pid: 502, bundle_id: 'com.korvo.Settings', name: 'Settings', active: false });
    sim.launchApp({ pid: 923, name: 'Nameless' });
    assert.deepStrictEqual(addon.applicationInfo(923), { pid: 923, bundle_id: null, name: 'Nameless', active: false });
    for (const pid of [0, -5, 99999]) assert.strictEqual(addon.applicationInfo(pid), null);
    for (const args of [[], ['501'], [null], [{}]]) {
      assert.throws(() => addon.applicationInfo(...args), { name: 'TypeError', message: 'applicationInfo(pid) expects a pid' });
    }
  });

  test('applicationIconPngAsync: a 32 x 32 PNG as Base64, null without an application', async () => {
    const icon = await addon.applicationIconPngAsync(501);
    assert.strictEqual(typeof icon, 'string');
    const stats = addon.inspectPngContent(Buffer.from(icon, 'base64'));
    assert.strictEqual(stats.width, 32);
    assert.strictEqual(stats.height, 32);
    assert.ok(stats.visiblePixelCount > 0);
    assert.strictEqual(await addon.applicationIconPngAsync(99999), null);
    sim.injectFault({ op: 'IconForFile', error: -1 });
    assert.strictEqual(await addon.applicationIconPngAsync(501), null);
    assert.throws(() => addon.applicationIconPngAsync(), { name: 'TypeError', message: 'applicationIconPngAsync(pid) expects a pid' });
    assert.throws(() => addon.applicationIconPngAsync('501'), { name: 'TypeError' });
  });
});

test.describe('opening in the background', () => {
  test.beforeEach(() => {
    sim.reset();
    sim.loadSampleScene();
    sim.clearLog();
  });

  test('nothing to open answers false; wrong types throw', async () => {
    for (const args of [[], [null, null], ['', ''], [undefined, ''], ['x'.repeat(4097), 'Calc'], ['com.none', 'y'.repeat(4097)]]) {
      assert.strictEqual(addon.openApplicationInBackground(...args), false);
      assert.strictEqual(await addon.openApplicationInBackgroundAsync(...args), false);
    }
    assert.ok(!sim.logLines().some((l) => l.startsWith('[sim] open')), 'the workspace was not asked');
    assert.strictEqual(addon.openApplicationInBackground('com.nobody.Here', 'Nobody'), false);
    for (const bad of [[42, null], [null, 7], [{}, 'Calc'], ['com.korvo.Calc', true]]) {
      assert.throws(() => addon.openApplicationInBackground(...bad), {
        name: 'TypeError', message: 'openApplicationInBackground(bundleId, name) expects strings or null' });
      assert.throws(() => addon.openApplicationInBackgroundAsync(...bad), {
        name: 'TypeError', message: 'openApplicationInBackgroundAsync(bundleId, name) expects strings or null' });
    }
  });

  test('the asynchronous form resolves the new pid without changing the frontmost application', async () => {
    installCalc();
    const pid = await settle(addon.openApplicationInBackgroundAsync('COM.KORVO.CALC', null));
    assert.strictEqual(typeof pid, 'number');
    assert.strictEqual(addon.applicationInfo(pid).bundle_id, 'com.korvo.Calc');
    assert.strictEqual(sim.frontmost(), 501);
    // The running instance is answered again.
    assert.strictEqual(await settle(addon.openApplicationInBackgroundAsync(null, 'Calc')), pid);
  });

  test('an unknown bundle id with a known name opens by name', async () => {
    installCalc();
    const pid = await settle(addon.openApplicationInBackgroundAsync('com.korvo.Missing', 'Calc'));
    assert.strictEqual(addon.applicationInfo(pid).name, 'Calc');
  });

  test('a failed or late completion: false with the log line, or the pid when it comes', async () => {
    installCalc({ error: -600 });
    assert.strictEqual(await settle(addon.openApplicationInBackgroundAsync('com.korvo.Calc', null)), false);
    assert.deepStrictEqual(openLogLines(), ['[Vantor][background-app-open] completion_error=-600']);

    sim.clearLog();
    assert.strictEqual(addon.openApplicationInBackground('com.korvo.Calc', null), true);
    await sim.waitFor(() => openLogLines().length > 0);
    assert.deepStrictEqual(openLogLines(), ['[Vantor][background-app-open] completion_error=-600']);

    installCalc({ delayMs: 300 });
    let settled = false;
    const late = addon.openApplicationInBackgroundAsync('com.korvo.Calc', null).then((v) => { settled = true; return v; });
    await new Promise((r) => setImmediate(r));
    assert.strictEqual(settled, false);
    const pid = await settle(late);
    assert.ok(pid > 0 && addon.applicationInfo(pid));
  });
});

test.describe('verified termination', () => {
  test.beforeEach(() => {
    sim.reset();
    sim.loadSampleScene();
  });

  test('ends the expected application, its windows and tree; bundle ids compare ignoring case', () => {
    assert.strictEqual(addon.terminateApplicationVerified(502, 'COM.korvo.settings'), true);
    assert.strictEqual(addon.applicationInfo(502), null);
    assert.ok(!addon.listApplications().some((a) => a.pid === 502));
    assert.ok(!sim.windows().some((w) => w.pid === 502 || w.number === 201));
    assert.strictEqual(sim.element('settings.main').alive, false);
    assert.strictEqual(addon.terminateApplicationVerified(502, 'com.korvo.Settings'), false);
  });

  test('refuses a pid whose application changed, a wrong or oversized bundle id', () => {
    sim.relaunch(502, { bundleId: 'com.evil.Settings' });
    assert.strictEqual(addon.terminateApplicationVerified(502, 'com.korvo.Settings'), false);
    assert.strictEqual(addon.applicationInfo(502).bundle_id, 'com.evil.Settings');
    assert.strictEqual(addon.terminateApplicationVerified(501, 'com.korvo.TextPa'), false);
    assert.strictEqual(addon.terminateApplicationVerified(501, 'c'.repeat(256)), false);
    assert.strictEqual(addon.terminateApplicationVerified(501, ''), false);
    assert.ok(addon.applicationInfo(501));
  });

  test('an application that ends between the checks is not reported as terminated', () => {
    sim.injectFault({ op: 'RunningApplicationWithPid', pid: 503, quit: true, count: 1 });
    assert.strictEqual(addon.terminateApplicationVerified(503, 'com.apple.finder'), false);
    sim.launchApp({ pid: 930, bundleId: 'com.test.Stubborn', name: 'Stubborn' });
    sim.injectFault({ op: 'ForceTerminate', pid: 930, error: -1 });
    assert.strictEqual(addon.terminateApplicationVerified(930, 'com.test.Stubborn'), false);
    assert.ok(addon.applicationInfo(930));
  });

  test('argument types', () => {
    const message = 'terminateApplicationVerified(pid, expectedBundleId) expects a pid and bundle id';
    for (const args of [[501], ['501', 'com.korvo.TextPad'], [501, 7], [501, null], []]) {
      assert.throws(() => addon.terminateApplicationVerified(...args), { name: 'TypeError', message });
    }
    assert.ok(addon.applicationInfo(501));
  });
});
