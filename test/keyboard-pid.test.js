'use strict';
// Keyboard input addressed to one process: what reaches the simulated
// desktop (the journal, the focused text element, keys held down), the
// outcome codes, argument checks and admission.
const test = require('node:test');
const assert = require('node:assert');
const addon = require('..');
const sim = require('../sim');

const PID = 501;
const BUNDLE = 'com.korvo.TextPad';
const SHIFT = 0x20000;
const COMMAND = 0x100000;

// The 2-second start deadline is measured on the sim clock too, so tests
// speed time up only moderately (2 s of sim time stay 100 ms of real time).
function fresh({ scale = 20 } = {}) {
  sim.reset();
  sim.loadSampleScene();
  sim.setAttribute('textpad.text', 'AXValue', '');
  sim.clearEvents();
  sim.setTimeScale(scale);
}
const text = () => sim.element('textpad.text').value;
const keyEvents = sim.keyEvents;
const compact = sim.keyTrace;
const outcome = (error) => ({ ok: error === undefined, error: error === undefined ? null : error });

test.describe('typing into a process', () => {
  test.beforeEach(() => fresh());
  test.after(() => sim.setTimeScale(1));

  test('typed text reaches the focused text area and reads back', async () => {
    const typed = 'Dear team,\r\nthe sum is 2+2=4 (100% sure) 😀 done\n';
    assert.deepStrictEqual(await addon.typeTextToPidVerified(PID, BUNDLE, typed), outcome());
    const expected = typed.replace('\r\n', '\n');
    assert.strictEqual(text(), expected);
    const snap = addon.captureApp(PID);
    const find = (els) => els.flatMap((e) => [e, ...find(e.children || [])]);
    const area = find(snap.elements).find((e) => e.role === 'AXTextArea');
    assert.strictEqual(addon.readElement(area.ref).value, expected);
    assert.deepStrictEqual(sim.heldKeys(), {}, 'nothing left pressed');
  });

  test('digits and operators are key presses, the rest Unicode chunks', async () => {
    assert.strictEqual(await addon.typeTextToPid(PID, '2+2=4'), true);
    assert.strictEqual(compact(), 'd19 u19 d56/20000 d24/20000 u24/20000 u56/0 d19 u19 d24 u24 d21 u21');
    sim.clearEvents();
    assert.strictEqual(await addon.typeTextToPid(PID, 'hello 42'), true);
    assert.strictEqual(compact(), 'd[hello ] u[hello ] d21 u21 d19 u19');
    assert.ok(keyEvents().every((e) => e.route === 'pid' && e.pid === PID));
    assert.strictEqual(text(), '2+2=4hello 42');
  });

  test('45 letters travel as 20, 20 and 5 units, 8 ms apart', async () => {
    assert.strictEqual(await addon.typeTextToPid(PID, 'x'.repeat(45)), true);
    const downs = keyEvents().filter((e) => e.type === 'keyDown');
    assert.deepStrictEqual(downs.map((e) => e.unicodeUnits.length), [20, 20, 5]);
    for (let i = 1; i < downs.length; i++) {
      assert.ok(downs[i].simMs - downs[i - 1].simMs >= 8, `gap ${downs[i].simMs - downs[i - 1].simMs} ms`);
    }
  });

  test('an emoji across the 20-unit boundary arrives intact', async () => {
    const typed = 'a'.repeat(19) + '😀' + 'b'.repeat(25) + '👍';
    assert.strictEqual(await addon.typeTextToPid(PID, typed), true);
    const chunks = keyEvents().filter((e) => e.type === 'keyDown').map((e) => e.unicodeUnits);
    assert.deepStrictEqual(chunks.map((c) => c.length), [19, 20, 9]);
    for (const c of chunks) {
      const last = c[c.length - 1];
      assert.ok(!(last >= 0xd800 && last < 0xdc00), 'no chunk ends in a high surrogate');
    }
    assert.strictEqual(text(), typed);
  });

  test('CR LF is one Return', async () => {
    assert.strictEqual(await addon.typeTextToPid(PID, 'a\r\nb\rc\nd'), true);
    assert.strictEqual(keyEvents().filter((e) => e.keycode === 36 && e.type === 'keyDown').length, 3);
    assert.strictEqual(text(), 'a\nb\nc\nd');
  });

  test('the current keyboard layout decides the keys, and a switch is picked up', async () => {
    sim.setKeyboardLayout('de');
    assert.strictEqual(await addon.typeTextToPid(PID, '7+3=10'), true);
    assert.strictEqual(text(), '7+3=10');
    // German: "+" is its own key (30), "=" is Shift+0 (29).
    assert.strictEqual(compact().split(' ').slice(2, 4).join(' '), 'd30 u30');
    assert.ok(compact().includes('d29/20000'));
    sim.setKeyboardLayout('us');
    sim.clearEvents();
    assert.strictEqual(await addon.typeTextToPid(PID, '+'), true);
    assert.strictEqual(compact(), 'd56/20000 d24/20000 u24/20000 u56/0');
    assert.strictEqual(text(), '7+3=10+');
  });

  test('1024 units are accepted, 1025 are too long before any other check', async () => {
    assert.deepStrictEqual(await addon.typeTextToPidVerified(0, '', 'x'.repeat(1025)), outcome('text_too_long'));
    assert.strictEqual(await addon.typeTextToPid(0, 'x'.repeat(1025)), false);
    assert.deepStrictEqual(await addon.typeTextToPidVerified(PID, BUNDLE, 'y'.repeat(1024)), outcome());
    assert.strictEqual(text().length, 1024);
    assert.strictEqual(await addon.typeTextToPid(PID, ''), true);
  });

  test('window-addressed typing goes through the private path, stamped with the window', async () => {
    assert.deepStrictEqual(await addon.typeTextToPidVerified(PID, BUNDLE, 'hi 5', 101), outcome());
    const events = keyEvents();
    assert.strictEqual(events.length, 4);
    for (const e of events) {
      assert.strictEqual(e.route, 'private_pid');
      assert.deepStrictEqual(
        [e.fields['40'], e.fields['51'], e.fields['91'], e.fields['92']], [PID, 101, 101, 101]);
    }
    assert.strictEqual(text(), 'hi 5');
    for (const none of [null, undefined]) {
      assert.deepStrictEqual(await addon.typeTextToPidVerified(PID, BUNDLE, 'z', none), outcome());
    }
    for (const bad of [0, 1.5, -3, 4294967296, NaN, '101', {}]) {
      assert.deepStrictEqual(await addon.typeTextToPidVerified(PID, BUNDLE, 'z', bad), outcome('invalid_target'), String(bad));
      assert.deepStrictEqual(await addon.pressKeyToPidVerified(PID, BUNDLE, 'a', bad), outcome('invalid_target'));
    }
    assert.strictEqual(text(), 'hi 5zz');
  });

  test('a refused post is a failure on both paths and leaves no orphan key-up', async () => {
    // The same refusal (the next post to TextPad fails) on the per-pid path
    // and on the window-addressed path must give the same outcome and trace.
    for (const [op, window] of [['PostToPid', undefined], ['EventPostToPid', 101]]) {
      const refuseNext = () => { sim.clearEvents(); sim.injectFault({ op, pid: PID, error: -1 }); };
      refuseNext();
      assert.deepStrictEqual(await addon.pressKeyToPidVerified(PID, BUNDLE, 'cmd+c', window), outcome('rejected'), op);
      assert.strictEqual(compact(), '', `${op}: a refused key-down has no key-up`);
      refuseNext();
      assert.deepStrictEqual(
        await addon.holdKeyToPidVerified(PID, BUNDLE, 'shift+a', 0.1, null, window), outcome('rejected'), op);
      assert.ok(!/d0\/20000/.test(compact()), `${op}: "a" does not go down carrying Shift: ${compact()}`);
      assert.deepStrictEqual(sim.heldKeys(), {}, `${op}: nothing left pressed`);
      refuseNext();
      sim.setAttribute('textpad.text', 'AXValue', '');
      assert.deepStrictEqual(
        await addon.typeTextToPidVerified(PID, BUNDLE, 'x'.repeat(25) + '1y', window), outcome('rejected'), op);
      // The refused run of letters sends no key-up and no later chunk; the
      // rest of the text still goes out.
      assert.strictEqual(compact(), 'd18 u18 d[y] u[y]', `${op}: the refused chunk sends no key-up`);
      assert.strictEqual(text(), '1y');
      sim.clearFaults();
    }
  });

  test('the target is checked at queue time and again when the work runs', async () => {
    assert.deepStrictEqual(await addon.typeTextToPidVerified(PID, 'COM.KORVO.TEXTPAD', 'ok'), outcome());
    assert.deepStrictEqual(await addon.typeTextToPidVerified(PID, 'com.korvo.Settings', 'no'), outcome('rejected'));
    assert.deepStrictEqual(await addon.typeTextToPidVerified(PID, '', 'no'), outcome('invalid_target'));
    assert.deepStrictEqual(await addon.typeTextToPidVerified(PID, 'x'.repeat(256), 'no'), outcome('invalid_target'));
    assert.deepStrictEqual(await addon.typeTextToPidVerified(0, BUNDLE, 'no'), outcome('invalid_target'));
    assert.deepStrictEqual(await addon.typeTextToPidVerified(-5, BUNDLE, 'no'), outcome('invalid_target'));
    assert.strictEqual(await addon.typeTextToPid(4294967296 + PID, 'wrapped'), true, 'pid read as int32');
    sim.setPermissions({ accessibility: false });
    assert.deepStrictEqual(await addon.typeTextToPidVerified(PID, BUNDLE, 'no'), outcome('rejected'));
    assert.strictEqual(await addon.pressKeyToPid(PID, 'a'), false);
    sim.setPermissions({ accessibility: true });
    sim.quitApp(PID);
    assert.deepStrictEqual(await addon.typeTextToPidVerified(PID, BUNDLE, 'gone'), outcome('rejected'));
    assert.strictEqual(keyEvents().filter((e) => e.unicode === 'gone').length, 0);
  });
});

