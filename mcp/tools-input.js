'use strict';
// Keyboard, scroll and drag input, and application launch, activation and
// termination. Input tools report what followed in the target application's
// window (observe.js): the pid's, or the frontmost application's.
const { z } = require('zod');
const { quote, answer } = require('./render');
const { refuse } = require('./session');
const { act, targetOf, sleep } = require('./observe');
const { chordAdvice, unknownKeys } = require('./keys');
const { pid, windowId, bundleId, waitMs, expectedBundle, windowNeedsPid, callChecked, ACT } = require('./common');

const MOUSE_FALSE_HINT =
  'focus-steal prevention may be on, accessibility may not be trusted, or another mouse operation holds the button';
// The add-on's focus guard restores the user's foreground this long after a
// background press; activate_app reads the frontmost application after it.
const FOCUS_GUARD_MS = 350;
const ACTIVATE_SETTLE_MS = FOCUS_GUARD_MS + 100;

// Who receives input without a pid: the frontmost application.
const frontPid = (session) => {
  const f = session.frontmost();
  return f ? f.pid : 0;
};

// A refused verified keyboard call, worded with a next step. The add-on
// answers "rejected" for several causes; the checks below tell them apart.
function keyboardError(session, exportName, outcome, args, expected) {
  const { addon } = session;
  const why = outcome ? outcome.error : 'nothing';
  const tool = args.keys !== undefined ? 'press_key' : 'type_text';
  if (why === 'rejected' || why === 'invalid_target') {
    const info = addon.applicationInfo(args.pid);
    if (!info) return `${exportName} answered ${why}: pid ${args.pid} is not running (see list_apps).`;
    if (expected && String(info.bundle_id || '').toLowerCase() !== expected.toLowerCase()) {
      return answer([`${exportName} answered ${why}: pid ${args.pid} is not running as ${quote(expected)} ` +
        '(what it runs as is below; see list_apps).'], [`running as: ${quote(info.bundle_id ?? '')}`]);
    }
  }
  if (why === 'rejected' && !addon.isTrusted()) {
    return `${exportName} answered rejected: accessibility is not trusted (see check_permissions).`;
  }
  if (why === 'invalid_key_chord' || (why === 'rejected' && args.keys !== undefined && unknownKeys(args.keys).length)) {
    return `${exportName} answered ${why}: nothing was pressed. ${chordAdvice(args.keys)}`;
  }
  if (why === 'rejected') {
    return `${exportName} answered rejected: the keys could not be delivered to pid ${args.pid} on this desktop` +
      `${args.keys !== undefined ? ` (or the chord has more than one non-modifier key)` : ''}. activate_app pid ` +
      `${args.pid}, then call ${tool} without pid (it goes to the frontmost application).`;
  }
  return `${exportName} failed: the add-on answered ${why}.`;
}

// A keyboard tool's run: through the system without pid, else the verified
// per-process export; reported on the receiving application's window.
async function keyboardInput(session, args, global, verified) {
  windowNeedsPid(args);
  const { addon } = session;
  const target = await targetOf(session, args.pid ?? frontPid(session), args.window_id ?? null);
  return act(session, target, async () => {
    if (args.pid === undefined) {
      return global.call() ? { ok: true, said: `${global.said} (${global.name})` } : { ok: false, error: global.error };
    }
    const expected = expectedBundle(addon, args.pid, args.bundle_id);
    const outcome = await verified.call(expected);
    return outcome && outcome.ok ? { ok: true, said: `${verified.said} in pid ${args.pid} (${verified.name})` }
      : { ok: false, error: keyboardError(session, verified.name, outcome, args, expected) };
  }, { waitMs: args.wait_ms });
}

// A mouse tool's run: through the system without pid, else into the pid.
async function mouseInput(session, args, exportName, post, said, failed) {
  const target = await targetOf(session, args.pid ?? frontPid(session));
  return act(session, target, async () => {
    const ok = await callChecked(exportName, post);
    return ok ? { ok: true, said: `${said}${args.pid === undefined ? '' : ` in pid ${args.pid}`} (${exportName})` }
      : { ok: false, error: `${exportName} answered false: ${failed} (${MOUSE_FALSE_HINT}).` };
  }, { waitMs: args.wait_ms });
}

