'use strict';
// What an acting tool answers: whether the add-on dispatched the action,
// then, after a short bounded wait for its effect, the acted element's new
// line (or that it is gone), the focused element, the frontmost application
// and whether anything in the window changed.
//
// The wait: the window is captured again 40 ms after the dispatch and then
// every 100 ms, until a change has held for two captures in a row or
// `waitMs` (default 600 ms, at most 5000) has passed. A tool that finds no
// change says so ("no change seen within 600 ms"): a press with no visible
// effect is reported as exactly that.
const { quote, answer } = require('./render');
const { elementLine } = require('./snapshot');
const { TEXT_ROLES } = require('./tree');
const { refuse } = require('./session');

const DEFAULT_WAIT_MS = 600;
const MAX_WAIT_MS = 5000;
const FIRST_LOOK_MS = 40;
const LOOK_EVERY_MS = 100;

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Per ref, the state a change shows in: value, flags and place.
function stateOf(view) {
  const m = new Map();
  if (!view) return m;
  for (const n of view.nodes) {
    const e = n.e;
    m.set(n.ref, [e.value, e.focused, e.selected, e.enabled, e.title, (e.bounds || []).join(','), n.hidden].join('|'));
  }
  return m;
}

function differences(before, after) {
  const a = stateOf(before);
  const b = stateOf(after);
  const refs = [];
  for (const [ref, s] of b) if (a.get(ref) !== s) refs.push(ref);
  for (const ref of a.keys()) if (!b.has(ref)) refs.push(ref);
  return refs;
}

const signature = (view, extra) => `${[...stateOf(view)].join('\n')}\n${view && view.snap.window.window_id}\n${extra}`;

// The focused window of a pid from its window list, or null.
function focusedWindow(session, pid) {
  if (!pid || typeof session.addon.listWindows !== 'function') return null;
  const list = session.addon.listWindows(pid);
  return (list && list.find((w) => w.focused)) || null;
}

function focusedNode(view) {
  if (!view) return null;
  let found = null;
  for (const n of view.nodes) if (n.e.focused && !n.hidden) found = n;
  return found;
}

// Runs `dispatch` against the window of `target` ({pid, windowId, before,
// entry?}) and reports. `dispatch` answers {ok, said} or {ok: false, error};
// `probe` (optional) reads state a capture does not carry (a selection).
async function act(session, target, dispatch, { waitMs = DEFAULT_WAIT_MS, probe = () => '' } = {}) {
  const { pid, windowId } = target;
  const before = target.before;
  const beforeFront = session.frontmost();
  const beforeWin = focusedWindow(session, pid);
  const state = (front, win) => `${front && front.pid}|${win ? win.window_id : ''}|${probe()}`;
  const beforeSig = signature(before, state(beforeFront, beforeWin));
  const started = Date.now();
  const outcome = await dispatch();
  if (!outcome.ok) refuse(outcome.error);
  const wait = Math.min(Math.max(0, waitMs), MAX_WAIT_MS);
  let after = before;
  let afterSig = beforeSig;
  let front = beforeFront;
  let win = beforeWin;
  let changedAt = null;
  let previous = null;
  await sleep(Math.min(FIRST_LOOK_MS, wait));
  for (;;) {
    after = (pid ? await session.capture(pid, windowId) : null) || null;
    front = session.frontmost();
    win = focusedWindow(session, pid);
    afterSig = signature(after, state(front, win));
    const now = Date.now();
    if (afterSig !== beforeSig) {
      if (changedAt === null) changedAt = now;
      if (afterSig === previous) break;
    }
    if (now - started >= wait || (!before && !after)) break;
    previous = afterSig;
    await sleep(LOOK_EVERY_MS);
  }
  return report(session, { target, before, after, beforeFront, front, beforeWin, win, outcome, started, changedAt, wait });
}

// An element's line with its text selection, as snapshot shows it.
function lineOf(session, n) {
  const extra = {};
  if (TEXT_ROLES.has(n.e.role) && typeof session.addon.readElement === 'function') {
    const e = session.addon.readElement(n.e.ref);
    const range = e && e.selected_text_range;
    if (range && (range[1] > 0 || n.e.focused)) extra.selection = range;
  }
  return elementLine(n, 0, extra).slice(2);
}

function report(session, r) {
  const own = [`dispatched: ${r.outcome.said}`];
  const app = [];
  if (r.changedAt === null && !r.before && !r.after) {
    own.push('changed: not observable (the window cannot be captured here) and the frontmost application is the same');
  } else if (r.changedAt === null) {
    own.push(`changed: no change seen within ${r.wait} ms` +
      (r.after ? ' (the window, its focus and the frontmost application read the same)' : ''));
  } else {
    const unread = r.after && r.after.snap.window.empty_capture_reason;
    const sameWindow = r.before && r.after && r.before.snap.window.window_id === r.after.snap.window.window_id;
    const refs = sameWindow && !unread ? differences(r.before, r.after) : [];
    const frontChanged = (r.beforeFront && r.beforeFront.pid) !== (r.front && r.front.pid);
    const winChanged = (r.beforeWin && r.beforeWin.window_id) !== (r.win && r.win.window_id);
    const what = [];
    if (winChanged) what.push(`the focused window (now ${r.win ? r.win.window_id : 'none'})`);
    if (unread) what.push(`the window's tree, unreadable just now (${unread})`);
    if (refs.length) what.push(`${refs.length} element${refs.length === 1 ? '' : 's'} (${refs.slice(0, 8).join(', ')}${refs.length > 8 ? ', …' : ''})`);
    if (frontChanged) what.push('the frontmost application');
    if (r.before && r.after && r.before.snap.window.window_id !== r.after.snap.window.window_id) what.push('the window');
    own.push(`changed: yes, ${what.join(' and ') || 'state the snapshot does not show'} within ${r.changedAt - r.started} ms`);
  }
  const entry = r.target.entry;
  if (entry) {
    if (entry.gone) own.push(`${entry.ref} is now gone: ${entry.gone}.`);
    else if (r.after && entry.node && r.after.nodes.includes(entry.node)) app.push(`acted: ${lineOf(session, entry.node)}`);
    if (entry.hiddenWhenActed) own.push(`note: ${entry.ref} was not shown when acted on (${entry.hiddenWhenActed}).`);
  }
  if (r.win && (r.beforeWin && r.beforeWin.window_id) !== r.win.window_id) {
    own.push(`focused window: ${r.win.window_id} of pid ${r.target.pid} (snapshot pid ${r.target.pid} reads it)`);
    app.push(`focused window: ${quote(r.win.title ?? '')}`);
  }
  const focus = focusedNode(r.after);
  if (focus && entry && focus === entry.node && !entry.gone) {
    own.push(`focused: ${focus.ref} (the acted element)`);
  } else if (focus) {
    own.push(`focused: ${focus.ref}`);
    app.push(`focused: ${lineOf(session, focus)}`);
  } else if (r.after) {
    own.push('focused: no element of the window reads as focused');
  }
  if (r.front) {
    own.push(`frontmost: pid ${r.front.pid}`);
    app.push(`frontmost: ${quote(r.front.name ?? '')}`);
  } else {
    own.push('frontmost: none');
  }
  return answer(own, app);
}

// The window to watch for an action at a pid: the ref's, or the pid's
// focused window, captured now as the "before" state.
async function targetOf(session, pid, windowId = null) {
  const before = pid ? await session.capture(pid, windowId) : null;
  return { pid, windowId, before };
}

module.exports = { act, targetOf, DEFAULT_WAIT_MS, MAX_WAIT_MS, sleep };
