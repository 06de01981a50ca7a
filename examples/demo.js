'use strict';
// Demo: what the add-on can do today, against the simulated desktop loaded
// with the sample scene (a text editor, a settings app, a file browser).
// Run with `npm start`; it writes the editor window's capture to
// out/editor-window.png.
const fs = require('fs');
const path = require('path');
const addon = require('..');
const sim = require('../sim');

const heading = (text) => console.log(`\n== ${text} ==`);

function printTree(elements, depth = 0, budget = { lines: 40 }) {
  for (const e of elements) {
    if (budget.lines-- <= 0) return;
    const label = [e.title && JSON.stringify(e.title), e.value && `value=${JSON.stringify(e.value.slice(0, 40))}`]
      .filter(Boolean)
      .join(' ');
    const extra = e.children_total !== undefined ? ` (${e.children?.length ?? 0} of ${e.children_total})` : '';
    console.log(`${'  '.repeat(depth)}${e.role || '?'} ${label} [${e.ref}]${extra}`);
    if (e.children) printTree(e.children, depth + 1, budget);
  }
}

function flatten(elements, out = []) {
  for (const e of elements) {
    out.push(e);
    if (e.children) flatten(e.children, out);
  }
  return out;
}

// KORVO_OZA_PLATFORM=x11: the same exports against the real X desktop named
// by DISPLAY (for example one from scripts/desktop-up.sh).
async function mainX11() {
  if (sim.backendName() !== 'x11') {
    console.error('no X display could be opened (DISPLAY); start one with: bash scripts/desktop-up.sh DIR && . DIR/env');
    process.exit(1);
  }
  console.log(`platform backend: x11 on ${process.env.DISPLAY}; accessibility bus reachable: ${addon.isTrusted()}; ` +
    `screen recording: ${addon.screenCaptureStatus()}`);

  heading('applications');
  const apps = addon.listApplications();
  for (const a of apps) console.log(`${a.pid}  ${a.bundle_id}  ${a.name}${a.active ? '  (active)' : ''}`);

  heading('displays and pointer');
  console.log(JSON.stringify(addon.displays()), JSON.stringify(addon.cursorPoint()));

  let shown = null;
  for (const a of apps) {
    heading(`windows of ${a.name}`);
    for (const w of addon.listWindows(a.pid) || []) {
      console.log(`#${w.index} id=${w.window_id} ${JSON.stringify(w.title)} bounds=${JSON.stringify(w.bounds)}` +
        `${w.main ? ' main' : ''}${w.focused ? ' focused' : ''}${w.onscreen ? ' onscreen' : ''}`);
      if (!shown && w.onscreen && w.window_id) shown = { app: a, window: w };
    }
  }

  heading('window capture');
  if (!shown) {
    console.log('no on-screen window to capture');
    return;
  }
  const shot = addon.captureWindowImage(shown.window.window_id, 'png');
  if (!shot) {
    console.log('capture answered null');
    return;
  }
  const outDir = path.join(__dirname, '..', 'out');
  fs.mkdirSync(outDir, { recursive: true });
  const file = path.join(outDir, `${shown.app.bundle_id || shown.app.pid}-window.png`);
  fs.writeFileSync(file, Buffer.from(shot.data, 'base64'));
  const stats = addon.inspectPngContent(fs.readFileSync(file));
  console.log(`wrote ${path.relative(process.cwd(), file)}: ${stats.width}x${stats.height} px of ` +
    `${JSON.stringify(shown.window.title)}, ${stats.distinctColorBucketCount} colour buckets`);
}

async function main() {
  if (process.env.KORVO_OZA_PLATFORM === 'x11') return mainX11();
  sim.reset();
  sim.loadSampleScene();
  console.log(`platform backend: ${sim.backendName()}; accessibility trusted: ${addon.isTrusted()}; ` +
    `screen recording: ${addon.screenCaptureStatus()}`);

  heading('applications');
  const apps = addon.listApplications();
  for (const a of apps) console.log(`${a.pid}  ${a.bundle_id}  ${a.name}${a.active ? '  (active)' : ''}`);
  const editor = apps.find((a) => a.bundle_id === 'com.korvo.TextPad');

  heading('displays and pointer');
  console.log(JSON.stringify(addon.displays()), JSON.stringify(addon.cursorPoint()));

  heading(`windows of ${editor.name}`);
  const windows = addon.listWindows(editor.pid);
  for (const w of windows) {
    console.log(`#${w.index} id=${w.window_id} ${JSON.stringify(w.title)} bounds=${JSON.stringify(w.bounds)}` +
      `${w.main ? ' main' : ''}${w.focused ? ' focused' : ''}${w.onscreen ? ' onscreen' : ''}`);
  }

  heading(`snapshot of ${editor.name}`);
  const snap = await addon.captureAppAsync(editor.pid, editor.bundle_id);
  addon.ackCaptureEpoch(editor.pid, snap.capture_epoch);
  console.log(`window ${JSON.stringify(snap.window.title)} id=${snap.window.window_id} ` +
    `epoch=${snap.capture_epoch} elements=${flatten(snap.elements).length} surfaces=${snap.surfaces.length}`);
  printTree(snap.elements);

  heading('capture -> set value -> press -> read back');
  const all = flatten(snap.elements);
  const text = all.find((e) => e.role === 'AXTextArea');
  console.log('setValue:', JSON.stringify(addon.setValue(text.ref, 'Hello from the agent')));
  console.log('readElement value:', JSON.stringify(addon.readElement(text.ref).value));
  // The sim tells us what really happened: the button's action ran.
  const bold = all.find((e) => e.role === 'AXButton' && e.title === 'Bold');
  const before = sim.element('textpad.bold').pressCount;
  const outcome = addon.performAction(bold.ref, 'AXPress');
  console.log(`performAction(Bold, AXPress): ok=${outcome.ok} axError=${outcome.axError}; ` +
    `the button's press count went ${before} -> ${sim.element('textpad.bold').pressCount}`);
  console.log('readElement after the press:', JSON.stringify(addon.readElement(text.ref).value));

  heading('window capture');
  const main = windows.find((w) => w.main) || windows[0];
  const shot = await addon.captureWindowImageVerifiedAsync(main.window_id, editor.pid, editor.bundle_id, 'png');
  if (shot) {
    const outDir = path.join(__dirname, '..', 'out');
    fs.mkdirSync(outDir, { recursive: true });
    const file = path.join(outDir, 'editor-window.png');
    fs.writeFileSync(file, Buffer.from(shot.data, 'base64'));
    const stats = addon.inspectPngContent(fs.readFileSync(file));
    console.log(`wrote ${path.relative(process.cwd(), file)}: ${stats.width}x${stats.height} px, ` +
      `${stats.distinctColorBucketCount} colour buckets, bounds ${JSON.stringify(shot.bounds)}`);
  } else {
    console.log('capture answered null');
  }

  addon.releaseCaptureEpoch(editor.pid, snap.capture_epoch);
  console.log(`\nreleased the snapshot; live element handles held by the add-on: ${sim.liveHandleCount()}`);
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
