'use strict';
// Mirroring panels taking presses through the simulated desktop's event tap:
// user presses in and out of a panel, the close hot zone, dragging and its
// clamping to the screens, double clicks, the tap switched off by the
// platform, tagged presses of this process, the live test calls and the
// debug log.
process.env.KORVO_OZA_LIVE_NATIVE = '1';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const sim = require('../sim');
const addon = require('..');

const EDITOR = 101;
const PID = 501;
const BUNDLE = 'com.korvo.TextPad';
const SETTINGS_PID = 502;

function fresh() {
  addon.pipStop();
  addon.pipClearDismissed();
  addon.pipSetEnabled(true);
  addon.pipSetActiveGroup('');
  sim.reset();
  sim.loadSampleScene();
  // A loaded machine must not make a slow tap callback look like a hung one.
  sim.setEventTapTimeout(10000);
}

// Generous bounds: the sanitizer builds run these suites on a loaded machine.
const ready = () => sim.waitFor(() => addon.pipIsInteractionReady(), { timeoutMs: 10000 });
const bounds = () => addon.pipGetWindowBounds();
const last = () => sim.events().slice(-1)[0];

async function verifiedPanel() {
  assert.strictEqual(await addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE), true);
  assert.ok(await ready(), 'the monitor becomes ready with the first frame');
  return bounds();
}

// A user press the panel can own: the window server was asked at the point
// first (as a mouse-moved probe would). The answer is good for 400 ms; on a
// machine so loaded that the press comes later, the press is not the
// panel's (its drag is not swallowed) and the gesture is tried again.
function seededUserPress(from, opts = {}) {
  for (let attempt = 0; attempt < 5; attempt++) {
    assert.strictEqual(addon.pipSampleInteractionOwnershipAtPoint(from[0], from[1]), true);
    sim.userMouse('down', from[0], from[1], opts);
    sim.userMouse('dragged', from[0], from[1], opts);
    if (last().route === 'hid:swallowed') return;
    sim.userMouse('up', from[0], from[1], opts);
  }
  assert.fail('no press was owned');
}
function seededUserDrag(from, to, opts = {}) {
  seededUserPress(from, opts);
  sim.userMouse('dragged', to[0], to[1], opts);
  sim.userMouse('up', to[0], to[1], opts);
}

test('user presses: outside the panel they reach the application, inside they drag the panel', async () => {
  fresh();
  const b = await verifiedPanel();
  // Outside: the editor window below gets the press, nothing is swallowed.
  sim.userMouse('down', 300, 300);
  assert.deepStrictEqual([last().route, last().pid], ['hid', PID]);
  sim.userMouse('up', 300, 300);

  // Inside, without any window-server answer yet: not the panel's.
  sim.clearEvents();
  sim.userMouse('down', b.x + 40, b.y + 60);
  assert.deepStrictEqual([last().route, last().pid], ['hid', process.pid], 'lands on the panel window');
  sim.userMouse('dragged', b.x + 10, b.y + 100);
  assert.strictEqual(last().route, 'hid', 'an unowned drag is not swallowed');
  sim.userMouse('up', b.x + 10, b.y + 100);
  assert.deepStrictEqual(bounds(), b);

  // Owned: the drag and the up are swallowed and the panel follows.
  seededUserDrag([b.x + 40, b.y + 60], [b.x - 60, b.y + 100]);
  const swallowed = sim.events().filter((e) => e.route === 'hid:swallowed').map((e) => e.type);
  assert.deepStrictEqual(swallowed.slice(-3), ['leftMouseDragged', 'leftMouseDragged', 'leftMouseUp']);
  assert.ok(await sim.waitFor(() => bounds().x === b.x - 100 && bounds().y === b.y + 40));
  const panel = sim.panels()[0];
  assert.deepStrictEqual([panel.frame[0], panel.frame[1]], [b.x - 100, b.y + 40], 'the window itself moved');
  addon.pipStop();
});