const typeText = {
  name: 'type_text',
  title: 'Type text',
  needs: ['typeTextToPidVerified', 'typeTextGlobal', 'applicationInfo', 'isTrusted'],
  facilities: ['global_keyboard'],
  pidFacilities: ['keyboard_to_process'],
  description:
    'Types text: with pid into that application without activating it (window_id: to that window, in the ' +
    'background), else to the frontmost application. Reports what followed in that window.',
  input: { text: z.string(), pid: pid.optional(), window_id: windowId.optional(), bundle_id: bundleId.optional(), wait_ms: waitMs },
  annotations: ACT,
  run(session, args) {
    const { addon } = session;
    return keyboardInput(session, args, {
      name: 'typeTextGlobal',
      call: () => addon.typeTextGlobal(args.text),
      said: 'typed the text to the frontmost application',
      error: 'typeTextGlobal answered false: nothing was typed (focus-steal prevention may be on, or accessibility is not trusted).',
    }, {
      name: 'typeTextToPidVerified',
      call: (expected) => addon.typeTextToPidVerified(args.pid, expected, args.text, args.window_id ?? null),
      said: 'typed the text',
    });
  },
};

const pressKey = {
  name: 'press_key',
  title: 'Press a key chord',
  needs: ['pressKeyToPidVerified', 'pressKeyGlobal', 'applicationInfo', 'isTrusted'],
  facilities: ['global_keyboard'],
  pidFacilities: ['keyboard_to_process'],
  description:
    'Presses a key chord such as "cmd+s", "shift+tab", "ctrl+a" or "return": with pid to that application ' +
    '(window_id: to that window), else to the frontmost application. Names: command/cmd, shift, ctrl, ' +
    'alt/option, enter/return, tab, space, backspace/delete, forwarddelete, esc, home, end, pageup, ' +
    'pagedown, left, right, up, down, f1..f16, letters, digits, punctuation.',
  input: {
    keys: z.string().describe('key names joined by "+"'),
    pid: pid.optional(),
    window_id: windowId.optional(),
    bundle_id: bundleId.optional(),
    wait_ms: waitMs,
  },
  annotations: ACT,
  run(session, args) {
    const { addon } = session;
    return keyboardInput(session, args, {
      name: 'pressKeyGlobal',
      call: () => addon.pressKeyGlobal(args.keys),
      said: `pressed ${args.keys} in the frontmost application`,
      error: `pressKeyGlobal(${quote(args.keys)}) answered false: nothing was pressed. ${chordAdvice(args.keys)}`,
    }, {
      name: 'pressKeyToPidVerified',
      call: (expected) => addon.pressKeyToPidVerified(args.pid, expected, args.keys, args.window_id ?? null),
      said: `pressed ${args.keys}`,
    });
  },
};

const scroll = {
  name: 'scroll',
  title: 'Scroll',
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
    wait_ms: waitMs,
  },
  annotations: ACT,
  run(session, args) {
    const { addon } = session;
    return mouseInput(session, args, args.pid === undefined ? 'scrollAt' : 'scrollToPid',
      () => (args.pid === undefined
        ? addon.scrollAt(args.x, args.y, args.delta, args.direction)
        : addon.scrollToPid(args.pid, args.x, args.y, args.delta, args.direction)),
      `scrolled ${args.direction} by ${args.delta} at (${args.x}, ${args.y})`, 'nothing was scrolled');
  },
};

const drag = {
  name: 'drag',
  title: 'Drag',
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
    wait_ms: waitMs,
  },
  annotations: ACT,
  run(session, args) {
    const { addon } = session;
    const button = args.button ?? 'left';
    return mouseInput(session, args, args.pid === undefined ? 'dragAsync' : 'dragToPid',
      () => (args.pid === undefined
        ? addon.dragAsync(args.from_x, args.from_y, args.to_x, args.to_y, button, args.modifiers)
        : addon.dragToPid(args.pid, args.from_x, args.from_y, args.to_x, args.to_y, button, args.modifiers)),
      `dragged ${button} from (${args.from_x}, ${args.from_y}) to (${args.to_x}, ${args.to_y})`, 'the drag did not complete');
  },
};

