'use strict';
// Windows, displays and window images on a real X desktop, checked against
// what the X tools (xwininfo, xprop, xwd, xrandr) report.
const test = require('node:test');
const assert = require('node:assert');
const { addon, skip, run, waitFor, appPid, activeWindow, xGeometry } = require('./desktop');
const { frameOf, xwdImage, decodePng, firstDifference, boundsOffsetInFrame } = require('./images');

function outerBounds(id) {
  const { client: [x, y, w, h], extents: [l, r, t, b] } = xGeometry(id);
  return [x - l, y - t, w + l + r, h + t + b];
}

test.describe('x11 windows and displays', { skip }, () => {
  const editor = appPid('mousepad');
  const factory = appPid('gtk3-widget-factory');

  test('listWindows and the probe list show each application\'s window with its pid, title and outer bounds', () => {
    for (const [pid, title] of [[editor, /Mousepad$/], [factory, /widget-factory/]]) {
      const list = addon.listWindows(pid);
      assert.strictEqual(list.length, 1, `one window for pid ${pid}`);
      const w = list[0];
      assert.match(w.title, title);
      assert.deepStrictEqual(w.bounds, outerBounds(w.window_id));
      assert.strictEqual(w.onscreen, true);
      const probe = addon.screenCaptureProbeWindows().find((p) => p.windowId === w.window_id);
      assert.ok(probe, 'the window is in the on-screen list');
      assert.strictEqual(probe.ownerPid, pid);
      assert.strictEqual(probe.layer, 0);
      assert.match(probe.title, title);
      const [x, y, width, height] = w.bounds;
      assert.deepStrictEqual(probe.bounds, { x, y, width, height });
      assert.strictEqual(probe.acceptsLeftMouseDown, true);
      const pidOf = Number(/= (\d+)/.exec(run('xprop', ['-id', String(w.window_id), '_NET_WM_PID']))[1]);
      assert.strictEqual(pidOf, pid);
    }
  });

  test('a moved window reports its new outer bounds', () => {
    const [w] = addon.listWindows(editor);
    const to = w.bounds[0] === 40 ? ['80', '90'] : ['40', '60'];
    run('xdotool', ['windowmove', String(w.window_id), ...to]);
    const moved = waitFor(() => {
      const b = addon.listWindows(editor)[0].bounds;
      return b[0] !== w.bounds[0] || b[1] !== w.bounds[1] ? b : null;
    }, 5000, 'the window to move');
    assert.deepStrictEqual(moved, outerBounds(w.window_id));
    assert.deepStrictEqual(moved.slice(2), w.bounds.slice(2));
  });

  test('the window server\'s list read right after another client changed a window shows the change', () => {
    // Lists are reused between reads while no window changed: a change made
    // by another client must end that at once, not after the reuse expires.
    const [w] = addon.listWindows(editor);
    const id = String(w.window_id);
    const probe = () => addon.screenCaptureProbeWindows().find((p) => p.windowId === w.window_id);
    const title = probe().title;
    try {
      for (const name of ['Renamed once', 'Renamed twice']) {
        probe();
        run('xdotool', ['set_window', '--name', name, id]);
        assert.strictEqual(probe().title, name);
      }
      for (const [dx, dy] of [[30, 20], [-30, -20]]) {
        const before = probe().bounds;
        run('xdotool', ['windowmove', '--sync', id, String(before.x + dx), String(before.y + dy)]);
        const [x, y, width, height] = outerBounds(w.window_id);
        assert.deepStrictEqual(probe().bounds, { x, y, width, height });
        assert.notDeepStrictEqual(probe().bounds, before);
      }
    } finally {
      run('xdotool', ['set_window', '--name', title, id]);
    }
  });

  test('the window image matches xwd of the same window pixel for pixel, and covering it changes nothing', async () => {
    // The factory stays active, so the editor draws no blinking caret and
    // its frame keeps the inactive look through every read.
    assert.ok(addon.activateApplication(factory));
    const [fw] = addon.listWindows(factory);
    waitFor(() => activeWindow() === fw.window_id, 5000, 'the factory to be active');
    const [w] = addon.listWindows(editor);
    const moveFactory = (x, y) => {
      run('xdotool', ['windowmove', String(fw.window_id), String(x), String(y)]);
      waitFor(() => addon.listWindows(factory)[0].bounds[0] === x, 5000, 'the factory to move');
    };
    // Moving a window over the editor can start a fade (its overlay scroll
    // bar shows and fades out over about a second): poll, with a bound, until
    // two reads in a row agree before comparing.
    const settledImage = async () => {
      let prev = await decodePng(addon.captureWindowImage(w.window_id, 'png').data);
      for (let i = 0; i < 40; i++) {
        await new Promise((r) => setTimeout(r, 100));
        const cur = await decodePng(addon.captureWindowImage(w.window_id, 'png').data);
        if (cur.rgba.equals(prev.rgba)) return cur;
        prev = cur;
      }
      return prev;
    };
    // Covered: the factory lies over the editor's lower part.
    const coveredImage = async () => {
      moveFactory(w.bounds[0] + 100, w.bounds[1] + 200);
      const png = await settledImage();
      moveFactory(w.bounds[0] + w.bounds[2] + 50, w.bounds[1]);
      return png;
    };
    let covered = await coveredImage();
    assert.deepStrictEqual([covered.width, covered.height], w.bounds.slice(2));

    const frame = frameOf(w.window_id);
    const [ox, oy] = boundsOffsetInFrame(w.bounds, frame);
    let mismatch = null;
    // A repaint may still land between reads: a few attempts.
    for (let attempt = 0; attempt < 4; attempt++) {
      // A repaint caught in the covered read is read again too.
      if (attempt > 0) covered = await coveredImage();
      const uncovered = await settledImage();
      mismatch = firstDifference(uncovered, xwdImage(frame), ox, oy) ||
        firstDifference(covered, uncovered, 0, 0);
      if (!mismatch) break;
    }
    assert.strictEqual(mismatch, null);
    assert.ok(addon.inspectPngContent(Buffer.from(addon.captureWindowImage(w.window_id, 'png').data, 'base64'))
      .distinctColorBucketCount > 1, 'the capture is not blank');
  });

  test('window numbers that name no window give no image', () => {
    assert.strictEqual(addon.captureWindowImage(0x7ffffff0), null);
    assert.strictEqual(addon.captureWindowImage(0), null);
  });

  test('two RandR monitors give two displays; the first is main at the origin', (t) => {
    run('xrandr', ['--setmonitor', 'korvo-left', '960/254x1080/286+0+0', 'screen']);
    t.after(() => {
      run('xrandr', ['--delmonitor', 'korvo-left']);
      run('xrandr', ['--delmonitor', 'korvo-right']);
    });
    run('xrandr', ['--setmonitor', 'korvo-right', '960/254x1080/286+960+0', 'none']);
    const list = addon.displays();
    assert.strictEqual(list.length, 2);
    assert.deepStrictEqual(list.map((d) => d.bounds), [[0, 0, 960, 1080], [960, 0, 960, 1080]]);
    assert.deepStrictEqual(list.map((d) => d.main), [true, false]);
    assert.deepStrictEqual(list.map((d) => d.scale_factor), [1, 1]);
  });

  test('cursorPoint follows the pointer', () => {
    run('xdotool', ['mousemove', '321', '234']);
    assert.deepStrictEqual(waitFor(() => {
      const p = addon.cursorPoint();
      return p.x === 321 && p.y === 234 ? p : null;
    }, 3000, 'the pointer'), { x: 321, y: 234 });
  });
});
