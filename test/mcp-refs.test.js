'use strict';
// The tool server's reading of a snapshot's tree (what is shown, identities)
// and its refs table, on hand-made snapshots of the add-on's shape.
const test = require('node:test');
const assert = require('node:assert');
const { annotate } = require('../mcp/tree');
const { RefTable } = require('../mcp/refs');

let token = 0;
const el = (role, extra = {}, children) => ({
  ref: `axh-${++token}`, role, bounds: [0, 0, 10, 10], enabled: true, focused: false, default_action: false,
  editable: false, actions: [], ...extra, ...(children ? { children } : {}),
});
const snap = (elements, extra = {}) => ({
  app: { pid: 7, name: 'T', bundle_id: 't', active: true },
  window: { title: 'W', bounds: [0, 0, 100, 100], window_id: 70, main: true, focused: true, ...extra },
  elements, surfaces: [], capture_epoch: ++token,
});
const hidden = (s) => Object.fromEntries(annotate(s).map((n) => [n.e.title || n.e.role, n.hidden]));

test.describe('what a snapshot shows', () => {
  test('zero-size subtrees, closed menus, hidden tabs and rows out of their list are not shown', () => {
    const zero = { bounds: [0, 0, 0, 0] };
    const s = snap([
      el('AXMenuBarItem', { title: 'File' }, [el('AXMenuItem', { title: 'New', ...zero })]),
      // A closed menu whose items still carry stale frames.
      el('AXMenu', zero, [el('AXMenuItem', { title: 'Open', bounds: [0, 20, 50, 20] })]),
      el('AXTabGroup', {}, [
        // A tab of no size holding the shown page stays, with its page.
        el('AXRadioButton', { subrole: 'AXTabButton', title: 'one', bounds: [-1, -1, 0, 0] }, [el('AXTextArea', { title: 'page one' })]),
        el('AXRadioButton', { subrole: 'AXTabButton', title: 'two' }, [el('AXGroup', { title: 'page two', ...zero })]),
      ]),
      el('AXScrollArea', { bounds: [0, 0, 100, 50] }, [
        el('AXRow', { title: 'in view', bounds: [0, 40, 100, 20] }),
        el('AXRow', { title: 'below', bounds: [0, 50, 100, 20] }),
      ]),
    ]);
    assert.deepStrictEqual(hidden(s), {
      File: null, New: 'closed menu', AXMenu: 'closed menu', Open: 'closed menu', AXTabGroup: null, one: null,
      'page one': null, two: null, 'page two': 'hidden tab', AXScrollArea: null, 'in view': null, below: 'scrolled out of view',
    });
  });
});

test.describe('refs across captures', () => {
  const refsOf = (t, s) => {
    const nodes = annotate(s);
    t.absorb(7, s, nodes);
    return Object.fromEntries(nodes.map((n) => [n.e.title, n.ref]));
  };

  test('an element keeps its ref while it lives; a gone one is retired and its place gets a new ref', () => {
    const t = new RefTable();
    const list = (...titles) => snap([el('AXList', { title: 'L' }, titles.map((title) => el('AXRow', { title })))]);
    const first = refsOf(t, list('a', 'b', 'c'));
    // A new row before the others, a value change: refs stay.
    const second = refsOf(t, list('new', 'a', 'b', 'c'));
    assert.deepStrictEqual([second.a, second.b, second.c, second.L], [first.a, first.b, first.c, first.L]);
    refsOf(t, list('a', 'c'));
    assert.match(t.get(first.b).gone, /^it was not in the capture of its window at \d\d:\d\d:\d\d UTC$/);
    const again = refsOf(t, list('a', 'b', 'c'));
    assert.notStrictEqual(again.b, first.b, 'never reused');
    assert.ok(t.get(first.b).gone, 'the old ref stays gone');
  });

  test('a label whose text changes, or a pop-up whose choice does, keeps its ref; a button renamed is a new element', () => {
    const t = new RefTable();
    const win = (label, button) => snap([el('AXStaticText', { title: label, value: label }), el('AXButton', { title: button }),
      el('AXPopUpButton', { title: `choice ${label}` })]);
    const first = refsOf(t, win('3 files', 'Open'));
    const second = refsOf(t, win('4 files', 'Close'));
    assert.strictEqual(second['4 files'], first['3 files']);
    assert.strictEqual(second['choice 4 files'], first['choice 3 files'], "a pop-up's title is its current choice");
    assert.notStrictEqual(second.Close, first.Open);
    assert.ok(t.get(first.Open).gone);
  });

  test('captures that may have left elements out retire nothing', () => {
    const t = new RefTable();
    const first = refsOf(t, snap([el('AXList', { title: 'L' }, [el('AXRow', { title: 'a' }), el('AXRow', { title: 'b' })])]));
    // A list whose children were not all collected.
    refsOf(t, snap([el('AXList', { title: 'L', children_total: 100, children_offset: 0 }, [el('AXRow', { title: 'a' })])]));
    // An empty capture, and one that reached the node budget.
    refsOf(t, snap([], { empty_capture_reason: 'ax-window-empty-tree' }));
    refsOf(t, snap(Array.from({ length: 1000 }, (_, i) => el('AXButton', { title: `x${i}` }))));
    assert.ok(!t.get(first.b).gone && !t.get(first.L).gone);
    // A capture that fell back from the window asked for: that window's refs are gone.
    const other = snap([el('AXButton', { title: 'z' })], { window_id: 71, window_id_fallback: true });
    t.absorb(7, other, annotate(other), { requestedWindow: 70 });
    assert.match(t.get(first.a).gone, /^its window 70 is no longer there/);
  });
});
