#!/usr/bin/env node
// Reads the thread-sanitizer logs a run left in one directory (TSAN_OPTIONS
// log_path=<dir>/tsan, one file per process) and decides the run: a report
// with any frame of ours (the add-on, the platform backends, desktop-sim,
// settings-watch, node-addon-api, the tests' own code, or one of the modules
// built here) fails it; a report whose frames are all elsewhere (node, V8,
// libuv, system libraries) is listed as noise. A sanitizer that could not run
// (FATAL, CHECK failed) fails too. Exit status: 0 clean, 1 failed, 2 usage.
'use strict';

const fs = require('fs');
const path = require('path');

const ROOT = path.resolve(__dirname, '..');
const OUR_DIRS = ['addon', 'platform', 'sim-control', 'settings-watch', 'test',
  path.join('node_modules', 'node-addon-api')].map((d) => path.join(ROOT, d) + path.sep);
// Modules built from this tree, as the sanitizer names them in a frame's
// "(module+0x...)" suffix.
const OUR_MODULES = /\((?:[^()]*\/)?(?:automation_addon\.node|desktop_sim\.node|libkorvo_platform\.so|libaddon_core\.so|unit_tests|x11_probe|settings-watch)\+0x[0-9a-f]+\)/;

function isOurFrame(line) {
  return OUR_DIRS.some((d) => line.includes(d)) || OUR_MODULES.test(line);
}

// Splits one log into reports: from a "WARNING: ThreadSanitizer:" line to the
// "==================" line that closes it.
function reportsIn(text) {
  const out = [];
  let cur = null;
  for (const line of text.split('\n')) {
    if (line.startsWith('WARNING: ThreadSanitizer:')) {
      cur = [line];
    } else if (cur) {
      if (line.startsWith('==================')) {
        out.push(cur);
        cur = null;
      } else {
        cur.push(line);
      }
    }
  }
  if (cur) out.push(cur);  // a report cut short by the process ending
  return out;
}

function scan(dir) {
  const result = { ours: [], noise: [], fatal: [] };
  for (const name of fs.readdirSync(dir).sort()) {
    const file = path.join(dir, name);
    const text = fs.readFileSync(file, 'utf8');
    for (const line of text.split('\n')) {
      if (/ThreadSanitizer: CHECK failed|FATAL: ThreadSanitizer/.test(line)) {
        result.fatal.push({ file: name, line });
      }
    }
    for (const lines of reportsIn(text)) {
      // Every stack counts (both accesses, the threads' creation, the heap
      // block's allocation, mutexes), and so does a global's location line.
      const entry = { file: name, title: lines[0], lines };
      (lines.some(isOurFrame) ? result.ours : result.noise).push(entry);
    }
  }
  return result;
}

function main() {
  const dir = process.argv[2];
  if (!dir || !fs.existsSync(dir)) {
    console.error('usage: tsan-reports.js <log directory>');
    return 2;
  }
  const { ours, noise, fatal } = scan(dir);
  for (const r of ours) {
    console.error(`\n---- ${r.file}: a report in our code ----`);
    console.error(r.lines.join('\n'));
  }
  for (const f of fatal) console.error(`${f.file}: ${f.line}`);
  if (noise.length > 0) {
    console.log(`tsan: ${noise.length} report(s) only in node, V8, libuv or system frames (not ours):`);
    for (const r of noise) {
      const top = r.lines.find((l) => /^\s*#0 /.test(l)) || '';
      console.log(`  ${r.file}: ${r.title.replace('WARNING: ThreadSanitizer: ', '')} at ${top.trim()}`);
    }
  }
  if (ours.length > 0 || fatal.length > 0) {
    console.error(`tsan: ${ours.length} report(s) in our code, ${fatal.length} sanitizer failure(s)`);
    return 1;
  }
  console.log('tsan: no report in our code');
  return 0;
}

if (require.main === module) process.exitCode = main();
module.exports = { scan, reportsIn, isOurFrame };
