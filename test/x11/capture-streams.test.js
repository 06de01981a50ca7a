'use strict';
// Capture streams and screenshots of real windows: the verified window
// capture (shareable content, identity checks, a one-frame stream) against
// xwd, and streams driven through the seam by a probe process (frames,
// statuses, scaling, a destroyed window).
const test = require('node:test');
const assert = require('node:assert');
const path = require('node:path');
const { spawn } = require('node:child_process');
const { addon, skip, BUILD, run, waitFor, appPid, activeWindow } = require('./desktop');
const { frameOf, xwdImage, decodePng, firstDifference, boundsOffsetInFrame } = require('./images');

const PROBE = path.join(BUILD, 'x11_stream_probe');
const REPAINT_APP = path.join(__dirname, 'tools', 'repaint_app.py');

const probe = (...args) => JSON.parse(run(PROBE, args.map(String)));
// The probe in the background, for runs that something must happen during.
function probeAsync(...args) {
  const child = spawn(PROBE, args.map(String), { env: process.env });
  let out = '';
  child.stdout.on('data', (d) => { out += d; });
  return new Promise((resolve) => child.on('close', () => resolve(JSON.parse(out))));
}

test.describe('x11 capture streams', { skip }, () => {
  const editor = appPid('mousepad');
  const factory = appPid('gtk3-widget-factory');
  const started = [];
  test.after(() => started.forEach((c) => c.exitCode === null && c.kill('SIGKILL')));

  // The editor draws no blinking caret while the factory is active.
  async function quietEditor() {
    assert.ok(addon.activateApplication(factory));
    const [fw] = addon.listWindows(factory);
    waitFor(() => activeWindow() === fw.window_id, 5000, 'the factory to be active');
    const [w] = addon.listWindows(editor);
    // Not covered, so xwd of the frame shows the same pixels.
    const aside = w.bounds[0] + w.bounds[2] + 40;
    run('xdotool', ['windowmove', String(fw.window_id), String(aside), '0']);
    waitFor(() => addon.listWindows(factory)[0].bounds[0] === aside, 5000, 'the factory to move aside');
    // Above every other window, still inactive.
    run('xdotool', ['windowraise', String(w.window_id)]);
    const topNormal = () => addon.screenCaptureProbeWindows().find((p) => p.layer === 0 && p.onScreen);
    waitFor(() => topNormal().windowId === w.window_id, 5000, 'the editor to be the top window');
    // A window moved off the editor can start a fade (GTK's overlay scroll
    // bar shows and fades out over about a second): until two reads 100 ms
    // apart agree, at most 4 s.
    let prev = addon.captureWindowImage(w.window_id, 'png').data;
    for (let i = 0; i < 40; i++) {
      await new Promise((r) => setTimeout(r, 100));
      const cur = addon.captureWindowImage(w.window_id, 'png').data;
      if (cur === prev) break;
      prev = cur;
    }
    return w;
  }

  test('a verified capture of the editor is xwd of its frame cut to the window bounds, pixel for pixel', async () => {
    const w = await quietEditor();
    const bundle = addon.applicationInfo(editor).bundle_id;
    const capture = () => addon.captureWindowImageVerifiedAsync(w.window_id, editor, bundle, 'png');
    const frame = frameOf(w.window_id);
    let mismatch = 'no capture';
    // A repaint may land between the two reads: a few attempts.
    for (let attempt = 0; attempt < 4 && mismatch; attempt++) {
      const r = await capture();
      assert.ok(r, 'a verified capture');
      // Where the picture lies: the window's outer bounds, as the window list has them.
      assert.deepStrictEqual(r.bounds, w.bounds);
      const png = await decodePng(r.data);
      assert.deepStrictEqual([png.width, png.height], w.bounds.slice(2));
      const [ox, oy] = boundsOffsetInFrame(w.bounds, frame);
      mismatch = firstDifference(png, xwdImage(frame), ox, oy);
    }
    assert.strictEqual(mismatch, null);
  });

  test('identity checks refuse a wrong pid, a wrong bundle id and another application\'s window', async () => {
    const [w] = addon.listWindows(editor);
    const bundle = addon.applicationInfo(editor).bundle_id;
    assert.strictEqual(await addon.captureWindowImageVerifiedAsync(w.window_id, factory, bundle), null);
    assert.strictEqual(await addon.captureWindowImageVerifiedAsync(w.window_id, editor, 'org.example.other'), null);
    const [fw] = addon.listWindows(factory);
    assert.strictEqual(await addon.captureWindowImageVerifiedAsync(fw.window_id, editor, bundle), null);
    assert.strictEqual(await addon.captureWindowImageVerifiedAsync(0x7ffffff0, editor, bundle), null);
    // The same call with the right identity succeeds (the refusals are not a broken path).
    assert.ok(await addon.captureWindowImageVerifiedAsync(w.window_id, editor, bundle));
  });

  test('a stream of a still window sends one complete frame equal to the window image, then idle frames', async () => {
    const w = await quietEditor();
    const r = probe('stream', w.window_id, 1.2);
    assert.strictEqual(r.start, 0);
    assert.ok(r.complete >= 1, JSON.stringify(r));
    assert.ok(r.idle >= 1, `idle frames while nothing draws: ${JSON.stringify(r)}`);
    assert.strictEqual(r.stopped, null);
    assert.deepStrictEqual([r.width, r.height], w.bounds.slice(2));
    assert.deepStrictEqual(r.screen, w.bounds);
    assert.strictEqual(r.content_scale, 1);
    assert.strictEqual(r.first_matches_image, true);
  });

  test('a smaller output keeps the window\'s proportions: content scale, size and screenshots', () => {
    const [w] = addon.listWindows(editor);
    const [ww, wh] = w.bounds.slice(2);
    const r = probe('stream', w.window_id, 0.5, 300, 300);
    assert.deepStrictEqual([r.width, r.height], [300, 300]);
    assert.ok(Math.abs(r.content_scale - Math.min(300 / ww, 300 / wh)) < 1e-3, JSON.stringify(r));
    // Screenshots (what the mirroring panels show): at the window's size
    // the window image itself; fitted, opaque only where the window lies.
    assert.deepStrictEqual(probe('shot', w.window_id, ww, wh),
      { error: 0, width: ww, height: wh, opaque: ww * wh, matches_image: true });
    const fitted = probe('shot', w.window_id, 300, 300, 'keep');
    const k = Math.min(300 / ww, 300 / wh);
    assert.strictEqual(fitted.opaque, Math.round(ww * k) * Math.round(wh * k));
    assert.strictEqual(probe('shot', w.window_id, 300, 300).opaque, 300 * 300);
  });

  test('a stream follows a window that repaints and stops with -3815 when the window is destroyed', async () => {
    const title = `korvo-stream-${process.pid}`;
    const app = spawn(REPAINT_APP, [title, '400', '300'], { env: process.env, stdio: 'ignore' });
    started.push(app);
    const w = waitFor(() => (addon.listWindows(app.pid) || [])[0], 15000, 'the repainting window');
    const running = probeAsync('stream', w.window_id, 20);
    // The stream runs for a while, then the window goes away under it.
    await new Promise((r) => setTimeout(r, 1500));
    app.kill('SIGKILL');
    const r = await running;
    assert.strictEqual(r.start, 0);
    assert.strictEqual(r.stopped, -3815);
    // Frames kept coming while it drew (not one frame, then silence).
    assert.ok(r.complete >= 5, JSON.stringify(r));
    assert.deepStrictEqual(r.screen, w.bounds);
  });
});
