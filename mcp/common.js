'use strict';
// Input fields and small helpers the tool families share.
const { z } = require('zod');
const { refuse } = require('./session');
const { DEFAULT_WAIT_MS, MAX_WAIT_MS } = require('./observe');

const pid = z.number().int().describe('process id, from list_apps');
const windowId = z.number().int().describe('window id, from list_windows or snapshot');
const bundleId = z
  .string()
  .describe('the bundle id the process must still have (from list_apps); looked up from pid when left out');
const ref = z.string().min(1).describe('an element ref such as "e12" from a snapshot');
const waitMs = z.number().int().min(0).max(MAX_WAIT_MS).optional()
  .describe(`how long to wait for the effect, default ${DEFAULT_WAIT_MS} ms`);

// The expected bundle id of a pid for the add-on's verified forms: the one the
// agent gave, else the one the add-on reports for the pid now.
function expectedBundle(addon, forPid, given) {
  if (given !== undefined) return given;
  const info = addon.applicationInfo(forPid);
  return (info && info.bundle_id) || '';
}

const windowNeedsPid = (args) => {
  if (args.window_id !== undefined && args.pid === undefined) refuse('window_id needs the pid that owns the window.');
};

// The add-on's own argument errors (TypeErrors) become refusals that quote it.
function callChecked(exportName, fn) {
  try {
    return fn();
  } catch (err) {
    return refuse(`${exportName} refused the arguments: ${err.message}`);
  }
}

// Annotations: every tool states all three hints.
const READ = { readOnlyHint: true, destructiveHint: false, openWorldHint: false };
const ACT = { readOnlyHint: false, destructiveHint: false, openWorldHint: false };

const isAvailable = (desktop, facility) =>
  !!(desktop.capabilities[facility] && desktop.capabilities[facility].status === 'available');

module.exports = { pid, windowId, bundleId, ref, waitMs, expectedBundle, windowNeedsPid, callChecked, READ, ACT, isAvailable };
