'use strict';
// desktop-sim refuses malformed scenes and scene fragments with the path of
// the bad field, and leaves the desktop it had untouched.
const test = require('node:test');
const assert = require('node:assert/strict');
const sim = require('../sim');

// What must survive a refused call: applications, windows, an element value.
function snapshot() {
  return {
    apps: sim.apps().map((a) => [a.pid, a.bundleId, a.name, a.policy, a.windows]),
    windows: sim.windows().map((w) => [w.number, w.pid, w.title, w.bounds]),
    text: sim.element('textpad.text').value,
    save: sim.element('textpad.save').actions,
    frontmost: sim.frontmost(),
    displays: sim.displays(),
    platformVersion: sim.stats().platformVersion,
  };
}

function refuses(call, message) {
  const before = snapshot();
  assert.throws(call, (err) => {
    assert.equal(err.message.replace(/^desktop-sim \w+: /, ''), message);
    return true;
  });
  assert.deepEqual(snapshot(), before, `desktop unchanged after: ${message}`);
}

const app = (extra) => ({ pid: 1, ...extra });
const win = (extra) => app({ windows: [{ id: 'w', number: 5, ...extra }] });
const kids = (children) => win({ children });

const malformed = [
  [{ apps: [{ pid: 'x' }] }, 'apps[0].pid: expected a positive integer pid'],
  [{ apps: [{ pid: 1.5 }] }, 'apps[0].pid: expected a positive integer pid'],
  [app({ windows: [{}, { bounds: [1, 2] }] }), null, 'apps[0].windows[1].bounds: expected [x, y, width, height]'],
  [win({ bounds: [0, 0, 'a', 1] }), null, 'apps[0].windows[0].bounds: expected [x, y, width, height]'],
  [kids([{}, { children: [{ frame: [1, 2, 3] }] }]), null,
    'apps[0].windows[0].children[1].children[0].frame: expected [x, y, width, height]'],
  [{ displays: [{ bounds: [0, 0, 1] }] }, 'displays[0].bounds: expected [x, y, width, height]'],
  [{ displays: [{ main: true }, { main: true }] }, 'displays[1].main: expected at most one display with main: true'],
  [{ installed: [{ path: '/A.app' }, { bundleId: 3 }] }, 'installed[1].bundleId: expected a string'],
  [{ installed: [{ path: '/A.app', app: { windows: [{ bounds: null }] } }] },
    'installed[0].app.windows[0].bounds: expected [x, y, width, height]'],
  [{ pointer: [1] }, 'pointer: expected [x, y]'],
  [{ permissions: { accessibility: 'yes' } }, 'permissions.accessibility: expected true or false'],
  [{ aps: [] }, 'aps: expected a known scene key'],
  [win({ titel: 'x' }), null, 'apps[0].windows[0].titel: expected a known window key'],
  [kids([{ rol: 'AXButton' }]), null, 'apps[0].windows[0].children[0].rol: expected a known element key'],
  [app({ windows: [{ ax: false, children: [] }] }), null,
    'apps[0].windows[0].children: expected a known window-list-only window key'],
  [app({ policy: 'background' }), null, 'apps[0].policy: expected "regular", "accessory" or "prohibited"'],
  [app({ signing: { anchor: 'mine' } }), null, 'apps[0].signing.anchor: expected "apple" or "apple generic"'],
  [{ apps: [{ pid: 1 }, { pid: 1 }] }, 'apps[1].pid: expected a unique pid (1 is also apps[0])'],
  [app({ windows: [{ number: 5 }, { number: 5 }] }), null,
    'apps[0].windows[1].number: expected a unique window number (5 is also used at apps[0].windows[0].number)'],
  [kids([{ id: 'a' }, { id: 'a' }]), null,
    'apps[0].windows[0].children[1].id: expected a unique id ("a" is also defined at apps[0].windows[0].children[0].id)'],
  [kids([{ id: 'row-1' }, { generate: { count: 3, idPrefix: 'row' } }]), null,
    'apps[0].windows[0].children[1].generate: expected a unique id ("row-1" is also defined at apps[0].windows[0].children[0].id)'],
  [kids([{ generate: { count: -1 } }]), null, 'apps[0].windows[0].children[0].generate.count: expected a count from 0 to 100000'],
  [kids([{ generate: { count: 2, id: 'x' } }]), null, 'apps[0].windows[0].children[0].generate.id: expected a known generator key'],
  [kids([{ titleElement: 'nope' }]), null,
    'apps[0].windows[0].children[0].titleElement: expected the id of an element (there is no "nope")'],
  [win({ visibleChildren: ['w', 'gone'] }), null,
    'apps[0].windows[0].visibleChildren[1]: expected the id of an element (there is no "gone")'],
  [app({ focusedWindow: 'nope' }), null, 'apps[0].focusedWindow: expected the id of an element (there is no "nope")'],
  [kids([{ onPress: { explode: true } }]), null,
    'apps[0].windows[0].children[0].onPress.explode: expected an effect kind (setValue, setAttribute, openSheet, ' +
    'show, closeSheet, hide, activate, quit, increment, decrement, toggle, focus, raise, press, log)'],
  [kids([{ actions: { AXPress: [{ log: 'x' }, { press: 'ghost' }] } }]), null,
    'apps[0].windows[0].children[0].actions.AXPress[1].press: expected the id of an element (there is no "ghost")'],
  [kids([{ attributes: { AXAnchor: { point: [1] } } }]), null,
    'apps[0].windows[0].children[0].attributes.AXAnchor.point: expected [x, y]'],
  // Attributes the sim computes from other keys are refused, naming the key to use.
  [kids([{ attributes: { AXPosition: { point: [1, 2] } } }]), null,
    'apps[0].windows[0].children[0].attributes.AXPosition: expected no AXPosition under attributes (give the element a frame)'],
  [kids([{ attributes: { AXSize: { size: [1, 2] } } }]), null,
    'apps[0].windows[0].children[0].attributes.AXSize: expected no AXSize under attributes (give the element a frame)'],
  [kids([{ attributes: { AXActionNames: ['AXPress'] } }]), null,
    'apps[0].windows[0].children[0].attributes.AXActionNames: expected no AXActionNames under attributes (give the element actions)'],
  [kids([{ attributes: { AXLinked: [{ ref: 'w' }, { ref: 'x' }] } }]), null,
    'apps[0].windows[0].children[0].attributes.AXLinked[1].ref: expected the id of an element (there is no "x")'],
  [kids([{ delayMs: -1 }]), null, 'apps[0].windows[0].children[0].delayMs: expected a number >= 0'],
  [kids([{ value: { text: 'x' } }]), null,
    'apps[0].windows[0].children[0].value: expected a string, a finite number, true/false or null'],
  [{ apps: [{ pid: 1 }], frontmost: 2 }, 'frontmost: expected the pid of an application of the scene'],
  [{ apps: [win({})], order: [5, 6] }, 'order[1]: expected a window number of the scene'],
].map(([scene, a, b]) => (b === undefined ? [scene, a] : [{ apps: [scene] }, b]));

