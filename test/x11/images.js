'use strict';
// Window pictures of the x11 suites: xwd dumps of X windows and decoded PNGs,
// compared pixel for pixel.
const assert = require('node:assert');
const sharp = require('sharp');
const { run } = require('./desktop');

// The frame (top-level window) that holds a client, walking up with xwininfo.
function frameOf(id) {
  let w = id;
  for (let i = 0; i < 8; i++) {
    const tree = run('xwininfo', ['-tree', '-id', String(w)]);
    const root = Number(/Root window id: (0x[0-9a-f]+)/.exec(tree)[1]);
    const parent = Number(/Parent window id: (0x[0-9a-f]+)/.exec(tree)[1]);
    if (parent === root) return w;
    w = parent;
  }
  throw new Error(`no frame for ${id}`);
}

// An xwd dump of a depth-24 window as RGBA: xwd stores 24-bit ZPixmap pixels
// packed in 3 bytes (B, G, R), rows bytes_per_line apart.
function xwdImage(id) {
  const buf = run('xwd', ['-silent', '-id', String(id)], { encoding: 'buffer' });
  const u32 = (o) => buf.readUInt32BE(o);
  const headerSize = u32(0);
  const width = u32(16), height = u32(20), byteOrder = u32(28), bpp = u32(44), bpl = u32(48);
  const ncolors = u32(76);
  assert.strictEqual(bpp, 24);
  assert.strictEqual(byteOrder, 0);
  const data = buf.subarray(headerSize + ncolors * 12);
  const rgba = Buffer.alloc(width * height * 4);
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) {
      const s = y * bpl + x * 3, d = (y * width + x) * 4;
      rgba[d] = data[s + 2];
      rgba[d + 1] = data[s + 1];
      rgba[d + 2] = data[s];
      rgba[d + 3] = 255;
    }
  }
  return { width, height, rgba };
}

async function decodePng(base64) {
  const { data, info } = await sharp(Buffer.from(base64, 'base64')).ensureAlpha().raw()
    .toBuffer({ resolveWithObject: true });
  return { width: info.width, height: info.height, rgba: data };
}

// The first pixel where `png` differs from `ref` read at offset (dx, dy), as
// a message; null when every pixel agrees.
function firstDifference(png, ref, dx, dy) {
  for (let y = 0; y < png.height; y++) {
    for (let x = 0; x < png.width; x++) {
      const a = (y * png.width + x) * 4, b = ((y + dy) * ref.width + (x + dx)) * 4;
      if (png.rgba.compare(ref.rgba, b, b + 4, a, a + 4) !== 0) {
        return `pixel ${x},${y}: ${[...png.rgba.subarray(a, a + 4)]} vs ${[...ref.rgba.subarray(b, b + 4)]}`;
      }
    }
  }
  return null;
}

// Where a window's outer bounds start inside xwd's dump of its frame (xwd
// includes the frame's border: its origin is the frame's outer corner).
function boundsOffsetInFrame(bounds, frame) {
  const info = run('xwininfo', ['-id', String(frame)]);
  const fx = Number(/Absolute upper-left X:\s+(-?\d+)/.exec(info)[1]);
  const fy = Number(/Absolute upper-left Y:\s+(-?\d+)/.exec(info)[1]);
  const bw = Number(/Border width:\s+(\d+)/.exec(info)[1]);
  return [bounds[0] - (fx - bw), bounds[1] - (fy - bw)];
}

module.exports = { frameOf, xwdImage, decodePng, firstDifference, boundsOffsetInFrame };
