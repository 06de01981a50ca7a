'use strict';
// Global keyboard input through the HID tap (it reaches the frontmost
// application), key holds and their cancellation, the focus-steal switch,
// and the permanent input shutdown (in a child process, since it cannot be
// undone).
const test = require('node:test');
const assert = require('node:assert');
const { execFileSync } = require('node:child_process');
const path = require('node:path');
const addon = require('..');
const sim = require('../sim');

const FRONT = 501;
const BUNDLE = 'com.korvo.TextPad';

function fresh() {
  sim.reset();
  sim.loadSampleScene();
  sim.setAttribute('textpad.text', 'AXValue', '');
  sim.clearEvents();
  sim.setTimeScale(20);
}
const text = () => sim.element('textpad.text').value;
const keyEvents = sim.keyEvents;
const compact = sim.keyTrace;

test.describe('global typing and chords', () => {
  test.beforeEach(fresh);
  test.after(() => sim.setTimeScale(1));

  test('typing reaches the frontmost application; CR LF is one Enter', () => {
    assert.strictEqual(addon.typeTextGlobal('a\r\nb'), true);
    assert.strictEqual(compact(), 'd[a]/0 u[a]/0 d36/0 u36/0 d[b]/0 u[b]/0');
    assert.ok(keyEvents().every((e) => e.route === 'hid' && e.pid === FRONT && e.source === 'combinedSession'));
    assert.strictEqual(text(), 'a\nb');
    assert.strictEqual(addon.typeTextGlobal(''), true);
    assert.strictEqual(addon.typeTextGlobal('x'.repeat(1025)), false);
  });

  test('runs hold at most 20 units, end at tabs and keep surrogate pairs whole', () => {
    assert.strictEqual(addon.typeTextGlobal('x'.repeat(45)), true);
    const sizes = () => keyEvents().filter((e) => e.type === 'keyDown').map((e) => e.unicodeUnits.length || e.keycode);
    assert.deepStrictEqual(sizes(), [20, 20, 5]);
    sim.clearEvents();
    assert.strictEqual(addon.typeTextGlobal('y'.repeat(10) + '\t' + 'z'.repeat(3)), true);
    assert.deepStrictEqual(sizes(), [10, 48, 3]);
    sim.clearEvents();
    const emoji = 'e'.repeat(19) + '🎉' + 'f';
    assert.strictEqual(addon.typeTextGlobal(emoji), true);
    assert.deepStrictEqual(sizes(), [19, 3]);
    assert.ok(text().endsWith(emoji));
  });

  test('a chord press carries its modifiers; more than one key is refused', () => {
    assert.strictEqual(addon.pressKeyGlobal('cmd+c'), true);
    assert.strictEqual(compact(), 'd8/100000 u8/100000');
    sim.clearEvents();
    assert.strictEqual(addon.pressKeyGlobal('ctrl+alt'), true);
    assert.strictEqual(compact(), 'd59/40000 d58/c0000 u58/40000 u59/0');
    assert.strictEqual(addon.pressKeyGlobal('a+b'), false);
    assert.strictEqual(addon.pressKeyGlobal('none'), false);
    assert.strictEqual(addon.pressKeyGlobal('cmd+nokey'), false);
    assert.strictEqual(keyEvents().length, 4, 'refused chords post nothing');
  });

  test('keyDownGlobal and keyUpGlobal mirror each other', () => {
    assert.strictEqual(addon.keyDownGlobal('cmd+shift+4'), true);
    assert.strictEqual(compact(), 'd55/100000 d56/120000 d21/120000');
    assert.deepStrictEqual(sim.heldKeys(FRONT), [21, 55, 56]);
    sim.clearEvents();
    assert.strictEqual(addon.keyUpGlobal('cmd+shift+4'), true);
    assert.strictEqual(compact(), 'u21/120000 u56/100000 u55/0');
    assert.deepStrictEqual(sim.heldKeys(), {});
    // A press half that fails releases what it pressed.
    sim.clearEvents();
    assert.strictEqual(addon.keyDownGlobal('alt+nokey'), false);
    assert.strictEqual(compact(), 'd58/80000 u58/0');
    assert.deepStrictEqual(sim.heldKeys(), {});
    assert.strictEqual(addon.keyUpGlobal('a+b'), false);
  });

  test('not trusted: nothing is posted', () => {
    sim.setPermissions({ accessibility: false });
    assert.strictEqual(addon.typeTextGlobal('a'), false);
    assert.strictEqual(addon.pressKeyGlobal('a'), false);
    assert.strictEqual(addon.keyDownGlobal('a'), false);
    assert.strictEqual(addon.holdKeyGlobal('a', 0), false);
    assert.strictEqual(keyEvents().length, 0);
  });
});