test('malformed scenes are refused with the path of the bad field', async (t) => {
  sim.loadSampleScene();
  for (const [scene, message] of malformed) {
    await t.test(message, () => {
      refuses(() => sim.loadScene(scene), message);
      refuses(() => sim.loadScene(JSON.stringify(scene)), message);
    });
  }
});

test('well-formed scenes using every free-form place still load', () => {
  sim.loadScene({
    apps: [
      { pid: 10, name: 'A', windows: [{ id: 'a.w', number: 7, bounds: [0, 0, 300, 200],
        badKeys: { kCGWindowLayer: 'zero', anything: [1, { x: 2 }] },
        children: [
          { id: 'a.list', role: 'AXList', visibleChildren: ['a.list.item-1'], children: [
            { generate: { count: 3, role: 'AXRow', title: 'Row {i}', frame: [0, 0, 10, 10], step: [0, 10],
              children: [{ generate: { count: 2, role: 'AXCell' } }] } }] },
          { id: 'a.b', role: 'AXButton', errors: { AXTitle: -25204, 'set:AXValue': -25200 },
            attributes: { AXCustom: { nested: [{ ref: 'a.list' }, { range: [0, 3] }] }, AXFrameish: { rect: [1, 2, 3, 4] } },
            actions: { AXPress: [{ setAttribute: { target: 'a.w', attribute: 'AXTitle', value: 'T' } },
              { toggle: true }, { activate: 10 }, { raise: { target: 'a.w' } }], AXShowMenu: null } },
        ] }] },
      { pid: 11, name: 'B', policy: 'accessory', extraWindows: ['a.w'], signing: null, responsiblePid: 10 },
    ],
    installed: [{ path: '/L.app', bundleId: 'com.l', openResult: { delayMs: 5 },
      app: { windows: [{ id: 'l.w', children: [{ onPress: { press: 'a.b' } }] }] } }],
    order: [7],
  });
  assert.equal(sim.element('a.list').children.length, 3);
  assert.equal(sim.element('a.list.item-2.item-1').role, 'AXCell');
  assert.equal(sim.windows()[0].number, 7);
});

