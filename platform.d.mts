// Typings of the ES module entry (platform.mjs): the same declarations as platform.d.ts.
export * from './platform.js';
import * as all from './platform.js';
export default all;
