// A CommonJS TypeScript consumer of the installed package.
import addon = require('automation-addon');
import sim = require('automation-addon/sim');
import platform = require('automation-addon/platform');

export function capture(): number {
  sim.loadSampleScene();
  const snap: addon.AppSnapshot | null = addon.captureApp(501);
  if (snap) addon.performAction(snap.elements[0].ref, 'AXPress');
  const backend: 'sim' | 'x11' = platform.describe().backend;
  void backend;
  // @ts-expect-error: a misspelt action name
  addon.performAction('axh-1', 'AXPresss');
  // @ts-expect-error: not a button
  addon.clickAtPoint(1, 2, 'lfet', 1);
  // @ts-expect-error: not a paste format
  addon.pasteboardBeginProvidedPaste('hi', 'rtf');
  // @ts-expect-error: present only with the live gate
  addon.projectFrameContentForTest([0, 0, 1, 1], [0, 0, 1, 1], 1, 1, 1, 1);
  return snap ? snap.elements.length : 0;
}