const launchApp = {
  name: 'launch_app',
  title: 'Launch an application',
  needs: ['openApplicationInBackgroundAsync'],
  facilities: ['applications'],
  description: 'Opens an installed application in the background (by bundle id or name) and answers its pid.',
  input: { bundle_id: z.string().optional(), name: z.string().optional() },
  annotations: { ...ACT, openWorldHint: true },
  async run(session, args) {
    if (args.bundle_id === undefined && args.name === undefined) refuse('launch_app needs bundle_id or name.');
    const result = await session.addon.openApplicationInBackgroundAsync(args.bundle_id ?? null, args.name ?? null);
    if (typeof result === 'number') return `launched: pid ${result}.`;
    if (result === true) return 'launched (the add-on reported no pid; see list_apps).';
    return refuse('openApplicationInBackgroundAsync answered false: nothing was launched (see list_apps for what runs).');
  },
};

const activateApp = {
  name: 'activate_app',
  title: 'Bring an application to the front',
  needs: ['activateApplication', 'activateWindow', 'applicationInfo', 'listApplications'],
  facilities: ['applications'],
  description:
    `Brings an application to the front (window_id: that window of it), then reads the frontmost application ` +
    `${ACTIVATE_SETTLE_MS} ms later, after the window in which a recent background press may restore the ` +
    "user's foreground; it is an error when another application is frontmost then.",
  input: { pid, window_id: windowId.optional(), bundle_id: bundleId.optional() },
  annotations: ACT,
  async run(session, args) {
    const { addon } = session;
    const exportName = args.window_id === undefined ? 'activateApplication' : 'activateWindow';
    const result = callChecked(exportName, () => (args.window_id === undefined
      ? addon.activateApplication(args.pid)
      : addon.activateWindow(args.pid, expectedBundle(addon, args.pid, args.bundle_id), args.window_id)));
    if (result !== true) {
      refuse(`${exportName} answered ${result}: pid ${args.pid} was not activated` +
        (addon.isFocusStealPrevented && addon.isFocusStealPrevented() ? ' (focus-steal prevention is on).' : '.'));
    }
    await sleep(ACTIVATE_SETTLE_MS);
    const front = session.frontmost();
    if (!front || front.pid !== args.pid) {
      refuse(`${exportName} answered true, but ${ACTIVATE_SETTLE_MS} ms later the frontmost application is ` +
        `${front ? `pid ${front.pid}` : 'none'}, not pid ${args.pid} (a focus guard or the user took it back). ` +
        'Call activate_app again.');
    }
    return `frontmost after ${ACTIVATE_SETTLE_MS} ms: pid ${args.pid} (${exportName} answered true).`;
  },
};

const quitApp = {
  name: 'quit_app',
  title: 'Quit an application',
  needs: ['terminateApplicationVerified', 'applicationInfo'],
  facilities: ['applications'],
  description:
    'Terminates an application (unsaved work in it may be lost). Needs confirm:true, given only when the ' +
    'user asked for it.',
  input: { pid, bundle_id: bundleId.optional(), confirm: z.literal(true).describe('true: the user asked to quit it') },
  annotations: { readOnlyHint: false, destructiveHint: true, openWorldHint: false },
  async run(session, args) {
    const { addon } = session;
    const ok = addon.terminateApplicationVerified(args.pid, expectedBundle(addon, args.pid, args.bundle_id));
    if (!ok) refuse(`terminateApplicationVerified answered false: pid ${args.pid} was not terminated (not running as that application, or it refused).`);
    for (let i = 0; i < 20 && addon.applicationInfo(args.pid); i++) await sleep(50);
    const gone = !addon.applicationInfo(args.pid);
    if (gone) session.refs.retirePid(args.pid, `its application (pid ${args.pid}) quit`);
    return gone ? `terminated pid ${args.pid}: it is no longer running.`
      : `asked pid ${args.pid} to terminate; it is still running after 1 s (see list_apps).`;
  },
};

module.exports = { INPUT_TOOLS: [typeText, pressKey, scroll, drag, launchApp, activateApp, quitApp], FOCUS_GUARD_MS };
