'use strict';
// The simulated desktop, driven through desktop-sim alone (no add-on).
const test = require('node:test');
const assert = require('node:assert/strict');
const { Worker } = require('node:worker_threads');
const { spawnSync } = require('node:child_process');
const path = require('node:path');
const sim = require('../sim');

const { probe } = sim;
const AXErrorInvalidUIElement = -25202;
const AXErrorCannotComplete = -25204;

test.beforeEach(() => {
  sim.reset();
  probe.releaseAll();
});

test('scene loading', async (t) => {
  await t.test('an empty desktop has one retina display and no applications', () => {
    assert.deepEqual(sim.displays(), [
      { id: 1, bounds: [0, 0, 1440, 900], pixelWidth: 2880, pixelHeight: 1800, main: true },
    ]);
    assert.deepEqual(sim.apps(), []);
    assert.deepEqual(sim.windows(), []);
    assert.equal(probe.isTrusted(), true);
    assert.equal(sim.stats().platformVersion, '14.5');
    assert.equal(sim.backendName(), 'sim');
  });

  await t.test('the sample scene has its applications, windows and stable ids', () => {
    sim.loadSampleScene();
    assert.deepEqual(sim.apps().map((a) => [a.pid, a.bundleId, a.policy]), [
      [501, 'com.korvo.TextPad', 'regular'],
      [502, 'com.korvo.Settings', 'regular'],
      [503, 'com.apple.finder', 'regular'],
      [504, 'com.apple.appkit.xpc.openAndSavePanelService', 'accessory'],
    ]);
    assert.equal(sim.frontmost(), 501);
    assert.deepEqual(sim.windows().map((w) => w.number), [111, 101, 401, 102, 201, 301, 300]);
    assert.equal(sim.element('textpad.saveOK').identifier, 'OKButton');
    assert.equal(sim.element('panel.open').pid, 504);
    assert.equal(sim.element('panel.open').appPid, 501);
    assert.equal(sim.element('settings.volume').value, 40);
    assert.equal(sim.element('textpad.menu.file').title, 'File');
  });

  await t.test('JSON text, generators and scene flags', () => {
    sim.loadScene(JSON.stringify({
      platformVersion: '14.1',
      displays: [{ id: 7, bounds: [0, 0, 0, 900], pixelWidth: 0, pixelHeight: 1800 }],
      apps: [{ pid: 42, name: 'Big', windows: [{ id: 'big.w', number: 5, bounds: [0, 0, 500, 500],
        omitKeys: ['kCGWindowName'], badKeys: { kCGWindowLayer: 'zero' },
        children: [{ id: 'big.list', role: 'AXList', children: [
          { generate: { count: 600, role: 'AXRow', idPrefix: 'big.row', title: 'Row {i}' } }] }] }] }],
    }));
    assert.equal(sim.stats().platformVersion, '14.1');
    assert.equal(sim.displays()[0].bounds[2], 0);
    assert.equal(sim.element('big.list').children.length, 600);
    assert.equal(sim.element('big.row-599').title, 'Row 599');
    const [entry] = probe.windowList();
    assert.equal(entry.kCGWindowName, undefined);
    assert.equal(entry.kCGWindowLayer, 'zero');
    assert.equal(entry.kCGWindowNumber, 5);
    assert.throws(() => sim.loadScene('[1, 2'), /JSON|Unexpected|Expected/);
    assert.throws(() => sim.loadScene(42), TypeError);
  });
});

