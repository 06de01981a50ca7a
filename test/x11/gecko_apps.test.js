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
    assert.ok(outOf(all), 'the page\'s output paragraph');
    assert.strictEqual(addon.performAction(press.ref, 'AXPress').ok, true);
    // The page runs in another process: the change lands a moment later,
    // in a new text object (the script replaces the paragraph's text).
    const now = (pick) => {
      const s = addon.captureApp(browser.pid);
      const found = s && pick(flatten(s.elements));
      if (s) addon.releaseCaptureEpoch(browser.pid, s.capture_epoch);
      return found;
    };
    waitFor(() => { const o = now(outOf); return o && o.value === 'pressed 1'; }, 5000, 'the press on the page');

    // Gecko answers true and leaves an unfocused field as it was: never a
    // success ("failure", or "cannot_complete" when the loaded page does
    // not answer the reads back within the capture's messaging time-out).
    const field = named(all, 'AXTextField', 'Name field');
    const set = addon.setValue(field.ref, 'set by the agent');
    assert.strictEqual(set.ok, false, JSON.stringify(set));
    assert.ok(['failure', 'cannot_complete'].includes(set.axError), JSON.stringify(set));
    assert.strictEqual(addon.activateApplication(browser.pid), true);
    waitFor(() => activeWindow() === snap.window.window_id, 5000, 'the browser to be active');
    // (A read that timed out marks the application hung for a second.)
    waitFor(() => addon.setFocused(field.ref).ok, 5000, 'the field to take the focus');
    assert.strictEqual(now((els) => named(els, 'AXTextField', 'Name field')).value, '', 'the set changed nothing');
    // Gecko may give a field a new accessible object when it takes the
    // focus: the field is found again by its name.
    const fieldNow = () => now((els) => named(els, 'AXTextField', 'Name field'));
    waitFor(() => { const f = fieldNow(); return f && f.focused; }, 5000, 'the field to have the focus');
    assert.strictEqual(addon.typeTextGlobal('typed'), true);
    waitFor(() => { const f = fieldNow(); return f && f.value === 'typed'; }, 5000, 'the typed text');

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