test.describe('global holds', () => {
  test.beforeEach(fresh);
  test.after(() => sim.setTimeScale(1));

  test('holdKeyGlobal accepts 0 to 30000 ms', () => {
    for (const bad of [30001, -1, NaN, Infinity]) assert.strictEqual(addon.holdKeyGlobal('a', bad), false, String(bad));
    assert.strictEqual(keyEvents().length, 0);
    const start = sim.clockNow();
    assert.strictEqual(addon.holdKeyGlobal('shift+a', 500), true);
    assert.ok(sim.clockNow() - start >= 500);
    assert.strictEqual(compact(), 'd56/20000 d0/20000 u0/20000 u56/0');
    assert.strictEqual(text(), 'A');
  });

  test('an async hold is cancelled through its session and releases every key', async () => {
    sim.setTimeScale(1);
    const hold = addon.holdKeyGlobalAsync('cmd+shift+x', 30000, 'agent-g');
    assert.ok(await sim.waitFor(() => sim.heldKeys(FRONT).length === 3));
    // The hold owns the input sequence: other input is refused meanwhile.
    assert.strictEqual(addon.pressKeyGlobal('a'), false);
    assert.deepStrictEqual(await addon.pressKeyToPidVerified(FRONT, BUNDLE, 'a'), { ok: false, error: 'input_busy' });
    const t0 = Date.now();
    assert.strictEqual(addon.cancelInputHoldsForSession('agent-g'), true);
    assert.strictEqual(addon.cancelInputHoldsForSession('agent-g'), false);
    assert.strictEqual(await hold, false);
    assert.ok(Date.now() - t0 < 1000);
    assert.deepStrictEqual(sim.heldKeys(), {});
    assert.strictEqual(compact(), 'd55/100000 d56/120000 d7/120000 u7/120000 u56/100000 u55/0');
    // A cancelled key refuses later holds at once.
    sim.clearEvents();
    assert.strictEqual(await addon.holdKeyGlobalAsync('a', 10, 'agent-g'), false);
    assert.strictEqual(keyEvents().length, 0);
    assert.strictEqual(await addon.holdKeyGlobalAsync('a', 10, 'agent-h'), true);
    assert.strictEqual(addon.cancelInputHoldsForSession(''), false);
  });

  test('async holds are admitted like other input', async () => {
    const nine = Array.from({ length: 9 }, () => addon.holdKeyGlobalAsync('a', 0));
    assert.strictEqual(await nine[8], false, 'the ninth is refused at once');
    assert.strictEqual(await addon.holdKeyGlobalAsync('a+b', 10), false);
    assert.strictEqual(await addon.holdKeyGlobalAsync('a', 30001), false);
    await Promise.all(nine);
  });
});

test.describe('focus-steal prevention', () => {
  test.beforeEach(fresh);
  test.afterEach(() => addon.reenableActivation());

  test('global input refuses before its argument checks; cancellation still works', async () => {
    addon.preventActivation();
    assert.strictEqual(addon.typeTextGlobal(42), false);
    assert.strictEqual(addon.pressKeyGlobal('a'), false);
    assert.strictEqual(addon.holdKeyGlobal(), false);
    assert.strictEqual(addon.keyDownGlobal(null), false);
    assert.strictEqual(addon.keyUpGlobal('a'), false);
    assert.strictEqual(await addon.holdKeyGlobalAsync(1, 2), false);
    assert.strictEqual(addon.cancelInputHoldsForSession('fsp-session'), true);
    assert.strictEqual(keyEvents().length, 0);
    // Input addressed to one process is not affected.
    assert.strictEqual(await addon.typeTextToPid(FRONT, 'ok'), true);
    addon.reenableActivation();
    assert.strictEqual(addon.typeTextGlobal('!'), true);
    assert.strictEqual(text(), 'ok!');
  });
});

