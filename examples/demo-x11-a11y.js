'use strict';
// The accessibility part of the x11 demo: a real snapshot of the editor,
// its text set and read back, and a widget-factory check box pressed while
// the editor stays in front, read back too.

const flatten = (els, out = []) => {
  for (const e of els) {
    out.push(e);
    flatten(e.children || [], out);
  }
  return out;
};

function printTree(elements, depth, maxDepth, budget) {
  for (const e of elements) {
    if (budget.left-- <= 0) return;
    const title = e.title ? ` ${JSON.stringify(e.title)}` : '';
    const value = e.value !== undefined ? ` value=${JSON.stringify(e.value.slice(0, 40))}` : '';
    console.log(`${'  '.repeat(depth)}${e.role}${e.subrole ? `/${e.subrole}` : ''}${title}${value} ` +
      `${JSON.stringify(e.bounds)}${e.actions.length ? ` [${e.actions.join(', ')}]` : ''}`);
    if (depth + 1 < maxDepth) printTree(e.children || [], depth + 1, maxDepth, budget);
  }
}

async function run(addon, apps) {
  const editor = apps.find((a) => a.bundle_id === 'org.xfce.mousepad');
  const factory = apps.find((a) => a.bundle_id === 'gtk3-widget-factory');
  const heading = (t) => console.log(`\n== ${t} ==`);

  heading('accessibility snapshot of the editor');
  if (!editor) {
    console.log('mousepad is not running (scripts/desktop-up.sh starts it)');
    return;
  }
  const t0 = Date.now();
  const snap = await addon.captureAppAsync(editor.pid);
  if (!snap) {
    console.log('the capture answered null (is the editor on the accessibility bus?)');
    return;
  }
  const all = flatten(snap.elements);
  console.log(`${JSON.stringify(snap.window.title)} window ${snap.window.window_id}: ${all.length} elements ` +
    `in ${Date.now() - t0} ms (epoch ${snap.capture_epoch})`);
  printTree(snap.elements, 0, 4, { left: 40 });

  heading('set the editor\'s text');
  const text = all.find((e) => e.role === 'AXTextArea' && e.editable);
  if (text) {
    const words = `Written through AT-SPI at ${new Date().toISOString()}`;
    console.log('setValue:', JSON.stringify(addon.setValue(text.ref, words)));
    console.log('read back:', JSON.stringify(addon.readElement(text.ref).value));
    console.log('selectText(0, 7):', JSON.stringify(addon.selectText(text.ref, 0, 7)),
      JSON.stringify(addon.readElement(text.ref).selected_text_range));
  }
  addon.ackCaptureEpoch(editor.pid, snap.capture_epoch);

  heading('press a widget-factory check box in the background');
  if (!factory) {
    console.log('gtk3-widget-factory is not running');
    return;
  }
  addon.activateApplication(editor.pid);
  const fsnap = await addon.captureAppAsync(factory.pid);
  const box = fsnap && flatten(fsnap.elements).find((e) => e.role === 'AXCheckBox' && !e.subrole && e.enabled && e.bounds[2] > 0);
  if (!box) {
    console.log('no enabled check box found');
    return;
  }
  console.log(`check box ${JSON.stringify(box.title)} at ${JSON.stringify(box.bounds)}: value ${box.value}`);
  const r = addon.performAction(box.ref, 'AXPress');
  console.log(`AXPress: ok=${r.ok} axError=${r.axError} guardEngaged=${r.pressFocusDiagnostics?.guardEngaged}`);
  await new Promise((resolve) => setTimeout(resolve, 500));
  console.log(`read back: value ${addon.readElement(box.ref).value}; active application: ` +
    `${(addon.listApplications().find((a) => a.active) || {}).name}`);
  addon.ackCaptureEpoch(factory.pid, fsnap.capture_epoch);
}

module.exports = { run, flatten };
