'use strict';
// A snapshot as the agent reads it: one line an element, indented by
// nesting, spending characters on what the window shows. Elements that are
// not shown (closed menus, hidden tabs, rows scrolled out of their list) are
// left out and counted in one line that says how to get them; unnamed
// layout groups are folded into their children; `root`, `query` and `depth`
// narrow the tree; `max_chars` caps the whole answer.
const { quote, answer, rect, flags } = require('./render');
const { matcher, toggleState, short, realActions, TEXT_ROLES } = require('./tree');

const MAX_VALUE_CHARS = 300;
const MAX_ACTION_CHARS = 32;
const MAX_SELECTION_READS = 8;

function valueText(value) {
  const s = String(value);
  if (s.length <= MAX_VALUE_CHARS) return quote(s);
  return `${quote(s.slice(0, MAX_VALUE_CHARS))}…(+${s.length - MAX_VALUE_CHARS} chars; snapshot root=<its ref> raw:true has all)`;
}

function actionList(e) {
  const names = realActions(e);
  if (names.length === 0 || (names.length === 1 && names[0] === 'AXPress')) return '';
  return ` actions=${names.map((a) => {
    const s = short(a);
    return s.length > MAX_ACTION_CHARS ? `${s.slice(0, MAX_ACTION_CHARS)}…` : s;
  }).join(',')}`;
}

// One element's line. `extra` holds what the tree adds: the selection of a
// text element, bounds in the screenshot's space, what was left out below.
function elementLine(n, depth, extra = {}) {
  const e = n.e;
  let line = `${'  '.repeat(depth)}- ${n.ref} ${short(e.role) || '?'}`;
  if (e.subrole) line += `/${short(e.subrole)}`;
  const title = e.title ? e.title.trim() : '';
  if (title) line += ` ${quote(title)}`;
  if (e.description && e.description.trim() !== title) line += ` desc=${quote(e.description.trim())}`;
  const toggle = toggleState(e);
  if (toggle) line += ` ${toggle}`;
  else if (e.value !== undefined && e.value !== '' && String(e.value).trim() !== title) line += ` value=${valueText(e.value)}`;
  if (extra.selection) {
    const [at, len] = extra.selection;
    line += len > 0 ? ` selection=[${at},${len}]` : ` caret=${at}`;
  }
  line += actionList(e);
  const f = [];
  if (e.focused) f.push('focused');
  if (e.enabled === false) f.push('disabled');
  if (e.selected) f.push('selected');
  if (e.editable && (TEXT_ROLES.has(e.role) || !toggle)) f.push('editable');
  if (e.default_action) f.push('default');
  if (n.hidden) f.push(`not shown: ${n.hidden}`);
  if (f.length) line += ` (${f.join(', ')})`;
  if (extra.bounds) line += ` @${rect(extra.bounds)}`;
  if (extra.hiddenBelow) line += ` [+${extra.hiddenBelow} not shown]`;
  if (extra.deeper) line += ` [+${extra.deeper} deeper]`;
  if (e.children_total !== undefined) {
    const got = e.children ? e.children.length : 0;
    line += ` [children ${e.children_offset + 1}-${e.children_offset + got} of ${e.children_total}]`;
  }
  return line;
}

const subtreeSize = (n, kids) => 1 + (kids.get(n) || []).reduce((s, k) => s + subtreeSize(k, kids), 0);

// Chooses and lays out the lines of a view ({pid, snap, nodes} with refs).
// Answers { lines (node, depth, extra), left (counts by reason), matched }.
function layout(view, opts) {
  const kids = new Map();
  for (const n of view.nodes) {
    if (!n.parent) continue;
    if (!kids.has(n.parent)) kids.set(n.parent, []);
    kids.get(n.parent).push(n);
  }
  const tops = view.nodes.filter((n) => !n.parent && !n.repeat);
  let scope = tops;
  let wholeSubtree = !!opts.all;
  if (opts.root) {
    const root = view.nodes.find((n) => n.ref === opts.root);
    scope = [root];
    wholeSubtree = true;
  }
  const wanted = opts.query ? new Set() : null;
  let matched = 0;
  if (wanted) {
    const match = matcher(opts.query);
    const mark = (n) => {
      if (match(n.e)) {
        matched++;
        for (let a = n; a && !wanted.has(a); a = a.parent) wanted.add(a);
      }
      for (const k of kids.get(n) || []) mark(k);
    };
    scope.forEach(mark);
  }
  const left = new Map();
  const lines = [];
  const maxDepth = opts.depth ?? Infinity;
  const visit = (n, depth) => {
    const shown = wholeSubtree || !n.hidden || (wanted && wanted.has(n));
    if (!shown || (wanted && !wanted.has(n))) return 0;
    const folded = n.layout && !(opts.root && n.ref === opts.root);
    if (!folded && depth > maxDepth) return subtreeSize(n, kids);
    const extra = {};
    const children = kids.get(n) || [];
    if (!folded) lines.push({ n, depth, extra });
    let deeper = 0;
    for (const k of children) {
      if (!wholeSubtree && k.hidden && !wanted) {
        const size = subtreeSize(k, kids);
        left.set(k.hidden, (left.get(k.hidden) || 0) + size);
        extra.hiddenBelow = (extra.hiddenBelow || 0) + size;
        continue;
      }
      deeper += visit(k, folded ? depth : depth + 1);
    }
    if (deeper && !folded) extra.deeper = deeper;
    return folded ? deeper : 0;
  };
  for (const n of scope) {
    if (!wholeSubtree && n.hidden && !wanted) {
      left.set(n.hidden, (left.get(n.hidden) || 0) + subtreeSize(n, kids));
      continue;
    }
    visit(n, 0);
  }
  return { lines, left, matched };
}