test('fragments are checked with paths relative to the argument', async (t) => {
  sim.loadSampleScene();
  await t.test('launchApp and install', () => {
    refuses(() => sim.launchApp({ windows: [{ bounds: [1, 2] }] }), 'spec.windows[0].bounds: expected [x, y, width, height]');
    refuses(() => sim.launchApp({ pid: 2, activate: 'yes' }), 'spec.activate: expected true or false');
    refuses(() => sim.install({ path: 5 }), 'entry.path: expected a string');
    refuses(() => sim.install({ path: '/X.app', app: { policy: 1 } }),
      'entry.app.policy: expected "regular", "accessory" or "prohibited"');
  });
  await t.test('addWindow, setWindow and moveWindow', () => {
    refuses(() => sim.addWindow(501, { bounds: [1, 2] }), 'spec.bounds: expected [x, y, width, height]');
    refuses(() => sim.addWindow(501, { number: 101 }), 'spec.number: expected a window number not in use (101 is)');
    refuses(() => sim.addWindow(501, { children: [{ titleElement: 'nope' }] }),
      'spec.children[0].titleElement: expected the id of an element (there is no "nope")');
    refuses(() => sim.setWindow(101, { bounds: 'x' }), 'patch.bounds: expected [x, y, width, height]');
    refuses(() => sim.setWindow(101, { titel: 'x' }), 'patch.titel: expected a known window patch key');
    refuses(() => sim.moveWindow(101, [1, 2, 3]), 'bounds: expected [x, y, width, height]');
  });
  await t.test('setElement, setApp and setDisplays', () => {
    refuses(() => sim.setElement('textpad.text', { value: {} }),
      'patch.value: expected a string, a finite number, true/false or null');
    refuses(() => sim.setElement('textpad.save', { onPress: { openSheet: 'nope' } }),
      'patch.onPress.openSheet: expected the id of an element (there is no "nope")');
    refuses(() => sim.setElement('textpad.toolbar', { children: [{ id: 'k' }, { id: 'k' }] }),
      'patch.children[1].id: expected a unique id ("k" is also defined at patch.children[0].id)');
    refuses(() => sim.setApp(501, { policy: 'x' }), 'patch.policy: expected "regular", "accessory" or "prohibited"');
    refuses(() => sim.setDisplays([{ bounds: [0, 0] }]), 'displays[0].bounds: expected [x, y, width, height]');
  });
  await t.test('well-formed fragments naming live elements still apply', () => {
    sim.setElement('textpad.bold', { onPress: { setValue: { target: 'textpad.text', value: 'B' } } });
    sim.press('textpad.bold');
    assert.equal(sim.element('textpad.text').value, 'B');
    const n = sim.addWindow(501, { id: 'textpad.doc3', bounds: [0, 0, 100, 100], titleElement: 'textpad.saveLabel' });
    assert.equal(sim.windows()[0].number, n);
  });
});