test('a user press in the 28 x 28 close zone dismisses the panel and never reaches the window below', async () => {
  fresh();
  const b = await verifiedPanel();
  sim.clearEvents();
  // 27 points in from the right edge and 27 down from the top: inside.
  sim.userMouse('down', b.x + b.width - 27, b.y + 27);
  assert.strictEqual(last().route, 'hid:swallowed');
  assert.ok(await sim.waitFor(() => addon.pipStackCount() === 0));
  assert.strictEqual(await addon.pipStartVerifiedAsync(EDITOR, PID, BUNDLE), false, 'the target is dismissed');
  sim.userMouse('up', b.x + b.width - 27, b.y + 27);

  // 29 points from the top is outside the zone: the panel stays.
  addon.pipClearDismissed();
  const c = await verifiedPanel();
  sim.userMouse('down', c.x + c.width - 5, c.y + 29);
  sim.userMouse('up', c.x + c.width - 5, c.y + 29);
  assert.strictEqual(addon.pipStackCount(), 1);
  // An agent's press there is not the user's: it does not close the panel.
  sim.userMouse('down', c.x + c.width - 5, c.y + 5, { pid: process.pid });
  sim.userMouse('up', c.x + c.width - 5, c.y + 5, { pid: process.pid });
  assert.strictEqual(addon.pipStackCount(), 1);
  addon.pipStop();
});

test('dragging clamps the panel to the screen it overlaps most, across two displays', async () => {
  fresh();
  sim.setDisplays([
    { id: 1, bounds: [0, 0, 1440, 900], scale: 2, main: true },
    { id: 2, bounds: [1440, 0, 1280, 800], scale: 1 },
  ]);
  assert.strictEqual(addon.pipStartInteractionTestPanel(300, 200), true);
  assert.ok(await ready());
  const b = bounds();
  // Mostly onto the second display and past its bottom edge.
  seededUserDrag([b.x + 10, b.y + 10], [1700, 760]);
  assert.ok(await sim.waitFor(() => bounds().x !== b.x));
  assert.deepStrictEqual([bounds().x, bounds().y], [1690, 600], 'inside display 2: 1690 + 300 <= 2720, 600 + 200 = 800');
  // Back over the left edge of the first display.
  const c = bounds();
  seededUserDrag([c.x + 10, c.y + 10], [-500, -50]);
  assert.ok(await sim.waitFor(() => bounds().x === 0));
  assert.deepStrictEqual([bounds().x, bounds().y], [0, 0]);
  addon.pipStop();
});

test('a double click within 4 points activates the target; one that moved further does not', async () => {
  fresh();
  sim.setFrontmost(SETTINGS_PID);
  const b = await verifiedPanel();
  const p = [b.x + 60, b.y + 80];
  const click = (at, n) => {
    sim.userMouse('down', at[0], at[1], { clickCount: n });
    sim.userMouse('up', at[0], at[1], { clickCount: n });
  };
  // Moved 5 points between press and release of the second click.
  seededUserDrag(p, p, { clickCount: 1 });
  sim.userMouse('down', p[0], p[1], { clickCount: 2 });
  sim.userMouse('dragged', p[0] + 3, p[1] + 4, { clickCount: 2 });
  sim.userMouse('up', p[0] + 3, p[1] + 4, { clickCount: 2 });
  await sim.waitFor(() => bounds().x === b.x + 3);
  assert.strictEqual(sim.frontmost(), SETTINGS_PID);

  const q = [bounds().x + 60, bounds().y + 80];
  seededUserPress(q, { clickCount: 1 });
  sim.userMouse('up', q[0], q[1], { clickCount: 1 });
  click([q[0] + 2, q[1] + 2], 2);  // the second press is owned through the release hand-off
  assert.ok(await sim.waitFor(() => sim.frontmost() === PID), 'the target application is activated');
  addon.pipStop();
});

test('the tap switched off by the platform: the panel hides, an open gesture drains, a new tap follows', async () => {
  fresh();
  const b = await verifiedPanel();
  const created = sim.eventTaps().created;
  seededUserPress([b.x + 40, b.y + 40]);
  assert.strictEqual(sim.eventTaps().leftButtonDown, true);
  assert.strictEqual(sim.disableEventTaps('timeout'), 1);
  assert.ok(await sim.waitFor(() => !addon.pipIsInteractionReady()), 'interaction hidden');
  // While the user holds the button the gesture drains; the frames keep
  // coming but no new tap starts.
  await sim.waitFor(() => false, { timeoutMs: 400 });
  assert.strictEqual(sim.eventTaps().created, created);
  sim.userMouse('up', b.x + 80, b.y + 80);  // the tap is off: nobody sees this
  assert.ok(await sim.waitFor(() => addon.pipIsInteractionReady(), { timeoutMs: 10000 }), 'ready again');
  assert.ok(sim.eventTaps().created > created, 'with a new tap');
  assert.strictEqual(addon.pipStackCount(), 1);

  // Without a gesture the tap retires at once and the next frame replaces it.
  const now = sim.eventTaps().created;
  sim.disableEventTaps('userInput');
  assert.ok(await sim.waitFor(() => sim.eventTaps().created > now && addon.pipIsInteractionReady(), { timeoutMs: 10000 }));
  addon.pipStop();
});

