'use strict';
// Which tools of the table the server offers: those with a handler whose
// needed exports are all built and whose facilities the desktop has, and
// registering them on an McpServer.
const { z } = require('zod');

// An export that is not built throws "<name> is not implemented yet" on every
// call. A built one called with no arguments only answers its argument error
// (TypeError, false, null or a promise of null), so a call with no arguments
// tells the two apart without acting on the desktop. Every export a tool
// needs must keep that property: none may take no arguments and act.
function isBuilt(addon, name) {
  if (typeof addon[name] !== 'function') return false;
  try {
    const r = addon[name]();
    if (r && typeof r.then === 'function') r.then(() => {}, () => {});
    return true;
  } catch (err) {
    return !(err && err.message === `${name} is not implemented yet`);
  }
}

// The facilities of `names` the desktop lacks, each with its status and reason.
function lacking(desktop, names) {
  return names
    .map((n) => ({ name: n, ...(desktop.capabilities[n] || { status: 'not_built', reason: 'unknown facility' }) }))
    .filter((c) => c.status !== 'available');
}

// Splits the table into the tools offered and the ones waiting, with the
// exports each waiting tool still lacks (or that it lacks a handler), and
// the tools the desktop cannot serve, with the facilities it lacks.
function selectTools(addon, tools, desktop = require('../platform').describe()) {
  const built = new Map();
  const builtNow = (name) => {
    if (!built.has(name)) built.set(name, isBuilt(addon, name));
    return built.get(name);
  };
  const offered = [];
  const waiting = [];
  const unserved = [];
  for (const tool of tools) {
    const missing = tool.needs.filter((n) => !builtNow(n));
    const absent = lacking(desktop, tool.facilities || []);
    if (missing.length !== 0 || !tool.run) waiting.push({ name: tool.name, missing, handler: !!tool.run });
    else if (absent.length !== 0) unserved.push({ name: tool.name, facilities: absent });
    else offered.push(tool);
  }
  return { offered, waiting, unserved };
}

// A tool's pid form on a desktop that lacks one of its facilities: refused
// before any call, with the reason and the form that does work.
function pidFormRefusal(tool, args, desktop) {
  if (args.pid === undefined || !tool.pidFacilities) return null;
  const absent = lacking(desktop, tool.pidFacilities);
  if (absent.length === 0) return null;
  const why = absent.map((c) => `${c.name} is ${c.status.replace('_', ' ')} on ${desktop.backend}` +
    (c.reason ? ` (${c.reason})` : '')).join('; ');
  return `${tool.name} with a pid cannot work on this desktop: ${why}. ` +
    'Leave out pid to act through the system on the frontmost application (activate_app first).';
}

function toContent(result) {
  return { content: typeof result === 'string' ? [{ type: 'text', text: result }] : result };
}

const { Session, ToolRefusal } = require('./session');

// Registers the offered tools; unknown input keys are schema errors, so a
// misspelt argument is reported instead of silently ignored.
function registerTools(server, addon, tools, desktop) {
  const session = new Session(addon, desktop);
  for (const tool of tools) {
    server.registerTool(
      tool.name,
      {
        title: tool.title,
        description: tool.description,
        inputSchema: z.object(tool.input).strict(),
        annotations: { title: tool.title, ...tool.annotations },
      },
      async (args) => {
        const refusal = pidFormRefusal(tool, args, desktop);
        if (refusal) return { content: [{ type: 'text', text: refusal }], isError: true };
        try {
          return toContent(await tool.run(session, args));
        } catch (err) {
          if (err instanceof ToolRefusal) return { content: [{ type: 'text', text: err.message }], isError: true };
          throw err;
        }
      }
    );
  }
}

module.exports = { isBuilt, selectTools, registerTools, pidFormRefusal };
