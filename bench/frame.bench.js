'use strict';
// Module-frame figures from the C++ benchmark binary: the main-queue round
// trip from a worker against a plain libuv async round trip.
const { execFileSync } = require('child_process');
const path = require('path');
const fs = require('fs');

function runCppBench(filter) {
  const buildDir = path.resolve(process.env.AUTOMATION_ADDON_BUILD_DIR || path.join(__dirname, '..', 'build'));
  const bin = path.join(buildDir, 'cpp_bench');
  if (!fs.existsSync(bin)) throw new Error(`${bin} missing: run npm run build`);
  const out = execFileSync(bin, [`--benchmark_filter=${filter}`, '--benchmark_format=json', '--benchmark_min_time=0.3'], {
    encoding: 'utf8',
    maxBuffer: 16 << 20,
  });
  const byName = {};
  for (const b of JSON.parse(out).benchmarks) byName[b.name.replace(/\/real_time$/, '')] = b;
  return byName;
}

async function run() {
  const b = runCppBench('RoundTrip|Admission|PlainAtomic');
  const admit = b.BM_AdmissionTakeAndRelease.real_time;
  const plain = b.BM_PlainAtomicIncrementDecrement.real_time;
  const mq = b.BM_MainQueueRoundTrip.real_time;
  const uv = b.BM_UvAsyncRoundTrip.real_time;
  return [
    {
      name: 'admission: take and give back a slot',
      value: admit,
      unit: 'ns',
      reference: `plain atomic increment + decrement ${plain.toFixed(2)} ns`,
      ratio: admit / plain,
      target: '<= 3x',
    },
    {
      name: 'main-queue round trip from a worker',
      value: mq / 1000,
      unit: 'us',
      reference: `uv_async round trip ${(uv / 1000).toFixed(2)} us`,
      ratio: mq / uv,
      target: '<= 1.5x',
    },
  ];
}

module.exports = { run, runCppBench };
