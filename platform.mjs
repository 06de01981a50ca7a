// automation-addon/platform as an ES module.
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const platform = require('./platform.js');

export default platform;
export const { describe, isAvailable, FACILITIES } = platform;
