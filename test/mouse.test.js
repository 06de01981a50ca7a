'use strict';
// Global and per-process mouse input on the simulated desktop: exact event
// sequences with their fields, argument checks and their order, left-button
// ownership, physical modifiers, focus-steal prevention, the pointer wait at
// the end of a drag and the ghost cursor's part.
const test = require('node:test');
const assert = require('node:assert');
const addon = require('..');
const sim = require('../sim');

const TEXTPAD = 501;
const BOLD = [166, 128];  // centre of textpad.bold
const SHIFT = 0x20000;

function fresh() {
  sim.reset();
  sim.loadSampleScene();
  sim.clearEvents();
  sim.setTimeScale(20);
  addon.ghostSetEnabled(false);
}
const MOUSE_TYPES = new Set([1, 2, 3, 4, 5, 6, 7, 22, 25, 26, 27]);
const mouse = () => sim.events().filter((e) => MOUSE_TYPES.has(e.typeCode));
// One compact line per event: type, click state, button number, tag, flags.
function trace(events = mouse()) {
  return events
    .map((e) => {
      let s = e.type;
      if (e.fields['1'] !== undefined) s += `#${e.fields['1']}`;
      if (e.fields['3'] !== undefined) s += `b${e.fields['3']}`;
      if (e.fields['42'] !== undefined) s += `t${e.fields['42']}`;
      if (e.flagsSet) s += `/${e.flags.toString(16)}`;
      return s;
    })
    .join(' ');
}
const typeError = (message) => ({ name: 'TypeError', message });

test.describe('clicks', () => {
  test.beforeEach(fresh);
  test.after(() => sim.setTimeScale(1));

  test('a double click posts two pairs with click states 1 and 2 and presses twice', () => {
    assert.strictEqual(addon.clickAtPoint(...BOLD, 'left', 2), true);
    assert.strictEqual(trace(), 'leftMouseDown#1 leftMouseUp#1 leftMouseDown#2 leftMouseUp#2');
    const events = mouse();
    assert.ok(events.every((e) => e.route === 'hid' && e.source === 'combinedSession'));
    assert.deepStrictEqual(events[0].location, { x: BOLD[0], y: BOLD[1] });
    assert.strictEqual(sim.element('textpad.bold').pressCount, 2);
    assert.deepStrictEqual(sim.pointer(), { x: BOLD[0], y: BOLD[1] });
  });

  test('the button number is written only for the middle button', () => {
    assert.strictEqual(addon.clickAtPoint(700, 700, ' Middle ', 1), true);
    assert.strictEqual(addon.clickAtPoint(700, 700, 'RIGHT', 3, 'none'), true);
    assert.strictEqual(
      trace(),
      'otherMouseDown#1b2 otherMouseUp#1b2 rightMouseDown#1 rightMouseUp#1 ' +
        'rightMouseDown#2 rightMouseUp#2 rightMouseDown#3 rightMouseUp#3');
  });

  test('held modifiers are used only when no modifiers text is given, then cleared', () => {
    sim.setHeldModifiers(SHIFT | 0x100);
    assert.strictEqual(addon.clickAtPoint(700, 700, 'left', 1), true);
    assert.strictEqual(trace(), 'leftMouseDown#1/20000 leftMouseUp#1/20000 mouseMoved/0');
    sim.clearEvents();
    assert.strictEqual(addon.clickAtPoint(700, 700, 'left', 1, ''), true);
    assert.strictEqual(trace(), 'leftMouseDown#1/20000 leftMouseUp#1/20000 mouseMoved/0');
    sim.clearEvents();
    assert.strictEqual(addon.clickAtPoint(700, 700, 'left', 1, 'none'), true);
    assert.strictEqual(trace(), 'leftMouseDown#1 leftMouseUp#1');
    sim.clearEvents();
    assert.strictEqual(addon.clickAtPoint(700, 700, 'left', 1, 'cmd+x'), true);
    assert.strictEqual(trace(), 'leftMouseDown#1/100000 leftMouseUp#1/100000 mouseMoved/0');
  });

  test('argument checks: types, then values, then trust, then the button', () => {
    assert.throws(() => addon.clickAtPoint(1, 2, 3, 1), typeError(
      "clickAtPoint(x, y, button, clicks, modifiers?) expects two numbers, a button string, a click count, and an optional modifiers string"));
    for (const clicks of [0, 4, 1.5, NaN]) {
      assert.throws(() => addon.clickAtPoint(1, 2, 'left', clicks),
        typeError('clickAtPoint requires finite coordinates and 1..3 clicks'), String(clicks));
    }
    assert.throws(() => addon.clickAtPoint(Infinity, 2, 'left', 1),
      typeError('clickAtPoint requires finite coordinates and 1..3 clicks'));
    assert.throws(() => addon.clickAtPoint(1, 2, 'centre', 1),
      typeError("clickAtPoint: button must be 'left', 'right', or 'middle'"));
    sim.setPermissions({ accessibility: false });
    assert.strictEqual(addon.clickAtPoint(1, 2, 'centre', 1), false);
    assert.throws(() => addon.clickAtPoint(1, 2, 'left', 9), /1\.\.3 clicks/);
    assert.deepStrictEqual(mouse(), []);
  });

  test('a click that the platform refuses answers false and leaves the button free', () => {
    sim.injectFault({ op: 'Post', error: -1 });
    assert.strictEqual(addon.clickAtPoint(700, 700, 'left', 1), false);
    assert.strictEqual(addon.clickAtPoint(700, 700, 'left', 1), true);
  });
});