test('wrong argument types throw the documented TypeErrors', () => {
  const cases = [
    [() => addon.typeTextGlobal(1), 'typeTextGlobal(text) expects a string'],
    [() => addon.pressKeyGlobal(), 'pressKeyGlobal(text) expects a key text'],
    [() => addon.holdKeyGlobal('a', '5'), 'holdKeyGlobal(text, durationMs) expects a key text and a duration in milliseconds'],
    [() => addon.holdKeyGlobalAsync('a'), 'holdKeyGlobalAsync(text, durationMs) expects a key text and a duration in milliseconds'],
    [() => addon.keyDownGlobal(4), 'keyDownGlobal(key) expects a key string'],
    [() => addon.keyUpGlobal({}), 'keyUpGlobal(key) expects a key string'],
    [() => addon.cancelInputHoldsForSession(7), 'cancelInputHoldsForSession(sessionKey) expects a non-empty string'],
  ];
  for (const [call, message] of cases) assert.throws(call, { name: 'TypeError', message });
});

// Runs `body` (an async function's source) in a fresh node process with the
// add-on and desktop-sim loaded; answers what it printed as JSON.
function inChild(body) {
  const root = path.join(__dirname, '..');
  const script = `
    const addon = require(${JSON.stringify(root)});
    const sim = require(${JSON.stringify(path.join(root, 'sim'))});
    (async () => {
      sim.reset(); sim.loadSampleScene(); sim.setAttribute('textpad.text', 'AXValue', '');
      const out = await (${body})(addon, sim);
      process.stdout.write(JSON.stringify(out));
    })();`;
  return JSON.parse(execFileSync(process.execPath, ['-e', script], { timeout: 60000 }).toString());
}

test('shutting input down ends running holds and refuses everything after', () => {
  const out = inChild(`async (addon, sim) => {
    const hold = addon.holdKeyToPidVerified(501, 'com.korvo.TextPad', 'shift+z', 30);
    await sim.waitFor(() => sim.heldKeys(501).length === 2);
    const first = addon.cancelPendingInputHolds();
    const held = await hold;
    return {
      first, held, heldKeys: sim.heldKeys(),
      second: addon.cancelPendingInputHolds(),
      press: addon.pressKeyGlobal('a'),
      type: await addon.typeTextToPidVerified(501, 'com.korvo.TextPad', 'x'),
      hold: await addon.holdKeyToPidVerified(501, 'com.korvo.TextPad', 'a', 1),
      holdAsync: await addon.holdKeyGlobalAsync('a', 1),
      typeGlobal: addon.typeTextGlobal('y'),
      text: sim.element('textpad.text').value,
    };
  }`);
  assert.deepStrictEqual(out, {
    first: true,
    held: { ok: false, error: 'cancelled' },
    heldKeys: {},
    second: false,
    press: false,
    type: { ok: false, error: 'cancelled' },
    hold: { ok: false, error: 'cancelled' },
    holdAsync: false,
    typeGlobal: false,
    text: 'Z', // the hold's own key-down; nothing after the shutdown
  });
});

test('without the private window-server entries window-addressed keyboard input is rejected', () => {
  const out = inChild(`async (addon, sim) => {
    sim.setPrivateEntriesAbsent(['SLEventPostToPid']);
    return {
      window: await addon.typeTextToPidVerified(501, 'com.korvo.TextPad', 'w', 101),
      hold: await addon.holdKeyToPidVerified(501, 'com.korvo.TextPad', 'a', 0, null, 101),
      pid: await addon.typeTextToPidVerified(501, 'com.korvo.TextPad', 'p'),
      text: sim.element('textpad.text').value,
    };
  }`);
  assert.deepStrictEqual(out, {
    window: { ok: false, error: 'rejected' },
    hold: { ok: false, error: 'rejected' },
    pid: { ok: true, error: null },
    text: 'p',
  });
});
