'use strict';
// App snapshots: captureApp / captureAppAsync arguments and result shape,
// the tree rules (children lists, depth, budgets, text cuts, titles, values,
// default buttons, menus) and window choice with related surfaces.
const test = require('node:test');
const assert = require('node:assert');
const addon = require('..');
const sim = require('../sim');

const PID = 930;

// A scene with one application (pid 930) holding the given windows.
function loadApp(app = {}, scene = {}) {
  sim.reset();
  sim.loadScene({
    apps: [{ pid: PID, bundleId: 'com.test.Probe', name: 'Probe', ...app }],
    ...scene,
  });
}
function window(children, extra = {}) {
  return { id: 'w', number: 41, title: 'Probe', bounds: [100, 100, 800, 600], children, ...extra };
}
// A window only the window server lists.
function cgWindow(extra = {}) {
  return { number: 41, title: 'Probe', bounds: [100, 100, 800, 600], ax: false, ...extra };
}
function flatten(elements, out = [], depth = 1) {
  for (const e of elements) {
    out.push({ ...e, depth });
    if (e.children) flatten(e.children, out, depth + 1);
  }
  return out;
}
function byTitle(snap, title, role = 'AXButton') {
  return flatten(snap.elements).find((e) => e.title === title && e.role === role);
}
function rows(n, extra = {}) {
  return [{ generate: { count: n, role: 'AXRow', title: 'Row {i}', idPrefix: 'row', frame: [0, 0, 10, 10], ...extra } }];
}

test.describe('arguments', () => {
  test.before(() => sim.loadSampleScene());

  test('captureApp answers null for a missing or non-number pid without throwing', () => {
    assert.strictEqual(addon.captureApp(), null);
    assert.strictEqual(addon.captureApp('12'), null);
    assert.strictEqual(addon.captureApp({}), null);
    assert.strictEqual(addon.captureApp(0), null);
    assert.strictEqual(addon.captureApp(-501), null);
    // The pid goes through the 32-bit conversion: 2^32 + 501 is 501.
    assert.strictEqual(addon.captureApp(2 ** 32 + 501).app.pid, 501);
  });

  test('captureApp window ids: only positive numbers up to 2^32 - 1 request a window', () => {
    assert.strictEqual(addon.captureApp(501, 102).window.window_id, 102);
    assert.strictEqual(addon.captureApp(501, 102.9).window.window_id, 102);
    for (const w of [0, -102, NaN, 2 ** 32 + 102, '102', null, 0.5]) {
      const snap = addon.captureApp(501, w);
      assert.strictEqual(snap.window.window_id, 101, String(w));
      assert.ok(!('window_id_fallback' in snap.window));
    }
  });

  test('captureAppAsync resolves null for every bad argument, never rejecting', async () => {
    const bad = [
      [], [0], [1.5], ['501'], [NaN], [Infinity], [2 ** 31], [-1],
      [501, ''], [501, 'x'.repeat(256)], [501, 'é'.repeat(128)], [501, 42], [501, {}],
      [501, null, -1], [501, null, 0], [501, undefined, 1.5], [501, null, 2 ** 32], [501, null, '101'],
    ];
    for (const args of bad) {
      const p = addon.captureAppAsync(...args);
      assert.ok(p instanceof Promise, JSON.stringify(args));
      assert.strictEqual(await p, null, JSON.stringify(args));
    }
  });

  test('captureAppDiagnostic answers null for bad arguments and for captures not in flight', () => {
    for (const args of [[], ['501'], [0], [1.5], [2 ** 31], [501, 0], [501, -1], [501, 1.5], [501, '101'], [501, 2 ** 32]]) {
      assert.strictEqual(addon.captureAppDiagnostic(...args), null, JSON.stringify(args));
    }
    assert.strictEqual(addon.captureAppDiagnostic(501, null), null);
    addon.captureApp(501);
    assert.strictEqual(addon.captureAppDiagnostic(501), null, 'synchronous captures are not diagnosed');
  });

  test('captureAppAsync accepts null and undefined for the optional arguments', async () => {
    for (const args of [[501], [501, null], [501, undefined, undefined], [501, 'com.korvo.TextPad', null], [501, null, 102]]) {
      const snap = await addon.captureAppAsync(...args);
      assert.ok(snap, JSON.stringify(args));
      assert.strictEqual(snap.app.pid, 501);
    }
    const byBundle = await addon.captureAppAsync(501, 'COM.KORVO.TEXTPAD');
    assert.ok(byBundle, 'bundle ids compare ignoring case');
    assert.strictEqual(await addon.captureAppAsync(501, 'com.korvo.Settings'), null);
    assert.strictEqual(await addon.captureAppAsync(4242), null, 'no such process');
  });
});

