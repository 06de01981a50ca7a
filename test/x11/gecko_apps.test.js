'use strict';
// Firefox ESR (Gecko) on a local page: names from the first snapshot on,
// presses by reference (Gecko garbles its batch action list), typing, a
// tab-modal alert opened and closed by reference, hit-tests into the page,
// and edit calls that Gecko answers true without changing anything, which
// the add-on reports as failures.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { addon, skip, waitFor, activeWindow } = require('./desktop');
const {
  missing, flatten, launch, stopAll, captureWhenReady, checkMapsOntoImage, checkHitTest,
} = require('./toolkit');

const PAGE = `<!doctype html><html><head><title>Korvo page</title></head><body>
<h1>Korvo test page</h1>
<button onclick="document.getElementById('out').textContent = 'pressed ' + (window.n = (window.n || 0) + 1)">Press me</button>
<button onclick="alert('Korvo alert')">Alert</button>
<p id="out">not pressed</p>
<input type="text" aria-label="Name field" value="">
</body></html>`;

test.describe('x11 Gecko browser', { skip: skip || missing('firefox-esr') }, () => {
  let browser = null;
  let dir = null;
  test.before(() => {
    dir = fs.mkdtempSync(path.join(os.tmpdir(), 'korvo-gecko-'));
    fs.mkdirSync(path.join(dir, 'profile'));
    fs.writeFileSync(path.join(dir, 'page.html'), PAGE);
    browser = launch('firefox-esr', ['--no-remote', '--new-instance', '--profile', path.join(dir, 'profile'),
      `file://${path.join(dir, 'page.html')}`], { HOME: dir, MOZ_CRASHREPORTER_DISABLE: '1', GNOME_ACCESSIBILITY: '1' });
  });
  test.after(() => {
    stopAll();
    fs.rmSync(dir, { recursive: true, force: true });
  });
  const named = (all, role, title) => all.find((e) => e.role === role && e.title === title);
  const outOf = (all) => all.find((e) => /pressed/.test(e.value || ''));

  test('the page\'s elements are named and pressable from the first snapshot; typing reads back; edit calls that change nothing fail', async () => {
    // The first capture that has the page at all already has its names.
    const first = captureWhenReady(browser.pid, 20, { ms: 60000,
      ready: (all) => all.some((e) => e.role === 'AXHeading') });
    const buttons = flatten(first.elements).filter((e) => e.role === 'AXButton').map((e) => e.title);
    assert.ok(buttons.includes('Press me') && buttons.includes('Alert'), `the page's buttons by name: ${JSON.stringify(buttons)}`);
    addon.releaseCaptureEpoch(browser.pid, first.capture_epoch);
    // Gecko lists a page's actions once its page cache is filled, a moment
    // after the names.
    const snap = captureWhenReady(browser.pid, 20, { ms: 10000,
      ready: (all) => (named(all, 'AXButton', 'Press me') || { actions: [] }).actions.includes('AXPress') });
    const all = flatten(snap.elements);
    const press = named(all, 'AXButton', 'Press me');
    const out = outOf(all);
    assert.strictEqual(addon.performAction(press.ref, 'AXPress').ok, true);
    // The page runs in another process: the change lands a moment later.
    waitFor(() => addon.readElement(out.ref).value === 'pressed 1', 3000, 'the press on the page');

    const field = named(all, 'AXTextField', 'Name field');
    assert.deepStrictEqual(addon.setValue(field.ref, 'set by the agent'), { ok: false, axError: 'failure' });
    assert.strictEqual(addon.readElement(field.ref).value, '');
    assert.strictEqual(addon.activateApplication(browser.pid), true);
    waitFor(() => activeWindow() === snap.window.window_id, 5000, 'the browser to be active');
    assert.deepStrictEqual(addon.setFocused(field.ref), { ok: true, axError: null });
    waitFor(() => addon.readElement(field.ref).focused, 3000, 'the field to have the focus');
    assert.strictEqual(addon.typeTextGlobal('typed'), true);
    waitFor(() => addon.readElement(field.ref).value === 'typed', 5000, 'the typed text');

    await checkMapsOntoImage(browser.pid, snap, press);
    checkHitTest(browser.pid, press);
    addon.releaseCaptureEpoch(browser.pid, snap.capture_epoch);
  });

  test('an alert opened by a press closes by reference', () => {
    const snap = captureWhenReady(browser.pid, 20, { ready: (all) => named(all, 'AXButton', 'Alert') });
    assert.strictEqual(addon.performAction(named(flatten(snap.elements), 'AXButton', 'Alert').ref, 'AXPress').ok, true);
    const open = captureWhenReady(browser.pid, 20, { ms: 5000,
      ready: (all) => all.some((e) => e.role === 'AXButton' && e.title === 'OK' && e.bounds[2] > 0) });
    const ok = flatten(open.elements).find((e) => e.role === 'AXButton' && e.title === 'OK' && e.bounds[2] > 0);
    assert.strictEqual(addon.performAction(ok.ref, 'AXPress').ok, true);
    captureWhenReady(browser.pid, 20, { ms: 5000,
      ready: (all) => !all.some((e) => e.role === 'AXButton' && e.title === 'OK' && e.bounds[2] > 0) });
    for (const s of [snap, open]) addon.releaseCaptureEpoch(browser.pid, s.capture_epoch);
  });
});
