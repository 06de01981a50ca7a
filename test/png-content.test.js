'use strict';
// inspectPngContent: content statistics of a PNG handed over as bytes, and
// refusal (null) of anything that is not one sane PNG image.
const test = require('node:test');
const assert = require('node:assert');
const zlib = require('node:zlib');
const addon = require('..');
const sim = require('../sim');

// A PNG of RGBA pixels (8 bits per channel, filter 0 on every row).
function rgbaPng(width, height, pixel) {
  const raw = Buffer.alloc((width * 4 + 1) * height);
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) {
      const [r, g, b, a] = pixel(x, y);
      raw.set([r, g, b, a], y * (width * 4 + 1) + 1 + x * 4);
    }
  }
  const chunk = (type, data) => {
    const len = Buffer.alloc(4);
    len.writeUInt32BE(data.length);
    const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
    const crc = Buffer.alloc(4);
    crc.writeUInt32BE(zlib.crc32(body));
    return Buffer.concat([len, body, crc]);
  };
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr.set([8, 6, 0, 0, 0], 8);
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', ihdr),
    chunk('IDAT', zlib.deflateSync(raw)),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

// Deterministic pseudo-random bytes.
function randomBytes(n, seed) {
  const out = Buffer.alloc(n);
  let s = seed >>> 0 || 1;
  for (let i = 0; i < n; i++) {
    s ^= s << 13;
    s ^= s >>> 17;
    s ^= s << 5;
    out[i] = s & 0xff;
  }
  return out;
}

test('statistics of a known image', () => {
  // Four quadrants: red, green, blue, white; all opaque.
  const colors = [[255, 0, 0, 255], [0, 255, 0, 255], [0, 0, 255, 255], [255, 255, 255, 255]];
  const png = rgbaPng(8, 8, (x, y) => colors[(y >= 4 ? 2 : 0) + (x >= 4 ? 1 : 0)]);
  assert.deepStrictEqual(addon.inspectPngContent(png), {
    width: 8,
    height: 8,
    sampleWidth: 8,
    sampleHeight: 8,
    sampledPixelCount: 64,
    visiblePixelCount: 64,
    distinctColorBucketCount: 4,
    dominantColorPixelCount: 16,
    maxChannelRange: 255,
    minVisibleChannel: 0,
    maxVisibleChannel: 255,
  });
});

test('pixels below alpha 16 are invisible; visible ones are un-premultiplied', () => {
  // Left half alpha 15 (invisible), right half a grey at alpha 128.
  const png = rgbaPng(4, 2, (x) => (x < 2 ? [200, 10, 10, 15] : [100, 100, 100, 128]));
  const s = addon.inspectPngContent(png);
  assert.strictEqual(s.visiblePixelCount, 4);
  assert.strictEqual(s.distinctColorBucketCount, 1);
  assert.strictEqual(s.dominantColorPixelCount, 4);
  assert.ok(Math.abs(s.minVisibleChannel - 100) <= 1 && Math.abs(s.maxVisibleChannel - 100) <= 1);
});

test('a fully transparent PNG has no visible pixels and zero colour statistics', () => {
  const s = addon.inspectPngContent(rgbaPng(100, 40, () => [0, 0, 0, 0]));
  assert.strictEqual(s.width, 100);
  assert.strictEqual(s.height, 40);
  assert.strictEqual(s.sampleWidth, 64);
  assert.ok(s.sampleHeight >= 1 && s.sampleHeight <= 64);
  assert.strictEqual(s.sampledPixelCount, s.sampleWidth * s.sampleHeight);
  for (const k of ['visiblePixelCount', 'distinctColorBucketCount', 'dominantColorPixelCount',
    'maxChannelRange', 'minVisibleChannel', 'maxVisibleChannel']) {
    assert.strictEqual(s[k], 0, k);
  }
});

test('accepted containers: Buffer, Uint8Array, Uint8ClampedArray, and a view at an offset', () => {
  const png = rgbaPng(3, 3, () => [10, 20, 30, 255]);
  const expect = addon.inspectPngContent(png);
  assert.deepStrictEqual(addon.inspectPngContent(new Uint8Array(png)), expect);
  assert.deepStrictEqual(addon.inspectPngContent(new Uint8ClampedArray(png)), expect);
  const padded = Buffer.concat([Buffer.from('garbage!'), png]);
  assert.deepStrictEqual(addon.inspectPngContent(new Uint8Array(padded.buffer, padded.byteOffset + 8, png.length)), expect);
});

test('anything but one PNG image of more than 32 bytes answers null, never throws', () => {
  const png = rgbaPng(3, 3, () => [10, 20, 30, 255]);
  const refused = [
    undefined, null, 42, 'png', png.buffer, [...png], new Uint16Array(png.buffer),
    new Int8Array(png), new DataView(png.buffer),
    png.subarray(0, 32), Buffer.alloc(0),
    Buffer.concat([Buffer.from([0xff, 0xd8, 0xff, 0xe0]), randomBytes(200, 7)]),
  ];
  for (const v of refused) assert.strictEqual(addon.inspectPngContent(v), null);
  assert.strictEqual(addon.inspectPngContent(), null);
});

test('a JPEG from a window capture is refused; its PNG twin is measured', async () => {
  sim.reset();
  sim.loadSampleScene();
  const jpeg = addon.captureWindowImage(101, 'jpeg', 0.6);
  assert.strictEqual(jpeg.format, 'jpeg');
  assert.strictEqual(addon.inspectPngContent(Buffer.from(jpeg.data, 'base64')), null);
  const png = addon.captureWindowImage(101);
  const s = addon.inspectPngContent(Buffer.from(png.data, 'base64'));
  assert.strictEqual(s.visiblePixelCount, s.sampledPixelCount);
  assert.ok(s.distinctColorBucketCount > 3, 'a rendered window has several colours');
});

test('corrupt and truncated PNGs answer null (fuzz)', () => {
  const png = rgbaPng(40, 30, (x, y) => [x * 6, y * 8, (x * y) & 255, 255]);
  assert.notStrictEqual(addon.inspectPngContent(png), null);
  // Every truncation point.
  for (let n = 0; n < png.length; n += 3) {
    const r = addon.inspectPngContent(png.subarray(0, n));
    assert.ok(r === null || typeof r === 'object');
  }
  // Cut inside the image data: no answer.
  assert.strictEqual(addon.inspectPngContent(png.subarray(0, png.length - 20)), null);
  // Random bytes, and random bytes behind a valid signature and header.
  for (let i = 0; i < 300; i++) {
    const noise = randomBytes(33 + (i * 37) % 2000, i + 1);
    assert.strictEqual(addon.inspectPngContent(noise), null);
    const mixed = Buffer.concat([png.subarray(0, 33), noise]);
    const r = addon.inspectPngContent(mixed);
    assert.ok(r === null || typeof r === 'object');
  }
  // Flipped bytes anywhere never crash.
  for (let i = 8; i < png.length; i += 5) {
    const bad = Buffer.from(png);
    bad[i] ^= 0x5a;
    const r = addon.inspectPngContent(bad);
    assert.ok(r === null || typeof r.width === 'number');
  }
  // A header claiming absurd dimensions.
  const huge = Buffer.from(png);
  huge.writeUInt32BE(200000, 16);
  assert.strictEqual(addon.inspectPngContent(huge), null);
});
