'use strict';
// A GTK 4 application (the GNOME calculator): GTK 4.8 sets SENSITIVE but
// not ENABLED, VISIBLE but not SHOWING, and answers extents relative to its
// window; the backend maps it onto the screen, so presses, hit-tests and
// bounds work as they do for GTK3.
const test = require('node:test');
const assert = require('node:assert');
const { addon, skip, waitFor, activeWindow } = require('./desktop');
const {
  missing, flatten, launch, stopAll, captureWhenReady, checkMapsOntoImage, checkHitTest, centre,
} = require('./toolkit');

test.describe('x11 GTK4 calculator', { skip: skip || missing('gnome-calculator') }, () => {
  let calc = null;
  test.before(() => { calc = launch('gnome-calculator', []); });
  test.after(stopAll);
  const key = (all, digit) => all.find((e) => e.role === 'AXButton' && e.title === `${digit} ${digit}`);
  const displayOf = (all) => all.find((e) => e.role === 'AXTextArea' && e.title === 'GtkSourceView');

  test('keys are enabled and placed on the screen; presses by reference and typing read back; hit-tests and clicks find the keys', async () => {
    const snap = captureWhenReady(calc.pid, 60, { ready: (all) => key(all, 9) && displayOf(all) });
    const all = flatten(snap.elements);
    const [seven, eight, display] = [key(all, 7), key(all, 8), displayOf(all)];
    for (const k of [seven, eight]) {
      assert.strictEqual(k.enabled, true, `${k.title} is enabled`);
      assert.ok(k.bounds[2] > 0 && k.bounds[3] > 0, `${k.title} has a size`);
    }
    const [wx, wy, ww, wh] = snap.window.bounds;
    assert.ok(seven.bounds[0] > wx && seven.bounds[1] > wy && seven.bounds[0] + seven.bounds[2] < wx + ww &&
      seven.bounds[1] + seven.bounds[3] < wy + wh, `the key ${JSON.stringify(seven.bounds)} lies in the window ${JSON.stringify(snap.window.bounds)}`);

    const before = addon.readElement(display.ref).value;
    assert.strictEqual(addon.performAction(seven.ref, 'AXPress').ok, true);
    assert.strictEqual(addon.performAction(eight.ref, 'AXPress').ok, true);
    // GTK 4 itself shows a pressed button for a moment before it clicks.
    waitFor(() => addon.readElement(display.ref).value === `${before}78`, 3000, 'the pressed keys on the display');

    assert.strictEqual(addon.activateApplication(calc.pid), true);
    waitFor(() => activeWindow() === snap.window.window_id, 5000, 'the calculator to be active');
    assert.strictEqual(addon.typeTextGlobal('42'), true);
    waitFor(() => addon.readElement(display.ref).value === `${before}7842`, 5000, 'the typed keys on the display');

    // GTK 4 answers SetSelection false where no selection exists and never
    // answers AddSelection: a selection is either read back or a failure,
    // at once, and the application stays readable.
    const t0 = Date.now();
    const selected = addon.selectText(display.ref, 0, 1);
    assert.ok(Date.now() - t0 < 2000, `selectText took ${Date.now() - t0} ms`);
    if (selected.ok) assert.deepStrictEqual(addon.readElement(display.ref).selected_text_range, [0, 1]);
    else assert.deepStrictEqual(selected, { ok: false, axError: 'failure' });
    assert.ok(addon.readElement(display.ref), 'the display still reads');

    await checkMapsOntoImage(calc.pid, snap, seven);
    checkHitTest(calc.pid, seven);
    const [cx, cy] = centre(eight.bounds);
    const click = addon.clickElementAtPoint(cx, cy);
    assert.deepStrictEqual([click.ok, click.method, click.pid], [true, 'ax_press', calc.pid]);
    waitFor(() => addon.readElement(display.ref).value === `${before}78428`, 3000, 'the clicked key on the display');
    addon.releaseCaptureEpoch(calc.pid, snap.capture_epoch);
  });

  test('the About window opens from the main menu and closes by reference', () => {
    const snap = captureWhenReady(calc.pid, 60);
    const menu = flatten(snap.elements).filter((e) => e.title === 'GtkMenuButton' && e.actions.includes('AXPress')).pop();
    assert.ok(menu, 'the main menu button');
    assert.strictEqual(addon.performAction(menu.ref, 'AXPress').ok, true);
    const open = captureWhenReady(calc.pid, 60, { ready: (all) => all.some((e) => e.title === 'About Calculator' && e.bounds[2] > 0) });
    const about = flatten(open.elements).find((e) => e.role === 'AXMenuItem' && e.title === 'About Calculator');
    assert.strictEqual(addon.performAction(about.ref, 'AXPress').ok, true);
    const win = waitFor(() => addon.listWindows(calc.pid).find((w) => w.title === 'About'), 5000, 'the About window');
    const dialog = captureWhenReady(calc.pid, 10, { windowId: win.window_id,
      ready: (all) => all.some((e) => e.title === 'Close' && e.bounds[2] > 0) });
    // Only the close button on show has a place; the others sit on pages not shown.
    const close = flatten(dialog.elements).find((e) => e.role === 'AXButton' && e.title === 'Close' && e.bounds[2] > 0);
    assert.strictEqual(addon.performAction(close.ref, 'AXPress').ok, true);
    waitFor(() => !addon.listWindows(calc.pid).some((w) => w.title === 'About'), 5000, 'the About window to close');
    for (const s of [snap, open, dialog]) addon.releaseCaptureEpoch(calc.pid, s.capture_epoch);
  });
});
