'use strict';
// Tools that act on elements by ref, or click a point. Each resolves its ref
// in a fresh capture of the element's window (a gone element is refused
// before anything is sent), dispatches through the add-on and reports what
// followed (observe.js).
const { z } = require('zod');
const { quote, answer } = require('./render');
const { short, realActions } = require('./tree');
const { refuse, describeEntry } = require('./session');
const { act, targetOf } = require('./observe');
const { probeWindow, boundsOf } = require('./screenshot');
const { pid, windowId, bundleId, ref, waitMs, expectedBundle, callChecked, ACT, isAvailable } = require('./common');

// The element's actions, as an untrusted line (applications name them).
const actionLines = (e) => [`actions: ${realActions(e).map(short).join(', ') || 'none'}`];

// An outcome of an element export, worded with a next step (the text the
// application gave inside the untrusted block).
function elementError(outcome, entry, exportName, e) {
  const why = outcome ? outcome.axError : 'no answer';
  const who = describeEntry(entry);
  switch (why) {
    case 'invalid_element':
      return answer([`${who}: ${exportName} answered invalid_element: the element went away just before the call. ` +
        'Nothing was done; take a new snapshot.']);
    case 'action_unsupported':
      return answer([`${who}: ${exportName} answered action_unsupported. Its actions are listed below ` +
        '(perform_action runs any of them).'], actionLines(e));
    case 'attribute_unsupported':
      return answer([`${who}: ${exportName} answered attribute_unsupported: the element does not take this ` +
        `(editable: ${!!e.editable}; its actions are listed below).`], actionLines(e));
    case 'cannot_complete':
      return answer([`${who}: ${exportName} answered cannot_complete: the application did not answer in time. ` +
        'wait_for state "stable", then try again.']);
    default:
      return answer([`${who}: ${exportName} failed: the add-on answered ${why}.`]);
  }
}

// Acts on a ref's element: `call(token)` is the add-on call.
async function onElement(session, args, exportName, said, call, opts = {}) {
  const { entry, node, view } = await session.live(args.ref);
  if (opts.before) opts.before(entry, node);
  entry.hiddenWhenActed = node.hidden;
  const target = { pid: entry.pid, windowId: entry.windowId, before: view, entry };
  return act(session, target, async () => {
    const outcome = call(node.e.ref);
    if (outcome && outcome.ok) return { ok: true, said: `${said} (${exportName} ok)` };
    return { ok: false, error: elementError(outcome, entry, exportName, node.e) };
  }, { waitMs: args.wait_ms, probe: opts.probe ? () => opts.probe(entry) : undefined });
}

// The action of the element's list that the agent named: the exact name, its
// name without "AX", any case, or (for long names) a unique prefix.
function resolveAction(e, asked) {
  const list = realActions(e);
  const want = asked.toLowerCase();
  const exact = list.find((a) => a.toLowerCase() === want || short(a).toLowerCase() === want);
  if (exact) return exact;
  const prefixed = list.filter((a) => a.toLowerCase().startsWith(want) || short(a).toLowerCase().startsWith(want));
  return prefixed.length === 1 ? prefixed[0] : null;
}

// Refuses a global click at a screen point that another application's
// window covers, naming it and the way through.
function checkCovered(addon, x, y, forPid, forWindow) {
  const top = addon.screenCaptureProbeWindows().find((w) => w.layer === 0 && x >= w.bounds.x && y >= w.bounds.y &&
    x < w.bounds.x + w.bounds.width && y < w.bounds.y + w.bounds.height);
  if (!top) return null;
  if (forPid !== undefined && top.ownerPid !== forPid) {
    refuse(`wrong_owner: the point (${x}, ${y}) is covered by window ${top.windowId} of another application ` +
      `(pid ${top.ownerPid}). Nothing was clicked. activate_app pid ${forPid} first and click again, click its ` +
      'element by ref (click, which needs no pointer), or pick a point of the window that is not covered.',
    [`covering application: ${quote(top.ownerName ?? '')}`]);
  }
  if (forPid === undefined && forWindow !== undefined && top.windowId !== forWindow) {
    refuse(`the point (${x}, ${y}) of window ${forWindow} is covered by window ${top.windowId} (pid ${top.ownerPid}). ` +
      'Nothing was clicked; activate_app with that window first, or give pid to click it in the background.');
  }
  return top;
}

