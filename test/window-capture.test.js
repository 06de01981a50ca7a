'use strict';
// Window image capture: the quick path (one-call image, falling back to a
// one-frame stream), the verified asynchronous path with its identity checks,
// admission limit and time-outs, and the encoded image record.
const test = require('node:test');
const assert = require('node:assert');
const { execFileSync } = require('node:child_process');
const path = require('node:path');
const addon = require('..');
const sim = require('../sim');

const size = (image) => {
  const s = addon.inspectPngContent(Buffer.from(image.data, 'base64'));
  return s && [s.width, s.height];
};

// Keeps the loop turning while the platform works.
async function settle(promise) {
  const keepAlive = setInterval(() => {}, 20);
  try {
    return await promise;
  } finally {
    clearInterval(keepAlive);
  }
}

const verified = (...args) => settle(addon.captureWindowImageVerifiedAsync(...args));
// Where the desktop shows a window (global points).
const boundsOf = (number) => sim.windows().find((w) => w.number === number).bounds;

function fresh() {
  sim.reset();
  sim.loadSampleScene();
}

test.describe('captureWindowImage', () => {
  test.beforeEach(fresh);

  test('encodes the window at its display scale; formats and defaults', () => {
    const png = addon.captureWindowImage(101);
    assert.deepStrictEqual(Object.keys(png), ['format', 'data']);
    assert.strictEqual(png.format, 'png');
    assert.deepStrictEqual(size(png), boundsOf(101).slice(2).map((v) => v * 2), 'drawn at scale 2');
    assert.strictEqual(addon.captureWindowImage(101, 'jpg').format, 'jpeg');
    assert.strictEqual(addon.captureWindowImage(101, 'jpeg', 0.9).format, 'jpeg');
    for (const other of ['JPEG', 'Jpg', 'webp', '', 7]) {
      assert.strictEqual(addon.captureWindowImage(101, other).format, 'png', String(other));
    }
    const small = addon.captureWindowImage(101, 'jpeg', 0.05).data.length;
    const large = addon.captureWindowImage(101, 'jpeg', 0.95).data.length;
    assert.ok(small < large, 'quality reaches the JPEG encoder');
    assert.strictEqual(addon.captureWindowImage(101, 'jpeg', 'x').format, 'jpeg');
  });

  test('large image texts stay intact after collections', async () => {
    require('v8').setFlagsFromString('--expose-gc');
    const gc = require('vm').runInNewContext('gc');
    const texts = [];
    for (let i = 0; i < 4; i++) texts.push(addon.captureWindowImage(101).data);
    assert.ok(texts[0].length > 64 * 1024);
    for (let i = 0; i < 3; i++) {
      gc();
      await new Promise((r) => setImmediate(r));
    }
    for (const t of texts) {
      assert.strictEqual(t, texts[0]);
      assert.match(t.slice(0, 8), /^iVBORw0K/);
      assert.deepStrictEqual(size({ data: t }), boundsOf(101).slice(2).map((v) => v * 2));
    }
  });

  test('a 3840 x 2160 picture is encoded at 1920 x 1080', () => {
    sim.addWindow(501, { number: 9500, title: 'Big', bounds: [0, 0, 1920, 1080] });
    const png = addon.captureWindowImage(9500);
    assert.deepStrictEqual(size(png), [1920, 1080]);
    assert.strictEqual(addon.captureWindowImage(9500, 'jpg').format, 'jpeg');
  });

  test('a failing one-call image falls back to the stream (window size in points)', () => {
    sim.injectFault({ op: 'CreateSingleWindowImage', error: -1 });
    assert.deepStrictEqual(size(addon.captureWindowImage(101)), boundsOf(101).slice(2));
  });

  test('no picture answers null, and only a number is a window id', () => {
    assert.strictEqual(addon.captureWindowImage(424242), null);
    assert.strictEqual(addon.captureWindowImage(), null);
    assert.strictEqual(addon.captureWindowImage('101'), null);
    sim.setPermissions({ screenRecording: false });
    assert.strictEqual(addon.captureWindowImage(101), null);
  });

  test('captureWindowImageVerified always answers null', () => {
    assert.strictEqual(addon.captureWindowImageVerified(101, 501, 'com.korvo.TextPad'), null);
    assert.strictEqual(addon.captureWindowImageVerified(), null);
  });
});

