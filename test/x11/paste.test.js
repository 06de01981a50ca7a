'use strict';
// Provided paste over the X CLIPBOARD selection, with real clients on both
// sides: the editor reads the pasted text (its paste chord sent globally),
// small python3-xlib clients (tools/clip.py) stand for the user's previous
// clipboard owner, a third reader and a clipboard manager. The pasting host
// runs in a process of its own (tools/paste.js) whose log names every read.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawn, execFile } = require('node:child_process');
const { promisify } = require('node:util');
const { addon, skip, waitFor, appPid, python, PYTHON } = require('./desktop');

const CLIP = path.join(__dirname, 'tools', 'clip.py');
const PASTE = path.join(__dirname, 'tools', 'paste.js');
const execFileP = promisify(execFile);

const editorText = (pid) => {
  try {
    return JSON.parse(python('atspi.py', ['text', String(pid)], { maxBuffer: 64 << 20 }));
  } catch {
    return null;
  }
};

// A third client's read of the clipboard, asynchronous: this process may be
// the owner, and its host thread must stay free to serve the read.
async function readClipboard(target = 'UTF8_STRING') {
  const { stdout } = await execFileP(PYTHON, [CLIP, 'read', target], { maxBuffer: 64 << 20, timeout: 20000 });
  return JSON.parse(stdout);
}

// Polls fn() without blocking the host loop (children's output arrives on it).
async function until(fn, ms, what) {
  const end = Date.now() + ms;
  for (;;) {
    const v = fn();
    if (v) return v;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 20));
  }
}

const children = [];
function startClient(args) {
  const child = spawn(PYTHON, [CLIP, ...args], { env: process.env, stdio: ['ignore', 'pipe', 'inherit'] });
  children.push(child);
  let out = '';
  child.stdout.on('data', (b) => { out += b; });
  return {
    child,
    ready: () => until(() => out.includes('ready'), 10000, `clip.py ${args[0]} ready`),
    stop: () => child.exitCode === null && child.signalCode === null && child.kill('SIGKILL'),
  };
}

// Runs tools/paste.js; answers its result, the pids its log names as
// readers, and exit(), which ends it (and with it whatever it owns).
async function paste(pid, text) {  // pid 'offer': only begin
  const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'korvo-paste-')), 'text');
  fs.writeFileSync(file, text);
  const child = spawn(process.execPath, [PASTE, String(pid), file], {
    env: { ...process.env, KORVO_OZA_LOG_STDERR: '1' }, stdio: ['pipe', 'pipe', 'pipe'],
  });
  children.push(child);
  let out = '';
  let err = '';
  child.stdout.on('data', (b) => { out += b; });
  child.stderr.on('data', (b) => { err += b; });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  await until(() => {
    if (child.exitCode !== null) throw new Error(`paste.js failed: ${err}`);
    return out.includes('\n');
  }, 30000, 'the paste');
  fs.rmSync(path.dirname(file), { recursive: true, force: true });
  return {
    result: JSON.parse(out),
    readers: () => [...err.matchAll(/^pasteboard: \S+ read by pid (\d+)/gm)].map((m) => Number(m[1])),
    exit: async () => { child.stdin.end(); await exited; },
  };
}

