'use strict';
// The tool table: each tool names the add-on exports it calls (`needs`), the
// desktop facilities it cannot work without (`facilities`) and those its pid
// form needs on top (`pidFacilities`), its input schema and a handler that
// calls those exports and renders their answer. The server registers a tool
// only when every export it needs is built and every facility is available on
// the desktop it drives (require('automation-addon/platform')); a pid form
// whose facility is missing is refused with the reason before any call.
//
// Handlers decide nothing the add-on decides: argument limits, key names,
// token validity and every refusal come from the add-on's own answers, which
// are passed on with the export's name so the agent can tell what said no.
const { z } = require('zod');
const { quote, answer, rect, flags, renderSnapshot, renderDesktop } = require('./render');

const DEFAULT_MAX_CHARS = 16000;

// A refusal or failure: the SDK returns it to the agent as a tool error.
class ToolRefusal extends Error {}
const refuse = (message) => {
  throw new ToolRefusal(message);
};

const pid = z.number().int().describe('process id, from list_apps');
const windowId = z.number().int().describe('window id, from list_windows or snapshot');
const bundleId = z
  .string()
  .describe('the bundle id the process must still have (from list_apps); looked up from pid when left out');
const ref = z.string().min(1).describe('an element ref such as "axh-12" from the latest snapshot');

// The expected bundle id of a pid for the add-on's verified forms: the one the
// agent gave, else the one the add-on reports for the pid now.
function expectedBundle(addon, forPid, given) {
  if (given !== undefined) return given;
  const info = addon.applicationInfo(forPid);
  return (info && info.bundle_id) || '';
}

// An AxOutcome of an element export, as an answer or a refusal.
function elementOutcome(outcome, exportName, elementRef, done) {
  if (outcome && outcome.ok) return done;
  const why = outcome ? outcome.axError : 'no answer';
  if (why === 'invalid_element') {
    refuse(
      `${elementRef} refused: ${exportName} answered invalid_element. The ref is not live: it belongs to a ` +
        'released or superseded snapshot, or its element is gone. Take a new snapshot and use its refs.'
    );
  }
  refuse(`${exportName} on ${elementRef} failed: the add-on answered ${why}.`);
}

// A KeyboardInputOutcome of a verified per-process export.
function inputOutcome(outcome, exportName, done) {
  if (outcome && outcome.ok) return done;
  refuse(`${exportName} failed: the add-on answered ${outcome ? outcome.error : 'nothing'}.`);
}

// The add-on's own argument errors (TypeErrors) become refusals that quote it.
function callMouse(exportName, fn) {
  try {
    return fn();
  } catch (err) {
    return refuse(`${exportName} refused the arguments: ${err.message}`);
  }
}
const MOUSE_FALSE_HINT =
  'focus-steal prevention may be on, accessibility may not be trusted, or another mouse operation holds the button';

const windowNeedsPid = (args) => {
  if (args.window_id !== undefined && args.pid === undefined) refuse('window_id needs the pid that owns the window.');
};