test.describe('pressing and holding keys in a process', () => {
  test.beforeEach(() => fresh());
  test.after(() => sim.setTimeScale(1));

  test('a chord sends only its key, carrying the modifiers', async () => {
    assert.deepStrictEqual(await addon.pressKeyToPidVerified(PID, BUNDLE, 'cmd+c'), outcome());
    assert.strictEqual(compact(), 'd8/100000 u8/100000');
    sim.clearEvents();
    assert.strictEqual(await addon.pressKeyToPid(PID, 'shift'), true);
    assert.strictEqual(compact(), 'd56/20000 u56/0');
    sim.clearEvents();
    assert.strictEqual(await addon.pressKeyToPid(PID, ' Shift + A '), true);
    assert.strictEqual(text(), 'A');
    assert.strictEqual(await addon.pressKeyToPid(PID, 'backspace'), true);
    assert.strictEqual(text(), '');
  });

  test('chords the work cannot press are rejected, chords that do not parse refused', async () => {
    assert.deepStrictEqual(await addon.pressKeyToPidVerified(PID, BUNDLE, 'cmd+a+b'), outcome('rejected'));
    assert.deepStrictEqual(await addon.pressKeyToPidVerified(PID, BUNDLE, 'cmd+foo'), outcome('rejected'));
    assert.deepStrictEqual(await addon.pressKeyToPidVerified(0, BUNDLE, 'none'), outcome('invalid_key_chord'));
    assert.deepStrictEqual(await addon.pressKeyToPidVerified(PID, BUNDLE, 'a+'.repeat(65)), outcome('invalid_key_chord'));
    assert.strictEqual(keyEvents().length, 0, 'nothing pressed');
  });

  test('hold durations: 0 to 30 seconds', async () => {
    for (const bad of [30.5, -1, NaN, Infinity]) {
      assert.deepStrictEqual(
        await addon.holdKeyToPidVerified(PID, BUNDLE, 'a', bad), outcome('invalid_key_chord'), String(bad));
    }
    assert.deepStrictEqual(await addon.holdKeyToPidVerified(PID, BUNDLE, 'a', -0), outcome());
    // 30 s is accepted; the session ends it early.
    const long = addon.holdKeyToPidVerified(PID, BUNDLE, 'a', 30, 'hold-30');
    await sim.waitFor(() => sim.heldKeys(PID).length === 1);
    addon.cancelInputHoldsForSession('hold-30');
    assert.deepStrictEqual(await long, outcome('cancelled'));
  });

  test('a hold presses in order, waits its time and releases in reverse', async () => {
    const start = sim.clockNow();
    assert.strictEqual(await addon.holdKeyToPid(PID, 'cmd+shift+x', 2), true);
    assert.ok(sim.clockNow() - start >= 2000);
    assert.strictEqual(compact(), 'd55/100000 d56/120000 d7/120000 u7/120000 u56/100000 u55/0');
    const events = keyEvents();
    assert.ok(events[3].simMs - events[2].simMs >= 2000, 'released after the hold');
    assert.deepStrictEqual(sim.heldKeys(), {});
  });

  test('cancelling a waiting hold ends it promptly and leaves nothing pressed', async () => {
    sim.setTimeScale(1);
    const hold = addon.holdKeyToPidVerified(PID, BUNDLE, 'ctrl+alt+z', 30, 'agent-7', 101);
    assert.ok(await sim.waitFor(() => sim.heldKeys(PID).length === 3), 'three keys down');
    assert.deepStrictEqual(sim.heldKeys(PID), [6, 58, 59]);
    const t0 = Date.now();
    assert.strictEqual(addon.cancelInputHoldsForSession('agent-7'), true);
    assert.deepStrictEqual(await hold, outcome('cancelled'));
    assert.ok(Date.now() - t0 < 1000, `${Date.now() - t0} ms`);
    assert.deepStrictEqual(sim.heldKeys(), {});
    // The key stays cancelled: later holds with it are refused before queueing.
    sim.clearEvents();
    assert.deepStrictEqual(await addon.holdKeyToPidVerified(PID, BUNDLE, 'a', 1, 'agent-7'), outcome('cancelled'));
    assert.strictEqual(keyEvents().length, 0);
    // Other sessions and holds without a session are unaffected.
    assert.deepStrictEqual(await addon.holdKeyToPidVerified(PID, BUNDLE, 'a', 0, 'agent-8'), outcome());
  });
});

