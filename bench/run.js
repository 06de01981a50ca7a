'use strict';
// Runs every bench/*.bench.js module and prints one table. Each module
// exports `async run()` answering rows {name, value, unit, reference, ratio,
// target}: a figure measured against a reference taken in the same run.
const fs = require('fs');
const path = require('path');
const { mark } = require('./marks');

function fmt(n) {
  if (typeof n !== 'number' || !Number.isFinite(n)) return String(n ?? '');
  if (Math.abs(n) >= 100) return n.toFixed(0);
  if (Math.abs(n) >= 1) return n.toFixed(2);
  return n.toPrecision(3);
}

async function main() {
  const only = process.argv[2];
  const files = fs
    .readdirSync(__dirname)
    .filter((f) => f.endsWith('.bench.js') && (!only || f.includes(only)))
    .sort();
  const rows = [];
  for (const f of files) {
    const mod = require(path.join(__dirname, f));
    try {
      rows.push(...(await mod.run()));
    } catch (err) {
      rows.push({ name: `${f}: failed`, value: NaN, unit: '', reference: String(err && err.message) });
    }
  }
  const header = ['benchmark', 'value', 'unit', 'reference', 'ratio', 'target', 'mark'];
  const table = rows.map((r) => [r.name, fmt(r.value), r.unit || '', r.reference || '', fmt(r.ratio), r.target || '',
    mark(r.ratio, r.target)]);
  const widths = header.map((h, i) => Math.max(h.length, ...table.map((t) => String(t[i]).length)));
  const line = (cells) => cells.map((c, i) => String(c).padEnd(widths[i])).join('  ');
  console.log(line(header));
  console.log(widths.map((w) => '-'.repeat(w)).join('  '));
  for (const t of table) console.log(line(t));
  const failed = table.filter((t) => t[6] === 'FAIL').length;
  console.log(`\n${failed ? `${failed} row(s) over their targets (FAIL)` : 'every checked row within its target'}; ` +
    '"-": no checkable target');
}

main().then(() => process.exit(0), (err) => {
  console.error(err);
  process.exit(1);
});