const click = {
  name: 'click',
  title: 'Click an element',
  needs: ['performAction', 'clickElementAtPoint', 'policyIdentityAtPoint'],
  facilities: ['element_actions'],
  description:
    'Presses an element: by ref (its press action), or the element at a screen point x/y (count 1..3; pid: ' +
    'the application that must own it). Answers whether it was dispatched, the element\'s new line, the ' +
    'focused element, the frontmost application and whether anything changed (waits up to wait_ms).',
  input: {
    ref: ref.optional(),
    x: z.number().optional(),
    y: z.number().optional(),
    count: z.number().int().optional().describe('presses at the point, default 1'),
    pid: pid.optional().describe('the application that must own the element at x/y'),
    wait_ms: waitMs,
  },
  annotations: ACT,
  async run(session, args) {
    const { addon } = session;
    const point = args.x !== undefined || args.y !== undefined;
    if ((args.ref !== undefined) === point || (point && (args.x === undefined || args.y === undefined))) {
      refuse('click takes either ref, or both x and y.');
    }
    if (args.ref !== undefined) {
      return onElement(session, args, 'performAction', `pressed ${args.ref}`, (t) => addon.performAction(t, 'AXPress'));
    }
    const owner = callChecked('policyIdentityAtPoint', () => addon.policyIdentityAtPoint(args.x, args.y));
    const target = await targetOf(session, args.pid ?? (owner ? owner.pid : 0));
    return act(session, target, async () => {
      const result = callChecked('clickElementAtPoint',
        () => addon.clickElementAtPoint(args.x, args.y, args.count ?? 1, false, undefined, args.pid));
      if (result && result.ok) return { ok: true, said: `pressed the element at (${args.x}, ${args.y}) in pid ${result.pid} (${result.method})` };
      if (result && result.method === 'wrong_owner') {
        return { ok: false, error: answer([`wrong_owner: the element at (${args.x}, ${args.y}) belongs to pid ` +
          `${result.pid}, not pid ${args.pid}: another application's window covers the point. Nothing was ` +
          `pressed. activate_app pid ${args.pid} first, or click its element by ref.`],
        owner ? [`covering application: ${quote(owner.name ?? '')}`] : []) };
      }
      return { ok: false, error: `clickElementAtPoint(${args.x}, ${args.y}) pressed nothing: the add-on answered ` +
        `${result ? result.method : 'null'}.` };
    }, { waitMs: args.wait_ms });
  },
};

const setValue = {
  name: 'set_value',
  title: "Set an element's value",
  needs: ['setValue'],
  facilities: ['element_actions'],
  description: "Sets an element's value (a text field's text, for instance) by ref, and reports what followed.",
  input: { ref, value: z.string(), wait_ms: waitMs },
  annotations: ACT,
  run(session, args) {
    return onElement(session, args, 'setValue', `set the value of ${args.ref}`, (t) => session.addon.setValue(t, args.value));
  },
};

const performAction = {
  name: 'perform_action',
  title: 'Run an element action',
  needs: ['performAction'],
  facilities: ['element_actions'],
  description:
    'Runs any action an element lists (snapshot shows them as actions=...): ShowMenu, Increment, ' +
    'Decrement, Confirm, Raise, Press... Names match with or without "AX", in any case.',
  input: { ref, action: z.string().min(1), wait_ms: waitMs },
  annotations: ACT,
  run(session, args) {
    let action = null;
    return onElement(session, args, 'performAction', `ran ${args.action} on ${args.ref}`,
      (t) => session.addon.performAction(t, action), {
        before(entry, node) {
          action = resolveAction(node.e, args.action);
          if (!action) {
            refuse(`${describeEntry(entry)} has no action ${quote(args.action)}; its actions are listed below. ` +
              'Nothing was done.', actionLines(node.e));
          }
        },
      });
  },
};

const focus = {
  name: 'focus',
  title: 'Focus an element',
  needs: ['setFocused'],
  facilities: ['element_actions'],
  description: 'Gives an element the keyboard focus (by ref), so that typing without a ref goes to it.',
  input: { ref, wait_ms: waitMs },
  annotations: ACT,
  run(session, args) {
    return onElement(session, args, 'setFocused', `focused ${args.ref}`, (t) => session.addon.setFocused(t));
  },
};

const selectText = {
  name: 'select_text',
  title: 'Select text in an element',
  needs: ['selectText', 'readElement'],
  facilities: ['element_actions'],
  description: 'Selects `length` characters from `start` in a text element (length 0 puts the caret there).',
  input: { ref, start: z.number().int().min(0), length: z.number().int().min(0), wait_ms: waitMs },
  annotations: ACT,
  run(session, args) {
    const { addon } = session;
    return onElement(session, args, 'selectText', `selected [${args.start},${args.length}] in ${args.ref}`,
      (t) => addon.selectText(t, args.start, args.length), {
        probe(entry) {
          const e = entry.token ? addon.readElement(entry.token) : null;
          return e && e.selected_text_range ? e.selected_text_range.join(',') : '';
        },
      });
  },
};

