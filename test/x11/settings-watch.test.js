'use strict';
// settings-watch on a real X display: its own window-list reader finds a
// window whose owner (WM_CLASS class) names the settings application.
const test = require('node:test');
const assert = require('node:assert');
const path = require('node:path');
const { spawn } = require('node:child_process');
const { skip, PYTHON, waitFor, xGeometry } = require('./desktop');
const { startWatch } = require('./watch');

// A plain X window with the given WM_CLASS class; resolves with its id.
function xWindow(cls, title) {
  const child = spawn(PYTHON, [path.join(__dirname, 'tools', 'xwindow.py'), cls, title, '420', '260'],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  const id = new Promise((resolve, reject) => {
    child.stdout.once('data', (d) => resolve(Number(String(d).trim())));
    child.once('exit', (code) => reject(new Error(`xwindow.py exited with ${code}`)));
  });
  return { child, id };
}

test.describe('settings-watch (X display)', { skip }, () => {
  test('a "System Settings" window gives its record; without one the line is []', async (t) => {
    const w = startWatch(['30'], { KORVO_OZA_PLATFORM: 'x11' });
    const other = xWindow('Text Editor', 'Notes');
    const win = xWindow('System Settings', 'General');
    t.after(() => {
      w.stop();
      other.child.kill('SIGKILL');
      win.child.kill('SIGKILL');
    });
    await other.id;
    const id = await win.id;
    const { client: [x, y, cw, ch], extents: [l, r, top, b] } = waitFor(() => {
      const g = xGeometry(id);
      return g.extents.some((e) => e > 0) ? g : null;  // framed by the window manager
    }, 5000, 'the frame extents');
    const expected = { x: x - l, y: y - top, w: cw + l + r, h: ch + top + b, layer: 0 };
    await w.next((recs) => JSON.stringify(recs) === JSON.stringify([expected]), 5000);
    win.child.kill('SIGKILL');
    const from = w.lines.length;
    await w.next((recs) => recs.length === 0, 5000, from);
  });
});
