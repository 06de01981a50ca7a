'use strict';
// Image encoding at the JS boundary: a 3840x2160 screen-like frame scaled to
// 1920x1080 and encoded as PNG and as JPEG (quality 0.6), handed over as
// Base64 text, against sharp doing the same resize + encode + Base64 in the
// same process; and Base64 of 8 MiB against Buffer.toString('base64').
// The add-on's encoder is reached through the bench-only module
// build/lib/bench_native.node (bench/native), so no export is added for it.
const path = require('path');

const W = 3840;
const H = 2160;
const RUNS = 9;

function nativeModule() {
  const buildDir = process.env.AUTOMATION_ADDON_BUILD_DIR || path.join(__dirname, '..', 'build');
  return require(path.join(path.resolve(buildDir), 'lib', 'bench_native.node'));
}

// Desktop-like content, opaque: a smooth wallpaper with slight noise, three
// windows with title bars, sidebars, buttons and rows of glyph-like strokes.
function screenFrame() {
  const px = Buffer.alloc(W * H * 4);
  let seed = 12345;
  const rnd = () => ((seed = (Math.imul(seed, 1664525) + 1013904223) >>> 0) >>> 8);
  const clamp = (v) => (v < 0 ? 0 : v > 255 ? 255 : v | 0);
  for (let y = 0; y < H; y++) {
    const fy = y / H;
    for (let x = 0; x < W; x++) {
      const fx = x / W;
      const n = (rnd() % 5) - 2;
      const i = (y * W + x) * 4;
      px[i] = clamp(60 + 80 * Math.sin(fx * 3 + fy * 2) + n);
      px[i + 1] = clamp(90 + 60 * Math.cos(fx * 2 - fy * 4) + n);
      px[i + 2] = clamp(150 + 70 * Math.sin(fx * 5 + 1) * Math.cos(fy * 3) + n);
      px[i + 3] = 255;
    }
  }
  const fill = (x0, y0, x1, y1, r, g, b) => {
    for (let y = Math.max(0, y0); y < Math.min(H, y1); y++) {
      for (let x = Math.max(0, x0); x < Math.min(W, x1); x++) {
        const i = (y * W + x) * 4;
        px[i] = r;
        px[i + 1] = g;
        px[i + 2] = b;
      }
    }
  };
  for (const [wx, wy, ww, wh] of [[200, 150, 2200, 1500], [1700, 500, 1900, 1400], [400, 1200, 1400, 850]]) {
    fill(wx, wy, wx + ww, wy + wh, 250, 250, 250);
    for (let y = 0; y < 56; y++) fill(wx, wy + y, wx + ww, wy + y + 1, 236 - (y >> 1), 236 - (y >> 1), 236 - (y >> 1));
    fill(wx, wy + 56, wx + 400, wy + wh, 232, 236, 242);
    for (let k = 0; k < 6; k++) fill(wx + 450 + k * 180, wy + 80, wx + 600 + k * 180, wy + 120, 40, 110, 230);
    for (let ly = wy + 160; ly + 20 < wy + wh; ly += 28) {
      let x = wx + 440;
      while (x < wx + ww - 60) {
        const len = 6 + (rnd() % 40);
        fill(x, ly, x + len, ly + 14, 30, 30, 34);
        x += len + 6 + (rnd() % 10);
      }
    }
  }
  return px;
}

// A full collection and one event-loop turn before each timed run (neither
// is timed): every run starts from reclaimed memory, as a host's separate
// captures do, instead of piling up strings no collection has seen yet.
const collect = (() => {
  require('v8').setFlagsFromString('--expose-gc');
  return require('vm').runInNewContext('gc');
})();

async function medianMs(fn) {
  await fn(); // warm-up
  const times = [];
  for (let i = 0; i < RUNS; i++) {
    collect();
    await new Promise((resolve) => setImmediate(resolve));
    const t = process.hrtime.bigint();
    await fn();
    times.push(Number(process.hrtime.bigint() - t) / 1e6);
  }
  times.sort((a, b) => a - b);
  return times[times.length >> 1];
}