const TOOLS = [
  {
    name: 'list_apps',
    needs: ['listApplications'],
    facilities: ['applications'],
    description: 'Lists the running applications: pid, bundle id, name, and which one is active (frontmost).',
    input: {},
    annotations: { readOnlyHint: true },
    run(addon) {
      const apps = addon.listApplications();
      return answer(
        [`${apps.length} applications (pid, bundle id, name):`],
        apps.map((a) => `${a.pid} ${quote(a.bundle_id ?? '')} ${quote(a.name ?? '')}${a.active ? ' (active)' : ''}`)
      );
    },
  },
  {
    name: 'list_windows',
    needs: ['listWindows', 'screenCaptureProbeWindows'],
    facilities: ['window_list'],
    description:
      "Lists one application's windows (with pid: accessibility windows with title, bounds, main/focused) " +
      'or, without pid, every on-screen window of every application with its owner.',
    input: { pid: pid.optional() },
    annotations: { readOnlyHint: true },
    run(addon, { pid: forPid }) {
      if (forPid === undefined) {
        const list = addon.screenCaptureProbeWindows();
        return answer(
          [`${list.length} on-screen windows (window id, owner pid, owner, title, bounds):`],
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
  },
  {
    name: 'snapshot',
    needs: ['captureAppAsync', 'ackCaptureEpoch'],
    facilities: ['accessibility'],
    description:
      "Captures one application's accessibility tree (its focused window, or window_id) as indented lines: " +
      'ref, role, title, value and flags per element. Act on elements by their ref. The text is cut at ' +
      'max_chars with a "truncated" marker; raw:true adds the snapshot as JSON.',
    input: {
      pid,
      window_id: windowId.optional(),
      bundle_id: bundleId.optional(),
      max_chars: z.number().int().positive().optional().describe(`output budget, default ${DEFAULT_MAX_CHARS}`),
      raw: z.boolean().optional().describe('also return the snapshot as JSON'),
    },
    annotations: { readOnlyHint: true },
    async run(addon, args) {
      const snap = await addon.captureAppAsync(args.pid, args.bundle_id ?? null, args.window_id ?? null);
      if (!snap) {
        refuse(
          `captureAppAsync(${args.pid}) answered null: the process is gone, not an application the add-on can ` +
            'read, or accessibility is not permitted (see check_permissions).'
        );
      }
      addon.ackCaptureEpoch(args.pid, snap.capture_epoch);
      return renderSnapshot(snap, { maxChars: args.max_chars ?? DEFAULT_MAX_CHARS, raw: !!args.raw });
    },
  },
  {
    name: 'release',
    needs: ['releaseCaptureEpoch'],
    facilities: ['accessibility'],
    description: "Releases a snapshot (pid and epoch from its header): its refs stop working and the add-on's hold on its elements ends.",
    input: { pid, epoch: z.number().int().describe('the snapshot epoch') },
    annotations: { idempotentHint: true },
    run(addon, args) {
      if (!addon.releaseCaptureEpoch(args.pid, args.epoch)) {
        refuse(`releaseCaptureEpoch(${args.pid}, ${args.epoch}) answered false: not a pid and epoch it accepts.`);
      }
      return `released epoch ${args.epoch} of pid ${args.pid}; its refs are no longer valid.`;
    },
  },
  {
    name: 'click',
    needs: ['performAction', 'clickElementAtPoint'],
    facilities: ['element_actions'],
    description:
      'Clicks an element: by ref (its press action), or by screen point x/y (the element there is pressed; ' +
      'count 1..3, pid: the application expected there).',
    input: {
      ref: ref.optional(),
      x: z.number().optional(),
      y: z.number().optional(),
      count: z.number().int().optional().describe('clicks at the point, default 1'),
      pid: pid.optional().describe('the application that must own the element at x/y'),
    },
    run(addon, args) {
      const point = args.x !== undefined || args.y !== undefined;
      if ((args.ref !== undefined) === point || (point && (args.x === undefined || args.y === undefined))) {
        refuse('click takes either ref, or both x and y.');
      }
      if (args.ref !== undefined) {
        const outcome = addon.performAction(args.ref, 'AXPress');
        return elementOutcome(outcome, 'performAction', args.ref, `pressed ${args.ref}.`);
      }
      const result = addon.clickElementAtPoint(args.x, args.y, args.count ?? 1, false, undefined, args.pid);
      if (!result || !result.ok) {
        refuse(`clickElementAtPoint(${args.x}, ${args.y}) failed: the add-on answered ${result ? result.method : 'null'}.`);
      }
      return `clicked the element at (${args.x}, ${args.y}) in pid ${result.pid} (${result.method}).`;
    },
  },
  {
    name: 'set_value',
    needs: ['setValue'],
    facilities: ['element_actions'],
    description: "Sets an element's value (a text field's text, for instance) by ref.",
    input: { ref, value: z.string() },
    run(addon, args) {
      return elementOutcome(addon.setValue(args.ref, args.value), 'setValue', args.ref, `set the value of ${args.ref}.`);
    },
  },
  {
    name: 'type_text',
    needs: ['typeTextToPidVerified', 'typeTextGlobal', 'applicationInfo'],
    facilities: ['global_keyboard'],
    pidFacilities: ['keyboard_to_process'],
    description:
      'Types text: with pid into that application without activating it (window_id: to that window, in the ' +
      'background), else to the frontmost application.',
    input: { text: z.string(), pid: pid.optional(), window_id: windowId.optional(), bundle_id: bundleId.optional() },
    async run(addon, args) {
      windowNeedsPid(args);
      if (args.pid === undefined) {
        if (!addon.typeTextGlobal(args.text)) refuse('typeTextGlobal answered false: the text was not typed.');
        return 'typed the text to the frontmost application.';
      }
      const outcome = await addon.typeTextToPidVerified(
        args.pid, expectedBundle(addon, args.pid, args.bundle_id), args.text, args.window_id ?? null);
      return inputOutcome(outcome, 'typeTextToPidVerified', `typed the text into pid ${args.pid}.`);
    },
  },
  {
    name: 'press_key',
    needs: ['pressKeyToPidVerified', 'pressKeyGlobal', 'applicationInfo'],
    facilities: ['global_keyboard'],
    pidFacilities: ['keyboard_to_process'],
    description:
      'Presses a key chord such as "cmd+s", "shift+tab" or "return": with pid to that application ' +
      '(window_id: to that window), else to the frontmost application.',
    input: {
      keys: z.string().describe('key names joined by "+"'),
      pid: pid.optional(),
      window_id: windowId.optional(),
      bundle_id: bundleId.optional(),
    },
    async run(addon, args) {
      windowNeedsPid(args);
      if (args.pid === undefined) {
        if (!addon.pressKeyGlobal(args.keys)) refuse(`pressKeyGlobal(${quote(args.keys)}) answered false.`);
        return `pressed ${args.keys} in the frontmost application.`;
      }
      const outcome = await addon.pressKeyToPidVerified(
        args.pid, expectedBundle(addon, args.pid, args.bundle_id), args.keys, args.window_id ?? null);
      return inputOutcome(outcome, 'pressKeyToPidVerified', `pressed ${args.keys} in pid ${args.pid}.`);
    },
  },
  {
    name: 'screenshot',
    needs: ['captureWindowImage', 'captureWindowImageVerifiedAsync', 'applicationInfo'],
    facilities: ['window_images'],
    pidFacilities: ['capture_streams'],
    description:
      'Captures a window as an image. With pid the window must belong to that application (and its bounds on ' +
      'screen are reported).',
    input: {
      window_id: windowId,
      pid: pid.optional(),
      bundle_id: bundleId.optional(),
      format: z.enum(['png', 'jpeg']).optional().describe('default png'),
    },
    annotations: { readOnlyHint: true },
    async run(addon, args) {
      const format = args.format ?? 'png';
      const image =
        args.pid === undefined
          ? addon.captureWindowImage(args.window_id, format)
          : await addon.captureWindowImageVerifiedAsync(
            args.window_id, args.pid, expectedBundle(addon, args.pid, args.bundle_id), format);
      if (!image) {
        refuse(
          `no image of window ${args.window_id}: the add-on answered null (the window is unknown or gone, is not ` +
            "that pid's, or screen recording is not permitted: see check_permissions)."
        );
      }
      const where = image.bounds ? ` at ${rect(image.bounds)}` : '';
      return [
        { type: 'image', data: image.data, mimeType: image.format === 'jpeg' ? 'image/jpeg' : 'image/png' },
        { type: 'text', text: `window ${args.window_id}${where}, ${image.format}.` },
      ];
    },
  },
  {
    name: 'launch_app',
    needs: ['openApplicationInBackgroundAsync'],
    facilities: ['applications'],
    description: 'Opens an installed application in the background (by bundle id or name) and answers its pid.',
    input: { bundle_id: z.string().optional(), name: z.string().optional() },
    async run(addon, args) {
      if (args.bundle_id === undefined && args.name === undefined) refuse('launch_app needs bundle_id or name.');
      const result = await addon.openApplicationInBackgroundAsync(args.bundle_id ?? null, args.name ?? null);
      if (typeof result === 'number') return `launched: pid ${result}.`;
      if (result === true) return 'launched (the add-on reported no pid; see list_apps).';
      return refuse('openApplicationInBackgroundAsync answered false: nothing was launched.');
    },
  },
  {
    name: 'activate_app',
    needs: ['activateApplication', 'activateWindow', 'applicationInfo'],
    facilities: ['applications'],
    description: 'Brings an application to the front (window_id: that window of it).',
    input: { pid, window_id: windowId.optional(), bundle_id: bundleId.optional() },
    run(addon, args) {
      const result =
        args.window_id === undefined
          ? addon.activateApplication(args.pid)
          : addon.activateWindow(args.pid, expectedBundle(addon, args.pid, args.bundle_id), args.window_id);
      const exportName = args.window_id === undefined ? 'activateApplication' : 'activateWindow';
      if (result !== true) refuse(`${exportName} answered ${result}: pid ${args.pid} was not activated.`);
      return `${exportName} answered true: pid ${args.pid} was brought to the front.`;
    },
  },
  {
    name: 'check_permissions',
    needs: ['isTrusted', 'screenCaptureStatus'],
    facilities: [],
    description: 'Tells whether this process may use accessibility (snapshots, actions, input) and screen recording (screenshots).',
    input: {},
    annotations: { readOnlyHint: true },
    run(addon, args, desktop) {
      return `desktop: ${desktop.backend}; accessibility: ${addon.isTrusted() ? 'trusted' : 'not trusted'}; ` +
        `screen recording: ${addon.screenCaptureStatus()}. describe_desktop lists what works on this desktop.`;
    },
  },
  {
    name: 'describe_desktop',
    needs: [],
    facilities: [],
    description:
      'Names the desktop this server drives (the simulated one or a real display) and lists what works there: ' +
      'each facility available, unavailable on this desktop (with why) or not built yet.',
    input: {},
    annotations: { readOnlyHint: true },
    run(addon, args, desktop) {
      return renderDesktop(desktop);
    },
  },
  {
    name: 'scroll',
    needs: ['scrollAt', 'scrollToPid'],
    facilities: ['global_mouse'],
    pidFacilities: ['mouse_to_process'],
    description:
      'Scrolls at a screen point (global, top-left points) by 1 to 100 pixels: with pid inside that ' +
      'application without activating it or moving the pointer, else whatever is under the point.',
    input: {
      x: z.number(),
      y: z.number(),
      delta: z.number().int().describe('pixels, 1 to 100'),
      direction: z.enum(['up', 'down', 'left', 'right']),
      pid: pid.optional(),
    },
    run(addon, args) {
      const exportName = args.pid === undefined ? 'scrollAt' : 'scrollToPid';
      const ok = callMouse(exportName, () =>
        args.pid === undefined
          ? addon.scrollAt(args.x, args.y, args.delta, args.direction)
          : addon.scrollToPid(args.pid, args.x, args.y, args.delta, args.direction));
      if (!ok) refuse(`${exportName} answered false: nothing was scrolled (${MOUSE_FALSE_HINT}).`);
      return `scrolled ${args.direction} by ${args.delta} at (${args.x}, ${args.y})` +
        (args.pid === undefined ? '.' : ` in pid ${args.pid}.`);
    },
  },
  {
    name: 'drag',
    needs: ['dragAsync', 'dragToPid'],
    facilities: ['global_mouse'],
    pidFacilities: ['mouse_to_process'],
    description:
      'Drags with a mouse button from one screen point to another (global, top-left points), in ten steps: ' +
      'with pid inside that application without activating it, else through the system.',
    input: {
      from_x: z.number(),
      from_y: z.number(),
      to_x: z.number(),
      to_y: z.number(),
      button: z.enum(['left', 'right', 'middle']).optional().describe('default left'),
      modifiers: z.string().optional().describe('keys held during the drag, such as "shift" or "cmd+alt"'),
      pid: pid.optional(),
    },
    async run(addon, args) {
      const button = args.button ?? 'left';
      const exportName = args.pid === undefined ? 'dragAsync' : 'dragToPid';
      const ok = await callMouse(exportName, () =>
        args.pid === undefined
          ? addon.dragAsync(args.from_x, args.from_y, args.to_x, args.to_y, button, args.modifiers)
          : addon.dragToPid(args.pid, args.from_x, args.from_y, args.to_x, args.to_y, button, args.modifiers));
      if (!ok) refuse(`${exportName} answered false: the drag did not complete (${MOUSE_FALSE_HINT}).`);
      return `dragged ${button} from (${args.from_x}, ${args.from_y}) to (${args.to_x}, ${args.to_y})` +
        (args.pid === undefined ? '.' : ` in pid ${args.pid}.`);
    },
  },
];

module.exports = { TOOLS, ToolRefusal, DEFAULT_MAX_CHARS };