test.describe('moves, scrolls and the held left button', () => {
  test.beforeEach(fresh);
  test.after(() => sim.setTimeScale(1));

  test('moveTo moves the pointer; scrollAt posts a move and a two-wheel pixel scroll', () => {
    assert.strictEqual(addon.moveTo(300, 310), true);
    assert.deepStrictEqual(sim.pointer(), { x: 300, y: 310 });
    sim.clearEvents();
    assert.strictEqual(addon.scrollAt(0, 0, 100, ' Left '), true);
    const [moved, scroll] = mouse();
    assert.strictEqual(moved.type, 'mouseMoved');
    assert.strictEqual(scroll.type, 'scrollWheel');
    assert.deepStrictEqual(scroll.scroll, { pixelUnits: true, wheelCount: 2, deltas: [0, -100, 0] });
    sim.clearEvents();
    for (const [dir, deltas] of [['up', [7, 0, 0]], ['down', [-7, 0, 0]], ['right', [0, 7, 0]]]) {
      assert.strictEqual(addon.scrollAt(5, 5, 7, dir), true);
      assert.deepStrictEqual(mouse().pop().scroll.deltas, deltas, dir);
    }
    assert.throws(() => addon.scrollAt(0, 0, 101, 'up'),
      typeError('scrollAt requires finite coordinates and an integer delta from 1 to 100'));
    assert.throws(() => addon.scrollAt(0, 0, 1, 'sideways'),
      typeError("scrollAt: direction must be 'up', 'down', 'left', or 'right'"));
    assert.throws(() => addon.moveTo('1', 2), typeError('moveTo(x, y) expects two numbers'));
    assert.throws(() => addon.moveTo(NaN, 2), typeError('moveTo coordinates must be finite'));
  });

  test('mouseDown, moveTo, mouseUp drag the held button; other global input is refused meanwhile', () => {
    sim.setPointer(700, 700);
    assert.strictEqual(addon.mouseDown('left'), true);
    assert.strictEqual(addon.clickAtPoint(700, 700, 'left', 1), false);
    assert.strictEqual(addon.scrollAt(700, 700, 1, 'up'), false);
    assert.strictEqual(addon.drag(700, 700, 710, 710, 'left'), false);
    assert.strictEqual(addon.mouseDown('left'), false);
    assert.strictEqual(addon.moveTo(720, 730), true);
    assert.strictEqual(addon.mouseUp('left'), true);
    assert.strictEqual(trace(), 'leftMouseDown leftMouseDragged leftMouseUp');
    const [down, dragged, up] = mouse();
    assert.deepStrictEqual(down.location, { x: 700, y: 700 });
    assert.deepStrictEqual(dragged.location, { x: 720, y: 730 });
    assert.deepStrictEqual(up.location, { x: 720, y: 730 });
    // Released: global input works again, a second mouseUp has nothing to release.
    assert.strictEqual(addon.mouseUp('left'), false);
    assert.strictEqual(addon.clickAtPoint(700, 700, 'left', 1), true);
  });

  test('mouseUp("left") without mouseDown posts nothing and skips the trust check', () => {
    assert.strictEqual(addon.mouseUp('left'), false);
    assert.deepStrictEqual(mouse(), []);
    assert.throws(() => addon.mouseUp('thumb'), typeError("mouseUp: button must be 'left', 'right', or 'middle'"));
    assert.throws(() => addon.mouseDown(1), typeError('mouseDown(button) expects a button string'));
    sim.setPermissions({ accessibility: false });
    assert.strictEqual(addon.mouseDown('right'), false);
    assert.strictEqual(addon.mouseUp('right'), false);
    assert.deepStrictEqual(mouse(), []);
  });

  test('a mouseUp("left") the platform refuses still frees the left button', () => {
    assert.strictEqual(addon.mouseDown('left'), true);
    sim.injectFault({ op: 'Post', error: -1 });
    assert.strictEqual(addon.mouseUp('left'), false);
    assert.strictEqual(addon.clickAtPoint(700, 700, 'left', 1), true);
  });

  test('middle and right presses keep no state', () => {
    assert.strictEqual(addon.mouseDown('middle'), true);
    assert.strictEqual(addon.mouseUp('middle'), true);
    assert.strictEqual(addon.mouseUp('right'), true);
    assert.strictEqual(trace(), 'otherMouseDownb2 otherMouseUpb2 rightMouseUp');
    assert.strictEqual(addon.clickAtPoint(700, 700, 'left', 1), true);
  });
});

