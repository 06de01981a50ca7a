'use strict';
// Trust, identity and permission checks: the accessibility probe, socket
// peers and process lineage (real kernel facts), code signing through the
// simulated platform, screen recording, and the permission database.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const { spawn } = require('node:child_process');
const addon = require('..');
const sim = require('../sim');

// An audit token naming `pid` (eight little-endian words, the pid is word 5).
function tokenFor(pid, size = 32) {
  const b = Buffer.alloc(size);
  if (size >= 24) b.writeUInt32LE(pid, 20);
  return b;
}

const TEXTPAD = 501;
const PANEL_SERVICE = 504;
const TEXTPAD_REQ = 'identifier "com.korvo.TextPad" and certificate leaf[subject.OU] = "KORVO12345"';

test.describe('accessibility trust and the live probe', () => {
  test.beforeEach(() => {
    sim.clearFaults();
    sim.loadSampleScene();
  });

  test('trust follows the platform; promptTrust asks for the prompt', () => {
    assert.strictEqual(addon.isTrusted(), true);
    const prompts = sim.promptCount();
    assert.strictEqual(addon.promptTrust(), true);
    assert.strictEqual(sim.promptCount(), prompts + 1);
    sim.setPermissions({ accessibility: false });
    assert.strictEqual(addon.isTrusted(), false);
    assert.strictEqual(addon.promptTrust(), false);
    assert.strictEqual(sim.promptCount(), prompts + 2, 'isTrusted never prompts');
  });

  test('a responsive application confirms trust', () => {
    assert.deepStrictEqual(addon.probeAccessibilityStatus(), { ok: true, axError: null });
    assert.strictEqual(addon.probeAccessibility(), true);
  });

  test('a disabled accessibility answer stops the probe and wins over trust', () => {
    sim.injectFault({ op: 'CopyAttributeValue', attribute: 'AXRole', error: -25211, count: -1 });
    assert.deepStrictEqual(addon.probeAccessibilityStatus(), { ok: false, axError: 'api_disabled' });
    assert.strictEqual(addon.isTrusted(), true);
    assert.strictEqual(addon.probeAccessibility(), false);
  });

  test('the probe asks the frontmost app first and at most two candidates', () => {
    // The frontmost app fails with cannot-complete, the next one answers.
    sim.injectFault({ op: 'CopyAttributeValue', attribute: 'AXRole', pid: TEXTPAD, error: -25204 });
    assert.deepStrictEqual(addon.probeAccessibilityStatus(), { ok: true, axError: null });
    // Both candidates fail: the last error is reported, a third app is not asked.
    sim.injectFault({ op: 'CopyAttributeValue', attribute: 'AXRole', error: -25204, count: 2 });
    assert.deepStrictEqual(addon.probeAccessibilityStatus(), { ok: false, axError: 'cannot_complete' });
  });

  test('with no other application the probe fails and falls back to plain trust', () => {
    sim.loadScene({ apps: [] });
    assert.deepStrictEqual(addon.probeAccessibilityStatus(), { ok: false, axError: 'failure' });
    assert.strictEqual(addon.probeAccessibility(), true);
    sim.setPermissions({ accessibility: false });
    assert.strictEqual(addon.probeAccessibility(), false);
  });
});

test.describe('socket peers and process lineage', () => {
  let server;
  let sockPath;
  test.before(async () => {
    sockPath = path.join(os.tmpdir(), `korvo-peer-${process.pid}.sock`);
    fs.rmSync(sockPath, { force: true });
    server = net.createServer();
    await new Promise((resolve) => server.listen(sockPath, resolve));
  });
  test.after(() => {
    server.close();
    fs.rmSync(sockPath, { force: true });
  });

  test('a child connected over a Unix socket is identified by pid, uid and token', async () => {
    const accepted = new Promise((resolve) => server.once('connection', resolve));
    const child = spawn(process.execPath, [
      '-e',
      `const s = require('net').connect(${JSON.stringify(sockPath)}); process.stdin.on('data', () => process.exit(0));`,
    ], { stdio: ['pipe', 'ignore', 'inherit'] });
    try {
      const conn = await accepted;
      const creds = addon.getPeerCredentials(conn._handle.fd);
      assert.ok(creds, 'credentials of a connected peer');
      assert.strictEqual(creds.pid, child.pid);
      assert.strictEqual(creds.uid, process.geteuid());
      assert.ok(Buffer.isBuffer(creds.auditToken));
      assert.strictEqual(creds.auditToken.length, 32);
      assert.strictEqual(creds.auditToken.readUInt32LE(20), child.pid);
      assert.strictEqual(creds.auditToken.readUInt32LE(4), process.geteuid());
      assert.strictEqual(addon.parentProcessPid(child.pid), process.pid);
      // A pid the simulated platform does not know has no signing summary.
      assert.strictEqual(addon.peerCodeSigningSummary(creds.auditToken), null);
      conn.destroy();
    } finally {
      child.stdin.end('bye');
      await new Promise((resolve) => child.once('exit', resolve));
    }
  });

  test('descriptors without a local peer answer null', async () => {
    const tcp = net.createServer();
    await new Promise((resolve) => tcp.listen(0, '127.0.0.1', resolve));
    const accepted = new Promise((resolve) => tcp.once('connection', resolve));
    const client = net.connect(tcp.address().port, '127.0.0.1');
    const conn = await accepted;
    assert.strictEqual(addon.getPeerCredentials(conn._handle.fd), null);
    client.destroy();
    conn.destroy();
    tcp.close();
    const file = fs.openSync(__filename, 'r');
    try {
      assert.strictEqual(addon.getPeerCredentials(file), null);
    } finally {
      fs.closeSync(file);
    }
  });

  test('bad descriptors and pids answer the neutral value', async () => {
    const accepted = new Promise((resolve) => server.once('connection', resolve));
    const client = net.connect(sockPath);
    const conn = await accepted;
    const fd = conn._handle.fd;
    assert.ok(addon.getPeerCredentials(fd));
    // Never wrapped onto a real descriptor.
    assert.strictEqual(addon.getPeerCredentials(2 ** 32 + fd), null);
    for (const bad of [-1, -0.5, fd + 0.5, NaN, Infinity, String(fd), null, undefined, {}]) {
      assert.strictEqual(addon.getPeerCredentials(bad), null, String(bad));
    }
    assert.strictEqual(addon.getPeerCredentials(), null);
    client.destroy();
    conn.destroy();

    assert.strictEqual(addon.parentProcessPid(process.pid), process.ppid);
    for (const bad of [0, -5, 1.5, '12', 2 ** 31, 2 ** 32 + process.pid, NaN, undefined]) {
      assert.strictEqual(addon.parentProcessPid(bad), -1, String(bad));
      assert.strictEqual(addon.responsibleProcessPid(bad), -1, String(bad));
    }
    assert.strictEqual(addon.parentProcessPid(2147483647), -1);
  });
});

