'use strict';
// GTK3 applications beyond the test desktop's own: a calculator (presses by
// reference read back at once, a modal dialog opened and closed by
// reference, hit-tests, bounds on the window image) and a text editor
// (typing read back, hit-tests inside the document, the text area kept
// whole by the capture's limits).
const test = require('node:test');
const assert = require('node:assert');
const { addon, skip, waitFor, activeWindow } = require('./desktop');
const {
  missing, flatten, launch, stopAll, captureWhenReady, checkMapsOntoImage, checkHitTest, centre,
} = require('./toolkit');

test.describe('x11 GTK3 calculator', { skip: skip || missing('galculator') }, () => {
  let calc = null;
  test.before(() => { calc = launch('galculator', []); });
  test.after(stopAll);
  const keys = (all) => new Map(all.filter((e) => e.role === 'AXCheckBox').map((e) => [e.title, e]));
  const displayOf = (all) => all.find((e) => e.role === 'AXTextArea');

  test('a key pressed by reference reads back at once; typed keys read back; the window maps onto its image', async () => {
    const snap = captureWhenReady(calc.pid, 60, { ready: (all) => keys(all).has('9') && displayOf(all) });
    const all = flatten(snap.elements);
    const k = keys(all);
    const display = displayOf(all);
    assert.strictEqual(addon.performAction(k.get('AC').ref, 'AXPress').ok, true);
    assert.strictEqual(addon.readElement(display.ref).value, '0');
    // Read at once, no wait: a single read answers the value as it is now.
    for (const key of ['9', '7']) assert.strictEqual(addon.performAction(k.get(key).ref, 'AXPress').ok, true);
    assert.strictEqual(addon.readElement(display.ref).value, '97');
    // (Its keys are toggle buttons that spring back after a moment: a key
    // pressed twice in quick succession counts once, so each is pressed once.)
    assert.strictEqual(addon.performAction(k.get('C').ref, 'AXPress').ok, true);
    assert.strictEqual(addon.readElement(display.ref).value, '0');

    // Typed as global keys into the active calculator.
    const id = snap.window.window_id;
    assert.strictEqual(addon.activateApplication(calc.pid), true);
    waitFor(() => activeWindow() === id, 5000, 'the calculator to be active');
    assert.strictEqual(addon.typeTextGlobal('42'), true);
    waitFor(() => addon.readElement(display.ref).value === '42', 5000, 'the typed number on the display');

    await checkMapsOntoImage(calc.pid, snap, k.get('7'));
    checkHitTest(calc.pid, k.get('7'));
    addon.releaseCaptureEpoch(calc.pid, snap.capture_epoch);
  });

  test('a modal dialog opened by a press leaves the application readable; its Close pressed by reference closes it', () => {
    const snap = captureWhenReady(calc.pid, 60);
    const help = flatten(snap.elements).find((e) => e.role === 'AXMenuBarItem' && e.title === 'Help');
    assert.strictEqual(addon.performAction(help.ref, 'AXPress').ok, true);
    const menu = captureWhenReady(calc.pid, 60, { ready: (all) => all.some((e) => e.title === 'About') });
    const about = flatten(menu.elements).find((e) => e.title === 'About');
    assert.strictEqual(addon.performAction(about.ref, 'AXPress').ok, true);
    const dialogWindow = waitFor(() => addon.listWindows(calc.pid).find((w) => w.title === 'About galculator'),
      5000, 'the About dialog');
    // The dialog runs its own loop inside the press: the application still answers.
    const main = addon.captureApp(calc.pid, snap.window.window_id);
    assert.ok(main && flatten(main.elements).length >= 60, `the main window reads (${main && flatten(main.elements).length} elements)`);
    const dialog = captureWhenReady(calc.pid, 5, { windowId: dialogWindow.window_id, ms: 5000 });
    assert.strictEqual(dialog.window.title, 'About galculator');
    const close = flatten(dialog.elements).find((e) => e.role === 'AXButton' && e.title === 'Close');
    assert.ok(close, 'the dialog\'s Close button');
    assert.strictEqual(addon.performAction(close.ref, 'AXPress').ok, true);
    waitFor(() => !addon.listWindows(calc.pid).some((w) => w.title === 'About galculator'), 5000,
      'the dialog to close');
    for (const s of [snap, menu, main, dialog]) addon.releaseCaptureEpoch(calc.pid, s.capture_epoch);
  });
});

test.describe('x11 GTK3 text editor', { skip: skip || missing('gedit') }, () => {
  let editor = null;
  test.before(() => { editor = launch('gedit', ['--standalone']); });
  test.after(stopAll);
  const textOf = (all) => all.find((e) => e.role === 'AXTextArea' && e.editable);

  test('the document\'s text area survives the capture\'s limits, takes typed text, and is what a hit-test in it answers', async () => {
    const snap = captureWhenReady(editor.pid, 200, { ready: textOf });
    const all = flatten(snap.elements);
    const text = textOf(all);
    // What the capture cuts is a long list (the language menu's rows past
    // the children limit), never the document.
    const cut = all.filter((e) => e.children_total !== undefined && e.children_total > (e.children || []).length);
    assert.ok(cut.every((e) => e.role === 'AXList'), JSON.stringify(cut.map((e) => e.role)));
    assert.ok(text.bounds[2] > 100 && text.bounds[3] > 100, `the text area ${JSON.stringify(text.bounds)}`);

    assert.strictEqual(addon.activateApplication(editor.pid), true);
    waitFor(() => activeWindow() === snap.window.window_id, 5000, 'the editor to be active');
    assert.deepStrictEqual(addon.setFocused(text.ref), { ok: true, axError: null });
    assert.strictEqual(addon.typeTextGlobal('typed into gedit'), true);
    waitFor(() => addon.readElement(text.ref).value === 'typed into gedit', 5000, 'the typed text');

    // GTK3's notebook answers a point in its page with the page tab list:
    // the hit descends by its children's extents to the text itself.
    checkHitTest(editor.pid, text);
    await checkMapsOntoImage(editor.pid, snap, text);
    addon.releaseCaptureEpoch(editor.pid, snap.capture_epoch);
  });
});
