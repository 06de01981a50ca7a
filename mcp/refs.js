'use strict';
// Short refs ("e12") that stay on one element across snapshots. The add-on's
// tokens name an element within one capture only; this table maps an
// element's identity within its application's window (its role, subrole and
// title unless the title only repeats its value, and the same for each
// ancestor, with its rank among like siblings: see tree.js) to a ref, and keeps the token of the latest capture that saw
// it. A ref whose element a later capture of the same window no longer has
// is marked gone with the reason, and its identity is forgotten: an element
// that later appears in the same place is a new one and gets a new ref.
// Refs are never reused.

const NODE_BUDGET = 1000;  // a capture that reached it may have left elements out

class RefTable {
  constructor() {
    this.next = 1;
    this.byRef = new Map();
    this.byKey = new Map();
    this.byWindow = new Map();
  }

  static windowOf(pid, snap) {
    return `${pid}|${snap.window && snap.window.window_id != null ? snap.window.window_id : 'none'}`;
  }

  // Takes in a capture of `pid`: every node gets its ref (node.ref) and its
  // entry the capture's token; refs of the captured window that it lacks are
  // marked gone. `requestedWindow`, when the capture fell back to another
  // window, names the window that is no longer there.
  absorb(pid, snap, nodes, { requestedWindow = null, at = Date.now() } = {}) {
    const win = RefTable.windowOf(pid, snap);
    const seen = new Set();
    if (!this.byWindow.has(win)) this.byWindow.set(win, new Set());
    for (const n of nodes) {
      const full = `${win}${n.key}`;
      let entry = this.byKey.get(full);
      if (!entry) {
        entry = { ref: `e${this.next++}`, pid, win, windowId: snap.window ? snap.window.window_id : null, key: full };
        this.byKey.set(full, entry);
        this.byRef.set(entry.ref, entry);
        this.byWindow.get(win).add(entry);
      }
      entry.token = n.e.ref;
      entry.node = n;
      entry.epoch = snap.capture_epoch;
      entry.seenAt = at;
      n.ref = entry.ref;
      seen.add(full);
    }
    const partial = new Set(nodes.filter((n) => n.e.children_total !== undefined).map((n) => `${win}${n.key}`));
    // An empty capture (a window whose tree cannot be read just now) says
    // nothing about which elements are gone.
    const complete = nodes.length > 0 && nodes.length < NODE_BUDGET && !(snap.window && snap.window.empty_capture_reason);
    const when = new Date(at).toISOString().slice(11, 19);
    const missing = seen.size !== this.byWindow.get(win).size;
    for (const entry of missing ? this.entriesOf(win) : []) {
      if (seen.has(entry.key)) continue;
      const parentKey = entry.key.slice(0, entry.key.lastIndexOf('/'));
      if (!complete || partial.has(parentKey)) continue;  // possibly just not collected
      this.retire(entry, `it was not in the capture of its window at ${when} UTC`);
    }
    if (requestedWindow !== null && `${pid}|${requestedWindow}` !== win) {
      for (const entry of this.entriesOf(`${pid}|${requestedWindow}`)) {
        this.retire(entry, `its window ${requestedWindow} is no longer there (checked at ${when} UTC)`);
      }
    }
  }

  entriesOf(win) {
    return [...(this.byWindow.get(win) || [])];
  }

  retire(entry, why) {
    entry.gone = why;
    entry.token = null;
    this.byKey.delete(entry.key);
    this.byWindow.get(entry.win).delete(entry);
  }

  // Marks every live ref of a pid gone (its application quit).
  retirePid(pid, why) {
    for (const entry of [...this.byKey.values()]) if (entry.pid === pid) this.retire(entry, why);
  }

  get(ref) {
    return this.byRef.get(ref) || null;
  }
}

module.exports = { RefTable };
