'use strict';
// The background-window part of the x11 demo: a widget-factory check box
// clicked in its window while the editor stays the user's (no activation,
// the pointer stays put), and a verified capture of the editor's window
// written to out/.
const fs = require('node:fs');
const path = require('node:path');

const { flatten } = require('./demo-x11-a11y');

async function clickBackgroundCheckBox(addon, editor, factory) {
  console.log('\n== click a check box in a background window ==');
  if (!factory) {
    console.log('gtk3-widget-factory is not running');
    return;
  }
  addon.activateApplication(editor.pid);
  const snap = await addon.captureAppAsync(factory.pid);
  const box = snap && flatten(snap.elements).find((e) => e.role === 'AXCheckBox' && !e.subrole && e.enabled && e.bounds[2] > 0);
  if (snap) addon.releaseCaptureEpoch(factory.pid, snap.capture_epoch);
  if (!box) {
    console.log('no enabled check box found');
    return;
  }
  // The window list's entry: background input checks the host's bounds against it.
  const [w] = addon.listWindows(factory.pid);
  const listed = addon.screenCaptureProbeWindows().find((p) => p.windowId === w.window_id);
  const bounds = [listed.bounds.x, listed.bounds.y, listed.bounds.width, listed.bounds.height];
  const [x, y] = [box.bounds[0] + box.bounds[2] / 2, box.bounds[1] + box.bounds[3] / 2];
  const pointer = addon.cursorPoint();
  const ok = await addon.clickToWindowAsync(factory.pid, factory.bundle_id, w.window_id, bounds, x, y, 'left', 1, '', false);
  await new Promise((resolve) => setTimeout(resolve, 300));
  const again = await addon.captureAppAsync(factory.pid);
  const now = again && flatten(again.elements).find((e) => e.ref && e.role === box.role && e.title === box.title &&
    e.bounds.join() === box.bounds.join());
  if (again) addon.releaseCaptureEpoch(factory.pid, again.capture_epoch);
  console.log(`clickToWindowAsync on ${JSON.stringify(box.title)}: ${ok}; value ${box.value} -> ${now ? now.value : '?'}; ` +
    `active application: ${(addon.listApplications().find((a) => a.active) || {}).name}; pointer ` +
    `${JSON.stringify(pointer)} -> ${JSON.stringify(addon.cursorPoint())}`);
}

async function writeVerifiedCapture(addon, editor) {
  console.log('\n== verified window capture ==');
  const [w] = addon.listWindows(editor.pid) || [];
  if (!w) {
    console.log('the editor has no window');
    return;
  }
  const shot = await addon.captureWindowImageVerifiedAsync(w.window_id, editor.pid, editor.bundle_id, 'png');
  if (!shot) {
    console.log('the verified capture answered null');
    return;
  }
  const outDir = path.join(__dirname, '..', 'out');
  fs.mkdirSync(outDir, { recursive: true });
  const file = path.join(outDir, `${editor.bundle_id}-verified.png`);
  fs.writeFileSync(file, Buffer.from(shot.data, 'base64'));
  const stats = addon.inspectPngContent(fs.readFileSync(file));
  console.log(`wrote ${path.relative(process.cwd(), file)}: ${stats.width}x${stats.height} px at ` +
    `${JSON.stringify(shot.bounds)}; a capture naming another pid answers ` +
    `${JSON.stringify(await addon.captureWindowImageVerifiedAsync(w.window_id, editor.pid + 100000, editor.bundle_id))}`);
}

async function run(addon, apps) {
  const editor = apps.find((a) => a.bundle_id === 'org.xfce.mousepad');
  const factory = apps.find((a) => a.bundle_id === 'gtk3-widget-factory');
  if (!editor) {
    console.log('mousepad is not running (scripts/desktop-up.sh starts it)');
    return;
  }
  await clickBackgroundCheckBox(addon, editor, factory);
  await writeVerifiedCapture(addon, editor);
}

module.exports = { run };
