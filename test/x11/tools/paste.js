'use strict';
// A host that pastes into an application through a provided paste, for the
// x11 pasteboard tests (the pasteboard of an X process ends with it, so the
// tests need it in a process of its own):
//   node paste.js PID TEXT_FILE
// Begins a provided paste of the file's text, activates PID, marks the
// dispatch, sends the paste chord globally, awaits the read, finishes, and
// prints {begin, await, finish} as one JSON line. It then stays (still
// owning whatever the finish restored) until its stdin closes.
//   node paste.js offer TEXT_FILE
// Only begins the paste (the clipboard is the offer) and prints {begin}.
const fs = require('node:fs');
const { execFileSync } = require('node:child_process');

process.env.KORVO_OZA_PLATFORM = 'x11';
const addon = require('../../..');

const offerOnly = process.argv[2] === 'offer';
const pid = Number(process.argv[2]);
const text = fs.readFileSync(process.argv[3], 'utf8');

const activeWindow = () => {
  const m = /# (0x[0-9a-f]+)/.exec(execFileSync('xprop', ['-root', '_NET_ACTIVE_WINDOW'], { encoding: 'utf8' }));
  return m ? Number(m[1]) : 0;
};

async function main() {
  const begin = addon.pasteboardBeginProvidedPaste(text, 'text');
  if (!begin.ok || offerOnly) return { begin };
  const win = addon.listWindows(pid)[0].window_id;
  addon.activateApplication(pid);
  for (const end = Date.now() + 5000; activeWindow() !== win && Date.now() < end;) {
    await new Promise((r) => setTimeout(r, 20));
  }
  addon.pasteboardMarkProvidedPasteDispatched(begin.token);
  addon.pressKeyGlobal('cmd+v');
  const awaited = await addon.pasteboardAwaitProvidedRead(begin.token, 10000, 400, 1200);
  const finish = addon.pasteboardFinishProvidedPaste(begin.token);
  return { begin, await: awaited, finish };
}

main().then((out) => {
  process.stdout.write(`${JSON.stringify(out)}\n`);
  process.stdin.resume();
  process.stdin.on('end', () => process.exit(0));
}, (err) => {
  process.stderr.write(`${err.stack}\n`);
  process.exit(1);
});
