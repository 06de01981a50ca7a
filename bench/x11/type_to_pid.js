'use strict';
// typeTextToPid of a text file into a process on the x11 desktop named by
// the environment (run by bench/x11.bench.js):
//   node type_to_pid.js PID TEXT_FILE RUNS
// prints {"ms": best of RUNS, "pauses_ms": the pauses the core's typing plan
// puts between the events, "sleep_ms": best of RUNS sleeps through those
// pauses alone (what this machine's timers add), "ok": every run resolved true}.
const fs = require('node:fs');

process.env.KORVO_OZA_PLATFORM = 'x11';
const addon = require('../..');

// The plan's pauses on a US layout: 8 ms after each key-pressed character
// (digits, line breaks, % * + - / =) and 6 ms more after a shifted one
// (% * +); the text between them goes in Unicode chunks of at most 20
// UTF-16 units, 8 ms after each.
function pausesOf(text) {
  const pauses = [];
  let pending = 0;
  const flush = () => {
    for (let i = 0; i < Math.ceil(pending / 20); i++) pauses.push(8);
    pending = 0;
  };
  for (const c of text.split('')) {  // UTF-16 units, as the plan walks them
    if (/[0-9\n\r%*+\-/=]/.test(c)) {
      flush();
      if ('%*+'.includes(c)) pauses.push(6);
      pauses.push(8);
    } else {
      pending++;
    }
  }
  flush();
  return pauses;
}

function sleepThrough(pauses) {
  const cell = new Int32Array(new SharedArrayBuffer(4));
  const t0 = process.hrtime.bigint();
  for (const ms of pauses) Atomics.wait(cell, 0, 0, ms);
  return Number(process.hrtime.bigint() - t0) / 1e6;
}

async function main() {
  const pid = Number(process.argv[2]);
  const text = fs.readFileSync(process.argv[3], 'utf8');
  const runs = Number(process.argv[4] || 3);
  const pauses = pausesOf(text);
  let best = Infinity;
  let sleep = Infinity;
  let ok = true;
  for (let i = 0; i < runs; i++) {
    const t0 = process.hrtime.bigint();
    ok = (await addon.typeTextToPid(pid, text)) && ok;
    best = Math.min(best, Number(process.hrtime.bigint() - t0) / 1e6);
    sleep = Math.min(sleep, sleepThrough(pauses));
  }
  return { ms: best, pauses_ms: pauses.reduce((a, b) => a + b, 0), sleep_ms: sleep, ok };
}

main().then((r) => {
  process.stdout.write(`${JSON.stringify(r)}\n`);
  process.exit(0);
}, (err) => {
  process.stderr.write(`${err.stack}\n`);
  process.exit(1);
});
