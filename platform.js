'use strict';
// automation-addon/platform: which desktop the add-on drives and what works
// there, readable before any call to the add-on.
//
//   const platform = require('automation-addon/platform');
//   const d = platform.describe();   // throws when there is no desktop to drive
//   d.backend                         // 'sim' | 'x11'
//   d.capabilities.pasteboard         // { status: 'available' } or { status, reason }
//
// The backend is chosen once per process, as the add-on chooses it:
// KORVO_OZA_PLATFORM names it ('sim', 'x11'), else the session's own desktop
// (x11 when DISPLAY names an X server that answers). The simulated desktop is
// used only when named.

// Loaded from the same directory as the add-on (lib/native.js), so both read
// one platform library.
const native = require('./lib/native').load('platform_info.node', 'automation-addon/platform');

// Every facility a backend declares, in the table's order.
const FACILITIES = Object.freeze([
  'accessibility', 'element_actions', 'window_list', 'displays', 'applications',
  'window_images', 'capture_streams', 'global_keyboard', 'global_mouse',
  'keyboard_to_process', 'mouse_to_process', 'mouse_to_background_window', 'pasteboard', 'overlay_windows',
  'event_taps', 'event_swallowing', 'keyboard_layout', 'permissions_database',
  'code_signing', 'window_event_masks',
]);

function describe() {
  return native.describe();
}

function isAvailable(facility) {
  if (!FACILITIES.includes(facility)) {
    throw new TypeError(`isAvailable(facility): unknown facility ${JSON.stringify(facility)}; ` +
      `known: ${FACILITIES.join(', ')}`);
  }
  return describe().capabilities[facility].status === 'available';
}

module.exports = { describe, isAvailable, FACILITIES };