test('mutation while running', async (t) => {
  await t.test('values, windows and focus change and read back live', () => {
    sim.loadSampleScene();
    sim.setAttribute('textpad.text', 'AXValue', 'changed');
    assert.equal(probe.copyAttribute('textpad.text', 'AXValue').value, 'changed');
    sim.moveWindow(201, [10, 20, 300, 200]);
    assert.deepEqual(sim.windows().find((w) => w.number === 201).bounds, [10, 20, 300, 200]);
    assert.deepEqual(probe.copyAttribute('settings.main', 'AXSize').value, { size: [300, 200] });
    sim.setWindow(201, { onScreen: false, title: 'Hidden' });
    assert.equal(probe.windowList(true).some((w) => w.kCGWindowNumber === 201), false);
    const n = sim.addWindow(502, { id: 'settings.extra', title: 'Extra', bounds: [0, 0, 200, 100] });
    assert.equal(sim.windows()[0].number, n);
    assert.equal(sim.removeWindow(n), true);
    assert.equal(sim.element('settings.extra').alive, false);
    sim.setAttribute('textpad.saveName', 'AXFocused', true);
    assert.equal(sim.app(501).focusedElement, 'textpad.saveName');
  });

  await t.test('pressing runs effects; quit and relaunch replace the tree', () => {
    sim.loadSampleScene();
    assert.equal(probe.perform('textpad.saveCancel').error, 0);
    assert.equal(sim.element('textpad.saveSheet').hidden, true);
    assert.equal(sim.windows().some((w) => w.number === 111 && w.visible), false);
    probe.perform('textpad.save');
    assert.equal(sim.element('textpad.saveSheet').hidden, false);
    sim.setAttribute('textpad.saveSheet', 'AXFocused', true);
    assert.equal(sim.app(501).focusedWindow, 'textpad.saveSheet');
    probe.perform('textpad.saveOK');
    assert.equal(sim.app(501).focusedWindow, 'textpad.doc1', 'focus returns to the window');
    assert.equal(sim.windows().find((w) => w.number === 101).title, 'Report.txt');
    assert.equal(probe.copyAttribute('textpad.doc1', 'AXTitle').value, 'Report.txt');
    assert.equal(sim.element('textpad.saveCancel').pressCount, 1);
    probe.perform('settings.autosave');
    assert.equal(sim.element('settings.autosave').value, 0);
    probe.perform('settings.volume', 'AXIncrement');
    assert.equal(sim.element('settings.volume').value, 50);
    const launch = sim.app(502).launchTime;
    sim.relaunch(502, { launchTime: launch + 100 });
    assert.equal(sim.app(502).launchTime, launch + 100);
    assert.equal(sim.element('settings.volume').value, 40);  // fresh tree from the scene
    assert.equal(sim.quitApp(502), true);
    assert.equal(sim.app(502), null);
    assert.equal(sim.windows().some((w) => w.pid === 502), false);
    assert.equal(sim.quitApp(502), false);
  });
});

test('handle counts', () => {
  sim.loadSampleScene();
  const base = sim.liveHandleCount();
  const app = probe.createApplication(501);
  const win = probe.hold('textpad.doc1');
  const again = probe.hold('textpad.doc1');
  assert.equal(sim.element('textpad.doc1').liveHandles, 2);
  assert.equal(sim.liveHandleCount(), base + 3);
  // Values that carry elements hold handles only while they live.
  probe.copyAttribute(win, 'AXChildren');
  assert.equal(sim.element('textpad.toolbar').liveHandles, 0);
  sim.quitApp(501);
  assert.equal(probe.copyAttribute(win, 'AXRole').error, AXErrorInvalidUIElement);
  assert.equal(sim.element('textpad.doc1').alive, false);
  assert.equal(sim.element('textpad.doc1').liveHandles, 2);
  probe.release(win);
  probe.release(again);
  probe.release(app);
  assert.equal(sim.element('textpad.doc1').liveHandles, 0);
  assert.equal(sim.liveHandleCount(), base);
});