const select = {
  name: 'select',
  title: 'Select a row or item',
  needs: ['performAction'],
  facilities: ['element_actions'],
  description:
    'Selects a row, cell, tab or list item by ref (its press, which selects it) and checks that it reads as ' +
    'selected afterwards; an item that does not become selected is an error.',
  input: { ref, wait_ms: waitMs },
  annotations: ACT,
  async run(session, args) {
    const { addon } = session;
    let entry = null;
    const text = await onElement(session, args, 'performAction', `pressed ${args.ref} to select it`,
      (t) => addon.performAction(t, 'AXPress'), {
        before(en, node) {
          entry = en;
          if (!realActions(node.e).includes('AXPress')) {
            refuse(`${describeEntry(en)} cannot be selected by a press; its actions are listed below.`, actionLines(node.e));
          }
        },
      });
    const now = entry.gone ? null : entry.node.e.selected;
    if (now === true) return `${text}\nselected: ${args.ref} reads as selected.`;
    if (now === undefined) return `${text}\nselected: unknown (the element does not report selection).`;
    return refuse(`${text}\nnot selected: ${args.ref} ${entry.gone ? 'is gone' : 'does not read as selected'} after the press.`);
  },
};

const clickAt = {
  name: 'click_at',
  title: 'Click at a point',
  needs: ['clickAtPoint', 'clickToWindowAsync', 'screenCaptureProbeWindows', 'applicationInfo'],
  facilities: ['global_mouse'],
  description:
    'A pointer click at a point: coords "screen" (default, global points), "window" (points from the ' +
    'window\'s top-left) or "image" (pixels of a screenshot of window_id, at the scale it reported). With pid ' +
    'and window_id of a background application, the click goes into that window without activating it where ' +
    'the desktop can (describe_desktop: mouse_to_background_window); otherwise through the system, after ' +
    'checking that no other application covers the point.',
  input: {
    x: z.number(),
    y: z.number(),
    coords: z.enum(['screen', 'window', 'image']).optional(),
    window_id: windowId.optional(),
    pid: pid.optional(),
    bundle_id: bundleId.optional(),
    button: z.enum(['left', 'right', 'middle']).optional().describe('default left'),
    count: z.number().int().min(1).max(3).optional().describe('clicks, default 1'),
    wait_ms: waitMs,
  },
  annotations: ACT,
  async run(session, args) {
    const { addon, desktop } = session;
    const coords = args.coords ?? 'screen';
    let win = null;
    if (args.window_id !== undefined) {
      win = probeWindow(addon, args.window_id);
      if (!win) refuse(`window ${args.window_id} is not on screen: list_windows shows the windows there are.`);
      if (args.pid !== undefined && win.ownerPid !== args.pid) {
        refuse(`window ${args.window_id} belongs to pid ${win.ownerPid}, not pid ${args.pid}.`);
      }
    } else if (coords !== 'screen') refuse(`coords "${coords}" needs window_id.`);
    let [sx, sy] = [args.x, args.y];
    if (coords !== 'screen') {
      const b = boundsOf(win);
      const scale = coords === 'image' ? session.imageScale(args.window_id, b) : 1;
      [sx, sy] = [b[0] + args.x / scale, b[1] + args.y / scale];
    }
    const button = args.button ?? 'left';
    const count = args.count ?? 1;
    const front = session.frontmost();
    const background = win && args.pid !== undefined && (!front || front.pid !== args.pid) &&
      isAvailable(desktop, 'mouse_to_background_window');
    const top = background ? null : checkCovered(addon, sx, sy, args.pid, args.window_id);
    const forPid = args.pid ?? (win ? win.ownerPid : top ? top.ownerPid : 0);
    const target = await targetOf(session, forPid, args.window_id ?? null);
    const at = `(${Math.round(sx)}, ${Math.round(sy)})`;
    return act(session, target, async () => {
      if (background) {
        const ok = await addon.clickToWindowAsync(args.pid, expectedBundle(addon, args.pid, args.bundle_id),
          args.window_id, boundsOf(win), sx, sy, button, count, null);
        return ok ? { ok: true, said: `clicked ${button} x${count} at screen point ${at} into window ${args.window_id} in the background (clickToWindowAsync)` }
          : { ok: false, error: `clickToWindowAsync answered false: nothing was clicked in window ${args.window_id}. ` +
            `activate_app pid ${args.pid} and click_at again (through the system).` };
      }
      const ok = callChecked('clickAtPoint', () => addon.clickAtPoint(sx, sy, button, count));
      return ok ? { ok: true, said: `clicked ${button} x${count} at screen point ${at} (clickAtPoint)` }
        : { ok: false, error: 'clickAtPoint answered false: nothing was clicked (focus-steal prevention may be on, ' +
          'accessibility may not be trusted, or another mouse operation holds the button).' };
    }, { waitMs: args.wait_ms });
  },
};

module.exports = { ACT_TOOLS: [click, setValue, performAction, focus, selectText, select, clickAt], resolveAction };