test.describe('result shape on the sample scene', () => {
  test.before(() => {
    sim.reset();
    sim.loadSampleScene();
  });

  test('keys come in their documented order, optional keys absent rather than null', () => {
    const snap = addon.captureApp(501);
    assert.deepStrictEqual(Object.keys(snap), ['app', 'window', 'elements', 'surfaces', 'capture_epoch']);
    assert.deepStrictEqual(snap.app, { pid: 501, bundle_id: 'com.korvo.TextPad', name: 'TextPad', active: true });
    assert.deepStrictEqual(snap.window, {
      title: 'Untitled 1', bounds: [120, 80, 900, 640], window_id: 101, presentation_window_id: 101,
      main: true, focused: true,
    });
    const text = flatten(snap.elements).find((e) => e.role === 'AXTextArea');
    assert.deepStrictEqual(Object.keys(text), [
      'ref', 'role', 'title', 'description', 'value', 'bounds', 'enabled', 'focused', 'default_action',
      'editable', 'ownerPid', 'actions', 'depth',
    ]);
    assert.strictEqual(text.editable, true);
    assert.strictEqual(text.ownerPid, 501);
    const toolbar = snap.elements[0];
    assert.deepStrictEqual(Object.keys(toolbar).slice(-2), ['actions', 'children']);
    assert.ok(flatten(snap.elements).every((e) => /^axh-[1-9]\d*$/.test(e.ref)));
    assert.strictEqual(new Set(flatten(snap.elements).map((e) => e.ref)).size, flatten(snap.elements).length);
  });

  test('the window tree comes first, then menu bar items with the third item\'s closed menu', () => {
    const snap = addon.captureApp(501);
    const top = snap.elements.map((e) => `${e.role}:${e.title ?? ''}`);
    assert.deepStrictEqual(top, [
      'AXToolbar:', 'AXScrollArea:', 'AXSheet:',
      'AXMenuBarItem:Apple', 'AXMenuBarItem:TextPad', 'AXMenuBarItem:File', 'AXMenu:', 'AXMenuBarItem:Edit',
    ]);
    const items = snap.elements.filter((e) => e.role === 'AXMenuBarItem');
    assert.ok(items.every((e) => !e.children), 'menu bar items are collected without children');
    const fileMenu = snap.elements[6];
    assert.ok(fileMenu.children.length > 0 && fileMenu.children.every((c) => !c.children));
  });

  test('related surfaces: the window, its sheet, and a panel served by another process', () => {
    const snap = addon.captureApp(501);
    assert.deepStrictEqual(snap.surfaces.map((s) => [s.actual_window_id, s.surface_kind, s.relation, s.owner_pid]), [
      [101, 'window', 'presentation_root', 501],
      [111, 'attached_dialog', 'ax_descendant', 501],
    ]);
    assert.deepStrictEqual(Object.keys(snap.surfaces[0]),
      ['actual_window_id', 'presentation_window_id', 'surface_kind', 'relation', 'owner_pid', 'bounds']);
    const doc2 = addon.captureApp(501, 102);
    assert.deepStrictEqual(doc2.surfaces.map((s) => [s.actual_window_id, s.surface_kind, s.owner_pid]), [
      [102, 'window', 501],
      [401, 'open_panel', 504],
    ]);
    const panelButton = byTitle(doc2, 'Open');
    assert.strictEqual(panelButton.ownerPid, 504, 'elements report their own process');
    assert.strictEqual(panelButton.default_action, true);
  });

  test('a requested sheet or nested panel is found through the surface walk', () => {
    const sheet = addon.captureApp(501, 111);
    assert.strictEqual(sheet.window.window_id, 111);
    assert.deepStrictEqual(sheet.window.bounds, [320, 108, 500, 200]);
    assert.ok(byTitle(sheet, 'Cancel'));
    const panel = addon.captureApp(501, 401);
    assert.strictEqual(panel.window.window_id, 401);
    assert.strictEqual(flatten(panel.elements).filter((e) => e.role === 'AXRow').length, 5);
  });

  test('a requested id nobody knows falls back to the best window and says so', () => {
    const snap = addon.captureApp(501, 777);
    assert.strictEqual(snap.window.window_id, 101);
    assert.strictEqual(snap.window.window_id_fallback, true);
  });
});

