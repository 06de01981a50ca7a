'use strict';
// Demo: what the add-on can do today, against the simulated desktop loaded
// with the sample scene (a text editor, a settings app, a file browser).
// Run with `npm start`; it writes the editor window's capture to
// out/editor-window.png and the ghost cursor overlay to out/ghost-cursor.png.
// `KORVO_OZA_PLATFORM=x11 npm start` runs it against the X display DISPLAY names.
const fs = require('fs');
const path = require('path');
const platform = require('../platform');

const heading = (text) => console.log(`\n== ${text} ==`);

// The desktop first: which backend, and what works on it.
let desktop;
try {
  desktop = platform.describe();
} catch (err) {
  console.error(err.message);
  process.exit(1);
}
heading(`desktop: ${desktop.backend}`);
console.log(Object.entries(desktop.facts).map(([k, v]) => `${k}: ${v}`).join('; '));
for (const [name, c] of Object.entries(desktop.capabilities)) {
  console.log(`  ${name.padEnd(27)} ${c.status}${c.reason ? ` (${c.reason})` : ''}`);
}

const addon = require('..');
const sim = require('../sim');

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

// The ghost cursor: two agent sessions, each with its own colour; the element
// press glides agent-1's cursor onto the Bold button, and the overlay around
// it is written to out/ghost-cursor.png.
// Opens a mirror panel of the editor's main window, waits for its first frame
// and writes what the panel shows to out/mirror-panel.png.
async function mirrorPanel(windowId, pid, bundleId) {
  console.log('\n== mirror panel ==');
  const started = await addon.pipStartVerifiedAsync(windowId, pid, bundleId);
  const shown = await sim.waitFor(() => sim.panels().find((p) => p.orderedIn && p.imageLayersWithContents), { timeoutMs: 4000 });
  if (!started || !shown) {
    console.log(`mirror did not show (started ${started})`);
    addon.pipStop();
    return;
  }
  const img = sim.surfaceImage(shown.number);
  const sharp = require('sharp');
  const outDir = path.join(__dirname, '..', 'out');
  fs.mkdirSync(outDir, { recursive: true });
  const file = path.join(outDir, 'mirror-panel.png');
  await sharp(img.rgba, { raw: { width: img.width, height: img.height, channels: 4, premultiplied: true } }).png().toFile(file);
  console.log(`panel ${JSON.stringify(shown.frame)} (level ${shown.level}) mirrors window ${windowId}; ` +
    `wrote ${path.relative(process.cwd(), file)} (${img.width}x${img.height} px)`);
  await panelInteraction(shown);
  addon.pipStop();
}

// The user drags the panel by 120 points to the left (the event tap swallows
// the drag and the panel follows), then presses its close corner.
async function panelInteraction(shown) {
  if (!(await sim.waitFor(() => addon.pipIsInteractionReady(), { timeoutMs: 4000 }))) {
    console.log('panel interaction did not become ready');
    return;
  }
  const [x, y, w] = sim.panels()[0].frame;
  const at = [x + w / 2, y + 40];
  sim.userMouse('moved', at[0], at[1]);
  await sim.waitFor(() => false, { timeoutMs: 150 }); // the ownership probe answers after a move
  sim.userMouse('down', at[0], at[1]);
  sim.userMouse('dragged', at[0] - 120, at[1]);
  sim.userMouse('up', at[0] - 120, at[1]);
  const moved = await sim.waitFor(() => sim.panels()[0].frame[0] === x - 120, { timeoutMs: 1000 });
  const swallowed = sim.events().filter((e) => e.route === 'hid:swallowed').length;
  console.log(`user drag: panel ${moved ? 'moved' : 'did not move'} to x=${sim.panels()[0].frame[0]} ` +
    `(${swallowed} events kept from the window below)`);
  const [nx, ny, nw] = sim.panels()[0].frame;
  sim.userMouse('down', nx + nw - 10, ny + 10);
  sim.userMouse('up', nx + nw - 10, ny + 10);
  const closed = await sim.waitFor(() => addon.pipStackCount() === 0, { timeoutMs: 1000 });
  console.log(`close corner: panel ${closed ? 'closed, its target dismissed' : 'still open'}`);
  addon.pipClearDismissed();
}

