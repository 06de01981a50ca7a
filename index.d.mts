// Typings of the ES module entry (index.mjs): the same declarations as index.d.ts.
export * from './index.js';
import * as all from './index.js';
export default all;
