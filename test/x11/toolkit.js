'use strict';
// Steps the toolkit families' suites share: starting an application on the
// test desktop (stopped by its pid when the suite ends), waiting for its
// tree, and the checks every family runs against its own widgets.
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { spawn } = require('node:child_process');
const { addon, desktop, waitFor, xGeometry } = require('./desktop');

const onPath = (prog) => (process.env.PATH || '').split(':').some((d) => fs.existsSync(path.join(d, prog)));
// The one-line reason a family's suite is skipped, or false.
const missing = (...progs) => {
  const absent = progs.filter((p) => !onPath(p));
  return absent.length ? `${absent.join(', ')} not installed (bash scripts/setup.sh installs it)` : false;
};

const flatten = (els, out = []) => {
  for (const e of els) {
    out.push(e);
    flatten(e.children || [], out);
  }
  return out;
};

const sleep = (ms) => Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);

// Starts a program on the desktop, its output in a log file of the
// desktop's directory (read back when it dies: the waits below block the
// event loop, so a pipe would never be read).
const started = [];
const logs = new Map();  // pid -> log file
function launch(cmd, args, env = {}) {
  const file = path.join(desktop.dir, `${path.basename(cmd)}-${Date.now()}-${started.length}.log`);
  const log = fs.openSync(file, 'a');
  // Applications never run under the sanitizer runtime preloaded into the
  // test process (scripts/test-asan.sh): Firefox dies of it.
  const childEnv = { ...process.env, ...env };
  delete childEnv.LD_PRELOAD;
  const child = spawn(cmd, args, { env: childEnv, stdio: ['ignore', log, log] });
  fs.closeSync(log);
  started.push(child);
  logs.set(child.pid, file);
  return child;
}

// Throws with the program's own last words when a launched program ended.
function checkAlive(pid) {
  let state = '';
  try {
    state = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1][0];
  } catch { state = 'gone'; }
  if (state !== 'Z' && state !== 'gone') return;
  const file = logs.get(pid);
  const output = file && fs.existsSync(file) ? fs.readFileSync(file, 'utf8').trim().split('\n').slice(-6).join('\n') : '';
  throw new Error(`pid ${pid} ended before it answered${output ? `:\n${output}` : ' (no output)'}`);
}
function stopAll() {
  for (const child of started.splice(0)) {
    if (child.exitCode === null && child.signalCode === null) {
      try { process.kill(child.pid, 'SIGCONT'); } catch { /* already gone */ }
      child.kill('SIGKILL');
    }
  }
}

// A capture of pid (of one window when given) once its application answers
// with at least `minimum` elements and `ready` accepts them.
function captureWhenReady(pid, minimum, { windowId, ready = () => true, ms = 30000 } = {}) {
  return waitFor(() => {
    if (logs.has(pid)) checkAlive(pid);
    const snap = windowId ? addon.captureApp(pid, windowId) : addon.captureApp(pid);
    if (snap && flatten(snap.elements).length >= minimum && ready(flatten(snap.elements), snap)) return snap;
    if (snap) addon.releaseCaptureEpoch(pid, snap.capture_epoch);
    return null;
  }, ms, `a capture of pid ${pid} with ${minimum} elements`);
}

const centre = (b) => [b[0] + Math.floor(b[2] / 2), b[1] + Math.floor(b[3] / 2)];

// The window's outer frame as X has it: the client rectangle grown by the
// window manager's frame extents.
function outerFrame(windowId) {
  const { client: [x, y, w, h], extents: [l, r, t, b] } = xGeometry(windowId);
  return [x - l, y - t, w + l + r, h + t + b];
}

// A snapshot's window and element bounds map onto the window's image: the
// window's bounds are the outer frame the window list reports, the image
// has that size, and the element's rectangle inside it is not blank.
async function checkMapsOntoImage(pid, snap, el) {
  const sharp = require('sharp');
  const id = snap.window.window_id;
  const listed = addon.listWindows(pid).find((w) => w.window_id === id);
  assert.ok(listed, `window ${id} in the window list`);
  assert.deepStrictEqual(snap.window.bounds, outerFrame(id), 'the snapshot\'s window is the outer frame');
  assert.deepStrictEqual(listed.bounds, outerFrame(id), 'the window list\'s window is the outer frame');
  const image = addon.captureWindowImage(id, 'png');
  assert.ok(image, 'a window image');
  const { data, info } = await sharp(Buffer.from(image.data, 'base64')).raw().toBuffer({ resolveWithObject: true });
  assert.deepStrictEqual([info.width, info.height], snap.window.bounds.slice(2), 'the image has the frame\'s size');
  const [wx, wy] = snap.window.bounds;
  const [x, y, w, h] = [el.bounds[0] - wx, el.bounds[1] - wy, el.bounds[2], el.bounds[3]];
  assert.ok(w > 0 && h > 0 && x >= 0 && y >= 0 && x + w <= info.width && y + h <= info.height,
    `${el.role} "${el.title}" ${JSON.stringify(el.bounds)} lies inside the window ${JSON.stringify(snap.window.bounds)}`);
  const colours = new Set();
  for (let row = y; row < y + h; row++) {
    for (let col = x; col < x + w; col++) {
      const i = (row * info.width + col) * info.channels;
      colours.add((data[i] << 16) | (data[i + 1] << 8) | data[i + 2]);
    }
  }
  assert.ok(colours.size > 2, `the image has ${el.role} "${el.title}" drawn where its bounds say (${colours.size} colours)`);
}

// elementAtPoint at the widget's centre answers the widget (or, where the
// toolkit keeps its text in a child, a child inside it).
function checkHitTest(pid, el) {
  const [cx, cy] = centre(el.bounds);
  let hit = null;
  // (A snapshot leaves empty titles out; a single element has them.)
  const same = (h) => h && h.role === el.role && (h.title || '') === (el.title || '');
  try {
    waitFor(() => same(hit = addon.elementAtPoint(cx, cy)), 3000, 'the hit');
  } catch {
    assert.fail(`elementAtPoint(${cx}, ${cy}) answers ${hit && `${hit.role} "${hit.title}" ${JSON.stringify(hit.bounds)}`}, not ${el.role} "${el.title}"`);
  }
  assert.deepStrictEqual(hit.bounds, el.bounds);
  assert.strictEqual(hit.ownerPid, pid);
  return hit;
}

module.exports = {
  missing, flatten, sleep, launch, stopAll, checkAlive, captureWhenReady, centre, outerFrame, checkMapsOntoImage,
  checkHitTest,
};
