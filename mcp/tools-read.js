'use strict';
// Tools that read the desktop: applications, windows, snapshots, screenshots,
// permissions, the desktop's capability table, and waiting for the tree.
const { z } = require('zod');
const { quote, answer, rect, flags, renderDesktop, rawJson } = require('./render');
const { renderSnapshot, elementLine } = require('./snapshot');
const { matcher } = require('./tree');
const { refuse } = require('./session');
const { sleep } = require('./observe');
const { pid, windowId, bundleId, ref, READ } = require('./common');
const { screenshotTool } = require('./screenshot');

const DEFAULT_MAX_CHARS = 16000;
const DEFAULT_WAIT_FOR_MS = 5000;
const MAX_WAIT_FOR_MS = 30000;
const WAIT_FOR_EVERY_MS = 150;

const REFS_RULE =
  'Refs ("e12") stay on their element across snapshots of the same application while it lives (same role, ' +
  'title and place in the tree); a ref whose element has gone is refused with the reason and never reused.';

const nullCapture = (forPid) =>
  refuse(`captureAppAsync(${forPid}) answered null: the process is gone, not an application the add-on can ` +
    'read, or accessibility is not permitted (see check_permissions).');

// Maps screen bounds into the pixels of a screenshot of the captured window.
function boundsSpace(session, snap) {
  const win = snap.window || {};
  const scale = session.imageScale(win.window_id, win.bounds);
  const [ox, oy] = win.bounds || [0, 0];
  return {
    boundsNote: `bounds @[x,y,w,h] are pixels of a screenshot of window ${win.window_id} (${scale} px per point, ` +
      'origin at its top-left); click_at takes them with coords:"image".',
    boundsIn: (b) => [(b[0] - ox) * scale, (b[1] - oy) * scale, b[2] * scale, b[3] * scale].map(Math.round),
  };
}

const snapshot = {
  name: 'snapshot',
  title: 'Snapshot an application',
  needs: ['captureAppAsync', 'ackCaptureEpoch', 'readElement'],
  facilities: ['accessibility'],
  description:
    "Captures one application's window (its focused one, or window_id) as indented lines: ref, role, title, " +
    'value, checked/mixed, selection, actions beyond a press, flags (focused, disabled, selected, default). ' +
    'Elements not on screen (closed menus, hidden tabs, rows scrolled away) are left out and counted in one ' +
    'line; unnamed layout groups are folded into their children. root=<ref> shows that subtree whole (hidden ' +
    'parts included); query="words" finds matching elements anywhere (role and/or text, any case) with their ' +
    'ancestors; depth limits nesting; bounds:true adds each element\'s bounds in screenshot pixels; all:true ' +
    `shows everything; max_chars (default ${DEFAULT_MAX_CHARS}) caps the whole answer. ${REFS_RULE}`,
  input: {
    pid: pid.optional().describe('process id, from list_apps (not needed with root)'),
    window_id: windowId.optional(),
    bundle_id: bundleId.optional(),
    root: ref.optional().describe('only the subtree of this element, whole'),
    query: z.string().min(1).optional().describe('words that must all appear in role, title, description or value'),
    depth: z.number().int().min(0).optional().describe('levels below the top (or root) to show'),
    all: z.boolean().optional().describe('include elements that are not shown'),
    bounds: z.boolean().optional().describe("add each element's bounds in screenshot pixels"),
    max_chars: z.number().int().positive().optional().describe(`cap of the whole answer, default ${DEFAULT_MAX_CHARS}`),
    raw: z.boolean().optional().describe("also return the add-on's snapshot as JSON (within max_chars)"),
  },
  annotations: READ,
  async run(session, args) {
    let view;
    if (args.root !== undefined) {
      const entry = session.entry(args.root);
      if (args.pid !== undefined && args.pid !== entry.pid) {
        refuse(`${args.root} belongs to pid ${entry.pid}, not pid ${args.pid}.`);
      }
      ({ view } = await session.live(args.root));
    } else {
      if (args.pid === undefined) refuse('snapshot needs pid (or root=<ref>).');
      view = await session.capture(args.pid, args.window_id ?? null, args.bundle_id ?? null);
      if (!view) nullCapture(args.pid);
    }
    const maxChars = args.max_chars ?? DEFAULT_MAX_CHARS;
    const ctx = {
      selectionOf: (token) => {
        const e = session.addon.readElement(token);
        return e && e.selected_text_range ? e.selected_text_range : null;
      },
      ...(args.bounds ? boundsSpace(session, view.snap) : {}),
    };
    const opts = { root: args.root, query: args.query, depth: args.depth, all: !!args.all, bounds: !!args.bounds };
    if (!args.raw) return renderSnapshot(view, { ...opts, maxChars }, ctx);
    const json = rawJson(view.snap);
    const text = renderSnapshot(view, { ...opts, maxChars: Math.max(200, maxChars - json.length - 12) }, ctx);
    if (text.length + json.length + 12 <= maxChars) return `${text}\nraw JSON: ${json}`;
    return `${text}\n[raw JSON left out: ${json.length} chars, over max_chars ${maxChars}]`;
  },
};