async function ghostCursor(elements) {
  heading('ghost cursor');
  addon.ghostSetEnabled(true);
  addon.ghostSetMultiCursorEnabled(true);
  addon.ghostShow(700, 600, 'agent-2');
  addon.ghostSetRequestSession('agent-1');
  addon.ghostBeginActionWithTitle('Formatting the text', 'agent-1');
  const bold = elements.find((e) => e.role === 'AXButton' && e.title === 'Bold');
  addon.performAction(bold.ref, 'AXPress');
  await sim.waitFor(() => addon.ghostState().groups.every((g) => !g.animating), { timeoutMs: 3000 });
  for (const g of addon.ghostState().groups.filter((g) => g.shown)) {
    console.log(`session ${g.key}: colour ${g.fillHex} at (${g.x}, ${g.y}) badge ${JSON.stringify(g.badgeText)}`);
  }
  const outDir = path.join(__dirname, '..', 'out');
  fs.mkdirSync(outDir, { recursive: true });
  const file = path.join(outDir, 'ghost-cursor.png');
  addon.ghostSetRequestSession('agent-1');
  if (addon.ghostRenderPng(file, 320, 240)) {
    console.log(`wrote ${path.relative(process.cwd(), file)}: the overlay around agent-1's cursor`);
  }
  addon.ghostRemoveSession('agent-1');
  addon.ghostRemoveSession('agent-2');
}
// A provided paste into the editor: the text goes on the pasteboard lazily,
// Command-V makes the editor read it, the add-on sees that read, and the
// user's own clipboard comes back afterwards.
async function providedPaste(editor) {
  heading('provided paste into the editor');
  const plain = sim.pasteboardTypes.plainText;
  sim.writePasteboard([{ [plain]: "the user's clipboard" }], { writer: 'notes' });
  const begun = addon.pasteboardBeginProvidedPaste(' Pasted by the agent.', 'html');
  console.log(`begin: ${JSON.stringify(begun)}; the pasteboard offers ${JSON.stringify(sim.pasteboard().items[0].types)}`);
  addon.pasteboardMarkProvidedPasteDispatched(begun.token);
  await addon.pressKeyToPid(editor.pid, 'cmd+v');
  const read = await addon.pasteboardAwaitProvidedRead(begun.token, 2000, 200, 300);
  console.log(`await: ${JSON.stringify(read)}`);
  console.log('editor text now ends:', JSON.stringify(sim.element('textpad.text').value.slice(-40)));
  addon.pasteboardFinishProvidedPaste(begun.token);
  console.log(`after finish the pasteboard holds ${JSON.stringify(sim.pasteboard().items.map((i) => i.data))}`);
}

const main0 = (windows) => windows.find((w) => w.main) || windows[0];
// KORVO_OZA_PLATFORM=x11: the same exports against the real X desktop named
// by DISPLAY (for example one from scripts/desktop-up.sh).
async function mainX11() {
  console.log(`accessibility bus reachable: ${addon.isTrusted()}; ` +
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

  await require('./demo-x11-a11y').run(addon, apps);
  await require('./demo-x11-input').run(addon, apps);
  await require('./demo-x11-window-input').run(addon, apps);

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
  if (desktop.backend === 'x11') return mainX11();
  sim.reset();
  sim.loadSampleScene();
  console.log(`accessibility trusted: ${addon.isTrusted()}; ` +
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

  heading('keyboard: type into the editor without activating it');
  const typed = 'Typed by the agent: 2+2=4, café, 😀\r\nSecond line.';
  const typing = await addon.typeTextToPidVerified(editor.pid, editor.bundle_id, typed, main0(windows).window_id);
  console.log(`typeTextToPidVerified: ${JSON.stringify(typing)}`);
  const press = await addon.pressKeyToPidVerified(editor.pid, editor.bundle_id, 'shift+1');
  console.log(`pressKeyToPidVerified(shift+1): ${JSON.stringify(press)}`);
  console.log('readElement value:', JSON.stringify(addon.readElement(text.ref).value));
  const posted = sim.events().filter((e) => e.type === 'keyDown');
  console.log(`${posted.length} key-downs posted (${posted.filter((e) => e.unicode).length} Unicode chunks, ` +
    `the rest key presses), route ${posted[0] && posted[0].route}, nothing left pressed: ` +
    `${JSON.stringify(sim.heldKeys()) === '{}'}`);

  await providedPaste(editor);

  heading('window capture');
  const main = main0(windows);
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

  await mirrorPanel(main.window_id, editor.pid, editor.bundle_id);
  await ghostCursor(all);
  await require('./demo-mouse').mouseDemo();

  addon.releaseCaptureEpoch(editor.pid, snap.capture_epoch);
  console.log(`\nreleased the snapshot; live element handles held by the add-on: ${sim.liveHandleCount()}`);
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