test('tagged presses of this process: only a panel\'s own token is swallowed while it is hidden', async () => {
  fresh();
  assert.strictEqual(addon.pipStartInteractionTestPanel(300, 200), true);
  assert.ok(await ready());
  const b = bounds();
  // Hide the panel's interaction by switching its tap off (no frames come
  // to a test panel, so it stays hidden).
  sim.disableEventTaps('timeout');
  assert.ok(await sim.waitFor(() => !addon.pipIsInteractionReady()));
  sim.clearEvents();
  sim.userMouse('down', b.x + 30, b.y + 30, { pid: process.pid, userData: 424242 });
  sim.userMouse('up', b.x + 30, b.y + 30, { pid: process.pid, userData: 424242 });
  assert.deepStrictEqual(sim.events().map((e) => e.route), ['hid', 'hid'], 'a token it never issued passes');
  addon.pipStop();
});

test('interaction races replayed against the lead panel', async () => {
  fresh();
  assert.strictEqual(addon.pipSimulateSyntheticReservationInterleaving(), false, 'no panel: nothing to replay');
  assert.strictEqual(addon.pipStartInteractionTestPanel(300, 200), true);
  for (const name of [
    'pipSimulateSyntheticReservationInterleaving',
    'pipSimulateSyntheticAdmissionTimeoutFencing',
    'pipSimulateForeignContinuationPassThrough',
    'pipSimulateUserInputDisableReleaseRace',
    'pipSimulateTimeoutDrainRecovery',
    'pipSimulatePersistentCaptureFailures',
  ]) {
    assert.ok(await ready(), `${name}: ready before`);
    assert.strictEqual(addon[name](), true, name);
  }
  assert.ok(await ready(), 'the monitor recovers after the last race');
  addon.pipStop();
});

test('failing window-server queries refuse new monitors until a query answers again', async () => {
  fresh();
  assert.strictEqual(addon.pipStartInteractionTestPanel(300, 200), true);
  assert.ok(await ready());
  const b = bounds();
  sim.injectFault({ op: 'CopyWindowList', error: -1, count: -1 });
  // Three failures in a row; the replacement panel's monitor is refused and
  // the panel goes away. (A probe of the first panel that read the list just
  // before the fault may still report its success and clear the latch once:
  // then the next round is refused.)
  let refused = false;
  for (let round = 0; round < 3 && !refused; round++) {
    for (let i = 0; i < 3; i++) assert.strictEqual(addon.pipSampleInteractionOwnershipAtPoint(b.x + 5, b.y + 5), false);
    assert.strictEqual(addon.pipStartInteractionTestPanel(300, 200), true);
    refused = await sim.waitFor(() => addon.pipStackCount() === 0, { timeoutMs: 3000 });
  }
  assert.ok(refused);
  sim.clearFaults();
  assert.strictEqual(addon.pipStartInteractionTestPanel(300, 200), true);
  assert.ok(await ready(), 'a query that answers clears the latch');
  addon.pipStop();
});