test.describe('x11 provided paste over the CLIPBOARD selection', { skip }, () => {
  const editor = appPid('mousepad');
  test.after(() => children.forEach((c) => c.exitCode === null && c.signalCode === null && c.kill('SIGKILL')));

  function emptyEditor() {
    waitFor(() => editorText(editor) !== null, 20000, 'the editor on the accessibility bus');
    python('atspi.py', ['clear', String(editor)]);
    waitFor(() => editorText(editor) === '', 5000, 'an empty editor');
  }

  test('the editor inserts the provided text, one read by its pid; the user\'s clipboard is back, and ends with the process without a manager', async () => {
    emptyEditor();
    const user = startClient(['own', 'the user\'s clipboard ✓']);
    await user.ready();
    const text = 'Provided: é, 中文, 😀 and "quotes"\nsecond line';
    const p = await paste(editor, text);
    assert.deepStrictEqual(p.result.begin.ok, true);
    assert.strictEqual(p.result.await.ok, true, JSON.stringify(p.result.await));
    assert.strictEqual(p.result.await.reads, 1);
    assert.strictEqual(p.result.await.readsBeforeDispatch, 0);
    assert.deepStrictEqual(p.readers(), [editor], 'exactly one read, by the editor');
    assert.strictEqual(waitFor(() => editorText(editor) || null, 5000, 'the pasted text'), text);
    // The paste took the selection from the user's client, and gave its text back.
    await until(() => user.child.exitCode !== null, 5000, 'the previous owner to lose the selection');
    assert.strictEqual(await readClipboard(), 'the user\'s clipboard ✓');
    assert.strictEqual(await readClipboard('STRING'), null, 'not Latin-1: no STRING');
    await p.exit();
    assert.strictEqual(await readClipboard(), null, 'no clipboard manager: the contents end with the process');
  });

  test('300 KiB arrive by INCR, exactly', async () => {
    emptyEditor();
    const line = 'INCR chunked paste é 中 😀 0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ\n';
    const text = line.repeat(Math.ceil(310 * 1024 / Buffer.byteLength(line)));
    assert.ok(Buffer.byteLength(text) > 300 * 1024);
    const p = await paste(editor, text);
    try {
      assert.strictEqual(p.result.await.ok, true, JSON.stringify(p.result.await));
      assert.deepStrictEqual(p.readers(), [editor]);
      const got = waitFor(() => {
        const s = editorText(editor);
        return s && s.length >= text.length ? s : null;
      }, 20000, 'the whole text');
      assert.strictEqual(got.length, text.length);
      assert.ok(got === text, 'the text arrived unchanged');
    } finally {
      await p.exit();
    }
    emptyEditor();
  });

  test('with a clipboard manager running, the restored clipboard outlives the process', async () => {
    emptyEditor();
    const manager = startClient(['manager']);
    await manager.ready();
    try {
      await startClient(['own', 'kept by the manager: жук']).ready();
      const p = await paste(editor, 'short');
      assert.strictEqual(p.result.await.ok, true, JSON.stringify(p.result.await));
      assert.strictEqual(await readClipboard(), 'kept by the manager: жук');
      await p.exit();
      assert.strictEqual(await readClipboard(), 'kept by the manager: жук');
    } finally {
      manager.stop();
    }
    emptyEditor();
  });

  test('another owner\'s 310 KiB clipboard is saved by INCR and given back whole', async () => {
    const big = 'saved by INCR: ж 中 😀 '.repeat(12000);
    assert.ok(Buffer.byteLength(big) > 310 * 1024);
    const owner = await paste('offer', big);  // another process of the add-on serves it
    try {
      assert.strictEqual(owner.result.begin.ok, true);
      const begin = addon.pasteboardBeginProvidedPaste('short', 'text');
      assert.strictEqual(begin.ok, true);
      await until(() => owner.readers().length > 0, 5000, 'the owner\'s log of the read');
      assert.deepStrictEqual(owner.readers(), [process.pid], 'our begin read the owner once');
      assert.strictEqual(addon.pasteboardFinishProvidedPaste(begin.token), true);
      const got = await readClipboard();
      assert.strictEqual(got.length, big.length);
      assert.ok(got === big, 'the restored clipboard is the saved text');
    } finally {
      await owner.exit();
    }
  });

  test('another client taking the clipboard finishes the paste: the await says so at once, and finish leaves that client\'s text', async () => {
    const begin = addon.pasteboardBeginProvidedPaste('<b>ünïcode</b> 中', 'html');
    assert.strictEqual(begin.ok, true);
    const { stdout } = await execFileP(PYTHON, [CLIP, 'targets'], { timeout: 20000 });
    const targets = JSON.parse(stdout);
    for (const t of ['TARGETS', 'UTF8_STRING', 'text/plain;charset=utf-8', 'text/html']) {
      assert.ok(targets.includes(t), `offers ${t}: ${targets}`);
    }
    assert.strictEqual(await readClipboard('text/html'), '<b>ünïcode</b> 中');
    assert.strictEqual(addon.pasteboardMarkProvidedPasteDispatched(begin.token), true);
    const other = startClient(['own', 'another client']);
    await other.ready();
    const t0 = Date.now();
    const awaited = await addon.pasteboardAwaitProvidedRead(begin.token, 10000, 0, 0);
    assert.strictEqual(awaited.error, 'pasteboard_changed_during_paste');
    assert.strictEqual(awaited.readsBeforeDispatch, 1);
    assert.ok(Date.now() - t0 < 5000, 'the await ended on the selection loss, not on its time-out');
    assert.strictEqual(addon.pasteboardFinishProvidedPaste(begin.token), true);
    assert.strictEqual(await readClipboard(), 'another client');
    other.stop();
  });
});