test.describe('responsible process, code signing and screen recording', () => {
  test.beforeEach(() => {
    sim.clearFaults();
    sim.loadSampleScene();
  });

  test('responsible pid comes from the platform when it has the entry', () => {
    // The panel service works on behalf of the editor (the scene says so).
    assert.strictEqual(addon.responsibleProcessPid(PANEL_SERVICE), TEXTPAD);
    assert.strictEqual(addon.responsibleProcessPid(424242), -1);
    sim.setPermissions({ responsibilityAvailable: false });
    assert.strictEqual(addon.responsibleProcessPid(PANEL_SERVICE), -1);
  });

  test('signing summary of an audit token', () => {
    assert.deepStrictEqual(addon.peerCodeSigningSummary(tokenFor(TEXTPAD)), {
      teamIdentifier: 'KORVO12345',
      identifier: 'com.korvo.TextPad',
    });
    // Only the first 32 bytes count.
    assert.ok(addon.peerCodeSigningSummary(tokenFor(TEXTPAD, 64)));
    for (const bad of [tokenFor(TEXTPAD, 31), Buffer.alloc(0), 'abc', 501, null, undefined, [1, 2]]) {
      assert.strictEqual(addon.peerCodeSigningSummary(bad), null);
    }
    assert.strictEqual(addon.peerCodeSigningSummary(tokenFor(999999)), null);
  });

  test('signing strings over 511 bytes are reported as null', () => {
    const pid = sim.launchApp({
      bundleId: 'com.example.long',
      name: 'Long',
      signing: { teamId: 'T'.repeat(511), identifier: 'i'.repeat(512) },
    });
    const summary = addon.peerCodeSigningSummary(tokenFor(typeof pid === 'number' ? pid : pid.pid));
    assert.deepStrictEqual(summary, { teamIdentifier: 'T'.repeat(511), identifier: null });
  });

  test('requirement checks by pid and by token', () => {
    assert.strictEqual(addon.verifyProcessCodeSignature(TEXTPAD, TEXTPAD_REQ), true);
    assert.strictEqual(addon.verifyProcessCodeSignature(TEXTPAD, 'identifier "com.korvo.Settings"'), false);
    assert.strictEqual(addon.verifyProcessCodeSignatureWithAuditToken(tokenFor(TEXTPAD), TEXTPAD_REQ), true);
    assert.strictEqual(
      addon.verifyProcessCodeSignatureWithAuditToken(tokenFor(TEXTPAD), 'anchor apple'), false);
  });

  test('bad arguments and hostile requirements answer false', () => {
    for (const pid of [0, 1, -1, 1.5, 2 ** 32 + TEXTPAD, NaN, '501', null]) {
      assert.strictEqual(addon.verifyProcessCodeSignature(pid, TEXTPAD_REQ), false, String(pid));
    }
    assert.strictEqual(addon.verifyProcessCodeSignature(TEXTPAD), false);
    assert.strictEqual(addon.verifyProcessCodeSignatureWithAuditToken(tokenFor(TEXTPAD, 31), TEXTPAD_REQ), false);
    assert.strictEqual(addon.verifyProcessCodeSignatureWithAuditToken(TEXTPAD, TEXTPAD_REQ), false);
    const hostile = [
      '', 'identifier', 'identifier "unterminated', '((((', ')', 'and and', '!',
      'identifier "com.korvo.TextPad" or', '\u0000', 'identifier "a\u0000b"',
      '('.repeat(100000) + 'anchor apple' + ')'.repeat(100000),
      'x'.repeat(1 << 20), 42, null, {},
    ];
    for (const req of hostile) {
      assert.strictEqual(addon.verifyProcessCodeSignature(TEXTPAD, req), false);
      assert.strictEqual(addon.verifyProcessCodeSignatureWithAuditToken(tokenFor(TEXTPAD), req), false);
    }
  });

  test('screen recording status and request', () => {
    assert.strictEqual(addon.screenCaptureStatus(), 'granted');
    sim.setPermissions({ screenRecording: false });
    assert.strictEqual(addon.screenCaptureStatus(), 'denied');
    const before = sim.permissions().requestCount;
    assert.strictEqual(addon.requestScreenCaptureAccess(), true, 'a request was made, whatever its answer');
    assert.strictEqual(sim.permissions().requestCount, before + 1);
    sim.setPermissions({ preflightAvailable: false, requestAvailable: false });
    assert.strictEqual(addon.screenCaptureStatus(), 'unknown');
    assert.strictEqual(addon.requestScreenCaptureAccess(), false);
  });
});

