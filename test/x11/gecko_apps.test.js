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
const { addon, skip, waitFor, activeWindow, python } = require('./desktop');
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

  // Set when a capture lacked page names that pyatspi read right after it.
  let namesLag = null;
  test('the page\'s elements are named and pressable once shown; typing reads back; edit calls that change nothing fail', async () => {
    // A capture that has the page has its names whenever an AT-SPI client
    // reading the same tree right after it sees them: Gecko builds a page's
    // objects before their names, so only a name pyatspi already reads and
    // the capture lacks is a fault.
    const pageButtons = (all) => all.filter((e) => e.role === 'AXButton').map((e) => e.title);
    const atspiNames = () => {
      const names = [];
      const walk = (n) => { if (n.role === 'push button') names.push(n.name); n.children.forEach(walk); };
      walk(JSON.parse(python('atspi.py', ['tree', String(browser.pid)])));
      return names;
    };
    const first = captureWhenReady(browser.pid, 20, { ms: 60000,
      ready: (all) => {
        if (!all.some((e) => e.role === 'AXHeading')) return false;
        const buttons = pageButtons(all);
        if (buttons.includes('Press me') && buttons.includes('Alert')) return true;
        const seen = atspiNames();
        if (!namesLag && (seen.includes('Press me') || seen.includes('Alert'))) {
          namesLag = `the page's buttons by name: ${JSON.stringify(buttons)}; ` +
            `pyatspi at the same moment: ${JSON.stringify(seen)}`;
        }
        return false;
      } });
    assert.ok(pageButtons(flatten(first.elements)).includes('Press me'));
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

  // Not yet true: a capture that has the page can still lack names pyatspi
  // reads a moment later (seen in about half of the runs of this suite).
  test('the page\'s names are in the first capture that has the page', { todo: 'Gecko page names can lag behind pyatspi in the first capture' }, () => {
    assert.strictEqual(namesLag, null);
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