test('an absent one-call entry stays absent and every capture uses the stream', () => {
  const repo = path.join(__dirname, '..');
  const script = `
    const sim = require(${JSON.stringify(path.join(repo, 'sim'))});
    sim.reset(); sim.loadSampleScene(); sim.setOptions({ singleWindowImage: false });
    const a = require(${JSON.stringify(repo)});
    const dims = () => { const s = a.inspectPngContent(Buffer.from(a.captureWindowImage(101).data, 'base64')); return [s.width, s.height]; };
    const first = dims();
    sim.setOptions({ singleWindowImage: true });
    const points = sim.windows().find((w) => w.number === 101).bounds.slice(2);
    process.stdout.write(JSON.stringify([points, first, dims()]));
  `;
  const [points, first, again] = JSON.parse(execFileSync(process.execPath, ['-e', script], { env: process.env }).toString());
  assert.deepStrictEqual(first, points);
  assert.deepStrictEqual(again, points);
});

test.describe('captureWindowImageVerifiedAsync', () => {
  test.beforeEach(fresh);

  test('the owner\'s window, cropped to its content, with its bounds on screen', async () => {
    const img = await verified(101, 501, 'COM.KORVO.TEXTPAD', 'png');
    assert.deepStrictEqual(Object.keys(img), ['format', 'data', 'bounds']);
    assert.deepStrictEqual(img.bounds, boundsOf(101));
    assert.deepStrictEqual(size(img), boundsOf(101).slice(2));
    const jpeg = await verified(201, 502, 'com.korvo.Settings', 'jpg', 0.5);
    assert.strictEqual(jpeg.format, 'jpeg');
    assert.deepStrictEqual(jpeg.bounds, boundsOf(201));
  });

  test('windows beyond 1,920 points are streamed at most 1,920 pixels wide', async () => {
    sim.addWindow(501, { number: 9501, title: 'Wide', bounds: [0, 0, 2400, 1200] });
    // The sim clock at a quarter speed: the 4-second budget then also covers
    // drawing, downscaling and encoding a 2400-point frame under the thread
    // sanitizer; the size checks below are what this test is about.
    sim.setTimeScale(0.25);
    const img = await verified(9501, 501, 'com.korvo.TextPad');
    assert.deepStrictEqual(size(img), [1920, 960]);
    assert.deepStrictEqual(img.bounds, [0, 0, 2400, 1200]);
  });

  test('identity mismatches answer null', async () => {
    assert.strictEqual(await verified(101, 501, 'com.korvo.Settings'), null);
    assert.strictEqual(await verified(101, 502, 'com.korvo.Settings'), null);
    assert.strictEqual(await verified(424242, 501, 'com.korvo.TextPad'), null);
    // The owner changes identity under the same pid.
    sim.relaunch(502, { bundleId: 'com.other.Settings' });
    assert.strictEqual(await verified(201, 502, 'com.korvo.Settings'), null);
    // The owner ends while the content is being gathered.
    sim.injectFault({ op: 'GetShareableContent', quit: true, quitPid: 501 });
    assert.strictEqual(await verified(101, 501, 'com.korvo.TextPad'), null);
  });

  test('bad arguments resolve with null', async () => {
    const bad = [
      [], [101, 501], ['101', 501, 'com.korvo.TextPad'], [101, '501', 'com.korvo.TextPad'], [101, 501, 5],
      [0, 501, 'com.korvo.TextPad'], [4294967296, 501, 'com.korvo.TextPad'], [1.5, 501, 'com.korvo.TextPad'],
      [101, 1.5, 'com.korvo.TextPad'], [101, 0, 'com.korvo.TextPad'], [101, 2147483648, 'com.korvo.TextPad'],
      [101, NaN, 'com.korvo.TextPad'], [101, 501, ''], [101, 501, 'c'.repeat(256)],
    ];
    for (const args of bad) {
      const p = addon.captureWindowImageVerifiedAsync(...args);
      assert.ok(p instanceof Promise);
      assert.strictEqual(await p, null, JSON.stringify(args).slice(0, 60));
    }
  });

  test('two in flight: a third is refused at once; slots come back when they finish', async () => {
    const blocks = [sim.block({ op: 'GetShareableContent' }), sim.block({ op: 'GetShareableContent' })];
    const held = [addon.captureWindowImageVerifiedAsync(101, 501, 'com.korvo.TextPad'),
      addon.captureWindowImageVerifiedAsync(102, 501, 'com.korvo.TextPad')];
    assert.ok(await sim.waitFor(() => blocks.every((b) => sim.isBlocked(b)), { timeoutMs: 10000 }));
    assert.strictEqual(await addon.captureWindowImageVerifiedAsync(201, 502, 'com.korvo.Settings'), null);
    assert.strictEqual(sim.hooks().blocks.length, 2, 'the refused call started no capture');
    blocks.forEach((b) => sim.unblock(b));
    const [a, b] = await settle(Promise.all(held));
    assert.deepStrictEqual([a.bounds, b.bounds], [boundsOf(101), boundsOf(102)]);
    // The platform's completion handlers share the slots and let go of them
    // on their own threads, just after the promises settle: poll (bounded)
    // until both slots are back, which they must be.
    let again = [];
    for (let attempt = 0; attempt < 200; attempt++) {
      again = await settle(Promise.all([verified(101, 501, 'com.korvo.TextPad'), verified(201, 502, 'com.korvo.Settings')]));
      if (again.every((img) => img)) break;
      await new Promise((r) => setTimeout(r, 5));
    }
    assert.ok(again.every((img) => img && img.format === 'png'));
  });

  test('incomplete frames are skipped; a stream that never completes one ends by the time-out', async () => {
    sim.injectFault({ op: 'StreamFrame', error: 'wrong_type', count: 3 });
    assert.deepStrictEqual((await verified(101, 501, 'com.korvo.TextPad')).bounds, boundsOf(101));

    sim.setTimeScale(20);
    sim.injectFault({ op: 'StreamFrame', error: 'wrong_type', count: -1 });
    const start = sim.clockNow();
    assert.strictEqual(await verified(101, 501, 'com.korvo.TextPad'), null);
    const elapsed = sim.clockNow() - start;
    assert.ok(elapsed >= 3900 && elapsed < 6000, `ended after ${elapsed} ms of sim time`);
  });

  test('platform failures end the capture early with null', async () => {
    const cases = [
      { op: 'StreamFrame', error: -3821 },
      { op: 'StartCapture', error: -3802 },
      { op: 'GetShareableContent', error: -3801 },
      { op: 'CreateStream', error: -1 },
      { op: 'AddScreenOutput', error: -1 },
      { op: 'CreateDesktopIndependentWindowFilter', error: 'wrong_type' },
    ];
    for (const fault of cases) {
      sim.injectFault(fault);
      const start = Date.now();
      assert.strictEqual(await verified(101, 501, 'com.korvo.TextPad'), null, fault.op);
      assert.ok(Date.now() - start < 2000, `${fault.op} waited for the time-out`);
      sim.clearFaults();
    }
    sim.setPermissions({ screenRecording: false });
    assert.strictEqual(await verified(101, 501, 'com.korvo.TextPad'), null);
  });

  test('platform versions before 14.0 never capture through the stream', async () => {
    sim.setPlatformVersion('13.6');
    assert.strictEqual(await verified(101, 501, 'com.korvo.TextPad'), null);
    sim.injectFault({ op: 'CreateSingleWindowImage', error: -1 });
    assert.strictEqual(addon.captureWindowImage(101), null);
  });

  test('content answers that never arrive give the admission slot back at the time-out', async () => {
    sim.setTimeScale(20);
    sim.injectFault({ op: 'GetShareableContent', error: 'no_answer', count: 4 });
    // Two hangs fill both slots until their waiters give up ...
    assert.deepStrictEqual(await settle(Promise.all([verified(101, 501, 'com.korvo.TextPad'),
      verified(102, 501, 'com.korvo.TextPad')])), [null, null]);
    // ... and twice more, so a leak could not hide behind a spare slot.
    assert.deepStrictEqual(await settle(Promise.all([verified(101, 501, 'com.korvo.TextPad'),
      verified(102, 501, 'com.korvo.TextPad')])), [null, null]);
    // Time stands still, so a slow (loaded, sanitizer) machine still
    // completes the capture before its time-out.
    sim.setTimeScale(1);
    sim.setSteppedClock(true);
    const img = await verified(101, 501, 'com.korvo.TextPad');
    sim.setSteppedClock(false);
    assert.ok(img && img.format === 'png', 'verified capture still works');
    // The quick path's fallback times out too.
    sim.injectFault({ op: 'CreateSingleWindowImage', error: -1 });
    sim.injectFault({ op: 'GetShareableContent', error: 'no_answer' });
    assert.strictEqual(addon.captureWindowImage(101), null);
  });
});