test.describe('drags', () => {
  test.beforeEach(fresh);
  test.after(() => sim.setTimeScale(1));

  const steps = (from, to) =>
    Array.from({ length: 10 }, (_, i) => ({
      x: from[0] + ((to[0] - from[0]) * (i + 1)) / 10,
      y: from[1] + ((to[1] - from[1]) * (i + 1)) / 10,
    }));

  test('a drag moves, presses, takes ten steps and releases at the target', () => {
    assert.strictEqual(addon.drag(200, 300, 400, 500, 'left', 'shift'), true);
    assert.strictEqual(
      trace(),
      'mouseMoved leftMouseDown/20000 ' + 'leftMouseDragged/20000 '.repeat(10) + 'leftMouseUp/20000 mouseMoved/0');
    const events = mouse();
    assert.deepStrictEqual(events.slice(2, 12).map((e) => e.location), steps([200, 300], [400, 500]));
    assert.deepStrictEqual(events[12].location, { x: 400, y: 500 });
    assert.ok(events[1].simMs - events[0].simMs >= 50, 'pause before the press');
    assert.deepStrictEqual(sim.pointer(), { x: 400, y: 500 });
  });

  test('the release waits for the pointer, and gives up after 130 ms when it never arrives', () => {
    const releaseWait = () => {
      const events = mouse();
      const up = events.find((e) => e.type === 'leftMouseUp');
      const lastStep = events.filter((e) => e.type === 'leftMouseDragged').pop();
      return up.simMs - lastStep.simMs;
    };
    // Real time here: at a faster scale scheduling noise would count many
    // times over against the upper bound.
    sim.setTimeScale(1);
    assert.strictEqual(addon.drag(200, 300, 400, 500, 'left', 'none'), true);
    const followed = releaseWait();
    assert.ok(followed >= 18 + 30 && followed < 18 + 130, `followed ${followed}`);
    sim.clearEvents();
    sim.setOptions({ pointerFollowsEvents: false });
    sim.setPointer(0, 0);
    assert.strictEqual(addon.drag(200, 300, 400, 500, 'left', 'none'), true);
    assert.ok(releaseWait() >= 18 + 130, `stuck ${releaseWait()}`);
  });

  test('dragAsync runs the same sequence on a worker; bad values resolve false', async () => {
    assert.strictEqual(await addon.dragAsync(10, 10, 20, 20, 'middle', 'none'), true);
    assert.strictEqual(trace(), 'mouseMoved otherMouseDownb2 ' + 'otherMouseDraggedb2 '.repeat(10) + 'otherMouseUpb2');
    assert.strictEqual(await addon.dragAsync(NaN, 10, 20, 20, 'left'), false);
    assert.strictEqual(await addon.dragAsync(10, 10, 20, 20, 'thumb'), false);
    assert.throws(() => addon.dragAsync(1, 2, 3, 4), typeError(
      'dragAsync(fromX, fromY, toX, toY, button, modifiers?) expects four numbers, a button string, and optional modifiers'));
    assert.throws(() => addon.drag(1, 2, 3, NaN, 'left'), typeError('drag coordinates must be finite'));
  });

  test('drags take the input sequence mutex; clicks do not', async () => {
    // A long hold, ended by cancelling its session once the drags were tried.
    const hold = addon.holdKeyToPidVerified(TEXTPAD, 'com.korvo.TextPad', 'shift', 30, 'mouse-test-hold');
    await sim.waitFor(() => sim.heldKeys(TEXTPAD).length > 0, { timeoutMs: 5000 });
    assert.strictEqual(addon.drag(10, 10, 20, 20, 'left'), false);
    assert.strictEqual(await addon.dragAsync(10, 10, 20, 20, 'left'), false);
    assert.strictEqual(addon.clickAtPoint(700, 700, 'left', 1), true);
    addon.cancelInputHoldsForSession('mouse-test-hold');
    assert.deepStrictEqual(await hold, { ok: false, error: 'cancelled' });
    assert.strictEqual(addon.drag(10, 10, 20, 20, 'left'), true);
  });
});

