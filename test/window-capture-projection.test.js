'use strict';
// Frame content projection (through the test entry that exists only with the
// live gate open): which pixels of a captured frame hold the window, and
// where they lie on screen.
process.env.KORVO_OZA_LIVE_NATIVE = '1';
const test = require('node:test');
const assert = require('node:assert');
const addon = require('..');

const project = addon.projectFrameContentForTest;

test('content at an offset on a 2x frame', () => {
  assert.deepStrictEqual(project([10, 20, 100, 50], [500, 300, 100, 50], 300, 200, 1, 2), {
    crop: [20, 40, 200, 100],
    pointer: [500, 300, 100, 50],
  });
  // A window streamed in points on a 2x display: content scale 1/2.
  assert.deepStrictEqual(project([0, 0, 450, 320], [120, 80, 900, 640], 900, 640, 0.5, 2), {
    crop: [0, 0, 900, 640],
    pointer: [120, 80, 900, 640],
  });
});

test('the content size may differ from the expected one by 2 points or 2 %', () => {
  const screen = [0, 0, 100, 50];
  assert.notStrictEqual(project([0, 0, 102, 48], screen, 400, 400, 1, 1), null);
  assert.strictEqual(project([0, 0, 102.5, 50], screen, 400, 400, 1, 1), null);
  assert.strictEqual(project([0, 0, 100, 52.5], screen, 400, 400, 1, 1), null);
  const wide = [0, 0, 1000, 500];
  assert.notStrictEqual(project([0, 0, 1020, 510], wide, 2000, 2000, 1, 1), null);
  assert.strictEqual(project([0, 0, 1021, 500], wide, 2000, 2000, 1, 1), null);
});

test('one pixel beyond the image is clipped, two are refused; partial pixels round outwards', () => {
  const one = project([0, 0, 100, 50], [0, 0, 100, 50], 99, 50, 1, 1);
  assert.deepStrictEqual(one, { crop: [0, 0, 99, 50], pointer: [0, 0, 99, 50] });
  assert.strictEqual(project([0, 0, 100, 50], [0, 0, 100, 50], 98, 50, 1, 1), null);
  assert.strictEqual(project([-2, 0, 100, 50], [0, 0, 100, 50], 200, 50, 1, 1), null);
  const half = project([10.25, 5.5, 100, 50], [200, 100, 100, 50], 300, 300, 1, 1);
  assert.deepStrictEqual(half.crop, [10, 5, 101, 51]);
  assert.deepStrictEqual(half.pointer, [199.75, 99.5, 101, 51]);
});

test('impossible frames and bad arguments answer null', () => {
  const ok = [[0, 0, 100, 50], [0, 0, 100, 50], 100, 50, 1, 1];
  assert.notStrictEqual(project(...ok), null);
  const variants = [
    [],
    ok.slice(0, 5),
    [...ok, 1],
    [[0, 0, 100], ...ok.slice(1)],
    [[0, 0, 100, 50, 1], ...ok.slice(1)],
    [[0, 0, NaN, 50], ...ok.slice(1)],
    [ok[0], [0, Infinity, 100, 50], ...ok.slice(2)],
    [ok[0], ['0', 0, 100, 50], ...ok.slice(2)],
    [ok[0], { 0: 0, 1: 0, 2: 100, 3: 50, length: 4 }, ...ok.slice(2)],
    [[0, 0, 0, 50], ...ok.slice(1)],
    [ok[0], ok[1], 0, 50, 1, 1],
    [ok[0], ok[1], 100.5, 50, 1, 1],
    [ok[0], ok[1], 100, -50, 1, 1],
    [ok[0], ok[1], 100, 50, '1', 1],
    [ok[0], ok[1], 100, 50, 0, 1],
    [ok[0], ok[1], 100, 50, 1, NaN],
    [ok[0], ok[1], 100, 50, 1, -2],
  ];
  for (const args of variants) assert.strictEqual(project(...args), null, JSON.stringify(args));
});
