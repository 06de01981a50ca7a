'use strict';
// Keyboard input to a process that is not active, on a real desktop: the
// widget factory stays the active application while text and chords go to a
// GTK3 editor (mousepad) and a Qt5 editor (FeatherPad), read back through
// AT-SPI. Nothing may be activated and the pointer may not move.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { spawn } = require('node:child_process');
const { addon, skip, run, waitFor, appPid, activeWindow, python } = require('./desktop');

// ASCII, shifted symbols, digits and line breaks (typed as key presses),
// Latin letters the US layout lacks, Cyrillic, CJK and an emoji.
const MIXED = 'Hello, World! (x+y)*2 = 100% #tag "q" ~a|b\n' +
  'é ü ß Straße, жук, 中文, 😀 done\r\nlast: {[<>]} $5 @home ^_^ `ok`';
// What an editor holds after typing MIXED: a carriage return is a new line.
const TYPED = MIXED.replace(/\r\n/g, '\n');

const editorText = (pid) => {
  try {
    return JSON.parse(python('atspi.py', ['text', String(pid)]));
  } catch {
    return null;  // not (yet) on the accessibility bus
  }
};

const pointer = () => run('xdotool', ['getmouselocation', '--shell']).split('\n')
  .filter((l) => /^[XY]=/.test(l)).join(' ');

const onPath = (prog) => (process.env.PATH || '').split(':').some((d) => fs.existsSync(path.join(d, prog)));
const noQt = onPath('featherpad') ? false : 'featherpad not installed (bash scripts/setup.sh installs it)';

// Makes the widget factory the active application; answers its window.
function activateFactory() {
  const factory = appPid('gtk3-widget-factory');
  const win = addon.listWindows(factory)[0].window_id;
  assert.strictEqual(addon.activateApplication(factory), true);
  waitFor(() => activeWindow() === win, 5000, 'the widget factory to be active');
  return win;
}

function bundleOf(pid) {
  const app = addon.listApplications().find((a) => a.pid === pid);
  assert.ok(app && app.bundle_id, `pid ${pid} has a bundle id`);
  return app.bundle_id;
}

// Types MIXED into `pid` in the background, then selects all and deletes it.
async function typeAndErase(pid) {
  waitFor(() => editorText(pid) !== null, 20000, 'the editor on the accessibility bus');
  python('atspi.py', ['clear', String(pid)]);
  waitFor(() => editorText(pid) === '', 5000, 'an empty editor');
  const bundle = bundleOf(pid);
  const active = activateFactory();
  run('xdotool', ['mousemove', '17', '23']);
  const where = pointer();

  assert.deepStrictEqual(await addon.typeTextToPidVerified(pid, bundle, MIXED), { ok: true, error: null });
  assert.strictEqual(waitFor(() => {
    const s = editorText(pid);
    return s !== null && s.length >= TYPED.length ? s : null;
  }, 10000, 'the text to arrive'), TYPED);
  assert.strictEqual(activeWindow(), active, 'nothing was activated');
  assert.strictEqual(pointer(), where, 'the pointer did not move');

  // The letter is typed by keycode with Control in the state: select all.
  assert.deepStrictEqual(await addon.pressKeyToPidVerified(pid, bundle, 'ctrl+a'), { ok: true, error: null });
  assert.deepStrictEqual(await addon.pressKeyToPidVerified(pid, bundle, 'BackSpace'), { ok: true, error: null });
  waitFor(() => editorText(pid) === '', 5000, 'the editor emptied by ctrl+a, BackSpace');
  assert.strictEqual(activeWindow(), active, 'still nothing activated');
  assert.strictEqual(pointer(), where, 'the pointer still did not move');
}