test.describe('focus-steal prevention', () => {
  test.beforeEach(fresh);
  test.afterEach(() => addon.reenableActivation());
  test.after(() => sim.setTimeScale(1));

  test('clicks, scrolls and drags refuse before their argument checks; moves still work', async () => {
    addon.preventActivation();
    assert.strictEqual(addon.clickAtPoint('x'), false);
    assert.strictEqual(addon.scrollAt(), false);
    assert.strictEqual(addon.drag(1, 2, 3, 4, 'left'), false);
    assert.strictEqual(await addon.dragAsync(), false);
    assert.deepStrictEqual(mouse(), []);
    assert.strictEqual(addon.moveTo(10, 20), true);
    assert.strictEqual(addon.moveToPid(TEXTPAD, 10, 20), true);
    assert.strictEqual(addon.mouseDown('left'), true);
    assert.strictEqual(addon.mouseUp('left'), true);
  });
});

test.describe('per-process input', () => {
  test.beforeEach(fresh);
  test.after(() => sim.setTimeScale(1));

  test('events go to the pid and leave the pointer where it is', () => {
    sim.setPointer(5, 6);
    sim.setHeldModifiers(SHIFT);
    assert.strictEqual(addon.moveToPid(TEXTPAD, 300, 310), true);
    assert.strictEqual(addon.scrollToPid(TEXTPAD, 300, 310, 3, 'down'), true);
    assert.strictEqual(addon.mouseDownToPid(TEXTPAD, 'middle'), true);
    assert.strictEqual(addon.mouseUpToPid(TEXTPAD, 'middle'), true);
    assert.strictEqual(trace(), 'mouseMoved mouseMoved scrollWheel otherMouseDownb2 otherMouseUpb2');
    const events = mouse();
    assert.ok(events.every((e) => e.route === 'pid' && e.pid === TEXTPAD && e.source === 'combinedSession'));
    assert.deepStrictEqual(events[2].scroll.deltas, [-3, 0, 0]);
    assert.deepStrictEqual(events[3].location, { x: 5, y: 6 });
    assert.deepStrictEqual(sim.pointer(), { x: 5, y: 6 });
  });

  test('dragToPid presses the element it starts on without activating its application', () => {
    sim.setFrontmost(502);
    assert.strictEqual(addon.dragToPid(TEXTPAD, ...BOLD, ...BOLD, 'left'), true);
    assert.strictEqual(trace(), 'mouseMoved leftMouseDown ' + 'leftMouseDragged '.repeat(10) + 'leftMouseUp');
    assert.strictEqual(sim.element('textpad.bold').pressCount, 1);
    assert.strictEqual(sim.frontmost(), 502);
  });

  test('argument checks name the call', () => {
    assert.throws(() => addon.moveToPid(0, 1, 2), typeError('moveToPid requires a positive pid and finite coordinates'));
    assert.throws(() => addon.moveToPid('1', 1, 2), typeError('moveToPid(pid, x, y) expects a pid and two numbers'));
    assert.throws(() => addon.scrollToPid(1, 1, 2, 0, 'up'),
      typeError('scrollToPid requires a positive pid, finite coordinates, and an integer delta from 1 to 100'));
    assert.throws(() => addon.scrollToPid(1, 1, 2, 1, 'in'),
      typeError("scrollToPid: direction must be 'up', 'down', 'left', or 'right'"));
    assert.throws(() => addon.dragToPid(-4, 1, 2, 3, 4, 'left'),
      typeError('dragToPid requires a positive pid and finite coordinates'));
    assert.throws(() => addon.dragToPid(4, 1, 2, 3, 4, 'x'),
      typeError("dragToPid: button must be 'left', 'right', or 'middle'"));
    assert.throws(() => addon.mouseDownToPid(0, 'left'), typeError('mouseDownToPid requires a positive pid'));
    assert.throws(() => addon.mouseUpToPid(1), typeError('mouseUpToPid(pid, button) expects a pid and a button string'));
    assert.deepStrictEqual(mouse(), []);
  });
});