const release = {
  name: 'release',
  title: "Release a capture's elements",
  needs: ['releaseCaptureEpoch'],
  facilities: ['accessibility'],
  description:
    "Lets the add-on release one capture (pid and epoch from a snapshot's header) and its hold on the " +
    'elements. Refs are not tied to a capture: they stay valid while their element lives.',
  input: { pid, epoch: z.number().int().describe('the epoch from a snapshot header') },
  annotations: { ...READ, readOnlyHint: false, idempotentHint: true },
  run(session, args) {
    const state = session.captureState(args.pid, args.epoch);
    if (state !== 'live') {
      const live = session.epochs.has(args.pid) ? session.epochs.get(args.pid).live : [];
      refuse(`nothing was released: ${state === 'unknown'
        ? `this server never captured epoch ${args.epoch} of pid ${args.pid}`
        : `epoch ${args.epoch} of pid ${args.pid} was already let go (released, or superseded by newer captures)`}` +
        (live.length ? `; the captures it holds of pid ${args.pid}: epochs ${live.join(', ')}.` : '.'));
    }
    session.addon.releaseCaptureEpoch(args.pid, args.epoch);
    session.dropCapture(args.pid, args.epoch);
    return `released epoch ${args.epoch} of pid ${args.pid}: the add-on let go of that capture's elements. ` +
      'Refs stay valid while their elements live.';
  },
};

// Conditions of wait_for over a capture: each answers [met, the nodes to show].
function condition(args, first) {
  const match = args.query ? matcher(args.query) : null;
  const shownMatches = (view) => view.nodes.filter((n) => !n.hidden && match(n.e));
  const valuesOf = (view) => shownMatches(view).map((n) => `${n.ref}|${n.e.value}|${n.e.selected}|${n.e.enabled}`).join('\n');
  const initial = first && match ? valuesOf(first) : null;
  return {
    appears: (view) => [shownMatches(view).length > 0, shownMatches(view)],
    disappears: (view) => [shownMatches(view).length === 0, []],
    changes: (view) => [valuesOf(view) !== initial, shownMatches(view)],
  }[args.state];
}

const waitFor = {
  name: 'wait_for',
  title: 'Wait for the tree',
  needs: ['captureAppAsync', 'ackCaptureEpoch'],
  facilities: ['accessibility'],
  description:
    "Waits until a condition holds on an application's window tree, reading it every 150 ms: an element " +
    'matching query (as in snapshot) appears or disappears (among shown elements), the matching elements ' +
    'change (value, selection or enabled), or the tree stays stable (state "stable": two reads in a row ' +
    `alike). timeout_ms defaults to ${DEFAULT_WAIT_FOR_MS} (at most ${MAX_WAIT_FOR_MS}); a condition not met ` +
    'in time is an error that shows the current matches.',
  input: {
    pid,
    window_id: windowId.optional(),
    query: z.string().min(1).optional(),
    state: z.enum(['appears', 'disappears', 'changes', 'stable']),
    timeout_ms: z.number().int().min(0).max(MAX_WAIT_FOR_MS).optional(),
  },
  annotations: READ,
  async run(session, args) {
    if (args.state !== 'stable' && !args.query) refuse(`wait_for state "${args.state}" needs a query.`);
    const timeout = args.timeout_ms ?? DEFAULT_WAIT_FOR_MS;
    const started = Date.now();
    const read = async () => (await session.capture(args.pid, args.window_id ?? null)) || nullCapture(args.pid);
    const first = await read();
    const test = args.state === 'stable' ? null : condition(args, first);
    let view = first;
    let previous = null;
    for (;;) {
      let met;
      let nodes = [];
      if (test) [met, nodes] = test(view);
      else {
        const sig = view.nodes.map((n) => `${n.ref}|${n.e.value}|${n.e.focused}|${n.e.selected}|${(n.e.bounds || []).join()}`).join('\n');
        met = previous !== null && sig === previous;
        previous = sig;
      }
      const ms = Date.now() - started;
      if (met || ms >= timeout) {
        const shown = nodes.slice(0, 20).map((n) => elementLine(n, 0).slice(2));
        const what = args.query ? `${quote(args.query)} ${args.state}` : 'the tree stays stable';
        if (!met) {
          const now = args.query ? view.nodes.filter((n) => !n.hidden && matcher(args.query)(n.e)).slice(0, 20) : [];
          refuse(answer([`not met: ${what} did not happen within ${timeout} ms (pid ${args.pid}).`],
            now.map((n) => `now: ${elementLine(n, 0).slice(2)}`)));
        }
        return answer([`met after ${ms} ms: ${what} (pid ${args.pid}, window ${view.snap.window.window_id}).`], shown);
      }
      await sleep(WAIT_FOR_EVERY_MS);
      view = await read();
    }
  },
};