async function run() {
  const native = nativeModule();
  const sharp = require('sharp');
  const frame = screenFrame();
  const image = native.makeImage(frame, W, H);
  const raw = { raw: { width: W, height: H, channels: 4 } };
  // sharp is given the same job: Lanczos-3 down to 1920x1080 (its default
  // kernel), the opaque frame written as RGB like the add-on writes it, for
  // PNG the same zlib level (2) with one fixed row filter rather than adaptive
  // filtering (sharp cannot pick the Up filter the add-on uses), and for JPEG
  // the same quality and 4:2:0 subsampling without the extra
  // Huffman-optimising pass. A second PNG row uses sharp's defaults.
  const sharpPng = (opts) => () =>
    sharp(frame, raw).resize(1920, 1080).removeAlpha().png(opts).toBuffer().then((b) => b.toString('base64'));
  const sharpJpeg = (opts) => () =>
    sharp(frame, raw).resize(1920, 1080).removeAlpha().jpeg(opts).toBuffer().then((b) => b.toString('base64'));

  let pngText = '';
  let jpegText = '';
  const png = await medianMs(() => { pngText = native.encode(image, 'png', 0); });
  const jpeg = await medianMs(() => { jpegText = native.encode(image, 'jpeg', 0.6); });
  let sharpPngText = '';
  let sharpJpegText = '';
  const sPng = await medianMs(async () => {
    sharpPngText = await sharpPng({ compressionLevel: 2, adaptiveFiltering: false })();
  });
  const sPngDefault = await medianMs(sharpPng({}));
  const sJpeg = await medianMs(async () => {
    sharpJpegText = await sharpJpeg({ quality: 60, chromaSubsampling: '4:2:0', optimiseCoding: false })();
  });
  const kib = (text) => Math.round((text.length * 3) / 4 / 1024);

  const data = Buffer.alloc(8 << 20);
  for (let i = 0; i < data.length; i++) data[i] = (i * 2654435761) >>> 24;
  const mib = data.length / (1 << 20);
  const ours = await medianMs(() => native.base64(data, true));
  const core = await medianMs(() => native.base64(data, false));
  const node = await medianMs(() => data.toString('base64'));
  if (native.base64(data, true) !== data.toString('base64')) throw new Error('Base64 texts differ');

  return [
    { name: `PNG 3840x2160 -> 1920x1080 + Base64 (${kib(pngText)} KiB)`, value: png, unit: 'ms',
      reference: `sharp same settings ${sPng.toFixed(1)} ms (${kib(sharpPngText)} KiB)`, ratio: png / sPng, target: '<= 1.2' },
    { name: 'PNG, against sharp defaults (zlib 6)', value: png, unit: 'ms',
      reference: `sharp default ${sPngDefault.toFixed(1)} ms`, ratio: png / sPngDefault, target: '' },
    { name: `JPEG 0.6 3840x2160 -> 1920x1080 + Base64 (${kib(jpegText)} KiB)`, value: jpeg, unit: 'ms',
      reference: `sharp q60 ${sJpeg.toFixed(1)} ms (${kib(sharpJpegText)} KiB)`, ratio: jpeg / sJpeg, target: '<= 1.0' },
    { name: 'Base64 8 MiB to a JS string', value: mib / (ours / 1000), unit: 'MiB/s',
      reference: `Buffer.toString ${(mib / (node / 1000)).toFixed(0)} MiB/s`, ratio: node / ours, target: '>= 0.95' },
    { name: 'Base64 8 MiB, encoder alone', value: mib / (core / 1000), unit: 'MiB/s',
      reference: `Buffer.toString ${(mib / (node / 1000)).toFixed(0)} MiB/s`, ratio: node / core, target: '' },
  ];
}

module.exports = { run };
