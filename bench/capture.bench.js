'use strict';
// Snapshot capture of a 1,000-element tree on the simulated desktop: time per
// capture and per element, the core's own share next to the time spent inside
// the accessibility backend (the sim's call tally), and the conversion of the
// snapshot to JavaScript next to JSON.parse of the same snapshot.
process.env.KORVO_OZA_CAPTURE_TIMING = '1'; // captureApp logs collect / convert times

const addon = require('..');
const sim = require('../sim');

const PID = 990;
const ITERATIONS = 40;

// 20 groups x 7 sections x 6 controls: 1,000 elements, every list under 64.
function scene() {
  const groups = [];
  for (let g = 0; g < 20; g++) {
    const sections = [];
    for (let s = 0; s < 7; s++) {
      const controls = [];
      for (let c = 0; c < 6; c++) {
        const kind = c % 3;
        controls.push(kind === 0
          ? { role: 'AXButton', title: `Action ${g}.${s}.${c}`, description: 'Runs the action', frame: [20 + c * 90, 40 + s * 30, 80, 24] }
          : kind === 1
            ? { role: 'AXTextField', value: `Field value ${g}-${s}-${c} with some text`, help: 'Type here', frame: [20 + c * 90, 40 + s * 30, 80, 24] }
            : { role: 'AXCheckBox', title: `Option ${c}`, value: c % 2, frame: [20 + c * 90, 40 + s * 30, 80, 24] });
      }
      sections.push({ role: 'AXGroup', description: `Section ${s}`, frame: [10, 30 + s * 30, 700, 28], children: controls });
    }
    groups.push({ role: 'AXGroup', title: `Group ${g}`, frame: [0, g * 40, 760, 220], children: sections });
  }
  return {
    apps: [{ pid: PID, bundleId: 'com.bench.Capture', name: 'Bench', windows: [
      { id: 'bench.w', number: 990, title: 'Bench', bounds: [0, 0, 800, 900], children: groups }] }],
  };
}

function count(elements) {
  return elements.reduce((n, e) => n + 1 + (e.children ? count(e.children) : 0), 0);
}

function timingLine() {
  const line = sim.logLines().filter((l) => l.startsWith('[Vantor][capture-timing]')).pop();
  const m = /collect_ns=(\d+) convert_ns=(\d+)/.exec(line || '');
  return m ? { collect: Number(m[1]), convert: Number(m[2]) } : null;
}

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

async function run() {
  sim.reset();
  sim.loadScene(scene());
  // First capture warms the process (stability wait); not measured.
  let snap = addon.captureApp(PID);
  addon.releaseCaptureEpoch(PID, snap.capture_epoch);
  const elements = count(snap.elements);

  const total = [], collect = [], convert = [], backend = [], parse = [];
  for (let i = 0; i < ITERATIONS; i++) {
    sim.clearLog();
    const before = sim.stats().axBackendNs;
    const t0 = process.hrtime.bigint();
    snap = addon.captureApp(PID);
    const t1 = process.hrtime.bigint();
    const after = sim.stats().axBackendNs;
    const t = timingLine();
    total.push(Number(t1 - t0));
    collect.push(t.collect);
    convert.push(t.convert);
    backend.push(after - before);
    addon.releaseCaptureEpoch(PID, snap.capture_epoch);

    const json = JSON.stringify(snap);
    const p0 = process.hrtime.bigint();
    JSON.parse(json);
    parse.push(Number(process.hrtime.bigint() - p0));
  }

  const totalNs = median(total);
  const backendNs = median(backend);
  const coreNs = median(collect.map((c, i) => c - backend[i]));
  const convertNs = median(convert);
  const parseNs = median(parse);
  return [
    { name: `capture ${elements}-element tree (captureApp)`, value: totalNs / 1e6, unit: 'ms/capture',
      reference: `collect ${(median(collect) / 1e6).toFixed(2)} ms + convert ${(convertNs / 1e6).toFixed(2)} ms` },
    { name: 'capture per element', value: totalNs / elements, unit: 'ns/element', reference: '' },
    { name: 'capture core time (collect minus backend calls)', value: coreNs / 1e6, unit: 'ms/capture',
      reference: `backend ${(backendNs / 1e6).toFixed(2)} ms`, ratio: coreNs / backendNs, target: '<= 0.05' },
    { name: 'snapshot to JavaScript conversion', value: convertNs / 1e6, unit: 'ms',
      reference: `JSON.parse ${(parseNs / 1e6).toFixed(2)} ms`, ratio: convertNs / parseNs, target: '<= 1' },
  ];
}

module.exports = { run };

if (require.main === module) {
  run().then((rows) => console.table(rows), (err) => {
    console.error(err);
    process.exit(1);
  });
}
