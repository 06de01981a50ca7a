'use strict';
// What the server remembers between tool calls: the refs table, the epochs
// it captured (so a release can tell a real epoch from an unknown one) and
// each window's screenshot scale.
const { annotate, short } = require('./tree');
const { RefTable } = require('./refs');
const { quote, answer } = require('./render');

// A refusal or failure: the SDK returns it to the agent as a tool error.
class ToolRefusal extends Error {}
// `appLines` (text that comes from applications) go inside the untrusted block.
const refuse = (message, appLines = []) => {
  throw new ToolRefusal(answer([message], appLines));
};

// The add-on keeps a process's four latest captures; older ones are let go.
const KEPT_CAPTURES = 4;
const REF_PATTERN = /^e[1-9]\d*$/;

// A ref with its role, for the server's own lines; what the application
// says about the element (its title) goes in elementLines, inside the block.
function describeEntry(entry) {
  const e = entry.node ? entry.node.e : {};
  return `${entry.ref} (${short(e.role) || 'element'})`;
}

function elementLines(entry, label = 'element') {
  const e = entry.node ? entry.node.e : null;
  if (!e) return [];
  const title = e.title ? e.title.trim() : '';
  return [`${label}: ${entry.ref} ${short(e.role) || '?'}${title ? ` ${quote(title)}` : ''}`];
}

class Session {
  constructor(addon, desktop) {
    this.addon = addon;
    this.desktop = desktop;
    this.refs = new RefTable();
    this.epochs = new Map();
    this.scales = new Map();
  }

  // Captures a window of `pid` (its focused one without windowId) and takes
  // the capture into the refs table. Null when the add-on answers null; the
  // refs of a pid whose application is gone are retired then.
  async capture(pid, windowId = null, bundleId = null) {
    const snap = await this.addon.captureAppAsync(pid, bundleId, windowId);
    if (!snap) {
      if (!this.addon.applicationInfo(pid)) this.refs.retirePid(pid, `its application (pid ${pid}) quit`);
      return null;
    }
    this.addon.ackCaptureEpoch(pid, snap.capture_epoch);
    if (!this.epochs.has(pid)) this.epochs.set(pid, { live: [], all: new Set() });
    const epochs = this.epochs.get(pid);
    epochs.all.add(snap.capture_epoch);
    epochs.live.push(snap.capture_epoch);
    if (epochs.live.length > KEPT_CAPTURES) epochs.live.shift();
    const nodes = annotate(snap);
    const fellBack = snap.window && snap.window.window_id_fallback && windowId !== null;
    this.refs.absorb(pid, snap, nodes, { requestedWindow: fellBack ? windowId : null });
    return { pid, snap, nodes, at: Date.now() };
  }

  // The entry of a ref the agent named, refused when it is unknown or gone.
  entry(ref) {
    if (!REF_PATTERN.test(ref)) {
      refuse(`${quote(ref)} is not a ref: refs look like "e12" and come from snapshot (or wait_for) answers.`);
    }
    const entry = this.refs.get(ref);
    if (!entry) refuse(`${ref} was never issued by this server: take a snapshot and use the refs it shows.`);
    if (entry.gone) this.refuseGone(entry);
    return entry;
  }

  refuseGone(entry) {
    refuse(`${describeEntry(entry)} is gone: ${entry.gone}. Refs are never reused; take a new snapshot ` +
      '(or wait_for) to find the element now there.', elementLines(entry, 'it was'));
  }

  // A ref's element in a fresh capture of its window: its live token, its
  // node and the capture. Refused when the element or its window is gone.
  async live(ref) {
    const entry = this.entry(ref);
    const view = await this.capture(entry.pid, entry.windowId);
    if (!view) {
      if (entry.gone) this.refuseGone(entry);
      refuse(`${describeEntry(entry)} cannot be read now: capturing pid ${entry.pid} answered null ` +
        '(accessibility not permitted, or the application does not answer; see check_permissions).');
    }
    if (entry.gone) this.refuseGone(entry);
    return { entry, node: entry.node, view };
  }

  // Pixels per point of this window's screenshots: the last screenshot's,
  // else what a plain capture gives (its display's scale factor).
  imageScale(windowId, bounds) {
    if (this.scales.has(windowId)) return this.scales.get(windowId);
    const displays = typeof this.addon.displays === 'function' ? this.addon.displays() : [];
    const [x, y, w, h] = bounds || [0, 0, 0, 0];
    const cx = x + w / 2;
    const cy = y + h / 2;
    const on = displays.find((d) => cx >= d.bounds[0] && cy >= d.bounds[1] &&
      cx < d.bounds[0] + d.bounds[2] && cy < d.bounds[1] + d.bounds[3]) || displays.find((d) => d.main);
    return on ? on.scale_factor : 1;
  }

  frontmost() {
    const app = this.addon.listApplications().find((a) => a.active);
    return app || null;
  }

  // Whether `epoch` of `pid` is a capture of this server the add-on still
  // holds: "live", "superseded" (or released) or "unknown".
  captureState(pid, epoch) {
    const epochs = this.epochs.get(pid);
    if (!epochs || !epochs.all.has(epoch)) return 'unknown';
    return epochs.live.includes(epoch) ? 'live' : 'superseded';
  }

  dropCapture(pid, epoch) {
    const epochs = this.epochs.get(pid);
    if (epochs) epochs.live = epochs.live.filter((e) => e !== epoch);
  }
}

module.exports = { Session, ToolRefusal, refuse, describeEntry, elementLines };
