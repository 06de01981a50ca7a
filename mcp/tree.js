'use strict';
// Reading a snapshot's element tree the way an agent needs it: which
// elements are shown (closed menus, hidden tabs and rows scrolled out of
// their list are not), which are only layout (unnamed groups, folded into
// their children), each element's identity within its window (what stable
// refs hang on), and the query matcher.

const GROUP_ROLES = new Set(['AXGroup', 'AXUnknown', 'AXSplitGroup', 'AXLayoutArea', 'AXLayoutItem', '']);
const CLIP_ROLES = new Set(['AXScrollArea', 'AXList', 'AXTable', 'AXOutline', 'AXBrowser']);
const TOGGLE_ROLES = new Set(['AXCheckBox', 'AXRadioButton', 'AXSwitch', 'AXToggle', 'AXMenuItemCheckbox']);
const CHOICE_ROLES = new Set(['AXPopUpButton', 'AXComboBox']);
const TEXT_ROLES = new Set(['AXTextField', 'AXTextArea', 'AXComboBox', 'AXSearchField', 'AXSecureTextField']);

const hasArea = (b) => Array.isArray(b) && b[2] > 0 && b[3] > 0;
const intersects = (a, b) => a[0] < b[0] + b[2] && b[0] < a[0] + a[2] && a[1] < b[1] + b[3] && b[1] < a[1] + a[3];
const short = (name) => (typeof name === 'string' && name.startsWith('AX') ? name.slice(2) : name || '');
const realActions = (e) => (e.actions || []).filter((a) => a && a.trim());

// True when the element only lays out its children: nothing to read or act on.
function isLayout(e) {
  return GROUP_ROLES.has(e.role || '') && !e.title && !e.description && (e.value === undefined || e.value === '') &&
    realActions(e).length === 0 && !e.focused && !e.selected;
}

// Why an element is not shown, or null when it is. `clip` is the visible
// rectangle of the nearest scrolling ancestor.
function hiddenReason(e, n, parentReason, clip) {
  if (parentReason) return parentReason;
  if (e.role === 'AXMenu' && !hasArea(e.bounds)) return 'closed menu';
  if (!n.area) {
    if (n.inMenu) return 'closed menu';
    return n.inTab ? 'hidden tab' : 'not shown';
  }
  if (clip && hasArea(e.bounds) && !intersects(e.bounds, clip)) return 'scrolled out of view';
  return null;
}

// One node per captured element, in document order, with:
// e (the add-on's element), parent (node or null), depth (in the capture),
// key (identity within the window), hidden (reason or null), layout (bool),
// shownKids (count of hidden children left out under it), and repeat (a
// trailing menu-bar item that repeats one already in the window's tree).
function annotate(snap) {
  const nodes = [];
  // Whether anything in a subtree takes room on screen; a zero-size element
  // with a shown descendant (a GTK tab holding its page) is itself shown.
  const areaMemo = new Map();
  const subtreeArea = (e) => {
    if (areaMemo.has(e)) return areaMemo.get(e);
    const v = hasArea(e.bounds) || (e.children || []).some(subtreeArea);
    areaMemo.set(e, v);
    return v;
  };
  const seenTop = new Set();
  const walk = (list, parent, depth, ctx) => {
    const counts = new Map();
    let barItem = '';
    for (const e of list) {
      const role = e.role || '';
      // The menu bar's menus follow their items at the top level, untitled:
      // each is known by its item, so opening one menu renames no other.
      if (!parent && role === 'AXMenuBarItem') barItem = e.title || '';
      // A title that only repeats the value (a label's text), or a pop-up's
      // current choice, is content, not identity: the element stays the same.
      const title = e.title && String(e.title) !== String(e.value ?? '') && !CHOICE_ROLES.has(role) ? e.title : '';
      const name = [role, e.subrole || '', !parent && role === 'AXMenu' && !title ? `of ${barItem}` : title].join(':');
      const nth = counts.get(name) || 0;
      counts.set(name, nth + 1);
      const key = `${parent ? parent.key : ''}/${name}#${nth + (parent && parent.e.children_offset ? parent.e.children_offset : 0)}`;
      const n = { e, parent, depth, key, area: subtreeArea(e), inMenu: ctx.inMenu, inTab: ctx.inTab, hiddenKids: 0 };
      n.hidden = hiddenReason(e, n, parent && parent.hidden, ctx.clip);
      n.layout = isLayout(e);
      if (!parent) {
        const sig = `${role}|${e.title || ''}|${(e.bounds || []).join(',')}`;
        if (role === 'AXMenuBarItem' && seenTop.has(sig)) n.repeat = true;
        seenTop.add(sig);
      } else if (role === 'AXMenuBarItem') {
        seenTop.add(`${role}|${e.title || ''}|${(e.bounds || []).join(',')}`);
      }
      if (n.hidden && parent && !parent.hidden) parent.hiddenKids++;
      nodes.push(n);
      if (e.children) {
        const inMenu = ctx.inMenu || /^AXMenu/.test(role);
        const inTab = ctx.inTab || e.subrole === 'AXTabButton' || role === 'AXTabGroup';
        const clip = CLIP_ROLES.has(role) && hasArea(e.bounds) ? e.bounds : ctx.clip;
        walk(e.children, n, depth + 1, { inMenu, inTab, clip });
      }
    }
  };
  walk(snap.elements || [], null, 0, { inMenu: false, inTab: false, clip: null });
  return nodes;
}

// Words of a query: every one must appear in the element's role (with or
// without its "AX"), subrole, title, description or value, ignoring case.
function matcher(query) {
  const words = String(query).toLowerCase().split(/\s+/).filter(Boolean);
  return (e) => {
    const hay = [e.role, short(e.role), e.subrole, short(e.subrole), e.title, e.description, e.value]
      .filter((s) => s !== undefined && s !== null).join(' ').toLowerCase();
    return words.every((w) => hay.includes(w));
  };
}

// The checked state of a check box, radio button or switch in words.
function toggleState(e) {
  if (!TOGGLE_ROLES.has(e.role) || e.value === undefined) return null;
  const v = String(e.value);
  if (v === '1' || v === 'true') return 'checked';
  if (v === '2') return 'mixed';
  if (v === '0' || v === 'false') return 'unchecked';
  return null;
}

module.exports = { annotate, matcher, toggleState, isLayout, hasArea, short, realActions, TEXT_ROLES };