test('fault injection and blocking', async (t) => {
  await t.test('N-shot errors, wrong types, whole-batch failure and quit mid-call', () => {
    sim.loadSampleScene();
    sim.injectFault({ op: 'CopyAttributeValue', element: 'textpad.bold', attribute: 'AXTitle', error: -25200, count: 2 });
    assert.equal(probe.copyAttribute('textpad.bold', 'AXTitle').error, -25200);
    assert.equal(probe.copyAttribute('textpad.italic', 'AXTitle').value, 'Italic');
    assert.equal(probe.copyAttribute('textpad.bold', 'AXTitle').error, -25200);
    assert.equal(probe.copyAttribute('textpad.bold', 'AXTitle').value, 'Bold');
    sim.injectFault({ op: 'CopyAttributeValue', error: 'wrong_type' });
    assert.equal(typeof probe.copyAttribute('textpad.bold', 'AXTitle').value, 'number');
    sim.setElement('textpad.bold', { errors: { AXHelp: -25212 } });
    const batch = probe.copyMultiple('textpad.bold', ['AXRole', 'AXHelp']);
    assert.deepEqual(batch.values, ['AXButton', { error: -25212 }]);
    sim.injectFault({ op: 'CopyMultipleAttributeValues', error: -25200 });
    assert.equal(probe.copyMultiple('textpad.bold', ['AXRole']).error, -25200);
    sim.injectFault({ op: 'PerformAction', quit: true, pid: 501 });
    assert.equal(probe.perform('textpad.bold').error, AXErrorInvalidUIElement);
    assert.equal(sim.app(501), null);
  });

  await t.test('no_answer and delays take the messaging time-out on the sim clock', () => {
    sim.loadSampleScene();
    sim.setTimeScale(1000);
    const app = probe.createApplication(501);
    probe.setMessagingTimeout(app, 0.3);
    sim.injectFault({ op: 'CopyAttributeValue', error: 'no_answer' });
    let t0 = sim.clockNow();
    assert.equal(probe.copyAttribute(app, 'AXRole').error, AXErrorCannotComplete);
    assert.ok(sim.clockNow() - t0 >= 300);
    sim.setElement('textpad.bold', { delayMs: 200 });
    t0 = sim.clockNow();
    assert.equal(probe.copyAttribute('textpad.bold', 'AXRole').value, 'AXButton');
    assert.ok(sim.clockNow() - t0 >= 200);
    sim.setElement('textpad.bold', { delayMs: 300 });
    assert.equal(probe.copyAttribute('textpad.bold', 'AXRole').error, AXErrorCannotComplete);
    sim.setApp(502, { unresponsive: true });
    assert.equal(probe.copyAttribute('settings.volume', 'AXValue').error, AXErrorCannotComplete);
  });

  await t.test('a blocked call parks until unblocked, without locking the world', async () => {
    sim.loadSampleScene();
    const id = sim.block({ op: 'CopyAttributeValue', element: 'textpad.bold' });
    assert.equal(sim.isBlocked(id), false);
    const worker = new Worker(`
      const { parentPort } = require('node:worker_threads');
      const sim = require(${JSON.stringify(path.join(__dirname, '..', 'sim.js'))});
      parentPort.postMessage(sim.probe.copyAttribute('textpad.bold', 'AXTitle'));`, { eval: true });
    const answer = new Promise((resolve, reject) => {
      worker.once('message', resolve);
      worker.once('error', reject);
    });
    assert.equal(await sim.waitFor(() => sim.isBlocked(id), { timeoutMs: 5000 }), true);
    assert.equal(probe.copyAttribute('textpad.italic', 'AXTitle').value, 'Italic');
    assert.equal(sim.unblock(id), true);
    assert.deepEqual(await answer, { value: 'Bold', error: 0 });
    assert.equal(sim.isBlocked(id), false);
    await worker.terminate();
  });
});

test('event journal and behaviour', async (t) => {
  await t.test('typing, backspace and routes', () => {
    sim.loadSampleScene();
    sim.setAttribute('textpad.text', 'AXValue', 'ab');
    probe.post({ type: sim.EventType.keyDown, keycode: 8, unicode: 'c', fields: { 42: 7 } });
    probe.post({ type: sim.EventType.keyUp, keycode: 8, unicode: 'c' });
    probe.post({ tap: 'session', type: sim.EventType.keyDown, keycode: 51 });
    probe.postToPid(501, { type: sim.EventType.keyDown, unicode: '→' });
    probe.privatePostToPid(501, { type: sim.EventType.keyDown, unicode: '!' });
    assert.equal(sim.element('textpad.text').value, 'ab→!');
    const events = sim.events();
    assert.deepEqual(events.map((e) => e.route), ['hid', 'hid', 'session', 'pid', 'private_pid']);
    assert.deepEqual(events.map((e) => e.pid), [501, 501, 501, 501, 501]);
    assert.equal(events[0].fields['42'], 7);
    assert.equal(events[0].keycode, 8);
    assert.ok(events.every((e, i) => i === 0 || e.seq > events[i - 1].seq));
    sim.clearEvents();
    assert.deepEqual(sim.events(), []);
  });

  await t.test('a click presses, activates and moves the pointer', () => {
    sim.loadSampleScene();
    sim.setFrontmost(502);
    probe.runOnce();  // delivers the activation of 502 before we watch
    probe.observeActivations();
    probe.post({ type: sim.EventType.leftMouseDown, x: 1120, y: 700 });
    probe.post({ type: sim.EventType.leftMouseUp, x: 1120, y: 700 });
    assert.deepEqual(sim.pointer(), { x: 1120, y: 700 });
    assert.equal(sim.frontmost(), 501);
    assert.equal(sim.app(501).focusedElement, 'textpad.text2');
    assert.deepEqual(probe.activations(), []);
    probe.runOnce();
    assert.deepEqual(probe.activations(), [501]);
    assert.equal(sim.windows()[0].number, 401);  // the clicked window came to the front
  });
});

