'use strict';
// A Qt5 / KDE Frameworks application (the KDE calculator): presses by
// reference and typing read back, a dialog opened and closed by reference,
// hit-tests, and window bounds that are the outer frame (Qt reports its
// client rectangle).
const test = require('node:test');
const assert = require('node:assert');
const { addon, skip, waitFor, activeWindow } = require('./desktop');
const {
  missing, flatten, launch, stopAll, captureWhenReady, checkMapsOntoImage, checkHitTest,
} = require('./toolkit');

test.describe('x11 Qt5 calculator', { skip: skip || missing('kcalc') }, () => {
  let calc = null;
  test.before(() => { calc = launch('kcalc', []); });
  test.after(stopAll);
  const button = (all, title) => all.find((e) => e.role === 'AXButton' && e.title === title && e.bounds[2] > 0);
  // The display: a frame inside the window, named by the number it shows.
  const displayOf = (all) => all.find((e) => e.role === 'AXWindow' && e.bounds[2] > 0);
  const shown = (ref) => (addon.readElement(ref).title || '').replace(/,/g, '');

  test('keys pressed by reference and typed read back; the window maps onto its image; hit-tests find a key', async () => {
    const snap = captureWhenReady(calc.pid, 60, { ready: (all) => button(all, '7') && displayOf(all) });
    const all = flatten(snap.elements);
    const display = displayOf(all);
    assert.strictEqual(addon.performAction(button(all, 'AC').ref, 'AXPress').ok, true);
    // Qt clicks a pressed button a moment later (its animated click).
    waitFor(() => shown(display.ref) === '0', 3000, 'a cleared display');
    assert.strictEqual(addon.performAction(button(all, '7').ref, 'AXPress').ok, true);
    waitFor(() => shown(display.ref) === '7', 3000, 'the first key on the display');
    assert.strictEqual(addon.performAction(button(all, '8').ref, 'AXPress').ok, true);
    waitFor(() => shown(display.ref) === '78', 3000, 'the second key on the display');

    assert.strictEqual(addon.activateApplication(calc.pid), true);
    waitFor(() => activeWindow() === snap.window.window_id, 5000, 'the calculator to be active');
    assert.strictEqual(addon.typeTextGlobal('42'), true);
    waitFor(() => shown(display.ref) === '7842', 5000, 'the typed keys on the display');

    await checkMapsOntoImage(calc.pid, snap, button(all, '7'));
    checkHitTest(calc.pid, button(all, '7'));
    addon.releaseCaptureEpoch(calc.pid, snap.capture_epoch);
  });

  test('the About dialog opens from its menu item and closes by reference', () => {
    const snap = captureWhenReady(calc.pid, 60);
    const about = flatten(snap.elements).find((e) => e.role === 'AXMenuItem' && e.title === 'About KCalc');
    assert.ok(about, 'the Help menu\'s About item');
    assert.strictEqual(addon.performAction(about.ref, 'AXPress').ok, true);
    const win = waitFor(() => addon.listWindows(calc.pid).find((w) => w.title === 'About KCalc'), 5000, 'the About dialog');
    const dialog = captureWhenReady(calc.pid, 10, { windowId: win.window_id });
    const close = flatten(dialog.elements).find((e) => e.role === 'AXButton' && e.title === 'Close');
    assert.strictEqual(addon.performAction(close.ref, 'AXPress').ok, true);
    waitFor(() => !addon.listWindows(calc.pid).some((w) => w.title === 'About KCalc'), 5000, 'the dialog to close');
    for (const s of [snap, dialog]) addon.releaseCaptureEpoch(calc.pid, s.capture_epoch);
  });
});