function leftOutLine(left) {
  if (left.size === 0) return null;
  const total = [...left.values()].reduce((a, b) => a + b, 0);
  const phrase = { 'closed menu': 'in closed menus', 'hidden tab': 'in hidden tabs' };
  const parts = [...left.entries()].map(([why, count]) => `${count} ${phrase[why] || why}`);
  return `[left out ${total} element${total === 1 ? '' : 's'} not on screen (${parts.join(', ')}): ` +
    'query=<words> searches them too, root=<ref> shows a subtree whole, all:true shows everything]';
}

// The text of a snapshot answer. `ctx.selectionOf(token)` reads a text
// element's selection; `ctx.boundsIn(bounds)` maps screen bounds into the
// screenshot's space (with `ctx.boundsNote` saying how).
function renderSnapshot(view, opts, ctx = {}) {
  const { snap } = view;
  const w = snap.window || {};
  const { lines, left, matched } = layout(view, opts);
  const own = [
    `snapshot of pid ${snap.app.pid}, window ${w.window_id ?? 'none'} (epoch ${snap.capture_epoch}): ` +
      `${view.nodes.length} elements, ${lines.length} lines.`,
  ];
  if (w.window_id_fallback) own.push('The requested window was not available; this is the window the add-on chose.');
  if (w.empty_capture_reason) own.push(`Empty capture: ${w.empty_capture_reason}.`);
  if (opts.query) own.push(`query ${quote(opts.query)}: ${matched} matching element${matched === 1 ? '' : 's'}, shown with their ancestors.`);
  const leftLine = leftOutLine(left);
  if (leftLine) own.push(leftLine);
  if (opts.bounds && ctx.boundsNote) own.push(ctx.boundsNote);

  const head = opts.root || opts.query ? [] : [
    `app ${quote(snap.app.name ?? '')}${snap.app.active ? ' (active)' : ''}`,
    `window ${w.window_id ?? 'none'} ${quote(w.title ?? '')} ${rect(w.bounds)}${flags(w)}`,
  ];
  let reads = 0;
  const rendered = lines.map(({ n, depth, extra }) => {
    // A selection read is a round trip to the application: the whole tree
    // reads it for focused text elements, a narrowed one (root, query) for
    // every text element it shows, up to a bound.
    const wanted = n.e.focused || opts.root || opts.query;
    if (TEXT_ROLES.has(n.e.role) && wanted && !n.hidden && ctx.selectionOf && reads < MAX_SELECTION_READS) {
      reads++;
      const range = ctx.selectionOf(n.e.ref);
      if (range && (range[1] > 0 || n.e.focused)) extra.selection = range;
    }
    if (opts.bounds && ctx.boundsIn) extra.bounds = ctx.boundsIn(n.e.bounds);
    return elementLine(n, depth, extra);
  });
  // The cap holds for the whole answer: the tree gets what the rest leaves.
  const cut = `[truncated: 0000 of 0000 lines within max_chars ${opts.maxChars}; narrow with root=<ref>, query or depth]`;
  const fixed = answer([...own, cut], [...head, 'x']).length - 1;
  let budget = opts.maxChars - fixed;
  const app = [...head];
  let kept = 0;
  for (const line of rendered) {
    if (line.length + 1 > budget) break;
    budget -= line.length + 1;
    app.push(line);
    kept++;
  }
  if (kept < rendered.length) {
    own.push(`[truncated: ${kept} of ${rendered.length} lines within max_chars ${opts.maxChars}; ` +
      'narrow with root=<ref>, query or depth]');
  }
  const text = answer(own, app);
  if (text.length <= opts.maxChars) return text;
  // The server's own lines alone are over the cap: the first one, cut.
  return `${own[0]} [max_chars ${opts.maxChars} leaves no room for the tree]`.slice(0, opts.maxChars);
}

module.exports = { renderSnapshot, elementLine, layout };
