'use strict';
// Mouse input on the simulated desktop: a click into the Settings window
// while the editor stays in front (its window covers the point), then a
// global click and a drag for comparison.
const addon = require('..');
const sim = require('../sim');

async function mouseDemo() {
  console.log('\n== mouse input ==');
  const settings = addon.listApplications().find((a) => a.bundle_id === 'com.korvo.Settings');
  const win = settings && addon.listWindows(settings.pid).find((w) => w.window_id);
  const box = sim.element('settings.autosave');
  if (!win || !box) {
    console.log('the Settings window is not in this scene');
    return;
  }
  const bounds = [win.bounds.x ?? win.bounds[0], win.bounds.y ?? win.bounds[1],
    win.bounds.width ?? win.bounds[2], win.bounds.height ?? win.bounds[3]];
  const [x, y] = [box.frame[0] + 10, box.frame[1] + box.frame[3] / 2];
  const frontBefore = sim.frontmost();
  const pointerBefore = sim.pointer();
  const ok = await addon.clickToWindowAsync(settings.pid, settings.bundle_id, win.window_id, bounds,
    x, y, 'left', 1, '');
  const covered = sim.windows().find((w) => w.visible && w.pid !== settings.pid &&
    x >= w.bounds[0] && x < w.bounds[0] + w.bounds[2] && y >= w.bounds[1] && y < w.bounds[1] + w.bounds[3]);
  console.log(`background click on "${box.title}" at (${x}, ${y})${covered ? `, under ${covered.ownerName}'s window` : ''}: ${ok}`);
  console.log(`check box value ${box.value} -> ${sim.element('settings.autosave').value}; frontmost pid ` +
    `${frontBefore} -> ${sim.frontmost()}; pointer ${JSON.stringify(pointerBefore)} -> ${JSON.stringify(sim.pointer())}`);
  const posted = sim.events().filter((e) => e.route === 'private_pid' && e.pid === settings.pid);
  console.log(`${posted.length} window-addressed events (${posted.map((e) => e.type).join(', ')})`);

  const bold = sim.element('textpad.bold');
  if (bold) {
    const [bx, by] = [bold.frame[0] + bold.frame[2] / 2, bold.frame[1] + bold.frame[3] / 2];
    const clicked = addon.clickAtPoint(bx, by, 'left', 1);
    console.log(`global click on "${bold.title}": ${clicked}, pressed ${sim.element('textpad.bold').pressCount} time(s)`);
  }
  const dragged = await addon.dragAsync(300, 400, 500, 420, 'left', 'none');
  console.log(`drag (300, 400) -> (500, 420): ${dragged}, pointer now ${JSON.stringify(sim.pointer())}`);
}

module.exports = { mouseDemo };
