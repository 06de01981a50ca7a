'use strict';
// Element reading, actions, hit-testing and clicks on the sample scene: the
// editor (TextPad, frontmost) and the settings app (in the background).
const test = require('node:test');
const assert = require('node:assert');
const addon = require('..');
const sim = require('../sim');

const TEXTPAD = 501;
const SETTINGS = 502;

// A point inside an element of the scene, `fx` and `fy` of the way across.
function pointIn(id, fx = 0.5, fy = 0.5) {
  const [x, y, w, h] = sim.element(id).frame;
  return [Math.round(x + w * fx), Math.round(y + h * fy)];
}
let BOLD_CENTRE;

function flatten(elements, out = []) {
  for (const e of elements) {
    out.push(e);
    if (e.children) flatten(e.children, out);
  }
  return out;
}

async function capture(pid, bundleId, windowId) {
  const snap = await addon.captureAppAsync(pid, bundleId, windowId);
  assert.ok(snap, `capture of ${bundleId}`);
  addon.ackCaptureEpoch(pid, snap.capture_epoch);
  return flatten(snap.elements);
}

function refOf(elements, predicate, what) {
  const e = elements.find(predicate);
  assert.ok(e, what);
  return e.ref;
}

function pngSize(b64) {
  const buf = Buffer.from(b64, 'base64');
  assert.ok(buf.subarray(0, 8).equals(Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a])));
  assert.strictEqual(buf.toString('latin1', 12, 16), 'IHDR');
  return [buf.readUInt32BE(16), buf.readUInt32BE(20)];
}

// Waits until no focus guard watches activations any more (its 350 ms
// window is over).
async function guardSettled() {
  return sim.waitFor(() => sim.stats().observers === 0, { timeoutMs: 3000 });
}