test.describe('tree rules', () => {
  test('long child lists: 64 of 100, none of 600, the visible slice of a long list', () => {
    loadApp({
      windows: [window([
        { id: 'hundred', role: 'AXList', children: rows(100) },
        { id: 'six', role: 'AXList', children: rows(600, { idPrefix: 'big' }) },
        { id: 'vis', role: 'AXList', children: rows(200, { idPrefix: 'v' }),
          visibleChildren: Array.from({ length: 20 }, (_, i) => `v-${50 + i}`) },
        { id: 'exact', role: 'AXList', children: rows(64, { idPrefix: 'e' }) },
      ])],
    });
    const snap = addon.captureApp(PID);
    const [hundred, six, vis, exact] = snap.elements;
    assert.strictEqual(hundred.children.length, 64);
    assert.strictEqual(hundred.children_total, 100);
    assert.strictEqual(hundred.children_offset, 0);
    assert.strictEqual(hundred.children[0].title, 'Row 0');
    assert.ok(!('children' in six));
    assert.strictEqual(six.children_total, 600);
    assert.strictEqual(six.children_offset, 0);
    assert.strictEqual(vis.children.length, 20);
    assert.strictEqual(vis.children[0].title, 'Row 50');
    assert.strictEqual(vis.children_total, 200);
    assert.strictEqual(vis.children_offset, 50);
    assert.strictEqual(exact.children.length, 64);
    assert.ok(!('children_total' in exact) && !('children_offset' in exact));
  });

  test('the window\'s own children have no 64-child cap', () => {
    loadApp({ windows: [window(rows(100))] });
    const snap = addon.captureApp(PID);
    assert.strictEqual(snap.elements.length, 100);
  });

  test('depth stops at 30 and the node budget at 1,000 elements', () => {
    let chain = { role: 'AXGroup', title: 'leaf' };
    for (let i = 39; i >= 1; i--) chain = { role: 'AXGroup', title: `d${i}`, children: [chain] };
    loadApp({ windows: [window([chain])] });
    const deep = flatten(addon.captureApp(PID).elements);
    assert.strictEqual(Math.max(...deep.map((e) => e.depth)), 30);
    assert.strictEqual(deep.at(-1).title, 'd30');

    const groups = Array.from({ length: 30 }, (_, g) => ({ role: 'AXGroup', children: rows(60, { idPrefix: `g${g}` }) }));
    loadApp({
      windows: [window(groups)],
      menuBar: { children: [{ role: 'AXMenuBarItem', title: 'Late' }] },
    });
    const big = addon.captureApp(PID);
    assert.strictEqual(flatten(big.elements).length, 1000);
    assert.ok(!big.elements.some((e) => e.title === 'Late'), 'the menu bar shares the spent budget');
  });

  test('strings are cut at their caps and against the 4 MiB text budget, never inside a character', () => {
    const title = 'x' + '€'.repeat(7000); // 21,001 bytes
    const big = 'v'.repeat(300000);
    loadApp({
      windows: [window([
        { role: 'AXStaticText', title, value: big },
        ...Array.from({ length: 20 }, () => ({ role: 'AXStaticText', value: big })),
        { role: 'AXButton', title: 'After budget' },
      ])],
    });
    const snap = addon.captureApp(PID);
    const first = snap.elements[0];
    assert.ok(Buffer.byteLength(first.title) <= 16384 && Buffer.byteLength(first.title) > 16380);
    assert.ok(title.startsWith(first.title), 'cut at a character boundary');
    assert.strictEqual(first.value.length, 262144);
    let total = 0;
    for (const e of flatten(snap.elements)) {
      for (const k of ['role', 'subrole', 'title', 'description', 'value']) total += Buffer.byteLength(e[k] ?? '');
      for (const a of e.actions) total += Buffer.byteLength(a);
    }
    assert.ok(total <= 4194304, `collected ${total} bytes`);
    const last = snap.elements.at(-1);
    assert.strictEqual(last.role, '', 'no text left for the last element');
    assert.ok(!('title' in last));
  });

  test('values are coerced to text; titles fall back through description, title element, help, identifier', () => {
    loadApp({
      windows: [window([
        { role: 'AXSlider', value: 3.0 },
        { role: 'AXSlider', value: 2.5 },
        { role: 'AXCheckBox', value: true },
        { role: 'AXStaticText', value: 'label text', id: 'lbl' },
        { role: 'AXTextField', titleElement: 'lbl' },
        { role: 'AXButton', description: 'Described' },
        { role: 'AXButton', help: 'Helpful' },
        { role: 'AXButton', identifier: 'ident' },
        { role: 'AXButton', title: '', description: '' },
      ])],
    });
    const e = addon.captureApp(PID).elements;
    assert.deepStrictEqual(e.slice(0, 3).map((x) => x.value), ['3', '2.5', 'true']);
    assert.strictEqual(e[4].title, 'label text');
    assert.strictEqual(e[5].title, 'Described');
    assert.strictEqual(e[5].description, 'Described');
    assert.strictEqual(e[6].title, 'Helpful');
    assert.strictEqual(e[7].title, 'ident');
    assert.ok(!('title' in e[8]));
    assert.strictEqual(e[8].description, '');
  });

  test('default action: OKButton identifier, AXDefaultButton subrole, window and application default buttons', () => {
    loadApp({
      windows: [window([
        { role: 'AXButton', title: 'OK', identifier: 'OKButton' },
        { role: 'AXGroup', title: 'NotButton', identifier: 'OKButton' },
        { role: 'AXButton', title: 'Sub', subrole: 'AXDefaultButton' },
        { role: 'AXButton', title: 'WinDefault', id: 'wd' },
        { role: 'AXButton', title: 'Plain' },
      ], { defaultButton: 'wd' })],
    });
    const snap = addon.captureApp(PID);
    const flags = Object.fromEntries(snap.elements.map((x) => [x.title, x.default_action]));
    assert.deepStrictEqual(flags, { OK: true, NotButton: false, Sub: true, WinDefault: true, Plain: false });
    loadApp({ windows: [window([{ role: 'AXButton', title: 'AppDefault', id: 'ad' }])], defaultButton: 'ad' });
    assert.strictEqual(addon.captureApp(PID).elements[0].default_action, true);
  });

  test('actions: at most 64, each cut to 1,024 bytes', () => {
    const actions = Array.from({ length: 70 }, (_, i) => `AXCustom${i}`);
    actions[0] = 'A'.repeat(2000);
    loadApp({ windows: [window([{ role: 'AXButton', title: 'Many', actions }])] });
    const el = addon.captureApp(PID).elements[0];
    assert.strictEqual(el.actions.length, 64);
    assert.strictEqual(el.actions[0].length, 1024);
    assert.strictEqual(el.actions[63], 'AXCustom63');
  });

  test('the single-read path gives the same tree when the batch request fails', () => {
    sim.reset();
    sim.loadSampleScene();
    const strip = (s) => JSON.stringify(s.elements, (k, v) => (k === 'ref' ? undefined : v));
    const batched = strip(addon.captureApp(501));
    sim.setApp(501, { batchFails: true });
    const single = strip(addon.captureApp(501));
    assert.strictEqual(single, batched);
  });

  test('an element answering errors or wrong types leaves those fields out and the capture goes on', () => {
    const broken = ['AXRole', 'AXTitle', 'AXValue', 'AXPosition', 'AXEnabled', 'AXFocused', 'AXSelected',
      'AXActionNames', 'AXChildren', 'AXSubrole', 'AXDescription'];
    for (const batchFails of [false, true]) {
      loadApp({
        batchFails,
        windows: [window([
          { role: 'AXButton', title: 'Errors', value: 'v', subrole: 'S', description: 'd', selected: true,
            errors: Object.fromEntries(broken.map((a) => [a, -25204])), children: [{ role: 'AXGroup' }] },
          { role: 'AXButton', title: 'Wrong', value: 'v', selected: true, frame: [1, 2, 3, 4], wrongType: broken },
          { role: 'AXButton', title: 'Fine', frame: [5, 6, 7, 8] },
        ])],
      });
      const [errors, wrong, fine] = addon.captureApp(PID).elements;
      for (const e of [errors, wrong]) {
        assert.strictEqual(e.role, '');
        assert.strictEqual(e.enabled, true);
        assert.strictEqual(e.focused, false);
        for (const k of ['subrole', 'title', 'description', 'selected', 'children']) assert.ok(!(k in e), `${k} (batch ${!batchFails})`);
        // The single-read path asks the action-name call, not the attribute.
        assert.deepStrictEqual(e.actions, batchFails ? ['AXPress'] : []);
      }
      assert.ok(!('value' in errors));
      assert.strictEqual(wrong.value, '1', 'a number in place of text is still a value');
      assert.deepStrictEqual(wrong.bounds, [0, 0, 3, 4], 'a wrong-typed position counts as missing');
      assert.strictEqual(fine.title, 'Fine');
      assert.deepStrictEqual(fine.bounds, [5, 6, 7, 8]);
    }
  });
});

