'use strict';
// Accessibility over AT-SPI on a real desktop: captures of GTK3 and Qt5
// applications against an independent AT-SPI dump (python3-pyatspi), element
// reads and actions read back through AT-SPI, hit-testing, handle release,
// and captures of applications that die or stop answering.
const test = require('node:test');
const assert = require('node:assert');
const path = require('node:path');
const { addon, skip, waitFor, appPid, activeWindow, python, run, BUILD, PYTHON } = require('./desktop');
const { flatten, launch, stopAll, captureWhenReady: captureUntil, missing } = require('./toolkit');

// AT-SPI role names (as the dump names them) to AX roles: the backend's table.
const ROLES = {
  'frame': 'AXWindow', 'window': 'AXWindow', 'dialog': 'AXWindow', 'push button': 'AXButton',
  'toggle button': 'AXCheckBox', 'check box': 'AXCheckBox', 'radio button': 'AXRadioButton',
  'menu bar': 'AXMenuBar', 'popup menu': 'AXMenu', 'menu item': 'AXMenuItem',
  'check menu item': 'AXMenuItem', 'radio menu item': 'AXMenuItem', 'tearoff menu item': 'AXMenuItem',
  'entry': 'AXTextField', 'password text': 'AXTextField', 'paragraph': 'AXTextArea',
  'label': 'AXStaticText', 'heading': 'AXHeading', 'list': 'AXList', 'list box': 'AXList',
  'list item': 'AXRow', 'table row': 'AXRow', 'tree item': 'AXRow', 'table': 'AXTable',
  'tree table': 'AXOutline', 'tree': 'AXOutline', 'table cell': 'AXCell', 'column header': 'AXCell',
  'table column header': 'AXCell', 'table row header': 'AXCell', 'row header': 'AXCell',
  'slider': 'AXSlider', 'spin button': 'AXIncrementor', 'progress bar': 'AXProgressIndicator',
  'level bar': 'AXLevelIndicator', 'scroll bar': 'AXScrollBar', 'scroll pane': 'AXScrollArea',
  'split pane': 'AXSplitGroup', 'page tab list': 'AXTabGroup', 'page tab': 'AXRadioButton',
  'tool bar': 'AXToolbar', 'image': 'AXImage', 'icon': 'AXImage', 'link': 'AXLink',
  'tool tip': 'AXHelpTag', 'animation': 'AXBusyIndicator', 'unknown': 'AXUnknown',
};
function axRole(node, parent) {
  if (node.role === 'menu') return parent && parent.role === 'menu bar' ? 'AXMenuBarItem' : 'AXMenu';
  if (node.role === 'text') return node.states.includes('single line') ? 'AXTextField' : 'AXTextArea';
  if (node.role === 'combo box') return node.states.includes('editable') ? 'AXComboBox' : 'AXPopUpButton';
  return ROLES[node.role] || 'AXGroup';
}

// Compares a captured element list with the dump's children of the same
// parent; answers the number of elements compared.
function compareTree(elements, dumpParent, where) {
  const kids = dumpParent.children;
  let compared = 0;
  elements.forEach((el, i) => {
    const node = kids[i];
    const at = `${where}/${i}`;
    assert.ok(node, `${at}: the capture has an element the dump does not`);
    assert.strictEqual(el.role, axRole(node, dumpParent), `${at}: role of ${node.role} "${node.name}"`);
    if (node.name) assert.strictEqual(el.title, node.name, `${at}: title`);
    const collected = (el.children || []).length;
    if (el.children_total !== undefined) assert.strictEqual(el.children_total, node.children.length, `${at}: total`);
    else assert.strictEqual(collected, node.children.length, `${at}: children of ${node.role} "${node.name}"`);
    compared += 1 + compareTree(el.children || [], node, at);
  });
  return compared;
}

// Started programs are stopped by their pids when the suite ends; one that
// dies early fails the wait for its capture with its own output.
const sleep = (ms) => Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);

const ROWS_APP = path.join(__dirname, 'tools', 'rows_app.py');
const noQt = missing('featherpad');
const captureWhenReady = (pid, minimum, ms = 20000) => captureUntil(pid, minimum, { ms });

