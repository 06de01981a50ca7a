'use strict';
// Loads the native add-on and hands out its export object unchanged, so the
// package exposes exactly the add-on's own names.
const path = require('path');
const { isMainThread } = require('worker_threads');

// The add-on's tables (tokens, input state, overlay, panels) are process-wide
// and its run-loop pump lives on the main thread's loop: it is loaded once,
// by the main thread.
if (!isMainThread) {
  throw new Error(
    'automation-addon: load it from the main thread; worker threads cannot load it ' +
      '(its state is process-wide and bound to the main thread\'s event loop)'
  );
}

// AUTOMATION_ADDON_BUILD_DIR selects another build tree (a sanitizer build, say).
const buildDir = process.env.AUTOMATION_ADDON_BUILD_DIR || path.join(__dirname, 'build');
const binary = path.join(path.resolve(buildDir), 'lib', 'automation_addon.node');
let addon;
try {
  addon = require(binary);
} catch (err) {
  if (err && err.code === 'MODULE_NOT_FOUND') {
    throw new Error(
      `automation-addon: the native module is not built (${binary} is missing). ` +
        'Run `npm run build` in the package directory first.'
    );
  }
  throw err;
}
module.exports = addon;
