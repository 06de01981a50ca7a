'use strict';
// The key names the add-on accepts in a chord, for explaining a refused
// chord: which names it did not know and the closest valid ones. The add-on
// decides what it accepts; this list only words its refusal.

const MODIFIERS = ['command', 'cmd', 'shift', 'ctrl', 'control', 'alt', 'option'];
const NAMED = [
  'enter', 'return', 'tab', 'space', 'backspace', 'delete', 'forwarddelete', 'esc', 'escape', 'capslock',
  'help', 'home', 'end', 'pageup', 'pagedown', 'left', 'right', 'up', 'down',
];
const FUNCTION_KEYS = Array.from({ length: 16 }, (_, i) => `f${i + 1}`);
const CHARACTERS = [...'abcdefghijklmnopqrstuvwxyz0123456789', '-', '=', '[', ']', ';', "'", '\\', ',', '.', '/', '`'];
const KEY_NAMES = [...MODIFIERS, ...NAMED, ...FUNCTION_KEYS, ...CHARACTERS];
const KNOWN = new Set([...KEY_NAMES, '\u2318', 'none']);

function distance(a, b) {
  const d = Array.from({ length: b.length + 1 }, (_, j) => j);
  for (let i = 1; i <= a.length; i++) {
    let prev = d[0];
    d[0] = i;
    for (let j = 1; j <= b.length; j++) {
      const cur = d[j];
      d[j] = Math.min(d[j] + 1, d[j - 1] + 1, prev + (a[i - 1] === b[j - 1] ? 0 : 1));
      prev = cur;
    }
  }
  return d[b.length];
}

// The names of a chord the add-on does not know, each with the three
// closest valid names.
function unknownKeys(chord) {
  return String(chord).split('+').map((s) => s.trim().toLowerCase()).filter((s) => s && !KNOWN.has(s))
    .map((name) => ({
      name,
      closest: KEY_NAMES.filter((k) => k.length > 1 || name.length === 1)
        .map((k) => [k, distance(name, k) - (k.startsWith(name) || name.startsWith(k) ? 1 : 0)])
        .sort((x, y) => x[1] - y[1]).slice(0, 3).map(([k]) => k),
    }));
}

// Why the add-on refused a chord, with a next step.
function chordAdvice(chord) {
  const unknown = unknownKeys(chord);
  if (unknown.length === 0) {
    return 'A chord is key names joined by "+", at most one of them not a modifier (command/cmd, shift, ' +
      'ctrl, alt/option), at most 8 names.';
  }
  return unknown.map((u) => `"${u.name}" is not a key name (closest: ${u.closest.join(', ')})`).join('; ') +
    `. Valid names: ${[...MODIFIERS, ...NAMED].join(', ')}, f1..f16, letters, digits and - = [ ] ; ' \\ , . / \`.`;
}

module.exports = { KEY_NAMES, unknownKeys, chordAdvice };
