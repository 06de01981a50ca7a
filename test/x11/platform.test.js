'use strict';
// The x11 backend on the project's desktop: its capability table and facts as
// the README states them, and the tool server offering only what it can serve.
const test = require('node:test');
const assert = require('node:assert');
const path = require('node:path');
const { desktop, addon, run } = require('./desktop');

const ROOT = path.join(__dirname, '..', '..');
const opts = desktop.skip ? { skip: desktop.skip } : {};

// What the README's table says of the x11 backend on a desktop with every
// X extension it uses and an accessibility bus (the project's desktop).
const EXPECTED = {
  accessibility: 'available',
  element_actions: 'available',
  window_list: 'available',
  displays: 'available',
  applications: 'available',
  window_images: 'available',
  capture_streams: 'available',
  global_keyboard: 'available',
  global_mouse: 'available',
  keyboard_to_process: 'available',
  mouse_to_process: 'not_built',
  mouse_to_background_window: 'available',
  pasteboard: 'available',
  overlay_windows: 'not_built',
  event_taps: 'not_built',
  event_swallowing: 'unavailable',
  keyboard_layout: 'available',
  permissions_database: 'available',
  code_signing: 'unavailable',
  window_event_masks: 'available',
};

test.describe('the x11 desktop described', opts, () => {
  test('capability table and facts', () => {
    const platform = require(path.join(ROOT, 'platform'));
    const d = platform.describe();
    assert.strictEqual(d.backend, 'x11');
    const statuses = Object.fromEntries(Object.entries(d.capabilities).map(([k, v]) => [k, v.status]));
    assert.deepStrictEqual(statuses, EXPECTED);
    for (const [name, c] of Object.entries(d.capabilities)) {
      assert.strictEqual(c.status === 'available', c.reason === undefined, `${name}: ${JSON.stringify(c)}`);
    }
    // Facts read from the server, checked against xdpyinfo-free references.
    assert.strictEqual(d.facts.display, process.env.DISPLAY);
    assert.match(d.facts.x_server_vendor, /X\.Org|The X\.Org Foundation/);
    assert.match(d.facts.x_protocol, /^11\.0$/);
    const wm = run('xprop', ['-root', '_NET_SUPPORTING_WM_CHECK']);
    assert.match(wm, /window id/);
    assert.strictEqual(d.facts.window_manager, 'Openbox');
    assert.strictEqual(d.facts.compositing_manager, 'none');
    assert.strictEqual(d.facts.accessibility_bus, 'reachable');
    // The add-on's own answers agree with the table.
    assert.strictEqual(addon.isTrusted(), true);
  });

  test('the tool server offers exactly the tools the desktop can serve', async () => {
    const { Client } = require('@modelcontextprotocol/sdk/client/index.js');
    const { StdioClientTransport } = require('@modelcontextprotocol/sdk/client/stdio.js');
    const { TOOLS } = require(path.join(ROOT, 'mcp', 'tools'));
    const transport = new StdioClientTransport({
      command: process.execPath,
      args: [path.join(ROOT, 'bin', 'automation-mcp')],
      env: { ...process.env, KORVO_OZA_PLATFORM: 'x11' },
      stderr: 'pipe',
    });
    let stderr = '';
    transport.stderr.on('data', (c) => (stderr += c));
    const client = new Client({ name: 'x11-test', version: '1.0.0' });
    await client.connect(transport);
    try {
      const { tools } = await client.listTools();
      const servable = TOOLS.filter((t) => t.facilities.every((f) => EXPECTED[f] === 'available'));
      assert.deepStrictEqual(tools.map((t) => t.name).sort(), servable.map((t) => t.name).sort());
      assert.match(stderr, /driving the x11 desktop/);
      const text = async (name, args) => {
        const r = await client.callTool({ name, arguments: args });
        return { error: !!r.isError, text: r.content.map((c) => c.text).join('\n') };
      };
      assert.match((await text('check_permissions', {})).text, /^desktop: x11; accessibility: trusted;/);
      const described = await text('describe_desktop', {});
      assert.match(described.text, /^desktop: x11 \(display=/);
      assert.match(described.text, /\n- pasteboard: available\n/);
      assert.match(described.text, /\n- overlay_windows: not built: /);
      // A pid form the desktop lacks is refused before it reaches the add-on.
      const pidForm = TOOLS.find((t) => (t.pidFacilities || []).some((f) => EXPECTED[f] !== 'available'));
      if (pidForm) {
        const args = { type_text: { text: 'x' }, press_key: { keys: 'a' }, screenshot: { window_id: 1 },
          scroll: { x: 1, y: 1, delta: 1, direction: 'down' }, drag: { from_x: 1, from_y: 1, to_x: 2, to_y: 2 } };
        const r = await text(pidForm.name, { ...args[pidForm.name], pid: process.pid });
        assert.strictEqual(r.error, true);
        assert.match(r.text, new RegExp(`^${pidForm.name} with a pid cannot work on this desktop: `));
      }
    } finally {
      await client.close();
    }
  });
});