test.describe('x11 accessibility over AT-SPI', { skip }, () => {
  const editor = appPid('mousepad');
  const factory = appPid('gtk3-widget-factory');
  test.after(stopAll);

  test('captureApp of the editor has the roles, titles and shape of an AT-SPI dump; tokens resolve; the epoch releases every handle', () => {
    const snap = captureWhenReady(editor, 100);
    const dump = JSON.parse(python('atspi.py', ['tree', String(editor)]));
    assert.strictEqual(snap.window.title, dump.name);
    // The window's tree first, then the menu bar's items.
    const tree = snap.elements.slice(0, dump.children.length);
    const compared = compareTree(tree, dump, 'window');
    assert.ok(compared > 300, `compared ${compared} elements`);
    const bar = snap.elements.slice(dump.children.length);
    assert.deepStrictEqual(bar.map((e) => e.role), Array(6).fill('AXMenuBarItem'));
    assert.deepStrictEqual(bar.map((e) => e.title), ['File', 'Edit', 'Search', 'View', 'Document', 'Help']);
    // Tokens resolve to the same element.
    const all = flatten(snap.elements);
    for (const el of [all[0], all[3], all[all.length - 1]]) {
      const again = addon.readElement(el.ref);
      assert.strictEqual(again.role, el.role);
      assert.deepStrictEqual(again.bounds, el.bounds);
    }
    const text = all.find((e) => e.role === 'AXTextArea');
    assert.ok(text && text.editable, 'the editor text is editable');
    assert.ok(addon.getWindowId(text.ref) === snap.window.window_id, 'the text lies in the captured window');
    addon.releaseCaptureEpoch(editor, snap.capture_epoch);
    // Handles, counted inside the backend by a probe process of its own.
    const h = JSON.parse(run(path.join(BUILD, 'x11_ax_probe'), ['handles', String(editor)]));
    assert.ok(h.nodes > 300 && h.live_during >= h.nodes, JSON.stringify(h));
    assert.strictEqual(h.live_after, h.live_before, 'every handle released with the epoch');
  });

  test('AXPress on a background check box toggles it, and the focus guard keeps the user\'s window; hit-tests answer that check box', () => {
    const editorWindow = addon.listWindows(editor)[0].window_id;
    assert.strictEqual(addon.activateApplication(editor), true);
    waitFor(() => activeWindow() === editorWindow, 5000, 'the editor to be active');
    const snap = captureWhenReady(factory, 100);
    // The widget factory's tree too: its table's cells are not in the item
    // cache, and the table answers GetChildren only because it is asked.
    const dump = JSON.parse(python('atspi.py', ['tree', String(factory)]));
    assert.ok(compareTree(snap.elements.slice(0, dump.children.length), dump, 'factory') > 200);
    const box = flatten(snap.elements).find((e) => e.role === 'AXCheckBox' && e.title === 'checkbutton' &&
      e.enabled && e.value === '0' && e.bounds[2] > 0);
    assert.ok(box, 'an enabled, unchecked check box');
    const [cx, cy] = [box.bounds[0] + (box.bounds[2] >> 1), box.bounds[1] + (box.bounds[3] >> 1)];
    const checked = () => JSON.parse(python('atspi.py', ['checked', String(factory), String(cx), String(cy)]));
    assert.strictEqual(checked(), false);

    const r = addon.performAction(box.ref, 'AXPress');
    assert.strictEqual(r.ok, true, JSON.stringify(r));
    assert.strictEqual(r.axError, null);
    assert.strictEqual(r.pressFocusDiagnostics.guardEngaged, true);
    waitFor(() => checked() === true, 5000, 'the check box to be checked');
    assert.strictEqual(addon.readElement(box.ref).value, '1');
    // The guard's window passes; the user's window stays active throughout.
    for (let i = 0; i < 25; i++, sleep(20)) assert.strictEqual(activeWindow(), editorWindow);

    assert.deepStrictEqual(addon.performAction(box.ref, 'AXNoSuchAction'), { ok: false, axError: 'action_unsupported' });

    // GTK may answer the point with the window itself for a moment while it
    // redraws the toggled box: poll, bounded.
    let hit = null;
    waitFor(() => (hit = addon.elementAtPoint(cx, cy)) && hit.role === 'AXCheckBox', 3000,
      'the hit-test to answer the check box');
    assert.strictEqual(hit.role, 'AXCheckBox');
    assert.strictEqual(hit.title, 'checkbutton');
    assert.deepStrictEqual(hit.bounds, box.bounds);
    assert.strictEqual(addon.policyIdentityAtPoint(cx, cy).pid, factory);

    const click = addon.clickElementAtPoint(cx, cy, 1, true, 'png');
    assert.strictEqual(click.ok, true, JSON.stringify({ ...click, screenshot: undefined }));
    assert.strictEqual(click.method, 'ax_press');
    assert.strictEqual(click.pid, factory);
    // The window's image, at the window's size.
    assert.strictEqual(click.screenshot.format, 'png');
    const png = addon.inspectPngContent(Buffer.from(click.screenshot.data, 'base64'));
    const [, , w, h] = addon.listWindows(factory)[0].bounds;
    assert.deepStrictEqual([png.width, png.height], [w, h]);
    assert.ok(png.distinctColorBucketCount > 4, 'a real picture, not a blank');
    waitFor(() => checked() === false, 5000, 'the check box to be unchecked again');
    // A change made by another client reaches reads well within a record's
    // one-second life: its state-change event drops the record.
    assert.strictEqual(addon.readElement(box.ref).value, '0');
    python('atspi.py', ['press', String(factory), String(cx), String(cy)]);
    waitFor(() => addon.readElement(box.ref).value === '1', 300, 'the read to see the other client\'s press');
    assert.strictEqual(checked(), true);
    addon.releaseCaptureEpoch(factory, snap.capture_epoch);
  });

  test('setValue on the editor reads back through readElement and AT-SPI; selectText selects the range', (t) => {
    t.after(() => python('atspi.py', ['clear', String(editor)]));
    const snap = captureWhenReady(editor, 100);
    const text = flatten(snap.elements).find((e) => e.role === 'AXTextArea');
    const words = 'typed by the agent: ünïcødé ✓';
    assert.deepStrictEqual(addon.setValue(text.ref, words), { ok: true, axError: null });
    assert.strictEqual(addon.readElement(text.ref).value, words);
    assert.strictEqual(JSON.parse(python('atspi.py', ['text', String(editor)])), words);
    assert.deepStrictEqual(addon.selectText(text.ref, 6, 3), { ok: true, axError: null });
    assert.deepStrictEqual(addon.readElement(text.ref).selected_text_range, [6, 3]);
    assert.deepStrictEqual(addon.selectText(text.ref, 2, 0), { ok: true, axError: null });
    assert.deepStrictEqual(addon.readElement(text.ref).selected_text_range, [2, 0]);
    // A value where none can be set: refused, nothing changes.
    const label = flatten(snap.elements).find((e) => e.role === 'AXStaticText');
    assert.strictEqual(addon.setValue(label.ref, 'x').ok, false);
    addon.releaseCaptureEpoch(editor, snap.capture_epoch);
  });

  test('a Qt5 application survives two captures and answers a tree', { skip: noQt }, () => {
    const qt = launch('featherpad', []);
    const snap = captureWhenReady(qt.pid, 20);
    const all = flatten(snap.elements);
    assert.ok(all.some((e) => e.role === 'AXTextArea' && e.editable), 'the Qt editor text');
    assert.ok(all.some((e) => e.role === 'AXMenuBar'), 'its menu bar');
    assert.ok(snap.window.window_id > 0 && snap.window.title);
    addon.releaseCaptureEpoch(qt.pid, snap.capture_epoch);
    const again = addon.captureApp(qt.pid);
    assert.ok(again && flatten(again.elements).length >= all.length - 5);
    addon.releaseCaptureEpoch(qt.pid, again.capture_epoch);
    assert.strictEqual(qt.exitCode, null, 'featherpad still runs');
    process.kill(qt.pid, 0);
  });

  test('the synthetic 1,007-object application is captured within the node budget', async () => {
    const rows = launch(PYTHON, [ROWS_APP, 'Rows budget']);
    captureWhenReady(rows.pid, 900);
    const snap = await addon.captureAppAsync(rows.pid);
    const all = flatten(snap.elements);
    assert.strictEqual(all.length, 1000, 'the window tree fills the budget');
    assert.strictEqual(snap.window.title, 'Rows budget');
    const first = all.filter((e) => e.title === 'Check 0' || e.title === 'Go 0');
    assert.deepStrictEqual(first.map((e) => e.role), ['AXCheckBox', 'AXButton']);
    assert.ok(all.some((e) => e.role === 'AXTextField' && e.value === 'value 0' && e.editable));
    addon.releaseCaptureEpoch(rows.pid, snap.capture_epoch);
  });

  test('an application that stops answering or dies mid-capture settles the capture, never hangs', async () => {
    const rows = launch(PYTHON, [ROWS_APP, 'Rows killed']);
    const before = captureWhenReady(rows.pid, 900);
    const button = flatten(before.elements).find((e) => e.role === 'AXButton');
    // Stopped: every call costs at most the messaging time-out, once.
    process.kill(rows.pid, 'SIGSTOP');
    let t0 = Date.now();
    const stalled = await addon.captureAppAsync(rows.pid);
    assert.ok(Date.now() - t0 < 6000, `a stopped application cost ${Date.now() - t0} ms`);
    if (stalled) addon.releaseCaptureEpoch(rows.pid, stalled.capture_epoch);
    process.kill(rows.pid, 'SIGCONT');
    // Killed while the capture runs.
    t0 = Date.now();
    const pending = addon.captureAppAsync(rows.pid);
    setTimeout(() => rows.kill('SIGKILL'), 15);
    const snap = await pending;
    assert.ok(Date.now() - t0 < 6000, `the capture settled after ${Date.now() - t0} ms`);
    // A capture that settled before the kill (the application still counts
    // as hung from the stop) lets the kill run before the waits below block.
    await new Promise((resolve) => setTimeout(resolve, 30));
    if (snap) {
      assert.ok(Array.isArray(snap.elements));
      addon.releaseCaptureEpoch(rows.pid, snap.capture_epoch);
    }
    waitFor(() => rows.exitCode !== null || rows.signalCode !== null, 5000, 'the application to end');
    assert.strictEqual(addon.captureApp(rows.pid), null, 'a dead application captures as null');
    // Its tokens still resolve, and answer that the work cannot complete.
    assert.strictEqual(addon.readElement(button.ref), null);
    assert.deepStrictEqual(addon.performAction(button.ref, 'AXPress').axError, 'cannot_complete');
    addon.releaseCaptureEpoch(rows.pid, before.capture_epoch);
  });
});
