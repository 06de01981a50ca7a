'use strict';
// Which tools of the table the server offers: those with a handler whose
// needed exports are all built, and registering them on an McpServer.
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

// Splits the table into the tools offered and the ones waiting, with the
// exports each waiting tool still lacks (or that it lacks a handler).
function selectTools(addon, tools) {
  const built = new Map();
  const builtNow = (name) => {
    if (!built.has(name)) built.set(name, isBuilt(addon, name));
    return built.get(name);
  };
  const offered = [];
  const waiting = [];
  for (const tool of tools) {
    const missing = tool.needs.filter((n) => !builtNow(n));
    if (missing.length === 0 && tool.run) offered.push(tool);
    else waiting.push({ name: tool.name, missing, handler: !!tool.run });
  }
  return { offered, waiting };
}

function toContent(result) {
  return { content: typeof result === 'string' ? [{ type: 'text', text: result }] : result };
}

// Registers the offered tools; unknown input keys are schema errors, so a
// misspelt argument is reported instead of silently ignored.
function registerTools(server, addon, tools) {
  for (const tool of tools) {
    server.registerTool(
      tool.name,
      {
        description: tool.description,
        inputSchema: z.object(tool.input).strict(),
        annotations: tool.annotations,
      },
      async (args) => toContent(await tool.run(addon, args))
    );
  }
}

module.exports = { isBuilt, selectTools, registerTools };