test.describe('admission of queued input', () => {
  test.beforeEach(() => fresh());
  test.after(() => sim.setTimeScale(1));

  test('a ninth request while eight are in flight is busy at once', async () => {
    // Workers stay in flight until their promise settles on this thread, so
    // eight queued in one turn hold all eight slots.
    const eight = Array.from({ length: 8 }, () => addon.pressKeyToPidVerified(PID, BUNDLE, 'a'));
    assert.deepStrictEqual(await addon.pressKeyToPidVerified(PID, BUNDLE, 'a'), outcome('input_busy'));
    assert.strictEqual(await addon.typeTextToPid(PID, 'b'), false);
    const results = await Promise.all(eight);
    assert.ok(results.every((r) => r.ok || r.error === 'input_busy'));
    assert.ok(results.some((r) => r.ok));
    assert.deepStrictEqual(await addon.pressKeyToPidVerified(PID, BUNDLE, 'a'), outcome(), 'slots come back');
  });

  test('a request that starts while another sequence runs is busy, not interleaved', async () => {
    sim.setTimeScale(1);
    const long = addon.typeTextToPidVerified(PID, BUNDLE, '1'.repeat(100));
    assert.ok(await sim.waitFor(() => keyEvents().length > 0));
    assert.deepStrictEqual(await addon.typeTextToPidVerified(PID, BUNDLE, 'x'), outcome('input_busy'));
    assert.deepStrictEqual(await long, outcome());
    assert.strictEqual(text(), '1'.repeat(100));
  });

  test('with sixteen slow captures in flight typing still starts within its deadline', async () => {
    sim.setTimeScale(1);
    const block = sim.block({ op: 'IsProcessTrusted' });
    const captures = Array.from({ length: 16 }, () => addon.captureAppAsync(PID));
    assert.ok(await sim.waitFor(() => sim.isBlocked(block), { timeoutMs: 5000 }));
    assert.strictEqual(await addon.captureAppAsync(PID), null, 'the capture family is full');
    const t0 = Date.now();
    assert.deepStrictEqual(await addon.typeTextToPidVerified(PID, BUNDLE, 'still typing'), outcome());
    assert.ok(Date.now() - t0 < 2000, `${Date.now() - t0} ms`);
    assert.strictEqual(text(), 'still typing');
    sim.unblock(block);
    assert.ok((await Promise.all(captures)).every(Boolean));
  });
});

test('wrong argument types throw the documented TypeErrors', () => {
  const cases = [
    [() => addon.typeTextToPid('1', 'x'), 'typeTextToPid(pid, text) expects a pid and text'],
    [() => addon.typeTextToPid(1), 'typeTextToPid(pid, text) expects a pid and text'],
    [() => addon.pressKeyToPid(1, 5), 'pressKeyToPid(pid, text) expects a pid and key text'],
    [() => addon.holdKeyToPid(1, 'a'), 'holdKeyToPid(pid, text, duration) expects a pid, key text, and duration'],
    [() => addon.typeTextToPidVerified(1, null, 'x'),
      'typeTextToPidVerified(pid, expectedBundleId, text) expects a pid, bundle id, and text'],
    [() => addon.pressKeyToPidVerified(1, 'b'),
      'pressKeyToPidVerified(pid, expectedBundleId, text) expects a pid, bundle id, and key text'],
    [() => addon.holdKeyToPidVerified(1, 'b', 'a', '1'),
      'holdKeyToPidVerified(pid, expectedBundleId, text, duration) expects a pid, bundle id, key text, and duration'],
  ];
  for (const [call, message] of cases) assert.throws(call, { name: 'TypeError', message });
});
