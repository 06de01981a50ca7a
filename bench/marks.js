'use strict';
// The pass/fail mark of a benchmark row: its ratio against its target.
// Targets of the form "<= 1.05", "< 1.2", ">= 0.95", "> 1" (an "x" after the
// number is allowed, "<= 3x") are checked; any other target ("~1",
// "tick << 16 ms") or none gets "-".
function mark(ratio, target) {
  const m = /^\s*(<=|<|>=|>)\s*([0-9]*\.?[0-9]+)\s*x?\s*$/.exec(target || '');
  if (!m) return '-';
  if (typeof ratio !== 'number' || Number.isNaN(ratio)) return 'FAIL';
  const limit = Number(m[2]);
  const ok = { '<=': ratio <= limit, '<': ratio < limit, '>=': ratio >= limit, '>': ratio > limit }[m[1]];
  return ok ? 'pass' : 'FAIL';
}

module.exports = { mark };