test.describe('window choice', () => {
  test('an application without an accessibility window is captured from the window list alone', () => {
    loadApp({
      windows: [cgWindow({ title: 'Only CG' })],
      menuBar: { children: [{ role: 'AXMenuBarItem', title: 'File' }, { role: 'AXMenuBarItem', title: 'Edit' }] },
    });
    sim.clearLog();
    const snap = addon.captureApp(PID);
    assert.deepStrictEqual(snap.window, {
      title: 'Only CG', bounds: [100, 100, 800, 600], window_id: 41, presentation_window_id: 41,
      main: false, focused: false, empty_capture_reason: 'cg-only-no-ax-window',
    });
    assert.deepStrictEqual(snap.elements.map((e) => e.role), ['AXMenuBarItem', 'AXMenuBarItem']);
    assert.deepStrictEqual(snap.surfaces, []);
    assert.strictEqual(snap.empty_capture_diagnostics,
      'cg-only-no-ax-window pid=930 requested_window_id=0 cg_window_id=41 cg_onscreen=1 selected_window_id=41 ' +
      'focused_error=-25212 focused_has_element=0 focused_window_id=0 main_error=-25212 main_has_element=0 ' +
      'main_window_id=0 windows_error=0 windows_count=0 ax_window_ids=<none> children_error=-25212 children_count=-1');
    assert.deepStrictEqual(sim.logLines().filter((l) => l.includes('capture-app-empty')),
      ['[Vantor][capture-app-empty] ' + snap.empty_capture_diagnostics]);
  });

  test('a requested id only the window list knows gives a CG-only capture of that window', () => {
    loadApp({ windows: [window([{ role: 'AXButton', title: 'B' }]), cgWindow({ number: 43, title: 'Side', bounds: [0, 0, 300, 200] })] });
    const snap = addon.captureApp(PID, 43);
    assert.strictEqual(snap.window.window_id, 43);
    assert.strictEqual(snap.window.title, 'Side');
    assert.strictEqual(snap.window.empty_capture_reason, 'cg-only-no-ax-window');
    assert.ok(snap.empty_capture_diagnostics.includes(' requested_window_id=43 '));
  });

  test('an empty window tree lists the application\'s accessibility windows in the line', () => {
    loadApp({ windows: [window([], { number: 41 }), window([], { id: 'w2', number: 42, title: 'Two' })] });
    sim.setTimeScale(1000); // an empty window never settles: the first capture waits out its limit
    const snap = addon.captureApp(PID);
    sim.setTimeScale(1);
    assert.strictEqual(snap.window.empty_capture_reason, 'ax-window-empty-tree');
    assert.match(snap.empty_capture_diagnostics, /^ax-window-empty-tree pid=930 requested_window_id=0 cg_window_id=41 cg_onscreen=1 selected_window_id=41 focused_error=0 focused_has_element=1 focused_window_id=41 .* windows_error=0 windows_count=2 ax_window_ids=41,42 children_error=0 children_count=0$/);
  });

  test('no accessibility window and no usable window-list entry gives null', () => {
    loadApp({ windows: [cgWindow({ bounds: [0, 0, 1, 500] })] });
    assert.strictEqual(addon.captureApp(PID), null);
    loadApp({ windows: [cgWindow({ layer: 3 })] });
    assert.strictEqual(addon.captureApp(PID), null);
  });

  test('the window-list candidate: any on-screen window beats a bigger off-screen one; ties go to the front', () => {
    loadApp({ windows: [
      cgWindow({ number: 81, bounds: [0, 0, 2000, 2000], onScreen: false }),
      cgWindow({ number: 82, bounds: [0, 0, 10, 10] }),
      cgWindow({ number: 83, bounds: [0, 0, 1, 500] }),
    ] });
    assert.strictEqual(addon.captureApp(PID).window.window_id, 82);
    loadApp({ windows: [cgWindow({ number: 84, bounds: [0, 0, 300, 200] }), cgWindow({ number: 85, bounds: [50, 50, 200, 300] })] });
    assert.strictEqual(addon.captureApp(PID).window.window_id, 84);
  });

  test('an open menu is collected with its whole subtree', () => {
    sim.reset();
    sim.loadSampleScene();
    sim.press('textpad.menu.edit');
    const snap = addon.captureApp(501);
    const editIndex = snap.elements.findIndex((e) => e.title === 'Edit' && e.role === 'AXMenuBarItem');
    const open = snap.elements[editIndex + 1];
    assert.strictEqual(open.role, 'AXMenu');
    assert.ok(open.children.length > 0);
    assert.ok(open.bounds[2] > 0 && open.bounds[3] > 0);
  });

  test('focused window first, then main window, then the first window', () => {
    const w = (id, number) => window([{ role: 'AXButton', title: id }], { id, number, title: id });
    loadApp({ windows: [w('a', 41), w('b', 42), w('c', 43)], focusedWindow: 'c', mainWindow: 'b' });
    assert.strictEqual(addon.captureApp(PID).window.window_id, 43);
    loadApp({ windows: [w('a', 41), w('b', 42), w('c', 43)], mainWindow: 'b' });
    sim.setAttribute('a', 'AXFocused', false); // no focused window at all
    const main = addon.captureApp(PID);
    assert.strictEqual(main.window.window_id, 42);
    assert.strictEqual(main.window.focused, false);
  });

  test('an unusable accessibility frame borrows the window-list bounds of the same window', () => {
    loadApp({ windows: [window([{ role: 'AXButton', title: 'B' }], { axFrame: [100, 100, 800, 20] })] });
    const snap = addon.captureApp(PID);
    assert.deepStrictEqual(snap.window.bounds, [100, 100, 800, 600]);
    assert.strictEqual(snap.window.window_id, 41);
  });

  test('a small focused window is never reported with another window\'s bounds and id', () => {
    loadApp({
      windows: [
        window([{ role: 'AXButton', title: 'Palette button' }], { id: 'pal', number: 44, title: 'Palette', bounds: [10, 10, 200, 40], focused: true }),
        window([{ role: 'AXButton', title: 'Doc button' }], { id: 'doc', number: 45, title: 'Doc', bounds: [100, 100, 900, 700] }),
      ],
    });
    const snap = addon.captureApp(PID);
    assert.strictEqual(snap.elements[0].title, 'Palette button');
    assert.strictEqual(snap.window.window_id, 44);
    assert.deepStrictEqual(snap.window.bounds, [10, 10, 200, 40]);
    assert.strictEqual(snap.window.focused, true);
    assert.deepStrictEqual(snap.surfaces.map((s) => s.actual_window_id), [44]);
  });

  test('presentation windows: the outermost parent window from 14.2 on, the window itself before', () => {
    const scene = {
      windows: [
        window([{ role: 'AXButton', title: 'Inner' }], { id: 'inner', number: 46, title: 'Inner', parent: 'outer', bounds: [120, 120, 400, 300], focused: true }),
        window([], { id: 'outer', number: 47, title: 'Outer', bounds: [100, 100, 800, 600] }),
      ],
    };
    loadApp(scene, { platformVersion: '14.5' });
    const modern = addon.captureApp(PID);
    assert.strictEqual(modern.window.window_id, 46);
    assert.strictEqual(modern.window.presentation_window_id, 47);
    assert.deepStrictEqual(modern.surfaces[0].actual_window_id, 47);
    assert.strictEqual(modern.surfaces[0].relation, 'presentation_root');
    loadApp(scene, { platformVersion: '14.1' });
    const older = addon.captureApp(PID);
    assert.strictEqual(older.window.presentation_window_id, 46);
  });

  test('surface kinds: save-panel identifier whatever the role, popovers, dialogs; no number twice', () => {
    loadApp({
      windows: [window([
        { role: 'AXPopover', windowNumber: 51, frame: [110, 110, 50, 50] },
        { role: 'AXDialog', windowNumber: 52, frame: [120, 120, 50, 50], identifier: 'save-panel' },
        { role: 'AXDialog', windowNumber: 53, frame: [130, 130, 50, 50] },
        { role: 'AXSheet', windowNumber: 55, windowNumberOverride: 53, frame: [140, 140, 50, 50], cg: false },
        { role: 'AXSheet', windowNumber: 54, frame: [150, 150, 0, 50] },
      ])],
    });
    const snap = addon.captureApp(PID);
    assert.deepStrictEqual(snap.surfaces.map((s) => [s.actual_window_id, s.surface_kind]), [
      [41, 'window'], [51, 'popover'], [52, 'save_panel'], [53, 'attached_dialog'],
    ]);
  });
});