test('clock scaling and late launch completions', async () => {
  sim.loadSampleScene();
  sim.setTimeScale(10000);
  const started = Date.now();
  assert.ok(probe.sleep(30000) >= 30000);
  assert.ok(Date.now() - started < 1000);
  sim.setTimeScale(1);
  sim.install({ bundleId: 'com.korvo.Calc', name: 'Calc', path: '/Applications/Calc.app',
    app: { pid: 610, windows: [{ title: 'Calc', bounds: [0, 0, 200, 200] }] }, openResult: { delayMs: 5000 } });
  probe.openApplication('file:///Applications/Calc.app/', false);
  assert.equal(sim.app(610).name, 'Calc');
  assert.equal(sim.frontmost(), 501);
  assert.deepEqual(probe.completions(), []);
  sim.advanceClock(5000);
  const done = await sim.waitFor(() => probe.completions().length > 0, { timeoutMs: 3000 });
  assert.equal(done, true);
  assert.deepEqual(probe.completions(), [{ error: 0, pid: 610 }]);
});

test('permissions, private entries and the log', () => {
  sim.loadSampleScene();
  assert.equal(sim.promptCount(), 0);
  probe.isTrusted(true);
  assert.equal(sim.promptCount(), 1);
  sim.setPermissions({ accessibility: false });
  assert.equal(probe.isTrusted(false), false);
  // With no desktop to drive, the probe answers the selection error instead
  // of driving the simulated desktop nobody named, and nothing is logged.
  const out = spawnSync(process.execPath, ['-e', `
    const sim = require(${JSON.stringify(path.join(__dirname, '..', 'sim.js'))});
    let message = null;
    try { sim.probe.isTrusted(); } catch (e) { message = e.message; }
    sim.reset();
    process.stdout.write(JSON.stringify({ message, lines: sim.logLines() }));`],
  { env: { ...process.env, KORVO_OZA_PLATFORM: 'quartz', KORVO_OZA_LOG_STDERR: '1' }, encoding: 'utf8' });
  const { message, lines } = JSON.parse(out.stdout);
  assert.match(message, /KORVO_OZA_PLATFORM="quartz" names no desktop backend/);
  assert.deepEqual(lines, []);
});

test('window pictures', () => {
  sim.loadSampleScene();
  const img = sim.windowImage(101);
  assert.equal(img.width, 1800);
  assert.equal(img.height, 1280);
  assert.equal(img.rgba.length, 1800 * 1280 * 4);
  const colours = new Set();
  for (let i = 0; i < img.rgba.length; i += 4 * 101) colours.add(img.rgba.readUInt32LE(i));
  assert.ok(colours.size > 5, 'the picture has content');
  assert.equal(sim.windowImage(4242), null);
});

test('defaults a newcomer relies on', async (t) => {
  await t.test('text elements take a selection; other elements do not', () => {
    sim.loadSampleScene();
    assert.ok(sim.element('textpad.text').settable.includes('AXSelectedTextRange'));
    assert.ok(!sim.element('textpad.bold').settable.includes('AXSelectedTextRange'));
    const text = probe.hold('textpad.text');
    assert.deepEqual(probe.setAttribute(text, 'AXSelectedTextRange', { range: [0, 2] }), { error: 0 });
    const bold = probe.hold('textpad.bold');
    assert.notDeepEqual(probe.setAttribute(bold, 'AXSelectedTextRange', { range: [0, 2] }), { error: 0 });
  });
  await t.test('an application reports the messaging time-out its calls wait for', () => {
    sim.loadSampleScene();
    assert.equal(sim.app(501).messagingTimeout, 6);
    const app = probe.createApplication(501);
    probe.setMessagingTimeout(app, 1.5);
    assert.equal(sim.app(501).messagingTimeout, 1.5);
    const system = probe.systemWide();
    probe.setMessagingTimeout(system, 2.5);
    assert.equal(sim.app(502).messagingTimeout, 2.5, 'the system-wide setting applies to the rest');
  });
});
