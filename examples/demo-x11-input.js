'use strict';
// The input part of the x11 demo: text typed into the editor by its pid
// while another application stays active, then a provided paste into it
// (the paste chord sent globally), each read back through the editor's
// accessibility tree.

const { flatten } = require('./demo-x11-a11y');
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const activeName = (addon) => (addon.listApplications().find((a) => a.active) || {}).name;

// Activation is asynchronous: asks for it, then polls (at most 3 s).
async function activate(addon, app) {
  addon.activateApplication(app.pid);
  for (const end = Date.now() + 3000; Date.now() < end && activeName(addon) !== app.name;) await sleep(50);
}

// The editor's text element and its current value (a fresh capture).
async function editorText(addon, pid) {
  const snap = await addon.captureAppAsync(pid);
  if (!snap) return null;
  const text = flatten(snap.elements).find((e) => e.role === 'AXTextArea' && e.editable);
  const value = text ? addon.readElement(text.ref).value : null;
  addon.ackCaptureEpoch(pid, snap.capture_epoch);
  return text ? { ref: text.ref, value } : null;
}

async function waitForText(addon, pid, want) {
  for (const end = Date.now() + 5000; Date.now() < end; await sleep(100)) {
    const t = await editorText(addon, pid);
    if (t && t.value === want) return t.value;
  }
  return (await editorText(addon, pid) || {}).value;
}

async function run(addon, apps) {
  const editor = apps.find((a) => a.bundle_id === 'org.xfce.mousepad');
  const factory = apps.find((a) => a.bundle_id === 'gtk3-widget-factory');
  const heading = (t) => console.log(`\n== ${t} ==`);
  if (!editor || !factory) {
    console.log('\nmousepad and gtk3-widget-factory are needed for the input demo (scripts/desktop-up.sh starts both)');
    return;
  }

  heading('type into the editor by its pid, in the background');
  await activate(addon, factory);
  const start = await editorText(addon, editor.pid);
  if (start) addon.setValue(start.ref, '');
  const typed = 'Typed by pid: 2+2=4, é ü ß, жук, 中文 😀\n';
  const pointer = JSON.stringify(addon.cursorPoint());
  console.log(`active: ${activeName(addon)}; typeTextToPidVerified:`,
    JSON.stringify(await addon.typeTextToPidVerified(editor.pid, editor.bundle_id, typed)));
  const got = await waitForText(addon, editor.pid, typed);
  console.log(`read back ${got === typed ? 'exactly' : 'DIFFERENT'}: ${JSON.stringify(got)}`);
  console.log(`still active: ${activeName(addon)}; pointer ${pointer === JSON.stringify(addon.cursorPoint()) ? 'unmoved' : 'MOVED'}`);

  heading('provided paste into the editor');
  const pasted = 'Pasted through a provided paste: «ünïcødé» 中 😀';
  const begun = addon.pasteboardBeginProvidedPaste(pasted, 'html');
  console.log('begin:', JSON.stringify(begun));
  if (!begun.ok) return;
  await activate(addon, editor);
  addon.pasteboardMarkProvidedPasteDispatched(begun.token);
  console.log(`paste chord to ${activeName(addon)}: ${addon.pressKeyGlobal('cmd+v')}`);
  console.log('await:', JSON.stringify(await addon.pasteboardAwaitProvidedRead(begun.token)));
  addon.pasteboardFinishProvidedPaste(begun.token);
  const after = await waitForText(addon, editor.pid, typed + pasted);
  console.log(`editor now ${after === typed + pasted ? 'holds both texts exactly' : 'DIFFERS'}: ${JSON.stringify(after)}`);
}

module.exports = { run };
