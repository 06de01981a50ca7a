// Typings of the ES module entry (sim.mjs): the same declarations as sim.d.ts.
export * from './sim.js';
import * as all from './sim.js';
export default all;
