'use strict';
// The tool server on the real desktop: the SDK's client drives
// bin/automation-mcp (KORVO_OZA_PLATFORM=x11) over stdio, and tasks are done
// through tools alone on mousepad and the GTK widget factory, with what each
// answer costs a model (about four characters a token) held to its target.
const test = require('node:test');
const assert = require('node:assert');
const { skip, appPid, waitFor, activeWindow } = require('./desktop');
const { startServer, refOf, untrustedBlock, tokens } = require('../mcp-client');

const EDITOR_TOKENS = 1200;
const FACTORY_TOKENS = 2000;
// Acting tools stop waiting once a change holds; a loaded machine gets longer.
const SETTLE_MS = 3000;

test.describe('the tool server on the x11 desktop', { skip }, () => {
  const editor = appPid('mousepad');
  const factory = appPid('gtk3-widget-factory');
  let s;
  test.before(async () => {
    s = await startServer([], { platform: 'x11' });
  });
  test.after(() => s && s.close());

  // A snapshot once the application is on the accessibility bus with `what`.
  const snapshotWith = async (pid, what, args = {}) => {
    const end = Date.now() + 15000;
    for (;;) {
      const r = await s.client.callTool({ name: 'snapshot', arguments: { pid, ...args } });
      const text = r.content[0].text;
      if (!r.isError && what.test(text)) return text;
      if (Date.now() > end) assert.fail(`no ${what} in the snapshot of pid ${pid}:\n${text}`);
      await new Promise((res) => setTimeout(res, 200));
    }
  };

  test('the desktop is x11; the pid forms it cannot serve are refused before any call', async () => {
    assert.match(s.stderr(), /driving the x11 desktop/);
    assert.match((await s.call('describe_desktop')).text, /^desktop: x11 /);
    assert.match(await s.call('scroll', { pid: editor, x: 10, y: 10, delta: 1, direction: 'down' }, { fails: true }),
      /^scroll with a pid cannot work on this desktop: mouse_to_process is not built on x11 .*Leave out pid to act through the system on the frontmost application \(activate_app first\)\.$/);
  });

  test('mousepad: type, select all and read back; its default snapshot holds the document within 1,200 tokens', async () => {
    assert.match((await s.call('activate_app', { pid: editor })).text, new RegExp(`^frontmost after 450 ms: pid ${editor} `));
    const editorWindow = Number((await snapshotWith(editor, /TextArea/)).match(/, window (\d+) /)[1]);
    waitFor(() => activeWindow() === editorWindow, 5000, 'the editor to be active');
    // Select what is there, type over it, select it all again.
    await s.call('press_key', { keys: 'ctrl+a', wait_ms: SETTLE_MS });
    const typed = await s.call('type_text', { text: 'Hello from the agent', wait_ms: SETTLE_MS });
    assert.match(typed.text, /^dispatched: typed the text to the frontmost application \(typeTextGlobal\)$/m);
    assert.match(typed.text, /^changed: yes, /m);
    const all = await s.call('press_key', { keys: 'ctrl+a', wait_ms: SETTLE_MS });
    assert.match(untrustedBlock(all.text), /^focused: e\d+ TextArea value="Hello from the agent" selection=\[0,20\] \(focused, editable\)$/m);

    const snap = await snapshotWith(editor, /Hello from the agent/);
    assert.ok(tokens(snap) <= EDITOR_TOKENS, `the default snapshot costs ${tokens(snap)} tokens (${snap.length} chars)`);
    assert.match(untrustedBlock(snap), /- e\d+ TextArea value="Hello from the agent" selection=\[0,20\] \(focused, editable\)$/m);
    assert.match(snap, /^\[left out \d+ elements not on screen \(\d+ in closed menus/m);
    assert.doesNotMatch(snap, /MenuItem/, 'no item of a closed menu');
    assert.match(snap, /MenuBarItem "Edit"/);
    assert.match(await s.call('press_key', { keys: 'ctrl+nosuch' }, { fails: true }),
      /^pressKeyGlobal\("ctrl\+nosuch"\) answered false: nothing was pressed\. "nosuch" is not a key name \(closest: [a-z]+, [a-z]+, [a-z]+\)\. Valid names: /);
  });

  test('widget factory: toggle a button and confirm it; refs stay across three snapshots with a change between', async () => {
    const first = await snapshotWith(factory, /togglebutton/);
    assert.ok(tokens(first) <= FACTORY_TOKENS, `the default snapshot costs ${tokens(first)} tokens (${first.length} chars)`);
    assert.doesNotMatch(first, /MenuItem/, 'closed pop-up menus are left out');
    // The first enabled toggle button, whichever state another suite left it in.
    const line = untrustedBlock(first).split('\n').find((l) => /CheckBox\/Toggle "togglebutton" (un)?checked$/.test(l));
    const toggle = refOf(line, /e\d+/);
    const was = line.endsWith(' unchecked') ? 'unchecked' : 'checked';
    const flipped = was === 'checked' ? 'unchecked' : 'checked';
    const on = await s.call('click', { ref: toggle, wait_ms: SETTLE_MS });
    assert.match(on.text, new RegExp(`^changed: yes, \\d+ elements? \\([^)]*\\b${toggle}\\b[^)]*\\) within \\d+ ms$`, 'm'));
    assert.match(untrustedBlock(on.text), new RegExp(`^acted: ${toggle} CheckBox/Toggle "togglebutton" ${flipped}$`, 'm'));
    const second = await s.call('snapshot', { pid: factory });
    assert.match(second.text, new RegExp(`- ${toggle} CheckBox/Toggle "togglebutton" ${flipped}$`, 'm'));
    const off = await s.call('click', { ref: toggle, wait_ms: SETTLE_MS });
    assert.match(untrustedBlock(off.text), new RegExp(`^acted: ${toggle} CheckBox/Toggle "togglebutton" ${was}$`, 'm'));
    const third = await s.call('snapshot', { pid: factory });
    // Every line keeps its ref, role and title; only the toggle's state moved between.
    const shape = (text) => untrustedBlock(text).split('\n').filter((l) => /^ *- e\d+ /.test(l))
      .map((l) => l.replace(/ (checked|unchecked|mixed)(?= |$)/, ''));
    assert.deepStrictEqual(shape(second.text), shape(first));
    assert.deepStrictEqual(shape(third.text), shape(first));
  });

  test('widget factory: focus, select_text, set_value and ShowMenu on real widgets', async (t) => {
    // The enabled entry of its own (not a combo box's), whatever text it holds now.
    const found = await snapshotWith(factory, /^- e\d+ TextField value="[^"]*" actions=Confirm \((focused, )?editable\)$/m, { query: 'textfield' });
    const line = untrustedBlock(found).split('\n').find((l) => /^- e\d+ TextField value="[^"]*" actions=Confirm \((focused, )?editable\)$/.test(l));
    const entry = refOf(line, /e\d+/);
    const before = JSON.parse(line.match(/value=("(?:[^"\\]|\\.)*")/)[1]);
    t.after(() => s.client.callTool({ name: 'set_value', arguments: { ref: entry, value: before } }));
    const focused = await s.call('focus', { ref: entry, wait_ms: SETTLE_MS });
    assert.match(focused.text, new RegExp(`^focused: ${entry} \\(the acted element\\)$`, 'm'));
    const selected = await s.call('select_text', { ref: entry, start: 1, length: 3, wait_ms: SETTLE_MS });
    assert.match(untrustedBlock(selected.text), new RegExp(`^acted: ${entry} TextField value="[^"]*" selection=\\[1,3\\]`, 'm'));
    const set = await s.call('set_value', { ref: entry, value: 'set by the agent', wait_ms: SETTLE_MS });
    assert.match(untrustedBlock(set.text), new RegExp(`^acted: ${entry} TextField value="set by the agent"`, 'm'));
    // A combo box's pop-up: its items were left out while closed, and show once it opens.
    const combo = refOf(found, /PopUpButton( "[^"]*")? actions=Press,ShowMenu$/);
    t.after(async () => {
      // A pop-up left open would keep the keyboard: close it.
      const now = await s.client.callTool({ name: 'snapshot', arguments: { root: combo } });
      if (!/MenuItem "Mickey Mouse".*not shown/.test(now.content[0].text)) await s.call('press_key', { keys: 'esc' });
    });
    const opened = await s.call('perform_action', { ref: combo, action: 'showmenu', wait_ms: SETTLE_MS });
    assert.match(opened.text, /^dispatched: ran showmenu on e\d+ \(performAction ok\)$/m);
    assert.match(opened.text, /^changed: yes, \d+ elements/m);
    const items = await s.call('snapshot', { pid: factory, root: combo });
    assert.match(untrustedBlock(items.text), /MenuItem "Mickey Mouse"(?!.*not shown)/, 'shown: no "not shown" note');
    const closed = await s.call('press_key', { keys: 'esc', wait_ms: SETTLE_MS });
    assert.match(closed.text, /^changed: yes, /m);
  });

  // The dialog opens from its shortcut: pressing the menu item through AT-SPI
  // opens it too, but while that modal dialog runs, this process's reads of
  // the editor answer no accessibility window (see the report of the change).
  test('a dialog opened and closed again', async (t) => {
    t.after(async () => {
      const open = await s.client.callTool({ name: 'list_windows', arguments: { pid: editor } });
      if (/"Go To"/.test(open.content[0].text)) await s.call('press_key', { keys: 'esc' });
    });
    await s.call('activate_app', { pid: editor });
    const found = await snapshotWith(editor, /MenuItem "Go to\.\.\."/, { query: 'menuitem go to' });
    assert.match(found, /MenuItem "Go to\.\.\." desc="[^"]*" \(not shown: closed menu\)$/m);
    const opened = await s.call('press_key', { keys: 'ctrl+l', wait_ms: SETTLE_MS });
    assert.match(opened.text, /^changed: yes, the focused window \(now \d+\)/m);
    assert.match(untrustedBlock(opened.text), /^focused window: "Go To"$/m);
    const shown = await s.call('wait_for', { pid: editor, query: 'button cancel', state: 'appears', timeout_ms: 5000 });
    assert.match(shown.text, /^met after \d+ ms: "button cancel" appears/);
    const dialog = await s.call('snapshot', { pid: editor });
    assert.match(untrustedBlock(dialog.text), /^window \d+ "Go To" /m);
    assert.match(untrustedBlock(dialog.text), /Button\/DefaultButton "Jump to" \(default\)$/m);
    const cancel = refOf(dialog.text, /Button "Cancel"/);
    const closed = await s.call('click', { ref: cancel, wait_ms: SETTLE_MS });
    assert.match(closed.text, new RegExp(`^${cancel} is now gone: its window \\d+ is no longer there`, 'm'));
    assert.match(closed.text, /^focused window: \d+ of pid \d+/m);
    await s.call('wait_for', { pid: editor, query: 'button cancel', state: 'disappears', timeout_ms: 5000 });
    assert.match(await s.call('click', { ref: cancel }, { fails: true }),
      new RegExp(`^${cancel} \\(Button\\) is gone: its window \\d+ is no longer there`));
  });

  test('screenshots state size, bounds and scale; a window of another owner is refused, a covered point too', async () => {
    const win = (await s.call('list_windows', { pid: editor })).text.match(/window (\d+) "[^"]*Mousepad"/)[1];
    const shot = await s.client.callTool({ name: 'screenshot', arguments: { window_id: Number(win), pid: editor, max_width: 320 } });
    assert.ok(!shot.isError, shot.content.map((c) => c.text).join());
    // The x11 backend has capture streams, so the verified path serves it.
    assert.match(shot.content[1].text, new RegExp(`^window ${win}: 320x\\d+ px png \\(verified\\); window at \\[-?\\d+,-?\\d+,\\d+,\\d+\\] on screen \\(points\\), scale 0\\.\\d+ px per point\\.$`));
    assert.strictEqual(await s.call('screenshot', { window_id: Number(win), pid: factory }, { fails: true }),
      `window ${win} belongs to pid ${editor}, not pid ${factory}: nothing was captured.`);
    // The editor is in front of the factory: a click there for the factory is refused.
    const [x, y, w, h] = (await s.call('list_windows')).text.match(new RegExp(`window ${win} pid ${editor} .* \\[(-?\\d+),(-?\\d+),(\\d+),(\\d+)\\]`)).slice(1).map(Number);
    assert.match(await s.call('click_at', { x: x + w / 2, y: y + h / 2, pid: factory }, { fails: true }),
      new RegExp(`^wrong_owner: the point \\([\\d.]+, [\\d.]+\\) is covered by window ${win} of another application \\(pid ${editor}\\)\\. Nothing was clicked\\.[^]*covering application: "Mousepad"`));
  });
});