test.describe('reading and editing elements of the editor', () => {
  let editor;
  test.before(async () => {
    sim.clearFaults();
    sim.loadSampleScene();
    editor = await capture(TEXTPAD, 'com.korvo.TextPad');
  });

  test('set a value, read it back, select and focus', () => {
    const text = refOf(editor, (e) => e.role === 'AXTextArea', 'the document text area');
    assert.deepStrictEqual(addon.setValue(text, 'Hello from the agent'), { ok: true, axError: null });
    assert.strictEqual(sim.element('textpad.text').value, 'Hello from the agent');

    const read = addon.readElement(text);
    assert.strictEqual(read.ref, text, 'the token is reused');
    assert.strictEqual(read.value, 'Hello from the agent');
    assert.strictEqual(read.role, 'AXTextArea');
    assert.strictEqual(read.editable, true);
    assert.strictEqual(read.ownerPid, TEXTPAD);
    assert.deepStrictEqual(read.bounds, [128, 156, 884, 556]);
    assert.strictEqual('children' in read, false);
    assert.strictEqual('title' in read, false, 'no title fallbacks on a single read');
    const order = ['ref', 'role', 'subrole', 'title', 'description', 'value', 'bounds', 'enabled',
      'focused', 'selected', 'selected_text_range', 'actions', 'editable', 'ownerPid'];
    const keys = Object.keys(read);
    assert.deepStrictEqual(keys, order.filter((k) => keys.includes(k)));

    // Text areas take a selection by default; one whose selection is not
    // settable refuses it.
    sim.setElement('textpad.text', { notSettable: ['AXSelectedTextRange'] });
    assert.deepStrictEqual(addon.selectText(text, 0, 5), { ok: false, axError: 'attribute_unsupported' });
    sim.setElement('textpad.text', { settable: ['AXValue', 'AXFocused', 'AXSelectedTextRange'] });
    assert.deepStrictEqual(addon.selectText(text, 0, 5), { ok: true, axError: null });
    assert.deepStrictEqual(addon.readElement(text).selected_text_range, [0, 5]);
    assert.deepStrictEqual(addon.selectText(text, 0, 0), { ok: true, axError: null });
    assert.deepStrictEqual(addon.setFocused(text), { ok: true, axError: null });
    assert.strictEqual(addon.getWindowId(text), 101);
  });

  test('platform errors come back as error names', () => {
    const text = refOf(editor, (e) => e.role === 'AXTextArea', 'text area');
    const heading = refOf(editor, (e) => e.role === 'AXToolbar', 'toolbar');
    const out = addon.performAction(text, 'AXPress');
    assert.strictEqual(out.ok, false);
    assert.strictEqual(out.axError, 'action_unsupported');
    assert.deepStrictEqual(addon.setValue(heading, 'x'), { ok: false, axError: 'attribute_unsupported' });
    sim.injectFault({ op: 'SetAttributeValue', attribute: 'AXValue', error: -25204 });
    assert.deepStrictEqual(addon.setValue(text, 'x'), { ok: false, axError: 'cannot_complete' });
    sim.injectFault({ op: 'SetAttributeValue', attribute: 'AXFocused', error: -25209 });
    assert.deepStrictEqual(addon.setFocused(text), { ok: false, axError: 'failure' });
  });

  test('bad arguments are answered, never thrown', () => {
    const text = refOf(editor, (e) => e.role === 'AXTextArea', 'text area');
    const illegal = { ok: false, axError: 'illegal_argument' };
    const invalid = { ok: false, axError: 'invalid_element' };
    assert.deepStrictEqual(addon.performAction(text, 42), illegal);
    assert.deepStrictEqual(addon.performAction(text), illegal);
    assert.deepStrictEqual(addon.performAction('axh-0', 'AXPress'), invalid);
    assert.deepStrictEqual(addon.performAction(), invalid);
    assert.deepStrictEqual(addon.performAction(17, 'AXPress'), invalid);
    assert.deepStrictEqual(addon.setValue(text, 5), illegal);
    assert.deepStrictEqual(addon.setValue(text), illegal);
    assert.deepStrictEqual(addon.setValue('axh-999999', 'x'), invalid);
    assert.deepStrictEqual(addon.setFocused({}), invalid);
    for (const [loc, len] of [[5, -1], [1.5, 2], [2147483647, 1], [-1, 0], [NaN, 0], [0, Infinity],
      ['1', 2], [1, null], [2 ** 31, 0]]) {
      assert.deepStrictEqual(addon.selectText(text, loc, len), illegal, `${loc}, ${len}`);
    }
    assert.notStrictEqual(addon.selectText(text, 2147483647, 0).axError, 'illegal_argument');
    assert.deepStrictEqual(addon.selectText('nope', 0, 0), invalid);
    for (const bad of [undefined, null, 42, 'axh-0', '', {}]) {
      assert.strictEqual(addon.readElement(bad), null);
      assert.strictEqual(addon.getWindowId(bad), null);
    }
  });

  test('a token whose application quit reads as null and acts as a dead element', async () => {
    const settings = await capture(SETTINGS, 'com.korvo.Settings');
    const row = refOf(settings, (e) => e.title === 'General', 'General row');
    assert.ok(addon.readElement(row));
    sim.quitApp(SETTINGS);
    assert.strictEqual(addon.readElement(row), null);
    assert.strictEqual(addon.getWindowId(row), null);
    const out = addon.performAction(row, 'AXPress');
    assert.strictEqual(out.ok, false);
    assert.ok(['invalid_element', 'cannot_complete'].includes(out.axError), out.axError);
    assert.strictEqual(addon.setValue(row, 'x').ok, false);
    sim.loadSampleScene();
    editor = await capture(TEXTPAD, 'com.korvo.TextPad');
  });
});