test.describe('permission database', () => {
  const fixtures = path.join(__dirname, 'fixtures', 'tcc');
  const suffix = path.join('Library', 'Application Support', 'com.apple.TCC', 'TCC.db');
  let root;
  let saved;
  test.before(() => {
    saved = { HOME: process.env.HOME, KORVO_OZA_SYSTEM_ROOT: process.env.KORVO_OZA_SYSTEM_ROOT };
    root = fs.mkdtempSync(path.join(os.tmpdir(), 'korvo-tcc-'));
    for (const [dir, file] of [['home', 'user.db'], ['sysroot', 'system.db']]) {
      const target = path.join(root, dir, suffix);
      fs.mkdirSync(path.dirname(target), { recursive: true });
      fs.copyFileSync(path.join(fixtures, file), target);
    }
    process.env.HOME = path.join(root, 'home');
    process.env.KORVO_OZA_SYSTEM_ROOT = path.join(root, 'sysroot');
  });
  test.after(() => {
    for (const [k, v] of Object.entries(saved)) {
      if (v === undefined) delete process.env[k];
      else process.env[k] = v;
    }
    fs.rmSync(root, { recursive: true, force: true });
  });

  test('a grant in either database answers true', () => {
    assert.strictEqual(addon.readTccDbGranted('kTCCServiceScreenCapture', 'com.example.agent'), true);
    // Denied for the user but granted system-wide.
    assert.strictEqual(addon.readTccDbGranted('kTCCServiceAccessibility', 'com.example.agent'), true);
    assert.strictEqual(addon.readTccDbGranted('kTCCServiceListenEvent', 'com.example.agent'), false);
    assert.strictEqual(addon.readTccDbGranted('kTCCServiceCamera', 'com.example.agent'), false);
  });

  test('without HOME only the system database answers', () => {
    const home = process.env.HOME;
    delete process.env.HOME;
    try {
      assert.strictEqual(addon.readTccDbGranted('kTCCServiceScreenCapture', 'com.example.agent'), false);
      assert.strictEqual(addon.readTccDbGranted('kTCCServiceAccessibility', 'com.example.agent'), true);
    } finally {
      process.env.HOME = home;
    }
  });

  test('arguments cannot steer the query or the file', () => {
    const db = path.join(root, 'home', suffix);
    const before = fs.readFileSync(db);
    for (const [service, client] of [
      ["kTCCServiceCamera' OR '1'='1", 'x'],
      ['kTCCServiceCamera', "x' OR auth_value=2 --"],
      ['kTCCServiceListenEvent', 'com.example.other\u0000tail'],
      ['kTCCServiceCamera', `x'; ATTACH DATABASE '${path.join(root, 'evil.db')}' AS e; --`],
      ['../../../../tmp/evil', '/etc/passwd'],
    ]) {
      assert.strictEqual(addon.readTccDbGranted(service, client), false, `${service} / ${client}`);
    }
    assert.ok(fs.readFileSync(db).equals(before), 'the database is opened read-only');
    assert.strictEqual(fs.existsSync(path.join(root, 'evil.db')), false);
  });

  test('bad arguments and missing databases answer false', () => {
    for (const args of [[], ['kTCCServiceScreenCapture'], [1, 'a'], ['a', null], [{}, {}]]) {
      assert.strictEqual(addon.readTccDbGranted(...args), false);
    }
    const home = process.env.HOME;
    process.env.HOME = path.join(root, 'nowhere');
    process.env.KORVO_OZA_SYSTEM_ROOT = 'relative/root';
    try {
      assert.strictEqual(addon.readTccDbGranted('kTCCServiceScreenCapture', 'com.example.agent'), false);
      assert.strictEqual(fs.existsSync(path.join(root, 'nowhere')), false, 'nothing is created');
    } finally {
      process.env.HOME = home;
      process.env.KORVO_OZA_SYSTEM_ROOT = path.join(root, 'sysroot');
    }
  });
});