test.describe('x11 keyboard input to a process', { skip }, () => {
  const editor = appPid('mousepad');
  const started = [];
  test.after(() => started.forEach((c) => c.exitCode === null && c.kill('SIGKILL')));

  test('mixed text and chords reach a background GTK3 editor, exactly', async () => {
    await typeAndErase(editor);
  });

  test('the same into a background Qt5 editor', { skip: noQt }, async () => {
    // A process of its own: a plain start would hand its window to a
    // FeatherPad already running in the session and exit.
    const qt = spawn('featherpad', ['--standalone'], { env: process.env, stdio: 'ignore' });
    started.push(qt);
    const pid = waitFor(() => addon.listApplications().some((a) => a.pid === qt.pid) && qt.pid, 20000,
      'FeatherPad to map its window');
    await typeAndErase(pid);
  });

  test('keys addressed to a window go to that window only when it is the pid\'s', async () => {
    waitFor(() => editorText(editor) !== null, 20000, 'the editor on the accessibility bus');
    python('atspi.py', ['clear', String(editor)]);
    const bundle = bundleOf(editor);
    const factoryWindow = activateFactory();
    const editorWindow = addon.listWindows(editor)[0].window_id;

    assert.deepStrictEqual(await addon.typeTextToPidVerified(editor, bundle, 'to the window 42', editorWindow),
      { ok: true, error: null });
    assert.strictEqual(waitFor(() => {
      const s = editorText(editor);
      return s === 'to the window 42' ? s : null;
    }, 5000, 'the text in the named window'), 'to the window 42');

    // Another application's window named with the editor's pid: no key
    // reaches either application.
    const factoryText = JSON.stringify(python('atspi.py', ['tree', String(appPid('gtk3-widget-factory'))]));
    await addon.typeTextToPidVerified(editor, bundle, 'stray', factoryWindow);
    await addon.typeTextToPid(editor, '!');  // a marker: once it arrives, any stray key would have too
    waitFor(() => editorText(editor) === 'to the window 42!', 5000, 'the marker');
    assert.strictEqual(JSON.stringify(python('atspi.py', ['tree', String(appPid('gtk3-widget-factory'))])),
      factoryText, 'the widget factory got no key');
    assert.strictEqual(activeWindow(), factoryWindow);
  });

  // The tool server offers type_text with a pid only where the backend
  // declares keyboard input to a process available.
  const declared = () => {
    try {
      return require('../../platform').isAvailable('keyboard_to_process') ? false
        : 'keyboard_to_process is not declared available on x11 (platform/x11/x11_capabilities.cc)';
    } catch (err) {
      return err.message;
    }
  };
  test('the tool server\'s type_text with a pid types into the background editor', { skip: skip || declared() }, async () => {
    const { startServer } = require('../mcp-client');
    python('atspi.py', ['clear', String(editor)]);
    waitFor(() => editorText(editor) === '', 5000, 'an empty editor');
    const active = activateFactory();
    const s = await startServer([], { platform: 'x11' });
    try {
      const typed = await s.call('type_text', { pid: editor, text: 'via the tool server ж' });
      assert.match(typed.text, new RegExp(`typed the text in pid ${editor}`));
      assert.strictEqual(waitFor(() => editorText(editor) || null, 5000, 'the text'), 'via the tool server ж');
      assert.strictEqual(activeWindow(), active);
    } finally {
      await s.close();
    }
  });

  test('identity checks refuse a pid that is not the expected application, and post nothing', async () => {
    python('atspi.py', ['clear', String(editor)]);
    waitFor(() => editorText(editor) === '', 5000, 'an empty editor');
    assert.deepStrictEqual(await addon.typeTextToPidVerified(editor, 'org.example.other', 'x'),
      { ok: false, error: 'rejected' });
    // Letter case of the bundle id does not matter.
    assert.deepStrictEqual(await addon.typeTextToPidVerified(editor, bundleOf(editor).toUpperCase(), 'y'),
      { ok: true, error: null });
    assert.strictEqual(waitFor(() => editorText(editor) || null, 5000, 'the y'), 'y');
  });
});
