'use strict';
// Measures the tool server's snapshot tool on one application of the desktop
// this process drives (KORVO_OZA_PLATFORM): the text it answers against the
// add-on's own snapshot of the same tree as JSON, and its latency against
// captureAppAsync alone (medians, the two alternated). Prints one JSON line
// per pid given on the command line; bench/mcp.bench.js runs it.
const addon = require('..');
const { TOOLS } = require('../mcp/tools');
const { Session } = require('../mcp/session');

// Sub-millisecond captures on the simulated desktop need more rounds for a stable median.
const ROUNDS = process.env.KORVO_OZA_PLATFORM === 'sim' ? 101 : 15;
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

async function measure(pid) {
  const session = new Session(addon, require('../platform').describe());
  const snapshot = TOOLS.find((t) => t.name === 'snapshot');
  // Warm both paths (the first capture of a process waits for its tree).
  const warm = await addon.captureAppAsync(pid, null, null);
  const text = await snapshot.run(session, { pid });
  const json = JSON.stringify(warm);
  const tool = [];
  const capture = [];
  for (let i = 0; i < ROUNDS; i++) {
    let t = process.hrtime.bigint();
    const snap = await addon.captureAppAsync(pid, null, null);
    capture.push(Number(process.hrtime.bigint() - t) / 1e6);
    addon.releaseCaptureEpoch(pid, snap.capture_epoch);
    t = process.hrtime.bigint();
    await snapshot.run(session, { pid });
    tool.push(Number(process.hrtime.bigint() - t) / 1e6);
  }
  return { pid, name: warm.app.name, elements: text.match(/: (\d+) elements/)[1], text_chars: text.length,
    json_chars: json.length, tool_ms: median(tool), capture_ms: median(capture) };
}

(async () => {
  if (process.env.KORVO_OZA_PLATFORM === 'sim') {
    const sim = require('../sim');
    sim.reset();
    sim.loadSampleScene();
  }
  for (const pid of process.argv.slice(2).map(Number)) process.stdout.write(`${JSON.stringify(await measure(pid))}\n`);
  process.exit(0);
})().catch((err) => {
  process.stderr.write(`${err && err.stack}\n`);
  process.exit(1);
});
