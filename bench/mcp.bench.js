'use strict';
// The tool server's snapshot tool: its text against the add-on's own snapshot
// of the same tree as JSON (what an agent reads either way), and its latency
// against captureAppAsync alone (target <= 1.3x), on the sample scene's
// editor and, on a real desktop (scripts/desktop-up.sh, or KORVO_DESKTOP),
// on mousepad and the GTK widget factory. Each desktop runs in a child.
const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');
const { startDesktop, envOf } = require('./x11.bench');

const MEASURE = path.join(__dirname, 'mcp-measure.js');

// `target`: the latency target holds for real applications; on the sample
// scene a capture takes a fraction of a millisecond, so the tool's fixed
// work (its refs, its text, the text selection read) shows as a larger share.
function rows(env, pids, target = '<= 1.3') {
  const out = execFileSync(process.execPath, [MEASURE, ...pids.map(String)], { env, encoding: 'utf8', timeout: 120000 });
  return out.trim().split('\n').map((l) => JSON.parse(l)).flatMap((m) => [
    {
      name: `snapshot tool text, ${m.name} (${m.elements} elements)`,
      value: m.text_chars, unit: 'chars', reference: `add-on snapshot JSON ${m.json_chars} chars`,
      ratio: m.text_chars / m.json_chars, target: '',
    },
    {
      name: `snapshot tool latency, ${m.name}`,
      value: m.tool_ms, unit: 'ms', reference: `captureAppAsync alone ${m.capture_ms.toFixed(2)} ms`,
      ratio: m.tool_ms / m.capture_ms, target,
    },
  ]);
}

async function run() {
  const out = rows({ ...process.env, KORVO_OZA_PLATFORM: 'sim' }, [501], '');
  let desktop;
  try {
    desktop = startDesktop();
  } catch (err) {
    out.push({ name: 'snapshot tool on a real desktop: not measured', value: NaN, reference: err.message });
    return out;
  }
  try {
    const env = envOf(desktop.dir);
    const pidOf = (program) => Number(fs.readFileSync(path.join(env.KORVO_DESKTOP, 'pids'), 'utf8').split('\n')
      .find((l) => l.split(' ')[2] === program).split(' ')[0]);
    out.push(...rows(env, [pidOf('mousepad'), pidOf('gtk3-widget-factory')]));
  } finally {
    desktop.stop();
  }
  return out;
}

module.exports = { run };