test.describe('presses and the focus guard', () => {
  test.beforeEach(async () => {
    await guardSettled();
    sim.clearFaults();
    sim.loadSampleScene();
    // The checkbox wakes its application when pressed, as many do.
    sim.setElement('settings.autosave', { onPress: { activate: true } });
  });
  test.after(guardSettled);

  test('a background press runs, the guard engages and the user keeps the foreground', async () => {
    const settings = await capture(SETTINGS, 'com.korvo.Settings');
    const box = refOf(settings, (e) => e.role === 'AXCheckBox', 'autosave checkbox');
    const before = sim.element('settings.autosave').pressCount;

    const out = addon.performAction(box, 'AXPress');
    assert.strictEqual(out.ok, true);
    assert.strictEqual(out.axError, null);
    assert.strictEqual(sim.element('settings.autosave').pressCount, before + 1);
    const d = out.pressFocusDiagnostics;
    assert.deepStrictEqual(Object.keys(d), ['guardEngaged', 'frontmostPid', 'axFocusedPidBefore',
      'axFocusedPidAfterSet', 'axFocusedPidAfterPress', 'focusSetStatus', 'appFrontmostBefore',
      'appFrontmostAfterSet', 'appFrontmostAfterPress', 'elementFocusedBefore', 'elementSelectedBefore',
      'elementSelectedAfterPress', 'msSinceKeyboardEnd', 'pressMs']);
    assert.strictEqual(d.guardEngaged, true);
    assert.strictEqual(d.frontmostPid, TEXTPAD);
    assert.strictEqual(d.appFrontmostBefore, 0);
    assert.strictEqual(d.msSinceKeyboardEnd, -1);
    assert.ok(d.pressMs >= 0);
    // The guard names the pressed application as focused without activating it.
    assert.strictEqual(d.focusSetStatus, null);
    assert.strictEqual(d.axFocusedPidBefore, TEXTPAD);
    assert.strictEqual(d.axFocusedPidAfterSet, SETTINGS);

    // The press woke the settings app; the guard hands the foreground back.
    assert.strictEqual(sim.stats().observers, 1, 'the guard watches activations');
    assert.strictEqual(await sim.waitFor(() => sim.frontmost() === TEXTPAD, { timeoutMs: 2000 }), true);
    assert.strictEqual(await guardSettled(), true, 'the observer goes away when the guard expires');
    assert.strictEqual(sim.frontmost(), TEXTPAD);
  });

  test('every guard restores the foreground, not only the first one', async () => {
    const settings = await capture(SETTINGS, 'com.korvo.Settings');
    const box = refOf(settings, (e) => e.role === 'AXCheckBox', 'autosave checkbox');
    for (let round = 0; round < 3; round++) {
      assert.strictEqual(addon.performAction(box, 'AXPress').pressFocusDiagnostics.guardEngaged, true);
      assert.strictEqual(sim.stats().observers, 1, `round ${round}: observer installed`);
      // Restored while the guard is still running, by the observer.
      assert.strictEqual(await sim.waitFor(() => sim.frontmost() === TEXTPAD, { timeoutMs: 300 }), true,
        `round ${round}: restored within the guard window`);
      assert.strictEqual(await guardSettled(), true);
    }
  });

  test('a press on the frontmost application needs no guard', async () => {
    const editor = await capture(TEXTPAD, 'com.korvo.TextPad');
    const bold = refOf(editor, (e) => e.title === 'Bold', 'Bold button');
    const out = addon.performAction(bold, 'AXPress');
    assert.strictEqual(out.ok, true);
    assert.strictEqual(out.pressFocusDiagnostics.guardEngaged, false);
    assert.strictEqual(out.pressFocusDiagnostics.focusSetStatus, null);
    assert.strictEqual(out.pressFocusDiagnostics.appFrontmostBefore, 1);
    assert.strictEqual(sim.stats().observers, 0);
    // Other actions carry no diagnostics.
    const row = refOf(editor, (e) => e.title === 'Save', 'Save button');
    assert.strictEqual('pressFocusDiagnostics' in addon.performAction(row, 'AXShowMenu'), false);
  });
});

