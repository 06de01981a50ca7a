// An ES module TypeScript consumer of the installed package.
import addon, { captureApp, performAction, type AppSnapshot } from 'automation-addon';
import sim from 'automation-addon/sim';
import { describe } from 'automation-addon/platform';

sim.loadSampleScene();
const snap: AppSnapshot | null = captureApp(501);
if (snap) performAction(snap.elements[0].ref, 'AXPress');
const same: boolean = addon.captureApp === captureApp;
const backend: 'sim' | 'x11' = describe().backend;
// @ts-expect-error: a misspelt action name
performAction('axh-1', 'AXPresss');
// @ts-expect-error: not a scroll direction
addon.scrollAt(1, 2, 3, 'sideways');
export { same, backend };