const listApps = {
  name: 'list_apps',
  title: 'List applications',
  needs: ['listApplications'],
  facilities: ['applications'],
  description: 'Lists the running applications: pid, bundle id, name, and which one is active (frontmost).',
  input: {},
  annotations: READ,
  run(session) {
    const apps = session.addon.listApplications();
    return answer(
      [`${apps.length} applications (pid, bundle id, name):`],
      apps.map((a) => `${a.pid} ${quote(a.bundle_id ?? '')} ${quote(a.name ?? '')}${a.active ? ' (active)' : ''}`)
    );
  },
};

const listWindows = {
  name: 'list_windows',
  title: 'List windows',
  needs: ['listWindows', 'screenCaptureProbeWindows'],
  facilities: ['window_list'],
  description:
    "Lists one application's windows (with pid: accessibility windows with title, bounds, main/focused) " +
    'or, without pid, every on-screen window of every application with its owner, front to back.',
  input: { pid: pid.optional() },
  annotations: READ,
  run(session, { pid: forPid }) {
    const { addon } = session;
    if (forPid === undefined) {
      const list = addon.screenCaptureProbeWindows();
      return answer(
        [`${list.length} on-screen windows (window id, owner pid, owner, title, bounds), front to back:`],
        list.map(
          (w) =>
            `window ${w.windowId} pid ${w.ownerPid} ${quote(w.ownerName ?? '')} ${quote(w.title ?? '')} ` +
            rect([w.bounds.x, w.bounds.y, w.bounds.width, w.bounds.height]) +
            (w.layer ? ` layer ${w.layer}` : '')
        )
      );
    }
    const list = addon.listWindows(forPid);
    if (!list) refuse(`listWindows(${forPid}) answered null: no readable application with that pid.`);
    return answer(
      [`${list.length} windows of pid ${forPid}:`],
      list.map(
        (w) =>
          `window ${w.window_id ?? 'none'} ${quote(w.title ?? '')} ${rect(w.bounds)}${flags(w)}` +
          (w.onscreen ? '' : ' (off screen)') +
          (w.subrole ? ` subrole ${w.subrole}` : '') +
          (w.text_preview ? ` text ${quote(w.text_preview)}` : '')
      )
    );
  },
};

const checkPermissions = {
  name: 'check_permissions',
  title: 'Check permissions',
  needs: ['isTrusted', 'screenCaptureStatus'],
  facilities: [],
  description: 'Tells whether this process may use accessibility (snapshots, actions, input) and screen recording (screenshots).',
  input: {},
  annotations: READ,
  run(session) {
    const { addon, desktop } = session;
    return `desktop: ${desktop.backend}; accessibility: ${addon.isTrusted() ? 'trusted' : 'not trusted'}; ` +
      `screen recording: ${addon.screenCaptureStatus()}. describe_desktop lists what works on this desktop.`;
  },
};

const describeDesktop = {
  name: 'describe_desktop',
  title: 'Describe the desktop',
  needs: [],
  facilities: [],
  description:
    'Names the desktop this server drives (the simulated one or a real display) and lists what works there: ' +
    'each facility available, unavailable on this desktop (with why) or not built yet.',
  input: {},
  annotations: READ,
  run(session) {
    return renderDesktop(session.desktop);
  },
};

module.exports = {
  READ_TOOLS: [listApps, listWindows, snapshot, waitFor, release, screenshotTool, checkPermissions, describeDesktop],
  DEFAULT_MAX_CHARS,
};