test('live diagnostics: bounds, stack targets, hit surface, double-click rule and legacy delay', async () => {
  fresh();
  assert.strictEqual(addon.pipGetWindowBounds(), null);
  assert.strictEqual(addon.pipIsInteractionReady(), false);
  const b = await verifiedPanel();
  assert.deepStrictEqual([b.width, b.height], [338, 240]);
  assert.strictEqual(b.window_id, sim.panels()[0].number);
  const [t] = addon.pipGetStackTargets();
  assert.deepStrictEqual(t, {
    panel_window_id: b.window_id, window_id: EDITOR, presentation_window_id: EDITOR, pid: PID,
    bundle_id: BUNDLE, group: null, running: true, group_hidden: false, completed: false,
    badge_shown: false, lead: true,
  });
  assert.deepStrictEqual(addon.pipVerifyInitialHitSurface(), { panel_hit_testable: true, windowserver_frontmost: true });
  // A window above the panel at the point takes the press from it.
  assert.strictEqual(addon.pipSampleInteractionOwnershipAtPoint(b.x + 10, b.y + 10), true);
  assert.strictEqual(addon.pipSampleInteractionOwnershipAtPoint(5, 5), false);
  assert.throws(() => addon.pipSampleInteractionOwnershipAtPoint('1', 2), { name: 'TypeError', message: 'pipSampleInteractionOwnershipAtPoint requires x,y' });
  assert.throws(() => addon.pipMoveInteractionTestPanelToPoint(NaN, 2), { name: 'TypeError', message: 'pipMoveInteractionTestPanelToPoint requires x,y' });
  assert.strictEqual(addon.pipMoveInteractionTestPanelToPoint(10, 10), false, 'not a test panel');

  assert.strictEqual(addon.pipEvaluateDoubleClickActivation(2, 0, 0, 0, 4), true);
  assert.strictEqual(addon.pipEvaluateDoubleClickActivation(2, 0, 0, 3, 3), false, '18 > 16');
  assert.strictEqual(addon.pipEvaluateDoubleClickActivation(1, 0, 0, 0, 0), false);
  assert.strictEqual(addon.pipEvaluateDoubleClickActivation(2, 0, 0), false);

  assert.strictEqual(addon.pipSetLiveLegacyCaptureDelay(25), true);
  assert.strictEqual(addon.pipSetLiveLegacyCaptureDelay(-1), false);
  assert.strictEqual(addon.pipSetLiveLegacyCaptureDelay(1.5), false);
  assert.strictEqual(addon.pipSetLiveLegacyCaptureDelay(0), true);
  const d = addon.pipGetLiveLegacyCaptureDiagnostics();
  assert.deepStrictEqual(Object.keys(d), ['active', 'attempts', 'completions']);

  // The test panel replaces every panel and moves where it is told.
  assert.strictEqual(addon.pipStartInteractionTestPanel(200, 100), true);
  assert.strictEqual(addon.pipStackCount(), 1);
  assert.ok(await ready());
  assert.strictEqual(addon.pipMoveInteractionTestPanelToPoint(100, 120), true);
  assert.deepStrictEqual([bounds().x, bounds().y, bounds().width, bounds().height], [100, 120, 200, 100]);
  addon.pipStop();
});

test('debug log: written only for exactly "1", never through a planted link', () => {
  const file = '/tmp/pip-debug.log';
  const child = (value) => {
    const env = { ...process.env, KORVO_OZA_PIP_DEBUG: value, KORVO_OZA_LIVE_NATIVE: '1' };
    const script = `const sim = require(${JSON.stringify(path.join(__dirname, '..', 'sim'))});
      const a = require(${JSON.stringify(path.join(__dirname, '..'))});
      sim.reset(); sim.loadSampleScene(); a.pipStartInteractionTestPanel(200, 100);
      sim.waitFor(() => a.pipIsInteractionReady(), { timeoutMs: 4000 }).then(() => a.pipStop());`;
    execFileSync(process.execPath, ['-e', script], { env, stdio: 'pipe' });
  };
  const saved = fs.existsSync(file) ? fs.readFileSync(file) : null;
  try {
    fs.rmSync(file, { force: true });
    child('1 ');
    assert.strictEqual(fs.existsSync(file), false, 'a trailing space writes nothing');
    child('1');
    const text = fs.readFileSync(file, 'utf8');
    assert.match(text, /^\[\d+\] NSPanel created hidden mode=legacy$/m);
    assert.match(text, /^\[\d+\] PiP interaction ready and panel visible window=\d+ generation=1$/m);
    assert.strictEqual(fs.statSync(file).mode & 0o777, 0o600);

    fs.rmSync(file, { force: true });
    const target = path.join(fs.mkdtempSync('/tmp/pip-log-'), 'victim');
    fs.writeFileSync(target, 'untouched\n');
    fs.symlinkSync(target, file);
    child('1');
    assert.strictEqual(fs.readFileSync(target, 'utf8'), 'untouched\n');
    assert.ok(fs.lstatSync(file).isSymbolicLink());
    fs.rmSync(path.dirname(target), { recursive: true, force: true });
  } finally {
    fs.rmSync(file, { force: true });
    if (saved) fs.writeFileSync(file, saved, { mode: 0o600 });
  }
});
