'use strict';
// The benchmark table's pass/fail marks.
const test = require('node:test');
const assert = require('node:assert');
const { mark } = require('../bench/marks');

test('ratios are checked against their targets', () => {
  assert.strictEqual(mark(1.05, '<= 1.05'), 'pass');
  assert.strictEqual(mark(1.06, '<= 1.05'), 'FAIL');
  assert.strictEqual(mark(1.2, '< 1.2'), 'FAIL');
  assert.strictEqual(mark(2.9, '<= 3x'), 'pass');
  assert.strictEqual(mark(0.94, '>= 0.95'), 'FAIL');
  assert.strictEqual(mark(0.2, '<= 0.06'), 'FAIL');
  assert.strictEqual(mark(NaN, '<= 1'), 'FAIL');
});

test('targets that are no bound get no mark', () => {
  for (const t of ['', undefined, '~1', 'tick << 16 ms']) assert.strictEqual(mark(0.5, t), '-');
});
