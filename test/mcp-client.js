'use strict';
// The SDK's own client driving bin/automation-mcp as a stdio child process,
// for the tool server's suites. On the simulated desktop the child preloads
// test/fixtures/mcp-sim-bridge.js, through which a suite scripts and reads
// that process's desktop (press counts, frontmost, values).
const assert = require('node:assert');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const { Client } = require('@modelcontextprotocol/sdk/client/index.js');
const { StdioClientTransport } = require('@modelcontextprotocol/sdk/client/stdio.js');

const BIN = path.join(__dirname, '..', 'bin', 'automation-mcp');
const BRIDGE = path.join(__dirname, 'fixtures', 'mcp-sim-bridge.js');

// A running server, its client and (on the sim) a line to its desktop.
async function startServer(serverArgs = [], { env = {}, platform = 'sim' } = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'mcp-test-'));
  const socket = path.join(dir, 'sim.sock');
  const transport = new StdioClientTransport({
    command: process.execPath,
    args: platform === 'sim' ? ['--require', BRIDGE, BIN, ...serverArgs] : [BIN, ...serverArgs],
    env: { ...process.env, MCP_TEST_SIM_SOCKET: socket, KORVO_OZA_CURSOR_OVERLAY: '0', KORVO_OZA_PLATFORM: platform, ...env },
    stderr: 'pipe',
  });
  let stderr = '';
  transport.stderr.on('data', (c) => (stderr += c));
  const client = new Client({ name: 'mcp-test', version: '1.0.0' });
  await client.connect(transport);

  const sim = (fn, ...args) =>
    new Promise((resolve, reject) => {
      const conn = net.createConnection(socket);
      let data = '';
      conn.on('data', (c) => {
        data += c;
        if (!data.endsWith('\n')) return;
        conn.end();
        const reply = JSON.parse(data);
        if (reply.error !== undefined) reject(new Error(`sim ${fn}: ${reply.error}`));
        else resolve(reply.value);
      });
      conn.on('error', reject);
      conn.write(`${JSON.stringify({ fn, args })}\n`);
    });

  // A tool call's text, asserting it succeeded or failed as expected.
  const call = async (name, args = {}, { fails = false } = {}) => {
    const result = await client.callTool({ name, arguments: args });
    const text = result.content.filter((c) => c.type === 'text').map((c) => c.text).join('\n');
    assert.strictEqual(!!result.isError, fails, `${name} ${JSON.stringify(args)}: ${text}`);
    return fails ? text : Object.assign(result, { text });
  };
  const close = async () => {
    await client.close();
    fs.rmSync(dir, { recursive: true, force: true });
  };
  return { client, sim, call, close, stderr: () => stderr };
}

// Inside a describe block: one server for the block, on the sample scene
// loaded afresh before each test. Answers the server (filled in before the
// first test runs).
function onSampleScene(test) {
  const s = {};
  test.before(async () => Object.assign(s, await startServer()));
  test.after(() => s.close && s.close());
  test.beforeEach(async () => {
    await s.sim('reset');
    await s.sim('loadSampleScene');
  });
  return s;
}

// The ref of the first snapshot line matching `pattern` (lines read "- e12 Role ...").
function refOf(text, pattern) {
  const line = text.split('\n').find((l) => pattern.test(l));
  assert.ok(line, `no line matching ${pattern} in\n${text}`);
  return line.match(/(?:- |: )(e\d+) /)[1];
}

const header = (text) => {
  const m = text.match(/snapshot of pid (\d+), window (\S+) \(epoch (\d+)\)/);
  return { pid: Number(m[1]), window: m[2], epoch: Number(m[3]) };
};

// The content between the untrusted markers, asserting there is exactly one block.
function untrustedBlock(text) {
  const open = '<untrusted-app-content>\n';
  const close = '\n</untrusted-app-content>';
  assert.strictEqual(text.split(open).length - 1, 1, text);
  assert.strictEqual(text.split(close).length - 1, 1, text);
  return text.slice(text.indexOf(open) + open.length, text.indexOf(close));
}

// Polls an async predicate until it holds, for at most timeoutMs.
async function until(predicate, timeoutMs = 3000) {
  const deadline = Date.now() + timeoutMs;
  while (!(await predicate())) {
    if (Date.now() > deadline) return false;
    await new Promise((r) => setTimeout(r, 20));
  }
  return true;
}

// What a model pays to read a text, at about four characters a token.
const tokens = (text) => Math.ceil(text.length / 4);

module.exports = { startServer, onSampleScene, refOf, header, untrustedBlock, until, tokens };
