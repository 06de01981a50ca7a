'use strict';
// Runs settings-watch and reads its JSON lines.
const path = require('node:path');
const { spawn } = require('node:child_process');

const ROOT = path.join(__dirname, '..', '..');
const BUILD = process.env.AUTOMATION_ADDON_BUILD_DIR
  ? path.resolve(ROOT, process.env.AUTOMATION_ADDON_BUILD_DIR)
  : path.join(ROOT, 'build');
const WATCH = path.join(BUILD, 'settings-watch', 'settings-watch');

// Starts the watcher; lines arrive as { at: ms since start, text }.
function startWatch(args, env) {
  const child = spawn(WATCH, args, { env: { ...process.env, ...env }, stdio: ['ignore', 'pipe', 'inherit'] });
  const lines = [];
  const t0 = Date.now();
  let rest = '';
  const waiters = [];
  child.stdout.on('data', (chunk) => {
    rest += chunk;
    let nl;
    while ((nl = rest.indexOf('\n')) >= 0) {
      lines.push({ at: Date.now() - t0, text: rest.slice(0, nl) });
      rest = rest.slice(nl + 1);
    }
    for (const w of [...waiters]) w();
  });
  // Resolves with the first line (after `from`) that satisfies pred, within ms.
  const next = (pred, ms = 5000, from = 0) => new Promise((resolve, reject) => {
    const check = () => {
      const hit = lines.slice(from).find((l) => pred(JSON.parse(l.text)));
      if (!hit) return false;
      clearTimeout(timer);
      waiters.splice(waiters.indexOf(check), 1);
      resolve(hit);
      return true;
    };
    const timer = setTimeout(() => {
      waiters.splice(waiters.indexOf(check), 1);
      reject(new Error(`no matching line within ${ms} ms; last: ${lines.at(-1)?.text}`));
    }, ms);
    waiters.push(check);
    check();
  });
  const stop = () => child.kill('SIGKILL');
  return { child, lines, next, stop };
}

module.exports = { WATCH, startWatch };
