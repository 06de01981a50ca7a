'use strict';
// Loads the native add-on and hands out its export object unchanged, so the
// package exposes exactly the add-on's own names.
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

// lib/native.js picks the directory of the native parts (a prebuild for this
// platform, or the source build) once per process; AUTOMATION_ADDON_BUILD_DIR
// selects another build tree (a sanitizer build, say).
module.exports = require('./lib/native').load('automation_addon.node', 'automation-addon');