test.describe('hit-testing and clicks at a point', () => {
  test.beforeEach(async () => {
    await guardSettled();
    sim.clearFaults();
    sim.loadSampleScene();
    BOLD_CENTRE = pointIn('textpad.bold');
  });
  test.after(guardSettled);

  test('elementAtPoint issues a fresh token that acts on the element', () => {
    const hit = addon.elementAtPoint(...BOLD_CENTRE);
    assert.ok(hit);
    assert.match(hit.ref, /^axh-\d+$/);
    assert.strictEqual(hit.role, 'AXButton');
    assert.strictEqual(hit.title, 'Bold');
    assert.strictEqual(hit.ownerPid, TEXTPAD);
    const again = addon.elementAtPoint(...BOLD_CENTRE);
    assert.notStrictEqual(again.ref, hit.ref);
    const before = sim.element('textpad.bold').pressCount;
    assert.strictEqual(addon.performAction(hit.ref, 'AXPress').ok, true);
    assert.strictEqual(sim.element('textpad.bold').pressCount, before + 1);
    assert.strictEqual(addon.elementAtPoint(-5000, -5000), null);
  });

  test('policyIdentityAtPoint names the owning application', () => {
    assert.deepStrictEqual(addon.policyIdentityAtPoint(...BOLD_CENTRE), {
      pid: TEXTPAD, bundle_id: 'com.korvo.TextPad', name: 'TextPad', active: true,
    });
    // The settings window, moved where no other window covers it.
    sim.moveWindow(201, [1160, 40, 260, 200]);
    assert.deepStrictEqual(addon.policyIdentityAtPoint(1290, 140), {
      pid: SETTINGS, bundle_id: 'com.korvo.Settings', name: 'Settings', active: false,
    });
    assert.strictEqual(addon.policyIdentityAtPoint(-5000, 0), null);
  });

  test('point exports throw only for bad coordinates, and answer null when untrusted', () => {
    const cases = [
      ['elementAtPoint', 'elementAtPoint(x, y) expects global point coordinates', 'elementAtPoint coordinates must be finite'],
      ['policyIdentityAtPoint', 'policyIdentityAtPoint(x, y) expects global point coordinates', 'policyIdentityAtPoint coordinates must be finite'],
    ];
    for (const [name, typeMsg, rangeMsg] of cases) {
      for (const args of [[], [1], ['1', 2], [1, null], [{}, 1]]) {
        assert.throws(() => addon[name](...args), { name: 'TypeError', message: typeMsg });
      }
      for (const args of [[NaN, 1], [1, Infinity], [-Infinity, 0]]) {
        assert.throws(() => addon[name](...args), { name: 'TypeError', message: rangeMsg });
      }
    }
    sim.setPermissions({ accessibility: false });
    assert.strictEqual(addon.elementAtPoint(...BOLD_CENTRE), null);
    assert.strictEqual(addon.policyIdentityAtPoint(...BOLD_CENTRE), null);
    assert.deepStrictEqual(addon.clickElementAtPoint(...BOLD_CENTRE), { ok: false, method: 'not_trusted', pid: 0 });
  });

  test('click presses the element, as many times as asked', () => {
    const before = sim.element('textpad.bold').pressCount;
    assert.deepStrictEqual(addon.clickElementAtPoint(...BOLD_CENTRE), { ok: true, method: 'ax_press', pid: TEXTPAD });
    assert.deepStrictEqual(addon.clickElementAtPoint(...BOLD_CENTRE, 3), { ok: true, method: 'ax_press', pid: TEXTPAD });
    assert.strictEqual(sim.element('textpad.bold').pressCount, before + 4);
    // The text area has no press action.
    assert.deepStrictEqual(addon.clickElementAtPoint(...pointIn('textpad.text', 0.02, 0.95)),
      { ok: false, method: 'ax_error', pid: TEXTPAD });
    assert.deepStrictEqual(addon.clickElementAtPoint(-5000, -5000), { ok: false, method: 'no_element', pid: 0 });
  });

  test('click with a screenshot returns a decodable image of the window', () => {
    const png = addon.clickElementAtPoint(...BOLD_CENTRE, 1, true);
    assert.strictEqual(png.ok, true);
    assert.strictEqual(png.screenshot.format, 'png');
    const [w, h] = pngSize(png.screenshot.data);
    assert.ok(w > 0 && h > 0 && w <= 1920 && h <= 1920);
    const jpeg = addon.clickElementAtPoint(...BOLD_CENTRE, 1, true, 'jpg');
    assert.strictEqual(jpeg.screenshot.format, 'jpeg');
    assert.deepStrictEqual([...Buffer.from(jpeg.screenshot.data, 'base64').subarray(0, 2)], [0xff, 0xd8]);
    // Only a boolean asks for a screenshot.
    assert.strictEqual('screenshot' in addon.clickElementAtPoint(...BOLD_CENTRE, 1, 'yes'), false);
  });

  test('an expected owner that does not match, or cannot be told, stops the press', () => {
    const before = sim.element('textpad.bold').pressCount;
    assert.deepStrictEqual(addon.clickElementAtPoint(...BOLD_CENTRE, 1, false, 'png', SETTINGS),
      { ok: false, method: 'wrong_owner', pid: TEXTPAD });
    sim.injectFault({ op: 'GetPid', element: 'textpad.bold', error: -25204, count: -1 });
    assert.deepStrictEqual(addon.clickElementAtPoint(...BOLD_CENTRE, 1, false, 'png', TEXTPAD),
      { ok: false, method: 'wrong_owner', pid: 0 });
    assert.strictEqual(sim.element('textpad.bold').pressCount, before, 'nothing was pressed');
    // Without an expectation an element of unknown owner is still pressed.
    assert.strictEqual(addon.clickElementAtPoint(...BOLD_CENTRE).method, 'ax_press');
    sim.clearFaults();
    assert.strictEqual(addon.clickElementAtPoint(...BOLD_CENTRE, 1, false, 'png', TEXTPAD).method, 'ax_press');
  });

  test('bad click arguments throw the documented messages', () => {
    const typeMsg = 'clickElementAtPoint(x, y, clickCount?) expects x, y, optional clickCount';
    const rangeMsg = 'clickElementAtPoint requires finite coordinates and 1..3 clicks';
    for (const args of [[], [1], ['1', 2], [1, 2, '2'], [1, 2, null]]) {
      assert.throws(() => addon.clickElementAtPoint(...args), { name: 'TypeError', message: typeMsg });
    }
    for (const args of [[10, 10, 4], [10, 10, 1.5], [10, 10, 0], [NaN, 1], [1, Infinity, 1]]) {
      assert.throws(() => addon.clickElementAtPoint(...args), { name: 'TypeError', message: rangeMsg });
    }
  });
});