test.describe('with the ghost cursor', () => {
  test.beforeEach(() => {
    fresh();
    addon.ghostSetEnabled(true);
  });
  test.afterEach(() => addon.ghostSetEnabled(false));
  test.after(() => sim.setTimeScale(1));

  test('moves only move the ghost; a press lands where its glide is heading', async () => {
    sim.setPointer(5, 6);
    assert.strictEqual(addon.moveTo(900, 700), true);
    assert.strictEqual(addon.moveToPid(TEXTPAD, 900, 700), true);
    assert.deepStrictEqual(mouse(), []);
    assert.deepStrictEqual(sim.pointer(), { x: 5, y: 6 });
    assert.strictEqual(addon.moveTo(...BOLD), true);
    // Wait until the ghost is drawn somewhere, then press at once, mid-glide.
    await sim.waitFor(() => (addon.ghostState().groups || []).some((g) => g.placed), { timeoutMs: 5000 });
    assert.strictEqual(addon.mouseDown('left'), true);
    assert.strictEqual(addon.mouseUp('left'), true);
    const [down, up] = mouse();
    assert.deepStrictEqual(down.location, { x: BOLD[0], y: BOLD[1] });
    assert.deepStrictEqual(up.location, { x: BOLD[0], y: BOLD[1] });
    assert.strictEqual(sim.element('textpad.bold').pressCount, 1);
  });

  test('a drag on a worker tells the ghost through the main queue', async () => {
    assert.strictEqual(await addon.dragAsync(300, 400, 500, 420, 'left', 'none'), true);
    await sim.waitFor(() => (addon.ghostState().groups || []).some((g) => g.placed), { timeoutMs: 5000 });
    sim.clearEvents();
    assert.strictEqual(addon.mouseDown('right'), true);
    assert.deepStrictEqual(mouse()[0].location, { x: 500, y: 420 });
  });
});
