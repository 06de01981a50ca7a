'use strict';
// Global typing over XTest into a real editor, read back through AT-SPI. The
// text is posted through the backend's Events service exactly as the core's
// global typing paces it (tools/x11_probe.cc), since the keyboard exports
// are not built yet.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { addon, skip, BUILD, run, waitFor, appPid, activeWindow, python } = require('./desktop');

// 1,000 characters: printable ASCII (shifted ones included) with every tenth
// character one the US layout lacks.
function mixedText() {
  const missing = [...'éüßñ€→✓жλ中'];
  let seed = 7;
  const next = () => (seed = (seed * 1103515245 + 12345) % 2147483648);
  let out = '';
  for (let i = 0; i < 1000; i++) {
    out += i % 10 === 5 ? missing[(i / 10 | 0) % 10] : String.fromCharCode(0x20 + (next() % 95));
  }
  return out;
}

const editorText = (pid) => {
  try {
    return JSON.parse(python('atspi.py', ['text', String(pid)]));
  } catch {
    return null;  // not registered on the accessibility bus yet
  }
};

test.describe('x11 global typing', { skip }, () => {
  const editor = appPid('mousepad');

  test('1,000 mixed characters typed with the core\'s pacing read back identical, and the keymap is restored', (t) => {
    const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'korvo-type-')), 'text.txt');
    t.after(() => fs.rmSync(path.dirname(file), { recursive: true, force: true }));
    const text = mixedText();
    assert.strictEqual([...text].length, 1000);
    fs.writeFileSync(file, text);

    const editorWindow = addon.listWindows(editor)[0].window_id;
    assert.strictEqual(addon.activateApplication(editor), true);
    waitFor(() => activeWindow() === editorWindow, 5000, 'the editor to be active');
    waitFor(() => editorText(editor) !== null, 10000, 'the editor on the accessibility bus');
    python('atspi.py', ['clear', String(editor)]);
    waitFor(() => editorText(editor) === '', 5000, 'an empty editor');
    const keymapBefore = run('xmodmap', ['-pke']);

    const out = JSON.parse(run(path.join(BUILD, 'x11_probe'), ['type', file, '8'], {
      env: { ...process.env, KORVO_OZA_PLATFORM: 'x11' },
    }));
    assert.strictEqual(out.ok, true);
    const got = waitFor(() => {
      const s = editorText(editor);
      return s !== null && s.length >= text.length ? s : null;
    }, 10000, 'the text to arrive');
    assert.strictEqual(got, text);
    // The probe restored the spare keycodes it mapped before it exited.
    assert.strictEqual(run('xmodmap', ['-pke']), keymapBefore);
  });
});
